// Asks a song questions: events by time and channel, musical times, instruments, drums,
// voice conflicts, and the General MIDI and pitch vocabulary.
// Usage: query_song FILE.mid
#include <midifolio/midifolio.h>

#include <cstdio>
#include <string>

using namespace midifolio;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: query_song FILE.mid\n");
        return 2;
    }
    CMidiFolio song;
    if (song.LoadMidiFile(argv[1]) != 1) return 1;

    // [time]
    // Bar 2, beat 1 (the library counts measures and beats from 0) in the other formats.
    _MIDI_TIME t = MakeMeasure(1, 0, 0);
    song.ConvertMIDITime(&t, TF_TICK);
    const int32_t ticks = t.lTicks;
    song.ConvertMIDITime(&t, TF_MSEC);
    std::printf("bar 2 starts at tick %d, %.0f ms\n", ticks, t.dMsecs);
    // [time]

    // [select]
    // Every event from the start of bar 1 to the start of bar 3, both included; note-ons
    // carry their length in milliseconds in dwLength.
    MidiEventList list;  // owned by the caller
    _MIDI_TIME from = MakeTicks(0);
    _MIDI_TIME to = MakeMeasure(2, 0, 0);
    song.GetMIDIByTime(TF_MEASURE, from, to, list);
    for (const MIDI_Event& rec : list) {
        const MIDIEvent& ev = rec.event;
        if (ev.dwType != EVT_NOTEON || ev.byData2 == 0 || ev.byChannel != 0) continue;
        tagNoteMap pitch{};
        CMidiFolio::GetPitchInfo(static_cast<int32_t>(ev.byData1), &pitch);
        std::printf("bar %d beat %d: %s%d for %u ms\n", rec.time.lMeasure + 1, rec.time.nBeat + 1,
                    pitch.szName, pitch.byOctave, ev.dwLength);
    }
    CMidiFolio::FreePtrList(list);

    // Every event of channel 10 (index 9), times in ticks.
    song.GetMIDIByChannel(9, list);
    std::printf("channel 10 has %zu events\n", list.size());
    CMidiFolio::FreePtrList(list);
    // [select]

    // [analyse]
    InstrumentArray instruments;
    song.GetInstrument(instruments);  // melodic instruments of every channel but 10
    for (const _INSTRUMENT& in : instruments) {
        std::printf("program %d %s, notes %d..%d\n", in.byProgram, in.strName.c_str(), in.byLowNote,
                    in.byHighNote);
    }
    DrumArray drums;
    song.GetDrums(drums, 1);
    for (const _DRUM& d : drums)
        std::printf("drum %d %s (%s)\n", d.byNote, d.strName.c_str(), d.strPitch.c_str());

    ConflictVoiceArray conflicts;
    song.CheckMidiByVoice(6, &conflicts);  // a synthesiser of 6 voices
    std::printf("%zu moments need more than 6 voices\n", conflicts.size());
    // [analyse]

    // [vocabulary]
    tagNoteMap a{};
    CMidiFolio::GetPitchInfo(440.0, &a);
    std::printf("440 Hz is %s%d, note %d; note 72 in numbered notation: %s\n", a.szName, a.byOctave,
                a.byNote, CMidiFolio::GetEasySymbol(72).c_str());
    std::printf("program 73 is %s, drum 42 is %s, controller 7 is %s\n",
                CMidiFolio::GetInstName(73).c_str(), CMidiFolio::GetDrumName(42).c_str(),
                CMidiFolio::GetContrlMsg(7).lpszName);
    // [vocabulary]
    return 0;
}
