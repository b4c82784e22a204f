// `midifolio roll`, run as a real program: SVG pictures that hold up at any size (bars under
// the meters, labels inside the picture, every colour in the legend, density for a song too
// dense to draw note by note), PNG pixels where the notes' pitch and time put them, and the
// interactive page opened in headless Chromium (notes in place, no console message, the hover
// text read from the page), with the options every format takes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#ifdef MIDIFOLIO_TEST_CAIRO
#include <cairo.h>
#endif

#include "generators.h"
#include "test_support.h"

using namespace testsupport;
using Json = nlohmann::json;

#ifndef MIDIFOLIO_CLI
TEST(Roll, IsNotBuilt) {
    GTEST_SKIP() << "configure with MIDIFOLIO_BUILD_CLI=ON to test the tool";
}
#else

namespace {

const std::string kCli = MIDIFOLIO_CLI;

// A shell command's output (and exit status).
std::string Sh(const std::string& command, int* status = nullptr) {
    return testsupport::Run(command, status);
}

std::string Quote(const std::string& s) {
    return "'" + s + "'";
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string Text(const std::string& path) {
    const Bytes b = ReadFile(path);
    return std::string(b.begin(), b.end());
}

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

// `midifolio ARGS` with stdout and stderr captured.
Result Cli(const std::string& args) {
    const std::string errPath = TmpPath("stderr.txt");
    Result r;
    r.out = Sh(kCli + " " + args + " 2>" + Quote(errPath) + " </dev/null", &r.status);
    r.err = Text(errPath);
    std::remove(errPath.c_str());
    return r;
}

// ------------------------------------------------------------------ songs

Bytes Meta(uint32_t delta, int type, const Bytes& data) {
    return Cat({Vlq(delta), B({0xFF, type}), Vlq(static_cast<uint32_t>(data.size())), data});
}

Bytes Name(const std::string& text) {
    return Meta(0, 0x03, Bytes(text.begin(), text.end()));
}

Bytes Note(uint32_t delta, int channel, int pitch, int velocity, uint32_t length) {
    return Cat({Vlq(delta), B({0x90 | channel, pitch, velocity}), Vlq(length),
                B({0x80 | channel, pitch, 0})});
}

Bytes End(uint32_t delta = 0) {
    return Meta(delta, 0x2F, {});
}

// A song in 3/8 at 120 BPM for two bars, then in 2/4 at 240 BPM from tick 1440 (bar 3); bars
// start at ticks 0, 720, 1440 and 2400, 2400 lies 2 s in. Track 2 "Strings" plays a violin
// on channel 1: E4 (64) velocity 100 over bar 2 (0.75 s to 1.5 s), then C4 (60) velocity 90
// over bar 3 (1.5 s to 2 s); track 3 "Kit" strikes a bass drum (36) on channel 10 at the start
// of bars 1, 2 and 3.
std::string MeterSong() {
    const Bytes conductor = Cat(
        {Name("Conductor"), Meta(0, 0x58, B({3, 3, 24, 8})), Meta(0, 0x51, B({0x07, 0xA1, 0x20})),
         Meta(1440, 0x58, B({2, 2, 24, 8})), Meta(0, 0x51, B({0x03, 0xD0, 0x90})), End(1440)});
    const Bytes strings = Cat({Name("Strings"), B({0, 0xC0, 40}), Note(720, 0, 64, 100, 720),
                               Note(0, 0, 60, 90, 960), End()});
    const Bytes kit = Cat({Name("Kit"), Note(0, 9, 36, 110, 60), Note(660, 9, 36, 110, 60),
                           Note(660, 9, 36, 110, 60), End()});
    static const std::string path = WriteFile("meter.mid", Smf(1, 480, {conductor, strings, kit}));
    return path;
}

// The benchmarks' 20 MB song (2.6 million notes), written once.
std::string BigSong() {
    static const std::string path = WriteFile("big.mid", benchgen::FileA());
    return path;
}

// ------------------------------------------------------------------ SVG

// The text of the group `<g id="ID" ...>` of an SVG document.
std::string Group(const std::string& svg, const std::string& id) {
    const size_t from = svg.find("<g id=\"" + id + "\"");
    if (from == std::string::npos) return "";
    return svg.substr(from, svg.find("</g>", from) - from);
}

// Every value of an attribute in a text ("fill" gives the colours).
std::vector<std::string> Values(const std::string& text, const std::string& attribute) {
    std::vector<std::string> values;
    const std::regex pattern(" " + attribute + "=\"([^\"]*)\"");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern);
         it != std::sregex_iterator(); ++it)
        values.push_back((*it)[1]);
    return values;
}

// Texts of a group by their x.
std::multimap<std::string, double> Labels(const std::string& svg, const std::string& id) {
    std::multimap<std::string, double> at;
    const std::string group = Group(svg, id);
    const std::regex text("<text x=\"([-0-9.]+)\"[^>]*>([^<]*)</text>");
    for (auto it = std::sregex_iterator(group.begin(), group.end(), text);
         it != std::sregex_iterator(); ++it)
        at.emplace((*it)[2], std::stod((*it)[1]));
    return at;
}

double LabelX(const std::multimap<std::string, double>& at, const std::string& text) {
    return at.count(text) ? at.find(text)->second : -1e9;
}

bool WellFormed(const std::string& path, std::string* problems) {
    int status = -1;
    *problems = Sh("xmllint --noout " + Quote(path) + " 2>&1", &status);
    return status == 0;
}

// ------------------------------------------------------------------ pixels

