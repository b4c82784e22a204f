// The tempo map: placement of tempo changes, recalculation of their positions, the table cap,
// merging, and the conversion between ticks and milliseconds segment by segment.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "midifolio/midifolio.h"
#include "test_support.h"

using namespace midifolio;

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

// The placement rule written out literally: before the head, appended, or between two
// entries unless the tempo in force there is the same.
void ReferencePlace(TempoList& list, const _TEMPO& t) {
    if (list.empty() || (list.size() == 1 && t.lTicks >= list[0].lTicks)) {
        list.push_back(t);
        return;
    }
    if (t.lTicks < list.front().lTicks) {
        list.insert(list.begin(), t);
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

// The segment search written out literally (unsigned comparisons; a position on a later entry
// belongs to the segment ending there; at or below the first entry: segment 0).
int32_t ReferenceSearch(const std::vector<int32_t>& table, int32_t pos) {
    const int32_t n = static_cast<int32_t>(table.size()) - 1;
    if (n < 0) return -1;
    const uint32_t t = static_cast<uint32_t>(pos);
    for (int32_t i = 0; i < n; ++i) {
        const uint32_t lo = static_cast<uint32_t>(table[i]),
                       hi = static_cast<uint32_t>(table[i + 1]);
        if ((lo < t && t < hi) || t == hi) return i;
    }
    return t <= static_cast<uint32_t>(table[0]) ? 0 : n;
}

}  // namespace

// SetTempo bisects while the list is known to ascend and falls back to the linear search once
// the list was handed out for writing; both must give what the rule gives.
TEST(TempoPlacement, PlacementMatchesTheRuleOnRandomLists) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 300; ++round) {
        CMidiTempo map;
        TempoList reference;
        std::uniform_int_distribution<int32_t> tick(-3, 12);
        const int n = 1 + static_cast<int>(rng() % 40);
        for (int i = 0; i < n; ++i) {
            if (rng() % 10 == 0) {  // write through the list: it may now be in any order
                std::shuffle(map.GetTempos().begin(), map.GetTempos().end(), rng);
                reference = map.GetTempos();
            }
            _TEMPO t = T(rng() % 7 == 0 ? INT32_MIN + 3 + tick(rng) : tick(rng),
                         static_cast<int32_t>(1 + rng() % 3) * 100000);
            map.SetTempo(t);
            ReferencePlace(reference, t);
            const TempoList& got = static_cast<const CMidiTempo&>(map).GetTempos();
            ASSERT_EQ(got.size(), reference.size()) << round << "/" << i;
            for (size_t k = 0; k < got.size(); ++k) {
                ASSERT_EQ(got[k].lTicks, reference[k].lTicks) << round << "/" << i;
                ASSERT_EQ(got[k].lUsPerQuarter, reference[k].lUsPerQuarter);
            }
        }
    }
}

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
    // Exactly 32768 entries fit without a message; a copy reports to the same sink.
    CMidiTempo exact(map);
    exact.GetTempos().resize(TEMPO_TABLE_SIZE);
    exact.ReCalculateTempolst();
    EXPECT_EQ(messages.list.size(), 1u);
    exact.GetTempos().push_back(T(0, 1));
    exact.ReCalculateTempolst();
    EXPECT_EQ(messages.list.size(), 2u);
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
    // Below the first entry the first tempo is extrapolated backwards.
    EXPECT_EQ(Map(480, {T(100, 500000), T(580, 250000)}).TicksToMsecs(0), -104);
}

TEST(TempoConversion, MapsThatCannotConvertAnswerMinusOneAndResultsSaturate) {
    EXPECT_EQ(Map(480, {}).TicksToMsecs(10), -1);
    EXPECT_EQ(Map(480, {}).MsecsToTicks(10), -1);
    const CMidiTempo notSet = Map(0xFFFFFFFF, {T(0, 500000)});
    EXPECT_EQ(notSet.TicksToMsecs(10), -1);
    EXPECT_EQ(notSet.MsecsToTicks(10), -1);
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
    const CMidiTempo slow = Map(1, {T(0, 0x7FFFFFFF)});
    EXPECT_EQ(slow.TicksToMsecs(0x7FFFFFFF), 0x7FFFFFFF);
    EXPECT_EQ(slow.TicksToMsecs(-0x7FFFFFFF), INT32_MIN);
    EXPECT_EQ(Map(960000, {T(0, 1)}).MsecsToTicks(1000000000), 0x7FFFFFFF);
}

// The search bisects tables that ascend as unsigned numbers and falls back to the linear rule
// otherwise; over random lists (repeated and negative positions, unsorted tables, the 32,768
// cap) both give what the rule gives, and so do the conversions.
TEST(TempoConversion, SearchAndConversionMatchTheRuleOnRandomTables) {
    std::mt19937 rng(2024);
    auto check = [&](CMidiTempo& map, std::vector<int32_t> probes) {
        map.ReCalculateTempolst();
        const TempoList& list = static_cast<const CMidiTempo&>(map).GetTempos();
        std::vector<int32_t> ticks, msecs;
        for (size_t k = 0; k < std::min<size_t>(list.size(), TEMPO_TABLE_SIZE); ++k) {
            ticks.push_back(list[k].lTicks);
            msecs.push_back(list[k].lMsecs);
            probes.push_back(list[k].lMsecs);
            probes.push_back(list[k].lMsecs + 1);
        }
        for (int32_t pos : probes) {
            const int32_t i = ReferenceSearch(ticks, pos);
            ASSERT_EQ(map.GetTempoIdxByTicks(pos), i) << pos;
            ASSERT_EQ(map.GetTempoIdxByMs(pos), ReferenceSearch(msecs, pos)) << pos;
            if (i < 0) continue;
            const _TEMPO& e = list[static_cast<size_t>(i)];
            const double ms =
                e.lMsecs + static_cast<double>(static_cast<int32_t>(uint32_t(pos) - e.lTicks)) *
                               e.lUsPerQuarter / (480 * 1000);
            if (ms > INT32_MIN && ms < INT32_MAX) {
                ASSERT_EQ(map.TicksToMsecs(pos), static_cast<int32_t>(ms)) << pos;
            }
        }
    };
    std::vector<int32_t> probes = {INT32_MIN, INT32_MIN + 1, INT32_MAX, 1000000};
    for (int32_t p = -6; p <= 24; ++p) probes.push_back(p);
    for (int round = 0; round < 400; ++round) {
        CMidiTempo map;
        map.SetTicksPerQuarterNote(480);
        TempoList& list = map.GetTempos();
        std::uniform_int_distribution<int32_t> tick(-4, 20);
        for (int i = static_cast<int>(rng() % 12); i > 0; --i) {
            const int32_t at = rng() % 8 == 0 ? INT32_MIN + tick(rng) + 4 : tick(rng);
            list.push_back(T(at, rng() % 9 == 0 ? -250000 : int32_t(1 + rng() % 4) * 125000));
        }
        if (round % 2 == 0)
            std::sort(list.begin(), list.end(),
                      [](const _TEMPO& a, const _TEMPO& b) { return a.lTicks < b.lTicks; });
        check(map, probes);
    }
    // Past the cap only the first 32,768 entries are searched.
    CMidiTempo big;
    big.SetMessageSink([](const std::string&) {});
    big.SetTicksPerQuarterNote(480);
    for (int32_t i = 0; i < TEMPO_TABLE_SIZE + 50; ++i)
        big.GetTempos().push_back(T(i / 3, 500000 + i % 5));
    check(big, {-1, 0, 1, 7, 5000, 10922, 10923, 10924, 10925, 10940, 20000});
}
