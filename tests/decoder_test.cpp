// Decoding track chunk bytes into events: every event form, running status, the byte
// budget, the tempo map feed, the program and note-usage tables.
#include <gtest/gtest.h>

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

Bytes Payload(const MIDIEvent& ev) {
    return ev.pData ? Bytes(ev.pData, ev.pData + ev.dwLength) : Bytes();
}

const Bytes kEnd = B({0xFF, 0x2F, 0x00});

}  // namespace

TEST(Decoder, EndOfTrackAloneIsOneEvent) {
    CMidiTrack track;
    EXPECT_EQ(Decode(track, B({0x00, 0xFF, 0x2F, 0x00})), 1);
    ASSERT_EQ(track.GetCount(), 1);
    const MIDIEvent ev = track.GetAt(track.GetEventHeadPosition());
    EXPECT_EQ(ev.dwType, EVT_META);
    EXPECT_EQ(ev.dwSubType, 0x2Fu);
    EXPECT_EQ(ev.dwDelta, 0u);
    EXPECT_EQ(ev.dwLength, 0u);
    EXPECT_EQ(ev.pData, nullptr);
    EXPECT_EQ(ev.byChannel, 255);
    EXPECT_EQ(track.GetTrkLen(), 4);
    EXPECT_EQ(track.GetTailPosition(), track.GetEventHeadPosition());
}

TEST(Decoder, RunningStatusNoteOnsAndDeltasToTheNextEvent) {
    CMidiTrack track;
    EXPECT_EQ(Decode(track, B({0x00, 0x90, 0x3C, 0x64, 0x60, 0x3C, 0x00, 0x00, 0xFF, 0x2F, 0x00})),
              1);
    const auto ev = Events(track);
    ASSERT_EQ(ev.size(), 3u);
    EXPECT_EQ(ev[0].dwType, EVT_NOTEON);
    EXPECT_EQ(ev[0].lTime, 0);
    EXPECT_EQ(ev[0].dwDelta, 96u);
    EXPECT_EQ(ev[0].byData1, 60);
    EXPECT_EQ(ev[0].byData2, 100);
    EXPECT_EQ(ev[1].dwType, EVT_NOTEON);  // velocity 0 keeps the note-on code
    EXPECT_EQ(ev[1].lTime, 96);
    EXPECT_EQ(ev[1].byChannel, 0);
    EXPECT_EQ(ev[1].byData2, 0);
    EXPECT_EQ(ev[2].lTime, 96);
    EXPECT_EQ(ev[2].dwSubType, 0x2Fu);
}

TEST(Decoder, EveryChannelMessageForm) {
    CMidiTrack track;
    EXPECT_EQ(Decode(track, Cat({B({0x00, 0x81, 60,   64,   0x00, 0x92, 61,   65,   0x00, 0xA3, 62,
                                    66,   0x00, 0xB4, 7,    100,  0x00, 0xC5, 12,   0x00, 0xD6, 33,
                                    0x00, 0xE7, 0x00, 0x40, 0x00, 0xE7, 0x7F, 0x7F, 0x00}),
                                 kEnd})),
              1);
    const auto ev = Events(track);
    ASSERT_EQ(ev.size(), 9u);
    const uint32_t types[] = {EVT_NOTEOFF,   EVT_NOTEON,    EVT_KEYPRESSURE,
                              EVT_CONTROL,   EVT_PROGRAM,   EVT_CHANPRESSURE,
                              EVT_PITCHBEND, EVT_PITCHBEND, EVT_META};
    for (size_t i = 0; i < ev.size(); ++i) {
        EXPECT_EQ(ev[i].dwType, types[i]) << i;
        EXPECT_EQ(ev[i].pData, nullptr) << i;
        if (i < 8) {
            EXPECT_EQ(ev[i].byChannel, i == 7 ? 7 : i + 1) << i;
        }
    }
    EXPECT_EQ(ev[0].byData1, 60);
    EXPECT_EQ(ev[0].byData2, 64);
    EXPECT_EQ(ev[3].byData1, 7);
    EXPECT_EQ(ev[3].byData2, 100);
    EXPECT_EQ(ev[4].byData1, 12);
    EXPECT_EQ(ev[5].byData1, 33);
    EXPECT_EQ(ev[6].wBend, 8192);
    EXPECT_EQ(ev[7].wBend, 16383);
}

