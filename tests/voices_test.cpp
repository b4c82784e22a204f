// Voice conflicts: moments at which more notes sound than the synthesiser has voices.
// The songs here use 500 ticks per quarter note at 120 BPM, so one tick is one millisecond.
#include <gtest/gtest.h>

#include "analysis_support.h"

using namespace midifolio;
using namespace analysis_support;

namespace {

std::vector<std::pair<int, int>> Check(CMidiFolio& song, int voices,
                                       ConflictVoiceArray array = {}) {
    song.CheckMidiByVoice(voices, &array);
    std::vector<std::pair<int, int>> out;
    for (const _CONFLICTVOICE& c : array) out.emplace_back(c.lMsecs, c.nVoices);
    return out;
}
using Records = std::vector<std::pair<int, int>>;

}  // namespace

TEST(Voices, NotesStartingTogetherExceedTheLimitOnce) {
    Song s({TrackData({On(0, 0, 60), On(0, 0, 64), On(0, 0, 67), Off(1000, 0, 60), Off(0, 0, 64),
                       Off(0, 0, 67)})});
    ASSERT_EQ(s.loaded, 1);
    EXPECT_EQ(Check(s.song, 2), Records({{0, 3}}));
    EXPECT_EQ(Check(s.song, 3), Records());
    EXPECT_EQ(Check(s.song, 1), Records({{0, 3}}));  // one record per millisecond, last count
}

TEST(Voices, ANoteEndingWhenAnotherStartsDoesNotCollide) {
    Song s({TrackData({On(0, 0, 60), Off(500, 0, 60), On(0, 0, 62), On(100, 0, 64), Off(400, 0, 62),
                       Off(100, 0, 64)})});
    ASSERT_EQ(s.loaded, 1);
    EXPECT_EQ(Check(s.song, 1), Records({{600, 2}}));
}

TEST(Voices, SilentNoteOnsAndUnpairedNotesNeverCount) {
    // The unpaired note-ons follow a text event and note-offs, so their track records may
    // hold a length left over from those events; they still never sound.
    Song s({TrackData({On(0, 0, 60), On(0, 0, 61, 0), Text(0, "hello"), On(0, 0, 70), On(10, 0, 62),
                       Off(90, 0, 60), Off(0, 0, 62), On(100, 0, 72)})});
    ASSERT_EQ(s.loaded, 1);
    EXPECT_EQ(Check(s.song, 1), Records({{10, 2}}));
    EXPECT_EQ(Check(s.song, 0), Records({{0, 1}, {10, 2}}));
    // A negative limit reports every counted note-on, even one that leaves nothing sounding.
    EXPECT_EQ(Check(s.song, -1), Records({{0, 1}, {10, 2}, {200, 0}}));
}

TEST(Voices, AllTracksAndChannelsCountThePercussionChannelIncluded) {
    Song s({TrackData({On(0, 0, 60), Off(100, 0, 60)}), TrackData({On(20, 9, 36), Off(100, 9, 36)}),
            TrackData({On(50, 5, 40), Off(100, 5, 40), On(0, 5, 41), Off(10, 5, 41)})});
    ASSERT_EQ(s.loaded, 1);
    // At 50: three sound. At 150: note 60 ended at 100, note 36 ends at 120: one sounds.
    EXPECT_EQ(Check(s.song, 1), Records({{20, 2}, {50, 3}}));
    EXPECT_EQ(Check(s.song, 2), Records({{50, 3}}));
}

TEST(Voices, EachNoteEndsAtTheFirstFreeNoteOffOfItsOwnTrack) {
    // A stray note-off before the notes, a silent note-on as an end, and a note-off of the
    // same channel and note in another track, which ends nothing here.
    Song s({TrackData({Off(0, 0, 60), On(0, 0, 60), On(100, 0, 60), On(100, 0, 60, 0),
                       On(50, 0, 61), Off(50, 0, 60), Off(0, 0, 61)}),
            TrackData({Off(50, 0, 60)})});
    ASSERT_EQ(s.loaded, 1);
    // At 100: both notes of pitch 60 sound. At 250: the first ended at 200, the second
    // lasts until 300.
    EXPECT_EQ(Check(s.song, 1), Records({{100, 2}, {250, 2}}));
}

TEST(Voices, TheSameQueryGivesTheSameRecordsEveryTime) {
    Song s({TrackData({On(0, 0, 60), On(0, 0, 62), Off(300, 0, 60), Off(0, 0, 62)})});
    ASSERT_EQ(s.loaded, 1);
    const Records first = Check(s.song, 1);
    EXPECT_EQ(first, Records({{0, 2}}));
    EXPECT_EQ(Check(s.song, 1), first);
    MidiEventList list;
    s->GetMIDIByTime(TF_MSEC, MakeTicks(0), MakeTicks(-1), list);  // another query between
    EXPECT_EQ(Check(s.song, 1), first);
}

TEST(Voices, RecordsAlreadyInTheArrayStayAndTheLastMayBeReplaced) {
    Song s({TrackData({On(0, 0, 60), On(0, 0, 62), On(10, 0, 64), Off(90, 0, 60), Off(0, 0, 62),
                       Off(0, 0, 64)})});
    ASSERT_EQ(s.loaded, 1);
    EXPECT_EQ(Check(s.song, 1, {{-5, 9}, {0, 9}}), Records({{-5, 9}, {0, 2}, {10, 3}}));
    EXPECT_EQ(Check(s.song, 1, {{3, 9}}), Records({{3, 9}, {0, 2}, {10, 3}}));
}

TEST(Voices, MillisecondsAreWholeAndLengthsComeFromTheTempoMap) {
    // 480 ticks per quarter note: tick 1 is 1.04 ms and counts as 1 ms. The first note lasts
    // ticks 0..960 = 1000 ms; a tempo change at tick 480 to 250000 us halves the second half.
    Song s({TrackData({On(0, 0, 60), On(1, 0, 61), Off(479, 0, 61), On(0, 0, 62),
                       Ev(0, {0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90}), Off(480, 0, 60), On(0, 0, 63),
                       Off(0, 0, 62), Off(1, 0, 63)})},
           480);
    ASSERT_EQ(s.loaded, 1);
    // Times: 60 at 0 ms (ends 750), 61 at 1 ms (ends 500), 62 at 500 ms (ends 750), and 63 at
    // 750 ms lasts under a millisecond, so it never sounds.
    EXPECT_EQ(Check(s.song, 1), Records({{1, 2}, {500, 2}}));
}

TEST(Voices, ASongWithoutNotesOrWithoutAnArrayChangesNothing) {
    Song s({TrackData({Text(0, "no notes"), Program(0, 0, 5)})});
    ASSERT_EQ(s.loaded, 1);
    EXPECT_EQ(Check(s.song, -5, {{1, 1}}), Records({{1, 1}}));
    s->CheckMidiByVoice(0, nullptr);
    CMidiFolio empty;
    EXPECT_EQ(Check(empty, -1), Records());
}
