// Private helpers of the tempo map: the 32-bit integer steps and the double-precision
// steps of the tick/millisecond arithmetic.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "midifolio/export.h"
#include "platform/numeric.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace tempo_detail {

// Two's-complement 32-bit arithmetic without undefined overflow.
inline int32_t Sub32(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
inline int32_t Mul32(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

}  // namespace tempo_detail
MIDIFOLIO_END_NAMESPACE