struct Image {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;  // 0xRRGGBB, row by row
    uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// A PNG's pixels (empty without cairo in the test build).
std::optional<Image> ReadPng(const std::string& path) {
#ifdef MIDIFOLIO_TEST_CAIRO
    cairo_surface_t* s = cairo_image_surface_create_from_png(path.c_str());
    std::optional<Image> image;
    if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
        cairo_surface_flush(s);
        image.emplace();
        image->width = cairo_image_surface_get_width(s);
        image->height = cairo_image_surface_get_height(s);
        const int stride = cairo_image_surface_get_stride(s);
        const unsigned char* data = cairo_image_surface_get_data(s);
        for (int y = 0; y < image->height; ++y) {
            const auto* row = reinterpret_cast<const uint32_t*>(data + y * stride);
            for (int x = 0; x < image->width; ++x) image->pixels.push_back(row[x] & 0xFFFFFF);
        }
    }
    cairo_surface_destroy(s);
    return image;
#else
    (void)path;
    return std::nullopt;
#endif
}

struct Box {
    int x0, y0, x1, y1;  // inclusive
};

// The areas of a colour: runs at least `minWidth` pixels long on a row, joined with the runs
// that overlap them on the row above. By top, then left.
std::vector<Box> Blobs(const Image& image, uint32_t colour, int minWidth) {
    std::vector<Box> boxes;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width;) {
            int end = x;
            while (end < image.width && image.at(end, y) == colour) ++end;
            if (end - x >= minWidth) {
                auto joined = std::find_if(boxes.begin(), boxes.end(), [&](const Box& b) {
                    return b.y1 == y - 1 && b.x0 < end && x <= b.x1;
                });
                if (joined != boxes.end()) {
                    joined->y1 = y;
                    joined->x0 = std::min(joined->x0, x);
                    joined->x1 = std::max(joined->x1, end - 1);
                } else {
                    boxes.push_back({x, y, end - 1, y});
                }
            }
            x = std::max(end, x + 1);
        }
    }
    return boxes;
}

// ------------------------------------------------------------------ Chromium

std::string ChromiumPath() {
    static const std::string path = [] {
        std::string found =
            Sh("command -v chromium || command -v chromium-browser || command -v google-chrome");
        while (!found.empty() && (found.back() == '\n' || found.back() == ' ')) found.pop_back();
        return found.substr(0, found.find('\n'));
    }();
    return path;
}

// Headless Chromium on a page with a fresh profile: stdout (the DOM for --dump-dom) and stderr,
// where --enable-logging puts every console message ("INFO:CONSOLE").
Result Chromium(const std::string& what, const std::string& url,
                const std::string& window = "1000,700") {
    const std::string profile = TmpPath("chromium-profile"), errPath = TmpPath("chromium.err");
    const std::string command =
        Quote(ChromiumPath()) +
        " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
        " --disable-background-networking --disable-component-update --disable-sync"
        " --force-device-scale-factor=1 --hide-scrollbars --enable-logging=stderr --v=0"
        " --user-data-dir=" +
        Quote(profile) + " --window-size=" + window + " " + what + " " + Quote(url);
    Result r;
    r.out = Sh(command + " 2>" + Quote(errPath), &r.status);
    r.err = Text(errPath);
    Sh("rm -rf " + Quote(profile) + " " + Quote(errPath));
    return r;
}

std::vector<std::string> ConsoleLines(const std::string& log) {
    std::vector<std::string> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);)
        if (Contains(line, ":CONSOLE")) lines.push_back(line);
    return lines;
}

// An attribute of the page's body in a dumped DOM ("" when missing).
std::string BodyData(const std::string& dom, const std::string& name) {
    std::smatch m;
    const std::regex body("<body[^>]*\\s" + name + "=\"([^\"]*)\"");
    return std::regex_search(dom, m, body) ? std::string(m[1]) : "";
}

// The hover text of a dumped page: each note's lines joined by " | ", notes by " || ".
std::string TipText(const std::string& dom) {
    const size_t from = dom.find("<div id=\"tip\"");
    if (from == std::string::npos) return "";
    const size_t to = dom.find("</div></div>", from);
    std::string inner = dom.substr(from, to == std::string::npos ? std::string::npos : to - from);
    inner = std::regex_replace(inner, std::regex("<br>"), " | ");
    inner = std::regex_replace(inner, std::regex("</div><div class=\"note\">"), " || ");
    inner = std::regex_replace(inner, std::regex("<[^>]*>"), "");
    inner = std::regex_replace(inner, std::regex("&amp;"), "&");
    return inner;
}

#define SKIP_WITHOUT_CHROMIUM() \
    if (ChromiumPath().empty()) GTEST_SKIP() << "no chromium to open the page with"

bool PngBuilt() {
    static const bool built =
        !Contains(Cli("roll " + Quote(MeterSong()) + " -o - --format png").err, "without librsvg");
    return built;
}

#define SKIP_WITHOUT_PNG() \
    if (!PngBuilt()) GTEST_SKIP() << "the tool was built without librsvg"

}  // namespace

// ------------------------------------------------------------------ SVG

