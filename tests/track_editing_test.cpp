// The track object: accessors, traversal, copying, and editing the event list in place.
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

MIDIEvent Note(int32_t time, uint8_t note = 60, uint32_t type = EVT_NOTEON) {
    MIDIEvent ev{};
    ev.lTime = time;
    ev.dwType = type;
    ev.byData1 = note;
    ev.byData2 = 100;
    return ev;
}

MIDIEvent Text(const Bytes& payload, uint32_t type = EVT_META) {
    MIDIEvent ev{};
    ev.dwType = type;
    ev.dwSubType = 0x01;
    ev.byChannel = 255;
    ev.dwLength = static_cast<uint32_t>(payload.size());
    ev.pData = const_cast<uint8_t*>(payload.data());
    return ev;
}

std::vector<uint8_t> NotesOf(const CMidiTrack& track) {
    std::vector<uint8_t> notes;
    for (POSITION pos = track.GetEventHeadPosition(); pos != nullptr;)
        notes.push_back(track.GetNextEvent(pos).byData1);
    return notes;
}

}  // namespace

TEST(TrackObject, NewTrackIsEmpty) {
    CMidiTrack track;
    EXPECT_EQ(track.GetTrackNum(), 255);
    EXPECT_EQ(track.GetCount(), 0);
    EXPECT_EQ(track.GetTrackEventNums(), 0);
    EXPECT_EQ(track.GetTrkLen(), 0);
    EXPECT_EQ(track.GetISValidatePercuss(), 0);
    EXPECT_EQ(track.GetPercussValid(), 1);
    EXPECT_EQ(track.GetLastResult(), 0);
    EXPECT_EQ(track.GetTempoObject(), nullptr);
    EXPECT_EQ(track.GetEventHeadPosition(), nullptr);
    EXPECT_EQ(track.GetTailPosition(), nullptr);
    EXPECT_EQ(track.FindIndex(0), nullptr);
    track.SetISValidatePercuss();
    track.SetISValidatePercuss();
    EXPECT_EQ(track.GetISValidatePercuss(), 1);
    track.SetTrackNum(258);
    EXPECT_EQ(track.GetTrackNum(), 2);
}

TEST(TrackObject, TraversalVisitsEveryEventOnce) {
    CMidiTrack track;
    for (int i = 0; i < 5; ++i) track.InsertEventAfter(nullptr, Note(i, static_cast<uint8_t>(i)));
    int visited = 0;
    POSITION pos = track.GetEventHeadPosition();
    while (pos != nullptr) {
        EXPECT_EQ(track.GetNextEvent(pos).byData1, visited);
        ++visited;
    }
    EXPECT_EQ(visited, track.GetCount());

    POSITION p = track.GetEventHeadPosition();
    MIDIEventPtr* node = track.GetNextPtr(p);
    ASSERT_NE(node, nullptr);
    node->byData2 = 1;  // written in place
    EXPECT_EQ(track.GetAt(track.GetEventHeadPosition()).byData2, 1);
    track.GetEventPtrAt(p).byData2 = 2;
    EXPECT_EQ(track.GetAt(p).byData2, 2);
    POSITION null = nullptr;
    EXPECT_EQ(track.GetNextPtr(null), nullptr);
    EXPECT_EQ(null, nullptr);
    CMidiTrack empty;
    POSITION any = node;
    EXPECT_EQ(empty.GetNextPtr(any), nullptr);
    EXPECT_EQ(any, node);
}

TEST(TrackObject, FindIndexAnswersEveryIndexAndNullOutside) {
    CMidiTrack track;
    for (int i = 0; i < 10; ++i) track.InsertEventAfter(nullptr, Note(i, static_cast<uint8_t>(i)));
    EXPECT_EQ(track.FindIndex(-1), nullptr);
    EXPECT_EQ(track.FindIndex(10), nullptr);
    EXPECT_EQ(track.FindIndex(9), track.GetTailPosition());
    EXPECT_EQ(track.FindIndex(0), track.GetEventHeadPosition());
    EXPECT_EQ(track.GetAt(track.FindIndex(4)).byData1, 4);
    // The index follows edits.
    track.InsertEventAfter(track.FindIndex(1), Note(0, 42));
    EXPECT_EQ(track.GetAt(track.FindIndex(2)).byData1, 42);
    EXPECT_EQ(track.DeleteEvent(track.FindIndex(0)), 1);
    EXPECT_EQ(track.GetAt(track.FindIndex(1)).byData1, 42);
    EXPECT_EQ(track.FindIndex(9), track.GetTailPosition());

    // Const calls from several threads at once, on an index not yet built, agree (and are
    // race-free under ThreadSanitizer).
    track.SortTrackByLTime(nullptr);
    std::vector<std::vector<POSITION>> seen(4);
    std::vector<std::thread> threads;
    for (auto& positions : seen)
        threads.emplace_back([&track, &positions] {
            for (int i = 0; i < 10; ++i) positions.push_back(track.FindIndex(i));
        });
    for (std::thread& t : threads) t.join();
    for (const auto& positions : seen) EXPECT_EQ(positions, seen[0]);
    EXPECT_EQ(seen[0][9], track.GetTailPosition());
}

