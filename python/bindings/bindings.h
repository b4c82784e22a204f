// The Python extension _midifolio: the library's own classes (submodule core) and the
// song handle behind midifolio.Song (the exact view, numpy arrays, the GIL released around
// the library's work).
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <vector>

#include "midifolio/midifolio.h"

namespace mfpy {

namespace py = pybind11;

// A MIDIEvent as Python holds it: a copy of the record whose payload (meta, sysex) is kept
// in a buffer of its own, so that it never points into a track.
struct PyEvent {
    midifolio::MIDIEvent ev{};  // ev.pData is always null here
    std::vector<uint8_t> payload;

    static PyEvent From(const midifolio::MIDIEvent& e);
    // The record to hand to the library: pData points into payload (valid while this object
    // lives and payload is unchanged); for a payload kind, dwLength is the payload's size.
    midifolio::MIDIEvent Raw();
};

// The record of a song query, with the event copied as above.
struct PyQueryEvent {
    uint16_t wTrack = 0;
    midifolio::_MIDI_TIME time{};
    PyEvent event;
};

void BindCore(py::module_& core);
void BindExact(py::module_& m);

}  // namespace mfpy
