// CMidiTrack: sorting by time, note-off pairing and conversion of times to milliseconds.
#include <algorithm>
#include <vector>

#include "midifolio/midi_track.h"
#include "tempo/tempo_cursor.h"
#include "track/event_store.h"
#include "track/note_pairing.h"

MIDIFOLIO_BEGIN_NAMESPACE

int CMidiTrack::SortTrackByLTime(int32_t* plEndTime) {
    const int32_t n = m_lEventCount;
    if (n < 2) return 1;

    // Sort (time, index) keys and relink the nodes; no event is copied or moved, so every
    // position stays valid and keeps designating its event.
    struct Entry {
        int32_t lTime;
        int32_t nIndex;
        MIDIEventPtr* node;
    };
    std::vector<Entry> entries;
    entries.reserve(static_cast<size_t>(n));
    for (MIDIEventPtr* p = m_pHead; p != nullptr && static_cast<int32_t>(entries.size()) < n;
         p = p->pNext)
        entries.push_back({p->lTime, static_cast<int32_t>(entries.size()), p});
    if (static_cast<int32_t>(entries.size()) < n) return 0;  // count exceeds the chain

    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.lTime != b.lTime ? a.lTime < b.lTime : a.nIndex < b.nIndex;
    });

    // Nodes beyond the count (only a list relinked from outside has them) stay unlinked but
    // remain owned by the pool.
    MIDIEventPtr* prev = entries[0].node;
    m_pHead = prev;
    m_pLast = prev;
    for (size_t k = 1; k < entries.size(); ++k) {
        MIDIEventPtr* node = entries[k].node;
        prev->pNext = node;
        prev->dwDelta = static_cast<uint32_t>(node->lTime) - static_cast<uint32_t>(prev->lTime);
        prev = node;
    }
    prev->pNext = nullptr;
    prev->dwDelta = 120;
    m_pTail = prev;
    m_pStore->InvalidateIndex();
    if (plEndTime != nullptr) *plEndTime = prev->lTime;
    return 1;
}

int CMidiTrack::GetNextNoteOff(POSITION pos, MIDIEvent& noteOff) {
    if (pos == nullptr || !track_detail::IsSoundingNoteOn(*pos)) return 0;
    for (MIDIEventPtr* e = pos->pNext; e != nullptr; e = e->pNext) {
        if (track_detail::EndsNote(*e, *pos) && e->dwLength != PAIRING_MARK) {
            noteOff = *e;
            e->dwLength = PAIRING_MARK;
            return 1;
        }
    }
    return 0;
}

void CMidiTrack::ClearPairingMarks() {
    for (MIDIEventPtr* e = m_pHead; e != nullptr; e = e->pNext)
        if ((e->dwType == EVT_NOTEOFF || e->dwType == EVT_NOTEON) && e->dwLength == PAIRING_MARK)
            e->dwLength = 0;
}

// Without a tempo map there is nothing to convert with: the times stay in ticks and the
// result is 0.
int CMidiTrack::Convert2MSecond() {
    if (m_pTempo == nullptr) return 0;
    tempo_detail::TickCursor cursor(*m_pTempo);
    for (MIDIEventPtr* e = m_pHead; e != nullptr; e = e->pNext) {
        const int32_t ms = cursor.TicksToMsecs(e->lTime);
        e->lTime = static_cast<int32_t>(static_cast<double>(ms) + 0.5);
    }
    return 1;
}

MIDIFOLIO_END_NAMESPACE
