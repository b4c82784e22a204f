// A roll's picture as PNG, drawn in this process: the SVG document rendered by librsvg onto a
// cairo image surface and written as PNG, with no outside program (by the tool's media
// module, media.h). Available when the tool was built with librsvg (MIDIFOLIO_HAVE_RSVG).
#pragma once

#include <string>

#include "output.h"

namespace mfcli {

// Throws Failure saying why when the tool was built without librsvg.
void RequirePng();

// The widest PNG a picture can be (cairo's limit for an image surface).
constexpr int kMaxPngWidth = 32767;

// Draws the SVG document at its own size on white and writes it as PNG. Throws Failure when
// the document cannot be drawn, or the tool has no PNG support.
void WritePng(const std::string& svg, Output& out);

}  // namespace mfcli
