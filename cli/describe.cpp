#include "describe.h"

#include <cctype>

#include "common.h"
#include "text.h"

using namespace midifolio;

namespace mfcli {

namespace {

int g_middleC = names::kMiddleC;

std::string MetaText(const uint8_t* payload, uint32_t length) {
    return score::Text(payload, length);
}

std::string KeyText(const uint8_t* d) {
    const int sharps = static_cast<int8_t>(d[0]);
    const std::string key = names::KeyName(sharps, d[1] != 0);
    return key.empty() ? Format("unknown key (%d, %d)", sharps, d[1]) : key;
}

std::string MetaDetail(int type, const uint8_t* d, uint32_t n) {
    if (IsTextMeta(type)) return "\"" + EscapeControls(MetaText(d, n)) + "\"";
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
            if (n >= 4)
                return Format("%d/%d (", d[0], d[1] < 31 ? 1 << d[1] : 0) + Plural(d[2], "clock") +
                       " per click, " + Plural(d[3], "32nd") + " per quarter)";
            break;
        case META_KEY_SIGNATURE:
            if (n >= 2) return KeyText(d);
            break;
        default:
            break;
    }
    return Hex(d, n, 32);
}

std::string ProgramText(const score::EventRecord& ev) {
    if (ev.channel == PERCUSSION_CHANNEL) return Format("%d (drum kit)", ev.data1);
    return Format("%d %s", ev.data1, names::ProgramName(ev.data1));
}

std::string NoteText(const score::EventRecord& ev, double length) {
    std::string s;
    if (ev.channel == PERCUSSION_CHANNEL && *names::DrumName(ev.data1))
        s = names::DrumName(ev.data1) + std::string(" ");
    s += Format("%s (%d) vel %d", NoteName(ev.data1).c_str(), ev.data1, ev.data2);
    if (length >= 0) s += Format(", %.3f s", length);
    return s;
}

}  // namespace

void SetMiddleC(int octave) {
    g_middleC = octave;
}

int MiddleC() {
    return g_middleC;
}

std::string NoteName(int note) {
    const std::string name = names::PitchName(note, g_middleC);
    return name.empty() ? std::to_string(note) : name;
}

std::string TypeName(uint8_t status) {
    return smf::InfoOf(smf::KindOfStatus(status)).name;
}

std::string TypeNamesHelp() {
    std::string out = "note";
    for (const smf::KindInfo& k : smf::kKinds)
        if (k.kind != smf::Kind::kNone) out += std::string(",") + k.name;
    return out;
}

uint32_t ParseTypeList(const std::string& list) {
    uint32_t mask = 0;
    size_t start = 0;
    for (;;) {
        const size_t comma = list.find(',', start);
        const std::string raw =
            list.substr(start, comma == std::string::npos ? comma : comma - start);
        const std::string name = Lower(raw);
        bool found = name == "note" || name == "notes";
        if (found) mask |= EVT_NOTEON | EVT_NOTEOFF;
        for (const smf::KindInfo& k : smf::kKinds) {
            if (k.kind != smf::Kind::kNone && name == k.name) {
                mask |= k.typeCode;
                found = true;
            }
        }
        if (!found)
            throw Failure("--type: unknown event type '" + Shown(raw) +
                          "' (known: " + TypeNamesHelp() + ")");
        if (comma == std::string::npos) return mask;
        start = comma + 1;
    }
}

std::string MetaName(int metaType) {
    const smf::MetaInfo* m = smf::MetaInfoOf(static_cast<uint32_t>(metaType));
    return m != nullptr ? m->label : Format("meta 0x%02x", metaType & 0xFF);
}

bool IsTextMeta(int metaType) {
    const smf::MetaInfo* m = smf::MetaInfoOf(static_cast<uint32_t>(metaType));
    return m != nullptr && m->text;
}

std::string DescribeEvent(const score::EventRecord& ev, const uint8_t* payload, double length) {
    switch (ev.status >> 4) {
        case 0x8:
        case 0x9:
            return NoteText(ev, length);
        case 0xA:
            return Format("%s (%d) pressure %d", NoteName(ev.data1).c_str(), ev.data1, ev.data2);
        case 0xB:
            return Format("%d %s = %d", ev.data1, names::ControllerName(ev.data1), ev.data2);
        case 0xC:
            return ProgramText(ev);
        case 0xD:
            return Format("pressure %d", ev.data1);
        case 0xE: {
            const int bend = ev.data1 + 128 * ev.data2;
            return Format("%d (%+d)", bend, bend - 8192);
        }
        default:
            break;
    }
    if (ev.status == 0xFF) {
        const std::string detail = MetaDetail(ev.meta, payload, ev.length);
        return MetaName(ev.meta) + (detail.empty() ? "" : " " + detail);
    }
    if (ev.status == 0xF0 || ev.status == 0xF7) return Hex(payload, ev.length, 32);
    return Format("status %02x", ev.status);
}

void WriteEventFields(JsonWriter& j, const score::EventRecord& ev, const uint8_t* payload,
                      double length) {
    j.Field("type", TypeName(ev.status));
    if (ev.channel < 16) j.Field("channel", ev.channel + 1);
    switch (ev.status >> 4) {
        case 0x8:
        case 0x9:
            j.Field("note", ev.data1)
                .Field("pitch", NoteName(ev.data1))
                .Field("velocity", ev.data2);
            if (ev.channel == PERCUSSION_CHANNEL) j.Field("drum", names::DrumName(ev.data1));
            if (length >= 0) j.Field("length_s", length);
            return;
        case 0xA:
            j.Field("note", ev.data1)
                .Field("pitch", NoteName(ev.data1))
                .Field("pressure", ev.data2);
            return;
        case 0xB:
            j.Field("controller", ev.data1).Field("name", names::ControllerName(ev.data1));
            j.Field("value", ev.data2);
            return;
        case 0xC:
            j.Field("program", ev.data1);
            j.Field("name", ev.channel == PERCUSSION_CHANNEL ? "" : names::ProgramName(ev.data1));
            return;
        case 0xD:
            j.Field("pressure", ev.data1);
            return;
        case 0xE:
            j.Field("bend", ev.data1 + 128 * ev.data2);
            return;
        default:
            break;
    }
    if (ev.status == 0xFF) {
        j.Field("meta_type", ev.meta).Field("meta", MetaName(ev.meta));
        if (IsTextMeta(ev.meta)) {
            j.Field("text", MetaText(payload, ev.length));
        } else if (ev.meta != META_END_OF_TRACK) {
            j.Field("detail", MetaDetail(ev.meta, payload, ev.length));
            j.Field("data", Hex(payload, ev.length));
        }
    } else if (ev.status == 0xF0 || ev.status == 0xF7) {
        j.Field("data", Hex(payload, ev.length));
    } else {
        j.Field("status", ev.status);
    }
}

}  // namespace mfcli
