// Shared pieces of the midifolio tool: exit statuses and failures, loading a song with its
// messages captured, the terminal progress bar, and the text helpers the outputs share.
// Deliberately light: no command-line or JSON library is seen from here (see output.h for the
// checked output and the JSON writer every subcommand uses).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "midifolio/midifolio.h"
#include "output.h"

namespace mfcli {

// Exit statuses of the tool.
constexpr int kExitOk = 0;
// A file was refused or could not be read or written, a value was not understood.
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;  // the command line itself was wrong

// A failure the tool reports on stderr ("midifolio: <what>") before it exits with kExitFailure.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Options every subcommand takes.
struct CommonOptions {
    bool json = false;        // machine-readable output
    bool noProgress = false;  // never draw a progress bar
    bool strict = false;      // a file read with warnings is refused
};

// A value given on the command line, as messages repeat it: at most 20 characters (then "…"),
// so that a mistyped 300-digit number does not flood the terminal.
std::string Shown(std::string_view value);
// "1 track", "2 tracks"; `many` when the plural is not `one` + "s".
std::string Plural(long long n, const std::string& one, const std::string& many = "");

// ------------------------------------------------------------------ progress
// True when stderr is a terminal: the only case in which a progress bar is drawn.
bool StderrIsTerminal();
// True when stdout is a terminal (rows printed there must not run into the bar).
bool StdoutIsTerminal();
// Columns of the terminal on stderr (the window size, else $COLUMNS, else 80).
int TerminalColumns();
// The text cut to at most `columns` characters, keeping its end ("…/music/song.mid").
std::string FitFromEnd(const std::string& text, int columns);

// A progress bar on stderr, drawn only when stderr is a terminal (and not switched off), one
// line that never runs past the terminal's width. It serves as the library's
// ProgressObserver: a load moves it by bytes (smoothly through a file of one long track), a
// store by tracks; scans set it directly.
class TerminalProgress : public midifolio::ProgressObserver {
  public:
    // `label` comes first ("loading"), `detail` after the count (the file's name).
    TerminalProgress(std::string label, std::string detail, bool enabled);
    ~TerminalProgress() override;
    void SetRange(int lower, int upper) override;
    void SetPos(int pos) override;
    // Once a load reports bytes, they move the bar and the tracks no longer do.
    void SetBytes(uint64_t done, uint64_t total) override;
    // Shows `done` of the range as finished (SetPos reports the index just completed).
    void SetDone(int done);
    // A bar without an end: a block that moves on at each call, and `count` for the numbers
    // ("2.5 s").
    void SetBusy(const std::string& count);
    // Names what is being worked on now (redrawn with the next step).
    void SetDetail(std::string detail) { detail_ = std::move(detail); }
    // Removes the bar from the terminal line.
    void Clear();
    bool Enabled() const { return enabled_; }

