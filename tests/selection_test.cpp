// Song-wide selection queries: by time, measure, track, channel and type; sorting; the song
// event list and its search by time; note pairing.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "midifolio/midifolio.h"
#include "test_support.h"

using namespace midifolio;
using namespace testsupport;

namespace {

const Bytes kEnd = B({0xFF, 0x2F, 0x00});

// 480 ticks per quarter, 4/4, 120 beats per minute (480 ticks = 500 ms).
//   track 0: time signature @0, end @3840 (after the loader's tempo event @0)
//   track 1, channel 0: note 60 @0..480, control @960, note 62 @960..1920 (ended by a
//            velocity-0 note-on), program @2400, note 64 @3840..4000, end @4000
//   track 2: sysex @0, note 67 on channel 1 @960..1440, pitch bend @960, text @1920,
//            note 36 on channel 9 @1920..2000, end @2000
Bytes SongBytes() {
    const Bytes conductor =
        Cat({Vlq(0), B({0xFF, 0x58, 0x04, 0x04, 0x02, 0x18, 0x08}), Vlq(3840), kEnd});
    const Bytes melody =
        Cat({Vlq(0), B({0x90, 60, 100}), Vlq(480), B({0x80, 60, 64}), Vlq(480), B({0xB0, 7, 100}),
             Vlq(0), B({0x90, 62, 90}), Vlq(960), B({0x90, 62, 0}), Vlq(480), B({0xC0, 5}),
             Vlq(1440), B({0x90, 64, 80}), Vlq(160), B({0x80, 64, 0}), Vlq(0), kEnd});
    const Bytes other = Cat({Vlq(0), B({0xF0, 0x03, 0x7E, 0x09, 0xF7}), Vlq(960),
                             B({0x91, 67, 100}), Vlq(0), B({0xE1, 0x00, 0x50}), Vlq(480),
                             B({0x81, 67, 0}), Vlq(480), B({0xFF, 0x01, 0x03, 'a', 'b', 'c'}),
                             Vlq(0), B({0x99, 36, 100}), Vlq(80), B({0x89, 36, 0}), Vlq(0), kEnd});
    return Smf(1, 480, {conductor, melody, other});
}

class Selection : public ::testing::Test {
  protected:
    void SetUp() override {
        song.SetMessageSink(messages.Sink());
        ASSERT_EQ(song.LoadMidiFile(WriteFile("selection.mid", SongBytes())), 1);
        ASSERT_EQ(song.GetMidiHeaderInfo().nTracks, 3);
    }
    Messages messages;
    CMidiFolio song;
    MidiEventList list;
};

struct Brief {
    int track;
    int32_t tick;
    uint32_t type;
    bool operator==(const Brief& o) const {
        return track == o.track && tick == o.tick && type == o.type;
    }
};
std::ostream& operator<<(std::ostream& os, const Brief& b) {
    return os << "{" << b.track << ", " << b.tick << ", " << b.type << "}";
}

std::vector<Brief> Briefs(const MidiEventList& list) {
    std::vector<Brief> out;
    for (const MIDI_Event& r : list) out.push_back({r.wTrack, r.event.lTime, r.event.dwType});
    return out;
}

const MIDI_Event* FindNote(const MidiEventList& list, uint32_t type, int note, int velocity) {
    for (const MIDI_Event& r : list) {
        if (r.event.dwType == type && r.event.byData1 == note &&
            (velocity < 0 || r.event.byData2 == velocity)) {
            return &r;
        }
    }
    return nullptr;
}

bool SameEvent(const MIDIEvent& a, const MIDIEvent& b) {
    return a.lTime == b.lTime && a.dwDelta == b.dwDelta && a.byPort == b.byPort &&
           a.byChannel == b.byChannel && a.dwType == b.dwType && a.dwSubType == b.dwSubType &&
           a.dwLength == b.dwLength && a.pData == b.pData;
}

bool SameRecord(const MIDI_Event& a, const MIDI_Event& b) {
    if (a.wTrack != b.wTrack || a.time.format != b.time.format) return false;
    if (std::memcmp(&a.time.lFrame, &b.time.lFrame, 4 * sizeof(int32_t)) != 0) return false;
    return SameEvent(a.event, b.event);
}

// The reference order of every query: a stable sort by the copied event time.
void StableSortByTime(MidiEventList& list) {
    std::stable_sort(list.begin(), list.end(), [](const MIDI_Event& a, const MIDI_Event& b) {
        return a.event.lTime < b.event.lTime;
    });
}

void ExpectSameList(const MidiEventList& actual, const MidiEventList& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t k = 0; k < actual.size(); ++k) {
        ASSERT_TRUE(SameRecord(actual[k], expected[k])) << "record " << k;
    }
}