TEST(Decoder, RunningStatusOfEveryKindReadsTheRightNumberOfBytes) {
    CMidiTrack track;
    EXPECT_EQ(Decode(track, Cat({B({0x00, 0xC3, 5,    0x00, 6,  0x00, 0xE2, 0x01, 0x02, 0x00,
                                    0x03, 0x04, 0x00, 0xB1, 64, 127,  0x00, 64,   0,    0x00}),
                                 kEnd})),
              1);
    const auto ev = Events(track);
    ASSERT_EQ(ev.size(), 7u);
    EXPECT_EQ(ev[1].dwType, EVT_PROGRAM);
    EXPECT_EQ(ev[1].byChannel, 3);
    EXPECT_EQ(ev[1].byData1, 6);
    EXPECT_EQ(ev[3].dwType, EVT_PITCHBEND);
    EXPECT_EQ(ev[3].wBend, 3 + 128 * 4);
    EXPECT_EQ(ev[5].dwType, EVT_CONTROL);
    EXPECT_EQ(ev[5].byData1, 64);
    EXPECT_EQ(ev[5].byData2, 0);
}

TEST(Decoder, RunningStatusSurvivesMetaAndRealTimeEvents) {
    CMidiTrack track;
    EXPECT_EQ(Decode(track, Cat({B({0x00, 0x93, 60, 100, 0x00, 0xFF, 0x01, 0x00, 0x00, 61, 100,
                                    0x00, 0xF8, 0x00, 62, 100, 0x00}),
                                 kEnd})),
              1);
    const auto ev = Events(track);
    ASSERT_EQ(ev.size(), 6u);
    EXPECT_EQ(ev[1].dwType, EVT_META);
    EXPECT_EQ(ev[1].dwSubType, 0x01u);
    EXPECT_EQ(ev[1].dwLength, 0u);
    EXPECT_EQ(ev[2].dwType, EVT_NOTEON);
    EXPECT_EQ(ev[2].byChannel, 3);
    EXPECT_EQ(ev[2].byData1, 61);
    EXPECT_EQ(ev[3].dwType, EVT_REALTIME);
    EXPECT_EQ(ev[3].dwSubType, 0xF8u);
    EXPECT_EQ(ev[3].byChannel, 255);
    EXPECT_EQ(ev[4].dwType, EVT_NOTEON);
    EXPECT_EQ(ev[4].byData1, 62);
}

TEST(Decoder, SysexAndSystemCommonEndRunningStatus) {
    CMidiTrack track;
    EXPECT_EQ(
        Decode(track,
               Cat({B({0x00, 0x90, 60,   100,  0x00, 0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7, 0x00,
                       61,   62,   0x00, 0x90, 60,   0,    0x00, 0xF6, 0x00, 63,   64,   0x00}),
                    kEnd})),
        1);
    const auto ev = Events(track);
    ASSERT_EQ(ev.size(), 7u);
    EXPECT_EQ(ev[1].dwType, EVT_SYSEX);
    EXPECT_EQ(ev[1].byChannel, 255);
    EXPECT_EQ(ev[1].dwLength, 5u);
    EXPECT_EQ(Payload(ev[1]), B({0x7E, 0x7F, 0x09, 0x01, 0xF7}));
    // A data byte without running status: type code 0 with two data bytes.
    EXPECT_EQ(ev[2].dwType, 0u);
    EXPECT_EQ(ev[2].byData1, 61);
    EXPECT_EQ(ev[2].byData2, 62);
    EXPECT_EQ(ev[3].dwType, EVT_NOTEON);
    EXPECT_EQ(ev[4].dwType, EVT_SYSCOMMON);
    EXPECT_EQ(ev[4].dwSubType, 0xF6u);
    EXPECT_EQ(ev[5].dwType, 0u);
    EXPECT_EQ(ev[5].byData1, 63);
}

TEST(Decoder, SystemCommonAndRealTimeBytes) {
    CMidiTrack track;
    EXPECT_EQ(Decode(track, Cat({B({0x00, 0xF1, 0x23, 0x00, 0xF2, 0x10, 0x20, 0x00, 0xF3, 0x05,
                                    0x00, 0xF4, 0x00, 0xF5, 0x00, 0xF7, 0x00, 0xFE, 0x00}),
                                 kEnd})),
              1);
    const auto ev = Events(track);
    ASSERT_EQ(ev.size(), 8u);
    auto byte = [](const MIDIEvent& e, int i) {
        return reinterpret_cast<const uint8_t*>(&e.dwLength)[i];
    };
    EXPECT_EQ(ev[0].dwSubType, 0xF1u);
    EXPECT_EQ(byte(ev[0], 0), 0x23);
    EXPECT_EQ(ev[1].dwSubType, 0xF2u);
    EXPECT_EQ(byte(ev[1], 0), 0x10);
    EXPECT_EQ(byte(ev[1], 1), 0x20);
    EXPECT_EQ(byte(ev[2], 0), 0x05);
    // 0xF7 is a one-byte event here: no length follows it.
    EXPECT_EQ(ev[5].dwType, EVT_SYSCOMMON);
    EXPECT_EQ(ev[5].dwSubType, 0xF7u);
    EXPECT_EQ(ev[6].dwType, EVT_REALTIME);
    EXPECT_EQ(ev[6].dwSubType, 0xFEu);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(ev[i].dwType, EVT_SYSCOMMON) << i;
}

