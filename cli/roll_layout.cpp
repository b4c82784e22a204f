#include "roll_layout.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "midifolio/names.h"
#include "roll_density.h"
#include "roll_text.h"

using namespace midifolio;

namespace mfcli {

namespace {

constexpr int kLeft = 130;  // room for pitch and drum labels
constexpr int kRight = 16;
constexpr int kMargin = 8;       // between the picture's edge and the header's texts
constexpr int kTitle = 24;       // the title's line
constexpr int kFacts = 18;       // the line of facts under it
constexpr int kCaptionRow = 13;  // a line of a density picture's caption
constexpr int kLegendRow = 16;
constexpr int kTempoRow = 26;    // tempo labels and the tempo curve
constexpr int kMeterRow = 12;    // time signatures
constexpr int kBarRow = 13;      // bar numbers
constexpr int kNoteRow = 7;      // pixels per semitone
constexpr int kDrumRow = 10;     // pixels per drum
constexpr int kGap = 14;         // between the melodic grid and the drum lane
constexpr int kSecondsRow = 24;  // the seconds axis below the grid
constexpr int kBottom = 6;
constexpr double kLegendFont = 11;
const char* const kOutline = "#333333";
const char* const kMuted = "#777777";

// Where things go: the time scale, the rows of pitches and drums, the bands from top to bottom.
struct Frame {
    int width = 0;
    double right = 0;         // the plot runs from kLeft to here
    double from = 0, to = 1;  // ticks
    double scale = 1;         // pixels per tick
    int lo = 0, hi = -1;      // melodic pitches, whole octaves (none when hi < lo)
    std::vector<int> drums;   // the drums struck, highest note first
    std::array<int, 128> drumRow{};
    bool density = false;
    int tempoTop = 0, meterTop = 0, barTop = 0, gridTop = 0, drumTop = 0, gridBottom = 0;
    int height = 0;

