// The tool's edit, merge and split, run as a real program on the sample song, each file they
// write read back by python3-mido: what every option of edit changes and what it keeps, the
// tracks and the tempo map of a merge, and the parts of a split.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "test_support.h"

using namespace testsupport;

#ifndef MIDIFOLIO_CLI
TEST(CliEdit, IsNotBuilt) {
    GTEST_SKIP() << "configure with MIDIFOLIO_BUILD_CLI=ON to test the tool";
}
#else

#include "cli_support.h"

using namespace clitest;

namespace {

// A note as mido's messages give it: channel (from 0), pitch, velocity, start and end tick,
// the track it lies in.
struct Note {
    int channel, pitch, velocity;
    long start, end;
    int track;
    bool operator<(const Note& o) const {
        return std::tie(start, channel, pitch, end, velocity, track) <
               std::tie(o.start, o.channel, o.pitch, o.end, o.velocity, o.track);
    }
    bool operator==(const Note& o) const {
        return std::tie(start, channel, pitch, end, velocity) ==
               std::tie(o.start, o.channel, o.pitch, o.end, o.velocity);
    }
};

// The notes of a mido reading, sorted: within a track the oldest sounding note of a channel
// and pitch ends first.
std::vector<Note> NotesOf(const Json& mido) {
    std::vector<Note> notes;
    if (!mido.contains("tracks")) return notes;
    for (size_t t = 0; t < mido["tracks"].size(); ++t) {
        std::map<std::pair<int, int>, std::vector<size_t> > sounding;
        for (const Json& m : mido["tracks"][t]) {
            if (m["type"] != "note_on" && m["type"] != "note_off") continue;
            const std::pair<int, int> key(m["channel"], m["note"]);
            if (m["type"] == "note_on" && m["velocity"] > 0) {
                sounding[key].push_back(notes.size());
                notes.push_back(
                    {key.first, key.second, m["velocity"], m["tick"], -1, static_cast<int>(t)});
            } else if (!sounding[key].empty()) {
                notes[sounding[key].front()].end = m["tick"];
                sounding[key].erase(sounding[key].begin());
            }
        }
    }
    std::sort(notes.begin(), notes.end());
    return notes;
}

// How many messages of each type a mido reading holds.
std::map<std::string, int> TypeCounts(const Json& mido) {
    std::map<std::string, int> counts;
    for (const Json& track : mido["tracks"])
        for (const Json& m : track) ++counts[m["type"].get<std::string>()];
    return counts;
}

const std::string kSample = DataPath("cli/sample.mid");

// `midifolio edit sample.mid OUT ARGS`, and mido's reading of OUT.
Json Edited(const std::string& args, Result* result = nullptr) {
    const std::string out = TmpPath("edited.mid");
    const Result r = Cli("edit " + Quote(kSample) + " " + Quote(out) + " " + args);
    EXPECT_EQ(r.status, 0) << args << ": " << r.err;
    EXPECT_EQ(r.err, "") << args;
    if (result != nullptr) *result = r;
    const Json mido = Mido(out);
    EXPECT_FALSE(mido.contains("error")) << args << ": " << mido;
    return mido;
}

// Every channel message's channel in a mido reading.
std::vector<int> Channels(const Json& mido) {
    std::vector<int> channels;
    for (const Json& track : mido["tracks"])
        for (const Json& m : track)
            if (m.contains("channel")) channels.push_back(m["channel"]);
    return channels;
}

}  // namespace

// ------------------------------------------------------------------ edit

class CliEdit : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HaveMido()) GTEST_SKIP() << "python3-mido is not installed";
        original_ = Mido(kSample);
        notes_ = NotesOf(original_);
        ASSERT_EQ(notes_.size(), 282u);
    }
    Json original_;
    std::vector<Note> notes_;
};

TEST_F(CliEdit, TransposeMovesEveryNoteButTheDrumsAndNothingElse) {
    Result r;
    const Json up = Edited("--transpose 2", &r);
    const std::string facts = ": 2 tracks, 622 events, 282 notes, 00:00:30.715\n";
    EXPECT_EQ(r.out.rfind("Edit    transposed by +2 semitones\nRead    " + kSample + facts +
                              "Wrote   " + TmpPath("").substr(0, TmpPath("").rfind('/') + 1),
                          0),
              0u)
        << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - facts.size()), facts);
    std::vector<Note> expected = notes_;
    for (Note& n : expected)
        if (n.channel != 9) n.pitch += 2;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(NotesOf(up), expected);
    EXPECT_EQ(TypeCounts(up), TypeCounts(original_));
    // With --drums, the drums move too; downwards as well.
    expected = notes_;
    for (Note& n : expected) n.pitch -= 3;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(NotesOf(Edited("--transpose -3 --drums")), expected);
}