TEST(Roll, DrawsAWellFormedSvgWithGeneralMidiAndScientificPitchNames) {
    const std::string svg = TmpPath("sample.svg");
    const Result r = Cli("roll " + Quote(DataPath("cli/sample.mid")) + " -o " + Quote(svg));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "Wrote " + svg + ": 138 notes and 144 drum strokes")) << r.out;
    std::string problems;
    EXPECT_TRUE(WellFormed(svg, &problems)) << problems;
    const std::string text = Text(svg);
    for (const char* part :
         {"<svg xmlns=\"http://www.w3.org/2000/svg\"", ">ch 1 Flute</text>",
          ">ch 3 Acoustic Grand Piano</text>", ">ch 10 drums</text>", ">Bass Drum 1</text>",
          ">C4</text>", "\xE2\x99\xA9=100", ">30 s</text>",
          // a note's hover text: instrument, pitch, velocity, track, channel, bars and seconds
          "<title>Flute C4 (60), velocity 100; track 1 (Melody), ch 1; bar 1:1 to 1:1:460, 0.000 "
          "s to 0.575 s</title>"}) {
        EXPECT_TRUE(Contains(text, part)) << part;
    }
    const Result bad =
        Cli("roll " + Quote(DataPath("cli/small.mid")) + " -o /nonexistent/folder/x.svg");
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err,
              "midifolio: /nonexistent/folder/x.svg: could not be written: No such file or "
              "directory\n");
}

TEST(Roll, CorpusSongsGiveWellFormedSvg) {
    // Every seventeenth song of the corpus: a spread of its sources that keeps the suite fast.
    const std::string dir = TmpPath("rolls");
    mkdir(dir.c_str(), 0755);
    const std::vector<std::string> corpus = CorpusFiles();
    int drawn = 0;
    for (size_t i = 0; i < corpus.size(); i += 17) {
        const std::string svg = dir + "/" + corpus[i] + ".svg";
        const Result r = Cli("roll " + Quote(DataPath("corpus/" + corpus[i])) + " -o " +
                             Quote(svg) + " --width 800");
        if (r.status != 0) continue;  // refused files are the scan test's business
        std::string problems;
        EXPECT_TRUE(WellFormed(svg, &problems)) << corpus[i] << "\n" << problems;
        ++drawn;
    }
    EXPECT_GT(drawn, 3);
}

TEST(Roll, BarsFollowTheMeterAndSecondsTheTempo) {
    const std::string svg = Sh(kCli + " roll " + Quote(MeterSong()) + " -o -");
    const auto bars = Labels(svg, "bars");
    // Bars of 3/8 take 720 ticks, bars of 2/4 960: their widths are in that ratio.
    EXPECT_NEAR((LabelX(bars, "3") - LabelX(bars, "2")) / (LabelX(bars, "4") - LabelX(bars, "3")),
                0.75, 1e-3);
    EXPECT_TRUE(bars.count("3/8") && bars.count("2/4"));
    EXPECT_TRUE(Contains(svg, ">ch 1 Violin</text>"));
    // The seconds axis: the mark of 2 s stands on the line of bar 4 (tick 2400).
    const std::vector<std::string> marks = Values(Group(svg, "seconds"), "x1");
    const double bar4 = LabelX(bars, "4") - 2;
    EXPECT_TRUE(std::any_of(marks.begin(), marks.end(), [&](const std::string& x) {
        return std::abs(std::stod(x) - bar4) < 0.11;
    })) << bar4;
    EXPECT_TRUE(Labels(svg, "seconds").count("2.0 s"));
    // The tempo: a label at each change, the curve between 120 and 240.
    const auto tempo = Labels(svg, "tempo");
    EXPECT_TRUE(tempo.count("\xE2\x99\xA9=120") && tempo.count("\xE2\x99\xA9=240"));
    EXPECT_TRUE(tempo.count("120..240"));

    // 20,000 tempo changes: labels never overlap (each at least its own width apart).
    const std::string many = WriteFile("tempo.mid", benchgen::TempoSong(2000, 20000, false));
    std::vector<double> left;
    for (const auto& [text, at] : Labels(Sh(kCli + " roll " + Quote(many) + " -o -"), "tempo"))
        if (text.rfind("\xE2\x99\xA9=", 0) == 0) left.push_back(at);
    std::sort(left.begin(), left.end());
    ASSERT_GT(left.size(), 10u);
    for (size_t i = 1; i < left.size(); ++i) EXPECT_GE(left[i] - left[i - 1], 26.0) << i;
}

// Every colour the notes are drawn in is one of the legend's, in a picture drawn note by
// note and in one drawn as density.
void ExpectNoteColoursInLegend(const std::string& svg, const std::string& what) {
    const std::vector<std::string> legendFills = Values(Group(svg, "header"), "fill");
    const std::set<std::string> legend(legendFills.begin(), legendFills.end());
    const std::string notes = Group(svg, "notes");
    for (const std::string& fill : Values(notes, "fill"))
        EXPECT_TRUE(legend.count(fill)) << what << ": " << fill << " is not in the legend";
    EXPECT_FALSE(Contains(notes, "opacity")) << what;
}

TEST(Roll, NotesInUnisonAreOutlinedAndEveryColourDrawnIsInTheLegend) {
    // Channels 1 and 2 in unison on C4, channel 3 a fifth above, for a quarter note.
    const std::string unison =
        WriteFile("unison.mid",
                  Smf(0, 96,
                      {Cat({B({0,  0xC1, 40,   0,  0x90, 60, 100,  0,  0x91, 60, 70,   0,  0x92, 67,
                               50, 96,   0x80, 60, 0,    0,  0x81, 60, 0,    0,  0x82, 67, 0}),
                            End()})}));
    const std::string svg = Sh(kCli + " roll " + Quote(unison) + " -o -");
    ExpectNoteColoursInLegend(svg, "unison");
    const std::string notes = Group(svg, "notes");
    EXPECT_EQ(Values(notes, "stroke").size(), 3u);  // every note outlined
    // The two in unison share their row in stripes of 3 pixels, the fifth has its 6.
    const std::vector<std::string> heights = Values(notes, "height"), ys = Values(notes, "y");
    ASSERT_EQ(heights.size(), 3u);
    EXPECT_EQ(std::multiset<std::string>(heights.begin(), heights.end()),
              (std::multiset<std::string>{"3", "3", "6"}));
    EXPECT_EQ(std::set<std::string>(ys.begin(), ys.end()).size(), 3u);
    EXPECT_TRUE(Contains(svg, ">ch 2 Violin</text>"));

    // Many channels over each other's notes, drawn as density: the pixels no channel leads
    // have the legend's grey.
    benchgen::DenseOptions dense;
    dense.tracks = 6;
    dense.bytesPerTrack = 60000;
    const std::string crowd = WriteFile("crowd.mid", benchgen::DenseSong(dense));
    const std::string picture = Sh(kCli + " roll " + Quote(crowd) + " -o - --width 600");
    EXPECT_TRUE(Contains(picture, "Density: ")) << picture.substr(0, 2000);
    ExpectNoteColoursInLegend(picture, "density");
    EXPECT_TRUE(Contains(Group(picture, "header"), ">none leads</text>"));
    EXPECT_TRUE(Contains(Group(picture, "header"), ">notes per pixel:</text>"));
}

