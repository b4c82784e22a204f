#include <cstdio>

#include "midifolio/platform.h"

namespace midifolio {

MessageSink DefaultMessageSink() {
    return [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); };
}

}  // namespace midifolio
