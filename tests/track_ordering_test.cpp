// Sorting a track by time, note-off pairing and conversion of event times to milliseconds.
#include <gtest/gtest.h>

#include <vector>

#include "midifolio/midifolio.h"
#include "test_support.h"

using namespace midifolio;
using testsupport::B;
using testsupport::Bytes;

namespace {

MIDIEvent Ev(int32_t time, uint32_t type, uint8_t ch, uint8_t d1, uint8_t d2) {
    MIDIEvent ev{};
    ev.lTime = time;
    ev.dwType = type;
    ev.byChannel = ch;
    ev.byData1 = d1;
    ev.byData2 = d2;
    return ev;
}

}  // namespace

TEST(TrackOrdering, SortIsStableByTimeAndRebuildsDeltas) {
    CMidiTrack track;
    const POSITION e1 = track.InsertEventAfter(nullptr, Ev(10, EVT_NOTEON, 0, 1, 1));
    const POSITION e2 = track.InsertEventAfter(nullptr, Ev(0, EVT_NOTEON, 0, 2, 1));
    const POSITION e3 = track.InsertEventAfter(nullptr, Ev(10, EVT_NOTEON, 0, 3, 1));
    const POSITION e4 = track.InsertEventAfter(nullptr, Ev(5, EVT_NOTEON, 0, 4, 1));
    int32_t end = -1;
    EXPECT_EQ(track.SortTrackByLTime(&end), 1);
    EXPECT_EQ(end, 10);
    std::vector<POSITION> order;
    for (POSITION pos = track.GetEventHeadPosition(); pos != nullptr; pos = pos->pNext)
        order.push_back(pos);
    EXPECT_EQ(order, (std::vector<POSITION>{e2, e4, e1, e3}));  // positions stay valid
    EXPECT_EQ(track.GetAt(e2).dwDelta, 5u);
    EXPECT_EQ(track.GetAt(e4).dwDelta, 5u);
    EXPECT_EQ(track.GetAt(e1).dwDelta, 0u);
    EXPECT_EQ(track.GetAt(e3).dwDelta, 120u);
    EXPECT_EQ(track.GetTailPosition(), e3);
    EXPECT_EQ(track.FindIndex(1), e4);
    EXPECT_EQ(track.SortTrackByLTime(nullptr), 1);

    // Negative times sort first, as signed numbers.
    CMidiTrack neg;
    neg.InsertEventAfter(nullptr, Ev(3, EVT_NOTEON, 0, 1, 1));
    neg.InsertEventAfter(nullptr, Ev(-3, EVT_NOTEON, 0, 2, 1));
    EXPECT_EQ(neg.SortTrackByLTime(&end), 1);
    EXPECT_EQ(end, 3);
    EXPECT_EQ(neg.GetAt(neg.GetEventHeadPosition()).dwDelta, 6u);
}

TEST(TrackOrdering, ShortOrBrokenListsAreLeftAlone) {
    CMidiTrack one;
    one.InsertEventAfter(nullptr, Ev(7, EVT_NOTEON, 0, 1, 1));
    int32_t end = -1;
    EXPECT_EQ(one.SortTrackByLTime(&end), 1);
    EXPECT_EQ(end, -1);
    CMidiTrack none;
    EXPECT_EQ(none.SortTrackByLTime(&end), 1);

    // A chain cut short from outside: the count exceeds the linked nodes.
    CMidiTrack cut;
    const Bytes text = B({'x', 'y'});
    MIDIEvent meta = Ev(0, EVT_META, 255, 0, 0);
    meta.dwSubType = 1;
    meta.dwLength = 2;
    meta.pData = const_cast<uint8_t*>(text.data());
    const POSITION head = cut.InsertEventAfter(nullptr, Ev(9, EVT_NOTEON, 0, 1, 1));
    cut.InsertEventAfter(nullptr, meta);
    cut.InsertEventAfter(nullptr, Ev(1, EVT_NOTEON, 0, 1, 1));
    head->pNext = nullptr;
    EXPECT_EQ(cut.SortTrackByLTime(&end), 0);
    EXPECT_EQ(end, -1);
    EXPECT_EQ(cut.GetEventHeadPosition(), head);
    // The unlinked nodes and their payloads are still released with the track.
}

TEST(TrackOrdering, SortedTrackEncodesWithFreshDeltas) {
    CMidiTrack track;
    MIDIEvent end = Ev(960, EVT_META, 255, 0, 0);
    end.dwSubType = 0x2F;
    track.InsertEventAfter(nullptr, end);
    track.InsertEventAfter(nullptr, Ev(480, EVT_NOTEOFF, 0, 60, 0));
    track.InsertEventAfter(nullptr, Ev(0, EVT_NOTEON, 0, 60, 100));
    ASSERT_EQ(track.SortTrackByLTime(nullptr), 1);
    Bytes out(track.GetEncodedSize());
    uint8_t* p = out.data();
    int32_t length = static_cast<int32_t>(out.size());
    ASSERT_EQ(track.GetMidiTrackRawData(p, length), 1);
    EXPECT_EQ(out, B({0x00, 0x90, 60, 100, 0x83, 0x60, 0x80, 60, 0, 0x83, 0x60, 0xFF, 0x2F, 0x00}));
}

