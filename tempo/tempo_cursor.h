// Tick-to-millisecond conversion of many ticks one after another: the answers of
// CMidiTempo::TicksToMsecs, found by walking the position table along with the ticks while
// they ascend instead of searching it for each. Private to the library.
#pragma once

#include <algorithm>
#include <cstdint>

#include "midifolio/export.h"
#include "midifolio/midi_tempo.h"
#include "tempo/tempo_internal.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace tempo_detail {

class TickCursor {
  public:
    // The map must outlive the cursor and stay unchanged while it is used.
    explicit TickCursor(const CMidiTempo& tempo)
        : m_tempo(tempo),
          m_n(tempo.m_nTickPosCount - 1),
          m_walk(tempo.m_bTickTableSorted && m_n >= 0 && tempo.m_nTicksPerQuarterNote > 0 &&
                 Mul32(tempo.m_nTicksPerQuarterNote, 1000) != 0),
          m_divisor(static_cast<double>(Mul32(tempo.m_nTicksPerQuarterNote, 1000))) {}

    // What tempo.TicksToMsecs(lTicks) answers.
    int32_t TicksToMsecs(int32_t lTicks) {
        if (!m_walk) return m_tempo.TicksToMsecs(lTicks);
        const uint32_t t = static_cast<uint32_t>(lTicks);
        // Events of one tick come together: the same tick, the same answer.
        if (t == m_last && m_answered) return m_answer;
        // Within the stretch of the last answer (above the first entry, below the next entry
        // on, not back): the same segment.
        if (!(t >= m_last && t < m_below && t > m_above)) Find(t);
        m_last = t;
        m_answered = true;
        if (m_entry == nullptr) return m_answer = -1;
        const int32_t diff = Sub32(lTicks, m_entry->lTicks);
        m_answer = platform_detail::TruncSaturating(
            m_entry->lMsecs +
            static_cast<double>(diff) * static_cast<double>(m_entry->lUsPerQuarter) / m_divisor);
        return m_answer;
    }

  private:
    // The segment of t by the search rule of CMidiTempo::SearchTable, with m_j (the first
    // index from 1 on whose entry is not below t) moved on from where it stood.
    void Find(uint32_t t) {
        const std::vector<int32_t>& table = m_tempo.m_lTickPos;
        auto at = [&](int32_t i) { return static_cast<uint32_t>(table[static_cast<size_t>(i)]); };
        if (t < m_last) {
            m_j = static_cast<int32_t>(
                std::lower_bound(table.begin() + 1, table.begin() + m_n + 1, t,
                                 [](int32_t entry, uint32_t value) {
                                     return static_cast<uint32_t>(entry) < value;
                                 }) -
                table.begin());
        } else {
            while (m_j <= m_n && at(m_j) < t) ++m_j;
        }
        const int32_t i = m_j <= m_n && (at(m_j) == t || m_j >= 2 || at(0) < t)
                              ? m_j - 1
                              : (t <= at(0) ? 0 : m_n);
        m_entry = static_cast<size_t>(i) < m_tempo.m_tempoList.size()
                      ? &m_tempo.m_tempoList[static_cast<size_t>(i)]
                      : nullptr;
        // Every later t' with at(0) < t' < at(m_j) has this m_j and, when m_j is a table index
        // or t lies above at(0), the same segment (m_j - 1, 0 for m_j = 1, or the last one).
        const bool stable = m_j <= m_n || at(0) < t;
        m_below = !stable ? 0 : m_j <= m_n ? at(m_j) : UINT32_MAX;
        m_above = at(0);
    }

    const CMidiTempo& m_tempo;
    const int32_t m_n;  // the last table index
    const bool m_walk;  // false: every conversion goes to the map itself
    const double m_divisor;
    int32_t m_j = 1;
    uint32_t m_last = 0;
    uint32_t m_below = 0;  // the segment found last holds for m_above < t < m_below
    uint32_t m_above = UINT32_MAX;
    const _TEMPO* m_entry = nullptr;
    bool m_answered = false;  // m_answer holds the answer for m_last
    int32_t m_answer = 0;
};

}  // namespace tempo_detail
MIDIFOLIO_END_NAMESPACE
