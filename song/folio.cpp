// The song object: construction, the track list, header information and small accessors.
#include <algorithm>
#include <new>

#include "midifolio/event_kinds.h"
#include "midifolio/midi_folio.h"

MIDIFOLIO_BEGIN_NAMESPACE

CMidiFolio::CMidiFolio()
    : m_MidiHead{0, 0, 0},
      m_nChannelUsed{},
      m_bModified(0),
      m_bValidatePercussion(0),
      m_bHasNotes(0),
      m_sink(DefaultMessageSink()),
      m_nStoreError(0) {
    m_MidiTempo.SetMessageSink(m_sink);
}

CMidiFolio::~CMidiFolio() {
    // The song-wide event list refers into the tracks: release it before them.
    m_EventList.clear();
    RemoveTrkAll();
}

CMidiTrack* CMidiFolio::CreateTrack() {
    return new (std::nothrow) CMidiTrack();
}

CMidiTrack* CMidiFolio::GetTrack(int nIndex) const {
    if (nIndex < 0 || static_cast<size_t>(nIndex) >= m_TrackList.size()) return nullptr;
    return m_TrackList[static_cast<size_t>(nIndex)].get();
}

long CMidiFolio::GetTrackNum() const {
    return static_cast<long>(m_TrackList.size());
}

// A track that is already in the list is refused like a null one: taking it over a second
// time would make the song destroy it twice.
static bool Holds(const std::vector<std::unique_ptr<CMidiTrack>>& list, const CMidiTrack* p) {
    return std::any_of(list.begin(), list.end(),
                       [p](const std::unique_ptr<CMidiTrack>& t) { return t.get() == p; });
}

int CMidiFolio::AddTrack(CMidiTrack* pTrack) {
    if (pTrack == nullptr || Holds(m_TrackList, pTrack)) return -1;
    m_TrackList.emplace_back(pTrack);
    m_bModified = 1;
    return static_cast<int>(m_TrackList.size()) - 1;
}

int CMidiFolio::InsertTrack(CMidiTrack* pTrack, int nIndex, int bBefore) {
    if (pTrack == nullptr) return -1;
    if (nIndex < 0 || static_cast<size_t>(nIndex) >= m_TrackList.size()) return -1;
    if (Holds(m_TrackList, pTrack)) return -1;
    int result = bBefore ? nIndex : nIndex + 1;
    m_TrackList.emplace(m_TrackList.begin() + result, pTrack);
    m_bModified = 1;
    return result;
}

void CMidiFolio::RemoveTrkAll() {
    m_TrackList.clear();
    m_LoaderTempos.clear();  // their tracks are gone
}

std::vector<std::unique_ptr<CMidiTrack>> CMidiFolio::TakeTracks() {
    std::vector<std::unique_ptr<CMidiTrack>> tracks;
    tracks.swap(m_TrackList);
    m_LoaderTempos.clear();
    return tracks;
}

int CMidiFolio::SetMidiHeaderinfo(const _MIDIHEAD* pHead) {
    if (pHead == nullptr) return 0;
    m_MidiHead = *pHead;
    return 1;
}

_MIDIHEAD CMidiFolio::GetMidiHeaderInfo() const {
    return m_MidiHead;
}

int CMidiFolio::IsModified() const {
    return m_bModified;
}

void CMidiFolio::SetModifiedFlag(int bModified) {
    m_bModified = bModified;
}

std::string CMidiFolio::GetMidiPath() const {
    return m_strMidiPath;
}

CMidiTempo& CMidiFolio::GetMidiTempo() {
    return m_MidiTempo;
}

void CMidiFolio::SetMidiTempo(CMidiTempo* pTempo) {
    if (pTempo == nullptr) return;
    if (pTempo == &m_MidiTempo) {
        // Merging the map into itself walks a list that grows on the way: merge a copy.
        CMidiTempo copy(*pTempo);
        m_MidiTempo = copy;
    } else {
        m_MidiTempo = *pTempo;
    }
    m_MidiHead.nDivision = m_MidiTempo.GetTicksPerQuarterNote();
}

void CMidiFolio::BpmToUsPB(int nValue, int* pResult) {
    if (nValue == 0 || pResult == nullptr) return;
    *pResult = static_cast<int>(smf::kMicrosecondsPerMinute) / nValue;
}

void CMidiFolio::UsPBToBpm(int nValue, int* pResult) {
    BpmToUsPB(nValue, pResult);
}

void CMidiFolio::SetMessageSink(MessageSink sink) {
    m_sink = std::move(sink);
    m_MidiTempo.SetMessageSink(m_sink);
}

CMidiTrack* CMidiFolio::TrackForQuery(int nIndex) const {
    if (nIndex < 0 || nIndex >= m_MidiHead.nTracks) return nullptr;
    return GetTrack(nIndex);
}

void CMidiFolio::ShowMessage(const std::string& text) const {
    if (m_sink) m_sink(text);
}

namespace {
// The loader's tempo event as a node holds it (a node deleted since is zeroed, type code 0).
bool LooksLikeLoaderTempo(const MIDIEvent& ev) {
    return ev.dwType == EVT_META && ev.dwSubType == META_TEMPO && ev.lTime == 0 &&
           ev.dwLength == 3 && ev.pData != nullptr && ev.pData[0] == 0x07 && ev.pData[1] == 0xA1 &&
           ev.pData[2] == 0x20;
}
}  // namespace

int CMidiFolio::IsLoaderTempo(const CMidiTrack* pTrack, POSITION pos) const {
    if (pTrack == nullptr || pos == nullptr) return 0;
    for (const auto& [track, node] : m_LoaderTempos)
        if (track == pTrack && node == pos) return LooksLikeLoaderTempo(*pos) ? 1 : 0;
    return 0;
}

int CMidiFolio::RemoveLoaderTempo() {
    int removed = 0;
    for (const auto& [track, node] : m_LoaderTempos) {
        // Only a track the song still holds, and only a node still in its list.
        auto held = std::find_if(m_TrackList.begin(), m_TrackList.end(),
                                 [t = track](const auto& p) { return p.get() == t; });
        if (held == m_TrackList.end()) continue;
        CMidiTrack& t = **held;
        POSITION pos = t.GetEventHeadPosition();
        while (pos != nullptr && pos != node) t.GetNextPtr(pos);
        if (pos != nullptr && LooksLikeLoaderTempo(*pos)) removed += t.DeleteEvent(pos);
    }
    m_LoaderTempos.clear();
    return removed;
}

int CMidiFolio::GetNoteUsage(int nRow, int nNote) const {
    if (nRow < 0 || nRow >= NOTE_USAGE_ROWS || nNote < 0 || nNote >= 128) return 0;
    return m_NoteUsage.test(static_cast<size_t>(nRow) * 128 + static_cast<size_t>(nNote)) ? 1 : 0;
}

MIDIFOLIO_END_NAMESPACE
