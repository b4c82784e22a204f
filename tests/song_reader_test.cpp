// The exact layer's reader (score::Song): what it reads of hand-made bytes, and the same
// events as python3-mido on every file both read.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "generators.h"
#include "midifolio/event_kinds.h"
#include "midifolio/midifolio.h"
#include "test_support.h"

using namespace midifolio;
using namespace testsupport;

namespace {

score::Song Read(const Bytes& bytes, score::ReadReport& report, bool recover = false) {
    score::ReadOptions options;
    options.recover = recover;
    return score::Song::FromBytes(bytes, options, report);
}

score::Song MustRead(const Bytes& bytes) {
    score::ReadReport report;
    score::Song song = Read(bytes, report);
    EXPECT_TRUE(report.ok()) << report.Text();
    return song;
}

std::string Hex(const uint8_t* p, size_t n) {
    std::string s = n == 0 ? "-" : "";
    char buf[3];
    for (size_t i = 0; i < n; ++i) s += (std::snprintf(buf, sizeof buf, "%02x", p[i]), buf);
    return s;
}

// An event in the independent dumps' notation.
std::string Canonical(const score::Song& song, const score::EventRecord& r) {
    const std::string ch = std::to_string(r.channel), d1 = std::to_string(r.data1),
                      d2 = std::to_string(r.data2);
    const uint8_t* payload = song.bytes().data() + r.offset;
    switch (r.status >> 4) {
        case 0x8:
            return "noteoff " + ch + " " + d1 + " " + d2;
        case 0x9:
            return "noteon " + ch + " " + d1 + " " + d2;
        case 0xA:
            return "keypressure " + ch + " " + d1 + " " + d2;
        case 0xB:
            return "control " + ch + " " + d1 + " " + d2;
        case 0xC:
            return "program " + ch + " " + d1;
        case 0xD:
            return "chanpressure " + ch + " " + d1;
        case 0xE:
            return "pitchbend " + ch + " " + std::to_string(r.data1 + 128 * r.data2);
        default:
            break;
    }
    if (r.status == 0xFF) {
        char type[4];
        std::snprintf(type, sizeof type, "%02x", r.meta);
        // mido writes the fixed-size meta types back at their size.
        const uint32_t fixed = smf::FixedMetaSize(static_cast<uint32_t>(r.meta));
        return std::string("meta ") + type + " " +
               Hex(payload, fixed != 0 ? std::min<uint32_t>(fixed, r.length) : r.length);
    }
    if (r.status == 0xF0 || r.status == 0xF7) {
        size_t n = r.length;
        if (n && payload[0] == 0xF0) ++payload, --n;
        if (n && payload[n - 1] == 0xF7) --n;
        return "sysex " + Hex(payload, n);
    }
    uint8_t bytes[3] = {r.status, r.data1, r.data2};
    return "other " + Hex(bytes, 1 + static_cast<size_t>(std::max(smf::DataBytes(r.status), 0)));
}

// Compares a song with a dump: header, and every track's events up to its end of track (mido
// reads on past an end-of-track event; the standard ends the track there).
void ExpectSameAsDump(const score::Song& song, const OracleDump& dump, const std::string& name) {
    ASSERT_FALSE(dump.error) << name;
    EXPECT_EQ(song.format(), dump.format) << name;
    EXPECT_EQ(song.division().word, dump.division) << name;
    ASSERT_EQ(static_cast<int>(song.tracks().size()), dump.ntracks) << name;
    std::vector<std::vector<std::string>> theirs(song.tracks().size()), ours(song.tracks().size());
    std::vector<bool> ended(song.tracks().size(), false);
    for (const OracleEvent& e : dump.events) {
        if (ended[e.track]) continue;
        theirs[e.track].push_back(std::to_string(e.tick) + " " + testsupport::Canonical(e));
        ended[e.track] = e.kind == "meta" && !e.fields.empty() && e.fields[0] == "2f";
    }
    for (const score::EventRecord& r : song.Events())
        ours[r.track].push_back(std::to_string(r.tick) + " " + Canonical(song, r));
    for (size_t t = 0; t < ours.size(); ++t) {
        ASSERT_EQ(ours[t].size(), theirs[t].size()) << name << " track " << t;
        for (size_t k = 0; k < ours[t].size(); ++k)
            ASSERT_EQ(ours[t][k], theirs[t][k]) << name << " track " << t << " event " << k;
    }
}

Bytes End() {
    return B({0x00, 0xFF, 0x2F, 0x00});
}

}  // namespace

