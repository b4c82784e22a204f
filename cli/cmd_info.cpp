// `midifolio info FILE`: what a song is made of, from its header to its drums.
#include <algorithm>
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

// Everything `info` reports; the text and the JSON forms are printed from it. The library's
// own answers (its milliseconds, measures, last signatures and tempo map) stand beside the
// exact view's.
struct SongFacts {
    std::string file;
    _MIDIHEAD head{};
    int32_t endTicks = 0;
    // The library's answers.
    double endMs = 0;
    std::string end;  // measure:beat:tick of the library's measures
    _BAR bar{};
    _KEY key{};
    std::vector<TempoFacts> tempoMap;
    // The exact view's.
    double duration = 0;  // seconds
    int32_t bars = 0;
    std::string endBar;  // bar:beat:tick
    long events = 0;
    size_t notes = 0;
    int lowest = -1, highest = -1;
    std::vector<score::TempoChange> tempos;
    std::vector<int32_t> tempoBars;  // the bar of each tempo change
    std::vector<score::TimeSignature> timeSignatures;
    std::vector<score::KeySignature> keySignatures;
    std::vector<TrackFacts> tracks;
    std::vector<int> channels;                             // 1..16
    std::vector<std::pair<int, _INSTRUMENT>> instruments;  // channel 1..16, instrument
    DrumArray drums;
    bool percussionInRange = true;
};

// "x/4", "x/8" of a time signature.
std::string MeterText(const score::TimeSignature& ts) {
    return Format("%u/%u", ts.numerator, ts.denominator());
}

// Rows a text list shows before it says how many more there are (--json lists every one).
constexpr size_t kTextRows = 20;

TrackFacts DescribeTrack(const CMidiFolio& song, const CMidiTrack& track, int index) {
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
    t.events = static_cast<int32_t>(FileEventCount(song, index));
    t.channels.assign(channels.begin(), channels.end());
    return t;
}

