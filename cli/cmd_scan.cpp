// `midifolio scan DIR...`: analyse every MIDI file under some folders, one song per worker thread.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <thread>

#include "common.h"

using namespace midifolio;
namespace fs = std::filesystem;

namespace mfcli {

namespace {

struct ScanOptions {
    CommonOptions common;
    std::vector<std::string> paths;
    int jobs = 0;  // 0: one per core
    bool csv = false;
};

// One summary row per file.
struct ScanRow {
    std::string path;
    bool ok = false;
    std::string message;  // the library's messages, joined with "; "
    int format = 0;
    int tracks = 0;
    int division = 0;
    int32_t endTicks = 0;
    double durationMs = 0;
    long events = 0;
    int tempos = 0;
    std::string timeSignature;
    int channels = 0;
    int instruments = 0;
    int drums = 0;
    bool percussionInRange = true;
};

bool HasMidiExtension(const fs::path& p) {
    std::string ext = p.extension().string();
    for (auto& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".mid" || ext == ".midi" || ext == ".kar" || ext == ".smf";
}

// Files named on the command line are taken whatever their name; folders are searched for files
// with a MIDI extension (.mid, .midi, .kar, .smf). Missing paths are reported and skipped.
std::vector<std::string> CollectFiles(const std::vector<std::string>& args,
                                      std::vector<std::string>& missing) {
    std::vector<std::string> files;
    for (const std::string& arg : args) {
        std::error_code ec;
        const fs::file_status st = fs::status(arg, ec);
        if (ec || !fs::exists(st)) {
            missing.push_back(arg + ": no such file or folder");
            continue;
        }
        if (!fs::is_directory(st)) {
            files.push_back(arg);
            continue;
        }
        fs::recursive_directory_iterator it(arg, fs::directory_options::skip_permission_denied, ec);
        if (ec) {
            missing.push_back(arg + ": " + ec.message());
            continue;
        }
        for (const fs::recursive_directory_iterator end; it != end; it.increment(ec)) {
            if (ec) break;
            std::error_code fileEc;
            if (it->is_regular_file(fileEc) && HasMidiExtension(it->path()))
                files.push_back(it->path().string());
        }
    }
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    return files;
}

ScanRow Analyse(const std::string& path) {
    ScanRow row;
    row.path = path;
    LoadedSong loaded = LoadSong(path, nullptr);
    for (const auto& m : loaded.messages) row.message += (row.message.empty() ? "" : "; ") + m;
    row.ok = loaded.ok;
    if (!loaded.ok) {
        if (row.message.empty()) row.message = "the file could not be loaded";
        return row;
    }
    CMidiFolio& song = *loaded.song;
    const _MIDIHEAD head = song.GetMidiHeaderInfo();
    row.format = head.nFormat;
    row.tracks = head.nTracks;
    row.division = head.nDivision;
    row.endTicks = SongEndTicks(song);
    row.durationMs = TicksToMs(song, row.endTicks);
    for (int i = 0; i < static_cast<int>(song.GetTrackNum()); ++i) {
        if (const CMidiTrack* t = song.GetTrack(i)) row.events += t->GetCount();
    }
    row.tempos = static_cast<int>(song.GetMidiTempo().GetTempos().size());
    const _BAR bar = song.GetMidiTempo().GetBar();
    row.timeSignature = Format("%u/%u", bar.dwBaseBarNum, bar.dwBaseNoteNum);
    row.channels = song.GetTotalChannels();
    InstrumentArray instruments;
    song.GetInstrument(instruments);
    row.instruments = static_cast<int>(instruments.size());
    DrumArray drums;
    song.GetDrums(drums, 1);
    row.drums = static_cast<int>(drums.size());
    row.percussionInRange = song.GetIsPercussionInRange() == 1;
    return row;
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

const char* kCsvHeader =
    "file,status,message,format,tracks,division,ticks,duration_ms,events,tempo_changes,time_"
    "signature,"
    "channels,instruments,drums,percussion_in_gm_range";

std::string CsvRow(const ScanRow& r) {
    if (!r.ok) return CsvField(r.path) + ",refused," + CsvField(r.message) + ",,,,,,,,,,,,";
    return CsvField(r.path) + ",ok," + CsvField(r.message) +
           Format(",%d,%d,%d,%d,%.0f,%ld,%d,%s,%d,%d,%d,%s", r.format, r.tracks, r.division,
                  r.endTicks, r.durationMs, r.events, r.tempos, r.timeSignature.c_str(), r.channels,
                  r.instruments, r.drums, r.percussionInRange ? "yes" : "no");
}

const char* kTextHeader = "status   duration      fmt  trk   events  ch  inst  drums  file";

std::string TextRow(const ScanRow& r) {
    if (!r.ok)
        return Format("refused  %-12s  %3s  %3s  %7s  %2s  %4s  %5s  %s: %s", "-", "-", "-", "-",
                      "-", "-", "-", r.path.c_str(), r.message.c_str());
    return Format("ok       %-12s  %3d  %3d  %7ld  %2d  %4d  %5d  %s",
                  ClockMs(r.durationMs).c_str(), r.format, r.tracks, r.events, r.channels,
                  r.instruments, r.drums, r.path.c_str());
}

Json RowJson(const ScanRow& r) {
    Json j{{"file", r.path}, {"status", r.ok ? "ok" : "refused"}, {"message", r.message}};
    if (r.ok) {
        j["format"] = r.format;
        j["tracks"] = r.tracks;
        j["division"] = r.division;
        j["ticks"] = r.endTicks;
        j["duration_ms"] = r.durationMs;
        j["events"] = r.events;
        j["tempo_changes"] = r.tempos;
        j["time_signature"] = r.timeSignature;
        j["channels"] = r.channels;
        j["instruments"] = r.instruments;
        j["drums"] = r.drums;
        j["percussion_in_gm_range"] = r.percussionInRange;
    }
    return j;
}

int RunScan(const ScanOptions& o) {
    std::vector<std::string> missing;
    const std::vector<std::string> files = CollectFiles(o.paths, missing);
    for (const auto& m : missing) std::fprintf(stderr, "midifolio: %s\n", m.c_str());

    const size_t n = files.size();
    int jobs =
        o.jobs > 0 ? o.jobs : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    jobs = static_cast<int>(std::min<size_t>(static_cast<size_t>(jobs), std::max<size_t>(n, 1)));

    // Workers take the next file from a shared counter; each song lives on one thread only.
    std::vector<ScanRow> rows(n);
    std::vector<char> done(n, 0);
    std::atomic<size_t> next{0};
    std::mutex mutex;
    std::condition_variable ready;
    std::vector<std::thread> workers;
    for (int w = 0; w < jobs; ++w) {
        workers.emplace_back([&]() {
            for (size_t i = next++; i < n; i = next++) {
                ScanRow row = Analyse(files[i]);
                std::lock_guard<std::mutex> lock(mutex);
                rows[i] = std::move(row);
                done[i] = 1;
                ready.notify_one();
            }
        });
    }

    // Rows are printed in file order as soon as they and all before them are done.
    TerminalProgress progress("scanning", !o.common.noProgress);
    const bool text = !o.csv && !o.common.json;
    const bool stdoutIsTerminal = StdoutIsTerminal();
    if (o.csv) std::cout << kCsvHeader << "\n";
    if (text && n > 0) std::cout << kTextHeader << "\n";
    progress.SetRange(0, static_cast<int>(n));
    Json list = Json::array();
    size_t loaded = 0;
    for (size_t i = 0; i < n; ++i) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            ready.wait(lock, [&]() { return done[i] != 0; });
        }
        const ScanRow& r = rows[i];
        if (r.ok) ++loaded;
        if (stdoutIsTerminal && !o.common.json) progress.Clear();
        if (o.csv) {
            std::cout << CsvRow(r) << "\n";
        } else if (o.common.json) {
            list.push_back(RowJson(r));
        } else {
            std::cout << TextRow(r) << "\n";
        }
        if (stdoutIsTerminal) std::cout.flush();
        progress.SetDone(static_cast<int>(i + 1));
    }
    for (auto& t : workers) t.join();
    progress.Clear();

    const size_t refused = n - loaded;
    if (o.common.json) {
        Json j;
        j["files"] = list;
        j["scanned"] = n;
        j["loaded"] = loaded;
        j["refused"] = refused;
        j["jobs"] = jobs;
        PrintJson(j);
    } else {
        // With --csv the summary goes to stderr, so that stdout stays one clean table.
        FILE* out = o.csv ? stderr : stdout;
        std::fflush(stdout);
        std::fprintf(out, "%s%zu file%s scanned with %d job%s: %zu loaded, %zu refused\n",
                     text ? "\n" : "", n, n == 1 ? "" : "s", jobs, jobs == 1 ? "" : "s", loaded,
                     refused);
        for (const ScanRow& r : rows) {
            if (!r.ok) std::fprintf(out, "  refused %s: %s\n", r.path.c_str(), r.message.c_str());
        }
    }
    return missing.empty() ? kExitOk : kExitFailure;
}

}  // namespace

void AddScanCommand(CLI::App& app, Action& run) {
    auto o = std::make_shared<ScanOptions>();
    CLI::App* sub =
        app.add_subcommand("scan",
                           "Analyse every MIDI file under some folders in parallel: one row per "
                           "file, then the files loaded and refused");
    sub->add_option("DIR", o->paths, "Folders to search (and single files to include)")->required();
    sub->add_option("-j,--jobs", o->jobs, "Worker threads, one song each (default: one per core)")
        ->check(CLI::Range(1, 1024));
    sub->add_flag("--csv", o->csv, "Print the rows as CSV (the final counts then go to stderr)");
    AddCommonOptions(*sub, o->common);
    sub->get_option("--csv")->excludes(sub->get_option("--json"));
    sub->footer(
        "Folders are searched recursively for .mid, .midi, .kar and .smf files. A refused file "
        "gets\n"
        "the library's message and the scan goes on; the exit status is 0 unless a path is "
        "missing.\n"
        "\n"
        "Examples:\n"
        "  midifolio scan ~/music\n"
        "  midifolio scan corpus/ more/ --jobs 8 --csv > songs.csv\n"
        "  midifolio scan corpus/ --json | jq '.files[] | select(.status == \"refused\")'");
    sub->callback([o, &run]() { run = [o]() { return RunScan(*o); }; });
}

}  // namespace mfcli
