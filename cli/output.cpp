#include "output.h"

#include <signal.h>
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

Output::Output(midifolio::OutputFile& file, std::string name)
    : fd_(-1), file_(&file), name_(std::move(name)), lineBuffered_(false) {}

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
    if (file_ != nullptr) {
        if (!file_->Write(data, size)) {
            failed_ = true;
            throw Failure(name_ + ": could not be written: " + ErrnoText(file_->Error()));
        }
        return;
    }
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

// ------------------------------------------------------------------ OutputTarget

namespace {

// The name of the temporary file of the output being written, for the signal handler: set
// before the handler can need it, read only there.
char g_temporary[4096];
volatile sig_atomic_t g_hasTemporary = 0;

void CleanUpAndStop(int sig) {
    if (g_hasTemporary) ::unlink(g_temporary);
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

// SIGINT and SIGTERM wait while this lives.
class HoldSignals {
  public:
    HoldSignals() {
        sigset_t hold;
        sigemptyset(&hold);
        sigaddset(&hold, SIGINT);
        sigaddset(&hold, SIGTERM);
        ::sigprocmask(SIG_BLOCK, &hold, &saved_);
    }
    ~HoldSignals() { ::sigprocmask(SIG_SETMASK, &saved_, nullptr); }

  private:
    sigset_t saved_;
};

}  // namespace

void InstallSignalCleanup() {
    struct sigaction action {};
    action.sa_handler = CleanUpAndStop;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM}) {
        struct sigaction old {};
        // A signal the shell told the tool to ignore stays ignored.
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        ::sigaction(sig, &action, nullptr);
    }
}

OutputTarget::OutputTarget(const std::string& path) : name_(EscapeControls(path)) {
    if (path == "-") return;
    file_ = std::make_unique<midifolio::OutputFile>();
    if (!file_->Open(path)) throw Failure(name_ + ": could not be written: " + file_->ErrorText());
    const std::string& temp = file_->TemporaryName();
    if (!temp.empty() && temp.size() < sizeof g_temporary) {
        std::memcpy(g_temporary, temp.c_str(), temp.size() + 1);
        g_hasTemporary = 1;
    }
    out_ = std::make_unique<Output>(*file_, name_);
}

OutputTarget::~OutputTarget() {
    g_hasTemporary = 0;
}

void OutputTarget::Commit() {
    if (!file_) {
        Stdout().Flush();
        return;
    }
    out_->Flush();
    HoldSignals hold;
    const bool done = file_->Commit();
    g_hasTemporary = 0;
    if (!done) throw Failure(name_ + ": could not be written: " + file_->ErrorText());
}

}  // namespace mfcli
