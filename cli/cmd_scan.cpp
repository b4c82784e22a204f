// `midifolio scan DIR...`: analyse every MIDI file under some folders, one song per worker thread.
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bitset>
#include <cctype>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include "commands.h"
#include "describe.h"
#include "times.h"

using namespace midifolio;
namespace fs = std::filesystem;

namespace mfcli {

namespace {

// One summary row per file, from the exact view (midifolio::score). A value that cannot be
// found (the pitch range of a song without notes) is left empty.
struct ScanRow {
    std::string path;  // as given (GivenName); escaped where text and CSV show it
    bool ok = false;
    std::string message;  // why it was refused ("damaged", "not a MIDI file", ...)
    std::string cause;    // in plain words
    std::string refusal;  // message and cause, as one line
    std::vector<std::string> warnings;
    int format = 0;
    size_t tracks = 0;
    int division = 0;
    int64_t endTicks = 0;
    uint64_t events = 0;
    size_t tempos = 0;  // the file's tempo events
    int channels = 0;
    std::vector<score::Instrument> instruments;
    int drums = 0;  // drum notes struck
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
            problems.push_back(EscapeControls(dir.string()) + ": " + ec.message());
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
        if (ec) problems.push_back(EscapeControls(dir.string()) + ": " + ec.message());
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
            problems.push_back(EscapeControls(arg) + ": no such file or folder");
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

void Refuse(ScanRow& row, const std::string& message, const std::string& cause) {
    row.ok = false;
    row.message = message;
    row.cause = cause;
    row.refusal = cause.empty() || cause == message ? message : message + ": " + cause;
}

ScanRow Analyse(const std::string& path, const CommonOptions& options, uint64_t budget) {
    ScanRow row;
    row.path = GivenName(path);
    score::ReadOptions read;
    read.recover = options.recover;
    read.max_memory = budget;
    score::ReadReport report;
    const score::Song song = score::Song::Load(IsStdio(path) ? "/dev/stdin" : path, read, report);
    for (const score::ReadIssue& w : report.warnings) row.warnings.push_back(w.text);
    for (const score::ReadIssue& d : report.dropped) row.warnings.push_back("left out: " + d.text);
    if (!report.ok()) {
        Refuse(row, report.message,
               report.status == score::ReadStatus::kCannotOpen ? "" : report.cause);
        return row;
    }
    if (options.strict && !row.warnings.empty()) {
        Refuse(row,
               "refused under --strict: " +
                   Plural(static_cast<long long>(row.warnings.size()), "warning"),
               row.warnings.front());
        return row;
    }
    row.ok = true;
    const score::Score exact(song);
    row.format = song.format();
    row.tracks = song.tracks().size();
    row.division = song.division().word;
    row.endTicks = exact.end_tick();
    row.events = exact.event_count();
    row.tempos = exact.tempos().size();
    score::Survey survey = exact.survey();
    row.summary = std::move(survey.summary);
    row.instruments = std::move(survey.instruments);
    // Every note belongs to an instrument of its channel: the channels of the instruments are
    // those of the notes.
    std::bitset<16> channels;
    for (const score::Instrument& in : row.instruments) channels[in.channel & 15] = true;
    row.channels = static_cast<int>(channels.count());
    row.drums = static_cast<int>(survey.drum_notes.size());
    return row;
}

std::string KeyText(const score::KeySignature& k) {
    const std::string key = names::KeyName(k.sharps, k.minor);
    return key.empty() ? Format("unknown key (%d sharps)", k.sharps) : key;
}

// A field of a CSV row: quoted when it holds a comma or a quote; control characters escaped
// (\n, \xNN) so that a row is one line and no field moves a terminal's cursor.
std::string CsvField(const std::string& text) {
    const std::string s = EscapeControls(text);
    if (s.find_first_of(",\"") == std::string::npos) return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

const char* kCsvHeader =
    "file,status,message,cause,warnings,format,tracks,division,ticks,events,tempo_changes,"
    "channels,instruments,drums,notes,lowest_pitch,highest_pitch,duration_s,bars,programs,"
    "key_signatures,peak_polyphony";

std::string CsvRow(const ScanRow& r) {
    std::string row = CsvField(r.path) + (r.ok ? ",ok," : ",refused,") + CsvField(r.message) + "," +
                      CsvField(r.cause) + "," + std::to_string(r.warnings.size());
    if (!r.ok) return row + ",,,,,,,,,,,,,,,,,";
    const score::Summary& s = r.summary;
    std::string programs, keys;
    for (uint8_t p : s.programs) programs += (programs.empty() ? "" : " ") + std::to_string(p);
    for (const auto& k : s.keys) keys += (keys.empty() ? "" : ";") + KeyText(k);
    const bool notes = s.notes > 0;
    return row +
           Format(",%d,%zu,%d,%lld,%llu,%zu,%d,%zu,%d,%zu,%s,%s,%s,%d,", r.format, r.tracks,
                  r.division, static_cast<long long>(r.endTicks),
                  static_cast<unsigned long long>(r.events), r.tempos, r.channels,
                  r.instruments.size(), r.drums, s.notes,
                  notes ? std::to_string(s.lowest_pitch).c_str() : "",
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
                      EscapeControls(r.path).c_str(), EscapeControls(r.refusal).c_str());
    }
    const score::Summary& s = r.summary;
    return Format("ok       %-12s  %3d  %3zu  %7llu  %7zu  %5d  %2d  %4zu  %5d  %4u  %4zu  %s",
                  ClockSeconds(s.duration).c_str(), r.format, r.tracks,
                  static_cast<unsigned long long>(r.events), s.notes, s.bars, r.channels,
                  r.instruments.size(), r.drums, s.peak_polyphony, r.warnings.size(),
                  EscapeControls(r.path).c_str());
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
    whole("tracks", r.ok, static_cast<long long>(r.tracks));
    whole("division", r.ok, r.division);
    whole("ticks", r.ok, r.endTicks);
    whole("events", r.ok, static_cast<long long>(r.events));
    whole("tempo_changes", r.ok, static_cast<long long>(r.tempos));
    whole("channels", r.ok, r.channels);
    j.Key("instruments");
    if (r.ok) {
        j.BeginArray();
        for (const score::Instrument& in : r.instruments) {
            j.BeginObject().Field("channel", in.channel + 1).Field("program", in.program);
            j.Field("bank_msb", in.bank_msb).Field("bank_lsb", in.bank_lsb).Field("name", in.name);
            std::vector<int> tracks;
            for (uint16_t t : in.tracks) tracks.push_back(t + 1);
            j.Field("tracks", tracks).Field("notes", in.notes);
            j.Field("lowest", in.lowest).Field("highest", in.highest).EndObject();
        }
        j.EndArray();
    } else {
        j.Null();
    }
    whole("drums", r.ok, r.drums);
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
// for the rest. One job runs on the calling thread, a file as its row is asked for.
class Workers {
  public:
    Workers(const std::vector<std::string>& files, int jobs, const CommonOptions& options)
        : files_(files),
          rows_(files.size()),
          done_(files.size(), 0),
          options_(options),
          // The budget is shared by the songs read at once.
          budget_(MemoryBudget(options) / static_cast<uint64_t>(std::max(jobs, 1))) {
        if (jobs <= 1) return;
        for (int w = 0; w < jobs; ++w) {
            threads_.emplace_back([this]() {
                for (size_t i = next_++; i < files_.size(); i = next_++) {
                    ScanRow row = Analyse(files_[i], options_, budget_);
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
        if (threads_.empty()) return rows_[i] = Analyse(files_[i], options_, budget_);
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [&]() { return done_[i] != 0; });
        return rows_[i];
    }

  private:
    const std::vector<std::string>& files_;
    std::vector<ScanRow> rows_;
    std::vector<char> done_;
    const CommonOptions options_;
    const uint64_t budget_;
    std::atomic<size_t> next_{0};
    std::mutex mutex_;
    std::condition_variable ready_;
    std::vector<std::thread> threads_;
};

// A scan reads song after song in one process, where glibc's defaults suit a program that
// frees its memory for good: it gives the top of its heap back to the system as soon as 128 KB
// are free there and maps larger blocks on their own, so that each song touched fresh pages
// again, and a scan of small files spent a tenth of its time in page faults. The scan keeps
// what it frees for the next song instead, and has its heap backed by huge pages: it grows the
// heap by a block that it frees at once (kept, below the trim threshold), after asking for huge
// pages there. The process ends with the scan.
void PrepareHeapForSongs() {
    mallopt(M_MMAP_THRESHOLD, 32 << 20);  // the most glibc takes
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
    constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
    constexpr size_t kReserve = size_t{24} << 20;
    void* block = std::malloc(kReserve);
    if (block == nullptr) return;
    const uintptr_t at = reinterpret_cast<uintptr_t>(block);
    const uintptr_t first = (at + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t end = (at + kReserve) & ~(kHugePage - 1);
    if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
    std::free(block);
}

// The worker threads: as many as asked (one per core by default), at most one per file.
int JobCount(int asked, size_t files) {
    const int jobs =
        asked > 0 ? asked : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    return static_cast<int>(
        std::min<size_t>(static_cast<size_t>(jobs), std::max<size_t>(files, 1)));
}

}  // namespace

int RunScan(const ScanOptions& o) {
    PrepareHeapForSongs();
    std::vector<std::string> problems;
    const std::vector<std::string> files = CollectFiles(o.paths, problems);
    for (const auto& m : problems) std::fprintf(stderr, "midifolio: %s\n", m.c_str());

    const size_t n = files.size();
    const int jobs = JobCount(o.jobs, n);

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
        Workers workers(files, jobs, o.common);
        progress.SetRange(0, static_cast<int>(n));
        for (size_t i = 0; i < n; ++i) {
            // The bar names the file whose row comes next.
            if (progress.Enabled()) {
                progress.SetDetail(InputName(files[i]));
                progress.SetDone(static_cast<int>(i));
            }
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
            summary << "  refused " << EscapeControls(path) << ": " << EscapeControls(message)
                    << "\n";
        }
        for (const auto& [path, warning] : warnedFiles) {
            summary << "  warning " << EscapeControls(path) << ": " << EscapeControls(warning)
                    << "\n";
        }
        summary.Flush();
    }
    // Under --strict, a file read with warnings is an error.
    return problems.empty() && !(o.common.strict && warned > 0) ? kExitOk : kExitFailure;
}

}  // namespace mfcli
