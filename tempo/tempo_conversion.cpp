// CMidiTempo: segment search over the position tables and tick/millisecond conversion.
#include <algorithm>

#include "midifolio/midi_tempo.h"
#include "tempo/tempo_internal.h"

MIDIFOLIO_BEGIN_NAMESPACE

using platform_detail::TruncSaturating;
using tempo_detail::Mul32;
using tempo_detail::Sub32;

// The segment holding a position, under unsigned comparison of position and table entries:
// the first i with table[i] < pos < table[i+1] or pos == table[i+1] (a position on a later
// entry belongs to the segment that ends there). When no segment matches, a position at or
// below the first entry belongs to segment 0, any other to the last segment.
//
// An ascending table gives the same answer by bisection: with j the first index from 1 on
// whose entry is not below pos, every earlier segment ends below pos and cannot match.
int32_t CMidiTempo::SearchTable(const std::vector<int32_t>& table, int32_t count, bool sorted,
                                int32_t pos) const {
    const int32_t n = count - 1;
    if (n < 0) return -1;
    const uint32_t t = static_cast<uint32_t>(pos);
    auto at = [&](int32_t i) { return static_cast<uint32_t>(table[static_cast<size_t>(i)]); };
    if (sorted) {
        const auto first = table.begin() + 1;
        const auto last = table.begin() + count;
        const int32_t j =
            static_cast<int32_t>(std::lower_bound(first, last, t,
                                                  [](int32_t entry, uint32_t value) {
                                                      return static_cast<uint32_t>(entry) < value;
                                                  }) -
                                 table.begin());
        if (j <= n && (at(j) == t || j >= 2 || at(0) < t)) return j - 1;
    } else {
        for (int32_t i = 0; i < n; ++i) {
            const uint32_t lo = at(i), hi = at(i + 1);
            if ((lo < t && t < hi) || t == hi) return i;
        }
    }
    return t <= at(0) ? 0 : n;
}

int32_t CMidiTempo::GetTempoIdxByTicks(int32_t lTicks) const {
    return SearchTable(m_lTickPos, m_nTickPosCount, m_bTickTableSorted, lTicks);
}

int32_t CMidiTempo::GetTempoIdxByMs(int32_t lMsecs) const {
    return SearchTable(m_lMsecPos, m_nMsecPosCount, m_bMsecTableSorted, lMsecs);
}

int32_t CMidiTempo::TicksToMsecs(int32_t lTicks) const {
    const int32_t i = GetTempoIdxByTicks(lTicks);
    if (i < 0 || static_cast<size_t>(i) >= m_tempoList.size()) return -1;
    if (m_nTicksPerQuarterNote <= 0) return -1;
    const int32_t divisor = Mul32(m_nTicksPerQuarterNote, 1000);
    if (divisor == 0) return -1;
    const _TEMPO& e = m_tempoList[static_cast<size_t>(i)];
    const int32_t diff = Sub32(lTicks, e.lTicks);
    return TruncSaturating(e.lMsecs + static_cast<double>(diff) *
                                          static_cast<double>(e.lUsPerQuarter) /
                                          static_cast<double>(divisor));
}

int32_t CMidiTempo::MsecsToTicks(int32_t lMsecs) const {
    const int32_t i = GetTempoIdxByMs(lMsecs);
    if (i < 0 || static_cast<size_t>(i) >= m_tempoList.size()) return -1;
    if (m_nTicksPerQuarterNote <= 0) return -1;
    const int32_t factor = Mul32(m_nTicksPerQuarterNote, 1000);
    const _TEMPO& e = m_tempoList[static_cast<size_t>(i)];
    if (e.lUsPerQuarter == 0) return -1;  // a segment without duration has no tick for a time
    const int32_t diff = Sub32(lMsecs, e.lMsecs);
    return TruncSaturating(e.lTicks + static_cast<double>(diff) * static_cast<double>(factor) /
                                          static_cast<double>(e.lUsPerQuarter));
}

MIDIFOLIO_END_NAMESPACE
