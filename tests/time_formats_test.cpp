// Musical time formats: conversions among ticks, milliseconds, measure/beat/tick and
// hours/minutes/seconds/frames, the measure length, and the song's switch to milliseconds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "midifolio/midifolio.h"
#include "test_support.h"

using namespace midifolio;
using namespace testsupport;

namespace {

Bytes TimeSignature(int numerator, int exponent) {
    return B({0xFF, 0x58, 0x04, numerator, exponent, 0x18, 0x08});
}

// A format-0 song at 120 BPM: optional time signature at tick 0, a note at tick 960, end at 1920.
void LoadSong(CMidiFolio& song, int division, const Bytes& timeSignature) {
    const Bytes events =
        Cat({timeSignature.empty() ? Bytes{} : Cat({Vlq(0), timeSignature}), Vlq(960),
             B({0x90, 60, 100}), Vlq(960), B({0x80, 60, 0}), Vlq(0), B({0xFF, 0x2F, 0x00})});
    Messages messages;
    song.SetMessageSink(messages.Sink());
    ASSERT_EQ(song.LoadMidiFile(WriteFile("time.mid", Smf(0, division, {events}))), 1);
}

// A converted time as text: "t<ticks>", "ms<msecs>", "m<measure>.<beat>.<tick>" or
// "<h>:<m>:<s>/<frame>".
std::string Converted(CMidiFolio& song, _MIDI_TIME t, TIME_FORMAT target) {
    song.ConvertMIDITime(&t, target);
    switch (t.format) {
        case TF_TICK:
            return "t" + std::to_string(t.lTicks);
        case TF_MSEC:
            return "ms" + std::to_string(t.dMsecs);
        case TF_MEASURE:
            return "m" + std::to_string(t.lMeasure) + "." + std::to_string(t.nBeat) + "." +
                   std::to_string(t.nTick);
        case TF_HMSF:
            return std::to_string(t.lHour) + ":" + std::to_string(t.lMinute) + ":" +
                   std::to_string(t.lSecond) + "/" + std::to_string(t.lFrame);
        default:
            return "none";
    }
}

class FourFour : public ::testing::Test {
  protected:
    void SetUp() override { LoadSong(song, 480, TimeSignature(4, 2)); }
    std::string To(_MIDI_TIME t, TIME_FORMAT target) { return Converted(song, t, target); }
    CMidiFolio song;
};

}  // namespace

TEST_F(FourFour, TicksSplitIntoMeasuresOfFourQuartersTruncatingTowardZero) {
    EXPECT_EQ(To(MakeTicks(2500), TF_MEASURE), "m1.1.100");
    EXPECT_EQ(To(MakeTicks(1920), TF_MEASURE), "m1.0.0");
    EXPECT_EQ(To(MakeTicks(1919), TF_MEASURE), "m0.3.479");
    EXPECT_EQ(To(MakeMeasure(2, 3, 10), TF_TICK), "t5290");
    EXPECT_EQ(To(MakeMeasure(0, 5, 500), TF_TICK), "t2900");  // beyond its unit: linear
    EXPECT_EQ(To(MakeTicks(-2500), TF_MEASURE), "m-1.-1.-100");
    EXPECT_EQ(song.GetBaseBarNum(), 4u);
    EXPECT_EQ(song.GetBaseNoteNum(), 4u);
}

TEST_F(FourFour, MillisecondsFollowTheTempoAndTheClockHasFortyFramesPerSecond) {
    EXPECT_EQ(To(MakeTicks(960), TF_MSEC), "ms1000.000000");
    EXPECT_EQ(To(MakeMsecs(1000.9), TF_TICK), "t960");  // the milliseconds are truncated first
    EXPECT_EQ(To(MakeMsecs(1250.0), TF_TICK), "t1200");
    EXPECT_EQ(To(MakeTicks(960), TF_HMSF), "0:0:1/0");
    EXPECT_EQ(To(MakeHmsf(0, 1, 5, 4), TF_MSEC), "ms65100.000000");
    EXPECT_EQ(To(MakeMsecs(3723999.9), TF_HMSF), "1:2:3/39");
    EXPECT_EQ(To(MakeMsecs(-1500.0), TF_HMSF), "0:0:-1/-20");
}

TEST_F(FourFour, EveryPairTakesItsChainThroughTheOtherFormats) {
    // 2500 ticks = 2604.166 ms; measure 1, beat 1, tick 100.
    EXPECT_EQ(To(MakeMsecs(2604.9), TF_MEASURE), "m1.1.99");
    EXPECT_EQ(To(MakeMeasure(1, 1, 100), TF_HMSF), "0:0:2/24");
    EXPECT_EQ(To(MakeMeasure(1, 0, 0), TF_MSEC), "ms2000.000000");
    EXPECT_EQ(To(MakeHmsf(0, 0, 2, 0), TF_TICK), "t1920");
    EXPECT_EQ(To(MakeHmsf(0, 0, 2, 1), TF_MEASURE), "m1.0.24");
    EXPECT_EQ(To(MakeMsecs(12.75), TF_MSEC), "ms12.750000");  // already there: left alone
}

