// Song-wide selection queries: by time, measure, track, channel and type; sorting; the song
// event list, its search by time and the playback lookups on it; note pairing.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "midifolio/midifolio.h"
#include "test_support.h"

using namespace midifolio;
using namespace testsupport;

namespace {

using Lines = std::vector<std::string>;
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
    }
    Messages messages;
    CMidiFolio song;
    MidiEventList list;
};

// Every field of each record as a line: track, time as its format holds it, the event.
Lines Records(const MidiEventList& list) {
    Lines out;
    for (const MIDI_Event& r : list) {
        char text[160];
        std::snprintf(text, sizeof text, "%u f%d %.3f/%d/%d/%d/%d %d %u %u %u %u %08x %u %p",
                      r.wTrack, r.time.format, r.time.format == TF_MSEC ? r.time.dMsecs : 0.0,
                      r.time.lFrame, r.time.lSecond, r.time.lMinute, r.time.lHour, r.event.lTime,
                      r.event.dwDelta, r.event.byPort, r.event.byChannel, r.event.dwType,
                      r.event.dwSubType, r.event.dwLength, static_cast<void*>(r.event.pData));
        out.push_back(text);
    }
    return out;
}

// "track@tick kind" of each record.
Lines Briefs(const MidiEventList& list) {
    Lines out;
    for (const MIDI_Event& r : list) {
        const std::string event = r.event.dwType ? Canonical(r.event) : "none";
        out.push_back(std::to_string(r.wTrack) + "@" + std::to_string(r.event.lTime) + " " +
                      event.substr(0, event.find(' ')));
    }
    return out;
}

const MIDI_Event* FindNote(const MidiEventList& list, uint32_t type, int note, int velocity) {
    for (const MIDI_Event& r : list)
        if (r.event.dwType == type && r.event.byData1 == note &&
            (velocity < 0 || r.event.byData2 == velocity))
            return &r;
    return nullptr;
}

// The reference order of every query: a stable sort by the copied event time.
void StableSortByTime(MidiEventList& list) {
    std::stable_sort(list.begin(), list.end(), [](const MIDI_Event& a, const MIDI_Event& b) {
        return a.event.lTime < b.event.lTime;
    });
}

MIDI_Event Record(int track, int32_t tick) {
    MIDI_Event r{};
    r.wTrack = static_cast<uint16_t>(track);
    r.event.lTime = tick;
    return r;
}

}  // namespace

// The time queries' order and note lengths are checked against a reference on random songs
// below; here are the bounds, formats and marks on a song small enough to count by hand.
TEST_F(Selection, TimeBoundsAreInclusiveAndMinusOneLeavesThemOpen) {
    song.GetMIDIByTime(TF_TICK, MakeTicks(960), MakeTicks(960), list);
    EXPECT_EQ(Briefs(list),
              (Lines{"1@960 control", "1@960 noteon", "2@960 noteon", "2@960 pitchbend"}));
    EXPECT_EQ(list[0].time.lTicks, 960);
    song.GetMIDIByTime(TF_TICK, MakeTicks(1920), MakeTicks(-1), list);
    EXPECT_EQ(list.size(), 10u);
    EXPECT_EQ(list.back().event.lTime, 4000);
    song.GetMIDIByTime(TF_TICK, MakeTicks(-1), MakeTicks(-1), list);
    EXPECT_EQ(list.size(), 20u);
    song.GetMIDIByTime(TF_TICK, MakeTicks(5000), MakeTicks(6000), list);
    EXPECT_TRUE(list.empty());  // a list that held records is emptied first
}

