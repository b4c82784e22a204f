// `midifolio pitch VALUE`: a note name, note number or frequency, named every way the library can.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "commands.h"

using namespace midifolio;

namespace mfcli {

namespace {

constexpr const char* kPitchClasses[12] = {"C",  "C#", "D",  "D#", "E",  "F",
                                           "F#", "G",  "G#", "A",  "A#", "B"};

std::string Lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool AllDigits(const std::string& s, size_t from = 0) {
    if (from >= s.size()) return false;
    return std::all_of(s.begin() + static_cast<std::ptrdiff_t>(from), s.end(),
                       [](unsigned char c) { return std::isdigit(c) != 0; });
}

// "440hz", "440 Hz", "27.5Hz": the number in front of "hz", or false.
bool ParseFrequency(const std::string& s, double& hz) {
    const std::string lower = Lower(s);
    if (lower.size() < 3 || lower.compare(lower.size() - 2, 2, "hz") != 0) return false;
    std::string number = lower.substr(0, lower.size() - 2);
    while (!number.empty() && number.back() == ' ') number.pop_back();
    if (number.empty()) return false;
    char* end = nullptr;
    hz = std::strtod(number.c_str(), &end);
    return end != nullptr && *end == '\0' && std::isfinite(hz);
}

// A name with a flat ("Db4", "bb3", "EB5": the letter, b in any case, the octave) spelled with
// the sharp the library's names use ("C#4", "A#3", "D#5"); Cb goes down an octave to B. Empty
// when the text is not such a name (or the note would lie below octave 0).
std::string SharpSpelling(const std::string& text) {
    if (text.size() < 3 || (text[1] != 'b' && text[1] != 'B') || !AllDigits(text, 2)) return {};
    if (text.size() > 4) return {};
    static const int kLetterClass[7] = {9, 11, 0, 2, 4, 5, 7};  // A..G
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    if (letter < 'A' || letter > 'G') return {};
    int octave = std::atoi(text.c_str() + 2);
    int pitchClass = kLetterClass[letter - 'A'] - 1;
    if (pitchClass < 0) {
        pitchClass += 12;
        --octave;
    }
    if (octave < 0) return {};
    return kPitchClasses[pitchClass] + std::to_string(octave);
}

}  // namespace

int RunPitch(const PitchOptions& o) {
    const std::string& value = o.value;
    tagNoteMap map{};
    int ok = 0;
    std::string kind;
    std::string spelled;  // a flat's sharp spelling
    double hz = 0;
    long long number = 0;
    if (ParseFrequency(value, hz)) {
        kind = "frequency";
        ok = CMidiFolio::GetPitchInfo(hz, &map);
    } else if (ParseInteger(value, number, true) || AllDigits(value, value[0] == '-')) {
        kind = "number";
        if (!ParseInteger(value, number, true) || number < 0 || number > 127) {
            const bool hint = AllDigits(value) && value.size() <= 5;
            throw Failure("'" + Shown(value) + "' is not a note number: notes are 0..127" +
                          (hint ? "; did you mean " + value + "hz?" : ""));
        }
        ok = CMidiFolio::GetPitchInfo(static_cast<int32_t>(number), &map);
    } else {
        kind = "name";
        spelled = SharpSpelling(value);
        ok = CMidiFolio::GetPitchInfo(spelled.empty() ? value : spelled, &map);
    }
    if (ok != 1) {
        throw Failure("'" + Shown(value) +
                      "' is not a pitch the library knows: give a note name with its octave "
                      "(C#4, Db4, A5; octaves 0..10), a note number from 0 to 127 (60) or a "
                      "frequency (440hz)");
    }
    char name[sizeof map.szName + 1] = {};
    std::copy(std::begin(map.szName), std::end(map.szName), name);
    const int octave = static_cast<int8_t>(map.byOctave);
    const auto pitchClass = std::find_if(std::begin(kPitchClasses), std::end(kPitchClasses),
                                         [&](const char* c) { return std::string(c) == name; });
    // The note the name stands for, before the library keeps its low eight bits.
    const int note = octave * 12 + static_cast<int>(pitchClass - std::begin(kPitchClasses));
    if (note < 0 || note > 127) {
        throw Failure("'" + Shown(value) + "' lies outside the MIDI notes 0..127 (" +
                      (note < 0 ? "below C0, 8.18 Hz" : "above G10, 12543.9 Hz") + ")");
    }
    const std::string pitch = name + std::to_string(octave);
    const std::string scientific = name + std::to_string(octave - 1);
    const std::string symbol = CMidiFolio::GetEasySymbol(map.byNote);
    if (o.common.json) {
        JsonWriter j(Stdout(), 2);
        j.BeginObject();
        j.Field("input", value);
        j.Field("read_as", kind);
        j.Field("name", name);
        j.Field("octave", octave);
        j.Field("pitch", pitch);
        j.Field("scientific_octave", octave - 1);
        j.Field("scientific_pitch", scientific);
        j.Field("note", map.byNote);
        j.Field("frequency", map.dFrequency);
        j.Field("numbered", symbol);
        j.EndObject();
        return kExitOk;
    }
    Output& out = Stdout();
    out << "Input       " << value << " (read as a " << kind;
    if (!spelled.empty()) out << ", " << Shown(value) << " = " << spelled;
    out << ")\n";
    out << "Pitch       " << pitch << " (the library's octaves: middle C, note 60, is C5)\n";
    out << "Scientific  " << scientific << " (scientific octaves: middle C is C4)\n";
    out << "Note        " << static_cast<int>(map.byNote) << "\n";
    out << "Frequency   " << Format("%.3f", map.dFrequency) << " Hz\n";
    out << "Numbered    " << (symbol.empty() ? "-" : symbol) << "\n";
    return kExitOk;
}

}  // namespace mfcli
