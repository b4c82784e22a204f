// Audio: the engine (render/) on message lists built here, its audio files, the tool's
// `render`, and FluidSynth's own file player (`fluidsynth -ni -F`) as the reference for how a
// song sounds, on small songs built byte by byte and on every real file of tests/data. The
// small TimGM6mb SoundFont keeps the renders fast.
//
// The comparison with the player runs on every file in the optimised build and on three in a
// sanitizer build (MIDIFOLIO_RENDER_CORPUS=all or =few chooses at run time).
#include <gtest/gtest.h>

#ifndef MIDIFOLIO_HAVE_AUDIO
// Built without FluidSynth and libsndfile: nothing to render.
TEST(Render, IsNotBuilt) {
    GTEST_SKIP() << "configure with FluidSynth and libsndfile installed to test audio";
}
#else

#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <string>
#include <vector>

#include "audio_file.h"
#include "midifolio/score.h"
#include "synth.h"
#include "test_support.h"

using namespace testsupport;
using namespace midifolio;
using mfrender::MessageList;
using mfrender::RenderError;
using mfrender::RenderOptions;

namespace {

const std::string kSmallFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
const std::string kGmFont = "/usr/share/sounds/sf2/FluidR3_GM.sf2";

bool Readable(const std::string& path) {
    return access(path.c_str(), R_OK) == 0;
}

bool HaveFluidSynthPlayer() {
    int status = -1;
    Run("command -v fluidsynth >/dev/null 2>&1", &status);
    return status == 0;
}

#define NEED_FONT(path) \
    if (!Readable(path)) GTEST_SKIP() << path << " is not installed (scripts/install-deps.sh)"
#define NEED_PLAYER()      \
    NEED_FONT(kSmallFont); \
    if (!HaveFluidSynthPlayer()) GTEST_SKIP() << "fluidsynth is not installed"

std::string Quote(const std::string& s) {
    return "'" + s + "'";
}

// ------------------------------------------------------------------ audio and its measures

struct Audio {
    int rate = 0;
    std::vector<float> samples;  // stereo, interleaved
    size_t Frames() const { return samples.size() / 2; }
    double Seconds() const { return rate ? static_cast<double>(Frames()) / rate : 0; }
};

// An audio file as libsndfile reads it (mono files doubled to stereo); no frames when it
// cannot be read.
Audio ReadAudio(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    Audio a;
    if (file == nullptr) return a;
    std::vector<float> buffer(static_cast<size_t>(info.frames * info.channels));
    const sf_count_t read = sf_readf_float(file, buffer.data(), info.frames);
    sf_close(file);
    a.rate = info.samplerate;
    for (sf_count_t i = 0; i < read; ++i) {
        const float* f = &buffer[static_cast<size_t>(i * info.channels)];
        a.samples.push_back(f[0]);
        a.samples.push_back(info.channels > 1 ? f[1] : f[0]);
    }
    return a;
}

// The engine's audio of a message list (the small SoundFont unless another is named).
Audio RenderList(const MessageList& list, RenderOptions options = {}) {
    if (options.soundfont.empty()) options.soundfont = kSmallFont;
    Audio a;
    a.rate = static_cast<int>(options.sampleRate);
    mfrender::Render(list, options, [&a](const float* f, size_t frames) {
        a.samples.insert(a.samples.end(), f, f + 2 * frames);
    });
    return a;
}

float Peak(const Audio& a) {
    float peak = 0;
    for (float s : a.samples) peak = std::max(peak, std::fabs(s));
    return peak;
}

// The first frame above `level` (-120 dBFS: FluidSynth's effects leave traces of -150 dBFS
// in silence); Frames() when there is none.
size_t FirstSound(const Audio& a, float level = 1e-6f) {
    for (size_t i = 0; i < a.Frames(); ++i)
        if (std::fabs(a.samples[2 * i]) > level || std::fabs(a.samples[2 * i + 1]) > level)
            return i;
    return a.Frames();
}

// Seconds to the end of the last frame above -60 dBFS: how long a song is heard.
double AudibleSeconds(const Audio& a) {
    for (size_t i = a.Frames(); i-- > 0;)
        if (std::fabs(a.samples[2 * i]) > 1e-3f || std::fabs(a.samples[2 * i + 1]) > 1e-3f)
            return static_cast<double>(i + 1) / a.rate;
    return 0;
}

// RMS of both channels in windows of 50 ms.
std::vector<double> Envelope(const Audio& a) {
    const auto window = static_cast<size_t>(0.05 * a.rate);
    std::vector<double> out((a.Frames() + window - 1) / window, 0.0);
    for (size_t i = 0; i < a.samples.size(); ++i)
        out[i / 2 / window] += static_cast<double>(a.samples[i]) * a.samples[i];
    for (double& v : out) v = std::sqrt(v / (2.0 * window));
    return out;
}

// Pearson's correlation, the shorter series padded with zeros.
double Correlation(std::vector<double> x, std::vector<double> y) {
    const size_t n = std::max(x.size(), y.size());
    x.resize(n, 0.0);
    y.resize(n, 0.0);
    const double mx = std::accumulate(x.begin(), x.end(), 0.0) / n;
    const double my = std::accumulate(y.begin(), y.end(), 0.0) / n;
    double sxy = 0, sxx = 0, syy = 0;
    for (size_t i = 0; i < n; ++i) {
        sxy += (x[i] - mx) * (y[i] - my);
        sxx += (x[i] - mx) * (x[i] - mx);
        syy += (y[i] - my) * (y[i] - my);
    }
    return sxx > 0 && syy > 0 ? sxy / std::sqrt(sxx * syy) : 0.0;
}

double EnvelopeCorrelation(const Audio& a, const Audio& b) {
    return Correlation(Envelope(a), Envelope(b));
}

std::vector<double> Left(const Audio& a) {
    std::vector<double> left(a.Frames());
    for (size_t i = 0; i < left.size(); ++i) left[i] = a.samples[2 * i];
    return left;
}

// The correlation of the two waveforms (left channels) at the offset, within 256 frames,
// at which they agree best (found over 16,384 frames from the first sound): for renders that
// should be the same samples, however the two players' first blocks fall.
double WaveCorrelation(const Audio& a, const Audio& b) {
    const std::vector<double> x = Left(a), y = Left(b);
    const auto n = static_cast<long>(x.size()), m = static_cast<long>(y.size());
    const long start = static_cast<long>(FirstSound(a));
    auto dot = [&](long lag) {
        double sum = 0;
        for (long i = std::max(start, -lag); i < std::min({start + 16384, n, m - lag}); ++i)
            sum += x[i] * y[i + lag];
        return sum;
    };
    long best = 0;
    double bestDot = dot(0);
    for (long lag = -256; lag <= 256; ++lag) {
        const double d = dot(lag);
        if (d > bestDot) best = lag, bestDot = d;
    }
    const long from = std::max(0L, -best), to = std::min(n, m - best);
    if (to <= from) return 0;
    return Correlation(std::vector<double>(x.begin() + from, x.begin() + to),
                       std::vector<double>(y.begin() + from + best, y.begin() + to + best));
}

// ------------------------------------------------------------------ messages and songs

// Message lists for the engine, written as the test reads them.
struct Timed {
    MessageList list;
    Timed& At(double seconds, std::initializer_list<int> bytes) {
        const Bytes b = B(bytes);
        list.Add(seconds, b.data(), b.size());
        return *this;
    }
    Timed& End(double seconds) {
        list.end = seconds;
        return *this;
    }
};

// A note of the piano (program 0), channel 1, from `on` to `off` seconds.
Timed Note(double on, double off, int note = 60) {
    Timed m;
    m.At(on, {0x90, note, 100}).At(off, {0x80, note, 0}).End(off);
    return m;
}

// One event of a track: its delta time and bytes.
Bytes Ev(uint32_t delta, std::initializer_list<int> bytes) {
    return Cat({Vlq(delta), B(bytes)});
}

// A format-0 song of 500 ticks per quarter note at the default 120 bpm, so that a tick lasts
// exactly one millisecond; the end-of-track event is added.
std::string Song(const std::string& name, const std::vector<Bytes>& events) {
    Bytes data;
    for (const Bytes& e : events) data.insert(data.end(), e.begin(), e.end());
    const Bytes end = Ev(0, {0xFF, 0x2F, 0x00});
    data.insert(data.end(), end.begin(), end.end());
    return WriteFile(name, Smf(0, 500, {data}));
}

// ------------------------------------------------------------------ the tool and the player

const std::string kCli =
#ifdef MIDIFOLIO_CLI
    MIDIFOLIO_CLI;
#else
    "";
#endif

// `midifolio ARGS`, stdout returned, stderr into *err.
std::string Cli(const std::string& args, int* status, std::string* err = nullptr) {
    const std::string errPath = TmpPath("stderr.txt");
    const std::string out = Run(kCli + " " + args + " 2>" + Quote(errPath), status);
    if (err != nullptr) {
        const Bytes e = ReadFile(errPath);
        err->assign(e.begin(), e.end());
    }
    std::remove(errPath.c_str());
    return out;
}

// The tool's WAV of a song (on the small SoundFont unless another is named).
Audio RenderWithCli(const std::string& midi, const std::string& options = "",
                    const std::string& font = kSmallFont) {
    const std::string wav = TmpPath("ours.wav");
    int status = -1;
    std::string err;
    Cli("render " + Quote(midi) + " -o " + Quote(wav) + " --soundfont " + Quote(font) + " " +
            options,
        &status, &err);
    EXPECT_EQ(status, 0) << err;
    Audio a = ReadAudio(wav);
    std::remove(wav.c_str());
    return a;
}

// FluidSynth's own player: `fluidsynth -ni -F ref.wav -r RATE SOUNDFONT SONG`, with
// `settings` (-o NAME=VALUE) before the SoundFont.
Audio RenderWithPlayer(const std::string& midi, int rate = 44100,
                       const std::string& font = kSmallFont, const std::string& settings = "") {
    const std::string wav = TmpPath("reference.wav");
    Run("timeout 900 fluidsynth -ni -F " + Quote(wav) + " -r " + std::to_string(rate) + " " +
        settings + " " + Quote(font) + " " + Quote(midi) + " >/dev/null 2>&1");
    Audio a = ReadAudio(wav);
    std::remove(wav.c_str());
    return a;
}

}  // namespace

