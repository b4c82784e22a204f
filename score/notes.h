// The notes of a song for the Score. Private to the score.
#pragma once

#include <vector>

#include "midifolio/export.h"
#include "midifolio/score.h"
#include "score/song_events.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace score_detail {

// Every note of the song's tracks, in the Score's order, with programs and seconds.
// programs: the song's program changes in holding order (SongEvents::programs).
std::vector<score::Note> SongNotes(const CMidiFolio& song, const score::TimeMap& time,
                                   const std::vector<Placed>& programs);

}  // namespace score_detail
MIDIFOLIO_END_NAMESPACE
