// CMidiTrack: construction, copying, accessors, traversal and the node pool.
#include <algorithm>
#include <iterator>
#include <new>

#include "midifolio/midi_track.h"
#include "track/track_internal.h"

namespace midifolio {

using track_detail::DeletePayload;
using track_detail::NewPayload;

namespace {
constexpr size_t kFirstBlockMin = 16;  // nodes of the smallest first slab block
constexpr size_t kBlockMax = 65536;    // nodes of the largest slab block
}  // namespace

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
      m_blockUsed(0),
      m_blockSize(0),
      m_firstBlockSize(kFirstBlockMin),
      m_lBudget(0),
      m_pDataEnd(nullptr) {
    InitialPt();
}

CMidiTrack::CMidiTrack(const CMidiTrack& other) : CMidiTrack() {
    CopyFrom(other);
}

CMidiTrack& CMidiTrack::operator=(const CMidiTrack& other) {
    if (this != &other) CopyFrom(other);
    return *this;
}

CMidiTrack::~CMidiTrack() {
    RemoveAllPt();
}

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
    if (other.m_lEventCount > 0) GrowSlab(static_cast<size_t>(other.m_lEventCount));
    int32_t copied = 0;
    for (const MIDIEventPtr* src = other.m_pHead; src != nullptr && copied < other.m_lEventCount;
         src = src->pNext) {
        MIDIEventPtr* node = NewNode(*src);
        if (node == nullptr) break;  // no memory left: the copy holds the events before
        if (OwnsPayload(src->dwType)) {
            node->pData = NewPayload(src->dwLength, src->pData);
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
    InvalidateIndex();
}

void CMidiTrack::InitialPt() {
    m_pHead = nullptr;
    m_pLast = nullptr;
    m_pTail = nullptr;
}

MIDIEventPtr* CMidiTrack::NewNode(const MIDIEvent& ev) {
    MIDIEventPtr* node;
    if (!m_freeNodes.empty()) {
        node = m_freeNodes.back();
        m_freeNodes.pop_back();
    } else {
        if (m_blockUsed == m_blockSize && !GrowSlab()) return nullptr;
        node = &m_nodeBlocks.back()[m_blockUsed++];
    }
    static_cast<MIDIEvent&>(*node) = ev;
    node->pData = nullptr;  // the caller gives the node its own payload, if any
    node->pNext = nullptr;
    return node;
}

void CMidiTrack::FreeNode(MIDIEventPtr* node) {
    if (OwnsPayload(node->dwType)) DeletePayload(node->pData);
    *node = MIDIEventPtr{};  // a free node owns nothing (type code 0, no payload)
    m_freeNodes.push_back(node);
}

// The first block holds what the first growth asks for (the decoder asks for as many nodes
// as the track's bytes can hold events, so that a short track takes a short block), at least
// 16 and at most 65,536 nodes (2.5 MB); each later block doubles the one before it, up to
// that size, so a large track takes one allocation per 65,536 events.
size_t CMidiTrack::SlabBlockSize(size_t block) const {
    if (block >= 17) return kBlockMax;  // 16 << 17 is past the cap already
    return std::min(m_firstBlockSize << block, kBlockMax);
}

bool CMidiTrack::GrowSlab(size_t wanted) {
    if (m_nodeBlocks.empty()) m_firstBlockSize = std::clamp(wanted, kFirstBlockMin, kBlockMax);
    const size_t size = SlabBlockSize(m_nodeBlocks.size());
    // Left uninitialised: every node is written in full when it is handed out.
    std::unique_ptr<MIDIEventPtr[]> block(new (std::nothrow) MIDIEventPtr[size]);
    if (block == nullptr) return false;
    try {
        m_nodeBlocks.push_back(std::move(block));
    } catch (const std::bad_alloc&) {
        return false;
    }
    m_blockSize = size;
    m_blockUsed = 0;
    return true;
}

void CMidiTrack::RemoveAllPt() {
    // Every node of the pool is released, linked or not, so that no payload can be left
    // behind by a list that was relinked from outside.
    // Nodes past m_blockUsed in the last block were never handed out (their contents are
    // unset); free nodes hold type code 0 and no payload.
    for (size_t b = 0; b < m_nodeBlocks.size(); ++b) {
        const size_t used = b + 1 == m_nodeBlocks.size() ? m_blockUsed : SlabBlockSize(b);
        MIDIEventPtr* nodes = m_nodeBlocks[b].get();
        for (size_t i = 0; i < used; ++i)
            if (OwnsPayload(nodes[i].dwType)) DeletePayload(nodes[i].pData);
    }
    m_nodeBlocks.clear();
    m_nodeBlocks.shrink_to_fit();
    m_blockUsed = 0;
    m_blockSize = 0;
    m_freeNodes.clear();
    m_freeNodes.shrink_to_fit();
    InvalidateIndex();
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

void CMidiTrack::InvalidateIndex() {
    delete m_index.exchange(nullptr, std::memory_order_acq_rel);
}

POSITION CMidiTrack::FindIndex(int nIndex) const {
    if (nIndex < 0 || nIndex >= m_lEventCount) return nullptr;
    const std::vector<MIDIEventPtr*>* index = m_index.load(std::memory_order_acquire);
    if (index == nullptr) {
        auto built = std::make_unique<std::vector<MIDIEventPtr*>>();
        try {
            built->reserve(static_cast<size_t>(m_lEventCount));
            for (MIDIEventPtr* p = m_pHead;
                 p != nullptr && built->size() < static_cast<size_t>(m_lEventCount); p = p->pNext)
                built->push_back(p);
        } catch (const std::bad_alloc&) {
            // No memory for the index: walk the list this time.
            MIDIEventPtr* p = m_pHead;
            for (int i = 0; p != nullptr && i < nIndex; ++i) p = p->pNext;
            return p;
        }
        const std::vector<MIDIEventPtr*>* expected = nullptr;
        if (m_index.compare_exchange_strong(expected, built.get(), std::memory_order_acq_rel))
            index = built.release();
        else
            index = expected;  // another thread published its index first
    }
    return static_cast<size_t>(nIndex) < index->size() ? (*index)[static_cast<size_t>(nIndex)]
                                                       : nullptr;
}

}  // namespace midifolio
