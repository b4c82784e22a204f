// Percussion analysis: the drums struck on channel 10 (index 9), and the percussion
// validation request and result of the loaded tracks.
#include <string>
#include <vector>

#include "analysis/track_walk.h"
#include "midifolio/midi_folio.h"
#include "queries/event_merge.h"

MIDIFOLIO_BEGIN_NAMESPACE

void CMidiFolio::GetDrums(DrumArray& array, int bClear) {
    if (bClear != 0) array.clear();

    // (bank, note) pairs already listed, including those the array held before the call.
    std::vector<bool> listed(65536, false);
    for (const _DRUM& d : array) listed[d.byBank * 256u + d.byNote] = true;

    _DRUM work;
    uint8_t bank = 0;
    // The percussion channel's events as GetMIDIByChannel lists them.
    detail::VisitInQueryOrder(
        detail::TracksToWalk(*this), [this](int i) { return TrackForQuery(i); },
        [](const MIDIEvent& ev) { return ev.byChannel == PERCUSSION_CHANNEL; },
        [&](const MIDIEvent& ev) {
            if (ev.dwType == EVT_NOTEON || ev.dwType == EVT_NOTEOFF) {
                // Any velocity: a note-off or a silent note-on still names its drum.
                const uint8_t note = ev.byData1;
                work.byNote = note;
                work.byNoteCopy = note;
                const unsigned key = bank * 256u + note;
                if (listed[key]) return;
                listed[key] = true;
                work.strName = GetDrumName(note);
                tagNoteMap pitch{};
                GetPitchInfo(static_cast<int32_t>(note), &pitch);
                work.strPitch = std::string(pitch.szName) + std::to_string(pitch.byOctave);
                array.push_back(work);
            } else if (ev.dwType == EVT_CONTROL && ev.byData1 == CONTROL_BANK_SELECT_LSB) {
                bank = ev.byData2;  // Bank Select LSB
                work.byBank = bank;
                work.byBankCopy = bank;
            }
        });
}

uint8_t CMidiFolio::GetDrumPitch() const {
    return 127;
}

void CMidiFolio::SetIsValidatePercussion() {
    m_bValidatePercussion = 1;
}

// 1 when every track 0..nTracks-1 carries the validation request (also for no tracks).
int CMidiFolio::GetIsValidatePercussion() const {
    for (int i = 0, n = detail::TracksToWalk(*this); i < n; ++i) {
        const CMidiTrack* pTrack = TrackForQuery(i);
        if (pTrack == nullptr) break;  // the track list ran out
        if (pTrack->GetISValidatePercuss() == 0) return 0;
    }
    return 1;
}

// 1 when no track 0..nTracks-1 decoded a percussion note-on outside notes 35..81.
int CMidiFolio::GetIsPercussionInRange() const {
    for (int i = 0, n = detail::TracksToWalk(*this); i < n; ++i) {
        const CMidiTrack* pTrack = TrackForQuery(i);
        if (pTrack == nullptr) break;
        if (pTrack->GetPercussValid() == 0) return 0;
    }
    return 1;
}

MIDIFOLIO_END_NAMESPACE
