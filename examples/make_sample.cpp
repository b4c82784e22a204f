// Composes the project's sample song and stores it with the library:
// "Twinkle, Twinkle, Little Star" (traditional), twelve bars of 4/4 at 480 ticks per quarter note.
//   track 1 "Melody": tempo 100 BPM slowing to 88 and 72 BPM, time and key signature, a flute
//                      tune on channel 1 with one lyric event per syllable;
//   track 2 "Rhythm":  bass (channel 2), piano chords (channel 3) and drums (channel 10).
//
// Usage: make_sample [OUT.mid]     (default: sample.mid)
#include <midifolio/midifolio.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace midifolio;

namespace {

constexpr int32_t kQuarter = 480;
constexpr int32_t kBar = 4 * kQuarter;

// [compose]
// Appends one event at an absolute time in ticks. The track copies meta payloads, so `data` may
// be a temporary; delta times are rebuilt by SortTrackByLTime before the song is stored.
void Add(CMidiTrack& track, int32_t tick, uint32_t type, int channel, int data1, int data2,
         const std::vector<uint8_t>& data = {}, uint32_t metaType = 0) {
    MIDIEvent ev{};
    ev.lTime = tick;
    ev.dwType = type;
    ev.byChannel = static_cast<uint8_t>(type == EVT_META ? 255 : channel);
    if (type == EVT_META) {
        ev.dwSubType = metaType;
        ev.dwLength = static_cast<uint32_t>(data.size());
        ev.pData = const_cast<uint8_t*>(data.data());
    } else {
        ev.byData1 = static_cast<uint8_t>(data1);
        ev.byData2 = static_cast<uint8_t>(data2);
    }
    track.InsertEventAfter(nullptr, ev);  // a null position appends
}

void Meta(CMidiTrack& track, int32_t tick, uint32_t metaType, const std::vector<uint8_t>& data) {
    Add(track, tick, EVT_META, 0, 0, 0, data, metaType);
}

void Text(CMidiTrack& track, int32_t tick, uint32_t metaType, const std::string& text) {
    Meta(track, tick, metaType, std::vector<uint8_t>(text.begin(), text.end()));
}

void Tempo(CMidiTrack& track, int32_t tick, int bpm) {
    const uint32_t us = 60000000u / static_cast<uint32_t>(bpm);
    Meta(track, tick, 0x51,
         {static_cast<uint8_t>(us >> 16), static_cast<uint8_t>(us >> 8), static_cast<uint8_t>(us)});
}

// A note as a note-on and its note-off.
void Note(CMidiTrack& track, int32_t tick, int32_t length, int channel, int note, int velocity) {
    Add(track, tick, EVT_NOTEON, channel, note, velocity);
    Add(track, tick + length, EVT_NOTEOFF, channel, note, 0);
}
// [compose]

struct Step {
    int note;   // MIDI note number
    int beats;  // length in quarter notes
    const char* syllable;
};

// Four bars of melody per line; the first line comes back at the end.
const std::vector<std::vector<Step>> kTune = {
    {{60, 1, "Twin-"}, {60, 1, "kle"}, {67, 1, "twin-"}, {67, 1, "kle"}},
    {{69, 1, "lit-"}, {69, 1, "tle"}, {67, 2, "star,"}},
    {{65, 1, "how"}, {65, 1, "I"}, {64, 1, "won-"}, {64, 1, "der"}},
    {{62, 1, "what"}, {62, 1, "you"}, {60, 2, "are."}},
    {{67, 1, "Up"}, {67, 1, "a-"}, {65, 1, "bove"}, {65, 1, "the"}},
    {{64, 1, "world"}, {64, 1, "so"}, {62, 2, "high,"}},
    {{67, 1, "like"}, {67, 1, "a"}, {65, 1, "dia-"}, {65, 1, "mond"}},
    {{64, 1, "in"}, {64, 1, "the"}, {62, 2, "sky."}},
};

// Two chords per bar: the bass root and three notes for the piano, below the tune.
struct Chord {
    int bass;
    int notes[3];
};
const Chord kC = {36, {48, 52, 55}};
const Chord kF = {41, {48, 53, 57}};
const Chord kG = {43, {47, 50, 55}};
const std::vector<std::pair<Chord, Chord>> kHarmony = {
    {kC, kC}, {kF, kC}, {kF, kC}, {kG, kC}, {kC, kF}, {kC, kG}, {kC, kF}, {kC, kG},
};

void ComposeMelody(CMidiTrack& t, int32_t end) {
    Text(t, 0, 0x03, "Melody");
    Text(t, 0, 0x01, "Twinkle, Twinkle, Little Star (traditional), arranged by midifolio");
    Meta(t, 0, 0x58, {4, 2, 24, 8});  // 4/4: numerator, log2 of the note value, clocks, 32nds
    Meta(t, 0, 0x59, {0, 0});         // C major
    Tempo(t, 0, 100);
    Tempo(t, 8 * kBar, 88);
    Tempo(t, 11 * kBar, 72);
    Add(t, 0, EVT_PROGRAM, 0, 73, 0);   // Flute
    Add(t, 0, EVT_CONTROL, 0, 7, 110);  // channel volume
    int32_t tick = 0;
    for (int line = 0; line < 12; ++line) {
        const auto& bar = kTune[static_cast<size_t>(line < 8 ? line : line - 8)];
        for (const Step& s : bar) {
            const int32_t length = s.beats * kQuarter;
            Text(t, tick, 0x05, s.syllable);
            Note(t, tick, length - 20, 0, s.note, line % 4 == 0 ? 100 : 90);
            tick += length;
        }
    }
    Meta(t, end, 0x2F, {});
}

void ComposeRhythm(CMidiTrack& t, int32_t end) {
    Text(t, 0, 0x03, "Rhythm");
    Add(t, 0, EVT_PROGRAM, 1, 32, 0);  // Acoustic Bass
    Add(t, 0, EVT_PROGRAM, 2, 0, 0);   // Acoustic Grand
    Add(t, 0, EVT_CONTROL, 2, 7, 80);
    Add(t, 0, EVT_CONTROL, 2, 10, 40);  // pan a little to the left
    for (int bar = 0; bar < 12; ++bar) {
        const auto& chords = kHarmony[static_cast<size_t>(bar < 8 ? bar : bar - 8)];
        const int32_t start = bar * kBar;
        const bool last = bar == 11;
        for (int half = 0; half < 2; ++half) {
            const Chord& c = half == 0 ? chords.first : chords.second;
            const int32_t at = start + half * 2 * kQuarter;
            Note(t, at, 2 * kQuarter - 10, 1, c.bass, 96);
            for (int n : c.notes) Note(t, at, 2 * kQuarter - 10, 2, n, 64);
        }
        // Drums: bass drum on 1 and 3, snare on 2 and 4, closed hi-hat on every eighth,
        // a crash at the start of each verse and on the final chord.
        for (int beat = 0; beat < 4; ++beat) {
            const int32_t at = start + beat * kQuarter;
            if (last && beat > 2) break;
            Note(t, at, 120, 9, beat % 2 == 0 ? 36 : 38, beat % 2 == 0 ? 110 : 90);
            Note(t, at, 60, 9, 42, 70);
            Note(t, at + kQuarter / 2, 60, 9, 42, 50);
        }
        if (bar == 0 || bar == 8 || last)
            Note(t, start + (last ? 2 * kQuarter : 0), 240, 9, 49, 100);
    }
    Meta(t, end, 0x2F, {});
}

}  // namespace

