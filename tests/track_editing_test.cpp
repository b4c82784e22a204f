// The track object: traversal, copying, editing the event list in place, sorting by time,
// note-off pairing and the conversion of event times to milliseconds.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "midifolio/midifolio.h"
#include "test_support.h"

using namespace midifolio;
using testsupport::B;
using testsupport::Bytes;

namespace {

MIDIEvent Ev(int32_t time, uint8_t d1, uint32_t type = EVT_NOTEON, uint8_t ch = 0,
             uint8_t d2 = 100) {
    return MIDIEvent{time, 0, 0, ch, type, {d1, d2, 0, 0}, 0, nullptr};
}

MIDIEvent Text(const Bytes& payload, uint32_t type = EVT_META) {
    MIDIEvent ev{
        0, 0, 0, 255, type, {}, uint32_t(payload.size()), const_cast<uint8_t*>(payload.data())};
    ev.dwSubType = META_TEXT;
    return ev;
}

std::vector<int> NotesOf(const CMidiTrack& track) {
    std::vector<int> notes;
    for (POSITION pos = track.GetEventHeadPosition(); pos != nullptr;)
        notes.push_back(track.GetNextEvent(pos).byData1);
    return notes;
}

int Decode(CMidiTrack& track, const Bytes& data) {
    return track.SetMidiTrackRawData(data.data(), static_cast<int32_t>(data.size()));
}

}  // namespace

