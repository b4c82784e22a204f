// Encoding the event list back into track chunk bytes: forms of every kind, output running
// status, VLQs, and the bounded output buffer.
#include <gtest/gtest.h>

#include <vector>

#include "midifolio/midifolio.h"
#include "test_support.h"

using namespace midifolio;
using testsupport::B;
using testsupport::Bytes;
using testsupport::Cat;

namespace {

// Encodes the whole track into a buffer of exactly GetEncodedSize bytes.
Bytes Encode(CMidiTrack& track) {
    const uint32_t size = track.GetEncodedSize();
    Bytes out(size + 8, 0xEE);
    uint8_t* p = out.data();
    int32_t length = static_cast<int32_t>(size);
    EXPECT_EQ(track.GetMidiTrackRawData(p, length), 1);
    EXPECT_EQ(p, out.data());
    EXPECT_EQ(length, static_cast<int32_t>(size));
    EXPECT_EQ(out[size], 0xEE) << "written past the encoded size";
    out.resize(static_cast<size_t>(length));
    return out;
}

MIDIEvent Channel(uint32_t type, uint8_t ch, uint8_t d1, uint8_t d2, uint32_t delta = 0) {
    return MIDIEvent{0, delta, 0, ch, type, {d1, d2, 0, 0}, 0, nullptr};
}

MIDIEvent WithPayload(uint32_t type, uint32_t sub, const Bytes& payload, uint32_t delta = 0) {
    MIDIEvent ev{
        0, delta, 0, 255, type, {}, uint32_t(payload.size()), const_cast<uint8_t*>(payload.data())};
    ev.dwSubType = sub;
    return ev;
}

MIDIEvent EndOfTrack(uint32_t delta = 0) {
    return WithPayload(EVT_META, 0x2F, Bytes(), delta);
}

Bytes Build(std::initializer_list<MIDIEvent> events) {
    CMidiTrack track;
    for (const MIDIEvent& ev : events) track.InsertEventAfter(nullptr, ev);
    return Encode(track);
}

}  // namespace

TEST(Encoder, DecodedTrackEncodesToItsOwnBytes) {
    const Bytes data = B({0x00, 0x90, 0x3C, 0x64, 0x60, 0x3C, 0x00, 0x00, 0xFF, 0x2F, 0x00});
    CMidiTrack track;
    ASSERT_EQ(track.SetMidiTrackRawData(data.data(), static_cast<int32_t>(data.size())), 1);
    EXPECT_EQ(Encode(track), data);
}

TEST(Encoder, RunningStatusOnlyBetweenAdjacentEventsOfTheSameKindAndChannel) {
    EXPECT_EQ(Build({Channel(EVT_NOTEON, 0, 60, 100), Channel(EVT_NOTEON, 1, 60, 100)}),
              B({0x00, 0x90, 60, 100, 0x00, 0x91, 60, 100, 0x00}));
    EXPECT_EQ(Build({Channel(EVT_NOTEON, 0, 60, 100), Channel(EVT_NOTEOFF, 0, 60, 0)}),
              B({0x00, 0x90, 60, 100, 0x00, 0x80, 60, 0, 0x00}));
    EXPECT_EQ(Build({Channel(EVT_NOTEON, 0, 60, 100), Channel(EVT_NOTEON, 0, 60, 0)}),
              B({0x00, 0x90, 60, 100, 0x00, 60, 0, 0x00}));
    // A meta event in between: the status is written again.
    EXPECT_EQ(Build({Channel(EVT_CONTROL, 3, 7, 1), WithPayload(EVT_META, 0x01, Bytes()),
                     Channel(EVT_CONTROL, 3, 7, 2)}),
              B({0x00, 0xB3, 7, 1, 0x00, 0xFF, 0x01, 0x00, 0x00, 0xB3, 7, 2, 0x00}));
    // Program changes and channel pressure take one data byte, running or not.
    EXPECT_EQ(Build({Channel(EVT_PROGRAM, 2, 5, 99), Channel(EVT_PROGRAM, 2, 6, 99),
                     Channel(EVT_CHANPRESSURE, 2, 7, 99)}),
              B({0x00, 0xC2, 5, 0x00, 6, 0x00, 0xD2, 7, 0x00}));
}

