// What the benchmark programs share: the generated inputs (written to disk once per process)
// and small helpers over the public API.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "generators.h"
#include "midifolio/midifolio.h"

namespace benchgen {

// The generated inputs, by name:
//   a    ~20 MB format 1, 16 dense tracks (~6 million events)
//   a2   twice (a): the scaling check
//   f0   ~5 MB format 0 of the same kind (the instruction-count file)
//   b    20,000 tempo changes + ~500,000 note events
//   b1   as (b) with one tempo (same event count and size)
//   b10k as (b) with 10,000 tempo changes
//   c    1,000 short tracks
//   c2k  2,000 short tracks
//   d    one 1 MB system-exclusive message
//   d2m  one 2 MB system-exclusive message
// b10k/b, c/c2k and d/d2m show that nothing is quadratic in tempo changes, track count or
// sysex length.
struct Input {
    std::string name;
    std::string path;  // file in the bench folder
    size_t bytes = 0;  // file size
};
const std::vector<std::string>& InputNames();
// Generates the input (once per process) and writes it under BenchDir(). Aborts with a
// message when it cannot be written.
const Input& GetInput(const std::string& name);
Bytes MakeInput(const std::string& name);

// $MIDIFOLIO_BENCH_DIR, else /tmp/midifolio-bench (created when missing).
std::string BenchDir();

// The real MIDI files under tests/data (recursively), sorted.
std::vector<std::string> RealFiles(const std::string& dataDir);

// Total number of events in the song's tracks.
size_t EventCount(const midifolio::CMidiFolio& song);

// A sink that drops the library's messages (benchmarks print only their figures).
midifolio::MessageSink QuietSink();

}  // namespace benchgen
