// Note pairing: which note end ends which note-on. Every part of the library that pairs notes
// (the track's GetNextNoteOff, the song's time queries, the voice check, the score's notes)
// does it here.
//
// The rule: within a track, a note end (a note-off, or a note-on with velocity 0) ends the
// oldest sounding note-on (velocity above 0) of the same channel and note number that no
// earlier end has ended, in list order. It gives each note-on the partner GetNextNoteOff
// finds when it is asked for every sounding note-on in list order, and one forward pass over
// the list finds them all.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "midifolio/export.h"
#include "midifolio/midi_event.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace track_detail {

inline bool IsSoundingNoteOn(const MIDIEvent& ev) {
    return ev.dwType == EVT_NOTEON && ev.byData2 != 0;
}
inline bool IsNoteEnd(const MIDIEvent& ev) {
    return ev.dwType == EVT_NOTEOFF || (ev.dwType == EVT_NOTEON && ev.byData2 == 0);
}
// A note end of the note-on's channel and note number.
inline bool EndsNote(const MIDIEvent& end, const MIDIEvent& on) {
    return IsNoteEnd(end) && end.byChannel == on.byChannel && end.byData1 == on.byData1;
}

// What a pass does with the pairing marks (dwLength == PAIRING_MARK on a note end that has
// been handed out as a partner). Either way the pass itself pays no heed to marks it finds.
enum class PairingMarks {
    kLeave,    // the list is only read
    kRewrite,  // afterwards exactly the paired ends carry the mark: every other note-on and
               // note-off that had one loses it (dwLength 0), as ClearPairingMarks would
};

// The pairing pass. Its tables are kept from one run to the next, so a caller pairing many
// tracks allocates them once.
class NotePairing {
  public:
    // One pass over the list from head. For every node, in list order: each(node); then for
    // a sounding note-on opened(node, ordinal), the ordinal counting the list's sounding
    // note-ons from 0; for a note end that ends one, closed(end, note-on, ordinal of the
    // note-on). Returns the number of sounding note-ons.
    template <class Each, class Opened, class Closed>
    uint32_t Run(MIDIEventPtr* head, PairingMarks marks, Each each, Opened opened, Closed closed) {
        Reset();
        uint32_t ordinal = 0;
        for (MIDIEventPtr* p = head; p != nullptr; p = p->pNext) {
            each(p);
            if (Step(p, marks, ordinal, closed)) opened(p, ordinal++);
        }
        return ordinal;
    }

    // The same pass one node at a time, for a caller that walks the list itself (after
    // Reset): a sounding note-on is opened with the caller's tag (true is returned); a note
    // end that ends one calls closed(end, note-on, its tag).
    template <class Closed>
    bool Step(MIDIEventPtr* p, PairingMarks marks, uint32_t tag, Closed closed) {
        if (p->dwType != EVT_NOTEON && p->dwType != EVT_NOTEOFF) return false;
        if (IsSoundingNoteOn(*p)) {
            Open(*p, tag);
            if (marks == PairingMarks::kRewrite && p->dwLength == PAIRING_MARK) p->dwLength = 0;
            return true;
        }
        const int32_t on = Close(*p);
        if (on >= 0) {
            const Entry& entry = m_open[static_cast<size_t>(on)];
            closed(p, entry.node, entry.ordinal);
            Release(on);
        }
        if (marks == PairingMarks::kRewrite) {
            if (on >= 0)
                p->dwLength = PAIRING_MARK;
            else if (p->dwLength == PAIRING_MARK)
                p->dwLength = 0;
        }
        return false;
    }

    // Forgets every open note (the tables are kept).
    void Reset();

    // The same rule for a reader with records of its own, by channel (0..15) and note
    // (0..127): a sounding note-on opens with the caller's tag; a note end closes the oldest
    // open note-on of its channel and note and gives its tag, -1 when none is open.
    // A run uses either these or Run/Step, not both. The oldest open note of a channel and
    // note is held in its slot (most notes are alone on theirs), those after it in the queue.
    void OpenKey(uint8_t channel, uint8_t note, uint32_t tag) {
        Queue* q = Slot(channel, note, true);
        if (q->first == 0)
            q->first = tag + 1;
        else
            Push(q, nullptr, tag);
    }
    int64_t CloseKey(uint8_t channel, uint8_t note) {
        Queue* q = Slot(channel, note, false);
        const uint32_t first = q->first;
        if (first == 0) return -1;
        q->first = 0;
        const int32_t next = Pop(q);
        if (next >= 0) {
            q->first = m_open[static_cast<size_t>(next)].ordinal + 1;
            Release(next);
        }
        return int64_t{first} - 1;
    }

