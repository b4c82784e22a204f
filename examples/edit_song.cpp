// Edits a song and stores it: transposes channel 1 up an octave, puts a marker at bar 5,
// removes the lyrics, sorts the track and writes the song to a new file.
// Usage: edit_song IN.mid OUT.mid
#include <midifolio/midifolio.h>

#include <cstdio>
#include <string>

using namespace midifolio;

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: edit_song IN.mid OUT.mid\n");
        return 2;
    }
    CMidiFolio song;
    if (song.LoadMidiFile(argv[1]) != 1) return 1;  // the message went to stderr
    CMidiTrack* track = song.GetTrack(0);
    if (track == nullptr) return 1;

    // [edit]
    // Change events in place: GetNextPtr hands out the stored node itself.
    int transposed = 0;
    for (POSITION pos = track->GetEventHeadPosition(); pos != nullptr;) {
        MIDIEventPtr* node = track->GetNextPtr(pos);
        const bool note = node->dwType == EVT_NOTEON || node->dwType == EVT_NOTEOFF;
        if (note && node->byChannel == 0 && node->byData1 <= 115) {
            node->byData1 += 12;
            ++transposed;
        }
    }

    // Delete events: take the next position before the current node goes away.
    int removed = 0;
    for (POSITION pos = track->GetEventHeadPosition(); pos != nullptr;) {
        POSITION here = pos;
        const MIDIEvent ev = track->GetNextEvent(pos);
        if (ev.dwType == EVT_META && ev.dwSubType == 0x05) removed += track->DeleteEvent(here);
    }

    // Insert an event: the track copies the payload. Appended at the end, it is put in its
    // place (and every delta time rebuilt) by SortTrackByLTime.
    const std::string text = "Second verse";
    MIDIEvent marker{};
    marker.lTime = 4 * 4 * song.GetMidiTempo().GetTicksPerQuarterNote();  // bar 5 in 4/4
    marker.byChannel = 255;
    marker.dwType = EVT_META;
    marker.dwSubType = 0x06;  // marker
    marker.dwLength = static_cast<uint32_t>(text.size());
    marker.pData = reinterpret_cast<uint8_t*>(const_cast<char*>(text.data()));
    track->InsertEventAfter(nullptr, marker);
    track->SortTrackByLTime(nullptr);
    // [edit]

    // [store]
    if (song.StoreMidiFile(argv[2]) != 1) {
        std::fprintf(stderr, "%s could not be written\n", argv[2]);
        return 1;
    }
    CMidiFolio check;
    if (check.LoadMidiFile(argv[2]) != 1) return 1;
    std::printf(
        "transposed %d notes, removed %d lyrics, added a marker; %s has %d events in track 1\n",
        transposed, removed, argv[2], check.GetTrack(0)->GetCount());
    // [store]
    return 0;
}
