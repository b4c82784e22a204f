// Walking a track's event list in the library's own loops: a range over its nodes in list
// order. Private to the library (hosts walk with the track's positions).
#pragma once

#include <cstddef>
#include <iterator>

#include "midifolio/export.h"
#include "midifolio/midi_track.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace track_detail {

// The node after p in its list (null at the tail).
inline MIDIEventPtr* Next(const MIDIEventPtr* p) {
    return p->pNext;
}

class EventIterator {
  public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = MIDIEventPtr;
    using difference_type = std::ptrdiff_t;
    using pointer = MIDIEventPtr*;
    using reference = MIDIEventPtr&;

    explicit EventIterator(MIDIEventPtr* p = nullptr) : m_p(p) {}
    MIDIEventPtr& operator*() const { return *m_p; }
    MIDIEventPtr* operator->() const { return m_p; }
    EventIterator& operator++() {
        m_p = m_p->pNext;
        return *this;
    }
    bool operator==(const EventIterator& o) const { return m_p == o.m_p; }
    bool operator!=(const EventIterator& o) const { return m_p != o.m_p; }

  private:
    MIDIEventPtr* m_p;
};

struct EventRange {
    MIDIEventPtr* head;
    EventIterator begin() const { return EventIterator(head); }
    EventIterator end() const { return EventIterator(); }
};

// The nodes of a track, head to tail: for (MIDIEventPtr& ev : Events(track)).
inline EventRange Events(const CMidiTrack& track) {
    return {track.GetEventHeadPosition()};
}

}  // namespace track_detail
MIDIFOLIO_END_NAMESPACE
