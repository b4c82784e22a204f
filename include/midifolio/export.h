// Symbol visibility and the versioned namespace of the midifolio shared library.
#pragma once

#if defined(MIDIFOLIO_STATIC)
#define MIDIFOLIO_API
#else
#define MIDIFOLIO_API __attribute__((visibility("default")))
#endif

// Everything the library declares lives in midifolio::v1. The inline namespace is invisible
// in code (midifolio::CMidiFolio names it), but it is part of every mangled name: a library
// whose class layouts change moves to v2, and a host built against v1 then fails to link
// instead of running with the wrong layout. The number follows the shared library's SONAME.
#define MIDIFOLIO_ABI_VERSION 1
#define MIDIFOLIO_BEGIN_NAMESPACE \
    namespace midifolio {         \
    inline namespace v1 {
#define MIDIFOLIO_END_NAMESPACE \
    }                           \
    }
