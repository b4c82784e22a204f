// midifolio_perf: the measurements that do not fit a benchmark loop.
//
//   midifolio_perf gen DIR                 write every generated input (a.mid, b.mid, ...) to DIR
//   midifolio_perf load FILE [REPEAT]      load FILE REPEAT times (default 1) in this process and
//                                          print each load's wall time; the first is the cold one
//   midifolio_perf walk FILE [REPEAT]      the byte-walk floor over FILE, read into memory first
//   midifolio_perf store FILE [REPEAT]     load FILE, then store it REPEAT times to FILE.out.mid
//   midifolio_perf floor FILE              the byte walk of FILE read cold: read and walk, timed
//   midifolio_perf floors REPEAT FILE...   read every FILE into fresh memory and walk its bytes,
//                                          REPEAT times; prints each pass's total (the first is
//                                          the cold one)
//   midifolio_perf exact FILE [REPEAT]     the exact view from the file's bytes in memory:
//                                          score::Song::FromBytes, Score, its notes with their
//                                          seconds; prints each pass's time
//   midifolio_perf memory FILE             resident memory of a cold load of FILE, per event
//   midifolio_perf convert FILE            load FILE, then ConvertTime2MS (every event's tick
//                                          time to milliseconds), timed
//
// The load, store, walk, exact and convert commands keep the measured work in LoadOnce /
// StoreOnce / WalkOnce / ExactOnce / ConvertOnce so that `valgrind --tool=callgrind
// --toggle-collect=LoadOnce` counts exactly that.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "midifolio/midifolio.h"
#include "midifolio/score.h"
#include "midifolio/song.h"

using namespace midifolio;

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Kilobytes of a /proc/self/status field ("VmRSS", "VmHWM"); -1 when missing.
long StatusKb(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(field);
    while (std::getline(in, line))
        if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':')
            return std::strtol(line.c_str() + n + 1, nullptr, 10);
    return -1;
}

__attribute__((noinline)) int LoadOnce(CMidiFolio& song, const std::string& path) {
    return song.LoadMidiFile(path);
}

// Loads quietly outside the measured work; says so on stderr when the load fails.
bool LoadOrSay(CMidiFolio& song, const std::string& path) {
    song.SetMessageSink(benchgen::QuietSink());
    if (LoadOnce(song, path)) return true;
    std::fprintf(stderr, "load of %s failed\n", path.c_str());
    return false;
}

__attribute__((noinline)) int StoreOnce(CMidiFolio& song, const std::string& path) {
    return song.StoreMidiFile(path);
}

__attribute__((noinline)) int ConvertOnce(CMidiFolio& song) {
    return song.ConvertTime2MS();
}

