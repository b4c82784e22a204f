// `midifolio scan DIR...`: analyse every MIDI file under some folders, one song per worker thread.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>

#include "commands.h"
#include "describe.h"

using namespace midifolio;
namespace fs = std::filesystem;

namespace mfcli {

namespace {

// One summary row per file: the library's answers (its milliseconds, its last time signature,
// its analyses) and the exact view's (midifolio::score). A value that cannot be found (the
// pitch range of a song without notes, seconds without ticks per quarter note) is left empty.
struct ScanRow {
    std::string path;
    bool ok = false;
    std::string message;  // the library's messages, joined with "; "
    std::string cause;    // why it was refused, in plain words
    std::string refusal;  // message and cause, as one line
    std::vector<std::string> warnings;
    int format = 0;
    int tracks = 0;
    int division = 0;
    int32_t endTicks = 0;
    double durationMs = 0;
    long events = 0;  // the file's own: the loader's tempo event not counted
    int tempos = 0;   // the file's own tempo events
    std::string timeSignature;
    int channels = 0;
    int instruments = 0;
    int drums = 0;
    bool percussionInRange = true;
    score::Summary summary;
};

bool HasMidiExtension(const fs::path& p) {
    std::string ext = p.extension().string();
    for (auto& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".mid" || ext == ".midi" || ext == ".kar" || ext == ".smf";
}

// Adds the MIDI files under a folder, its subfolders included (symbolic links to folders are
// not followed). A folder that cannot be read is reported in `problems` and skipped.
void CollectFolder(const fs::path& root, std::vector<std::string>& files,
                   std::vector<std::string>& problems) {
    std::vector<fs::path> pending{root};
    while (!pending.empty()) {
        const fs::path dir = pending.back();
        pending.pop_back();
        std::error_code ec;
        fs::directory_iterator it(dir, ec);
        if (ec) {
            problems.push_back(dir.string() + ": " + ec.message());
            continue;
        }
        for (const fs::directory_iterator end; it != end; it.increment(ec)) {
            std::error_code entryEc;
            const fs::file_status st = it->symlink_status(entryEc);
            if (fs::is_directory(st)) {
                pending.push_back(it->path());
            } else if (HasMidiExtension(it->path()) && it->is_regular_file(entryEc)) {
                files.push_back(it->path().string());
            }
        }
        if (ec) problems.push_back(dir.string() + ": " + ec.message());
    }
}

// Files named on the command line are taken whatever their name ("-" is standard input);
// folders are searched for files with a MIDI extension (.mid, .midi, .kar, .smf). Missing
// paths and unreadable folders are reported in `problems` and skipped.
std::vector<std::string> CollectFiles(const std::vector<std::string>& args,
                                      std::vector<std::string>& problems) {
    std::vector<std::string> files;
    for (const std::string& arg : args) {
        std::error_code ec;
        const fs::file_status st =
            IsStdio(arg) ? fs::file_status(fs::file_type::fifo) : fs::status(arg, ec);
        if (ec || !fs::exists(st)) {
            problems.push_back(arg + ": no such file or folder");
        } else if (fs::is_directory(st)) {
            CollectFolder(arg, files, problems);
        } else {
            files.push_back(arg);
        }
    }
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    return files;
}

ScanRow Analyse(const std::string& path, bool strict) {
    ScanRow row;
    row.path = InputName(path);
    LoadedSong loaded = LoadSong(path, nullptr);
    for (const auto& m : loaded.messages) row.message += (row.message.empty() ? "" : "; ") + m;
    for (const LoadNote& w : loaded.report.warnings) row.warnings.push_back(w.text);
    row.ok = loaded.ok;
    if (!loaded.ok) {
        if (row.message.empty()) row.message = "the file could not be loaded";
        if (loaded.report.stop != LoadStop::kCannotOpen) row.cause = loaded.report.cause;
        row.refusal = RefusalText(loaded);
        return row;
    }
    if (strict && !row.warnings.empty()) {
        row.ok = false;
        row.message = "refused under --strict: " +
                      Plural(static_cast<long long>(row.warnings.size()), "warning");
        row.cause = row.warnings.front();
        row.refusal = row.message + " (" + row.cause + ")";
        return row;
    }
    CMidiFolio& song = *loaded.song;
    const _MIDIHEAD head = song.GetMidiHeaderInfo();
    row.format = head.nFormat;
    row.tracks = head.nTracks;
    row.division = head.nDivision;
    const score::Score exact(song);
    row.endTicks = exact.end_tick();
    row.durationMs = TicksToMs(song, row.endTicks);
    row.events = static_cast<long>(exact.events());
    row.tempos = static_cast<int>(exact.tempos().size());
    row.summary = exact.summary();
    const _BAR bar = song.GetMidiTempo().GetBar();
    row.timeSignature = Format("%u/%u", bar.dwBaseBarNum, bar.dwBaseNoteNum);
    const ChannelSurvey survey = song.GetChannelSurvey();
    row.channels = survey.nChannels;
    row.instruments = static_cast<int>(survey.instruments.size());
    row.drums = static_cast<int>(survey.drums.size());
    row.percussionInRange = survey.bPercussionInRange == 1;
    return row;
}

std::string KeyText(const score::KeySignature& k) {
    return KeyName(static_cast<uint8_t>(k.sharps), k.minor ? 1 : 0);
}

std::string CsvField(const std::string& s) {
    if (s.find_first_of(",\"\n\r") == std::string::npos) return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

// The columns of the library's answers first, then those of the load report and the exact
// view.
const char* kCsvHeader =
    "file,status,message,format,tracks,division,ticks,duration_ms,events,tempo_changes,"
    "time_signature,channels,instruments,drums,percussion_in_gm_range,cause,warnings,notes,"
    "lowest_pitch,highest_pitch,duration_s,bars,programs,key_signatures,peak_polyphony";

std::string CsvRow(const ScanRow& r) {
    std::string row = CsvField(r.path) + (r.ok ? ",ok," : ",refused,") + CsvField(r.message);
    if (r.ok) {
        // The library gives -1 for milliseconds it cannot find (no ticks per quarter note).
        row += Format(",%d,%d,%d,%d,%s,%ld,%d,%s,%d,%d,%d,%s", r.format, r.tracks, r.division,
                      r.endTicks, r.durationMs < 0 ? "" : Format("%.0f", r.durationMs).c_str(),
                      r.events, r.tempos, r.timeSignature.c_str(), r.channels, r.instruments,
                      r.drums, r.percussionInRange ? "yes" : "no");
    } else {
        row += ",,,,,,,,,,,,";
    }
    row += "," + CsvField(r.cause) + "," + std::to_string(r.warnings.size());
    if (!r.ok) return row + ",,,,,,,,";
    const score::Summary& s = r.summary;
    std::string programs, keys;
    for (uint8_t p : s.programs) programs += (programs.empty() ? "" : " ") + std::to_string(p);
    for (const auto& k : s.keys) keys += (keys.empty() ? "" : ";") + KeyText(k);
    const bool notes = s.notes > 0;
    return row +
           Format(",%zu,%s,%s,%s,%d,", s.notes, notes ? std::to_string(s.lowest_pitch).c_str() : "",
                  notes ? std::to_string(s.highest_pitch).c_str() : "",
                  std::isnan(s.duration) ? "" : SecondsText(s.duration).c_str(), s.bars) +
           CsvField(programs) + "," + CsvField(keys) + "," + std::to_string(s.peak_polyphony);
}

const char* kTextHeader =
    "status   duration      fmt  trk   events    notes   bars  ch  inst  drums  poly  warn  file";

std::string TextRow(const ScanRow& r) {
    if (!r.ok) {
        return Format("refused  %-12s  %3s  %3s  %7s  %7s  %5s  %2s  %4s  %5s  %4s  %4zu  %s: %s",
                      "-", "-", "-", "-", "-", "-", "-", "-", "-", "-", r.warnings.size(),
                      r.path.c_str(), r.refusal.c_str());
    }
    const score::Summary& s = r.summary;
    return Format("ok       %-12s  %3d  %3d  %7ld  %7zu  %5d  %2d  %4d  %5d  %4u  %4zu  %s",
                  ClockSeconds(s.duration).c_str(), r.format, r.tracks, r.events, s.notes, s.bars,
                  r.channels, r.instruments, r.drums, s.peak_polyphony, r.warnings.size(),
                  r.path.c_str());
}

void WriteRowJson(JsonWriter& j, const ScanRow& r) {
    j.BeginObject();
    j.Field("file", r.path);
    j.Field("status", r.ok ? "ok" : "refused");
    j.Field("message", r.message);
    j.Key("cause");
    r.cause.empty() ? j.Null() : j.String(r.cause);
    j.Key("warnings").BeginArray();
    for (const std::string& w : r.warnings) j.String(w);
    j.EndArray();
    const score::Summary& s = r.summary;
    // A value that cannot be found is null.
    auto number = [&](const char* key, bool known, double value) {
        j.Key(key);
        known ? j.Double(value) : j.Null();
    };
    auto whole = [&](const char* key, bool known, long long value) {
        j.Key(key);
        known ? j.Int(value) : j.Null();
    };
    whole("format", r.ok, r.format);
    whole("tracks", r.ok, r.tracks);
    whole("division", r.ok, r.division);
    whole("ticks", r.ok, r.endTicks);
    number("duration_ms", r.ok && r.durationMs >= 0, r.durationMs);
    whole("events", r.ok, r.events);
    whole("tempo_changes", r.ok, r.tempos);
    j.Key("time_signature");
    r.ok ? j.String(r.timeSignature) : j.Null();
    whole("channels", r.ok, r.channels);
    whole("instruments", r.ok, r.instruments);
    whole("drums", r.ok, r.drums);
    j.Key("percussion_in_gm_range");
    r.ok ? j.Bool(r.percussionInRange) : j.Null();
    whole("notes", r.ok, static_cast<long long>(s.notes));
    whole("lowest_pitch", r.ok && s.notes > 0, s.lowest_pitch);
    whole("highest_pitch", r.ok && s.notes > 0, s.highest_pitch);
    number("duration_s", r.ok && !std::isnan(s.duration), s.duration);
    whole("bars", r.ok, s.bars);
    j.Key("programs");
    if (r.ok) {
        j.BeginArray();
        for (uint8_t p : s.programs) j.Int(p);
        j.EndArray();
    } else {
        j.Null();
    }
    j.Key("key_signatures");
    if (r.ok) {
        j.BeginArray();
        for (const auto& k : s.keys) j.String(KeyText(k));
        j.EndArray();
    } else {
        j.Null();
    }
    whole("peak_polyphony", r.ok, s.peak_polyphony);
    j.EndObject();
}

// The worker threads of a scan: each takes the next file from a shared counter (a song lives
// on one thread only) and hands its row over in file order. Going out of scope stops them
// after the files they are working on, so that an early end (a closed pipe) does not wait
// for the rest.
class Workers {
  public:
    Workers(const std::vector<std::string>& files, int jobs, bool strict)
        : files_(files), rows_(files.size()), done_(files.size(), 0) {
        for (int w = 0; w < jobs; ++w) {
            threads_.emplace_back([this, strict]() {
                for (size_t i = next_++; i < files_.size(); i = next_++) {
                    ScanRow row = Analyse(files_[i], strict);
                    std::lock_guard<std::mutex> lock(mutex_);
                    rows_[i] = std::move(row);
                    done_[i] = 1;
                    ready_.notify_all();
                }
            });
        }
    }
    ~Workers() {
        next_ = files_.size();
        for (auto& t : threads_) t.join();
    }
    // Row i, once it is done.
    const ScanRow& Row(size_t i) {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [&]() { return done_[i] != 0; });
        return rows_[i];
    }

  private:
    const std::vector<std::string>& files_;
    std::vector<ScanRow> rows_;
    std::vector<char> done_;
    std::atomic<size_t> next_{0};
    std::mutex mutex_;
    std::condition_variable ready_;
    std::vector<std::thread> threads_;
};

}  // namespace

int RunScan(const ScanOptions& o) {
    std::vector<std::string> problems;
    const std::vector<std::string> files = CollectFiles(o.paths, problems);
    for (const auto& m : problems) std::fprintf(stderr, "midifolio: %s\n", m.c_str());

    const size_t n = files.size();
    int jobs =
        o.jobs > 0 ? o.jobs : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    jobs = static_cast<int>(std::min<size_t>(static_cast<size_t>(jobs), std::max<size_t>(n, 1)));

    // Rows are printed in file order as soon as they and all before them are done.
    TerminalProgress progress("scanning", "", !o.common.noProgress);
    const bool text = !o.csv && !o.common.json;
    const bool stdoutIsTerminal = StdoutIsTerminal();
    Output& out = Stdout();
    JsonWriter json(out, 2);
    if (o.csv) out << kCsvHeader << "\n";
    if (text && n > 0) out << kTextHeader << "\n";
    if (o.common.json) json.BeginObject().Key("files").BeginArray();
    std::vector<std::pair<std::string, std::string>> refusedFiles, warnedFiles;
    size_t loaded = 0, warned = 0;
    {
        Workers workers(files, jobs, o.common.strict);
        progress.SetRange(0, static_cast<int>(n));
        for (size_t i = 0; i < n; ++i) {
            // The bar names the file whose row comes next.
            progress.SetDetail(InputName(files[i]));
            progress.SetDone(static_cast<int>(i));
            const ScanRow& r = workers.Row(i);
            if (r.ok) {
                ++loaded;
            } else {
                refusedFiles.emplace_back(r.path, r.refusal);
            }
            warned += !r.warnings.empty();
            for (const std::string& w : r.warnings) warnedFiles.emplace_back(r.path, w);
            if (stdoutIsTerminal && !o.common.json) progress.Clear();
            if (o.csv) {
                out << CsvRow(r) << "\n";
            } else if (o.common.json) {
                WriteRowJson(json, r);
            } else {
                out << TextRow(r) << "\n";
            }
        }
        progress.SetDetail("");
        progress.SetDone(static_cast<int>(n));
    }
    progress.Clear();

    const size_t refused = n - loaded;
    if (o.common.json) {
        json.EndArray();
        json.Field("scanned", n);
        json.Field("loaded", loaded);
        json.Field("refused", refused);
        json.Field("with_warnings", warned);
        json.Field("jobs", jobs);
        json.EndObject();
    } else {
        // With --csv the summary goes to stderr, so that stdout stays one clean table.
        Output stderrOut(STDERR_FILENO, "standard error");
        Output& summary = o.csv ? stderrOut : out;
        summary << (text ? "\n" : "") << Plural(static_cast<long long>(n), "file")
                << " scanned with " << Plural(jobs, "job") << ": " << loaded << " loaded, "
                << refused << " refused, " << warned << " with warnings\n";
        for (const auto& [path, message] : refusedFiles) {
            summary << "  refused " << path << ": " << message << "\n";
        }
        for (const auto& [path, warning] : warnedFiles) {
            summary << "  warning " << path << ": " << warning << "\n";
        }
        summary.Flush();
    }
    // Under --strict, a file read with warnings is an error.
    return problems.empty() && !(o.common.strict && warned > 0) ? kExitOk : kExitFailure;
}

}  // namespace mfcli
