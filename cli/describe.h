// Readable and JSON forms of single events, shared by `events`, `info` and the others.
#pragma once

#include <cstdint>
#include <string>

#include "midifolio/midifolio.h"
#include "output.h"

namespace mfcli {

// The convention of pitch names: the octave number of middle C (note 60), 4 unless
// --middle-c says 3 or 5.
void SetMiddleC(int octave);
int MiddleC();
// Note name in scientific pitch notation under that convention: "C4", "F#3".
std::string NoteName(int note);

// The --type name of an event kind by its status byte ("noteon", "control", ...).
std::string TypeName(uint8_t status);
// Mask of the EVT_* codes named in a comma-separated list; "note" stands for noteon,noteoff.
// Throws Failure for an unknown name.
uint32_t ParseTypeList(const std::string& list);
// Every accepted --type name, for help texts.
std::string TypeNamesHelp();

// Name of a meta-event type ("tempo", "lyric", ...), "meta 0xNN" when it has none.
std::string MetaName(int metaType);
// True for the meta types whose payload is text.
bool IsTextMeta(int metaType);

// One event in readable words, without its time, track and channel ("C4 (60) vel 100"),
// `payload` its bytes in the song. `lengthSeconds` is the note's length for a note-on that has
// one, negative otherwise.
std::string DescribeEvent(const midifolio::score::EventRecord& ev, const uint8_t* payload,
                          double lengthSeconds);
// The same event's fields as members of the JSON object being written.
void WriteEventFields(JsonWriter& json, const midifolio::score::EventRecord& ev,
                      const uint8_t* payload, double lengthSeconds);

}  // namespace mfcli
