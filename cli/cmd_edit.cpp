// `midifolio edit IN OUT`, `merge A B ... -o OUT` and `split IN -o DIR`: changes of songs made
// by the library's edits (midifolio/edit.h); every file written is valid.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "commands.h"
#include "times.h"

using namespace midifolio;

namespace mfcli {

namespace {

// "1,3-5" of numbers from 1 to `most`, as indices from 0.
std::vector<int> ParseList(const std::string& text, const std::string& option, int most) {
    std::vector<int> out;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::pair<int, int> range = ParseRange(
            text.substr(start, comma == std::string::npos ? comma : comma - start), option);
        if (range.second > most)
            throw Failure(option + ": " + std::to_string(range.second) + " is beyond " +
                          std::to_string(most));
        for (int v = range.first; v <= range.second; ++v) out.push_back(v - 1);
        if (comma == std::string::npos) return out;
        start = comma + 1;
    }
}

// What an edit changed, as `copy` reports it.
struct Facts {
    uint64_t events;
    size_t notes;
    double seconds;
    size_t tracks;
};

Facts FactsOf(const score::Song& song) {
    const score::Score s(song);
    return {song.events(), s.notes().size(), s.duration(), song.tracks().size()};
}

void Check(const std::string& step, const std::string& error) {
    if (!error.empty()) throw Failure(step + ": " + error);
}

// The edits, in the order the help text gives.
score::Song Apply(const EditOptions& o, InputSong& input, std::vector<std::string>& done) {
    score::Song song = input.Song();
    std::string error;
    if (!o.tracks.empty() || !o.channels.empty()) {
        score::Selection sel;
        if (!o.tracks.empty())
            sel.tracks = ParseList(o.tracks, "--tracks", static_cast<int>(song.tracks().size()));
        if (!o.channels.empty()) sel.channels = ParseList(o.channels, "--channels", 16);
        song = score::Select(song, sel, &error);
        Check("--tracks/--channels", error);
        done.push_back("kept the chosen tracks and channels");
    }
    if (!o.from.empty() || !o.to.empty() || !o.measures.empty()) {
        const TickRange range = ResolveRange(o.from, o.to, o.measures, input);
        // A crop is [from, end): a note starting at --to is not kept.
        const int64_t end = range.end < 0 ? input.Score().end_tick() + 1 : range.end;
        if (range.none || end <= range.from) throw Failure("the stretch to keep is empty");
        song = score::Crop(song, range.from, end, &error);
        Check("the crop", error);
        done.push_back(Format("cropped to ticks %lld..%lld", static_cast<long long>(range.from),
                              static_cast<long long>(end - 1)));
    }
    if (o.transpose != 0) {
        song = score::Transpose(song, o.transpose, o.drums, &error);
        Check("--transpose", error);
        done.push_back(Format("transposed by %+d semitones", o.transpose));
    }
    if (!o.quantize.empty()) {
        const int64_t grid = score::GridTicks(o.quantize, song.division().ticks_per_quarter());
        if (grid <= 0)
            throw Failure("--quantize wants ticks or a note value such as 1/16, not '" +
                          Shown(o.quantize) + "'");
        song = score::Quantize(song, grid, true, &error);
        Check("--quantize", error);
        done.push_back("quantized to " + Plural(static_cast<long long>(grid), "tick"));
    }
    if (o.tempoScale != 0) {
        song = score::ScaleTempo(song, o.tempoScale, &error);
        Check("--tempo-scale", error);
        done.push_back(Format("tempo scaled by %g", o.tempoScale));
    }
    if (o.resample != 0) {
        song = score::Resample(song, o.resample, &error);
        Check("--resample", error);
        done.push_back("resampled to " + Plural(o.resample, "tick") + " per quarter note");
    }
    if (o.format >= 0) {
        song = score::SetFormat(song, o.format, &error);
        Check("--format", error);
        done.push_back(Format("written as format %d", o.format));
    }
    return song;
}

void Write(const score::Song& song, const std::string& out, std::string name) {
    std::string error;
    const std::vector<uint8_t> bytes = song.Save(&error);
    if (!error.empty()) throw Failure(name + ": cannot be written: " + error);
    OutputTarget target(out);
    target.Out() << std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    target.Commit();
}

void ReportChange(const CommonOptions& common, bool toStdout, const std::string& in,
                  const std::string& out, const Facts& before, const Facts& after,
                  const std::vector<std::string>& done) {
    Output stderrOut(2, "standard error");
    Output& report = toStdout ? stderrOut : Stdout();
    if (common.json) {
        JsonWriter j(report, 2);
        j.BeginObject().Field("input", in).Field("output", out);
        j.Key("edits").BeginArray();
        for (const std::string& d : done) j.String(d);
        j.EndArray();
        for (const auto& [key, f] :
             {std::pair<const char*, const Facts*>{"before", &before}, {"after", &after}}) {
            j.Key(key).BeginObject().Field("tracks", f->tracks).Field("events", f->events);
            j.Field("notes", f->notes).Field("seconds", f->seconds).EndObject();
        }
        j.EndObject();
    } else {
        for (const std::string& d : done) report << "Edit    " << d << "\n";
        auto line = [&](const char* label, const std::string& file, const Facts& f) {
            report << label << file << ": " << Plural(static_cast<long long>(f.tracks), "track")
                   << ", " << Plural(static_cast<long long>(f.events), "event") << ", "
                   << Plural(static_cast<long long>(f.notes), "note") << ", "
                   << ClockSeconds(f.seconds) << "\n";
        };
        line("Read    ", EscapeControls(in), before);
        line("Wrote   ", EscapeControls(out), after);
    }
    report.Flush();
}

}  // namespace