TEST(Roll, TheSixteenChannelColoursStandApart) {
    // One note on each of the 16 channels: no two colours closer than 15 in CIE76 (Lab).
    Bytes all;
    for (int ch = 0; ch < 16; ++ch) all = Cat({all, Note(0, ch, 60, 100, 0)});
    const std::string svg =
        Sh(kCli + " roll " + Quote(WriteFile("sixteen.mid", Smf(0, 96, {Cat({all, End()})}))) +
           " -o -");
    std::vector<std::array<double, 3> > lab;
    const std::string swatch = "width=\"10\" height=\"10\" fill=\"#";
    for (size_t p = svg.find(swatch); p != std::string::npos; p = svg.find(swatch, p + 1)) {
        std::array<double, 3> xyz{}, rgb{};
        for (int k = 0; k < 3; ++k) {
            const double c =
                std::stoi(svg.substr(p + swatch.size() + 2 * k, 2), nullptr, 16) / 255.0;
            rgb[k] = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        }
        const double m[3][3] = {{0.4124 / 0.95047, 0.3576 / 0.95047, 0.1805 / 0.95047},
                                {0.2126, 0.7152, 0.0722},
                                {0.0193 / 1.08883, 0.1192 / 1.08883, 0.9505 / 1.08883}};
        for (int i = 0; i < 3; ++i) {
            const double t = m[i][0] * rgb[0] + m[i][1] * rgb[1] + m[i][2] * rgb[2];
            xyz[i] = t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116;
        }
        lab.push_back({116 * xyz[1] - 16, 500 * (xyz[0] - xyz[1]), 200 * (xyz[1] - xyz[2])});
    }
    ASSERT_EQ(lab.size(), 15u);  // the drums' swatch is a diamond
    for (size_t a = 0; a < lab.size(); ++a)
        for (size_t b = a + 1; b < lab.size(); ++b)
            EXPECT_GE(
                std::hypot(lab[a][0] - lab[b][0], lab[a][1] - lab[b][1], lab[a][2] - lab[b][2]),
                15.0)
                << a << " " << b;
}

TEST(Roll, ABigSongShowsDensityInUnderFiveMegabytesAndRendersInLibrsvg) {
    const std::string svg = TmpPath("big.svg");
    const Result r = Cli("roll " + Quote(BigSong()) + " -o " + Quote(svg) + " --json");
    ASSERT_EQ(r.status, 0) << r.err;
    const Json j = Json::parse(r.out);
    EXPECT_EQ(j["density"], true);
    EXPECT_GT(j["notes"].get<long>(), 2000000);
    const std::string text = Text(svg);
    EXPECT_LT(text.size(), 5000000u);
    EXPECT_LT(std::count(text.begin(), text.end(), '<'), 100000);
    EXPECT_TRUE(Contains(text, "Density: 2,807,056 notes are too many to draw one by one"));
    const std::string png = TmpPath("big-rsvg.png");
    int status = -1;
    const std::string said =
        Sh("rsvg-convert -o " + Quote(png) + " " + Quote(svg) + " 2>&1", &status);
    if (Contains(said, "not found")) GTEST_SKIP() << "no rsvg-convert";
    EXPECT_EQ(status, 0) << said;
    EXPECT_EQ(Text(png).substr(1, 3), "PNG");
    std::remove(svg.c_str());
    std::remove(png.c_str());
}

// Every text of an SVG measured by Chromium's own fonts: none may reach outside the picture.
std::string TextsOutside(const std::string& svgPath) {
    std::string svg = Text(svgPath);
    svg.erase(0, svg.find("<svg"));
    const std::string page = TmpPath("measure.html");
    std::ofstream(page)
        << "<!DOCTYPE html><html><body style=\"margin:0\">" << svg
        << "<script>const s = document.querySelector('svg'), out = [];"
           "const w = s.width.baseVal.value, h = s.height.baseVal.value;"
           "for (const t of s.querySelectorAll('text')) { const b = t.getBBox();"
           "  if (b.x < -0.5 || b.y < -0.5 || b.x + b.width > w + 0.5 || b.y + b.height > h + 0.5)"
           "    out.push(t.textContent + ' at ' + b.x.toFixed(1) + '+' + b.width.toFixed(1)); }"
           "document.body.setAttribute('data-outside', out.join(' / '));"
           "document.body.setAttribute('data-texts', s.querySelectorAll('text').length);"
           "</script></body></html>";
    const Result r = Chromium("--dump-dom", "file://" + page);
    return BodyData(r.out, "data-texts") + " texts; outside: " + BodyData(r.out, "data-outside");
}

