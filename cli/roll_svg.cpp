#include "roll_svg.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <sstream>

#include "common.h"

namespace mfcli {

namespace {

// One colour per channel; channel 10 (index 9) is the drums' dark slate.
constexpr const char* kChannelColours[16] = {
    "#1f77b4", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd", "#8c564b", "#e377c2", "#17becf",
    "#bcbd22", "#34495e", "#7f7f00", "#ad494a", "#3182bd", "#e6550d", "#31a354", "#756bb1"};

constexpr int kLeft = 130;  // room for pitch and drum labels
constexpr int kRight = 16;
constexpr int kTitleHeight = 28;
constexpr int kLegendRow = 18;
constexpr int kAxisHeight = 22;  // bar numbers and tempo marks above the grid
constexpr int kNoteRow = 7;      // pixels per semitone
constexpr int kDrumRow = 10;     // pixels per drum
constexpr int kGap = 14;         // between the melodic grid and the drum lane
constexpr int kBottom = 24;

bool IsBlackKey(int note) {
    const int pc = note % 12;
    return pc == 1 || pc == 3 || pc == 6 || pc == 8 || pc == 10;
}

std::string Num(double v) {
    return Format("%.2f", v);
}

}  // namespace

std::string XmlEscape(const std::string& text) {
    std::string out;
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

std::string RenderRollSvg(const RollModel& m, int width) {
    width = std::max(width, kLeft + kRight + 100);
    const double plotWidth = width - kLeft - kRight;
    const int32_t endTicks = std::max<int32_t>(m.endTicks, 1);
    const double xScale = plotWidth / endTicks;
    auto X = [&](int32_t tick) { return kLeft + std::clamp<double>(tick, 0, endTicks) * xScale; };

    // Pitch range of the melodic notes, widened to whole octaves.
    int lo = 128, hi = -1;
    std::set<int> drumNotes;
    std::array<bool, 16> used{};
    for (const RollNote& n : m.notes) {
        used[static_cast<size_t>(n.channel)] = true;
        if (n.channel == 9) {
            drumNotes.insert(n.note);
        } else {
            lo = std::min(lo, n.note);
            hi = std::max(hi, n.note);
        }
    }
    const bool melodic = hi >= 0;
    if (melodic) {
        lo = lo / 12 * 12;
        hi = std::min(127, (hi / 12 + 1) * 12 - 1);
    }
    const int pitchRows = melodic ? hi - lo + 1 : 0;
    std::map<int, int> drumRow;  // note -> row from the top of the lane
    {
        int row = 0;
        for (auto it = drumNotes.rbegin(); it != drumNotes.rend(); ++it) drumRow[*it] = row++;
    }
    std::vector<int> legend;
    for (int ch = 0; ch < 16; ++ch) {
        if (used[static_cast<size_t>(ch)] || !m.channelLabels[static_cast<size_t>(ch)].empty())
            legend.push_back(ch);
    }
    const int legendPerRow = std::max(1, static_cast<int>(plotWidth + kLeft) / 220);
    const int legendRows =
        legend.empty() ? 0 : (static_cast<int>(legend.size()) + legendPerRow - 1) / legendPerRow;

    const int gridTop = kTitleHeight + legendRows * kLegendRow + kAxisHeight;
    const int gridHeight = pitchRows * kNoteRow;
    const int drumTop = gridTop + gridHeight + (melodic && !drumNotes.empty() ? kGap : 0);
    const int drumHeight = static_cast<int>(drumNotes.size()) * kDrumRow;
    const int height = drumTop + drumHeight + kBottom;
    const int gridBottom = drumTop + drumHeight;

    std::ostringstream s;
    s << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    s << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
      << "\" viewBox=\"0 0 " << width << " " << height << "\" font-family=\"sans-serif\">\n";
    s << "<title>" << XmlEscape(m.title) << "</title>\n";
    s << "<rect x=\"0\" y=\"0\" width=\"" << width << "\" height=\"" << height
      << "\" fill=\"#ffffff\"/>\n";
    s << "<text x=\"" << kLeft << "\" y=\"19\" font-size=\"14\" font-weight=\"bold\">"
      << XmlEscape(m.title) << "</text>\n";

    // Legend: one swatch per channel.
    for (size_t i = 0; i < legend.size(); ++i) {
        const int ch = legend[i];
        const int col = static_cast<int>(i) % legendPerRow;
        const int row = static_cast<int>(i) / legendPerRow;
        const int x = 8 + col * 220;
        const int y = kTitleHeight + row * kLegendRow;
        if (ch == 9) {
            s << "<polygon points=\"" << x + 5 << "," << y << " " << x + 10 << "," << y + 5 << " "
              << x + 5 << "," << y + 10 << " " << x << "," << y + 5 << "\" fill=\""
              << kChannelColours[ch] << "\"/>\n";
        } else {
            s << "<rect x=\"" << x << "\" y=\"" << y << "\" width=\"10\" height=\"10\" fill=\""
              << kChannelColours[ch] << "\"/>\n";
        }
        s << "<text x=\"" << x + 15 << "\" y=\"" << y + 9 << "\" font-size=\"11\">ch " << ch + 1
          << " " << XmlEscape(m.channelLabels[static_cast<size_t>(ch)]) << "</text>\n";
    }

    // Pitch rows, black keys shaded, a label at every C.
    s << "<g id=\"keys\">\n";
    for (int note = hi; melodic && note >= lo; --note) {
        const int y = gridTop + (hi - note) * kNoteRow;
        s << "<rect x=\"" << kLeft << "\" y=\"" << y << "\" width=\"" << Num(plotWidth)
          << "\" height=\"" << kNoteRow << "\" fill=\""
          << (IsBlackKey(note) ? "#ececec" : "#fafafa") << "\"/>\n";
        if (note % 12 == 0) {
            s << "<line x1=\"" << kLeft << "\" y1=\"" << y + kNoteRow << "\" x2=\""
              << Num(kLeft + plotWidth) << "\" y2=\"" << y + kNoteRow
              << "\" stroke=\"#c8c8c8\" stroke-width=\"0.6\"/>\n";
            s << "<text x=\"" << kLeft - 7 << "\" y=\"" << y + kNoteRow
              << "\" font-size=\"9\" text-anchor=\"end\">" << NoteName(note) << "</text>\n";
        }
    }
    // Drum lane: one row per drum struck, labelled with its name.
    for (const auto& [note, row] : drumRow) {
        const int y = drumTop + row * kDrumRow;
        s << "<rect x=\"" << kLeft << "\" y=\"" << y << "\" width=\"" << Num(plotWidth)
          << "\" height=\"" << kDrumRow << "\" fill=\"" << (row % 2 ? "#f1f3f5" : "#f8f9fa")
          << "\"/>\n";
        std::string name;
        for (const auto& dn : m.drumNames) {
            if (dn.first == note) name = dn.second;
        }
        if (name.empty()) name = "note " + std::to_string(note);
        s << "<text x=\"" << kLeft - 7 << "\" y=\"" << y + kDrumRow - 2
          << "\" font-size=\"8\" text-anchor=\"end\">" << XmlEscape(name) << "</text>\n";
    }
    s << "</g>\n";

    // Bars: a line at each bar, its number above the grid when there is room for it.
    s << "<g id=\"bars\" font-size=\"9\" fill=\"#555555\">\n";
    if (m.barTicks > 0) {
        const double barWidth = m.barTicks * xScale;
        const int64_t bars = (static_cast<int64_t>(endTicks) + m.barTicks - 1) / m.barTicks;
        int every = 1;
        while (barWidth * every < 28) every *= 2;
        int64_t drawn = 0;
        for (int64_t b = 0; b <= bars && drawn < 20000; ++b, ++drawn) {
            const int64_t tick = b * m.barTicks;
            if (tick > endTicks) break;
            const double x = kLeft + tick * xScale;
            const bool labelled = b % every == 0;
            if (labelled || barWidth >= 3) {
                s << "<line x1=\"" << Num(x) << "\" y1=\"" << gridTop << "\" x2=\"" << Num(x)
                  << "\" y2=\"" << gridBottom << "\" stroke=\""
                  << (labelled ? "#b0b0b0" : "#dddddd") << "\" stroke-width=\"0.8\"/>\n";
            }
            if (labelled && b < bars) {
                s << "<text x=\"" << Num(x + 2) << "\" y=\"" << gridTop - 4 << "\">" << b + 1
                  << "</text>\n";
            }
        }
    }
    // Tempo changes: a mark on the axis.
    for (const RollTempo& t : m.tempos) {
        const double x = X(t.tick);
        s << "<text x=\"" << Num(x + 2) << "\" y=\"" << gridTop - 13
          << "\" fill=\"#a0522d\">&#9833;=" << Format("%.0f", t.bpm) << "</text>\n";
    }
    s << "</g>\n";

    // Notes: a bar per melodic note, a diamond per drum stroke; tooltips say what and where.
    s << "<g id=\"notes\">\n";
    for (const RollNote& n : m.notes) {
        const double opacity = 0.45 + 0.55 * std::clamp(n.velocity, 1, 127) / 127.0;
        const std::string tip =
            Format("ch %d %s (%d) vel %d, track %d, %s", n.channel + 1, NoteName(n.note).c_str(),
                   n.note, n.velocity, n.track + 1, n.where.c_str());
        if (n.channel == 9) {
            const double cx = X(n.start);
            const double cy = drumTop + drumRow[n.note] * kDrumRow + kDrumRow / 2.0;
            const double r = kDrumRow / 2.0 - 0.5;
            s << "<polygon points=\"" << Num(cx) << "," << Num(cy - r) << " " << Num(cx + r) << ","
              << Num(cy) << " " << Num(cx) << "," << Num(cy + r) << " " << Num(cx - r) << ","
              << Num(cy) << "\" fill=\"" << kChannelColours[9] << "\" fill-opacity=\""
              << Num(opacity) << "\"><title>" << XmlEscape(tip) << "</title></polygon>\n";
        } else {
            const double x = X(n.start);
            const double w = std::max(1.5, X(n.end) - x);
            const int y = gridTop + (hi - n.note) * kNoteRow;
            s << "<rect x=\"" << Num(x) << "\" y=\"" << y + 0.5 << "\" width=\"" << Num(w)
              << "\" height=\"" << kNoteRow - 1 << "\" rx=\"1.5\" fill=\""
              << kChannelColours[n.channel] << "\" fill-opacity=\"" << Num(opacity)
              << "\" stroke=\"#333333\" stroke-width=\"0.3\"><title>" << XmlEscape(tip)
              << "</title></rect>\n";
        }
    }
    s << "</g>\n";
    if (m.notes.empty()) {
        s << "<text x=\"" << kLeft << "\" y=\"" << gridTop + 14
          << "\" font-size=\"12\">no notes</text>\n";
    }
    s << "</svg>\n";
    return s.str();
}

}  // namespace mfcli
