// The library's benchmarks (Google Benchmark). Inputs are generated at run time (see
// bench_support.h); figures are MB/s of file bytes and events/s where they fit.
//
// Run warm, as docs/performance.md describes, with glibc told to keep freed memory:
//   GLIBC_TUNABLES=glibc.malloc.mmap_max=0:glibc.malloc.trim_threshold=1099511627776
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "midifolio/midifolio.h"

#ifdef MIDIFOLIO_HAVE_PORTSMF
// allegro.h uses memcpy without including <cstring>, included above.
#include <allegro.h>
#endif

using namespace midifolio;
using benchgen::GetInput;

namespace {

std::unique_ptr<CMidiFolio> LoadSong(const std::string& path) {
    auto song = std::make_unique<CMidiFolio>();
    song->SetMessageSink(benchgen::QuietSink());
    if (!song->LoadMidiFile(path)) {
        std::fprintf(stderr, "load of %s failed\n", path.c_str());
        std::abort();
    }
    return song;
}

void SetRates(benchmark::State& state, double bytesPerIteration, double eventsPerIteration) {
    if (bytesPerIteration > 0)
        state.SetBytesProcessed(static_cast<int64_t>(bytesPerIteration * state.iterations()));
    if (eventsPerIteration <= 0) return;
    state.counters["events/s"] =
        benchmark::Counter(eventsPerIteration * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["events"] = eventsPerIteration;
}

// --------------------------------------------------------------------- the floor

void BM_ByteWalk(benchmark::State& state, const std::string& name) {
    const benchgen::Bytes bytes = benchgen::ReadFile(GetInput(name).path);
    size_t events = 0;
    for (auto _ : state) {
        uint64_t ticks = 0;
        events = benchgen::ByteWalk(bytes.data(), bytes.size(), &ticks);
        benchmark::DoNotOptimize(ticks);
    }
    SetRates(state, bytes.size(), events);
}

// Reading the file alone (page cache to memory): the I/O share of a load.
void BM_ReadFile(benchmark::State& state, const std::string& name) {
    const benchgen::Input& in = GetInput(name);
    benchgen::Bytes bytes;
    for (auto _ : state) {
        bytes = benchgen::ReadFile(in.path);
        benchmark::DoNotOptimize(bytes.data());
    }
    SetRates(state, in.bytes, 0);
}

// --------------------------------------------------------------------- load and store

// Every loadable file under tests/data, loaded; events counts their events.
std::vector<std::unique_ptr<CMidiFolio>> LoadRealSongs(const std::vector<std::string>& files,
                                                       size_t& events) {
    std::vector<std::unique_ptr<CMidiFolio>> songs;
    events = 0;
    for (const std::string& f : files) {
        auto song = std::make_unique<CMidiFolio>();
        song->SetMessageSink(benchgen::QuietSink());
        if (!song->LoadMidiFile(f)) continue;
        events += benchgen::EventCount(*song);
        songs.push_back(std::move(song));
    }
    return songs;
}

void BM_LoadMidiFile(benchmark::State& state, const std::string& name) {
    const benchgen::Input& in = GetInput(name);
    size_t events = benchgen::EventCount(*LoadSong(in.path));  // also warms the allocator
    for (auto _ : state) {
        auto song = std::make_unique<CMidiFolio>();
        song->SetMessageSink(benchgen::QuietSink());
        if (!song->LoadMidiFile(in.path)) state.SkipWithError("load failed");
        state.PauseTiming();
        song.reset();  // the destruction is not part of the load
        state.ResumeTiming();
    }
    SetRates(state, in.bytes, events);
}

// A target ratio measured side by side: every iteration loads the files afresh, timed, and
// then runs the operation on the songs, timed too. The counter "ratio" is the operation's
// time over the load's, both summed over the iterations, so that the machine's speed, which
// wanders on this virtual machine from one minute to the next, cancels out.
using SongList = std::vector<std::unique_ptr<CMidiFolio>>;
void BM_Paired(benchmark::State& state, const std::vector<std::string>& paths,
               const std::function<void(SongList&)>& op) {
    using Clock = std::chrono::steady_clock;
    Clock::duration load{}, work{};
    for (auto _ : state) {
        SongList songs;
        const auto t0 = Clock::now();
        for (const std::string& path : paths) {
            auto song = std::make_unique<CMidiFolio>();
            song->SetMessageSink(benchgen::QuietSink());
            if (song->LoadMidiFile(path)) songs.push_back(std::move(song));
        }
        const auto t1 = Clock::now();
        op(songs);
        const auto t2 = Clock::now();
        load += t1 - t0;
        work += t2 - t1;
        state.PauseTiming();
        songs.clear();  // the destruction is in neither
        state.ResumeTiming();
    }
    state.counters["ratio"] =
        std::chrono::duration<double>(work).count() / std::chrono::duration<double>(load).count();
}

void RegisterPaired() {
    const std::string a = GetInput("a").path;
    const std::vector<std::string> real = benchgen::RealFiles(MIDIFOLIO_TEST_DATA);
    auto reg = [](const char* name, std::vector<std::string> paths,
                  std::function<void(SongList&)> op) {
        benchmark::RegisterBenchmark(name, BM_Paired, paths, op)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    };
    reg("Paired/MakeEventList/a", {a},
        [](SongList& s) { benchmark::DoNotOptimize(s[0]->MakeEventList().data()); });
    reg("Paired/ScoreNotes/a", {a}, [](SongList& s) {
        const score::Score score(*s[0]);
        benchmark::DoNotOptimize(score.notes().data());
    });
    reg("Paired/StoreMidiFile/a", {a}, [](SongList& s) {
        const std::string out = benchgen::BenchDir() + "/paired.mid";
        std::remove(out.c_str());  // a new file, as StoreMidiFile/a
        if (!s[0]->StoreMidiFile(out)) std::abort();
    });
    reg("Paired/ScanSurvey/real", real, [](SongList& songs) {
        for (auto& song : songs) benchmark::DoNotOptimize(song->GetChannelSurvey().nChannels);
    });
}

// Decoding the track chunks straight from memory (no file, no song): the decoder's share.
void BM_DecodeTracks(benchmark::State& state, const std::string& name) {
    const benchgen::Bytes bytes = benchgen::ReadFile(GetInput(name).path);
    struct Chunk {
        const uint8_t* data;
        int32_t size;
    };
    std::vector<Chunk> chunks;
    for (size_t i = 14; i + 8 <= bytes.size();) {
        const uint32_t len = (uint32_t(bytes[i + 4]) << 24) | (uint32_t(bytes[i + 5]) << 16) |
                             (uint32_t(bytes[i + 6]) << 8) | bytes[i + 7];
        chunks.push_back({bytes.data() + i + 8, static_cast<int32_t>(len)});
        i += 8 + len;
    }
    auto decodeAll = [&chunks](std::vector<std::unique_ptr<CMidiTrack>>& tracks,
                               CMidiTempo& tempo) {
        size_t n = 0;
        for (const Chunk& c : chunks) {
            tracks.push_back(std::make_unique<CMidiTrack>());
            tracks.back()->SetTempoObject(&tempo);
            tracks.back()->SetMidiTrackRawData(c.data, c.size);
            n += static_cast<size_t>(tracks.back()->GetCount());
        }
        return n;
    };
    size_t events = 0;
    {
        // One untimed run first, so that the timed ones reuse memory already touched.
        CMidiTempo tempo;
        tempo.SetMessageSink(benchgen::QuietSink());
        std::vector<std::unique_ptr<CMidiTrack>> tracks;
        events = decodeAll(tracks, tempo);
    }
    for (auto _ : state) {
        CMidiTempo tempo;
        tempo.SetMessageSink(benchgen::QuietSink());
        std::vector<std::unique_ptr<CMidiTrack>> tracks;
        events = decodeAll(tracks, tempo);
        state.PauseTiming();
        tracks.clear();
        state.ResumeTiming();
    }
    SetRates(state, bytes.size(), events);
}

void BM_LoadRealFiles(benchmark::State& state, const std::vector<std::string>& files) {
    size_t bytes = 0, events = 0, refused = 0;
    for (const std::string& f : files) bytes += benchgen::ReadFile(f).size();
    for (auto _ : state) {
        events = 0;
        refused = 0;
        for (const std::string& f : files) {
            CMidiFolio song;
            song.SetMessageSink(benchgen::QuietSink());
            if (song.LoadMidiFile(f))
                events += benchgen::EventCount(song);
            else
                ++refused;
        }
    }
    SetRates(state, bytes, events);
    state.counters["files"] = static_cast<double>(files.size());
    state.counters["refused"] = static_cast<double>(refused);
}

// Storing to a new file (the usual "save as"). With replace set, the file exists already: the
// library then syncs the new file to disk before it renames it over the old one, so that
// figure includes the disk.
void BM_StoreMidiFile(benchmark::State& state, const std::string& name, bool replace) {
    const benchgen::Input& in = GetInput(name);
    auto song = LoadSong(in.path);
    const std::string out = benchgen::BenchDir() + "/store-" + name + ".mid";
    std::remove(out.c_str());
    if (!song->StoreMidiFile(out)) state.SkipWithError("store failed");
    const size_t events = benchgen::EventCount(*song);
    for (auto _ : state) {
        if (!replace) {
            state.PauseTiming();
            std::remove(out.c_str());
            state.ResumeTiming();
        }
        if (!song->StoreMidiFile(out)) state.SkipWithError("store failed");
    }
    SetRates(state, benchgen::ReadFile(out).size(), events);
    std::remove(out.c_str());
}
void BM_StoreNew(benchmark::State& state, const std::string& name) {
    BM_StoreMidiFile(state, name, false);
}
void BM_StoreReplace(benchmark::State& state, const std::string& name) {
    BM_StoreMidiFile(state, name, true);
}

// --------------------------------------------------------------------- queries

void BM_MakeEventList(benchmark::State& state, const std::string& name) {
    auto song = LoadSong(GetInput(name).path);
    size_t records = song->MakeEventList().size();
    for (auto _ : state) {
        records = song->MakeEventList().size();
        benchmark::ClobberMemory();
    }
    SetRates(state, 0, records);
}

// An operation on every loadable file under tests/data (MakeEventList, the Score's notes):
// the sizes of its answers summed make the rate.
using RealSongOp = std::function<size_t(CMidiFolio&)>;
void BM_RealSongs(benchmark::State& state, const std::vector<std::string>& files,
                  const RealSongOp& op) {
    size_t events = 0;
    const auto songs = LoadRealSongs(files, events);
    size_t items = 0;
    for (auto _ : state) {
        items = 0;
        for (const auto& song : songs) items += op(*song);
        benchmark::ClobberMemory();
    }
    SetRates(state, 0, items);
}

// The least MakeEventList can cost: every node copied into a 64-byte record of a fresh list,
// track after track, as MakeEventList frees and fills its list (no order, pairing or times).
void BM_RecordCopyFloor(benchmark::State& state, const std::string& name) {
    auto song = LoadSong(GetInput(name).path);
    const size_t events = benchgen::EventCount(*song);
    MidiEventList list;
    for (auto _ : state) {
        MidiEventList().swap(list);
        list.reserve(events);
        for (long i = 0; i < song->GetTrackNum(); ++i) {
            const CMidiTrack* t = song->GetTrack(static_cast<int>(i));
            for (POSITION p = t->GetEventHeadPosition(); p != nullptr;) {
                MIDI_Event& rec = list.emplace_back();
                rec.wTrack = static_cast<uint16_t>(i);
                rec.event = t->GetNextEvent(p);
                rec.time.lTicks = rec.event.lTime;
            }
        }
        benchmark::ClobberMemory();
    }
    SetRates(state, 0, list.size());
}

// GetMIDIByTime in milliseconds over the fifth tenth of the song.
void BM_GetMIDIByTime(benchmark::State& state, const std::string& name) {
    auto song = LoadSong(GetInput(name).path);
    MidiEventList list;
    const MidiEventList& all = song->MakeEventList();
    const double end = all.empty() ? 0.0 : all.back().time.dMsecs;
    song->FreeEventList();
    const _MIDI_TIME from = MakeMsecs(end * 0.4), to = MakeMsecs(end * 0.5);
    for (auto _ : state) {
        song->GetMIDIByTime(TF_MSEC, from, to, list);
        benchmark::DoNotOptimize(list.data());
    }
    SetRates(state, 0, list.size());
    CMidiFolio::FreePtrList(list);
}

// The tick time of every event of the song, track after track.
std::vector<int32_t> EventTicks(const CMidiFolio& song) {
    std::vector<int32_t> ticks;
    for (long i = 0; i < song.GetTrackNum(); ++i) {
        const CMidiTrack* t = song.GetTrack(static_cast<int>(i));
        for (POSITION p = t->GetEventHeadPosition(); p != nullptr;)
            ticks.push_back(t->GetNextEvent(p).lTime);
    }
    return ticks;
}

// TicksToMsecs for the tick time of every event of the song.
void BM_TicksToMsecs(benchmark::State& state, const std::string& name) {
    auto song = LoadSong(GetInput(name).path);
    const std::vector<int32_t> ticks = EventTicks(*song);
    const CMidiTempo& tempo = song->GetMidiTempo();
    for (auto _ : state) {
        int64_t sum = 0;
        for (int32_t tick : ticks) sum += tempo.TicksToMsecs(tick);
        benchmark::DoNotOptimize(sum);
    }
    SetRates(state, 0, ticks.size());
    state.counters["tempos"] = static_cast<double>(tempo.GetTempos().size());
}

// FindPlayNoteOff for every sounding note-on (velocity above 0) of the song event list.
void BM_FindPlayNoteOff(benchmark::State& state, const std::string& name) {
    auto song = LoadSong(GetInput(name).path);
    const MidiEventList& list = song->MakeEventList();
    std::vector<int> noteOns;
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].event.dwType == EVT_NOTEON && list[i].event.byData2 > 0)
            noteOns.push_back(static_cast<int>(i));
    size_t found = 0;
    for (auto _ : state) {
        found = 0;
        for (int i : noteOns) {
            int sustain = 0;
            found += song->FindPlayNoteOff(i, sustain) != nullptr;
        }
    }
    SetRates(state, 0, noteOns.size());
    state.counters["found"] = static_cast<double>(found);
}

