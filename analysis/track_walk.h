// How far the song-wide analyses walk the track list.
#pragma once

#include <algorithm>

#include "midifolio/export.h"
#include "midifolio/midi_folio.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace analysis_detail {

// Tracks 0..n-1 are analysed, n being the header's track count (not the list's length);
// positions the list does not have are skipped. Beyond the list's end every position is
// missing, so the walk stops there: a header count far above the list costs nothing.
inline int TracksToWalk(const CMidiFolio& song) {
    const long count = std::min<long>(song.GetMidiHeaderInfo().nTracks, song.GetTrackNum());
    return static_cast<int>(std::max<long>(count, 0));
}

}  // namespace analysis_detail
MIDIFOLIO_END_NAMESPACE
