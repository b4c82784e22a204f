// The subcommands: the options each takes and the function that runs it. main.cpp declares
// the options on the command line; each cmd_*.cpp implements its Run function and returns the
// exit status (or throws Failure).
#pragma once

#include <string>
#include <vector>

#include "common.h"

namespace mfcli {

struct InfoOptions {
    CommonOptions common;
    std::string file;
};
int RunInfo(const InfoOptions& o);

struct EventsOptions {
    CommonOptions common;
    bool jsonl = false;  // one JSON object per line
    std::string file;
    std::string tracks;
    int channel = 0;  // 1..16, 0 = any
    std::string types;
    std::string from;
    std::string to;
    std::string measures;
    std::string time = "tick";
    long long limit = -1;  // -1: no limit
};
int RunEvents(const EventsOptions& o);

struct NotesOptions {
    CommonOptions common;
    bool csv = false;
    bool sustain = false;  // notes as the sustain pedal holds them
    std::string file;
    std::string tracks;
    int channel = 0;  // 1..16, 0 = any
};
int RunNotes(const NotesOptions& o);

struct VoicesOptions {
    CommonOptions common;
    std::string file;
    // 24 voices: the least polyphony a General MIDI (level 1) synthesiser offers.
    int limit = 24;
};
int RunVoices(const VoicesOptions& o);

struct CopyOptions {
    CommonOptions common;
    std::string in;
    std::string out;
};
int RunCopy(const CopyOptions& o);

struct PitchOptions {
    CommonOptions common;
    std::string value;
};
int RunPitch(const PitchOptions& o);

struct NamesOptions {
    CommonOptions common;
    std::string table;
    std::vector<std::string> numbers;
};
int RunNames(const NamesOptions& o);

struct RollOptions {
    CommonOptions common;
    std::string file;
    std::string out;
    std::string format;  // svg, png or html; empty: from the output's name (svg otherwise)
    int width = 1600;
    std::string measures;  // A-B, bars counted from 1
    std::string from;      // a time as `events --from` takes it
    std::string to;
    std::string tracks;    // 1,3-5
    std::string channels;  // 1-9,11
    std::string colourBy = "channel";
};
int RunRoll(const RollOptions& o);

struct ScanOptions {
    CommonOptions common;
    std::vector<std::string> paths;
    int jobs = 0;  // 0: one per core
    bool csv = false;
};
int RunScan(const ScanOptions& o);

struct CsvOptions {
    CommonOptions common;
    std::string file;
    std::string out = "-";
};
int RunCsv(const CsvOptions& o);

struct FromCsvOptions {
    CommonOptions common;
    std::string in;
    std::string out;
};
int RunFromCsv(const FromCsvOptions& o);

struct EditOptions {
    CommonOptions common;
    std::string in;
    std::string out;
    std::string tracks;              // "1,3-5": keep these tracks' channel events
    std::string channels;            // "10" or "1-9": keep these channels
    std::string from, to, measures;  // the crop
    int transpose = 0;
    bool drums = false;     // transpose the percussion channel too
    double tempoScale = 0;  // 0: unchanged
    std::string quantize;   // ticks or a note value ("1/16")
    int resample = 0;       // new ticks per quarter note, 0: unchanged
    int format = -1;        // 0 or 1, -1: unchanged
};
int RunEdit(const EditOptions& o);

struct MergeOptions {
    CommonOptions common;
    std::vector<std::string> in;
    std::string out;
};
int RunMerge(const MergeOptions& o);

struct SplitOptions {
    CommonOptions common;
    std::string in;
    std::string dir;
    std::string by = "track";
};
int RunSplit(const SplitOptions& o);
struct RenderOptions {
    CommonOptions common;
    std::string file;
    std::string out;
    std::string soundfont;  // empty: the system's General MIDI SoundFont
    int rate = 44100;       // frames per second
    double gain = 0.2;      // FluidSynth's master gain
    std::string from;
    std::string to;
    std::string measures;
};
int RunRender(const RenderOptions& o);

}  // namespace mfcli
