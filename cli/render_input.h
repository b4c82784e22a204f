// What the audio engine plays of a loaded song: its MIDI messages with their exact times.
// The one place where the tool turns a song into the engine's input.
#pragma once

#include "midifolio/midifolio.h"
#include "midifolio/score.h"
#include "synth.h"

namespace mfcli {

// Every channel message and system exclusive message of every track, with its time in exact
// seconds through the song's tempo map, in time order (ties: track order, then list order);
// the end is the time of the song's last event, meta events included. The tempo event the
// loader puts in front of the first track is not the file's and is left out.
mfrender::MessageList RenderInput(const midifolio::CMidiFolio& song,
                                  const midifolio::score::TimeMap& time);

}  // namespace mfcli
