// CheckViews: every view of a read song, held against the song's own event table and our own
// note pairing (song_checks.h).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <numeric>
#include <tuple>

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
using sc::TimeMap;
using sc::TrackInfo;

namespace {

// What the data bytes of a status byte are: 0, 1 or 2 (payload kinds: 0).
int DataCount(uint8_t status) {
    return std::max(smf::DataBytes(status), 0);
}

}  // namespace

bool SameRecord(const EventRecord& a, const EventRecord& b, bool seconds) {
    return a.tick == b.tick && (!seconds || a.seconds == b.seconds) && a.track == b.track &&
           a.kind == b.kind && a.channel == b.channel && a.status == b.status &&
           a.data1 == b.data1 && a.data2 == b.data2 && a.meta == b.meta && a.port == b.port &&
           a.reserved == b.reserved && a.length == b.length && a.offset == b.offset;
}

namespace {

// One record of the event table, on its own.
void CheckRecord(const Song& song, const EventRecord& r) {
    FUZZ_CHECK(r.status >= 0x80);
    FUZZ_CHECK(r.status != 0xF4 && r.status != 0xF5 && r.status != 0xF9 && r.status != 0xFD);
    FUZZ_CHECK(r.kind == smf::TypeCodeOfStatus(r.status));
    FUZZ_CHECK(r.channel == (smf::IsChannelStatus(r.status) ? (r.status & 15) : 255));
    FUZZ_CHECK(r.seconds == 0 && r.reserved == 0 && r.tick >= 0);
    const bool meta = r.status == 0xFF;
    FUZZ_CHECK(meta ? (r.meta >= 0 && r.meta <= 255 && r.data1 == 0 && r.data2 == 0)
                    : r.meta == -1);
    if (!meta) {
        FUZZ_CHECK(r.data1 <= 127 && r.data2 <= 127);
        const int n = DataCount(r.status);
        if (n < 2) FUZZ_CHECK(r.data2 == 0);
        if (n < 1) FUZZ_CHECK(r.data1 == 0);
    }
    if (r.status == 0xF0 || r.status == 0xF7 || meta) {
        const TrackInfo& t = song.tracks()[r.track];
        FUZZ_CHECK(uint64_t{r.offset} + r.length <= song.bytes().size());
        FUZZ_CHECK(r.offset >= t.offset && uint64_t{r.offset} + r.length <= t.offset + t.length);
    } else {
        FUZZ_CHECK(r.length == 0 && r.offset == 0);
    }
}

// The track table and the event table agree, track by track.
void CheckEventTable(const Song& song, const std::vector<EventRecord>& events) {
    const std::vector<TrackInfo>& tracks = song.tracks();
    FUZZ_CHECK(events.size() == song.events());
    uint64_t total = 0;
    for (const TrackInfo& t : tracks) {
        FUZZ_CHECK(t.offset + t.length <= song.bytes().size());
        total += t.events;
    }
    FUZZ_CHECK(total == song.events());
    size_t at = 0;
    for (size_t t = 0; t < tracks.size(); ++t) {
        uint8_t port = 0;
        for (uint64_t k = 0; k < tracks[t].events; ++k, ++at) {
            const EventRecord& r = events[at];
            FUZZ_CHECK(r.track == t);
            CheckRecord(song, r);
            if (k > 0) FUZZ_CHECK(r.tick >= events[at - 1].tick);
            // The port in force, a port event's own included.
            if (IsMeta(r, META_PORT) && r.length >= 1) port = song.bytes()[r.offset];
            FUZZ_CHECK(r.port == port);
            // An end of track ends the track.
            if (IsMeta(r, META_END_OF_TRACK)) FUZZ_CHECK(k + 1 == tracks[t].events);
        }
        const bool any = tracks[t].events != 0;
        FUZZ_CHECK(tracks[t].end_tick == (any ? events[at - 1].tick : 0));
        FUZZ_CHECK(tracks[t].ended == (any && IsMeta(events[at - 1], META_END_OF_TRACK)));
    }
}

// The editable sequence holds the same events.
void CheckSequence(const Song& song, const std::vector<EventRecord>& events) {
    const sc::Sequence s = song.ToSequence();
    FUZZ_CHECK(s.format == song.format() && s.division.word == song.division().word);
    FUZZ_CHECK(s.tracks.size() == song.tracks().size());
    size_t at = 0;
    for (size_t t = 0; t < s.tracks.size(); ++t) {
        FUZZ_CHECK(s.tracks[t].size() == song.tracks()[t].events);
        for (const sc::Event& e : s.tracks[t]) {
            const EventRecord& r = events[at++];
            FUZZ_CHECK(e.tick == r.tick && e.status == r.status && e.length == r.length);
            FUZZ_CHECK(e.data1 == (r.status == 0xFF ? r.meta : r.data1) && e.data2 == r.data2);
            FUZZ_CHECK(uint64_t{e.offset} + e.length <= s.payloads.size());
            if (e.length != 0)
                FUZZ_CHECK(std::memcmp(s.payloads.data() + e.offset, song.bytes().data() + r.offset,
                                       e.length) == 0);
        }
    }
}

// A time map: segments in order, seconds growing with the ticks, the inverse, the cursor and
// the batch forms agreeing with the single conversion.
void CheckTimeMap(const TimeMap& map, const Song& song, const std::vector<int64_t>& ticks) {
    const std::vector<sc::TempoChange>& seg = map.segments();
    FUZZ_CHECK(!seg.empty() && seg[0].tick == 0 && seg[0].seconds == 0);
    FUZZ_CHECK(map.ticks_per_quarter() == song.division().ticks_per_quarter());
    for (size_t i = 1; i < seg.size(); ++i) {
        FUZZ_CHECK(seg[i].tick > seg[i - 1].tick && seg[i].seconds >= seg[i - 1].seconds);
        FUZZ_CHECK(seg[i].us_per_quarter != 0);
    }
    std::vector<double> batch(ticks.size()), back(ticks.size()), secs(ticks.size());
    map.seconds(ticks.data(), batch.data(), ticks.size());
    TimeMap::Cursor cursor(map);
    for (size_t k = 0; k < ticks.size(); ++k) {
        const double s = map.seconds(static_cast<double>(ticks[k]));
        FUZZ_CHECK(std::isfinite(s) && s >= 0);
        FUZZ_CHECK(batch[k] == s && cursor.seconds(static_cast<double>(ticks[k])) == s);
        if (k > 0 && ticks[k] >= ticks[k - 1]) FUZZ_CHECK(s >= batch[k - 1]);
        const double t = map.ticks(s);
        const double tick = static_cast<double>(ticks[k]);
        FUZZ_CHECK(std::fabs(t - tick) <= 1e-6 * std::max(1.0, tick) + 1e-3);
        secs[k] = s;
    }
    map.ticks(secs.data(), back.data(), secs.size());
    for (size_t k = 0; k < ticks.size(); ++k) FUZZ_CHECK(back[k] == map.ticks(secs[k]));
}

void CheckMeterMap(const MeterMap& map, const std::vector<int64_t>& ticks) {
    const std::vector<MeterMap::Meter>& meters = map.meters();
    FUZZ_CHECK(!meters.empty() && meters[0].tick == 0 && meters[0].bar == 1);
    for (size_t i = 0; i < meters.size(); ++i) {
        const MeterMap::Meter& m = meters[i];
        FUZZ_CHECK(m.numerator > 0 && m.denominator_power <= 16);
        FUZZ_CHECK(m.beat_ticks > 0 && std::isfinite(m.beat_ticks));
        FUZZ_CHECK(m.bar_ticks > 0 && std::isfinite(m.bar_ticks));
        if (i > 0) FUZZ_CHECK(m.tick > meters[i - 1].tick && m.bar >= meters[i - 1].bar);
    }
    for (int64_t tick : ticks) {
        const double t = static_cast<double>(tick);
        const sc::BarBeat at = map.at(t);
        FUZZ_CHECK(at.bar >= 1);
        // The beat lies in the bar of the meter in force, the ticks into it in the beat.
        const MeterMap::Meter& m =
            *(std::upper_bound(meters.begin(), meters.end(), tick,
                               [](int64_t x, const MeterMap::Meter& y) { return x < y.tick; }) -
              1);
        const double into = t - static_cast<double>(m.tick);
        const double slack = 1e-9 * std::max(1.0, m.beat_ticks) + 1e-13 * into;
        FUZZ_CHECK(at.beat >= 1 && at.beat <= m.numerator);
        FUZZ_CHECK(at.tick >= -slack && at.tick <= m.beat_ticks + slack);
        FUZZ_CHECK(map.bars_before(t) >= 0 && map.bars_before(t) <= at.bar);
        // (Bar numbers stop at 2^31 - 1, where bar_start answers for the last meter.)
        const double start = map.bar_start(at.bar);
        FUZZ_CHECK(std::isfinite(start));
        if (at.bar < INT32_MAX) FUZZ_CHECK(start <= t + 1e-6 * std::max(1.0, t) + 1e-6);
    }
}

std::vector<int64_t> TicksOf(const std::vector<EventRecord>& events, size_t track, bool all) {
    std::vector<int64_t> ticks;
    for (const EventRecord& r : events)
        if (all || r.track == track) ticks.push_back(r.tick);
    return ticks;
}

void CheckMaps(const Score& score, const std::vector<EventRecord>& events) {
    const Song& song = score.song();
    const bool perTrack = song.format() == 2;
    const size_t maps = perTrack ? song.tracks().size() : 1;
    for (size_t m = 0; m < maps; ++m) {
        const std::vector<int64_t> ticks = TicksOf(events, m, !perTrack);
        CheckTimeMap(score.time_map(m), song, ticks);
        CheckMeterMap(score.meter_map(m), ticks);
    }
    // Beyond the tracks, the last track's map (there is always one).
    CheckTimeMap(score.time_map(), song, {});
    const size_t last = perTrack ? std::max<size_t>(maps, 1) - 1 : 0;
    FUZZ_CHECK(&score.time_map(SIZE_MAX) == &score.time_map(last));
    FUZZ_CHECK(&score.meter_map(SIZE_MAX) == &score.meter_map(last));
}

// The program in force on a channel at a tick: the last change at or before it, in any track
// (its own in format 2).
class ProgramsInForce {
  public:
    ProgramsInForce(const std::vector<EventRecord>& events, bool perTrack) : m_perTrack(perTrack) {
        for (const EventRecord& r : events)
            if ((r.status >> 4) == 0xC)
                m_changes[{perTrack ? r.track : 0, r.status & 15}].push_back({r.tick, r.data1});
        for (auto& c : m_changes)
            std::stable_sort(c.second.begin(), c.second.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
    }
    uint8_t At(uint16_t track, int channel, int64_t tick) const {
        auto it = m_changes.find({m_perTrack ? track : 0, channel});
        if (it == m_changes.end()) return 0;
        auto after = std::upper_bound(it->second.begin(), it->second.end(), tick,
                                      [](int64_t t, const auto& c) { return t < c.first; });
        return after == it->second.begin() ? 0 : (after - 1)->second;
    }

  private:
    bool m_perTrack;
    std::map<std::pair<int, int>, std::vector<std::pair<int64_t, uint8_t>>> m_changes;
};

void CheckNotes(const Score& score, const std::vector<EventRecord>& events,
                const std::vector<PairedNote>& paired) {
    const std::vector<Note>& notes = score.notes();
    FUZZ_CHECK(notes.size() == paired.size());
    const ProgramsInForce programs(events, score.song().format() == 2);
    for (size_t k = 0; k < notes.size(); ++k) {
        const Note& n = notes[k];
        const PairedNote& p = paired[k];
        FUZZ_CHECK(n.track == p.track && n.channel == p.channel && n.pitch == p.pitch);
        FUZZ_CHECK(n.velocity == p.velocity && n.velocity >= 1 && n.velocity <= 127);
        FUZZ_CHECK(n.start_tick == p.start && n.end_tick == p.end && n.end_tick >= n.start_tick);
        FUZZ_CHECK(n.reserved[0] == 0 && n.reserved[1] == 0);
        FUZZ_CHECK(n.program == programs.At(n.track, n.channel, n.start_tick));
        const TimeMap& map = score.time_map(n.track);
        FUZZ_CHECK(n.start == map.seconds(static_cast<double>(n.start_tick)));
        FUZZ_CHECK(n.end == map.seconds(static_cast<double>(n.end_tick)) && n.end >= n.start);
    }
    const std::vector<Note> held = score.sustained_notes();
    FUZZ_CHECK(held.size() == notes.size());
    for (size_t k = 0; k < held.size(); ++k) {
        const Note& a = notes[k];
        const Note& b = held[k];
        FUZZ_CHECK(a.track == b.track && a.channel == b.channel && a.pitch == b.pitch);
        FUZZ_CHECK(a.program == b.program && a.velocity == b.velocity);
        FUZZ_CHECK(a.start_tick == b.start_tick && a.start == b.start);
        FUZZ_CHECK(b.end_tick >= a.end_tick && b.end >= a.end);
        FUZZ_CHECK(b.end_tick <= std::max(score.end_tick(), a.end_tick));
    }
}

}  // namespace

void CheckMapLists(const Score& score, const std::vector<EventRecord>& events);
void CheckDerived(const Score& score, const std::vector<EventRecord>& events, uint32_t choice);

void CheckViews(const Song& song, uint32_t choice) {
    const std::vector<EventRecord> events = song.Events();
    CheckEventTable(song, events);
    CheckSequence(song, events);
    const Score score(song);
    FUZZ_CHECK(score.song().bytes() == song.bytes());
    FUZZ_CHECK(score.event_count() == song.events());
    int64_t end = 0;
    for (const TrackInfo& t : song.tracks()) end = std::max(end, t.end_tick);
    FUZZ_CHECK(score.end_tick() == end);
    const std::vector<EventRecord> timed = score.events();
    FUZZ_CHECK(timed.size() == events.size());
    for (size_t k = 0; k < timed.size(); ++k) {
        const EventRecord& r = timed[k];
        FUZZ_CHECK(r.seconds == score.time_map(r.track).seconds(static_cast<double>(r.tick)));
        FUZZ_CHECK(SameRecord(r, events[k], false));
    }
    CheckMaps(score, events);
    CheckNotes(score, events, PairNotes(events, song.tracks()));
    CheckMapLists(score, events);
    CheckDerived(score, timed, choice);
}

}  // namespace fuzzsupport
