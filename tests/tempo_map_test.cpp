// The tempo map: defaults, tempo list placement, recalculation of the positions, the
// table cap and merging.
#include <gtest/gtest.h>

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

void Add(CMidiTempo& map, _TEMPO t) {
    map.SetTempo(t);
}

std::vector<int32_t> TicksOf(const CMidiTempo& map) {
    std::vector<int32_t> v;
    for (const _TEMPO& t : map.GetTempos()) v.push_back(t.lTicks);
    return v;
}
std::vector<int32_t> MsecsOf(const CMidiTempo& map) {
    std::vector<int32_t> v;
    for (const _TEMPO& t : map.GetTempos()) v.push_back(t.lMsecs);
    return v;
}

// The entries placed one after another into a new map, as "tick/us" words.
std::string Placed(std::initializer_list<_TEMPO> entries) {
    CMidiTempo map;
    std::string out;
    for (_TEMPO t : entries) map.SetTempo(t);
    for (const _TEMPO& t : map.GetTempos()) {
        out += (out.empty() ? "" : " ") + std::to_string(t.lTicks) + "/" +
               std::to_string(t.lUsPerQuarter);
    }
    return out;
}

// The placement rule written out literally, for the differential test.
void ReferencePlace(TempoList& list, const _TEMPO& t) {
    if (list.empty()) {
        list.push_back(t);
        return;
    }
    if (t.lTicks < list.front().lTicks) {
        list.insert(list.begin(), t);
        return;
    }
    if (list.size() == 1) {
        list.push_back(t);
        return;
    }
    for (size_t i = 1; i < list.size(); ++i) {
        if (list[i].lTicks > t.lTicks) {
            if (list[i - 1].lUsPerQuarter != t.lUsPerQuarter) list.insert(list.begin() + i, t);
            return;
        }
    }
    list.push_back(t);
}

}  // namespace

TEST(TempoMap, NewMapHasDefaultsAndNoTempo) {
    const CMidiTempo map;
    EXPECT_EQ(map.GetTicksPerQuarterNote(), -1);
    EXPECT_EQ(map.GetBar().dwBaseBarNum, 2u);
    EXPECT_EQ(map.GetBar().dwBaseNoteNum, 4u);
    EXPECT_EQ(map.GetKeySignature().dwSharpsFlats, 0u);
    EXPECT_EQ(map.GetKeySignature().dwMinor, 0u);
    EXPECT_TRUE(map.GetTempos().empty());
    EXPECT_EQ(map.GetTempoIdxByTicks(0), -1);
    EXPECT_EQ(map.GetTempoIdxByMs(0), -1);
    EXPECT_EQ(map.TicksToMsecs(0), -1);
    EXPECT_EQ(map.MsecsToTicks(0), -1);
}

TEST(TempoMap, SetTempoRoundsBpmIntoTheCallersRecord) {
    CMidiTempo map;
    const std::vector<std::pair<int32_t, int32_t>> cases = {
        {500000, 120}, {400000, 150}, {416667, 144}, {600000, 100}, {1, 60000000}};
    for (const auto& [us, bpm] : cases) {
        _TEMPO t = T(0, us);
        map.SetTempo(t);
        EXPECT_EQ(t.nBPM, bpm) << us;
        EXPECT_EQ(map.GetTempos().back().nBPM, bpm) << us;
    }
    // No finite quotient for 0 microseconds per quarter: 0 BPM, and the entry is kept.
    _TEMPO zero = T(100, 0);
    map.SetTempo(zero);
    EXPECT_EQ(zero.nBPM, 0);
    EXPECT_EQ(map.GetTempos().back().lUsPerQuarter, 0);
}

TEST(TempoMap, PlacementKeepsTickOrderAndDropsOnlyARedundantInsertion) {
    // Equal positions stay in arrival order: the last tick-0 entry lands behind the others.
    EXPECT_EQ(Placed({T(0, 500000), T(0, 400000), T(480, 300000), T(0, 200000)}),
              "0/500000 0/400000 0/200000 480/300000");
    // Between two entries a tempo already in force is dropped, another one kept.
    EXPECT_EQ(Placed({T(0, 500000), T(960, 250000), T(480, 500000)}), "0/500000 960/250000");
    EXPECT_EQ(Placed({T(0, 500000), T(960, 250000), T(480, 500000), T(480, 400000)}),
              "0/500000 480/400000 960/250000");
    // Appending and head insertion never drop, even with the neighbour's tempo.
    EXPECT_EQ(
        Placed({T(0, 500000), T(960, 250000), T(480, 400000), T(2000, 250000), T(-10, 500000)}),
        "-10/500000 0/500000 480/400000 960/250000 2000/250000");
    // An earlier entry becomes the head; with one entry, an equal one is not earlier and is
    // appended.
    EXPECT_EQ(Placed({T(100, 500000), T(50, 500000), T(100, 500000)}),
              "50/500000 100/500000 100/500000");
    EXPECT_EQ(Placed({T(100, 500000), T(200, 400000), T(10, 300000)}),
              "10/300000 100/500000 200/400000");
}

