#include "platform/file_io.h"

#include <fcntl.h>
#include <linux/falloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "midifolio/file_output.h"
#include "platform/page_memory.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace platform_detail {

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
    m_errno = 0;
    m_ahead.clear();
    m_aheadPos = 0;
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        m_errno = errno;
        m_error = ErrnoText(errno);
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) == 0) {
        // A directory opens on this system but cannot be read as a file: refuse it here,
        // with the system's text, as an open of a directory fails elsewhere.
        if (S_ISDIR(st.st_mode)) {
            ::close(fd);
            m_errno = EISDIR;
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

void FileReader::OpenMemory(const uint8_t* data, size_t size) {
    Close();
    m_failed = false;
    m_error.clear();
    m_errno = 0;
    m_ahead.clear();
    m_aheadPos = 0;
    m_mem = data != nullptr ? data : reinterpret_cast<const uint8_t*>("");
    m_sizeKnown = true;
    m_size = size;
    m_pos = 0;
}

void FileReader::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_mem = nullptr;
}

size_t FileReader::ReadDirect(uint8_t* out, size_t n) {
    size_t got = 0;
    while (got < n) {
        ssize_t r = ::read(m_fd, out + got, std::min(n - got, kIoStep));
        if (r < 0) {
            if (errno == EINTR) continue;
            m_failed = true;
            m_errno = errno;
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
    return ReadInto(static_cast<uint8_t*>(buffer), n, false);
}

size_t FileReader::ReadInto(uint8_t* out, size_t n, bool straight) {
    if (m_mem != nullptr) {
        const size_t got = static_cast<size_t>(std::min<uint64_t>(n, m_size - m_pos));
        if (got != 0) std::memcpy(out, m_mem + m_pos, got);
        m_pos += got;
        return got;
    }
    if (m_fd < 0) return 0;
    size_t got = std::min(n, m_ahead.size() - m_aheadPos);
    if (got != 0) std::memcpy(out, m_ahead.data() + m_aheadPos, got);
    m_aheadPos += got;
    if (got < n) {
        if (straight || n - got >= kReadAhead) {
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

bool FileReader::ReadAll(std::vector<uint8_t>& out, uint64_t limit, ProgressObserver* progress) {
    out.clear();
    uint64_t size = 0;
    const bool sized = Remaining(size);
    if (sized) {
        // A regular file: one buffer of its size (it may still grow or shrink meanwhile).
        if (size > limit) return false;
        out.reserve(static_cast<size_t>(size) + 1);
        AdviseHugePages(out);  // a large file: hundreds of page faults fewer per megabyte
    }
    // In steps of a megabyte, never past the limit: a pipe grows the buffer as bytes arrive.
    // A regular file's steps end at its size and one byte more (which tells that it grew),
    // so that a small file takes a buffer of its own size, not a cleared megabyte.
    for (;;) {
        const size_t old = out.size();
        const uint64_t expected = sized && old <= size ? size + 1 - old : kIoStep;
        const size_t step =
            static_cast<size_t>(std::min<uint64_t>({kIoStep, expected, limit + 1 - old}));
        out.resize(old + step);
        // (Straight into the buffer: a small file's bytes are not read ahead into another.)
        const size_t got = ReadInto(out.data() + old, step, true);
        out.resize(old + got);
        if (Failed()) return false;
        if (out.size() > limit) return false;
        if (progress != nullptr) progress->SetBytes(out.size(), sized ? size : 0);
        if (got < step) return true;
    }
}

bool FileReader::Skip(uint64_t n) {
    if (m_mem != nullptr) {
        if (n > m_size - m_pos) return false;
        m_pos += n;
        return true;
    }
    if (m_fd < 0) return false;
    const uint64_t ahead = std::min<uint64_t>(n, m_ahead.size() - m_aheadPos);
    m_aheadPos += static_cast<size_t>(ahead);
    m_pos += ahead;
    n -= ahead;
    if (n == 0) return true;
    if (m_sizeKnown) {
        if (n > m_size - std::min(m_pos, m_size)) return false;
        if (::lseek(m_fd, static_cast<off_t>(n), SEEK_CUR) < 0) return false;
        m_pos += n;
        return true;
    }
    uint8_t scratch[4096];
    while (n > 0) {
        const size_t step = static_cast<size_t>(std::min<uint64_t>(n, sizeof scratch));
        if (Read(scratch, step) < step) return false;
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

namespace {

// Longest file name the system takes (the usual limit of Linux file systems).
constexpr size_t kNameMax = NAME_MAX;

// The directory and the file name of a path.
void SplitPath(const std::string& path, std::string& dir, std::string& base) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        dir = ".";
        base = path;
    } else {
        dir = slash == 0 ? "/" : path.substr(0, slash);
        base = path.substr(slash + 1);
    }
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    return dir + (dir == "/" ? "" : "/") + name;
}

// A name for a temporary file beside the target: "." + the target's name + a suffix that is
// different for every writer and attempt, cut so that it stays within the system's limit
// on file names. Made from the process id, the writer's address, the clock and the attempt,
// so no state is shared between writers.
std::string TempName(const std::string& base, const void* writer, int attempt) {
    uint64_t mix = static_cast<uint64_t>(::getpid()) * 0x9E3779B97F4A7C15ull;
    mix ^= static_cast<uint64_t>(reinterpret_cast<uintptr_t>(writer));
    mix ^= static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) *
           0xBF58476D1CE4E5B9ull;
    mix ^= static_cast<uint64_t>(attempt) << 56;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%016llx.tmp", static_cast<unsigned long long>(mix));
    const size_t room = kNameMax - 1 - std::strlen(suffix);
    return "." + base.substr(0, room) + suffix;
}

// fsync of a directory, so that a rename in it survives a power cut.
int SyncDirectory(const std::string& dir) {
    int fd;
    do {
        fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return errno;
    const int err = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    // A file system that cannot sync directories has nothing more to do.
    return err == EINVAL || err == EROFS ? 0 : err;
}

int OpenRetry(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace

FileWriter::~FileWriter() {
    Discard();
}

void FileWriter::Fail(int err) {
    if (!m_failed) {
        m_errno = err;
        m_error = ErrnoText(err);
    }
    m_failed = true;
}

bool FileWriter::Open(const std::string& path) {
    Discard();
    m_failed = false;
    m_mode = Mode::kNone;
    m_exists = false;
    m_errno = 0;
    m_error.clear();
    m_buffer.clear();
    if (path.empty()) {
        Fail(ENOENT);
        return false;
    }
    if (!ResolveTarget(path) || !ExamineTarget()) return false;
    if (m_mode == Mode::kDirect) return true;
    int err = 0;
    if (!OpenNewFile(err)) {
        if (m_exists && (err == EACCES || err == EPERM)) {
            // A writable file in a directory that is not: no new file can be made there, so
            // the file is rewritten in place. Everything is collected first and the target is
            // opened without truncating it, so a store that fails before Commit() leaves it
            // as it was; but a crash or an I/O error while Commit() writes leaves it damaged.
            m_fd = OpenRetry(m_target.c_str(), O_WRONLY | O_CLOEXEC);
            if (m_fd >= 0) {
                m_mode = Mode::kInPlace;
                return true;
            }
            err = errno;
        }
        Fail(err);
        return false;
    }
    return KeepOwnerAndBits();
}

// Writes through a symbolic link to the file it names, so the link stays a link. A link that
// leads nowhere (dangling, or a loop) is refused rather than replaced.
bool FileWriter::ResolveTarget(const std::string& path) {
    m_target = path;
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char* resolved = ::realpath(path.c_str(), nullptr);
        if (resolved == nullptr) {
            // realpath names a missing last component of a dangling link ENOENT, a loop ELOOP.
            Fail(errno == ENOENT || errno == ELOOP ? errno : ENOENT);
            return false;
        }
        m_target = resolved;
        std::free(resolved);
    }
    SplitPath(m_target, m_dir, m_base);
    return true;
}

// What stands at the target: nothing, a regular file to replace (its bits and owner are
// noted), or a device or a pipe, opened to be written directly (a rename cannot replace it).
bool FileWriter::ExamineTarget() {
    struct stat st;
    if (::stat(m_target.c_str(), &st) != 0) return true;
    if (S_ISDIR(st.st_mode)) {
        Fail(EISDIR);
        return false;
    }
    if (::access(m_target.c_str(), W_OK) != 0) {
        Fail(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        m_fd = OpenRetry(m_target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (m_fd < 0) {
            Fail(errno);
            return false;
        }
        m_mode = Mode::kDirect;
        return true;
    }
    m_exists = true;
    m_perm = st.st_mode & 07777;
    m_uid = st.st_uid;
    m_gid = st.st_gid;
    return true;
}

// The new content goes to a file without a name (O_TMPFILE) in the target's directory: a
// store that is killed leaves nothing behind. Where the system cannot make one, to a
// temporary file beside the target. Either way the final rename stays within one file system
// and replaces the target in one step. Mode 0666 lets the umask decide the bits. On failure
// err holds the reason.
bool FileWriter::OpenNewFile(int& err) {
#ifdef O_TMPFILE
    if (::access("/proc/self/fd", X_OK) == 0) {
        m_fd = OpenRetry(m_dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (m_fd >= 0) m_mode = Mode::kUnnamed;
        err = errno;
    }
#endif
    for (int attempt = 0; m_fd < 0 && attempt < 100; ++attempt) {
        const std::string temp = JoinPath(m_dir, TempName(m_base, this, attempt));
        m_fd = OpenRetry(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            m_temp = temp;
            m_mode = Mode::kTemporary;
            break;
        }
        err = errno;
        if (err != EEXIST) break;
    }
    return m_fd >= 0;
}

// Keeps the owner of a replaced file where the system lets us (a superuser replacing a user's
// file); the permission bits are kept in any case.
bool FileWriter::KeepOwnerAndBits() {
    if (!m_exists) return true;
    if (::fchown(m_fd, static_cast<uid_t>(m_uid), static_cast<gid_t>(m_gid)) != 0) {
        // Not permitted: the new file keeps our owner.
    }
    if (::fchmod(m_fd, static_cast<mode_t>(m_perm)) != 0) {
        Fail(errno);
        Discard();
        return false;
    }
    return true;
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
    if (m_mode == Mode::kInPlace) {
        // Nothing reaches the target before Commit().
        try {
            m_buffer.insert(m_buffer.end(), p, p + n);
        } catch (const std::bad_alloc&) {
            Fail(ENOMEM);
        }
        return;
    }
    if (n >= kWriteBuffer) {
        // A large piece goes to the system as it is, after what was collected before it.
        if (Flush()) WriteOut(p, n);
        return;
    }
    m_buffer.insert(m_buffer.end(), p, p + n);
    if (m_buffer.size() >= kWriteBuffer) Flush();
}

bool FileWriter::CommitInPlace() {
    const size_t size = m_buffer.size();
    // Room for the new content first, where the file system can say so: a full disk then
    // fails the store before the old content is touched.
    if (size > 0 && ::fallocate(m_fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS && errno != EINTR) {
        Fail(errno);
        return false;
    }
    if (::lseek(m_fd, 0, SEEK_SET) != 0) {
        Fail(errno);
        return false;
    }
    if (!Flush()) return false;
    if (::ftruncate(m_fd, static_cast<off_t>(size)) != 0) Fail(errno);
    if (!m_failed && ::fsync(m_fd) != 0) Fail(errno);
    return !m_failed;
}

// Gives the unnamed file its place: linked straight under the target's name when there is
// no file of that name, else under a temporary name that is then renamed over the target.
bool FileWriter::LinkUnnamed() {
    const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
    if (!m_exists) {
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, m_target.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return true;
        if (errno != EEXIST) {
            Fail(errno);
            return false;
        }
        // A file of that name appeared meanwhile: it is replaced, as an existing one is.
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temp = JoinPath(m_dir, TempName(m_base, this, attempt));
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            m_temp = temp;
            return true;
        }
        if (errno != EEXIST) {
            Fail(errno);
            return false;
        }
    }
    Fail(EEXIST);
    return false;
}

bool FileWriter::Commit() {
    if (m_fd < 0) return false;
    if (m_mode == Mode::kInPlace && !m_failed) {
        CommitInPlace();
    } else {
        Flush();
        // When an existing file is replaced, its new content reaches the disk before the
        // rename, so a crash right after it cannot leave an empty file where the old one
        // was. A new file has nothing to lose and skips the (slow) sync.
        if (!m_failed && m_mode != Mode::kDirect && m_exists && ::fsync(m_fd) != 0) Fail(errno);
        // The complete unnamed file is named only now and renamed over the target right
        // after its close (which may still report a write error): the file system cannot put
        // an unnamed file in place of another, so a kill in that instant leaves the complete
        // new file under its temporary name beside the target.
        if (!m_failed && m_mode == Mode::kUnnamed) LinkUnnamed();
    }
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0 && !m_failed) Fail(errno);
    if (m_failed) {
        Discard();
        return false;
    }
    if (!m_temp.empty()) {
        if (::rename(m_temp.c_str(), m_target.c_str()) != 0) {
            Fail(errno);
            Discard();
            return false;
        }
        m_temp.clear();
        // The rename reaches the disk too, so a power cut cannot bring the old file back
        // (or lose both) after a replacement was reported done.
        if (m_exists) {
            const int err = SyncDirectory(m_dir);
            if (err != 0) {
                Fail(err);
                return false;
            }
        }
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

}  // namespace platform_detail

OutputFile::OutputFile() : m_writer(std::make_unique<platform_detail::FileWriter>()) {}
OutputFile::~OutputFile() = default;

bool OutputFile::Open(const std::string& path) {
    return m_writer->Open(path);
}
bool OutputFile::Write(const void* data, size_t n) {
    m_writer->Write(data, n);
    return !m_writer->Failed();
}
bool OutputFile::Commit() {
    return m_writer->Commit();
}
int OutputFile::Error() const {
    return m_writer->Error();
}
std::string OutputFile::ErrorText() const {
    return m_writer->ErrorText();
}
const std::string& OutputFile::TemporaryName() const {
    return m_writer->TemporaryName();
}

int WriteWholeFile(const std::string& path, const void* data, size_t n) {
    OutputFile file;
    if (file.Open(path) && file.Write(data, n) && file.Commit()) return 0;
    return file.Error() != 0 ? file.Error() : EIO;
}

MIDIFOLIO_END_NAMESPACE
