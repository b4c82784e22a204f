// Text of the tool: numbers, sizes, clocks and escapes in its output, and the parsing of its
// arguments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "platform/size_text.h"

namespace mfcli {

// "…" in UTF-8.
extern const char* const kEllipsis;

// Columns a text takes on a terminal: its UTF-8 characters.
int Width(std::string_view text);
// The text cut to its first `columns` characters.
std::string CutToWidth(const std::string& text, int columns);
// A value given on the command line, as messages repeat it: at most 20 characters (then "…"),
// control characters escaped, so that a mistyped 300-digit number does not flood the terminal.
std::string Shown(std::string_view value);
// "1 track", "2 tracks"; `many` when the plural is not `one` + "s".
std::string Plural(long long n, const std::string& one, const std::string& many = "");

// The text fit for one line of a terminal: control characters (a NUL, an escape sequence, a
// line break) shown as \n, \t, \xNN, so that no text of a file can move the cursor, clear
// the screen or cut a message short.
std::string EscapeControls(std::string_view text);
// The text with ASCII letters in lower case.
std::string Lower(std::string s);

// Lower-case hexadecimal, bytes separated by blanks ("f0 7e 7f").
std::string Hex(const uint8_t* data, size_t length, size_t maxBytes = SIZE_MAX);
// "hh:mm:ss.mmm" for a time in milliseconds ("-" for a negative time).
std::string ClockMs(double ms);
// "hh:mm:ss.mmm" for a time in seconds, rounded to the millisecond ("-" when not a time).
std::string ClockSeconds(double seconds);
// Sizes for people: "812 B", "4.2 MiB" (in the units --max-memory takes).
using midifolio::platform_detail::SizeText;
using midifolio::platform_detail::SizeUnit;
using midifolio::platform_detail::UnitOfSize;
// Beats per minute with two decimals from microseconds per quarter note.
std::string BpmText(int32_t usPerQuarter);
// Channel as shown to people: 1..16 ("-" for events without a channel).
std::string ChannelText(int channel);
// The text without the blanks it ends in.
std::string Trim(const std::string& text);
// printf into a std::string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// A whole number of decimal digits (with an optional sign when `sign`); false when the text
// is anything else or does not fit.
bool ParseInteger(std::string_view text, long long& value, bool sign = false);
// Parses "A-B" (or "A") of positive integers; throws Failure naming the option otherwise.
std::pair<int, int> ParseRange(const std::string& text, const std::string& option);
// A size in bytes: "1000000", "512M", "2G", "1.5GiB", "64k" (K, M, G, T count 1024s, with or
// without "iB" or "B"). False for anything else.
bool ParseSize(std::string_view text, uint64_t& bytes);

}  // namespace mfcli
