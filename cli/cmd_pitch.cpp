// `midifolio pitch VALUE`: a note name, note number or frequency, named every way: in
// scientific pitch notation (middle C is C4, or as --middle-c says), as a note number, as an
// equal-tempered frequency, in numbered notation, and as the library's own pitch record.
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <regex>

#include "commands.h"
#include "describe.h"
#include "text.h"

using namespace midifolio;

namespace mfcli {

namespace {

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

struct Reading {
    std::string kind;  // name, number, frequency
    int note = -1;
    double cents = 0;  // a frequency's distance from its note
};

Reading Read(const std::string& value, int middleC) {
    Reading r;
    double hz = 0;
    long long number = 0;
    if (ParseFrequency(value, hz)) {
        r.kind = "frequency";
        const double note = names::FrequencyNote(hz);
        if (std::isnan(note)) throw Failure("'" + Shown(value) + "' is not a frequency of a note");
        r.note = static_cast<int>(std::lround(note));
        r.cents = 100 * (note - r.note);
        if (r.note < 0 || r.note > 127)
            throw Failure("'" + Shown(value) +
                          "' lies outside the MIDI notes 0..127 (8.18 Hz .. 12543.85 Hz)");
        return r;
    }
    if (ParseInteger(value, number, true)) {
        r.kind = "number";
        if (number < 0 || number > 127)
            throw Failure(
                "'" + Shown(value) + "' is not a note number: notes are 0..127" +
                (number > 127 && number < 100000 ? "; did you mean " + value + "hz?" : ""));
        r.note = static_cast<int>(number);
        return r;
    }
    r.kind = "name";
    // A flat may be written B as well as b: after the letter a B can be nothing else.
    std::string name = value;
    const size_t letter = name.find_first_not_of(" \t");
    for (size_t i = letter == std::string::npos ? name.size() : letter + 1; i < name.size(); ++i)
        if (name[i] == 'B') name[i] = 'b';
    r.note = names::ParsePitchName(name, middleC);
    if (r.note < 0 && std::regex_match(name, std::regex(R"(\s*[A-Ga-g][#b]*[-+]?[0-9]+\s*)")))
        throw Failure("'" + Shown(value) + "' lies outside the MIDI notes 0..127 (" + NoteName(0) +
                      " .. " + NoteName(127) + ")");
    if (r.note < 0)
        throw Failure(
            "'" + Shown(value) + "' is not a pitch: give a note name with its octave (C4 is " +
            "middle C" + (middleC != names::kMiddleC ? " unless --middle-c says otherwise" : "") +
            "; C#4, Db4, E#4, Cb5), a note number from 0 to 127 (60) or a frequency (440hz)");
    return r;
}

}  // namespace

int RunPitch(const PitchOptions& o) {
    const Reading r = Read(o.value, MiddleC());
    const double frequency = names::NoteFrequency(r.note);
    tagNoteMap library{};
    CMidiFolio::GetPitchInfo(static_cast<int32_t>(r.note), &library);
    const std::string libraryName = std::string(library.szName) + std::to_string(library.byOctave);
    const std::string symbol = CMidiFolio::GetEasySymbol(r.note);
    const std::string pitch = NoteName(r.note);
    if (o.common.json) {
        JsonWriter j(Stdout(), 2);
        j.BeginObject();
        j.Field("input", o.value).Field("read_as", r.kind);
        j.Field("pitch", pitch).Field("middle_c", NoteName(60));
        j.Field("name", names::PitchClassName(r.note % 12));
        j.Field("octave", r.note / 12 + MiddleC() - 5);
        j.Field("note", r.note).Field("frequency", frequency);
        if (r.kind == "frequency") j.Field("cents", r.cents);
        j.Field("numbered", symbol);
        j.Key("library").BeginObject();
        j.Field("name", libraryName).Field("frequency", library.dFrequency);
        j.EndObject();
        j.EndObject();
        return kExitOk;
    }
    Output& out = Stdout();
    out << "Input       " << EscapeControls(o.value) << " (read as a " << r.kind << ")\n";
    out << "Pitch       " << pitch << " (middle C, note 60, is " << NoteName(60) << ")\n";
    out << "Note        " << r.note << "\n";
    out << "Frequency   " << Format("%.3f", frequency) << " Hz (equal temperament, " << NoteName(69)
        << " = 440 Hz)";
    if (r.kind == "frequency") out << Format("; %+.1f cents from the input", -r.cents);
    out << "\n";
    out << "Numbered    " << (symbol.empty() ? "-" : symbol) << "\n";
    out << "Library     " << libraryName << ", " << Format("%.3f", library.dFrequency)
        << " Hz (CMidiFolio::GetPitchInfo: octaves from middle C = C5, a table of 12 rounded "
           "pitches)\n";
    return kExitOk;
}

}  // namespace mfcli
