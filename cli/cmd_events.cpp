// `midifolio events FILE`: the song's events, one per line, selected by the song's queries.
#include <CLI/CLI.hpp>
#include <iostream>

#include "common.h"
#include "describe.h"

using namespace midifolio;

namespace mfcli {

namespace {

struct EventsOptions {
    CommonOptions common;
    std::string file;
    std::string tracks;
    int channel = 0;  // 1..16, 0 = any
    std::string types;
    std::string from;
    std::string to;
    std::string measures;
    std::string time = "tick";
    long limit = -1;
};

int RunEvents(const EventsOptions& o) {
    // Check every argument before the file is read.
    const TIME_FORMAT format = ParseTimeFormat(o.time);
    const uint32_t typeMask = o.types.empty() ? 0 : ParseTypeList(o.types);
    std::pair<int, int> trackRange{0, 0};
    if (!o.tracks.empty()) trackRange = ParseRange(o.tracks, "--tracks");
    std::pair<int, int> measureRange{0, 0};
    if (!o.measures.empty()) measureRange = ParseRange(o.measures, "--measures");
    _MIDI_TIME from = MakeTicks(0);
    _MIDI_TIME to = MakeTicks(-1);  // no upper bound
    if (!o.from.empty()) from = ParseTimePoint(o.from, "--from");
    if (!o.to.empty()) to = ParseTimePoint(o.to, "--to");

    LoadedSong loaded = LoadSongOrFail(o.file, o.common);
    CMidiFolio& song = *loaded.song;
    const int32_t ticksPerQuarter = song.GetMidiTempo().GetTicksPerQuarterNote();

    if (!o.measures.empty()) {
        // Whole bars: from the first tick of bar A to the last tick before bar B + 1.
        from = MakeMeasure(measureRange.first - 1, 0, 0);
        _MIDI_TIME next = MakeMeasure(measureRange.second, 0, 0);
        song.ConvertMIDITime(&next, TF_TICK);
        to = MakeTicks(next.lTicks > 0 ? next.lTicks - 1 : 0);
    }
    // The time query gives every note-on its length; the other filters narrow its result with the
    // tests of the track, channel and type queries.
    MidiEventList list;
    song.GetMIDIByTime(format, from, to, list);

    Json out = Json::array();
    long printed = 0;
    if (!o.common.json) {
        std::cout << Format("%12s  %5s  %3s  %-12s  %s\n",
                            o.time == "tick" ? "tick" : o.time.c_str(), "track", "ch", "event",
                            "details");
    }
    for (const MIDI_Event& rec : list) {
        const MIDIEvent& ev = rec.event;
        if (!o.tracks.empty() &&
            (rec.wTrack + 1 < trackRange.first || rec.wTrack + 1 > trackRange.second)) {
            continue;
        }
        if (o.channel != 0 && ev.byChannel != o.channel - 1) continue;
        if (typeMask != 0 && (ev.dwType & typeMask) != ev.dwType) continue;
        if (ev.dwType == 0 && typeMask != 0) continue;
        if (o.limit >= 0 && printed >= o.limit) break;
        ++printed;
        // A note-on the time query paired carries its length in milliseconds.
        int64_t length = -1;
        if (ev.dwType == EVT_NOTEON && ev.byData2 > 0 && ev.dwLength > 0 &&
            ev.dwLength < 0x80000000u) {
            length = ev.dwLength;
        }
        if (o.common.json) {
            Json j;
            j["track"] = rec.wTrack + 1;
            j["tick"] = ev.lTime;
            j["time"] = TimeJson(rec.time);
            const Json fields = EventJson(ev, length);
            for (const auto& item : fields.items()) j[item.key()] = item.value();
            out.push_back(j);
        } else {
            const std::string type =
                ev.dwType == EVT_NOTEON && ev.byData2 == 0 ? "noteon (off)" : TypeName(ev.dwType);
            std::cout << Format("%12s  %5d  %3s  %-12s  %s\n",
                                TimeText(rec.time, ticksPerQuarter).c_str(), rec.wTrack + 1,
                                ChannelText(ev.byChannel).c_str(), type.c_str(),
                                DescribeEvent(ev, length).c_str());
        }
    }
    CMidiFolio::FreePtrList(list);
    if (o.common.json) PrintJson(out);
    return kExitOk;
}

}  // namespace

void AddEventsCommand(CLI::App& app, Action& run) {
    auto o = std::make_shared<EventsOptions>();
    CLI::App* sub =
        app.add_subcommand("events", "List a song's events, one per line, with filters");
    sub->add_option("FILE", o->file, "MIDI file to read")->required();
    sub->add_option("--tracks", o->tracks, "Only tracks A to B (A-B, or A), counted from 1");
    sub->add_option("--channel", o->channel, "Only events of this channel (1..16; 10 = drums)")
        ->check(CLI::Range(1, 16));
    sub->add_option("--type", o->types, "Only these kinds, comma-separated: " + TypeNamesHelp());
    sub->add_option(
        "--from", o->from,
        "From this time on: ticks (960), 1500ms, 2.5s, bar:beat[:tick] (3:1) or h:m:s:frame");
    sub->add_option("--to", o->to, "Up to and including this time (same forms as --from)");
    sub->add_option("--measures", o->measures, "Only bars A to B (A-B, or A), counted from 1")
        ->excludes("--from")
        ->excludes("--to");
    sub->add_option("--time", o->time,
                    "Time column: tick, ms, measure (bar:beat:tick) or hmsf (h:m:s:frame)")
        ->capture_default_str();
    sub->add_option("--limit", o->limit, "Print at most N events")->check(CLI::NonNegativeNumber);
    AddCommonOptions(*sub, o->common);
    sub->footer(
        "Times of --from/--to/--measures select through the song's time query; note-ons show "
        "their\n"
        "length in milliseconds. Bars use the song's (last) time signature, beats are quarter "
        "notes.\n"
        "\n"
        "Examples:\n"
        "  midifolio events song.mid --limit 20\n"
        "  midifolio events song.mid --channel 10 --type noteon --measures 2-3 --time measure\n"
        "  midifolio events song.mid --type meta --time hmsf\n"
        "  midifolio events song.mid --tracks 2 --from 3:1 --to 5s --json");
    sub->callback([o, &run]() { run = [o]() { return RunEvents(*o); }; });
}

}  // namespace mfcli
