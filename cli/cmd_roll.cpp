// `midifolio roll FILE -o roll.svg`: draw the song as a piano roll.
#include <memory>

#include "commands.h"
#include "describe.h"
#include "roll_svg.h"

using namespace midifolio;

namespace mfcli {

namespace {

std::string BaseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

int RunRoll(const RollOptions& o) {
    InputSong input = ReadSong(o.file, o.common);
    const std::string name = input.Name();
    RollModel model;
    model.title = BaseName(name);
    model.score = &input.Score();
    model.ticksPerQuarter = input.Score().time_map().ticks_per_quarter();
    for (int note = 0; note < 128; ++note) {
        const std::string drum = names::DrumName(note);
        if (!drum.empty()) model.drumNames.emplace_back(note, drum);
    }

    RollStats stats;
    uint64_t bytes = 0;
    if (IsStdio(o.out)) {
        stats = RenderRollSvg(model, o.width, Stdout());
        return kExitOk;
    }
    {
        OutputTarget file(o.out);
        Analysing busy(name, o.common);
        stats = RenderRollSvg(model, o.width, file.Out());
        bytes = file.Out().Written();
        file.Commit();
    }
    if (o.common.json) {
        JsonWriter j(Stdout(), 2);
        j.BeginObject();
        j.Field("file", name);
        j.Field("svg", o.out);
        j.Field("notes", stats.notes);
        j.Field("drum_strokes", stats.drumStrokes);
        j.Field("simplified", stats.simplified);
        j.Field("shapes", stats.shapes);
        j.Field("bytes", bytes);
        j.EndObject();
    } else {
        Stdout() << "Wrote " << o.out << ": " << Plural(static_cast<long long>(stats.notes), "note")
                 << " and " << Plural(static_cast<long long>(stats.drumStrokes), "drum stroke")
                 << ", " << Plural(static_cast<long long>(bytes), "byte");
        if (stats.simplified) {
            Stdout() << " (simplified: " << Plural(static_cast<long long>(stats.shapes), "shape")
                     << ")";
        }
        Stdout() << "\n";
    }
    return kExitOk;
}

}  // namespace mfcli
