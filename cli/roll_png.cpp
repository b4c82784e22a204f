#include "roll_png.h"

#include "common.h"

#ifdef MIDIFOLIO_HAVE_RSVG
#include <cairo.h>
#include <librsvg/rsvg.h>

#include <cmath>
#include <exception>
#include <memory>
#endif

#ifdef MIDIFOLIO_HAVE_RSVG
#if defined(__SANITIZE_ADDRESS__)
#define MIDIFOLIO_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MIDIFOLIO_LEAK_CHECKED 1
#endif
#endif
#ifdef MIDIFOLIO_LEAK_CHECKED
// fontconfig, through which librsvg draws text, keeps its caches for the life of the process
// and frees them at no exit: the leak checker of a sanitizer build is told to pass over them.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
extern "C" const char* __lsan_default_options() {
    return "print_suppressions=0";
}
#endif
#endif

namespace mfcli {

#ifdef MIDIFOLIO_HAVE_RSVG

namespace {

struct GObjectFree {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct SurfaceFree {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct CairoFree {
    void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};

// Throws Failure with librsvg's reason, and frees it.
[[noreturn]] void Fail(GError* error, const char* what) {
    const std::string reason = error != nullptr ? error->message : "unknown reason";
    if (error != nullptr) g_error_free(error);
    throw Failure(std::string("the picture could not be ") + what + ": " + reason);
}

// Where cairo's PNG bytes go: the output, whose failure is kept to be thrown once cairo has
// let go (nothing may be thrown through cairo's C code).
struct PngSink {
    Output* out;
    std::exception_ptr failure;

    static cairo_status_t Write(void* closure, const unsigned char* data, unsigned int length) {
        auto* sink = static_cast<PngSink*>(closure);
        try {
            *sink->out << std::string_view(reinterpret_cast<const char*>(data), length);
            return CAIRO_STATUS_SUCCESS;
        } catch (...) {
            sink->failure = std::current_exception();
            return CAIRO_STATUS_WRITE_ERROR;
        }
    }
};

// The document drawn on a white image surface of its own size.
std::unique_ptr<cairo_surface_t, SurfaceFree> Draw(RsvgHandle* handle) {
    gdouble width = 0, height = 0;
    if (!rsvg_handle_get_intrinsic_size_in_pixels(handle, &width, &height) || width < 1 ||
        height < 1 || width > kMaxPngWidth || height > kMaxPngWidth) {
        throw Failure(
            Format("the picture's size (%.0f x %.0f pixels) cannot be drawn as PNG "
                   "(1..%d pixels each way)",
                   width, height, kMaxPngWidth));
    }
    std::unique_ptr<cairo_surface_t, SurfaceFree> surface(
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(std::ceil(width)),
                                   static_cast<int>(std::ceil(height))));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
        throw Failure("no room for the picture: " +
                      std::string(cairo_status_to_string(cairo_surface_status(surface.get()))));
    std::unique_ptr<cairo_t, CairoFree> cr(cairo_create(surface.get()));
    cairo_set_source_rgb(cr.get(), 1, 1, 1);
    cairo_paint(cr.get());
    const RsvgRectangle viewport{0, 0, width, height};
    GError* error = nullptr;
    if (!rsvg_handle_render_document(handle, cr.get(), &viewport, &error)) Fail(error, "drawn");
    return surface;
}

}  // namespace

void RequirePng() {}

void WritePng(const std::string& svg, Output& out) {
    GError* error = nullptr;
    std::unique_ptr<RsvgHandle, GObjectFree> handle(
        rsvg_handle_new_from_data(reinterpret_cast<const guint8*>(svg.data()), svg.size(), &error));
    if (!handle) Fail(error, "read");
    const auto surface = Draw(handle.get());
    PngSink sink{&out, nullptr};
    const cairo_status_t status =
        cairo_surface_write_to_png_stream(surface.get(), &PngSink::Write, &sink);
    if (sink.failure) std::rethrow_exception(sink.failure);
    if (status != CAIRO_STATUS_SUCCESS)
        throw Failure(std::string("the PNG could not be made: ") + cairo_status_to_string(status));
}

#else

void RequirePng() {
    throw Failure(
        "this midifolio was built without librsvg and cannot write PNG; write .svg or .html, "
        "or install librsvg2-dev and build again");
}

void WritePng(const std::string&, Output&) {
    RequirePng();
}

#endif

}  // namespace mfcli
