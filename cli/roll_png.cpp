#include "roll_png.h"

#include <exception>
#include <string_view>

#include "common.h"
#include "media.h"

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

void RequirePng() {
    Media();  // the module that draws, loaded before any work is done
}

void WritePng(const std::string& svg, Output& out) {
    // The output's own failure (a full disk, a closed pipe) is kept and thrown once the
    // drawing has let go.
    std::exception_ptr failure;
    const PngWriter write = [&](const char* data, size_t size) {
        try {
            out << std::string_view(data, size);
            return true;
        } catch (...) {
            failure = std::current_exception();
            return false;
        }
    };
    std::string error;
    const bool drawn = Media().png(svg, write, &error);
    if (failure) std::rethrow_exception(failure);
    if (!drawn) throw Failure(error);
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
