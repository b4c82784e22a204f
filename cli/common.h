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
// ProgressObserver for loading and storing, and directly for scans.
class TerminalProgress : public midifolio::ProgressObserver {
  public:
    // `label` comes first ("loading"), `detail` after the count (the file's name).
    TerminalProgress(std::string label, std::string detail, bool enabled);
    ~TerminalProgress() override;
    void SetRange(int lower, int upper) override;
    void SetPos(int pos) override;
    // Shows `done` of the range as finished (SetPos reports the index just completed).
    void SetDone(int done);
    // Names what is being worked on now (redrawn with the next step).
    void SetDetail(std::string detail) { detail_ = std::move(detail); }
    // Removes the bar from the terminal line.
    void Clear();
    bool Enabled() const { return enabled_; }

  private:
    void Draw(int done);
    std::string label_;
    std::string detail_;
    std::string drawnDetail_;  // the detail on the terminal now
    bool enabled_;
    bool drawn_ = false;
    int lower_ = 0;
    int upper_ = 0;
    std::chrono::steady_clock::time_point lastDraw_{};
};

// ------------------------------------------------------------------ songs
// "-" stands for standard input (and, where a file is written, standard output).
bool IsStdio(const std::string& path);
// The path as messages name it: "standard input" for "-".
std::string InputName(const std::string& path);

// A song loaded by the tool, with every message the library sent while loading.
struct LoadedSong {
    std::unique_ptr<midifolio::CMidiFolio> song;
    std::vector<std::string> messages;
    bool ok = false;
};

// Loads a song ("-": standard input); messages are collected instead of going to stderr.
LoadedSong LoadSong(const std::string& path, midifolio::ProgressObserver* progress);

// Loads a song for a subcommand that needs it: throws Failure with the library's message
// ("FILE: Not Midi file!!", "FILE: No such file or directory") when the file is refused.
// Warnings of a successful load go to stderr. Messages name the file `name` (default: the
// path, or "standard input" for "-").
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

// Highest event time of the song in ticks (0 for a song without events).
int32_t SongEndTicks(const midifolio::CMidiFolio& song);

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