// ================================================================== the engine

TEST(RenderEngine, AMessageReachesTheSynthesiserAtItsOwnFrame) {
    NEED_FONT(kSmallFont);
    // FluidSynth starts a note with its next block of 64 frames, and its attack takes a few
    // frames more: the first sound comes within 64 + 32 frames of the note's frame.
    for (double on : {0.25, 0.5 + 7 / 44100.0, 0.5 + 40 / 44100.0, 1.0 + 63 / 44100.0}) {
        const Audio a = RenderList(Note(on, on + 0.3).list);
        const auto frame = static_cast<size_t>(std::ceil(on * 44100 - 1e-6));
        const size_t first = FirstSound(a);
        EXPECT_GE(first, frame) << on;
        EXPECT_LT(first, frame + 64 + 32) << on;
    }
}

TEST(RenderEngine, TheSameMessagesGiveTheSameSamplesInWhateverOrderTheyAreListed) {
    NEED_FONT(kSmallFont);
    Timed sorted, shuffled;
    sorted.At(0, {0xC0, 40}).At(0.1, {0x90, 60, 90}).At(0.1, {0x90, 64, 90}).At(0.4, {0x80, 60, 0});
    sorted.At(0.45, {0x80, 64, 0}).End(0.5);
    shuffled.At(0.45, {0x80, 64, 0}).At(0.1, {0x90, 60, 90}).At(0, {0xC0, 40});
    shuffled.At(0.4, {0x80, 60, 0}).At(0.1, {0x90, 64, 90}).End(0.5);
    const Audio a = RenderList(sorted.list);
    EXPECT_EQ(a.samples, RenderList(sorted.list).samples);
    EXPECT_EQ(a.samples, RenderList(shuffled.list).samples);
}

