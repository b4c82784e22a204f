// Private helpers of the track shared with the song.
#pragma once

#include <cstddef>
#include <cstdint>

#include "midifolio/export.h"
#include "midifolio/midi_event.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace track_detail {

// Encodes count events of the list from first (as GetMidiTrackRawData does) into buffer in
// one pass, never writing past capacity. size is the exact size of the encoding: only when it
// is at most capacity does the buffer hold the encoding; otherwise it holds an unusable part
// of it. valid is false when a delta time does not fit the file format's 28 bits (the bytes
// are then no track a reader can take). For the song's store, which keeps its own scratch
// buffer.
struct EncodeResult {
    uint64_t size;
    bool valid;
};
EncodeResult EncodeInto(const MIDIEventPtr* first, uint32_t count, uint8_t* buffer,
                        size_t capacity);

}  // namespace track_detail
MIDIFOLIO_END_NAMESPACE
