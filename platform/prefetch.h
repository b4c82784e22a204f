// Asking the processor for memory that a walk will read soon. Private to the library.
#pragma once

#include <cstddef>
#include <cstdint>

#include "midifolio/export.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace platform_detail {

// A hint for the cache line `bytes` after p. It reads nothing, so an address past the end of
// an array or block is harmless; when the walk goes elsewhere the hint is merely wasted.
inline void PrefetchAhead(const void* p, size_t bytes) {
    __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(p) + bytes));
}

}  // namespace platform_detail
MIDIFOLIO_END_NAMESPACE
