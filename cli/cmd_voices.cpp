// `midifolio voices FILE --limit N`: where a synthesiser of N voices runs out of them.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>
#include <map>

#include "common.h"
#include "describe.h"

using namespace midifolio;

namespace mfcli {

namespace {

struct VoicesOptions {
    CommonOptions common;
    std::string file;
    // 24 voices: the least polyphony a General MIDI (level 1) synthesiser offers.
    int limit = 24;
};

int RunVoices(const VoicesOptions& o) {
    LoadedSong loaded = LoadSongOrFail(o.file, o.common);
    CMidiFolio& song = *loaded.song;
    const int32_t ticksPerQuarter = song.GetMidiTempo().GetTicksPerQuarterNote();
    // A moment is the whole millisecond of a note-on. Its bar position comes from that note-on's
    // own tick: converting the truncated milliseconds back would land a tick or so early.
    std::map<int32_t, int32_t> noteOnTick;  // whole ms -> tick of the first note-on then
    {
        MidiEventList list;
        song.GetMIDIByTime(TF_MSEC, MakeTicks(0), MakeTicks(-1), list);
        for (const MIDI_Event& rec : list) {
            if (rec.event.dwType == EVT_NOTEON && rec.event.byData2 > 0) {
                noteOnTick.emplace(static_cast<int32_t>(rec.time.dMsecs), rec.event.lTime);
            }
        }
        CMidiFolio::FreePtrList(list);
    }
    ConflictVoiceArray conflicts;
    song.CheckMidiByVoice(o.limit, &conflicts);

    int peak = 0;
    for (const auto& c : conflicts) peak = std::max(peak, c.nVoices);
    Json moments = Json::array();
    for (const auto& c : conflicts) {
        _MIDI_TIME at = MakeMsecs(c.lMsecs);
        const auto tick = noteOnTick.find(c.lMsecs);
        if (tick != noteOnTick.end()) at = MakeTicks(tick->second);
        song.ConvertMIDITime(&at, TF_MEASURE);
        moments.push_back({{"ms", c.lMsecs},
                           {"time", ClockMs(c.lMsecs)},
                           {"bar", TimeText(at, ticksPerQuarter)},
                           {"voices", c.nVoices}});
    }
    if (o.common.json) {
        PrintJson({{"file", o.file},
                   {"limit", o.limit},
                   {"conflicts", moments.size()},
                   {"peak", peak},
                   {"moments", moments}});
        return kExitOk;
    }
    if (conflicts.empty()) {
        std::cout << "No moment needs more than " << o.limit << " voices.\n";
        return kExitOk;
    }
    std::cout << conflicts.size() << (conflicts.size() == 1 ? " moment needs" : " moments need")
              << " more than " << o.limit << " voices (at most " << peak << "):\n";
    std::cout << Format("  %12s  %12s  %6s\n", "time", "bar:beat:tick", "voices");
    for (const auto& m : moments) {
        std::cout << Format("  %12s  %12s  %6d\n", m["time"].get<std::string>().c_str(),
                            m["bar"].get<std::string>().c_str(), m["voices"].get<int>());
    }
    return kExitOk;
}

}  // namespace

void AddVoicesCommand(CLI::App& app, Action& run) {
    auto o = std::make_shared<VoicesOptions>();
    CLI::App* sub =
        app.add_subcommand("voices",
                           "Find the moments at which more notes sound than a synthesiser "
                           "has voices");
    sub->add_option("FILE", o->file, "MIDI file to read")->required();
    sub->add_option("-l,--limit", o->limit, "Number of voices the synthesiser has")
        ->capture_default_str()
        ->check(CLI::Range(0, 100000));
    AddCommonOptions(*sub, o->common);
    sub->footer(
        "Every note of every channel counts, drums included; a note sounds from its note-on for "
        "its\n"
        "length. Moments in the same millisecond are reported once, with the count after the last "
        "note.\n"
        "\n"
        "Examples:\n"
        "  midifolio voices song.mid\n"
        "  midifolio voices song.mid --limit 8\n"
        "  midifolio voices song.mid -l 16 --json");
    sub->callback([o, &run]() { run = [o]() { return RunVoices(*o); }; });
}

}  // namespace mfcli
