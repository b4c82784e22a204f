#include "track/event_store.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/page_memory.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace track_detail {

namespace {
constexpr size_t kFirstBlockMin = 16;  // nodes of the smallest first block
using platform_detail::kHugePage;
// Nodes of the largest block: what two huge pages hold (4 MB).
constexpr size_t kBlockMax = 2 * kHugePage / sizeof(MIDIEventPtr);

constexpr size_t kArenaBlock = 64 * 1024;  // bytes of a full arena block
constexpr size_t kOwnedAbove = 16 * 1024;  // larger payloads are made one by one

void Fill(uint8_t* buf, uint32_t n, const uint8_t* src) {
    if (src != nullptr)
        std::memcpy(buf, src, n);
    else
        std::memset(buf, 0, n);
}

}  // namespace

uint8_t* EventStore::OwnedPayload(uint32_t n, const uint8_t* src) {
    if (n == 0) return nullptr;
    std::unique_ptr<uint8_t[]> buf(new (std::nothrow) uint8_t[n]);
    if (!buf) return OutOfMemory();
    try {
        m_owned.insert(buf.get());
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    }
    Fill(buf.get(), n, src);
    return buf.release();
}

uint8_t* EventStore::ArenaPayload(uint32_t n, const uint8_t* src) {
    if (n == 0) return nullptr;
    if (n > kOwnedAbove) return OwnedPayload(n, src);
    if (m_arenaSize - m_arenaUsed < n) {
        // The first block takes what the bytes being decoded can hold (a short track keeps
        // a short block), at most a full block.
        const size_t size = std::max<size_t>(n, m_arena.empty() && m_arenaHint != 0
                                                    ? std::min(m_arenaHint, kArenaBlock)
                                                    : kArenaBlock);
        std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[size]);
        if (!block) return OutOfMemory();
        try {
            m_arena.push_back(std::move(block));
        } catch (const std::bad_alloc&) {
            return OutOfMemory();
        }
        m_arenaSize = size;
        m_arenaUsed = 0;
    }
    uint8_t* buf = m_arena.back().get() + m_arenaUsed;
    m_arenaUsed += n;
    Fill(buf, n, src);
    return buf;
}

void EventStore::ReleasePayload(uint8_t* p) {
    if (p == nullptr || m_owned.empty()) return;
    auto it = m_owned.find(p);
    if (it == m_owned.end()) return;
    m_owned.erase(it);
    delete[] p;
}

void EventStore::FreeBlock::operator()(MIDIEventPtr* p) const {
    if (bytes >= kHugePage)
        platform_detail::UnmapHugeBlock(p, bytes);
    else
        ::operator delete (p, std::align_val_t{alignof(MIDIEventPtr)});
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
    size_t size = BlockSize(m_blocks.size());
    // Left uninitialised: every node is written in full when it is handed out. A block of
    // 2 MB or more is mapped on its own, aligned to the 2 MB pages of the system, made a
    // whole number of them (the nodes that fit) and asked to be backed by them (where
    // transparent huge pages are offered on request): a large song then touches its fresh
    // memory in hundreds of page faults instead of tens of thousands, and every block goes
    // back to the system with the song, so that loading one large song after another reuses
    // the same pages instead of growing malloc's heap. A tail past the last whole 2 MB page
    // would fault page by page: with blocks of 2.5 MB that tail was a fifth of the nodes'
    // memory and a quarter of a large load's time.
    size_t bytes = size * sizeof(MIDIEventPtr);
    if (bytes >= kHugePage) {
        bytes = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        size = bytes / sizeof(MIDIEventPtr);
    }
    void* memory =
        bytes >= kHugePage
            ? platform_detail::MapHugeBlock(bytes)
            : ::operator new (bytes, std::align_val_t{alignof(MIDIEventPtr)}, std::nothrow);
    std::unique_ptr<MIDIEventPtr[], FreeBlock> block(static_cast<MIDIEventPtr*>(memory),
                                                     FreeBlock{bytes});
    if (block == nullptr) return OutOfMemory(), false;
    try {
        m_blocks.push_back(std::move(block));
    } catch (const std::bad_alloc&) {
        return OutOfMemory(), false;
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
    ReleasePayload(node->pData);
    *node = MIDIEventPtr{};  // a free node owns nothing (type code 0, no payload)
    try {
        m_free.push_back(node);
    } catch (const std::bad_alloc&) {
        // Not reused: the node stays in its block, owning nothing, until the store goes.
    }
}

void EventStore::ReleaseAll() {
    // Payloads go with the arena or from the set of those made one by one: no node is
    // visited, whatever its kind says now.
    for (uint8_t* p : m_owned) delete[] p;
    m_owned.clear();
    m_arena.clear();
    m_arena.shrink_to_fit();
    m_arenaUsed = m_arenaSize = 0;
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
