// STUB: replaced by the real name tables and pitch conversions.
#include "midifolio/midi_folio.h"

namespace midifolio {
std::string CMidiFolio::GetInstName(int32_t) { return {}; }
std::string CMidiFolio::GetDrumName(int32_t) { return {}; }
_MIDI_CONTROL_MSG CMidiFolio::GetContrlMsg(uint8_t) { return {"", 0}; }
int CMidiFolio::GetPitchInfo(std::string, tagNoteMap*) { return 0; }
int CMidiFolio::GetPitchInfo(float, tagNoteMap*) { return 0; }
int CMidiFolio::GetPitchInfo(double, tagNoteMap*) { return 0; }
int CMidiFolio::GetPitchInfo(int32_t, tagNoteMap*) { return 0; }
std::string CMidiFolio::GetEasySymbol(int32_t) { return {}; }
}  // namespace midifolio
