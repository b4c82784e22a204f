// Tick/millisecond conversion: segment search, interpolation, defined results for maps
// that cannot convert, and the bisection against the linear search rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "midifolio/midifolio.h"
#include "test_support.h"

using namespace midifolio;

namespace {

_TEMPO T(int32_t ticks, int32_t us, int32_t msecs = 0) {
    return _TEMPO{ticks, msecs, 0, us};
}

// A map with these entries, recalculated.
CMidiTempo Map(uint32_t ticksPerQuarter, std::initializer_list<_TEMPO> entries) {
    CMidiTempo map;
    map.SetTicksPerQuarterNote(ticksPerQuarter);
    for (_TEMPO t : entries) map.SetTempo(t);
    map.ReCalculateTempolst();
    return map;
}

// 480 ticks per quarter; 120 BPM from 0, 240 BPM from 960, 120 BPM from 1440.
CMidiTempo ThreeTempos() {
    return Map(480, {T(0, 500000), T(960, 250000), T(1440, 500000)});
}

// The segment search written out literally (unsigned comparisons; a position on a later
// entry belongs to the segment ending there), with this library's choice for a position
// at or below the first entry when no segment holds it: segment 0.
int32_t ReferenceSearch(const std::vector<int32_t>& table, int32_t pos) {
    const int32_t n = static_cast<int32_t>(table.size()) - 1;
    if (n < 0) return -1;
    const uint32_t t = static_cast<uint32_t>(pos);
    for (int32_t i = 0; i < n; ++i) {
        const uint32_t lo = static_cast<uint32_t>(table[i]);
        const uint32_t hi = static_cast<uint32_t>(table[i + 1]);
        if ((lo < t && t < hi) || t == hi) return i;
    }
    return t <= static_cast<uint32_t>(table[0]) ? 0 : n;
}

}  // namespace

// A position on a change belongs to the segment ending there; milliseconds truncate, so
// round trips may lose a tick.
TEST(TempoConversion, ConversionsFollowTheTempoChangesAndTruncate) {
    const CMidiTempo map = ThreeTempos();
    const struct {
        int32_t ticks, msecs, segment;
    } byTicks[] = {{0, 0, 0},       {480, 500, 0},   {960, 1000, 0},
                   {1200, 1125, 1}, {1440, 1250, 1}, {2000, 1833, 2}};
    for (const auto& c : byTicks) {
        EXPECT_EQ(map.TicksToMsecs(c.ticks), c.msecs) << c.ticks;
        EXPECT_EQ(map.GetTempoIdxByTicks(c.ticks), c.segment) << c.ticks;
    }
    const struct {
        int32_t msecs, ticks, segment;
    } byMsecs[] = {{0, 0, 0}, {1000, 960, 0}, {1001, 961, 1}, {1125, 1200, 1}, {1833, 1999, 2}};
    for (const auto& c : byMsecs) {
        EXPECT_EQ(map.MsecsToTicks(c.msecs), c.ticks) << c.msecs;
        EXPECT_EQ(map.GetTempoIdxByMs(c.msecs), c.segment) << c.msecs;
    }
    // Beyond 4.5 s at 480 ticks per quarter a 32-bit product would overflow; it does not.
    EXPECT_EQ(map.MsecsToTicks(3600000), 1440 + (3600000 - 1250) * 480 / 500);
    EXPECT_EQ(map.GetTempoIdxByMs(99999), 2);
}

TEST(TempoConversion, RepeatedPositionsAtTheStartUseTheLastOfThem) {
    // As after a load: default entry, tempo prefix and the file's own tempo, all at tick 0.
    const CMidiTempo map = Map(480, {T(0, 500000), T(0, 500000), T(0, 250000), T(480, 1000000)});
    EXPECT_EQ(map.GetTempoIdxByTicks(0), 0);
    EXPECT_EQ(map.GetTempoIdxByTicks(1), 2);
    EXPECT_EQ(map.GetTempoIdxByTicks(480), 2);
    EXPECT_EQ(map.GetTempoIdxByTicks(481), 3);
    EXPECT_EQ(map.TicksToMsecs(480), 250);
    EXPECT_EQ(map.TicksToMsecs(960), 1250);
}

TEST(TempoConversion, SingleEntryServesEveryPosition) {
    const CMidiTempo map = Map(480, {T(0, 500000)});
    for (int32_t pos : {0, 1, 480, 1000000, -1}) EXPECT_EQ(map.GetTempoIdxByTicks(pos), 0);
    EXPECT_EQ(map.TicksToMsecs(960), 1000);
    EXPECT_EQ(map.TicksToMsecs(1), 1);
}

TEST(TempoConversion, NegativePositionsCompareAsLaterThanEveryEntry) {
    const CMidiTempo map = ThreeTempos();
    EXPECT_EQ(map.GetTempoIdxByTicks(-1), 2);
    EXPECT_EQ(map.TicksToMsecs(-480), 1250 - 2000);
    EXPECT_EQ(map.GetTempoIdxByMs(-5), 2);
}

TEST(TempoConversion, PositionBelowTheFirstEntryUsesTheFirstTempo) {
    const CMidiTempo map = Map(480, {T(100, 500000), T(580, 250000), T(1060, 1000000)});
    EXPECT_EQ(map.GetTempoIdxByTicks(50), 0);
    EXPECT_EQ(map.TicksToMsecs(0), -104);    // 100 ticks before the first entry, at 120 BPM
    EXPECT_EQ(map.GetTempoIdxByMs(-10), 2);  // negative: later than every entry, unsigned
}

