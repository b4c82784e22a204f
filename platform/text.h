// Text helpers of the library: numbers and bytes in messages, and the text of meta events.
// Private to the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "midifolio/export.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace platform_detail {

// "2,147,483,647"
std::string Thousands(uint64_t n);
// Bytes as text: printable ASCII as it is, anything else as \xNN.
std::string Printable(const char* bytes, size_t n);
// Length of the UTF-8 sequence at p (within n bytes), 0 when it is not valid UTF-8.
size_t Utf8Sequence(const uint8_t* p, size_t n);
// The bytes as valid UTF-8: kept when they are UTF-8, read as Latin-1 otherwise.
std::string DecodeText(const uint8_t* data, size_t length);

}  // namespace platform_detail
MIDIFOLIO_END_NAMESPACE
