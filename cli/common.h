// Shared pieces of the midifolio tool: options every subcommand has, loading a song with its
// messages captured, the terminal progress bar, and the text helpers the outputs share.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "midifolio/midifolio.h"

namespace CLI {
class App;
}

namespace mfcli {

using Json = nlohmann::ordered_json;

// Exit statuses of the tool.
constexpr int kExitOk = 0;
constexpr int kExitFailure =
    1;  // a file was refused, could not be written, a value was not understood
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

// Adds --json and --no-progress to a subcommand.
void AddCommonOptions(CLI::App& sub, CommonOptions& options);

// The subcommands. Each adds itself to the app and arranges for `run` to be set to its action
// when it is selected on the command line.
using Action = std::function<int()>;
void AddInfoCommand(CLI::App& app, Action& run);
void AddEventsCommand(CLI::App& app, Action& run);
void AddVoicesCommand(CLI::App& app, Action& run);
void AddCopyCommand(CLI::App& app, Action& run);
void AddPitchCommand(CLI::App& app, Action& run);
void AddNamesCommand(CLI::App& app, Action& run);
void AddRollCommand(CLI::App& app, Action& run);
void AddScanCommand(CLI::App& app, Action& run);

// ------------------------------------------------------------------ progress
// True when stderr is a terminal: the only case in which a progress bar is drawn.
bool StderrIsTerminal();
// True when stdout is a terminal (rows printed there must not run into the bar).
bool StdoutIsTerminal();

// A progress bar on stderr, drawn only when stderr is a terminal (and not switched off). It
// serves as the library's ProgressObserver for loading and storing, and directly for scans.
class TerminalProgress : public midifolio::ProgressObserver {
  public:
    TerminalProgress(std::string label, bool enabled);
    ~TerminalProgress() override;
    void SetRange(int lower, int upper) override;
    void SetPos(int pos) override;
    // Shows `done` of the range as finished (SetPos reports the index just completed).
    void SetDone(int done);
    // Removes the bar from the terminal line.
    void Clear();
    bool Enabled() const { return enabled_; }

  private:
    void Draw(int done);
    std::string label_;
    bool enabled_;
    bool drawn_ = false;
    int lower_ = 0;
    int upper_ = 0;
    std::chrono::steady_clock::time_point lastDraw_{};
};

// ------------------------------------------------------------------ songs
// A song loaded by the tool, with every message the library sent while loading.
struct LoadedSong {
    std::unique_ptr<midifolio::CMidiFolio> song;
    std::vector<std::string> messages;
    bool ok = false;
};

// Loads a song; messages are collected instead of going to stderr. Never throws.
LoadedSong LoadSong(const std::string& path, midifolio::ProgressObserver* progress);

// Loads a song for a subcommand that needs it: throws Failure with the library's message
// ("FILE: Not Midi file!!") when the file is refused. Warnings of a successful load go to stderr.
LoadedSong LoadSongOrFail(const std::string& path, const CommonOptions& options);

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

// Prints JSON to stdout (invalid UTF-8 replaced, never throws).
void PrintJson(const Json& value);

// Parses "A-B" (or "A") of positive integers; throws Failure naming the option otherwise.
std::pair<int, int> ParseRange(const std::string& text, const std::string& option);

}  // namespace mfcli
