// The tempo map (placement of tempo changes, recalculation of their positions, the table cap,
// merging, the conversion between ticks and milliseconds) and the musical time formats.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "midifolio/midifolio.h"
#include "test_support.h"

using namespace midifolio;
using namespace testsupport;

namespace {

_TEMPO T(int32_t ticks, int32_t us, int32_t msecs = 0) {
    return _TEMPO{ticks, msecs, 0, us};
}

// A map with these entries placed by SetTempo, recalculated.
CMidiTempo Map(uint32_t ticksPerQuarter, std::initializer_list<_TEMPO> entries) {
    CMidiTempo map;
    map.SetTicksPerQuarterNote(ticksPerQuarter);
    for (_TEMPO t : entries) map.SetTempo(t);
    map.ReCalculateTempolst();
    return map;
}

// A map with this list as it is, recalculated.
CMidiTempo Raw(uint32_t ticksPerQuarter, const TempoList& list) {
    CMidiTempo map;
    map.SetTicksPerQuarterNote(ticksPerQuarter);
    map.GetTempos() = list;
    map.ReCalculateTempolst();
    return map;
}

// The entries of a map as "tick/us" (or "tick/us/ms") words.
std::string Entries(const CMidiTempo& map, bool msecs = false) {
    std::string out;
    for (const _TEMPO& t : map.GetTempos())
        out += (out.empty() ? "" : " ") + std::to_string(t.lTicks) + "/" +
               std::to_string(t.lUsPerQuarter) + (msecs ? "/" + std::to_string(t.lMsecs) : "");
    return out;
}

}  // namespace

TEST(TempoRecalculation, PositionsAccumulateTruncatedMillisecondsFromTheHeadsOwn) {
    EXPECT_EQ(
        Entries(Map(480, {T(0, 500000, 100), T(960, 250000, 777), T(1440, 500000, 777)}), true),
        "0/500000/100 960/250000/1100 1440/500000/1350");
    // Each step of 0.6 ms truncates to 0 before the next one is added: 0, 0, 0.
    EXPECT_EQ(Entries(Raw(5, {T(0, 3000), T(1, 3000), T(2, 3000)}), true),
              "0/3000/0 1/3000/0 2/3000/0");
    // Without ticks per quarter note no time passes.
    for (uint32_t tpq : {0u, 0xFFFFFFFFu})
        EXPECT_EQ(Entries(Raw(tpq, {T(0, 500000, 5), T(480, 400000, 9)}), true),
                  "0/500000/5 480/400000/5");
    // The 32-bit tick difference wraps, as 32-bit arithmetic does; the sum saturates.
    EXPECT_EQ(
        Entries(Raw(1, {T(0, 0x7FFFFFFF), T(0x7FFFFFFF, 0x7FFFFFFF), T(-0x7FFFFFFF, 5)}), true),
        "0/2147483647/0 2147483647/2147483647/2147483647 -2147483647/5/2147483647");
}

TEST(TempoRecalculation, MoreThan32768EntriesGiveOneMessageAndAFullTable) {
    CMidiTempo map;
    testsupport::Messages messages;
    map.SetMessageSink(messages.Sink());
    map.SetTicksPerQuarterNote(1000);
    for (int32_t i = 0; i < TEMPO_TABLE_SIZE + 2; ++i)
        map.GetTempos().push_back(T(i * 10, 1000000, -7));
    map.ReCalculateTempolst();
    EXPECT_EQ(messages.list,
              std::vector<std::string>{"Total tempo numbers are more than (32768)!"});
    // Entry 32768 (the 32769th) is recomputed; the one after it keeps its old value.
    EXPECT_EQ(map.GetTempos()[TEMPO_TABLE_SIZE].lMsecs, -7 + TEMPO_TABLE_SIZE * 10);
    EXPECT_EQ(map.GetTempos()[TEMPO_TABLE_SIZE + 1].lMsecs, -7);
    // Only the first 32768 entries take part in the conversions.
    EXPECT_EQ(map.GetTempoIdxByTicks(TEMPO_TABLE_SIZE * 10 + 5), TEMPO_TABLE_SIZE - 1);
    // Exactly 32768 entries fit without a message (a copy reports to the same sink).
    CMidiTempo exact(map);
    exact.GetTempos().resize(TEMPO_TABLE_SIZE);
    exact.ReCalculateTempolst();
    EXPECT_EQ(messages.list.size(), 1u);
}

