#include "roll_html.h"

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>
#include <string_view>
#include <tuple>

#include "midifolio/names.h"
#include "roll_text.h"

using namespace midifolio;

namespace mfcli {

namespace {

// The page: everything before the mark, the song's data, everything after it.
constexpr std::string_view kPage =
#include "roll_page.inc"
    ;
constexpr std::string_view kDataMark = "<!--roll-data-->";

// The notes of one track, channel and program, in start order.
struct Part {
    uint16_t track = 0;
    uint8_t channel = 0;
    uint8_t program = 0;
    uint32_t key = 0;
    int64_t base = 0;  // the first note's start tick
    std::vector<uint32_t> notes;
};

std::vector<Part> Parts(const RollSong& song) {
    std::map<std::tuple<int, int, int>, size_t> index;
    for (const RollNote& n : song.notes)
        index.emplace(std::make_tuple(n.track, n.channel, n.program), 0);
    std::vector<Part> parts;
    for (auto& [id, slot] : index) {
        slot = parts.size();
        parts.emplace_back();
        parts.back().track = static_cast<uint16_t>(std::get<0>(id));
        parts.back().channel = static_cast<uint8_t>(std::get<1>(id));
        parts.back().program = static_cast<uint8_t>(std::get<2>(id));
    }
    for (size_t i = 0; i < song.notes.size(); ++i) {
        const RollNote& n = song.notes[i];
        Part& part = parts[index.at(std::make_tuple(n.track, n.channel, n.program))];
        if (part.notes.empty()) {
            part.base = n.startTick;
            part.key = n.key;
        }
        part.notes.push_back(static_cast<uint32_t>(i));
    }
    return parts;
}

void PutVarint(std::string& out, uint64_t value) {
    while (value >= 0x80) {
        out += static_cast<char>(0x80 | (value & 0x7F));
        value >>= 7;
    }
    out += static_cast<char>(value);
}

// A part's notes packed: start since the last start, length, pitch, velocity, and the note's
// stripe in unison (stripes - 1 in the high four bits, the stripe in the low four; 0 alone).
std::string Pack(const RollSong& song, const Part& part) {
    std::string out;
    out.reserve(part.notes.size() * 7);
    int64_t last = part.base;
    for (uint32_t i : part.notes) {
        const RollNote& n = song.notes[i];
        PutVarint(out, static_cast<uint64_t>(n.startTick - last));
        PutVarint(out, static_cast<uint64_t>(std::max<int64_t>(n.endTick - n.startTick, 0)));
        out += static_cast<char>(n.pitch);
        out += static_cast<char>(n.velocity);
        out += static_cast<char>(n.stripes > 1 ? (n.stripes - 1) << 4 | n.stripe : 0);
        last = n.startTick;
    }
    return out;
}

// Base64 in lines of 4,096 characters, fed a part at a time.
class Base64Lines {
  public:
    explicit Base64Lines(Output& out) : out_(out) {}
    void Add(const std::string& bytes) {
        for (char c : bytes) {
            pending_[count_++] = static_cast<unsigned char>(c);
            if (count_ == 3) Emit();
        }
    }
    void Finish() {
        if (count_ > 0) Emit();
        if (!line_.empty()) out_ << line_ << '\n';
        line_.clear();
    }

