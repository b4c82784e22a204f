// CMidiTrack: construction, copying, accessors, traversal and the node pool.
#include <algorithm>
#include <iterator>

#include "midifolio/midi_track.h"
#include "track/event_store.h"

MIDIFOLIO_BEGIN_NAMESPACE

using track_detail::EventStore;

CMidiTrack::CMidiTrack()
    : m_nLastResult(0),
      m_dwRunningType(0),
      m_nRunningChannel(0),
      m_nTrackNum(-1),
      m_lEventCount(0),
      m_lTrkLen(0),
      m_pTempo(nullptr),
      m_pHead(nullptr),
      m_pLast(nullptr),
      m_pTail(nullptr),
      m_byPort(0),
      m_bValidatePercuss(0),
      m_bPercussValid(1),
      m_lReadCount(0),
      m_nProgram{},
      m_pStore(std::make_unique<EventStore>()) {
    InitialPt();
}

CMidiTrack::CMidiTrack(const CMidiTrack& other) : CMidiTrack() {
    CopyFrom(other);
}

CMidiTrack& CMidiTrack::operator=(const CMidiTrack& other) {
    if (this != &other) CopyFrom(other);
    return *this;
}

CMidiTrack::~CMidiTrack() = default;  // the store releases the nodes and their payloads

// Copies every member value and builds its own nodes and payload buffers, in list order.
void CMidiTrack::CopyFrom(const CMidiTrack& other) {
    RemoveAllPt();
    m_nLastResult = other.m_nLastResult;
    m_dwRunningType = other.m_dwRunningType;
    m_nRunningChannel = other.m_nRunningChannel;
    m_nTrackNum = other.m_nTrackNum;
    m_lTrkLen = other.m_lTrkLen;
    m_pTempo = other.m_pTempo;
    m_byPort = other.m_byPort;
    m_bValidatePercuss = other.m_bValidatePercuss;
    m_bPercussValid = other.m_bPercussValid;
    m_lReadCount = other.m_lReadCount;
    std::copy(std::begin(other.m_nProgram), std::end(other.m_nProgram), std::begin(m_nProgram));
    m_NoteUsage = other.m_NoteUsage;

    // The count follows the nodes actually linked (at most the source's count).
    if (other.m_lEventCount > 0) m_pStore->Reserve(static_cast<size_t>(other.m_lEventCount));
    int32_t copied = 0;
    for (const MIDIEventPtr* src = other.m_pHead; src != nullptr && copied < other.m_lEventCount;
         src = src->pNext) {
        MIDIEventPtr* node = m_pStore->NewNode(*src);
        if (node == nullptr) break;  // no memory left: the copy holds the events before
        if (OwnsPayload(src->dwType)) {
            node->pData = m_pStore->ArenaPayload(src->dwLength, src->pData);
            if (node->pData == nullptr) node->dwLength = 0;  // keeps length and buffer in step
        }
        if (m_pTail == nullptr)
            m_pHead = node;
        else
            m_pTail->pNext = node;
        m_pTail = node;
        if (src == other.m_pLast) m_pLast = node;
        ++copied;
    }
    m_lEventCount = copied;
    if (m_pLast == nullptr) m_pLast = m_pTail;
    m_pStore->InvalidateIndex();
}

void CMidiTrack::InitialPt() {
    m_pHead = nullptr;
    m_pLast = nullptr;
    m_pTail = nullptr;
}

void CMidiTrack::RemoveAllPt() {
    m_pStore->ReleaseAll();
    InitialPt();
    m_lEventCount = 0;
}

// --- accessors ---

uint8_t CMidiTrack::GetTrackNum() const {
    return static_cast<uint8_t>(m_nTrackNum & 0xFF);
}
void CMidiTrack::SetTrackNum(int32_t nTrackNum) {
    m_nTrackNum = nTrackNum;
}
int32_t CMidiTrack::GetTrkLen() const {
    return m_lTrkLen;
}
uint16_t CMidiTrack::GetTrackEventNums() const {
    return static_cast<uint16_t>(m_lEventCount & 0xFFFF);
}
int32_t CMidiTrack::GetCount() const {
    return m_lEventCount;
}
void CMidiTrack::SetTempoObject(CMidiTempo* pTempo) {
    m_pTempo = pTempo;
}
CMidiTempo* CMidiTrack::GetTempoObject() const {
    return m_pTempo;
}
void CMidiTrack::SetISValidatePercuss() {
    m_bValidatePercuss = 1;
}
int CMidiTrack::GetISValidatePercuss() const {
    return m_bValidatePercuss;
}
int CMidiTrack::GetPercussValid() const {
    return m_bPercussValid;
}
int64_t CMidiTrack::GetReadCount() const {
    return m_lReadCount;
}
int CMidiTrack::GetDecodeNoMemory() const {
    return m_pStore->outOfMemory ? 1 : 0;
}

int64_t CMidiTrack::GetDecodeStop() const {
    return m_pStore->decodeStop;
}
int CMidiTrack::GetLastResult() const {
    return m_nLastResult;
}

int CMidiTrack::GetNoteUsage(int nRow, int nNote) const {
    if (nRow < 0 || nRow >= NOTE_USAGE_ROWS || nNote < 0 || nNote >= 128) return 0;
    return m_NoteUsage.test(static_cast<size_t>(nRow) * 128 + static_cast<size_t>(nNote)) ? 1 : 0;
}
const NoteUsageTable& CMidiTrack::GetNoteUsageTable() const {
    return m_NoteUsage;
}

// --- traversal ---

POSITION CMidiTrack::GetEventHeadPosition() const {
    return m_pHead;
}

MIDIEvent CMidiTrack::GetNextEvent(POSITION& pos) const {
    MIDIEvent ev = *pos;
    pos = pos->pNext;
    return ev;
}

MIDIEventPtr* CMidiTrack::GetNextPtr(POSITION& pos) const {
    if (pos == nullptr || m_pHead == nullptr) return nullptr;
    MIDIEventPtr* node = pos;
    pos = node->pNext;
    return node;
}

MIDIEvent CMidiTrack::GetAt(POSITION pos) const {
    return *pos;
}
MIDIEvent& CMidiTrack::GetEventPtrAt(POSITION pos) {
    return *pos;
}
POSITION CMidiTrack::GetTailPosition() const {
    return m_pTail;
}

POSITION CMidiTrack::FindIndex(int nIndex) const {
    return m_pStore->Find(m_pHead, m_lEventCount, nIndex);
}

MIDIFOLIO_END_NAMESPACE
