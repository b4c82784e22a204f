// `midifolio copy IN OUT`: read a song and write it again as a valid Standard MIDI File, and
// say what changed. A file that already is one is written byte for byte as it was.
#include <algorithm>
#include <string>
#include <vector>

#include "commands.h"

using namespace midifolio;

namespace mfcli {

namespace {

struct CopyFacts {
    std::string inName, outName;  // as given (GivenName)
    size_t bytesIn = 0, bytesOut = 0;
    int32_t format = 0;
    size_t tracks = 0;
    uint64_t eventsIn = 0, eventsOut = 0;
    bool identical = false;
    long long firstDifference = -1;
};

// What the copy holds, read again by the same reader: a written file always reads back.
uint64_t EventsOf(const std::vector<uint8_t>& bytes) {
    score::ReadReport report;
    score::ReadOptions options;
    options.notes = false;
    const score::Song again = score::Song::FromBytes(bytes, options, report);
    return report.ok() ? again.events() : 0;
}

void Report(const CopyOptions& o, const CopyFacts& f, Output& report) {
    if (o.common.json) {
        JsonWriter j(report, 2);
        j.BeginObject();
        j.Key("input").BeginObject().Field("file", f.inName).Field("bytes", f.bytesIn);
        j.Field("format", f.format)
            .Field("tracks", f.tracks)
            .Field("events", f.eventsIn)
            .EndObject();
        j.Key("output").BeginObject().Field("file", f.outName).Field("bytes", f.bytesOut);
        j.Field("loads", true).Field("events", f.eventsOut).EndObject();
        j.Field("identical", f.identical).Key("first_difference");
        f.identical ? j.Null() : j.Int(f.firstDifference);
        j.EndObject();
        return;
    }
    report << "Read    " << EscapeControls(f.inName) << ": format " << f.format << ", "
           << Plural(static_cast<long long>(f.tracks), "track") << ", "
           << Plural(static_cast<long long>(f.eventsIn), "event") << ", "
           << Plural(static_cast<long long>(f.bytesIn), "byte") << "\n";
    report << "Wrote   " << EscapeControls(f.outName) << ": "
           << Plural(static_cast<long long>(f.bytesOut), "byte") << ", loads again with "
           << Plural(static_cast<long long>(f.eventsOut), "event") << "\n";
    if (f.identical) {
        report << "Result  the copy is byte for byte the same as the original\n";
    } else {
        report << "Result  the copy differs from byte " << f.firstDifference << " on (" << f.bytesIn
               << " -> " << f.bytesOut << " bytes)\n";
    }
}

}  // namespace

int RunCopy(const CopyOptions& o) {
    InputSong input = ReadSong(o.in, o.common, false);
    const score::Song& song = input.Song();
    std::string error;
    const std::vector<uint8_t> written = song.Save(&error);
    if (!error.empty())
        throw Failure(input.Name() + ": cannot be written as a valid file: " + error);

    OutputTarget target(o.out);
    target.Out() << std::string_view(reinterpret_cast<const char*>(written.data()), written.size());
    target.Commit();

    CopyFacts f;
    f.inName = input.Given();
    f.outName = GivenName(o.out, "standard output");
    const std::vector<uint8_t>& original = song.bytes();
    f.bytesIn = original.size();
    f.bytesOut = written.size();
    f.format = song.format();
    f.tracks = song.tracks().size();
    f.eventsIn = song.events();
    f.eventsOut = EventsOf(written);
    const auto mismatch =
        std::mismatch(original.begin(), original.end(), written.begin(), written.end());
    f.identical = mismatch.first == original.end() && mismatch.second == written.end();
    f.firstDifference = f.identical ? -1 : mismatch.first - original.begin();
    // With the copy on standard output, the report goes to stderr.
    Output stderrOut(2, "standard error");
    Output& report = target.IsStdout() ? stderrOut : Stdout();
    Report(o, f, report);
    report.Flush();
    return kExitOk;
}

}  // namespace mfcli