TEST(RenderEngine, ASongWithoutNotesIsSilenceAsLongAsTheSong) {
    NEED_FONT(kSmallFont);
    Timed m;
    m.At(0, {0xC0, 40}).At(0.5, {0xB0, 7, 100}).At(1.0, {0xE0, 0, 0x50}).End(2.0);
    const Audio a = RenderList(m.list);
    EXPECT_EQ(a.Frames(), 88200u);
    EXPECT_LT(Peak(a), 1e-6f);  // below -120 dBFS
    EXPECT_EQ(RenderList(Timed().End(0).list).Frames(), 0u);
}

TEST(RenderEngine, TheAudioEndsWhenTheLastNoteHasFaded) {
    NEED_FONT(kSmallFont);
    const Audio a = RenderList(Note(0.1, 0.6).list);
    // Longer than the song by the piano's release and the reverb, not by the whole 3 s.
    EXPECT_GT(a.Seconds(), 0.7);
    EXPECT_LT(a.Seconds(), 0.6 + mfrender::kMaxTailSeconds - 0.5);
    // It ends with its last frame above -90 dBFS.
    const float* last = &a.samples[a.samples.size() - 2];
    EXPECT_TRUE(std::fabs(last[0]) > mfrender::kSilence || std::fabs(last[1]) > mfrender::kSilence);
}

TEST(RenderEngine, ANoteThatNeverEndsStopsThreeSecondsAfterTheLastEvent) {
    NEED_FONT(kSmallFont);
    Timed m;
    m.At(0, {0xC0, 19}).At(0.1, {0x90, 60, 100}).End(1.0);  // a church organ, never released
    const Audio a = RenderList(m.list);
    EXPECT_NEAR(a.Seconds(), 1.0 + mfrender::kMaxTailSeconds, 64.0 / 44100);
}

TEST(RenderEngine, PedalsHeldAtTheEndAreReleased) {
    NEED_FONT(kSmallFont);
    Timed m;  // the organ again, held by the sustain pedal after its note-off
    m.At(0, {0xC0, 19}).At(0, {0xB0, 64, 127}).At(0.1, {0x90, 60, 100}).At(0.5, {0x80, 60, 0});
    m.End(1.0);
    EXPECT_LT(RenderList(m.list).Seconds(), 1.0 + mfrender::kMaxTailSeconds - 0.5);
}

TEST(RenderEngine, AStretchStartsWithTheChannelsAsTheSongLeftThem) {
    NEED_FONT(kSmallFont);
    Timed m;  // a violin set up at 0; a note before the stretch and one inside it
    m.At(0, {0xC0, 40}).At(0, {0xB0, 7, 80}).At(0.2, {0x90, 50, 100}).At(0.9, {0x80, 50, 0});
    m.At(1.0, {0x90, 67, 100}).At(1.6, {0x80, 67, 0}).End(2.0);
    RenderOptions part;
    part.from = 0.8;
    const Audio stretch = RenderList(m.list, part);
    // The violin's note, not the piano's, and not the note begun before the stretch.
    Timed alone;
    alone.At(0, {0xC0, 40}).At(0, {0xB0, 7, 80}).At(0.2, {0x90, 67, 100}).At(0.8, {0x80, 67, 0});
    alone.End(1.2);
    EXPECT_EQ(stretch.samples, RenderList(alone.list).samples);
}

TEST(RenderEngine, AStretchWithAnEndReleasesEveryNoteThere) {
    NEED_FONT(kSmallFont);
    Timed m;
    m.At(0, {0xC0, 19}).At(0.1, {0x90, 60, 100}).At(5.0, {0x80, 60, 0}).At(6, {0x90, 62, 90});
    m.End(7.0);
    RenderOptions part;
    part.to = 1.0;
    const Audio a = RenderList(m.list, part);
    EXPECT_GE(a.Frames(), 44100u);
    EXPECT_LT(a.Seconds(), 1.0 + mfrender::kMaxTailSeconds - 0.5);
}

TEST(RenderEngine, DataBytesAbove127PlayAs127) {
    NEED_FONT(kSmallFont);
    Timed loud, top;
    loud.At(0.1, {0x90, 60, 255}).At(0.5, {0x80, 60, 0}).End(0.5);
    top.At(0.1, {0x90, 60, 127}).At(0.5, {0x80, 60, 0}).End(0.5);
    const Audio a = RenderList(loud.list);
    EXPECT_GT(Peak(a), 0.01f);
    EXPECT_EQ(a.samples, RenderList(top.list).samples);
}

