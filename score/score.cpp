// The Score: the views of a read song, and what is derived from its notes.
#include "midifolio/score.h"

#include <algorithm>
#include <cmath>

#include "midifolio/midi_event.h"
#include "midifolio/names.h"
#include "platform/no_memory.h"
#include "platform/text.h"
#include "score/song_data.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace score {

Score::Score(const Song& song) : m_song(song) {}

const TimeMap& Score::time_map() const {
    return Data().times[0];
}
const MeterMap& Score::meter_map() const {
    return Data().meters_[0];
}
const TimeMap& Score::time_map(size_t track) const {
    const score_detail::SongData& d = Data();
    return d.times[std::min(d.MapIndex(track), d.times.size() - 1)];
}
const MeterMap& Score::meter_map(size_t track) const {
    const score_detail::SongData& d = Data();
    return d.meters_[std::min(d.MapIndex(track), d.meters_.size() - 1)];
}
const std::vector<Note>& Score::notes() const {
    return Data().Notes();
}
const std::vector<TempoChange>& Score::tempos() const {
    return Data().tempoList;
}
const std::vector<TimeSignature>& Score::time_signatures() const {
    return Data().meterList;
}
const std::vector<KeySignature>& Score::key_signatures() const {
    return Data().keyList;
}
uint64_t Score::event_count() const {
    return Data().events;
}
int64_t Score::end_tick() const {
    return Data().endTick;
}

double Score::duration() const {
    // In format 2 the tracks play one after another's start: the longest one's end.
    const score_detail::SongData& d = Data();
    if (d.times.size() == 1) return d.times[0].seconds(static_cast<double>(d.endTick));
    double longest = 0;
    for (size_t t = 0; t < d.tracks.size(); ++t)
        longest = std::max(longest, d.times[t].seconds(static_cast<double>(d.tracks[t].end_tick)));
    return longest;
}

int32_t Score::bars() const {
    const score_detail::SongData& d = Data();
    if (d.meters_.size() == 1) return d.meters_[0].bars_before(static_cast<double>(d.endTick));
    int32_t most = 0;
    for (size_t t = 0; t < d.tracks.size(); ++t)
        most = std::max(most, d.meters_[t].bars_before(static_cast<double>(d.tracks[t].end_tick)));
    return most;
}

void Score::events(EventRecord* out) const {
    m_song.Events(out);
    const score_detail::SongData& d = Data();
    size_t at = 0;
    for (size_t t = 0; t < d.tracks.size(); ++t) {
        const size_t n = static_cast<size_t>(d.tracks[t].events);
        if (n != 0)
            time_map(t).seconds(&out[at].tick, sizeof(EventRecord), &out[at].seconds,
                                sizeof(EventRecord), n);
        at += n;
    }
}

std::vector<EventRecord> Score::events() const {
    std::vector<EventRecord> out(static_cast<size_t>(event_count()));
    events(out.data());
    return out;
}

namespace {

// Seconds of the ticks of every beat (bar starts only, when `downbeats`) up to `end`.
std::vector<double> BeatSeconds(const MeterMap& meter, const TimeMap& time, double end,
                                bool downbeats) {
    std::vector<double> out;
    const std::vector<MeterMap::Meter>& meters = meter.meters();
    for (size_t m = 0; m < meters.size(); ++m) {
        const double from = static_cast<double>(meters[m].tick);
        const double until =
            m + 1 < meters.size() ? static_cast<double>(meters[m + 1].tick) : end + 1e-9;
        const double step = downbeats ? meters[m].bar_ticks : meters[m].beat_ticks;
        for (double k = 0;; ++k) {
            const double tick = from + k * step;
            if (tick >= until || tick > end + 1e-9) break;
            out.push_back(time.seconds(tick));
        }
        if (until > end) break;
    }
    return out;
}

}  // namespace

std::vector<double> Score::beats() const {
    return platform_detail::OrEmptyWhenNoMemory([&] {
        return BeatSeconds(meter_map(), time_map(), static_cast<double>(Data().endTick), false);
    });
}

std::vector<double> Score::downbeats() const {
    return platform_detail::OrEmptyWhenNoMemory([&] {
        return BeatSeconds(meter_map(), time_map(), static_cast<double>(Data().endTick), true);
    });
}

PianoRoll Score::piano_roll(double fs, bool drums) const {
    return platform_detail::OrEmptyWhenNoMemory([&] {
        PianoRoll roll;
        const double length = duration() * fs;
        // A roll of more than 2^31 cells (an hour at 4,000 frames per second) is not made.
        if (!(fs > 0) || !std::isfinite(length) || length * 128 > 2147483648.0) return roll;
        roll.fs = fs;
        roll.frames = static_cast<size_t>(std::ceil(length));
        if (roll.frames == 0) return roll;  // a song of no length has no frame to fill
        roll.cells.assign(128 * roll.frames, 0);
        for (const Note& n : Data().Notes()) {
            if (n.pitch > 127 || (n.channel == PERCUSSION_CHANNEL && !drums)) continue;
            // Frames from the one the note starts in up to the one it ends in, not included.
            const double first =
                std::min<double>(roll.frames, std::max(0.0, std::floor(n.start * fs)));
            const double last =
                std::min<double>(roll.frames, std::max(0.0, std::floor(n.end * fs)));
            uint8_t* row = &roll.cells[n.pitch * roll.frames];
            for (size_t f = static_cast<size_t>(first); f < static_cast<size_t>(last); ++f)
                row[f] = std::max(row[f], n.velocity);
        }
        return roll;
    });
}

std::string Text(const uint8_t* data, size_t length) {
    return platform_detail::DecodeText(data, length);
}

}  // namespace score
MIDIFOLIO_END_NAMESPACE
