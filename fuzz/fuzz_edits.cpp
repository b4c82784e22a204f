// Fuzz target: the edits of midifolio/edit.h. The input's first 16 bytes choose one or two
// operations and their parameters; the rest is the song, read with recovery (an input that is
// itself a file, starting with "MThd" or "RIFF", is the song whole and its last 16 bytes
// choose, so that the files of tests/data replay here too). Every operation either refuses
// with a reason it documents (or the writer's: a delta time beyond 28 bits, more than 65,535
// tracks) and an empty song, or gives a song whose bytes read back with nothing to tell, save
// to themselves and encode anew to themselves. Each operation's notes are also held against
// the notes it was given (see Check* below).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "edits_support.h"
#include "fuzz_support.h"
#include "midifolio/event_kinds.h"
#include "midifolio/midi_event.h"
#include "song_checks.h"

using namespace midifolio;
using namespace fuzzsupport;
using sc::Note;
using sc::ReadOptions;
using sc::ReadReport;
using sc::Score;
using sc::Song;

namespace {

constexpr size_t kParamBytes = 16;

// ------------------------------------------------------------------ transpose, tempo

Song DoTranspose(const Song& song, Params& prm, std::string& error) {
    int semitones = static_cast<int8_t>(prm.Byte());
    if (prm.Byte() % 16 == 0) semitones = semitones < 0 ? -128 - semitones : 128 + semitones;
    const bool drums = prm.Byte() & 1;
    const Song out = sc::Transpose(song, semitones, drums, &error);
    CheckOutcome("Transpose", out, error);
    bool outside = false;
    for (const sc::EventRecord& r : song.Events()) {
        const int kind = r.status >> 4;
        if ((kind == 0x8 || kind == 0x9 || kind == 0xA) &&
            (drums || r.channel != PERCUSSION_CHANNEL))
            outside = outside || r.data1 + semitones < 0 || r.data1 + semitones > 127;
    }
    if (semitones < -127 || semitones > 127) {
        if (!Has(error, "semitones moves every note outside 0..127")) Fail("Transpose", error);
    } else if (outside) {
        if (!Has(error, "would move to") || !Has(error, "outside 0..127")) Fail("Transpose", error);
    } else if (!error.empty()) {
        // Ticks and events stay: the writer refuses where it refuses the song itself.
        if (!(WriterRefusal(error) && ModelSave(song).refused)) Fail("Transpose", error);
    } else {
        const Score before(song), after(out);
        const std::vector<Note>& a = before.notes();
        const std::vector<Note>& b = after.notes();
        FUZZ_CHECK(a.size() == b.size() && !ModelSave(song).refused);
        for (size_t k = 0; k < a.size(); ++k) {
            const bool moves = drums || a[k].channel != PERCUSSION_CHANNEL;
            FUZZ_CHECK(b[k].pitch == a[k].pitch + (moves ? semitones : 0));
            FUZZ_CHECK(a[k].track == b[k].track && a[k].channel == b[k].channel);
            FUZZ_CHECK(a[k].start_tick == b[k].start_tick && a[k].end_tick == b[k].end_tick);
            FUZZ_CHECK(a[k].program == b[k].program && a[k].velocity == b[k].velocity);
            FUZZ_CHECK(a[k].start == b[k].start && a[k].end == b[k].end);
        }
    }
    return out;
}

// Seconds divided by the factor, where every tempo scaled stays within what a tempo event
// holds and rounds to a microsecond by less than a thousandth.
void CheckScaledSeconds(const Score& before, const Score& after, double factor) {
    bool kept = smf::kDefaultUsPerQuarter / factor >= 1000;
    for (const sc::TempoChange& t : before.tempos()) {
        if (t.us_per_quarter == 0) continue;  // passed over by the maps, before and after
        kept = kept && t.us_per_quarter / factor >= 1000 && t.us_per_quarter / factor <= 0xFFFFFF;
    }
    if (!kept || smf::kDefaultUsPerQuarter / factor > 0xFFFFFF) return;
    const std::vector<Note>& a = before.notes();
    const std::vector<Note>& b = after.notes();
    for (size_t k = 0; k < a.size(); ++k) {
        const double expected = a[k].start / factor;
        if (std::fabs(b[k].start - expected) > 1e-3 * expected + 1e-9)
            Fail("ScaleTempo", "a note at " + std::to_string(a[k].start) + " s now starts at " +
                                   std::to_string(b[k].start) + " s, not at " +
                                   std::to_string(expected) + " s");
    }
}

// Whether a tempo event (not of 0, which stays) scaled by the factor leaves 1..0xFFFFFF
// microseconds per quarter note; with `orDefault`, the default tempo too.
bool ScaledOutside(const Score& score, double factor, bool orDefault) {
    auto outside = [factor](double us) {
        const double v = std::round(us / factor);
        return !(v >= 1 && v <= 0xFFFFFF);
    };
    for (const sc::TempoChange& t : score.tempos())
        if (t.us_per_quarter != 0 && outside(t.us_per_quarter)) return true;
    return orDefault && outside(smf::kDefaultUsPerQuarter);
}

Song DoScaleTempo(const Song& song, Params& prm, std::string& error) {
    static const double kFactors[] = {2.0, 0.5, 1.0, 3.7, 1e-3, 1e6, 0.0, -1.0, NAN, HUGE_VAL};
    const double factor = kFactors[prm.Byte() % 10];
    const Song out = sc::ScaleTempo(song, factor, &error);
    CheckOutcome("ScaleTempo", out, error);
    if (!(factor > 0) || !std::isfinite(factor)) {
        if (error != "the tempo factor must be a positive number") Fail("ScaleTempo", error);
    } else if (song.division().smpte()) {
        if (error != "the ticks of a song in SMPTE time do not follow its tempo")
            Fail("ScaleTempo", error);
    } else if (!error.empty()) {
        // A tempo scaled out of what a file states (the default one too, where it is stated);
        // otherwise nothing moves, so the writer refuses where it refuses the song itself.
        const bool outside =
            error.find(" microseconds per quarter note) scaled by ") != std::string::npos;
        if (outside ? !ScaledOutside(Score(song), factor, true)
                    : !(WriterRefusal(error) && ModelSave(song).refused))
            Fail("ScaleTempo", error);
    } else {
        // The ticks stay; every tempo is scaled (the default one stated at tick 0).
        FUZZ_CHECK(!ModelSave(song).refused);
        FUZZ_CHECK(!ScaledOutside(Score(song), factor, false));
        const Score before(song), after(out);
        FUZZ_CHECK(Keys(before.notes(), true) == Keys(after.notes(), true));
        // A tempo of 0 stays 0 (the maps pass over it); no other becomes 0.
        auto zeros = [](const Score& score) {
            size_t n = 0;
            for (const sc::TempoChange& t : score.tempos()) n += t.us_per_quarter == 0;
            return n;
        };
        FUZZ_CHECK(zeros(before) == zeros(after));
        CheckScaledSeconds(before, after, factor);
    }
    return out;
}

// ------------------------------------------------------------------ crop

// The notes a crop of ticks [start, end) keeps: those starting in it, moved by -start, their
// ends cut at `end` (a note no end ends lasts at most to there), each starting as many seconds
// after the start as before.
void CheckCropNotes(const Song& song, const Song& out, int64_t start, int64_t end) {
    const Score before(song);
    const std::vector<PairedNote> paired = PairNotes(song.Events(), song.tracks());
    std::vector<PairedNote> kept;
    for (const PairedNote& n : paired)
        if (n.start >= start && n.start < end) kept.push_back(n);
    const Score after(out);
    const std::vector<Note>& b = after.notes();
    FUZZ_CHECK(kept.size() == b.size());
    for (size_t k = 0; k < b.size(); ++k) {
        const PairedNote& a = kept[k];
        FUZZ_CHECK(a.track == b[k].track && a.channel == b[k].channel && a.pitch == b[k].pitch);
        FUZZ_CHECK(a.velocity == b[k].velocity && b[k].start_tick == a.start - start);
        const sc::TimeMap& map = before.time_map(a.track);
        const double from =
            map.seconds(static_cast<double>(a.start)) - map.seconds(static_cast<double>(start));
        if (std::fabs(b[k].start - from) > 1e-9 * std::max(1.0, from))
            Fail("Crop", "a note " + std::to_string(from) + " s after the start now starts at " +
                             std::to_string(b[k].start) + " s");
        const int64_t cut = std::min(a.end, end) - start;
        if (a.ended)
            FUZZ_CHECK(b[k].end_tick == cut);
        else
            FUZZ_CHECK(b[k].end_tick >= b[k].start_tick && b[k].end_tick <= cut);
    }
}

Song DoCropTicks(const Song& song, Params& prm, std::string& error) {
    const int64_t span = Score(song).end_tick() + 2;
    int64_t start = static_cast<int64_t>(prm.U32() % static_cast<uint64_t>(span));
    int64_t end = start + static_cast<int64_t>(prm.U32() % static_cast<uint64_t>(span));
    if (prm.Byte() % 16 == 0) start = -start - 1;
    const Song out = sc::Crop(song, start, end, &error);
    CheckOutcome("Crop", out, error);
    if (start < 0 || end <= start) {
        if (error != "a crop needs a start at or after 0 before its end") Fail("Crop", error);
    } else if (!error.empty()) {
        if (!WriterRefusal(error)) Fail("Crop", error);
    } else {
        CheckCropNotes(song, out, start, end);
    }
    return out;
}

Song DoCropUnits(const Song& song, Params& prm, std::string& error) {
    const bool bars = prm.Byte() & 1;
    double start, end;
    if (bars) {
        start = static_cast<double>(prm.Byte() % 10);
        end = start + prm.Byte() % 8 - 1;
        if (prm.Byte() % 8 == 0) start += 0.5;
    } else {
        const double length = Score(song).duration();
        start = length * prm.Byte() / 200.0;
        end = start + length * prm.Byte() / 100.0;
        if (prm.Byte() % 16 == 0) end = prm.Byte() & 1 ? NAN : HUGE_VAL;
    }
    const Song out =
        sc::Crop(song, start, end, bars ? sc::CropUnit::kBars : sc::CropUnit::kSeconds, &error);
    CheckOutcome("Crop", out, error);
    if (error.empty()) return out;
    const bool allowed =
        WriterRefusal(error) || error == "the crop is empty or outside the song" ||
        // (a stretch within one tick rounds to an empty one)
        error == "a crop needs a start at or after 0 before its end" ||
        (!std::isfinite(end) && error == "a crop needs finite times") ||
        (bars && error == "bars are whole numbers from 1, the last at or after the first");
    if (!allowed) Fail("Crop", error);
    return out;
}

// ------------------------------------------------------------------ select, quantize

bool In(const std::vector<int>& list, int v) {
    return list.empty() || std::find(list.begin(), list.end(), v) != list.end();
}

Song DoSelect(const Song& song, Params& prm, std::string& error) {
    sc::Selection sel;
    const uint32_t bits = prm.U32();
    for (int k = 0; k < 3 && (bits & (1u << k)); ++k) sel.tracks.push_back(prm.Byte() % 4);
    for (int c = 0; c < 16 && (bits & 8); ++c)
        if (prm.U16() & (1u << c)) sel.channels.push_back(c);
    for (int k = 0; k < 2 && (bits & (16u << k)); ++k) sel.programs.push_back(prm.Byte() % 128);
    sel.drums = static_cast<int>((bits >> 6) % 3) - 1;
    const Song out = sc::Select(song, sel, &error);
    CheckOutcome("Select", out, error);
    if (!error.empty()) {
        if (!WriterRefusal(error)) Fail("Select", error);
        return out;
    }
    // The notes that match, as they were: a note's end goes with its start. (Outside the
    // tracks kept, program changes go too, so the programs are held only when all tracks
    // stay; a note no end ends may end earlier when its track's last events went.)
    const Score before(song), after(out);
    std::vector<Note> kept;
    for (const Note& n : before.notes()) {
        const bool drum = n.channel == PERCUSSION_CHANNEL;
        if (In(sel.tracks, n.track) && In(sel.channels, n.channel) &&
            (sel.drums < 0 || (sel.drums == 1) == drum) &&
            (sel.programs.empty() || (!drum && In(sel.programs, n.program))))
            kept.push_back(n);
    }
    const std::vector<Note>& b = after.notes();
    FUZZ_CHECK(kept.size() == b.size());
    for (size_t k = 0; k < b.size(); ++k) {
        const Note& a = kept[k];
        FUZZ_CHECK(a.track == b[k].track && a.channel == b[k].channel && a.pitch == b[k].pitch);
        FUZZ_CHECK(a.velocity == b[k].velocity && a.start_tick == b[k].start_tick);
        FUZZ_CHECK(a.start == b[k].start && b[k].end_tick <= a.end_tick);
        if (a.end_tick < song.tracks()[a.track].end_tick) FUZZ_CHECK(a.end_tick == b[k].end_tick);
        if (sel.tracks.empty()) FUZZ_CHECK(a.program == b[k].program);
    }
    return out;
}

int64_t PickGrid(const Song& song, Params& prm) {
    static const char* kValues[] = {"1/4", "1/8.", "1/12",   "1/16",   "1/0", "1/",    "x",
                                    "12",  "-5",   "1/1024", "1/1025", "1/3", "1/8..", "0"};
    const uint8_t pick = prm.Byte();
    if (pick < 128) {
        const std::string value = kValues[pick % (sizeof kValues / sizeof *kValues)];
        const int32_t tpq = song.division().ticks_per_quarter();
        const int64_t grid = sc::GridTicks(value, tpq);
        FUZZ_CHECK(grid >= 0 && grid <= (int64_t{1} << 60));
        if (grid != 0 && StartsWith(value, "1/") && tpq > 0)
            FUZZ_CHECK(std::fabs(static_cast<double>(grid) * std::atoi(value.c_str() + 2) -
                                 4.0 * tpq * (value.back() == '.' ? 1.5 : 1.0)) < 1e-6);
        return grid;
    }
    if (pick < 140) return -static_cast<int64_t>(prm.U16());
    if (pick < 150) return (int64_t{1} << 60) + prm.Byte() % 2;
    return 1 + prm.U32() % 4096;
}

Song DoQuantize(const Song& song, Params& prm, std::string& error) {
    const int64_t grid = PickGrid(song, prm);
    const bool ends = prm.Byte() & 1;
    const Song out = sc::Quantize(song, grid, ends, &error);
    CheckOutcome("Quantize", out, error);
    if (grid <= 0 || grid > (int64_t{1} << 60)) {
        if (error != "the grid must be 1 to 2^60 ticks") Fail("Quantize", error);
    } else if (!error.empty()) {
        if (!WriterRefusal(error)) Fail("Quantize", error);
    } else {
        // Every note-on moves to the nearest grid line (the pairing may change, the starts not).
        std::vector<Note> moved = Score(song).notes();
        for (Note& n : moved) n.start_tick = (n.start_tick + grid / 2) / grid * grid;
        const Score after(out);
        const std::vector<Note>& b = after.notes();
        FUZZ_CHECK(Keys(moved, false) == Keys(b, false));
        for (const Note& n : b) FUZZ_CHECK(n.start_tick % grid == 0);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const bool whole =
        size >= 4 && (std::memcmp(data, "MThd", 4) == 0 || std::memcmp(data, "RIFF", 4) == 0);
    const size_t params = std::min(size, kParamBytes);
    Params prm{whole ? data + size - params : data, params, 0};
    const std::vector<uint8_t> bytes(whole ? data : data + params, data + size);
    ReadOptions recover;
    recover.recover = true;
    ReadReport report;
    Song song = Song::FromBytes(bytes, recover, report);
    if (!report.ok()) return 0;
    using Op = Song (*)(const Song&, Params&, std::string&);
    static const Op kOps[] = {DoTranspose, DoScaleTempo, DoCropTicks, DoCropUnits,
                              DoSelect,    DoQuantize,   DoResample,  DoSetFormat,
                              DoMerge,     DoSplit,      DoFromNotes};
    // MIDIFOLIO_FUZZ_VERBOSE=1 tells what each operation gave (to see that seeds reach the
    // edits and not only their refusals).
    static const bool verbose = std::getenv("MIDIFOLIO_FUZZ_VERBOSE") != nullptr;
    constexpr size_t kCount = sizeof kOps / sizeof *kOps;
    const uint8_t first = prm.Byte(), second = prm.Byte();
    for (size_t op : {size_t{first % kCount}, size_t{second % (kCount + 4)}}) {
        if (op >= kCount) break;
        std::string error = "(not cleared)";
        Song out = kOps[op](song, prm, error);
        if (verbose)
            std::fprintf(stderr, "operation %zu: %s\n", op,
                         error.empty() ? "done" : ("refused: " + error).c_str());
        if (!error.empty()) break;
        song = out;
    }
    return 0;
}
