// Running out of memory: every allocation of the library's operator new can be made to fail,
// the Nth one of an operation for every N in turn (as nlohmann/json's tests count down). Each
// operation then gives its defined failure (or, once N passes its last allocation, its whole
// result): no crash, no exception out of the library, nothing leaked (the sanitizer build checks
// that), and what it could not make is not half made.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "midifolio/midifolio.h"
#include "test_support.h"

using namespace midifolio;
using namespace testsupport;

namespace {

// Allocations left before one fails; -1: none fails. Counted only while a library call runs
// (g_armed), so that the test's own allocations never fail.
long g_countdown = -1;
bool g_failed = false;
bool g_armed = false;

bool FailNow() {
    if (g_countdown < 0 || !g_armed) return false;
    if (g_countdown-- > 0) return false;
    g_failed = true;
    return true;
}

void* Allocate(std::size_t n, std::size_t align) {
    if (FailNow()) return nullptr;
    if (n == 0) n = 1;
    if (align <= alignof(std::max_align_t)) return std::malloc(n);
    return std::aligned_alloc(align, (n + align - 1) / align * align);
}

}  // namespace

void* operator new(std::size_t n) {
    if (void* p = Allocate(n, 0)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
    if (void* p = Allocate(n, 0)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t n, std::align_val_t a) {
    if (void* p = Allocate(n, static_cast<std::size_t>(a))) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n, std::align_val_t a) {
    if (void* p = Allocate(n, static_cast<std::size_t>(a))) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    return Allocate(n, 0);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    return Allocate(n, 0);
}
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    return Allocate(n, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    return Allocate(n, static_cast<std::size_t>(a));
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
// The nothrow deletes too, so that every delete matches this file's allocations.
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace {

// A library call with the countdown running. An exception must not come out of it.
template <class F>
auto Armed(F call) -> decltype(call()) {
    g_armed = true;
    try {
        auto result = call();
        g_armed = false;
        return result;
    } catch (const std::bad_alloc&) {
        g_armed = false;
        ADD_FAILURE() << "std::bad_alloc came out of the library";
        return decltype(call())();
    }
}

// Runs `step` with the Nth allocation of its library calls failing, for N = 0, 1, ... until a
// run makes no allocation fail; `check(result, failed, N)` judges each run. Returns the number
// of runs.
template <class Step, class Check>
long CountDown(Step step, Check check) {
    long n = 0;
    for (;; ++n) {
        g_failed = false;
        g_countdown = n;
        auto result = step();
        g_countdown = -1;
        check(result, g_failed, n);
        if (!g_failed) return n + 1;
        if (n > 200000) ADD_FAILURE() << "no end to the allocations";
        if (n > 200000) return n;
    }
}

const std::string kSample = DataPath("cli/sample.mid");

}  // namespace

TEST(OutOfMemory, TheLibrarysLoadAndStoreFailAsTheySay) {
    Messages messages;
    const long loads = CountDown(
        [&] {
            auto song = std::make_unique<CMidiFolio>();
            song->SetMessageSink([](const std::string&) {});
            std::string path = kSample;  // the argument is the caller's to make
            const int ok = Armed([&] { return song->LoadMidiFile(std::move(path)); });
            return std::make_pair(ok, song->GetLoadReport().stop);
        },
        [](std::pair<int, LoadStop> r, bool failed, long n) {
            if (!failed) {
                EXPECT_EQ(r.first, 1) << n;
                return;
            }
            EXPECT_EQ(r.first, 0) << n;
            EXPECT_EQ(r.second, LoadStop::kNoMemory) << n;
        });
    EXPECT_GT(loads, 10);
    CMidiFolio song;
    ASSERT_EQ(song.LoadMidiFile(kSample), 1);
    const std::string out = WriteFile("oom_store.mid", B({1, 2, 3}));
    CountDown(
        [&] {
            std::string path = out;
            const int stored = Armed([&] { return song.StoreMidiFile(std::move(path)); });
            return std::make_pair(stored, song.GetStoreError());
        },
        [&](std::pair<int, int> r, bool failed, long n) {
            if (failed) {
                EXPECT_EQ(r.first, 0) << n;
                EXPECT_EQ(r.second, ENOMEM) << n;
                EXPECT_EQ(ReadFile(out), B({1, 2, 3})) << n;  // left as it was
            } else {
                EXPECT_EQ(r.first, 1) << n;
            }
        });
}

TEST(OutOfMemory, QueriesAndAnalysesGiveEverythingOrNothing) {
    CMidiFolio song;
    ASSERT_EQ(song.LoadMidiFile(kSample), 1);
    MidiEventList all;
    song.GetMIDIByTime(TF_TICK, MakeTicks(0), MakeTicks(-1), all);
    InstrumentArray instruments;
    song.GetInstrument(instruments);
    ConflictVoiceArray conflicts;
    song.CheckMidiByVoice(6, &conflicts);
    CountDown(
        [&] {
            MidiEventList list;
            Armed(
                [&] { return song.GetMIDIByTime(TF_TICK, MakeTicks(0), MakeTicks(-1), list), 0; });
            return list.size();
        },
        [&](size_t n, bool failed, long k) {
            EXPECT_TRUE(n == all.size() || (failed && n == 0)) << k;
        });
    CountDown(
        [&] {
            InstrumentArray list;
            Armed([&] { return song.GetInstrument(list), 0; });
            return list.size();
        },
        [&](size_t n, bool failed, long k) {
            EXPECT_TRUE(n == instruments.size() || (failed && n == 0)) << k;
        });
    CountDown(
        [&] {
            ConflictVoiceArray list;
            Armed([&] { return song.CheckMidiByVoice(6, &list), 0; });
            return list.size();
        },
        [&](size_t n, bool failed, long k) {
            EXPECT_TRUE(n == conflicts.size() || (failed && n == 0)) << k;
        });
}

TEST(OutOfMemory, TheExactLayerReadsViewsEditsAndWritesOrSaysItCouldNot) {
    const Bytes bytes = ReadFile(kSample);
    score::ReadReport ok;
    const score::Song song = score::Song::FromBytes(bytes, score::ReadOptions{}, ok);
    ASSERT_TRUE(ok.ok());
    const score::Score score(song);
    const size_t notes = score.notes().size();
    CountDown(
        [&] {
            score::ReadReport report;
            Bytes copy = bytes;  // the argument is the caller's to make
            const score::Song s = Armed([&] {
                return score::Song::FromBytes(std::move(copy), score::ReadOptions{}, report);
            });
            return std::make_pair(report.status, score::Score(s).notes().size());
        },
        [&](std::pair<score::ReadStatus, size_t> r, bool failed, long n) {
            if (r.first == score::ReadStatus::kOk)
                EXPECT_EQ(r.second, notes) << n;
            else
                EXPECT_TRUE(failed && r.first == score::ReadStatus::kNoMemory) << n;
        });
    CountDown(
        [&] { return Armed([&] { return score.summary(); }).notes; },
        [&](size_t n, bool failed, long k) { EXPECT_TRUE(n == notes || (failed && n == 0)) << k; });
    CountDown(
        [&] { return Armed([&] { return score.instruments(); }).size(); },
        [&](size_t n, bool failed, long k) { EXPECT_TRUE(n == 4 || (failed && n == 0)) << k; });
    CountDown(
        [&] {
            const score::Survey s = Armed([&] { return score.survey(); });
            return std::make_pair(s.summary.notes, s.instruments.size());
        },
        [&](std::pair<size_t, size_t> r, bool failed, long k) {
            EXPECT_TRUE(r == std::make_pair(notes, size_t{4}) ||
                        (failed && r == std::make_pair(size_t{0}, size_t{0})))
                << k;
        });
    CountDown(
        [&] {
            std::string error;
            const score::Song t = Armed([&] { return score::Transpose(song, 1, false, &error); });
            return std::make_pair(error, t.events());
        },
        [&](const std::pair<std::string, uint64_t>& r, bool failed, long n) {
            if (r.first.empty())
                EXPECT_EQ(r.second, song.events()) << n;
            else
                EXPECT_TRUE(failed && r.first.find("memory") != std::string::npos)
                    << n << ": " << r.first;
        });
    CountDown(
        [&] {
            std::string error;
            const size_t size = Armed([&] { return song.Save(&error); }).size();
            return std::make_pair(size, error);
        },
        [&](const std::pair<size_t, std::string>& r, bool failed, long n) {
            EXPECT_TRUE(r.first == bytes.size() || (failed && r.first == 0 && !r.second.empty()))
                << n;
        });
}

TEST(OutOfMemory, StreamsAndViewsOfTheLibrarysSongEndOrEmptyAndSaySo) {
    CMidiFolio core;
    ASSERT_EQ(core.LoadMidiFile(kSample), 1);
    const score::Score whole(core);
    ASSERT_EQ(whole.notes().size(), 282u);
    CountDown(
        [&] { return Armed([&] { return score::Score(core).notes().size(); }); },
        [](size_t n, bool failed, long k) { EXPECT_TRUE(n == 282 || (failed && n == 0)) << k; });
    CountDown(
        [&] {
            return Armed([&] {
                score::EventStream stream(whole);
                score::EventRecord ev;
                int64_t end = 0;
                size_t n = 0;
                while (stream.Next(ev, end)) ++n;
                return std::make_pair(n, stream.whole());
            });
        },
        [&](std::pair<size_t, bool> r, bool failed, long k) {
            if (r.second)
                EXPECT_EQ(r.first, whole.event_count()) << k;
            else
                EXPECT_TRUE(failed) << k;
        });
}
