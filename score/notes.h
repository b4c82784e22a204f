// The notes of a song for the Score. Private to the score.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "midifolio/export.h"
#include "midifolio/score.h"
#include "score/song_events.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace score_detail {

// A note as its track's pass finds it: what the track knows. The merge makes the Note.
struct TrackNote {
    int32_t start_tick;
    int32_t end_tick;
    uint8_t channel;
    uint8_t pitch;
    uint8_t velocity;
};

// What one walk over every node of a song gathers for the Score.
struct SongPass {
    SongEvents events;
    std::vector<std::vector<TrackNote>> notes;  // each track's, by start tick, channel, pitch
    size_t total = 0;                           // notes in all tracks
};

SongPass ReadSong(const CMidiFolio& song);

// Every note of the pass, in the Score's order, with programs and seconds.
std::vector<score::Note> SongNotes(const SongPass& pass, const score::TimeMap& time);

}  // namespace score_detail
MIDIFOLIO_END_NAMESPACE