TEST(TempoMerge, AssignmentMergesEntriesWithoutRecalculating) {
    CMidiTempo src = Map(96, {T(0, 500000), T(480, 400000), T(960, 300000)});
    src.SetBar(_BAR{3, 4});
    CMidiTempo dst;
    for (_TEMPO t : {T(0, 500000), T(720, 600000)}) dst.SetTempo(t);
    dst = src;
    EXPECT_EQ(dst.GetTicksPerQuarterNote(), 96);
    EXPECT_EQ(dst.GetBar().dwBaseBarNum, 3u);
    // src's {0, 500000} lands before 720 where 500000 is in force already: dropped.
    EXPECT_EQ(Entries(dst), "0/500000 480/400000 720/600000 960/300000");
    EXPECT_EQ(dst.TicksToMsecs(0), -1);  // tables are not built by a merge
    dst.ReCalculateTempolst();
    EXPECT_EQ(dst.TicksToMsecs(96), 500);
    const CMidiTempo& self = dst;
    dst = self;  // merging a map into itself walks what it held before
    EXPECT_EQ(dst.GetTempos().size(), 5u);
}

// 120 BPM from 0, 240 BPM from 960, 120 BPM from 1440, at 480 ticks per quarter. A position
// on a change belongs to the segment ending there; milliseconds truncate.
TEST(TempoConversion, ConversionsFollowTheTempoChangesAndTruncate) {
    const CMidiTempo map = Map(480, {T(0, 500000), T(960, 250000), T(1440, 500000)});
    std::string byTicks, byMsecs;  // "result@segment"
    for (int32_t ticks : {0, 960, 1200, 1440, 2000})
        byTicks += std::to_string(map.TicksToMsecs(ticks)) + "@" +
                   std::to_string(map.GetTempoIdxByTicks(ticks)) + " ";
    for (int32_t msecs : {1000, 1001, 1125, 1833})
        byMsecs += std::to_string(map.MsecsToTicks(msecs)) + "@" +
                   std::to_string(map.GetTempoIdxByMs(msecs)) + " ";
    EXPECT_EQ(byTicks, "0@0 1000@0 1125@1 1250@1 1833@2 ");
    EXPECT_EQ(byMsecs, "960@0 961@1 1200@1 1999@2 ");
    // Beyond 4.5 s at 480 ticks per quarter a 32-bit product would overflow; it does not.
    EXPECT_EQ(map.MsecsToTicks(3600000), 1440 + (3600000 - 1250) * 480 / 500);
    // As after a load: default entry, prefix and the file's own tempo, all at tick 0.
    const CMidiTempo load = Map(480, {T(0, 500000), T(0, 500000), T(0, 250000), T(480, 1000000)});
    EXPECT_EQ(load.TicksToMsecs(480), 250);
    EXPECT_EQ(load.TicksToMsecs(960), 1250);
    // Positions compare as unsigned numbers: a negative one lies beyond every entry. A list
    // written out of order through GetTempos is searched entry by entry: a position belongs
    // to the first segment that holds it.
    EXPECT_EQ(map.GetTempoIdxByTicks(-1), 2);
    EXPECT_EQ(map.TicksToMsecs(-480), 1250 - 2000);
    const CMidiTempo unsorted = Raw(480, {T(960, 500000), T(0, 250000), T(480, 500000)});
    EXPECT_EQ(unsorted.GetTempoIdxByTicks(100), 1);
    EXPECT_EQ(unsorted.GetTempoIdxByTicks(960), 0);
    // The first entry's own position is no segment's inside: a later segment holding it wins.
    EXPECT_EQ(Raw(480, {T(100, 1), T(200, 1), T(50, 1), T(150, 1)}).GetTempoIdxByTicks(100), 2);
    // Below the first entry the first tempo is extrapolated backwards.
    EXPECT_EQ(Map(480, {T(100, 500000), T(580, 250000)}).TicksToMsecs(0), -104);
}

