// Bars and beats under the time signatures in force.
#include <algorithm>
#include <cmath>

#include "midifolio/score.h"
#include "score/song_events.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace score {

namespace {

// The denominators up to 2^16 make bars of a length a song can have.
constexpr uint8_t kMaxDenominatorPower = 16;

MeterMap::Meter MakeMeter(int32_t tick, int32_t bar, uint8_t numerator, uint8_t power,
                          int32_t tpq) {
    const double beat = 4.0 * tpq / std::ldexp(1.0, power);
    return {tick, bar, numerator, power, beat, beat * numerator};
}

}  // namespace

MeterMap::MeterMap() : m_meters{MakeMeter(0, 1, 4, 2, 480)} {}

MeterMap::MeterMap(const CMidiFolio& song) : MeterMap(score_detail::Collect(song)) {}

MeterMap::MeterMap(const score_detail::SongEvents& events) {
    const int32_t tpq = events.tpq > 0 ? events.tpq : 480;
    m_meters.push_back(MakeMeter(0, 1, 4, 2, tpq));
    for (const score_detail::Placed& e : events.timeSignatures) {
        if (e.event->pData[0] == 0 || e.event->pData[1] > kMaxDenominatorPower) continue;
        const int32_t tick = std::max<int32_t>(e.tick, 0);
        const Meter& last = m_meters.back();
        const uint8_t numerator = e.event->pData[0];
        const uint8_t power = e.event->pData[1];
        if (tick == last.tick) {
            // The latest at one tick holds; it starts the bar the one it replaces started.
            m_meters.back() = MakeMeter(tick, last.bar, numerator, power, tpq);
            continue;
        }
        // The bars since the last change, the last of them perhaps cut short.
        const double bars = std::ceil((tick - last.tick) / last.bar_ticks - 1e-9);
        const int32_t bar = last.bar + static_cast<int32_t>(std::max(bars, 1.0));
        m_meters.push_back(MakeMeter(tick, bar, numerator, power, tpq));
    }
}

const MeterMap::Meter& MeterMap::MeterAtTick(double tick) const {
    auto it = std::upper_bound(m_meters.begin(), m_meters.end(), tick,
                               [](double t, const Meter& m) { return t < m.tick; });
    return it == m_meters.begin() ? m_meters.front() : *(it - 1);
}

BarBeat MeterMap::at(double tick) const {
    const Meter& m = MeterAtTick(tick);
    const double into = std::max(0.0, tick - m.tick);
    const double bars = std::floor(into / m.bar_ticks);
    const double intoBar = into - bars * m.bar_ticks;
    const double beats = std::floor(intoBar / m.beat_ticks);
    return {m.bar + static_cast<int32_t>(bars), 1 + static_cast<int32_t>(beats),
            intoBar - beats * m.beat_ticks};
}

double MeterMap::bar_start(int32_t bar) const {
    if (bar <= 1) return 0.0;
    auto it = std::upper_bound(m_meters.begin(), m_meters.end(), bar,
                               [](int32_t b, const Meter& m) { return b < m.bar; });
    const Meter& m = *(it - 1);  // m_meters[0] starts bar 1
    return m.tick + (bar - m.bar) * m.bar_ticks;
}

int32_t MeterMap::bars_before(double tick) const {
    if (tick <= 0) return 0;
    const Meter& m = MeterAtTick(tick);
    // Bars of the meter in force that start before the tick, and the bars before it.
    const double started = std::ceil((tick - m.tick) / m.bar_ticks - 1e-9);
    return m.bar - 1 + static_cast<int32_t>(std::max(started, 0.0));
}

}  // namespace score
MIDIFOLIO_END_NAMESPACE
