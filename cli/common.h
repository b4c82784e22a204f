// What every part of the midifolio tool shares: exit statuses, failures, the options every
// subcommand takes; and the headers of the tool's own pieces (text, terminal, songs read,
// output).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "midifolio/midifolio.h"
#include "output.h"
#include "song_input.h"
#include "terminal.h"
#include "text.h"

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
    bool recover = false;     // keep what can be read of a damaged file
    uint64_t maxMemory = 0;   // memory budget in bytes (0: half the machine's memory)
};

}  // namespace mfcli