TEST_F(Selection, NoteOnsCarryTheirLengthInMillisecondsAndEndsTheMark) {
    // Marks left by a host's own pairing and by earlier queries do not hide partners.
    CMidiTrack* melody = song.GetTrack(1);
    MIDIEvent off{};
    ASSERT_EQ(melody->GetNextNoteOff(melody->FindIndex(0), off), 1);
    for (int round = 0; round < 2; ++round) {
        song.GetMIDIByTime(TF_TICK, MakeTicks(0), MakeTicks(-1), list);
        ASSERT_EQ(list.size(), 20u);
        EXPECT_EQ(FindNote(list, EVT_NOTEON, 60, 100)->event.dwLength, 500u);
        EXPECT_EQ(FindNote(list, EVT_NOTEON, 62, 90)->event.dwLength, 1000u);  // velocity-0 end
        EXPECT_EQ(FindNote(list, EVT_NOTEON, 36, 100)->event.dwLength, 83u);   // 2083 - 2000
        EXPECT_EQ(FindNote(list, EVT_NOTEOFF, 60, -1)->event.dwLength, PAIRING_MARK);
        EXPECT_EQ(FindNote(list, EVT_NOTEON, 62, 0)->event.dwLength, PAIRING_MARK);
    }
    EXPECT_EQ(Briefs(list)[3], "2@0 sysex");
    EXPECT_EQ(list[3].event.dwLength, 3u);  // other records keep the track's value
    // Partners outside the range still give lengths.
    song.GetMIDIByTime(TF_TICK, MakeTicks(960), MakeTicks(1000), list);
    EXPECT_EQ(FindNote(list, EVT_NOTEON, 62, 90)->event.dwLength, 1000u);
}

TEST_F(Selection, BoundsAndTimesComeInTheFormatsAsked) {
    // Bounds in other formats are converted to ticks: 960 ticks to 1500 ms (1440 ticks).
    song.GetMIDIByTime(TF_MSEC, MakeTicks(960), MakeMsecs(1500.0), list);
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list[0].time.dMsecs, 1000.0);
    EXPECT_EQ(list[4].time.dMsecs, 1500.0);
    EXPECT_EQ(list[4].event.lTime, 1440);  // the event keeps its ticks
    song.GetMIDIByTime(TF_HMSF, MakeHmsf(0, 0, 1, 20), MakeMeasure(1, 0, 0), list);
    ASSERT_EQ(list.size(), 4u);  // 1440 .. 1920 ticks
    EXPECT_EQ(Records(list)[0].substr(0, 25), "2 f4 0.000/20/1/0/0 1440 ");
    // Measures run to the first tick of the last measure.
    song.GetMIDIByMeasure(1, 2, list);
    ASSERT_EQ(list.size(), 8u);
    for (const MIDI_Event& r : list) {
        EXPECT_EQ(r.time.format, TF_MEASURE);
        EXPECT_EQ(r.time.lMeasure * 1920 + r.time.nBeat * 480 + r.time.nTick, r.event.lTime);
    }
    EXPECT_EQ(list.front().event.lTime, 1920);
    EXPECT_EQ(list.back().event.lTime, 3840);
    song.GetMIDIByMeasure(0, 0, list);
    EXPECT_EQ(list.size(), 4u);  // tick 0 only
    song.GetMIDIByMeasure(3, 1, list);
    EXPECT_TRUE(list.empty());
}

TEST_F(Selection, TrackAndChannelArgumentsAreClampedOrTakenByTheLowByte) {
    std::string sizes;
    for (auto [first, last] : {std::pair<int, int>{2, 1}, {INT_MIN, INT_MAX}, {7, 9}})
        song.GetMIDIByTrack(first, last, list), sizes += std::to_string(list.size()) + " ";
    for (int channel : {255, -1, 256})
        song.GetMIDIByChannel(channel, list), sizes += std::to_string(list.size()) + " ";
    EXPECT_EQ(sizes, "0 20 0 7 7 8 ");
}

TEST_F(Selection, SongWideQueriesStopAtTheHeaderTrackCount) {
    auto* extra = new CMidiTrack();
    const Bytes events = Cat({Vlq(0), B({0x9F, 70, 100}), Vlq(10), B({0x8F, 70, 0}), Vlq(0), kEnd});
    extra->SetTempoObject(&song.GetMidiTempo());
    ASSERT_EQ(extra->SetMidiTrackRawData(events.data(), static_cast<int32_t>(events.size())), 1);
    ASSERT_EQ(song.AddTrack(extra), 3);
    std::string sizes;
    song.GetMIDIByTrack(3, 3, list), sizes += std::to_string(list.size()) + " ";  // by the list
    song.GetMIDIByChannel(15, list), sizes += std::to_string(list.size()) + " ";
    song.GetMIDIByTime(TF_TICK, MakeTicks(0), MakeTicks(-1), list);
    sizes += std::to_string(list.size()) + " " + std::to_string(song.MakeEventList().size());
    song.GetMIDIByType(EVT_NOTEON, TF_TICK, list);  // appends
    EXPECT_EQ(sizes + " " + std::to_string(list.size()), "3 0 20 20 26");
}

