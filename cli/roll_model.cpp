#include "roll_model.h"

#include <algorithm>
#include <array>
#include <map>

#include "common.h"
#include "midifolio/names.h"

using namespace midifolio;

namespace mfcli {

namespace {

// Kelly's colours of maximum contrast without white: the sixteen channel colours first (on
// white no two of them lie closer than 15.9 in CIEDE2000; the strongest first, as low channels
// are the most used; channel 10, the drums, near-black), then the five Kelly left out.
constexpr const char* kKelly[21] = {
    "#0067a5", "#be0032", "#008856", "#f38400", "#875692", "#f3c300", "#a1caf1",
    "#e68fac", "#848482", "#222222", "#8db600", "#654522", "#f99379", "#c2b280",
    "#2b3d26", "#e25822", "#604e97", "#f6a600", "#b3446c", "#dcd300", "#882d17"};
constexpr size_t kDrumColour = 9;
constexpr int kDrumChannel = 9;

// The note as the roll keeps it: the one place that reads the exact view's notes.
RollNote FromScore(const score::Note& n) {
    RollNote r;
    r.startTick = n.start_tick;
    r.endTick = n.end_tick;
    r.start = n.start;
    r.end = n.end;
    r.track = n.track;
    r.channel = n.channel & 15;
    r.program = n.program & 127;
    r.pitch = n.pitch & 127;
    r.velocity = n.velocity;
    return r;
}

// The stretch of ticks shown, [from, to): the selection's, or the whole song.
std::pair<int64_t, int64_t> Window(const score::Score& score, const RollSelection& sel) {
    int64_t end = score.end_tick();
    for (const score::Note& n : score.notes()) end = std::max<int64_t>(end, n.end_tick);
    const int64_t from = std::max<int64_t>(sel.fromTick, 0);
    int64_t to = sel.toTick < 0 ? std::max<int64_t>(end, 1) : sel.toTick + 1;
    if (to <= from) {
        throw Failure(Format("nothing to draw: the stretch from tick %lld to tick %lld is empty",
                             static_cast<long long>(from), static_cast<long long>(to - 1)));
    }
    return {from, to};
}

bool Selected(const RollSelection& sel, const score::Note& n) {
    if ((sel.channels >> (n.channel & 15) & 1) == 0) return false;
    return sel.tracks.empty() || (n.track < sel.tracks.size() && sel.tracks[n.track]);
}

// The notes that sound in [from, to) of the selected tracks and channels; a note without
// length counts where it starts.
std::vector<RollNote> SelectNotes(const score::Score& score, const RollSelection& sel, int64_t from,
                                  int64_t to) {
    std::vector<RollNote> notes;
    for (const score::Note& n : score.notes()) {
        if (n.start_tick >= to) break;
        const bool sounds = n.end_tick > from || (n.start_tick >= from);
        if (sounds && Selected(sel, n)) notes.push_back(FromScore(n));
    }
    return notes;
}

// What a note's key stands for under a colouring: a channel, a track, or a program (the
// percussion channel's notes, whatever their program, as -1).
int KeyOf(RollColour by, const RollNote& n) {
    switch (by) {
        case RollColour::kChannel:
            return n.channel;
        case RollColour::kTrack:
            return n.track;
        case RollColour::kProgram:
            return n.drum() ? -1 : n.program;
    }
    return 0;
}

// The programs of each channel's notes in the order first heard.
std::vector<std::vector<int>> ChannelPrograms(const std::vector<RollNote>& notes) {
    std::vector<std::vector<int>> programs(16);
    for (const RollNote& n : notes) {
        std::vector<int>& list = programs[n.channel];
        if (std::find(list.begin(), list.end(), n.program) == list.end()) list.push_back(n.program);
    }
    return programs;
}

// "ch 1 Violin, Flute": a channel and the programs of its notes; "ch 10 drums".
std::string ChannelLabel(int channel, const std::vector<int>& programs) {
    if (channel == kDrumChannel) return "ch 10 drums";
    std::string label = "ch " + std::to_string(channel + 1);
    for (size_t i = 0; i < programs.size(); ++i)
        label += (i == 0 ? " " : ", ") + std::string(names::ProgramName(programs[i]));
    return label;
}

RollKey MakeKey(RollColour by, int what, size_t order, const RollSong& song,
                const std::vector<std::vector<int>>& programs) {
    RollKey key;
    switch (by) {
        case RollColour::kChannel:
            key.channel = what;
            key.label = ChannelLabel(what, programs[static_cast<size_t>(what)]);
            key.colour = ChannelColour(what);
            break;
        case RollColour::kTrack: {
            key.track = what;
            const size_t t = static_cast<size_t>(what);
            const std::string name = t < song.trackNames.size() ? song.trackNames[t] : "";
            key.label = "track " + std::to_string(what + 1) + (name.empty() ? "" : " " + name);
            key.colour = PaletteColour(order);
            break;
        }
        case RollColour::kProgram:
            key.program = what;
            key.drums = what < 0;
            key.label = what < 0 ? "drums" : names::ProgramName(what);
            key.colour = what < 0 ? kKelly[kDrumColour] : PaletteColour(order);
            break;
    }
    return key;
}

// One key per channel, track or program the notes use, in that order (the drums last when
// colouring by program), and each note's key.
void AssignKeys(RollSong& song) {
    std::map<int, size_t> index;
    for (const RollNote& n : song.notes) index.emplace(KeyOf(song.colourBy, n), 0);
    if (index.count(-1)) {
        // The drums' key goes last.
        index.erase(-1);
        index.emplace(1 << 20, 0);
    }
    const std::vector<std::vector<int>> programs = ChannelPrograms(song.notes);
    size_t order = 0, palette = 0;
    for (auto& [what, slot] : index) {
        slot = order++;
        const int stands = what == 1 << 20 ? -1 : what;
        song.keys.push_back(MakeKey(song.colourBy, stands, palette, song, programs));
        palette += stands >= 0;
    }
    for (RollNote& n : song.notes) {
        const int what = KeyOf(song.colourBy, n);
        n.key = static_cast<uint32_t>(index.at(what < 0 ? 1 << 20 : what));
        ++song.keys[n.key].notes;
    }
}

// The stripes of notes in unison: per pitch, the keys of the notes that overlap each note in
// time, as bits of a mask (key modulo 64), swept in start order.
void MarkUnisons(std::vector<RollNote>& notes) {
    std::vector<std::vector<uint32_t>> byPitch(128);
    for (size_t i = 0; i < notes.size(); ++i) {
        if (!notes[i].drum()) byPitch[notes[i].pitch].push_back(static_cast<uint32_t>(i));
    }
    const auto bit = [](uint32_t key) { return uint64_t{1} << (key % 64); };
    std::vector<uint64_t> keys(notes.size());
    std::vector<uint32_t> sounding;
    for (const std::vector<uint32_t>& row : byPitch) {
        sounding.clear();
        for (uint32_t i : row) {
            RollNote& n = notes[i];
            keys[i] |= bit(n.key);
            const auto ended = [&](uint32_t j) { return notes[j].endTick <= n.startTick; };
            sounding.erase(std::remove_if(sounding.begin(), sounding.end(), ended), sounding.end());
            for (uint32_t j : sounding) {
                keys[i] |= bit(notes[j].key);
                keys[j] |= bit(n.key);
            }
            if (n.endTick > n.startTick) sounding.push_back(i);
        }
    }
    for (size_t i = 0; i < notes.size(); ++i) {
        const uint64_t below = keys[i] & (bit(notes[i].key) - 1);
        notes[i].stripes = static_cast<uint8_t>(std::min(15, __builtin_popcountll(keys[i])));
        notes[i].stripe =
            static_cast<uint8_t>(std::min(notes[i].stripes - 1, __builtin_popcountll(below)));
    }
}

void ReadClocks(RollSong& song) {
    for (const score::TempoChange& t : song.time.segments())
        song.tempos.push_back({t.tick, t.seconds, t.us_per_quarter});
    for (const score::MeterMap::Meter& m : song.meter.meters()) {
        const uint32_t denominator = m.denominator_power < 32 ? 1u << m.denominator_power : 0u;
        song.meters.push_back({m.tick, m.bar, m.numerator, denominator, m.beat_ticks, m.bar_ticks});
    }
}

}  // namespace

RollColour ParseRollColour(const std::string& name) {
    if (name == "channel") return RollColour::kChannel;
    if (name == "track") return RollColour::kTrack;
    if (name == "program") return RollColour::kProgram;
    throw Failure("--color-by wants channel, track or program, not '" + Shown(name) + "'");
}

const char* RollColourName(RollColour colour) {
    switch (colour) {
        case RollColour::kChannel:
            return "channel";
        case RollColour::kTrack:
            return "track";
        case RollColour::kProgram:
            return "program";
    }
    return "";
}

const char* ChannelColour(int channel) {
    return kKelly[static_cast<size_t>(channel) & 15];
}

const char* PaletteColour(size_t index) {
    // Every Kelly colour but the drums' near-black, in turn.
    const size_t k = index % 20;
    return kKelly[k < kDrumColour ? k : k + 1];
}

RollSong BuildRollSong(const score::Score& score, const RollSelection& selection, std::string title,
                       std::vector<std::string> trackNames) {
    RollSong song;
    song.title = std::move(title);
    song.trackNames = std::move(trackNames);
    song.colourBy = selection.colourBy;
    song.time = score.time_map();
    song.meter = score.meter_map();
    song.ticksPerQuarter = song.time.ticks_per_quarter();
    song.songBars = score.bars();
    std::tie(song.fromTick, song.toTick) = Window(score, selection);
    song.whole = selection.fromTick <= 0 && selection.toTick < 0;
    song.notes = SelectNotes(score, selection, song.fromTick, song.toTick);
    for (const RollNote& n : song.notes) ++(n.drum() ? song.drums : song.melodic);
    AssignKeys(song);
    MarkUnisons(song.notes);
    ReadClocks(song);
    return song;
}

RollRows RowsOf(const RollSong& song) {
    std::array<bool, 128> struck{};
    int lo = 128, hi = -1;
    for (const RollNote& n : song.notes) {
        if (n.drum()) {
            struck[n.pitch] = true;
        } else {
            lo = std::min<int>(lo, n.pitch);
            hi = std::max<int>(hi, n.pitch);
        }
    }
    RollRows rows;
    if (hi >= 0) {
        rows.lo = lo / 12 * 12;
        rows.hi = std::min(127, (hi / 12 + 1) * 12 - 1);
    }
    for (int p = 127; p >= 0; --p)
        if (struck[static_cast<size_t>(p)]) rows.drums.push_back(p);
    return rows;
}

}  // namespace mfcli
