// The music vocabulary: General MIDI names, controller descriptions, pitch records by note,
// name and frequency, and numbered-notation symbols.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "midifolio/midifolio.h"

using namespace midifolio;

// Hosts compare against the display texts, spelling and trailing blanks included, so the
// odd ones are pinned here; the tables' extents are counted.
TEST(GeneralMidiNames, OddTextsAreKeptAsHostsSeeThem) {
    EXPECT_EQ(CMidiFolio::GetInstName(1), "Bright Acoustic Paino");
    EXPECT_EQ(CMidiFolio::GetInstName(34), "Electric(Pick))");
    EXPECT_EQ(CMidiFolio::GetInstName(50), "String Synths 1 ");
    EXPECT_EQ(CMidiFolio::GetInstName(127), "Gunshot");
    EXPECT_EQ(CMidiFolio::GetDrumName(36), "Bass Drum1");
    EXPECT_EQ(CMidiFolio::GetDrumName(57), "Crashk Cymbal 2");
    EXPECT_EQ(CMidiFolio::GetDrumName(87), "Open Surdo");
    EXPECT_STREQ(CMidiFolio::GetContrlMsg(2).lpszName, "Breath controller (MSB) ");
    EXPECT_STREQ(CMidiFolio::GetContrlMsg(66).lpszName, "Sustenuto Pedal (on/off) ");
    EXPECT_STREQ(CMidiFolio::GetContrlMsg(127).lpszName,
                 "Poly mode on(incl mono=off&all notes off)");
}

TEST(GeneralMidiNames, EveryProgramDrumAndControllerHasATextAndNothingElseDoes) {
    int programs = 0, drums = 0, controllers = 0;
    for (int n = -300; n < 300; ++n)
        programs += !CMidiFolio::GetInstName(n).empty(),
            drums += !CMidiFolio::GetDrumName(n).empty();
    // Controller type codes, a digit each: 1 plain, 2 pedals, 3 data entry, 4 undefined range,
    // 5 channel modes, 6 local control, 7 mono mode; 0 beyond 127.
    std::string types;
    for (int c = 0; c < 256; ++c) {
        const _MIDI_CONTROL_MSG msg = CMidiFolio::GetContrlMsg(static_cast<uint8_t>(c));
        ASSERT_NE(msg.lpszName, nullptr) << c;
        controllers += msg.lpszName[0] != '\0';
        types += std::to_string(msg.nType);
    }
    EXPECT_EQ(types, std::string(64, '1') + "222222" + std::string(26, '1') + "3" +
                         std::string(5, '1') + std::string(18, '4') + "55655575" +
                         std::string(128, '0'));
    EXPECT_EQ(programs, 128);
    EXPECT_EQ(drums, 87 - 27 + 1);
    EXPECT_EQ(controllers, 128);
    EXPECT_EQ(CMidiFolio::GetDrumName(27 + 256), "");
    // The texts are stable storage: the same pointer on every call.
    EXPECT_EQ(CMidiFolio::GetContrlMsg(10).lpszName, CMidiFolio::GetContrlMsg(10).lpszName);
}

namespace {

// A lookup as "name octave note frequency" (Hz to 1e-3), or "refused" with the record left
// untouched.
template <typename Input>
std::string Pitch(Input input) {
    tagNoteMap n{{'z', 'z', 0, 0}, 99, -7.5, 201};
    if (CMidiFolio::GetPitchInfo(input, &n) == 0)
        return n.dFrequency == -7.5 && n.byNote == 201 && n.byOctave == 99 ? "refused" : "touched";
    char text[64];
    std::snprintf(text, sizeof text, "%s %d %d %.3f", n.szName, n.byOctave, n.byNote, n.dFrequency);
    return text;
}

}  // namespace

