// What the edits share: the sequence of a song, a result written and read again, and a
// failure with its reason. Private to score/.
#pragma once

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "midifolio/event_kinds.h"
#include "midifolio/song.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace score_detail {

using Track = std::vector<score::Event>;

inline score::Song Failed(std::string* error, const std::string& why) {
    if (error != nullptr) *error = why;
    return score::Song();
}

// The sequence written and read again: the edit's result. A song of format 0 that holds
// several tracks (as read from such a file) is written as format 1, as Song::Save writes it.
inline score::Song Finish(score::Sequence& s, std::string* error) {
    if (error != nullptr) error->clear();
    if (s.format == 0 && s.tracks.size() > 1) s.format = 1;
    score::ReadReport report;
    score::Song song = score::Song::FromSequence(s, report);
    if (!report.ok()) return Failed(error, report.Text());
    return song;
}

// The song's sequence; std::bad_alloc when memory ran out making it (ToSequence then gives
// an empty one).
inline score::Sequence WholeSequence(const score::Song& song) {
    score::Sequence s = song.ToSequence();
    if (s.tracks.size() != song.tracks().size()) throw std::bad_alloc();
    return s;
}

// An edit, with running out of memory as its failure.
template <class Edit>
score::Song Guarded(std::string* error, Edit edit) noexcept {
    try {
        return edit();
    } catch (const std::bad_alloc&) {
        return Failed(error, "out of memory");
    }
}

inline bool IsEnd(const score::Event& e) {
    return e.status == 0xFF && e.data1 == META_END_OF_TRACK;
}

// The tick of the last event of any of the tracks.
inline int64_t EndTick(const std::vector<Track>& tracks) {
    int64_t end = 0;
    for (const Track& t : tracks)
        if (!t.empty()) end = std::max(end, t.back().tick);
    return end;
}

// Ends a track at a tick (or at its last event, if later), unless it ends already: so that a
// song made of parts, or a stretch of one, lasts as long as it did.
inline void EndAt(Track& track, int64_t tick) {
    if (!track.empty() && IsEnd(track.back())) return;
    track.push_back({std::max(tick, track.empty() ? 0 : track.back().tick), 0, 0, 0xFF,
                     static_cast<uint8_t>(META_END_OF_TRACK), 0, 0});
}

inline void SortByTick(Track& track) {
    std::stable_sort(track.begin(), track.end(),
                     [](const score::Event& a, const score::Event& b) { return a.tick < b.tick; });
}

}  // namespace score_detail
MIDIFOLIO_END_NAMESPACE
