// What the parts of the fuzz_edits target share: the parameters read from the input, the
// refusals every edit may give, and the check every result goes through.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "fuzz_support.h"
#include "song_checks.h"

namespace fuzzsupport {

struct Params {
    const uint8_t* p = nullptr;
    size_t n = 0, at = 0;
    uint8_t Byte() { return n == 0 ? 0 : p[at++ % n]; }
    uint32_t U16() { return uint32_t{Byte()} << 8 | Byte(); }
    uint32_t U32() { return U16() << 16 | U16(); }
};

inline bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}
inline bool Has(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

[[noreturn]] inline void Fail(const char* op, const std::string& what) {
    std::fprintf(stderr, "%s: %s\n", op, what.c_str());
    std::abort();
}

// What an edit says when the writer refuses its result: "cannot be written: " and why.
inline std::string WriterReason(const std::string& e) {
    static const std::string kPrefix = "cannot be written: ";
    return StartsWith(e, kPrefix.c_str()) ? e.substr(kPrefix.size()) : "";
}

// The writer's refusals: a delta time it cannot write, a file of too many tracks.
inline bool WriterRefusal(const std::string& error) {
    const std::string e = WriterReason(error);
    return (StartsWith(e, "track ") && (Has(e, "are more than a delta time holds (268,435,455)") ||
                                        Has(e, "its end lies too far after its last event"))) ||
           e == "a file holds at most 65,535 tracks" ||
           error == "a file holds at most 65,535 tracks";
}

// What every result must be: a refusal (an empty song) or a song whose bytes read back with
// nothing to tell, save to themselves and encode anew to themselves.
inline void CheckOutcome(const char* op, const sc::Song& result, const std::string& error) {
    if (!error.empty()) {
        if (!result.bytes().empty() || !result.tracks().empty())
            Fail(op, "refused (" + error + ") but gave a song");
        return;
    }
    if (!Quiet(result.report()) || result.bytes().empty()) Fail(op, "a song with a report");
    std::string e;
    if (result.Save(&e) != result.bytes() || !e.empty()) Fail(op, "Save writes it anew: " + e);
    sc::ReadReport report;
    const sc::Song again = sc::Song::FromBytes(result.bytes(), sc::ReadOptions{}, report);
    if (!Quiet(report)) Fail(op, "its bytes read back with something to tell");
    if (sc::Encode(again.ToSequence(), &e) != result.bytes() || !e.empty())
        Fail(op, "encoded anew, its bytes change: " + e);
}

// A note as the multisets of notes compare it: track, channel, pitch, velocity, start, end.
using Key = std::tuple<int, int, int, int, int64_t, int64_t>;

inline std::vector<Key> Keys(const std::vector<sc::Note>& notes, bool ends) {
    std::vector<Key> out;
    for (const sc::Note& n : notes)
        out.emplace_back(n.track, n.channel, n.pitch, n.velocity, n.start_tick,
                         ends ? n.end_tick : 0);
    std::sort(out.begin(), out.end());
    return out;
}

// The edits of fuzz_edits_compose.cpp.
sc::Song DoResample(const sc::Song& song, Params& prm, std::string& error);
sc::Song DoSetFormat(const sc::Song& song, Params& prm, std::string& error);
sc::Song DoMerge(const sc::Song& song, Params& prm, std::string& error);
sc::Song DoSplit(const sc::Song& song, Params& prm, std::string& error);
sc::Song DoFromNotes(const sc::Song& song, Params& prm, std::string& error);

}  // namespace fuzzsupport