  private:
    void Emit() {
        static const char kDigits[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        const unsigned v = pending_[0] << 16 | pending_[1] << 8 | pending_[2];
        line_ += kDigits[v >> 18 & 63];
        line_ += kDigits[v >> 12 & 63];
        line_ += count_ > 1 ? kDigits[v >> 6 & 63] : '=';
        line_ += count_ > 2 ? kDigits[v & 63] : '=';
        pending_[0] = pending_[1] = pending_[2] = 0;
        count_ = 0;
        if (line_.size() >= 4096) {
            out_ << line_ << '\n';
            line_.clear();
        }
    }
    Output& out_;
    unsigned char pending_[3] = {0, 0, 0};
    int count_ = 0;
    std::string line_;
};

nlohmann::json KeysJson(const RollSong& song) {
    nlohmann::json keys = nlohmann::json::array();
    for (const RollKey& k : song.keys) keys.push_back({{"label", k.label}, {"colour", k.colour}});
    return keys;
}

nlohmann::json PartsJson(const std::vector<Part>& parts) {
    nlohmann::json list = nlohmann::json::array();
    for (const Part& p : parts) {
        list.push_back({{"track", p.track},
                        {"channel", p.channel},
                        {"program", p.program},
                        {"key", p.key},
                        {"base", p.base},
                        {"count", p.notes.size()}});
    }
    return list;
}

void ClocksJson(const RollSong& song, nlohmann::json& head) {
    nlohmann::json tempos = nlohmann::json::array(), meters = nlohmann::json::array();
    for (const RollTempo& t : song.tempos) tempos.push_back({t.tick, t.seconds, t.usPerQuarter});
    for (const RollMeter& m : song.meters)
        meters.push_back({m.tick, m.bar, m.numerator, m.denominator, m.beatTicks, m.barTicks});
    head["tempos"] = std::move(tempos);
    head["meters"] = std::move(meters);
}

// The rows of the roll: the melodic notes' range widened to whole octaves, the drums struck
// (highest first).
void RowsJson(const RollSong& song, nlohmann::json& head) {
    const RollRows rows = RowsOf(song);
    head["lowPitch"] = rows.lo;
    head["highPitch"] = rows.hi;
    head["drumPitches"] = rows.drums;
}

// The names the page shows: tracks, programs and drums of the notes, every pitch.
void NamesJson(const RollSong& song, const std::vector<Part>& parts, nlohmann::json& head) {
    nlohmann::json tracks = nlohmann::json::object(), programs = nlohmann::json::object(),
                   drums = nlohmann::json::object(), pitches = nlohmann::json::array();
    for (const Part& p : parts) {
        const std::string name = p.track < song.trackNames.size() ? song.trackNames[p.track] : "";
        tracks[std::to_string(p.track)] = name;
        if (p.channel != 9) programs[std::to_string(p.program)] = names::ProgramName(p.program);
    }
    for (const RollNote& n : song.notes) {
        if (n.drum()) drums[std::to_string(n.pitch)] = DrumRowName(n.pitch);
    }
    for (int p = 0; p < 128; ++p) pitches.push_back(names::PitchName(p));
    head["trackNames"] = std::move(tracks);
    head["programNames"] = std::move(programs);
    head["drumNames"] = std::move(drums);
    head["pitchNames"] = std::move(pitches);
}

// The page's data as JSON fit to stand in a script element ('<' escaped).
std::string HeadJson(const RollSong& song, const std::vector<Part>& parts) {
    nlohmann::json head = {{"title", song.title},
                           {"facts", FactsLine(song)},
                           {"ticksPerQuarter", song.ticksPerQuarter},
                           {"from", song.fromTick},
                           {"to", song.toTick},
                           {"colourBy", RollColourName(song.colourBy)},
                           {"mixedColour", kMixedColour},
                           {"keys", KeysJson(song)},
                           {"parts", PartsJson(parts)}};
    ClocksJson(song, head);
    RowsJson(song, head);
    NamesJson(song, parts, head);
    std::string text = head.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::string safe;
    safe.reserve(text.size());
    for (char c : text) safe += c == '<' ? std::string("\\u003c") : std::string(1, c);
    return safe;
}

}  // namespace

HtmlStats WriteRollHtml(const RollSong& song, Output& out) {
    const std::vector<Part> parts = Parts(song);
    HtmlStats stats;
    stats.parts = parts.size();
    const size_t mark = kPage.find(kDataMark);
    out << kPage.substr(0, mark);
    out << "<script id=\"roll-head\" type=\"application/json\">" << HeadJson(song, parts)
        << "</script>\n<script id=\"roll-notes\" type=\"application/octet-stream\">\n";
    Base64Lines base64(out);
    for (const Part& part : parts) {
        const std::string bytes = Pack(song, part);
        stats.noteBytes += bytes.size();
        base64.Add(bytes);
    }
    base64.Finish();
    out << "</script>";
    out << kPage.substr(mark + kDataMark.size());
    return stats;
}

}  // namespace mfcli
