// Tick/millisecond conversion: segment search, interpolation, defined results for maps
// that cannot convert, and the bisection against the linear search rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "midifolio/midifolio.h"
#include "test_support.h"

using namespace midifolio;

namespace {

_TEMPO T(int32_t ticks, int32_t us, int32_t msecs = 0) {
    return _TEMPO{ticks, msecs, 0, us};
}

// 480 ticks per quarter; 120 BPM from 0, 240 BPM from 960, 120 BPM from 1440.
CMidiTempo ThreeTempos() {
    CMidiTempo map;
    map.SetTicksPerQuarterNote(480);
    for (_TEMPO t : {T(0, 500000), T(960, 250000), T(1440, 500000)}) map.SetTempo(t);
    map.ReCalculateTempolst();
    return map;
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

TEST(TempoConversion, TicksToMillisecondsFollowsTheTempoChanges) {
    const CMidiTempo map = ThreeTempos();
    EXPECT_EQ(map.TicksToMsecs(0), 0);
    EXPECT_EQ(map.TicksToMsecs(480), 500);
    EXPECT_EQ(map.TicksToMsecs(960), 1000);
    EXPECT_EQ(map.TicksToMsecs(1200), 1125);
    EXPECT_EQ(map.TicksToMsecs(2000), 1833);
}

TEST(TempoConversion, MillisecondsToTicksTruncatesSoRoundTripsMayLoseATick) {
    const CMidiTempo map = ThreeTempos();
    EXPECT_EQ(map.MsecsToTicks(1000), 960);
    EXPECT_EQ(map.MsecsToTicks(1125), 1200);
    EXPECT_EQ(map.MsecsToTicks(1833), 1999);
    EXPECT_EQ(map.MsecsToTicks(0), 0);
    // Beyond 4.5 s at 480 ticks per quarter a 32-bit product would overflow; it does not.
    EXPECT_EQ(map.MsecsToTicks(3600000), 1440 + (3600000 - 1250) * 480 / 500);
}

TEST(TempoConversion, APositionOnAChangeBelongsToTheSegmentEndingThere) {
    const CMidiTempo map = ThreeTempos();
    EXPECT_EQ(map.GetTempoIdxByTicks(0), 0);
    EXPECT_EQ(map.GetTempoIdxByTicks(480), 0);
    EXPECT_EQ(map.GetTempoIdxByTicks(960), 0);
    EXPECT_EQ(map.GetTempoIdxByTicks(1200), 1);
    EXPECT_EQ(map.GetTempoIdxByTicks(1440), 1);
    EXPECT_EQ(map.GetTempoIdxByTicks(2000), 2);
    EXPECT_EQ(map.GetTempoIdxByMs(1000), 0);
    EXPECT_EQ(map.GetTempoIdxByMs(1001), 1);
    EXPECT_EQ(map.GetTempoIdxByMs(99999), 2);
}

TEST(TempoConversion, RepeatedPositionsAtTheStartUseTheLastOfThem) {
    // As after a load: default entry, tempo prefix and the file's own tempo, all at tick 0.
    CMidiTempo map;
    map.SetTicksPerQuarterNote(480);
    for (_TEMPO t : {T(0, 500000), T(0, 500000), T(0, 250000), T(480, 1000000)}) map.SetTempo(t);
    map.ReCalculateTempolst();
    EXPECT_EQ(map.GetTempoIdxByTicks(0), 0);
    EXPECT_EQ(map.GetTempoIdxByTicks(1), 2);
    EXPECT_EQ(map.GetTempoIdxByTicks(480), 2);
    EXPECT_EQ(map.GetTempoIdxByTicks(481), 3);
    EXPECT_EQ(map.TicksToMsecs(480), 250);
    EXPECT_EQ(map.TicksToMsecs(960), 1250);
}

TEST(TempoConversion, SingleEntryServesEveryPosition) {
    CMidiTempo map;
    map.SetTicksPerQuarterNote(480);
    _TEMPO t = T(0, 500000);
    map.SetTempo(t);
    map.ReCalculateTempolst();
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
    CMidiTempo map;
    map.SetTicksPerQuarterNote(480);
    for (_TEMPO t : {T(100, 500000), T(580, 250000), T(1060, 1000000)}) map.SetTempo(t);
    map.ReCalculateTempolst();
    EXPECT_EQ(map.GetTempoIdxByTicks(50), 0);
    EXPECT_EQ(map.TicksToMsecs(0), -104);    // 100 ticks before the first entry, at 120 BPM
    EXPECT_EQ(map.GetTempoIdxByMs(-10), 2);  // negative: later than every entry, unsigned
}

TEST(TempoConversion, MapsThatCannotConvertAnswerMinusOne) {
    CMidiTempo empty;
    empty.SetTicksPerQuarterNote(480);
    empty.ReCalculateTempolst();
    EXPECT_EQ(empty.TicksToMsecs(10), -1);
    EXPECT_EQ(empty.MsecsToTicks(10), -1);

    CMidiTempo notSet;  // ticks per quarter note still -1
    _TEMPO t = T(0, 500000);
    notSet.SetTempo(t);
    notSet.ReCalculateTempolst();
    EXPECT_EQ(notSet.GetTempoIdxByTicks(10), 0);
    EXPECT_EQ(notSet.TicksToMsecs(10), -1);
    EXPECT_EQ(notSet.MsecsToTicks(10), -1);

    // A segment of 0 microseconds per quarter takes no time: ticks map onto its start,
    // and no tick can be named for a time.
    CMidiTempo still;
    still.SetTicksPerQuarterNote(480);
    for (_TEMPO e : {T(0, 500000), T(480, 0)}) still.SetTempo(e);
    still.ReCalculateTempolst();
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
    CMidiTempo map;
    map.SetTicksPerQuarterNote(1);
    _TEMPO t = T(0, 0x7FFFFFFF);
    map.SetTempo(t);
    map.ReCalculateTempolst();
    EXPECT_EQ(map.TicksToMsecs(0x7FFFFFFF), 0x7FFFFFFF);
    EXPECT_EQ(map.TicksToMsecs(-0x7FFFFFFF), INT32_MIN);

    CMidiTempo fast;
    fast.SetTicksPerQuarterNote(960000);
    _TEMPO f = T(0, 1);
    fast.SetTempo(f);
    fast.ReCalculateTempolst();
    EXPECT_EQ(fast.MsecsToTicks(1000000000), 0x7FFFFFFF);
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

// Every event of the corpus converted to milliseconds through a tempo map built the way a
// load builds it, against exact times computed from python3-mido's reading of the same file
// (its set_tempo events merged over all tracks, 120 BPM before the first). The map truncates
// once per tempo change and once for the event: at most that many milliseconds short.
TEST(TempoConversion, CorpusEventTimesAgreeWithExactTimesFromAnIndependentReader) {
    using namespace testsupport;
    const std::string script = R"PY(
import sys, bisect
sys.path.append('/usr/lib/python3/dist-packages')
import mido
for path in sys.argv[1:]:
    try:
        mid = mido.MidiFile(path)
    except Exception:
        print('F SKIP')
        continue
    changes = []
    for tr in mid.tracks:
        t = 0
        for msg in tr:
            t += msg.time
            if msg.type == 'set_tempo':
                changes.append((t, msg.tempo))
    changes.sort(key=lambda c: c[0])
    ticks, starts, tempos = [0], [0.0], [500000]
    for t, us in changes:
        starts.append(starts[-1] + (t - ticks[-1]) * tempos[-1] / (mid.ticks_per_beat * 1000.0))
        ticks.append(t)
        tempos.append(us)
    print('F', len(mid.tracks))
    for tr in mid.tracks:
        t, out = 0, []
        for msg in tr:
            t += msg.time
            i = bisect.bisect_right(ticks, t) - 1
            out.append('%.3f' % (starts[i] + (t - ticks[i]) * tempos[i] / (mid.ticks_per_beat * 1000.0)))
        print('T', ' '.join(out))
)PY";
    const std::string scriptPath = WriteFile("exact_ms.py", Bytes(script.begin(), script.end()));
    const std::vector<std::string> files = CorpusFiles();
    std::string command = "/usr/bin/python3 " + scriptPath;
    for (const std::string& name : files) command += " " + DataPath("corpus/" + name);
    int status = 0;
    std::istringstream out(testsupport::Run(command, &status));
    ASSERT_EQ(status, 0);

    size_t checked = 0;
    for (const std::string& name : files) {
        SCOPED_TRACE(name);
        std::string line, tag;
        ASSERT_TRUE(std::getline(out, line));
        std::istringstream head(line);
        head >> tag;
        ASSERT_EQ(tag, "F");
        std::string what;
        head >> what;
        if (what == "SKIP") continue;  // a file the independent reader refuses

        const Bytes file = ReadFile(DataPath("corpus/" + name));
        CMidiTempo map;
        map.SetTicksPerQuarterNote((file[12] << 8) | file[13]);
        _TEMPO first{0, 0, 120, 500000};
        map.SetTempo(first);
        std::vector<CMidiTrack> tracks;
        tracks.reserve(std::stoul(what));
        for (size_t at = 14; at + 8 <= file.size();) {
            const size_t length = (size_t{file[at + 4]} << 24) | (size_t{file[at + 5]} << 16) |
                                  (size_t{file[at + 6]} << 8) | file[at + 7];
            const size_t take = std::min(length, file.size() - at - 8);
            tracks.emplace_back();
            tracks.back().SetTempoObject(&map);
            ASSERT_EQ(
                tracks.back().SetMidiTrackRawData(file.data() + at + 8, static_cast<int32_t>(take)),
                1);
            at += 8 + take;
        }
        map.ReCalculateTempolst();
        const TempoList& list = static_cast<const CMidiTempo&>(map).GetTempos();
        for (const CMidiTrack& track : tracks) {
            ASSERT_TRUE(std::getline(out, line));
            std::istringstream times(line);
            times >> tag;
            ASSERT_EQ(tag, "T");
            for (POSITION pos = track.GetEventHeadPosition(); pos != nullptr;) {
                const MIDIEvent ev = track.GetNextEvent(pos);
                double exact = 0;
                ASSERT_TRUE(times >> exact);
                const int32_t ours = map.TicksToMsecs(ev.lTime);
                const auto before =
                    std::lower_bound(list.begin(), list.end(), ev.lTime,
                                     [](const _TEMPO& t, int32_t at) { return t.lTicks < at; }) -
                    list.begin();
                ASSERT_LE(ours, exact + 1e-6) << "tick " << ev.lTime;
                ASSERT_LT(exact - ours, static_cast<double>(before) + 1.0) << "tick " << ev.lTime;
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 100000u);
}
