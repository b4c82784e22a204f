// CMidiTrack: inserting, deleting and looking up events in place.
#include <algorithm>
#include <cstdint>

#include "midifolio/midi_track.h"
#include "track/event_store.h"

MIDIFOLIO_BEGIN_NAMESPACE

POSITION CMidiTrack::InsertEventAfter(POSITION pos, MIDIEvent event) {
    return InsertEventAfter(pos, &event);
}

POSITION CMidiTrack::InsertEventAfter(POSITION pos, const MIDIEvent* pEvent) {
    if (pEvent == nullptr) return nullptr;
    if (pos != nullptr && m_pHead == nullptr) {
        m_nLastResult = 0;
        return nullptr;
    }
    // The node gets its own copy of the payload of the buffer-owning kinds; for the other
    // kinds pData keeps the caller's pointer value.
    uint8_t* payload = pEvent->pData;
    if (OwnsPayload(pEvent->dwType)) {
        payload = m_pStore->OwnedPayload(pEvent->dwLength, pEvent->pData);
        if (pEvent->dwLength != 0 && payload == nullptr) {  // no memory for the copy
            m_nLastResult = 0;
            return nullptr;
        }
    }
    MIDIEventPtr* node = m_pStore->NewNode(*pEvent);
    if (node == nullptr) {  // no memory for the node
        if (OwnsPayload(pEvent->dwType)) m_pStore->ReleasePayload(payload);
        m_nLastResult = 0;
        return nullptr;
    }
    node->pData = payload;
    if (pos == nullptr) {
        if (m_pTail == nullptr)
            m_pHead = node;
        else
            m_pTail->pNext = node;
        m_pTail = node;
    } else {
        node->pNext = pos->pNext;
        if (node->pNext == nullptr) m_pTail = node;
        pos->pNext = node;
    }
    ++m_lEventCount;
    const int64_t grown =
        static_cast<int64_t>(m_lTrkLen) + 32 + (OwnsPayload(pEvent->dwType) ? pEvent->dwLength : 0);
    m_lTrkLen = static_cast<int32_t>(std::min<int64_t>(grown, INT32_MAX));
    m_pStore->InvalidateIndex();
    m_nLastResult = 1;
    return node;
}

int CMidiTrack::DeleteEvent(POSITION pos) {
    // The last event of a track (normally its end of track) cannot be deleted.
    if (m_pHead == nullptr || pos == m_pTail) {
        m_nLastResult = 0;
        return 0;
    }
    if (pos == nullptr) return 0;
    if (pos == m_pHead) {
        m_pHead = pos->pNext;
    } else {
        MIDIEventPtr* prev = m_pHead;
        while (prev != nullptr && prev->pNext != pos) prev = prev->pNext;
        if (prev == nullptr) return 0;  // not a node of this list: nothing changes
        prev->pNext = pos->pNext;
    }
    if (m_pLast == pos) m_pLast = m_pHead;
    m_pStore->FreeNode(pos);
    --m_lEventCount;
    m_pStore->InvalidateIndex();
    m_nLastResult = 1;
    return 1;
}

// The type argument takes no part in the match: the first event at the time is answered,
// whatever its kind.
int CMidiTrack::GetEvent(int32_t lTime, uint16_t /*wType*/, MIDIEvent* pEvent) const {
    for (const MIDIEventPtr* p = m_pHead; p != nullptr; p = p->pNext) {
        if (p->lTime == lTime) {
            if (pEvent != nullptr) *pEvent = *p;
            return 1;
        }
    }
    return 0;
}

// Selection by type or time is offered for the whole song by the song's queries; the track
// selects nothing.
int CMidiTrack::GetEventLstByType(uint16_t /*wType*/, MidiEventList& /*list*/) const {
    return 0;
}
int CMidiTrack::GetEventLstByTime(int32_t /*lFrom*/, int32_t /*lTo*/,
                                  MidiEventList& /*list*/) const {
    return 0;
}

void CMidiTrack::FreePtrList(MidiEventList& list) const {
    if (!list.empty()) list.clear();
}

MIDIFOLIO_END_NAMESPACE
