// Where a roll's picture puts everything: time across (bars as the meters lay them out,
// exact seconds on an axis below, the tempo as a curve above), pitch up, the drums in a lane
// of their own, a legend of every colour drawn. A song too dense for the picture's size is
// drawn as note density per pixel, and the picture says so.
#pragma once

#include <cstddef>

#include "roll_model.h"
#include "roll_picture.h"

namespace mfcli {

// What a picture holds.
struct RollStats {
    size_t notes = 0;        // melodic notes drawn
    size_t drumStrokes = 0;  // drum notes drawn
    bool density = false;    // drawn as density per pixel
    size_t shapes = 0;       // notes, diamonds or density marks drawn
};

// Notes beyond which a picture shows density, whatever its size.
constexpr size_t kDetailedNotes = 20000;

// The picture of a roll, `width` pixels wide (the height follows from the pitches and drums).
Picture LayOutRoll(const RollSong& song, int width, RollStats& stats);

}  // namespace mfcli