void BM_CheckMidiByVoice(benchmark::State& state, const std::string& name) {
    auto song = LoadSong(GetInput(name).path);
    const size_t events = benchgen::EventCount(*song);
    ConflictVoiceArray conflicts;
    for (auto _ : state) {
        conflicts.clear();
        song->CheckMidiByVoice(32, &conflicts);
        benchmark::DoNotOptimize(conflicts.data());
    }
    SetRates(state, 0, events);
    state.counters["conflicts"] = static_cast<double>(conflicts.size());
}

// --------------------------------------------------------------------- the exact view

// A Score of the song: its notes paired, programs and seconds filled in, meta events listed.
void BM_ScoreNotes(benchmark::State& state, const std::string& name) {
    auto song = LoadSong(GetInput(name).path);
    size_t notes = 0;
    for (auto _ : state) {
        score::Score s(*song);
        notes = s.notes().size();
        benchmark::DoNotOptimize(s.notes().data());
    }
    SetRates(state, 0, notes);
    state.counters["notes"] = static_cast<double>(notes);
}

// TimeMap::seconds for the tick time of every event of the song, in one bulk call.
void BM_ScoreSeconds(benchmark::State& state, const std::string& name) {
    auto song = LoadSong(GetInput(name).path);
    std::vector<int32_t> ticks = EventTicks(*song);
    std::sort(ticks.begin(), ticks.end());
    const score::TimeMap time(*song);
    std::vector<double> seconds(ticks.size());
    for (auto _ : state) {
        time.seconds(ticks.data(), sizeof(int32_t), seconds.data(), sizeof(double), ticks.size());
        benchmark::DoNotOptimize(seconds.data());
    }
    SetRates(state, 0, ticks.size());
}

