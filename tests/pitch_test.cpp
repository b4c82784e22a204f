// Pitch records by note number, name and frequency, and numbered-notation symbols.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
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

void ExpectPitch(const tagNoteMap& n, const char* name, int octave, int note, double hz) {
    EXPECT_STREQ(n.szName, name);
    EXPECT_EQ(n.byOctave, octave);
    EXPECT_EQ(n.byNote, note);
    EXPECT_NEAR(n.dFrequency, hz, 1e-9 * hz);
}

}  // namespace

TEST(PitchByNote, MiddleCIsInOctaveFiveAndA5Is440) {
    tagNoteMap n = Sentinel();
    ASSERT_EQ(CMidiFolio::GetPitchInfo(60, &n), 1);
    ExpectPitch(n, "C", 5, 60, 261.6);
    ASSERT_EQ(CMidiFolio::GetPitchInfo(69, &n), 1);
    ExpectPitch(n, "A", 5, 69, 440.0);
    ASSERT_EQ(CMidiFolio::GetPitchInfo(0, &n), 1);
    ExpectPitch(n, "C", 0, 0, 8.175);
    ASSERT_EQ(CMidiFolio::GetPitchInfo(42, &n), 1);
    ExpectPitch(n, "F#", 3, 42, 92.5);
    ASSERT_EQ(CMidiFolio::GetPitchInfo(127, &n), 1);
    ExpectPitch(n, "G", 10, 127, 49.0 * 256);
}

TEST(PitchByNote, NegativeNotesAndNullRecordsAreRefused) {
    tagNoteMap n = Sentinel();
    EXPECT_EQ(CMidiFolio::GetPitchInfo(-1, &n), 0);
    EXPECT_EQ(CMidiFolio::GetPitchInfo(INT32_MIN, &n), 0);
    EXPECT_TRUE(IsSentinel(n));
    EXPECT_EQ(CMidiFolio::GetPitchInfo(60, nullptr), 0);
}

TEST(PitchByNote, NotesBeyond127KeepTheirLowByte) {
    tagNoteMap n = Sentinel();
    ASSERT_EQ(CMidiFolio::GetPitchInfo(300, &n), 1);
    ExpectPitch(n, "C", 25, 300 & 0xFF, 32.7 * std::pow(2.0, 23));
    ASSERT_EQ(CMidiFolio::GetPitchInfo(INT32_MAX, &n), 1);
    EXPECT_STREQ(n.szName, "G");  // 2147483647 mod 12 = 7
    EXPECT_EQ(n.byNote, 0xFF);
}

TEST(PitchByName, SharpNamesAndOctavesAreRead) {
    tagNoteMap n = Sentinel();
    ASSERT_EQ(CMidiFolio::GetPitchInfo(std::string("c#4"), &n), 1);
    ExpectPitch(n, "C#", 4, 49, 138.6);
    ASSERT_EQ(CMidiFolio::GetPitchInfo(std::string("A5"), &n), 1);
    ExpectPitch(n, "A", 5, 69, 440.0);
    ASSERT_EQ(CMidiFolio::GetPitchInfo(std::string("C#"), &n), 1);
    ExpectPitch(n, "C#", 0, 1, 34.65 / 4);
    ASSERT_EQ(CMidiFolio::GetPitchInfo(std::string("B12"), &n), 1);
    ExpectPitch(n, "B", 12, 155, 61.74 * 1024);
    ASSERT_EQ(CMidiFolio::GetPitchInfo(std::string("g 3"), &n), 1);  // blank before digits
    ExpectPitch(n, "G", 3, 43, 98.0);
    ASSERT_EQ(CMidiFolio::GetPitchInfo(std::string("E+2"), &n), 1);  // one sign allowed
    ExpectPitch(n, "E", 2, 28, 41.2);
    ASSERT_EQ(CMidiFolio::GetPitchInfo(std::string("F#1x"), &n), 1);  // stops at a non-digit
    ExpectPitch(n, "F#", 1, 18, 23.125);
}