SongFacts Describe(CMidiFolio& song, const std::string& path) {
    SongFacts f;
    f.file = path;
    f.head = song.GetMidiHeaderInfo();
    CMidiTempo& tempo = song.GetMidiTempo();
    const score::Score exact(song);
    f.endTicks = exact.end_tick();
    f.endMs = TicksToMs(song, f.endTicks);
    _MIDI_TIME end = MakeTicks(f.endTicks);
    song.ConvertMIDITime(&end, TF_MEASURE);
    const int width = static_cast<int>(std::to_string(std::max(1, f.head.nDivision - 1)).size());
    f.end = Format("%d:%d:%0*d", end.lMeasure + 1, end.nBeat + 1, width, end.nTick);
    f.bar = tempo.GetBar();
    f.key = tempo.GetKeySignature();
    for (const _TEMPO& t : tempo.GetTempos()) {
        f.tempoMap.push_back({t.lTicks, t.lMsecs,
                              t.lUsPerQuarter > 0 ? 60000000.0 / t.lUsPerQuarter : 0.0,
                              t.lUsPerQuarter});
    }
    f.duration = exact.duration();
    f.bars = exact.bars();
    f.endBar = BarText(exact.meter_map().at(f.endTicks), f.head.nDivision);
    f.events = static_cast<long>(exact.events());
    const score::Summary summary = exact.summary();
    f.notes = summary.notes;
    f.lowest = summary.lowest_pitch;
    f.highest = summary.highest_pitch;
    f.tempos = exact.tempos();
    for (const score::TempoChange& tc : f.tempos)
        f.tempoBars.push_back(exact.meter_map().at(tc.tick).bar);
    f.timeSignatures = exact.time_signatures();
    f.keySignatures = exact.key_signatures();
    for (int i = 0; i < static_cast<int>(song.GetTrackNum()); ++i) {
        if (const CMidiTrack* track = song.GetTrack(i))
            f.tracks.push_back(DescribeTrack(song, *track, i));
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
    // The library's answers: whole milliseconds in each tempo segment, its measures, the last
    // signatures it read and its tempo map (two entries of the loader's 120 bpm first).
    j.Key("duration_ms");  // -1 from the library: it cannot convert
    f.endMs < 0 ? j.Null() : j.Double(f.endMs);
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
    for (const TempoFacts& t : f.tempoMap) {
        j.BeginObject();
        j.Field("tick", t.tick);
        j.Field("ms", t.ms);
        j.Field("bpm", t.bpm);
        j.Field("us_per_quarter", t.usPerQuarter);
        j.EndObject();
    }
    j.EndArray();
    // The exact view's: seconds, bars, and the file's own events.
    j.Field("duration_s", f.duration);
    j.Field("bars", f.bars);
    j.Field("end_bar", f.endBar);
    j.Field("events", f.events);
    j.Field("notes", f.notes);
    j.Key("pitch_range");
    if (f.notes == 0) {
        j.Null();
    } else {
        j.BeginObject().Field("lowest", f.lowest).Field("highest", f.highest).EndObject();
    }
    j.Key("time_signatures").BeginArray();
    for (const score::TimeSignature& ts : f.timeSignatures) {
        j.BeginObject();
        j.Field("tick", ts.tick).Field("bar", ts.bar).Field("seconds", ts.seconds);
        j.Field("numerator", ts.numerator).Field("denominator", ts.denominator());
        j.Field("text", MeterText(ts)).Field("track", ts.track + 1);
        j.EndObject();
    }
    j.EndArray();
    j.Key("key_signatures").BeginArray();
    for (const score::KeySignature& ks : f.keySignatures) {
        j.BeginObject();
        j.Field("tick", ks.tick).Field("bar", ks.bar).Field("seconds", ks.seconds);
        j.Field("sharps", ks.sharps).Field("minor", ks.minor);
        j.Field("text", KeyName(static_cast<uint8_t>(ks.sharps), ks.minor ? 1 : 0));
        j.Field("track", ks.track + 1);
        j.EndObject();
    }
    j.EndArray();
    j.Key("tempos").BeginArray();
    for (size_t i = 0; i < f.tempos.size(); ++i) {
        const score::TempoChange& tc = f.tempos[i];
        j.BeginObject();
        j.Field("tick", tc.tick).Field("bar", f.tempoBars[i]).Field("seconds", tc.seconds);
        j.Field("bpm", tc.bpm()).Field("us_per_quarter", tc.us_per_quarter);
        j.Field("track", tc.track + 1);
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

// "  ... and 12 more (--json lists every one)" after the first kTextRows rows of a list.
void More(Output& o, size_t shown, size_t total) {
    if (total > shown) o << "  ... and " << (total - shown) << " more (--json lists every one)\n";
}

void PrintText(const SongFacts& f) {
    Output& o = Stdout();
    o << "File        " << f.file << "\n";
    o << "Format      " << f.head.nFormat << ", " << Plural(f.head.nTracks, "track") << ", "
      << f.head.nDivision << " ticks per quarter note\n";
    o << "Duration    " << ClockSeconds(f.duration) << " (" << f.endTicks << " ticks, "
      << Plural(f.bars, "bar") << ", ends at bar:beat:tick " << f.endBar << ")\n";
    if (ClockMs(f.endMs) != ClockSeconds(f.duration)) {
        o << "            the library says " << ClockMs(f.endMs)
          << " (whole milliseconds in each tempo segment)\n";
    }
    o << "Events      " << f.events << "\n";
    o << "Notes       " << f.notes;
    if (f.notes > 0) {
        o << ", " << NoteName(f.lowest) << " (" << f.lowest << ") .. " << NoteName(f.highest)
          << " (" << f.highest << ")";
    }
    o << "\n";

    const std::string head = Format("  %10s  %6s  %12s", "tick", "bar", "time");
    auto when = [](int32_t tick, int32_t bar, double seconds) {
        return Format("  %10d  %6d  %12s", tick, bar, ClockSeconds(seconds).c_str());
    };
    o << "\nTime signatures";
    if (f.timeSignatures.empty()) o << "  none: 4/4 throughout";
    o << "\n";
    if (!f.timeSignatures.empty()) o << head << "  signature\n";
    for (size_t i = 0; i < f.timeSignatures.size() && i < kTextRows; ++i) {
        const score::TimeSignature& ts = f.timeSignatures[i];
        o << when(ts.tick, ts.bar, ts.seconds) << "  " << MeterText(ts) << "\n";
    }
    More(o, kTextRows, f.timeSignatures.size());
    o << "\nKey signatures";
    if (f.keySignatures.empty()) o << "   none";
    o << "\n";
    if (!f.keySignatures.empty()) o << head << "  key\n";
    for (size_t i = 0; i < f.keySignatures.size() && i < kTextRows; ++i) {
        const score::KeySignature& ks = f.keySignatures[i];
        o << when(ks.tick, ks.bar, ks.seconds) << "  "
          << KeyName(static_cast<uint8_t>(ks.sharps), ks.minor ? 1 : 0) << "\n";
    }
    More(o, kTextRows, f.keySignatures.size());
    o << "\nTempo";
    if (f.tempos.empty()) o << "            none: 120 BPM throughout";
    o << "\n";
    if (!f.tempos.empty()) o << head << Format("  %8s  %10s  %5s\n", "BPM", "us/quarter", "track");
    for (size_t i = 0; i < f.tempos.size() && i < kTextRows; ++i) {
        const score::TempoChange& tc = f.tempos[i];
        o << when(tc.tick, f.tempoBars[i], tc.seconds)
          << Format("  %8.2f  %10u  %5d\n", tc.bpm(), tc.us_per_quarter, tc.track + 1);
    }
    More(o, kTextRows, f.tempos.size());

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
      << (f.percussionInRange ? "every drum note lies within" : "some drum notes lie outside")
      << Format(" the General MIDI range (%d..%d)", GM_DRUM_FIRST, GM_DRUM_LAST) << "\n";
}

}  // namespace

int RunInfo(const InfoOptions& o) {
    LoadedSong loaded = LoadSongOrFail(o.file, o.common);
    SongFacts facts;
    {
        Analysing busy(InputName(o.file), o.common);
        facts = Describe(*loaded.song, InputName(o.file));
    }
    if (o.common.json) {
        PrintJson(facts);
    } else {
        PrintText(facts);
    }
    return kExitOk;
}

}  // namespace mfcli
