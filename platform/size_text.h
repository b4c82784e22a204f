// Sizes for people, in powers of 1024 ("812 B", "4.2 MiB"), as the tool's --max-memory takes
// them. Header-only: the library's messages and the tool share it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>

#include "midifolio/export.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace platform_detail {

// The unit a size is shown in: its bytes (1, 1024, 1024², ...) and name ("B", "KiB", "MiB",
// "GiB", "TiB"): the smallest in which the size, with one decimal, stays below 1024.0.
struct SizeUnit {
    double bytes;
    const char* name;
};

inline SizeUnit UnitOfSize(uint64_t bytes) {
    static constexpr const char* kNames[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    SizeUnit unit{1, kNames[0]};
    // A size that one decimal rounds up to 1024 of a unit is shown in the next.
    for (size_t i = 1; i < std::size(kNames) && static_cast<double>(bytes) >= unit.bytes * 1023.95;
         ++i)
        unit = {unit.bytes * 1024, kNames[i]};
    return unit;
}

// "812 B", "4.2 MiB".
inline std::string SizeText(uint64_t bytes) {
    const SizeUnit unit = UnitOfSize(bytes);
    if (unit.bytes == 1) return std::to_string(bytes) + " B";
    char text[64];
    std::snprintf(text, sizeof text, "%.1f %s", static_cast<double>(bytes) / unit.bytes, unit.name);
    return text;
}

}  // namespace platform_detail
MIDIFOLIO_END_NAMESPACE
