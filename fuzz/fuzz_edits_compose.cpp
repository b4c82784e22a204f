// The edits of fuzz_edits that make songs of other songs or of notes: Resample, SetFormat,
// Merge, Split and FromNotes.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "edits_support.h"
#include "midifolio/edit.h"

namespace fuzzsupport {

using sc::Note;
using sc::Score;
using sc::Song;

namespace {

double Resampled(int64_t tick, double scale) {
    return std::floor(static_cast<double>(tick) * scale + 0.5);
}

}  // namespace

Song DoResample(const Song& song, Params& prm, std::string& error) {
    static const int32_t kOdd[] = {0, -1, 32768, 40000};
    const uint8_t pick = prm.Byte();
    const int32_t tpq = pick < 16 ? kOdd[pick % 4] : static_cast<int32_t>(1 + prm.U16() % 32767);
    const Song out = sc::Resample(song, tpq, &error);
    CheckOutcome("Resample", out, error);
    if (tpq <= 0 || tpq > 32767) {
        if (error != "ticks per quarter note must be 1..32767") Fail("Resample", error);
        return out;
    }
    if (song.division().smpte()) {
        if (error != "a song in SMPTE time has no ticks per quarter note") Fail("Resample", error);
        return out;
    }
    const double scale = static_cast<double>(tpq) / song.division().ticks_per_quarter();
    bool beyond = false;
    for (const sc::TrackInfo& t : song.tracks())
        beyond = beyond || Resampled(t.end_tick, scale) > 4.6e18;
    if (beyond) {
        if (error != "a tick at the new resolution lies beyond 2^62") Fail("Resample", error);
    } else if (!error.empty()) {
        if (!WriterRefusal(error)) Fail("Resample", error);
    } else {
        // Every tick scaled and rounded: the order of the events stays, so does the pairing.
        FUZZ_CHECK(out.division().word == tpq);
        const Score before(song), after(out);
        std::vector<Note> scaled = before.notes();
        for (Note& n : scaled) {
            n.start_tick = static_cast<int64_t>(Resampled(n.start_tick, scale));
            n.end_tick = static_cast<int64_t>(Resampled(n.end_tick, scale));
        }
        FUZZ_CHECK(Keys(scaled, true) == Keys(after.notes(), true));
    }
    return out;
}

Song DoSetFormat(const Song& song, Params& prm, std::string& error) {
    const int format = prm.Byte() % 4;
    const Song out = sc::SetFormat(song, format, &error);
    CheckOutcome("SetFormat", out, error);
    if (format > 1) {
        if (error != "the format must be 0 or 1") Fail("SetFormat", error);
    } else if (song.format() == 2) {
        if (error != "a song of format 2 holds sequences of their own: they cannot be merged")
            Fail("SetFormat", error);
    } else if (!error.empty()) {
        if (!WriterRefusal(error)) Fail("SetFormat", error);
    } else {
        // The same notes, their tracks changed (the pairing may change where tracks meet).
        FUZZ_CHECK(out.format() == format);
        if (format == 0) FUZZ_CHECK(out.tracks().size() <= 1);
        const Score before(song), after(out);
        std::vector<Note> a = before.notes(), b = after.notes();
        for (std::vector<Note>* list : {&a, &b})
            for (Note& n : *list) n.track = 0;
        FUZZ_CHECK(Keys(a, false) == Keys(b, false));
    }
    return out;
}

Song DoMerge(const Song& song, Params& prm, std::string& error) {
    std::vector<Song> songs;
    const uint8_t variant = prm.Byte() % 4;
    if (variant != 0) songs.push_back(song);
    if (variant == 1) songs.push_back(song);
    if (variant == 2) {
        std::string ignored;
        const Song other = sc::Resample(song, static_cast<int32_t>(1 + prm.Byte() * 37), &ignored);
        if (ignored.empty()) songs.push_back(other);
    }
    const Song out = sc::Merge(songs, &error);
    CheckOutcome("Merge", out, error);
    if (songs.empty()) {
        if (error != "nothing to merge") Fail("Merge", error);
    } else if (!error.empty()) {
        const bool smpte = songs.size() > 1 && songs[1].division().word != song.division().word &&
                           (song.division().smpte() || songs[1].division().smpte());
        if (!(WriterRefusal(error) ||
              (smpte && error == "song 2: songs in SMPTE time merge only at the same division") ||
              error == "a tick at the new resolution lies beyond 2^62"))
            Fail("Merge", error);
    } else {
        // Every track of each, the notes of each.
        size_t tracks = 0, notes = 0;
        bool two = false;
        for (const Song& s : songs) {
            tracks += s.tracks().size();
            notes += Score(s).notes().size();
            two = two || s.format() == 2;
        }
        FUZZ_CHECK(out.tracks().size() == tracks && Score(out).notes().size() == notes);
        FUZZ_CHECK(out.format() == (two ? 2 : 1));
        FUZZ_CHECK(out.division().word == song.division().word);
    }
    return out;
}

namespace {

// A part split off by track holds that track's notes as they were, at the same seconds (in
// formats 0 and 1, whose maps every part carries whole). The programs may differ: those set
// in other tracks stay there.
void CheckTrackPart(const Score& whole, const Song& part, size_t track) {
    std::vector<Note> expected;
    for (const Note& n : whole.notes())
        if (n.track == track) expected.push_back(n);
    const Score split(part);
    const std::vector<Note>& got = split.notes();
    FUZZ_CHECK(got.size() == expected.size());
    for (size_t k = 0; k < got.size(); ++k) {
        const Note &a = expected[k], &b = got[k];
        FUZZ_CHECK(b.track == 1 && a.channel == b.channel && a.pitch == b.pitch);
        FUZZ_CHECK(a.velocity == b.velocity && a.start_tick == b.start_tick);
        // (A note no end ends may end earlier, where its track's last events were maps.)
        const bool ended = a.end_tick < whole.song().tracks()[track].end_tick;
        FUZZ_CHECK(ended ? a.end_tick == b.end_tick : b.end_tick <= a.end_tick);
        if (whole.song().format() != 2)
            FUZZ_CHECK(a.start == b.start && (!ended || a.end == b.end));
    }
}

}  // namespace

Song DoSplit(const Song& song, Params& prm, std::string& error) {
    const bool byTrack = prm.Byte() & 1;
    std::vector<std::string> labels;
    const std::vector<Song> parts =
        sc::Split(song, byTrack ? sc::SplitBy::kTrack : sc::SplitBy::kChannel, &labels, &error);
    if (!error.empty()) {
        if (!parts.empty() || !WriterRefusal(error)) Fail("Split", error);
        return Song();
    }
    // One part per track with channel events or per channel in use, each of format 1 with the
    // maps in its first track; together they hold every note.
    FUZZ_CHECK(labels.size() == parts.size());
    const Score whole(song);
    size_t notes = 0;
    for (size_t k = 0; k < parts.size(); ++k) {
        CheckOutcome("Split", parts[k], "");
        FUZZ_CHECK(parts[k].format() == 1 && parts[k].tracks().size() == 2);
        const char* kind = byTrack ? "track " : "channel ";
        FUZZ_CHECK(StartsWith(labels[k], kind));
        const long number = std::atol(labels[k].c_str() + std::strlen(kind));
        FUZZ_CHECK(number >= 1 &&
                   (byTrack ? number <= static_cast<long>(song.tracks().size()) : number <= 16));
        if (byTrack) CheckTrackPart(whole, parts[k], static_cast<size_t>(number - 1));
        notes += Score(parts[k]).notes().size();
    }
    FUZZ_CHECK(notes == whole.notes().size());
    return parts.empty() ? Song() : parts[prm.Byte() % parts.size()];
}

namespace {

// The notes and maps of a song as FromNotes takes them, one note perhaps spoiled.
struct NotesPlan {
    std::vector<sc::NoteInput> notes;
    sc::SongPlan plan;
    std::string fault;  // the reason FromNotes must give, "" for none
};

NotesPlan PlanOf(const Song& song, Params& prm) {
    NotesPlan p;
    const Score score(song);
    for (const Note& n : score.notes()) {
        if (p.notes.size() == 4096) break;
        p.notes.push_back(
            {n.start_tick, n.end_tick, n.track, n.channel, n.program, n.pitch, n.velocity});
    }
    const int32_t tpq = song.division().ticks_per_quarter();
    p.plan.ticks_per_quarter = tpq > 0 ? tpq : 480;
    for (const sc::TempoChange& t : score.tempos())
        p.plan.tempos.push_back({t.tick, t.us_per_quarter});
    p.plan.time_signatures = score.time_signatures();
    p.plan.key_signatures = score.key_signatures();
    for (const sc::TrackSummary& t : score.track_summaries()) p.plan.track_names.push_back(t.name);
    const uint8_t spoil = prm.Byte() % 12;
    if (spoil == 6) p.plan.ticks_per_quarter = 0;
    if (spoil == 7) p.plan.ticks_per_quarter = 40000;
    if (spoil == 6 || spoil == 7) p.fault = "ticks per quarter note must be 1..32767";
    if (spoil > 5 || p.notes.empty()) return p;
    sc::NoteInput& n = p.notes[prm.U16() % p.notes.size()];
    static const char* kReasons[] = {"velocity 0 is outside 1..127",
                                     "channel 16 is outside 0..15",
                                     "the pitch is outside 0..127",
                                     "program 128 is outside 0..127",
                                     "it ends before it starts, or starts before 0",
                                     "it ends before it starts, or starts before 0"};
    if (spoil == 0) n.velocity = 0;
    if (spoil == 1) n.channel = 16;
    if (spoil == 2) n.pitch = 128;
    if (spoil == 3) n.program = 128;
    if (spoil == 4) n.end_tick = n.start_tick - 1;
    if (spoil == 5) n.start_tick = -1;
    p.fault = kReasons[spoil];
    return p;
}

}  // namespace

Song DoFromNotes(const Song& song, Params& prm, std::string& error) {
    const NotesPlan p = PlanOf(song, prm);
    const Song out = sc::FromNotes(p.notes, p.plan, &error);
    CheckOutcome("FromNotes", out, error);
    if (!p.fault.empty()) {
        // The first note at fault is named (the spoiled one, the others being valid).
        if (!Has(error, p.fault.c_str())) Fail("FromNotes", error + " (foreseen: " + p.fault + ")");
    } else if (!error.empty()) {
        if (!WriterRefusal(error)) Fail("FromNotes", error);
    } else {
        // Every note starts as given (the pairing may end overlapping notes of one pitch
        // otherwise than given).
        std::vector<Note> given;
        for (const sc::NoteInput& n : p.notes)
            given.push_back({n.track,
                             n.channel,
                             n.program,
                             n.pitch,
                             n.velocity,
                             {0, 0},
                             n.start_tick,
                             n.end_tick,
                             0,
                             0});
        const Score after(out);
        FUZZ_CHECK(Keys(given, false) == Keys(after.notes(), false));
        FUZZ_CHECK(out.division().word == p.plan.ticks_per_quarter);
    }
    return out;
}

}  // namespace fuzzsupport
