// Musical time formats: milliseconds, ticks, measure/beat/tick and hours/minutes/seconds/
// frames, and the conversion of a song's event times to milliseconds.
//
// Integer arithmetic here is 32-bit signed arithmetic that wraps on overflow (done in 64 bits
// and cut back), so that no input can cause undefined behaviour. Conversions that cannot be
// done give -1 in the target's tick or millisecond value:
//   - no tempo to work with: ticks <-> milliseconds give -1 (as the tempo map answers);
//   - a measure length of 0 (a song without tracks, a first track without a tempo map, a
//     time signature whose quarter-note count truncates to 0 or whose note value is 0 or
//     does not fit, ticks per quarter note 0 or unset): ticks from a measure give -1 and a
//     split of ticks into measures gives measure -1, beat 0, tick 0;
//   - a millisecond value that is NaN or does not fit 32 bits once truncated counts as -1.
// Beat and tick of TF_MEASURE are 16-bit: values that do not fit keep their low 16 bits.
#include <cmath>
#include <cstdint>
#include <limits>

#include "midifolio/midi_folio.h"
#include "queries/time_convert.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace queries_detail {

namespace {

// 32-bit signed wrap of a 64-bit intermediate result.
int32_t Wrap32(int64_t value) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value)));
}

int16_t Low16(int32_t value) {
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(value)));
}

}  // namespace

uint32_t MeasureTicks(int32_t nBarNum, int32_t nNoteNum, int32_t nTicksPerQuarter) {
    if (nNoteNum <= 0 || nTicksPerQuarter <= 0) return 0;
    const float fRatio =
        static_cast<float>(static_cast<double>(nBarNum) / static_cast<double>(nNoteNum));
    const double dQuarters = std::trunc(static_cast<double>(fRatio) / 0.25);
    if (!(dQuarters >= 1.0 && dQuarters <= 2147483647.0)) return 0;
    const int64_t lTicks = static_cast<int64_t>(dQuarters) * nTicksPerQuarter;
    if (lTicks > std::numeric_limits<int32_t>::max()) return 0;
    return static_cast<uint32_t>(lTicks);
}

TimeConverter::TimeConverter(const CMidiTempo* pTempo, uint32_t dwMeasureTicks)
    : m_pTempo(pTempo),
      m_cursor(pTempo ? std::optional<tempo_detail::TickCursor>(std::in_place, *pTempo)
                      : std::nullopt),
      m_nQuarter(pTempo ? pTempo->GetTicksPerQuarterNote() : -1),
      m_lMeasure(dwMeasureTicks <= static_cast<uint32_t>(std::numeric_limits<int32_t>::max())
                     ? static_cast<int32_t>(dwMeasureTicks)
                     : 0) {}

void TimeConverter::ClockToMsecs(_MIDI_TIME& t) const {
    const int64_t lMsecs = int64_t{Wrap32(int64_t{t.lFrame} * 25)} +
                           Wrap32(int64_t{t.lSecond} * 1000) + Wrap32(int64_t{t.lMinute} * 60000) +
                           Wrap32(int64_t{t.lHour} * 3600000);
    t.dMsecs = static_cast<double>(Wrap32(lMsecs));
    t.format = TF_MSEC;
}

void TimeConverter::MsecsToClock(_MIDI_TIME& t) const {
    const int32_t v = platform_detail::TruncOrMinusOne(t.dMsecs);
    const int32_t s = v / 1000;
    t.lHour = s / 3600;
    t.lMinute = (s % 3600) / 60;
    t.lSecond = (s % 3600) % 60;
    t.lFrame = (v % 1000) / 25;
    t.format = TF_HMSF;
}

void TimeConverter::MsecsToTicks(_MIDI_TIME& t) const {
    const int32_t lMsecs = platform_detail::TruncOrMinusOne(t.dMsecs);
    t.lTicks = m_pTempo ? m_pTempo->MsecsToTicks(lMsecs) : -1;
    t.format = TF_TICK;
}

void TimeConverter::TicksToMsecs(_MIDI_TIME& t) const {
    const int32_t lTicks = t.lTicks;
    t.dMsecs = static_cast<double>(TicksToMsecs(lTicks));
    t.format = TF_MSEC;
}

