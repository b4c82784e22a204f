// `midifolio names program|drum|controller [N]`: the General MIDI names the library knows.
#include <CLI/CLI.hpp>
#include <iostream>

#include "common.h"
#include "describe.h"

using namespace midifolio;

namespace mfcli {

namespace {

struct NamesOptions {
    CommonOptions common;
    std::string table;
    std::vector<int> numbers;
};

struct Row {
    int number;
    std::string name;
    int type;  // controllers only
};

int RunNames(const NamesOptions& o) {
    const std::string& t = o.table;
    const bool program =
        t == "program" || t == "programs" || t == "instrument" || t == "instruments";
    const bool drum = t == "drum" || t == "drums";
    const bool controller = t == "controller" || t == "controllers" || t == "control";
    if (!program && !drum && !controller) {
        throw Failure("names: unknown table '" + t + "' (use program, drum or controller)");
    }
    std::vector<int> numbers = o.numbers;
    if (numbers.empty()) {
        for (int n = drum ? 27 : 0; n <= (drum ? 87 : 127); ++n) numbers.push_back(n);
    }
    std::vector<Row> rows;
    for (int n : numbers) {
        Row row{n, {}, 0};
        if (program) {
            row.name = CMidiFolio::GetInstName(n);
            if (row.name.empty())
                throw Failure(Format("no General MIDI program %d (programs are 0..127)", n));
        } else if (drum) {
            row.name = CMidiFolio::GetDrumName(n);
            if (row.name.empty())
                throw Failure(
                    Format("no General MIDI drum on note %d (drums are notes 27..87)", n));
        } else {
            if (n < 0 || n > 127)
                throw Failure(Format("no controller %d (controllers are 0..127)", n));
            const _MIDI_CONTROL_MSG msg = CMidiFolio::GetContrlMsg(static_cast<uint8_t>(n));
            row.name = msg.lpszName ? msg.lpszName : "";
            row.type = msg.nType;
        }
        rows.push_back(row);
    }
    if (o.common.json) {
        Json list = Json::array();
        for (const Row& r : rows) {
            Json j{{"number", r.number}, {"name", r.name}};
            if (drum) j["pitch"] = NoteName(r.number);
            if (controller) j["type"] = r.type;
            list.push_back(j);
        }
        PrintJson(list);
        return kExitOk;
    }
    for (const Row& r : rows) {
        if (drum) {
            std::cout << Format("%3d  %-4s  %s\n", r.number, NoteName(r.number).c_str(),
                                r.name.c_str());
        } else if (controller) {
            std::cout << Format("%3d  %s  (type %d)\n", r.number, ControllerName(r.number).c_str(),
                                r.type);
        } else {
            std::cout << Format("%3d  %s\n", r.number, r.name.c_str());
        }
    }
    return kExitOk;
}

}  // namespace

void AddNamesCommand(CLI::App& app, Action& run) {
    auto o = std::make_shared<NamesOptions>();
    CLI::App* sub =
        app.add_subcommand("names", "Name General MIDI programs, drums and controllers");
    sub->add_option("TABLE", o->table, "program, drum or controller")->required();
    sub->add_option("N", o->numbers, "Numbers to name (all of the table when none is given)");
    AddCommonOptions(*sub, o->common);
    sub->footer(
        "Programs are numbered 0..127 as in the file (General MIDI lists often count 1..128).\n"
        "Drums are note numbers 27..87 on channel 10; controllers 0..127 with the library's type "
        "code.\n"
        "\n"
        "Examples:\n"
        "  midifolio names program 0 40 73\n"
        "  midifolio names drum\n"
        "  midifolio names controller 64 --json");
    sub->callback([o, &run]() { run = [o]() { return RunNames(*o); }; });
}

}  // namespace mfcli