TEST(TempoMap, RecalculationGivesMillisecondPositionsAndTables) {
    CMidiTempo map;
    map.SetTicksPerQuarterNote(480);
    Add(map, T(0, 500000));
    Add(map, T(960, 250000, 777));
    Add(map, T(1440, 500000, 777));
    map.ReCalculateTempolst();
    EXPECT_EQ(MsecsOf(map), (std::vector<int32_t>{0, 1000, 1250}));
    // The tables follow the list: the segment boundaries sit at those positions.
    EXPECT_EQ(map.GetTempoIdxByTicks(1440), 1);
    EXPECT_EQ(map.GetTempoIdxByTicks(1441), 2);
    EXPECT_EQ(map.GetTempoIdxByMs(1250), 1);
    EXPECT_EQ(map.GetTempoIdxByMs(1251), 2);
}

TEST(TempoMap, HeadMillisecondsAreKeptAndTruncationAccumulates) {
    CMidiTempo map;
    map.SetTicksPerQuarterNote(480);
    Add(map, T(0, 500000, 100));
    Add(map, T(480, 500000 + 1));
    map.ReCalculateTempolst();
    EXPECT_EQ(MsecsOf(map), (std::vector<int32_t>{100, 600}));

    // Each step of 0.6 ms truncates to 0 before the next one is added: 0, 0, 0.
    CMidiTempo fine;
    fine.SetTicksPerQuarterNote(5);
    fine.GetTempos() = {T(0, 3000), T(1, 3000), T(2, 3000)};
    fine.ReCalculateTempolst();
    EXPECT_EQ(MsecsOf(fine), (std::vector<int32_t>{0, 0, 0}));
}

TEST(TempoMap, RecalculationWithoutTicksPerQuarterLetsNoTimePass) {
    for (uint32_t tpq : {0u, 0xFFFFFFFFu}) {
        CMidiTempo map;
        map.SetTicksPerQuarterNote(tpq);
        map.GetTempos() = {T(0, 500000, 5), T(480, 400000, 9), T(960, 0, 9)};
        map.ReCalculateTempolst();
        EXPECT_EQ(MsecsOf(map), (std::vector<int32_t>{5, 5, 5}));
        EXPECT_EQ(map.GetTempoIdxByTicks(500), 1);
        EXPECT_EQ(map.TicksToMsecs(500), -1);
        EXPECT_EQ(map.MsecsToTicks(5), -1);
    }
}

TEST(TempoMap, RecalculationSaturatesInsteadOfOverflowing) {
    CMidiTempo map;
    map.SetTicksPerQuarterNote(1);
    map.GetTempos() = {T(0, 0x7FFFFFFF), T(0x7FFFFFFF, 0x7FFFFFFF), T(-0x7FFFFFFF, 5)};
    map.ReCalculateTempolst();
    EXPECT_EQ(MsecsOf(map)[1], 0x7FFFFFFF);
    // The 32-bit tick difference wraps to 2, as 32-bit arithmetic does; the sum saturates.
    EXPECT_EQ(MsecsOf(map)[2], 0x7FFFFFFF);
}

TEST(TempoMap, MoreThan32768EntriesGiveOneMessageAndAFullTable) {
    CMidiTempo map;
    testsupport::Messages messages;
    map.SetMessageSink(messages.Sink());
    map.SetTicksPerQuarterNote(1000);
    TempoList& list = map.GetTempos();
    for (int32_t i = 0; i < TEMPO_TABLE_SIZE + 2; ++i) list.push_back(T(i * 10, 1000000, -7));
    map.ReCalculateTempolst();
    ASSERT_EQ(messages.list.size(), 1u);
    EXPECT_EQ(messages.list[0], "Total tempo numbers are more than (32768)!");
    // Entry 32768 (the 32769th) is recomputed; the one after it keeps its old value.
    EXPECT_EQ(map.GetTempos()[TEMPO_TABLE_SIZE].lMsecs, -7 + TEMPO_TABLE_SIZE * 10);
    EXPECT_EQ(map.GetTempos()[TEMPO_TABLE_SIZE + 1].lMsecs, -7);
    // Only the first 32768 entries take part in the conversions.
    EXPECT_EQ(map.GetTempoIdxByTicks(TEMPO_TABLE_SIZE * 10 + 5), TEMPO_TABLE_SIZE - 1);
    EXPECT_EQ(map.TicksToMsecs(TEMPO_TABLE_SIZE * 10 + 5), -7 + TEMPO_TABLE_SIZE * 10 + 5);

    // Exactly 32768 entries fit without a message.
    CMidiTempo exact;
    testsupport::Messages quiet;
    exact.SetMessageSink(quiet.Sink());
    exact.SetTicksPerQuarterNote(480);
    for (int32_t i = 0; i < TEMPO_TABLE_SIZE; ++i) {
        _TEMPO t = T(i, 500000 + (i % 2));
        exact.SetTempo(t);
    }
    exact.ReCalculateTempolst();
    EXPECT_TRUE(quiet.list.empty());
    EXPECT_EQ(exact.GetTempoIdxByTicks(TEMPO_TABLE_SIZE + 100), TEMPO_TABLE_SIZE - 1);
}