TEST(SongReader, ReadsEveryCorpusFileAsMidoDoes) {
    std::vector<std::string> paths;
    for (const std::string& name : CorpusFiles()) paths.push_back(DataPath("corpus/" + name));
    const auto dumps = MidoDumps(paths);
    if (dumps.empty()) GTEST_SKIP() << "python3-mido cannot be run";
    int compared = 0;
    for (const std::string& path : paths) {
        const std::string name = path.substr(path.rfind('/') + 1);
        const OracleDump& dump = dumps.at(path);
        score::ReadReport report;
        const score::Song song = score::Song::Load(path, score::ReadOptions{}, report);
        if (dump.error) continue;  // mido refuses it: nothing to compare with
        ASSERT_TRUE(report.ok()) << name << ": " << report.Text();
        ExpectSameAsDump(song, dump, name);
        ++compared;
    }
    EXPECT_GE(compared, 90);
}

TEST(SongReader, ReadsTheTestFilesAndStressSongsAsMidoDoesWhereBothReadThem) {
    std::vector<std::string> paths;
    for (const char* dir : {"bad", "cli"}) {
        const std::string listing = testsupport::Run("ls " + DataPath(dir) + "/*.mid");
        for (size_t at = 0, nl; (nl = listing.find('\n', at)) != std::string::npos; at = nl + 1)
            paths.push_back(listing.substr(at, nl - at));
    }
    benchgen::DenseOptions dense;
    dense.tracks = 3;
    dense.bytesPerTrack = 40000;
    paths.push_back(WriteFile("stress_dense.mid", benchgen::DenseSong(dense)));
    paths.push_back(WriteFile("stress_tempo.mid", benchgen::TempoSong(500, 20000, false)));
    paths.push_back(WriteFile("stress_tracks.mid", benchgen::ManyTracks(300, 5)));
    paths.push_back(WriteFile("stress_sysex.mid", benchgen::BigSysex(100000)));
    const auto dumps = MidoDumps(paths);
    if (dumps.empty()) GTEST_SKIP() << "python3-mido cannot be run";
    int both = 0;
    for (const std::string& path : paths) {
        score::ReadReport report;
        const score::Song song = score::Song::Load(path, score::ReadOptions{}, report);
        const OracleDump& dump = dumps.at(path);
        if (dump.error || !report.ok()) continue;
        ExpectSameAsDump(song, dump, path);
        ++both;
    }
    EXPECT_GE(both, 15);
}

TEST(SongReader, ReadsF7PacketsAsTheStandardDefinesThem) {
    // A complete sysex in one packet, then a note: the note keeps its place.
    const Bytes packet = Smf(1, 480,
                             {Cat({B({0x00, 0xF7, 0x03, 0xF0, 0x43, 0x12, 0x00, 0x90, 0x3C, 0x40,
                                      0x60, 0x80, 0x3C, 0x40}),
                                   End()})});
    const score::Song one = MustRead(packet);
    const std::vector<score::EventRecord> events = one.Events();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].status, 0xF7);
    EXPECT_EQ(events[0].kind, EVT_SYSEXESC);
    EXPECT_EQ(events[0].length, 3u);
    EXPECT_EQ(events[1].status, 0x90);
    EXPECT_EQ(events[2].tick, 96);
    // A sysex split in two packets: every event after it keeps its tick.
    const Bytes split = Smf(0, 96,
                            {Cat({B({0x00, 0xF0, 0x03, 0x43, 0x12, 0x00, 0x10, 0xF7, 0x02, 0x34,
                                     0xF7, 0x00, 0x90, 0x3C, 0x40, 0x60, 0x80, 0x3C, 0x40}),
                                  End()})});
    const score::Score score(MustRead(split));
    ASSERT_EQ(score.notes().size(), 1u);
    EXPECT_EQ(score.notes()[0].start_tick, 16);
    EXPECT_EQ(score.notes()[0].end_tick, 112);
}

