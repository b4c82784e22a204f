// The views a Score derives from the events and notes: the lists of tempo, time- and
// key-signature changes, duration and bars, beats, the summary, instruments, track summaries,
// the piano roll, event streams and the texts of meta events.
#include <algorithm>
#include <array>
#include <cmath>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "midifolio/event_kinds.h"
#include "midifolio/midi_event.h"
#include "song_checks.h"

namespace fuzzsupport {

using namespace midifolio;
using sc::EventRecord;
using sc::MeterMap;
using sc::Note;
using sc::Score;
using sc::Song;

namespace {

// The meta events of a type with at least `least` payload bytes, by tick, then track, then
// file order (the table is in track, then file order).
std::vector<EventRecord> MetasOf(const std::vector<EventRecord>& events, int type, uint32_t least) {
    std::vector<EventRecord> out;
    for (const EventRecord& r : events)
        if (IsMeta(r, type) && r.length >= least) out.push_back(r);
    std::stable_sort(out.begin(), out.end(),
                     [](const EventRecord& a, const EventRecord& b) { return a.tick < b.tick; });
    return out;
}

}  // namespace

void CheckMapLists(const Score& score, const std::vector<EventRecord>& events) {
    const uint8_t* bytes = score.song().bytes().data();
    const std::vector<EventRecord> tempos = MetasOf(events, META_TEMPO, 3);
    FUZZ_CHECK(score.tempos().size() == tempos.size());
    for (size_t k = 0; k < tempos.size(); ++k) {
        const sc::TempoChange& t = score.tempos()[k];
        const uint8_t* p = bytes + tempos[k].offset;
        FUZZ_CHECK(t.tick == tempos[k].tick && t.track == tempos[k].track);
        FUZZ_CHECK(t.us_per_quarter == (uint32_t{p[0]} << 16 | p[1] << 8 | p[2]));
        FUZZ_CHECK(t.seconds == score.time_map(t.track).seconds(static_cast<double>(t.tick)));
    }
    const std::vector<EventRecord> meters = MetasOf(events, META_TIME_SIGNATURE, 2);
    FUZZ_CHECK(score.time_signatures().size() == meters.size());
    for (size_t k = 0; k < meters.size(); ++k) {
        const sc::TimeSignature& m = score.time_signatures()[k];
        const uint8_t* p = bytes + meters[k].offset;
        FUZZ_CHECK(m.tick == meters[k].tick && m.track == meters[k].track);
        FUZZ_CHECK(m.numerator == p[0] && m.denominator_power == p[1]);
        FUZZ_CHECK(m.denominator() == (p[1] < 32 ? 1u << p[1] : 0u));
        const double tick = static_cast<double>(m.tick);
        FUZZ_CHECK(m.seconds == score.time_map(m.track).seconds(tick));
        FUZZ_CHECK(m.bar == score.meter_map(m.track).at(tick).bar);
    }
    const std::vector<EventRecord> keys = MetasOf(events, META_KEY_SIGNATURE, 2);
    FUZZ_CHECK(score.key_signatures().size() == keys.size());
    for (size_t k = 0; k < keys.size(); ++k) {
        const sc::KeySignature& s = score.key_signatures()[k];
        const uint8_t* p = bytes + keys[k].offset;
        FUZZ_CHECK(s.tick == keys[k].tick && s.track == keys[k].track);
        FUZZ_CHECK(s.sharps == static_cast<int8_t>(p[0]) && s.minor == (p[1] != 0));
        const double tick = static_cast<double>(s.tick);
        FUZZ_CHECK(s.seconds == score.time_map(s.track).seconds(tick));
        FUZZ_CHECK(s.bar == score.meter_map(s.track).at(tick).bar);
    }
}

namespace {

// Duration and bars: of the song's end (of the longest track in format 2).
void CheckLength(const Score& score) {
    const Song& song = score.song();
    double duration = 0;
    int32_t bars = 0;
    if (song.format() != 2) {
        duration = score.time_map().seconds(static_cast<double>(score.end_tick()));
        bars = score.meter_map().bars_before(static_cast<double>(score.end_tick()));
    }
    for (size_t t = 0; song.format() == 2 && t < song.tracks().size(); ++t) {
        const double end = static_cast<double>(song.tracks()[t].end_tick);
        duration = std::max(duration, score.time_map(t).seconds(end));
        bars = std::max(bars, score.meter_map(t).bars_before(end));
    }
    FUZZ_CHECK(std::isfinite(score.duration()) && score.duration() >= 0);
    FUZZ_CHECK(score.duration() == duration && score.bars() == bars && bars >= 0);
}

// Beats and downbeats, when the song has few enough of them to list (a long silence at a fine
// meter holds billions).
void CheckBeats(const Score& score) {
    const std::vector<MeterMap::Meter>& meters = score.meter_map().meters();
    const double end = static_cast<double>(score.end_tick());
    double expected = 0;
    for (size_t m = 0; m < meters.size(); ++m) {
        const double from = static_cast<double>(meters[m].tick);
        const double until = m + 1 < meters.size() ? static_cast<double>(meters[m + 1].tick) : end;
        if (from > end) break;
        expected += (std::min(until, end) - from) / meters[m].beat_ticks + 2;
    }
    if (expected > 200000) return;
    const std::vector<double> beats = score.beats();
    const std::vector<double> downbeats = score.downbeats();
    FUZZ_CHECK(!beats.empty() && beats[0] == 0 && beats.size() <= expected + 1);
    FUZZ_CHECK(!downbeats.empty() && downbeats[0] == 0 && downbeats.size() <= beats.size());
    const double last = score.time_map().seconds(end);
    for (const std::vector<double>* list : {&beats, &downbeats})
        for (size_t k = 0; k < list->size(); ++k) {
            FUZZ_CHECK(std::isfinite((*list)[k]) && (*list)[k] <= last + 1e-9 * (1 + last));
            if (k > 0) FUZZ_CHECK((*list)[k] >= (*list)[k - 1]);
        }
}

void CheckSummary(const Score& score) {
    const std::vector<Note>& notes = score.notes();
    const sc::Summary s = score.summary();
    FUZZ_CHECK(s.notes == notes.size());
    FUZZ_CHECK(s.duration == score.duration() && s.bars == score.bars());
    FUZZ_CHECK(s.keys.size() == score.key_signatures().size());
    FUZZ_CHECK(s.peak_polyphony <= notes.size());
    int low = -1, high = -1;
    bool drums = false, sounding = false;
    std::set<uint8_t> programs;
    for (const Note& n : notes) {
        low = low < 0 ? n.pitch : std::min<int>(low, n.pitch);
        high = std::max<int>(high, n.pitch);
        sounding = sounding || n.end_tick > n.start_tick;
        if (n.channel == PERCUSSION_CHANNEL)
            drums = true;
        else
            programs.insert(n.program);
    }
    FUZZ_CHECK(s.lowest_pitch == low && s.highest_pitch == high && s.drums == drums);
    FUZZ_CHECK(s.programs == std::vector<uint8_t>(programs.begin(), programs.end()));
    FUZZ_CHECK(sounding == (s.peak_polyphony > 0));
    // The most notes sounding at once, by sorting every start and end (an end first at a tick).
    std::vector<std::pair<int64_t, int>> marks;
    for (const Note& n : notes)
        if (n.end_tick > n.start_tick) {
            marks.push_back({n.start_tick, 1});
            marks.push_back({n.end_tick, -1});
        }
    std::sort(marks.begin(), marks.end());
    int now = 0, peak = 0;
    for (const auto& m : marks) peak = std::max(peak, now += m.second);
    FUZZ_CHECK(s.peak_polyphony == static_cast<uint32_t>(peak));
    // The survey answers as the summary and the instruments do.
    const sc::Survey survey = score.survey();
    FUZZ_CHECK(survey.summary.notes == s.notes && survey.summary.programs == s.programs &&
               survey.summary.peak_polyphony == s.peak_polyphony &&
               survey.summary.lowest_pitch == s.lowest_pitch && survey.summary.drums == s.drums);
    FUZZ_CHECK(survey.instruments.size() == score.instruments().size());
    std::set<uint8_t> struck;
    for (const Note& n : notes)
        if (n.channel == PERCUSSION_CHANNEL) struck.insert(n.pitch);
    FUZZ_CHECK(survey.drum_notes == std::vector<uint8_t>(struck.begin(), struck.end()));
}

void CheckInstruments(const Score& score) {
    const std::vector<sc::Instrument> list = score.instruments();
    size_t total = 0;
    for (size_t k = 0; k < list.size(); ++k) {
        const sc::Instrument& in = list[k];
        FUZZ_CHECK(in.channel < 16 && in.program < 128 && in.bank_msb < 128 && in.bank_lsb < 128);
        FUZZ_CHECK(in.notes > 0 && in.lowest <= in.highest && in.highest < 128);
        FUZZ_CHECK(!in.name.empty() && ValidUtf8(in.name));
        FUZZ_CHECK(!in.tracks.empty() && std::is_sorted(in.tracks.begin(), in.tracks.end()));
        FUZZ_CHECK(std::adjacent_find(in.tracks.begin(), in.tracks.end()) == in.tracks.end());
        FUZZ_CHECK(in.tracks.back() < score.song().tracks().size());
        if (k > 0) {
            const sc::Instrument& p = list[k - 1];
            FUZZ_CHECK(std::tie(p.channel, p.program, p.bank_msb, p.bank_lsb) <
                       std::tie(in.channel, in.program, in.bank_msb, in.bank_lsb));
        }
        total += in.notes;
    }
    FUZZ_CHECK(total == score.notes().size());
}

void CheckTrackSummaries(const Score& score, const std::vector<EventRecord>& events) {
    const Song& song = score.song();
    const std::vector<sc::TrackSummary> list = score.track_summaries();
    FUZZ_CHECK(list.size() == song.tracks().size());
    std::vector<std::array<bool, 16>> channels(list.size(), std::array<bool, 16>{});
    std::vector<size_t> lyrics(list.size(), 0), notes(list.size(), 0), drums(list.size(), 0);
    std::vector<std::string> names(list.size());
    std::vector<bool> named(list.size(), false);
    std::vector<std::set<uint8_t>> programs(list.size());
    for (const EventRecord& r : events) {
        if (r.channel < 16) channels[r.track][r.channel] = true;
        lyrics[r.track] += IsMeta(r, META_LYRIC);
        if (IsMeta(r, META_TRACK_NAME) && !named[r.track]) {
            named[r.track] = true;
            names[r.track] = sc::Text(song.bytes().data() + r.offset, r.length);
        }
    }
    for (const Note& n : score.notes()) {
        ++notes[n.track];
        drums[n.track] += n.channel == PERCUSSION_CHANNEL;
        if (n.channel != PERCUSSION_CHANNEL) programs[n.track].insert(n.program);
    }
    for (size_t t = 0; t < list.size(); ++t) {
        const sc::TrackSummary& s = list[t];
        FUZZ_CHECK(s.index == t && s.name == names[t] && ValidUtf8(s.name));
        FUZZ_CHECK(s.notes == notes[t] && s.lyrics == lyrics[t]);
        FUZZ_CHECK(s.is_drum == (notes[t] > 0 && drums[t] == notes[t]));
        std::vector<uint8_t> used;
        for (uint8_t c = 0; c < 16; ++c)
            if (channels[t][c]) used.push_back(c);
        FUZZ_CHECK(s.channels == used);
        FUZZ_CHECK(s.programs == std::vector<uint8_t>(programs[t].begin(), programs[t].end()));
    }
}

void CheckPianoRoll(const Score& score, uint32_t choice) {
    for (double bad : {0.0, -1.0, std::nan(""), HUGE_VAL})
        FUZZ_CHECK(score.piano_roll(bad).cells.empty());
    const double fs = 1 + choice % 16;
    const double length = score.duration() * fs;
    if (length * 128 > 4e6) return;
    const bool drums = (choice >> 4) & 1;
    const sc::PianoRoll roll = score.piano_roll(fs, drums);
    FUZZ_CHECK(roll.fs == fs && roll.frames == static_cast<size_t>(std::ceil(length)));
    FUZZ_CHECK(roll.cells.size() == 128 * roll.frames);
    for (uint8_t c : roll.cells) FUZZ_CHECK(c <= 127);
    for (const Note& n : score.notes()) {
        if (n.channel == PERCUSSION_CHANNEL && !drums) continue;
        const double first = std::floor(n.start * fs), last = std::floor(n.end * fs);
        if (first < last && first < static_cast<double>(roll.frames))
            FUZZ_CHECK(roll.at(n.pitch, static_cast<size_t>(first)) >= n.velocity);
    }
}

// The texts of meta events are valid UTF-8, the payload itself when it is.
void CheckTexts(const Song& song, const std::vector<EventRecord>& events) {
    for (const EventRecord& r : events) {
        if (r.status != 0xFF) continue;
        const uint8_t* p = song.bytes().data() + r.offset;
        const std::string text = sc::Text(p, r.length);
        const std::string raw(reinterpret_cast<const char*>(p), r.length);
        FUZZ_CHECK(ValidUtf8(text));
        if (ValidUtf8(raw)) FUZZ_CHECK(text == raw);
    }
}

}  // namespace

void CheckStreams(const Score& score, const std::vector<EventRecord>& timed, uint32_t choice);

void CheckDerived(const Score& score, const std::vector<EventRecord>& timed, uint32_t choice) {
    CheckLength(score);
    CheckBeats(score);
    CheckSummary(score);
    CheckInstruments(score);
    CheckTrackSummaries(score, timed);
    CheckPianoRoll(score, choice);
    CheckStreams(score, timed, choice);
    CheckTexts(score.song(), timed);
}

// Event streams: the whole song, and a stretch of tracks from a tick, in time order with the
// ends of the notes.
void CheckStreams(const Score& score, const std::vector<EventRecord>& timed, uint32_t choice) {
    std::vector<size_t> order(timed.size());
    for (size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return std::tie(timed[a].tick, timed[a].track) < std::tie(timed[b].tick, timed[b].track);
    });
    const std::vector<sc::TrackInfo>& info = score.song().tracks();
    std::vector<int64_t> ends(timed.size(), -1);
    for (const PairedNote& n : PairNotes(timed, info)) ends[n.onIndex] = n.end;
    const size_t first = info.empty() ? 0 : (choice >> 8) % info.size();
    const size_t last = first + (choice >> 16) % 3;
    const int64_t from = static_cast<int64_t>(static_cast<double>(score.end_tick()) *
                                              ((choice >> 20) & 0xFF) / 255.0);
    for (int pass = 0; pass < 2; ++pass) {
        sc::EventStream whole(score);
        sc::EventStream part(score, first, last, from);
        sc::EventStream& stream = pass == 0 ? whole : part;
        auto skipped = [&](size_t at) {
            const EventRecord& r = timed[order[at]];
            return pass == 1 && (r.track < first || r.track > last || r.tick < from);
        };
        size_t at = 0;
        EventRecord r;
        int64_t end = 0;
        while (stream.Next(r, end)) {
            while (at < order.size() && skipped(at)) ++at;
            FUZZ_CHECK(at < order.size() && SameRecord(r, timed[order[at]], true));
            const size_t k = order[at++];
            FUZZ_CHECK(end == ends[k]);
        }
        while (at < order.size() && skipped(at)) ++at;
        FUZZ_CHECK(at == order.size() && stream.whole());
        FUZZ_CHECK(!stream.Next(r, end));
    }
}

}  // namespace fuzzsupport