void TimeConverter::MeasureToTicks(_MIDI_TIME& t) const {
    const int64_t lMeasure = t.lMeasure, nBeat = t.nBeat, nTick = t.nTick;
    if (m_lMeasure <= 0 || m_nQuarter <= 0) {
        t.lTicks = -1;
    } else {
        t.lTicks =
            Wrap32(int64_t{Wrap32(lMeasure * m_lMeasure)} + Wrap32(nBeat * m_nQuarter) + nTick);
    }
    t.format = TF_TICK;
}

void TimeConverter::TicksToMeasure(_MIDI_TIME& t) const {
    const int32_t lTicks = t.lTicks;
    if (m_lMeasure <= 0 || m_nQuarter <= 0) {
        t.lMeasure = -1;
        t.nBeat = 0;
        t.nTick = 0;
    } else {
        // Both divisors are positive, so neither division can overflow.
        const int32_t lRest = lTicks % m_lMeasure;
        t.lMeasure = lTicks / m_lMeasure;
        t.nBeat = Low16(lRest / m_nQuarter);
        t.nTick = Low16(lRest % m_nQuarter);
    }
    t.format = TF_MEASURE;
}

void TimeConverter::Convert(_MIDI_TIME& t, TIME_FORMAT target) const {
    if (target < TF_MSEC || target > TF_HMSF) {
        t.format = TF_NONE;  // the value is left as it was
        return;
    }
    if (t.format < TF_MSEC || t.format > TF_HMSF) {
        t.format = target;  // nothing to convert from
        return;
    }
    // Each step moves one format closer to the target, so every pair takes its fixed chain:
    // clock and measure go through milliseconds and ticks respectively, milliseconds reach
    // measures through ticks, and ticks reach the clock through milliseconds.
    while (t.format != target) {
        switch (t.format) {
            case TF_HMSF:
                ClockToMsecs(t);
                break;
            case TF_MEASURE:
                MeasureToTicks(t);
                break;
            case TF_MSEC:
                if (target == TF_HMSF) {
                    MsecsToClock(t);
                } else {
                    MsecsToTicks(t);
                }
                break;
            default:  // TF_TICK
                if (target == TF_MEASURE) {
                    TicksToMeasure(t);
                } else {
                    TicksToMsecs(t);
                }
                break;
        }
    }
}

}  // namespace queries_detail

uint32_t CMidiFolio::GetAMeasureTicks() const {
    const CMidiTrack* pFirst = GetTrack(0);
    const CMidiTempo* pTempo = pFirst ? pFirst->GetTempoObject() : nullptr;
    if (!pTempo) return 0;
    const _BAR bar = pTempo->GetBar();
    return queries_detail::MeasureTicks(static_cast<int32_t>(bar.dwBaseBarNum),
                                static_cast<int32_t>(bar.dwBaseNoteNum),
                                pTempo->GetTicksPerQuarterNote());
}

uint32_t CMidiFolio::GetBaseBarNum() const {
    const CMidiTrack* pFirst = GetTrack(0);
    const CMidiTempo* pTempo = pFirst ? pFirst->GetTempoObject() : nullptr;
    return pTempo ? pTempo->GetBar().dwBaseBarNum : 0;
}

uint32_t CMidiFolio::GetBaseNoteNum() const {
    const CMidiTrack* pFirst = GetTrack(0);
    const CMidiTempo* pTempo = pFirst ? pFirst->GetTempoObject() : nullptr;
    return pTempo ? pTempo->GetBar().dwBaseNoteNum : 0;
}

void CMidiFolio::ConvertMIDITime(_MIDI_TIME* pTime, TIME_FORMAT target) {
    if (!pTime) return;
    queries_detail::TimeConverter(&m_MidiTempo, GetAMeasureTicks()).Convert(*pTime, target);
}

int CMidiFolio::ConvertTime2MS() {
    // Every track of the list, not only 0..nTracks-1: the whole song changes unit.
    const long nCount = GetTrackNum();
    for (long i = 0; i < nCount; ++i) {
        if (CMidiTrack* pTrack = GetTrack(static_cast<int>(i))) pTrack->Convert2MSecond();
    }
    return 1;
}

MIDIFOLIO_END_NAMESPACE