void BM_ScoreSummary(benchmark::State& state, const std::string& name) {
    auto song = LoadSong(GetInput(name).path);
    const score::Score s(*song);
    for (auto _ : state) {
        score::Summary sum = s.summary();
        benchmark::DoNotOptimize(sum.peak_polyphony);
    }
    SetRates(state, 0, s.notes().size());
}

void BM_GetInstruments(benchmark::State& state, const std::string& name) {
    auto song = LoadSong(GetInput(name).path);
    const size_t events = benchgen::EventCount(*song);
    InstrumentArray instruments;
    for (auto _ : state) {
        song->GetInstruments(instruments, 1);
        benchmark::DoNotOptimize(instruments.data());
    }
    SetRates(state, 0, events);
    state.counters["instruments"] = static_cast<double>(instruments.size());
}

// The channel, instrument and drum answers `midifolio scan` prints for each song, over every
// loadable file under tests/data: asked one call each, and from the one-walk survey scan uses.
void BM_ScanAnalyses(benchmark::State& state, const std::vector<std::string>& files) {
    size_t events = 0;
    const auto songs = LoadRealSongs(files, events);
    InstrumentArray instruments;
    DrumArray drums;
    for (auto _ : state) {
        long answers = 0;
        for (const auto& song : songs) {
            answers += song->GetTotalChannels();
            instruments.clear();
            song->GetInstrument(instruments);
            song->GetDrums(drums, 1);
            answers += static_cast<long>(instruments.size() + drums.size());
            answers += song->GetIsPercussionInRange();
        }
        benchmark::DoNotOptimize(answers);
    }
    SetRates(state, 0, events);
}

