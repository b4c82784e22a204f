// The tool's audio and PNG drawing live in a module of their own (midifolio-media.so),
// loaded the first time `render` or `roll -o x.png` needs it: FluidSynth, libsndfile, librsvg
// and cairo bring some ninety libraries with them, and mapping those at every start made each
// command (an `info`, a `scan` of a folder) wait about 15 ms for nothing.
//
// The module and the tool are built together: the table's `abi` tells a module of another
// build apart. Nothing is thrown across the boundary; failures come back as words.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#ifdef MIDIFOLIO_HAVE_AUDIO
#include "audio_file.h"
#include "synth.h"
#endif
#include "midifolio/score.h"

namespace mfcli {

constexpr uint32_t kMediaAbi = 1;

// Where a PNG's bytes go: false stops the drawing (the writer keeps its own failure).
using PngWriter = std::function<bool(const char* data, size_t size)>;

struct MediaApi {
    uint32_t abi;
    // The SVG document drawn at its own size on white and written as PNG. False with the
    // reason in *error. Null when the module was built without librsvg.
    bool (*png)(const std::string& svg, const PngWriter& write, std::string* error);
#ifdef MIDIFOLIO_HAVE_AUDIO
    // The audio engine (render/), whose failures come back as RenderError's words.
    std::optional<mfrender::AudioFormat> (*formatOfPath)(const std::string& path);
    const char* (*knownExtensions)();
    const char* (*formatName)(mfrender::AudioFormat format);
    std::string (*defaultSoundFont)();
    mfrender::MessageList (*messagesOf)(const midifolio::score::Score& song);
    // Whether a file of this format and rate can be written; false with why in *error.
    bool (*canEncode)(mfrender::AudioFormat format, int rate, std::string* error);
    // Renders the messages into a file of the format: its bytes in *file.
    bool (*render)(const mfrender::MessageList& list, const mfrender::RenderOptions& options,
                   mfrender::AudioFormat format, const mfrender::RenderProgress& progress,
                   std::vector<uint8_t>* file, mfrender::RenderStats* stats, std::string* error);
#endif
};

// The module's table, loaded on first use; throws Failure naming the module and why when it
// cannot be loaded.
const MediaApi& Media();

}  // namespace mfcli

// The module's one entry point.
extern "C" const mfcli::MediaApi* midifolio_media_api();
