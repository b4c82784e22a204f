// The load report: where and why a refused file stopped, in plain words with track and byte,
// and the warnings for readings in which other tools differ; progress in bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <string>
#include <vector>

#include "generators.h"
#include "midifolio/midifolio.h"
#include "test_support.h"

using namespace midifolio;
using namespace testsupport;

namespace {

LoadReport Report(const std::string& path, int* result = nullptr) {
    CMidiFolio song;
    song.SetMessageSink([](const std::string&) {});
    const int r = song.LoadMidiFile(path);
    if (result != nullptr) *result = r;
    return song.GetLoadReport();
}

}  // namespace

TEST(LoadReport, NamesTheTrackTheByteAndTheCauseOfEveryRefusal) {
    const std::map<std::string, std::pair<LoadStop, std::string>> cases = {
        {"empty", {LoadStop::kHeaderCut, "at byte 0: the file is empty"}},
        {"not_midi_text",
         {LoadStop::kNotMidi, "at byte 0: the file starts with \"This\", not with a MIDI"}},
        {"format_two", {LoadStop::kFormatUnsupported, "at byte 8: format 2; only formats 0 and 1"}},
        {"smpte_division", {LoadStop::kTimeUnsupported, "at byte 12: the division 0x"}},
        {"format_zero_two_tracks",
         {LoadStop::kFormat0Tracks, "format 0 holds one track, but the header declares 2"}},
        {"private_chunk_between_tracks",
         {LoadStop::kNotATrack, "track 2 at byte 34: a chunk \"XPRV\" stands where a track"}},
        {"missing_last_track",
         {LoadStop::kChunkCut,
          "track 3 at byte 46: the header declares 3 tracks but the file "
          "ends after 2"}},
        {"length_2gib_minus_one",
         {LoadStop::kChunkTooLong,
          "track 2 at byte 30: the chunk claims 2,147,483,647 bytes but 4 remain"}},
        {"zero_length_second_track",
         {LoadStop::kEmptyTrack, "track 2 at byte 38: the track chunk holds no byte"}},
        {"channel_message_cut",
         {LoadStop::kEventCut, "track 1 at byte 23: a note-on needs 3 bytes but 2 remain"}},
        {"meta_length_huge",
         {LoadStop::kEventCut,
          "track 1 at byte 23: a meta event (type 0x01) claims 268,435,455 bytes but 2 remain"}},
        {"delta_vlq_all_ones",
         {LoadStop::kEventCut, "track 1 at byte 22: the chunk's first delta time is too long"}},
        {"delta_vlq_past_end",
         {LoadStop::kEventCut,
          "track 1 at byte 30: the delta time after an event runs past the end of the chunk"}},
        {"second_track_only_a_delta",
         {LoadStop::kEventCut,
          "track 2 at byte 43: the chunk ends after a delta time, before its event"}},
        {"sysex_length_vlq_past_end",
         {LoadStop::kEventCut, "the length of a sysex message runs past the end of the chunk"}},
    };
    for (const auto& [name, want] : cases) {
        int result = -1;
        const LoadReport r = Report(DataPath("bad/" + name + ".mid"), &result);
        EXPECT_EQ(result, 0) << name;
        EXPECT_EQ(r.result, 0) << name;
        EXPECT_FALSE(r.message.empty()) << name;
        EXPECT_EQ(r.stop, want.first) << name;
        EXPECT_NE(r.cause.find(want.second), std::string::npos) << name << ": " << r.cause;
    }
    const LoadReport missing = Report(TmpPath("no/such.mid"));
    EXPECT_EQ(missing.stop, LoadStop::kCannotOpen);
    EXPECT_EQ(missing.error, ENOENT);
}

TEST(LoadReport, WarnsOfReadingsOtherToolsDoNotShare) {
    const std::map<std::string, std::pair<LoadWarning, std::string>> cases = {
        {"bytes_after_end_of_track",
         {LoadWarning::kBytesAfterEnd,
          "track 1: 6 bytes after the end-of-track event (from byte 34) are not read"}},
        {"data_bytes_top_bit",
         {LoadWarning::kDataByteAbove127,
          "track 1: 2 channel messages have a data byte above 127"}},
        {"running_status_at_start",
         {LoadWarning::kDataWithoutStatus, "track 1: 1 data byte stands where no running status"}},
    };
    for (const auto& [name, want] : cases) {
        int result = -1;
        const LoadReport r = Report(DataPath("bad/" + name + ".mid"), &result);
        EXPECT_EQ(result, 1) << name;
        EXPECT_EQ(r.stop, LoadStop::kNone) << name;
        ASSERT_EQ(r.warnings.size(), 1u) << name;
        EXPECT_EQ(r.warnings[0].kind, want.first) << name;
        EXPECT_NE(r.warnings[0].text.find(want.second), std::string::npos) << r.warnings[0].text;
    }
    // One track declared, two more follow (one behind a private chunk); F7 packets.
    const Bytes end = B({0x00, 0xFF, 0x2F, 0x00});
    Bytes file = Smf(1, 96, {Cat({B({0x00, 0xF7, 0x00, 0xF7}), end})});
    file = Cat({file, Chunk("XPRV", B({1, 2, 3})), Track(end), Track(end)});
    const LoadReport extra = Report(WriteFile("extra.mid", file));
    EXPECT_EQ(extra.result, 1);
    ASSERT_EQ(extra.warnings.size(), 2u);
    EXPECT_EQ(extra.warnings[0].kind, LoadWarning::kMoreTracks);
    EXPECT_EQ(extra.warnings[0].count, 2u);
    EXPECT_EQ(extra.warnings[0].offset, 41);
    EXPECT_EQ(extra.warnings[1].kind, LoadWarning::kEscapedSysex);
    EXPECT_EQ(extra.warnings[1].count, 2u);
    // A clean corpus file has nothing to report.
    const LoadReport clean = Report(DataPath("corpus/freedink__2.mid"));
    EXPECT_EQ(clean.cause, "");
    EXPECT_TRUE(clean.warnings.empty());
}

TEST(LoadReport, ProgressFollowsTheBytesOfOneLongTrack) {
    struct Bytesseen : ProgressLog {
        std::vector<uint64_t> done;
        uint64_t total = 0;
        void SetBytes(uint64_t d, uint64_t t) override {
            done.push_back(d);
            total = t;
        }
    } progress;
    const Bytes song = benchgen::FileFormat0(3.0);
    CMidiFolio s;
    ASSERT_EQ(s.LoadMidiFile(WriteFile("long.mid", song), &progress), 1);
    ASSERT_GE(progress.done.size(), 3u);  // a megabyte at a time
    EXPECT_TRUE(std::is_sorted(progress.done.begin(), progress.done.end()));
    EXPECT_EQ(progress.done.back(), song.size());
    EXPECT_EQ(progress.total, song.size());
    EXPECT_EQ(progress.calls, (std::vector<std::string>{"range 0 1", "pos 0"}));
}
