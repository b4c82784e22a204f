// `midifolio info FILE`: what a song is made of, from its header to its drums.
#include <algorithm>
#include <map>
#include <optional>

#include "commands.h"
#include "describe.h"
#include "times.h"

using namespace midifolio;

namespace mfcli {

namespace {

// The library's own answers for a song its classes can hold: whole milliseconds in each tempo
// segment, quarter-note measures, the last signatures read and its tempo map.
struct LibraryFacts {
    double endMs = 0;
    std::string end;  // measure:beat:tick of the library's measures
    _BAR bar{};
    _KEY key{};
    std::vector<_TEMPO> tempoMap;
};

struct DrumFacts {
    int note;
    size_t strokes;
};

// Everything `info` reports; the text and the JSON forms are printed from it.
struct SongFacts {
    std::string file;  // as given (GivenName)
    int32_t format = 0;
    score::Division division;
    int64_t endTicks = 0;
    double duration = 0;  // seconds
    int32_t bars = 0;
    std::string endBar;  // bar:beat:tick
    uint64_t events = 0;
    score::Summary summary;
    std::vector<score::TempoChange> tempos;
    std::vector<int32_t> tempoBars;  // the bar of each tempo change
    std::vector<score::TimeSignature> timeSignatures;
    std::vector<score::KeySignature> keySignatures;
    std::vector<score::TrackSummary> tracks;
    std::vector<uint64_t> trackEvents;
    std::vector<int> channels;  // 1..16
    std::vector<score::Instrument> instruments;
    std::vector<DrumFacts> drums;
    std::optional<LibraryFacts> library;
    std::string libraryRefusal;
};

// Rows a text list shows before it says how many more there are (--json lists every one).
constexpr size_t kTextRows = 20;

std::string MeterText(const score::TimeSignature& ts) {
    return Format("%u/%u", ts.numerator, ts.denominator());
}

std::string KeyText(const score::KeySignature& ks) {
    const std::string key = names::KeyName(ks.sharps, ks.minor);
    return key.empty() ? Format("unknown key (%d sharps)", ks.sharps) : key;
}

std::string DivisionText(const score::Division& d) {
    if (!d.smpte()) return Plural(d.ticks_per_quarter(), "tick") + " per quarter note";
    return Format("SMPTE time: %s frames per second, ",
                  d.frames_per_second() == 29 ? "29.97"
                                              : std::to_string(d.frames_per_second()).c_str()) +
           Plural(d.ticks_per_frame(), "tick") + " per frame";
}

std::optional<LibraryFacts> Library(InputSong& input, int64_t endTicks, std::string& refusal) {
    CMidiFolio* song = input.TryCore(&refusal);
    if (song == nullptr) return std::nullopt;
    LibraryFacts f;
    CMidiTempo& tempo = song->GetMidiTempo();
    const int32_t end = static_cast<int32_t>(std::min<int64_t>(endTicks, INT32_MAX));
    _MIDI_TIME t = MakeTicks(end);
    song->ConvertMIDITime(&t, TF_MSEC);
    f.endMs = t.dMsecs;
    t = MakeTicks(end);
    song->ConvertMIDITime(&t, TF_MEASURE);
    const int division = song->GetMidiHeaderInfo().nDivision;
    const int width = static_cast<int>(std::to_string(std::max(1, division - 1)).size());
    f.end = Format("%d:%d:%0*d", t.lMeasure + 1, t.nBeat + 1, width, t.nTick);
    f.bar = tempo.GetBar();
    f.key = tempo.GetKeySignature();
    f.tempoMap.assign(tempo.GetTempos().begin(), tempo.GetTempos().end());
    return f;
}

void DescribeNotes(const score::Score& exact, SongFacts& f) {
    std::map<int, size_t> drums;
    for (const score::Note& n : exact.notes())
        if (n.channel == PERCUSSION_CHANNEL) ++drums[n.pitch];
    for (const auto& [note, strokes] : drums) f.drums.push_back({note, strokes});
    for (const score::Instrument& in : exact.instruments())
        if (in.channel != PERCUSSION_CHANNEL) f.instruments.push_back(in);
    bool used[16] = {};
    for (const score::TrackSummary& t : f.tracks)
        for (uint8_t c : t.channels) used[c] = true;
    for (int c = 0; c < 16; ++c)
        if (used[c]) f.channels.push_back(c + 1);
}

SongFacts Describe(InputSong& input) {
    const score::Score& exact = input.Score();
    const score::Song& song = input.Song();
    SongFacts f;
    f.file = input.Given();
    f.format = song.format();
    f.division = song.division();
    f.endTicks = exact.end_tick();
    f.duration = exact.duration();
    f.bars = exact.bars();
    f.endBar = BarText(exact.meter_map().at(static_cast<double>(f.endTicks)),
                       f.division.ticks_per_quarter());
    f.events = exact.event_count();
    f.summary = exact.summary();
    f.tempos = exact.tempos();
    for (const score::TempoChange& tc : f.tempos)
        f.tempoBars.push_back(exact.meter_map(tc.track).at(static_cast<double>(tc.tick)).bar);
    f.timeSignatures = exact.time_signatures();
    f.keySignatures = exact.key_signatures();
    f.tracks = exact.track_summaries();
    for (const score::TrackInfo& t : song.tracks()) f.trackEvents.push_back(t.events);
    DescribeNotes(exact, f);
    f.library = Library(input, f.endTicks, f.libraryRefusal);
    return f;
}

void PrintLibraryJson(JsonWriter& j, const SongFacts& f) {
    // The library's answers: whole milliseconds in each tempo segment, its measures, the last
    // signatures it read and its tempo map (two entries of the loader's 120 bpm first); null
    // when its classes cannot hold the song.
    if (!f.library) {
        for (const char* key :
             {"duration_ms", "duration", "end", "time_signature", "key_signature", "tempo_map"})
            j.Key(key).Null();
        return;
    }
    const LibraryFacts& l = *f.library;
    j.Key("duration_ms");  // -1 from the library: it cannot convert
    l.endMs < 0 ? j.Null() : j.Double(l.endMs);
    j.Field("duration", ClockMs(l.endMs)).Field("end", l.end);
    j.Key("time_signature").BeginObject();
    j.Field("numerator", l.bar.dwBaseBarNum).Field("denominator", l.bar.dwBaseNoteNum);
    j.Field("text", Format("%u/%u", l.bar.dwBaseBarNum, l.bar.dwBaseNoteNum));
    j.EndObject();
    j.Key("key_signature").BeginObject();
    j.Field("sharps_flats", l.key.dwSharpsFlats).Field("minor", l.key.dwMinor);
    j.Field("text", names::KeyName(static_cast<int8_t>(l.key.dwSharpsFlats), l.key.dwMinor != 0));
    j.EndObject();
    j.Key("tempo_map").BeginArray();
    for (const _TEMPO& t : l.tempoMap) {
        j.BeginObject().Field("tick", t.lTicks).Field("ms", t.lMsecs);
        j.Field("bpm", smf::BpmOfTempo(static_cast<uint32_t>(std::max(t.lUsPerQuarter, 0))));
        j.Field("us_per_quarter", t.lUsPerQuarter).EndObject();
    }
    j.EndArray();
}

void PrintMapsJson(JsonWriter& j, const SongFacts& f) {
    j.Key("time_signatures").BeginArray();
    for (const score::TimeSignature& ts : f.timeSignatures) {
        j.BeginObject().Field("tick", ts.tick).Field("bar", ts.bar).Field("seconds", ts.seconds);
        j.Field("numerator", ts.numerator).Field("denominator", ts.denominator());
        j.Field("text", MeterText(ts)).Field("track", ts.track + 1).EndObject();
    }
    j.EndArray();
    j.Key("key_signatures").BeginArray();
    for (const score::KeySignature& ks : f.keySignatures) {
        j.BeginObject().Field("tick", ks.tick).Field("bar", ks.bar).Field("seconds", ks.seconds);
        j.Field("sharps", ks.sharps).Field("minor", ks.minor).Field("text", KeyText(ks));
        j.Field("track", ks.track + 1).EndObject();
    }
    j.EndArray();
    j.Key("tempos").BeginArray();
    for (size_t i = 0; i < f.tempos.size(); ++i) {
        const score::TempoChange& tc = f.tempos[i];
        j.BeginObject()
            .Field("tick", tc.tick)
            .Field("bar", f.tempoBars[i])
            .Field("seconds", tc.seconds);
        j.Field("bpm", tc.bpm())
            .Field("us_per_quarter", tc.us_per_quarter)
            .Field("track", tc.track + 1);
        j.EndObject();
    }
    j.EndArray();
}

void PrintContentsJson(JsonWriter& j, const SongFacts& f) {
    j.Key("track_list").BeginArray();
    for (const score::TrackSummary& t : f.tracks) {
        j.BeginObject().Field("number", t.index + 1).Field("name", t.name);
        j.Field("events", f.trackEvents[t.index]);
        std::vector<int> channels;
        for (uint8_t c : t.channels) channels.push_back(c + 1);
        j.Field("channels", channels).Field("notes", t.notes).Field("lyrics", t.lyrics);
        j.EndObject();
    }
    j.EndArray();
    j.Field("channels", f.channels);
    j.Key("instruments").BeginArray();
    for (const score::Instrument& in : f.instruments) {
        j.BeginObject().Field("channel", in.channel + 1).Field("program", in.program);
        j.Field("bank_msb", in.bank_msb).Field("bank_lsb", in.bank_lsb).Field("name", in.name);
        std::vector<int> tracks;
        for (uint16_t t : in.tracks) tracks.push_back(t + 1);
        j.Field("tracks", tracks).Field("notes", in.notes);
        j.Field("low_note", in.lowest).Field("high_note", in.highest);
        j.Field("low", NoteName(in.lowest)).Field("high", NoteName(in.highest)).EndObject();
    }
    j.EndArray();
    j.Key("drums").BeginArray();
    for (const DrumFacts& d : f.drums) {
        j.BeginObject().Field("note", d.note).Field("name", names::DrumName(d.note));
        j.Field("pitch", NoteName(d.note)).Field("strokes", d.strokes).EndObject();
    }
    j.EndArray();
}

void PrintJson(const SongFacts& f) {
    JsonWriter j(Stdout(), 2);
    j.BeginObject();
    j.Field("file", f.file).Field("format", f.format).Field("tracks", f.tracks.size());
    j.Field("division", f.division.word).Field("end_tick", f.endTicks);
    PrintLibraryJson(j, f);
    j.Field("duration_s", f.duration).Field("bars", f.bars).Field("end_bar", f.endBar);
    j.Field("events", f.events).Field("notes", f.summary.notes);
    j.Key("pitch_range");
    if (f.summary.notes == 0) {
        j.Null();
    } else {
        j.BeginObject()
            .Field("lowest", f.summary.lowest_pitch)
            .Field("highest", f.summary.highest_pitch);
        j.EndObject();
    }
    PrintMapsJson(j, f);
    PrintContentsJson(j, f);
    j.EndObject();
}

// "  ... and 12 more (--json lists every one)" after the first kTextRows rows of a list.
void More(Output& o, size_t shown, size_t total) {
    if (total > shown) o << "  ... and " << (total - shown) << " more (--json lists every one)\n";
}

std::string When(int64_t tick, int32_t bar, double seconds) {
    return Format("  %10lld  %6d  %12s", static_cast<long long>(tick), bar,
                  ClockSeconds(seconds).c_str());
}

void PrintHeadText(Output& o, const SongFacts& f) {
    o << "File        " << EscapeControls(f.file) << "\n";
    o << "Format      " << f.format << ", "
      << Plural(static_cast<long long>(f.tracks.size()), "track") << ", "
      << DivisionText(f.division) << "\n";
    o << "Duration    " << ClockSeconds(f.duration) << " (" << Plural(f.endTicks, "tick") << ", "
      << Plural(f.bars, "bar") << ", ends at bar:beat:tick " << f.endBar << ")\n";
    if (f.library && ClockMs(f.library->endMs) != ClockSeconds(f.duration))
        o << "            the library says " << ClockMs(f.library->endMs)
          << " (whole milliseconds in each tempo segment)\n";
    o << "Events      " << f.events << "\n";
    o << "Notes       " << f.summary.notes;
    if (f.summary.notes > 0)
        o << ", " << NoteName(f.summary.lowest_pitch) << " (" << f.summary.lowest_pitch << ") .. "
          << NoteName(f.summary.highest_pitch) << " (" << f.summary.highest_pitch << ")";
    o << "\n";
}

void PrintMapsText(Output& o, const SongFacts& f) {
    const std::string head = Format("  %10s  %6s  %12s", "tick", "bar", "time");
    o << "\nTime signatures" << (f.timeSignatures.empty() ? "  none: 4/4 throughout" : "") << "\n";
    if (!f.timeSignatures.empty()) o << head << "  signature\n";
    for (size_t i = 0; i < f.timeSignatures.size() && i < kTextRows; ++i) {
        const score::TimeSignature& ts = f.timeSignatures[i];
        o << When(ts.tick, ts.bar, ts.seconds) << "  " << MeterText(ts) << "\n";
    }
    More(o, kTextRows, f.timeSignatures.size());
    o << "\nKey signatures" << (f.keySignatures.empty() ? "   none" : "") << "\n";
    if (!f.keySignatures.empty()) o << head << "  key\n";
    for (size_t i = 0; i < f.keySignatures.size() && i < kTextRows; ++i) {
        const score::KeySignature& ks = f.keySignatures[i];
        o << When(ks.tick, ks.bar, ks.seconds) << "  " << KeyText(ks) << "\n";
    }
    More(o, kTextRows, f.keySignatures.size());
    o << "\nTempo" << (f.tempos.empty() ? "            none: 120 BPM throughout" : "") << "\n";
    if (!f.tempos.empty()) o << head << Format("  %8s  %10s  %5s\n", "BPM", "us/quarter", "track");
    for (size_t i = 0; i < f.tempos.size() && i < kTextRows; ++i) {
        const score::TempoChange& tc = f.tempos[i];
        o << When(tc.tick, f.tempoBars[i], tc.seconds)
          << Format("  %8.2f  %10u  %5d\n", tc.bpm(), tc.us_per_quarter, tc.track + 1);
    }
    More(o, kTextRows, f.tempos.size());
}

std::string List(const std::vector<int>& numbers, const char* separator) {
    std::string out;
    for (int n : numbers) out += (out.empty() ? "" : separator) + std::to_string(n);
    return out;
}

void PrintContentsText(Output& o, const SongFacts& f) {
    o << "\nTracks\n"
      << Format("  %3s  %7s  %6s  %-12s  %s\n", "#", "events", "notes", "channels", "name");
    for (const score::TrackSummary& t : f.tracks) {
        std::vector<int> channels;
        for (uint8_t c : t.channels) channels.push_back(c + 1);
        const std::string shown = channels.empty() ? "-" : List(channels, ",");
        o << Format("  %3d  %7llu  %6zu  %-12s  %s\n", t.index + 1,
                    static_cast<unsigned long long>(f.trackEvents[t.index]), t.notes, shown.c_str(),
                    EscapeControls(t.name).c_str());
    }
    o << "\nChannels    " << (f.channels.empty() ? "none" : List(f.channels, ", ")) << "\n";
    o << "\nInstruments\n";
    if (f.instruments.empty())
        o << "  none\n";
    else
        o << Format("  %2s  %-7s  %4s  %-26s  %6s  %s\n", "ch", "bank", "prog", "name", "notes",
                    "range");
    // The bank as "MSB/LSB", its header over its first digit.
    for (const score::Instrument& in : f.instruments)
        o << Format("  %2d  %-7s  %4d  %-26s  %6zu  %s (%d) .. %s (%d)\n", in.channel + 1,
                    Format("%d/%d", in.bank_msb, in.bank_lsb).c_str(), in.program, in.name.c_str(),
                    in.notes, NoteName(in.lowest).c_str(), in.lowest, NoteName(in.highest).c_str(),
                    in.highest);
    o << "\nDrums (channel 10)\n";
    if (f.drums.empty())
        o << "  none\n";
    else
        o << Format("  %4s  %-5s  %7s  %s\n", "note", "pitch", "strokes", "name");
    for (const DrumFacts& d : f.drums)
        o << Format("  %4d  %-5s  %7zu  %s\n", d.note, NoteName(d.note).c_str(), d.strokes,
                    *names::DrumName(d.note) ? names::DrumName(d.note) : "(no General MIDI drum)");
}

}  // namespace

int RunInfo(const InfoOptions& o) {
    InputSong input = ReadSong(o.file, o.common);
    SongFacts facts;
    {
        Analysing busy(input.Name(), o.common);
        facts = Describe(input);
    }
    if (o.common.json) {
        PrintJson(facts);
        return kExitOk;
    }
    Output& out = Stdout();
    PrintHeadText(out, facts);
    PrintMapsText(out, facts);
    PrintContentsText(out, facts);
    return kExitOk;
}

}  // namespace mfcli