TEST(Roll, LabelsStayInsideThePictureAtAnyWidth) {
    SKIP_WITHOUT_CHROMIUM();
    // A long name, a tempo change and a meter change close to the end, and the many tempo
    // changes of the benchmarks' tempo song.
    const std::string longName = WriteFile(
        "a song whose name is far too long to fit in a narrow picture of a piano roll.mid",
        Smf(0, 480,
            {Cat({Note(0, 0, 60, 100, 480 * 40), Meta(0, 0x51, B({0x07, 0xA1, 0x20})),
                  Meta(480 * 39, 0x51, B({0x03, 0xD0, 0x90})), Meta(0, 0x58, B({7, 3, 24, 8})),
                  End(480)})}));
    const std::string tempo = WriteFile("tempo.mid", benchgen::TempoSong(2000, 20000, false));
    for (const std::string& song : {longName, tempo, DataPath("cli/sample.mid")}) {
        for (const char* width : {"300", "1000"}) {
            const std::string svg = TmpPath("labels.svg");
            ASSERT_EQ(Cli("roll " + Quote(song) + " -o " + Quote(svg) + " --width " + width).status,
                      0);
            const std::string said = TextsOutside(svg);
            EXPECT_TRUE(std::stoi("0" + said) > 10 && said.substr(said.size() - 10) == " outside: ")
                << song << " at " << width << ": " << said;
        }
    }
}

// ------------------------------------------------------------------ PNG

constexpr uint32_t kChannelOne = 0x0067A5;  // the colour of channel 1

TEST(RollPng, NotesAreDrawnWhereTheirPitchAndTimePutThem) {
    SKIP_WITHOUT_PNG();
    const std::string png = TmpPath("meter.png");
    const Result r = Cli("roll " + Quote(MeterSong()) + " -o " + Quote(png) + " --width 800");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::optional<Image> image = ReadPng(png);
    if (!image) GTEST_SKIP() << "no cairo in the test build to read the PNG";
    EXPECT_EQ(image->width, 800);
    // 2880 ticks over the 654 pixels from x = 130: E4 from tick 720 to 1440, C4 from 1440 to
    // 2400; rows of 7 pixels, C4 four rows under E4.
    const double perTick = 654.0 / 2880;
    const std::vector<Box> notes = Blobs(*image, kChannelOne, 40);
    ASSERT_EQ(notes.size(), 2u);
    const Box& e4 = notes[0];
    const Box& c4 = notes[1];
    EXPECT_NEAR(e4.x0, 130 + 720 * perTick, 2);
    EXPECT_NEAR(e4.x1, 130 + 1440 * perTick, 2);
    EXPECT_NEAR(c4.x0, 130 + 1440 * perTick, 2);
    EXPECT_NEAR(c4.x1, 130 + 2400 * perTick, 2);
    EXPECT_NEAR(c4.y0 - e4.y0, 4 * 7, 1);
    EXPECT_NEAR(e4.y1 - e4.y0, 4, 1);  // 6 pixels high, less the outline
    // The bass drum's diamonds: near-black, centred on the starts of bars 1, 2 and 3, below.
    const std::vector<Box> drums = Blobs(*image, 0x222222, 1);
    std::vector<double> centres;
    for (const Box& b : drums)
        if (b.y0 > c4.y1 && b.x1 - b.x0 >= 4) centres.push_back((b.x0 + b.x1) / 2.0);
    std::sort(centres.begin(), centres.end());
    ASSERT_EQ(centres.size(), 3u);
    for (int bar = 0; bar < 3; ++bar) EXPECT_NEAR(centres[bar], 130 + bar * 720 * perTick, 1.5);
}

TEST(RollPng, GoesToStandardOutputAtTheWidthAskedAndNoWider) {
    SKIP_WITHOUT_PNG();
    const std::string png =
        Sh(kCli + " roll " + Quote(MeterSong()) + " -o - --format png --width 640");
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    const auto byte = [&](size_t i) { return static_cast<uint32_t>(static_cast<uint8_t>(png[i])); };
    EXPECT_EQ(byte(16) << 24 | byte(17) << 16 | byte(18) << 8 | byte(19), 640u);  // IHDR width
    const Result wide = Cli("roll " + Quote(MeterSong()) + " -o x.png --width 40000");
    EXPECT_EQ(wide.status, 1);
    EXPECT_EQ(wide.err, "midifolio: --width: a PNG is at most 32767 pixels wide, not 40000\n");
}

TEST(RollPng, AToolWithoutItsDrawingModuleSaysSoBeforeAnyWorkAndStillReadsSongs) {
    SKIP_WITHOUT_PNG();
    // The tool alone in a folder: PNG is drawn by midifolio-media.so, which is not beside it.
    const std::string dir = TmpPath("lone-tool");
    Sh("rm -rf " + Quote(dir) + " && mkdir " + Quote(dir) + " && cp " + kCli + " " + Quote(dir));
    const std::string lone = Quote(dir + "/midifolio");
    int status = -1;
    const std::string said = Sh(
        lone + " roll " + Quote(MeterSong()) + " -o " + Quote(dir + "/x.png") + " 2>&1 </dev/null",
        &status);
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(Contains(said,
                         "midifolio: the audio and picture module midifolio-media.so is "
                         "missing (looked for " +
                             dir + "/midifolio-media.so"))
        << said;
    EXPECT_FALSE(Contains(Sh("ls " + Quote(dir)), "x.png"));
    Sh(lone + " info " + Quote(MeterSong()) + " >/dev/null", &status);
    EXPECT_EQ(status, 0);
}

// ------------------------------------------------------------------ HTML

// The JSON the page carries about the song.
Json PageHead(const std::string& html) {
    const std::string open = "<script id=\"roll-head\" type=\"application/json\">";
    const size_t from = html.find(open) + open.size();
    return Json::parse(html.substr(from, html.find("</script>", from) - from), nullptr, false);
}

