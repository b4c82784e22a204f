// Private helpers of the track: payload buffers of the buffer-owning event kinds.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>

#include "midifolio/midi_event.h"

namespace midifolio {
namespace track_detail {

// A payload buffer of n bytes holding a copy of src, or zeroed when src is null.
// Null for n == 0, and null when the memory cannot be had.
inline uint8_t* NewPayload(uint32_t n, const uint8_t* src) {
    if (n == 0) return nullptr;
    uint8_t* buf = new (std::nothrow) uint8_t[n];
    if (buf == nullptr) return nullptr;
    if (src != nullptr)
        std::memcpy(buf, src, n);
    else
        std::memset(buf, 0, n);
    return buf;
}

inline void DeletePayload(uint8_t* p) {
    delete[] p;
}

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
}  // namespace midifolio