TEST(SongReader, CountsTicksIn64Bits) {
    // Two deltas of 0x0FFFFFFF ticks, then 0x0FFFFFFF more: past 2^31 - 1.
    const Bytes far =
        Smf(0, 96,
            {Cat({B({0x00, 0x90, 0x3C, 0x40, 0xFF, 0xFF, 0xFF, 0x7F, 0x3E, 0x40, 0xFF, 0xFF,
                     0xFF, 0x7F, 0x80, 0x3C, 0x40, 0xFF, 0xFF, 0xFF, 0x7F, 0x80, 0x3E, 0x40}),
                  End()})});
    const score::Score score(MustRead(far));
    ASSERT_EQ(score.notes().size(), 2u);
    EXPECT_EQ(score.notes()[0].end_tick, 2 * 0x0FFFFFFFll);
    EXPECT_EQ(score.notes()[1].start_tick, 0x0FFFFFFFll);
    EXPECT_EQ(score.notes()[1].end_tick, 3 * 0x0FFFFFFFll);
    EXPECT_EQ(score.end_tick(), 3 * 0x0FFFFFFFll);
    // 120 bpm, 96 ticks per quarter note: a tick lasts 1/192 s.
    EXPECT_NEAR(score.duration(), 3 * 0x0FFFFFFFll / 192.0, 1e-6);
}

TEST(SongReader, KeepsRunningStatusAcrossMetaEventsAndEndsItAtSysex) {
    const Bytes across = Smf(0, 96,
                             {Cat({B({0x00, 0x90, 0x3C, 0x40, 0x00, 0xFF, 0x01, 0x01, 0x41, 0x00,
                                      0x3E, 0x40, 0x10, 0x3C, 0x00, 0x00, 0x3E, 0x00}),
                                   End()})});
    const score::Score score(MustRead(across));
    ASSERT_EQ(score.notes().size(), 2u);
    EXPECT_EQ(score.notes()[1].pitch, 0x3E);
    EXPECT_EQ(score.notes()[0].end_tick, 16);
    const Bytes afterSysex =
        Smf(0, 96,
            {Cat({B({0x00, 0x90, 0x3C, 0x40, 0x00, 0xF0, 0x01, 0xF7, 0x00, 0x3C, 0x00}), End()})});
    score::ReadReport report;
    Read(afterSysex, report);
    EXPECT_EQ(report.status, score::ReadStatus::kDamaged);
    EXPECT_NE(report.cause.find("track 1 at byte 30"), std::string::npos) << report.cause;
    EXPECT_NE(report.cause.find("no running status"), std::string::npos) << report.cause;
}

