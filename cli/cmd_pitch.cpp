// `midifolio pitch VALUE`: a note name, note number or frequency, named every way the library can.
#include <CLI/CLI.hpp>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <iostream>

#include "common.h"

using namespace midifolio;

namespace mfcli {

namespace {

struct PitchOptions {
    CommonOptions common;
    std::string value;
};

bool IsInteger(const std::string& s) {
    size_t i = (!s.empty() && (s[0] == '-' || s[0] == '+')) ? 1 : 0;
    if (i == s.size() || s.size() - i > 9) return false;
    for (; i < s.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
    }
    return true;
}

// "440hz", "440 Hz", "27.5Hz": the number in front of "hz", or false.
bool ParseFrequency(const std::string& s, double& hz) {
    std::string lower;
    for (char c : s) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.size() < 3 || lower.compare(lower.size() - 2, 2, "hz") != 0) return false;
    std::string number = lower.substr(0, lower.size() - 2);
    while (!number.empty() && number.back() == ' ') number.pop_back();
    if (number.empty()) return false;
    char* end = nullptr;
    hz = std::strtod(number.c_str(), &end);
    return end != nullptr && *end == '\0' && std::isfinite(hz);
}

int RunPitch(const PitchOptions& o) {
    tagNoteMap map{};
    int ok = 0;
    std::string kind;
    double hz = 0;
    if (ParseFrequency(o.value, hz)) {
        kind = "frequency";
        ok = CMidiFolio::GetPitchInfo(hz, &map);
    } else if (IsInteger(o.value)) {
        kind = "number";
        ok = CMidiFolio::GetPitchInfo(static_cast<int32_t>(std::atoi(o.value.c_str())), &map);
    } else {
        kind = "name";
        ok = CMidiFolio::GetPitchInfo(o.value, &map);
    }
    if (ok != 1) {
        throw Failure(
            "'" + o.value +
            "' is not a pitch the library knows: give a note name with its octave (C#4, "
            "A5; sharps only, octaves 0..12), a note number from 0 (60) or a frequency (440hz)");
    }
    char name[sizeof map.szName + 1] = {};
    std::copy(std::begin(map.szName), std::end(map.szName), name);
    const int octave = static_cast<int8_t>(map.byOctave);
    const std::string symbol = CMidiFolio::GetEasySymbol(map.byNote);
    if (o.common.json) {
        PrintJson({{"input", o.value},
                   {"read_as", kind},
                   {"name", name},
                   {"octave", octave},
                   {"pitch", std::string(name) + std::to_string(octave)},
                   {"note", map.byNote},
                   {"frequency", map.dFrequency},
                   {"numbered", symbol}});
        return kExitOk;
    }
    std::cout << "Input      " << o.value << " (read as a " << kind << ")\n";
    std::cout << "Pitch      " << name << octave << " (middle C, note 60, is C5)\n";
    std::cout << "Note       " << static_cast<int>(map.byNote) << "\n";
    std::cout << "Frequency  " << Format("%.3f", map.dFrequency) << " Hz\n";
    std::cout << "Numbered   " << (symbol.empty() ? "-" : symbol) << "\n";
    return kExitOk;
}

}  // namespace

void AddPitchCommand(CLI::App& app, Action& run) {
    auto o = std::make_shared<PitchOptions>();
    CLI::App* sub =
        app.add_subcommand("pitch",
                           "Turn a note name, note number or frequency into the others and "
                           "into numbered notation");
    sub->add_option("VALUE", o->value,
                    "A note name (C#4), a note number (60) or a frequency (440hz)")
        ->required();
    AddCommonOptions(*sub, o->common);
    sub->footer(
        "Octaves follow the library's numbering: note 60 (middle C) is C5 and A5 (note 69) is 440 "
        "Hz.\n"
        "A frequency is named by the nearest table pitch; the frequency shown is that pitch's "
        "own.\n"
        "Numbered notation writes the scale degree 1..7 with an octave mark (none for notes "
        "60..71).\n"
        "\n"
        "Examples:\n"
        "  midifolio pitch C#4\n"
        "  midifolio pitch 60\n"
        "  midifolio pitch 445hz --json");
    sub->callback([o, &run]() { run = [o]() { return RunPitch(*o); }; });
}

}  // namespace mfcli
