// Musical time formats: conversions among ticks, milliseconds, measure/beat/tick and
// hours/minutes/seconds/frames, the measure length, and the song's switch to milliseconds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "midifolio/midifolio.h"
#include "test_support.h"

using namespace midifolio;
using namespace testsupport;

namespace {

Bytes TimeSignature(int numerator, int exponent) {
    return B({0xFF, 0x58, 0x04, numerator, exponent, 0x18, 0x08});
}

// A format-0 song: optional time signature at tick 0, a note at tick 960, end at 1920.
void LoadSong(CMidiFolio& song, int division, const Bytes& timeSignature, const std::string& name) {
    const Bytes events =
        Cat({timeSignature.empty() ? Bytes{} : Cat({Vlq(0), timeSignature}), Vlq(960),
             B({0x90, 60, 100}), Vlq(960), B({0x80, 60, 0}), Vlq(0), B({0xFF, 0x2F, 0x00})});
    Messages messages;
    song.SetMessageSink(messages.Sink());
    const std::string path = WriteFile(name, Smf(0, division, {events}));
    ASSERT_EQ(song.LoadMidiFile(path), 1);
    ASSERT_TRUE(messages.list.empty());
}

_MIDI_TIME Converted(CMidiFolio& song, _MIDI_TIME t, TIME_FORMAT target) {
    song.ConvertMIDITime(&t, target);
    return t;
}

void ExpectMeasure(const _MIDI_TIME& t, int32_t measure, int16_t beat, int16_t tick) {
    EXPECT_EQ(t.format, TF_MEASURE);
    EXPECT_EQ(t.lMeasure, measure);
    EXPECT_EQ(t.nBeat, beat);
    EXPECT_EQ(t.nTick, tick);
}

void ExpectClock(const _MIDI_TIME& t, int32_t hour, int32_t minute, int32_t second, int32_t frame) {
    EXPECT_EQ(t.format, TF_HMSF);
    EXPECT_EQ(t.lHour, hour);
    EXPECT_EQ(t.lMinute, minute);
    EXPECT_EQ(t.lSecond, second);
    EXPECT_EQ(t.lFrame, frame);
}

class FourFour : public ::testing::Test {
  protected:
    void SetUp() override { LoadSong(song, 480, TimeSignature(4, 2), "time_44.mid"); }
    CMidiFolio song;
};

}  // namespace

TEST_F(FourFour, TicksSplitIntoMeasuresOfFourQuarters) {
    ExpectMeasure(Converted(song, MakeTicks(2500), TF_MEASURE), 1, 1, 100);
    ExpectMeasure(Converted(song, MakeTicks(0), TF_MEASURE), 0, 0, 0);
    ExpectMeasure(Converted(song, MakeTicks(1920), TF_MEASURE), 1, 0, 0);
    EXPECT_EQ(Converted(song, MakeMeasure(2, 3, 10), TF_TICK).lTicks, 5290);
    EXPECT_EQ(Converted(song, MakeMeasure(1, 1, 100), TF_TICK).lTicks, 2500);
    // A beat or tick beyond its unit still counts linearly.
    EXPECT_EQ(Converted(song, MakeMeasure(0, 5, 500), TF_TICK).lTicks, 5 * 480 + 500);
    // Negative positions split with truncation toward zero.
    ExpectMeasure(Converted(song, MakeTicks(-1), TF_MEASURE), 0, 0, -1);
    ExpectMeasure(Converted(song, MakeTicks(-2500), TF_MEASURE), -1, -1, -100);
    EXPECT_EQ(song.GetBaseBarNum(), 4u);
    EXPECT_EQ(song.GetBaseNoteNum(), 4u);
}

TEST_F(FourFour, TicksAndMillisecondsFollowTheTempo) {
    const _MIDI_TIME ms = Converted(song, MakeTicks(960), TF_MSEC);
    EXPECT_EQ(ms.format, TF_MSEC);
    EXPECT_EQ(ms.dMsecs, 1000.0);
    const _MIDI_TIME ticks = Converted(song, MakeMsecs(1000.9), TF_TICK);
    EXPECT_EQ(ticks.format, TF_TICK);
    EXPECT_EQ(ticks.lTicks, 960);  // the milliseconds are truncated first
    EXPECT_EQ(Converted(song, MakeMsecs(1250.0), TF_TICK).lTicks, 1200);
}

TEST_F(FourFour, ClockFormatHasFortyFramesPerSecond) {
    ExpectClock(Converted(song, MakeTicks(960), TF_HMSF), 0, 0, 1, 0);
    EXPECT_EQ(Converted(song, MakeHmsf(0, 1, 5, 4), TF_MSEC).dMsecs, 65100.0);
    ExpectClock(Converted(song, MakeMsecs(3723999.9), TF_HMSF), 1, 2, 3, 39);
    ExpectClock(Converted(song, MakeMsecs(59.0), TF_HMSF), 0, 0, 0, 2);
    // Negative times split with truncation toward zero.
    ExpectClock(Converted(song, MakeMsecs(-1500.0), TF_HMSF), 0, 0, -1, -20);
}

