// STUB: replaced by the real time formats, selection queries and playback lookups.
#include "midifolio/midi_folio.h"

namespace midifolio {
void CMidiFolio::ConvertMIDITime(_MIDI_TIME*, TIME_FORMAT) {}
uint32_t CMidiFolio::GetBaseBarNum() const { return 0; }
uint32_t CMidiFolio::GetBaseNoteNum() const { return 0; }
int CMidiFolio::ConvertTime2MS() { return 1; }
uint32_t CMidiFolio::GetAMeasureTicks() const { return 0; }
void CMidiFolio::GetMIDIByTime(TIME_FORMAT, _MIDI_TIME, _MIDI_TIME, MidiEventList& l) { l.clear(); }
void CMidiFolio::GetMIDIByMeasure(int, int, MidiEventList& l) { l.clear(); }
void CMidiFolio::GetMIDIByTrack(int, int, MidiEventList& l) { l.clear(); }
void CMidiFolio::GetMIDIByChannel(int, MidiEventList& l) { l.clear(); }
void CMidiFolio::GetMIDIByType(uint32_t, TIME_FORMAT, MidiEventList&) {}
void CMidiFolio::SortEventList(MidiEventList&) {}
void CMidiFolio::FreePtrList(MidiEventList& l) { l.clear(); }
MidiEventList& CMidiFolio::MakeEventList() { return m_EventList; }
void CMidiFolio::FreeEventList() { m_EventList.clear(); }
void CMidiFolio::GetTotalEventList(MidiEventList** pp) { if (pp) *pp = &m_EventList; }
int CMidiFolio::FindMidiEventByTime(_MIDI_TIME, MIDI_Event*& p) { p = nullptr; return -1; }
MIDI_Event* CMidiFolio::FindPlayNoteOff(int, int& s) { s = 0; return nullptr; }
MIDI_Event* CMidiFolio::FindNextControl(int, uint8_t, int32_t) { return nullptr; }
MIDI_Event* CMidiFolio::FindNextPitchBend(int, const MIDI_Event*) { return nullptr; }
MIDI_Event* CMidiFolio::FindNextPadel(int, int) { return nullptr; }
MIDI_Event* CMidiFolio::FindEndOfTrack(int) { return nullptr; }
}  // namespace midifolio
