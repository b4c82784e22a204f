// General MIDI instrument, drum and controller names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "midifolio/midifolio.h"

using namespace midifolio;

namespace {

std::vector<std::string> Split(const std::string& joined) {
    std::vector<std::string> out(1);
    for (char c : joined) {
        if (c == '|') {
            out.emplace_back();
        } else {
            out.back().push_back(c);
        }
    }
    return out;
}

// The display texts, separated by '|', exactly as hosts see them, spelling and trailing blanks
// included.
const std::vector<std::string> kInstruments = Split(
    "Acoustic Grand|Bright Acoustic Paino|Electric Grand Piano|Honky-tonk Piano|Rhodes Piano|"
    "Chorused Piano|Harpsichord|Clavinet|Celesta|Glockenspiel|Music Box|Vibraphone|Marimba|"
    "Xylophon|Tubular Bell|Dulcimer|Hammond Organ|Percussive Organ|Rock Organ|Church Organ|"
    "Reed Organ|Accordian|Harmonica|Tango Accordion|Acoustic Guitar(nylon)|"
    "Acoustic Guitar(Steel)|Electric(Jazz)|Electric(Clean)|Electric(Muted)|Overdriven Guitar|"
    "Distortion Guitar|Guitar Hamonics|Acoustic Bass|Electric(Fingrt)|Electric(Pick))|"
    "Fretless Bass|Slap Bass 1|Slap Bass 2|Synth Bass 1|Synth Bass 2|Violin|Viola|Cello|"
    "ContraBass|Termolo Strings|Pizzicato Strings|Orchestral Harp|Timpani|String Ensemble 1|"
    "String Ensemble 2|String Synths 1 |String Synths 2|Choir Aahs|Voice Oohs|Synth Voice|"
    "Orchestra Hit|Trumpet|Trombone|Tuba|Muted Turmpet|French horn|Brass Section|"
    "Synth Brass 1|Synyh Brass 2|Soprano Sax|Alto Sax|Tenor Sax|Baritone Sax|Oboe|"
    "English Horn|Bassoon|Clarinet|Piccolo|Flute|Recorder|Pan Flute|Blow Bottle|Shakhchi|"
    "Whistle|Ocarina|Lead 1 (square)|Lead 2 (sawtooth)|Lead 3 (Calliop lead)|"
    "Lead 4 (Chiff lead)|Lead 5 (Charange)|Lead 6 (Voice)|Lead 7 (fifth)|lead 8 (bass+lead)|"
    "Pad 1 (new age)|Pad 2 (warm)|Pad 3 (polysynth)|Pad 4 (choir)|Pad 5 (bowed)|"
    "Pad 6 (metallic)|Pad 7 (halo)|Pad 8 (sweep)|FX1 (rain)|FX2 (soundtrack)|FX3 (crystal)|"
    "FX4 (atmosphere)|FX5 (brightness)|FX6 (goblins)|FX7 (echoes)|FX8 (sci-fi)|Sitar|Banjo|"
    "Shamisen|Koto|Kalimba|BagPipe|Fiddle|Shanai|Tinkle Bell|Agogo|Steel Drums|Woodblock|"
    "Taiko|Melodic Tom|Synth Drum|Reverse Cymbal|Guitar Fret Noise|Breath Noise|Seashore|"
    "Bird Tweet|Telephone Ring|Helicopter|Applause|Gunshot");
const std::vector<std::string> kDrums = Split(
    "High Q|Slap|Scratch Push|Scratch Pull|Sticks|Square Click|Metronome Click|"
    "Metronome Bell|Acoustic Bass Drum|Bass Drum1|Side Stick|Acoustic Snare|Hand Clap|"
    "Electric Snare|Low Floor Tom|Closed Hi-Hat|High Floor Tom|Pedal Hi-Hat|Low Tom|"
    "Open Hi-Hat|Low-Mid Tom|Hi-Mid Tom|Crash Cymbal 1|High Tom|Ride Cymbal 1|Chinese Cymbal|"
    "Ride Bell|Tambourine|Splash Cymbal|Cowbell|Crashk Cymbal 2|Vibraslap|Ride Cymbal 2|"
    "Hi Bongo|Low Bongo|Mute Hi Conga|Open Hi Conga|Low Conga|High Timbale|Low Timebale|"
    "High Agogo|Low Agogo|Cabasa|Maracas|Short Whistle|Long Whistle|Short Guiro|Long Guiro|"
    "Claves|Hi Wood Block|Low Wood Block|Mute Cuica|Open Cuica|Mute Triangle|Open Triangle|"
    "Shark|Jingel Bell|Bell Tree|Castinets|Mute Surdo|Open Surdo");
const std::vector<std::string> kControllers = Split(
    "Bank Select (MSB)|Modulation Wheel (MSB)|Breath controller (MSB) |Undefined (MSB)|"
    "Foot Pedal (MSB) |Portamento Time (MSB) |Data Entry (MSB) |Channel volume MSB|"
    "Balance (MSB) |Undefined|Pan (MSB) |Expression Controller(MSB) |Effect Control 1 (MSB) |"
    "Effect Control 2 (MSB) |Undefined|Undefined|General Purpose Controller 1|"
    "General Purpose Controller 2|General Purpose Controller 3|General Purpose Controller 4|"
    "Undefined|Undefined|Undefined|Undefined|Undefined|Undefined|Undefined|Undefined|"
    "Undefined|Undefined|Undefined|Undefined|Bank Select (LSB) |Modulation Wheel (LSB) |"
    "Breath control (LSB) |Undefined|Foot Pedal (LSB) |Portamento Time (LSB) |"
    "Data Entry (LSB) |Channel Volume (LSB) |Balance (LSB) |Undefined|Pan (LSB) |"
    "Expression Controller (LSB) |Effect Control 1 (LSB) |Effect Control 2 (LSB) |Undefined|"
    "Undefined|General Purpose Controller #1 LSB|General Purpose Controller #2 LSB|"
    "General Purpose Controller #3 LSB|General Purpose Controller #4 LSB|Undefined|Undefined|"
    "Undefined|Undefined|Undefined|Undefined|Undefined|Undefined|Undefined|Undefined|"
    "Undefined|Undefined|Damper Pedal (on/off) |Portamento (on/off) |"
    "Sustenuto Pedal (on/off) |Soft Pedal (on/off) |Legato Footswitch (on/off) |Hold 2|"
    "Sound Control 1(Sound Variation) LSB |Sound Control 2(Timbre) LSB|"
    "Sound Control 3(Release Time) LSB|Sound Control 4(Attack Time) LSB|"
    "Sound Control 5(Brightness) LSB|Sound Control 6(LSB)|Sound Control 7(LSB)|"
    "Sound Control 8 (LSB)|Sound Control 9 (LSB)|Sound Control 10(LSB) |"
    "General Purpose Controller#5(LSB)|General Purpose Controller#6(LSB)|"
    "General Purpose Controller#7(LSB)|General Purpose Controller#8(LSB)|"
    "Portamento Control Source No|Undefined|Undefined|Undefined|Undefined|Undefined|"
    "Undefined|Effects 1 Depth (LSB)|Effects 2 Depth (LSB)|Effects 3 Depth (LSB)|"
    "Effects 4 Depth (LSB)|Effects 5 Depth (LSB)|Data entry +1 |Data entry -1 |"
    "Non-registered Parameter Number(LSB) |Non-registered Parameter Number(MSB) |"
    "Registered Parameter Number(LSB) |Registered Parameter Number(MSB) |Undefined|Undefined|"
    "Undefined|Undefined|Undefined|Undefined|Undefined|Undefined|Undefined|Undefined|"
    "Undefined|Undefined|Undefined|Undefined|Undefined|Undefined|Undefined|Undefined|"
    "All Sound Off|Reset All Controllers|Local Control (on/off) |All Notes Off|"
    "Omni mode off(includes all notes off)|Omni mode on(includes all notes off)|"
    "Poly mode on/off(includes all notes off)|Poly mode on(incl mono=off&all notes off)");

int ControllerType(int c) {
    if (c >= 64 && c <= 69) return 2;
    if (c == 96) return 3;
    if (c >= 102 && c <= 119) return 4;
    if (c == 120 || c == 121 || c == 123 || c == 124 || c == 125 || c == 127) return 5;
    if (c == 122) return 6;
    if (c == 126) return 7;
    return 1;
}

}  // namespace

