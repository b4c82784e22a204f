// CMidiTempo: the tempo list, its placement rule and the recalculation of the positions.
#include <algorithm>
#include <cstdio>
#include <string>

#include "midifolio/event_kinds.h"
#include "midifolio/midi_tempo.h"
#include "tempo/tempo_internal.h"

MIDIFOLIO_BEGIN_NAMESPACE

using platform_detail::TruncSaturating;
using tempo_detail::Mul32;
using tempo_detail::Sub32;

CMidiTempo::CMidiTempo()
    : m_nTicksPerQuarterNote(-1),
      m_bar{2, 4},
      m_key{0, 0},
      m_lTickPos{-1},
      m_lMsecPos{-1},
      m_nTickPosCount(0),
      m_nMsecPosCount(0),
      m_sink(DefaultMessageSink()),
      m_bTickTableSorted(true),
      m_bMsecTableSorted(true),
      m_bListOrderKnown(true),
      m_bListSorted(true) {}

CMidiTempo::CMidiTempo(const CMidiTempo& other) = default;

CMidiTempo::~CMidiTempo() = default;

CMidiTempo& CMidiTempo::operator=(const CMidiTempo& src) {
    SetTicksPerQuarterNote(static_cast<uint32_t>(src.m_nTicksPerQuarterNote));
    SetBar(src.m_bar);
    SetKeySignature(src.m_key);
    // Merging a map into itself walks a snapshot, since SetTempo grows the list walked.
    const TempoList entries = src.m_tempoList;
    for (const _TEMPO& entry : entries) {
        _TEMPO copy = entry;
        SetTempo(copy);
    }
    return *this;
}

void CMidiTempo::SetTicksPerQuarterNote(uint32_t nTicks) {
    m_nTicksPerQuarterNote = static_cast<int32_t>(nTicks);
}
int32_t CMidiTempo::GetTicksPerQuarterNote() const {
    return m_nTicksPerQuarterNote;
}
void CMidiTempo::SetBar(const _BAR& bar) {
    m_bar = bar;
}
_BAR CMidiTempo::GetBar() const {
    return m_bar;
}
void CMidiTempo::SetKeySignature(const _KEY& key) {
    m_key = key;
}
_KEY CMidiTempo::GetKeySignature() const {
    return m_key;
}

TempoList& CMidiTempo::GetTempos() {
    // The caller may reorder the list through the reference: check its order again later.
    m_bListOrderKnown = false;
    return m_tempoList;
}
const TempoList& CMidiTempo::GetTempos() const {
    return m_tempoList;
}

void CMidiTempo::SetMessageSink(MessageSink sink) {
    m_sink = std::move(sink);
}

bool CMidiTempo::ListAscends() {
    if (!m_bListOrderKnown) {
        m_bListSorted =
            std::is_sorted(m_tempoList.begin(), m_tempoList.end(),
                           [](const _TEMPO& a, const _TEMPO& b) { return a.lTicks < b.lTicks; });
        m_bListOrderKnown = true;
    }
    return m_bListSorted;
}

void CMidiTempo::SetTempo(_TEMPO& tempo) {
    // 60,000,000 / 0 has no finite value: a tempo of 0 microseconds per quarter reports 0 BPM.
    // For every other value the quotient lies within +-60,000,001 and fits.
    tempo.nBPM =
        tempo.lUsPerQuarter == 0
            ? 0
            : static_cast<int32_t>(
                  smf::kMicrosecondsPerMinute / static_cast<double>(tempo.lUsPerQuarter) + 0.5);

    const bool sorted = ListAscends();
    const size_t count = m_tempoList.size();
    if (count == 0) {
        m_tempoList.push_back(tempo);
        return;
    }
    if (tempo.lTicks < m_tempoList.front().lTicks) {
        m_tempoList.insert(m_tempoList.begin(), tempo);
        return;
    }
    // No entry lies later (the common case while a track is decoded): appended.
    if (count == 1 || (sorted && tempo.lTicks >= m_tempoList.back().lTicks)) {
        m_tempoList.push_back(tempo);
        return;
    }
    // The first entry, from the second on, that lies later than the new one.
    TempoList::iterator found;
    if (sorted) {
        found = std::upper_bound(
            m_tempoList.begin() + 1, m_tempoList.end(), tempo.lTicks,
            [](int32_t ticks, const _TEMPO& entry) { return ticks < entry.lTicks; });
    } else {
        found = std::find_if(m_tempoList.begin() + 1, m_tempoList.end(),
                             [&](const _TEMPO& entry) { return entry.lTicks > tempo.lTicks; });
    }
    if (found == m_tempoList.end()) {
        m_tempoList.push_back(tempo);
        return;
    }
    if ((found - 1)->lUsPerQuarter == tempo.lUsPerQuarter) return;  // changes nothing
    m_tempoList.insert(found, tempo);
    // Each placement keeps an ascending list ascending and leaves an unsorted one unsorted.
}

void CMidiTempo::ReCalculateTempolst() {
    const size_t size = m_tempoList.size();
    const int32_t count =
        static_cast<int32_t>(std::min<size_t>(size, static_cast<size_t>(TEMPO_TABLE_SIZE)));
    m_nTickPosCount = count;
    m_nMsecPosCount = count;
    m_bTickTableSorted = true;
    m_bMsecTableSorted = true;
    if (size == 0) return;

    m_lTickPos.resize(static_cast<size_t>(count));
    m_lMsecPos.resize(static_cast<size_t>(count));
    m_lTickPos[0] = m_tempoList[0].lTicks;
    m_lMsecPos[0] = m_tempoList[0].lMsecs;

    // With no usable ticks per quarter note no time can be measured: the entries keep the
    // head's millisecond position instead of dividing by zero.
    const int32_t divisor = Mul32(m_nTicksPerQuarterNote, 1000);
    const bool measurable = m_nTicksPerQuarterNote > 0 && divisor != 0;
    for (size_t k = 1; k < size; ++k) {
        const _TEMPO& prev = m_tempoList[k - 1];
        _TEMPO& cur = m_tempoList[k];
        if (measurable) {
            const int32_t diff = Sub32(cur.lTicks, prev.lTicks);
            cur.lMsecs = TruncSaturating(prev.lMsecs + static_cast<double>(diff) *
                                                           static_cast<double>(prev.lUsPerQuarter) /
                                                           static_cast<double>(divisor));
        } else {
            cur.lMsecs = prev.lMsecs;
        }
        if (k < static_cast<size_t>(TEMPO_TABLE_SIZE)) {
            m_lTickPos[k] = cur.lTicks;
            m_lMsecPos[k] = cur.lMsecs;
            if (static_cast<uint32_t>(m_lTickPos[k]) < static_cast<uint32_t>(m_lTickPos[k - 1]))
                m_bTickTableSorted = false;
            if (static_cast<uint32_t>(m_lMsecPos[k]) < static_cast<uint32_t>(m_lMsecPos[k - 1]))
                m_bMsecTableSorted = false;
            continue;
        }
        char text[64];
        std::snprintf(text, sizeof text, "Total tempo numbers are more than (%d)!",
                      TEMPO_TABLE_SIZE);
        if (m_sink) m_sink(text);
        break;  // later entries keep their previous lMsecs
    }
}

MIDIFOLIO_END_NAMESPACE
