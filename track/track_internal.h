// Private helpers of the track: payload buffers of the buffer-owning event kinds.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>

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

}  // namespace track_detail
}  // namespace midifolio