TEST(TrackObject, TraversalAndIndexVisitEveryEventAndWriteInPlace) {
    CMidiTrack track;
    for (int i = 0; i < 10; ++i) track.InsertEventAfter(nullptr, Ev(i, static_cast<uint8_t>(i)));
    EXPECT_EQ(NotesOf(track), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(track.FindIndex(-1), nullptr);
    EXPECT_EQ(track.FindIndex(10), nullptr);
    EXPECT_EQ(track.FindIndex(9), track.GetTailPosition());
    EXPECT_EQ(track.GetAt(track.FindIndex(4)).byData1, 4);
    POSITION p = track.GetEventHeadPosition();
    track.GetNextPtr(p)->byData2 = 1;
    track.GetEventPtrAt(p).byData2 = 2;
    EXPECT_EQ(track.GetAt(track.FindIndex(0)).byData2, 1);
    EXPECT_EQ(track.GetAt(track.FindIndex(1)).byData2, 2);
    // The index follows edits.
    track.InsertEventAfter(track.FindIndex(1), Ev(0, 42));
    EXPECT_EQ(track.DeleteEvent(track.FindIndex(0)), 1);
    EXPECT_EQ(track.GetAt(track.FindIndex(1)).byData1, 42);
    EXPECT_EQ(track.FindIndex(9), track.GetTailPosition());

    // Const calls from several threads at once, on an index not yet built, agree (and are
    // race-free under ThreadSanitizer).
    track.SortTrackByLTime(nullptr);
    std::vector<POSITION> seen[4];
    std::thread threads[4];
    for (int k = 0; k < 4; ++k)
        threads[k] = std::thread([&, k] {
            for (int i = 0; i < 10; ++i) seen[k].push_back(track.FindIndex(i));
        });
    for (std::thread& thread : threads) thread.join();
    for (const auto& positions : seen) EXPECT_EQ(positions, seen[0]);
}

TEST(TrackObject, CopiesOwnTheirNodesAndPayloadsAndOutliveRemoveAllPt) {
    CMidiTrack track;
    const Bytes data =
        B({0x00, 0xFF, 0x03, 0x02, 'h', 'i', 0x00, 0x99, 40, 1, 0x00, 0xFF, 0x2F, 0x00});
    ASSERT_EQ(Decode(track, data), 1);
    track.SetTrackNum(3);
    CMidiTrack copy(track);
    CMidiTrack assigned;
    assigned.InsertEventAfter(nullptr, Ev(0, 1));
    assigned = track;
    const CMidiTrack& self = assigned;
    assigned = self;  // self-assignment keeps everything
    // Count, track number, raw length, note usage and the events.
    auto describe = [](const CMidiTrack& t) {
        std::string events;
        for (POSITION pos = t.GetEventHeadPosition(); pos; pos = pos->pNext)
            events += " " + testsupport::Canonical(*pos);
        return std::to_string(t.GetCount()) + " " + std::to_string(t.GetTrackNum()) + " " +
               std::to_string(t.GetTrkLen()) + " " +
               std::to_string(t.GetNoteUsage(NOTE_USAGE_PERCUSSION_ROW, 40)) + events;
    };
    track.RemoveAllPt();  // keeps the raw length and the note usage
    EXPECT_EQ(describe(track), "0 3 14 1");
    EXPECT_EQ(describe(copy), "3 3 14 1 meta 03 6869 noteon 9 40 1 meta 2f -");
    EXPECT_EQ(describe(assigned), describe(copy));
    EXPECT_NE(copy.GetEventHeadPosition(), assigned.GetEventHeadPosition());
}

TEST(TrackEditing, InsertedPayloadsAreTheTracksOwnCopies) {
    CMidiTrack track;
    Bytes payload = B({'h', 'e', 'l', 'l', 'o'});
    const POSITION first = track.InsertEventAfter(nullptr, Text(payload));
    const POSITION second = track.InsertEventAfter(first, Text(payload, EVT_SYSEXESC));
    EXPECT_EQ(track.GetTrkLen(), 2 * (32 + 5));  // 32 per event plus the payload
    payload.assign(5, 0);
    for (POSITION pos : {first, second}) EXPECT_EQ(std::memcmp(pos->pData, "hello", 5), 0);
    // A payload length without a caller buffer gives a zeroed buffer of that length.
    MIDIEvent blank = Text(Bytes());
    blank.dwLength = 3;
    const POSITION stored = track.InsertEventAfter(nullptr, blank);
    EXPECT_EQ(Bytes(stored->pData, stored->pData + 3), B({0, 0, 0}));
    // Other kinds keep the caller's pointer value and add no payload length.
    MIDIEvent note = Ev(0, 60);
    note.pData = payload.data();
    note.dwLength = 1000;
    const int32_t before = track.GetTrkLen();
    EXPECT_EQ(track.GetAt(track.InsertEventAfter(nullptr, &note)).pData, payload.data());
    EXPECT_EQ(track.GetTrkLen(), before + 32);
}

TEST(TrackEditing, InsertingAndDeletingKeepTheListWholeButNeverDeleteTheLast) {
    CMidiTrack track;
    const POSITION a = track.InsertEventAfter(nullptr, Text(B({'h', 'i'})));
    EXPECT_EQ(track.GetTailPosition(), a);
    EXPECT_EQ(track.GetLastResult(), 1);
    const POSITION c = track.InsertEventAfter(nullptr, Ev(0, 3));
    const POSITION b = track.InsertEventAfter(a, Ev(0, 2));
    const POSITION d = track.InsertEventAfter(c, Ev(0, 4));
    EXPECT_EQ(track.GetTailPosition(), d);
    EXPECT_EQ(NotesOf(track), (std::vector<int>{1, 2, 3, 4}));  // the text meta shows its type
    EXPECT_EQ(track.InsertEventAfter(a, static_cast<const MIDIEvent*>(nullptr)), nullptr);
    EXPECT_EQ(track.GetLastResult(), 1);  // a null event leaves the flag alone

    const int32_t length = track.GetTrkLen();
    EXPECT_EQ(track.DeleteEvent(d), 0);  // the tail stays
    EXPECT_EQ(track.GetLastResult(), 0);
    EXPECT_EQ(track.DeleteEvent(a), 1);  // the head, with its payload
    EXPECT_EQ(track.GetEventHeadPosition(), b);
    EXPECT_EQ(track.DeleteEvent(c), 1);  // a middle event
    EXPECT_EQ(NotesOf(track), (std::vector<int>{2, 4}));
    EXPECT_EQ(track.GetTrkLen(), length);  // deletion does not lower the length
    CMidiTrack other;
    const POSITION foreign = other.InsertEventAfter(nullptr, Ev(0, 9));
    other.InsertEventAfter(nullptr, Ev(0, 9));
    EXPECT_EQ(track.DeleteEvent(foreign), 0);  // not in this list: nothing changes
    EXPECT_EQ(track.DeleteEvent(nullptr), 0);
    EXPECT_EQ(track.GetCount(), 2);

    CMidiTrack empty;
    EXPECT_EQ(empty.InsertEventAfter(a, Ev(0, 1)), nullptr);
    EXPECT_EQ(empty.GetLastResult(), 0);
    EXPECT_EQ(empty.DeleteEvent(nullptr), 0);
    EXPECT_EQ(empty.GetCount(), 0);
}

TEST(TrackEditing, GetEventFindsTheFirstEventAtATimeWhateverItsType) {
    CMidiTrack track;
    for (auto [time, note] : {std::pair<int, int>{0, 1}, {10, 2}, {10, 3}})
        track.InsertEventAfter(nullptr, Ev(time, static_cast<uint8_t>(note)));
    MIDIEvent ev = Ev(-1, 99);
    EXPECT_EQ(track.GetEvent(10, EVT_CONTROL, &ev), 1);
    EXPECT_EQ(ev.byData1, 2);
    ev = Ev(-1, 99);
    EXPECT_EQ(track.GetEvent(5, EVT_NOTEON, &ev), 0);
    EXPECT_EQ(ev.byData1, 99);
}

TEST(TrackOrdering, SortIsStableByTimeKeepsPositionsAndRebuildsDeltas) {
    CMidiTrack track;
    const POSITION e1 = track.InsertEventAfter(nullptr, Ev(10, 1));
    const POSITION e2 = track.InsertEventAfter(nullptr, Ev(0, 2));
    const POSITION e3 = track.InsertEventAfter(nullptr, Ev(10, 3));
    const POSITION e4 = track.InsertEventAfter(nullptr, Ev(5, 4));
    int32_t end = -1;
    EXPECT_EQ(track.SortTrackByLTime(&end), 1);
    EXPECT_EQ(end, 10);
    std::vector<POSITION> order;
    for (POSITION pos = track.GetEventHeadPosition(); pos != nullptr; pos = pos->pNext)
        order.push_back(pos);
    EXPECT_EQ(order, (std::vector<POSITION>{e2, e4, e1, e3}));
    std::vector<uint32_t> deltas;
    for (POSITION pos : order) deltas.push_back(track.GetAt(pos).dwDelta);
    EXPECT_EQ(deltas, (std::vector<uint32_t>{5, 5, 0, 120}));  // the last one is 120
    EXPECT_EQ(track.GetTailPosition(), e3);
    EXPECT_EQ(track.FindIndex(1), e4);

    // Negative times sort first, as signed numbers.
    CMidiTrack neg;
    neg.InsertEventAfter(nullptr, Ev(3, 1));
    neg.InsertEventAfter(nullptr, Ev(-3, 2));
    EXPECT_EQ(neg.SortTrackByLTime(&end), 1);
    EXPECT_EQ(end, 3);
    EXPECT_EQ(neg.GetAt(neg.GetEventHeadPosition()).dwDelta, 6u);
}

TEST(TrackOrdering, ShortOrBrokenListsAreLeftAlone) {
    CMidiTrack one;
    one.InsertEventAfter(nullptr, Ev(7, 1));
    int32_t end = -1;
    EXPECT_EQ(one.SortTrackByLTime(&end), 1);
    EXPECT_EQ(end, -1);
    // A chain cut short from outside: the count exceeds the linked nodes.
    CMidiTrack cut;
    const POSITION head = cut.InsertEventAfter(nullptr, Ev(9, 1));
    cut.InsertEventAfter(nullptr, Text(B({'x', 'y'})));
    cut.InsertEventAfter(nullptr, Ev(1, 1));
    head->pNext = nullptr;
    EXPECT_EQ(cut.SortTrackByLTime(&end), 0);
    EXPECT_EQ(cut.GetEventHeadPosition(), head);
    // The unlinked nodes and their payloads are still released with the track.
}

TEST(NoteOffPairing, EachNoteOnTakesTheNextFreeEndOfItsChannelAndNote) {
    CMidiTrack track;
    const POSITION first = track.InsertEventAfter(nullptr, Ev(0, 60));
    const POSITION second = track.InsertEventAfter(nullptr, Ev(1, 60));
    track.InsertEventAfter(nullptr, Ev(2, 60, EVT_NOTEOFF, 1, 0));  // another channel
    track.InsertEventAfter(nullptr, Ev(3, 61, EVT_NOTEOFF, 0, 0));  // another note
    track.InsertEventAfter(nullptr, Ev(4, 60, EVT_NOTEON, 0, 0));   // a silent note-on ends
    track.InsertEventAfter(nullptr, Ev(5, 60, EVT_NOTEOFF, 0, 0));
    MIDIEvent off{};
    EXPECT_EQ(track.GetNextNoteOff(first, off), 1);
    EXPECT_EQ(off.lTime, 4);
    EXPECT_NE(off.dwLength, PAIRING_MARK);  // the copy shows the value before marking
    EXPECT_EQ(track.GetNextNoteOff(second, off), 1);
    EXPECT_EQ(off.lTime, 5);
    EXPECT_EQ(track.GetAt(track.GetTailPosition()).dwLength, PAIRING_MARK);
    // Handed out once: a second search finds nothing and leaves the record alone.
    off.lTime = -9;
    EXPECT_EQ(track.GetNextNoteOff(first, off), 0);
    EXPECT_EQ(off.lTime, -9);
    track.ClearPairingMarks();
    EXPECT_EQ(track.GetNextNoteOff(first, off), 1);
    EXPECT_EQ(off.lTime, 4);
    // Only a sounding note-on starts a search.
    track.ClearPairingMarks();
    EXPECT_EQ(track.GetNextNoteOff(track.FindIndex(4), off), 0);  // velocity 0
    EXPECT_EQ(track.GetNextNoteOff(track.FindIndex(2), off), 0);  // a note-off
    EXPECT_EQ(track.GetNextNoteOff(nullptr, off), 0);
}

TEST(TrackTiming, Convert2MSecondGoesThroughTheTempoMapAndKeepsDeltasInTicks) {
    CMidiTempo tempo;
    tempo.SetTicksPerQuarterNote(480);
    tempo.GetTempos() = {_TEMPO{0, 0, 0, 500000}};
    tempo.ReCalculateTempolst();
    CMidiTrack track;
    track.SetTempoObject(&tempo);
    const POSITION a = track.InsertEventAfter(nullptr, Ev(960, 60));
    const POSITION b = track.InsertEventAfter(nullptr, Ev(1, 60));
    track.GetEventPtrAt(a).dwDelta = 7;
    EXPECT_EQ(track.Convert2MSecond(), 1);
    EXPECT_EQ(std::to_string(track.GetAt(a).lTime) + " " + std::to_string(track.GetAt(b).lTime) +
                  " " + std::to_string(track.GetAt(a).dwDelta),
              "1000 1 7");
    // A map without any tempo answers -1, which the rounding turns into 0.
    CMidiTempo empty;
    track.SetTempoObject(&empty);
    EXPECT_EQ(track.Convert2MSecond(), 1);
    EXPECT_EQ(track.GetAt(a).lTime, 0);
    // No map at all: nothing to convert with, the times stay as they are.
    CMidiTrack alone;
    const POSITION c = alone.InsertEventAfter(nullptr, Ev(960, 60));
    EXPECT_EQ(alone.Convert2MSecond(), 0);
    EXPECT_EQ(alone.GetAt(c).lTime, 960);
}