// Definition of the three lookups on the notes a file can hold: the name of note n is its
// pitch class and octave n / 12, and the name and the table frequency lead back to n.
TEST(Pitch, EveryNoteRoundTripsThroughItsNameAndItsFrequency) {
    const char* names[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    for (int note = 0; note < 128; ++note) {
        tagNoteMap byNote{}, byFrequency{};
        ASSERT_EQ(CMidiFolio::GetPitchInfo(note, &byNote), 1);
        const std::string name = std::string(names[note % 12]) + " " + std::to_string(note / 12);
        EXPECT_EQ(std::string(byNote.szName) + " " + std::to_string(byNote.byOctave), name);
        const std::string text = std::string(names[note % 12]) + std::to_string(note / 12);
        EXPECT_EQ(Pitch(text), Pitch(note)) << text;
        ASSERT_EQ(CMidiFolio::GetPitchInfo(byNote.dFrequency, &byFrequency), 1) << note;
        EXPECT_EQ(byFrequency.byNote, note) << note;
        EXPECT_EQ(byFrequency.dFrequency, byNote.dFrequency) << note;
    }
}

TEST(Pitch, NotesNamesAndFrequenciesGiveTheTablePitchTunedToA440) {
    EXPECT_EQ(Pitch(69), "A 5 69 440.000");
    EXPECT_EQ(Pitch(300), "C 25 44 274307481.600");  // the note number keeps its low byte
    EXPECT_EQ(Pitch(INT32_MAX).substr(0, 2), "G ");  // 2147483647 mod 12 = 7
    EXPECT_EQ(Pitch(std::string("c#4")), "C# 4 49 138.600");
    EXPECT_EQ(Pitch(std::string("C#")), "C# 0 1 8.662");      // no octave
    EXPECT_EQ(Pitch(std::string("E+2")), "E 2 28 41.200");    // one sign
    EXPECT_EQ(Pitch(std::string("F#1x")), "F# 1 18 23.125");  // stops at a non-digit
    EXPECT_EQ(Pitch(std::string("Db4")), "D 0 2 9.178");      // no flats: D, then octave 0
    EXPECT_EQ(Pitch(32.1f), "C 2 24 32.700");                 // below the first row
    EXPECT_EQ(Pitch(63.5f), "B 2 35 61.740");     // halved below 32.0, doubled back: above all rows
    EXPECT_EQ(Pitch(47.625f), "F# 2 30 46.250");  // a tie between F# and G goes down
    EXPECT_EQ(Pitch(47.625), "F# 2 30 46.250");   // the double form behaves as the float one
    EXPECT_EQ(Pitch(std::nextafter(47.625f, 100.0f)), "G 2 31 49.000");
    // The smallest positive float normalises to 32.0 (C) after 154 doublings; the octave is
    // kept in 8 bits and the frequency is still the exact table pitch.
    tagNoteMap n{};
    ASSERT_EQ(CMidiFolio::GetPitchInfo(std::numeric_limits<float>::denorm_min(), &n), 1);
    EXPECT_EQ(n.byOctave, static_cast<int8_t>(-152 + 256));
    EXPECT_EQ(n.dFrequency, std::ldexp(32.7, -154));
}

TEST(Pitch, NonsenseIsRefusedAndTheRecordLeftAlone) {
    EXPECT_EQ(Pitch(-1), "refused");
    for (const char* text : {"", "C", "C#4xy", "E#4", "H4", "C13", "C-1", "4C", "C4#", "A#99"})
        EXPECT_EQ(Pitch(std::string(text)), "refused") << text;
    for (float f : {0.0f, -5.0f, std::numeric_limits<float>::infinity(), std::nanf("")})
        EXPECT_EQ(Pitch(f), "refused") << f;
    EXPECT_EQ(Pitch(1e300), "refused");   // infinite in single precision
    EXPECT_EQ(Pitch(1e-300), "refused");  // zero in single precision
    EXPECT_EQ(CMidiFolio::GetPitchInfo(60, nullptr) + CMidiFolio::GetPitchInfo(440.0f, nullptr) +
                  CMidiFolio::GetPitchInfo(std::string("A5"), nullptr),
              0);
}

// Degrees 1..7 of the major scale from C; the middle octave plain, others marked after the
// degree and before the sharp, the outer octaves bare, beyond them nothing.
TEST(EasySymbol, OctavesCarryTheirMarkBeforeTheSharp) {
    std::string symbols;
    for (int note : {60, 61, 62, 63, 64, 65, 66,  67, 68,  69,  70,  71,  72,
                     59, 84, 13, 25, 38, 96, 119, 1,  127, 131, 132, -25, INT32_MIN})
        symbols += CMidiFolio::GetEasySymbol(note) + " ";
    EXPECT_EQ(symbols, "1 1# 2 2# 3 4 4# 5 5# 6 6# 7 1' 7. 1\" 1!# 1,# 2: 1^ 7$ 1 5 7    ");
}

// The names the tool and the Python package show: General MIDI's own spellings, scientific
// pitch (middle C is C4) with both accidentals, and key names.
TEST(MusicNames, GeneralMidiNamesAreTheStandardsSpellings) {
    EXPECT_STREQ(names::ProgramName(0), "Acoustic Grand Piano");
    EXPECT_STREQ(names::ProgramName(1), "Bright Acoustic Piano");
    EXPECT_STREQ(names::ProgramName(21), "Accordion");
    EXPECT_STREQ(names::ProgramName(26), "Electric Guitar (jazz)");
    EXPECT_STREQ(names::ProgramName(127), "Gunshot");
    EXPECT_STREQ(names::ProgramName(128), "");
    EXPECT_STREQ(names::ProgramName(-1), "");
    EXPECT_STREQ(names::DrumName(36), "Bass Drum 1");
    EXPECT_STREQ(names::DrumName(57), "Crash Cymbal 2");
    EXPECT_STREQ(names::DrumName(83), "Jingle Bell");
    EXPECT_STREQ(names::DrumName(27), "High Q");
    EXPECT_STREQ(names::DrumName(87), "Open Surdo");
    EXPECT_STREQ(names::DrumName(26), "");
    EXPECT_STREQ(names::DrumName(88), "");
    EXPECT_STREQ(names::ControllerName(7), "Channel Volume");
    EXPECT_STREQ(names::ControllerName(64), "Damper Pedal (Sustain)");
    EXPECT_STREQ(names::ControllerName(3), "Undefined");
    EXPECT_STREQ(names::ControllerName(128), "");
    for (int n = 0; n < 128; ++n) {
        const std::string program = names::ProgramName(n), controller = names::ControllerName(n);
        EXPECT_FALSE(program.empty() || program.back() == ' ') << n;
        EXPECT_FALSE(controller.empty() || controller.back() == ' ') << n;
    }
}

TEST(MusicNames, PitchesAreScientificAndEveryAccidentalParses) {
    EXPECT_EQ(names::PitchName(60), "C4");
    EXPECT_EQ(names::PitchName(69), "A4");
    EXPECT_EQ(names::PitchName(0), "C-1");
    EXPECT_EQ(names::PitchName(127), "G9");
    EXPECT_EQ(names::PitchName(61), "C#4");
    EXPECT_EQ(names::PitchName(60, 5), "C5");
    EXPECT_EQ(names::PitchName(60, 3), "C3");
    EXPECT_EQ(names::PitchName(128), "");
    EXPECT_EQ(names::ParsePitchName("Db4"), 61);
    EXPECT_EQ(names::ParsePitchName("C#4"), 61);
    EXPECT_EQ(names::ParsePitchName("E#4"), 65);
    EXPECT_EQ(names::ParsePitchName("B#3"), 60);
    EXPECT_EQ(names::ParsePitchName("Cb4"), 59);
    EXPECT_EQ(names::ParsePitchName("Fb4"), 64);
    EXPECT_EQ(names::ParsePitchName(" bb3 "), 58);
    EXPECT_EQ(names::ParsePitchName("C-1"), 0);
    EXPECT_EQ(names::ParsePitchName("G9"), 127);
    EXPECT_EQ(names::ParsePitchName("G#9"), -1);
    EXPECT_EQ(names::ParsePitchName("Cb-1"), -1);
    EXPECT_EQ(names::ParsePitchName("C5", 5), 60);
    EXPECT_EQ(names::ParsePitchName("H4"), -1);
    EXPECT_EQ(names::ParsePitchName("C"), -1);
    EXPECT_EQ(names::ParsePitchName("C4x"), -1);
    EXPECT_EQ(names::ParsePitchName(""), -1);
    for (int n = 0; n < 128; ++n)
        for (int c = 3; c <= 5; ++c) EXPECT_EQ(names::ParsePitchName(names::PitchName(n, c), c), n);
    EXPECT_DOUBLE_EQ(names::NoteFrequency(69), 440.0);
    EXPECT_NEAR(names::NoteFrequency(60), 261.6256, 1e-4);
    EXPECT_DOUBLE_EQ(names::FrequencyNote(880.0), 81.0);
    EXPECT_TRUE(std::isnan(names::FrequencyNote(0.0)));
    EXPECT_TRUE(std::isnan(names::FrequencyNote(-std::numeric_limits<double>::infinity())));
}

TEST(MusicNames, KeysAreNamedByTheirSignature) {
    EXPECT_EQ(names::KeyName(0, false), "C major");
    EXPECT_EQ(names::KeyName(0, true), "A minor");
    EXPECT_EQ(names::KeyName(-2, false), "Bb major");
    EXPECT_EQ(names::KeyName(3, true), "F# minor");
    EXPECT_EQ(names::KeyName(-7, false), "Cb major");
    EXPECT_EQ(names::KeyName(7, true), "A# minor");
    EXPECT_EQ(names::KeyName(8, false), "");
}
