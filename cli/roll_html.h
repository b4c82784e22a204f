// A roll as one self-contained HTML page: no network, no outside script. The notes travel
// packed (per part of a track, channel and program: the start as a varint of ticks since the
// part's last note, the length as a varint, pitch and velocity as a byte each; all of it in
// base64), with the song's tempo and meters, and the page's own script draws on a canvas what
// is in view, zooms and scrolls in time and pitch, says what a note is on hover, and shows and
// hides tracks and channels one by one (cli/roll_page.html).
#pragma once

#include <cstddef>

#include "output.h"
#include "roll_model.h"

namespace mfcli {

struct HtmlStats {
    size_t parts = 0;      // runs of notes of one track, channel and program
    size_t noteBytes = 0;  // the packed notes, before base64
};

HtmlStats WriteRollHtml(const RollSong& song, Output& out);

}  // namespace mfcli
