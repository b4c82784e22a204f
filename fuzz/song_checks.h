// Checks shared by the fuzz targets of the exact layer (score::Song, score::Score, the writer
// and the edits): what a reading must give back, every view of a song kept in bounds and
// consistent with the song's own events, a note pairing of our own to hold the notes against,
// and a model of what the writer makes of a song. Every check aborts (FUZZ_CHECK) when it
// fails, so that libFuzzer reports it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "midifolio/edit.h"
#include "midifolio/score.h"
#include "midifolio/song.h"

namespace fuzzsupport {

namespace sc = midifolio::score;

// A reading with nothing to tell: read, no warning, nothing left out.
bool Quiet(const sc::ReadReport& report);

// A meta event of the type.
inline bool IsMeta(const sc::EventRecord& r, int type) {
    return r.status == 0xFF && r.meta == type;
}

// What a reading returned must agree with its report: a song exactly when the status is kOk
// (holding the very bytes given), an empty one otherwise; the report's fields in bounds.
void CheckRead(const std::vector<uint8_t>& input, const sc::ReadOptions& options,
               const sc::Song& song, const sc::ReadReport& report);

// Every view of a song: the track table, the event table, the editable sequence, the Score's
// maps, notes, sustained notes, map lists, beats, summary, instruments, track summaries,
// piano roll, event streams and the texts of meta events. `choice` picks the stretch one
// partial event stream covers.
void CheckViews(const sc::Song& song, uint32_t choice = 0);

// A note as our own pairing finds it, from the event table: within a track, a note end ends
// the oldest sounding note-on of its channel and pitch; a note no end ends lasts to the last
// event of its track.
struct PairedNote {
    uint16_t track;
    uint8_t channel;
    uint8_t pitch;
    uint8_t velocity;
    int64_t start;
    int64_t end;
    bool ended;      // a note end ended it
    size_t onIndex;  // index of its note-on in the event table
};
// In the notes' documented order: start tick, track, channel, pitch, then file order.
std::vector<PairedNote> PairNotes(const std::vector<sc::EventRecord>& events,
                                  const std::vector<sc::TrackInfo>& tracks);

// One event as the writer is expected to write it (its payload copied out).
struct ModelEvent {
    int64_t tick;
    uint8_t status;
    uint8_t data1;  // the meta type for a meta event
    uint8_t data2;
    std::vector<uint8_t> payload;
};
struct WriterModel {
    bool refused = false;  // a delta time beyond 28 bits would have to be written
    int32_t format = 1;
    // Each track's events without its end of track, and the tick of the end of track.
    std::vector<std::vector<ModelEvent>> tracks;
    std::vector<int64_t> ends;
};
// What Song::Save writes for a song, event by event (see score::Encode).
WriterModel ModelSave(const sc::Song& song);
// The events of a song in the same form (each track without its end of track).
std::vector<std::vector<ModelEvent>> EventsOf(const sc::Song& song);
bool SameModelEvents(const std::vector<ModelEvent>& a, const std::vector<ModelEvent>& b,
                     size_t* where);

// Two event records alike in every field (seconds too when `seconds`).
bool SameRecord(const sc::EventRecord& a, const sc::EventRecord& b, bool seconds);

// True when `text` is valid UTF-8.
bool ValidUtf8(const std::string& text);

// Reads bytes with the given options, checking the reading (CheckRead).
sc::Song ReadChecked(const std::vector<uint8_t>& bytes, const sc::ReadOptions& options,
                     sc::ReadReport& report);

}  // namespace fuzzsupport