TEST_F(FourFour, EveryPairTakesItsChainThroughTheOtherFormats) {
    // 2500 ticks = 2604.166 ms; measure 1, beat 1, tick 100.
    ExpectMeasure(Converted(song, MakeMsecs(2604.9), TF_MEASURE), 1, 1, 99);
    ExpectClock(Converted(song, MakeMeasure(1, 1, 100), TF_HMSF), 0, 0, 2, 24);
    EXPECT_EQ(Converted(song, MakeMeasure(1, 0, 0), TF_MSEC).dMsecs, 2000.0);
    EXPECT_EQ(Converted(song, MakeHmsf(0, 0, 2, 0), TF_TICK).lTicks, 1920);
    ExpectMeasure(Converted(song, MakeHmsf(0, 0, 2, 1), TF_MEASURE), 1, 0, 24);
    // A record already in the target format is left alone.
    EXPECT_EQ(Converted(song, MakeMsecs(12.75), TF_MSEC).dMsecs, 12.75);
    ExpectMeasure(Converted(song, MakeMeasure(7, 9, 1000), TF_MEASURE), 7, 9, 1000);
}

TEST_F(FourFour, UnknownFormatsChangeOnlyTheTag) {
    for (TIME_FORMAT target :
         {static_cast<TIME_FORMAT>(0), static_cast<TIME_FORMAT>(5), static_cast<TIME_FORMAT>(-1)}) {
        _MIDI_TIME t = MakeHmsf(1, 2, 3, 4);
        const _MIDI_TIME before = t;
        song.ConvertMIDITime(&t, target);
        EXPECT_EQ(t.format, TF_NONE);
        EXPECT_EQ(std::memcmp(&t.lFrame, &before.lFrame, 4 * sizeof(int32_t)), 0);
    }
    // A source outside the four formats converts nothing; only the tag changes.
    _MIDI_TIME t = MakeTicks(4242);
    t.format = static_cast<TIME_FORMAT>(9);
    song.ConvertMIDITime(&t, TF_TICK);
    EXPECT_EQ(t.format, TF_TICK);
    EXPECT_EQ(t.lTicks, 4242);
    song.ConvertMIDITime(nullptr, TF_TICK);  // nothing to convert, no crash
}

TEST_F(FourFour, IntegerOverflowWrapsInThirtyTwoBits) {
    // 1000 hours is 3.6e9 ms, which wraps in 32 bits.
    EXPECT_EQ(Converted(song, MakeHmsf(1000, 0, 0, 0), TF_MSEC).dMsecs,
              3600000000.0 - 4294967296.0);
    EXPECT_EQ(Converted(song, MakeMeasure(2000000, 0, 0), TF_TICK).lTicks,
              static_cast<int32_t>(static_cast<uint32_t>(2000000u * 1920u)));
    EXPECT_EQ(
        Converted(song, MakeMeasure(std::numeric_limits<int32_t>::min(), -1, -1), TF_TICK).lTicks,
        static_cast<int32_t>(0x80000000u * 1920u - 481u));
}

TEST_F(FourFour, MillisecondsThatDoNotFitThirtyTwoBitsCountAsMinusOne) {
    const double bad[] = {std::nan(""), 1e12, -1e12, std::numeric_limits<double>::infinity()};
    for (double ms : bad) {
        ExpectClock(Converted(song, MakeMsecs(ms), TF_HMSF), 0, 0, 0, 0);  // -1 ms
        EXPECT_EQ(Converted(song, MakeMsecs(ms), TF_TICK).lTicks,
                  song.GetMidiTempo().MsecsToTicks(-1));
    }
}

TEST(MeasureLength, CountsWholeQuarterNotesOfTheTimeSignature) {
    struct Case {
        int numerator, exponent;
        int32_t measureTicks;
    };
    // 6/8 and 12/8 are 3 and 6 quarters; 3/8 and 5/8 drop their half quarter.
    const Case cases[] = {{4, 2, 1920},  {3, 2, 1440}, {2, 2, 960}, {6, 3, 1440},
                          {12, 3, 2880}, {2, 1, 1920}, {3, 3, 480}, {5, 3, 960}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.numerator) + "/2^" + std::to_string(c.exponent));
        CMidiFolio song;
        LoadSong(song, 480, TimeSignature(c.numerator, c.exponent), "time_sig.mid");
        EXPECT_EQ(Converted(song, MakeMeasure(1, 0, 0), TF_TICK).lTicks, c.measureTicks);
        ExpectMeasure(Converted(song, MakeTicks(c.measureTicks * 3 + 1), TF_MEASURE), 3, 0, 1);
        ExpectMeasure(Converted(song, MakeTicks(c.measureTicks - 1), TF_MEASURE), 0,
                      static_cast<int16_t>(c.measureTicks / 480 - 1), 479);
    }
}

