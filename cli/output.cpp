#include "output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "common.h"

namespace mfcli {

namespace {

// Bytes collected before they are handed to the system.
constexpr size_t kBuffer = size_t{64} << 10;

std::string ErrnoText(int err) {
    const char* text = std::strerror(err);
    return text != nullptr && *text != '\0' ? text : "error " + std::to_string(err);
}

}  // namespace

// ------------------------------------------------------------------ Output

Output::Output(int fd, std::string name)
    : fd_(fd), name_(std::move(name)), lineBuffered_(isatty(fd) == 1) {}

Output& Output::operator<<(std::string_view text) {
    if (failed_) return *this;
    written_ += text.size();
    if (buffer_.size() + text.size() > kBuffer) {
        Flush();
        if (text.size() >= kBuffer) {
            WriteOut(text.data(), text.size());
            return *this;
        }
    }
    if (buffer_.capacity() < kBuffer) buffer_.reserve(kBuffer);
    buffer_.append(text);
    if (lineBuffered_ && text.find('\n') != std::string_view::npos) Flush();
    return *this;
}

Output& Output::operator<<(char c) {
    return *this << std::string_view(&c, 1);
}

Output& Output::operator<<(long long value) {
    char text[24];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return *this << std::string_view(text, static_cast<size_t>(end - text));
}

Output& Output::operator<<(unsigned long long value) {
    char text[24];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return *this << std::string_view(text, static_cast<size_t>(end - text));
}

void Output::Flush() {
    if (failed_ || buffer_.empty()) return;
    // The buffer is emptied first: after a failure nothing of it is tried again.
    std::string pending;
    pending.swap(buffer_);
    WriteOut(pending.data(), pending.size());
    pending.clear();
    buffer_.swap(pending);
}

void Output::WriteOut(const char* data, size_t size) {
    while (size > 0 && !failed_) {
        const ssize_t n = ::write(fd_, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : EIO;
            failed_ = true;
            if (err == EPIPE) throw OutputClosed{};
            if (fd_ == STDOUT_FILENO) {
                throw Failure("cannot write to standard output: " + ErrnoText(err));
            }
            throw Failure(name_ + ": could not be written: " + ErrnoText(err));
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
}

Output& Stdout() {
    static Output out(STDOUT_FILENO, "standard output");
    return out;
}

// ------------------------------------------------------------------ AtomicFile

AtomicFile::AtomicFile(const std::string& path) : path_(path), target_(path) {
    if (path.empty()) Fail(ENOENT);
    // Write through a symbolic link to the file it names, so that the link stays a link.
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* resolved = ::realpath(path.c_str(), nullptr)) {
            target_ = resolved;
            std::free(resolved);
        }
    }
    mode_t mode;
    if (::stat(target_.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) Fail(EISDIR);
        if (!S_ISREG(st.st_mode)) {
            // A device or a pipe cannot be replaced by a rename: it is written directly.
            do {
                fd_ = ::open(target_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            } while (fd_ < 0 && errno == EINTR);
            if (fd_ < 0) Fail(errno);
            out_ = std::make_unique<Output>(fd_, path_);
            return;
        }
        if (::access(target_.c_str(), W_OK) != 0) Fail(errno);
        mode = st.st_mode & 07777;
    } else {
        // A new file gets the bits the process's umask leaves of 0666.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    // The temporary file lives beside the target, so that the rename stays within one file
    // system and replaces the target in one step.
    const size_t slash = target_.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : target_.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    std::string temp = (slash == std::string::npos ? "" : dir) + "." + base + ".XXXXXX";
    fd_ = ::mkostemp(&temp[0], O_CLOEXEC);
    if (fd_ < 0) Fail(errno);
    temp_ = temp;
    if (::fchmod(fd_, mode) != 0) Fail(errno);
    out_ = std::make_unique<Output>(fd_, path_);
}

AtomicFile::~AtomicFile() {
    Discard();
}

void AtomicFile::Fail(int err) {
    Discard();
    throw Failure(path_ + ": could not be written: " + ErrnoText(err));
}

void AtomicFile::Discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
}

void AtomicFile::Commit() {
    out_->Flush();
    // The new content reaches the disk before the rename, so that a crash right after it
    // cannot leave an empty file where the old one was.
    if (!temp_.empty() && ::fsync(fd_) != 0) Fail(errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) Fail(errno);
    if (!temp_.empty()) {
        if (::rename(temp_.c_str(), target_.c_str()) != 0) Fail(errno);
        temp_.clear();
    }
}

}  // namespace mfcli
