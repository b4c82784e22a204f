// Pitch names, note numbers and frequencies, and numbered notation (jianpu) symbols.
//
// Octaves follow this library's numbering: the octave of a note number is note / 12, so
// middle C (note 60) is C5 and A5 (note 69) is 440 Hz.
#include <array>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "midifolio/midi_folio.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace {

// The twelve pitch classes in octave 2, with the library's frequencies (rounded table
// values; every other octave is derived from them by powers of two).
constexpr std::array<tagNoteMap, 12> kPitchClasses = {{
    {"C", 2, 32.7, 24},
    {"C#", 2, 34.65, 25},
    {"D", 2, 36.71, 26},
    {"D#", 2, 38.89, 27},
    {"E", 2, 41.2, 28},
    {"F", 2, 43.65, 29},
    {"F#", 2, 46.25, 30},
    {"G", 2, 49.0, 31},
    {"G#", 2, 51.91, 32},
    {"A", 2, 55.0, 33},
    {"A#", 2, 58.27, 34},
    {"B", 2, 61.74, 35},
}};

// Octave marks of numbered notation 0..8; octave 4 is written with plain digits.
constexpr std::array<char, 9> kOctaveMarks = {'!', ',', ':', '.', ' ', '\'', '"', '^', '$'};

// Scale degree and sharp flag of each pitch class.
constexpr std::array<int, 12> kDegree = {1, 1, 2, 2, 3, 4, 4, 5, 5, 6, 6, 7};
constexpr std::array<bool, 12> kSharp = {false, true,  false, true,  false, false,
                                         true,  false, true,  false, true,  false};

// Values kept "in 8 bits": the low byte, as the record's fields store them.
uint8_t Low8(int64_t value) {
    return static_cast<uint8_t>(static_cast<uint64_t>(value) & 0xFF);
}
int8_t Signed8(int64_t value) {
    const uint8_t low = Low8(value);
    return static_cast<int8_t>(low < 128 ? static_cast<int>(low) : static_cast<int>(low) - 256);
}

// Fills the record for pitch class k in the given octave; the frequency is the table pitch.
void Fill(tagNoteMap* pNote, int k, int64_t octave, int64_t note) {
    std::memcpy(pNote->szName, kPitchClasses[static_cast<size_t>(k)].szName, sizeof pNote->szName);
    pNote->byOctave = Signed8(octave);
    pNote->byNote = Low8(note);
    pNote->dFrequency = std::pow(2.0, static_cast<double>(octave - 2)) *
                        kPitchClasses[static_cast<size_t>(k)].dFrequency;
}

// Decimal value of a short text in the manner of atoi: leading white space, one optional
// sign, digits up to the first non-digit; no digits give 0.
int ReadDecimal(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int value = 0;
    // The text is at most 3 characters long here, so the value cannot overflow.
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

}  // namespace

int CMidiFolio::GetPitchInfo(int32_t nNote, tagNoteMap* pNote) {
    if (pNote == nullptr || nNote < 0) return 0;
    const int k = nNote % 12;
    const int64_t octave = nNote / 12;
    Fill(pNote, k, octave, nNote);
    return 1;
}

int CMidiFolio::GetPitchInfo(std::string strName, tagNoteMap* pNote) {
    if (pNote == nullptr || strName.size() < 2 || strName.size() > 4) return 0;
    for (char& c : strName) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const size_t nameLength = strName.find('#') != std::string::npos ? 2 : 1;
    const int octave = ReadDecimal(strName.substr(nameLength));
    if (octave < 0 || octave > 12) return 0;
    const std::string name = strName.substr(0, nameLength);
    for (int k = 0; k < 12; ++k) {
        if (name == kPitchClasses[static_cast<size_t>(k)].szName) {
            Fill(pNote, k, octave, static_cast<int64_t>(octave) * 12 + k);
            return 1;
        }
    }
    return 0;
}

// The frequency is normalised into the table's octave (above 62.0 halved, below 32.0
// doubled), then named by the nearest table pitch, a tie going to the lower one. The two
// bounds are not an octave apart, so 62.0..64.0 stays above every row and is named B.
// Frequencies so extreme that the octave leaves the 8-bit range still give a defined record:
// the octave and note fields keep the low 8 bits, the frequency the exact table pitch.
int CMidiFolio::GetPitchInfo(float fFrequency, tagNoteMap* pNote) {
    if (pNote == nullptr || !std::isfinite(fFrequency) || fFrequency <= 0.0f) return 0;
    float f = fFrequency;
    int shift = 0;
    while (f > 62.0f) {
        f /= 2.0f;
        ++shift;
    }
    while (f < 32.0f) {
        f *= 2.0f;
        --shift;
    }
    int k = 11;
    for (int i = 0; i < 12; ++i) {
        if (kPitchClasses[static_cast<size_t>(i)].dFrequency > f) {
            if (i == 0) {
                k = 0;
            } else {
                const float d1 = static_cast<float>(f - kPitchClasses[i - 1].dFrequency);
                const float d2 = static_cast<float>(kPitchClasses[i].dFrequency - f);
                k = d1 <= d2 ? i - 1 : i;
            }
            break;
        }
    }
    const int64_t octave = static_cast<int64_t>(shift) + 2;
    Fill(pNote, k, octave, octave * 12 + k);
    return 1;
}

int CMidiFolio::GetPitchInfo(double dFrequency, tagNoteMap* pNote) {
    return GetPitchInfo(static_cast<float>(dFrequency), pNote);
}

// Numbered notation: degree 1..7 of the pitch class, with "#" for a sharp and one mark
// character for the octave (none in the octave of middle C). Notes 0..11 and 120..131 have
// no mark and are written as the bare digit. Negative notes and notes beyond 131 have no
// notation octave at all and give the empty string.
std::string CMidiFolio::GetEasySymbol(int32_t nNote) {
    const int k = nNote % 12;
    const int v = nNote / 12 - 1;
    if (k < 0 || k > 11) return {};
    const int degree = kDegree[static_cast<size_t>(k)];
    const bool sharp = kSharp[static_cast<size_t>(k)];
    if (v == 4) return std::to_string(degree) + (sharp ? "#" : "");
    if (v == -1 || v == 9) return std::to_string(degree);
    if (v < 0 || v > 8) return {};
    char text[8];
    std::snprintf(text, sizeof text, sharp ? "%d%c#" : "%d%c", degree,
                  kOctaveMarks[static_cast<size_t>(v)]);
    return text;
}

MIDIFOLIO_END_NAMESPACE