TEST(Decoder, MetaEventsFeedTheTempoMap) {
    CMidiTempo tempo;
    CMidiTrack track;
    track.SetTempoObject(&tempo);
    EXPECT_EQ(Decode(track, Cat({B({0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x60, 0xFF, 0x51,
                                    0x03, 0x06, 0x1A, 0x80, 0x00, 0xFF, 0x58, 0x04, 0x06, 0x03,
                                    0x18, 0x08, 0x00, 0xFF, 0x59, 0x02, 0xFF, 0x01, 0x00}),
                                 kEnd})),
              1);
    const auto ev = Events(track);
    ASSERT_EQ(ev.size(), 5u);
    EXPECT_EQ(ev[0].dwLength, 3u);
    EXPECT_EQ(Payload(ev[0]), B({0x07, 0xA1, 0x20}));
    const TempoList& list = static_cast<const CMidiTempo&>(tempo).GetTempos();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].lTicks, 0);
    EXPECT_EQ(list[0].lUsPerQuarter, 500000);
    EXPECT_EQ(list[0].nBPM, 120);
    EXPECT_EQ(list[1].lTicks, 96);
    EXPECT_EQ(list[1].lUsPerQuarter, 400000);
    EXPECT_EQ(Payload(ev[2]), B({0x06, 0x03, 0x18, 0x08}));
    EXPECT_EQ(tempo.GetBar().dwBaseBarNum, 6u);
    EXPECT_EQ(tempo.GetBar().dwBaseNoteNum, 8u);
    EXPECT_EQ(Payload(ev[3]), B({0xFF, 0x01}));
    EXPECT_EQ(tempo.GetKeySignature().dwSharpsFlats, 255u);
    EXPECT_EQ(tempo.GetKeySignature().dwMinor, 1u);
}

TEST(Decoder, SignatureEventsWithoutATempoMapAreKeptInTheList) {
    CMidiTrack track;
    EXPECT_EQ(
        Decode(track, Cat({B({0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0xFF, 0x58, 0x04,
                              0x04, 0x40, 0x18, 0x08, 0x00, 0xFF, 0x59, 0x02, 0x01, 0x00, 0x00}),
                           kEnd})),
        1);
    EXPECT_EQ(track.GetCount(), 4);
    // A denominator exponent too large for a note value gives 0, without an invalid shift.
    CMidiTempo tempo;
    CMidiTrack odd;
    odd.SetTempoObject(&tempo);
    EXPECT_EQ(Decode(odd, B({0x00, 0xFF, 0x58, 0x04, 0x03, 0x40, 0x18, 0x08})), 1);
    EXPECT_EQ(tempo.GetBar().dwBaseNoteNum, 0u);
}

TEST(Decoder, PortMetaSetsThePortOfTheFollowingEvents) {
    CMidiTrack track;
    EXPECT_EQ(Decode(track, Cat({B({0x00, 0x90, 60, 1, 0x00, 0xFF, 0x21, 0x01, 0x02, 0x00, 0x90, 61,
                                    1, 0x00, 0xF0, 0x01, 0xF7, 0x00}),
                                 kEnd})),
              1);
    const auto ev = Events(track);
    ASSERT_EQ(ev.size(), 5u);
    EXPECT_EQ(ev[0].byPort, 0);
    EXPECT_EQ(ev[1].byPort, 2);
    EXPECT_EQ(Payload(ev[1]), B({0x02}));
    EXPECT_EQ(ev[2].byPort, 2);
    EXPECT_EQ(ev[3].byPort, 2);
    EXPECT_EQ(ev[4].byPort, 2);
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
    const auto ev = Events(track);
    ASSERT_EQ(ev.size(), 3u);
    EXPECT_EQ(ev[0].dwLength, 3u);
    EXPECT_EQ(ev[0].dwDelta, 0x10u);
    EXPECT_EQ(ev[1].lTime, 0x10);
    EXPECT_EQ(ev[1].dwLength, 5u);
    EXPECT_EQ(Payload(ev[1]), B({1, 2, 3, 4, 5}));
}

