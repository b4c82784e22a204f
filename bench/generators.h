// Synthetic Standard MIDI Files for the benchmarks, built in memory at run time so that no
// large input is committed. Every generator is deterministic: the same arguments give the
// same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace benchgen {

using Bytes = std::vector<uint8_t>;

// Dense note tracks, the shape of a busy orchestral or MIDI-guitar file: each track plays
// notes on its own channel at a fixed polyphony of four (a note-on, then the note-off of
// the note started four steps earlier, as note-on velocity 0), all in running status;
// every eight steps a controller change and a pitch bend break the running status. About
// 3.2 bytes and one event per 3.2 bytes of track data.
struct DenseOptions {
    int format = 1;            // 0: one track; 1: `tracks` tracks
    int tracks = 16;           // track chunks (format 1)
    size_t bytesPerTrack = 0;  // approximate size of each track chunk's data
    int division = 480;        // ticks per quarter note
    uint32_t stepTicks = 60;   // ticks between two note steps (keep below 128: 1-byte VLQ)
    int polyphony = 4;         // notes sounding at once per track
};
Bytes DenseSong(const DenseOptions& options);

// (a): ~20 MB, format 1, 16 tracks, ~6 million events. `scale` multiplies the size (2 gives
// twice the events at the same polyphony).
Bytes FileA(double scale = 1.0);
// Format 0 of the same kind, ~`megabytes` MB (the instruction-count file).
Bytes FileFormat0(double megabytes);

// (b): a tempo track with `tempoChanges` tempo changes (alternating values, so none is
// redundant) plus one dense note track of about `noteEvents` events spread over the same
// ticks. With singleTempo the tempo track holds one tempo and tempoChanges-1 cue-point metas
// of the same size instead, so both files have the same event count and byte size.
Bytes TempoSong(int tempoChanges, size_t noteEvents, bool singleTempo);

// (c): `tracks` short tracks (name, program, `notesPerTrack` note pairs, end of track).
Bytes ManyTracks(int tracks, int notesPerTrack);

// (d): one track holding one system-exclusive message of `payloadBytes` bytes, a few notes
// before and after it.
Bytes BigSysex(size_t payloadBytes);

// Writes bytes to a file; false on failure.
bool WriteFile(const std::string& path, const Bytes& bytes);
// Reads a whole file; empty on failure.
Bytes ReadFile(const std::string& path);

// The one-pass byte walk over a file's track chunks: decodes delta times, follows running
// status and skips payloads, building nothing. It is the floor that no reader of these
// files can beat. Returns the number of events, and the sum of their delta times through
// *ticks (so that the walk cannot be optimised away). Malformed data ends the walk of that
// chunk.
size_t ByteWalk(const uint8_t* data, size_t size, uint64_t* ticks);

}  // namespace benchgen
