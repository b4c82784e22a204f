// Decoding track chunk bytes into events: every event form, running status, the byte
// budget, the tempo map feed, the program and note-usage tables.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "midifolio/midifolio.h"
#include "test_support.h"

using namespace midifolio;
using testsupport::B;
using testsupport::Bytes;
using testsupport::Cat;
using testsupport::Vlq;

namespace {

int Decode(CMidiTrack& track, const Bytes& data) {
    return track.SetMidiTrackRawData(data.data(), static_cast<int32_t>(data.size()));
}

std::vector<MIDIEvent> Events(const CMidiTrack& track) {
    std::vector<MIDIEvent> out;
    for (POSITION pos = track.GetEventHeadPosition(); pos != nullptr;)
        out.push_back(track.GetNextEvent(pos));
    return out;
}

const Bytes kEnd = B({0xFF, 0x2F, 0x00});

std::string Show(const MIDIEvent& ev) {
    std::string out = std::to_string(ev.lTime) + "+" + std::to_string(ev.dwDelta) + " ";
    if (ev.dwType == 0 || ev.dwType == EVT_SYSCOMMON || ev.dwType == EVT_REALTIME) {
        char raw[48];
        std::snprintf(raw, sizeof raw, "type %x %08x %08x", ev.dwType, ev.dwSubType, ev.dwLength);
        out += raw;
    } else {
        out += testsupport::Canonical(ev);
    }
    if (ev.dwType == EVT_SYSEX) out += " length " + std::to_string(ev.dwLength);
    if (ev.byPort != 0) out += " port " + std::to_string(ev.byPort);
    return out;
}

}  // namespace

