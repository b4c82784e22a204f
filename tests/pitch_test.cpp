// Pitch records by note number, name and frequency, and numbered-notation symbols.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <string>

#include "midifolio/midifolio.h"

using namespace midifolio;

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
    return std::string(n.szName) == "zz" && n.byOctave == 99 && n.dFrequency == -7.5 &&
           n.byNote == 201;
}

// What one lookup must give: its name, octave, note number and (to 1e-9) frequency.
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

TEST(PitchByNote, MiddleCIsInOctaveFiveAndA5Is440AndHighNotesKeepTheirLowByte) {
    ExpectPitches<int>({{60, "C", 5, 60, 261.6, ""},
                        {69, "A", 5, 69, 440.0, ""},
                        {0, "C", 0, 0, 8.175, ""},
                        {42, "F#", 3, 42, 92.5, ""},
                        {127, "G", 10, 127, 49.0 * 256, ""},
                        {300, "C", 25, 300 & 0xFF, 32.7 * std::pow(2.0, 23), "low byte"}});
    tagNoteMap n = Sentinel();
    ASSERT_EQ(CMidiFolio::GetPitchInfo(INT32_MAX, &n), 1);
    EXPECT_STREQ(n.szName, "G");  // 2147483647 mod 12 = 7
    EXPECT_EQ(n.byNote, 0xFF);
}

TEST(PitchByNote, NegativeNotesAndNullRecordsAreRefused) {
    tagNoteMap n = Sentinel();
    EXPECT_EQ(CMidiFolio::GetPitchInfo(-1, &n), 0);
    EXPECT_EQ(CMidiFolio::GetPitchInfo(INT32_MIN, &n), 0);
    EXPECT_TRUE(IsSentinel(n));
    EXPECT_EQ(CMidiFolio::GetPitchInfo(60, nullptr), 0);
}

TEST(PitchByName, SharpNamesAndOctavesAreRead) {
    ExpectPitches<std::string>({
        {"c#4", "C#", 4, 49, 138.6, ""},
        {"A5", "A", 5, 69, 440.0, ""},
        {"C#", "C#", 0, 1, 34.65 / 4, "no octave"},
        {"B12", "B", 12, 155, 61.74 * 1024, ""},
        {"g 3", "G", 3, 43, 98.0, "blank before digits"},
        {"E+2", "E", 2, 28, 41.2, "one sign allowed"},
        {"F#1x", "F#", 1, 18, 23.125, "stops at a non-digit"},
        {"Db4", "D", 0, 2, 36.71 / 4, "no flats: D, then the text B4 reads as octave 0"},
    });
}

TEST(PitchByName, BadLengthsNamesAndOctavesAreRefused) {
    tagNoteMap n = Sentinel();
    for (const char* text :
         {"", "C", "C#4xy", "E#4", "H4", "C13", "C-1", "4C", "C4#", "#4", "A#99"}) {
        EXPECT_EQ(CMidiFolio::GetPitchInfo(std::string(text), &n), 0) << text;
    }
    EXPECT_TRUE(IsSentinel(n));
    EXPECT_EQ(CMidiFolio::GetPitchInfo(std::string("A5"), nullptr), 0);
}

TEST(PitchByFrequency, NamesTheNearestTablePitchWithItsExactFrequency) {
    ExpectPitches<float>({
        {440.0f, "A", 5, 69, 440.0, ""},
        {445.0f, "A", 5, 69, 440.0, ""},
        {20.0f, "D#", 1, 15, 19.445, ""},
        {261.0f, "C", 5, 60, 261.6, ""},
        {32.1f, "C", 2, 24, 32.7, "below the first row"},
        {63.5f, "B", 2, 35, 61.74, "halved below 32.0 and doubled back: above every row"},
        {31.99f, "B", 1, 23, 30.87, "doubled to 63.98"},
        {47.625f, "F#", 2, 30, 46.25, "a tie between F# (46.25) and G (49.0) goes down"},
        {190.5f, "F#", 4, 54, 185.0, "the same tie two octaves up"},
        {std::nextafter(47.625f, 100.0f), "G", 2, 31, 49.0, "just above the tie"},
    });
}

TEST(PitchByFrequency, DoubleArgumentsBehaveAsSinglePrecision) {
    tagNoteMap a = Sentinel(), b = Sentinel();
    ASSERT_EQ(CMidiFolio::GetPitchInfo(440.0, &a), 1);
    ASSERT_EQ(CMidiFolio::GetPitchInfo(440.0f, &b), 1);
    EXPECT_EQ(std::memcmp(&a.szName, &b.szName, sizeof a.szName), 0);
    EXPECT_EQ(a.byNote, b.byNote);
    EXPECT_EQ(a.dFrequency, b.dFrequency);
    ASSERT_EQ(CMidiFolio::GetPitchInfo(47.625, &a), 1);
    EXPECT_STREQ(a.szName, "F#");
}

