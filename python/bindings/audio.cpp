// Audio for Python: the extension midifolio._midifolio_audio, the engine of render/ behind
// midifolio._audio.synthesize, which hands it a song's MIDI messages as plain arrays. The
// render runs without the GIL. An extension of its own, imported on the first render:
// FluidSynth and libsndfile bring some sixty libraries that `import midifolio` need not map.
// Built only with the engine (midifolio._midifolio.HAVE_AUDIO tells).
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "song_handle.h"
#include "song_messages.h"
#include "synth.h"

namespace mfpy {

namespace {

// The song's messages, as (seconds, data, offsets, end): message k is
// data[offsets[k]:offsets[k + 1]] at seconds[k].
py::tuple Messages(SongHandle& h) {
    mfrender::MessageList list;
    {
        std::shared_ptr<const midifolio::score::Score> view = h.View();
        py::gil_scoped_release release;
        list = mfrender::MessagesOf(*view);
    }
    py::array_t<double> seconds(static_cast<py::ssize_t>(list.messages.size()));
    py::array_t<int64_t> offsets(static_cast<py::ssize_t>(list.messages.size() + 1));
    double* s = seconds.mutable_data();
    int64_t* o = offsets.mutable_data();
    for (size_t k = 0; k < list.messages.size(); ++k) {
        s[k] = list.messages[k].seconds;
        o[k] = list.messages[k].offset;
    }
    o[list.messages.size()] = static_cast<int64_t>(list.bytes.size());
    py::bytes data(reinterpret_cast<const char*>(list.bytes.data()), list.bytes.size());
    return py::make_tuple(seconds, data, offsets, list.end);
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

py::array_t<float> Synthesize(SongHandle& h, double fs, std::optional<std::string> soundfont,
                              double gain) {
    std::shared_ptr<const midifolio::score::Score> view = h.View();
    mfrender::RenderOptions options;
    options.soundfont = soundfont ? *soundfont : mfrender::DefaultSoundFont();
    options.sampleRate = fs;
    options.gain = gain;
    std::vector<float> samples;
    std::optional<mfrender::RenderError> failure;
    {
        py::gil_scoped_release release;
        try {
            const mfrender::MessageList list = mfrender::MessagesOf(*view);
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

}  // namespace

}  // namespace mfpy

PYBIND11_MODULE(_midifolio_audio, m) {
    namespace py = pybind11;
    m.doc() = "The audio engine of midifolio (private: use Song.synthesize).";
    m.def("synthesize", &mfpy::Synthesize, py::arg("song"), py::arg("fs"), py::arg("soundfont"),
          py::arg("gain"), "Stereo float32 audio, shape (frames, 2), of a song's handle.");
    m.def("messages", &mfpy::Messages, py::arg("song"),
          "The song's messages as the engine takes them: (seconds, data, offsets, end).");
    m.def("default_soundfont", &mfrender::DefaultSoundFont,
          "The SoundFont used when none is named (the system's General MIDI set).");
}
