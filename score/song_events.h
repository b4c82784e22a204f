// The events of a song that the exact view reads, gathered from every track in one pass and
// put in the order in which they hold: by tick, then track, then list order. Private to the
// score.
#pragma once

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "midifolio/export.h"
#include "midifolio/midi_folio.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace score_detail {

struct Placed {
    int32_t tick;
    uint16_t track;
    uint32_t order;  // place in the track's list
    const MIDIEventPtr* event;
};

struct SongEvents {
    int32_t tpq = 0;                     // ticks per quarter note, 0 when the song has none
    std::vector<Placed> tempos;          // with three payload bytes; the loader's left out
    std::vector<Placed> timeSignatures;  // with at least two payload bytes
    std::vector<Placed> keySignatures;   // with at least two payload bytes
    std::vector<Placed> programs;        // program changes of channels 0..15
    int32_t endTick = 0;                 // the last event's tick (0 without events)
    size_t events = 0;                   // the song's events, the loader's not counted
};

// Gathers a song's events from its tracks' nodes, given track after track in list order, for
// a caller that walks the nodes for its own ends too.
class SongEventsBuilder {
  public:
    explicit SongEventsBuilder(const CMidiFolio& song);
    void BeginTrack(const CMidiTrack* track, uint16_t index) {
        m_track = track;
        m_index = index;
        m_order = 0;
    }
    void Add(MIDIEventPtr& ev) {
        const uint32_t place = m_order++;
        m_lastTick = std::max(m_lastTick, ev.lTime);
        if (ev.dwType == EVT_PROGRAM) {
            if (ev.byChannel < 16) m_out.programs.push_back({ev.lTime, m_index, place, &ev});
            return;
        }
        if (ev.dwType == EVT_META) AddMeta(ev, place);
    }
    void EndTrack() { m_out.events += m_order; }
    SongEvents Finish();

  private:
    void AddMeta(MIDIEventPtr& ev, uint32_t place);

    const CMidiFolio& m_song;
    SongEvents m_out;
    const CMidiTrack* m_track = nullptr;
    uint16_t m_index = 0;
    uint32_t m_order = 0;
    int32_t m_lastTick = INT32_MIN;  // the latest tick so far (INT32_MIN: no event yet)
    size_t m_loaderTempos = 0;
};

SongEvents Collect(const CMidiFolio& song);

}  // namespace score_detail
MIDIFOLIO_END_NAMESPACE
