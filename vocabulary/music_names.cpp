// The names of the MIDI vocabulary as the General MIDI standard and musicians write them.
#include <cctype>
#include <cmath>
#include <limits>

#include "midifolio/names.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace names {

namespace {

constexpr const char* kPrograms[128] = {"Acoustic Grand Piano",
                                        "Bright Acoustic Piano",
                                        "Electric Grand Piano",
                                        "Honky-tonk Piano",
                                        "Electric Piano 1",
                                        "Electric Piano 2",
                                        "Harpsichord",
                                        "Clavi",
                                        "Celesta",
                                        "Glockenspiel",
                                        "Music Box",
                                        "Vibraphone",
                                        "Marimba",
                                        "Xylophone",
                                        "Tubular Bells",
                                        "Dulcimer",
                                        "Drawbar Organ",
                                        "Percussive Organ",
                                        "Rock Organ",
                                        "Church Organ",
                                        "Reed Organ",
                                        "Accordion",
                                        "Harmonica",
                                        "Tango Accordion",
                                        "Acoustic Guitar (nylon)",
                                        "Acoustic Guitar (steel)",
                                        "Electric Guitar (jazz)",
                                        "Electric Guitar (clean)",
                                        "Electric Guitar (muted)",
                                        "Overdriven Guitar",
                                        "Distortion Guitar",
                                        "Guitar Harmonics",
                                        "Acoustic Bass",
                                        "Electric Bass (finger)",
                                        "Electric Bass (pick)",
                                        "Fretless Bass",
                                        "Slap Bass 1",
                                        "Slap Bass 2",
                                        "Synth Bass 1",
                                        "Synth Bass 2",
                                        "Violin",
                                        "Viola",
                                        "Cello",
                                        "Contrabass",
                                        "Tremolo Strings",
                                        "Pizzicato Strings",
                                        "Orchestral Harp",
                                        "Timpani",
                                        "String Ensemble 1",
                                        "String Ensemble 2",
                                        "Synth Strings 1",
                                        "Synth Strings 2",
                                        "Choir Aahs",
                                        "Voice Oohs",
                                        "Synth Voice",
                                        "Orchestra Hit",
                                        "Trumpet",
                                        "Trombone",
                                        "Tuba",
                                        "Muted Trumpet",
                                        "French Horn",
                                        "Brass Section",
                                        "Synth Brass 1",
                                        "Synth Brass 2",
                                        "Soprano Sax",
                                        "Alto Sax",
                                        "Tenor Sax",
                                        "Baritone Sax",
                                        "Oboe",
                                        "English Horn",
                                        "Bassoon",
                                        "Clarinet",
                                        "Piccolo",
                                        "Flute",
                                        "Recorder",
                                        "Pan Flute",
                                        "Blown Bottle",
                                        "Shakuhachi",
                                        "Whistle",
                                        "Ocarina",
                                        "Lead 1 (square)",
                                        "Lead 2 (sawtooth)",
                                        "Lead 3 (calliope)",
                                        "Lead 4 (chiff)",
                                        "Lead 5 (charang)",
                                        "Lead 6 (voice)",
                                        "Lead 7 (fifths)",
                                        "Lead 8 (bass + lead)",
                                        "Pad 1 (new age)",
                                        "Pad 2 (warm)",
                                        "Pad 3 (polysynth)",
                                        "Pad 4 (choir)",
                                        "Pad 5 (bowed)",
                                        "Pad 6 (metallic)",
                                        "Pad 7 (halo)",
                                        "Pad 8 (sweep)",
                                        "FX 1 (rain)",
                                        "FX 2 (soundtrack)",
                                        "FX 3 (crystal)",
                                        "FX 4 (atmosphere)",
                                        "FX 5 (brightness)",
                                        "FX 6 (goblins)",
                                        "FX 7 (echoes)",
                                        "FX 8 (sci-fi)",
                                        "Sitar",
                                        "Banjo",
                                        "Shamisen",
                                        "Koto",
                                        "Kalimba",
                                        "Bag pipe",
                                        "Fiddle",
                                        "Shanai",
                                        "Tinkle Bell",
                                        "Agogo",
                                        "Steel Drums",
                                        "Woodblock",
                                        "Taiko Drum",
                                        "Melodic Tom",
                                        "Synth Drum",
                                        "Reverse Cymbal",
                                        "Guitar Fret Noise",
                                        "Breath Noise",
                                        "Seashore",
                                        "Bird Tweet",
                                        "Telephone Ring",
                                        "Helicopter",
                                        "Applause",
                                        "Gunshot"};

// Notes 27..87 of the percussion channel: General MIDI Level 1 names 35..81, and the names
// later levels give the notes around them.
constexpr int kFirstDrum = 27;
constexpr const char* kDrums[61] = {"High Q",          "Slap",           "Scratch Push",
                                    "Scratch Pull",    "Sticks",         "Square Click",
                                    "Metronome Click", "Metronome Bell", "Acoustic Bass Drum",
                                    "Bass Drum 1",     "Side Stick",     "Acoustic Snare",
                                    "Hand Clap",       "Electric Snare", "Low Floor Tom",
                                    "Closed Hi-Hat",   "High Floor Tom", "Pedal Hi-Hat",
                                    "Low Tom",         "Open Hi-Hat",    "Low-Mid Tom",
                                    "Hi-Mid Tom",      "Crash Cymbal 1", "High Tom",
                                    "Ride Cymbal 1",   "Chinese Cymbal", "Ride Bell",
                                    "Tambourine",      "Splash Cymbal",  "Cowbell",
                                    "Crash Cymbal 2",  "Vibraslap",      "Ride Cymbal 2",
                                    "Hi Bongo",        "Low Bongo",      "Mute Hi Conga",
                                    "Open Hi Conga",   "Low Conga",      "High Timbale",
                                    "Low Timbale",     "High Agogo",     "Low Agogo",
                                    "Cabasa",          "Maracas",        "Short Whistle",
                                    "Long Whistle",    "Short Guiro",    "Long Guiro",
                                    "Claves",          "Hi Wood Block",  "Low Wood Block",
                                    "Mute Cuica",      "Open Cuica",     "Mute Triangle",
                                    "Open Triangle",   "Shaker",         "Jingle Bell",
                                    "Bell Tree",       "Castanets",      "Mute Surdo",
                                    "Open Surdo"};

constexpr const char* kControllers[128] = {"Bank Select",
                                           "Modulation Wheel",
                                           "Breath Controller",
                                           "Undefined",
                                           "Foot Controller",
                                           "Portamento Time",
                                           "Data Entry",
                                           "Channel Volume",
                                           "Balance",
                                           "Undefined",
                                           "Pan",
                                           "Expression Controller",
                                           "Effect Control 1",
                                           "Effect Control 2",
                                           "Undefined",
                                           "Undefined",
                                           "General Purpose Controller 1",
                                           "General Purpose Controller 2",
                                           "General Purpose Controller 3",
                                           "General Purpose Controller 4",
                                           "Undefined",
                                           "Undefined",
                                           "Undefined",
                                           "Undefined",
                                           "Undefined",
                                           "Undefined",
                                           "Undefined",
                                           "Undefined",
                                           "Undefined",
                                           "Undefined",
                                           "Undefined",
                                           "Undefined",
                                           "Bank Select (LSB)",
                                           "Modulation Wheel (LSB)",
                                           "Breath Controller (LSB)",
                                           "Undefined (LSB)",
                                           "Foot Controller (LSB)",
                                           "Portamento Time (LSB)",
                                           "Data Entry (LSB)",
                                           "Channel Volume (LSB)",
                                           "Balance (LSB)",
                                           "Undefined (LSB)",
                                           "Pan (LSB)",
                                           "Expression Controller (LSB)",
                                           "Effect Control 1 (LSB)",
                                           "Effect Control 2 (LSB)",
                                           "Undefined (LSB)",
                                           "Undefined (LSB)",
                                           "General Purpose Controller 1 (LSB)",
                                           "General Purpose Controller 2 (LSB)",
                                           "General Purpose Controller 3 (LSB)",
                                           "General Purpose Controller 4 (LSB)",
                                           "Undefined (LSB)",
                                           "Undefined (LSB)",
                                           "Undefined (LSB)",
                                           "Undefined (LSB)",
                                           "Undefined (LSB)",
                                           "Undefined (LSB)",
                                           "Undefined (LSB)",
                                           "Undefined (LSB)",
                                           "Undefined (LSB)",
                                           "Undefined (LSB)",
                                           "Undefined (LSB)",
                                           "Undefined (LSB)",
                                           "Damper Pedal (Sustain)",
                                           "Portamento On/Off",
                                           "Sostenuto",
                                           "Soft Pedal",
                                           "Legato Footswitch",
                                           "Hold 2",
                                           "Sound Variation",
                                           "Timbre",
                                           "Release Time",
                                           "Attack Time",
                                           "Brightness",
                                           "Decay Time",
                                           "Vibrato Rate",
                                           "Vibrato Depth",
                                           "Vibrato Delay",
                                           "Sound Controller 10",
                                           "General Purpose Controller 5",
                                           "General Purpose Controller 6",
                                           "General Purpose Controller 7",
                                           "General Purpose Controller 8",
                                           "Portamento Control",
                                           "Undefined",
                                           "Undefined",
                                           "Undefined",
                                           "High Resolution Velocity Prefix",
                                           "Undefined",
                                           "Undefined",
                                           "Reverb Send Level",
                                           "Tremolo Depth",
                                           "Chorus Send Level",
                                           "Celeste Depth",
                                           "Phaser Depth",
                                           "Data Increment",
                                           "Data Decrement",
                                           "Non-Registered Parameter Number (LSB)",
                                           "Non-Registered Parameter Number (MSB)",
                                           "Registered Parameter Number (LSB)",
                                           "Registered Parameter Number (MSB)",
                                           "Undefined",
                                           "Undefined",
                                           "Undefined",
                                           "Undefined",
                                           "Undefined",
                                           "Undefined",
                                           "Undefined",
                                           "Undefined",
                                           "Undefined",
                                           "Undefined",
                                           "Undefined",
                                           "Undefined",
                                           "Undefined",
                                           "Undefined",
                                           "Undefined",
                                           "Undefined",
                                           "Undefined",
                                           "Undefined",
                                           "All Sound Off",
                                           "Reset All Controllers",
                                           "Local Control On/Off",
                                           "All Notes Off",
                                           "Omni Mode Off",
                                           "Omni Mode On",
                                           "Mono Mode On",
                                           "Poly Mode On"};

constexpr const char* kPitchClasses[12] = {"C",  "C#", "D",  "D#", "E",  "F",
                                           "F#", "G",  "G#", "A",  "A#", "B"};
// Semitones above C of the letters A..G.
constexpr int kLetterSemitones[7] = {9, 11, 0, 2, 4, 5, 7};

// Major keys by sharps + 7 (7 flats .. 7 sharps) and the minor keys of the same signatures.
constexpr const char* kMajorKeys[15] = {"Cb", "Gb", "Db", "Ab", "Eb", "Bb", "F", "C",
                                        "G",  "D",  "A",  "E",  "B",  "F#", "C#"};
constexpr const char* kMinorKeys[15] = {"Ab", "Eb", "Bb", "F",  "C",  "G",  "D", "A",
                                        "E",  "B",  "F#", "C#", "G#", "D#", "A#"};

}  // namespace