TEST(RenderEngine, TheGainScalesTheAudioAndTheRateItsFrames) {
    NEED_FONT(kSmallFont);
    RenderOptions quiet, loud, low;
    loud.gain = 0.4;
    low.sampleRate = 22050;
    const MessageList list = Note(0.1, 0.5).list;
    EXPECT_NEAR(Peak(RenderList(list, loud)) / Peak(RenderList(list, quiet)), 2.0, 0.02);
    Timed silent;
    silent.At(0, {0xC0, 1}).End(2.0);
    EXPECT_EQ(RenderList(silent.list, low).Frames(), 44100u);
}

TEST(RenderEngine, BadOptionsAndInputsAreRefusedWithTheirReason) {
    auto problem = [](const MessageList& list, RenderOptions o) {
        try {
            RenderList(list, o);
        } catch (const RenderError& e) {
            return std::make_pair(e.problem(), std::string(e.what()));
        }
        return std::make_pair(mfrender::Problem::kEngine, std::string("no error"));
    };
    const MessageList note = Note(0.1, 0.5).list;
    RenderOptions missing, bad, rate, gain, order, longSong;
    missing.soundfont = "/nonexistent/font.sf2";
    bad.soundfont = DataPath("cli/sample.mid");
    rate.sampleRate = 200000;
    gain.gain = -1;
    order.from = 2;
    order.to = 1;
    longSong.maxSeconds = 60;
    EXPECT_EQ(problem(note, missing).first, mfrender::Problem::kNoSoundFont);
    EXPECT_NE(problem(note, missing).second.find("/nonexistent/font.sf2"), std::string::npos);
    NEED_FONT(kSmallFont);
    EXPECT_EQ(problem(note, bad).first, mfrender::Problem::kBadSoundFont);
    EXPECT_NE(problem(note, rate).second.find("8000..96000"), std::string::npos);
    EXPECT_NE(problem(note, gain).second.find("0..10"), std::string::npos);
    EXPECT_EQ(problem(note, order).first, mfrender::Problem::kBadOptions);
    EXPECT_NE(problem(Note(0.1, 3600).list, longSong).second.find("render a part"),
              std::string::npos);
    MessageList outside = note;
    outside.messages.push_back({0.2, 100, 3});
    EXPECT_EQ(problem(outside, {}).first, mfrender::Problem::kBadOptions);
    MessageList noTime = note;
    noTime.messages[0].seconds = NAN;
    EXPECT_EQ(problem(noTime, {}).first, mfrender::Problem::kBadOptions);
}

// ================================================================== audio files

TEST(AudioFile, TheFormatIsPickedByTheExtensionInAnyCase) {
    using mfrender::AudioFormat;
    using mfrender::FormatOfPath;
    EXPECT_EQ(FormatOfPath("a/song.wav"), AudioFormat::kWav);
    EXPECT_EQ(FormatOfPath("SONG.WAV"), AudioFormat::kWav);
    EXPECT_EQ(FormatOfPath("x.Flac"), AudioFormat::kFlac);
    EXPECT_EQ(FormatOfPath("x.ogg"), AudioFormat::kOgg);
    EXPECT_EQ(FormatOfPath("x.oga"), AudioFormat::kOgg);
    EXPECT_FALSE(FormatOfPath("x.mp3"));
    EXPECT_FALSE(FormatOfPath("wav"));
    EXPECT_FALSE(FormatOfPath("dir.wav/file"));
}

TEST(AudioFile, EveryFormatHoldsTheFramesWritten) {
    std::vector<float> sine;
    for (int i = 0; i < 22050; ++i) {
        const auto s = static_cast<float>(0.5 * std::sin(2 * M_PI * 440 * i / 44100.0));
        sine.push_back(s);
        sine.push_back(-s);
    }
    for (auto format :
         {mfrender::AudioFormat::kWav, mfrender::AudioFormat::kFlac, mfrender::AudioFormat::kOgg}) {
        mfrender::AudioEncoder encoder(format, 44100);
        encoder.Write(sine.data(), 10000);
        encoder.Write(sine.data() + 20000, 12050);
        const Bytes bytes = encoder.Finish();
        const Audio a = ReadAudio(WriteFile("audio", bytes));
        SCOPED_TRACE(mfrender::FormatName(format));
        EXPECT_EQ(a.rate, 44100);
        ASSERT_EQ(a.Frames(), 22050u);
        // Lossless formats to 16 bits; Vorbis to its own accuracy.
        const double tolerance = format == mfrender::AudioFormat::kOgg ? 0.05 : 1.0 / 32768;
        double worst = 0;
        for (size_t i = 0; i < sine.size(); ++i)
            worst = std::max(worst, static_cast<double>(std::fabs(a.samples[i] - sine[i])));
        EXPECT_LT(worst, tolerance);
    }
}

TEST(AudioFile, SamplesBeyondFullScaleAreClippedNotWrapped) {
    const std::vector<float> loud = {1.5f, -1.5f, 0.25f, -0.25f};
    mfrender::AudioEncoder encoder(mfrender::AudioFormat::kWav, 8000);
    encoder.Write(loud.data(), 2);
    const Audio a = ReadAudio(WriteFile("clip.wav", encoder.Finish()));
    ASSERT_EQ(a.Frames(), 2u);
    EXPECT_GT(a.samples[0], 0.99f);
    EXPECT_LT(a.samples[1], -0.99f);
}

// ================================================================== the tool

#ifdef MIDIFOLIO_CLI