void BM_ScanSurvey(benchmark::State& state, const std::vector<std::string>& files) {
    size_t events = 0;
    const auto songs = LoadRealSongs(files, events);
    for (auto _ : state) {
        long answers = 0;
        for (const auto& song : songs) {
            const ChannelSurvey survey = song->GetChannelSurvey();
            answers += survey.nChannels + survey.bPercussionInRange;
            answers += static_cast<long>(survey.instruments.size() + survey.drums.size());
        }
        benchmark::DoNotOptimize(answers);
    }
    SetRates(state, 0, events);
}

#ifdef MIDIFOLIO_CLI
// `midifolio scan` over the real files, one worker (the process start is included).
void BM_CliScan(benchmark::State& state, const std::vector<std::string>& files) {
    size_t bytes = 0;
    for (const std::string& f : files) bytes += benchgen::ReadFile(f).size();
    const std::string cmd = std::string("'") + MIDIFOLIO_CLI + "' scan '" + MIDIFOLIO_TEST_DATA +
                            "' --jobs 1 >/dev/null 2>&1";
    for (auto _ : state) {
        const int rc = std::system(cmd.c_str());
        if (rc == -1) state.SkipWithError("cannot run midifolio scan");
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes * state.iterations()));
    state.counters["files/s"] =
        benchmark::Counter(double(files.size()) * state.iterations(), benchmark::Counter::kIsRate);
}
#endif

