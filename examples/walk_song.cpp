// Loads a song and walks it: header, tempo map, and every track's events.
// Usage: walk_song FILE.mid
#include <midifolio/midifolio.h>

#include <cstdio>
#include <string>

using namespace midifolio;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: walk_song FILE.mid\n");
        return 2;
    }
    // [load]
    CMidiFolio song;
    std::string problem;
    song.SetMessageSink([&problem](const std::string& text) { problem = text; });
    if (song.LoadMidiFile(argv[1]) != 1) {
        std::fprintf(stderr, "%s: %s\n", argv[1], problem.c_str());  // e.g. "Not Midi file!!"
        return 1;
    }
    const _MIDIHEAD head = song.GetMidiHeaderInfo();
    std::printf("format %d, %d tracks, %d ticks per quarter note\n", head.nFormat, head.nTracks,
                head.nDivision);
    // [load]

    // [tempo]
    CMidiTempo& tempo = song.GetMidiTempo();
    for (const _TEMPO& t : tempo.GetTempos()) {
        std::printf("tempo at tick %d (%d ms): %d us per quarter note\n", t.lTicks, t.lMsecs,
                    t.lUsPerQuarter);
    }
    const _BAR bar = tempo.GetBar();
    std::printf("time signature %u/%u; tick 1920 is at %d ms\n", bar.dwBaseBarNum,
                bar.dwBaseNoteNum, tempo.TicksToMsecs(1920));
    // [tempo]

    // [walk]
    for (int i = 0; i < song.GetTrackNum(); ++i) {
        const CMidiTrack* track = song.GetTrack(i);
        int notes = 0;
        std::string name = "(unnamed)";
        for (POSITION pos = track->GetEventHeadPosition(); pos != nullptr;) {
            const MIDIEvent ev = track->GetNextEvent(pos);  // copies the event, advances pos
            if (ev.dwType == EVT_NOTEON && ev.byData2 > 0) ++notes;
            if (ev.dwType == EVT_META && ev.dwSubType == 0x03) {  // track name
                name.assign(reinterpret_cast<const char*>(ev.pData), ev.dwLength);
            }
        }
        std::printf("track %d \"%s\": %d events, %d notes\n", i + 1, name.c_str(),
                    track->GetCount(), notes);
    }
    // [walk]
    return 0;
}
