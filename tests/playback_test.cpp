// Playback lookups on the song event list: note ends, controllers, pitch bends, the sustain
// pedal and the end of a track, found from a record's index.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

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
    // Index of a found record in the song event list, -1 for none.
    int Index(const MIDI_Event* found) { return found ? int(found - events->data()) : -1; }
    template <typename Find>
    std::vector<int> Indexes(std::initializer_list<int> from, Find find) {
        std::vector<int> out;
        for (int index : from) out.push_back(Index(find(index)));
        return out;
    }

    Messages messages;
    CMidiFolio song;
    MidiEventList* events = nullptr;
};

}  // namespace

// The note end is the first later end of the same note and channel (a velocity-0 note-on
// counts, pairing marks do not); its dwLength becomes minus the note's length in ms, and the
// sustain flag tells whether the pedal of that channel was down at its start.
TEST_F(Playback, NoteOffIsTheFirstEndOfTheSameNoteAndChannel) {
    std::vector<std::string> found;
    for (int index : {2, 6, 3, 2, 4, 0, 14, -1, 19}) {
        int sustain = 7;
        const int end = Index(song.FindPlayNoteOff(index, sustain));
        found.push_back(
            std::to_string(end) + " " + std::to_string(sustain) +
            (end < 0 ? "" : " " + std::to_string(int32_t((*events)[end].event.dwLength))));
    }
    EXPECT_EQ(found, (std::vector<std::string>{"12 1 -500", "14 1 -400", "7 0 -208", "12 1 -500",
                                               "-1 0", "-1 0", "-1 0", "-1 0", "-1 0"}));
}

// A later record of the same channel (255 never) with the controller and the value's low byte.
TEST_F(Playback, NextControlMatchesControllerValueAndChannel) {
    EXPECT_EQ(Indexes({2, 4, 3, 0, 9, 19, -1},
                      [this](int i) { return song.FindNextControl(i, 64, 127); }),
              (std::vector<int>{4, -1, -1, -1, -1, -1, -1}));
    EXPECT_EQ(Index(song.FindNextControl(2, 64, 0)), 8);
    EXPECT_EQ(Index(song.FindNextControl(2, 64, 100)), 10);
    EXPECT_EQ(Index(song.FindNextControl(2, 7, 100)), 16);
    EXPECT_EQ(Index(song.FindNextControl(2, 64, 256 + 127)), 4);
    EXPECT_EQ(Index(song.FindNextControl(2, 64, -1)), -1);
}

TEST_F(Playback, NextPitchBendStopsAtTheStopRecordAndPedalsMatchTheirDirection) {
    EXPECT_EQ(Indexes({-1, 10, 15, 16, 0},
                      [this](int stop) {
                          return song.FindNextPitchBend(2, stop < 0 ? nullptr : &(*events)[stop]);
                      }),
              (std::vector<int>{15, -1, -1, 15, 15}));  // a stop before the start does not stop
    EXPECT_EQ(Index(song.FindNextPitchBend(9, nullptr)), 11);
    EXPECT_EQ(Index(song.FindNextPitchBend(3, nullptr)), -1);  // percussion channel
    EXPECT_EQ(Index(song.FindNextPitchBend(19, nullptr)), -1);
    EXPECT_EQ(Indexes({2, 10, 3, -3}, [this](int i) { return song.FindNextPadel(i, 1); }),
              (std::vector<int>{4, -1, -1, -1}));
    EXPECT_EQ(Indexes({2, 3, 19}, [this](int i) { return song.FindNextPadel(i, 0); }),
              (std::vector<int>{8, -1, -1}));        // skips the press
    EXPECT_EQ(Index(song.FindNextPadel(4, 5)), 10);  // any non-zero asks for a press
}

// From channel 255 the next end of track; from a channel message the last later record of
// that channel.
TEST_F(Playback, EndOfTrackIsReachedOnlyFromChannel255) {
    EXPECT_EQ(
        Indexes({0, 1, 13, 18, 2, 9, 11, 19, -1}, [this](int i) { return song.FindEndOfTrack(i); }),
        (std::vector<int>{1, 13, 18, -1, 17, 11, -1, -1, -1}));
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