TEST(TempoMap, AssignmentMergesEntriesWithoutRecalculating) {
    CMidiTempo src;
    src.SetTicksPerQuarterNote(96);
    src.SetBar(_BAR{3, 4});
    src.SetKeySignature(_KEY{2, 0});
    Add(src, T(0, 500000));
    Add(src, T(480, 400000));
    Add(src, T(960, 300000));

    CMidiTempo dst;
    Add(dst, T(0, 500000));
    Add(dst, T(720, 600000));
    dst = src;
    EXPECT_EQ(dst.GetTicksPerQuarterNote(), 96);
    EXPECT_EQ(dst.GetBar().dwBaseBarNum, 3u);
    EXPECT_EQ(dst.GetKeySignature().dwSharpsFlats, 2u);
    // src's {0, 500000} lands before 720 where 500000 is in force already: dropped.
    EXPECT_EQ(TicksOf(dst), (std::vector<int32_t>{0, 480, 720, 960}));
    EXPECT_EQ(dst.TicksToMsecs(0), -1);  // tables are not built by a merge
    dst.ReCalculateTempolst();
    EXPECT_EQ(dst.TicksToMsecs(96), 500);

    // Merging a map into itself walks what it held before.
    const CMidiTempo& self = dst;
    dst = self;
    EXPECT_EQ(TicksOf(dst), (std::vector<int32_t>{0, 480, 720, 960, 960}));
}

TEST(TempoMap, CopyConstructionCopiesListTablesAndSink) {
    CMidiTempo src;
    testsupport::Messages messages;
    src.SetMessageSink(messages.Sink());
    src.SetTicksPerQuarterNote(480);
    Add(src, T(0, 500000));
    Add(src, T(960, 250000));
    src.ReCalculateTempolst();
    CMidiTempo copy(src);
    EXPECT_EQ(TicksOf(copy), TicksOf(src));
    EXPECT_EQ(copy.TicksToMsecs(1200), src.TicksToMsecs(1200));
    copy.GetTempos().assign(static_cast<size_t>(TEMPO_TABLE_SIZE) + 1, T(0, 1));
    copy.ReCalculateTempolst();
    EXPECT_EQ(messages.list.size(), 1u);
}

// SetTempo bisects while the list is known to ascend and falls back to the linear search
// once the list was handed out for writing; both must give what the rule gives.
TEST(TempoMap, PlacementMatchesTheLinearRuleOnRandomLists) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 300; ++round) {
        CMidiTempo map;
        TempoList reference;
        std::uniform_int_distribution<int32_t> tick(-3, 12);
        std::uniform_int_distribution<int32_t> us(1, 3);
        const int n = 1 + static_cast<int>(rng() % 40);
        for (int i = 0; i < n; ++i) {
            if (rng() % 10 == 0) {
                // Write through the list: it may now be in any order.
                TempoList& list = map.GetTempos();
                std::shuffle(list.begin(), list.end(), rng);
                reference = list;
            }
            _TEMPO t = T(rng() % 7 == 0 ? INT32_MIN + 3 + tick(rng) : tick(rng), us(rng) * 100000);
            _TEMPO r = t;
            map.SetTempo(t);
            r.nBPM = t.nBPM;
            ReferencePlace(reference, r);
            const TempoList& got = static_cast<const CMidiTempo&>(map).GetTempos();
            ASSERT_EQ(got.size(), reference.size()) << round << "/" << i;
            for (size_t k = 0; k < got.size(); ++k) {
                ASSERT_EQ(got[k].lTicks, reference[k].lTicks) << round << "/" << i;
                ASSERT_EQ(got[k].lUsPerQuarter, reference[k].lUsPerQuarter);
            }
        }
    }
}
