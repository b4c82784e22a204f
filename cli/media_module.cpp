// midifolio-media.so: the tool's audio engine and PNG drawing, loaded when a command needs
// them (see media.h). Every entry catches what it throws and hands back words instead.
#include <cmath>
#include <cstdio>
#include <exception>
#include <memory>
#include <new>

#include "media.h"

#ifdef MIDIFOLIO_HAVE_RSVG
#include <cairo.h>
#include <librsvg/rsvg.h>

#include "roll_png.h"
#endif
#ifdef MIDIFOLIO_HAVE_AUDIO
#include "song_messages.h"
#endif

namespace mfcli {
namespace {

// Runs `body`, turning what it throws into *error; false then.
template <class Body>
bool Guard(std::string* error, Body body) {
    try {
        body();
        return true;
    } catch (const std::bad_alloc&) {
        *error = "out of memory";
    } catch (const std::exception& e) {
        *error = e.what();
    }
    return false;
}

#ifdef MIDIFOLIO_HAVE_RSVG

struct GObjectFree {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct SurfaceFree {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct CairoFree {
    void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};

struct PictureError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Throws librsvg's reason, and frees it.
[[noreturn]] void Fail(GError* error, const char* what) {
    const std::string reason = error != nullptr ? error->message : "unknown reason";
    if (error != nullptr) g_error_free(error);
    throw PictureError(std::string("the picture could not be ") + what + ": " + reason);
}

// The document drawn on a white image surface of its own size.
std::unique_ptr<cairo_surface_t, SurfaceFree> Draw(RsvgHandle* handle) {
    gdouble width = 0, height = 0;
    if (!rsvg_handle_get_intrinsic_size_in_pixels(handle, &width, &height) || width < 1 ||
        height < 1 || width > kMaxPngWidth || height > kMaxPngWidth) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "the picture's size (%.0f x %.0f pixels) cannot be drawn as PNG "
                      "(1..%d pixels each way)",
                      width, height, kMaxPngWidth);
        throw PictureError(text);
    }
    std::unique_ptr<cairo_surface_t, SurfaceFree> surface(
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(std::ceil(width)),
                                   static_cast<int>(std::ceil(height))));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
        throw PictureError("no room for the picture: " + std::string(cairo_status_to_string(
                                                             cairo_surface_status(surface.get()))));
    std::unique_ptr<cairo_t, CairoFree> cr(cairo_create(surface.get()));
    cairo_set_source_rgb(cr.get(), 1, 1, 1);
    cairo_paint(cr.get());
    const RsvgRectangle viewport{0, 0, width, height};
    GError* error = nullptr;
    if (!rsvg_handle_render_document(handle, cr.get(), &viewport, &error)) Fail(error, "drawn");
    return surface;
}

// Hands cairo's PNG bytes to the writer (nothing may be thrown through cairo's C code).
cairo_status_t WritePngBytes(void* closure, const unsigned char* data, unsigned int length) {
    const PngWriter& write = *static_cast<const PngWriter*>(closure);
    bool written = false;
    try {
        written = write(reinterpret_cast<const char*>(data), length);
    } catch (...) {
    }
    return written ? CAIRO_STATUS_SUCCESS : CAIRO_STATUS_WRITE_ERROR;
}

bool Png(const std::string& svg, const PngWriter& write, std::string* error) {
    return Guard(error, [&] {
        GError* gerror = nullptr;
        std::unique_ptr<RsvgHandle, GObjectFree> handle(rsvg_handle_new_from_data(
            reinterpret_cast<const guint8*>(svg.data()), svg.size(), &gerror));
        if (!handle) Fail(gerror, "read");
        const auto surface = Draw(handle.get());
        const cairo_status_t status = cairo_surface_write_to_png_stream(
            surface.get(), &WritePngBytes, const_cast<PngWriter*>(&write));
        if (status != CAIRO_STATUS_SUCCESS)
            throw PictureError(std::string("the PNG could not be made: ") +
                               cairo_status_to_string(status));
    });
}

#endif

#ifdef MIDIFOLIO_HAVE_AUDIO

bool CanEncode(mfrender::AudioFormat format, int rate, std::string* error) {
    return Guard(error, [&] { mfrender::AudioEncoder check(format, rate); });
}

bool Render(const mfrender::MessageList& list, const mfrender::RenderOptions& options,
            mfrender::AudioFormat format, const mfrender::RenderProgress& progress,
            std::vector<uint8_t>* file, mfrender::RenderStats* stats, std::string* error) {
    return Guard(error, [&] {
        mfrender::AudioEncoder encoder(format, static_cast<int>(options.sampleRate));
        *stats = mfrender::Render(
            list, options, [&encoder](const float* f, size_t n) { encoder.Write(f, n); }, progress);
        *file = encoder.Finish();
    });
}

#endif

const MediaApi kApi = {
    kMediaAbi,
#ifdef MIDIFOLIO_HAVE_RSVG
    &Png,
#else
    nullptr,
#endif
#ifdef MIDIFOLIO_HAVE_AUDIO
    &mfrender::FormatOfPath,
    &mfrender::KnownExtensions,
    &mfrender::FormatName,
    &mfrender::DefaultSoundFont,
    &mfrender::MessagesOf,
    &CanEncode,
    &Render,
#endif
};

}  // namespace
}  // namespace mfcli

extern "C" __attribute__((visibility("default"))) const mfcli::MediaApi* midifolio_media_api() {
    return &mfcli::kApi;
}
