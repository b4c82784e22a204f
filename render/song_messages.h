// What the audio engine plays of a song: its MIDI messages with their exact times. The one
// place where a song becomes the engine's input, for the tool and the Python package alike.
#pragma once

#include "midifolio/midifolio.h"
#include "midifolio/score.h"
#include "synth.h"

namespace mfrender {

// Every channel message and system-exclusive message of every track, with its time in exact
// seconds, in time order (ties: track order, then file order); the end is the time of the
// song's last event, meta events included.
MessageList MessagesOf(const midifolio::score::Score& song);

}  // namespace mfrender