TEST(Encoder, RunningStatusNeverHidesAStatusLikeFirstDataByte) {
    // A first data byte with its top bit set would read as a status byte.
    EXPECT_EQ(Build({Channel(EVT_NOTEON, 0, 60, 0xCC), Channel(EVT_NOTEON, 0, 0xCC, 1),
                     Channel(EVT_KEYPRESSURE, 1, 1, 2)}),
              B({0x00, 0x90, 60, 0xCC, 0x00, 0x90, 0xCC, 1, 0x00, 0xA1, 1, 2, 0x00}));
    // A channel byte of 16 or more keeps the kind: it is taken modulo 16.
    EXPECT_EQ(Build({Channel(EVT_NOTEON, 0x1F, 60, 1)}), B({0x00, 0x9F, 60, 1, 0x00}));
}

TEST(Encoder, PitchBendSysexAndSystemCommonForms) {
    MIDIEvent bend = Channel(EVT_PITCHBEND, 2, 0, 0);
    bend.wBend = 8192;
    EXPECT_EQ(Build({bend}), B({0x00, 0xE2, 0x00, 0x40, 0x00}));

    const Bytes sysex = B({0x7E, 0x7F, 0x09, 0x01, 0xF7});
    EXPECT_EQ(Build({WithPayload(EVT_SYSEX, 0, sysex, 10)}),
              B({0x00, 0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7, 0x0A}));
    EXPECT_EQ(Build({WithPayload(EVT_SYSEXESC, 0, sysex, 10)}),
              B({0x00, 0xF7, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7, 0x0A}));

    MIDIEvent common{};
    common.dwType = EVT_SYSCOMMON;
    common.byChannel = 255;
    common.dwSubType = 0xF2;
    common.dwLength = 0x2010;  // data bytes 0x10, 0x20, lowest addressed first
    MIDIEvent quarter = common;
    quarter.dwSubType = 0xF1;
    quarter.dwLength = 0x33;
    MIDIEvent tune = common;
    tune.dwSubType = 0xF6;
    MIDIEvent bad = common;
    bad.dwSubType = 0xF0;  // no form of its own: nothing written, not even the delta
    bad.dwDelta = 5;
    MIDIEvent clock{};
    clock.dwType = EVT_REALTIME;
    clock.dwSubType = 0xF8;
    MIDIEvent notClock = clock;
    notClock.dwSubType = 0x42;
    MIDIEvent none{};  // type code 0
    none.byData1 = 1;
    EXPECT_EQ(Build({common, quarter, tune, bad, clock, notClock, none}),
              B({0x00, 0xF2, 0x10, 0x20, 0x00, 0xF1, 0x33, 0x00, 0xF6, 0x00, 0xF8, 0x00}));
}

TEST(Encoder, MetaEventsAndTheEndOfTrack) {
    EXPECT_EQ(Build({WithPayload(EVT_META, 0x51, B({0x07, 0xA1, 0x20}), 3), EndOfTrack(77)}),
              B({0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x03, 0xFF, 0x2F, 0x00}));
    // An end of track before other events is left out: its delta joins the next event's,
    // running status goes on across it, and the track ends with one end of track after its
    // last event (a second one in the middle is left out as well).
    MIDIEvent late = Channel(EVT_NOTEON, 0, 1, 1, 2);
    late.lTime = 3;
    EXPECT_EQ(Build({late, EndOfTrack(5), Channel(EVT_NOTEON, 0, 2, 1, 7), EndOfTrack(1),
                     Channel(EVT_NOTEOFF, 0, 2, 0, 4)}),
              B({0x03, 0x90, 1, 1, 0x07, 2, 1, 0x08, 0x80, 2, 0, 0x04, 0xFF, 0x2F, 0x00}));
    EXPECT_EQ(Build({EndOfTrack(0x7F), Channel(EVT_PROGRAM, 3, 9, 0), EndOfTrack(9)}),
              B({0x7F, 0xC3, 9, 0x00, 0xFF, 0x2F, 0x00}));
    // A payload length without a buffer is written as zeros, never read from nowhere.
    MIDIEvent text = WithPayload(EVT_META, 0x01, Bytes());
    CMidiTrack track;
    track.InsertEventAfter(nullptr, text);
    track.GetEventPtrAt(track.GetEventHeadPosition()).dwLength = 2;
    EXPECT_EQ(Encode(track), B({0x00, 0xFF, 0x01, 0x02, 0x00, 0x00, 0x00}));
}

