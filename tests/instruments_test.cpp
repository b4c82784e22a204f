// Instrument lists by track, by channel and for the whole song.
#include <gtest/gtest.h>

#include "analysis_support.h"

using namespace midifolio;
using namespace analysis_support;

namespace {

// "bank/program name low-high" for compact comparisons.
std::string Describe(const _INSTRUMENT& e) {
    return std::to_string(e.byBank) + "/" + std::to_string(e.byProgram) + " " + e.strName + " " +
           std::to_string(e.byLowNote) + "-" + std::to_string(e.byHighNote);
}
std::vector<std::string> Describe(const InstrumentArray& array) {
    std::vector<std::string> out;
    for (const _INSTRUMENT& e : array) out.push_back(Describe(e));
    return out;
}
using Lines = std::vector<std::string>;

}  // namespace

TEST(InstrumentRecord, ConstructorGivesTheEmptyRangeAndCopiesBankAndProgram) {
    _INSTRUMENT e(40, 3, "Violin");
    EXPECT_EQ(Describe(e), "3/40 Violin 127-0");
    EXPECT_EQ(e.byBankCopy, 3);
    EXPECT_EQ(e.byProgramCopy, 40);
    EXPECT_TRUE(_INSTRUMENT().strName.empty());
}

TEST(InstrumentsByTrack, NotesWithoutProgramChangeGiveTheDefaultInstrument) {
    Song s({TrackData(
        {Control(0, 0, 32, 4), On(0, 0, 50), On(10, 0, 70), Off(10, 0, 50), Off(0, 0, 70)})});
    ASSERT_EQ(s.loaded, 1);
    InstrumentArray array{_INSTRUMENT(1, 1, "x")};  // emptied first
    _INSTRUMENT r = s->GetInstrumentByTrack(0, array, 0);
    EXPECT_EQ(Describe(array), Lines({"4/0 Acoustic Grand 50-70"}));
    EXPECT_EQ(Describe(r), "4/0 Acoustic Grand 50-70");
    EXPECT_EQ(r.byBankCopy, 0);  // the default instrument's copy of the bank is 0

    // After a program change the working record keeps the empty range.
    Song violin({TrackData({Program(0, 1, 40), On(0, 1, 60), Off(10, 1, 60)})});
    ASSERT_EQ(violin.loaded, 1);
    EXPECT_EQ(Describe(violin->GetInstrumentByTrack(0, array, 0)), "0/40 Violin 127-0");
}

TEST(InstrumentsByTrack, NothingFoundGivesTheEmptyWorkingRecord) {
    Song s({TrackData({Program(0, 9, 3), On(0, 9, 36), Off(10, 9, 36)})});  // percussion only
    ASSERT_EQ(s.loaded, 1);
    for (int index : {0, -1, 1, 100}) {
        InstrumentArray array{_INSTRUMENT(1, 1, "x")};
        _INSTRUMENT r = s->GetInstrumentByTrack(index, array);
        EXPECT_TRUE(array.empty()) << index;
        // Empty name, program 255 and zeros everywhere else.
        EXPECT_EQ(Describe(r), "0/255  0-0") << index;
        EXPECT_EQ(r.byBankCopy, 0);
        EXPECT_EQ(r.byProgramCopy, 0);
    }
}

