#include "describe.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

using namespace midifolio;

namespace mfcli {

namespace {

// Meta types the library has no names for: a program's and a device's name.
constexpr uint32_t kMetaProgramName = 0x08;
constexpr uint32_t kMetaDeviceName = 0x09;

struct TypeRow {
    uint32_t code;
    const char* name;
};
constexpr TypeRow kTypes[] = {
    {EVT_NOTEON, "noteon"},       {EVT_NOTEOFF, "noteoff"},   {EVT_KEYPRESSURE, "keypressure"},
    {EVT_CONTROL, "control"},     {EVT_PROGRAM, "program"},   {EVT_CHANPRESSURE, "chanpressure"},
    {EVT_PITCHBEND, "pitchbend"}, {EVT_SYSEX, "sysex"},       {EVT_META, "meta"},
    {EVT_SYSCOMMON, "syscommon"}, {EVT_REALTIME, "realtime"}, {EVT_SYSEXESC, "sysexesc"},
};

std::string Lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

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

std::string MetaText(const MIDIEvent& ev) {
    return DecodeText(ev.pData, ev.dwLength);
}

std::string MetaDetail(const MIDIEvent& ev) {
    const uint32_t type = ev.dwSubType & 0xFF;
    const uint8_t* d = ev.pData;
    const uint32_t n = ev.pData ? ev.dwLength : 0;
    if (IsTextMeta(type)) return "\"" + EscapeControls(MetaText(ev)) + "\"";
    switch (type) {
        case META_SEQUENCE_NUMBER:
            return n >= 2 ? std::to_string(d[0] * 256 + d[1]) : Hex(d, n);
        case META_CHANNEL_PREFIX:
            return n >= 1 ? "channel " + ChannelText(d[0]) : "-";
        case META_PORT:
            return n >= 1 ? "port " + std::to_string(d[0]) : "-";
        case META_END_OF_TRACK:
            return "";
        case META_TEMPO:
            if (n >= 3) {
                const int32_t us = (d[0] << 16) | (d[1] << 8) | d[2];
                return BpmText(us) + " BPM (" + std::to_string(us) + " us per quarter)";
            }
            break;
        case META_SMPTE_OFFSET:
            if (n >= 5)
                return Format("%02d:%02d:%02d frame %d.%02d", d[0] & 0x1F, d[1], d[2], d[3], d[4]);
            break;
        case META_TIME_SIGNATURE:
            if (n >= 4) {
                return Format("%d/%d (%d clocks per click, %d 32nds per quarter)", d[0],
                              d[1] < 31 ? 1 << d[1] : 0, d[2], d[3]);
            }
            break;
        case META_KEY_SIGNATURE:
            if (n >= 2) return KeyName(d[0], d[1]);
            break;
        default:
            break;
    }
    return Hex(d, n, 32);
}

}  // namespace

std::string TypeName(uint32_t dwType) {
    for (const auto& row : kTypes) {
        if (row.code == dwType) return row.name;
    }
    return dwType == 0 ? "data" : Format("type%u", dwType);
}

uint32_t ParseTypeList(const std::string& list) {
    uint32_t mask = 0;
    for (const auto& raw : Split(list, ',')) {
        const std::string name = Lower(raw);
        if (name == "note" || name == "notes") {
            mask |= EVT_NOTEON | EVT_NOTEOFF;
            continue;
        }
        bool found = false;
        for (const auto& row : kTypes) {
            if (name == row.name) {
                mask |= row.code;
                found = true;
            }
        }
        if (!found) {
            throw Failure("--type: unknown event type '" + Shown(raw) +
                          "' (known: " + TypeNamesHelp() + ")");
        }
    }
    return mask;
}

std::string TypeNamesHelp() {
    std::string out = "note";
    for (const auto& row : kTypes) out += std::string(",") + row.name;
    return out;
}

std::string MetaName(uint32_t metaType) {
    switch (metaType & 0xFF) {
        case META_SEQUENCE_NUMBER:
            return "sequence number";
        case META_TEXT:
            return "text";
        case META_COPYRIGHT:
            return "copyright";
        case META_TRACK_NAME:
            return "track name";
        case META_INSTRUMENT_NAME:
            return "instrument name";
        case META_LYRIC:
            return "lyric";
        case META_MARKER:
            return "marker";
        case META_CUE_POINT:
            return "cue point";
        case kMetaProgramName:
            return "program name";
        case kMetaDeviceName:
            return "device name";
        case META_CHANNEL_PREFIX:
            return "channel prefix";
        case META_PORT:
            return "port";
        case META_END_OF_TRACK:
            return "end of track";
        case META_TEMPO:
            return "tempo";
        case META_SMPTE_OFFSET:
            return "SMPTE offset";
        case META_TIME_SIGNATURE:
            return "time signature";
        case META_KEY_SIGNATURE:
            return "key signature";
        case META_SEQUENCER_SPECIFIC:
            return "sequencer specific";
        default:
            return Format("meta 0x%02x", metaType & 0xFF);
    }
}

bool IsTextMeta(uint32_t metaType) {
    return metaType >= META_TEXT && metaType <= kMetaDeviceName;
}

std::string ControllerName(int controller) {
    const _MIDI_CONTROL_MSG msg = CMidiFolio::GetContrlMsg(static_cast<uint8_t>(controller));
    return msg.lpszName ? Trim(msg.lpszName) : std::string();
}

std::string DescribeEvent(const MIDIEvent& ev, int64_t lengthMs) {
    switch (ev.dwType) {
        case EVT_NOTEON:
        case EVT_NOTEOFF: {
            std::string s;
            if (ev.byChannel == PERCUSSION_CHANNEL) {
                const std::string drum = CMidiFolio::GetDrumName(ev.byData1);
                if (!drum.empty()) s = drum + " ";
            }
            s += Format("%s (%d) vel %d", NoteName(ev.byData1).c_str(), ev.byData1, ev.byData2);
            if (lengthMs >= 0) s += Format(", %lld ms", static_cast<long long>(lengthMs));
            return s;
        }
        case EVT_KEYPRESSURE:
            return Format("%s (%d) pressure %d", NoteName(ev.byData1).c_str(), ev.byData1,
                          ev.byData2);
        case EVT_CONTROL: {
            std::string name = ControllerName(ev.byData1);
            return Format("%d %s = %d", ev.byData1, name.c_str(), ev.byData2);
        }
        case EVT_PROGRAM:
            if (ev.byChannel == PERCUSSION_CHANNEL) return Format("%d (drum kit)", ev.byData1);
            return Format("%d %s", ev.byData1, Trim(CMidiFolio::GetInstName(ev.byData1)).c_str());
        case EVT_CHANPRESSURE:
            return Format("pressure %d", ev.byData1);
        case EVT_PITCHBEND:
            return Format("%d (%+d)", ev.wBend, static_cast<int>(ev.wBend) - 8192);
        case EVT_META: {
            const std::string detail = MetaDetail(ev);
            return MetaName(ev.dwSubType) + (detail.empty() ? "" : " " + detail);
        }
        case EVT_SYSEX:
        case EVT_SYSEXESC:
            return Hex(ev.pData, ev.pData ? ev.dwLength : 0, 32);
        case EVT_SYSCOMMON:
            return Format("status %02x", ev.dwSubType & 0xFF);
        case EVT_REALTIME:
            return Format("status %02x", ev.dwSubType & 0xFF);
        default:
            return "data byte without running status";
    }
}

void WriteEventFields(JsonWriter& j, const MIDIEvent& ev, int64_t lengthMs) {
    j.Field("type", TypeName(ev.dwType));
    if (ev.byChannel < 16) j.Field("channel", ev.byChannel + 1);
    switch (ev.dwType) {
        case EVT_NOTEON:
        case EVT_NOTEOFF:
            j.Field("note", ev.byData1);
            j.Field("pitch", NoteName(ev.byData1));
            j.Field("velocity", ev.byData2);
            if (ev.byChannel == PERCUSSION_CHANNEL)
                j.Field("drum", CMidiFolio::GetDrumName(ev.byData1));
            if (lengthMs >= 0) j.Field("length_ms", lengthMs);
            break;
        case EVT_KEYPRESSURE:
            j.Field("note", ev.byData1);
            j.Field("pitch", NoteName(ev.byData1));
            j.Field("pressure", ev.byData2);
            break;
        case EVT_CONTROL: {
            const char* name = CMidiFolio::GetContrlMsg(ev.byData1).lpszName;
            j.Field("controller", ev.byData1);
            j.Field("name", name ? name : "");
            j.Field("value", ev.byData2);
            break;
        }
        case EVT_PROGRAM:
            j.Field("program", ev.byData1);
            j.Field("name", ev.byChannel == PERCUSSION_CHANNEL
                                ? std::string()
                                : CMidiFolio::GetInstName(ev.byData1));
            break;
        case EVT_CHANPRESSURE:
            j.Field("pressure", ev.byData1);
            break;
        case EVT_PITCHBEND:
            j.Field("bend", ev.wBend);
            break;
        case EVT_META: {
            const uint32_t type = ev.dwSubType & 0xFF;
            j.Field("meta_type", type);
            j.Field("meta", MetaName(type));
            if (IsTextMeta(type)) {
                j.Field("text", MetaText(ev));
            } else if (type != META_END_OF_TRACK) {
                j.Field("detail", MetaDetail(ev));
                j.Field("data", Hex(ev.pData, ev.pData ? ev.dwLength : 0));
            }
            break;
        }
        case EVT_SYSEX:
        case EVT_SYSEXESC:
            j.Field("data", Hex(ev.pData, ev.pData ? ev.dwLength : 0));
            break;
        case EVT_SYSCOMMON:
        case EVT_REALTIME:
            j.Field("status", ev.dwSubType & 0xFF);
            break;
        default:
            break;
    }
}

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

namespace {

// The library's answer for a tick in milliseconds or hours:minutes:seconds:frames.
_MIDI_TIME LibraryTime(CMidiFolio& song, int32_t tick, TIME_FORMAT format) {
    _MIDI_TIME t = MakeTicks(tick);
    song.ConvertMIDITime(&t, format);
    return t;
}

}  // namespace

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

std::string TimeText(TimeColumn column, int32_t tick, const SongClock& clock) {
    switch (column) {
        case TimeColumn::kTick:
            return std::to_string(tick);
        case TimeColumn::kMs:
            return Format("%.0fms", LibraryTime(clock.song, tick, TF_MSEC).dMsecs);
        case TimeColumn::kSeconds: {
            const double s = clock.time.seconds(tick);
            return std::isnan(s) ? "-" : SecondsText(s) + "s";
        }
        case TimeColumn::kMeasure:
            return BarText(clock.meter.at(tick), clock.ticksPerQuarter);
        case TimeColumn::kHmsf: {
            const _MIDI_TIME t = LibraryTime(clock.song, tick, TF_HMSF);
            return Format("%02d:%02d:%02d:%02d", t.lHour, t.lMinute, t.lSecond, t.lFrame);
        }
    }
    return "-";
}

void WriteTime(JsonWriter& j, TimeColumn column, int32_t tick, const SongClock& clock) {
    switch (column) {
        case TimeColumn::kTick:
            j.Int(tick);
            break;
        case TimeColumn::kMs:
            j.Double(LibraryTime(clock.song, tick, TF_MSEC).dMsecs);
            break;
        case TimeColumn::kSeconds:
            j.Double(clock.time.seconds(tick));
            break;
        case TimeColumn::kMeasure: {
            const score::BarBeat at = clock.meter.at(tick);
            j.BeginObject().Field("bar", at.bar).Field("beat", at.beat).Field("tick", at.tick);
            j.EndObject();
            break;
        }
        case TimeColumn::kHmsf: {
            const _MIDI_TIME t = LibraryTime(clock.song, tick, TF_HMSF);
            j.BeginObject()
                .Field("hours", t.lHour)
                .Field("minutes", t.lMinute)
                .Field("seconds", t.lSecond)
                .Field("frames", t.lFrame)
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
    TimePoint p;
    p.text = text;
    p.option = option;
    if (AllDigits(s)) {
        p.value = whole(s);
        return p;
    }
    if (s.size() > 2 && s.compare(s.size() - 2, 2, "ms") == 0) {
        if (!ParseDecimal(s.substr(0, s.size() - 2), p.value) || p.value > 2e9) throw bad();
        p.form = TimeColumn::kMs;
        return p;
    }
    if (s.size() > 1 && s.back() == 's') {
        if (!ParseDecimal(s.substr(0, s.size() - 1), p.value) || p.value > 2e7) throw bad();
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

int64_t ResolveTime(const TimePoint& p, bool last, const SongClock& clock) {
    // A position between ticks: the next tick for a start, the one before for an end. What a
    // column prints is rounded; `slack` takes a printed time back to its own tick.
    auto toTick = [last](double position, double slack) -> int64_t {
        if (std::isnan(position)) return last ? -1 : 0;
        const double t = last ? std::floor(position + slack) : std::ceil(position - slack);
        return static_cast<int64_t>(std::clamp(t, -1.0, 4294967296.0));
    };
    switch (p.form) {
        case TimeColumn::kTick:
            return static_cast<int64_t>(p.value);
        case TimeColumn::kMs:
        case TimeColumn::kHmsf: {
            _MIDI_TIME t = p.form == TimeColumn::kMs ? MakeMsecs(p.value) : p.hmsf;
            clock.song.ConvertMIDITime(&t, TF_TICK);
            return t.lTicks;
        }
        case TimeColumn::kSeconds: {
            // Seconds print with six decimals: half a microsecond either way is the same time.
            const double slack = 5e-7;
            return toTick(clock.time.ticks(p.value + (last ? slack : -slack)), 0);
        }
        case TimeColumn::kMeasure: {
            const auto& meters = clock.meter.meters();
            const score::MeterMap::Meter* m = &meters.front();
            for (const auto& candidate : meters) {
                if (candidate.bar <= p.bar) m = &candidate;
            }
            if (p.beat > m->numerator) {
                throw Failure(Format("%s: bar %d has %d beats (%d/%u), not %d", p.option.c_str(),
                                     p.bar, m->numerator, m->numerator,
                                     m->denominator_power < 32 ? 1u << m->denominator_power : 0u,
                                     p.beat));
            }
            if (p.tick >= m->beat_ticks) {
                throw Failure(Format("%s: a beat of bar %d has %g ticks (0..%g), not %g",
                                     p.option.c_str(), p.bar, m->beat_ticks,
                                     std::ceil(m->beat_ticks) - 1, p.tick));
            }
            const double at = clock.meter.bar_start(p.bar) + (p.beat - 1) * m->beat_ticks + p.tick;
            return toTick(at, 5e-4);
        }
    }
    return 0;
}

long FileEventCount(const CMidiFolio& song, int index) {
    const CMidiTrack* track = song.GetTrack(index);
    if (track == nullptr) return 0;
    const POSITION head = track->GetEventHeadPosition();
    return track->GetCount() - (head != nullptr && song.IsLoaderTempo(track, head) ? 1 : 0);
}

}  // namespace mfcli
