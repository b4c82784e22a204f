#include "midifolio/platform.h"

MIDIFOLIO_BEGIN_NAMESPACE

const char* GetVersion() {
    return MIDIFOLIO_VERSION_STRING;
}

MIDIFOLIO_END_NAMESPACE
