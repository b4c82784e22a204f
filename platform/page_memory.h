// Large blocks of memory straight from the system, backed by huge pages where the system
// offers them on request. Private to the library.
#pragma once

#include <cstddef>
#include <vector>

#include "midifolio/export.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace platform_detail {

constexpr size_t kHugePage = size_t{2} << 20;

// `bytes` (a whole number of huge pages) mapped anew, aligned to a huge page and asked to be
// backed by huge pages; null when the system has none left. Unlike malloc's large blocks,
// such a block goes back to the system when it is unmapped, whatever was freed before it: a
// program that loads one large song after another reuses the same pages, freshly returned,
// instead of growing malloc's heap around blocks it keeps.
void* MapHugeBlock(size_t bytes);
void UnmapHugeBlock(void* block, size_t bytes);

// Asks that the whole huge pages inside [p, p + bytes) be backed by huge pages when first
// touched: a few hundred page faults instead of tens of thousands for a large array. Harmless
// on memory malloc owns (the advice is about how pages are backed, not who owns them).
void AdviseHugePages(const void* p, size_t bytes);
template <class T>
void AdviseHugePages(const std::vector<T>& v) {
    AdviseHugePages(v.data(), v.capacity() * sizeof(T));
}

}  // namespace platform_detail
MIDIFOLIO_END_NAMESPACE
