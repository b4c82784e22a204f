// Exact conversion between ticks and seconds.
#include <algorithm>
#include <cmath>
#include <limits>

#include "midifolio/score.h"
#include "score/song_events.h"
#include "track/smf_bytes.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace score {

namespace {
constexpr uint32_t kDefaultUsPerQuarter = 500000;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
}  // namespace

TimeMap::TimeMap() : m_tpq(480), m_segments{{0, 0.0, kDefaultUsPerQuarter, 0}} {}

TimeMap::TimeMap(const CMidiFolio& song) : TimeMap(score_detail::Collect(song)) {}

TimeMap::TimeMap(const score_detail::SongEvents& events) : TimeMap() {
    m_tpq = events.tpq;
    // A change at a tick before 0 (only a host puts one there) counts as one at tick 0.
    // Tempo 0 would stop time: such events are passed over.
    for (const score_detail::Placed& e : events.tempos) {
        const uint32_t us = smf::ReadBigEndian(e.event->pData, 3);
        if (us == 0) continue;
        const int32_t tick = std::max<int32_t>(e.tick, 0);
        TempoChange& last = m_segments.back();
        if (tick == last.tick) {
            last.us_per_quarter = us;  // the latest at one tick holds
            last.track = e.track;
        } else if (us != last.us_per_quarter) {
            m_segments.push_back({tick, 0.0, us, e.track});
        }
    }
    for (size_t i = 1; i < m_segments.size(); ++i)
        m_segments[i].seconds = SecondsIn(i - 1, m_segments[i].tick);
    if (m_tpq == 0)
        for (TempoChange& s : m_segments) s.seconds = kNaN;
}

// Seconds at a tick, measured with the tempo of one segment from its start.
double TimeMap::SecondsIn(size_t i, double tick) const {
    const TempoChange& s = m_segments[i];
    if (m_tpq == 0) return kNaN;
    return s.seconds + (tick - s.tick) * (s.us_per_quarter / (1e6 * m_tpq));
}

size_t TimeMap::SegmentOfTick(double tick) const {
    // The last segment that starts at or before the tick (the first for earlier ticks).
    auto it = std::upper_bound(m_segments.begin(), m_segments.end(), tick,
                               [](double t, const TempoChange& s) { return t < s.tick; });
    return it == m_segments.begin() ? 0 : static_cast<size_t>(it - m_segments.begin()) - 1;
}

size_t TimeMap::SegmentOfSeconds(double seconds) const {
    auto it = std::upper_bound(m_segments.begin(), m_segments.end(), seconds,
                               [](double t, const TempoChange& s) { return t < s.seconds; });
    return it == m_segments.begin() ? 0 : static_cast<size_t>(it - m_segments.begin()) - 1;
}

double TimeMap::seconds(double tick) const {
    return SecondsIn(SegmentOfTick(tick), tick);
}

double TimeMap::ticks(double seconds) const {
    if (m_tpq == 0 || std::isnan(seconds)) return kNaN;
    const TempoChange& s = m_segments[SegmentOfSeconds(seconds)];
    return s.tick + (seconds - s.seconds) * 1e6 * m_tpq / s.us_per_quarter;
}

void TimeMap::seconds(const int32_t* ticks, double* out, size_t n) const {
    seconds(ticks, sizeof *ticks, out, sizeof *out, n);
}

void TimeMap::seconds(const int32_t* ticks, size_t tick_stride, double* out, size_t out_stride,
                      size_t n) const {
    const char* in = reinterpret_cast<const char*>(ticks);
    char* to = reinterpret_cast<char*>(out);
    Cursor cursor(*this);
    for (size_t k = 0; k < n; ++k)
        *reinterpret_cast<double*>(to + k * out_stride) =
            cursor.seconds(*reinterpret_cast<const int32_t*>(in + k * tick_stride));
}

// The cursor holds the segment in force, [m_from, m_until), with its start in seconds and its
// seconds per tick (NaN for a map without ticks per quarter note).
void TimeMap::Cursor::Enter(size_t segment) {
    const std::vector<TempoChange>& s = m_map->m_segments;
    m_segment = segment;
    m_from = s[segment].tick;
    m_until = segment + 1 < s.size() ? s[segment + 1].tick : INFINITY;
    m_base = s[segment].seconds;
    m_scale = m_map->m_tpq == 0 ? kNaN : s[segment].us_per_quarter / (1e6 * m_map->m_tpq);
}

void TimeMap::Cursor::Move(double tick) {
    const std::vector<TempoChange>& s = m_map->m_segments;
    size_t segment = m_segment;
    if (tick < m_from) {
        segment = m_map->SegmentOfTick(tick);
    } else {
        while (segment + 1 < s.size() && s[segment + 1].tick <= tick) ++segment;
    }
    Enter(segment);
}

void TimeMap::ticks(const double* seconds, double* out, size_t n) const {
    size_t seg = 0;
    const size_t last = m_segments.size() - 1;
    for (size_t k = 0; k < n; ++k) {
        const double s = seconds[k];
        if (m_tpq == 0 || std::isnan(s)) {
            out[k] = kNaN;
            continue;
        }
        if (s < m_segments[seg].seconds && seg != 0) {
            seg = SegmentOfSeconds(s);
        } else {
            while (seg < last && m_segments[seg + 1].seconds <= s) ++seg;
        }
        const TempoChange& g = m_segments[seg];
        out[k] = g.tick + (s - g.seconds) * 1e6 * m_tpq / g.us_per_quarter;
    }
}

}  // namespace score
MIDIFOLIO_END_NAMESPACE