TEST(TempoConversion, MapsThatCannotConvertAnswerMinusOne) {
    const CMidiTempo empty = Map(480, {});
    EXPECT_EQ(empty.TicksToMsecs(10), -1);
    EXPECT_EQ(empty.MsecsToTicks(10), -1);

    const CMidiTempo notSet = Map(0xFFFFFFFF, {T(0, 500000)});  // ticks per quarter still -1
    EXPECT_EQ(notSet.GetTempoIdxByTicks(10), 0);
    EXPECT_EQ(notSet.TicksToMsecs(10), -1);
    EXPECT_EQ(notSet.MsecsToTicks(10), -1);

    // A segment of 0 microseconds per quarter takes no time: ticks map onto its start,
    // and no tick can be named for a time.
    const CMidiTempo still = Map(480, {T(0, 500000), T(480, 0)});
    EXPECT_EQ(still.TicksToMsecs(10000), 500);
    EXPECT_EQ(still.MsecsToTicks(600), -1);
    EXPECT_EQ(still.MsecsToTicks(400), 384);

    // Tables that outlive their list (cleared through the reference) find no entry.
    CMidiTempo stale = ThreeTempos();
    stale.GetTempos().clear();
    EXPECT_EQ(stale.TicksToMsecs(10), -1);
    EXPECT_EQ(stale.MsecsToTicks(10), -1);
}

TEST(TempoConversion, ResultsBeyondThirtyTwoBitsSaturate) {
    const CMidiTempo map = Map(1, {T(0, 0x7FFFFFFF)});
    EXPECT_EQ(map.TicksToMsecs(0x7FFFFFFF), 0x7FFFFFFF);
    EXPECT_EQ(map.TicksToMsecs(-0x7FFFFFFF), INT32_MIN);

    EXPECT_EQ(Map(960000, {T(0, 1)}).MsecsToTicks(1000000000), 0x7FFFFFFF);
}

// The search bisects tables that ascend as unsigned numbers and falls back to the linear
// rule otherwise; over random lists (repeated positions, negative positions, unsorted
// tables, the 32,768 cap) both give what the rule gives, and so do the conversions.
TEST(TempoConversion, SearchMatchesTheLinearRuleOnRandomTables) {
    std::mt19937 rng(2024);
    auto check = [&](CMidiTempo& map, const std::vector<int32_t>& probes) {
        map.ReCalculateTempolst();
        const TempoList& list = static_cast<const CMidiTempo&>(map).GetTempos();
        const size_t count = std::min<size_t>(list.size(), TEMPO_TABLE_SIZE);
        std::vector<int32_t> ticks, msecs;
        for (size_t k = 0; k < count; ++k) {
            ticks.push_back(list[k].lTicks);
            msecs.push_back(list[k].lMsecs);
        }
        for (int32_t pos : probes) {
            const int32_t i = ReferenceSearch(ticks, pos);
            ASSERT_EQ(map.GetTempoIdxByTicks(pos), i) << pos;
            ASSERT_EQ(map.GetTempoIdxByMs(pos), ReferenceSearch(msecs, pos)) << pos;
            if (i >= 0) {
                const _TEMPO& e = list[static_cast<size_t>(i)];
                const double ms = e.lMsecs + static_cast<double>(static_cast<int32_t>(
                                                 static_cast<uint32_t>(pos) - e.lTicks)) *
                                                 e.lUsPerQuarter / (480 * 1000);
                if (ms > INT32_MIN && ms < INT32_MAX) {
                    ASSERT_EQ(map.TicksToMsecs(pos), static_cast<int32_t>(ms)) << pos;
                }
            }
        }
    };
    for (int round = 0; round < 400; ++round) {
        CMidiTempo map;
        map.SetTicksPerQuarterNote(480);
        TempoList& list = map.GetTempos();
        const int n = static_cast<int>(rng() % 12);
        const bool sorted = round % 2 == 0;
        std::uniform_int_distribution<int32_t> tick(-4, 20);
        for (int i = 0; i < n; ++i) {
            int32_t at = tick(rng);
            if (rng() % 8 == 0) at = INT32_MIN + tick(rng) + 4;
            const int32_t us =
                rng() % 9 == 0 ? -250000 : static_cast<int32_t>(1 + rng() % 4) * 125000;
            list.push_back(T(at, us));
        }
        if (sorted)
            std::sort(list.begin(), list.end(),
                      [](const _TEMPO& a, const _TEMPO& b) { return a.lTicks < b.lTicks; });
        std::vector<int32_t> probes;
        for (int32_t p = -6; p <= 24; ++p) probes.push_back(p);
        for (int32_t p : {INT32_MIN, INT32_MIN + 1, INT32_MAX, 1000000}) probes.push_back(p);
        for (const _TEMPO& e : list) probes.push_back(e.lMsecs), probes.push_back(e.lMsecs + 1);
        check(map, probes);
    }
    // Past the cap only the first 32,768 entries are searched.
    CMidiTempo big;
    big.SetMessageSink([](const std::string&) {});
    big.SetTicksPerQuarterNote(480);
    for (int32_t i = 0; i < TEMPO_TABLE_SIZE + 50; ++i)
        big.GetTempos().push_back(T(i / 3, 500000 + i % 5));
    std::vector<int32_t> probes = {-1, 0, 1, 7, 5000, 10922, 10923, 10924, 10925, 10940, 20000};
    check(big, probes);
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
