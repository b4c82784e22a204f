// The storage behind a track's event list: event nodes and their payload buffers, and the
// position index. Private to the track (CMidiTrack holds one through a pointer, so the layout
// of the public class does not depend on it).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_set>
#include <utility>
#include <vector>

#include "midifolio/export.h"
#include "midifolio/midi_event.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace track_detail {

// Payload buffers (of meta and sysex events) come from the store too. Those of decoded and
// copied events are cut from an arena of large blocks, released all at once with the store;
// those of inserted events (and any over 16 KB) are allocated one by one and released when
// their node is deleted. Nodes are released in blocks too, so releasing a track never walks
// its events.
//
// Nodes come from a slab of blocks that are never moved or resized, so node addresses (the
// track's POSITIONs) stay valid. The first block holds what the first request asks for (the
// decoder asks for as many nodes as the track's bytes can hold events, so a short track takes
// a short block), at least 16 and at most 65,536 nodes; each later block doubles the one
// before it, up to that size. The nodes of the last block are handed out in order; deleted
// nodes are reused from a free list.
class EventStore {
  public:
    EventStore() = default;
    ~EventStore();  // releases every node and the payload of every node that owns one
    EventStore(const EventStore&) = delete;
    EventStore& operator=(const EventStore&) = delete;

    // A node holding a copy of ev with pData and pNext null; null when no memory is left.
    MIDIEventPtr* NewNode(const MIDIEvent& ev);
    // Releases the node's payload (when the store made it) and takes the node back.
    void FreeNode(MIDIEventPtr* node);

    // A payload of n bytes holding a copy of src (zeros when src is null); null for n == 0
    // and when no memory is left. Arena: for decoded and copied events, released with the
    // store; Owned: for an inserted event, released with its node.
    uint8_t* ArenaPayload(uint32_t n, const uint8_t* src);
    uint8_t* OwnedPayload(uint32_t n, const uint8_t* src);
    // Releases a payload the store made one by one; any other pointer is left alone.
    void ReleasePayload(uint8_t* p);
    // Prepares the arena for a decoding pass over n bytes: its payloads take at most that.
    void ExpectPayloadBytes(size_t n) { m_arenaHint = n; }
    // Releases every node handed out (linked or not) and every payload they own.
    void ReleaseAll();

    // Room for new nodes for a bulk writer: the unused nodes [first, second) of the last
    // block, or a new block (the first one sized for `wanted` nodes). {null, null} when no
    // memory is left. Take() then tells how far the writer used them.
    std::pair<MIDIEventPtr*, MIDIEventPtr*> Room(size_t wanted);
    void Take(MIDIEventPtr* end);
    // Makes sure that the first block holds `wanted` nodes (before any node is taken).
    void Reserve(size_t wanted);

    // The node at a position of the list (head, count): O(1) once the index is built. Safe
    // to call from several threads at once; see midi_track.h.
    MIDIEventPtr* Find(MIDIEventPtr* head, int32_t count, int32_t index) const;
    // Drops the index after a change of the list.
    void InvalidateIndex();

    // Offset in the data of the event the last decoding pass could not decode, or -1.
    int64_t decodeStop = -1;
    // A node or payload could not be made for lack of memory (since the decoding pass began).
    bool outOfMemory = false;

  private:
    bool Grow(size_t wanted);
    uint8_t* OutOfMemory() {
        outOfMemory = true;
        return nullptr;
    }
    size_t BlockSize(size_t block) const;

    // Node blocks (malloc'd; the large ones mapped on their own, see Grow).
    struct FreeBlock {
        size_t bytes;
        void operator()(MIDIEventPtr* p) const;
    };
    std::vector<std::unique_ptr<MIDIEventPtr[], FreeBlock>> m_blocks;
    size_t m_used = 0;  // nodes of the last block handed out
    size_t m_size = 0;  // nodes of the last block
    size_t m_firstSize = 0;
    std::vector<MIDIEventPtr*> m_free;
    std::vector<std::unique_ptr<uint8_t[]>> m_arena;  // arena blocks
    size_t m_arenaUsed = 0;                           // bytes of the last block handed out
    size_t m_arenaSize = 0;                           // bytes of the last block
    size_t m_arenaHint = 0;
    std::unordered_set<uint8_t*> m_owned;  // payloads made one by one
    // Built by the first Find after a change. Concurrent Find calls may each build one: the
    // first to be published (compare-and-swap) is kept, the others are dropped: no lock.
    mutable std::atomic<const std::vector<MIDIEventPtr*>*> m_index{nullptr};
};

}  // namespace track_detail
MIDIFOLIO_END_NAMESPACE