TEST(RollHtml, IsOneSelfContainedFileOfAtMostTwelveBytesANote) {
    const std::string page = TmpPath("big.html");
    const Result r = Cli("roll " + Quote(BigSong()) + " -o " + Quote(page) + " --json");
    ASSERT_EQ(r.status, 0) << r.err;
    const Json j = Json::parse(r.out);
    const std::string html = Text(page);
    const size_t notes = j["notes"].get<size_t>() + j["drum_strokes"].get<size_t>();
    const Json head = PageHead(html);
    ASSERT_TRUE(head.is_object());
    size_t counted = 0;
    for (const Json& part : head["parts"]) counted += part["count"].get<size_t>();
    EXPECT_EQ(counted, notes);
    // At most 12 bytes a note beside a fixed part (the page, its script, tempo and meters).
    EXPECT_LT(html.size(), 12 * notes + 100000) << html.size() << " bytes for " << notes;
    // Nothing from the network: no outside script, style, font or picture.
    for (const char* outside : {"<script src", "<link", "http://", "https://", "url(", "@import"})
        EXPECT_FALSE(Contains(html, outside)) << outside;
    std::remove(page.c_str());
}

TEST(RollHtml, OpensInChromiumWithTheNotesInPlaceAndNoConsoleMessage) {
    SKIP_WITHOUT_CHROMIUM();
    const std::string page = TmpPath("meter.html");
    ASSERT_EQ(Cli("roll " + Quote(MeterSong()) + " -o " + Quote(page)).status, 0);
    const std::string shot = TmpPath("meter-shot.png");
    const Result r = Chromium("--screenshot=" + Quote(shot), "file://" + page, "1000,700");
    EXPECT_TRUE(ConsoleLines(r.err).empty()) << ConsoleLines(r.err).front();
    const std::optional<Image> image = ReadPng(shot);
    if (!image) GTEST_SKIP() << "no cairo in the test build to read the screenshot";
    // The whole song in view: 2880 ticks over 870 pixels from x = 118; C4 under E4 by four
    // rows (a row is a note's height and a pixel).
    const double perTick = 870.0 / 2880;
    const std::vector<Box> notes = Blobs(*image, kChannelOne, 40);
    ASSERT_EQ(notes.size(), 2u);
    const Box& e4 = notes[0];
    const Box& c4 = notes[1];
    EXPECT_NEAR(e4.x0, 118 + 720 * perTick, 2);
    EXPECT_NEAR(e4.x1, 118 + 1440 * perTick, 2);
    EXPECT_NEAR(c4.x0, 118 + 1440 * perTick, 2);
    EXPECT_NEAR(c4.x1, 118 + 2400 * perTick, 2);
    EXPECT_NEAR(c4.y0 - e4.y0, 4 * (e4.y1 - e4.y0 + 3), 3);

    const Result dom = Chromium("--dump-dom", "file://" + page);
    EXPECT_TRUE(ConsoleLines(dom.err).empty());
    EXPECT_NE(BodyData(dom.out, "data-ready"), "");
    EXPECT_EQ(BodyData(dom.out, "data-error"), "");
    EXPECT_EQ(BodyData(dom.out, "data-mode"), "notes");
    EXPECT_TRUE(Contains(dom.out, "<title>meter.html") ||
                Contains(dom.out, "\xE2\x80\x94 piano roll"));
}

TEST(RollHtml, HoverTellsPitchVelocityTrackInstrumentAndTimesInBarsAndSeconds) {
    SKIP_WITHOUT_CHROMIUM();
    const std::string page = TmpPath("hover.html");
    ASSERT_EQ(Cli("roll " + Quote(MeterSong()) + " -o " + Quote(page)).status, 0);
    const std::string url = "file://" + page;
    const Result e4 = Chromium("--dump-dom", url + "?hover=1000,64");
    EXPECT_EQ(TipText(e4.out),
              "E4 (64) \xC2\xB7 Violin | velocity 100 \xC2\xB7 track 2 (Strings) \xC2\xB7 ch 1 | "
              "start: bar 2:1 \xC2\xB7 0.750 s | end: bar 3:1 \xC2\xB7 1.500 s");
    const Result drum = Chromium("--dump-dom", url + "?hover=1440,36,drum");
    EXPECT_EQ(TipText(drum.out),
              "C2 (36) \xC2\xB7 Bass Drum 1 | velocity 110 \xC2\xB7 track 3 (Kit) \xC2\xB7 ch 10 | "
              "start: bar 3:1 \xC2\xB7 1.500 s | end: bar 3:1:60 \xC2\xB7 1.531 s");
    // Zoomed in on bar 3, on C4.
    const Result zoomed = Chromium("--dump-dom", url + "?view=1440,2400&hover=2000,60");
    EXPECT_TRUE(Contains(TipText(zoomed.out), "C4 (60) \xC2\xB7 Violin | velocity 90"))
        << TipText(zoomed.out);
    // A hidden track or channel hides its notes from the pointer too.
    for (const char* hide : {"t2", "c1"}) {
        const Result hidden = Chromium("--dump-dom", url + "?hide=" + hide + "&hover=1000,64");
        EXPECT_EQ(BodyData(hidden.out, "data-hits"), "0") << hide;
        EXPECT_TRUE(Contains(hidden.out, "data-" +
                                             std::string(hide[0] == 't' ? "track" : "channel") +
                                             "=\"" + std::string(hide + 1) + "\""));
    }
    const Result other = Chromium("--dump-dom", url + "?hide=t3&hover=1000,64");
    EXPECT_EQ(BodyData(other.out, "data-hits"), "1");
}

