#include "roll_svg.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <map>
#include <set>
#include <sstream>

#include "common.h"
#include "describe.h"
#include "times.h"

using namespace midifolio;

namespace mfcli {

namespace {

// One colour per channel, from Kelly's colours of maximum contrast: on white, no two of them
// lie closer than 15.9 in CIEDE2000 (channels 4 and 16; the previous palette had 4.2, between
// channels 1 and 13). The strongest come first, as low channels are the most used; channel
// 10 (index 9), the drums, is near-black.
constexpr const char* kChannelColours[16] = {
    "#0067a5", "#be0032", "#008856", "#f38400", "#875692", "#f3c300", "#a1caf1", "#e68fac",
    "#848482", "#222222", "#8db600", "#654522", "#f99379", "#c2b280", "#2b3d26", "#e25822"};

constexpr int kLeft = 130;  // room for pitch and drum labels
constexpr int kRight = 16;
constexpr int kTitle = 24;
constexpr int kFacts = 18;      // the line of facts under the title
constexpr int kNoticeRow = 13;  // a line of the notice of a simplified picture
constexpr int kLegendRow = 16;
constexpr int kTempoRow = 26;    // tempo labels and the tempo curve
constexpr int kMeterRow = 12;    // time signatures
constexpr int kBarRow = 13;      // bar numbers
constexpr int kNoteRow = 7;      // pixels per semitone
constexpr int kDrumRow = 10;     // pixels per drum
constexpr int kGap = 14;         // between the melodic grid and the drum lane
constexpr int kSecondsRow = 24;  // the seconds axis below the grid
constexpr int kBottom = 6;

bool IsBlackKey(int note) {
    const int pc = note % 12;
    return pc == 1 || pc == 3 || pc == 6 || pc == 8 || pc == 10;
}

// A coordinate with one decimal, without a trailing ".0".
std::string Num(double v) {
    char text[40];
    const auto end = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, 1).ptr;
    std::string s(text, end);
    if (s.size() > 2 && s.compare(s.size() - 2, 2, ".0") == 0) s.resize(s.size() - 2);
    return s == "-0" ? "0" : s;
}

// Width of a text in pixels, near enough for sans-serif at a font size.
double TextWidth(const std::string& text, double fontSize) {
    size_t chars = 0;
    for (unsigned char c : text) chars += (c & 0xC0) != 0x80;
    return static_cast<double>(chars) * fontSize * 0.58;
}

// A label of the seconds axis: "0.5 s", "12 s", "1:05", "1:02:05".
std::string SecondsLabel(double s, double step, double duration) {
    if (step < 1) return Format("%.1f s", s);
    const long long v = std::llround(s);
    if (duration < 60) return Format("%lld s", v);
    if (duration < 3600) return Format("%lld:%02lld", v / 60, v % 60);
    return Format("%lld:%02lld:%02lld", v / 3600, v / 60 % 60, v % 60);
}

// The words of a text in lines no wider than `width` pixels.
std::vector<std::string> Wrap(const std::string& text, double width, double fontSize) {
    std::vector<std::string> lines(1);
    std::istringstream words(text);
    for (std::string word; words >> word;) {
        std::string& line = lines.back();
        if (!line.empty() && TextWidth(line + " " + word, fontSize) > width) {
            lines.push_back(word);
        } else {
            line += (line.empty() ? "" : " ") + word;
        }
    }
    return lines;
}

struct LegendLine {
    int channel;  // -1: a continuation of the line above
    std::string text;
    double x;
    int row;
};

// The legend: per channel its number and every program its notes use (the drums' channel
// says "drums"), laid out left to right in rows; an entry wider than a row goes on over more.
std::vector<LegendLine> LayOutLegend(const std::array<std::vector<uint8_t>, 16>& programs,
                                     const std::array<bool, 16>& used, double width) {
    std::vector<LegendLine> lines;
    double x = 8;
    int row = 0;
    const double room = width - 16;
    for (int ch = 0; ch < 16; ++ch) {
        const size_t c = static_cast<size_t>(ch);
        if (!used[c]) continue;
        std::vector<std::string> names;
        if (ch == PERCUSSION_CHANNEL) {
            names.push_back("drums");
        } else {
            for (uint8_t p : programs[c]) names.push_back(midifolio::names::ProgramName(p));
        }
        std::string text = "ch " + std::to_string(ch + 1) + " ";
        std::vector<std::string> wrapped;
        for (size_t i = 0; i < names.size(); ++i) {
            const std::string piece = names[i] + (i + 1 < names.size() ? "," : "");
            if (text.size() > 6 && 15 + TextWidth(text + " " + piece, 11) > room) {
                wrapped.push_back(text);
                text = "";
            }
            text += (text.empty() || text.back() == ' ' ? "" : " ") + piece;
        }
        wrapped.push_back(text);
        const double entry = 15 + TextWidth(wrapped.front(), 11) + 18;
        if (wrapped.size() > 1 || x + entry > width - 8) {
            if (x > 8) ++row;
            x = 8;
        }
        for (size_t i = 0; i < wrapped.size(); ++i) {
            lines.push_back({i == 0 ? ch : -1, wrapped[i], x, row});
            if (i + 1 < wrapped.size()) ++row;
        }
        if (wrapped.size() > 1) {
            ++row;
            x = 8;
        } else {
            x += entry;
        }
    }
    return lines;
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

RollStats RenderRollSvg(const RollModel& m, int width, Output& s) {
    const score::Score& score = *m.score;
    const score::TimeMap& timeMap = score.time_map();
    const score::MeterMap& meter = score.meter_map();
    const std::vector<score::Note>& notes = score.notes();
    RollStats stats;

    width = std::max(width, kLeft + kRight + 100);
    const double plotWidth = width - kLeft - kRight;
    int64_t endTicks = score.end_tick();
    for (const score::Note& n : notes) endTicks = std::max(endTicks, n.end_tick);
    endTicks = std::max<int64_t>(endTicks, 1);
    const double xScale = plotWidth / endTicks;
    auto X = [&](double tick) { return kLeft + std::clamp<double>(tick, 0, endTicks) * xScale; };
    const double duration = timeMap.seconds(endTicks);

    // Pitch range of the melodic notes, widened to whole octaves; the drums struck; the
    // programs of each channel in the order they are first heard.
    int lo = 128, hi = -1;
    std::set<int> drumNotes;
    std::array<bool, 16> used{};
    std::array<std::vector<uint8_t>, 16> programs;
    for (const score::Note& n : notes) {
        const size_t ch = n.channel & 15;
        used[ch] = true;
        if (n.channel == PERCUSSION_CHANNEL) {
            drumNotes.insert(n.pitch);
            ++stats.drumStrokes;
            continue;
        }
        ++stats.notes;
        lo = std::min<int>(lo, n.pitch);
        hi = std::max<int>(hi, n.pitch);
        if (std::find(programs[ch].begin(), programs[ch].end(), n.program) == programs[ch].end())
            programs[ch].push_back(n.program);
    }
    stats.simplified = notes.size() > kDetailedNotes;
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
    std::vector<std::string> notice;
    if (stats.simplified) {
        const std::string text =
            "Simplified: the notes of a channel that meet on a pitch row within a pixel are "
            "drawn as one run, channels that share a row each in a stripe of it, drum strokes "
            "within two pixels as one; no details on hover.";
        notice = Wrap(text, width - 16, 10);
    }
    const int factsHeight = kFacts + kNoticeRow * static_cast<int>(notice.size());
    const std::vector<LegendLine> legend = LayOutLegend(programs, used, width);
    const int legendRows = legend.empty() ? 0 : legend.back().row + 1;

    const int tempoTop = kTitle + factsHeight + legendRows * kLegendRow + 4;
    const int meterTop = tempoTop + kTempoRow;
    const int barTop = meterTop + kMeterRow;
    const int gridTop = barTop + kBarRow;
    const int gridHeight = pitchRows * kNoteRow;
    const int drumTop = gridTop + gridHeight + (melodic && !drumNotes.empty() ? kGap : 0);
    const int drumHeight = static_cast<int>(drumNotes.size()) * kDrumRow;
    const int gridBottom = std::max(drumTop + drumHeight, gridTop + 20);
    const int height = gridBottom + kSecondsRow + kBottom;

    s << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    s << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
      << "\" viewBox=\"0 0 " << width << " " << height << "\" font-family=\"sans-serif\">\n";
    s << "<title>" << XmlEscape(m.title) << "</title>\n";
    s << "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    s << "<text x=\"8\" y=\"18\" font-size=\"14\" font-weight=\"bold\">" << XmlEscape(m.title)
      << "</text>\n";
    std::string facts = Plural(static_cast<long long>(stats.notes), "note") + ", " +
                        Plural(static_cast<long long>(stats.drumStrokes), "drum stroke") + "; " +
                        ClockSeconds(duration) + ", " + Plural(score.bars(), "bar");
    s << "<text x=\"8\" y=\"" << kTitle + 10 << "\" font-size=\"10\" fill=\"#444444\">"
      << XmlEscape(facts) << "</text>\n";
    // A simplified picture says so, in lines as wide as the picture.
    for (size_t i = 0; i < notice.size(); ++i) {
        s << "<text x=\"8\" y=\"" << kTitle + 10 + kNoticeRow * static_cast<int>(i + 1)
          << "\" font-size=\"10\" font-weight=\"bold\" fill=\"#b00020\">" << notice[i]
          << "</text>\n";
    }

    // Legend.
    for (const LegendLine& line : legend) {
        const double x = line.x;
        const int y = kTitle + factsHeight + line.row * kLegendRow;
        if (line.channel == PERCUSSION_CHANNEL) {
            s << "<path d=\"M" << Num(x + 5) << " " << y << "l5 5-5 5-5-5z\" fill=\""
              << kChannelColours[PERCUSSION_CHANNEL] << "\"/>\n";
        } else if (line.channel >= 0) {
            s << "<rect x=\"" << Num(x) << "\" y=\"" << y << "\" width=\"10\" height=\"10\" fill=\""
              << kChannelColours[line.channel] << "\" stroke=\"#333333\" stroke-width=\"0.3\"/>\n";
        }
        s << "<text x=\"" << Num(x + 15) << "\" y=\"" << y + 9 << "\" font-size=\"11\">"
          << XmlEscape(line.text) << "</text>\n";
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
        std::string name = "note " + std::to_string(note);
        for (const auto& dn : m.drumNames) {
            if (dn.first == note) name = dn.second;
        }
        s << "<text x=\"" << kLeft - 7 << "\" y=\"" << y + kDrumRow - 2
          << "\" font-size=\"8\" text-anchor=\"end\">" << XmlEscape(name) << "</text>\n";
    }
    s << "</g>\n";

    // Captions of the rows above and below the grid.
    s << "<g font-size=\"8\" fill=\"#777777\" text-anchor=\"end\">\n";
    s << "<text x=\"" << kLeft - 7 << "\" y=\"" << meterTop + 9 << "\">time signature</text>\n";
    s << "<text x=\"" << kLeft - 7 << "\" y=\"" << barTop + 10 << "\">bar</text>\n";
    s << "<text x=\"" << kLeft - 7 << "\" y=\"" << gridBottom + 15 << "\">seconds</text>\n";
    s << "</g>\n";

    // Bars as the time signatures lay them out: a line at each bar (where bars are at least 3
    // pixels apart), a number over those that have room for it; the time signatures above.
    s << "<g id=\"bars\" font-size=\"9\" fill=\"#555555\">\n";
    {
        const int32_t bars = std::max(score.bars(), 1);
        const double labelWidth = TextWidth(std::to_string(bars), 9) + 6;
        int32_t step = 1;
        for (int32_t k = 0; plotWidth / bars * step < labelWidth; ++k) {
            static const int32_t kSteps[3] = {2, 5, 10};
            step = kSteps[k % 3];
            for (int i = 0; i < k / 3; ++i) step *= 10;
        }
        // Every bar of a song of up to 100,000 bars; past that, the numbered ones.
        const int32_t stride = bars > 100000 ? step : 1;
        double lastLine = -1e9, lastLabel = -1e9;
        for (int64_t b = 1; b <= int64_t{bars} + 1; b += stride) {
            const double tick = meter.bar_start(static_cast<int32_t>(b));
            if (tick > endTicks + 1e-6) break;
            const double x = X(tick);
            const bool label = b <= bars && (b - 1) % step == 0 && x >= lastLabel;
            if (label || x >= lastLine + 3) {
                s << "<line x1=\"" << Num(x) << "\" y1=\"" << gridTop << "\" x2=\"" << Num(x)
                  << "\" y2=\"" << gridBottom << "\" stroke=\"" << (label ? "#b0b0b0" : "#dddddd")
                  << "\" stroke-width=\"0.8\"/>\n";
                lastLine = x;
            }
            if (label) {
                s << "<text x=\"" << Num(x + 2) << "\" y=\"" << barTop + 10 << "\">" << b
                  << "</text>\n";
                lastLabel = x + 2 + TextWidth(std::to_string(b), 9) + 4;
            }
        }
        double lastMeter = -1e9;
        for (const score::MeterMap::Meter& mt : meter.meters()) {
            const double x = X(mt.tick);
            if (mt.tick > endTicks || x < lastMeter) continue;
            const std::string text = Format(
                "%u/%u", mt.numerator, mt.denominator_power < 32 ? 1u << mt.denominator_power : 0u);
            s << "<text x=\"" << Num(x + 2) << "\" y=\"" << meterTop + 9 << "\" fill=\"#1f4e79\">"
              << text << "</text>\n";
            lastMeter = x + 2 + TextWidth(text, 9) + 6;
        }
    }
    s << "</g>\n";

    // Tempo: a curve of the beats per minute between the lowest and the highest tempo, and a
    // label at each change there is room for (a label is left out rather than drawn over
    // another).
    {
        const std::vector<score::TempoChange>& segments = timeMap.segments();
        double lowBpm = 1e300, highBpm = 0;
        for (const score::TempoChange& t : segments) {
            if (t.tick > endTicks) break;
            lowBpm = std::min(lowBpm, t.bpm());
            highBpm = std::max(highBpm, t.bpm());
        }
        const double curveTop = tempoTop + 12, curveHeight = kTempoRow - 14;
        auto Y = [&](double bpm) {
            return highBpm > lowBpm ? curveTop + (highBpm - bpm) / (highBpm - lowBpm) * curveHeight
                                    : curveTop + curveHeight / 2;
        };
        s << "<g id=\"tempo\" font-size=\"9\" fill=\"#a0522d\">\n";
        s << "<text x=\"" << kLeft - 7 << "\" y=\"" << tempoTop + 9
          << "\" font-size=\"8\" fill=\"#777777\" text-anchor=\"end\">tempo (BPM)</text>\n";
        if (highBpm > 0) {
            const std::string range = highBpm - lowBpm >= 0.005
                                          ? Format("%.0f..%.0f", lowBpm, highBpm)
                                          : Format("%.0f", lowBpm);
            s << "<text x=\"" << kLeft - 7 << "\" y=\"" << tempoTop + 20
              << "\" font-size=\"8\" fill=\"#777777\" text-anchor=\"end\">" << range << "</text>\n";
            // The curve, a pixel column at a time: the lowest and highest tempo of a column
            // and the one it ends with.
            std::string d = "M" + Num(X(0)) + " " + Num(Y(segments.front().bpm()));
            double column = std::floor(X(0));
            double colLow = segments.front().bpm(), colHigh = colLow, current = colLow;
            auto flush = [&](double untilX) {
                d += "H" + Num(column);
                if (colHigh > colLow) d += "V" + Num(Y(colHigh)) + "V" + Num(Y(colLow));
                d += "V" + Num(Y(current)) + "H" + Num(untilX);
            };
            for (size_t i = 1; i < segments.size() && segments[i].tick <= endTicks; ++i) {
                const double x = X(segments[i].tick);
                const double bpm = segments[i].bpm();
                if (std::floor(x) != column) {
                    flush(x);
                    column = std::floor(x);
                    colLow = colHigh = current;
                }
                colLow = std::min(colLow, bpm);
                colHigh = std::max(colHigh, bpm);
                current = bpm;
            }
            flush(X(endTicks));
            s << "<path d=\"" << d << "\" fill=\"none\" stroke=\"#a0522d\" stroke-width=\"1\"/>\n";
            double lastEnd = -1e9;
            long lastShown = -1;
            for (const score::TempoChange& t : segments) {
                if (t.tick > endTicks) break;
                const double x = X(t.tick);
                const long bpm = std::lround(t.bpm());
                const double w = TextWidth("_=" + std::to_string(bpm), 9);
                if (x < lastEnd || bpm == lastShown || x + 2 + w > width) continue;
                const std::string text = "&#9833;=" + std::to_string(bpm);
                s << "<text x=\"" << Num(x + 2) << "\" y=\"" << tempoTop + 9 << "\">" << text
                  << "</text>\n";
                lastEnd = x + 2 + w + 6;
                lastShown = bpm;
            }
        }
        s << "</g>\n";
    }

    // The seconds axis, exact through every tempo change: a mark at each step of a round
    // number of seconds, labelled where there is room.
    {
        static const double kSteps[] = {0.1, 0.2, 0.5, 1,   2,   5,    10,   15,   30,
                                        60,  120, 300, 600, 900, 1800, 3600, 7200, 18000};
        double step = kSteps[0];
        for (double candidate : kSteps) {
            step = candidate;
            if (duration / candidate * 50 <= plotWidth) break;
        }
        s << "<g id=\"seconds\" font-size=\"9\" fill=\"#555555\">\n";
        s << "<line x1=\"" << kLeft << "\" y1=\"" << gridBottom << "\" x2=\""
          << Num(kLeft + plotWidth) << "\" y2=\"" << gridBottom
          << "\" stroke=\"#888888\" stroke-width=\"0.8\"/>\n";
        double lastMark = -1e9, lastLabel = -1e9;
        for (long long k = 0; std::isfinite(duration) && k * step <= duration + 1e-9 && k < 100000;
             ++k) {
            const double sec = static_cast<double>(k) * step;
            const double x = X(timeMap.ticks(sec));
            if (x < lastMark + 3) continue;
            s << "<line x1=\"" << Num(x) << "\" y1=\"" << gridBottom << "\" x2=\"" << Num(x)
              << "\" y2=\"" << gridBottom + 4 << "\" stroke=\"#888888\" stroke-width=\"0.8\"/>\n";
            lastMark = x;
            const std::string text = SecondsLabel(sec, step, duration);
            const double w = TextWidth(text, 9);
            // Centred on its mark, but kept within the plot.
            const double left = std::clamp(x - w / 2, double{kLeft}, width - w);
            if (left >= lastLabel) {
                s << "<text x=\"" << Num(left) << "\" y=\"" << gridBottom + 14 << "\">" << text
                  << "</text>\n";
                lastLabel = left + w + 8;
            }
        }
        s << "</g>\n";
    }

    // Notes: a bar per melodic note, a diamond per drum stroke; tooltips say what and where.
    s << "<g id=\"notes\">\n";
    auto rowY = [&](int pitch) { return gridTop + (hi - pitch) * kNoteRow; };
    auto drumY = [&](int pitch) { return drumTop + drumRow[pitch] * kDrumRow + kDrumRow / 2.0; };
    const double r = kDrumRow / 2.0 - 0.5;
    if (!stats.simplified) {
        for (const score::Note& n : notes) {
            const double opacity = 0.45 + 0.55 * std::clamp<int>(n.velocity, 1, 127) / 127.0;
            const bool drum = n.channel == PERCUSSION_CHANNEL;
            std::string tip = Format(
                "ch %d %s: %s (%d) vel %d, track %d, bar %s, %s s", n.channel + 1,
                (drum ? std::string(midifolio::names::DrumName(n.pitch))
                      : std::string(midifolio::names::ProgramName(n.program)))
                    .c_str(),
                NoteName(n.pitch).c_str(), n.pitch, n.velocity, n.track + 1,
                BarText(meter.at(static_cast<double>(n.start_tick)), m.ticksPerQuarter).c_str(),
                SecondsText(n.start, 3).c_str());
            if (!drum) tip += " to " + SecondsText(n.end, 3) + " s";
            if (drum) {
                const double cx = X(n.start_tick), cy = drumY(n.pitch);
                s << "<path d=\"M" << Num(cx) << " " << Num(cy - r) << "l" << Num(r) << " "
                  << Num(r) << "-" << Num(r) << " " << Num(r) << "-" << Num(r) << "-" << Num(r)
                  << "z\" fill=\"" << kChannelColours[PERCUSSION_CHANNEL] << "\" fill-opacity=\""
                  << Num(opacity) << "\"><title>" << XmlEscape(tip) << "</title></path>\n";
            } else {
                const double x = X(n.start_tick);
                const double w = std::max(1.5, X(n.end_tick) - x);
                s << "<rect x=\"" << Num(x) << "\" y=\"" << Num(rowY(n.pitch) + 0.5)
                  << "\" width=\"" << Num(w) << "\" height=\"" << kNoteRow - 1
                  << "\" rx=\"1.5\" fill=\"" << kChannelColours[n.channel & 15]
                  << "\" fill-opacity=\"" << Num(opacity)
                  << "\" stroke=\"#333333\" stroke-width=\"0.3\"><title>" << XmlEscape(tip)
                  << "</title></rect>\n";
            }
            ++stats.shapes;
        }
    } else {
        // Runs: per channel and pitch row, notes that meet within a pixel become one run;
        // per drum row, strokes within two pixels of the one before are one diamond. Notes
        // come by start tick, so a row's runs grow from left to right.
        // A pitch row that several channels play is shared among them: each draws its runs
        // in a stripe of its own, so that none hides another.
        struct Run {
            double x0 = 0, x1 = -1e9;
        };
        std::vector<Run> open(16 * 128);
        std::array<std::string, 16> paths;
        std::array<std::array<uint8_t, 16>, 128> stripe{};  // channel's stripe in a row
        std::array<uint8_t, 128> stripes{};                 // channels playing in a row
        for (const score::Note& n : notes) {
            const size_t ch = n.channel & 15, pitch = n.pitch & 127;
            if (ch != PERCUSSION_CHANNEL && stripe[pitch][ch] == 0)
                stripe[pitch][ch] = ++stripes[pitch];
        }
        auto close = [&](size_t ch, int pitch, const Run& run) {
            if (run.x1 < run.x0) return;
            const size_t p = static_cast<size_t>(pitch);
            const double h = (kNoteRow - 1.0) / stripes[p];
            paths[ch] += "M" + Num(run.x0) + " " +
                         Num(rowY(pitch) + 0.5 + h * (stripe[p][ch] - 1)) + "h" +
                         Num(run.x1 - run.x0) + "v" + Num(h) + "h-" + Num(run.x1 - run.x0) + "z";
            ++stats.shapes;
        };
        for (const score::Note& n : notes) {
            const size_t ch = n.channel & 15;
            Run& run = open[ch * 128 + (n.pitch & 127)];
            const double x0 = X(n.start_tick);
            if (n.channel == PERCUSSION_CHANNEL) {
                if (x0 < run.x1 + 2) continue;
                const double cy = drumY(n.pitch);
                paths[ch] += "M" + Num(x0) + " " + Num(cy - r) + "l" + Num(r) + " " + Num(r) + "-" +
                             Num(r) + " " + Num(r) + "-" + Num(r) + "-" + Num(r) + "z";
                run.x1 = x0;
                ++stats.shapes;
                continue;
            }
            const double x1 = std::max(x0 + 1.5, X(n.end_tick));
            if (x0 > run.x1 + 1) {
                close(ch, n.pitch, run);
                run = {x0, x1};
            } else {
                run.x1 = std::max(run.x1, x1);
            }
        }
        for (size_t ch = 0; ch < 16; ++ch) {
            for (int pitch = 0; pitch < 128; ++pitch) {
                if (ch != PERCUSSION_CHANNEL) close(ch, pitch, open[ch * 128 + pitch]);
            }
            if (paths[ch].empty()) continue;
            s << "<path d=\"" << paths[ch] << "\" fill=\"" << kChannelColours[ch]
              << "\" fill-opacity=\"0.9\"><title>ch " << ch + 1 << "</title></path>\n";
        }
    }
    s << "</g>\n";
    if (notes.empty()) {
        s << "<text x=\"" << kLeft + 4 << "\" y=\"" << gridTop + 14
          << "\" font-size=\"12\">no notes</text>\n";
    }
    s << "</svg>\n";
    return stats;
}

}  // namespace mfcli
