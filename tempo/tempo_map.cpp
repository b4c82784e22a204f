// STUB: replaced by the real tempo map.
#include "midifolio/midi_tempo.h"

namespace midifolio {
CMidiTempo::CMidiTempo()
    : m_nTicksPerQuarterNote(-1), m_bar{2, 4}, m_key{0, 0}, m_nTickPosCount(0), m_nMsecPosCount(0),
      m_sink(DefaultMessageSink()) {}
CMidiTempo::CMidiTempo(const CMidiTempo& other) : CMidiTempo() { *this = other; }
CMidiTempo::~CMidiTempo() = default;
CMidiTempo& CMidiTempo::operator=(const CMidiTempo&) { return *this; }
void CMidiTempo::SetTicksPerQuarterNote(uint32_t n) { m_nTicksPerQuarterNote = static_cast<int32_t>(n); }
int32_t CMidiTempo::GetTicksPerQuarterNote() const { return m_nTicksPerQuarterNote; }
void CMidiTempo::SetBar(const _BAR& bar) { m_bar = bar; }
_BAR CMidiTempo::GetBar() const { return m_bar; }
void CMidiTempo::SetKeySignature(const _KEY& key) { m_key = key; }
_KEY CMidiTempo::GetKeySignature() const { return m_key; }
void CMidiTempo::SetTempo(_TEMPO&) {}
void CMidiTempo::ReCalculateTempolst() {}
TempoList& CMidiTempo::GetTempos() { return m_tempoList; }
const TempoList& CMidiTempo::GetTempos() const { return m_tempoList; }
int32_t CMidiTempo::GetTempoIdxByTicks(int32_t) const { return -1; }
int32_t CMidiTempo::GetTempoIdxByMs(int32_t) const { return -1; }
int32_t CMidiTempo::TicksToMsecs(int32_t) const { return -1; }
int32_t CMidiTempo::MsecsToTicks(int32_t) const { return -1; }
void CMidiTempo::SetMessageSink(MessageSink sink) { m_sink = std::move(sink); }
}  // namespace midifolio
