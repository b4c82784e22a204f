// Conversion of _MIDI_TIME records among the four time formats, with the song's measure
// length and tempo map looked up once so that a query can convert many records cheaply.
#pragma once

#include <cstdint>
#include <optional>

#include "midifolio/export.h"
#include "midifolio/midi_tempo.h"
#include "midifolio/time_format.h"
#include "platform/numeric.h"
#include "tempo/tempo_cursor.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace queries_detail {

// Measure length in ticks from a time signature b/n and ticks per quarter q: the whole
// quarter notes of one measure (b / n in single precision, divided by 1/4, truncated) times
// q. 0 when that has no usable value (n or q not positive, a result outside 1..INT32_MAX).
uint32_t MeasureTicks(int32_t nBarNum, int32_t nNoteNum, int32_t nTicksPerQuarter);

class TimeConverter {
  public:
    // pTempo: the map that converts ticks and milliseconds (null: every such conversion
    // gives -1). dwMeasureTicks: the measure length (0: measure conversions give -1).
    TimeConverter(const CMidiTempo* pTempo, uint32_t dwMeasureTicks);

    // Rewrites t into the target format; see CMidiFolio::ConvertMIDITime.
    void Convert(_MIDI_TIME& t, TIME_FORMAT target) const;

    // Inline: a time query converts every record it makes.
    int32_t TicksToMsecs(int32_t lTicks) const {
        return m_cursor ? m_cursor->TicksToMsecs(lTicks) : -1;
    }

  private:
    // One step each; the record's format tag follows.
    void ClockToMsecs(_MIDI_TIME& t) const;
    void MsecsToClock(_MIDI_TIME& t) const;
    void MsecsToTicks(_MIDI_TIME& t) const;
    void TicksToMsecs(_MIDI_TIME& t) const;
    void MeasureToTicks(_MIDI_TIME& t) const;
    void TicksToMeasure(_MIDI_TIME& t) const;

    const CMidiTempo* m_pTempo;
    // Ticks converted one after another walk the tempo map along with them (a converter
    // belongs to one query on one thread).
    mutable std::optional<tempo_detail::TickCursor> m_cursor;
    int32_t m_nQuarter;  // ticks per quarter note (<= 0: unknown)
    int32_t m_lMeasure;  // measure length in ticks (0: unknown)
};

}  // namespace queries_detail
MIDIFOLIO_END_NAMESPACE
