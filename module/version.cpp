#include "midifolio/platform.h"

namespace midifolio {

const char* GetVersion() { return MIDIFOLIO_VERSION_STRING; }

}  // namespace midifolio