TEST(PitchByFrequency, ZeroNegativeInfiniteAndNaNAreRefused) {
    tagNoteMap n = Sentinel();
    const float inf = std::numeric_limits<float>::infinity();
    for (float f : {0.0f, -0.0f, -5.0f, inf, -inf, std::numeric_limits<float>::quiet_NaN()}) {
        EXPECT_EQ(CMidiFolio::GetPitchInfo(f, &n), 0) << f;
    }
    EXPECT_EQ(CMidiFolio::GetPitchInfo(1e300, &n), 0);   // infinite in single precision
    EXPECT_EQ(CMidiFolio::GetPitchInfo(1e-300, &n), 0);  // zero in single precision
    EXPECT_TRUE(IsSentinel(n));
    EXPECT_EQ(CMidiFolio::GetPitchInfo(440.0f, nullptr), 0);
}

TEST(PitchByFrequency, ExtremeFrequenciesGiveADefinedRecord) {
    tagNoteMap n = Sentinel();
    ASSERT_EQ(CMidiFolio::GetPitchInfo(std::numeric_limits<float>::max(), &n), 1);
    EXPECT_TRUE(std::isfinite(n.dFrequency));
    EXPECT_GT(n.byOctave, 100);
    // The smallest positive float, 2^-149, normalises to 32.0 (C) after 154 doublings:
    // octave -152, kept in 8 bits; the frequency is still the exact table pitch.
    ASSERT_EQ(CMidiFolio::GetPitchInfo(std::numeric_limits<float>::denorm_min(), &n), 1);
    EXPECT_STREQ(n.szName, "C");
    EXPECT_EQ(n.byOctave, static_cast<int8_t>(-152 + 256));
    EXPECT_EQ(n.byNote, static_cast<uint8_t>(-152 * 12));
    EXPECT_EQ(n.dFrequency, std::ldexp(32.7, -154));
}

TEST(EasySymbol, MiddleOctaveIsWrittenWithPlainDigits) {
    const char* expected[] = {"1", "1#", "2", "2#", "3", "4", "4#", "5", "5#", "6", "6#", "7"};
    for (int k = 0; k < 12; ++k) EXPECT_EQ(CMidiFolio::GetEasySymbol(60 + k), expected[k]);
}

TEST(EasySymbol, OtherOctavesCarryTheirMarkBeforeTheSharpAndOuterOnesGiveTheBareDigit) {
    // The outer octaves (0..11, 120..131) have no mark and no sharp sign; beyond them nothing.
    const std::pair<int, const char*> cases[] = {
        {72, "1'"}, {59, "7."},  {84, "1\""}, {12, "1!"},      {13, "1!#"}, {25, "1,#"},
        {38, "2:"}, {54, "4.#"}, {82, "6'#"}, {96, "1^"},      {108, "1$"}, {119, "7$"},
        {0, "1"},   {1, "1"},    {11, "7"},   {120, "1"},      {121, "1"},  {127, "5"},
        {131, "7"}, {132, ""},   {200, ""},   {INT32_MAX, ""}, {-1, ""},    {-3, ""},
        {-12, ""},  {-24, ""},   {-25, ""},   {INT32_MIN, ""}};
    for (const auto& [note, symbol] : cases)
        EXPECT_EQ(CMidiFolio::GetEasySymbol(note), symbol) << note;
}

TEST(PitchNames, EveryNoteRoundTripsThroughItsNameAndItsFrequency) {
    const char* names[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    for (int note = 0; note < 128; ++note) {
        tagNoteMap byNote = Sentinel();
        ASSERT_EQ(CMidiFolio::GetPitchInfo(note, &byNote), 1);
        EXPECT_STREQ(byNote.szName, names[note % 12]) << note;
        EXPECT_EQ(byNote.byOctave, note / 12) << note;

        const std::string text = std::string(names[note % 12]) + std::to_string(note / 12);
        tagNoteMap byName = Sentinel();
        ASSERT_EQ(CMidiFolio::GetPitchInfo(text, &byName), 1) << text;
        EXPECT_EQ(byName.byNote, note) << text;
        EXPECT_EQ(byName.dFrequency, byNote.dFrequency) << text;

        tagNoteMap byFrequency = Sentinel();
        ASSERT_EQ(CMidiFolio::GetPitchInfo(byNote.dFrequency, &byFrequency), 1) << note;
        EXPECT_EQ(byFrequency.byNote, note) << note;
        EXPECT_EQ(byFrequency.dFrequency, byNote.dFrequency) << note;
    }
}
