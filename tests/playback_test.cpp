// Playback lookups on the song event list: note ends, controllers, pitch bends, the sustain
// pedal and the end of a track, found from a record's index.
#include <gtest/gtest.h>

#include <cstdint>

#include "midifolio/midifolio.h"
#include "test_support.h"

using namespace midifolio;
using namespace testsupport;

namespace {

const Bytes kEnd = B({0xFF, 0x2F, 0x00});

// 480 ticks per quarter at 120 beats per minute: 96 ticks are 100 ms. The song event list:
//   0 tempo @0 (ch 255)      5 bend ch9 @100           10 pedal 100 ch0 @384   15 bend ch0 @672
//   1 end of track 0 @0      6 on 62 ch0 @192          11 bend ch1 @400        16 ctl 7 ch0 @768
//   2 on 60 ch0 @0           7 off 36 ch9 @200         12 off 60 ch0 @480      17 off 60 ch0 @864
//   3 on 36 ch9 @0           8 pedal 0 ch0 @288        13 end of track 2 @500  18 end of track 1
//   4 pedal 127 ch0 @96      9 pedal 127 ch1 @300      14 on 62 vel 0 @576        @960
Bytes SongBytes() {
    const Bytes conductor = Cat({Vlq(0), kEnd});
    const Bytes melody = Cat({Vlq(0),  B({0x90, 60, 100}),
                              Vlq(96), B({0xB0, 64, 127}),
                              Vlq(96), B({0x90, 62, 100}),
                              Vlq(96), B({0xB0, 64, 0}),
                              Vlq(96), B({0xB0, 64, 100}),
                              Vlq(96), B({0x80, 60, 0}),
                              Vlq(96), B({0x90, 62, 0}),
                              Vlq(96), B({0xE0, 0x00, 0x50}),
                              Vlq(96), B({0xB0, 7, 100}),
                              Vlq(96), B({0x80, 60, 0}),
                              Vlq(96), kEnd});
    const Bytes other = Cat({Vlq(0), B({0x99, 36, 100}), Vlq(100), B({0xE9, 0x00, 0x30}), Vlq(100),
                             B({0x89, 36, 0}), Vlq(100), B({0xB1, 64, 127}), Vlq(100),
                             B({0xE1, 0x7F, 0x7F}), Vlq(100), kEnd});
    return Smf(1, 480, {conductor, melody, other});
}

class Playback : public ::testing::Test {
  protected:
    void SetUp() override {
        song.SetMessageSink(messages.Sink());
        ASSERT_EQ(song.LoadMidiFile(WriteFile("playback.mid", SongBytes())), 1);
        events = &song.MakeEventList();
        ASSERT_EQ(events->size(), 19u);
        // The layout the tests below rely on.
        ASSERT_EQ((*events)[2].event.byData1, 60);
        ASSERT_EQ((*events)[12].event.dwType, EVT_NOTEOFF);
        ASSERT_EQ((*events)[14].event.lTime, 576);
        ASSERT_EQ((*events)[18].event.lTime, 960);
    }
    MIDI_Event* At(int index) { return &(*events)[static_cast<size_t>(index)]; }

    Messages messages;
    CMidiFolio song;
    MidiEventList* events = nullptr;
};

}  // namespace

TEST_F(Playback, NoteOffIsTheFirstEndOfTheSameNoteAndChannel) {
    int sustain = 7;
    EXPECT_EQ(song.FindPlayNoteOff(2, sustain), At(12));
    EXPECT_EQ(sustain, 1);  // pedal pressed at 100 ms
    EXPECT_EQ(static_cast<int32_t>(At(12)->event.dwLength), -500);

    // A velocity-0 note-on ends a note; a release before a later press still leaves 1.
    EXPECT_EQ(song.FindPlayNoteOff(6, sustain), At(14));
    EXPECT_EQ(sustain, 1);
    EXPECT_EQ(static_cast<int32_t>(At(14)->event.dwLength), 200 - 600);

    // Pedal events of other channels do not count.
    EXPECT_EQ(song.FindPlayNoteOff(3, sustain), At(7));
    EXPECT_EQ(sustain, 0);
    EXPECT_EQ(static_cast<int32_t>(At(7)->event.dwLength), -208);  // 0 - 208.33 ms

    // Marks are not consulted: the same end is found again.
    EXPECT_EQ(song.FindPlayNoteOff(2, sustain), At(12));
}