MIDI_Event Record(int track, int32_t tick, double ms) {
    MIDI_Event r{};
    r.wTrack = static_cast<uint16_t>(track);
    r.time = MakeMsecs(ms);
    r.event.lTime = tick;
    r.event.byChannel = 255;
    return r;
}

}  // namespace

TEST_F(Selection, EqualBoundsSelectExactlyOneTickInTrackOrder) {
    song.GetMIDIByTime(TF_TICK, MakeTicks(960), MakeTicks(960), list);
    const std::vector<Brief> expected = {
        {1, 960, EVT_CONTROL}, {1, 960, EVT_NOTEON}, {2, 960, EVT_NOTEON}, {2, 960, EVT_PITCHBEND}};
    EXPECT_EQ(Briefs(list), expected);
    for (const MIDI_Event& r : list) {
        EXPECT_EQ(r.time.format, TF_TICK);
        EXPECT_EQ(r.time.lTicks, 960);
    }
}

TEST_F(Selection, UpperBoundMinusOneSelectsToTheEnd) {
    song.GetMIDIByTime(TF_TICK, MakeTicks(1920), MakeTicks(-1), list);
    const std::vector<Brief> expected = {{1, 1920, EVT_NOTEON},  {2, 1920, EVT_META},
                                         {2, 1920, EVT_NOTEON},  {2, 2000, EVT_NOTEOFF},
                                         {2, 2000, EVT_META},    {1, 2400, EVT_PROGRAM},
                                         {0, 3840, EVT_META},    {1, 3840, EVT_NOTEON},
                                         {1, 4000, EVT_NOTEOFF}, {1, 4000, EVT_META}};
    EXPECT_EQ(Briefs(list), expected);
    // A lower bound of -1 (a time that could not be converted) selects from the start.
    song.GetMIDIByTime(TF_TICK, MakeTicks(-1), MakeTicks(-1), list);
    EXPECT_EQ(list.size(), 20u);
}

TEST_F(Selection, NoteOnsCarryTheirLengthInMilliseconds) {
    song.GetMIDIByTime(TF_TICK, MakeTicks(0), MakeTicks(-1), list);
    ASSERT_EQ(list.size(), 20u);
    EXPECT_EQ(FindNote(list, EVT_NOTEON, 60, 100)->event.dwLength, 500u);
    EXPECT_EQ(FindNote(list, EVT_NOTEON, 62, 90)->event.dwLength, 1000u);  // velocity-0 end
    EXPECT_EQ(FindNote(list, EVT_NOTEON, 67, 100)->event.dwLength, 500u);
    EXPECT_EQ(FindNote(list, EVT_NOTEON, 36, 100)->event.dwLength, 83u);  // 2083 - 2000
    EXPECT_EQ(FindNote(list, EVT_NOTEON, 64, 80)->event.dwLength, 166u);  // 4166 - 4000
    // The note ends copied after their pairing show the track's pairing mark.
    EXPECT_EQ(FindNote(list, EVT_NOTEOFF, 60, -1)->event.dwLength, PAIRING_MARK);
    EXPECT_EQ(FindNote(list, EVT_NOTEON, 62, 0)->event.dwLength, PAIRING_MARK);
    // Other records keep the track's value: payload lengths of sysex and meta events.
    for (const MIDI_Event& r : list) {
        if (r.event.dwType == EVT_SYSEX) {
            EXPECT_EQ(r.event.dwLength, 3u);
            ASSERT_NE(r.event.pData, nullptr);
            EXPECT_EQ(r.event.pData[0], 0x7E);
        }
    }
}