TEST(Encoder, VariableLengthQuantitiesAreMinimal) {
    const std::vector<std::pair<uint32_t, Bytes>> cases = {
        {0, B({0x00})},
        {127, B({0x7F})},
        {128, B({0x81, 0x00})},
        {0x3FFF, B({0xFF, 0x7F})},
        {0x0FFFFFFF, B({0xFF, 0xFF, 0xFF, 0x7F})},
    };
    for (const auto& [value, bytes] : cases) {
        EXPECT_EQ(Build({Channel(EVT_CHANPRESSURE, 0, 1, 0, value)}),
                  Cat({B({0x00, 0xD0, 1}), bytes}))
            << value;
    }
    // A delta beyond the format's 28 bits (alone, or as the sum with a left-out end of track)
    // cannot be written: nothing is, and the length says so.
    for (const auto& events : {std::vector<MIDIEvent>{Channel(EVT_NOTEON, 0, 1, 1, 0x10000000)},
                               std::vector<MIDIEvent>{Channel(EVT_NOTEON, 0, 1, 1, 0x0FFFFFFF),
                                                      EndOfTrack(1), EndOfTrack()}}) {
        CMidiTrack track;
        for (const MIDIEvent& ev : events) track.InsertEventAfter(nullptr, ev);
        Bytes out(64, 0xEE);
        uint8_t* p = out.data();
        int32_t length = 64;
        EXPECT_EQ(track.GetMidiTrackRawData(p, length), 0);
        EXPECT_EQ(length, 0);
        EXPECT_EQ(out, Bytes(64, 0xEE));
    }
}

TEST(Encoder, TheFirstDeltaIsTheFirstEventsTime) {
    MIDIEvent ev = Channel(EVT_NOTEON, 0, 60, 1);
    ev.lTime = 480;
    EXPECT_EQ(Build({ev}), B({0x83, 0x60, 0x90, 60, 1, 0x00}));
    ev.lTime = -5;  // a negative time cannot be a delta: written as 0
    EXPECT_EQ(Build({ev}), B({0x00, 0x90, 60, 1, 0x00}));
    CMidiTrack empty;
    EXPECT_EQ(empty.GetEncodedSize(), 1u);
    EXPECT_EQ(Encode(empty), B({0x00}));
}

TEST(Encoder, NeverWritesPastTheCapacityGiven) {
    CMidiTrack track;
    const Bytes text(40, 'x');
    track.InsertEventAfter(nullptr, WithPayload(EVT_META, 0x01, text));
    track.InsertEventAfter(nullptr, EndOfTrack());
    const uint32_t size = track.GetEncodedSize();
    EXPECT_EQ(size, 1u + 3u + 40u + 1u + 3u);

    Bytes buffer(size, 0xEE);
    uint8_t* p = buffer.data();
    int32_t length = static_cast<int32_t>(size) - 1;
    EXPECT_EQ(track.GetMidiTrackRawData(p, length), 0);
    EXPECT_EQ(length, static_cast<int32_t>(size));
    EXPECT_EQ(buffer, Bytes(size, 0xEE));

    uint8_t* none = nullptr;
    for (int32_t room : {0, -3}) EXPECT_EQ(track.GetMidiTrackRawData(p, length = room), 0);
    EXPECT_EQ(track.GetMidiTrackRawData(none, length = 100), 0);
}

TEST(Encoder, BendsOfEveryValueRunAndStoreByteForByte) {
    // Every 14-bit bend value in running status: whatever the low byte of the value, the
    // bytes written are 7-bit data bytes, so running status goes on and the track encodes to
    // exactly the bytes it was decoded from.
    Bytes data = B({0x00, 0xE3});
    for (int v = 0; v < 16384; ++v) {
        if (v != 0) data.push_back(0x01);  // the delta before the bend
        data.push_back(static_cast<uint8_t>(v & 0x7F));
        data.push_back(static_cast<uint8_t>(v >> 7));
    }
    data.insert(data.end(), {0x00, 0xFF, 0x2F, 0x00});
    CMidiTrack track;
    ASSERT_EQ(track.SetMidiTrackRawData(data.data(), static_cast<int32_t>(data.size())), 1);
    EXPECT_EQ(Encode(track), data);
}
