// Readable and JSON forms of single events and of times, shared by `events`, `info` and `roll`.
#pragma once

#include <cstdint>
#include <string>

#include "common.h"
#include "midifolio/score.h"

namespace mfcli {

// The --type names of the event kinds ("noteon", "control", ...), "data" for type 0.
std::string TypeName(uint32_t dwType);
// Mask of the EVT_* codes named in a comma-separated list; "note" stands for noteon,noteoff.
// Throws Failure for an unknown name.
uint32_t ParseTypeList(const std::string& list);
// Every accepted --type name, for help texts.
std::string TypeNamesHelp();

// Name of a meta-event type ("tempo", "lyric", ...), "meta 0xNN" when it has none.
std::string MetaName(uint32_t metaType);
// A controller's General MIDI name without the blanks some names end in.
std::string ControllerName(int controller);
// True for the meta types whose payload is text (0x01..0x09).
bool IsTextMeta(uint32_t metaType);

// One event in readable words, without its time, track and channel ("C5 (60) vel 100").
// `lengthMs` is the note's length for a note-on that has one, negative otherwise.
std::string DescribeEvent(const midifolio::MIDIEvent& ev, int64_t lengthMs);
// The same event's fields as members of the JSON object being written (type, channel and the
// kind's own fields).
void WriteEventFields(JsonWriter& json, const midifolio::MIDIEvent& ev, int64_t lengthMs);

// ------------------------------------------------------------------ times
// The time columns of `events` (--time). Ticks, seconds and bars are the exact view's
// (midifolio::score): seconds to the microsecond through every tempo change, bars as the
// time signatures lay them out. Milliseconds and hmsf are the library's own answers
// (ConvertMIDITime): whole milliseconds in each tempo segment, frames of 25 ms.
enum class TimeColumn { kTick, kMs, kSeconds, kMeasure, kHmsf };

// Parses a --time name: tick, ms, s, measure, hmsf. Throws Failure otherwise.
TimeColumn ParseTimeColumn(const std::string& name);
const char* TimeColumnName(TimeColumn column);

// Where times come from: the song (the library's answers) and its exact maps.
struct SongClock {
    midifolio::CMidiFolio& song;
    const midifolio::score::TimeMap& time;
    const midifolio::score::MeterMap& meter;
    int32_t ticksPerQuarter;
};

// The time of a tick in a column as --from and --to take it back: "1920", "2500ms",
// "2.500000s", "2:1:000" (bar:beat:tick from 1, the tick padded to the digits of a quarter
// note), "00:00:02:20" (hours:minutes:seconds:frames of 25 ms).
std::string TimeText(TimeColumn column, int32_t tick, const SongClock& clock);
// The same time as a JSON value: a number for ticks, milliseconds and seconds, an object
// otherwise.
void WriteTime(JsonWriter& json, TimeColumn column, int32_t tick, const SongClock& clock);
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
// (`last` true). A time printed in a column is the time of its tick: the decimals printed
// are enough to get the tick back. Throws Failure for a beat the bar does not have.
int64_t ResolveTime(const TimePoint& point, bool last, const SongClock& clock);

// ------------------------------------------------------------------ the song as the file holds it
// The events of a track, the tempo event the loader put in front of the first track not
// counted.
long FileEventCount(const midifolio::CMidiFolio& song, int track);

}  // namespace mfcli