TEST(TempoConversion, MapsThatCannotConvertAnswerMinusOneAndResultsSaturate) {
    for (const CMidiTempo& map : {Map(480, {}), Map(0xFFFFFFFF, {T(0, 500000)})})
        EXPECT_TRUE(map.TicksToMsecs(10) == -1 &&
                    map.MsecsToTicks(10) == -1);  // no tempo, no ticks
    // A segment of 0 microseconds per quarter takes no time: ticks map onto its start, and no
    // tick can be named for a later time.
    const CMidiTempo still = Map(480, {T(0, 500000), T(480, 0)});
    EXPECT_EQ(still.TicksToMsecs(10000), 500);
    EXPECT_EQ(still.MsecsToTicks(600), -1);
    EXPECT_EQ(still.MsecsToTicks(400), 384);
    // Tables that outlive their list (cleared through the reference) find no entry.
    CMidiTempo stale = Map(480, {T(0, 500000)});
    stale.GetTempos().clear();
    EXPECT_EQ(stale.TicksToMsecs(10), -1);
    const CMidiTempo slow = Map(1, {T(0, 0x7FFFFFFF)});  // results beyond 32 bits saturate
    EXPECT_TRUE(slow.TicksToMsecs(0x7FFFFFFF) == INT32_MAX &&
                slow.TicksToMsecs(-INT32_MAX) == INT32_MIN);
    EXPECT_EQ(Map(960000, {T(0, 1)}).MsecsToTicks(1000000000), 0x7FFFFFFF);
}

// ------------------------------------------------------------------ musical time formats
// Conversions among ticks, milliseconds, measure/beat/tick and hours/minutes/seconds/frames,
// the measure length, and the song's switch to milliseconds.
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

TEST(TempoConversion, WholeTracksConvertAsEveryTickAloneWouldInAnyOrder) {
    // Convert2MSecond walks the tempo map along with the track's times: ascending runs,
    // steps back, repeated ticks, ticks on the entries and negative ones answer what
    // TicksToMsecs answers for each.
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        CMidiTempo map;
        map.SetTicksPerQuarterNote(96 + round);
        for (int k = 0; k < 1 + round; ++k) {
            _TEMPO t = T(static_cast<int32_t>(random() % 5000),
                         100000 + static_cast<int32_t>(random() % 900000));
            map.SetTempo(t);
        }
        map.ReCalculateTempolst();
        CMidiTrack track;
        track.SetTempoObject(&map);
        std::vector<int32_t> ticks;
        for (int k = 0; k < 300; ++k) {
            int32_t tick = static_cast<int32_t>(random() % 6000);
            if (k % 50 == 49) tick = -tick;
            if (k % 7 == 0 && !ticks.empty()) tick = ticks.back();
            if (k % 11 == 0) tick = map.GetTempos()[random() % map.GetTempos().size()].lTicks;
            ticks.push_back(k < 150 ? tick : (k == 150 ? 0 : ticks.back() + tick % 40));
        }
        for (int32_t tick : ticks) {
            MIDIEvent ev{};
            ev.lTime = tick;
            ev.dwType = EVT_NOTEON;
            track.InsertEventAfter(nullptr, ev);
        }
        ASSERT_EQ(track.Convert2MSecond(), 1);
        size_t k = 0;
        for (POSITION pos = track.GetEventHeadPosition(); pos != nullptr; ++k)
            ASSERT_EQ(track.GetNextEvent(pos).lTime,
                      static_cast<int32_t>(map.TicksToMsecs(ticks[k]) + 0.5))  // as it rounds
                << round << " " << k;
    }
}
