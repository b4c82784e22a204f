// A roll's picture as an SVG document: the layout's layers as groups, each note's description
// as its hover text, density marks of one colour as one path.
#pragma once

#include <string>

#include "roll_picture.h"

namespace mfcli {

// The whole document, UTF-8.
std::string RenderSvg(const Picture& picture);

// Text made safe for XML character data and attribute values (UTF-8 in, UTF-8 out; control
// characters become blanks).
std::string XmlEscape(const std::string& text);

}  // namespace mfcli