TEST_F(Selection, PartnersOutsideTheRangeStillGiveLengths) {
    // The note-on at 960 ends at 1920, outside the range; notes before the range are paired
    // but change no record.
    song.GetMIDIByTime(TF_TICK, MakeTicks(960), MakeTicks(1000), list);
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(FindNote(list, EVT_NOTEON, 62, 90)->event.dwLength, 1000u);
    EXPECT_EQ(FindNote(list, EVT_NOTEON, 67, 100)->event.dwLength, 500u);
    EXPECT_EQ(FindNote(list, EVT_CONTROL, 7, 100)->event.dwLength,
              song.GetTrack(1)->GetAt(song.GetTrack(1)->FindIndex(2)).dwLength);
}

TEST_F(Selection, RepeatedQueriesPairNotesAgain) {
    // Marks left by a host's own pairing and by earlier queries do not hide partners.
    CMidiTrack* melody = song.GetTrack(1);
    MIDIEvent off{};
    ASSERT_EQ(melody->GetNextNoteOff(melody->FindIndex(0), off), 1);
    for (int round = 0; round < 3; ++round) {
        song.GetMIDIByTime(TF_MSEC, MakeTicks(0), MakeTicks(-1), list);
        ASSERT_NE(FindNote(list, EVT_NOTEON, 60, 100), nullptr);
        EXPECT_EQ(FindNote(list, EVT_NOTEON, 60, 100)->event.dwLength, 500u);
        EXPECT_EQ(FindNote(list, EVT_NOTEON, 62, 90)->event.dwLength, 1000u);
    }
}

TEST_F(Selection, TimesComeInTheRequestedFormat) {
    // Bounds in other formats are converted to ticks: 960 ticks to 1500 ms (1440 ticks).
    song.GetMIDIByTime(TF_MSEC, MakeTicks(960), MakeMsecs(1500.0), list);
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list[0].time.format, TF_MSEC);
    EXPECT_EQ(list[0].time.dMsecs, 1000.0);
    EXPECT_EQ(list[4].time.dMsecs, 1500.0);
    EXPECT_EQ(list[4].event.lTime, 1440);  // the event keeps its ticks

    song.GetMIDIByTime(TF_HMSF, MakeHmsf(0, 0, 1, 20), MakeMeasure(1, 0, 0), list);
    ASSERT_EQ(list.size(), 4u);  // 1440 .. 1920 ticks
    EXPECT_EQ(list[0].time.format, TF_HMSF);
    EXPECT_EQ(list[0].time.lSecond, 1);
    EXPECT_EQ(list[0].time.lFrame, 20);
    EXPECT_EQ(list[3].time.lSecond, 2);

    // A list that held records is emptied first.
    song.GetMIDIByTime(TF_TICK, MakeTicks(5000), MakeTicks(6000), list);
    EXPECT_TRUE(list.empty());
}

TEST_F(Selection, MeasureRangeRunsToTheFirstTickOfTheLastMeasure) {
    song.GetMIDIByMeasure(1, 2, list);
    ASSERT_EQ(list.size(), 8u);
    for (const MIDI_Event& r : list) {
        EXPECT_GE(r.event.lTime, 1920);
        EXPECT_LE(r.event.lTime, 3840);
        EXPECT_EQ(r.time.format, TF_MEASURE);
        EXPECT_EQ(r.time.lMeasure * 1920 + r.time.nBeat * 480 + r.time.nTick, r.event.lTime);
    }
    const MIDI_Event* program = FindNote(list, EVT_PROGRAM, 5, -1);
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(program->time.lMeasure, 1);
    EXPECT_EQ(program->time.nBeat, 1);
    EXPECT_EQ(program->time.nTick, 0);
    EXPECT_EQ(list.back().time.lMeasure, 2);
    EXPECT_EQ(list.back().time.nBeat, 0);

    song.GetMIDIByMeasure(0, 0, list);
    EXPECT_EQ(list.size(), 4u);  // tick 0 only
    song.GetMIDIByMeasure(3, 1, list);
    EXPECT_TRUE(list.empty());
}

