// The music vocabulary: General MIDI names, controller descriptions, pitch records by note,
// name and frequency, and numbered-notation symbols.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <string>

#include "midifolio/midifolio.h"

using namespace midifolio;

// Hosts compare against the display texts, spelling and trailing blanks included, so the
// odd ones are pinned here; the tables' extents are counted.
TEST(GeneralMidiNames, OddTextsAreKeptAsHostsSeeThem) {
    EXPECT_EQ(CMidiFolio::GetInstName(0), "Acoustic Grand");
    EXPECT_EQ(CMidiFolio::GetInstName(1), "Bright Acoustic Paino");
    EXPECT_EQ(CMidiFolio::GetInstName(34), "Electric(Pick))");
    EXPECT_EQ(CMidiFolio::GetInstName(50), "String Synths 1 ");
    EXPECT_EQ(CMidiFolio::GetInstName(127), "Gunshot");
    EXPECT_EQ(CMidiFolio::GetDrumName(27), "High Q");
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
    for (int n = -300; n < 300; ++n) {
        programs += !CMidiFolio::GetInstName(n).empty();
        drums += !CMidiFolio::GetDrumName(n).empty();
    }
    for (int c = 0; c < 256; ++c) {
        const _MIDI_CONTROL_MSG msg = CMidiFolio::GetContrlMsg(static_cast<uint8_t>(c));
        ASSERT_NE(msg.lpszName, nullptr) << c;
        controllers += msg.lpszName[0] != '\0';
        EXPECT_EQ(msg.nType == 0, c >= 128) << c;
    }
    EXPECT_EQ(programs, 128);
    EXPECT_EQ(drums, 87 - 27 + 1);
    EXPECT_EQ(controllers, 128);
    for (int n : {INT32_MIN, INT32_MAX, 27 + 256}) {
        EXPECT_EQ(CMidiFolio::GetInstName(n), "");
        EXPECT_EQ(CMidiFolio::GetDrumName(n), "");
    }
    // Type codes of each group: pedals, data entry, undefined range, channel modes.
    for (auto [c, type] : {std::pair<int, int>{7, 1}, {64, 2}, {69, 2}, {70, 1}, {96, 3},
                           {102, 4}, {119, 4}, {120, 5}, {122, 6}, {126, 7}, {127, 5}})
        EXPECT_EQ(CMidiFolio::GetContrlMsg(static_cast<uint8_t>(c)).nType, type) << c;
    // The texts are stable storage: the same pointer on every call.
    EXPECT_EQ(CMidiFolio::GetContrlMsg(10).lpszName, CMidiFolio::GetContrlMsg(10).lpszName);
}

namespace {

// A record filled with a recognisable pattern, to see that refusals leave it untouched.
tagNoteMap Sentinel() {
    tagNoteMap n;
    std::memcpy(n.szName, "zz", 3);
    n.byOctave = 99;
    n.dFrequency = -7.5;
    n.byNote = 201;
    return n;
}
bool IsSentinel(const tagNoteMap& n) {
    return std::string(n.szName) == "zz" && n.byOctave == 99 && n.byNote == 201;
}

// What one lookup must give: name, octave, note number and (to 1e-9) frequency.
template <typename Input>
struct Pitch {
    Input input;
    const char* name;
    int octave, note;
    double hz;
    const char* why;
};
template <typename Input>
void ExpectPitches(std::initializer_list<Pitch<Input>> cases) {
    for (const Pitch<Input>& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.input) + " " + c.why);
        tagNoteMap n = Sentinel();
        ASSERT_EQ(CMidiFolio::GetPitchInfo(c.input, &n), 1);
        EXPECT_STREQ(n.szName, c.name);
        EXPECT_EQ(n.byOctave, c.octave);
        EXPECT_EQ(n.byNote, c.note);
        EXPECT_NEAR(n.dFrequency, c.hz, 1e-9 * c.hz);
    }
}

}  // namespace