TEST(RenderCli, WritesTheSongAndSaysWhatItWrote) {
    NEED_FONT(kSmallFont);
    const std::string song = Song("two.mid", {Ev(0, {0xC0, 40}), Ev(0, {0x90, 60, 100}),
                                              Ev(500, {0x80, 60, 0}), Ev(500, {0xB0, 7, 90})});
    for (const std::string ext : {"wav", "flac", "ogg"}) {
        const std::string out = TmpPath("song." + ext);
        int status = -1;
        const std::string text = Cli(
            "render " + Quote(song) + " -o " + Quote(out) + " --soundfont " + kSmallFont, &status);
        ASSERT_EQ(status, 0) << text;
        EXPECT_EQ(text.rfind("Wrote " + out + ": ", 0), 0u) << text;
        const Audio a = ReadAudio(out);
        EXPECT_EQ(a.rate, 44100);
        EXPECT_GE(a.Seconds(), 1.0);  // the song lasts a second, then the violin fades
        EXPECT_LT(a.Seconds(), 1.0 + mfrender::kMaxTailSeconds);
    }
    int status = -1;
    const std::string json = Cli("render " + Quote(song) + " -o " + Quote(TmpPath("j.wav")) +
                                     " --rate 22050 --json --soundfont " + kSmallFont,
                                 &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(json.find("\"rate\": 22050"), std::string::npos) << json;
    EXPECT_NE(json.find("\"format\": \"WAV\""), std::string::npos) << json;
}

TEST(RenderCli, WritesWavToStandardOutput) {
    NEED_FONT(kSmallFont);
    const std::string wav = TmpPath("piped.wav");
    int status = -1;
    testsupport::Run(kCli + " render " + Quote(DataPath("cli/small.mid")) + " -o - --soundfont " +
                         kSmallFont + " > " + Quote(wav),
                     &status);
    EXPECT_EQ(status, 0);
    const Audio piped = ReadAudio(wav);
    EXPECT_GT(piped.Seconds(), 1.0);
    EXPECT_EQ(piped.samples, RenderWithCli(DataPath("cli/small.mid")).samples);
}

TEST(RenderCli, RefusesWhatItCannotDoBeforeReadingTheSong) {
    NEED_FONT(kSmallFont);
    const std::string song = DataPath("cli/small.mid");
    struct Case {
        std::string args;
        std::string message;
    } cases[] = {
        {"-o x.mp3", "x.mp3: the output's name must end in .wav, .flac, .ogg"},
        {"-o x.wav --soundfont /nonexistent.sf2", "/nonexistent.sf2: cannot read the SoundFont"},
        {"-o x.wav --soundfont " + Quote(song), "not a SoundFont"},
        {"-o x.wav --gain 11", "--gain must be 0..10, not '11'"},
        {"-o x.wav --rate 100", "--rate must be 8000..96000, not '100'"},
        {"-o x.wav --from 99s", "nothing to render: the stretch starts at 00:01:39"},
        {"-o x.wav --from 2s --to 1s", "--to 1s comes before the start"},
        {"-o x.wav --measures 1-2 --from 1s", "--from excludes --measures"},
    };
    for (const Case& c : cases) {
        int status = -1;
        std::string err;
        const bool font = c.args.find("--soundfont") != std::string::npos;
        Cli("render " + Quote(song) + (font ? "" : " --soundfont " + kSmallFont) + " " + c.args,
            &status, &err);
        EXPECT_NE(status, 0) << c.args;
        EXPECT_NE(err.find(c.message), std::string::npos) << c.args << "\n" << err;
    }
    // A song the library refuses is reported as every subcommand reports it.
    int status = -1;
    std::string err;
    Cli("render " + Quote(DataPath("cli/not_midi.mid")) + " -o " + Quote(TmpPath("n.wav")) +
            " --soundfont " + kSmallFont,
        &status, &err);
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("not a MIDI file"), std::string::npos) << err;
}

TEST(RenderCli, MeasuresAndTimesChooseTheStretch) {
    NEED_FONT(kSmallFont);
    // Four bars of 4/4 at 120 bpm (2 s each), a note at the start of each.
    std::vector<Bytes> events;
    for (int bar = 0; bar < 4; ++bar) {
        events.push_back(Ev(bar == 0 ? 0 : 1000, {0x90, 60 + bar, 100}));
        events.push_back(Ev(1000, {0x80, 60 + bar, 0}));
    }
    const std::string song = Song("bars.mid", events);
    const Audio bars = RenderWithCli(song, "--measures 2-3");
    EXPECT_GE(bars.Seconds(), 4.0);
    EXPECT_LT(bars.Seconds(), 4.0 + mfrender::kMaxTailSeconds);
    EXPECT_LT(FirstSound(bars), 100u);  // bar 2's note starts the audio
    EXPECT_EQ(bars.samples, RenderWithCli(song, "--from 2s --to 5999ms").samples);
}

TEST(RenderCli, TimesAreExactSecondsNotTheLibrarysWholeMilliseconds) {
    NEED_FONT(kSmallFont);
    // A hundred tempo segments of one tick each, every one 0.99 ms long: whole milliseconds
    // per segment lose almost all of it.
    std::vector<Bytes> events;
    for (int i = 0; i < 100; ++i)
        events.push_back(Ev(i == 0 ? 0 : 1, {0xFF, 0x51, 3, 0x01, 0x73, 0x18}));
    events.push_back(Ev(1, {0x90, 60, 100}));
    events.push_back(Ev(200, {0x80, 60, 0}));
    Bytes data;
    for (const Bytes& e : events) data.insert(data.end(), e.begin(), e.end());
    const Bytes end = Ev(0, {0xFF, 0x2F, 0x00});
    data.insert(data.end(), end.begin(), end.end());
    const std::string song = WriteFile("tempi.mid", Smf(0, 96, {data}));

    CMidiFolio folio;
    ASSERT_TRUE(folio.LoadMidiFile(song));
    const double exact = score::TimeMap(folio).seconds(100);  // 100 * 95000 / 96 us
    EXPECT_NEAR(exact, 0.0989583, 1e-6);
    EXPECT_GT(std::fabs(exact * 1000 - folio.GetMidiTempo().TicksToMsecs(100)), 10);
    const size_t first = FirstSound(RenderWithCli(song));
    EXPECT_GE(first, static_cast<size_t>(exact * 44100));
    EXPECT_LT(first, static_cast<size_t>(exact * 44100) + 64 + 32);
}

