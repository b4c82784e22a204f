// STUB: replaced by the real channel, instrument, percussion and voice analyses.
#include "midifolio/midi_folio.h"

namespace midifolio {
int CMidiFolio::GetTotalChannels() { return 0; }
void CMidiFolio::GetChannels(uint8_t*) {}
void CMidiFolio::GetChAndInstrument(_CH_INSTR*) {}
void CMidiFolio::GetInstIndexArrayByChannel(int, WordArray&) {}
_INSTRUMENT CMidiFolio::GetInstrumentByTrack(int, InstrumentArray& a, int) { a.clear(); return {}; }
void CMidiFolio::GetInstruments(InstrumentArray&, int) {}
void CMidiFolio::GetInstrumentByChannel(int, InstrumentArray& a) { a.clear(); }
void CMidiFolio::GetInstrument(InstrumentArray&) {}
void CMidiFolio::GetDrums(DrumArray&, int) {}
uint8_t CMidiFolio::GetDrumPitch() const { return 127; }
void CMidiFolio::SetIsValidatePercussion() { m_bValidatePercussion = 1; }
int CMidiFolio::GetIsValidatePercussion() const { return 1; }
int CMidiFolio::GetIsPercussionInRange() const { return 1; }
void CMidiFolio::CheckMidiByVoice(int, ConflictVoiceArray*) {}
}  // namespace midifolio