TEST_F(Selection, TypeMaskSelectsTypesWhollyInItsSixteenBits) {
    // An empty mask (in its 16 bits) leaves the list exactly as it is, unsorted.
    list = {Record(5, 50), Record(6, 10)};
    song.GetMIDIByType(0x10000, TF_TICK, list);
    EXPECT_EQ(Briefs(list), (Lines{"5@50 none", "6@10 none"}));
    list = {Record(7, 3000), Record(8, 5), Record(9, 960)};
    song.GetMIDIByType(EVT_PITCHBEND, TF_MSEC, list);
    EXPECT_EQ(Briefs(list), (Lines{"8@5 none", "9@960 none", "2@960 pitchbend", "7@3000 none"}));
    EXPECT_EQ(list[2].time.dMsecs, 1000.0);
    CMidiFolio::FreePtrList(list);
    song.GetMIDIByType(EVT_NOTEON | EVT_NOTEOFF | 0x10000, TF_TICK, list);
    EXPECT_EQ(list.size(), 10u);
}

// Stable by the event's signed time (the query definition below compares the queries with a
// stable sort on many lists); extremes do not overflow the order.
TEST(SortEventList, OrdersStablyBySignedEventTime) {
    MidiEventList list = {Record(1, INT_MAX), Record(2, -1), Record(3, INT_MIN), Record(4, -1)};
    CMidiFolio::SortEventList(list);
    EXPECT_EQ(Briefs(list),
              (Lines{"3@-2147483648 none", "2@-1 none", "4@-1 none", "1@2147483647 none"}));
}

// Order and a second build's equal records are checked on the corpus.
TEST_F(Selection, SongEventListIsKeptInTheSongAndFoundByTime) {
    MidiEventList& events = song.MakeEventList();
    MidiEventList* total = nullptr;
    song.GetTotalEventList(&total);
    EXPECT_EQ(total, &events);
    ASSERT_EQ(events.size(), 20u);
    EXPECT_EQ(FindNote(events, EVT_NOTEON, 60, 100)->event.dwLength, 500u);
    // Records: four at 0 ms (indices 0-3), the note-off at 500 ms (4), four at 1000 ms (5-8).
    MIDI_Event* found = nullptr;
    EXPECT_EQ(song.FindMidiEventByTime(MakeMsecs(250.0), found), 4);
    EXPECT_EQ(found, &(*total)[4]);
    EXPECT_EQ(song.FindMidiEventByTime(MakeTicks(960), found), 5);
    EXPECT_EQ(song.FindMidiEventByTime(MakeMeasure(0, 2, 0), found), 5);
    EXPECT_EQ(song.FindMidiEventByTime(MakeMsecs(-5.0), found), 0);
    EXPECT_EQ(song.FindMidiEventByTime(MakeMsecs(4166.0), found), 18);
    EXPECT_EQ(found, &(*total)[18]);
    EXPECT_EQ(song.FindMidiEventByTime(MakeMsecs(4166.5), found), -1);
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(song.FindMidiEventByTime(MakeMsecs(std::nan("")), found), -1);
    song.FreeEventList();
    EXPECT_TRUE(total->empty());
    CMidiFolio empty;  // finds nothing
    found = events.data();
    EXPECT_TRUE(empty.FindMidiEventByTime(MakeMsecs(0.0), found) == -1 && found == nullptr);
}