__attribute__((noinline)) size_t WalkOnce(const benchgen::Bytes& bytes, uint64_t* ticks) {
    return benchgen::ByteWalk(bytes.data(), bytes.size(), ticks);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

int Gen(const std::string& dir) {
    for (const std::string& name : benchgen::InputNames()) {
        const benchgen::Bytes bytes = benchgen::MakeInput(name);
        const std::string path = dir + "/" + name + ".mid";
        if (!benchgen::WriteFile(path, bytes)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        uint64_t ticks = 0;
        std::printf("%s\t%zu bytes\t%zu events\n", path.c_str(), bytes.size(),
                    benchgen::ByteWalk(bytes.data(), bytes.size(), &ticks));
    }
    return 0;
}

// "  times: t1 t2 ... ms", every pass in order (bench/targets.py reads it).
void PrintTimes(const std::vector<double>& times) {
    std::printf("  times:");
    for (double t : times) std::printf(" %.3f", t);
    std::printf(" ms\n");
}

// Read the whole file into one fresh buffer of its size, not filled first, in one go: the least
// a reader that copies the file does. Returns the events walked; adds the bytes to *bytes.
size_t ReadAndWalk(const std::string& path, size_t* bytes, uint64_t* ticks) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return 0;
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    if (size <= 0) {
        std::fclose(f);
        return 0;
    }
    std::unique_ptr<uint8_t[]> data(new uint8_t[static_cast<size_t>(size)]);
    const size_t got = std::fread(data.get(), 1, static_cast<size_t>(size), f);
    std::fclose(f);
    *bytes += got;
    return benchgen::ByteWalk(data.get(), got, ticks);
}

// The floor of a set of files, measured as a load of them is: each pass reads every file into
// fresh memory and walks its bytes. The first pass of a fresh process is the cold one.
int Floors(int repeat, const std::vector<std::string>& paths) {
    std::vector<double> times;
    size_t events = 0, bytes = 0;
    uint64_t ticks = 0;
    for (int i = 0; i < repeat; ++i) {
        events = bytes = 0;
        const auto t0 = Clock::now();
        for (const std::string& path : paths) events += ReadAndWalk(path, &bytes, &ticks);
        times.push_back(Ms(Clock::now() - t0));
    }
    std::printf("floors: %zu files, %zu bytes, %zu events, first (cold) %.2f ms, median %.2f ms\n",
                paths.size(), bytes, events, times.front(), Median(times));
    PrintTimes(times);
    return 0;
}

// The exact view from bytes in memory: the song read, the Score made, its notes (each with its
// seconds) asked for. Returns the number of notes; *events the song's events.
__attribute__((noinline)) size_t ExactOnce(std::vector<uint8_t> bytes, uint64_t* events,
                                           double* seconds) {
    score::ReadReport report;
    const score::Song song = score::Song::FromBytes(std::move(bytes), score::ReadOptions{}, report);
    if (!report.ok()) return 0;
    const score::Score exact(song);
    const std::vector<score::Note>& notes = exact.notes();
    *events = song.events();
    *seconds = notes.empty() ? 0.0 : notes.back().end;
    return notes.size();
}

int Exact(const std::string& path, int repeat) {
    const benchgen::Bytes bytes = benchgen::ReadFile(path);
    std::vector<double> times;
    size_t notes = 0;
    uint64_t events = 0;
    double seconds = 0;
    for (int i = 0; i < repeat; ++i) {
        std::vector<uint8_t> copy(bytes.begin(), bytes.end());  // not timed: the caller's buffer
        const auto t0 = Clock::now();
        notes = ExactOnce(std::move(copy), &events, &seconds);
        times.push_back(Ms(Clock::now() - t0));
        if (notes == 0) {
            std::fprintf(stderr, "the exact view of %s has no notes\n", path.c_str());
            return 1;
        }
    }
    std::printf("exact %s: %zu bytes, %llu events, %zu notes (last ends at %.3f s)\n", path.c_str(),
                bytes.size(), static_cast<unsigned long long>(events), notes, seconds);
    std::printf("  first (cold) %.2f ms, median %.2f ms\n", times.front(), Median(times));
    PrintTimes(times);
    return 0;
}

int Load(const std::string& path, int repeat) {
    const size_t bytes = benchgen::ReadFile(path).size();
    std::vector<double> times;
    size_t events = 0;
    for (int i = 0; i < repeat; ++i) {
        CMidiFolio song;
        song.SetMessageSink(benchgen::QuietSink());
        const auto t0 = Clock::now();
        const int ok = LoadOnce(song, path);
        const auto t1 = Clock::now();
        if (!ok) {
            std::fprintf(stderr, "load of %s failed\n", path.c_str());
            return 1;
        }
        events = benchgen::EventCount(song);
        times.push_back(Ms(t1 - t0));
    }
    std::printf("load %s: %zu bytes, %zu events\n", path.c_str(), bytes, events);
    std::printf("  first (cold) %.2f ms", times.front());
    if (times.size() > 1) {
        std::vector<double> warm(times.begin() + 1, times.end());
        std::printf(", later median %.2f ms (%.1f MB/s, %.1f M events/s)", Median(warm),
                    bytes / 1e3 / Median(warm), events / 1e3 / Median(warm));
    }
    std::printf("\n");
    PrintTimes(times);
    return 0;
}

int Store(const std::string& path, int repeat) {
    CMidiFolio song;
    if (!LoadOrSay(song, path)) return 1;
    const size_t events = benchgen::EventCount(song);
    const std::string out = path + ".out.mid";
    std::vector<double> times;
    for (int i = 0; i < repeat; ++i) {
        const auto t0 = Clock::now();
        if (!StoreOnce(song, out)) {
            std::fprintf(stderr, "store to %s failed\n", out.c_str());
            return 1;
        }
        times.push_back(Ms(Clock::now() - t0));
    }
    const size_t bytes = benchgen::ReadFile(out).size();
    std::remove(out.c_str());
    std::printf("store %s: %zu bytes, %zu events, first %.2f ms, median %.2f ms\n", out.c_str(),
                bytes, events, times.front(), Median(times));
    return 0;
}

int Walk(const std::string& path, int repeat) {
    const benchgen::Bytes bytes = benchgen::ReadFile(path);
    std::vector<double> times;
    size_t events = 0;
    uint64_t ticks = 0;
    for (int i = 0; i < repeat; ++i) {
        const auto t0 = Clock::now();
        events = WalkOnce(bytes, &ticks);
        times.push_back(Ms(Clock::now() - t0));
    }
    std::printf("walk %s: %zu bytes, %zu events, %llu ticks, median %.2f ms\n", path.c_str(),
                bytes.size(), events, static_cast<unsigned long long>(ticks), Median(times));
    return 0;
}

// The floor of a cold load: in this (fresh) process, read the file into fresh memory and walk
// its bytes once, timed together.
int Floor(const std::string& path) {
    const auto t0 = Clock::now();
    size_t bytes = 0;
    uint64_t ticks = 0;
    const size_t events = ReadAndWalk(path, &bytes, &ticks);
    if (bytes == 0) return 1;
    std::printf("floor %s: %zu events, read and walked cold in %.2f ms\n", path.c_str(), events,
                Ms(Clock::now() - t0));
    return 0;
}

int Convert(const std::string& path) {
    CMidiFolio song;
    if (!LoadOrSay(song, path)) return 1;
    const size_t events = benchgen::EventCount(song);
    const CMidiTempo& map = song.GetMidiTempo();
    const size_t tempos = map.GetTempos().size();
    const auto t0 = Clock::now();
    const int ok = ConvertOnce(song);
    const double ms = Ms(Clock::now() - t0);
    std::printf("convert %s: %zu events, %zu tempos, %s in %.2f ms\n", path.c_str(), events, tempos,
                ok ? "converted" : "not converted", ms);
    return ok ? 0 : 1;
}

int Memory(const std::string& path) {
    const size_t bytes = benchgen::ReadFile(path).size();
    // Reset the peak to the current size (Linux: writing 5 to clear_refs resets VmHWM).
    if (std::FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
    const long baseKb = StatusKb("VmRSS");
    CMidiFolio song;
    if (!LoadOrSay(song, path)) return 1;
    const size_t events = benchgen::EventCount(song);
    const long afterKb = StatusKb("VmRSS"), peakKb = StatusKb("VmHWM");
    const double peak = (peakKb - baseKb) * 1024.0, after = (afterKb - baseKb) * 1024.0;
    std::printf("memory %s: %zu bytes, %zu events\n", path.c_str(), bytes, events);
    std::printf("  resident before load %ld KB, after %ld KB, peak %ld KB\n", baseKb, afterKb,
                peakKb);
    std::printf("  peak growth minus file size: %.1f bytes/event\n",
                (peak - static_cast<double>(bytes)) / static_cast<double>(events));
    std::printf("  resident growth after load:  %.1f bytes/event\n",
                after / static_cast<double>(events));
    std::printf("  record size: sizeof(MIDIEventPtr) = %zu bytes\n", sizeof(MIDIEventPtr));
    return 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: midifolio_perf gen DIR | load FILE [REPEAT] | store FILE [REPEAT] | "
                 "walk FILE [REPEAT] | floor FILE | floors REPEAT FILE... | exact FILE [REPEAT] | "
                 "memory FILE | convert FILE\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string cmd = argv[1], arg = argv[2];
    if (cmd == "floors") {
        if (argc < 4) return Usage();
        return Floors(std::max(1, std::atoi(argv[2])),
                      std::vector<std::string>(argv + 3, argv + argc));
    }
    const int repeat = argc > 3 ? std::max(1, std::atoi(argv[3])) : 1;
    if (cmd == "gen") return Gen(arg);
    if (cmd == "load") return Load(arg, repeat);
    if (cmd == "store") return Store(arg, repeat);
    if (cmd == "walk") return Walk(arg, repeat);
    if (cmd == "floor") return Floor(arg);
    if (cmd == "exact") return Exact(arg, repeat);
    if (cmd == "memory") return Memory(arg);
    if (cmd == "convert") return Convert(arg);
    return Usage();
}