TEST_F(FourFour, UnknownFormatsChangeOnlyTheTag) {
    for (int target : {0, 5, -1}) {
        _MIDI_TIME t = MakeHmsf(1, 2, 3, 4);
        const _MIDI_TIME before = t;
        song.ConvertMIDITime(&t, static_cast<TIME_FORMAT>(target));
        EXPECT_EQ(t.format, TF_NONE);
        EXPECT_EQ(std::memcmp(&t.lFrame, &before.lFrame, 4 * sizeof(int32_t)), 0);
    }
    _MIDI_TIME t = MakeTicks(4242);
    t.format = static_cast<TIME_FORMAT>(9);  // a source outside the four formats
    EXPECT_EQ(To(t, TF_TICK), "t4242");
    song.ConvertMIDITime(nullptr, TF_TICK);
}

// 6/8 and 12/8 are 3 and 6 quarters; 3/8 and 5/8 drop their half quarter.
TEST(MeasureLength, CountsWholeQuarterNotesOfTheTimeSignature) {
    const struct {
        int numerator, exponent, measureTicks;
    } cases[] = {{4, 2, 1920}, {3, 2, 1440}, {6, 3, 1440}, {12, 3, 2880},
                 {2, 1, 1920}, {3, 3, 480},  {5, 3, 960}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.numerator) + "/2^" + std::to_string(c.exponent));
        CMidiFolio song;
        LoadSong(song, 480, TimeSignature(c.numerator, c.exponent));
        EXPECT_EQ(Converted(song, MakeMeasure(1, 0, 0), TF_TICK),
                  "t" + std::to_string(c.measureTicks));
        EXPECT_EQ(Converted(song, MakeTicks(c.measureTicks * 3 + 1), TF_MEASURE), "m3.0.1");
        EXPECT_EQ(Converted(song, MakeTicks(c.measureTicks - 1), TF_MEASURE),
                  "m0." + std::to_string(c.measureTicks / 480 - 1) + ".479");
    }
    CMidiFolio none;  // without a time signature: that of 2/4
    LoadSong(none, 96, Bytes{});
    EXPECT_EQ(none.GetBaseBarNum(), 2u);
    EXPECT_EQ(Converted(none, MakeTicks(200), TF_MEASURE), "m1.0.8");
}

TEST(MeasureLength, ZeroMakesMeasureConversionsFailButNotTheOthers) {
    CMidiFolio empty;  // no tracks: no time signature, no measure length, no tempo
    EXPECT_EQ(empty.GetBaseBarNum(), 0u);
    EXPECT_EQ(Converted(empty, MakeTicks(2500), TF_MEASURE), "m-1.0.0");
    EXPECT_EQ(Converted(empty, MakeMeasure(0, 1, 0), TF_TICK), "t-1");
    EXPECT_EQ(Converted(empty, MakeTicks(960), TF_MSEC), "ms-1.000000");
    // Note values too large for their power of two, 0 beats per measure, a first track
    // without a tempo map, and ticks per quarter note 0 or unset.
    for (int variant = 0; variant < 6; ++variant) {
        SCOPED_TRACE(variant);
        CMidiFolio song;
        const int exponents[] = {31, 40, 255};
        LoadSong(song, 480,
                 TimeSignature(variant == 3 ? 0 : 4, variant < 3 ? exponents[variant] : 2));
        if (variant == 4) song.GetTrack(0)->SetTempoObject(nullptr);
        if (variant == 5) song.GetMidiTempo().SetTicksPerQuarterNote(0);
        EXPECT_EQ(Converted(song, MakeTicks(2500), TF_MEASURE), "m-1.0.0");
        EXPECT_EQ(Converted(song, MakeMeasure(1, 1, 1), TF_TICK), "t-1");
        if (variant < 5) {
            EXPECT_EQ(Converted(song, MakeTicks(960), TF_MSEC), "ms1000.000000");
        }
    }
}

TEST(MeasureLength, BeatAndTickKeepTheirLowSixteenBits) {
    // 40000 ticks per quarter: a tick within the quarter can exceed 32767.
    CMidiFolio song;
    LoadSong(song, 480, TimeSignature(4, 2));
    song.GetMidiTempo().SetTicksPerQuarterNote(40000);
    EXPECT_EQ(Converted(song, MakeTicks(39999), TF_MEASURE),
              "m0.0." + std::to_string(39999 - 65536));
    EXPECT_EQ(Converted(song, MakeTicks(240005), TF_MEASURE), "m1.2.5");
    EXPECT_EQ(Converted(song, MakeMeasure(0, 0, int16_t(39999 - 65536)), TF_TICK),
              "t" + std::to_string(39999 - 65536));
}

TEST(ConvertTime2MS, RewritesEveryTrackInMilliseconds) {
    CMidiFolio song;
    LoadSong(song, 480, TimeSignature(4, 2));
    EXPECT_EQ(song.ConvertTime2MS(), 1);
    std::vector<int32_t> times;
    for (POSITION pos = song.GetTrack(0)->GetEventHeadPosition(); pos;)
        times.push_back(song.GetTrack(0)->GetNextEvent(pos).lTime);
    // Tempo prefix, time signature, note on, note off, end.
    EXPECT_EQ(times, (std::vector<int32_t>{0, 0, 1000, 2000, 2000}));
    CMidiFolio empty;
    EXPECT_EQ(empty.ConvertTime2MS(), 1);
}