    double X(double tick) const { return kLeft + (std::clamp(tick, from, to) - from) * scale; }
    double PlotWidth() const { return right - kLeft; }
    int PitchRows() const { return hi >= lo ? hi - lo + 1 : 0; }
    int Rows() const { return PitchRows() + static_cast<int>(drums.size()); }
    int RowTop(int pitch) const { return gridTop + (hi - pitch) * kNoteRow; }
    int DrumTop(int pitch) const {
        return drumTop + drumRow[static_cast<size_t>(pitch)] * kDrumRow;
    }
};

TextShape Label(double x, double y, std::string text, double size, std::string fill = "#000000",
                Anchor anchor = Anchor::kStart) {
    TextShape t;
    t.x = x;
    t.y = y;
    t.text = std::move(text);
    t.size = size;
    t.fill = std::move(fill);
    t.anchor = anchor;
    return t;
}

LineShape Rule(double x1, double y1, double x2, double y2, std::string stroke, double width) {
    return LineShape{x1, y1, x2, y2, std::move(stroke), width};
}

BoxShape Box(double x, double y, double w, double h, std::string fill) {
    BoxShape b;
    b.x = x;
    b.y = y;
    b.w = w;
    b.h = h;
    b.fill = std::move(fill);
    return b;
}

// The time scale and the rows: melodic pitches widened to whole octaves, one row per drum.
Frame MakeFrame(const RollSong& song, int width) {
    Frame f;
    f.width = std::max(width, kLeft + kRight + 100);
    f.right = f.width - kRight;
    f.from = static_cast<double>(song.fromTick);
    f.to = static_cast<double>(song.toTick);
    f.scale = f.PlotWidth() / (f.to - f.from);
    RollRows rows = RowsOf(song);
    if (rows.hi >= 0) f.lo = rows.lo, f.hi = rows.hi;
    f.drumRow.fill(-1);
    for (int p : rows.drums) {
        f.drumRow[static_cast<size_t>(p)] = static_cast<int>(f.drums.size());
        f.drums.push_back(p);
    }
    // Density when the notes are too many for the elements of a picture, or for its pixels.
    const double cells = f.PlotWidth() * std::max(f.Rows(), 1) / 4.0;
    f.density =
        song.notes.size() > kDetailedNotes || static_cast<double>(song.notes.size()) > cells;
    return f;
}

// ------------------------------------------------------------------ header and legend

// Notes in unison share their row in stripes of whole pixels, one per key, as long as each
// stripe keeps two pixels; more are drawn grey, as the legend says.
constexpr int kMostStripes = (kNoteRow - 1) / 2;

bool SeveralInUnison(const RollNote& n) {
    return !n.drum() && n.stripes > kMostStripes;
}

struct LegendEntry {
    enum Kind { kBox, kDiamond, kMark, kText } kind = kBox;
    std::string colour;
    std::string text;
    int level = 0;  // kMark: the density level it shows
};

// One entry per key (the drums' channel with a diamond), and in a density picture the marks
// of each level and the colour of a pixel no key leads.
std::vector<LegendEntry> LegendEntries(const RollSong& song, bool density) {
    std::vector<LegendEntry> entries;
    for (const RollKey& key : song.keys) {
        const bool diamond = !density && (key.channel == 9 || key.drums);
        entries.push_back(
            {diamond ? LegendEntry::kDiamond : LegendEntry::kBox, key.colour, key.label, 0});
    }
    if (!density) {
        if (std::any_of(song.notes.begin(), song.notes.end(), SeveralInUnison))
            entries.push_back({LegendEntry::kBox, kMixedColour, "several in unison", 0});
        return entries;
    }
    entries.push_back({LegendEntry::kBox, kMixedColour, "none leads", 0});
    entries.push_back({LegendEntry::kText, "", "notes per pixel:", 0});
    for (int level = 1; level <= kDensityLevels; ++level)
        entries.push_back({LegendEntry::kMark, kMuted, DensityLevelLabel(level), level});
    return entries;
}

// The height of a density mark of a level in a row of `inner` pixels.
int MarkHeight(int level, int inner) {
    static const double kShare[kDensityLevels] = {0.34, 0.5, 0.75, 1.0};
    return std::max(1, static_cast<int>(std::lround(kShare[level - 1] * inner)));
}

// The legend, left to right in rows; an entry wider than a row goes on over more rows.
// Returns the rows used.
int PlaceLegend(const std::vector<LegendEntry>& entries, int width, int top, Layer& layer) {
    const double room = width - 2 * kMargin - 15;
    double x = kMargin;
    int row = 0;
    for (const LegendEntry& e : entries) {
        const double swatch = e.kind == LegendEntry::kText ? 0 : 15;
        const std::vector<std::string> lines = WrapText(e.text, room, kLegendFont);
        const double entry = swatch + TextWidth(lines.front(), kLegendFont) + 18;
        if (x > kMargin && (lines.size() > 1 || x + entry > width - kMargin)) {
            ++row;
            x = kMargin;
        }
        const double y = top + row * kLegendRow;
        if (e.kind == LegendEntry::kBox) {
            BoxShape b = Box(x, y, 10, 10, e.colour);
            b.stroke = kOutline;
            b.strokeWidth = 0.4;
            layer.shapes.push_back(b);
        } else if (e.kind == LegendEntry::kDiamond) {
            layer.shapes.push_back(DiamondShape{x + 5, y + 5, 5, e.colour, "", 0, ""});
        } else if (e.kind == LegendEntry::kMark) {
            const int h = MarkHeight(e.level, 10);
            layer.shapes.push_back(Box(x + 2, y + 10 - h, 6, h, e.colour));
        }
        for (size_t i = 0; i < lines.size(); ++i)
            layer.shapes.push_back(
                Label(x + swatch, y + 9 + kLegendRow * i, lines[i], kLegendFont));
        row += static_cast<int>(lines.size()) - 1;
        x = lines.size() > 1 ? width : x + entry;
    }
    return entries.empty() ? 0 : row + 1;
}

// Title, facts, a density picture's caption and the legend; returns where they end.
int HeaderLayer(const RollSong& song, const Frame& f, Picture& picture) {
    Layer layer{"header", {}, false};
    const double room = f.width - 2 * kMargin;
    TextShape title = Label(kMargin, 18, FitText(song.title, room, 14, true), 14);
    title.bold = true;
    layer.shapes.push_back(title);
    layer.shapes.push_back(
        Label(kMargin, kTitle + 10, FitText(FactsLine(song), room, 10), 10, "#444444"));
    int y = kTitle + kFacts;
    if (f.density) {
        const std::string caption =
            DensityCaption(song.notes.size(), f.PlotWidth(), f.Rows(), song);
        for (const std::string& line : WrapText(caption, room, 10, true)) {
            TextShape t = Label(kMargin, y + 10, line, 10, "#b00020");
            t.bold = true;
            layer.shapes.push_back(t);
            y += kCaptionRow;
        }
    }
    const int rows = PlaceLegend(LegendEntries(song, f.density), f.width, y, layer);
    picture.layers.push_back(std::move(layer));
    return y + rows * kLegendRow;
}

void PlaceBands(Frame& f, int headerBottom) {
    f.tempoTop = headerBottom + 4;
    f.meterTop = f.tempoTop + kTempoRow;
    f.barTop = f.meterTop + kMeterRow;
    f.gridTop = f.barTop + kBarRow;
    const int melodic = f.PitchRows() * kNoteRow;
    f.drumTop = f.gridTop + melodic + (melodic > 0 && !f.drums.empty() ? kGap : 0);
    const int drums = static_cast<int>(f.drums.size()) * kDrumRow;
    f.gridBottom = std::max(f.drumTop + drums, f.gridTop + 20);
    f.height = f.gridBottom + kSecondsRow + kBottom;
}

// ------------------------------------------------------------------ rows and axes

// Pitch rows (black keys shaded, a label at every C), drum rows with their names, and the
// captions of the rows above and below.
Layer RowsLayer(const Frame& f) {
    Layer layer{"rows", {}, true};
    const double w = f.PlotWidth();
    for (int note = f.hi; note >= f.lo; --note) {
        const int y = f.RowTop(note);
        const int pc = note % 12;
        const bool black = pc == 1 || pc == 3 || pc == 6 || pc == 8 || pc == 10;
        layer.shapes.push_back(Box(kLeft, y, w, kNoteRow, black ? "#ececec" : "#fafafa"));
        if (pc != 0) continue;
        layer.shapes.push_back(Rule(kLeft, y + kNoteRow, f.right, y + kNoteRow, "#c8c8c8", 0.6));
        layer.shapes.push_back(
            Label(kLeft - 7, y + kNoteRow, names::PitchName(note), 9, "#000000", Anchor::kEnd));
    }
    for (int pitch : f.drums) {
        const int y = f.DrumTop(pitch);
        const bool odd = f.drumRow[static_cast<size_t>(pitch)] % 2;
        layer.shapes.push_back(Box(kLeft, y, w, kDrumRow, odd ? "#f1f3f5" : "#f8f9fa"));
        layer.shapes.push_back(Label(kLeft - 7, y + kDrumRow - 2,
                                     FitText(DrumRowName(pitch), kLeft - 12, 8), 8, "#000000",
                                     Anchor::kEnd));
    }
    const double cx = kLeft - 7;
    layer.shapes.push_back(Label(cx, f.tempoTop + 9, "tempo (BPM)", 8, kMuted, Anchor::kEnd));
    layer.shapes.push_back(Label(cx, f.meterTop + 9, "time signature", 8, kMuted, Anchor::kEnd));
    layer.shapes.push_back(Label(cx, f.barTop + 10, "bar", 8, kMuted, Anchor::kEnd));
    layer.shapes.push_back(Label(cx, f.gridBottom + 15, "seconds", 8, kMuted, Anchor::kEnd));
    return layer;
}

// The step between numbered bars: 1, 2, 5, 10, 20, 50 ... so that numbers do not crowd.
int32_t BarStep(double barWidth, double labelWidth) {
    int64_t step = 1;
    for (int k = 0; barWidth * static_cast<double>(step) < labelWidth && step < (1 << 30); ++k) {
        static const int kSteps[3] = {2, 5, 10};
        step = kSteps[k % 3];
        for (int i = 0; i < k / 3; ++i) step *= 10;
    }
    return static_cast<int32_t>(step);
}

// A line at each beat where beats lie 8 pixels apart or more, under the bar lines.
void BeatLines(const RollSong& song, const Frame& f, Layer& layer) {
    for (size_t i = 0; i < song.meters.size(); ++i) {
        const RollMeter& m = song.meters[i];
        const double end = i + 1 < song.meters.size() ? song.meters[i + 1].tick : f.to;
        if (end <= f.from || m.tick >= f.to || m.beatTicks * f.scale < 8) continue;
        const double first = std::max(0.0, std::ceil((f.from - m.tick) / m.beatTicks));
        for (double k = first; m.tick + k * m.beatTicks < std::min(end, f.to); ++k) {
            if (std::fmod(k, m.numerator) == 0) continue;  // a bar line goes there
            const double x = f.X(m.tick + k * m.beatTicks);
            layer.shapes.push_back(Rule(x, f.gridTop, x, f.gridBottom, "#ebebeb", 0.6));
        }
    }
}

// Bars as the meters lay them out: a line at each bar (where bars are 3 pixels apart or
// more), a number over those with room; the time signatures above, where they change.
Layer BarsLayer(const RollSong& song, const Frame& f) {
    Layer layer{"bars", {}, false};
    BeatLines(song, f, layer);
    const int32_t first = song.meter.at(f.from).bar;
    const int32_t last = song.meter.at(std::max(f.from, f.to - 1)).bar;
    const double labelWidth = TextWidth(std::to_string(last), 9) + 6;
    const int32_t step = BarStep(f.PlotWidth() / std::max(1, last - first + 1), labelWidth);
    const int32_t stride = last - first > 100000 ? step : 1;  // past that, the numbered ones
    double lastLine = -1e9, lastLabel = -1e9;
    for (int64_t b = first - (first - 1) % stride; b <= int64_t{last} + 1; b += stride) {
        const double tick = song.meter.bar_start(static_cast<int32_t>(b));
        if (tick > f.to + 1e-6) break;
        const double x = f.X(tick);
        const std::string number = std::to_string(b);
        const bool label = b <= last && (b - 1) % step == 0 && x >= lastLabel &&
                           x + 2 + TextWidth(number, 9) <= f.width - 2;
        if (tick >= f.from && (label || x >= lastLine + 3)) {
            layer.shapes.push_back(
                Rule(x, f.gridTop, x, f.gridBottom, label ? "#b0b0b0" : "#dddddd", 0.8));
            lastLine = x;
        }
        if (label) {
            layer.shapes.push_back(
                Label(std::max<double>(x, kLeft) + 2, f.barTop + 10, number, 9, "#555555"));
            lastLabel = std::max<double>(x, kLeft) + 2 + TextWidth(number, 9) + 4;
        }
    }
    double lastMeter = -1e9;
    for (const RollMeter& m : song.meters) {
        const std::string text = MeterLabel(m.numerator, m.denominator);
        const double x = std::max<double>(f.X(static_cast<double>(m.tick)), kLeft) + 2;
        const double w = TextWidth(text, 9);
        if (m.tick >= f.to || x < lastMeter || x + w > f.width - 2) continue;
        layer.shapes.push_back(Label(x, f.meterTop + 9, text, 9, "#1f4e79"));
        lastMeter = x + w + 6;
    }
    return layer;
}

// The tempo segments that overlap the stretch shown.
std::pair<size_t, size_t> TemposShown(const RollSong& song, const Frame& f) {
    size_t first = 0;
    while (first + 1 < song.tempos.size() && song.tempos[first + 1].tick <= f.from) ++first;
    size_t end = first;
    while (end < song.tempos.size() && song.tempos[end].tick < f.to) ++end;
    return {first, std::max(end, first + 1)};
}

// The tempo curve a pixel column at a time: the lowest and highest tempo of a column and the
// one it ends with.
PolylineShape TempoCurve(const RollSong& song, const Frame& f, size_t first, size_t end, double low,
                         double high) {
    const double top = f.tempoTop + 12, height = kTempoRow - 14;
    auto Y = [&](double bpm) {
        return high > low ? top + (high - bpm) / (high - low) * height : top + height / 2;
    };
    PolylineShape curve{{}, "#a0522d", 1};
    double current = song.tempos[first].bpm(), column = std::floor(f.X(f.from));
    double colLow = current, colHigh = current;
    curve.points.emplace_back(f.X(f.from), Y(current));
    auto flush = [&](double untilX) {
        curve.points.emplace_back(column, curve.points.back().second);
        if (colHigh > colLow) {
            curve.points.emplace_back(column, Y(colHigh));
            curve.points.emplace_back(column, Y(colLow));
        }
        curve.points.emplace_back(column, Y(current));
        curve.points.emplace_back(untilX, Y(current));
    };
    for (size_t i = first + 1; i < end; ++i) {
        const double x = f.X(static_cast<double>(song.tempos[i].tick));
        const double bpm = song.tempos[i].bpm();
        if (std::floor(x) != column) {
            flush(x);
            column = std::floor(x);
            colLow = colHigh = current;
        }
        colLow = std::min(colLow, bpm);
        colHigh = std::max(colHigh, bpm);
        current = bpm;
    }
    flush(f.X(f.to));
    return curve;
}

// Tempo: the curve between the lowest and highest tempo shown, the range on the left, and a
// label at each change there is room for (a label is left out rather than drawn over another).
Layer TempoLayer(const RollSong& song, const Frame& f) {
    Layer layer{"tempo", {}, false};
    const auto [first, end] = TemposShown(song, f);
    double low = 1e300, high = 0;
    for (size_t i = first; i < end; ++i) {
        low = std::min(low, song.tempos[i].bpm());
        high = std::max(high, song.tempos[i].bpm());
    }
    if (!(high > 0)) return layer;
    layer.shapes.push_back(
        Label(kLeft - 7, f.tempoTop + 20, TempoRangeLabel(low, high), 8, kMuted, Anchor::kEnd));
    layer.shapes.push_back(TempoCurve(song, f, first, end, low, high));
    double lastEnd = -1e9;
    long lastShown = -1;
    for (size_t i = first; i < end; ++i) {
        const RollTempo& t = song.tempos[i];
        const double x = std::max<double>(f.X(static_cast<double>(t.tick)), kLeft) + 2;
        const long bpm = std::lround(t.bpm());
        const std::string text = TempoLabel(t.bpm());
        const double w = TextWidth(text, 9);
        if (x < lastEnd || bpm == lastShown || x + w > f.width - 2) continue;
        layer.shapes.push_back(Label(x, f.tempoTop + 9, text, 9, "#a0522d"));
        lastEnd = x + w + 6;
        lastShown = bpm;
    }
    return layer;
}

// The seconds axis, exact through every tempo change: a mark at each step of a round number of
// seconds, labelled where there is room; labels stay inside the picture.
Layer SecondsLayer(const RollSong& song, const Frame& f) {
    Layer layer{"seconds", {}, false};
    const double start = song.Seconds(f.from), stop = song.Seconds(f.to);
    const double duration = stop - start;
    static const double kSteps[] = {0.1, 0.2, 0.5, 1,   2,   5,    10,   15,   30,
                                    60,  120, 300, 600, 900, 1800, 3600, 7200, 18000};
    double step = kSteps[0];
    for (double candidate : kSteps) {
        step = candidate;
        if (duration / candidate * 50 <= f.PlotWidth()) break;
    }
    const int y = f.gridBottom;
    layer.shapes.push_back(Rule(kLeft, y, f.right, y, "#888888", 0.8));
    double lastMark = -1e9, lastLabel = -1e9;
    const double k0 = std::isfinite(start) ? std::ceil(start / step - 1e-9) : 0;
    for (double k = k0; std::isfinite(stop) && k * step <= stop + 1e-9 && k < k0 + 100000; ++k) {
        const double sec = k * step;
        const double x = f.X(song.time.ticks(sec));
        if (x < lastMark + 3) continue;
        layer.shapes.push_back(Rule(x, y, x, y + 4, "#888888", 0.8));
        lastMark = x;
        const std::string text = SecondsLabel(sec, step, stop);
        const double w = TextWidth(text, 9);
        const double left = std::clamp(x - w / 2, double{kLeft}, f.width - 2 - w);
        if (left < lastLabel) continue;
        layer.shapes.push_back(Label(left, y + 14, text, 9, "#555555"));
        lastLabel = left + w + 8;
    }
    return layer;
}

// ------------------------------------------------------------------ notes

// A box per melodic note, a diamond per drum stroke, in the key's colour and opaque, so that
// every colour drawn is one of the legend's; a note wide enough for it is outlined.
void DetailedNotes(const RollSong& song, const Frame& f, Layer& layer, RollStats& stats) {
    const double r = kDrumRow / 2.0 - 0.5;
    for (const RollNote& n : song.notes) {
        const std::string& colour = song.keys[n.key].colour;
        const double x = f.X(static_cast<double>(n.startTick));
        if (n.drum()) {
            const double cy = f.DrumTop(n.pitch) + kDrumRow / 2.0;
            layer.shapes.push_back(DiamondShape{x, cy, r, colour, "", 0, NoteDescription(song, n)});
        } else {
            const double w = std::max(1.5, f.X(static_cast<double>(n.endTick)) - x);
            const bool striped = n.stripes > 1 && !SeveralInUnison(n);
            const double h = striped ? (kNoteRow - 1.0) / n.stripes : kNoteRow - 1.0;
            const double y = f.RowTop(n.pitch) + (striped ? 1 + h * n.stripe : 0.5);
            BoxShape b = Box(x, y, w, h, SeveralInUnison(n) ? kMixedColour : colour);
            if (w >= 4) {
                b.stroke = kOutline;
                b.strokeWidth = 0.5;
                b.rx = std::min(1.5, h / 3);
            }
            b.tip = NoteDescription(song, n);
            layer.shapes.push_back(std::move(b));
        }
        ++stats.shapes;
    }
}

// Density: per row and pixel column a mark as high as the notes there are many, in the
// colour of the key that plays more than half of them; runs of equal marks as one.
void DensityNotes(const RollSong& song, const Frame& f, Layer& layer, RollStats& stats) {
    DensityMapping mapping;
    mapping.rowOf.assign(256, -1);
    for (int p = f.lo; p <= f.hi; ++p) mapping.rowOf[static_cast<size_t>(p)] = f.hi - p;
    for (int p : f.drums)
        mapping.rowOf[128 + static_cast<size_t>(p)] =
            f.PitchRows() + f.drumRow[static_cast<size_t>(p)];
    mapping.fromTick = song.fromTick;
    mapping.columnsPerTick = f.scale;
    const int columns = static_cast<int>(std::floor(f.PlotWidth()));
    const DensityGrid grid = CountDensity(song, mapping, columns, f.Rows());
    std::vector<MarksShape> byKey(song.keys.size() + 1);  // the last: no key leads
    for (size_t k = 0; k < byKey.size(); ++k)
        byKey[k].fill = k < song.keys.size() ? song.keys[k].colour : kMixedColour;
    for (int row = 0; row < grid.rows; ++row) {
        const bool drum = row >= f.PitchRows();
        const int inner = drum ? kDrumRow - 1 : kNoteRow - 1;
        const int bottom = drum ? f.drumTop + (row - f.PitchRows() + 1) * kDrumRow - 1
                                : f.gridTop + (row + 1) * kNoteRow - 1;
        for (int c = 0; c < grid.columns;) {
            const size_t cell = grid.at(row, c);
            const int level = DensityLevel(grid.count[cell]);
            const int32_t key = grid.key[cell];
            int run = 1;
            while (c + run < grid.columns && DensityLevel(grid.count[cell + run]) == level &&
                   grid.key[cell + run] == key)
                ++run;
            if (level > 0) {
                const int h = MarkHeight(level, inner);
                const size_t k = key < 0 ? song.keys.size() : static_cast<size_t>(key);
                byKey[k].rects.push_back(
                    {double(kLeft + c), double(bottom - h), double(run), double(h)});
                ++stats.shapes;
            }
            c += run;
        }
    }
    for (MarksShape& marks : byKey) {
        if (!marks.rects.empty()) layer.shapes.push_back(std::move(marks));
    }
}

Layer NotesLayer(const RollSong& song, const Frame& f, RollStats& stats) {
    Layer layer{"notes", {}, f.density};
    if (f.density) {
        DensityNotes(song, f, layer, stats);
    } else {
        DetailedNotes(song, f, layer, stats);
    }
    if (song.notes.empty())
        layer.shapes.push_back(Label(kLeft + 4, f.gridTop + 14, "no notes", 12));
    return layer;
}

}  // namespace

Picture LayOutRoll(const RollSong& song, int width, RollStats& stats) {
    stats = RollStats{};
    stats.notes = song.melodic;
    stats.drumStrokes = song.drums;
    Frame f = MakeFrame(song, width);
    stats.density = f.density;
    Picture picture;
    picture.title = song.title;
    PlaceBands(f, HeaderLayer(song, f, picture));
    picture.width = f.width;
    picture.height = f.height;
    picture.layers.push_back(RowsLayer(f));
    picture.layers.push_back(BarsLayer(song, f));
    picture.layers.push_back(TempoLayer(song, f));
    picture.layers.push_back(SecondsLayer(song, f));
    picture.layers.push_back(NotesLayer(song, f, stats));
    return picture;
}

}  // namespace mfcli