TEST_F(Selection, TrackRangeCopiesWholeTracksWithoutPairing) {
    song.GetMIDIByTrack(1, 1, list);
    const CMidiTrack* melody = song.GetTrack(1);
    ASSERT_EQ(list.size(), static_cast<size_t>(melody->GetCount()));
    POSITION pos = melody->GetEventHeadPosition();
    for (const MIDI_Event& r : list) {
        ASSERT_NE(pos, nullptr);
        const MIDIEvent ev = melody->GetNextEvent(pos);
        EXPECT_EQ(r.wTrack, 1);
        EXPECT_EQ(r.time.format, TF_TICK);
        EXPECT_EQ(r.time.lTicks, ev.lTime);
        EXPECT_TRUE(SameEvent(r.event, ev));
    }
    song.GetMIDIByTrack(2, 1, list);
    EXPECT_TRUE(list.empty());
    song.GetMIDIByTrack(-5, 100, list);
    EXPECT_EQ(list.size(), 20u);
    song.GetMIDIByTrack(INT_MIN, INT_MAX, list);
    EXPECT_EQ(list.size(), 20u);
    song.GetMIDIByTrack(7, 9, list);
    EXPECT_TRUE(list.empty());
}

TEST_F(Selection, SongWideQueriesStopAtTheHeaderTrackCount) {
    auto* extra = new CMidiTrack();
    const Bytes events = Cat({Vlq(0), B({0x9F, 70, 100}), Vlq(10), B({0x8F, 70, 0}), Vlq(0), kEnd});
    extra->SetTempoObject(&song.GetMidiTempo());
    ASSERT_EQ(extra->SetMidiTrackRawData(events.data(), static_cast<int32_t>(events.size())), 1);
    ASSERT_EQ(song.AddTrack(extra), 3);
    ASSERT_EQ(song.GetMidiHeaderInfo().nTracks, 3);

    song.GetMIDIByTrack(3, 3, list);  // the track list itself
    EXPECT_EQ(list.size(), 3u);
    song.GetMIDIByChannel(15, list);
    EXPECT_TRUE(list.empty());
    song.GetMIDIByTime(TF_TICK, MakeTicks(0), MakeTicks(-1), list);
    EXPECT_EQ(list.size(), 20u);
    song.GetMIDIByType(EVT_NOTEON, TF_TICK, list);
    EXPECT_EQ(list.size(), 26u);
    EXPECT_EQ(song.MakeEventList().size(), 20u);
}

TEST_F(Selection, ChannelSelectsByTheLowByte) {
    song.GetMIDIByChannel(255, list);
    const std::vector<Brief> expected = {
        {0, 0, EVT_META},    {0, 0, EVT_META},    {2, 0, EVT_SYSEX},  {2, 1920, EVT_META},
        {2, 2000, EVT_META}, {0, 3840, EVT_META}, {1, 4000, EVT_META}};
    EXPECT_EQ(Briefs(list), expected);
    song.GetMIDIByChannel(-1, list);
    EXPECT_EQ(Briefs(list), expected);

    song.GetMIDIByChannel(0, list);
    EXPECT_EQ(list.size(), 8u);
    for (const MIDI_Event& r : list) {
        EXPECT_EQ(r.event.byChannel, 0);
        EXPECT_EQ(r.wTrack, 1);
        EXPECT_EQ(r.time.format, TF_TICK);
    }
    EXPECT_EQ(FindNote(list, EVT_NOTEON, 60, 100)->event.dwLength,
              song.GetTrack(1)->GetAt(song.GetTrack(1)->GetEventHeadPosition()).dwLength);
    song.GetMIDIByChannel(256, list);
    EXPECT_EQ(list.size(), 8u);
    song.GetMIDIByChannel(9, list);
    EXPECT_EQ(list.size(), 2u);
    song.GetMIDIByChannel(3, list);
    EXPECT_TRUE(list.empty());
}

