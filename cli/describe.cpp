#include "describe.h"

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

std::string TimeText(const _MIDI_TIME& t, int32_t ticksPerQuarter) {
    switch (t.format) {
        case TF_TICK:
            return std::to_string(t.lTicks);
        case TF_MSEC:
            return Format("%.0f", t.dMsecs);
        case TF_MEASURE: {
            const int width = ticksPerQuarter > 1
                                  ? static_cast<int>(std::to_string(ticksPerQuarter - 1).size())
                                  : 1;
            return Format("%d:%d:%0*d", t.lMeasure + 1, t.nBeat + 1, width, t.nTick);
        }
        case TF_HMSF:
            return Format("%02d:%02d:%02d:%02d", t.lHour, t.lMinute, t.lSecond, t.lFrame);
        default:
            return "-";
    }
}

void WriteTime(JsonWriter& j, const _MIDI_TIME& t) {
    switch (t.format) {
        case TF_TICK:
            j.Int(t.lTicks);
            break;
        case TF_MSEC:
            j.Double(t.dMsecs);
            break;
        case TF_MEASURE:
            j.BeginObject()
                .Field("bar", t.lMeasure + 1)
                .Field("beat", t.nBeat + 1)
                .Field("tick", t.nTick)
                .EndObject();
            break;
        case TF_HMSF:
            j.BeginObject()
                .Field("hours", t.lHour)
                .Field("minutes", t.lMinute)
                .Field("seconds", t.lSecond)
                .Field("frames", t.lFrame)
                .EndObject();
            break;
        default:
            j.Null();
            break;
    }
}

TIME_FORMAT ParseTimeFormat(const std::string& name) {
    const std::string n = Lower(name);
    if (n == "tick" || n == "ticks") return TF_TICK;
    if (n == "ms" || n == "msec") return TF_MSEC;
    if (n == "measure" || n == "bar") return TF_MEASURE;
    if (n == "hmsf" || n == "clock") return TF_HMSF;
    throw Failure("--time: unknown time format '" + Shown(name) +
                  "' (use tick, ms, measure or hmsf)");
}

_MIDI_TIME ParseTimePoint(const std::string& text, const std::string& option) {
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
    if (AllDigits(s)) return MakeTicks(whole(s));
    double value = 0;
    if (s.size() > 2 && s.compare(s.size() - 2, 2, "ms") == 0) {
        if (!ParseDecimal(s.substr(0, s.size() - 2), value) || value > 2e9) throw bad();
        return MakeMsecs(value);
    }
    if (s.size() > 1 && s.back() == 's') {
        if (!ParseDecimal(s.substr(0, s.size() - 1), value) || value > 2e6) throw bad();
        return MakeMsecs(value * 1000.0);
    }
    const auto parts = Split(s, ':');
    if (parts.size() == 2 || parts.size() == 3) {
        const int bar = whole(parts[0]);
        const int beat = whole(parts[1]);
        const int tick = parts.size() == 3 ? whole(parts[2]) : 0;
        if (bar < 1 || beat < 1 || beat > 32767 || tick > 32767) throw bad();
        return MakeMeasure(bar - 1, static_cast<int16_t>(beat - 1), static_cast<int16_t>(tick));
    }
    if (parts.size() == 4) {
        const int h = whole(parts[0]), m = whole(parts[1]), sec = whole(parts[2]),
                  f = whole(parts[3]);
        if (h > 500 || m > 59 || sec > 59 || f > 39) throw bad();
        return MakeHmsf(h, m, sec, f);
    }
    throw bad();
}

}  // namespace mfcli
