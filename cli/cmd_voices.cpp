// `midifolio voices FILE --limit N`: where a synthesiser of N voices runs out of them.
#include <algorithm>
#include <map>

#include "commands.h"
#include "describe.h"
#include "times.h"

using namespace midifolio;

namespace mfcli {

namespace {

struct Moment {
    int32_t ms;
    std::string bar;  // bar:beat:tick
    int32_t voices;
};

}  // namespace

int RunVoices(const VoicesOptions& o) {
    InputSong input = ReadSong(o.file, o.common, false);
    const int32_t ticksPerQuarter = input.Score().time_map().ticks_per_quarter();
    int peak = 0;
    std::vector<Moment> moments;
    {
        Analysing busy(input.Name(), o.common);
        // The check is the library's own (whole milliseconds, its pairing of notes).
        CMidiFolio& song = input.Core();
        const score::MeterMap& meter = input.Score().meter_map();
        // A moment is the library's: the whole millisecond of a note-on. Its bar comes from
        // that note-on's own tick, placed in the bars the time signatures lay out: converting
        // the truncated milliseconds back would land a tick or so early.
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
        for (const auto& c : conflicts) {
            peak = std::max(peak, c.nVoices);
            _MIDI_TIME at = MakeMsecs(c.lMsecs);
            song.ConvertMIDITime(&at, TF_TICK);
            const auto tick = noteOnTick.find(c.lMsecs);
            if (tick != noteOnTick.end()) at.lTicks = tick->second;
            moments.push_back({c.lMsecs, BarText(meter.at(at.lTicks), ticksPerQuarter), c.nVoices});
        }
    }
    if (o.common.json) {
        JsonWriter j(Stdout(), 2);
        j.BeginObject();
        j.Field("file", input.Given());
        j.Field("limit", o.limit);
        j.Field("conflicts", moments.size());
        j.Field("peak", peak);
        j.Key("moments").BeginArray();
        for (const Moment& m : moments) {
            j.BeginObject();
            j.Field("ms", m.ms);
            j.Field("time", ClockMs(m.ms));
            j.Field("bar", m.bar);
            j.Field("voices", m.voices);
            j.EndObject();
        }
        j.EndArray();
        j.EndObject();
        return kExitOk;
    }
    Output& out = Stdout();
    const std::string voices = Plural(o.limit, "voice");
    if (moments.empty()) {
        out << "No moment needs more than " << voices << ".\n";
        return kExitOk;
    }
    out << Plural(static_cast<long long>(moments.size()), "moment needs", "moments need")
        << " more than " << voices << " (at most " << peak << "):\n";
    out << Format("  %12s  %12s  %6s\n", "time", "bar:beat:tick", "voices");
    for (const Moment& m : moments) {
        out << Format("  %12s  %12s  %6d\n", ClockMs(m.ms).c_str(), m.bar.c_str(), m.voices);
    }
    return kExitOk;
}

}  // namespace mfcli