#endif  // MIDIFOLIO_CLI

// ================================================================== FluidSynth's own player

namespace {

// The bytes of a channel or system exclusive event as the player sends them; false for the
// other kinds.
bool EventBytes(const MIDIEvent& ev, Bytes& out) {
    const uint8_t high[] = {0x90, 0x80, 0, 0, 0, 0, 0xA0, 0xB0, 0xC0, 0xD0, 0xE0, 0xF0};
    out.clear();
    for (int bit = 0; bit < 12; ++bit) {
        if (ev.dwType != (1u << bit) || high[bit] == 0) continue;
        if (ev.dwType == EVT_SYSEX) {
            out.push_back(0xF0);
            if (ev.pData != nullptr) out.insert(out.end(), ev.pData, ev.pData + ev.dwLength);
            return true;
        }
        if (ev.byChannel > 15) return false;
        out.push_back(static_cast<uint8_t>(high[bit] | ev.byChannel));
        out.push_back(ev.dwType == EVT_PITCHBEND ? ev.wBend & 0x7F : ev.byData1);
        if (ev.dwType != EVT_PROGRAM && ev.dwType != EVT_CHANPRESSURE)
            out.push_back(ev.dwType == EVT_PITCHBEND ? (ev.wBend >> 7) & 0x7F : ev.byData2);
        return true;
    }
    return false;
}

struct PlayerEvent {
    int32_t tick;
    Bytes bytes;     // empty: nothing to send (a meta event)
    uint32_t tempo;  // microseconds per quarter note of a tempo event, 0 otherwise
};

// The song's events as the player holds them, track by track (the loader's tempo left out).
std::vector<std::vector<PlayerEvent> > PlayerTracks(const CMidiFolio& song) {
    std::vector<std::vector<PlayerEvent> > tracks(static_cast<size_t>(song.GetTrackNum()));
    for (long t = 0; t < song.GetTrackNum(); ++t) {
        const CMidiTrack* track = song.GetTrack(static_cast<int>(t));
        for (POSITION pos = track->GetEventHeadPosition(); pos != nullptr; pos = pos->pNext) {
            if (song.IsLoaderTempo(track, pos)) continue;
            PlayerEvent e{pos->lTime, {}, 0};
            if (pos->dwType == EVT_META && pos->dwSubType == META_TEMPO && pos->dwLength == 3)
                e.tempo = uint32_t{pos->pData[0]} << 16 | pos->pData[1] << 8 | pos->pData[2];
            EventBytes(*pos, e.bytes);
            tracks[static_cast<size_t>(t)].push_back(std::move(e));
        }
    }
    return tracks;
}

// The song's messages at the times FluidSynth's file player plays them. Before each block of
// 64 frames the player reads its clock in whole milliseconds, turns it into a tick (rounded
// to the nearest, counted from the last tempo change it met, whose time it takes as that of
// the block it was sent in) and sends every event up to that tick, track by track; what it
// sends sounds from the next block. Exact times differ from these by up to a block and a
// tick, which is all that parts the two renders of a song.
MessageList PlayerClockMessages(const std::string& path, double rate) {
    CMidiFolio song;
    song.SetMessageSink([](const std::string&) {});
    EXPECT_TRUE(song.LoadMidiFile(path)) << path;
    const auto tracks = PlayerTracks(song);
    const int tpq = song.GetMidiTempo().GetTicksPerQuarterNote();
    size_t left = 0;
    for (const auto& t : tracks) left += t.size();
    std::vector<size_t> next(tracks.size(), 0);
    float tickMs = 500000.0f / static_cast<float>(tpq) / 1000.0f;
    long startMs = 0;
    int startTick = 0;
    MessageList list;
    for (long block = 0; left > 0; ++block) {
        const auto ms = static_cast<long>(1000.0 * static_cast<double>(block * 64) / rate);
        const int now = startTick + static_cast<int>((ms - startMs) / tickMs + 0.5);
        const double seconds = static_cast<double>((block + 1) * 64) / rate;
        for (size_t t = 0; t < tracks.size(); ++t) {
            for (; next[t] < tracks[t].size() && tracks[t][next[t]].tick <= now; ++next[t]) {
                const PlayerEvent& e = tracks[t][next[t]];
                if (e.tempo != 0) {
                    tickMs = static_cast<float>(e.tempo) / static_cast<float>(tpq) / 1000.0f;
                    startMs = ms;
                    startTick = now;
                }
                if (!e.bytes.empty()) list.Add(seconds, e.bytes.data(), e.bytes.size());
                list.end = seconds;
                --left;
            }
        }
    }
    return list;
}

// A copy of a song written by python3-mido, for a file the player cannot read.
std::string MidoCopy(const std::string& path) {
    const std::string copy = TmpPath("mido-copy.mid");
    int status = -1;
    Run("/usr/bin/python3 -c 'import mido, sys; mido.MidiFile(sys.argv[1]).save(sys.argv[2])' " +
            Quote(path) + " " + Quote(copy) + " 2>&1",
        &status);
    EXPECT_EQ(status, 0) << "python3-mido could not copy " << path;
    return copy;
}

bool HasNotes(const std::string& path) {
    CMidiFolio song;
    song.SetMessageSink([](const std::string&) {});
    return song.LoadMidiFile(path) && !score::Score(song).notes().empty();
}

// The real files compared with the player: every one, or three in a sanitizer build.
std::vector<std::string> ReferenceFiles() {
    const char* env = std::getenv("MIDIFOLIO_RENDER_CORPUS");
#ifdef MIDIFOLIO_RENDER_FEW_FILES
    const bool few = env == nullptr || std::string(env) != "all";
#else
    const bool few = env != nullptr && std::string(env) == "few";
#endif
    std::vector<std::string> files{DataPath("cli/sample.mid")};
    std::vector<std::string> corpus = CorpusFiles();
    if (few) corpus.resize(std::min<size_t>(corpus.size(), 2));
    for (const std::string& name : corpus) files.push_back(DataPath("corpus/" + name));
    return files;
}

std::string TestName(const ::testing::TestParamInfo<std::string>& info) {
    std::string name = info.param.substr(info.param.find_last_of('/') + 1);
    name = name.substr(0, name.size() - 4);
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

}  // namespace

#ifdef MIDIFOLIO_CLI

// Every real file as the tool renders it against the player's own render: the envelopes of
// RMS in 50 ms windows correlate at 0.98 or more, and the audible lengths agree within
// 0.5 s. In songs that double a line in unison on several channels, the sum of the doubled
// voices depends on their phases, and the player's clock alone moves the envelope more than
// that: there the messages at the player's clock (PlayerClockMessages) must give the
// player's envelope at 0.99, so that the times are all that parts the two.
class RenderReference : public ::testing::TestWithParam<std::string> {};

TEST_P(RenderReference, SoundsAsFluidSynthsOwnPlayerPlaysIt) {
    NEED_PLAYER();
    std::string played = GetParam();
    Audio reference = RenderWithPlayer(played);
    if (AudibleSeconds(reference) == 0 && HasNotes(played)) {
        // The player reads running status after a meta event wrongly and plays nothing of
        // such a file (freedink__104.mid): it plays mido's copy instead.
        played = MidoCopy(played);
        reference = RenderWithPlayer(played);
        RecordProperty("reference", "python3-mido's copy");
    }
    ASSERT_GT(reference.Frames(), 0u);
    const Audio ours = RenderWithCli(GetParam());
    EXPECT_NEAR(AudibleSeconds(ours), AudibleSeconds(reference), 0.5);
    RecordProperty("audible_s", std::to_string(AudibleSeconds(ours)) + " " +
                                    std::to_string(AudibleSeconds(reference)));
    const double exact = EnvelopeCorrelation(ours, reference);
    RecordProperty("envelope_correlation", std::to_string(exact));
    if (exact >= 0.98) return;
    const double clocked =
        EnvelopeCorrelation(RenderList(PlayerClockMessages(played, 44100)), reference);
    RecordProperty("at_the_players_clock", std::to_string(clocked));
    EXPECT_GE(clocked, 0.99) << "exact times: " << exact;
    EXPECT_GE(exact, 0.93);
}

INSTANTIATE_TEST_SUITE_P(RealFiles, RenderReference, ::testing::ValuesIn(ReferenceFiles()),
                         TestName);

TEST(RenderReferenceMeasure, ADelayOf30msShowsInTheEnvelope) {
    NEED_PLAYER();
    const std::string song = DataPath("cli/sample.mid");
    const Audio reference = RenderWithPlayer(song);
    MessageList clocked = PlayerClockMessages(song, 44100);
    EXPECT_GT(EnvelopeCorrelation(RenderList(clocked), reference), 0.99);
    for (auto& m : clocked.messages) m.seconds += 0.03;
    clocked.end += 0.03;
    EXPECT_LT(EnvelopeCorrelation(RenderList(clocked), reference), 0.95);
}

// ------------------------------------------------------------------ what reaches the synthesiser

// Small songs of one millisecond per tick, at 32,000 frames per second where a block of 64
// frames lasts 2 ms: at even ticks both renders send every message in the same block (the
// player's one block later throughout), so their samples agree.
// The engine applies system exclusive messages to any device; the player takes Roland's
// device 16 when it is told to.
Audio SameAsPlayer(const std::string& song, const std::string& font = kSmallFont) {
    const Audio ours = RenderWithCli(song, "--rate 32000", font);
    const Audio player = RenderWithPlayer(song, 32000, font, "-o synth.device-id=16");
    EXPECT_GT(WaveCorrelation(ours, player), 0.99) << song;
    return ours;
}

Bytes NoteOn(int channel, int note) {
    return Ev(100, {0x90 | channel, note, 100});
}
Bytes NoteOff(int channel, int note) {
    return Ev(600, {0x80 | channel, note, 0});
}

TEST(RenderReference, DrumsPlayOnChannelTen) {
    NEED_PLAYER();
    const Audio drum = SameAsPlayer(Song("drum.mid", {NoteOn(9, 38), NoteOff(9, 38)}));
    const Audio piano = SameAsPlayer(Song("piano.mid", {NoteOn(0, 38), NoteOff(0, 38)}));
    EXPECT_LT(WaveCorrelation(drum, piano), 0.5);
}

TEST(RenderReference, ProgramsAndBanksPickTheInstrument) {
    NEED_PLAYER();
    const Audio violin =
        SameAsPlayer(Song("violin.mid", {Ev(0, {0xC0, 40}), NoteOn(0, 60), NoteOff(0, 60)}));
    const Audio piano = SameAsPlayer(Song("piano.mid", {NoteOn(0, 60), NoteOff(0, 60)}));
    EXPECT_LT(WaveCorrelation(violin, piano), 0.5);
    const Audio tr808 =
        SameAsPlayer(Song("808.mid", {Ev(0, {0xC9, 25}), NoteOn(9, 38), NoteOff(9, 38)}));
    const Audio standard = SameAsPlayer(Song("kit.mid", {NoteOn(9, 38), NoteOff(9, 38)}));
    EXPECT_LT(WaveCorrelation(tr808, standard), 0.5);
    NEED_FONT(kGmFont);  // banks beyond 0: FluidR3's variations (bank 8, 19: Church Organ 2)
    const Audio second = SameAsPlayer(
        Song("organ2.mid", {Ev(0, {0xB0, 0, 8}), Ev(0, {0xC0, 19}), NoteOn(0, 60), NoteOff(0, 60)}),
        kGmFont);
    const Audio first = SameAsPlayer(
        Song("organ.mid", {Ev(0, {0xC0, 19}), NoteOn(0, 60), NoteOff(0, 60)}), kGmFont);
    EXPECT_LT(WaveCorrelation(second, first), 0.9);
}

TEST(RenderReference, ControllersSetVolumeAndPan) {
    NEED_PLAYER();
    const Audio left = SameAsPlayer(Song(
        "left.mid", {Ev(0, {0xB0, 10, 0}), Ev(0, {0xB0, 7, 40}), NoteOn(0, 60), NoteOff(0, 60)}));
    const Audio centre = SameAsPlayer(Song("centre.mid", {NoteOn(0, 60), NoteOff(0, 60)}));
    float leftPeak[2] = {0, 0}, centrePeak = Peak(centre);
    for (size_t i = 0; i < left.samples.size(); ++i)
        leftPeak[i % 2] = std::max(leftPeak[i % 2], std::fabs(left.samples[i]));
    EXPECT_LT(leftPeak[1], 0.2f * leftPeak[0]);  // the right channel: reverb only
    EXPECT_LT(leftPeak[0], 0.6f * centrePeak);
}

TEST(RenderReference, PitchBendsFollowTheBendRangeSetByRpn) {
    NEED_PLAYER();
    const Bytes bendUp = Ev(200, {0xE0, 0x7F, 0x7F});
    const Audio plain =
        SameAsPlayer(Song("plain.mid", {Ev(0, {0xC0, 73}), NoteOn(0, 60), NoteOff(0, 60)}));
    const Audio bent = SameAsPlayer(
        Song("bent.mid", {Ev(0, {0xC0, 73}), NoteOn(0, 60), bendUp, Ev(400, {0x80, 60, 0})}));
    const Audio octave = SameAsPlayer(
        Song("octave.mid",
             {Ev(0, {0xC0, 73}), Ev(0, {0xB0, 101, 0}), Ev(0, {0xB0, 100, 0}), Ev(0, {0xB0, 6, 12}),
              Ev(0, {0xB0, 38, 0}), NoteOn(0, 60), bendUp, Ev(400, {0x80, 60, 0})}));
    EXPECT_LT(WaveCorrelation(plain, bent), 0.9);
    EXPECT_LT(WaveCorrelation(bent, octave), 0.9);
}

TEST(RenderReference, GeneralMidiAndGsResetsRestoreTheChannels) {
    NEED_PLAYER();
    const Audio piano = SameAsPlayer(Song("piano.mid", {NoteOn(0, 60), NoteOff(0, 60)}));
    const Audio gm = SameAsPlayer(
        Song("gm.mid", {Ev(0, {0xC0, 40}), Ev(0, {0xF0, 5, 0x7E, 0x7F, 0x09, 0x01, 0xF7}),
                        NoteOn(0, 60), NoteOff(0, 60)}));
    const Audio gs = SameAsPlayer(Song(
        "gs.mid", {Ev(0, {0xC0, 40}),
                   Ev(0, {0xF0, 10, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}),
                   NoteOn(0, 60), NoteOff(0, 60)}));
    EXPECT_GT(WaveCorrelation(gm, piano), 0.999);
    EXPECT_GT(WaveCorrelation(gs, piano), 0.999);
}

TEST(RenderReference, AGsRhythmPartMakesAChannelPlayDrums) {
    NEED_PLAYER();
    const Bytes gsReset =
        Ev(0, {0xF0, 10, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7});
    const Bytes part11Drums =
        Ev(0, {0xF0, 10, 0x41, 0x10, 0x42, 0x12, 0x40, 0x1A, 0x15, 0x02, 0x0F, 0xF7});
    const Audio drums =
        SameAsPlayer(Song("rhythm.mid", {gsReset, part11Drums, NoteOn(10, 38), NoteOff(10, 38)}));
    const Audio kit = SameAsPlayer(Song("kit.mid", {NoteOn(9, 38), NoteOff(9, 38)}));
    const Audio piano = SameAsPlayer(Song("piano11.mid", {NoteOn(10, 38), NoteOff(10, 38)}));
    EXPECT_GT(WaveCorrelation(drums, kit), 0.99);
    EXPECT_LT(WaveCorrelation(drums, piano), 0.5);
}

#endif  // MIDIFOLIO_CLI

#endif  // MIDIFOLIO_HAVE_AUDIO
