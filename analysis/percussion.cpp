// Percussion analysis: the drums struck on channel 10 (index 9), and the percussion
// validation request and result of the loaded tracks.
#include "analysis/drum_list.h"
#include "analysis/track_walk.h"
#include "midifolio/midi_folio.h"
#include "platform/no_memory.h"
#include "queries/event_merge.h"

MIDIFOLIO_BEGIN_NAMESPACE

void CMidiFolio::GetDrums(DrumArray& array, int bClear) {
    platform_detail::OrWhenNoMemory(
        [&] {
            if (bClear != 0) array.clear();
            analysis_detail::DrumList drums(array);
            // The percussion channel's events as GetMIDIByChannel lists them.
            queries_detail::VisitInQueryOrder(
                analysis_detail::TracksToWalk(*this), [this](int i) { return TrackForQuery(i); },
                [](const MIDIEvent& ev) { return ev.byChannel == PERCUSSION_CHANNEL; },
                [&](const MIDIEvent& ev) { drums.Add(ev); });
        },
        [&] { array.clear(); });
}

uint8_t CMidiFolio::GetDrumPitch() const {
    return 127;
}

void CMidiFolio::SetIsValidatePercussion() {
    m_bValidatePercussion = 1;
}

// 1 when every track 0..nTracks-1 carries the validation request (also for no tracks).
int CMidiFolio::GetIsValidatePercussion() const {
    for (int i = 0, n = analysis_detail::TracksToWalk(*this); i < n; ++i) {
        const CMidiTrack* pTrack = TrackForQuery(i);
        if (pTrack == nullptr) break;  // the track list ran out
        if (pTrack->GetISValidatePercuss() == 0) return 0;
    }
    return 1;
}

// 1 when no track 0..nTracks-1 decoded a percussion note-on outside notes 35..81.
int CMidiFolio::GetIsPercussionInRange() const {
    for (int i = 0, n = analysis_detail::TracksToWalk(*this); i < n; ++i) {
        const CMidiTrack* pTrack = TrackForQuery(i);
        if (pTrack == nullptr) break;
        if (pTrack->GetPercussValid() == 0) return 0;
    }
    return 1;
}

MIDIFOLIO_END_NAMESPACE
