// The byte-level forms of a Standard MIDI File: variable-length quantities and big-endian
// words, beside the table of event kinds (midifolio/event_kinds.h). No event model lives
// here; the track's decoder and encoder and the song's reader and writer build on it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "midifolio/event_kinds.h"
#include "midifolio/export.h"
#include "midifolio/midi_event.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace smf {

// Returned by ReadVlq when the bytes run out.
constexpr uint32_t kVlqFailure = 0xFFFFFFFFu;
// The largest value a variable-length quantity of the format (four bytes) holds.
constexpr uint32_t kVlqMax = 0x0FFFFFFFu;

// The variable-length quantity at p, not reading at or beyond end. On success p moves past
// it; kVlqFailure when the bytes run out (p unmoved). Longer forms than four bytes are read
// too; the value keeps its low 32 bits.
inline uint32_t ReadVlq(const uint8_t*& p, const uint8_t* end) {
    const uint8_t* q = p;
    if (q >= end) return kVlqFailure;
    uint32_t byte = *q++;
    if (!(byte & 0x80)) {  // the common one-byte case
        p = q;
        return byte;
    }
    uint32_t value = byte & 0x7F;
    do {
        if (q >= end) return kVlqFailure;
        byte = *q++;
        value = (value << 7) | (byte & 0x7F);
    } while (byte & 0x80);
    p = q;
    return value;
}

// Bytes of the minimal form of a value: one to four up to kVlqMax, five beyond.
inline uint32_t VlqSize(uint32_t value) {
    uint32_t n = 1;
    while (value >>= 7) ++n;
    return n;
}

// Writes the minimal form of a value at p (VlqSize(value) bytes); returns the end.
inline uint8_t* WriteVlq(uint8_t* p, uint32_t value) {
    uint8_t tmp[5];
    int n = 0;
    tmp[n++] = value & 0x7F;
    while (value >>= 7) tmp[n++] = static_cast<uint8_t>((value & 0x7F) | 0x80);
    while (n > 0) *p++ = tmp[--n];
    return p;
}

// Big-endian words of n (1 to 4) bytes.
inline uint32_t ReadBigEndian(const uint8_t* p, int n) {
    uint32_t value = 0;
    for (int k = 0; k < n; ++k) value = (value << 8) | p[k];
    return value;
}
inline void WriteBigEndian(uint8_t* p, uint32_t value, int n) {
    for (int k = n - 1; k >= 0; --k, value >>= 8) p[k] = static_cast<uint8_t>(value);
}

// The type code of a channel status byte (0x80..0xEF): the decoder's hot path, a table look-up.
constexpr uint32_t ChannelType(uint32_t status) {
    return kKinds[(status >> 4) - 8].typeCode;
}

// The status byte (channel 0) of a channel message's type code; 0 for the other codes.
constexpr uint8_t ChannelStatus(uint32_t type) {
    return (type & (EVT_SYSEX | EVT_META | EVT_SYSCOMMON | EVT_REALTIME | EVT_SYSEXESC)) != 0
               ? 0
               : StatusOfTypeCode(type, 0);
}

// Program change and channel pressure carry one data byte; the other channel messages two.
constexpr bool OneDataByte(uint32_t type) {
    return (type & (EVT_PROGRAM | EVT_CHANPRESSURE)) != 0;
}

}  // namespace smf
MIDIFOLIO_END_NAMESPACE
