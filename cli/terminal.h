// The terminal the tool talks to: its width, and the bars that show long work on stderr.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "midifolio/platform.h"

namespace mfcli {

struct CommonOptions;

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
// ProgressObserver: a load moves it by bytes, a store by tracks; scans set it directly.
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
    // A bar without an end: a block that moves on at each call, and `count` for the numbers.
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

// The second phase of a subcommand that works long on a loaded song: while this lives a bar
// without an end shows "analysing" and the time spent, redrawn by a thread of its own.
// Nothing is drawn unless stderr is a terminal. Nothing may be written to stderr while it
// lives.
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

}  // namespace mfcli
