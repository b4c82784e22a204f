// The exact view of a song beside the library's own answers: notes with exact seconds, bars
// under every meter, the file's own events; and what a refused file's load report says.
// Usage: exact_view FILE.mid [BROKEN.mid]
#include <midifolio/midifolio.h>

#include <cstdio>

using namespace midifolio;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: exact_view FILE.mid [BROKEN.mid]\n");
        return 2;
    }
    CMidiFolio song;
    if (song.LoadMidiFile(argv[1]) != 1) return 1;

    // [score]
    // A Score is built once from the song and answers in exact seconds and real bars.
    const score::Score exact(song);
    std::printf("%zu notes, %zu events of the file, %d bars, %.6f s\n", exact.notes().size(),
                exact.events().size(), exact.bars(), exact.duration());
    for (size_t k = 0; k < 3 && k < exact.notes().size(); ++k) {
        const score::Note& n = exact.notes()[k];
        const score::BarBeat at = exact.meter_map().at(n.start_tick);
        std::printf("track %d channel %d pitch %d: %.6f .. %.6f s, bar %d beat %d\n", n.track,
                    n.channel, n.pitch, n.start, n.end, at.bar, at.beat);
    }
    for (const score::TempoChange& t : exact.tempos())
        std::printf("tempo %.2f bpm at tick %lld (%.6f s)\n", t.bpm(),
                    static_cast<long long>(t.tick), t.seconds);
    // [score]

    // [beside]
    // The library's own answers for the same song: whole milliseconds, quarter-note measures,
    // and the loader's tempo event among the first track's events.
    _MIDI_TIME end = MakeTicks(exact.end_tick());
    song.ConvertMIDITime(&end, TF_MSEC);
    std::printf("library: ends at %.0f ms; first track has %d events\n", end.dMsecs,
                song.GetTrack(0)->GetCount());
    // RemoveLoaderTempo deletes that event, so that a store writes the tracks as read.
    song.RemoveLoaderTempo();
    std::printf("without the loader's event: %d\n", song.GetTrack(0)->GetCount());
    // [beside]

    // [report]
    // Why a file was refused, beyond the library's fixed message.
    if (argc > 2) {
        CMidiFolio broken;
        broken.SetMessageSink([](const std::string&) {});
        broken.LoadMidiFile(argv[2]);
        const LoadReport report = broken.GetLoadReport();
        std::printf("%s (%s)\n", report.message.c_str(), report.cause.c_str());
    }
    // [report]
    return 0;
}
