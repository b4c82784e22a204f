#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace midifolio {
namespace detail {

namespace {

// Text for an errno value; a value the system has no text for still gets one.
std::string ErrnoText(int err) {
    const char* text = std::strerror(err);
    if (text == nullptr || *text == '\0') return "Unknown error " + std::to_string(err);
    return text;
}

// Largest piece read or written by one system call, and the growth step of ReadAppend.
constexpr size_t kIoStep = size_t{1} << 20;
// Bytes collected before the writer hands them to the system.
constexpr size_t kWriteBuffer = size_t{64} << 10;
// Read-ahead of the reader for small reads.
constexpr size_t kReadAhead = size_t{64} << 10;

}  // namespace

// ------------------------------------------------------------------------------ reader

FileReader::~FileReader() {
    Close();
}

bool FileReader::Open(const std::string& path) {
    Close();
    m_failed = false;
    m_sizeKnown = false;
    m_size = m_pos = 0;
    m_error.clear();
    m_ahead.clear();
    m_aheadPos = 0;
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        m_error = ErrnoText(errno);
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) == 0) {
        // A directory opens on this system but cannot be read as a file: refuse it here,
        // with the system's text, as an open of a directory fails elsewhere.
        if (S_ISDIR(st.st_mode)) {
            ::close(fd);
            m_error = ErrnoText(EISDIR);
            return false;
        }
        if (S_ISREG(st.st_mode)) {
            m_sizeKnown = true;
            m_size = static_cast<uint64_t>(st.st_size);
        }
    }
    m_fd = fd;
    return true;
}

void FileReader::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

size_t FileReader::ReadDirect(uint8_t* out, size_t n) {
    size_t got = 0;
    while (got < n) {
        ssize_t r = ::read(m_fd, out + got, std::min(n - got, kIoStep));
        if (r < 0) {
            if (errno == EINTR) continue;
            m_failed = true;
            m_error = ErrnoText(errno);
            break;
        }
        if (r == 0) break;
        got += static_cast<size_t>(r);
    }
    return got;
}

// Small reads (the chunk headers) are served from a read-ahead buffer, so a song of many
// short tracks costs few system calls; large reads go straight into the caller's memory.
size_t FileReader::Read(void* buffer, size_t n) {
    if (m_fd < 0) return 0;
    auto* out = static_cast<uint8_t*>(buffer);
    size_t got = std::min(n, m_ahead.size() - m_aheadPos);
    if (got != 0) std::memcpy(out, m_ahead.data() + m_aheadPos, got);
    m_aheadPos += got;
    if (got < n) {
        if (n - got >= kReadAhead) {
            got += ReadDirect(out + got, n - got);
        } else {
            m_ahead.resize(kReadAhead);
            const size_t filled = ReadDirect(m_ahead.data(), kReadAhead);
            m_ahead.resize(filled);
            const size_t take = std::min(n - got, filled);
            std::memcpy(out + got, m_ahead.data(), take);
            m_aheadPos = take;
            got += take;
        }
    }
    m_pos += got;
    return got;
}

bool FileReader::ReadAppend(std::vector<uint8_t>& out, uint64_t n) {
    while (n > 0) {
        size_t step = static_cast<size_t>(std::min<uint64_t>(n, kIoStep));
        size_t old = out.size();
        out.resize(old + step);
        size_t got = Read(out.data() + old, step);
        out.resize(old + got);
        if (got < step) return false;
        n -= step;
    }
    return true;
}

bool FileReader::Remaining(uint64_t& remaining) const {
    if (!m_sizeKnown) return false;
    remaining = m_pos < m_size ? m_size - m_pos : 0;
    return true;
}

// ------------------------------------------------------------------------------ writer

FileWriter::~FileWriter() {
    Discard();
}

void FileWriter::Fail(int err) {
    if (!m_failed) m_error = ErrnoText(err);
    m_failed = true;
}

