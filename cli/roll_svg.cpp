#include "roll_svg.h"

#include <charconv>
#include <type_traits>

#include "roll_text.h"

namespace mfcli {

namespace {

// A coordinate with one decimal, without a trailing ".0".
std::string Num(double v) {
    char text[40];
    const auto end = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, 1).ptr;
    std::string s(text, end);
    if (s.size() > 2 && s.compare(s.size() - 2, 2, ".0") == 0) s.resize(s.size() - 2);
    return s == "-0" ? "0" : s;
}

// ` name="value"`.
std::string Attr(const char* name, const std::string& value) {
    return std::string(" ") + name + "=\"" + value + "\"";
}

std::string Attr(const char* name, double value) {
    return Attr(name, Num(value));
}

// The element's end: a hover text inside it, or none.
std::string Close(const char* element, const std::string& tip) {
    if (tip.empty()) return "/>\n";
    return "><title>" + XmlEscape(tip) + "</title></" + element + ">\n";
}

std::string Stroke(const std::string& colour, double width) {
    return colour.empty() ? "" : Attr("stroke", colour) + Attr("stroke-width", width);
}

std::string Element(const TextShape& t) {
    std::string s = "<text" + Attr("x", t.x) + Attr("y", t.y) + Attr("font-size", t.size);
    if (t.fill != "#000000") s += Attr("fill", t.fill);
    if (t.anchor != Anchor::kStart)
        s += Attr("text-anchor", t.anchor == Anchor::kEnd ? "end" : "middle");
    if (t.bold) s += Attr("font-weight", "bold");
    return s + ">" + XmlEscape(t.text) + "</text>\n";
}

std::string Element(const LineShape& l) {
    return "<line" + Attr("x1", l.x1) + Attr("y1", l.y1) + Attr("x2", l.x2) + Attr("y2", l.y2) +
           Stroke(l.stroke, l.width) + "/>\n";
}

std::string Element(const BoxShape& b) {
    std::string s =
        "<rect" + Attr("x", b.x) + Attr("y", b.y) + Attr("width", b.w) + Attr("height", b.h);
    if (b.rx > 0) s += Attr("rx", b.rx);
    s += Attr("fill", b.fill) + Stroke(b.stroke, b.strokeWidth);
    return s + Close("rect", b.tip);
}

std::string Element(const DiamondShape& d) {
    const std::string r = Num(d.r);
    return "<path d=\"M" + Num(d.cx) + " " + Num(d.cy - d.r) + "l" + r + " " + r + " -" + r + " " +
           r + " -" + r + " -" + r + "z\"" + Attr("fill", d.fill) +
           Stroke(d.stroke, d.strokeWidth) + Close("path", d.tip);
}

// The points as a path, straight runs as H and V.
std::string Element(const PolylineShape& p) {
    if (p.points.empty()) return "";
    std::string d = "M" + Num(p.points[0].first) + " " + Num(p.points[0].second);
    for (size_t i = 1; i < p.points.size(); ++i) {
        const auto& [x, y] = p.points[i];
        const auto& [px, py] = p.points[i - 1];
        if (Num(y) == Num(py)) {
            if (Num(x) != Num(px)) d += "H" + Num(x);
        } else if (Num(x) == Num(px)) {
            d += "V" + Num(y);
        } else {
            d += "L" + Num(x) + " " + Num(y);
        }
    }
    return "<path" + Attr("d", d) + Attr("fill", "none") + Stroke(p.stroke, p.width) + "/>\n";
}

std::string Element(const MarksShape& m) {
    std::string d;
    d.reserve(m.rects.size() * 24);
    for (const MarksShape::Rect& r : m.rects) {
        d += "M" + Num(r.x) + " " + Num(r.y) + "h" + Num(r.w) + "v" + Num(r.h) + "h-" + Num(r.w) +
             "z";
    }
    return "<path" + Attr("d", d) + Attr("fill", m.fill) + Close("path", m.tip);
}

}  // namespace

std::string XmlEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                // XML 1.0 allows no control characters other than tab, newline and return.
                out += (c < 0x20 || c == 0x7F) ? ' ' : ch;
        }
    }
    return out;
}

std::string RenderSvg(const Picture& picture) {
    const std::string w = std::to_string(picture.width), h = std::to_string(picture.height);
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    s += "<svg xmlns=\"http://www.w3.org/2000/svg\"" + Attr("width", w) + Attr("height", h) +
         Attr("viewBox", "0 0 " + w + " " + h) + Attr("font-family", kRollFont) + ">\n";
    s += "<title>" + XmlEscape(picture.title) + "</title>\n";
    s += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    for (const Layer& layer : picture.layers) {
        s += "<g" + Attr("id", layer.id) +
             (layer.crisp ? Attr("shape-rendering", "crispEdges") : "") + ">\n";
        for (const Shape& shape : layer.shapes)
            s += std::visit([](const auto& e) { return Element(e); }, shape);
        s += "</g>\n";
    }
    return s + "</svg>\n";
}

}  // namespace mfcli