// A page that holds the roll's page in a frame and, once both are loaded, drives it as a
// hand would (wheel, drag, keys, boxes), noting the view after each step in its body's
// data-steps: "start T0,T1,TOP,ROWPX | zoom ...".
std::string Harness(const std::string& page) {
    const std::string path = page + ".harness.html";
    std::ofstream(path) << R"(<!DOCTYPE html><html><body>
<iframe id="f" src=")" << page.substr(page.rfind('/') + 1)
                        << R"(" style="width:1000px;height:700px"></iframe>
<script>
window.addEventListener("load", () => {
  const out = [];
  try {
    const f = document.getElementById("f"), d = f.contentDocument, w = f.contentWindow;
    const c = d.getElementById("roll"), r = c.getBoundingClientRect();
    const note = (what) => {
      const v = w.roll.view;
      out.push(what + " " + [v.t0, v.t1, v.top, v.rowPx].map((x) => x.toFixed(1)).join(","));
    };
    const at = {clientX: r.left + 500, clientY: r.top + 300, bubbles: true, cancelable: true};
    const wheel = (more) => c.dispatchEvent(new w.WheelEvent("wheel", {...at, ...more}));
    note("start");
    wheel({deltaY: -300, ctrlKey: true}); note("zoom");
    wheel({deltaY: 200, shiftKey: true}); note("along");
    wheel({deltaY: -300, altKey: true}); note("taller");
    wheel({deltaY: 100}); note("down");
    c.dispatchEvent(new w.MouseEvent("mousedown", {...at, buttons: 1}));
    c.dispatchEvent(new w.MouseEvent("mousemove", {...at, clientX: at.clientX + 100, buttons: 1}));
    w.dispatchEvent(new w.MouseEvent("mouseup", {}));
    note("drag");
    c.dispatchEvent(new w.KeyboardEvent("keydown", {key: "Home", bubbles: true})); note("home");
    const before = d.body.dataset.inView;
    d.querySelector('input[data-channel="10"]').click();
    out.push("drums hidden " + before + " to " + d.body.dataset.inView);
  } catch (e) {
    out.push("error " + e);
  }
  document.body.setAttribute("data-steps", out.join(" | "));
});
</script></body></html>)";
    return path;
}

TEST(RollHtml, WheelDragKeysAndBoxesMoveTheViewAndHideNotes) {
    SKIP_WITHOUT_CHROMIUM();
    const std::string page = TmpPath("drive.html");
    ASSERT_EQ(Cli("roll " + Quote(DataPath("cli/sample.mid")) + " -o " + Quote(page)).status, 0);
    const Result r =
        Chromium("--allow-file-access-from-files --dump-dom", "file://" + Harness(page));
    EXPECT_TRUE(ConsoleLines(r.err).empty()) << ConsoleLines(r.err).front();
    std::map<std::string, std::vector<double> > views;
    std::string hidden;
    std::istringstream steps(BodyData(r.out, "data-steps"));
    for (std::string step; std::getline(steps, step, '|');) {
        std::istringstream words(step);
        std::string what, numbers;
        words >> what >> numbers;
        if (what == "drums") {
            hidden = step;
            continue;
        }
        std::istringstream values(numbers);
        for (std::string n; std::getline(values, n, ',');) views[what].push_back(std::stod(n));
    }
    ASSERT_EQ(views.size(), 7u) << BodyData(r.out, "data-steps");
    const auto span = [&](const std::string& v) { return views[v][1] - views[v][0]; };
    // The whole song (23,040 ticks) first; Ctrl+wheel zooms in time around the pointer.
    EXPECT_EQ(views["start"][0], 0);
    EXPECT_EQ(views["start"][1], 23040);
    EXPECT_NEAR(span("zoom"), 23040 * std::exp(-0.6), 1);
    EXPECT_GT(views["zoom"][0], 0);
    // Shift+wheel moves along, Alt+wheel makes rows taller, the wheel moves down.
    EXPECT_GT(views["along"][0], views["zoom"][0]);
    EXPECT_NEAR(span("along"), span("zoom"), 1e-6);
    EXPECT_GT(views["taller"][3], views["along"][3]);
    EXPECT_GT(views["down"][2], views["taller"][2]);
    // Dragging 100 pixels right goes back in time; Home shows everything again.
    EXPECT_LT(views["drag"][0], views["down"][0]);
    EXPECT_EQ(views["home"], views["start"]);
    // The box of channel 10 takes the 144 drum strokes out of view.
    EXPECT_EQ(hidden, " drums hidden 282 to 138") << hidden;
}

TEST(RollHtml, TheBigSongOpensAsDensityAndShowsNotesWhenZoomedIn) {
    SKIP_WITHOUT_CHROMIUM();
    const std::string page = TmpPath("big.html");
    ASSERT_EQ(Cli("roll " + Quote(BigSong()) + " -o " + Quote(page)).status, 0);
    const Result whole = Chromium("--dump-dom", "file://" + page);
    EXPECT_TRUE(ConsoleLines(whole.err).empty());
    EXPECT_EQ(BodyData(whole.out, "data-mode"), "density");
    EXPECT_EQ(BodyData(whole.out, "data-in-view"), "2807056");
    EXPECT_NE(BodyData(whole.out, "data-ready"), "");
    const Result zoomed =
        Chromium("--dump-dom", "file://" + page + "?view=95000,97000&hover=95130,36");
    EXPECT_EQ(BodyData(zoomed.out, "data-mode"), "notes");
    EXPECT_TRUE(Contains(TipText(zoomed.out), "C2 (36) \xC2\xB7 ")) << TipText(zoomed.out);
    std::remove(page.c_str());
}