bool FileWriter::Open(const std::string& path) {
    Discard();
    m_failed = m_direct = m_keepMode = false;
    m_error.clear();
    m_buffer.clear();
    if (path.empty()) {
        Fail(ENOENT);
        return false;
    }

    // Write through a symbolic link to the file it names, so the link stays a link.
    m_target = path;
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* resolved = ::realpath(path.c_str(), nullptr)) {
            m_target = resolved;
            std::free(resolved);
        }
    }

    if (::stat(m_target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            Fail(EISDIR);
            return false;
        }
        if (::access(m_target.c_str(), W_OK) != 0) {
            Fail(errno);
            return false;
        }
        if (!S_ISREG(st.st_mode)) {
            // A device or a pipe cannot be replaced by a rename: write to it directly.
            int fd;
            do {
                fd = ::open(m_target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            } while (fd < 0 && errno == EINTR);
            if (fd < 0) {
                Fail(errno);
                return false;
            }
            m_fd = fd;
            m_direct = true;
            return true;
        }
        m_keepMode = true;
        m_mode = st.st_mode & 07777;
        m_uid = st.st_uid;
        m_gid = st.st_gid;
    }

    // The temporary file lives beside the target, so the final rename stays within one
    // file system and replaces the target in one step.
    std::string dir, base;
    size_t slash = m_target.rfind('/');
    if (slash == std::string::npos) {
        dir = ".";
        base = m_target;
    } else {
        dir = slash == 0 ? "/" : m_target.substr(0, slash);
        base = m_target.substr(slash + 1);
    }
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temp = dir + (dir == "/" ? "" : "/") + "." + base + ".tmp" +
                           std::to_string(::getpid()) + "_" + std::to_string(counter++);
        // Mode 0666 lets the process umask decide the bits of a new file.
        int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            m_fd = fd;
            m_temp = temp;
            // Keep the owner where the system lets us (a superuser replacing a user's
            // file); the permission bits are kept in any case.
            if (m_keepMode &&
                ::fchown(fd, static_cast<uid_t>(m_uid), static_cast<gid_t>(m_gid)) != 0) {
                // Not permitted: the new file keeps our owner.
            }
            if (m_keepMode && ::fchmod(fd, static_cast<mode_t>(m_mode)) != 0) {
                Fail(errno);
                Discard();
                return false;
            }
            return true;
        }
        if (errno != EEXIST && errno != EINTR) {
            Fail(errno);
            return false;
        }
    }
    Fail(EEXIST);
    return false;
}

bool FileWriter::WriteOut(const uint8_t* data, size_t n) {
    size_t done = 0;
    while (!m_failed && done < n) {
        ssize_t w = ::write(m_fd, data + done, std::min(n - done, kIoStep));
        if (w < 0) {
            if (errno == EINTR) continue;
            Fail(errno);
        } else if (w == 0) {
            Fail(EIO);
        } else {
            done += static_cast<size_t>(w);
        }
    }
    return !m_failed;
}

bool FileWriter::Flush() {
    WriteOut(m_buffer.data(), m_buffer.size());
    m_buffer.clear();
    return !m_failed;
}

void FileWriter::Write(const void* data, size_t n) {
    if (m_fd < 0 || m_failed || n == 0) return;
    const auto* p = static_cast<const uint8_t*>(data);
    if (n >= kWriteBuffer) {
        // A large piece goes to the system as it is, after what was collected before it.
        if (Flush()) WriteOut(p, n);
        return;
    }
    m_buffer.insert(m_buffer.end(), p, p + n);
    if (m_buffer.size() >= kWriteBuffer) Flush();
}

bool FileWriter::Commit() {
    if (m_fd < 0) return false;
    Flush();
    // When an existing file is replaced, its new content reaches the disk before the
    // rename, so a crash right after it cannot leave an empty file where the old one was.
    // A new file has nothing to lose and skips the (slow) sync.
    if (!m_failed && !m_direct && m_keepMode && ::fsync(m_fd) != 0) Fail(errno);
    int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0 && !m_failed) Fail(errno);
    if (m_failed) {
        Discard();
        return false;
    }
    if (!m_direct) {
        if (::rename(m_temp.c_str(), m_target.c_str()) != 0) {
            Fail(errno);
            Discard();
            return false;
        }
        m_temp.clear();
    }
    return true;
}

void FileWriter::Discard() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    if (!m_temp.empty()) ::unlink(m_temp.c_str());
    m_temp.clear();
    m_buffer.clear();
}

}  // namespace detail
}  // namespace midifolio