#ifdef MIDIFOLIO_HAVE_PORTSMF
// portsmf (Debian's libportsmf-dev) reading the same file into its sequence object.
void BM_PortsmfLoad(benchmark::State& state, const std::string& name) {
    const benchgen::Input& in = GetInput(name);
    size_t events = 0;
    for (auto _ : state) {
        auto seq = std::make_unique<Alg_seq>(in.path.c_str(), true);
        events = 0;
        for (int t = 0; t < seq->tracks(); ++t) events += seq->track(t)->length();
        state.PauseTiming();
        seq.reset();
        state.ResumeTiming();
    }
    SetRates(state, in.bytes, events);
}
#endif

template <typename F, typename Arg>
void Register(const std::string& name, F f, Arg arg, benchmark::TimeUnit unit) {
    benchmark::RegisterBenchmark(name.c_str(), f, arg)->Unit(unit)->UseRealTime();
}

}  // namespace

int main(int argc, char** argv) {
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    benchmark::AddCustomContext("GLIBC_TUNABLES", tunables != nullptr ? tunables : "(unset)");
    benchmark::AddCustomContext("inputs", benchgen::BenchDir());
    const auto ms = benchmark::kMillisecond;

    for (const char* n : {"a", "a2", "f0"})
        Register(std::string("ByteWalk/") + n, BM_ByteWalk, std::string(n), ms);
    Register("ReadFile/a", BM_ReadFile, std::string("a"), ms);
    for (const char* n : {"a", "a2", "f0", "b", "b1", "b10k", "c", "c2k", "d", "d2m"})
        Register(std::string("LoadMidiFile/") + n, BM_LoadMidiFile, std::string(n), ms);
    const std::vector<std::string> real = benchgen::RealFiles(MIDIFOLIO_TEST_DATA);
    Register("LoadMidiFile/real", BM_LoadRealFiles, real, ms);
    Register("DecodeTracks/a", BM_DecodeTracks, std::string("a"), ms);
    for (const char* n : {"a", "a2", "b", "c", "c2k", "d", "d2m"})
        Register(std::string("StoreMidiFile/") + n, BM_StoreNew, std::string(n), ms);
    Register("StoreMidiFile/a/replace", BM_StoreReplace, std::string("a"), ms);
    for (const char* n : {"a", "a2", "b", "b1", "b10k", "c", "c2k"})
        Register(std::string("MakeEventList/") + n, BM_MakeEventList, std::string(n), ms);
    benchmark::RegisterBenchmark("MakeEventList/real", BM_RealSongs, real,
                                 RealSongOp([](CMidiFolio& s) { return s.MakeEventList().size(); }))
        ->Unit(ms)
        ->UseRealTime();
    Register("RecordCopyFloor/a", BM_RecordCopyFloor, std::string("a"), ms);
    Register("GetMIDIByTime/a", BM_GetMIDIByTime, std::string("a"), ms);
    for (const char* n : {"b", "b1", "b10k"})
        Register(std::string("TicksToMsecs/") + n, BM_TicksToMsecs, std::string(n), ms);
    Register("FindPlayNoteOff/a", BM_FindPlayNoteOff, std::string("a"), ms);
    for (const char* n : {"a", "a2"})
        Register(std::string("CheckMidiByVoice/") + n, BM_CheckMidiByVoice, std::string(n), ms);
    Register("GetInstruments/a", BM_GetInstruments, std::string("a"), ms);
    Register("ScanAnalyses/real", BM_ScanAnalyses, real, ms);
    Register("ScanSurvey/real", BM_ScanSurvey, real, ms);
    for (const char* n : {"a", "f0", "b", "c"})
        Register(std::string("ScoreNotes/") + n, BM_ScoreNotes, std::string(n), ms);
    benchmark::RegisterBenchmark(
        "ScoreNotes/real", BM_RealSongs, real,
        RealSongOp([](CMidiFolio& s) { return score::Score(s).notes().size(); }))
        ->Unit(ms)
        ->UseRealTime();
    for (const char* n : {"a", "b"})
        Register(std::string("ScoreSeconds/") + n, BM_ScoreSeconds, std::string(n), ms);
    Register("ScoreSummary/a", BM_ScoreSummary, std::string("a"), ms);
#ifdef MIDIFOLIO_CLI
    Register("CliScan/real", BM_CliScan, real, ms);
#endif
    RegisterPaired();
#ifdef MIDIFOLIO_HAVE_PORTSMF
    for (const char* n : {"a", "b", "c", "d"})
        Register(std::string("PortsmfLoad/") + n, BM_PortsmfLoad, std::string(n), ms);
#endif

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