TEST(SongReader, ReadsFormat2SmpteRiffAndUnknownChunks) {
    const Bytes note = B({0x00, 0x90, 0x3C, 0x40, 0x60, 0x80, 0x3C, 0x40});
    const Bytes tempo = B({0x00, 0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40});  // 60 bpm
    // Format 2: each track its own sequence with its own tempo.
    const score::Score two(MustRead(Smf(2, 96, {Cat({tempo, note, End()}), Cat({note, End()})})));
    ASSERT_EQ(two.notes().size(), 2u);
    EXPECT_DOUBLE_EQ(two.notes()[0].end, 1.0);  // 96 ticks at 60 bpm
    EXPECT_DOUBLE_EQ(two.notes()[1].end, 0.5);  // 96 ticks at 120 bpm
    // SMPTE: 25 frames per second, 40 ticks per frame: a tick is a millisecond, whatever the
    // tempo says; and 29 frames are 29.97.
    const score::Score smpte(MustRead(Smf(0, 0xE728, {Cat({tempo, note, End()})})));
    EXPECT_DOUBLE_EQ(smpte.notes()[0].end, 0.096);
    EXPECT_EQ(smpte.time_map().ticks_per_quarter(), 0);
    const score::Score ntsc(MustRead(Smf(0, 0xE302, {Cat({note, End()})})));
    EXPECT_NEAR(ntsc.notes()[0].end, 96 / (2 * 30000.0 / 1001.0), 1e-12);
    // RIFF: the data chunk; an unknown chunk between tracks is passed over.
    const Bytes smf = Cat({Header(1, 2, 96), Track(Cat({note, End()})), Chunk("XFIH", B({1, 2, 3})),
                           Track(Cat({note, End()}))});
    const Bytes riff =
        Cat({B({'R', 'I', 'F', 'F'}), B({static_cast<int>((smf.size() + 12) & 0xFF), 0, 0, 0}),
             B({'R', 'M', 'I', 'D', 'd', 'a', 't', 'a'}),
             B({static_cast<int>(smf.size() & 0xFF), 0, 0, 0}), smf});
    score::ReadReport report;
    const score::Song song = Read(riff, report);
    ASSERT_TRUE(report.ok()) << report.Text();
    EXPECT_EQ(song.tracks().size(), 2u);
    EXPECT_EQ(score::Score(song).notes().size(), 2u);
    ASSERT_EQ(report.warnings.size(), 1u);
    EXPECT_NE(report.warnings[0].text.find("\"XFIH\""), std::string::npos);
    // The classes' loader gets the same song: out of its container, the unknown chunk left out
    // (it would stop that loader where a track belongs).
    CMidiFolio core;
    Messages messages;
    core.SetMessageSink(messages.Sink());
    EXPECT_EQ(song.BuildCore(core), 1);
    EXPECT_TRUE(messages.list.empty());
    ASSERT_EQ(core.GetTrackNum(), 2);
    EXPECT_EQ(score::Score(core).notes().size(), 2u);
}

TEST(SongReader, RefusesWhatIsNoMidiFileAndTellsWhereADamagedOneStops) {
    score::ReadReport report;
    Read(B({'R', 'I', 'F', 'X', 0, 0}), report);
    EXPECT_EQ(report.status, score::ReadStatus::kNotMidi);
    EXPECT_EQ(report.Text(),
              "not a MIDI file: the file starts with \"RIFX\", not with a MIDI header (\"MThd\")");
    Read(Smf(3, 96, {End()}), report);
    EXPECT_EQ(report.status, score::ReadStatus::kUnsupported);
    Read(Cat({Header(1, 1, 96), Chunk("MTrk", B({0x00, 0x90, 0x3C}))}), report);
    EXPECT_EQ(report.status, score::ReadStatus::kDamaged);
    EXPECT_EQ(report.cause, "track 1 at byte 22: the track's data ends inside an event");
    Read(Cat({Header(1, 1, 96), Track(B({0x00, 0xF4, 0x00}))}), report);
    EXPECT_NE(report.cause.find("undefined status byte"), std::string::npos);
    Read(Cat({Header(1, 2, 96), Track(End())}), report);
    EXPECT_EQ(report.cause, "the header declares 2 tracks but the file holds 1");
    Read(Cat({Header(1, 1, 96), B({'M', 'T', 'r', 'k', 0, 0, 1, 0}), End()}), report);
    EXPECT_EQ(report.cause, "track 1 at byte 18: the chunk claims 256 bytes but 4 remain");
}