TEST_F(Playback, NoteOffNeedsANoteOnStart) {
    int sustain = 7;
    EXPECT_EQ(song.FindPlayNoteOff(4, sustain), nullptr);  // a control change
    EXPECT_EQ(sustain, 0);
    sustain = 7;
    EXPECT_EQ(song.FindPlayNoteOff(0, sustain), nullptr);  // a meta event
    EXPECT_EQ(sustain, 0);
    // A velocity-0 note-on starts a search too; nothing ends note 62 after it.
    sustain = 7;
    EXPECT_EQ(song.FindPlayNoteOff(14, sustain), nullptr);
    EXPECT_EQ(sustain, 0);
    for (int index : {-1, 19, 1000}) {
        sustain = 7;
        EXPECT_EQ(song.FindPlayNoteOff(index, sustain), nullptr);
        EXPECT_EQ(sustain, 0);
    }
}

TEST_F(Playback, NextControlMatchesControllerValueAndChannel) {
    EXPECT_EQ(song.FindNextControl(2, 64, 127), At(4));
    EXPECT_EQ(song.FindNextControl(2, 64, 0), At(8));
    EXPECT_EQ(song.FindNextControl(2, 64, 100), At(10));
    EXPECT_EQ(song.FindNextControl(2, 7, 100), At(16));
    EXPECT_EQ(song.FindNextControl(4, 64, 127), nullptr);      // only later records count
    EXPECT_EQ(song.FindNextControl(2, 64, 256 + 127), At(4));  // the low byte of the value
    EXPECT_EQ(song.FindNextControl(2, 64, -1), nullptr);
    EXPECT_EQ(song.FindNextControl(3, 64, 127), nullptr);  // channel 9 has no controls
    EXPECT_EQ(song.FindNextControl(0, 64, 127), nullptr);  // channel 255 neither
    EXPECT_EQ(song.FindNextControl(9, 64, 127), nullptr);
    EXPECT_EQ(song.FindNextControl(19, 64, 127), nullptr);
    EXPECT_EQ(song.FindNextControl(-1, 64, 127), nullptr);
}

TEST_F(Playback, NextPitchBendStopsAtTheStopRecord) {
    EXPECT_EQ(song.FindNextPitchBend(2, nullptr), At(15));
    EXPECT_EQ(song.FindNextPitchBend(2, At(10)), nullptr);
    EXPECT_EQ(song.FindNextPitchBend(2, At(15)), nullptr);
    EXPECT_EQ(song.FindNextPitchBend(2, At(16)), At(15));
    EXPECT_EQ(song.FindNextPitchBend(2, At(0)), At(15));  // a stop before the start
    EXPECT_EQ(song.FindNextPitchBend(9, nullptr), At(11));
    EXPECT_EQ(song.FindNextPitchBend(3, nullptr), nullptr);  // percussion channel
    EXPECT_EQ(song.FindNextPitchBend(19, nullptr), nullptr);
}

TEST_F(Playback, NextPedalPressOrRelease) {
    EXPECT_EQ(song.FindNextPadel(2, 1), At(4));
    EXPECT_EQ(song.FindNextPadel(2, 0), At(8));  // skips the press
    EXPECT_EQ(song.FindNextPadel(4, 5), At(10));
    EXPECT_EQ(song.FindNextPadel(10, 1), nullptr);
    EXPECT_EQ(song.FindNextPadel(3, 1), nullptr);
    EXPECT_EQ(song.FindNextPadel(3, 0), nullptr);
    EXPECT_EQ(song.FindNextPadel(-3, 1), nullptr);
    EXPECT_EQ(song.FindNextPadel(19, 0), nullptr);
}

TEST_F(Playback, EndOfTrackIsReachedOnlyFromChannel255) {
    EXPECT_EQ(song.FindEndOfTrack(0), At(1));
    EXPECT_EQ(song.FindEndOfTrack(1), At(13));
    EXPECT_EQ(song.FindEndOfTrack(13), At(18));
    EXPECT_EQ(song.FindEndOfTrack(18), nullptr);  // nothing after it
    // From a channel message: the last later record of that channel.
    EXPECT_EQ(song.FindEndOfTrack(2), At(17));
    EXPECT_EQ(song.FindEndOfTrack(9), At(11));
    EXPECT_EQ(song.FindEndOfTrack(11), nullptr);
    EXPECT_EQ(song.FindEndOfTrack(19), nullptr);
    EXPECT_EQ(song.FindEndOfTrack(-1), nullptr);
}

TEST_F(Playback, LookupsNeverRebuildTheList) {
    song.FreeEventList();
    int sustain = 7;
    EXPECT_EQ(song.FindPlayNoteOff(0, sustain), nullptr);
    EXPECT_EQ(sustain, 0);
    EXPECT_EQ(song.FindNextControl(0, 64, 127), nullptr);
    EXPECT_EQ(song.FindNextPitchBend(0, nullptr), nullptr);
    EXPECT_EQ(song.FindNextPadel(0, 1), nullptr);
    EXPECT_EQ(song.FindEndOfTrack(0), nullptr);
    EXPECT_TRUE(events->empty());
}