TEST_F(Selection, TypeMaskAppendsAndSortsTheWholeList) {
    // An empty mask (in its 16 bits) leaves the list exactly as it is, unsorted.
    list = {Record(5, 50, 1.0), Record(6, 10, 2.0)};
    song.GetMIDIByType(0, TF_TICK, list);
    song.GetMIDIByType(0x10000, TF_TICK, list);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].wTrack, 5);
    EXPECT_EQ(list[1].wTrack, 6);

    CMidiFolio::FreePtrList(list);
    song.GetMIDIByType(EVT_NOTEON, TF_TICK, list);
    EXPECT_EQ(list.size(), 6u);
    song.GetMIDIByType(EVT_PITCHBEND | EVT_PROGRAM, TF_MSEC, list);
    const std::vector<Brief> expected = {{1, 0, EVT_NOTEON},     {1, 960, EVT_NOTEON},
                                         {2, 960, EVT_NOTEON},   {2, 960, EVT_PITCHBEND},
                                         {1, 1920, EVT_NOTEON},  {2, 1920, EVT_NOTEON},
                                         {1, 2400, EVT_PROGRAM}, {1, 3840, EVT_NOTEON}};
    EXPECT_EQ(Briefs(list), expected);
    EXPECT_EQ(list[3].time.format, TF_MSEC);
    EXPECT_EQ(list[3].time.dMsecs, 1000.0);
    EXPECT_EQ(list[0].time.format, TF_TICK);
    // No pairing: the note-on keeps the track's value.
    EXPECT_NE(list[0].event.dwLength, 500u);

    // A type is selected when all its bits lie in the mask.
    song.GetMIDIByType(0, TF_TICK, list);
    CMidiFolio::FreePtrList(list);
    song.GetMIDIByType(EVT_NOTEON | EVT_NOTEOFF | 0x10000, TF_TICK, list);
    EXPECT_EQ(list.size(), 10u);
}

TEST(SortEventList, OrdersStablyByTheCopiedEventTime) {
    // Times 10, 0, 10, 5 sort to the second, fourth, first, third; the records' own time
    // field (here milliseconds in reverse order) plays no part.
    MidiEventList list = {Record(1, 10, 4.0), Record(2, 0, 3.0), Record(3, 10, 2.0),
                          Record(4, 5, 1.0)};
    CMidiFolio::SortEventList(list);
    const std::vector<Brief> expected = {{2, 0, 0}, {4, 5, 0}, {1, 10, 0}, {3, 10, 0}};
    EXPECT_EQ(Briefs(list), expected);
    EXPECT_EQ(list[0].time.dMsecs, 3.0);

    // Signed times: negative ones first; extremes do not overflow the order.
    list = {Record(1, INT_MAX, 0), Record(2, -1, 0), Record(3, INT_MIN, 0), Record(4, 0, 0)};
    CMidiFolio::SortEventList(list);
    const std::vector<Brief> signedOrder = {
        {3, INT_MIN, 0}, {2, -1, 0}, {4, 0, 0}, {1, INT_MAX, 0}};
    EXPECT_EQ(Briefs(list), signedOrder);

    MidiEventList empty;
    CMidiFolio::SortEventList(empty);
    EXPECT_TRUE(empty.empty());
}

TEST(SortEventList, AgreesWithAStableSortOnRandomLists) {
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        MidiEventList list;
        const int n = 1 + static_cast<int>(random() % 500);
        for (int k = 0; k < n; ++k) {
            MIDI_Event r = Record(k % 65536, static_cast<int32_t>(random() % 40) - 5, k);
            r.event.dwType = random();
            list.push_back(r);
        }
        MidiEventList expected = list;
        StableSortByTime(expected);
        CMidiFolio::SortEventList(list);
        ExpectSameList(list, expected);
    }
}