TEST(SongReader, RecoversEveryEventBeforeTheDamageOfEachTrack) {
    const Bytes good = Cat({B({0x00, 0x90, 0x3C, 0x40, 0x60, 0x80, 0x3C, 0x40}), End()});
    const Bytes cut = B({0x00, 0x90, 0x40, 0x40, 0x10, 0x91, 0x41, 0x40, 0x10, 0xF5, 0x00});
    const Bytes file =
        Cat({Header(1, 3, 96), Track(good), Track(cut), B({'M', 'T', 'r', 'k', 0, 0, 0, 40}),
             B({0x00, 0x92, 0x30, 0x40, 0x20, 0x92})});
    score::ReadReport report;
    Read(file, report);
    ASSERT_EQ(report.status, score::ReadStatus::kDamaged);
    const score::Song song = Read(file, report, true);
    ASSERT_TRUE(report.ok()) << report.Text();
    ASSERT_EQ(song.tracks().size(), 3u);
    ASSERT_EQ(report.dropped.size(), 3u);  // track 3 claims too much, track 2 and 3 break off
    const score::Score score(song);
    ASSERT_EQ(score.notes().size(), 4u);
    EXPECT_EQ(score.notes()[1].track, 1);
    EXPECT_EQ(score.notes()[2].track, 2);
    EXPECT_EQ(score.notes()[3].track, 1);
    EXPECT_EQ(score.notes()[3].start_tick, 16);
    EXPECT_EQ(score.notes()[3].end_tick, 16);  // no end ends it: it lasts to its track's end
    for (const score::ReadIssue& issue : report.dropped) EXPECT_FALSE(issue.text.empty());
    // Of two damaged tracks, the first is reported, though the second breaks off earlier in
    // time; recovered, each keeps its events before the damage.
    const Bytes late = B({0x00, 0x90, 0x3C, 0x40, 0x64, 0x80, 0x3C, 0x40, 0x00, 0xF5});
    const Bytes early = B({0x00, 0x90, 0x40, 0x40, 0x00, 0xF5});
    // (A text of 3.5 MB makes the song large, which is read differently.)
    const Bytes text = Cat({B({0, 0xFF, 0x01}), Vlq(3500000), Bytes(3500000, 'x')});
    for (const Bytes& before : {Bytes(), text}) {
        const Bytes two = Cat({Header(1, 2, 96), Track(Cat({before, late})), Track(early)});
        Read(two, report);
        EXPECT_EQ(report.cause.rfind("track 1 at byte ", 0), 0u) << report.cause;
        const score::Song both = Read(two, report, true);
        ASSERT_EQ(report.dropped.size(), 2u);
        ASSERT_EQ(score::Score(both).notes().size(), 2u);
        EXPECT_EQ(score::Score(both).notes()[0].end_tick, 100);
        EXPECT_EQ(score::Score(both).notes()[1].track, 1);
    }
}

