#include "track/event_store.h"

#include <algorithm>
#include <cstring>
#include <new>

MIDIFOLIO_BEGIN_NAMESPACE
namespace track_detail {

namespace {
constexpr size_t kFirstBlockMin = 16;  // nodes of the smallest first block
constexpr size_t kBlockMax = 65536;    // nodes of the largest block (2.5 MB)
}  // namespace

uint8_t* NewPayload(uint32_t n, const uint8_t* src) {
    if (n == 0) return nullptr;
    uint8_t* buf = new (std::nothrow) uint8_t[n];
    if (buf == nullptr) return nullptr;
    if (src != nullptr)
        std::memcpy(buf, src, n);
    else
        std::memset(buf, 0, n);
    return buf;
}

void DeletePayload(uint8_t* p) {
    delete[] p;
}

EventStore::~EventStore() {
    ReleaseAll();
}

size_t EventStore::BlockSize(size_t block) const {
    if (block >= 17) return kBlockMax;  // 16 << 17 is past the cap already
    return std::min(m_firstSize << block, kBlockMax);
}

bool EventStore::Grow(size_t wanted) {
    if (m_blocks.empty()) m_firstSize = std::clamp(wanted, kFirstBlockMin, kBlockMax);
    const size_t size = BlockSize(m_blocks.size());
    // Left uninitialised: every node is written in full when it is handed out.
    std::unique_ptr<MIDIEventPtr[]> block(new (std::nothrow) MIDIEventPtr[size]);
    if (block == nullptr) return false;
    try {
        m_blocks.push_back(std::move(block));
    } catch (const std::bad_alloc&) {
        return false;
    }
    m_size = size;
    m_used = 0;
    return true;
}

void EventStore::Reserve(size_t wanted) {
    if (m_blocks.empty()) Grow(wanted);
}

std::pair<MIDIEventPtr*, MIDIEventPtr*> EventStore::Room(size_t wanted) {
    if (m_used == m_size && !Grow(wanted)) return {nullptr, nullptr};
    MIDIEventPtr* block = m_blocks.back().get();
    return {block + m_used, block + m_size};
}

void EventStore::Take(MIDIEventPtr* end) {
    m_used = static_cast<size_t>(end - m_blocks.back().get());
}

MIDIEventPtr* EventStore::NewNode(const MIDIEvent& ev) {
    MIDIEventPtr* node;
    if (!m_free.empty()) {
        node = m_free.back();
        m_free.pop_back();
    } else {
        MIDIEventPtr* room = Room(0).first;
        if (room == nullptr) return nullptr;
        node = room;
        ++m_used;
    }
    static_cast<MIDIEvent&>(*node) = ev;
    node->pData = nullptr;  // the caller gives the node its own payload, if any
    node->pNext = nullptr;
    return node;
}

void EventStore::FreeNode(MIDIEventPtr* node) {
    if (OwnsPayload(node->dwType)) DeletePayload(node->pData);
    *node = MIDIEventPtr{};  // a free node owns nothing (type code 0, no payload)
    try {
        m_free.push_back(node);
    } catch (const std::bad_alloc&) {
        // Not reused: the node stays in its block, owning nothing, until the store goes.
    }
}

void EventStore::ReleaseAll() {
    // Every node of the slab is released, linked or not, so that no payload can be left
    // behind by a list that was relinked from outside. Nodes past m_used in the last block
    // were never handed out (their contents are unset); free nodes hold type code 0.
    for (size_t b = 0; b < m_blocks.size(); ++b) {
        const size_t used = b + 1 == m_blocks.size() ? m_used : BlockSize(b);
        MIDIEventPtr* nodes = m_blocks[b].get();
        for (size_t i = 0; i < used; ++i)
            if (OwnsPayload(nodes[i].dwType)) DeletePayload(nodes[i].pData);
    }
    m_blocks.clear();
    m_blocks.shrink_to_fit();
    m_used = m_size = 0;
    m_free.clear();
    m_free.shrink_to_fit();
    InvalidateIndex();
}

void EventStore::InvalidateIndex() {
    delete m_index.exchange(nullptr, std::memory_order_acq_rel);
}

MIDIEventPtr* EventStore::Find(MIDIEventPtr* head, int32_t count, int32_t n) const {
    if (n < 0 || n >= count) return nullptr;
    const std::vector<MIDIEventPtr*>* index = m_index.load(std::memory_order_acquire);
    if (index == nullptr) {
        auto built = std::make_unique<std::vector<MIDIEventPtr*>>();
        try {
            built->reserve(static_cast<size_t>(count));
            for (MIDIEventPtr* p = head; p != nullptr && built->size() < static_cast<size_t>(count);
                 p = p->pNext)
                built->push_back(p);
        } catch (const std::bad_alloc&) {
            // No memory for the index: walk the list this time.
            MIDIEventPtr* p = head;
            for (int32_t i = 0; p != nullptr && i < n; ++i) p = p->pNext;
            return p;
        }
        const std::vector<MIDIEventPtr*>* expected = nullptr;
        if (m_index.compare_exchange_strong(expected, built.get(), std::memory_order_acq_rel))
            index = built.release();
        else
            index = expected;  // another thread published its index first
    }
    return static_cast<size_t>(n) < index->size() ? (*index)[static_cast<size_t>(n)] : nullptr;
}

}  // namespace track_detail
MIDIFOLIO_END_NAMESPACE
