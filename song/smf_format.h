// Byte layout of a Standard MIDI File as the song's reader and writer share it. Private.
#pragma once

#include <cstdint>

#include "midifolio/event_kinds.h"
#include "midifolio/export.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace song_detail {

// Put in front of the first track chunk's data by the loader: delta 0, Set Tempo of
// 500000 microseconds per quarter note (120 beats per minute).
constexpr uint8_t kTempoPrefix[7] = {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20};

// A load reports progress in bytes at least this often.
constexpr uint64_t kProgressStep = uint64_t{1} << 20;

// Result codes of the header and track reading steps.
constexpr int kReadOk = 1;
constexpr int kNotMidi = -1;
constexpr int kReadError = -2;
constexpr int kTimeUnsupported = -3;
constexpr int kFormatUnsupported = -4;
constexpr int kTrackError = -5;

// The message shown for a failed reading step.
inline const char* LoadMessage(int code) {
    switch (code) {
        case kNotMidi:
            return "Not Midi file!!";
        case kTimeUnsupported:
            return "Error time unsupport!!";
        case kFormatUnsupported:
            return "Error format unsupport!!";
        case kTrackError:
            return "Error Track!!";
        default:
            return "Error read data!!";
    }
}

}  // namespace song_detail
MIDIFOLIO_END_NAMESPACE