TEST_F(Selection, SongEventListHoldsEveryEventInMilliseconds) {
    MidiEventList& events = song.MakeEventList();
    MidiEventList* total = nullptr;
    song.GetTotalEventList(&total);
    EXPECT_EQ(total, &events);
    song.GetTotalEventList(nullptr);
    ASSERT_EQ(events.size(), 20u);
    for (const MIDI_Event& r : events) {
        EXPECT_EQ(r.time.format, TF_MSEC);
        EXPECT_EQ(r.time.dMsecs, song.GetMidiTempo().TicksToMsecs(r.event.lTime));
    }
    // Order and a second build's equal records are checked on the corpus.
    EXPECT_EQ(FindNote(events, EVT_NOTEON, 60, 100)->event.dwLength, 500u);

    song.FreeEventList();
    EXPECT_TRUE(total->empty());
    song.FreeEventList();
    EXPECT_TRUE(total->empty());
}

TEST_F(Selection, FindByTimeGivesTheFirstRecordAtOrAfterTheTime) {
    // Records: four at 0 ms (indices 0-3), the note-off at 500 ms (4), four at 1000 ms (5-8).
    MIDI_Event* found = nullptr;
    EXPECT_EQ(song.FindMidiEventByTime(MakeMsecs(250.0), found), 4);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->event.dwType, EVT_NOTEOFF);
    MidiEventList* total = nullptr;
    song.GetTotalEventList(&total);
    EXPECT_EQ(found, &(*total)[4]);

    EXPECT_EQ(song.FindMidiEventByTime(MakeMsecs(1000.0), found), 5);
    EXPECT_EQ(found, &(*total)[5]);
    EXPECT_EQ(found->event.dwType, EVT_CONTROL);
    EXPECT_EQ(song.FindMidiEventByTime(MakeTicks(960), found), 5);
    EXPECT_EQ(song.FindMidiEventByTime(MakeMeasure(0, 2, 0), found), 5);
    EXPECT_EQ(song.FindMidiEventByTime(MakeMsecs(0.0), found), 0);
    EXPECT_EQ(found, &(*total)[0]);
    // Every call rebuilds the list with the same note lengths.
    EXPECT_EQ(FindNote(*total, EVT_NOTEON, 60, 100)->event.dwLength, 500u);

    // Before the start: the first record. After the last record: none.
    EXPECT_EQ(song.FindMidiEventByTime(MakeMsecs(-5.0), found), 0);
    EXPECT_EQ(found, &(*total)[0]);
    EXPECT_EQ(song.FindMidiEventByTime(MakeMsecs(4166.5), found), -1);
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(song.FindMidiEventByTime(MakeMsecs(std::nan("")), found), -1);
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(song.FindMidiEventByTime(MakeMsecs(4166.0), found), 18);
    EXPECT_EQ(found, &(*total)[18]);
}

TEST(FindMidiEventByTime, EmptySongHasNoRecord) {
    CMidiFolio song;
    MIDI_Event* found = reinterpret_cast<MIDI_Event*>(&song);
    EXPECT_EQ(song.FindMidiEventByTime(MakeMsecs(0.0), found), -1);
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(song.FindMidiEventByTime(MakeMsecs(-1.0), found), -1);
    EXPECT_EQ(found, nullptr);
    MidiEventList list;
    song.GetMIDIByTime(TF_MSEC, MakeTicks(0), MakeTicks(-1), list);
    EXPECT_TRUE(list.empty());
    song.GetMIDIByMeasure(0, 10, list);
    EXPECT_TRUE(list.empty());
    song.GetMIDIByChannel(255, list);
    EXPECT_TRUE(list.empty());
    song.GetMIDIByTrack(0, 10, list);
    EXPECT_TRUE(list.empty());
}

