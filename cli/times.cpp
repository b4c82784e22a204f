#include "times.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "common.h"
#include "text.h"

using namespace midifolio;

namespace mfcli {

namespace {

bool AllDigits(const std::string& s) {
    if (s.empty()) return false;
    for (unsigned char c : s) {
        if (!std::isdigit(c)) return false;
    }
    return true;
}

// Decimal number (digits with at most one point); false for anything else.
bool ParseDecimal(const std::string& s, double& value) {
    if (s.empty() || s.size() > 15) return false;
    int points = 0;
    for (unsigned char c : s) {
        if (c == '.') {
            ++points;
        } else if (!std::isdigit(c)) {
            return false;
        }
    }
    if (points > 1 || s == ".") return false;
    value = std::strtod(s.c_str(), nullptr);
    return true;
}

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        const size_t at = s.find(sep, start);
        parts.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) break;
        start = at + 1;
    }
    return parts;
}

// The library's answer for a tick in milliseconds or hours:minutes:seconds:frames (its ticks
// are 32-bit: later ones are answered for the last it holds).
_MIDI_TIME LibraryTime(InputSong& song, int64_t tick, TIME_FORMAT format) {
    _MIDI_TIME t = MakeTicks(static_cast<int32_t>(std::clamp<int64_t>(tick, 0, INT32_MAX)));
    song.Core().ConvertMIDITime(&t, format);
    return t;
}

int32_t TicksPerQuarter(const InputSong& song) {
    return song.Score().time_map().ticks_per_quarter();
}

}  // namespace

TimeColumn ParseTimeColumn(const std::string& name) {
    const std::string n = Lower(name);
    if (n == "tick" || n == "ticks") return TimeColumn::kTick;
    if (n == "ms" || n == "msec") return TimeColumn::kMs;
    if (n == "s" || n == "sec" || n == "seconds") return TimeColumn::kSeconds;
    if (n == "measure" || n == "bar") return TimeColumn::kMeasure;
    if (n == "hmsf" || n == "clock") return TimeColumn::kHmsf;
    throw Failure("--time: unknown time format '" + Shown(name) +
                  "' (use tick, ms, s, measure or hmsf)");
}

const char* TimeColumnName(TimeColumn column) {
    switch (column) {
        case TimeColumn::kTick:
            return "tick";
        case TimeColumn::kMs:
            return "ms";
        case TimeColumn::kSeconds:
            return "s";
        case TimeColumn::kMeasure:
            return "measure";
        case TimeColumn::kHmsf:
            return "hmsf";
    }
    return "";
}

std::string BarText(const score::BarBeat& at, int32_t ticksPerQuarter) {
    const int width =
        ticksPerQuarter > 1 ? static_cast<int>(std::to_string(ticksPerQuarter - 1).size()) : 1;
    const double whole = std::floor(at.tick);
    if (at.tick - whole < 5e-4) return Format("%d:%d:%0*.0f", at.bar, at.beat, width, whole);
    return Format("%d:%d:%0*.3f", at.bar, at.beat, width + 4, at.tick);
}

std::string SecondsText(double seconds, int decimals) {
    if (std::isnan(seconds)) return "-";
    return Format("%.*f", decimals, seconds);
}

std::string TimeText(TimeColumn column, int64_t tick, size_t track, InputSong& song) {
    const double t = static_cast<double>(tick);
    switch (column) {
        case TimeColumn::kTick:
            return std::to_string(tick);
        case TimeColumn::kMs:
            return Format("%.0fms", LibraryTime(song, tick, TF_MSEC).dMsecs);
        case TimeColumn::kSeconds: {
            const double s = song.Score().time_map(track).seconds(t);
            return std::isnan(s) ? "-" : SecondsText(s) + "s";
        }
        case TimeColumn::kMeasure:
            return BarText(song.Score().meter_map(track).at(t), TicksPerQuarter(song));
        case TimeColumn::kHmsf: {
            const _MIDI_TIME h = LibraryTime(song, tick, TF_HMSF);
            return Format("%02d:%02d:%02d:%02d", h.lHour, h.lMinute, h.lSecond, h.lFrame);
        }
    }
    return "-";
}

void WriteTime(JsonWriter& j, TimeColumn column, int64_t tick, size_t track, InputSong& song) {
    const double t = static_cast<double>(tick);
    switch (column) {
        case TimeColumn::kTick:
            j.Int(tick);
            break;
        case TimeColumn::kMs:
            j.Double(LibraryTime(song, tick, TF_MSEC).dMsecs);
            break;
        case TimeColumn::kSeconds:
            j.Double(song.Score().time_map(track).seconds(t));
            break;
        case TimeColumn::kMeasure: {
            const score::BarBeat at = song.Score().meter_map(track).at(t);
            j.BeginObject().Field("bar", at.bar).Field("beat", at.beat).Field("tick", at.tick);
            j.EndObject();
            break;
        }
        case TimeColumn::kHmsf: {
            const _MIDI_TIME h = LibraryTime(song, tick, TF_HMSF);
            j.BeginObject()
                .Field("hours", h.lHour)
                .Field("minutes", h.lMinute)
                .Field("seconds", h.lSecond)
                .Field("frames", h.lFrame)
                .EndObject();
            break;
        }
    }
}