  private:
    // `fraction` of the bar filled (a moving block when negative), `count` after it.
    void Draw(double fraction, const std::string& count, bool last);
    std::string label_;
    std::string detail_;
    std::string drawnDetail_;  // the detail on the terminal now
    std::string drawnBar_;     // and the bar
    bool enabled_;
    bool drawn_ = false;
    bool bytes_ = false;  // the load reports bytes
    int lower_ = 0;
    int upper_ = 0;
    unsigned step_ = 0;  // position of the moving block
    std::chrono::steady_clock::time_point lastDraw_{};
};

// The second phase of a subcommand that works long on a loaded song (voices, roll, info of a
// big file): the analyses do not report progress, so while this lives a bar without an end
// shows "analysing" and the time spent, redrawn by a thread of its own. Nothing is drawn
// unless stderr is a terminal. Nothing may be written to stderr while it lives.
class Analysing {
  public:
    Analysing(const std::string& name, const CommonOptions& options);
    ~Analysing();
    Analysing(const Analysing&) = delete;
    Analysing& operator=(const Analysing&) = delete;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// ------------------------------------------------------------------ songs
// "-" stands for standard input (and, where a file is written, standard output).
bool IsStdio(const std::string& path);
// The path as messages name it: "standard input" for "-".
std::string InputName(const std::string& path);

// A song loaded by the tool, with every message the library sent while loading and the
// load's report (the cause of a refusal, the warnings of an accepted file).
struct LoadedSong {
    std::unique_ptr<midifolio::CMidiFolio> song;
    std::vector<std::string> messages;
    midifolio::LoadReport report;
    bool ok = false;
};

// Loads a song ("-": standard input); messages are collected instead of going to stderr.
LoadedSong LoadSong(const std::string& path, midifolio::ProgressObserver* progress);

// Why a song was refused: the library's message, and after it in brackets the cause in plain
// words with the track and byte where reading stopped ("Error read data!! (track 2 at byte
// 1,204: the chunk claims 4,096 bytes but 812 remain)"). The system's reason for a file that
// cannot be opened is its own cause.
std::string RefusalText(const LoadedSong& loaded);

// Loads a song for a subcommand that needs it: throws Failure with the refusal
// ("FILE: Not Midi file!! (the file does not start ...)", "FILE: No such file or directory")
// when the file is refused. The load's warnings go to stderr, one line each ("FILE: warning:
// ..."); with options.strict they refuse the file after them. Messages name the file `name`
// (default: the path, or "standard input" for "-").
LoadedSong LoadSongOrFail(const std::string& path, const CommonOptions& options,
                          const std::string& name = "");

// Every byte of a file ("-": standard input); throws Failure ("NAME: REASON").
std::vector<uint8_t> ReadAll(const std::string& path);

// A temporary file of the tool's own (in $TMPDIR, else /tmp), removed when it goes.
class TempFile {
  public:
    TempFile();
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

// Milliseconds of a tick position through the song's tempo map (-1 when it cannot convert).
double TicksToMs(midifolio::CMidiFolio& song, int32_t ticks);

// ------------------------------------------------------------------ text
// Meta-event text as valid UTF-8: kept when the bytes are UTF-8, read as Latin-1 otherwise.
std::string DecodeText(const uint8_t* data, uint32_t length);
// The same text fit for one line of a terminal: control characters shown as \n, \t, \xNN.
std::string EscapeControls(const std::string& text);
// Lower-case hexadecimal, bytes separated by blanks ("f0 7e 7f").
std::string Hex(const uint8_t* data, uint32_t length, size_t maxBytes = SIZE_MAX);

// "hh:mm:ss.mmm" for a time in milliseconds ("-" for a negative time).
std::string ClockMs(double ms);
// "hh:mm:ss.mmm" for a time in seconds, rounded to the millisecond ("-" when not a time).
std::string ClockSeconds(double seconds);
// "812 B", "4.2 MB": a size for people.
std::string SizeText(uint64_t bytes);
// Note name in the library's octave numbering (middle C, note 60, is C5): "C5", "F#3".
std::string NoteName(int note);
// "C major", "F# minor", "Bb major": the name of a key-signature meta event's two bytes.
std::string KeyName(uint32_t sharpsFlats, uint32_t minor);
// Beats per minute with two decimals from microseconds per quarter note.
std::string BpmText(int32_t usPerQuarter);
// Channel as shown to people: 1..16 ("-" for events without a channel).
std::string ChannelText(int channel);
// The text without the blanks it ends in (some General MIDI names end in one).
std::string Trim(const std::string& text);
// printf into a std::string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// A whole number of decimal digits (with an optional sign when `sign`); false when the text
// is anything else or does not fit.
bool ParseInteger(std::string_view text, long long& value, bool sign = false);

// Parses "A-B" (or "A") of positive integers; throws Failure naming the option otherwise.
std::pair<int, int> ParseRange(const std::string& text, const std::string& option);

}  // namespace mfcli