TEST(PitchByName, AFlatIsReadAsItsLetterInOctaveZero) {
    // No flat names exist: "Db4" is D followed by the text "B4", which reads as octave 0.
    tagNoteMap n = Sentinel();
    ASSERT_EQ(CMidiFolio::GetPitchInfo(std::string("Db4"), &n), 1);
    ExpectPitch(n, "D", 0, 2, 36.71 / 4);
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
    tagNoteMap n = Sentinel();
    ASSERT_EQ(CMidiFolio::GetPitchInfo(440.0f, &n), 1);
    ExpectPitch(n, "A", 5, 69, 440.0);
    ASSERT_EQ(CMidiFolio::GetPitchInfo(445.0f, &n), 1);
    ExpectPitch(n, "A", 5, 69, 440.0);
    ASSERT_EQ(CMidiFolio::GetPitchInfo(20.0f, &n), 1);
    ExpectPitch(n, "D#", 1, 15, 19.445);
    ASSERT_EQ(CMidiFolio::GetPitchInfo(261.0f, &n), 1);
    ExpectPitch(n, "C", 5, 60, 261.6);
    ASSERT_EQ(CMidiFolio::GetPitchInfo(32.1f, &n), 1);  // below the first row: C
    ExpectPitch(n, "C", 2, 24, 32.7);
}

TEST(PitchByFrequency, TheGapBetweenTheBoundsIsNamedB) {
    // 63.5 Hz is halved below 32.0 and doubled back, so it stays above every row.
    tagNoteMap n = Sentinel();
    ASSERT_EQ(CMidiFolio::GetPitchInfo(63.5f, &n), 1);
    ExpectPitch(n, "B", 2, 35, 61.74);
    ASSERT_EQ(CMidiFolio::GetPitchInfo(31.99f, &n), 1);  // doubled to 63.98: B of octave 1
    ExpectPitch(n, "B", 1, 23, 30.87);
}

TEST(PitchByFrequency, ATieGoesToTheLowerNote) {
    // 47.625 lies exactly halfway between F# (46.25) and G (49.0).
    tagNoteMap n = Sentinel();
    ASSERT_EQ(CMidiFolio::GetPitchInfo(47.625f, &n), 1);
    ExpectPitch(n, "F#", 2, 30, 46.25);
    ASSERT_EQ(CMidiFolio::GetPitchInfo(190.5f, &n), 1);  // the same tie two octaves up
    ExpectPitch(n, "F#", 4, 54, 185.0);
    ASSERT_EQ(CMidiFolio::GetPitchInfo(std::nextafter(47.625f, 100.0f), &n), 1);
    ExpectPitch(n, "G", 2, 31, 49.0);
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

TEST(EasySymbol, OtherOctavesCarryTheirMarkBeforeTheSharp) {
    EXPECT_EQ(CMidiFolio::GetEasySymbol(72), "1'");
    EXPECT_EQ(CMidiFolio::GetEasySymbol(59), "7.");
    EXPECT_EQ(CMidiFolio::GetEasySymbol(84), "1\"");
    EXPECT_EQ(CMidiFolio::GetEasySymbol(12), "1!");
    EXPECT_EQ(CMidiFolio::GetEasySymbol(13), "1!#");
    EXPECT_EQ(CMidiFolio::GetEasySymbol(25), "1,#");
    EXPECT_EQ(CMidiFolio::GetEasySymbol(38), "2:");
    EXPECT_EQ(CMidiFolio::GetEasySymbol(54), "4.#");
    EXPECT_EQ(CMidiFolio::GetEasySymbol(82), "6'#");
    EXPECT_EQ(CMidiFolio::GetEasySymbol(96), "1^");
    EXPECT_EQ(CMidiFolio::GetEasySymbol(108), "1$");
    EXPECT_EQ(CMidiFolio::GetEasySymbol(119), "7$");
}

TEST(EasySymbol, OuterOctavesGiveTheBareDigitAndBeyondThemNothing) {
    EXPECT_EQ(CMidiFolio::GetEasySymbol(0), "1");
    EXPECT_EQ(CMidiFolio::GetEasySymbol(1), "1");  // no mark and no sharp sign
    EXPECT_EQ(CMidiFolio::GetEasySymbol(11), "7");
    EXPECT_EQ(CMidiFolio::GetEasySymbol(120), "1");
    EXPECT_EQ(CMidiFolio::GetEasySymbol(121), "1");
    EXPECT_EQ(CMidiFolio::GetEasySymbol(127), "5");
    EXPECT_EQ(CMidiFolio::GetEasySymbol(131), "7");
    for (int n : {132, 200, INT32_MAX, -1, -3, -12, -24, -25, INT32_MIN}) {
        EXPECT_EQ(CMidiFolio::GetEasySymbol(n), "") << n;
    }
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