namespace {

// A random format-1 song of short, overlapping notes on few keys: note ends before any
// note-on, several open notes per key, velocity-0 note-ons, and tempo changes.
Bytes RandomNotes(std::mt19937& random, int tracks, int events) {
    std::vector<Bytes> chunks;
    for (int t = 0; t < tracks; ++t) {
        Bytes data;
        for (int k = 0; k < events; ++k) {
            const Bytes delta = Vlq(random() % 4 == 0 ? 0 : random() % 200);
            data.insert(data.end(), delta.begin(), delta.end());
            const int channel = static_cast<int>(random() % 2);
            const int note = 60 + static_cast<int>(random() % 3);
            const int kind = static_cast<int>(random() % 10);
            Bytes ev;
            if (t == 0 && kind == 9) {
                const int us = 300000 + static_cast<int>(random() % 400000);
                ev = B({0xFF, 0x51, 0x03, us >> 16, (us >> 8) & 0xFF, us & 0xFF});
            } else if (kind < 4) {
                ev = B({0x90 | channel, note, 1 + static_cast<int>(random() % 127)});
            } else if (kind < 6) {
                ev = B({0x90 | channel, note, 0});
            } else if (kind < 9) {
                ev = B({0x80 | channel, note, 64});
            } else {
                ev = B({0xB0 | channel, 64, 127});
            }
            data.insert(data.end(), ev.begin(), ev.end());
        }
        const Bytes end = Cat({Vlq(0), kEnd});
        data.insert(data.end(), end.begin(), end.end());
        chunks.push_back(data);
    }
    return Smf(1, 96, chunks);
}

}  // namespace

// Moves some events out of time order: copies of random events inserted at random places.
void Shuffle(std::mt19937& random, CMidiTrack& track) {
    for (int k = 0; k < 20; ++k) {
        const int count = track.GetCount();
        MIDIEvent ev = track.GetAt(track.FindIndex(static_cast<int>(random() % count)));
        if (ev.dwType == EVT_META) continue;  // keep payload ownership out of this test
        POSITION at = track.FindIndex(static_cast<int>(random() % (count - 1)));
        ASSERT_NE(track.InsertEventAfter(at, ev), nullptr);
    }
}

TEST(NotePairing, OnePassAgreesWithPairingEachNoteOnInTurn) {
    std::mt19937 random(2024);
    for (int round = 0; round < 16; ++round) {
        SCOPED_TRACE(round);
        CMidiFolio song;
        ASSERT_EQ(song.LoadMidiFile(WriteFile("pairing.mid", RandomNotes(random, 3, 400))), 1);
        // Every other round puts the tracks out of time order, as unsorted edits do.
        if (round % 2) {
            for (int t = 0; t < 3; ++t) Shuffle(random, *song.GetTrack(t));
        }
        const CMidiTempo& tempo = song.GetMidiTempo();
        // Some rounds select a sub-range: partners are looked up for every note-on.
        const int32_t from = round % 4 >= 2 ? static_cast<int32_t>(random() % 20000) : 0;
        const int32_t to = round % 4 >= 2 ? from + static_cast<int32_t>(random() % 20000) : -1;
        MidiEventList list;
        song.GetMIDIByTime(TF_MSEC, MakeTicks(from), MakeTicks(to), list);

        // Reference: for each track a copy with its marks cleared, each note-on paired in
        // list order with GetNextNoteOff; the selected events of the tracks one after another,
        // sorted stably by time.
        MidiEventList expected;
        for (int t = 0; t < 3; ++t) {
            CMidiTrack* track = song.GetTrack(t);
            CMidiTrack reference(*track);
            reference.ClearPairingMarks();
            std::vector<MIDIEvent> lengths;
            for (POSITION pos = reference.GetEventHeadPosition(); pos;) {
                const POSITION here = pos;
                MIDIEvent ev = reference.GetNextEvent(pos);
                MIDIEvent off{};
                if (reference.GetNextNoteOff(here, off)) {
                    ev.dwLength = static_cast<uint32_t>(tempo.TicksToMsecs(off.lTime) -
                                                        tempo.TicksToMsecs(ev.lTime));
                }
                lengths.push_back(ev);
            }
            // The track holds the same marks as the reference afterwards.
            POSITION mine = track->GetEventHeadPosition();
            size_t k = 0;
            for (POSITION pos = reference.GetEventHeadPosition(); pos; ++k) {
                ASSERT_NE(mine, nullptr);
                const MIDIEvent ref = reference.GetNextEvent(pos);
                const MIDIEvent got = track->GetNextEvent(mine);
                ASSERT_EQ(got.dwLength, ref.dwLength) << "event " << k;
                if (ref.lTime < from || (to != -1 && ref.lTime > to)) continue;
                MIDI_Event rec = Record(t, ref.lTime, tempo.TicksToMsecs(ref.lTime));
                rec.event = got;  // the payload pointers of the song's own track
                if (ref.dwType == EVT_NOTEON && ref.byData2 != 0) {
                    rec.event.dwLength = lengths[k].dwLength;
                }
                expected.push_back(rec);
            }
        }
        StableSortByTime(expected);
        ExpectSameList(list, expected);
    }
}

