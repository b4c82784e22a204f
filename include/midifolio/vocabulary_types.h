// Records of the music vocabulary: controller descriptions and pitch records.
#pragma once

#include <cstdint>

#include "midifolio/export.h"

MIDIFOLIO_BEGIN_NAMESPACE

// A controller's name (library-owned text, never freed) and its type code.
struct _MIDI_CONTROL_MSG {
    const char* lpszName;
    int32_t nType;
};

// A pitch: name, octave (middle C, note 60, is octave 5), frequency and note number.
struct tagNoteMap {
    char szName[4];     // "C", "C#", ... "B"
    int8_t byOctave;    // octave number, note / 12 (kept in 8 bits)
    double dFrequency;  // Hz: the table pitch of the note, not a frequency asked for
    uint8_t byNote;     // octave * 12 + pitch class, in 8 bits
};

MIDIFOLIO_END_NAMESPACE
