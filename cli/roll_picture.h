// A picture as the roll's layout leaves it: layers of plain shapes in pixels, each with its
// colours and hover text. The SVG writer turns it into text; nothing here knows SVG.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace mfcli {

enum class Anchor { kStart, kMiddle, kEnd };

struct TextShape {
    double x = 0, y = 0;  // the baseline's start (or middle, or end)
    std::string text;
    double size = 10;  // font size in pixels
    std::string fill = "#000000";
    Anchor anchor = Anchor::kStart;
    bool bold = false;
};

struct LineShape {
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    std::string stroke;
    double width = 1;
};

// A rectangle, with an optional outline and hover text.
struct BoxShape {
    double x = 0, y = 0, w = 0, h = 0;
    std::string fill;
    std::string stroke;  // "" for none
    double strokeWidth = 0;
    double rx = 0;  // corner radius
    std::string tip;
};

// A square standing on its corner, centred on (cx, cy), `r` from centre to corner.
struct DiamondShape {
    double cx = 0, cy = 0, r = 0;
    std::string fill;
    std::string stroke;
    double strokeWidth = 0;
    std::string tip;
};

// A line through points.
struct PolylineShape {
    std::vector<std::pair<double, double>> points;
    std::string stroke;
    double width = 1;
};

// Many rectangles of one colour on whole pixels, drawn as one shape.
struct MarksShape {
    struct Rect {
        double x, y, w, h;
    };
    std::vector<Rect> rects;
    std::string fill;
    std::string tip;
};

using Shape = std::variant<TextShape, LineShape, BoxShape, DiamondShape, PolylineShape, MarksShape>;

struct Layer {
    std::string id;
    std::vector<Shape> shapes;
    bool crisp = false;  // edges on whole pixels, not smoothed
};

struct Picture {
    int width = 0;
    int height = 0;
    std::string title;
    std::vector<Layer> layers;  // back to front
};

}  // namespace mfcli