// One track each; the list by track 0 or by the channel named.
TEST(Instruments, ListsByTrackAndByChannelFollowProgramsBanksAndNotes) {
    const struct {
        const char* what;
        std::vector<Bytes> tracks;
        int channel;  // -1: by track 0
        Lines expected;
    } cases[] = {
        {"a program change collects the range of its notes",
         {TrackData(
             {Program(0, 1, 40), On(0, 1, 60), On(10, 1, 72), Off(10, 1, 60), Off(0, 1, 72)})},
         -1,
         {"0/40 Violin 60-72"}},
        {"one bend serves the whole track, up to two semitones: 60 at bend 0 counts as 58, 64 "
         "at 16383 as 65, note 0 at 4096 as -1, kept as 255",
         {TrackData({Program(0, 0, 0), Bend(0, 1, 0), On(0, 0, 60), Bend(10, 1, 16383),
                     On(0, 0, 64), Bend(10, 1, 4096), On(0, 0, 0), Bend(10, 1, 8192)})},
         -1,
         {"0/0 Acoustic Grand 58-255"}},
        {"note-offs and silent note-ons count",
         {TrackData({Program(0, 2, 10), Off(0, 2, 40), On(0, 2, 90, 0)})},
         -1,
         {"0/10 Music Box 40-90"}},
        {"bank and program pairs are listed once in order of first selection; a note updates "
         "every element of its channel's program, whatever the bank",
         {TrackData({Control(0, 0, 32, 1), Program(0, 0, 5), On(0, 0, 60), Control(10, 0, 32, 0),
                     Program(0, 0, 5), On(0, 0, 62), Program(10, 0, 5), Program(10, 0, 7),
                     On(0, 0, 30)})},
         -1,
         {"1/5 Chorused Piano 60-62", "0/5 Chorused Piano 62-62", "0/7 Clavinet 30-30"}},
        {"notes on a channel without program touch no element",
         {TrackData({Program(0, 0, 19), On(0, 1, 60), Off(10, 1, 60)})},
         -1,
         {"0/19 Church Organ 127-0"}},
        {"by channel, only sounded instruments are listed",
         {TrackData({Program(0, 3, 5), Control(0, 3, 32, 2)})},
         3,
         {}},
        {"a channel without events", {TrackData({Program(0, 3, 5), On(0, 3, 60)})}, 6, {}},
        {"by channel, notes before the first program belong to program 0; note-offs and "
         "silent note-ons do not count",
         {TrackData({On(0, 4, 55), Off(0, 4, 55), Program(10, 4, 40), On(0, 4, 60), On(10, 4, 72),
                     Off(0, 4, 80), On(0, 4, 90, 0)})},
         4,
         {"0/0 Acoustic Grand 55-55", "0/40 Violin 60-72"}},
        {"by channel, only a bend above the centre moves the note",
         {TrackData(
             {Program(0, 0, 1), Bend(0, 0, 0), On(0, 0, 60), Bend(10, 0, 16383), On(0, 0, 70)})},
         0,
         {"0/1 Bright Acoustic Paino 60-71"}},
        {"by channel, notes go to the current bank and program only: 61 falls between the bank "
         "change and the next program change; another track adds a later note",
         {TrackData({Control(0, 5, 32, 1), Program(0, 5, 5), On(0, 5, 60), Control(10, 5, 32, 0),
                     On(0, 5, 61), Program(0, 5, 5), On(0, 5, 62)}),
          TrackData({On(35, 5, 20)})},
         5,
         {"1/5 Chorused Piano 60-60", "0/5 Chorused Piano 20-62"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Song s(c.tracks);
        ASSERT_EQ(s.loaded, 1);
        InstrumentArray array{_INSTRUMENT(1, 1, "x")};  // emptied first
        if (c.channel < 0) {
            s->GetInstrumentByTrack(0, array);
        } else {
            s->GetInstrumentByChannel(c.channel, array);
        }
        EXPECT_EQ(Describe(array), c.expected);
    }
}

TEST(InstrumentsOfSong, TracksMergeAndRangesComeFromTheNoteUsageTable) {
    Song s({TrackData({Program(0, 0, 40), Bend(0, 0, 0), On(0, 0, 60), On(10, 0, 67),
                       Program(10, 1, 73), On(0, 1, 80)}),
            TrackData({Program(0, 2, 40), On(0, 2, 50), On(0, 9, 36), Program(0, 3, 11)}),
            TrackData({On(0, 5, 45)})});
    ASSERT_EQ(s.loaded, 1);
    InstrumentArray array;
    s->GetInstruments(array, 1);
    // Program 40's range comes from the note-usage table (no bend: 50..67); program 11 never
    // sounded and keeps its collapsed range 0-0; track 2 adds the default instrument.
    EXPECT_EQ(Describe(array), Lines({"0/40 Violin 50-67", "0/73 Flute 80-80",
                                      "0/11 Vibraphone 0-0", "0/0 Acoustic Grand 45-45"}));
    s->GetInstruments(array, 0);  // merging into the first result changes nothing
    EXPECT_EQ(array.size(), 4u);
    s->GetInstruments(array, 1);
    EXPECT_EQ(array.size(), 4u);
}

TEST(InstrumentsOfSong, ElementsTheArrayHeldGetTheirRangeFromTheTable) {
    Song s({TrackData({Program(0, 0, 2), On(0, 0, 61), On(0, 0, 63)})});
    ASSERT_EQ(s.loaded, 1);
    InstrumentArray array{_INSTRUMENT(2, 7, "kept"), _INSTRUMENT(100, 0, "unused")};
    s->GetInstruments(array, 0);
    EXPECT_EQ(Describe(array),
              Lines({"7/2 kept 61-63", "0/100 unused 127-0", "0/2 Electric Grand Piano 61-63"}));
}

TEST(InstrumentsOfSong, ChannelListsMergeWithoutThePercussionChannel) {
    Song s({TrackData({Program(0, 0, 24), On(0, 0, 40), Program(0, 9, 24), On(0, 9, 90)}),
            TrackData({Program(0, 3, 24), On(0, 3, 70), Program(0, 2, 33), On(0, 2, 30)})});
    ASSERT_EQ(s.loaded, 1);
    InstrumentArray array{_INSTRUMENT(33, 0, "held")};  // extended, never emptied
    s->GetInstrument(array);
    EXPECT_EQ(Describe(array), Lines({"0/33 held 30-30", "0/24 Acoustic Guitar(nylon) 40-70"}));
}
