#include "roll_text.h"

#include <cmath>
#include <sstream>

#include "common.h"
#include "describe.h"
#include "midifolio/names.h"
#include "times.h"

using namespace midifolio;

namespace mfcli {

namespace {

// DejaVu Sans' advance widths of ' '..'~' in 1/2048 em, book and bold.
constexpr unsigned short kBook[95] = {
    651,  821,  942,  1716, 1303, 1946, 1597, 563,  799,  799,  1024, 1716, 651,  739,  651,  690,
    1303, 1303, 1303, 1303, 1303, 1303, 1303, 1303, 1303, 1303, 690,  690,  1716, 1716, 1716, 1087,
    2048, 1401, 1405, 1430, 1577, 1294, 1178, 1587, 1540, 604,  604,  1343, 1141, 1767, 1532, 1612,
    1235, 1612, 1423, 1300, 1251, 1499, 1401, 2025, 1403, 1251, 1403, 799,  690,  799,  1716, 1024,
    1024, 1255, 1300, 1126, 1300, 1260, 721,  1300, 1298, 569,  569,  1186, 569,  1995, 1298, 1253,
    1300, 1300, 842,  1067, 803,  1298, 1212, 1675, 1212, 1212, 1075, 1303, 690,  1303, 1716};
constexpr unsigned short kBold[95] = {
    713,  934,  1067, 1716, 1425, 2052, 1786, 627,  936,  936,  1071, 1716, 778,  850,  778,  748,
    1425, 1425, 1425, 1425, 1425, 1425, 1425, 1425, 1425, 1425, 819,  819,  1716, 1716, 1716, 1188,
    2048, 1585, 1561, 1503, 1700, 1399, 1399, 1681, 1714, 762,  762,  1587, 1305, 2038, 1714, 1741,
    1501, 1741, 1577, 1475, 1397, 1663, 1585, 2259, 1579, 1483, 1485, 936,  748,  936,  1716, 1024,
    1024, 1382, 1466, 1214, 1466, 1389, 891,  1466, 1458, 702,  702,  1362, 702,  2134, 1458, 1407,
    1466, 1466, 1010, 1219, 979,  1458, 1335, 1892, 1321, 1335, 1192, 1458, 748,  1458, 1716};
constexpr double kWide = 2048;  // a character outside ASCII: as wide as an em, to be safe

// The number with thousands separated by commas: "2,631,615".
std::string Grouped(size_t n) {
    std::string digits = std::to_string(n), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

// Bytes of the UTF-8 character that starts with `lead`.
size_t CharLength(unsigned char lead) {
    if (lead < 0xC0) return 1;
    if (lead < 0xE0) return 2;
    return lead < 0xF0 ? 3 : 4;
}

}  // namespace

double TextWidth(const std::string& text, double fontSize, bool bold) {
    const unsigned short* widths = bold ? kBold : kBook;
    double units = 0;
    for (size_t i = 0; i < text.size(); i += CharLength(static_cast<unsigned char>(text[i]))) {
        const auto c = static_cast<unsigned char>(text[i]);
        units += c >= 0x20 && c < 0x7F ? widths[c - 0x20] : kWide;
    }
    return units / 2048.0 * fontSize;
}

std::string FitText(const std::string& text, double width, double fontSize, bool bold) {
    if (TextWidth(text, fontSize, bold) <= width) return text;
    const std::string ellipsis = "\xE2\x80\xA6";
    std::string cut;
    for (size_t i = 0; i < text.size();) {
        const size_t n = std::min(CharLength(static_cast<unsigned char>(text[i])), text.size() - i);
        if (TextWidth(cut + text.substr(i, n) + ellipsis, fontSize, bold) > width) break;
        cut += text.substr(i, n);
        i += n;
    }
    return cut + ellipsis;
}

std::vector<std::string> WrapText(const std::string& text, double width, double fontSize,
                                  bool bold) {
    std::vector<std::string> lines(1);
    std::istringstream words(text);
    for (std::string word; words >> word;) {
        std::string& line = lines.back();
        if (!line.empty() && TextWidth(line + " " + word, fontSize, bold) > width) {
            lines.push_back(FitText(word, width, fontSize, bold));
        } else {
            line = FitText(line + (line.empty() ? "" : " ") + word, width, fontSize, bold);
        }
    }
    return lines;
}

std::string SecondsLabel(double s, double step, double duration) {
    if (step < 1) return Format("%.1f s", s);
    const long long v = std::llround(s);
    if (duration < 60) return Format("%lld s", v);
    if (duration < 3600) return Format("%lld:%02lld", v / 60, v % 60);
    return Format("%lld:%02lld:%02lld", v / 3600, v / 60 % 60, v % 60);
}

std::string TempoLabel(double bpm) {
    return "\xE2\x99\xA9=" + std::to_string(std::lround(bpm));
}

std::string TempoRangeLabel(double low, double high) {
    return high - low >= 0.005 ? Format("%.0f..%.0f", low, high) : Format("%.0f", low);
}

std::string MeterLabel(int numerator, unsigned denominator) {
    return std::to_string(numerator) + "/" +
           (denominator ? std::to_string(denominator) : std::string("?"));
}

std::string DrumRowName(int pitch) {
    const std::string name = names::DrumName(pitch);
    return name.empty() ? "note " + std::to_string(pitch) : name;
}

std::string InstrumentName(const RollNote& note) {
    return note.drum() ? DrumRowName(note.pitch) : names::ProgramName(note.program);
}

std::string BarBeatLabel(const RollSong& song, double tick) {
    const score::BarBeat at = song.meter.at(tick);
    if (std::abs(at.tick) < 5e-4) return Format("%d:%d", at.bar, at.beat);
    return BarText(at, song.ticksPerQuarter);
}

std::string NoteDescription(const RollSong& song, const RollNote& n) {
    const std::string name = n.track < song.trackNames.size() ? song.trackNames[n.track] : "";
    std::string text =
        InstrumentName(n) + " " + names::PitchName(n.pitch) + " (" + std::to_string(n.pitch) +
        "), velocity " + std::to_string(n.velocity) + "; track " + std::to_string(n.track + 1) +
        (name.empty() ? "" : " (" + name + ")") + ", ch " + std::to_string(n.channel + 1) +
        "; bar " + BarBeatLabel(song, static_cast<double>(n.startTick));
    text += " to " + BarBeatLabel(song, static_cast<double>(n.endTick)) + ", " +
            SecondsText(n.start, 3) + " s to " + SecondsText(n.end, 3) + " s";
    return text;
}

std::string FactsLine(const RollSong& song) {
    const double from = song.Seconds(static_cast<double>(song.fromTick));
    const double to = song.Seconds(static_cast<double>(song.toTick));
    std::string text = Plural(static_cast<long long>(song.melodic), "note") + ", " +
                       Plural(static_cast<long long>(song.drums), "drum stroke") + "; ";
    if (song.whole) return text + ClockSeconds(to) + ", " + Plural(song.songBars, "bar");
    return text + "bar " + BarBeatLabel(song, static_cast<double>(song.fromTick)) + " to " +
           BarBeatLabel(song, static_cast<double>(song.toTick)) + " (" + ClockSeconds(from) +
           " to " + ClockSeconds(to) + ") of " + Plural(song.songBars, "bar");
}

std::string DensityCaption(size_t notes, double plotWidth, int rows, const RollSong& song) {
    const char* who = song.colourBy == RollColour::kChannel ? "channel"
                      : song.colourBy == RollColour::kTrack ? "track"
                                                            : "program";
    return "Density: " + Grouped(notes) + " notes are too many to draw one by one in " +
           Grouped(static_cast<size_t>(plotWidth)) + " pixels across " + Plural(rows, "row") +
           ". Each pixel of a row shows how many notes sound in it by " +
           "the height of its mark, in the colour of the " + who +
           " that plays more than half of them (grey: none does).";
}

}  // namespace mfcli
