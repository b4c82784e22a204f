// Doubles truncated toward zero into signed 32-bit integers, under the two policies the
// library uses for values that do not fit. Private to the library.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "midifolio/export.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace platform_detail {

// Values beyond the range saturate to INT32_MIN / INT32_MAX; NaN gives -1. For positions
// computed from the tempo map, which must stay ordered.
inline int32_t TruncSaturating(double v) {
    if (std::isnan(v)) return -1;
    if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

// NaN and values whose truncation does not fit give -1, the library's "cannot convert".
inline int32_t TruncOrMinusOne(double v) {
    if (!(v > -2147483649.0 && v < 2147483648.0)) return -1;  // NaN fails too
    return static_cast<int32_t>(v);
}

}  // namespace platform_detail
MIDIFOLIO_END_NAMESPACE
