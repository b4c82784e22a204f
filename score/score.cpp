// The Score: the file's own meta events, its notes, and what is derived from them.
#include "midifolio/score.h"

#include <algorithm>
#include <cmath>

#include "score/notes.h"
#include "score/song_events.h"
#include "track/smf_bytes.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace score {

Score::Score(const CMidiFolio& song) : Score(score_detail::ReadSong(song)) {}

Score::Score(const score_detail::SongPass& pass)
    : m_time(pass.events),
      m_meter(pass.events),
      m_events(pass.events.events),
      m_endTick(pass.events.endTick) {
    const score_detail::SongEvents& events = pass.events;
    for (const score_detail::Placed& e : events.tempos)
        m_tempos.push_back(
            {e.tick, m_time.seconds(e.tick), smf::ReadBigEndian(e.event->pData, 3), e.track});
    for (const score_detail::Placed& e : events.timeSignatures)
        m_timeSignatures.push_back({e.tick, m_time.seconds(e.tick), m_meter.at(e.tick).bar,
                                    e.event->pData[0], e.event->pData[1], e.track});
    for (const score_detail::Placed& e : events.keySignatures)
        m_keySignatures.push_back({e.tick, m_time.seconds(e.tick), m_meter.at(e.tick).bar,
                                   static_cast<int8_t>(e.event->pData[0]), e.event->pData[1] != 0,
                                   e.track});
    m_notes = score_detail::SongNotes(pass, m_time);
}

Summary Score::summary() const {
    Summary s;
    s.notes = m_notes.size();
    s.duration = duration();
    s.bars = bars();
    s.keys = m_keySignatures;
    std::vector<bool> programs(256, false);
    // Starts and ends of the notes, in tick order with ends before starts at one tick: the
    // most notes sounding at once. A note of no length never sounds.
    std::vector<std::pair<int32_t, int>> edges;
    edges.reserve(2 * m_notes.size());
    for (const Note& n : m_notes) {
        if (s.lowest_pitch < 0 || n.pitch < s.lowest_pitch) s.lowest_pitch = n.pitch;
        s.highest_pitch = std::max<int>(s.highest_pitch, n.pitch);
        if (n.channel == PERCUSSION_CHANNEL)
            s.drums = true;
        else
            programs[n.program] = true;
        if (n.end_tick > n.start_tick) {
            edges.push_back({n.start_tick, 1});
            edges.push_back({n.end_tick, -1});
        }
    }
    for (int p = 0; p < 256; ++p)
        if (programs[static_cast<size_t>(p)]) s.programs.push_back(static_cast<uint8_t>(p));
    std::sort(edges.begin(), edges.end());
    int64_t sounding = 0;
    for (const auto& edge : edges) {
        sounding += edge.second;
        s.peak_polyphony =
            std::max(s.peak_polyphony, static_cast<uint32_t>(std::max<int64_t>(sounding, 0)));
    }
    return s;
}

PianoRoll Score::piano_roll(double fs, bool drums) const {
    PianoRoll roll;
    const double length = duration() * fs;
    // A roll of more than 2^31 cells (an hour at 4,000 frames per second) is not made.
    if (!(fs > 0) || !std::isfinite(length) || length * 128 > 2147483648.0) return roll;
    roll.fs = fs;
    roll.frames = static_cast<size_t>(std::ceil(length));
    roll.cells.assign(128 * roll.frames, 0);
    for (const Note& n : m_notes) {
        if (n.pitch > 127 || (n.channel == PERCUSSION_CHANNEL && !drums)) continue;
        // Frames from the one the note starts in up to the one it ends in, not included.
        const size_t first = static_cast<size_t>(std::max(0.0, std::floor(n.start * fs)));
        const size_t last =
            std::min(roll.frames, static_cast<size_t>(std::max(0.0, std::floor(n.end * fs))));
        uint8_t* row = &roll.cells[n.pitch * roll.frames];
        for (size_t f = first; f < last; ++f) row[f] = std::max(row[f], n.velocity);
    }
    return roll;
}

}  // namespace score
MIDIFOLIO_END_NAMESPACE