// Definition of the three lookups on the notes a file can hold: the name of note n is its
// pitch class and octave n / 12, and the name and the table frequency lead back to n.
TEST(Pitch, EveryNoteRoundTripsThroughItsNameAndItsFrequency) {
    const char* names[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    for (int note = 0; note < 128; ++note) {
        tagNoteMap byNote = Sentinel(), byName = Sentinel(), byFrequency = Sentinel();
        ASSERT_EQ(CMidiFolio::GetPitchInfo(note, &byNote), 1);
        EXPECT_STREQ(byNote.szName, names[note % 12]) << note;
        EXPECT_EQ(byNote.byOctave, note / 12) << note;
        const std::string text = std::string(names[note % 12]) + std::to_string(note / 12);
        ASSERT_EQ(CMidiFolio::GetPitchInfo(text, &byName), 1) << text;
        EXPECT_EQ(byName.byNote, note) << text;
        EXPECT_EQ(byName.dFrequency, byNote.dFrequency) << text;
        ASSERT_EQ(CMidiFolio::GetPitchInfo(byNote.dFrequency, &byFrequency), 1) << note;
        EXPECT_EQ(byFrequency.byNote, note) << note;
        EXPECT_EQ(byFrequency.dFrequency, byNote.dFrequency) << note;
    }
}

TEST(Pitch, TablePitchesAreTunedToA440AndHighNotesKeepTheirLowByte) {
    ExpectPitches<int>({{60, "C", 5, 60, 261.6, "middle C"},
                        {69, "A", 5, 69, 440.0, ""},
                        {0, "C", 0, 0, 8.175, ""},
                        {300, "C", 25, 300 & 0xFF, 32.7 * std::pow(2.0, 23), "low byte"}});
    tagNoteMap n = Sentinel();
    ASSERT_EQ(CMidiFolio::GetPitchInfo(INT32_MAX, &n), 1);
    EXPECT_STREQ(n.szName, "G");  // 2147483647 mod 12 = 7
}

TEST(Pitch, NamesAreReadLeniently) {
    ExpectPitches<std::string>({
        {"c#4", "C#", 4, 49, 138.6, "lower case"},
        {"C#", "C#", 0, 1, 34.65 / 4, "no octave"},
        {"B12", "B", 12, 155, 61.74 * 1024, ""},
        {"g 3", "G", 3, 43, 98.0, "blank before digits"},
        {"E+2", "E", 2, 28, 41.2, "one sign allowed"},
        {"F#1x", "F#", 1, 18, 23.125, "stops at a non-digit"},
        {"Db4", "D", 0, 2, 36.71 / 4, "no flats: D, then the text B4 reads as octave 0"},
    });
}

TEST(Pitch, FrequenciesNameTheNearestTablePitchWithTiesGoingDown) {
    ExpectPitches<float>({
        {445.0f, "A", 5, 69, 440.0, ""},
        {20.0f, "D#", 1, 15, 19.445, ""},
        {32.1f, "C", 2, 24, 32.7, "below the first row"},
        {63.5f, "B", 2, 35, 61.74, "halved below 32.0 and doubled back: above every row"},
        {47.625f, "F#", 2, 30, 46.25, "a tie between F# (46.25) and G (49.0) goes down"},
        {std::nextafter(47.625f, 100.0f), "G", 2, 31, 49.0, "just above the tie"},
    });
    // The double form behaves as the single-precision one, tie included.
    tagNoteMap n = Sentinel();
    ASSERT_EQ(CMidiFolio::GetPitchInfo(47.625, &n), 1);
    EXPECT_STREQ(n.szName, "F#");
    // The smallest positive float normalises to 32.0 (C) after 154 doublings; the octave is
    // kept in 8 bits and the frequency is still the exact table pitch.
    ASSERT_EQ(CMidiFolio::GetPitchInfo(std::numeric_limits<float>::denorm_min(), &n), 1);
    EXPECT_EQ(n.byOctave, static_cast<int8_t>(-152 + 256));
    EXPECT_EQ(n.dFrequency, std::ldexp(32.7, -154));
}

TEST(Pitch, NonsenseIsRefusedAndTheRecordLeftAlone) {
    tagNoteMap n = Sentinel();
    EXPECT_EQ(CMidiFolio::GetPitchInfo(-1, &n), 0);
    for (const char* text : {"", "C", "C#4xy", "E#4", "H4", "C13", "C-1", "4C", "C4#", "A#99"})
        EXPECT_EQ(CMidiFolio::GetPitchInfo(std::string(text), &n), 0) << text;
    const float inf = std::numeric_limits<float>::infinity();
    for (float f : {0.0f, -5.0f, inf, std::numeric_limits<float>::quiet_NaN()})
        EXPECT_EQ(CMidiFolio::GetPitchInfo(f, &n), 0) << f;
    EXPECT_EQ(CMidiFolio::GetPitchInfo(1e300, &n), 0);   // infinite in single precision
    EXPECT_EQ(CMidiFolio::GetPitchInfo(1e-300, &n), 0);  // zero in single precision
    EXPECT_TRUE(IsSentinel(n));
    EXPECT_EQ(CMidiFolio::GetPitchInfo(60, nullptr), 0);
    EXPECT_EQ(CMidiFolio::GetPitchInfo(std::string("A5"), nullptr), 0);
    EXPECT_EQ(CMidiFolio::GetPitchInfo(440.0f, nullptr), 0);
}

// Degrees 1..7 of the major scale from C; middle octave plain, others marked after the
// degree and before the sharp, the outer octaves bare, beyond them nothing.
TEST(EasySymbol, OctavesCarryTheirMarkBeforeTheSharp) {
    const char* middle[] = {"1", "1#", "2", "2#", "3", "4", "4#", "5", "5#", "6", "6#", "7"};
    for (int k = 0; k < 12; ++k) EXPECT_EQ(CMidiFolio::GetEasySymbol(60 + k), middle[k]);
    const std::pair<int, const char*> cases[] = {
        {72, "1'"},  {59, "7."}, {84, "1\""}, {13, "1!#"}, {25, "1,#"}, {38, "2:"},
        {96, "1^"},  {119, "7$"}, {1, "1"},   {127, "5"},  {131, "7"},  {132, ""},
        {-1, ""},    {-25, ""},  {INT32_MIN, ""}};
    for (const auto& [note, symbol] : cases)
        EXPECT_EQ(CMidiFolio::GetEasySymbol(note), symbol) << note;
}
