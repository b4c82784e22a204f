#include "common.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

using namespace midifolio;

namespace mfcli {

namespace {

// "…" in UTF-8.
constexpr const char* kEllipsis = "\xe2\x80\xa6";

// Columns a text takes on a terminal: its UTF-8 characters (continuation bytes take none).
int Width(std::string_view text) {
    int n = 0;
    for (unsigned char c : text) n += (c & 0xC0) != 0x80;
    return n;
}

// The text cut to its first `columns` characters.
std::string CutToWidth(const std::string& text, int columns) {
    int n = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && n++ == columns) {
            return text.substr(0, i);
        }
    }
    return text;
}

}  // namespace

std::string Shown(std::string_view value) {
    constexpr int kShown = 20;
    std::string text(value);
    if (Width(text) <= kShown) return text;
    return CutToWidth(text, kShown) + kEllipsis;
}

std::string Plural(long long n, const std::string& one, const std::string& many) {
    return std::to_string(n) + " " + (n == 1 ? one : many.empty() ? one + "s" : many);
}

// ------------------------------------------------------------------ progress

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
    // Both numbers in the unit of the total: "3.1/20.0 MB" ("812/2645 B" below a kilobyte).
    const double unit = total < 1000 ? 1 : total < 1000000 ? 1e3 : total < 1000000000 ? 1e6 : 1e9;
    const std::string count =
        (total < 1000 ? std::to_string(done) : Format("%.1f", static_cast<double>(done) / unit)) +
        "/" + SizeText(total);
    Draw(static_cast<double>(done) / static_cast<double>(total), count, done == total);
}

void TerminalProgress::SetDone(int done) {
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

// ------------------------------------------------------------------ songs

bool IsStdio(const std::string& path) {
    return path == "-";
}

std::string InputName(const std::string& path) {
    return IsStdio(path) ? "standard input" : path;
}

LoadedSong LoadSong(const std::string& path, ProgressObserver* progress) {
    LoadedSong loaded;
    loaded.song = std::make_unique<CMidiFolio>();
    auto* messages = &loaded.messages;
    loaded.song->SetMessageSink([messages](const std::string& text) { messages->push_back(text); });
    // The loader reads a file that cannot seek, such as a pipe on standard input.
    loaded.ok = loaded.song->LoadMidiFile(IsStdio(path) ? "/dev/stdin" : path, progress) == 1;
    loaded.report = loaded.song->GetLoadReport();
    return loaded;
}

std::string RefusalText(const LoadedSong& loaded) {
    std::string text;
    for (const auto& m : loaded.messages) text += (text.empty() ? "" : "; ") + m;
    if (text.empty()) text = loaded.report.message;
    const std::string& cause = loaded.report.cause;
    if (text.empty()) return cause.empty() ? "the file could not be loaded" : cause;
    // A file that cannot be opened has the system's reason as both message and cause.
    if (!cause.empty() && cause != text && loaded.report.stop != LoadStop::kCannotOpen)
        text += " (" + cause + ")";
    return text;
}

LoadedSong LoadSongOrFail(const std::string& path, const CommonOptions& options,
                          const std::string& shownName) {
    const std::string name = shownName.empty() ? InputName(path) : shownName;
    TerminalProgress progress("loading", name, !options.noProgress);
    LoadedSong loaded = LoadSong(path, &progress);
    progress.Clear();
    if (!loaded.ok) throw Failure(name + ": " + RefusalText(loaded));
    for (const auto& m : loaded.messages)
        std::fprintf(stderr, "midifolio: %s: %s\n", name.c_str(), m.c_str());
    const auto& warnings = loaded.report.warnings;
    for (const LoadNote& w : warnings)
        std::fprintf(stderr, "midifolio: %s: warning: %s\n", name.c_str(), w.text.c_str());
    if (options.strict && !warnings.empty()) {
        throw Failure(name + ": refused under --strict: " +
                      Plural(static_cast<long long>(warnings.size()), "warning"));
    }
    return loaded;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    const std::string name = InputName(path);
    int fd = STDIN_FILENO;
    if (!IsStdio(path)) {
        do {
            fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) throw Failure(name + ": " + std::strerror(errno));
    }
    std::vector<uint8_t> bytes;
    int err = 0;
    for (;;) {
        const size_t old = bytes.size();
        bytes.resize(old + (size_t{64} << 10));
        const ssize_t n = ::read(fd, bytes.data() + old, bytes.size() - old);
        if (n < 0 && errno == EINTR) {
            bytes.resize(old);
            continue;
        }
        bytes.resize(old + static_cast<size_t>(std::max<ssize_t>(n, 0)));
        if (n < 0) err = errno;
        if (n <= 0) break;
    }
    if (fd != STDIN_FILENO) ::close(fd);
    if (err != 0) throw Failure(name + ": " + std::strerror(err));
    return bytes;
}

TempFile::TempFile() {
    const char* dir = std::getenv("TMPDIR");
    path_ = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/midifolio-XXXXXX";
    const int fd = ::mkostemp(&path_[0], O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        path_.clear();
        throw Failure(std::string("cannot make a temporary file: ") + std::strerror(err));
    }
    ::close(fd);
}

TempFile::~TempFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
}

double TicksToMs(CMidiFolio& song, int32_t ticks) {
    _MIDI_TIME t = MakeTicks(ticks);
    song.ConvertMIDITime(&t, TF_MSEC);
    return t.dMsecs;
}

// ------------------------------------------------------------------ text