int main(int argc, char** argv) {
    const std::string out = argc > 1 ? argv[1] : "sample.mid";
    const int32_t end = 12 * kBar;

    // [store]
    CMidiFolio song;
    _MIDIHEAD head{1, 2, kQuarter};  // format 1, two tracks, 480 ticks per quarter note
    song.SetMidiHeaderinfo(&head);
    song.GetMidiTempo().SetTicksPerQuarterNote(kQuarter);

    CMidiTrack* melody = song.CreateTrack();
    ComposeMelody(*melody, end);
    melody->SortTrackByLTime(nullptr);  // time order and delta times
    song.AddTrack(melody);              // the song owns the track from here on

    CMidiTrack* rhythm = song.CreateTrack();
    ComposeRhythm(*rhythm, end);
    rhythm->SortTrackByLTime(nullptr);
    song.AddTrack(rhythm);

    if (song.StoreMidiFile(out) != 1) {
        std::fprintf(stderr, "make_sample: %s could not be written\n", out.c_str());
        return 1;
    }
    // [store]

    // Read it back: the file must load, with both tracks.
    CMidiFolio check;
    if (check.LoadMidiFile(out) != 1 || check.GetTrackNum() != 2) {
        std::fprintf(stderr, "make_sample: %s does not load back\n", out.c_str());
        return 1;
    }
    std::printf("wrote %s: %ld tracks, %d + %d events\n", out.c_str(), check.GetTrackNum(),
                check.GetTrack(0)->GetCount(), check.GetTrack(1)->GetCount());
    return 0;
}
