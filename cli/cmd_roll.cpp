// `midifolio roll FILE -o roll.svg|roll.png|roll.html`: draw the song as a piano roll.
#include <cctype>
#include <cmath>
#include <memory>
#include <optional>

#include "commands.h"
#include "describe.h"
#include "roll_html.h"
#include "roll_layout.h"
#include "roll_model.h"
#include "roll_png.h"
#include "roll_svg.h"
#include "times.h"

using namespace midifolio;

namespace mfcli {

namespace {

enum class RollFormat { kSvg, kPng, kHtml };

const char* FormatName(RollFormat format) {
    return format == RollFormat::kPng ? "png" : format == RollFormat::kHtml ? "html" : "svg";
}

bool EndsWith(const std::string& text, const std::string& end) {
    if (text.size() < end.size()) return false;
    for (size_t i = 0; i < end.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[text.size() - end.size() + i])) != end[i])
            return false;
    }
    return true;
}

// --format, else the output's name: .png, .html or .htm; SVG for anything else.
RollFormat ChooseFormat(const RollOptions& o) {
    const std::string f = o.format;
    if (f == "png" || (f.empty() && EndsWith(o.out, ".png"))) return RollFormat::kPng;
    if (f == "html" || (f.empty() && (EndsWith(o.out, ".html") || EndsWith(o.out, ".htm"))))
        return RollFormat::kHtml;
    return RollFormat::kSvg;
}

std::string BaseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A list of numbers and ranges ("1,3-5") as the set of numbers, within 1..limit.
std::vector<bool> ParseList(const std::string& text, const std::string& option, int limit) {
    std::vector<bool> chosen;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = std::min(text.find(',', start), text.size());
        const auto [a, b] = ParseRange(text.substr(start, comma - start), option);
        if (b > limit)
            throw Failure(
                Format("%s counts 1..%d, not '%s'", option.c_str(), limit, Shown(text).c_str()));
        if (chosen.size() < static_cast<size_t>(b)) chosen.resize(static_cast<size_t>(b));
        for (int k = a; k <= b; ++k) chosen[static_cast<size_t>(k - 1)] = true;
        start = comma + 1;
    }
    return chosen;
}

// What the options ask for before the song is read: every mistake is reported first.
struct RollRequest {
    RollFormat format = RollFormat::kSvg;
    RollSelection selection;
    std::pair<int, int> measures{0, 0};
    std::optional<TimePoint> from, to;
};

RollRequest ReadOptions(const RollOptions& o) {
    RollRequest r;
    r.format = ChooseFormat(o);
    if (r.format == RollFormat::kPng) {
        RequirePng();
        if (o.width > kMaxPngWidth)
            throw Failure(
                Format("--width: a PNG is at most %d pixels wide, not %d", kMaxPngWidth, o.width));
    }
    r.selection.colourBy = ParseRollColour(o.colourBy);
    if (!o.tracks.empty()) r.selection.tracks = ParseList(o.tracks, "--tracks", 65535);
    if (!o.channels.empty()) {
        const std::vector<bool> channels = ParseList(o.channels, "--channels", 16);
        r.selection.channels = 0;
        for (size_t c = 0; c < channels.size(); ++c)
            r.selection.channels |= channels[c] ? uint16_t(1u << c) : uint16_t(0);
    }
    if (!o.measures.empty()) r.measures = ParseRange(o.measures, "--measures");
    if (!o.from.empty()) r.from = ParseTimePoint(o.from, "--from");
    if (!o.to.empty()) r.to = ParseTimePoint(o.to, "--to");
    return r;
}

// The stretch of time in ticks, from --measures or --from and --to.
void ResolveStretch(RollRequest& r, InputSong& song) {
    const score::MeterMap& meter = song.Score().meter_map();
    if (r.measures.first > 0) {
        r.selection.fromTick = static_cast<int64_t>(std::ceil(meter.bar_start(r.measures.first)));
        r.selection.toTick =
            static_cast<int64_t>(std::ceil(meter.bar_start(r.measures.second + 1))) - 1;
        return;
    }
    if (r.from) r.selection.fromTick = ResolveTime(*r.from, false, song);
    if (r.to) {
        r.selection.toTick = ResolveTime(*r.to, true, song);
        if (r.selection.toTick < 0) throw Failure("nothing to draw: --to lies before the song");
    }
}

// The song read, the request resolved against it and the roll's model made.
RollSong ReadRoll(const RollOptions& o, RollRequest& request) {
    InputSong song = ReadSong(o.file, o.common);
    Analysing busy(song.Name(), o.common);
    ResolveStretch(request, song);
    std::vector<std::string> trackNames;
    for (const score::TrackSummary& t : song.Score().track_summaries())
        trackNames.push_back(EscapeControls(t.name));
    return BuildRollSong(song.Score(), request.selection, BaseName(song.Name()),
                         std::move(trackNames));
}

struct Written {
    RollStats stats;
    HtmlStats html;
    uint64_t bytes = 0;
};

void Write(const RollSong& roll, RollFormat format, int width, Output& out, Written& w) {
    if (format == RollFormat::kHtml) {
        w.stats.notes = roll.melodic;
        w.stats.drumStrokes = roll.drums;
        w.html = WriteRollHtml(roll, out);
        return;
    }
    const std::string svg = RenderSvg(LayOutRoll(roll, width, w.stats));
    if (format == RollFormat::kPng) {
        WritePng(svg, out);
    } else {
        out << svg;
    }
}

void Report(const RollOptions& o, RollFormat format, const Written& w) {
    const RollStats& s = w.stats;
    if (o.common.json) {
        JsonWriter j(Stdout(), 2);
        j.BeginObject();
        j.Field("file", GivenName(o.file));
        j.Field("output", GivenName(o.out));
        j.Field("format", FormatName(format));
        j.Field("notes", s.notes);
        j.Field("drum_strokes", s.drumStrokes);
        if (format != RollFormat::kHtml) {
            j.Field("density", s.density);
            j.Field("shapes", s.shapes);
        } else {
            j.Field("parts", w.html.parts);
            j.Field("note_bytes", w.html.noteBytes);
        }
        j.Field("bytes", w.bytes);
        j.EndObject();
        return;
    }
    Stdout() << "Wrote " << EscapeControls(o.out) << ": "
             << Plural(static_cast<long long>(s.notes), "note") << " and "
             << Plural(static_cast<long long>(s.drumStrokes), "drum stroke") << ", "
             << Plural(static_cast<long long>(w.bytes), "byte");
    if (s.density)
        Stdout() << " (density: " << Plural(static_cast<long long>(s.shapes), "mark") << ")";
    Stdout() << "\n";
}

}  // namespace

int RunRoll(const RollOptions& o) {
    RollRequest request = ReadOptions(o);
    const RollSong roll = ReadRoll(o, request);
    Written w;
    if (IsStdio(o.out)) {
        Write(roll, request.format, o.width, Stdout(), w);
        return kExitOk;
    }
    {
        OutputTarget file(o.out);
        Analysing busy(InputName(o.file), o.common);
        Write(roll, request.format, o.width, file.Out(), w);
        w.bytes = file.Out().Written();
        file.Commit();
    }
    Report(o, request.format, w);
    return kExitOk;
}

}  // namespace mfcli