namespace {

// A random format-1 song of short, overlapping notes on few keys: note ends before any
// note-on, several open notes per key, velocity-0 note-ons, controls and tempo changes.
Bytes RandomNotes(std::mt19937& random, int tracks, int events) {
    std::vector<Bytes> chunks;
    for (int t = 0; t < tracks; ++t) {
        Bytes data;
        for (int k = 0; k < events; ++k) {
            const int channel = static_cast<int>(random() % 2);
            const int note = 60 + static_cast<int>(random() % 3);
            const int kind = static_cast<int>(random() % 10);
            const int us = 300000 + static_cast<int>(random() % 400000);
            const Bytes ev =
                t == 0 && kind == 9 ? B({0xFF, 0x51, 0x03, us >> 16, (us >> 8) & 0xFF, us & 0xFF})
                : kind < 4 ? B({0x90 | channel, note, 1 + static_cast<int>(random() % 127)})
                : kind < 6 ? B({0x90 | channel, note, 0})
                : kind < 9 ? B({0x80 | channel, note, 64})
                           : B({0xB0 | channel, 64, 127});
            data = Cat({data, Vlq(random() % 4 == 0 ? 0 : random() % 200), ev});
        }
        chunks.push_back(Cat({data, Vlq(0), kEnd}));
    }
    return Smf(1, 96, chunks);
}

// What a query over tracks first..last must give: the selected events of the tracks one after
// another, each as its track holds it (then edit(track, index in the track, event)), in a
// stable sort by time.
template <typename Select, typename Edit>
Lines Reference(CMidiFolio& song, int first, int last, TIME_FORMAT format, Select select,
                Edit edit) {
    MidiEventList out;
    for (int t = first; t <= last; ++t) {
        const CMidiTrack* track = song.GetTrack(t);
        size_t k = 0;
        for (POSITION pos = track->GetEventHeadPosition(); pos; ++k) {
            MIDI_Event rec = Record(t, 0);
            rec.event = track->GetNextEvent(pos);
            if (!select(rec.event)) continue;
            const int32_t tick = rec.event.lTime;
            rec.time = format == TF_MSEC ? MakeMsecs(song.GetMidiTempo().TicksToMsecs(tick))
                                         : MakeTicks(tick);
            edit(t, k, rec.event);
            out.push_back(rec);
        }
    }
    StableSortByTime(out);
    return Records(out);
}

}  // namespace

