// The compiled part of the midifolio package: the song handle, the names of the MIDI
// vocabulary and the facts of the event-kind table, and the library's own classes.
#include <pybind11/stl.h>

#include <cmath>

#include "bindings.h"

namespace {

namespace py = pybind11;
using namespace midifolio;

void BindNames(py::module_& m) {
    m.def("program_name", [](int p) { return std::string(names::ProgramName(p)); });
    m.def("drum_name", [](int n) { return std::string(names::DrumName(n)); });
    m.def("controller_name", [](int c) { return std::string(names::ControllerName(c)); });
    m.def("pitch_name", &names::PitchName, py::arg("note"), py::arg("middle_c"));
    m.def("parse_pitch", [](const std::string& text, int middleC) {
        return names::ParsePitchName(text, middleC);
    });
    m.def("note_frequency", &names::NoteFrequency);
    m.def("frequency_note", &names::FrequencyNote);
    m.def("key_name", &names::KeyName, py::arg("sharps"), py::arg("minor"));
    m.def("pitch_class_name", [](int k) { return std::string(names::PitchClassName(k)); });
    m.def("tempo_of_bpm", &smf::TempoOfBpm,
          "Microseconds per quarter note of a tempo in bpm (0: none).");
    m.def("bpm_of_tempo", &smf::BpmOfTempo, "Beats per minute of microseconds per quarter note.");
    py::dict metas;
    for (const smf::MetaInfo& meta : smf::kMetaTypes) metas[py::int_(meta.type)] = meta.key;
    m.attr("META_KEYS") = metas;
    m.attr("DEFAULT_TICKS_PER_QUARTER") = smf::kDefaultTicksPerQuarter;
}

}  // namespace

PYBIND11_MODULE(_midifolio, m) {
    m.doc() =
        "The compiled part of midifolio: the song handle behind midifolio.Song, the names of "
        "the MIDI vocabulary and, in the submodule core, the library's own classes.";
    m.attr("__version__") = std::string(midifolio::GetVersion());
    pybind11::module_ core = m.def_submodule("core", "The library's own interface.");
    mfpy::BindCore(core);
    mfpy::BindExact(m);
    BindNames(m);
    // Song.synthesize's engine is the extension _midifolio_audio, built with FluidSynth only.
#ifdef MIDIFOLIO_PY_AUDIO
    m.attr("HAVE_AUDIO") = true;
#else
    m.attr("HAVE_AUDIO") = false;
#endif
}