TEST_F(CliEdit, CropKeepsTheNotesStartingInItCutAtItsEndAndStatesWhatIsInForce) {
    Result r;
    const Json bars = Edited("--measures 2-3", &r);
    EXPECT_TRUE(Contains(r.out, "Edit    cropped to ticks 1920..5759\n")) << r.out;
    std::vector<Note> expected;
    for (Note n : notes_) {
        if (n.start < 1920 || n.start >= 5760) continue;
        n.start -= 1920;
        n.end = std::min<long>(n.end, 5760) - 1920;
        expected.push_back(n);
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(NotesOf(bars), expected);
    // At its start: the programs, the tempo and the signatures in force there.
    std::map<int, int> programs;
    for (const Json& p : MidoMessages(bars, "program_change"))
        if (p["tick"] == 0) programs[p["channel"]] = p["program"];
    EXPECT_EQ(programs, (std::map<int, int>{{0, 73}, {1, 32}, {2, 0}}));
    const std::vector<Json> tempos = MidoMessages(bars, "set_tempo");
    ASSERT_FALSE(tempos.empty());
    EXPECT_EQ(tempos[0]["tick"], 0);
    EXPECT_EQ(tempos[0]["tempo"], 600000);
    EXPECT_EQ(MidoMessages(bars, "time_signature").at(0)["tick"], 0);
    // The same stretch in bars or in seconds gives the same song.
    const Json seconds = Edited("--from 2.4s --to 4.8s");
    EXPECT_EQ(seconds, Edited("--from 2:1 --to 3:1"));
    EXPECT_EQ(NotesOf(seconds).size(), 23u);
}

TEST_F(CliEdit, ACropEndsBeforeItsToSoANoteStartingThereIsLeftOut) {
    // The notes of the sample starting in [from, to), moved to tick 0 and cut at `to`.
    auto kept = [this](long from, long to) {
        std::vector<Note> notes;
        for (Note n : notes_) {
            if (n.start < from || n.start >= to) continue;
            n.start -= from;
            n.end = std::min(n.end, to) - from;
            notes.push_back(n);
        }
        std::sort(notes.begin(), notes.end());
        return notes;
    };
    // Bar 3 starts at tick 3840, where seven notes of the sample start.
    ASSERT_EQ(
        std::count_if(notes_.begin(), notes_.end(), [](const Note& n) { return n.start == 3840; }),
        7);
    ASSERT_EQ(kept(1920, 3840).size(), 23u);
    EXPECT_EQ(NotesOf(Edited("--measures 2")), kept(1920, 3840));
    // Every form of the same time ends the crop at the same tick, as a crop of bar 2 does.
    for (const std::string from : {"2:1", "1920", "2.4s", "2400ms", "1:1"}) {
        for (const std::string to : {"3:1", "3840", "4.8s", "4800ms"}) {
            const std::string args = "--from " + from + " --to " + to;
            const long start = from == "1:1" ? 0 : 1920;
            Result r;
            EXPECT_EQ(NotesOf(Edited(args, &r)), kept(start, 3840)) << args;
            EXPECT_TRUE(
                Contains(r.out, "Edit    cropped to ticks " + std::to_string(start) + "..3839\n"))
                << args << "\n"
                << r.out;
        }
    }
    // A stretch that ends where it starts keeps nothing, and says so.
    const Result empty =
        Cli("edit " + Quote(kSample) + " " + Quote(TmpPath("empty.mid")) + " --from 3:1 --to 3:1");
    EXPECT_EQ(empty.status, 1);
    EXPECT_EQ(empty.err, "midifolio: the stretch to keep is empty\n");
}

TEST_F(CliEdit, QuantizeMovesStartsAndEndsToTheGrid) {
    const std::vector<Note> notes = NotesOf(Edited("--quantize 1/16"));
    ASSERT_EQ(notes.size(), notes_.size());
    for (const Note& n : notes) {
        EXPECT_EQ(n.start % 120, 0) << n.start;
        EXPECT_EQ(n.end % 120, 0) << n.end;
        EXPECT_GT(n.end, n.start);
    }
    for (const Note& n : NotesOf(Edited("--quantize 160"))) EXPECT_EQ(n.start % 160, 0);
}

TEST_F(CliEdit, TempoScaleAndResampleKeepTheNotesAndChangeOnlyTime) {
    const Json faster = Edited("--tempo-scale 2");
    EXPECT_NEAR(faster["length"].get<double>(), original_["length"].get<double>() / 2, 1e-3);
    std::vector<int> tempos;
    for (const Json& t : MidoMessages(faster, "set_tempo")) tempos.push_back(t["tempo"]);
    EXPECT_EQ(tempos, (std::vector<int>{300000, 340909, 416667}));
    EXPECT_EQ(NotesOf(faster), notes_);

    const Json coarse = Edited("--resample 96");
    EXPECT_EQ(coarse["ticks_per_beat"], 96);
    // Within one new tick (at 100 BPM, 1/160 s) of the original's length.
    EXPECT_NEAR(coarse["length"].get<double>(), original_["length"].get<double>(), 1.0 / 160);
    const std::vector<Note> notes = NotesOf(coarse);
    ASSERT_EQ(notes.size(), notes_.size());
    for (size_t i = 0; i < notes.size(); ++i)
        EXPECT_EQ(notes[i].start, std::lround(notes_[i].start / 5.0)) << i;
}

TEST_F(CliEdit, FormatZeroGivesOneTrackAndFormatOneATrackPerChannel) {
    const Json one = Edited("--format 0");
    EXPECT_EQ(one["type"], 0);
    EXPECT_EQ(one["tracks"].size(), 1u);
    EXPECT_EQ(NotesOf(one), notes_);
    EXPECT_EQ(MidoMessages(one, "set_tempo").size(), 3u);
    EXPECT_EQ(MidoMessages(one, "lyrics").size(), 42u);
    EXPECT_DOUBLE_EQ(one["length"].get<double>(), original_["length"].get<double>());  // same end

    // And back: the events without a channel first, then each channel in a track of its own.
    const std::string zero = TmpPath("format0.mid"), split = TmpPath("format1.mid");
    ASSERT_EQ(Cli("edit " + Quote(kSample) + " " + Quote(zero) + " --format 0").status, 0);
    ASSERT_EQ(Cli("edit " + Quote(zero) + " " + Quote(split) + " --format 1").status, 0);
    const Json many = Mido(split);
    EXPECT_EQ(many["type"], 1);
    ASSERT_EQ(many["tracks"].size(), 5u);
    for (size_t t = 0; t < 5; ++t) {
        std::vector<int> channels;
        for (const Json& m : many["tracks"][t])
            if (m.contains("channel")) channels.push_back(m["channel"]);
        std::sort(channels.begin(), channels.end());
        channels.erase(std::unique(channels.begin(), channels.end()), channels.end());
        EXPECT_EQ(channels, t == 0 ? std::vector<int>{} : std::vector<int>{t == 4 ? 9 : int(t) - 1})
            << t;
    }
    EXPECT_EQ(NotesOf(many), notes_);
    EXPECT_DOUBLE_EQ(many["length"].get<double>(), original_["length"].get<double>());
}

TEST_F(CliEdit, ChannelsAndTracksKeepTheirChannelEventsAndEveryOtherEvent) {
    const Json drums = Edited("--channels 10");
    const std::vector<int> channels = Channels(drums);
    EXPECT_EQ(channels.size(), 288u);  // the drums' note-ons and note-offs
    EXPECT_TRUE(std::all_of(channels.begin(), channels.end(), [](int c) { return c == 9; }));
    std::vector<Note> expected;
    for (const Note& n : notes_)
        if (n.channel == 9) expected.push_back(n);
    EXPECT_EQ(NotesOf(drums), expected);
    EXPECT_EQ(MidoMessages(drums, "set_tempo").size(), 3u);
    EXPECT_EQ(MidoMessages(drums, "lyrics").size(), 42u);

    const Json second = Edited("--tracks 2 --channels 2-3");
    expected.clear();
    for (const Note& n : notes_)
        if (n.track == 1 && (n.channel == 1 || n.channel == 2)) expected.push_back(n);
    EXPECT_EQ(NotesOf(second), expected);
    EXPECT_EQ(second["tracks"].size(), 2u) << "every track stays";
}

TEST_F(CliEdit, WrittenToStandardOutputTheReportGoesToStderr) {
    const Result r = Cli("edit - - --transpose 1 --json", kSample);
    EXPECT_EQ(r.status, 0);
    const Json report = ParseJson(r.err);
    EXPECT_EQ(report["output"], "standard output");
    EXPECT_EQ(report["edits"], Json::array({"transposed by +1 semitones"}));
    EXPECT_EQ(report["after"]["notes"], 282);
    const Json song = Mido(WriteFile("stdout.mid", Bytes(r.out.begin(), r.out.end())));
    EXPECT_EQ(NotesOf(song).size(), 282u) << song;
}

// ------------------------------------------------------------------ merge

TEST(CliMerge, PutsEveryTrackOfEachSongInOneAtTheFirstResolutionAndTempoMap) {
    if (!HaveMido()) GTEST_SKIP() << "python3-mido is not installed";
    // A song at 96 ticks per quarter note, at 240 BPM, one note a quarter long.
    const Bytes track =
        Cat({Vlq(0), B({0xFF, 0x51, 3, 0x03, 0xD0, 0x90}), Vlq(0), B({0x94, 70, 80}), Vlq(96),
             B({0x84, 70, 0}), Vlq(0), B({0xFF, 0x2F, 0})});
    const std::string other = WriteFile("merge_96.mid", Smf(0, 96, {track}));
    const std::string out = TmpPath("merged.mid");
    const Result r = Cli("merge " + Data("small.mid") + " " + Quote(other) + " -o " + Quote(out));
    EXPECT_EQ(r.status, 0) << r.err;
    // 20 events and 4, less the second song's tempo.
    EXPECT_EQ(r.out, "Merged  2 songs into " + out + ": 3 tracks, 23 events\n");
    const Json merged = Mido(out);
    EXPECT_EQ(merged["type"], 1);
    EXPECT_EQ(merged["ticks_per_beat"], 480);
    ASSERT_EQ(merged["tracks"].size(), 3u);
    std::vector<int> tempos;
    for (const Json& t : MidoMessages(merged, "set_tempo")) tempos.push_back(t["tempo"]);
    EXPECT_EQ(tempos, (std::vector<int>{600000, 500000})) << "the first song's tempo map";
    const std::vector<Note> notes = NotesOf(merged);
    ASSERT_EQ(notes.size(), 6u);
    const auto last =
        std::find_if(notes.begin(), notes.end(), [](const Note& n) { return n.channel == 4; });
    ASSERT_NE(last, notes.end());
    EXPECT_EQ(std::make_tuple(last->pitch, last->start, last->end, last->track),
              std::make_tuple(70, 0L, 480L, 2));
    const Json json =
        ParseJson(Cli("merge " + Data("small.mid") + " " + Quote(other) + " -o - --json").err);
    EXPECT_EQ(json, Json::parse(R"({"songs": 2, "output": "standard output", "tracks": 3,
        "events": 23})"));
}

// ------------------------------------------------------------------ split

TEST(CliSplit, WritesOneValidFilePerTrackOrChannelEachWithTheTempoMap) {
    if (!HaveMido()) GTEST_SKIP() << "python3-mido is not installed";
    const std::vector<Note> all = NotesOf(Mido(kSample));
    for (const std::string by : {"track", "channel"}) {
        const std::string dir = MakeDir("split_" + by);
        const Result r = Cli("split " + Quote(kSample) + " -o " + Quote(dir) + " --by " + by);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<std::string> files = Lines(Sh("ls " + Quote(dir)));
        EXPECT_EQ(files,
                  by == "track"
                      ? (std::vector<std::string>{"sample-track-1.mid", "sample-track-2.mid"})
                      : (std::vector<std::string>{"sample-channel-1.mid", "sample-channel-10.mid",
                                                  "sample-channel-2.mid", "sample-channel-3.mid"}));
        EXPECT_EQ(Lines(r.out).size(), files.size());
        std::vector<Note> together;
        for (const std::string& name : files) {
            const Json part = Mido(dir + "/" + name);
            ASSERT_FALSE(part.contains("error")) << name << ": " << part;
            EXPECT_EQ(part["type"], 1) << name;
            ASSERT_EQ(part["tracks"].size(), 2u) << name;
            // The first track holds the whole tempo map and the signatures.
            std::vector<int> tempos;
            for (const Json& m : part["tracks"][0]) {
                if (m["type"] == "set_tempo") tempos.push_back(m["tempo"]);
                EXPECT_FALSE(m.contains("channel")) << name;
            }
            EXPECT_EQ(tempos, (std::vector<int>{600000, 681818, 833333})) << name;
            EXPECT_EQ(MidoMessages(part, "time_signature").size(), 1u) << name;
            EXPECT_EQ(MidoMessages(part, "key_signature").size(), 1u) << name;
            std::vector<int> channels = Channels(part);
            std::sort(channels.begin(), channels.end());
            channels.erase(std::unique(channels.begin(), channels.end()), channels.end());
            if (by == "channel") {
                EXPECT_EQ(channels.size(), 1u) << name;
            }
            for (const Note& n : NotesOf(part)) together.push_back(n);
        }
        std::sort(together.begin(), together.end());
        EXPECT_EQ(together, all) << by;
    }
    const Result none = Cli("split " + Quote(DataPath("bad/header_length_eight.mid")) + " -o " +
                            Quote(MakeDir("split_none")));
    EXPECT_EQ(none.status, 0);
    EXPECT_TRUE(Contains(none.err, "no track with channel events: nothing written\n")) << none.err;
}

#endif  // MIDIFOLIO_CLI
