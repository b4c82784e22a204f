// Points in time in one of four formats, and the song's selected-event record.
#pragma once

#include <cstdint>
#include <vector>

#include "midifolio/export.h"
#include "midifolio/midi_event.h"

MIDIFOLIO_BEGIN_NAMESPACE

enum TIME_FORMAT : int32_t {
    TF_NONE = 0,     // nothing valid (a conversion to an unknown format was asked)
    TF_MSEC = 1,     // dMsecs
    TF_TICK = 2,     // lTicks
    TF_MEASURE = 3,  // lMeasure, nBeat, nTick
    TF_HMSF = 4,     // lFrame, lSecond, lMinute, lHour
};

// A point in time tagged with its format. The union members overlap.
struct _MIDI_TIME {
    TIME_FORMAT format;
    // (__extension__: anonymous structs in a union are a GNU extension every compiler of
    // the platform takes; it keeps -Wpedantic quiet.)
    union {
        double dMsecs;   // milliseconds from the start
        int32_t lTicks;  // ticks from the start
        __extension__ struct {
            int32_t lMeasure;  // measure, from 0
            int16_t nBeat;     // quarter note within the measure, from 0
            int16_t nTick;     // tick within that quarter note
        };
        __extension__ struct {
            int32_t lFrame;   // 25 ms frames within the second (0..39)
            int32_t lSecond;  // 0..59
            int32_t lMinute;  // 0..59
            int32_t lHour;
        };
    };
};

// Convenience makers for the four formats.
inline _MIDI_TIME MakeTicks(int32_t ticks) {
    _MIDI_TIME t{};
    t.format = TF_TICK;
    t.lTicks = ticks;
    return t;
}
inline _MIDI_TIME MakeMsecs(double ms) {
    _MIDI_TIME t{};
    t.format = TF_MSEC;
    t.dMsecs = ms;
    return t;
}
inline _MIDI_TIME MakeMeasure(int32_t measure, int16_t beat, int16_t tick) {
    _MIDI_TIME t{};
    t.format = TF_MEASURE;
    t.lMeasure = measure;
    t.nBeat = beat;
    t.nTick = tick;
    return t;
}
inline _MIDI_TIME MakeHmsf(int32_t hour, int32_t minute, int32_t second, int32_t frame) {
    _MIDI_TIME t{};
    t.format = TF_HMSF;
    t.lFrame = frame;
    t.lSecond = second;
    t.lMinute = minute;
    t.lHour = hour;
    return t;
}

// One selected event of a song query.
struct MIDI_Event {
    uint16_t wTrack;  // index of the track in the song's track list
    _MIDI_TIME time;  // the event's time in the format the query asked for
    MIDIEvent event;  // copy of the track's record; pData points into the track (not owned).
                      // GetMIDIByTime: a paired note-on's dwLength is the note's length in ms.
};

// Result list of the song queries: owned by the caller, O(1) index access.
using MidiEventList = std::vector<MIDI_Event>;

MIDIFOLIO_END_NAMESPACE