TEST(TrackOrdering, NoteOffPairingMatchesChannelAndNote) {
    CMidiTrack track;
    const POSITION on = track.InsertEventAfter(nullptr, Ev(0, EVT_NOTEON, 0, 60, 100));
    track.InsertEventAfter(nullptr, Ev(1, EVT_NOTEOFF, 1, 60, 0));
    track.InsertEventAfter(nullptr, Ev(2, EVT_NOTEOFF, 0, 61, 0));
    track.InsertEventAfter(nullptr, Ev(3, EVT_NOTEON, 0, 60, 0));
    MIDIEvent off{};
    EXPECT_EQ(track.GetNextNoteOff(on, off), 1);
    EXPECT_EQ(off.lTime, 3);
    EXPECT_NE(off.dwLength, PAIRING_MARK);  // the copy shows the value before marking
    EXPECT_EQ(track.GetAt(track.GetTailPosition()).dwLength, PAIRING_MARK);
    // Handed out once: a second search finds nothing and leaves the record alone.
    off.lTime = -9;
    EXPECT_EQ(track.GetNextNoteOff(on, off), 0);
    EXPECT_EQ(off.lTime, -9);
    // Clearing the marks makes every note-off available again.
    track.ClearPairingMarks();
    EXPECT_EQ(track.GetNextNoteOff(on, off), 1);
    EXPECT_EQ(off.lTime, 3);
}

TEST(TrackOrdering, RepeatedNotesPairInOrder) {
    CMidiTrack track;
    const POSITION first = track.InsertEventAfter(nullptr, Ev(0, EVT_NOTEON, 0, 60, 100));
    const POSITION second = track.InsertEventAfter(nullptr, Ev(1, EVT_NOTEON, 0, 60, 100));
    track.InsertEventAfter(nullptr, Ev(2, EVT_NOTEOFF, 0, 60, 0));
    track.InsertEventAfter(nullptr, Ev(3, EVT_NOTEOFF, 0, 60, 0));
    MIDIEvent off{};
    EXPECT_EQ(track.GetNextNoteOff(first, off), 1);
    EXPECT_EQ(off.lTime, 2);
    EXPECT_EQ(track.GetNextNoteOff(second, off), 1);
    EXPECT_EQ(off.lTime, 3);
}

TEST(TrackOrdering, OnlyASoundingNoteOnStartsASearch) {
    CMidiTrack track;
    const POSITION silent = track.InsertEventAfter(nullptr, Ev(0, EVT_NOTEON, 0, 60, 0));
    const POSITION control = track.InsertEventAfter(nullptr, Ev(0, EVT_CONTROL, 0, 60, 100));
    track.InsertEventAfter(nullptr, Ev(1, EVT_NOTEOFF, 0, 60, 0));
    MIDIEvent off{};
    EXPECT_EQ(track.GetNextNoteOff(silent, off), 0);
    EXPECT_EQ(track.GetNextNoteOff(control, off), 0);
    EXPECT_EQ(track.GetNextNoteOff(nullptr, off), 0);
    const POSITION last = track.InsertEventAfter(nullptr, Ev(2, EVT_NOTEON, 0, 60, 1));
    EXPECT_EQ(track.GetNextNoteOff(last, off), 0);  // nothing follows it
}

TEST(TrackOrdering, ConvertToMillisecondsThroughTheTempoMap) {
    CMidiTempo tempo;
    tempo.SetTicksPerQuarterNote(480);
    _TEMPO t{0, 0, 0, 500000};
    tempo.SetTempo(t);
    tempo.ReCalculateTempolst();
    CMidiTrack track;
    track.SetTempoObject(&tempo);
    const POSITION a = track.InsertEventAfter(nullptr, Ev(960, EVT_NOTEON, 0, 60, 1));
    const POSITION b = track.InsertEventAfter(nullptr, Ev(1, EVT_NOTEON, 0, 60, 1));
    track.GetEventPtrAt(a).dwDelta = 7;
    EXPECT_EQ(track.Convert2MSecond(), 1);
    EXPECT_EQ(track.GetAt(a).lTime, 1000);
    EXPECT_EQ(track.GetAt(b).lTime, 1);
    EXPECT_EQ(track.GetAt(a).dwDelta, 7u);  // deltas stay in ticks

    // A map without any tempo answers -1, which the rounding turns into 0.
    CMidiTempo empty;
    track.SetTempoObject(&empty);
    EXPECT_EQ(track.Convert2MSecond(), 1);
    EXPECT_EQ(track.GetAt(a).lTime, 0);

    // No map at all: nothing to convert with, the times stay as they are.
    CMidiTrack alone;
    const POSITION c = alone.InsertEventAfter(nullptr, Ev(960, EVT_NOTEON, 0, 60, 1));
    EXPECT_EQ(alone.Convert2MSecond(), 0);
    EXPECT_EQ(alone.GetAt(c).lTime, 960);
}
