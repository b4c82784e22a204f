// Bars and beats under the time signatures in force.
#include <algorithm>
#include <cmath>
#include <limits>

#include "midifolio/event_kinds.h"
#include "midifolio/score.h"
#include "score/song_data.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace score {

namespace {

// The denominators up to 2^16 make bars of a length a song can have.
constexpr uint8_t kMaxDenominatorPower = 16;

MeterMap::Meter MakeMeter(int64_t tick, int32_t bar, uint8_t numerator, uint8_t power,
                          double quarter) {
    const double beat = 4.0 * quarter / std::ldexp(1.0, power);
    return {tick, bar, numerator, power, beat, beat * numerator};
}

}  // namespace

MeterMap::MeterMap() : m_meters{MakeMeter(0, 1, 4, 2, smf::kDefaultTicksPerQuarter)} {}

MeterMap::MeterMap(const CMidiFolio& song) : MeterMap(Score(song).meter_map()) {}

MeterMap::MeterMap(double quarter, const std::vector<score_detail::MapEvent>& meters, int track) {
    if (!(quarter > 0)) quarter = smf::kDefaultTicksPerQuarter;
    m_meters.push_back(MakeMeter(0, 1, 4, 2, quarter));
    for (const score_detail::MapEvent& e : meters) {
        const uint8_t numerator = static_cast<uint8_t>(e.value);
        const uint8_t power = static_cast<uint8_t>(e.value >> 8);
        if ((track >= 0 && e.track != track) || numerator == 0 || power > kMaxDenominatorPower)
            continue;
        const int64_t tick = std::max<int64_t>(e.tick, 0);
        const Meter& last = m_meters.back();
        if (tick == last.tick) {
            // The latest at one tick holds; it starts the bar the one it replaces started.
            m_meters.back() = MakeMeter(tick, last.bar, numerator, power, quarter);
            continue;
        }
        // The bars since the last change, the last of them perhaps cut short.
        const double bars =
            std::ceil((static_cast<double>(tick - last.tick)) / last.bar_ticks - 1e-9);
        const double bar = last.bar + std::max(bars, 1.0);
        m_meters.push_back(MakeMeter(tick, static_cast<int32_t>(std::min(bar, 2147483647.0)),
                                     numerator, power, quarter));
    }
}

const MeterMap::Meter& MeterMap::MeterAtTick(double tick) const {
    auto it =
        std::upper_bound(m_meters.begin(), m_meters.end(), tick,
                         [](double t, const Meter& m) { return t < static_cast<double>(m.tick); });
    return it == m_meters.begin() ? m_meters.front() : *(it - 1);
}

BarBeat MeterMap::at(double tick) const {
    // A time that is no number (or infinite) has no bar.
    if (!std::isfinite(tick)) return {0, 0, std::numeric_limits<double>::quiet_NaN()};
    const Meter& m = MeterAtTick(tick);
    const double into = std::max(0.0, tick - static_cast<double>(m.tick));
    const double bars = std::floor(into / m.bar_ticks);
    // fmod is exact: far into a meter (beyond 2^53 ticks) into - bars * bar_ticks would round
    // the beat outside its bar.
    const double intoBar = std::fmod(into, m.bar_ticks);
    const double lastBeat = std::max(0.0, static_cast<double>(m.numerator) - 1);
    const double beats = std::min(std::floor(intoBar / m.beat_ticks), lastBeat);
    return {static_cast<int32_t>(std::min(m.bar + bars, 2147483647.0)),
            1 + static_cast<int32_t>(beats), std::max(0.0, intoBar - beats * m.beat_ticks)};
}

double MeterMap::bar_start(int32_t bar) const {
    if (bar <= 1) return 0.0;
    auto it = std::upper_bound(m_meters.begin(), m_meters.end(), bar,
                               [](int32_t b, const Meter& m) { return b < m.bar; });
    const Meter& m = *(it - 1);  // m_meters[0] starts bar 1
    return static_cast<double>(m.tick) + (bar - m.bar) * m.bar_ticks;
}

int32_t MeterMap::bars_before(double tick) const {
    if (!(tick > 0)) return 0;
    const Meter& m = MeterAtTick(tick);
    // Bars of the meter in force that start before the tick, and the bars before it.
    const double started = std::ceil((tick - static_cast<double>(m.tick)) / m.bar_ticks - 1e-9);
    return static_cast<int32_t>(std::min(m.bar - 1 + std::max(started, 0.0), 2147483647.0));
}

}  // namespace score
MIDIFOLIO_END_NAMESPACE
