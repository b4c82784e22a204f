// `midifolio names program|drum|controller [N]`: the General MIDI names of programs, drums and
// controllers (with JSON, beside each controller the library's own type code).
#include <cstdio>

#include "commands.h"
#include "describe.h"

using namespace midifolio;

namespace mfcli {

namespace {

// The notes named as drums: the General MIDI key map (35..81) and the notes later General MIDI
// levels name around it.
constexpr int kNamedDrumFirst = 27;
constexpr int kNamedDrumLast = 87;

struct Row {
    int number;
    std::string name;
    int type;  // controllers only
};

}  // namespace

int RunNames(const NamesOptions& o) {
    const std::string& t = o.table;
    const bool program =
        t == "program" || t == "programs" || t == "instrument" || t == "instruments";
    const bool drum = t == "drum" || t == "drums";
    const bool controller = t == "controller" || t == "controllers" || t == "control";
    if (!program && !drum && !controller) {
        throw Failure("names: unknown table '" + Shown(t) + "' (use program, drum or controller)");
    }
    std::vector<std::string> numbers = o.numbers;
    if (numbers.empty()) {
        for (int n = drum ? kNamedDrumFirst : 0; n <= (drum ? kNamedDrumLast : 127); ++n)
            numbers.push_back(std::to_string(n));
    }
    // A number without a name is reported; the others are still named.
    int status = kExitOk;
    auto refuse = [&status](const std::string& why) {
        std::fprintf(stderr, "midifolio: %s\n", why.c_str());
        status = kExitFailure;
    };
    std::vector<Row> rows;
    for (const std::string& text : numbers) {
        long long value = 0;
        if (!ParseInteger(text, value, true)) {
            refuse("'" + Shown(text) + "' is not a number");
            continue;
        }
        const int n = value < -1 || value > 1000 ? -1 : static_cast<int>(value);
        const std::string shown = Shown(text);
        Row row{n, {}, 0};
        if (program) {
            row.name = n < 0 ? "" : names::ProgramName(n);
            if (row.name.empty()) {
                refuse("no General MIDI program " + shown + " (programs are 0..127)");
                continue;
            }
        } else if (drum) {
            row.name = n < 0 ? "" : names::DrumName(n);
            if (row.name.empty()) {
                refuse("no General MIDI drum on note " + shown +
                       Format(" (drums are notes %d..%d)", kNamedDrumFirst, kNamedDrumLast));
                continue;
            }
        } else {
            if (n < 0 || n > 127) {
                refuse("no controller " + shown + " (controllers are 0..127)");
                continue;
            }
            row.name = names::ControllerName(n);
            row.type = CMidiFolio::GetContrlMsg(static_cast<uint8_t>(n)).nType;
        }
        rows.push_back(row);
    }
    Output& out = Stdout();
    if (o.common.json) {
        JsonWriter j(out, 2);
        j.BeginArray();
        for (const Row& r : rows) {
            j.BeginObject();
            j.Field("number", r.number);
            j.Field("name", r.name);
            if (drum) j.Field("pitch", NoteName(r.number));
            if (controller) j.Field("type", r.type);
            j.EndObject();
        }
        j.EndArray();
        return status;
    }
    for (const Row& r : rows) {
        if (drum) {
            out << Format("%3d  %-4s  %s\n", r.number, NoteName(r.number).c_str(), r.name.c_str());
        } else if (controller) {
            out << Format("%3d  %s\n", r.number, r.name.c_str());
        } else {
            out << Format("%3d  %s\n", r.number, r.name.c_str());
        }
    }
    return status;
}

}  // namespace mfcli