// ------------------------------------------------------------------ options

// "N notes and M drum strokes" of a roll's report.
std::string Drawn(const std::string& options) {
    const Result r =
        Cli("roll " + Quote(MeterSong()) + " -o " + Quote(TmpPath("o.svg")) + " " + options);
    const size_t colon = r.out.find(": ");
    if (r.status != 0 || colon == std::string::npos)
        return "status " + std::to_string(r.status) + ": " + r.err;
    return r.out.substr(colon + 2, r.out.find(',', colon) - colon - 2);
}

TEST(RollOptions, StretchesTracksAndChannelsChooseTheNotes) {
    EXPECT_EQ(Drawn(""), "2 notes and 3 drum strokes");
    EXPECT_EQ(Drawn("--measures 2"), "1 note and 1 drum stroke");    // ticks 720..1439
    EXPECT_EQ(Drawn("--measures 3-4"), "1 note and 1 drum stroke");  // 1440..
    EXPECT_EQ(Drawn("--from 3:1 --to 4:1"), "1 note and 1 drum stroke");
    EXPECT_EQ(Drawn("--from 1000 --to 1439"), "1 note and 0 drum strokes");
    EXPECT_EQ(Drawn("--from 1.5s"), "1 note and 1 drum stroke");
    EXPECT_EQ(Drawn("--to 0.5s"), "0 notes and 1 drum stroke");
    EXPECT_EQ(Drawn("--tracks 3"), "0 notes and 3 drum strokes");
    EXPECT_EQ(Drawn("--tracks 1-2"), "2 notes and 0 drum strokes");
    EXPECT_EQ(Drawn("--channels 10"), "0 notes and 3 drum strokes");
    EXPECT_EQ(Drawn("--channels 1,10 --tracks 2,3"), "2 notes and 3 drum strokes");

    const std::string part = Sh(kCli + " roll " + Quote(MeterSong()) + " -o - --measures 2-3");
    EXPECT_TRUE(Contains(part, "bar 2:1 to 4:1 (00:00:00.750 to 00:00:02.000) of 4 bars"));
    EXPECT_EQ(Labels(part, "bars").count("1"), 0u);
    EXPECT_TRUE(Labels(part, "bars").count("2") && Labels(part, "bars").count("3"));
}

TEST(RollOptions, ColoursComeFromChannelsTracksOrPrograms) {
    const std::string song = Quote(MeterSong());
    const std::string byTrack = Sh(kCli + " roll " + song + " -o - --color-by track");
    EXPECT_TRUE(Contains(byTrack, ">track 2 Strings</text>") &&
                Contains(byTrack, ">track 3 Kit</text>"));
    ExpectNoteColoursInLegend(byTrack, "by track");
    const std::string byProgram = Sh(kCli + " roll " + song + " -o - --color-by program");
    EXPECT_TRUE(Contains(byProgram, ">Violin</text>") && Contains(byProgram, ">drums</text>"));
    ExpectNoteColoursInLegend(byProgram, "by program");
}

TEST(RollOptions, EveryFormatTakesEveryOption) {
    const std::string options = " --measures 2-3 --channels 1 --tracks 2 --color-by program";
    for (const char* name : {"o.svg", "o.png", "o.html"}) {
        if (Contains(name, "png") && !PngBuilt()) continue;
        const std::string out = TmpPath(name);
        const Result r = Cli("roll " + Quote(MeterSong()) + " -o " + Quote(out) + options);
        ASSERT_EQ(r.status, 0) << name << ": " << r.err;
        EXPECT_TRUE(Contains(r.out, ": 2 notes and 0 drum strokes")) << name << ": " << r.out;
        const std::string bytes = Text(out);
        if (Contains(name, "html")) {
            const Json head = PageHead(bytes);
            EXPECT_EQ(head["from"], 720);
            EXPECT_EQ(head["to"], 2400);
            EXPECT_EQ(head["colourBy"], "program");
            EXPECT_EQ(head["parts"].size(), 1u);
        } else if (Contains(name, "png")) {
            EXPECT_EQ(bytes.substr(1, 3), "PNG");
        } else {
            EXPECT_TRUE(Contains(bytes, ">Violin</text>"));
        }
    }
}

TEST(RollOptions, MistakesAreToldBeforeTheSongIsRead) {
    const std::string song = Quote(MeterSong());
    const std::vector<std::pair<std::string, std::string> > cases = {
        {"--channels 17", "midifolio: --channels counts 1..16, not '17'\n"},
        {"--channels 1,x",
         "midifolio: --channels wants A-B or A with whole numbers from 1, not 'x'\n"},
        {"--tracks 0", "midifolio: --tracks counts from 1, not '0'\n"},
        {"--measures 3-2", "midifolio: --measures range '3-2' ends before it starts\n"},
        {"--from 5s --to 1s",
         "midifolio: nothing to draw: the stretch from tick 8160 to tick 960 is empty\n"},
        {"--from 3:4", "midifolio: --from: bar 3 has 2 beats (2/4), not 4\n"}};
    for (const auto& [options, message] : cases) {
        const Result r = Cli("roll " + song + " -o - " + options);
        EXPECT_EQ(r.status, 1) << options;
        EXPECT_EQ(r.err, message) << options;
        EXPECT_EQ(r.out, "") << options;
    }
    for (const char* usage : {"--color-by colour", "--format gif", "--measures 2 --from 1"}) {
        const Result r = Cli("roll " + song + " -o - " + usage);
        EXPECT_EQ(r.status, 2) << usage << ": " << r.err;
    }
}

#endif  // MIDIFOLIO_CLI