TEST(MeasureLength, WithoutTimeSignatureIsThatOfTwoFour) {
    CMidiFolio song;
    LoadSong(song, 96, Bytes{}, "time_none.mid");
    EXPECT_EQ(song.GetBaseBarNum(), 2u);
    EXPECT_EQ(song.GetBaseNoteNum(), 4u);
    ExpectMeasure(Converted(song, MakeTicks(200), TF_MEASURE), 1, 0, 8);
}

TEST(MeasureLength, ZeroMakesMeasureConversionsFail) {
    // No tracks: no time signature, no measure length, no tempo.
    CMidiFolio empty;
    EXPECT_EQ(empty.GetBaseBarNum(), 0u);
    EXPECT_EQ(empty.GetBaseNoteNum(), 0u);
    ExpectMeasure(Converted(empty, MakeTicks(2500), TF_MEASURE), -1, 0, 0);
    EXPECT_EQ(Converted(empty, MakeMeasure(0, 1, 0), TF_TICK).lTicks, -1);
    EXPECT_EQ(Converted(empty, MakeTicks(960), TF_MSEC).dMsecs, -1.0);
    EXPECT_EQ(Converted(empty, MakeMsecs(1000.0), TF_TICK).lTicks, -1);
    ExpectClock(Converted(empty, MakeTicks(960), TF_HMSF), 0, 0, 0, 0);

    // Note values too large for their power of two, and 0 beats per measure.
    for (int exponent : {31, 32, 40, 255}) {
        SCOPED_TRACE(exponent);
        CMidiFolio song;
        LoadSong(song, 480, TimeSignature(4, exponent), "time_huge.mid");
        ExpectMeasure(Converted(song, MakeTicks(2500), TF_MEASURE), -1, 0, 0);
        EXPECT_EQ(Converted(song, MakeMeasure(1, 0, 0), TF_TICK).lTicks, -1);
        EXPECT_EQ(Converted(song, MakeTicks(960), TF_MSEC).dMsecs, 1000.0);  // tempo still works
    }
    CMidiFolio zeroBeats;
    LoadSong(zeroBeats, 480, TimeSignature(0, 2), "time_zero.mid");
    ExpectMeasure(Converted(zeroBeats, MakeTicks(2500), TF_MEASURE), -1, 0, 0);

    // Ticks per quarter note 0 or unset.
    for (uint32_t quarter : {0u, 0xFFFFFFFFu}) {
        CMidiFolio song;
        LoadSong(song, 480, TimeSignature(4, 2), "time_q0.mid");
        song.GetMidiTempo().SetTicksPerQuarterNote(quarter);
        ExpectMeasure(Converted(song, MakeTicks(2500), TF_MEASURE), -1, 0, 0);
        EXPECT_EQ(Converted(song, MakeMeasure(1, 1, 1), TF_TICK).lTicks, -1);
    }
}

TEST(MeasureLength, FirstTrackWithoutTempoMapCountsAsNoMeasure) {
    CMidiFolio song;
    LoadSong(song, 480, TimeSignature(3, 2), "time_detached.mid");
    song.GetTrack(0)->SetTempoObject(nullptr);
    EXPECT_EQ(song.GetBaseBarNum(), 0u);
    EXPECT_EQ(song.GetBaseNoteNum(), 0u);
    ExpectMeasure(Converted(song, MakeTicks(2500), TF_MEASURE), -1, 0, 0);
    EXPECT_EQ(Converted(song, MakeTicks(960), TF_MSEC).dMsecs, 1000.0);  // the song's map
}

TEST(MeasureLength, BeatAndTickKeepTheirLowSixteenBits) {
    // 40000 ticks per quarter: a tick within the quarter can exceed 32767.
    CMidiFolio song;
    LoadSong(song, 480, TimeSignature(4, 2), "time_wide.mid");
    song.GetMidiTempo().SetTicksPerQuarterNote(40000);
    ExpectMeasure(Converted(song, MakeTicks(39999), TF_MEASURE), 0, 0,
                  static_cast<int16_t>(39999 - 65536));
    ExpectMeasure(Converted(song, MakeTicks(160000 + 80000 + 5), TF_MEASURE), 1, 2, 5);
    // Back from the kept bits: the sign-extended 16-bit tick.
    EXPECT_EQ(
        Converted(song, MakeMeasure(0, 0, static_cast<int16_t>(39999 - 65536)), TF_TICK).lTicks,
        39999 - 65536);
}

TEST(ConvertTime2MS, RewritesEveryTrackInMilliseconds) {
    CMidiFolio song;
    LoadSong(song, 480, TimeSignature(4, 2), "time_2ms.mid");
    EXPECT_EQ(song.ConvertTime2MS(), 1);
    MidiEventList list;
    song.GetMIDIByTrack(0, 0, list);
    ASSERT_EQ(list.size(), 5u);  // tempo prefix, time signature, note on, note off, end
    EXPECT_EQ(list[2].event.lTime, 1000);
    EXPECT_EQ(list[3].event.lTime, 2000);
    EXPECT_EQ(list[4].event.lTime, 2000);

    CMidiFolio empty;
    EXPECT_EQ(empty.ConvertTime2MS(), 1);
}