TEST(InstrumentNames, EveryProgramHasItsExactTextAndOthersGiveEmptyText) {
    ASSERT_EQ(kInstruments.size(), 128u);
    for (int p = 0; p < 128; ++p) EXPECT_EQ(CMidiFolio::GetInstName(p), kInstruments[p]) << p;
    for (int p : {128, -1, 255, INT32_MIN, INT32_MAX}) EXPECT_EQ(CMidiFolio::GetInstName(p), "");
}

TEST(DrumNames, EveryPercussionNoteFrom27To87HasItsExactTextAndOthersGiveEmptyText) {
    ASSERT_EQ(kDrums.size(), 61u);
    for (int n = 27; n <= 87; ++n) EXPECT_EQ(CMidiFolio::GetDrumName(n), kDrums[n - 27]) << n;
    for (int n : {26, 88, 0, -1, 127, 128, 27 + 256, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(CMidiFolio::GetDrumName(n), "") << n;
    }
}

TEST(ControllerNames, EveryControllerHasItsTextAndTypeCodeAndOthersGiveEmptyAndZero) {
    ASSERT_EQ(kControllers.size(), 128u);
    for (int c = 0; c < 256; ++c) {
        _MIDI_CONTROL_MSG msg = CMidiFolio::GetContrlMsg(static_cast<uint8_t>(c));
        ASSERT_NE(msg.lpszName, nullptr);
        EXPECT_EQ(std::string(msg.lpszName), c < 128 ? kControllers[c] : "") << c;
        EXPECT_EQ(msg.nType, c < 128 ? ControllerType(c) : 0) << c;
    }
    // The names are stable storage: the same pointer on every call.
    EXPECT_EQ(CMidiFolio::GetContrlMsg(10).lpszName, CMidiFolio::GetContrlMsg(10).lpszName);
}