// Definition of the queries on random songs, in time order and out of it (copies of events
// inserted at random places, as unsorted edits leave a track). The time query gives the events
// in range, each sounding note-on carrying the milliseconds to the partner GetNextNoteOff
// gives when asked for every note-on in list order (the one-pass pairing must agree with
// that), and leaves the marks that asking leaves. The track, channel and type queries select
// without pairing. Every query lists its events in a stable sort by time, and the type query
// sorts what it appends into the records the list held.
TEST(QueryDefinition, QueriesAgreeWithTheReferenceOnRandomSongs) {
    std::mt19937 random(2024);
    const auto none = [](int, size_t, MIDIEvent&) {};
    const auto type = [](uint32_t mask) {
        return [mask](const MIDIEvent& ev) { return (ev.dwType & mask) != 0; };
    };
    for (int round = 0; round < 16; ++round) {
        SCOPED_TRACE(round);
        CMidiFolio song;
        ASSERT_EQ(song.LoadMidiFile(WriteFile("pairing.mid", RandomNotes(random, 3, 400))), 1);
        for (int t = 0; t < 3 && round % 2; ++t) {
            CMidiTrack& track = *song.GetTrack(t);
            for (int k = 0; k < 20; ++k) {
                const int count = track.GetCount();
                const MIDIEvent ev = track.GetAt(track.FindIndex(int(random() % count)));
                if (!OwnsPayload(ev.dwType))
                    track.InsertEventAfter(track.FindIndex(int(random() % (count - 1))), ev);
            }
        }
        // Some rounds select a sub-range: partners are looked up for every note-on.
        const int32_t from = round % 4 >= 2 ? static_cast<int32_t>(random() % 20000) : 0;
        const int32_t to = round % 4 >= 2 ? from + static_cast<int32_t>(random() % 20000) : -1;
        MidiEventList list;
        song.GetMIDIByTime(TF_MSEC, MakeTicks(from), MakeTicks(to), list);

        const CMidiTempo& tempo = song.GetMidiTempo();
        std::vector<std::vector<std::pair<bool, int32_t>>> lengths(3);  // per event: paired, ms
        for (int t = 0; t < 3; ++t) {
            CMidiTrack copy(*song.GetTrack(t));
            copy.ClearPairingMarks();
            POSITION mine = song.GetTrack(t)->GetEventHeadPosition();
            for (POSITION pos = copy.GetEventHeadPosition(); pos; pos = pos->pNext) {
                MIDIEvent off{};
                const bool paired = copy.GetNextNoteOff(pos, off) == 1;
                lengths[t].emplace_back(
                    paired, tempo.TicksToMsecs(off.lTime) - tempo.TicksToMsecs(pos->lTime));
            }
            for (POSITION pos = copy.GetEventHeadPosition(); pos; pos = pos->pNext) {
                ASSERT_EQ(mine->dwLength, pos->dwLength) << "marks of track " << t;
                mine = mine->pNext;
            }
        }
        EXPECT_EQ(Records(list), Reference(
                                     song, 0, 2, TF_MSEC,
                                     [&](const MIDIEvent& ev) {
                                         return ev.lTime >= from && (to == -1 || ev.lTime <= to);
                                     },
                                     [&](int t, size_t k, MIDIEvent& ev) {
                                         if (lengths[t][k].first)
                                             ev.dwLength = uint32_t(lengths[t][k].second);
                                     }));

        song.GetMIDIByTrack(1, 2, list);
        EXPECT_EQ(Records(list), Reference(song, 1, 2, TF_TICK, type(~0u), none));
        for (int channel : {0, 1, 255}) {
            song.GetMIDIByChannel(channel, list);
            const auto on = [channel](const MIDIEvent& ev) { return ev.byChannel == channel; };
            EXPECT_EQ(Records(list), Reference(song, 0, 2, TF_TICK, on, none));
        }
        CMidiFolio::FreePtrList(list);
        song.GetMIDIByType(EVT_NOTEOFF | EVT_CONTROL, TF_TICK, list);
        MidiEventList held = list;
        EXPECT_EQ(Records(list),
                  Reference(song, 0, 2, TF_TICK, type(EVT_NOTEOFF | EVT_CONTROL), none));
        song.GetMIDIByType(EVT_NOTEON, TF_TICK, list);
        // What was held, then the note-ons as a query of their own gives them, sorted stably.
        MidiEventList ons;
        song.GetMIDIByType(EVT_NOTEON, TF_TICK, ons);
        EXPECT_EQ(Records(ons), Reference(song, 0, 2, TF_TICK, type(EVT_NOTEON), none));
        held.insert(held.end(), ons.begin(), ons.end());
        StableSortByTime(held);
        EXPECT_EQ(Records(list), Records(held));
    }
}

namespace {

// 480 ticks per quarter at 120 beats per minute: 96 ticks are 100 ms. The song event list:
//   0 tempo @0 (ch 255)      5 bend ch9 @100           10 pedal 100 ch0 @384   15 bend ch0 @672
//   1 end of track 0 @0      6 on 62 ch0 @192          11 bend ch1 @400        16 ctl 7 ch0 @768
//   2 on 60 ch0 @0           7 off 36 ch9 @200         12 off 60 ch0 @480      17 off 60 ch0 @864
//   3 on 36 ch9 @0           8 pedal 0 ch0 @288        13 end of track 2 @500  18 end of track 1
//   4 pedal 127 ch0 @96      9 pedal 127 ch1 @300      14 on 62 vel 0 @576        @960
Bytes PlaybackSongBytes() {
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
        ASSERT_EQ(song.LoadMidiFile(WriteFile("playback.mid", PlaybackSongBytes())), 1);
        events = &song.MakeEventList();
        ASSERT_EQ(events->size(), 19u);
        // The layout the tests below rely on.
        ASSERT_EQ(Canonical((*events)[12].event) + " " + std::to_string((*events)[14].event.lTime),
                  "noteoff 0 60 0 576");
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
    EXPECT_TRUE(song.FindPlayNoteOff(2, sustain) == nullptr && sustain == 0 &&
                song.FindNextControl(2, 64, 127) == nullptr &&
                song.FindNextPitchBend(2, nullptr) == nullptr &&
                song.FindNextPadel(2, 1) == nullptr && song.FindEndOfTrack(0) == nullptr &&
                events->empty());
}
