// Readable and JSON forms of single events and of times, shared by `events`, `info` and `roll`.
#pragma once

#include <cstdint>
#include <string>

#include "common.h"

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

// A time of a query result as text in its own format: ticks "1920", milliseconds "2500",
// measure "2:1:000" (bar and beat from 1), clock "00:00:02:20" (hours:minutes:seconds:frames
// of 25 ms). `ticksPerQuarter` pads the tick of the measure format.
std::string TimeText(const midifolio::_MIDI_TIME& t, int32_t ticksPerQuarter);
// The same time as a JSON value: a number for ticks and milliseconds, an object otherwise.
void WriteTime(JsonWriter& json, const midifolio::_MIDI_TIME& t);

// Parses a --time name: tick, ms, measure, hmsf. Throws Failure otherwise.
midifolio::TIME_FORMAT ParseTimeFormat(const std::string& name);
// Parses a point in time given on the command line:
//   960          ticks
//   1500ms 2.5s  milliseconds, seconds
//   3:2:120 3:2  bar:beat[:tick], bar and beat counted from 1
//   0:01:05:04   hours:minutes:seconds:frames (25 ms frames)
// Throws Failure naming the option for anything else.
midifolio::_MIDI_TIME ParseTimePoint(const std::string& text, const std::string& option);

}  // namespace mfcli
