// Times as the tool prints them and takes them back: the time columns of `events` and the
// --from/--to arguments of every subcommand that takes a stretch of a song.
#pragma once

#include <cstdint>
#include <string>

#include "midifolio/midifolio.h"
#include "output.h"

namespace mfcli {

class InputSong;

// The time columns (--time). Ticks, seconds and bars are the exact view's: seconds through
// every tempo change, bars as the time signatures lay them out. Milliseconds and hmsf are the
// library's own answers (ConvertMIDITime): whole milliseconds in each tempo segment, frames of
// 25 ms.
enum class TimeColumn { kTick, kMs, kSeconds, kMeasure, kHmsf };

// Parses a --time name: tick, ms, s, measure, hmsf. Throws Failure otherwise.
TimeColumn ParseTimeColumn(const std::string& name);
const char* TimeColumnName(TimeColumn column);

// The time of a tick of a track in a column, as --from and --to take it back: "1920",
// "2500ms", "2.500000s", "2:1:000" (bar:beat:tick from 1, the tick padded to the digits of a
// quarter note), "00:00:02:20".
std::string TimeText(TimeColumn column, int64_t tick, size_t track, InputSong& song);
// The same time as a JSON value: a number for ticks, milliseconds and seconds, an object
// otherwise.
void WriteTime(JsonWriter& json, TimeColumn column, int64_t tick, size_t track, InputSong& song);
// Bar, beat and tick as text ("3:2:120"); a tick between two ticks keeps three decimals.
std::string BarText(const midifolio::score::BarBeat& at, int32_t ticksPerQuarter);
// Seconds with `decimals` decimals ("12.345678"); "-" when not a number.
std::string SecondsText(double seconds, int decimals = 6);

// A point in time given on the command line (--from, --to), in any form a time column prints:
//   960          ticks
//   1500ms       the library's milliseconds
//   2.5s         exact seconds
//   3:2:120 3:2  bar:beat[:tick], counted from 1, under the song's time signatures
//   0:01:05:04   hours:minutes:seconds:frames (frames of 25 ms), the library's
struct TimePoint {
    TimeColumn form = TimeColumn::kTick;
    double value = 0;  // ticks, milliseconds or seconds
    int32_t bar = 1, beat = 1;
    double tick = 0;  // into the beat
    midifolio::_MIDI_TIME hmsf{};
    std::string text;    // as given, for messages
    std::string option;  // "--from"
};
// Throws Failure naming the option for anything else.
TimePoint ParseTimePoint(const std::string& text, const std::string& option);
// The first tick at or after the point (`last` false) or the last tick at or before it
// (`last` true), by the maps of track 0 (of every track but in format 2). Throws Failure for a
// beat the bar does not have.
int64_t ResolveTime(const TimePoint& point, bool last, InputSong& song);

// A stretch of a song in ticks, [from, to] (to -1: to the end), from --from/--to or
// --measures A-B (whole bars); `none` when it selects nothing. `end` is the same stretch
// half-open, [from, end), as a crop takes it: the first tick at or after --to, or the first
// tick of bar B + 1 (-1: to the end).
struct TickRange {
    int64_t from = 0;
    int64_t to = -1;
    int64_t end = -1;
    bool none = false;
};
TickRange ResolveRange(const std::string& from, const std::string& to, const std::string& measures,
                       InputSong& song);

}  // namespace mfcli