TimePoint ParseTimePoint(const std::string& text, const std::string& option) {
    const std::string s = Lower(text);
    auto bad = [&]() {
        return Failure(option + ": '" + Shown(text) +
                       "' is not a time (use ticks 960, 1500ms, 2.5s, bar:beat[:tick] 3:1 or "
                       "h:m:s:frame 0:01:05:04)");
    };
    auto whole = [&](const std::string& part) {
        if (!AllDigits(part) || part.size() > 9) throw bad();
        return std::atoi(part.c_str());
    };
    auto ticks = [&](const std::string& part) {
        if (!AllDigits(part) || part.size() > 18) throw bad();
        return std::strtod(part.c_str(), nullptr);
    };
    TimePoint p;
    p.text = text;
    p.option = option;
    if (AllDigits(s)) {
        p.value = ticks(s);
        return p;
    }
    if (s.size() > 2 && s.compare(s.size() - 2, 2, "ms") == 0) {
        if (!ParseDecimal(s.substr(0, s.size() - 2), p.value) || p.value > 2e9) throw bad();
        p.form = TimeColumn::kMs;
        return p;
    }
    if (s.size() > 1 && s.back() == 's') {
        if (!ParseDecimal(s.substr(0, s.size() - 1), p.value) || p.value > 1e12) throw bad();
        p.form = TimeColumn::kSeconds;
        return p;
    }
    const auto parts = Split(s, ':');
    if (parts.size() == 2 || parts.size() == 3) {
        p.form = TimeColumn::kMeasure;
        p.bar = whole(parts[0]);
        p.beat = whole(parts[1]);
        if (parts.size() == 3 && !ParseDecimal(parts[2], p.tick)) throw bad();
        if (p.bar < 1 || p.beat < 1) throw bad();
        return p;
    }
    if (parts.size() == 4) {
        const int h = whole(parts[0]), m = whole(parts[1]), sec = whole(parts[2]),
                  f = whole(parts[3]);
        if (h > 500 || m > 59 || sec > 59 || f > 39) throw bad();
        p.form = TimeColumn::kHmsf;
        p.hmsf = MakeHmsf(h, m, sec, f);
        return p;
    }
    throw bad();
}

int64_t ResolveTime(const TimePoint& p, bool last, InputSong& song) {
    // A position between ticks: the next tick for a start, the one before for an end. What a
    // column prints is rounded; `slack` takes a printed time back to its own tick.
    auto toTick = [last](double position, double slack) -> int64_t {
        if (std::isnan(position)) return last ? -1 : 0;
        const double t = last ? std::floor(position + slack) : std::ceil(position - slack);
        return static_cast<int64_t>(std::clamp(t, -1.0, 4.6e18));
    };
    switch (p.form) {
        case TimeColumn::kTick:
            return static_cast<int64_t>(p.value);
        case TimeColumn::kMs:
        case TimeColumn::kHmsf: {
            _MIDI_TIME t = p.form == TimeColumn::kMs ? MakeMsecs(p.value) : p.hmsf;
            song.Core().ConvertMIDITime(&t, TF_TICK);
            return t.lTicks;
        }
        case TimeColumn::kSeconds: {
            // Seconds print with six decimals: half a microsecond either way is the same time.
            const double slack = 5e-7;
            return toTick(song.Score().time_map().ticks(p.value + (last ? slack : -slack)), 0);
        }
        case TimeColumn::kMeasure: {
            const score::MeterMap& meter = song.Score().meter_map();
            const auto& meters = meter.meters();
            const score::MeterMap::Meter* m = &meters.front();
            for (const auto& candidate : meters) {
                if (candidate.bar <= p.bar) m = &candidate;
            }
            if (p.beat > m->numerator) {
                throw Failure(Format("%s: bar %d has ", p.option.c_str(), p.bar) +
                              Plural(m->numerator, "beat") +
                              Format(" (%d/%u), not %d", m->numerator,
                                     m->denominator_power < 32 ? 1u << m->denominator_power : 0u,
                                     p.beat));
            }
            if (p.tick >= m->beat_ticks) {
                throw Failure(Format("%s: a beat of bar %d has %g %s (0..%g), not %g",
                                     p.option.c_str(), p.bar, m->beat_ticks,
                                     m->beat_ticks == 1 ? "tick" : "ticks",
                                     std::ceil(m->beat_ticks) - 1, p.tick));
            }
            const double at = meter.bar_start(p.bar) + (p.beat - 1) * m->beat_ticks + p.tick;
            return toTick(at, 5e-4);
        }
    }
    return 0;
}

TickRange ResolveRange(const std::string& from, const std::string& to, const std::string& measures,
                       InputSong& song) {
    TickRange r;
    if (!measures.empty()) {
        // Whole bars: from the first tick of bar A to the last tick before bar B + 1.
        const std::pair<int, int> bars = ParseRange(measures, "--measures");
        const score::MeterMap& meter = song.Score().meter_map();
        r.from = static_cast<int64_t>(std::ceil(meter.bar_start(bars.first)));
        r.end = static_cast<int64_t>(std::ceil(meter.bar_start(bars.second + 1)));
        r.to = r.end - 1;
        r.none = r.to < r.from;
        return r;
    }
    if (!from.empty()) r.from = ResolveTime(ParseTimePoint(from, "--from"), false, song);
    if (!to.empty()) {
        const TimePoint point = ParseTimePoint(to, "--to");
        r.to = ResolveTime(point, true, song);
        r.end = std::max<int64_t>(ResolveTime(point, false, song), 0);
        r.none = r.to < 0 || r.to < r.from;
    }
    r.from = std::max<int64_t>(r.from, 0);
    return r;
}

}  // namespace mfcli
