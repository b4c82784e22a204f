// Exact conversion between ticks and seconds.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "midifolio/event_kinds.h"
#include "midifolio/score.h"
#include "score/song_data.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace score {

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
}  // namespace

TimeMap::TimeMap()
    : m_tpq(smf::kDefaultTicksPerQuarter),
      m_segments{{0, 0.0, smf::kDefaultUsPerQuarter, 0}},
      m_scale{smf::kDefaultUsPerQuarter / (1e6 * smf::kDefaultTicksPerQuarter)} {}

TimeMap::TimeMap(const CMidiFolio& song) : TimeMap(Score(song).time_map()) {}

TimeMap::TimeMap(int32_t tpq, const std::vector<std::pair<int64_t, uint32_t>>& tempos)
    : TimeMap(
          tpq, 0,
          [&tempos] {
              std::vector<score_detail::MapEvent> events;
              for (const auto& [tick, us] : tempos) events.push_back({tick, 0, us});
              std::stable_sort(events.begin(), events.end(),
                               [](const score_detail::MapEvent& a,
                                  const score_detail::MapEvent& b) { return a.tick < b.tick; });
              return events;
          }(),
          -1) {}

TimeMap::TimeMap(int32_t tpq, double ticksPerSecond,
                 const std::vector<score_detail::MapEvent>& tempos, int track)
    : TimeMap() {
    m_tpq = ticksPerSecond > 0 ? 0 : tpq;
    // Of several changes at one tick the latest holds; a change at a tick before 0 counts as
    // one at tick 0; tempo 0 would stop time: such events are passed over.
    for (const score_detail::MapEvent& e : tempos) {
        if (e.value == 0 || (track >= 0 && e.track != track)) continue;
        const int64_t tick = std::max<int64_t>(e.tick, 0);
        TempoChange& last = m_segments.back();
        if (tick == last.tick) {
            last.us_per_quarter = e.value;
            last.track = e.track;
        } else if (ticksPerSecond <= 0 && e.value != last.us_per_quarter) {
            m_segments.push_back({tick, 0.0, e.value, e.track});
        }
    }
    m_scale.clear();
    for (const TempoChange& s : m_segments)
        m_scale.push_back(ticksPerSecond > 0 ? 1.0 / ticksPerSecond
                          : m_tpq > 0        ? s.us_per_quarter / (1e6 * m_tpq)
                                             : kNaN);
    for (size_t i = 1; i < m_segments.size(); ++i)
        m_segments[i].seconds = SecondsIn(i - 1, static_cast<double>(m_segments[i].tick));
}

// Seconds at a tick, measured with the tempo of one segment from its start.
double TimeMap::SecondsIn(size_t i, double tick) const {
    const TempoChange& s = m_segments[i];
    return s.seconds + (tick - static_cast<double>(s.tick)) * m_scale[i];
}

size_t TimeMap::SegmentOfTick(double tick) const {
    // The last segment that starts at or before the tick (the first for earlier ticks).
    auto it = std::upper_bound(
        m_segments.begin(), m_segments.end(), tick,
        [](double t, const TempoChange& s) { return t < static_cast<double>(s.tick); });
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
    if (std::isnan(seconds)) return kNaN;
    const size_t i = SegmentOfSeconds(seconds);
    const TempoChange& s = m_segments[i];
    return static_cast<double>(s.tick) + (seconds - s.seconds) / m_scale[i];
}

namespace {
template <class Tick>
void SecondsOf(const TimeMap& map, const Tick* ticks, size_t tick_stride, double* out,
               size_t out_stride, size_t n) {
    const char* in = reinterpret_cast<const char*>(ticks);
    char* to = reinterpret_cast<char*>(out);
    TimeMap::Cursor cursor(map);
    for (size_t k = 0; k < n; ++k) {
        Tick tick;
        std::memcpy(&tick, in + k * tick_stride, sizeof tick);
        const double s = cursor.seconds(static_cast<double>(tick));
        std::memcpy(to + k * out_stride, &s, sizeof s);
    }
}
}  // namespace

void TimeMap::seconds(const int64_t* ticks, double* out, size_t n) const {
    seconds(ticks, sizeof *ticks, out, sizeof *out, n);
}

void TimeMap::seconds(const int64_t* ticks, size_t tick_stride, double* out, size_t out_stride,
                      size_t n) const {
    SecondsOf(*this, ticks, tick_stride, out, out_stride, n);
}

void TimeMap::seconds(const int32_t* ticks, size_t tick_stride, double* out, size_t out_stride,
                      size_t n) const {
    SecondsOf(*this, ticks, tick_stride, out, out_stride, n);
}

// The cursor holds the segment in force, [m_from, m_until), with its start in seconds and its
// seconds per tick (NaN for a map without ticks per quarter note).
void TimeMap::Cursor::Enter(size_t segment) {
    const std::vector<TempoChange>& s = m_map->m_segments;
    m_segment = segment;
    m_from = static_cast<double>(s[segment].tick);
    m_until = segment + 1 < s.size() ? static_cast<double>(s[segment + 1].tick) : INFINITY;
    m_base = s[segment].seconds;
    m_scale = m_map->m_scale[segment];
}

void TimeMap::Cursor::Move(double tick) {
    const std::vector<TempoChange>& s = m_map->m_segments;
    size_t segment = m_segment;
    if (tick < m_from) {
        segment = m_map->SegmentOfTick(tick);
    } else {
        while (segment + 1 < s.size() && static_cast<double>(s[segment + 1].tick) <= tick)
            ++segment;
    }
    Enter(segment);
}

void TimeMap::ticks(const double* seconds, double* out, size_t n) const {
    size_t seg = 0;
    const size_t last = m_segments.size() - 1;
    for (size_t k = 0; k < n; ++k) {
        const double s = seconds[k];
        if (std::isnan(s)) {
            out[k] = kNaN;
            continue;
        }
        if (s < m_segments[seg].seconds && seg != 0) {
            seg = SegmentOfSeconds(s);
        } else {
            while (seg < last && m_segments[seg + 1].seconds <= s) ++seg;
        }
        const TempoChange& g = m_segments[seg];
        out[k] = static_cast<double>(g.tick) + (s - g.seconds) / m_scale[seg];
    }
}

}  // namespace score
MIDIFOLIO_END_NAMESPACE
