// Running out of memory inside the library: the operations that cannot report it otherwise
// give their defined empty result instead of letting std::bad_alloc out. Private.
#pragma once

#include <new>

#include "midifolio/export.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace platform_detail {

// Runs work(); when memory runs out on the way, runs failed() (which must not allocate).
template <class Work, class Failed>
void OrWhenNoMemory(Work work, Failed failed) noexcept {
    try {
        work();
    } catch (const std::bad_alloc&) {
        failed();
    }
}

// The result of work(), or an empty one (a value-initialised R) when memory runs out.
template <class Work>
auto OrEmptyWhenNoMemory(Work work) noexcept -> decltype(work()) {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return decltype(work())();
    }
}

}  // namespace platform_detail
MIDIFOLIO_END_NAMESPACE
