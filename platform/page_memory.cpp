#include "platform/page_memory.h"

#include <sys/mman.h>

#include <cstdint>

MIDIFOLIO_BEGIN_NAMESPACE
namespace platform_detail {

void* MapHugeBlock(size_t bytes) {
    // One huge page more than asked for, so that an aligned block lies within; the unaligned
    // ends go back at once.
    const size_t mapped = bytes + kHugePage;
    void* raw = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + kHugePage - 1) & ~(uintptr_t{kHugePage} - 1);
    if (aligned > start) ::munmap(raw, aligned - start);
    const uintptr_t tail = start + mapped - (aligned + bytes);
    if (tail > 0) ::munmap(reinterpret_cast<void*>(aligned + bytes), tail);
    void* block = reinterpret_cast<void*>(aligned);
    ::madvise(block, bytes, MADV_HUGEPAGE);
    return block;
}

void UnmapHugeBlock(void* block, size_t bytes) {
    if (block != nullptr) ::munmap(block, bytes);
}

void AdviseHugePages(const void* p, size_t bytes) {
    const uintptr_t start = reinterpret_cast<uintptr_t>(p);
    const uintptr_t first = (start + kHugePage - 1) & ~(uintptr_t{kHugePage} - 1);
    const uintptr_t last = (start + bytes) & ~(uintptr_t{kHugePage} - 1);
    if (p == nullptr || last <= first) return;
    ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

}  // namespace platform_detail
MIDIFOLIO_END_NAMESPACE
