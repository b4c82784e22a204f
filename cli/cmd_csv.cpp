// `midifolio csv FILE`: the song as midicsv's CSV, record for record what midicsv(1) writes.
//
// The records (midicsv(5)): a Header; per track a Start_track, one record per event with its
// absolute time in ticks, and an End_track at the time of the track's end-of-track event (or
// of its last event when it has none, and none at all for a track without events, as midicsv
// does); End_of_file. Channels count from 0 here, as in the
// file. Text is quoted: a quote doubled, a backslash doubled, and the bytes that are not
// graphic characters of Latin-1 (below 32, 127..160) as a backslash and three octal digits;
// every other byte is copied as it is.
#include <memory>

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
void MetaRecord(Output& out, const MIDIEvent& ev) {
    const uint32_t type = ev.dwSubType & 0xFF;
    const uint8_t* d = ev.pData;
    const uint32_t n = d != nullptr ? ev.dwLength : 0;
    // A known kind shorter than it should be is read as zeros beyond its end.
    auto byte = [&](uint32_t i) -> unsigned { return i < n ? d[i] : 0; };
    if (const char* record = TextRecord(type)) {
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
void EventRecord(Output& out, const MIDIEvent& ev) {
    const unsigned ch = ev.byChannel;
    switch (ev.dwType) {
        case EVT_NOTEON:
            out << Format("Note_on_c, %u, %u, %u", ch, ev.byData1, ev.byData2);
            break;
        case EVT_NOTEOFF:
            out << Format("Note_off_c, %u, %u, %u", ch, ev.byData1, ev.byData2);
            break;
        case EVT_KEYPRESSURE:
            out << Format("Poly_aftertouch_c, %u, %u, %u", ch, ev.byData1, ev.byData2);
            break;
        case EVT_CONTROL:
            out << Format("Control_c, %u, %u, %u", ch, ev.byData1, ev.byData2);
            break;
        case EVT_PROGRAM:
            out << Format("Program_c, %u, %u", ch, ev.byData1);
            break;
        case EVT_CHANPRESSURE:
            out << Format("Channel_aftertouch_c, %u, %u", ch, ev.byData1);
            break;
        case EVT_PITCHBEND:
            out << Format("Pitch_bend_c, %u, %u", ch, ev.wBend);
            break;
        case EVT_SYSEX:
        case EVT_SYSEXESC: {
            const uint32_t n = ev.pData != nullptr ? ev.dwLength : 0;
            out << (ev.dwType == EVT_SYSEX ? "System_exclusive, " : "System_exclusive_packet, ")
                << n;
            Bytes(out, ev.pData, n);
            break;
        }
        case EVT_META:
            MetaRecord(out, ev);
            break;
        case EVT_SYSCOMMON:
        case EVT_REALTIME:
            out << Format("Unknown_event, %02Xx", ev.dwSubType & 0xFF);
            break;
        default:  // a data byte without running status: no status byte to show
            out << "Unknown_event, 00x";
            break;
    }
}

void WriteCsv(const CMidiFolio& song, Output& out) {
    const _MIDIHEAD head = song.GetMidiHeaderInfo();
    out << "0, 0, Header, " << head.nFormat << ", " << head.nTracks << ", " << head.nDivision
        << "\n";
    for (int i = 0; i < static_cast<int>(song.GetTrackNum()); ++i) {
        const CMidiTrack* track = song.GetTrack(i);
        if (track == nullptr) continue;
        const int number = i + 1;
        out << number << ", 0, Start_track\n";
        POSITION pos = track->GetEventHeadPosition();
        // The loader's tempo event, in front of the first track, is not the file's.
        if (pos != nullptr && song.IsLoaderTempo(track, pos)) track->GetNextPtr(pos);
        int32_t last = 0;
        bool ended = pos == nullptr;
        while (pos != nullptr && !ended) {
            const MIDIEvent& ev = *track->GetNextPtr(pos);
            out << number << ", " << ev.lTime << ", ";
            if (ev.dwType == EVT_META && (ev.dwSubType & 0xFF) == META_END_OF_TRACK) {
                out << "End_track\n";
                ended = true;
            } else {
                EventRecord(out, ev);
                out << '\n';
                last = ev.lTime;
            }
        }
        if (!ended) out << number << ", " << last << ", End_track\n";
    }
    out << "0, 0, End_of_file\n";
}

}  // namespace

int RunCsv(const CsvOptions& o) {
    LoadedSong loaded = LoadSongOrFail(o.file, o.common);
    if (IsStdio(o.out)) {
        WriteCsv(*loaded.song, Stdout());
        return kExitOk;
    }
    AtomicFile file(o.out);
    WriteCsv(*loaded.song, file.Out());
    file.Commit();
    return kExitOk;
}

}  // namespace mfcli