TEST(Decoder, UnknownMetaTypesKeepTheirPayload) {
    CMidiTrack track;
    EXPECT_EQ(Decode(track, Cat({B({0x00, 0xFF, 0x09, 0x04, 'a', 'b', 'c', 'd', 0x05, 0xFF, 0x7F,
                                    0x00, 0x00, 0x90, 60, 1, 0x00}),
                                 kEnd})),
              1);
    const auto ev = Events(track);
    ASSERT_EQ(ev.size(), 4u);
    EXPECT_EQ(ev[0].dwSubType, 0x09u);
    EXPECT_EQ(Payload(ev[0]), B({'a', 'b', 'c', 'd'}));
    EXPECT_EQ(ev[1].lTime, 5);
    EXPECT_EQ(ev[1].dwSubType, 0x7Fu);
    EXPECT_EQ(ev[1].dwLength, 0u);
    EXPECT_EQ(ev[2].dwType, EVT_NOTEON);
}

TEST(Decoder, FieldsAnEventDoesNotSetKeepThePreviousValues) {
    CMidiTrack track;
    EXPECT_EQ(Decode(track, Cat({B({0x00, 0x90, 60, 100, 0x00, 0xC0, 5, 0x00}), kEnd})), 1);
    const auto ev = Events(track);
    EXPECT_EQ(ev[1].byData1, 5);
    EXPECT_EQ(ev[1].byData2, 100);
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
        EXPECT_EQ(track.GetTailPosition(), track.GetEventHeadPosition());
        EXPECT_EQ(track.GetTailPosition()->pNext, nullptr);
    }
    CMidiTrack three;
    EXPECT_EQ(Decode(three, B({0x00, 0x90, 0x3C})), 0);
    EXPECT_EQ(three.GetCount(), 0);
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

TEST(Decoder, BytesAfterTheEndOfTrackAreNotRead) {
    CMidiTrack track;  // a cut-off event after the end of track does not fail the track
    EXPECT_EQ(Decode(track, Cat({B({0x00}), kEnd, B({0x00, 0x90, 60})})), 1);
    EXPECT_EQ(track.GetCount(), 1);
}

TEST(Decoder, NullOrEmptyDataChangesNothing) {
    CMidiTrack track;
    const Bytes data = B({0x00, 0xFF, 0x2F, 0x00});
    EXPECT_EQ(track.SetMidiTrackRawData(nullptr, 4), 0);
    EXPECT_EQ(track.SetMidiTrackRawData(data.data(), 0), 0);
    EXPECT_EQ(track.SetMidiTrackRawData(data.data(), -4), 0);
    EXPECT_EQ(track.GetTrkLen(), 0);
    EXPECT_EQ(track.GetCount(), 0);
}

TEST(Decoder, DecodingAgainReplacesTheEvents) {
    CMidiTrack track;
    EXPECT_EQ(Decode(track, Cat({B({0x00, 0xFF, 0x03, 0x02, 'h', 'i', 0x00}), kEnd})), 1);
    EXPECT_EQ(Decode(track, Cat({B({0x00, 0x90, 60, 1, 0x00}), kEnd})), 1);
    const auto ev = Events(track);
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[0].dwType, EVT_NOTEON);
    EXPECT_EQ(track.GetTrkLen(), 8);
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

TEST(Decoder, DataBytesAbove127StayAsReadAndNeverIndexATable) {
    CMidiTrack track;
    EXPECT_EQ(Decode(track, Cat({B({0x00, 0xC0, 0xC8, 0x00, 0x90, 60, 100, 0x00, 0x91, 0xCC, 0xCC,
                                    0x00, 0x92, 61, 0xCC, 0x00}),
                                 kEnd})),
              1);
    const auto ev = Events(track);
    ASSERT_EQ(ev.size(), 5u);
    EXPECT_EQ(ev[0].byData1, 0xC8);
    EXPECT_EQ(ev[2].byData1, 0xCC);
    EXPECT_EQ(ev[3].byData2, 0xCC);
    EXPECT_EQ(track.GetNoteUsage(0, 61), 1);
    EXPECT_EQ(track.GetNoteUsageTable().count(), 1u);
}

TEST(Decoder, TimesAccumulateDeltas) {
    CMidiTrack track;
    EXPECT_EQ(Decode(track, Cat({Vlq(480), B({0x90, 60, 100}), Vlq(0x0FFFFFFF), B({0x80, 60, 0}),
                                 Vlq(1), kEnd})),
              1);
    const auto ev = Events(track);
    ASSERT_EQ(ev.size(), 3u);
    EXPECT_EQ(ev[0].lTime, 480);
    EXPECT_EQ(ev[1].lTime, 480 + 0x0FFFFFFF);
    EXPECT_EQ(ev[1].dwDelta, 1u);
    EXPECT_EQ(ev[2].lTime, 481 + 0x0FFFFFFF);
}
