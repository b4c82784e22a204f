// `midifolio notes FILE`: every note of the song, one per line, with its times in ticks and in
// exact seconds (the exact view, midifolio::score); with --sustain as the pedal holds them.
#include <cmath>
#include <cstdio>
#include <vector>

#include "commands.h"
#include "describe.h"
#include "times.h"

using namespace midifolio;

namespace mfcli {

namespace {

// The CSV columns, in this order.
constexpr const char* kCsvHeader =
    "track,channel,program,pitch,velocity,start_tick,end_tick,start_s,end_s";

// Seconds with nine decimals; empty when the song has no ticks per quarter note.
std::string CsvSeconds(double seconds) {
    return std::isnan(seconds) ? "" : SecondsText(seconds, 9);
}

}  // namespace

int RunNotes(const NotesOptions& o) {
    std::pair<int, int> tracks{1, INT32_MAX};
    if (!o.tracks.empty()) tracks = ParseRange(o.tracks, "--tracks");

    InputSong song = ReadSong(o.file, o.common);
    const score::Score& exact = song.Score();
    const int32_t ticksPerQuarter = exact.time_map().ticks_per_quarter();
    std::vector<score::Note> sustained;
    if (o.sustain) sustained = exact.sustained_notes();
    const std::vector<score::Note>& notes = o.sustain ? sustained : exact.notes();

    Output& out = Stdout();
    JsonWriter json(out, 2);
    if (o.csv) out << kCsvHeader << "\n";
    if (o.common.json) json.BeginArray();
    long long printed = 0;
    for (const score::Note& n : notes) {
        const int track = n.track + 1, channel = n.channel + 1;
        if (track < tracks.first || track > tracks.second) continue;
        if (o.channel != 0 && channel != o.channel) continue;
        if (o.csv) {
            out << track << ',' << channel << ',' << int{n.program} << ',' << int{n.pitch} << ','
                << int{n.velocity} << ',' << n.start_tick << ',' << n.end_tick << ','
                << CsvSeconds(n.start) << ',' << CsvSeconds(n.end) << '\n';
        } else if (o.common.json) {
            json.BeginObject();
            json.Field("track", track).Field("channel", channel).Field("program", n.program);
            json.Field("pitch", n.pitch).Field("velocity", n.velocity);
            json.Field("start_tick", n.start_tick).Field("end_tick", n.end_tick);
            json.Field("start_s", n.start).Field("end_s", n.end);
            json.EndObject();
        } else {
            if (printed == 0) {
                out << Format("%12s  %13s  %10s  %5s  %3s  %-9s  %3s  %s\n", "start s",
                              "bar:beat:tick", "length s", "track", "ch", "pitch", "vel", "sound");
            }
            const bool drum = n.channel == PERCUSSION_CHANNEL;
            const std::string sound =
                drum ? std::string(names::DrumName(n.pitch))
                     : std::to_string(n.program) + " " + names::ProgramName(n.program);
            out << Format("%12s  %13s  %10s  %5d  %3d  %-9s  %3d  %s\n",
                          SecondsText(n.start, 3).c_str(),
                          BarText(exact.meter_map(n.track).at(static_cast<double>(n.start_tick)),
                                  ticksPerQuarter)
                              .c_str(),
                          SecondsText(n.end - n.start, 3).c_str(), track, channel,
                          Format("%s (%d)", NoteName(n.pitch).c_str(), n.pitch).c_str(), n.velocity,
                          sound.c_str());
        }
        ++printed;
    }
    if (o.common.json) json.EndArray();
    if (printed == 0 && !o.common.json && !o.csv) {
        out.Flush();
        std::fprintf(stderr, "midifolio: no notes selected (the song has %s)\n",
                     Plural(static_cast<long long>(notes.size()), "note").c_str());
    }
    return kExitOk;
}

}  // namespace mfcli
