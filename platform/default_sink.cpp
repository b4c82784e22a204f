#include <cstdio>

#include "midifolio/platform.h"

MIDIFOLIO_BEGIN_NAMESPACE

MessageSink DefaultMessageSink() {
    return [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); };
}

MIDIFOLIO_END_NAMESPACE
