// The terminal: its width, the progress bar and the "analysing" bar.
#include "terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "common.h"
#include "text.h"

namespace mfcli {

bool StderrIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

bool StdoutIsTerminal() {
    return isatty(STDOUT_FILENO) == 1;
}

int TerminalColumns() {
    struct winsize ws {};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    long long columns = 0;
    const char* env = std::getenv("COLUMNS");
    if (env != nullptr && ParseInteger(env, columns) && columns > 0 && columns < 10000) {
        return static_cast<int>(columns);
    }
    return 80;
}

std::string FitFromEnd(const std::string& text, int columns) {
    const int width = Width(text);
    if (width <= columns) return text;
    if (columns <= 0) return {};
    // Skip the first width - (columns - 1) characters; "…" takes the place of them.
    int skip = width - (columns - 1);
    size_t i = 0;
    for (; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && skip-- == 0) break;
    }
    return kEllipsis + text.substr(i);
}

TerminalProgress::TerminalProgress(std::string label, std::string detail, bool enabled)
    : label_(std::move(label)),
      detail_(std::move(detail)),
      enabled_(enabled && StderrIsTerminal()) {}

TerminalProgress::~TerminalProgress() {
    Clear();
}

void TerminalProgress::SetRange(int lower, int upper) {
    lower_ = lower;
    upper_ = upper;
}

// The library reports the index of the track it has just finished.
void TerminalProgress::SetPos(int pos) {
    if (!bytes_) SetDone(pos - lower_ + 1);
}

void TerminalProgress::SetBytes(uint64_t done, uint64_t total) {
    bytes_ = true;
    if (total == 0) {  // a pipe: how much is read, not how much is left
        ++step_;
        Draw(-1, SizeText(done), false);
        return;
    }
    done = std::min(done, total);
    // Both numbers in the unit of the total: "3.1/20.0 MiB" ("812/1000 B" below a KiB).
    const SizeUnit unit = UnitOfSize(total);
    const std::string count =
        (unit.bytes == 1 ? std::to_string(done)
                         : Format("%.1f", static_cast<double>(done) / unit.bytes)) +
        "/" + SizeText(total);
    Draw(static_cast<double>(done) / static_cast<double>(total), count, done == total);
}

void TerminalProgress::SetDone(int done) {
    if (!enabled_) return;
    const int total = std::max(0, upper_ - lower_);
    done = std::clamp(done, 0, total);
    Draw(total > 0 ? static_cast<double>(done) / total : 1.0, Format("%d/%d", done, total),
         done == total);
}

void TerminalProgress::SetBusy(const std::string& count) {
    ++step_;
    Draw(-1, count, false);
}

// "label [#####.....] count detail", one character short of the terminal's width (a
// character in the last column makes some terminals wrap).
void TerminalProgress::Draw(double fraction, const std::string& count, bool last) {
    if (!enabled_) return;
    const int columns = TerminalColumns() - 1;
    const int fixed = Width(label_) + 4 + Width(count);
    const int room = std::max(0, columns - fixed);
    const std::string detail = EscapeControls(detail_);
    // The bar takes what the detail leaves, between 10 (or what there is) and 30 characters.
    const int barWidth = detail.empty()
                             ? std::min(room, 30)
                             : std::clamp(room - Width(detail) - 1, std::min(room, 10), 30);
    std::string bar(static_cast<size_t>(barWidth), '.');
    if (fraction >= 0) {
        const int filled = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * barWidth);
        bar.replace(0, static_cast<size_t>(filled), static_cast<size_t>(filled), '#');
    } else if (barWidth >= 3) {
        // A block of three that runs to the end and back.
        const unsigned span = static_cast<unsigned>(barWidth - 3);
        const unsigned at = span == 0 ? 0 : step_ % (2 * span);
        bar.replace(at <= span ? at : 2 * span - at, 3, "###");
    }
    // At most about twenty redraws a second, but always the first, the last, a new detail and
    // a bar that grows.
    const auto now = std::chrono::steady_clock::now();
    if (drawn_ && !last && detail_ == drawnDetail_ && bar == drawnBar_ &&
        now - lastDraw_ < std::chrono::milliseconds(50)) {
        return;
    }
    lastDraw_ = now;
    drawnDetail_ = detail_;
    drawnBar_ = bar;
    std::string line = label_ + " [" + bar + "] " + count;
    const int detailRoom = columns - fixed - barWidth - 1;
    if (!detail.empty() && detailRoom >= 4) line += " " + FitFromEnd(detail, detailRoom);
    line = CutToWidth(line, columns);
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

void TerminalProgress::Clear() {
    if (!drawn_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    drawn_ = false;
}

struct Analysing::State {
    TerminalProgress bar;
    std::mutex mutex;
    std::condition_variable wake;
    bool stop = false;
    std::thread thread;
    State(const std::string& name, bool enabled) : bar("analysing", name, enabled) {}
};

Analysing::Analysing(const std::string& name, const CommonOptions& options)
    : state_(std::make_unique<State>(name, !options.noProgress)) {
    if (!state_->bar.Enabled()) return;
    State* s = state_.get();
    s->bar.SetBusy("0.0 s");
    s->thread = std::thread([s]() {
        const auto start = std::chrono::steady_clock::now();
        std::unique_lock<std::mutex> lock(s->mutex);
        while (!s->wake.wait_for(lock, std::chrono::milliseconds(100), [s]() { return s->stop; })) {
            const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
            s->bar.SetBusy(Format("%.1f s", spent.count()));
        }
    });
}

Analysing::~Analysing() {
    if (state_->thread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(state_->mutex);
            state_->stop = true;
        }
        state_->wake.notify_all();
        state_->thread.join();
    }
    state_->bar.Clear();
}

}  // namespace mfcli
