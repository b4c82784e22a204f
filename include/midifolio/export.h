// Symbol visibility for the midifolio shared library.
#pragma once

#if defined(MIDIFOLIO_STATIC)
#define MIDIFOLIO_API
#elif defined(MIDIFOLIO_BUILDING)
#define MIDIFOLIO_API __attribute__((visibility("default")))
#else
#define MIDIFOLIO_API __attribute__((visibility("default")))
#endif
