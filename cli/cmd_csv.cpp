// `midifolio csv FILE`: the song as midicsv's CSV, record for record what midicsv(1) writes.
//
// The records (midicsv(5)): a Header; per track a Start_track, one record per event with its
// absolute time in ticks, and an End_track at the time of the track's end-of-track event (or
// of its last event when it has none, and none at all for a track without events, as midicsv
// does); End_of_file. Channels count from 0 here, as in the
// file. Text is quoted: a quote doubled, a backslash doubled, and the bytes that are not
// graphic characters of Latin-1 (below 32, 127..160) as a backslash and three octal digits;
// every other byte is copied as it is.

#include "commands.h"

using namespace midifolio;

namespace mfcli {

namespace {

void Bytes(Output& out, const uint8_t* data, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i) out << ", " << static_cast<unsigned>(data[i]);
}

void QuotedText(Output& out, const uint8_t* data, uint32_t length) {
    std::string text = "\"";
    for (uint32_t i = 0; i < length; ++i) {
        const uint8_t c = data[i];
        if (c == '"') {
            text += "\"\"";
        } else if (c == '\\') {
            text += "\\\\";
        } else if (c < 0x20 || (c >= 0x7F && c <= 0xA0)) {
            text += Format("\\%03o", c);
        } else {
            text += static_cast<char>(c);
        }
    }
    out << text << '"';
}

const char* TextRecord(uint32_t metaType) {
    switch (metaType) {
        case META_TEXT:
            return "Text_t";
        case META_COPYRIGHT:
            return "Copyright_t";
        case META_TRACK_NAME:
            return "Title_t";
        case META_INSTRUMENT_NAME:
            return "Instrument_name_t";
        case META_LYRIC:
            return "Lyric_t";
        case META_MARKER:
            return "Marker_t";
        case META_CUE_POINT:
            return "Cue_point_t";
        default:
            return nullptr;
    }
}

// The record of a meta event other than the end of track, after "T, time, ".
void MetaRecord(Output& out, const score::EventRecord& ev, const uint8_t* d) {
    const int type = ev.meta;
    const uint32_t n = ev.length;
    // A known kind shorter than it should be is read as zeros beyond its end.
    auto byte = [&](uint32_t i) -> unsigned { return i < n ? d[i] : 0; };
    if (const char* record = TextRecord(static_cast<uint32_t>(type))) {
        out << record << ", ";
        QuotedText(out, d, n);
        return;
    }
    switch (type) {
        case META_SEQUENCE_NUMBER:
            out << "Sequence_number, " << ((byte(0) << 8) | byte(1));
            return;
        case META_CHANNEL_PREFIX:
            out << "Channel_prefix, " << byte(0);
            return;
        case META_PORT:
            out << "MIDI_port, " << byte(0);
            return;
        case META_TEMPO:
            out << "Tempo, " << ((byte(0) << 16) | (byte(1) << 8) | byte(2));
            return;
        case META_SMPTE_OFFSET:
            out << Format("SMPTE_offset, %u, %u, %u, %u, %u", byte(0), byte(1), byte(2), byte(3),
                          byte(4));
            return;
        case META_TIME_SIGNATURE:
            out << Format("Time_signature, %u, %u, %u, %u", byte(0), byte(1), byte(2), byte(3));
            return;
        case META_KEY_SIGNATURE:
            out << "Key_signature, " << static_cast<int>(static_cast<int8_t>(byte(0))) << ", "
                << (byte(1) != 0 ? "\"minor\"" : "\"major\"");
            return;
        case META_SEQUENCER_SPECIFIC:
            out << "Sequencer_specific, " << n;
            Bytes(out, d, n);
            return;
        default:
            out << "Unknown_meta_event, " << type << ", " << n;
            Bytes(out, d, n);
            return;
    }
}

// The record of an event, after "T, time, ".
void EventRecord(Output& out, const score::EventRecord& ev, const uint8_t* payload) {
    const unsigned ch = ev.channel, a = ev.data1, b = ev.data2;
    switch (ev.status >> 4) {
        case 0x8:
            out << Format("Note_off_c, %u, %u, %u", ch, a, b);
            return;
        case 0x9:
            out << Format("Note_on_c, %u, %u, %u", ch, a, b);
            return;
        case 0xA:
            out << Format("Poly_aftertouch_c, %u, %u, %u", ch, a, b);
            return;
        case 0xB:
            out << Format("Control_c, %u, %u, %u", ch, a, b);
            return;
        case 0xC:
            out << Format("Program_c, %u, %u", ch, a);
            return;
        case 0xD:
            out << Format("Channel_aftertouch_c, %u, %u", ch, a);
            return;
        case 0xE:
            out << Format("Pitch_bend_c, %u, %u", ch, a + 128 * b);
            return;
        default:
            break;
    }
    if (ev.status == 0xF0 || ev.status == 0xF7) {
        out << (ev.status == 0xF0 ? "System_exclusive, " : "System_exclusive_packet, ")
            << ev.length;
        Bytes(out, payload, ev.length);
    } else if (ev.status == 0xFF) {
        MetaRecord(out, ev, payload);
    } else {
        out << Format("Unknown_event, %02Xx", ev.status);
    }
}

void WriteCsv(const score::Score& score, Output& out) {
    const score::Song& song = score.song();
    const uint8_t* base = song.bytes().data();
    out << "0, 0, Header, " << song.format() << ", " << song.tracks().size() << ", "
        << song.division().word << "\n";
    for (size_t t = 0; t < song.tracks().size(); ++t) {
        const size_t number = t + 1;
        out << number << ", 0, Start_track\n";
        score::EventStream events(score, t, t);
        score::EventRecord ev;
        int64_t end = -1, last = 0;
        bool ended = song.tracks()[t].events == 0;
        while (events.Next(ev, end)) {
            out << number << ", " << ev.tick << ", ";
            if (ev.status == 0xFF && ev.meta == META_END_OF_TRACK) {
                out << "End_track\n";
                ended = true;
                break;
            }
            EventRecord(out, ev, base + ev.offset);
            out << '\n';
            last = ev.tick;
        }
        if (!ended) out << number << ", " << last << ", End_track\n";
    }
    out << "0, 0, End_of_file\n";
}

}  // namespace

int RunCsv(const CsvOptions& o) {
    InputSong input = ReadSong(o.file, o.common, false);
    OutputTarget target(o.out);
    WriteCsv(input.Score(), target.Out());
    target.Commit();
    return kExitOk;
}

}  // namespace mfcli
