// STUB: replaced by the real song object, loader and writer.
#include "midifolio/midi_folio.h"

namespace midifolio {
CMidiFolio::CMidiFolio()
    : m_MidiHead{0, 0, 0}, m_nChannelUsed{}, m_bModified(0), m_bValidatePercussion(0), m_bHasNotes(0),
      m_sink(DefaultMessageSink()) {}
CMidiFolio::~CMidiFolio() = default;
CMidiTrack* CMidiFolio::CreateTrack() { return new CMidiTrack(); }
CMidiTrack* CMidiFolio::GetTrack(int i) const {
    return i >= 0 && i < static_cast<int>(m_TrackList.size()) ? m_TrackList[i].get() : nullptr;
}
long CMidiFolio::GetTrackNum() const { return static_cast<long>(m_TrackList.size()); }
int CMidiFolio::AddTrack(CMidiTrack*) { return -1; }
int CMidiFolio::InsertTrack(CMidiTrack*, int, int) { return -1; }
void CMidiFolio::RemoveTrkAll() { m_TrackList.clear(); }
int CMidiFolio::SetMidiHeaderinfo(const _MIDIHEAD* p) { if (!p) return 0; m_MidiHead = *p; return 1; }
_MIDIHEAD CMidiFolio::GetMidiHeaderInfo() const { return m_MidiHead; }
int CMidiFolio::IsModified() const { return m_bModified; }
void CMidiFolio::SetModifiedFlag(int b) { m_bModified = b; }
std::string CMidiFolio::GetMidiPath() const { return m_strMidiPath; }
CMidiTempo& CMidiFolio::GetMidiTempo() { return m_MidiTempo; }
void CMidiFolio::SetMidiTempo(CMidiTempo*) {}
void CMidiFolio::BpmToUsPB(int, int*) {}
void CMidiFolio::UsPBToBpm(int, int*) {}
void CMidiFolio::SetMessageSink(MessageSink sink) { m_sink = std::move(sink); }
int CMidiFolio::LoadMidiFile(std::string, ProgressObserver*) { return 0; }
int CMidiFolio::StoreMidiFile(std::string, ProgressObserver*) { return 0; }
int CMidiFolio::DecodeHead(detail::FileReader&) { return -1; }
int CMidiFolio::DecodeTracks(detail::FileReader&, ProgressObserver*) { return -2; }
void CMidiFolio::StoreHead(detail::FileWriter&) {}
int CMidiFolio::StoreTracks(detail::FileWriter&, ProgressObserver*) { return 0; }
void CMidiFolio::ReverseMultiBytes(uint8_t*, int) {}
CMidiTrack* CMidiFolio::TrackForQuery(int nIndex) const {
    if (nIndex < 0 || nIndex >= m_MidiHead.nTracks) return nullptr;
    return GetTrack(nIndex);
}
void CMidiFolio::ShowMessage(const std::string& text) const { if (m_sink) m_sink(text); }
int CMidiFolio::GetNoteUsage(int, int) const { return 0; }
}  // namespace midifolio
