// Playback lookups on the song event list (built by MakeEventList): from the record at an
// index, scan forward for the record that ends a note, the next change of a controller, the
// next pitch bend, the next sustain-pedal event or the end of the track. The start is reached
// by index in O(1); the scan is linear. Only the channel links records: tracks are not
// compared.
#include <cstdint>

#include "midifolio/midi_folio.h"
#include "queries/time_convert.h"
#include "track/note_pairing.h"

MIDIFOLIO_BEGIN_NAMESPACE

namespace {

// The start record at nIndex, or null when the index names no record.
MIDI_Event* StartRecord(MidiEventList& list, int nIndex) {
    if (nIndex < 0 || static_cast<size_t>(nIndex) >= list.size()) return nullptr;
    return &list[static_cast<size_t>(nIndex)];
}

// The first record after the start that satisfies match, or null.
template <typename Match>
MIDI_Event* ScanAfter(MidiEventList& list, int nIndex, Match match) {
    for (size_t k = static_cast<size_t>(nIndex) + 1; k < list.size(); ++k) {
        if (match(list[k])) return &list[k];
    }
    return nullptr;
}

// A sustain-pedal value that presses the pedal (64..127; 0..63 release it).
bool IsPressed(uint8_t byValue) {
    return byValue >= CONTROL_SUSTAIN_PEDAL && byValue <= 127;
}

bool IsPedal(const MIDIEvent& ev, uint8_t byChannel) {
    return ev.byChannel == byChannel && ev.dwType == EVT_CONTROL &&
           ev.byData1 == CONTROL_SUSTAIN_PEDAL;
}

}  // namespace

MIDI_Event* CMidiFolio::FindPlayNoteOff(int nEventIndex, int& bSustain) {
    bSustain = 0;
    const MIDI_Event* pStart = StartRecord(m_EventList, nEventIndex);
    // Any note-on starts a search, one with velocity 0 included.
    if (!pStart || pStart->event.dwType != EVT_NOTEON) return nullptr;
    const MIDIEvent start = pStart->event;
    const double dStartMsecs = pStart->time.dMsecs;
    // Pairing marks are not consulted: the first matching note end wins.
    MIDI_Event* pEnd = ScanAfter(m_EventList, nEventIndex, [&](const MIDI_Event& r) {
        const MIDIEvent& ev = r.event;
        if (track_detail::EndsNote(ev, start)) return true;
        if (IsPedal(ev, start.byChannel) && IsPressed(ev.byData2)) bSustain = 1;
        return false;
    });
    if (pEnd) {
        // The note's length in milliseconds, negated (start minus end), truncated toward
        // zero; a difference that does not fit 32 bits is stored as -1.
        const int32_t lLength = platform_detail::TruncOrMinusOne(dStartMsecs - pEnd->time.dMsecs);
        pEnd->event.dwLength = static_cast<uint32_t>(lLength);
    }
    return pEnd;
}

MIDI_Event* CMidiFolio::FindNextControl(int nEventIndex, uint8_t byControl, int32_t lValue) {
    const MIDI_Event* pStart = StartRecord(m_EventList, nEventIndex);
    if (!pStart || lValue < 0) return nullptr;  // a negative value matches no record
    const uint8_t byChannel = pStart->event.byChannel;
    const uint8_t byValue = static_cast<uint8_t>(static_cast<uint32_t>(lValue) & 0xFFu);
    return ScanAfter(m_EventList, nEventIndex, [&](const MIDI_Event& r) {
        return r.event.byChannel == byChannel && r.event.dwType == EVT_CONTROL &&
               r.event.byData1 == byControl && r.event.byData2 == byValue;
    });
}

MIDI_Event* CMidiFolio::FindNextPitchBend(int nEventIndex, const MIDI_Event* pStop) {
    const MIDI_Event* pStart = StartRecord(m_EventList, nEventIndex);
    if (!pStart || pStart->event.byChannel == PERCUSSION_CHANNEL)
        return nullptr;  // percussion: none
    const uint8_t byChannel = pStart->event.byChannel;
    bool bStopped = false;
    MIDI_Event* pBend = ScanAfter(m_EventList, nEventIndex, [&](const MIDI_Event& r) {
        if (&r == pStop) return bStopped = true;
        return r.event.byChannel == byChannel && r.event.dwType == EVT_PITCHBEND;
    });
    return bStopped ? nullptr : pBend;
}

MIDI_Event* CMidiFolio::FindNextPadel(int nEventIndex, int bDown) {
    const MIDI_Event* pStart = StartRecord(m_EventList, nEventIndex);
    if (!pStart) return nullptr;
    const uint8_t byChannel = pStart->event.byChannel;
    return ScanAfter(m_EventList, nEventIndex, [&](const MIDI_Event& r) {
        if (!IsPedal(r.event, byChannel)) return false;
        const uint8_t byValue = r.event.byData2;
        return bDown ? IsPressed(byValue) : byValue < CONTROL_SUSTAIN_PEDAL;
    });
}

MIDI_Event* CMidiFolio::FindEndOfTrack(int nEventIndex) {
    const MIDI_Event* pStart = StartRecord(m_EventList, nEventIndex);
    if (!pStart) return nullptr;
    const uint8_t byChannel = pStart->event.byChannel;
    MIDI_Event* pLast = nullptr;
    MIDI_Event* pEnd = ScanAfter(m_EventList, nEventIndex, [&](MIDI_Event& r) {
        if (r.event.byChannel != byChannel) return false;
        pLast = &r;
        return r.event.dwType == EVT_META && r.event.dwSubType == META_END_OF_TRACK;
    });
    // No end-of-track record: the last later record of the start's channel (or null).
    return pEnd ? pEnd : pLast;
}

MIDIFOLIO_END_NAMESPACE
