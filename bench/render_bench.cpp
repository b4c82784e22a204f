// The audio engine's speed (Google Benchmark): examples/sample.mid rendered as `midifolio
// render` renders it (load, messages, FluidSynth, a WAV in memory), in seconds of audio per
// second of CPU on one thread ("x_realtime"), with Debian's General MIDI SoundFont and the
// small TimGM6mb; and the start alone (a synthesiser with its SoundFont, nothing played).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "audio_file.h"
#include "midifolio/midifolio.h"
#include "midifolio/score.h"
#include "song_messages.h"
#include "synth.h"

using namespace midifolio;

namespace {

const std::string kSample = MIDIFOLIO_SAMPLE;

bool Missing(benchmark::State& state, const std::string& font) {
    if (access(font.c_str(), R_OK) == 0) return false;
    state.SkipWithError((font + " is not installed").c_str());
    return true;
}

// One render of the sample song, from its file to the bytes of a WAV file.
double RenderSample(const std::string& font) {
    score::ReadReport report;
    const score::Song song = score::Song::Load(kSample, score::ReadOptions{}, report);
    if (!report.ok()) std::abort();
    const mfrender::MessageList input = mfrender::MessagesOf(score::Score(song));
    mfrender::RenderOptions options;
    options.soundfont = font;
    mfrender::AudioEncoder wav(mfrender::AudioFormat::kWav, 44100);
    const mfrender::RenderStats stats =
        mfrender::Render(input, options, [&wav](const float* f, size_t n) { wav.Write(f, n); });
    benchmark::DoNotOptimize(wav.Finish());
    return static_cast<double>(stats.frames) / stats.rate;
}

void BM_RenderSample(benchmark::State& state, const std::string& font) {
    if (Missing(state, font)) return;
    double seconds = 0;
    for (auto _ : state) seconds = RenderSample(font);
    state.counters["audio_s"] = seconds;
    state.counters["x_realtime"] = benchmark::Counter(
        seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// A synthesiser started with its SoundFont and nothing played: what every render pays first.
void BM_StartSynth(benchmark::State& state, const std::string& font) {
    if (Missing(state, font)) return;
    mfrender::RenderOptions options;
    options.soundfont = font;
    const mfrender::MessageList nothing;
    for (auto _ : state) benchmark::DoNotOptimize(mfrender::Render(nothing, options, nullptr));
}

const std::string kGm = "/usr/share/sounds/sf2/FluidR3_GM.sf2";
const std::string kSmall = "/usr/share/sounds/sf2/TimGM6mb.sf2";

BENCHMARK_CAPTURE(BM_RenderSample, FluidR3_GM, kGm)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RenderSample, TimGM6mb, kSmall)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_StartSynth, FluidR3_GM, kGm)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_StartSynth, TimGM6mb, kSmall)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
