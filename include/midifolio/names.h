// Names of the MIDI vocabulary as musicians and the General MIDI standard write them: the
// programs and drums of General MIDI Level 1 (with the drum notes 27..34 and 82..87 that later
// General MIDI levels name), controllers, pitches in scientific pitch notation (note 60, middle
// C, is C4; A4 is 440 Hz) and key signatures.
//
// These are the names the tool, the Python package and the exact view show. CMidiFolio's own
// vocabulary members (GetInstName, GetDrumName, GetContrlMsg, GetPitchInfo) keep the library's
// fixed tables and octave numbering, in which middle C is C5.
//
// Every function is pure: no state, any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "midifolio/export.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace names {

// "Acoustic Grand Piano" .. "Gunshot" for programs 0..127; "" outside.
MIDIFOLIO_API const char* ProgramName(int program);
// The drum of a note on the percussion channel ("Bass Drum 1" for 36, "Jingle Bell" for 83);
// "" for a note without one (below 27, above 87).
MIDIFOLIO_API const char* DrumName(int note);
// The controller's name ("Channel Volume" for 7, "Damper Pedal (Sustain)" for 64); "Undefined"
// for the numbers the standard leaves open; "" outside 0..127.
MIDIFOLIO_API const char* ControllerName(int controller);

// The octave number of middle C (note 60) in scientific pitch notation. Some programs and
// manufacturers number it 3 or 5; every function below takes the convention as an argument.
constexpr int kMiddleC = 4;

// The name of a pitch class 0..11 with sharps: "C", "C#", ... "B".
MIDIFOLIO_API const char* PitchClassName(int pitchClass);
// "C4" for note 60 (with middle_c = 4), "F#2", "C-1" for note 0; "" outside 0..127.
MIDIFOLIO_API std::string PitchName(int note, int middle_c = kMiddleC);
// The note a pitch name stands for: a letter A..G (either case), any number of sharps ('#')
// or flats ('b'), and a whole octave number, possibly negative ("Db4" is 61, "E#4" 65, "Cb4"
// 59, "B#3" 60 with middle_c = 4). Blanks around it are allowed. -1 for anything else and for
// a pitch outside the MIDI notes 0..127.
MIDIFOLIO_API int ParsePitchName(std::string_view text, int middle_c = kMiddleC);
// The equal-tempered frequency of a note in hertz, A4 (note 69) at 440 Hz. Any note number,
// fractional ones included.
MIDIFOLIO_API double NoteFrequency(double note);
// The note nearest a frequency in hertz, as a fractional note number (69 for 440 Hz); NaN for
// a frequency that is not positive and finite.
MIDIFOLIO_API double FrequencyNote(double hertz);

// "C major", "A minor", "Bb major", "F# minor": the key of a key signature of `sharps` (-7 for
// seven flats .. 7 for seven sharps). "" for a count outside -7..7.
MIDIFOLIO_API std::string KeyName(int sharps, bool minor);

}  // namespace names
MIDIFOLIO_END_NAMESPACE