    // Calls f(tag) for every note-on still open (no end ended it), by channel and note.
    template <class F>
    void ForEachOpen(F f) const {
        auto walk = [&](const Queue& q) {
            if (q.first != 0) f(static_cast<uint32_t>(q.first - 1));
            for (int32_t e = q.head; e >= 0; e = m_open[static_cast<size_t>(e)].next)
                f(m_open[static_cast<size_t>(e)].ordinal);
        };
        for (uint32_t slot : m_used) walk(m_direct[slot]);
        for (const auto& other : m_other) walk(other.second);
    }

  private:
    struct Entry {
        const MIDIEventPtr* node;
        uint32_t ordinal;  // or the caller's tag
        int32_t next;      // the next open note-on of the same channel and note, or -1;
                           // in a released entry, the next released one
    };
    // The open note-ons of one channel and note, oldest first, linked through Entry::next.
    struct Queue {
        int32_t head = -1;
        int32_t tail = -1;  // -1 also: the slot is not in m_used (-2: it is, its queue empty)
        // The key API's oldest open tag + 1, 0 for none (see OpenKey). Tags number notes or
        // events of a file below 4 GiB: never 2^32 - 1.
        uint32_t first = 0;
    };
    // Channels 0..15 and notes 0..127 (every decoded note) have a table slot; anything else
    // a host may have put in a record goes to a map.
    static constexpr uint32_t kDirect = 16 * 128;

    Queue* Find(const MIDIEvent& ev, bool create);
    Queue* Slot(uint8_t channel, uint8_t note, bool create);
    void Open(const MIDIEventPtr& on, uint32_t ordinal) { Push(Find(on, true), &on, ordinal); }
    // The entry of the oldest open note-on that the end ends, taken off its queue; -1 none.
    int32_t Close(const MIDIEvent& end) { return Pop(Find(end, false)); }
    void Push(Queue* q, const MIDIEventPtr* on, uint32_t ordinal);
    int32_t Pop(Queue* q);
    // An entry closed and handed out goes to the released list for the next Open: the table
    // stays as large as the most notes open at once, not as the track's notes.
    void Release(int32_t index);

    std::vector<Queue> m_direct = std::vector<Queue>(kDirect);  // 24 KB
    std::vector<uint32_t> m_used;                               // direct slots to reset
    std::unordered_map<uint32_t, Queue> m_other;
    std::vector<Entry> m_open;
    int32_t m_released = -1;  // first released entry of m_open, or -1
};

inline NotePairing::Queue* NotePairing::Find(const MIDIEvent& ev, bool create) {
    if (ev.byChannel < 16 && ev.byData1 < 128) return Slot(ev.byChannel, ev.byData1, create);
    const uint32_t key = static_cast<uint32_t>(ev.byChannel) << 8 | ev.byData1;
    if (create) return &m_other[key];
    auto it = m_other.find(key);
    return it == m_other.end() ? nullptr : &it->second;
}

// A direct slot: channel 0..15, note 0..127.
inline NotePairing::Queue* NotePairing::Slot(uint8_t channel, uint8_t note, bool create) {
    const uint32_t slot = (channel & 15u) * 128u + (note & 127u);
    Queue& q = m_direct[slot];
    if (create && q.tail == -1) {  // first use
        m_used.push_back(slot);
        q.tail = -2;
    }
    return &q;
}

inline void NotePairing::Push(Queue* q, const MIDIEventPtr* on, uint32_t ordinal) {
    int32_t index = m_released;
    if (index >= 0) {
        m_released = m_open[static_cast<size_t>(index)].next;
        m_open[static_cast<size_t>(index)] = {on, ordinal, -1};
    } else {
        index = static_cast<int32_t>(m_open.size());
        m_open.push_back({on, ordinal, -1});
    }
    if (q->head < 0)
        q->head = index;
    else
        m_open[static_cast<size_t>(q->tail)].next = index;
    q->tail = index;
}

inline int32_t NotePairing::Pop(Queue* q) {
    if (q == nullptr || q->head < 0) return -1;
    const int32_t oldest = q->head;
    q->head = m_open[static_cast<size_t>(oldest)].next;
    return oldest;
}

inline void NotePairing::Release(int32_t index) {
    m_open[static_cast<size_t>(index)].next = m_released;
    m_released = index;
}

inline void NotePairing::Reset() {
    for (uint32_t slot : m_used) m_direct[slot] = Queue{};
    m_used.clear();
    m_other.clear();
    m_open.clear();
    m_released = -1;
}

}  // namespace track_detail
MIDIFOLIO_END_NAMESPACE
