// Reading the song a subcommand works on: the exact layer's reading of the file's bytes
// (standard input for "-"), within the memory budget, with its warnings on stderr; and the
// library's own classes built from the same bytes when a command shows their answers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "midifolio/midifolio.h"

namespace mfcli {

struct CommonOptions;

// "-" stands for standard input (and, where a file is written, standard output).
bool IsStdio(const std::string& path);
// The path as JSON output gives it: as given, so that a script can open the file by the name
// it gets back (JSON escapes control characters itself); `stdio` for "-".
std::string GivenName(const std::string& path, const char* stdio = "standard input");
// The path as text and messages name it: "standard input" for "-", control characters
// escaped, so that a name cannot move a terminal's cursor.
std::string InputName(const std::string& path);
// The memory budget of the options: --max-memory, else half the machine's memory.
uint64_t MemoryBudget(const CommonOptions& options);

class InputSong {
  public:
    InputSong(const std::string& path, midifolio::score::Song song, uint64_t budget);
    // The name for text and messages (InputName) and for JSON (GivenName).
    const std::string& Name() const { return name_; }
    const std::string& Given() const { return given_; }
    const midifolio::score::Song& Song() const { return song_; }
    const midifolio::score::Score& Score() const { return *score_; }
    // The library's own classes over the same bytes, built on first use. Throws Failure when
    // they would take more than the memory budget, or when their loader refuses the bytes.
    midifolio::CMidiFolio& Core();
    // The same, or null (why in *refusal) when they cannot hold the song.
    midifolio::CMidiFolio* TryCore(std::string* refusal);

  private:
    std::string name_;
    std::string given_;
    midifolio::score::Song song_;
    std::unique_ptr<midifolio::score::Score> score_;
    std::unique_ptr<midifolio::CMidiFolio> core_;
    uint64_t budget_;
};

// Reads a song: throws Failure ("NAME: damaged: track 2 at byte 1,204: ...", "NAME: No such
// file or directory") when it cannot be read. Its warnings and what --recover left out go to
// stderr, one line each ("NAME: warning: ..."); with --strict a warning refuses the file.
// `notes` false reads the events only (no notes are paired).
InputSong ReadSong(const std::string& path, const CommonOptions& options, bool notes = true);

}  // namespace mfcli
