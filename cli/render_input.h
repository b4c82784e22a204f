// What the audio engine plays of a loaded song: its MIDI messages with their exact times.
// The one place where the tool turns a song into the engine's input.
#pragma once

#include "midifolio/midifolio.h"
#include "midifolio/score.h"
#include "synth.h"

namespace mfcli {

// Every channel message and system-exclusive message of every track, with its time in exact
// seconds, in time order (ties: track order, then file order); the end is the time of the
// song's last event, meta events included.
mfrender::MessageList RenderInput(const midifolio::score::Score& song);

}  // namespace mfcli