TEST(SongReader, ReadsALargeSongsNotesAsASmallOnes) {
    // Small songs and large ones (all tracks at once) are read by different loops: the same
    // tracks, made large by a text of 3.5 MB at their start, give the same notes.
    const Bytes first =
        B({0x00, 0xC0, 0x05,                          // program 5
           0x00, 0x90, 0x3C, 0x40, 0x00, 0x3C, 0x41,  // the same key three times at once
           0x0A, 0x3C, 0x42, 0x00, 0x40, 0x30, 0x00, 0x3B, 0x30,  // and a chord out of order
           0x0A, 0x3C, 0x00, 0x05, 0x80, 0x3C, 0x00,              // two ends: the oldest two end
           0x00, 0xFF, 0x06, 0x01, 'm',  0x00, 0x3B, 0x00,        // running status across a meta
           0x81, 0x40, 0x90, 0x45, 0xCC,                // a long delta, a velocity above 127
           0x00, 0xF0, 0x02, 0x7E, 0xF7,                // sysex ends running status
           0x10, 0x91, 0x30, 0x20, 0x00, 0x45, 0x00});  // an end of a key not sounding
    const Bytes second = B({0x05, 0x99, 0x24, 0x70, 0x00, 0x24, 0x00, 0x00, 0x26, 0x60, 0x30,
                            0xB9, 0x40, 0x7F, 0x00, 0x99, 0x3C, 0x40, 0x00, 0x89, 0x26, 0x00});
    const Bytes text = Cat({B({0, 0xFF, 0x01}), Vlq(3500000), Bytes(3500000, 'x')});
    std::vector<score::Note> small, large;
    for (const Bytes& before : {Bytes(), text}) {
        score::ReadReport report;
        const score::Song song =
            Read(Smf(1, 96, {Cat({before, first, End()}), Cat({before, second})}), report);
        ASSERT_TRUE(report.ok()) << report.Text();
        EXPECT_EQ(report.warnings.size(), 2u);  // the velocity, the second track's end
        (before.empty() ? small : large) = score::Score(song).notes();
    }
    ASSERT_EQ(small.size(), 10u);
    ASSERT_EQ(large.size(), small.size());
    for (size_t i = 0; i < small.size(); ++i) {
        EXPECT_EQ(std::memcmp(&small[i], &large[i], sizeof small[i]), 0) << "note " << i;
        EXPECT_EQ(large[i].end_tick, small[i].end_tick) << "note " << i;
    }
    // First in, first out: of the three notes on one key, the first ends first, and the
    // last, which no end ends, lasts to the end of its track.
    EXPECT_EQ(small[0].pitch, 0x3C);
    EXPECT_EQ(small[0].end_tick, 20);
    EXPECT_EQ(small[1].end_tick, 25);
    EXPECT_EQ(small[5].pitch, 0x3C);
    EXPECT_EQ(small[5].end_tick, 233);
    EXPECT_EQ(small[4].pitch, 0x3B);  // the chord in order: 3B before 3C and 40
    EXPECT_EQ(small[4].end_tick, 25);
    EXPECT_EQ(small[8].velocity, 127);
}

TEST(SongReader, WarnsOfWhatItReadsDifferentlyAndKeepsDataBytesInRange) {
    // A velocity byte of 0xCC, bytes after the end of track, and a track without one.
    const Bytes file =
        Smf(1, 96,
            {Cat({B({0x00, 0x90, 0x3C, 0xCC, 0x60, 0x80, 0x3C, 0x40}), End(), B({0x00, 0x01})}),
             B({0x00, 0x90, 0x3C, 0x40})});
    score::ReadReport report;
    const score::Song song = Read(file, report);
    ASSERT_TRUE(report.ok());
    ASSERT_EQ(report.warnings.size(), 3u);
    EXPECT_FALSE(song.SavesAsRead());
    EXPECT_EQ(score::Score(song).notes()[0].velocity, 127);
    std::string error;
    const Bytes saved = song.Save(&error);
    score::ReadReport again;
    const score::Song reread = Read(saved, again);
    EXPECT_TRUE(again.ok() && again.warnings.empty()) << again.Text();
    EXPECT_TRUE(reread.SavesAsRead());
    EXPECT_EQ(score::Score(reread).notes().size(), 2u);
}

TEST(SongReader, KeepsTheMemoryBudget) {
    score::ReadOptions options;
    options.max_memory = 1000;
    score::ReadReport report;
    benchgen::DenseOptions dense;
    dense.tracks = 1;
    dense.bytesPerTrack = 4000;
    score::Song::FromBytes(benchgen::DenseSong(dense), options, report);
    EXPECT_EQ(report.status, score::ReadStatus::kTooLarge);
    // Sizes below a MiB in their own units, not "0 MiB".
    EXPECT_NE(report.cause.find("more than the memory budget of 1000 B"), std::string::npos)
        << report.cause;
    options.max_memory = 200000;
    score::Song::FromBytes(benchgen::DenseSong(dense), options, report);
    EXPECT_TRUE(report.ok()) << report.Text();
}
