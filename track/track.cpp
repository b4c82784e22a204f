// STUB: replaced by the real track object, decoder, encoder, editing and ordering.
#include "midifolio/midi_track.h"

namespace midifolio {
CMidiTrack::CMidiTrack()
    : m_nLastResult(0), m_dwRunningType(0), m_nRunningChannel(0), m_nTrackNum(-1), m_lEventCount(0),
      m_lTrkLen(0), m_pTempo(nullptr), m_pHead(nullptr), m_pLast(nullptr), m_pTail(nullptr),
      m_byPort(0), m_bValidatePercuss(0), m_bPercussValid(1), m_lReadCount(0), m_nProgram{},
      m_lBudget(0), m_pDataEnd(nullptr), m_indexValid(false) {}
CMidiTrack::CMidiTrack(const CMidiTrack& other) : CMidiTrack() { CopyFrom(other); }
CMidiTrack& CMidiTrack::operator=(const CMidiTrack& other) { CopyFrom(other); return *this; }
CMidiTrack::~CMidiTrack() = default;
uint8_t CMidiTrack::GetTrackNum() const { return static_cast<uint8_t>(m_nTrackNum); }
void CMidiTrack::SetTrackNum(int32_t n) { m_nTrackNum = n; }
int32_t CMidiTrack::GetTrkLen() const { return m_lTrkLen; }
uint16_t CMidiTrack::GetTrackEventNums() const { return static_cast<uint16_t>(m_lEventCount); }
int32_t CMidiTrack::GetCount() const { return m_lEventCount; }
void CMidiTrack::SetTempoObject(CMidiTempo* p) { m_pTempo = p; }
CMidiTempo* CMidiTrack::GetTempoObject() const { return m_pTempo; }
void CMidiTrack::SetISValidatePercuss() { m_bValidatePercuss = 1; }
int CMidiTrack::GetISValidatePercuss() const { return m_bValidatePercuss; }
int CMidiTrack::GetPercussValid() const { return m_bPercussValid; }
int CMidiTrack::GetLastResult() const { return m_nLastResult; }
int CMidiTrack::GetNoteUsage(int, int) const { return 0; }
const NoteUsageTable& CMidiTrack::GetNoteUsageTable() const { return m_NoteUsage; }
POSITION CMidiTrack::GetEventHeadPosition() const { return m_pHead; }
MIDIEvent CMidiTrack::GetNextEvent(POSITION& pos) const { MIDIEvent e = *pos; pos = pos->pNext; return e; }
MIDIEventPtr* CMidiTrack::GetNextPtr(POSITION& pos) const { MIDIEventPtr* n = pos; if (n) pos = n->pNext; return n; }
MIDIEvent CMidiTrack::GetAt(POSITION pos) const { return *pos; }
MIDIEvent& CMidiTrack::GetEventPtrAt(POSITION pos) { return *pos; }
POSITION CMidiTrack::FindIndex(int) const { return nullptr; }
POSITION CMidiTrack::GetTailPosition() const { return m_pTail; }
void CMidiTrack::RemoveAllPt() {}
int CMidiTrack::SetMidiTrackRawData(const uint8_t*, int32_t) { return 0; }
int CMidiTrack::GetMidiTrackRawData(uint8_t*&, int32_t&) { return 0; }
uint32_t CMidiTrack::GetEncodedSize() const { return 0; }
POSITION CMidiTrack::InsertEventAfter(POSITION, MIDIEvent) { return nullptr; }
POSITION CMidiTrack::InsertEventAfter(POSITION, const MIDIEvent*) { return nullptr; }
int CMidiTrack::DeleteEvent(POSITION) { return 0; }
int CMidiTrack::GetEvent(int32_t, uint16_t, MIDIEvent*) const { return 0; }
int CMidiTrack::GetEventLstByType(uint16_t, MidiEventList&) const { return 0; }
int CMidiTrack::GetEventLstByTime(int32_t, int32_t, MidiEventList&) const { return 0; }
void CMidiTrack::FreePtrList(MidiEventList& list) const { list.clear(); }
int CMidiTrack::SortTrackByLTime(int32_t*) { return 0; }
int CMidiTrack::GetNextNoteOff(POSITION, MIDIEvent&) { return 0; }
void CMidiTrack::ClearPairingMarks() {}
int CMidiTrack::Convert2MSecond() { return 1; }
uint32_t CMidiTrack::ReadVarLen(const uint8_t*&) { return 0xFFFFFFFFu; }
void CMidiTrack::WriteVarLen(uint32_t, uint8_t*&) {}
int CMidiTrack::RawData2EventList(const uint8_t*, uint32_t, MIDIEventPtr*&, uint32_t&) { return 0; }
int CMidiTrack::EventList2RawData(MIDIEventPtr*, uint32_t, uint8_t*&, uint32_t&) { return 1; }
void CMidiTrack::InitialPt() {}
int CMidiTrack::DecodeEvent(const uint8_t*&, MIDIEvent&) { return -1; }
MIDIEventPtr* CMidiTrack::NewNode(const MIDIEvent&) { return nullptr; }
void CMidiTrack::FreeNode(MIDIEventPtr*) {}
void CMidiTrack::CopyFrom(const CMidiTrack&) {}
}  // namespace midifolio