// Every event form, and running status across them: each case lists the events as
// "time+delta" and their canonical form; system common, real-time and status-less data
// bytes show their type code, the raw sub-type word and the length word in hex.
TEST(Decoder, EveryEventFormAndRunningStatusDecodeToTheirFields) {
    const struct {
        const char* what;
        Bytes data;
        std::vector<std::string> events;
    } cases[] = {
        {"end of track alone", B({0x00, 0xFF, 0x2F, 0x00}), {"0+0 meta 2f -"}},
        {"running status note-ons, velocity 0 keeps the note-on code",
         Cat({B({0x00, 0x90, 0x3C, 0x64, 0x60, 0x3C, 0x00, 0x00}), kEnd}),
         {"0+96 noteon 0 60 100", "96+0 noteon 0 60 0", "96+0 meta 2f -"}},
        {"every channel message",
         Cat({B({0x00, 0x81, 60,   64,   0x00, 0x92, 61,   65,   0x00, 0xA3, 62,
                 66,   0x00, 0xB4, 7,    100,  0x00, 0xC5, 12,   0x00, 0xD6, 33,
                 0x00, 0xE7, 0x00, 0x40, 0x00, 0xE7, 0x7F, 0x7F, 0x00}),
              kEnd}),
         {"0+0 noteoff 1 60 64", "0+0 noteon 2 61 65", "0+0 keypressure 3 62 66",
          "0+0 control 4 7 100", "0+0 program 5 12", "0+0 chanpressure 6 33",
          "0+0 pitchbend 7 8192", "0+0 pitchbend 7 16383", "0+0 meta 2f -"}},
        {"running status of every kind reads the right number of bytes",
         Cat({B({0x00, 0xC3, 5,    0x00, 6,  0x00, 0xE2, 0x01, 0x02, 0x00,
                 0x03, 0x04, 0x00, 0xB1, 64, 127,  0x00, 64,   0,    0x00}),
              kEnd}),
         {"0+0 program 3 5", "0+0 program 3 6", "0+0 pitchbend 2 257", "0+0 pitchbend 2 515",
          "0+0 control 1 64 127", "0+0 control 1 64 0", "0+0 meta 2f -"}},
        {"running status survives meta and real-time events",
         Cat({B({0x00, 0x93, 60, 100, 0x00, 0xFF, 0x01, 0x00, 0x00, 61, 100, 0x00, 0xF8, 0x00, 62,
                 100, 0x00}),
              kEnd}),
         {"0+0 noteon 3 60 100", "0+0 meta 01 -", "0+0 noteon 3 61 100",
          "0+0 type 4000 000000f8 00000000", "0+0 noteon 3 62 100", "0+0 meta 2f -"}},
        {"sysex and system common end running status; a data byte without it is type 0",
         Cat({B({0x00, 0x90, 60,   100,  0x00, 0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7, 0x00,
                 61,   62,   0x00, 0x90, 60,   0,    0x00, 0xF6, 0x00, 63,   64,   0x00}),
              kEnd}),
         {"0+0 noteon 0 60 100", "0+0 sysex 7e7f0901 length 5", "0+0 type 0 00003e3d 00000005",
          "0+0 noteon 0 60 0", "0+0 type 2000 000000f6 00000005", "0+0 type 0 0000403f 00000005",
          "0+0 meta 2f -"}},
        {"system common data bytes; 0xF7 alone is a one-byte event",
         Cat({B({0x00, 0xF1, 0x23, 0x00, 0xF2, 0x10, 0x20, 0x00, 0xF3, 0x05, 0x00, 0xF4, 0x00, 0xF5,
                 0x00, 0xF7, 0x00, 0xFE, 0x00}),
              kEnd}),
         {"0+0 type 2000 000000f1 00000023", "0+0 type 2000 000000f2 00002010",
          "0+0 type 2000 000000f3 00002005", "0+0 type 2000 000000f4 00002005",
          "0+0 type 2000 000000f5 00002005", "0+0 type 2000 000000f7 00002005",
          "0+0 type 4000 000000fe 00002005", "0+0 meta 2f -"}},
        {"the port meta sets the port of the following events",
         Cat({B({0x00, 0x90, 60, 1, 0x00, 0xFF, 0x21, 0x01, 0x02, 0x00, 0x90, 61, 1, 0x00, 0xF0,
                 0x01, 0xF7, 0x00}),
              kEnd}),
         {"0+0 noteon 0 60 1", "0+0 meta 21 02 port 2", "0+0 noteon 0 61 1 port 2",
          "0+0 sysex - length 1 port 2", "0+0 meta 2f - port 2"}},
        {"unknown meta types keep their payload",
         Cat({B({0x00, 0xFF, 0x09, 0x04, 'a', 'b', 'c', 'd', 0x05, 0xFF, 0x7F, 0x00, 0x00, 0x90, 60,
                 1, 0x00}),
              kEnd}),
         {"0+5 meta 09 61626364", "5+0 meta 7f -", "5+0 noteon 0 60 1", "5+0 meta 2f -"}},
        {"data bytes above 127 stay as read",
         Cat({B({0x00, 0xC0, 0xC8, 0x00, 0x90, 60, 100, 0x00, 0x91, 0xCC, 0xCC, 0x00, 0x92, 61,
                 0xCC, 0x00}),
              kEnd}),
         {"0+0 program 0 200", "0+0 noteon 0 60 100", "0+0 noteon 1 204 204", "0+0 noteon 2 61 204",
          "0+0 meta 2f -"}},
        {"times accumulate deltas",
         Cat({Vlq(480), B({0x90, 60, 100}), Vlq(0x0FFFFFFF), B({0x80, 60, 0}), Vlq(1), kEnd}),
         {"480+268435455 noteon 0 60 100", "268435935+1 noteoff 0 60 0", "268435936+0 meta 2f -"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CMidiTrack track;
        EXPECT_EQ(Decode(track, c.data), 1);
        std::vector<std::string> shown;
        for (const MIDIEvent& ev : Events(track)) {
            shown.push_back(Show(ev));
            if (!OwnsPayload(ev.dwType)) {
                EXPECT_EQ(ev.pData, nullptr);
            }
            if (ev.dwType >= EVT_SYSEX) {
                EXPECT_EQ(ev.byChannel, 255);
            }
        }
        EXPECT_EQ(shown, c.events);
        EXPECT_EQ(track.GetTrkLen(), static_cast<int32_t>(c.data.size()));
    }
}

// Tempo, time and key signatures feed the tempo map and stay in the list with their payload.
TEST(Decoder, MetaEventsFeedTheTempoMap) {
    CMidiTempo tempo;
    CMidiTrack track;
    track.SetTempoObject(&tempo);
    EXPECT_EQ(Decode(track, Cat({B({0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x60, 0xFF, 0x51,
                                    0x03, 0x06, 0x1A, 0x80, 0x00, 0xFF, 0x58, 0x04, 0x06, 0x03,
                                    0x18, 0x08, 0x00, 0xFF, 0x59, 0x02, 0xFF, 0x01, 0x00}),
                                 kEnd})),
              1);
    std::vector<std::string> shown;
    for (const MIDIEvent& ev : Events(track)) shown.push_back(Show(ev));
    EXPECT_EQ(shown, (std::vector<std::string>{"0+96 meta 51 07a120", "96+0 meta 51 061a80",
                                               "96+0 meta 58 06031808", "96+0 meta 59 ff01",
                                               "96+0 meta 2f -"}));
    std::string tempos;
    for (const _TEMPO& t : static_cast<const CMidiTempo&>(tempo).GetTempos())
        tempos += std::to_string(t.lTicks) + "/" + std::to_string(t.lUsPerQuarter) + "/" +
                  std::to_string(t.nBPM) + " ";
    EXPECT_EQ(tempos, "0/500000/120 96/400000/150 ");
    EXPECT_EQ(tempo.GetBar().dwBaseBarNum, 6u);
    EXPECT_EQ(tempo.GetBar().dwBaseNoteNum, 8u);
    EXPECT_EQ(tempo.GetKeySignature().dwSharpsFlats, 255u);
    EXPECT_EQ(tempo.GetKeySignature().dwMinor, 1u);
    // A denominator exponent too large for a note value gives 0, without an invalid shift.
    EXPECT_EQ(Decode(track, B({0x00, 0xFF, 0x58, 0x04, 0x03, 0x40, 0x18, 0x08})), 1);
    EXPECT_EQ(tempo.GetBar().dwBaseNoteNum, 0u);
}

TEST(Decoder, FixedSizeMetaStoresItsSizeWhateverTheLengthByteSays) {
    CMidiTempo tempo;
    CMidiTrack track;
    track.SetTempoObject(&tempo);
    // Length byte 4 for a tempo: three payload bytes are read, the fourth is the delta.
    EXPECT_EQ(Decode(track, Cat({B({0x00, 0xFF, 0x51, 0x04, 0x07, 0xA1, 0x20, 0x10, 0xFF, 0x54,
                                    0x00, 1, 2, 3, 4, 5, 0x00}),
                                 kEnd})),
              1);
    std::vector<std::string> shown;
    for (const MIDIEvent& ev : Events(track)) shown.push_back(Show(ev));
    EXPECT_EQ(shown, (std::vector<std::string>{"0+16 meta 51 07a120", "16+0 meta 54 0102030405",
                                               "16+0 meta 2f -"}));
}

TEST(Decoder, TruncatedDataFailsAndKeepsTheEventsBeforeIt) {
    const Bytes good = B({0x00, 0x90, 60, 100, 0x10});
    const std::vector<Bytes> cuts = {
        B({0x90, 60}),                      // inside a channel message
        B({0xC0}),                          // program without its byte
        B({0xE0, 0x01}),                    // pitch bend without its second byte
        B({61}),                            // running status without the second byte
        B({0xF0}),                          // sysex without its length
        B({0xF0, 0x81}),                    // inside the sysex length
        B({0xF0, 0x05, 1, 2}),              // inside the sysex payload
        B({0xFF}),                          // meta without its type
        B({0xFF, 0x01, 0x83}),              // inside a meta length
        B({0xFF, 0x01, 0x03, 'a'}),         // inside a meta payload
        B({0xFF, 0x51, 0x03, 0x07, 0xA1}),  // inside a fixed-size payload
        B({0xFF, 0x58}),                    // fixed-size meta without its length byte
        B({0xF2, 0x10}),                    // song position without its second byte
        B({0xF1}),                          // quarter frame without its byte
        B({0x90, 60, 100, 0x81}),           // inside the delta after an event
        B({0x80, 0x80}),                    // inside the delta before an event
    };
    for (const Bytes& cut : cuts) {
        CMidiTrack track;
        EXPECT_EQ(Decode(track, Cat({good, cut})), 0) << ::testing::PrintToString(cut);
        ASSERT_EQ(track.GetCount(), 1) << ::testing::PrintToString(cut);
        EXPECT_TRUE(track.GetTailPosition() == track.GetEventHeadPosition() &&
                    track.GetTailPosition()->pNext == nullptr);
    }
    CMidiTrack three;
    EXPECT_EQ(Decode(three, B({0x00, 0x90, 0x3C})), 0);
    EXPECT_EQ(three.GetEventHeadPosition(), nullptr);
}

TEST(Decoder, DataEndingAfterACompleteEventTakesTheMissingDeltaAsZero) {
    CMidiTrack track;
    EXPECT_EQ(Decode(track, B({0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20})), 1);
    ASSERT_EQ(track.GetCount(), 1);
    EXPECT_EQ(track.GetAt(track.GetEventHeadPosition()).dwDelta, 0u);
    // Without an end of track every complete event is kept.
    CMidiTrack open;
    EXPECT_EQ(Decode(open, B({0x00, 0x90, 60, 100, 0x10, 0x80, 60, 0, 0x00})), 1);
    EXPECT_EQ(open.GetCount(), 2);
    // An end-of-track event that is the last byte pair.
    CMidiTrack bare;
    EXPECT_EQ(Decode(bare, B({0x00, 0xFF, 0x2F})), 1);
    EXPECT_EQ(bare.GetCount(), 1);
}

TEST(Decoder, OversizedLengthsAndLongVarLensFail) {
    CMidiTrack five;  // a first delta of five bytes reads as 0xFFFFFFFF
    EXPECT_EQ(Decode(five, Cat({B({0xFF, 0xFF, 0xFF, 0xFF, 0x7F}), kEnd})), 0);
    EXPECT_EQ(five.GetCount(), 0);
    for (uint32_t length : {0x0FFFFFFFu, 0xFFFFFFF0u, 100u}) {
        CMidiTrack huge;
        Bytes vlq = Vlq(length & 0x0FFFFFFF);
        if (length > 0x0FFFFFFF) vlq = B({0x8F, 0xFF, 0xFF, 0xFF, 0x70});
        EXPECT_EQ(Decode(huge, Cat({B({0x00, 0x90, 1, 2, 0x00, 0xF0}), vlq, B({1, 2, 3})})), 0);
        EXPECT_EQ(huge.GetCount(), 1);
        CMidiTrack meta;
        EXPECT_EQ(Decode(meta, Cat({B({0x00, 0xFF, 0x03}), vlq, B({1, 2, 3})})), 0);
        EXPECT_EQ(meta.GetCount(), 0);
    }
}

TEST(Decoder, DecodingReplacesTheEventsReadsToTheEndOfTrackAndRefusesNoData) {
    CMidiTrack track;
    EXPECT_EQ(Decode(track, Cat({B({0x00, 0x90, 60, 100, 0x00, 0xC0, 5, 0x00}), kEnd})), 1);
    EXPECT_EQ(Events(track)[1].byData2, 100);  // fields an event does not set keep their values
    // A cut-off event after the end of track does not fail the track: it is not read.
    EXPECT_EQ(Decode(track, Cat({B({0x00, 0x90, 60, 1, 0x00}), kEnd, B({0x00, 0x90, 60})})), 1);
    ASSERT_EQ(track.GetCount(), 2);
    EXPECT_EQ(Events(track)[1].dwType, EVT_META);
    EXPECT_EQ(track.GetTrkLen(), 11);
    EXPECT_EQ(track.SetMidiTrackRawData(nullptr, 4), 0);
    EXPECT_EQ(track.SetMidiTrackRawData(kEnd.data(), 0), 0);
    EXPECT_EQ(track.SetMidiTrackRawData(kEnd.data(), -4), 0);
    EXPECT_EQ(track.GetCount(), 2);
}

TEST(Decoder, PercussionNotesOutsideTheDrumRangeClearTheCheck) {
    CMidiTrack track;
    EXPECT_EQ(Decode(track, Cat({B({0x00, 0x99, 35, 1, 0x00, 81, 1, 0x00, 50, 0, 0x00}), kEnd})),
              1);
    EXPECT_EQ(track.GetPercussValid(), 1);
    EXPECT_EQ(track.GetNoteUsage(NOTE_USAGE_PERCUSSION_ROW, 35), 1);
    EXPECT_EQ(track.GetNoteUsage(NOTE_USAGE_PERCUSSION_ROW, 81), 1);
    EXPECT_EQ(track.GetNoteUsage(NOTE_USAGE_PERCUSSION_ROW, 50), 0);
    for (int note : {34, 82, 0xCC}) {
        CMidiTrack bad;
        EXPECT_EQ(Decode(bad, Cat({B({0x00, 0x99, note, 0, 0x00}), kEnd})), 1);
        EXPECT_EQ(bad.GetPercussValid(), 0) << note;
        EXPECT_TRUE(bad.GetNoteUsageTable().none()) << note;
    }
}

TEST(Decoder, NoteUsageFollowsTheProgramOfTheChannel) {
    CMidiTrack track;
    EXPECT_EQ(Decode(track, Cat({B({0x00, 0xC0, 40, 0x00, 0x90, 60, 100, 0x00, 62, 0, 0x00, 0xC9, 7,
                                    0x00, 0x91, 64, 1, 0x00}),
                                 kEnd})),
              1);
    EXPECT_EQ(track.GetNoteUsage(40, 60), 1);
    EXPECT_EQ(track.GetNoteUsage(40, 62), 0);  // velocity 0
    EXPECT_EQ(track.GetNoteUsage(0, 64), 1);   // channel 1 still has program 0
    EXPECT_EQ(track.GetNoteUsageTable().count(), 2u);
    EXPECT_EQ(track.GetNoteUsage(-1, 0), 0);
    EXPECT_EQ(track.GetNoteUsage(129, 0), 0);
    EXPECT_EQ(track.GetNoteUsage(0, 128), 0);
}

// A channel message decodes to the same record and tables whether bytes follow it (here a
// two-byte delta and the end of track) or the data ends right after it.
TEST(Decoder, ChannelMessagesDecodeAlikeMidwayAndAtTheEnd) {
    const Bytes setsLength = B({0x00, 0xF2, 0x10, 0x20, 0x00});  // fills dwLength's low bytes
    const struct {
        Bytes lead;  // events before the message, each with its delta after it
        Bytes message;
    } cases[] = {
        {setsLength, B({0x91, 60, 100})},
        {setsLength, B({0xB1, 7, 0xC0})},
        {setsLength, B({0xC1, 12})},
        {setsLength, B({0xD1, 33})},
        {setsLength, B({0xE1, 0x7F, 0xFF})},
        {setsLength, B({0x99, 34, 1})},
        {setsLength, B({0x91, 0xCC, 1})},
        {B({0x00, 0xC3, 5, 0x00}), B({6})},
        {B({0x00, 0xE2, 1, 2, 0x00}), B({3, 4})},
        {B({0x00, 0xC4, 9, 0x00, 0x94, 60, 1, 0x00}), B({61, 0})},
        {B({0x00, 0x94, 60, 1, 0x00}), B({61, 9})},
        {B({0x00, 0xF0, 0x01, 0xF7, 0x00}), B({61, 62})},
        {B({0x00, 0xFF, 0x21, 0x01, 0x03, 0x00, 0xB5, 1, 1, 0x00}), B({2, 2})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(Cat({c.lead, c.message})));
        CMidiTrack midway, atEnd;
        ASSERT_EQ(Decode(midway, Cat({c.lead, c.message, B({0x81, 0x00}), kEnd})), 1);
        ASSERT_EQ(Decode(atEnd, Cat({c.lead, c.message})), 1);
        const auto a = Events(midway), b = Events(atEnd);
        ASSERT_EQ(a.size(), b.size() + 1);
        EXPECT_EQ(a[b.size() - 1].dwDelta, 128u);
        auto fields = [](const MIDIEvent& e) {  // every field but the delta
            char text[96];
            std::snprintf(text, sizeof text, "%d %u %u %x %x %x %p", e.lTime, e.byPort, e.byChannel,
                          e.dwType, e.dwSubType, e.dwLength, static_cast<void*>(e.pData));
            return std::string(text);
        };
        EXPECT_EQ(fields(a[b.size() - 1]), fields(b.back()));
        EXPECT_EQ(midway.GetNoteUsageTable(), atEnd.GetNoteUsageTable());
        EXPECT_EQ(midway.GetPercussValid(), atEnd.GetPercussValid());
    }
}