const char* ProgramName(int program) {
    return program >= 0 && program < 128 ? kPrograms[program] : "";
}

const char* DrumName(int note) {
    const int row = note - kFirstDrum;
    return row >= 0 && row < 61 ? kDrums[row] : "";
}

const char* ControllerName(int controller) {
    return controller >= 0 && controller < 128 ? kControllers[controller] : "";
}

const char* PitchClassName(int pitchClass) {
    return pitchClass >= 0 && pitchClass < 12 ? kPitchClasses[pitchClass] : "";
}

std::string PitchName(int note, int middle_c) {
    if (note < 0 || note > 127) return "";
    // Octave of note 0 is middle_c - 5: floor division keeps C-1 for note 0 at middle_c 4.
    return std::string(kPitchClasses[note % 12]) + std::to_string(note / 12 + middle_c - 5);
}

int ParsePitchName(std::string_view text, int middle_c) {
    size_t i = 0;
    auto blanks = [&] {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    };
    blanks();
    if (i >= text.size()) return -1;
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i++])));
    if (letter < 'A' || letter > 'G') return -1;
    int semitone = kLetterSemitones[letter - 'A'];
    for (; i < text.size() && (text[i] == '#' || text[i] == 'b'); ++i)
        semitone += text[i] == '#' ? 1 : -1;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return -1;
    long octave = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        octave = octave * 10 + (text[i] - '0');
        if (octave > 1000) return -1;
    }
    blanks();
    if (i != text.size()) return -1;
    if (negative) octave = -octave;
    const long note = (octave - (middle_c - 5)) * 12 + semitone;
    return note >= 0 && note <= 127 ? static_cast<int>(note) : -1;
}

double NoteFrequency(double note) {
    return 440.0 * std::exp2((note - 69.0) / 12.0);
}

double FrequencyNote(double hertz) {
    if (!(hertz > 0) || !std::isfinite(hertz)) return std::numeric_limits<double>::quiet_NaN();
    return 69.0 + 12.0 * std::log2(hertz / 440.0);
}

std::string KeyName(int sharps, bool minor) {
    if (sharps < -7 || sharps > 7) return "";
    return std::string(minor ? kMinorKeys[sharps + 7] : kMajorKeys[sharps + 7]) +
           (minor ? " minor" : " major");
}

}  // namespace names
MIDIFOLIO_END_NAMESPACE
