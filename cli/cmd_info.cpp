// `midifolio info FILE`: what a song is made of, from its header to its drums.
#include <set>

#include "commands.h"
#include "describe.h"

using namespace midifolio;

namespace mfcli {

namespace {

struct TrackFacts {
    int number = 0;
    std::string name;
    int32_t events = 0;
    std::vector<int> channels;
    int lyrics = 0;
};

struct TempoFacts {
    int32_t tick;
    int32_t ms;
    double bpm;
    int32_t usPerQuarter;
};

// Everything `info` reports; the text and the JSON forms are printed from it.
struct SongFacts {
    std::string file;
    _MIDIHEAD head{};
    int32_t endTicks = 0;
    double endMs = 0;
    std::string end;  // bar:beat:tick
    _BAR bar{};
    _KEY key{};
    std::vector<TempoFacts> tempos;
    std::vector<TrackFacts> tracks;
    std::vector<int> channels;                             // 1..16
    std::vector<std::pair<int, _INSTRUMENT>> instruments;  // channel 1..16, instrument
    DrumArray drums;
    bool percussionInRange = true;
};

TrackFacts DescribeTrack(const CMidiTrack& track, int index) {
    std::set<int> channels;
    TrackFacts t;
    bool named = false;
    for (POSITION pos = track.GetEventHeadPosition(); pos != nullptr;) {
        const MIDIEvent& ev = *track.GetNextPtr(pos);
        if (ev.byChannel < 16) channels.insert(ev.byChannel + 1);
        if (ev.dwType == EVT_META && (ev.dwSubType & 0xFF) == META_TRACK_NAME && !named) {
            t.name = DecodeText(ev.pData, ev.pData ? ev.dwLength : 0);
            named = true;
        }
        if (ev.dwType == EVT_META && (ev.dwSubType & 0xFF) == META_LYRIC) ++t.lyrics;
    }
    t.number = index + 1;
    t.events = track.GetCount();
    t.channels.assign(channels.begin(), channels.end());
    return t;
}

SongFacts Describe(CMidiFolio& song, const std::string& path) {
    SongFacts f;
    f.file = path;
    f.head = song.GetMidiHeaderInfo();
    CMidiTempo& tempo = song.GetMidiTempo();
    f.endTicks = SongEndTicks(song);
    f.endMs = TicksToMs(song, f.endTicks);
    _MIDI_TIME end = MakeTicks(f.endTicks);
    song.ConvertMIDITime(&end, TF_MEASURE);
    f.end = TimeText(end, f.head.nDivision);
    f.bar = tempo.GetBar();
    f.key = tempo.GetKeySignature();
    for (const _TEMPO& t : tempo.GetTempos()) {
        f.tempos.push_back({t.lTicks, t.lMsecs,
                            t.lUsPerQuarter > 0 ? 60000000.0 / t.lUsPerQuarter : 0.0,
                            t.lUsPerQuarter});
    }
    for (int i = 0; i < static_cast<int>(song.GetTrackNum()); ++i) {
        if (const CMidiTrack* track = song.GetTrack(i))
            f.tracks.push_back(DescribeTrack(*track, i));
    }
    uint8_t channels[16] = {};
    const int used = song.GetTotalChannels();
    song.GetChannels(channels);
    for (int i = 0; i < used && i < 16; ++i) {
        const int ch = channels[i];
        f.channels.push_back(ch + 1);
        if (ch == PERCUSSION_CHANNEL) continue;  // the drums are listed on their own
        InstrumentArray list;
        song.GetInstrumentByChannel(ch, list);
        for (const _INSTRUMENT& in : list) f.instruments.emplace_back(ch + 1, in);
    }
    song.GetDrums(f.drums, 1);
    f.percussionInRange = song.GetIsPercussionInRange() == 1;
    return f;
}

void PrintJson(const SongFacts& f) {
    JsonWriter j(Stdout(), 2);
    j.BeginObject();
    j.Field("file", f.file);
    j.Field("format", f.head.nFormat);
    j.Field("tracks", f.head.nTracks);
    j.Field("division", f.head.nDivision);
    j.Field("end_tick", f.endTicks);
    j.Field("duration_ms", f.endMs);
    j.Field("duration", ClockMs(f.endMs));
    j.Field("end", f.end);
    j.Key("time_signature").BeginObject();
    j.Field("numerator", f.bar.dwBaseBarNum);
    j.Field("denominator", f.bar.dwBaseNoteNum);
    j.Field("text", Format("%u/%u", f.bar.dwBaseBarNum, f.bar.dwBaseNoteNum));
    j.EndObject();
    j.Key("key_signature").BeginObject();
    j.Field("sharps_flats", f.key.dwSharpsFlats);
    j.Field("minor", f.key.dwMinor);
    j.Field("text", KeyName(f.key.dwSharpsFlats, f.key.dwMinor));
    j.EndObject();
    j.Key("tempo_map").BeginArray();
    for (const TempoFacts& t : f.tempos) {
        j.BeginObject();
        j.Field("tick", t.tick);
        j.Field("ms", t.ms);
        j.Field("bpm", t.bpm);
        j.Field("us_per_quarter", t.usPerQuarter);
        j.EndObject();
    }
    j.EndArray();
    j.Key("track_list").BeginArray();
    for (const TrackFacts& t : f.tracks) {
        j.BeginObject();
        j.Field("number", t.number);
        j.Field("name", t.name);
        j.Field("events", t.events);
        j.Field("channels", t.channels);
        j.Field("lyrics", t.lyrics);
        j.EndObject();
    }
    j.EndArray();
    j.Field("channels", f.channels);
    j.Key("instruments").BeginArray();
    for (const auto& [channel, in] : f.instruments) {
        j.BeginObject();
        j.Field("channel", channel);
        j.Field("bank", in.byBank);
        j.Field("program", in.byProgram);
        j.Field("name", in.strName);
        j.Field("low_note", in.byLowNote);
        j.Field("high_note", in.byHighNote);
        j.Field("low", NoteName(in.byLowNote));
        j.Field("high", NoteName(in.byHighNote));
        j.EndObject();
    }
    j.EndArray();
    j.Key("drums").BeginArray();
    for (const _DRUM& d : f.drums) {
        j.BeginObject();
        j.Field("bank", d.byBank);
        j.Field("note", d.byNote);
        j.Field("name", d.strName);
        j.Field("pitch", d.strPitch);
        j.EndObject();
    }
    j.EndArray();
    j.Field("percussion_in_gm_range", f.percussionInRange);
    j.EndObject();
}

void PrintText(const SongFacts& f) {
    Output& o = Stdout();
    o << "File        " << f.file << "\n";
    o << "Format      " << f.head.nFormat << ", " << Plural(f.head.nTracks, "track") << ", "
      << f.head.nDivision << " ticks per quarter note\n";
    o << "Duration    " << ClockMs(f.endMs) << " (" << f.endTicks
      << " ticks, ends at bar:beat:tick " << f.end << ")\n";
    o << "Signature   " << Format("%u/%u", f.bar.dwBaseBarNum, f.bar.dwBaseNoteNum) << ", "
      << KeyName(f.key.dwSharpsFlats, f.key.dwMinor) << "\n";

    o << "\nTempo map\n";
    o << Format("  %10s  %12s  %8s  %10s\n", "tick", "time", "BPM", "us/quarter");
    for (const TempoFacts& t : f.tempos) {
        o << Format("  %10d  %12s  %8.2f  %10d\n", t.tick, ClockMs(t.ms).c_str(), t.bpm,
                    t.usPerQuarter);
    }

    o << "\nTracks\n";
    o << Format("  %3s  %7s  %-12s  %s\n", "#", "events", "channels", "name");
    for (const TrackFacts& t : f.tracks) {
        std::string channels;
        for (int c : t.channels) channels += (channels.empty() ? "" : ",") + std::to_string(c);
        if (channels.empty()) channels = "-";
        o << Format("  %3d  %7d  %-12s  %s\n", t.number, t.events, channels.c_str(),
                    EscapeControls(t.name).c_str());
    }

    std::string channels;
    for (int c : f.channels) channels += (channels.empty() ? "" : ", ") + std::to_string(c);
    o << "\nChannels    " << (channels.empty() ? "none" : channels) << "\n";

    o << "\nInstruments\n";
    if (f.instruments.empty()) {
        o << "  none\n";
    } else {
        o << Format("  %2s  %4s  %4s  %-24s  %s\n", "ch", "bank", "prog", "name", "notes");
        for (const auto& [channel, in] : f.instruments) {
            o << Format("  %2d  %4d  %4d  %-24s  %s (%d) .. %s (%d)\n", channel, in.byBank,
                        in.byProgram, in.strName.c_str(), NoteName(in.byLowNote).c_str(),
                        in.byLowNote, NoteName(in.byHighNote).c_str(), in.byHighNote);
        }
    }

    o << "\nDrums (channel 10)\n";
    if (f.drums.empty()) {
        o << "  none\n";
    } else {
        o << Format("  %4s  %4s  %-5s  %s\n", "bank", "note", "pitch", "name");
        for (const _DRUM& d : f.drums) {
            o << Format("  %4d  %4d  %-5s  %s\n", d.byBank, d.byNote, d.strPitch.c_str(),
                        d.strName.empty() ? "(no General MIDI drum)" : d.strName.c_str());
        }
    }
    o << "\nPercussion  "
      << (f.percussionInRange ? "every drum note lies within the General MIDI range (35..81)"
                              : "some drum notes lie outside the General MIDI range (35..81)")
      << "\n";
}

}  // namespace

int RunInfo(const InfoOptions& o) {
    LoadedSong loaded = LoadSongOrFail(o.file, o.common);
    const SongFacts facts = Describe(*loaded.song, InputName(o.file));
    if (o.common.json) {
        PrintJson(facts);
    } else {
        PrintText(facts);
    }
    return kExitOk;
}

}  // namespace mfcli