TEST(TrackObject, EventCountWrapsAt65536) {
    CMidiTrack track;
    for (int i = 0; i < 70000; ++i) track.InsertEventAfter(nullptr, Note(i));
    EXPECT_EQ(track.GetCount(), 70000);
    EXPECT_EQ(track.GetTrackEventNums(), 4464);
}

TEST(TrackObject, RemoveAllPtEmptiesTheListButKeepsTheLength) {
    CMidiTrack track;
    const Bytes data =
        B({0x00, 0xFF, 0x03, 0x02, 'h', 'i', 0x00, 0x90, 60, 1, 0x00, 0xFF, 0x2F, 0x00});
    ASSERT_EQ(track.SetMidiTrackRawData(data.data(), static_cast<int32_t>(data.size())), 1);
    track.RemoveAllPt();
    EXPECT_EQ(track.GetCount(), 0);
    EXPECT_EQ(track.GetEventHeadPosition(), nullptr);
    EXPECT_EQ(track.GetTailPosition(), nullptr);
    EXPECT_EQ(track.GetTrkLen(), static_cast<int32_t>(data.size()));
    EXPECT_EQ(track.GetNoteUsage(0, 60), 1);
    track.InsertEventAfter(nullptr, Note(0));
    EXPECT_EQ(track.GetCount(), 1);
}

TEST(TrackObject, CopiesOwnTheirNodesAndPayloads) {
    CMidiTrack track;
    const Bytes data =
        B({0x00, 0xFF, 0x03, 0x02, 'h', 'i', 0x00, 0x99, 40, 1, 0x00, 0xFF, 0x2F, 0x00});
    ASSERT_EQ(track.SetMidiTrackRawData(data.data(), static_cast<int32_t>(data.size())), 1);
    track.SetTrackNum(3);
    CMidiTrack copy(track);
    CMidiTrack assigned;
    assigned.InsertEventAfter(nullptr, Note(0));
    assigned = track;
    for (const CMidiTrack* c : {&copy, &assigned}) {
        EXPECT_EQ(c->GetCount(), 3);
        EXPECT_EQ(c->GetTrackNum(), 3);
        EXPECT_EQ(c->GetTrkLen(), track.GetTrkLen());
        EXPECT_EQ(c->GetNoteUsage(NOTE_USAGE_PERCUSSION_ROW, 40), 1);
        const MIDIEvent a = track.GetAt(track.GetEventHeadPosition());
        const MIDIEvent b = c->GetAt(c->GetEventHeadPosition());
        EXPECT_NE(a.pData, b.pData);
        ASSERT_EQ(b.dwLength, 2u);
        EXPECT_EQ(std::memcmp(b.pData, "hi", 2), 0);
        EXPECT_NE(c->GetEventHeadPosition(), track.GetEventHeadPosition());
    }
    const CMidiTrack& self = assigned;
    assigned = self;  // self-assignment keeps everything
    EXPECT_EQ(assigned.GetCount(), 3);
    track.RemoveAllPt();
    EXPECT_EQ(copy.GetCount(), 3);
    EXPECT_EQ(std::memcmp(copy.GetAt(copy.GetEventHeadPosition()).pData, "hi", 2), 0);
}

TEST(TrackEditing, InsertedPayloadsAreTheTracksOwnCopies) {
    CMidiTrack track;
    Bytes payload = B({'h', 'e', 'l', 'l', 'o'});
    const POSITION first = track.InsertEventAfter(nullptr, Text(payload));
    EXPECT_EQ(track.GetTrkLen(), 37);
    const POSITION second = track.InsertEventAfter(first, Text(payload, EVT_SYSEXESC));
    EXPECT_EQ(track.GetTrkLen(), 74);
    payload.assign(5, 0);
    for (POSITION pos : {first, second}) {
        const MIDIEvent ev = track.GetAt(pos);
        ASSERT_NE(ev.pData, nullptr);
        EXPECT_NE(ev.pData, payload.data());
        EXPECT_EQ(std::memcmp(ev.pData, "hello", 5), 0);
    }
    // A payload length without a caller buffer gives a zeroed buffer of that length.
    MIDIEvent blank = Text(Bytes());
    blank.dwLength = 3;
    blank.pData = nullptr;
    const MIDIEvent stored = track.GetAt(track.InsertEventAfter(nullptr, blank));
    ASSERT_NE(stored.pData, nullptr);
    EXPECT_EQ(Bytes(stored.pData, stored.pData + 3), B({0, 0, 0}));
    // Other kinds keep the caller's pointer value and add no payload length.
    MIDIEvent note = Note(0);
    note.pData = payload.data();
    note.dwLength = 1000;
    const int32_t before = track.GetTrkLen();
    EXPECT_EQ(track.GetAt(track.InsertEventAfter(nullptr, &note)).pData, payload.data());
    EXPECT_EQ(track.GetTrkLen(), before + 32);
}

