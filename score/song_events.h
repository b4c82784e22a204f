// The events of a song that the exact view reads, gathered from every track in one pass and
// put in the order in which they hold: by tick, then track, then list order. Private to the
// score.
#pragma once

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

SongEvents Collect(const CMidiFolio& song);

}  // namespace score_detail
MIDIFOLIO_END_NAMESPACE