namespace {

// What a query over tracks first..last selecting by select must give: the selected events of
// the tracks one after another, sorted stably by time.
template <typename Select>
MidiEventList Reference(CMidiFolio& song, int first, int last, Select select) {
    MidiEventList out;
    for (int t = first; t <= last; ++t) {
        const CMidiTrack* track = song.GetTrack(t);
        for (POSITION pos = track->GetEventHeadPosition(); pos;) {
            const MIDIEvent ev = track->GetNextEvent(pos);
            if (!select(ev)) continue;
            MIDI_Event rec{};
            rec.wTrack = static_cast<uint16_t>(t);
            rec.time = MakeTicks(ev.lTime);
            rec.event = ev;
            out.push_back(rec);
        }
    }
    StableSortByTime(out);
    return out;
}

}  // namespace

TEST(QueryOrder, TrackChannelAndTypeQueriesFollowAStableSortByTime) {
    std::mt19937 random(99);
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        CMidiFolio song;
        ASSERT_EQ(song.LoadMidiFile(WriteFile("queries.mid", RandomNotes(random, 4, 300))), 1);
        if (round % 2) {
            for (int t = 0; t < 4; ++t) Shuffle(random, *song.GetTrack(t));
        }
        MidiEventList list;
        song.GetMIDIByTrack(1, 2, list);
        ExpectSameList(list, Reference(song, 1, 2, [](const MIDIEvent&) { return true; }));
        for (int channel : {0, 1, 255}) {
            song.GetMIDIByChannel(channel, list);
            ExpectSameList(list, Reference(song, 0, 3, [channel](const MIDIEvent& ev) {
                               return ev.byChannel == channel;
                           }));
        }
        CMidiFolio::FreePtrList(list);
        song.GetMIDIByType(EVT_NOTEOFF | EVT_CONTROL, TF_TICK, list);
        ExpectSameList(list, Reference(song, 0, 3, [](const MIDIEvent& ev) {
                           return ev.dwType == EVT_NOTEOFF || ev.dwType == EVT_CONTROL;
                       }));
        // Appending to an ordered list keeps the records already held first at equal times.
        song.GetMIDIByType(EVT_NOTEON, TF_TICK, list);
        MidiEventList both = Reference(song, 0, 3, [](const MIDIEvent& ev) {
            return ev.dwType == EVT_NOTEOFF || ev.dwType == EVT_CONTROL;
        });
        const MidiEventList ons =
            Reference(song, 0, 3, [](const MIDIEvent& ev) { return ev.dwType == EVT_NOTEON; });
        both.insert(both.end(), ons.begin(), ons.end());
        CMidiFolio::SortEventList(both);
        ExpectSameList(list, both);
    }
}

TEST_F(Selection, TypeQueryAppendedToAnUnorderedListSortsItAll) {
    list = {Record(7, 3000, 0.0), Record(8, 5, 0.0), Record(9, 960, 0.0)};
    song.GetMIDIByType(EVT_PITCHBEND, TF_TICK, list);
    const std::vector<Brief> expected = {
        {8, 5, 0}, {9, 960, 0}, {2, 960, EVT_PITCHBEND}, {7, 3000, 0}};
    EXPECT_EQ(Briefs(list), expected);
}
