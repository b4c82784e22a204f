// Making and changing songs: every operation takes songs read by score::Song and gives a new
// one (those it was given stay as they were), written by score::Encode and so always a valid
// Standard MIDI File. An operation that cannot be done gives an empty song and says why in
// *error (in plain words, naming the note or event at fault); otherwise *error is cleared.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "midifolio/event_kinds.h"
#include "midifolio/export.h"
#include "midifolio/score.h"
#include "midifolio/song.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace score {

// Every note off the percussion channel (on it too with `drums`) moves by `semitones`. A note
// that would leave 0..127 fails the whole edit, named in *error.
MIDIFOLIO_API Song Transpose(const Song& song, int semitones, bool drums, std::string* error);

// Every tempo times `factor` (a positive number): ticks stay, seconds are divided by it. A
// song whose first tempo comes after tick 0 gets the scaled default tempo at tick 0. Fails for
// a song in SMPTE time, whose ticks are fixed in seconds, and where a tempo (or that default)
// scaled would leave the 1..16,777,215 microseconds per quarter note a file states, naming it.
// A tempo of 0, which no clock follows, stays 0.
MIDIFOLIO_API Song ScaleTempo(const Song& song, double factor, std::string* error);

// The stretch [start, end) of a song, in ticks (see CropUnit for seconds and bars): the notes
// starting in it are kept, those ending after `end` cut there; everything moves so that
// `start` becomes tick 0, where the program, controllers, pitch bend, tempo, time and key
// signature in force at `start` are stated again (those of the whole song in formats 0 and
// 1). Events at or after `end` are left out. The result lasts to `end`, or to the song's end
// where that comes first.
MIDIFOLIO_API Song Crop(const Song& song, int64_t start, int64_t end, std::string* error);
enum class CropUnit { kTicks, kSeconds, kBars };
// The same stretch given in seconds, or in bars counted from 1 with `end` the last bar kept.
MIDIFOLIO_API Song Crop(const Song& song, double start, double end, CropUnit unit,
                        std::string* error);

// What Select keeps: empty lists keep everything; drums 1 keeps the percussion channel only,
// 0 everything but it, -1 both. Tracks and channels count from 0.
struct Selection {
    std::vector<int> tracks;
    std::vector<int> channels;
    std::vector<int> programs;  // of the notes (the program in force at each start)
    int drums = -1;
};
// The notes and channel events that match (a note's end goes with its start); meta and
// system events stay, every track stays.
MIDIFOLIO_API Song Select(const Song& song, const Selection& selection, std::string* error);

// Starts (and with `ends` the ends) move to the nearest multiple of `grid` ticks, a half grid
// going up; a note that would become empty keeps one grid step.
MIDIFOLIO_API Song Quantize(const Song& song, int64_t grid, bool ends, std::string* error);
// The grid of a note value ("1/16", "1/8.", "1/12" for triplet eighths, "1/4"): ticks of
// that note at ticks_per_quarter; 0 for a text that is no note value.
MIDIFOLIO_API int64_t GridTicks(const std::string& value, int32_t ticks_per_quarter);

// The same music at another resolution: every tick scaled and rounded, seconds kept within one
// new tick. Fails for a song in SMPTE time.
MIDIFOLIO_API Song Resample(const Song& song, int32_t ticks_per_quarter, std::string* error);

// Format 0 (all tracks in one, in time order) or 1 (format 0: the events without a channel in
// track 1, each channel's in a track of its own). Formats 1 and 2 pass to 0 likewise.
MIDIFOLIO_API Song SetFormat(const Song& song, int format, std::string* error);

// One song holding every track of each, in order, resampled to the first one's resolution,
// with the first one's tempo map (the tempo events of the others are left out).
MIDIFOLIO_API Song Merge(const std::vector<Song>& songs, std::string* error);

// One song per track with channel events (by track) or per channel in use (by channel), each
// of format 1 with the tempo, time- and key-signature events of the whole song in its first
// track. `labels` get "track 3" or "channel 10" for each (counted from 1).
enum class SplitBy { kTrack, kChannel };
MIDIFOLIO_API std::vector<Song> Split(const Song& song, SplitBy by,
                                      std::vector<std::string>* labels, std::string* error);

// A song made from notes.
struct NoteInput {
    int64_t start_tick;
    int64_t end_tick;
    uint16_t track;
    uint8_t channel;
    uint8_t program;
    uint8_t pitch;
    uint8_t velocity;
};
struct SongPlan {
    int32_t ticks_per_quarter = smf::kDefaultTicksPerQuarter;
    std::vector<std::pair<int64_t, uint32_t>> tempos;  // tick, microseconds per quarter note
    std::vector<TimeSignature> time_signatures;        // tick, numerator, denominator_power
    std::vector<KeySignature> key_signatures;          // tick, sharps, minor
    std::vector<std::string> track_names;              // of tracks 0, 1, ...
};
// Tracks 0..the highest track of a note (format 0 for one track, else 1); the maps and names in
// track 0. A program change is written wherever a channel's program changes (from 0), at the
// note that starts it; at one tick the ends of notes go before the starts. Fails for a note
// whose channel, pitch or velocity is out of range (velocity 0 too) or that ends before it
// starts.
MIDIFOLIO_API Song FromNotes(const std::vector<NoteInput>& notes, const SongPlan& plan,
                             std::string* error);
// The same of `count` notes as a Score gives them (their seconds are not read): a Score's
// notes make a song of the same notes.
MIDIFOLIO_API Song FromNotes(const Note* notes, size_t count, const SongPlan& plan,
                             std::string* error);

}  // namespace score
MIDIFOLIO_END_NAMESPACE
