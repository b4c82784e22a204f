// Helpers shared by the test programs: MIDI byte builders, temporary files, oracle dumps.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "midifolio/midifolio.h"

namespace testsupport {

using Bytes = std::vector<uint8_t>;

Bytes B(std::initializer_list<int> bytes);            // bytes from ints 0..255
Bytes Vlq(uint32_t value);                            // minimal variable-length quantity
Bytes Cat(std::initializer_list<Bytes> parts);        // concatenation
Bytes Header(int format, int ntracks, int division);  // "MThd" chunk, length 6
Bytes Chunk(const char* type, const Bytes& data);     // any chunk with its length
Bytes Track(const Bytes& data);                       // "MTrk" chunk
// A whole file: header + one track chunk per element.
Bytes Smf(int format, int division, const std::vector<Bytes>& tracks);

std::string DataPath(const std::string& relative);  // tests/data/<relative>
std::string TmpPath(const std::string& name);       // fresh path in the build's tmp folder
std::string WriteFile(const std::string& name, const Bytes& bytes);  // returns the path
Bytes ReadFile(const std::string& path);

// Collects the messages a song sends to its sink.
struct Messages {
    std::vector<std::string> list;
    midifolio::MessageSink Sink();
};

// Progress observer that records its calls as "range 0 4", "pos 0", ...
struct ProgressLog : midifolio::ProgressObserver {
    std::vector<std::string> calls;
    void SetRange(int lower, int upper) override;
    void SetPos(int pos) override;
};

// One event line of an independent decoder's dump (see tests/data/corpus/*.oracle.txt).
struct OracleEvent {
    int track = 0;
    long tick = 0;
    std::string kind;                 // noteon, noteoff, control, meta, sysex, ...
    std::vector<std::string> fields;  // the remaining TAB-separated fields
};
struct OracleDump {
    bool error = false;  // the decoder refused the file
    int format = 0, ntracks = 0, division = 0;
    std::vector<OracleEvent> events;
};
OracleDump ReadOracle(const std::string& path);
// Dumps of files made now by python3-mido (tests/tools/dump_mido.py), in one run of Python;
// by path. Empty when python3-mido cannot be run.
std::map<std::string, OracleDump> MidoDumps(const std::vector<std::string>& midiPaths);

// Corpus files under tests/data/corpus (names without folder), sorted.
std::vector<std::string> CorpusFiles();

// Canonical one-line form of a track event, in the oracle's KIND/FIELDS notation
// ("noteon 0 60 100", "meta 51 07a120", "sysex 7e7f0901", ...).
std::string Canonical(const midifolio::MIDIEvent& ev);
std::string Canonical(const OracleEvent& ev);

// Runs a shell command; returns its stdout, stores the exit status.
std::string Run(const std::string& command, int* status = nullptr);

}  // namespace testsupport