// Length of the UTF-8 sequence starting at p (within n bytes), 0 when it is not valid UTF-8.
static size_t Utf8Sequence(const uint8_t* p, size_t n) {
    const uint8_t c = p[0];
    if (c < 0x80) return 1;
    size_t len;
    uint32_t cp;
    if ((c & 0xE0) == 0xC0) {
        len = 2;
        cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        len = 3;
        cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        len = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (len > n) return 0;
    for (size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    static const uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

std::string DecodeText(const uint8_t* data, uint32_t length) {
    if (data == nullptr || length == 0) return {};
    bool utf8 = true;
    for (size_t i = 0; i < length;) {
        size_t n = Utf8Sequence(data + i, length - i);
        if (n == 0) {
            utf8 = false;
            break;
        }
        i += n;
    }
    if (utf8) return std::string(reinterpret_cast<const char*>(data), length);
    // Older files mostly carry Latin-1 text.
    std::string out;
    out.reserve(length * 2);
    for (uint32_t i = 0; i < length; ++i) {
        const uint8_t c = data[i];
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string EscapeControls(const std::string& text) {
    std::string out;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            out += Format("\\x%02x", c);
        } else {
            out += ch;
        }
    }
    return out;
}

std::string Hex(const uint8_t* data, uint32_t length, size_t maxBytes) {
    std::string out;
    if (data == nullptr) return out;
    const size_t n = std::min<size_t>(length, maxBytes);
    for (size_t i = 0; i < n; ++i) {
        if (i) out += ' ';
        out += Format("%02x", data[i]);
    }
    if (n < length) out += Format(" ... (%u bytes)", length);
    return out;
}

std::string ClockMs(double ms) {
    if (ms < 0) return "-";
    const long long v = static_cast<long long>(ms);
    return Format("%02lld:%02lld:%02lld.%03lld", v / 3600000, v / 60000 % 60, v / 1000 % 60,
                  v % 1000);
}

std::string ClockSeconds(double seconds) {
    if (!(seconds >= 0) || seconds > 1e12) return "-";
    return ClockMs(std::round(seconds * 1000.0));
}

std::string SizeText(uint64_t bytes) {
    if (bytes < 1000) return std::to_string(bytes) + " B";
    const double b = static_cast<double>(bytes);
    if (bytes < 1000000) return Format("%.1f KB", b / 1e3);
    if (bytes < 1000000000) return Format("%.1f MB", b / 1e6);
    return Format("%.1f GB", b / 1e9);
}

std::string NoteName(int note) {
    tagNoteMap map{};
    if (CMidiFolio::GetPitchInfo(static_cast<int32_t>(note), &map) != 1)
        return std::to_string(note);
    char name[sizeof map.szName + 1] = {};
    std::copy(std::begin(map.szName), std::end(map.szName), name);
    return Format("%s%d", name, static_cast<int>(map.byOctave));
}

std::string KeyName(uint32_t sharpsFlats, uint32_t minor) {
    static const char* kMajor[15] = {"Cb", "Gb", "Db", "Ab", "Eb", "Bb", "F", "C",
                                     "G",  "D",  "A",  "E",  "B",  "F#", "C#"};
    static const char* kMinor[15] = {"Ab", "Eb", "Bb", "F",  "C",  "G",  "D", "A",
                                     "E",  "B",  "F#", "C#", "G#", "D#", "A#"};
    const int sf = static_cast<int8_t>(static_cast<uint8_t>(sharpsFlats));
    if (sharpsFlats > 255 || sf < -7 || sf > 7 || minor > 1) {
        return Format("unknown key (%u, %u)", sharpsFlats, minor);
    }
    return std::string(minor ? kMinor[sf + 7] : kMajor[sf + 7]) + (minor ? " minor" : " major");
}

std::string BpmText(int32_t usPerQuarter) {
    if (usPerQuarter <= 0) return "-";
    return Format("%.2f", 60000000.0 / usPerQuarter);
}

std::string ChannelText(int channel) {
    return channel >= 0 && channel < 16 ? std::to_string(channel + 1) : "-";
}

std::string Trim(const std::string& text) {
    const auto end = text.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

std::string Format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        out.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(&out[0], out.size(), fmt, args);
        out.resize(static_cast<size_t>(n));
    }
    va_end(args);
    return out;
}

bool ParseInteger(std::string_view text, long long& value, bool sign) {
    size_t i = sign && !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (i == text.size()) return false;
    for (size_t k = i; k < text.size(); ++k) {
        if (!std::isdigit(static_cast<unsigned char>(text[k]))) return false;
    }
    const char* first = text.data() + (text[0] == '+' ? 1 : 0);
    const auto result = std::from_chars(first, text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

std::pair<int, int> ParseRange(const std::string& text, const std::string& option) {
    auto number = [&](const std::string& s) {
        if (s.empty() || s.size() > 9 || !std::all_of(s.begin(), s.end(), [](unsigned char c) {
                return std::isdigit(c) != 0;
            })) {
            throw Failure(option + " wants A-B or A with whole numbers from 1, not '" +
                          Shown(text) + "'");
        }
        const int v = std::atoi(s.c_str());
        if (v < 1) throw Failure(option + " counts from 1, not '" + Shown(text) + "'");
        return v;
    };
    const auto dash = text.find('-');
    if (dash == std::string::npos) {
        const int v = number(text);
        return {v, v};
    }
    const int a = number(text.substr(0, dash));
    const int b = number(text.substr(dash + 1));
    if (b < a) throw Failure(option + " range '" + Shown(text) + "' ends before it starts");
    return {a, b};
}

}  // namespace mfcli