TEST(TrackEditing, InsertingAfterAPosition) {
    CMidiTrack track;
    const POSITION a = track.InsertEventAfter(nullptr, Note(0, 1));
    // The first event is head and tail; each event adds 32 to the length.
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(track.GetEventHeadPosition(), a);
    EXPECT_EQ(track.GetTailPosition(), a);
    EXPECT_EQ(track.GetTrkLen(), 32);
    EXPECT_EQ(track.GetLastResult(), 1);
    const POSITION c = track.InsertEventAfter(nullptr, Note(0, 3));
    track.InsertEventAfter(a, Note(0, 2));
    const POSITION d = track.InsertEventAfter(c, Note(0, 4));
    EXPECT_EQ(track.GetTailPosition(), d);
    EXPECT_EQ(NotesOf(track), (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(track.GetCount(), 4);
    EXPECT_EQ(track.InsertEventAfter(a, static_cast<const MIDIEvent*>(nullptr)), nullptr);
    EXPECT_EQ(track.GetLastResult(), 1);  // a null event leaves the flag alone

    CMidiTrack empty;
    EXPECT_EQ(empty.InsertEventAfter(a, Note(0)), nullptr);
    EXPECT_EQ(empty.GetLastResult(), 0);
    EXPECT_EQ(empty.GetCount(), 0);
    EXPECT_EQ(empty.GetTrkLen(), 0);
}

TEST(TrackEditing, DeletingEventsButNeverTheLast) {
    CMidiTrack track;
    const Bytes hi = B({'h', 'i'});
    const POSITION a = track.InsertEventAfter(nullptr, Text(hi));
    const POSITION b = track.InsertEventAfter(nullptr, Note(0, 2));
    const POSITION c = track.InsertEventAfter(nullptr, Note(0, 3));
    const int32_t length = track.GetTrkLen();
    EXPECT_EQ(track.DeleteEvent(c), 0);
    EXPECT_EQ(track.GetLastResult(), 0);
    EXPECT_EQ(track.GetCount(), 3);
    EXPECT_EQ(track.DeleteEvent(a), 1);  // the head, with its payload
    EXPECT_EQ(track.GetLastResult(), 1);
    EXPECT_EQ(track.GetEventHeadPosition(), b);
    EXPECT_EQ(track.GetCount(), 2);
    EXPECT_EQ(track.GetTrkLen(), length);  // deletion does not lower the length
    const POSITION d = track.InsertEventAfter(b, Note(0, 4));
    EXPECT_EQ(track.DeleteEvent(d), 1);  // a middle event
    EXPECT_EQ(NotesOf(track), (std::vector<uint8_t>{2, 3}));

    CMidiTrack other;
    const POSITION foreign = other.InsertEventAfter(nullptr, Note(0, 9));
    other.InsertEventAfter(nullptr, Note(0, 9));
    EXPECT_EQ(track.DeleteEvent(foreign), 0);  // not in this list: nothing changes
    EXPECT_EQ(track.DeleteEvent(nullptr), 0);
    EXPECT_EQ(track.GetCount(), 2);
    CMidiTrack empty;
    EXPECT_EQ(empty.DeleteEvent(nullptr), 0);
    EXPECT_EQ(empty.GetLastResult(), 0);

    // Nodes freed by deletion are reused by later insertions.
    const POSITION reused = track.InsertEventAfter(nullptr, Note(0, 5));
    EXPECT_TRUE(reused == a || reused == d);
}

TEST(TrackEditing, GetEventFindsTheFirstEventAtATime) {
    CMidiTrack track;
    track.InsertEventAfter(nullptr, Note(0, 1));
    track.InsertEventAfter(nullptr, Note(10, 2));
    track.InsertEventAfter(nullptr, Note(10, 3));
    MIDIEvent ev = Note(-1, 99);
    EXPECT_EQ(track.GetEvent(10, EVT_CONTROL, &ev), 1);  // the type takes no part
    EXPECT_EQ(ev.byData1, 2);
    ev = Note(-1, 99);
    EXPECT_EQ(track.GetEvent(5, EVT_NOTEON, &ev), 0);
    EXPECT_EQ(ev.byData1, 99);
    MidiEventList list(3);
    EXPECT_EQ(track.GetEventLstByType(EVT_NOTEON, list), 0);
    EXPECT_EQ(track.GetEventLstByTime(0, 100, list), 0);
    EXPECT_EQ(list.size(), 3u);
    track.FreePtrList(list);
    EXPECT_TRUE(list.empty());
    track.FreePtrList(list);
    EXPECT_TRUE(list.empty());
}
