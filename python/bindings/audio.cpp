// Audio for Python: the engine of render/ behind midifolio._audio.synthesize, which hands it a
// song's MIDI messages as plain arrays. The render runs without the GIL. A build without the
// engine keeps the same names, which then say so.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "bindings.h"

#ifdef MIDIFOLIO_HAVE_AUDIO
#include "synth.h"
#endif

namespace mfpy {

namespace {

#ifdef MIDIFOLIO_HAVE_AUDIO

// The messages: message k is data[offsets[k]:offsets[k + 1]], at seconds[k].
mfrender::MessageList Messages(const py::array_t<double, py::array::c_style>& seconds,
                               const py::bytes& data,
                               const py::array_t<int64_t, py::array::c_style>& offsets,
                               double end) {
    if (seconds.ndim() != 1 || offsets.ndim() != 1)
        throw py::value_error("seconds and offsets must be one-dimensional");
    const auto n = static_cast<size_t>(seconds.shape(0));
    if (static_cast<size_t>(offsets.shape(0)) != n + 1)
        throw py::value_error("offsets must hold one more entry than seconds");
    char* bytes = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(data.ptr(), &bytes, &size) != 0) throw py::error_already_set();
    mfrender::MessageList list;
    list.end = end;
    list.bytes.assign(bytes, bytes + size);
    list.messages.reserve(n);
    const double* t = seconds.data();
    const int64_t* o = offsets.data();
    for (size_t k = 0; k < n; ++k) {
        if (o[k] < 0 || o[k + 1] <= o[k] || o[k + 1] > size || o[k + 1] - o[k] > UINT32_MAX)
            throw py::value_error("offsets must rise through the data, every message non-empty");
        list.messages.push_back(
            {t[k], static_cast<uint32_t>(o[k]), static_cast<uint32_t>(o[k + 1] - o[k])});
    }
    return list;
}

[[noreturn]] void Raise(const mfrender::RenderError& e) {
    switch (e.problem()) {
        case mfrender::Problem::kNoSoundFont:
            PyErr_SetString(PyExc_FileNotFoundError, e.what());
            throw py::error_already_set();
        case mfrender::Problem::kBadSoundFont:
        case mfrender::Problem::kBadOptions:
            throw py::value_error(e.what());
        default:
            throw std::runtime_error(e.what());
    }
}

// Stereo float32 frames, shape (frames, 2), over a vector it takes over.
py::array_t<float> FramesArray(std::vector<float>&& samples) {
    auto* owned = new std::vector<float>(std::move(samples));
    py::capsule free(owned, [](void* p) { delete static_cast<std::vector<float>*>(p); });
    const auto frames = static_cast<py::ssize_t>(owned->size() / 2);
    return py::array_t<float>({frames, py::ssize_t{2}},
                              {py::ssize_t{2 * sizeof(float)}, py::ssize_t{sizeof(float)}},
                              owned->data(), free);
}

py::array_t<float> Synthesize(
    const py::array_t<double, py::array::c_style | py::array::forcecast>& seconds,
    const py::bytes& data,
    const py::array_t<int64_t, py::array::c_style | py::array::forcecast>& offsets, double end,
    double fs, std::optional<std::string> soundfont, double gain) {
    const mfrender::MessageList list = Messages(seconds, data, offsets, end);
    mfrender::RenderOptions options;
    options.soundfont = soundfont ? *soundfont : mfrender::DefaultSoundFont();
    options.sampleRate = fs;
    options.gain = gain;
    std::vector<float> samples;
    std::optional<mfrender::RenderError> failure;
    {
        py::gil_scoped_release release;
        try {
            mfrender::Render(list, options, [&samples](const float* f, size_t frames) {
                samples.insert(samples.end(), f, f + 2 * frames);
            });
        } catch (const mfrender::RenderError& e) {
            failure = e;
        }
    }
    if (failure) Raise(*failure);
    return FramesArray(std::move(samples));
}

#endif

}  // namespace

void BindAudio(py::module_& m) {
#ifdef MIDIFOLIO_HAVE_AUDIO
    m.attr("HAVE_AUDIO") = true;
    m.def("synthesize", &Synthesize, py::arg("seconds"), py::arg("data"), py::arg("offsets"),
          py::arg("end"), py::arg("fs"), py::arg("soundfont"), py::arg("gain"),
          "Stereo float32 audio, shape (frames, 2), of MIDI messages: message k is "
          "data[offsets[k]:offsets[k + 1]] at seconds[k]; the song ends at `end` seconds.");
    m.def("default_soundfont", &mfrender::DefaultSoundFont,
          "The SoundFont used when none is named (the system's General MIDI set).");
#else
    m.attr("HAVE_AUDIO") = false;
    const char* missing =
        "this midifolio was built without audio rendering: it needs FluidSynth and libsndfile";
    m.def(
        "synthesize",
        [missing](py::args, py::kwargs) -> py::object { throw std::runtime_error(missing); },
        "Not available: this build has no audio rendering.");
    m.def(
        "default_soundfont", [missing]() -> py::object { throw std::runtime_error(missing); },
        "Not available: this build has no audio rendering.");
#endif
}

}  // namespace mfpy