int RunEdit(const EditOptions& o) {
    InputSong input = ReadSong(o.in, o.common);
    std::vector<std::string> done;
    const score::Song edited = Apply(o, input, done);
    Write(edited, o.out, input.Name());
    ReportChange(o.common, IsStdio(o.out), input.Given(), GivenName(o.out, "standard output"),
                 FactsOf(input.Song()), FactsOf(edited), done);
    return kExitOk;
}

int RunMerge(const MergeOptions& o) {
    std::vector<score::Song> songs;
    size_t events = 0;
    for (const std::string& path : o.in) {
        songs.push_back(ReadSong(path, o.common, false).Song());
        events += songs.back().events();
    }
    std::string error;
    const score::Song merged = score::Merge(songs, &error);
    Check("merge", error);
    Write(merged, o.out, "the merged song");
    Output stderrOut(2, "standard error");
    Output& report = IsStdio(o.out) ? stderrOut : Stdout();
    const std::string outName = GivenName(o.out, "standard output");
    if (o.common.json) {
        JsonWriter j(report, 2);
        j.BeginObject().Field("songs", songs.size()).Field("output", outName);
        j.Field("tracks", merged.tracks().size()).Field("events", merged.events()).EndObject();
    } else {
        report << "Merged  " << Plural(static_cast<long long>(songs.size()), "song") << " into "
               << EscapeControls(outName) << ": "
               << Plural(static_cast<long long>(merged.tracks().size()), "track") << ", "
               << Plural(static_cast<long long>(merged.events()), "event") << "\n";
    }
    report.Flush();
    return kExitOk;
}

int RunSplit(const SplitOptions& o) {
    if (o.by != "track" && o.by != "channel")
        throw Failure("--by wants track or channel, not '" + Shown(o.by) + "'");
    InputSong input = ReadSong(o.in, o.common, false);
    struct stat st {};
    if (::stat(o.dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw Failure(EscapeControls(o.dir) + ": " +
                      (errno != 0 && ::stat(o.dir.c_str(), &st) != 0 ? std::strerror(errno)
                                                                     : "not a folder"));
    std::vector<std::string> labels;
    std::string error;
    const std::vector<score::Song> parts = score::Split(
        input.Song(), o.by == "track" ? score::SplitBy::kTrack : score::SplitBy::kChannel, &labels,
        &error);
    Check("split", error);
    std::string base = IsStdio(o.in) ? "song" : o.in.substr(o.in.find_last_of('/') + 1);
    if (base.size() > 4 && base.compare(base.size() - 4, 4, ".mid") == 0)
        base.resize(base.size() - 4);
    JsonWriter j(Stdout(), 2);
    if (o.common.json) j.BeginArray();
    for (size_t k = 0; k < parts.size(); ++k) {
        std::string label = labels[k];
        for (char& c : label) c = c == ' ' ? '-' : c;
        const std::string path = o.dir + "/" + base + "-" + label + ".mid";
        Write(parts[k], path, path);
        if (o.common.json) {
            j.BeginObject().Field("part", labels[k]).Field("file", path);
            j.Field("events", parts[k].events()).EndObject();
        } else {
            Stdout() << "Wrote   " << EscapeControls(path) << " (" << labels[k] << ", "
                     << Plural(static_cast<long long>(parts[k].events()), "event") << ")\n";
        }
    }
    if (o.common.json) j.EndArray();
    if (parts.empty())
        std::fprintf(stderr, "midifolio: %s: no %s with channel events: nothing written\n",
                     input.Name().c_str(), o.by.c_str());
    return kExitOk;
}

}  // namespace mfcli
