// `midifolio render FILE -o OUT.wav`: the song played through FluidSynth and a SoundFont into
// a WAV, FLAC or Ogg Vorbis file, or a WAV on standard output.
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>
#include <tuple>

#include "commands.h"
#include "describe.h"
#include "media.h"
#include "times.h"

using namespace midifolio;

namespace mfcli {

#ifndef MIDIFOLIO_HAVE_AUDIO

int RunRender(const RenderOptions&) {
    throw Failure(
        "this midifolio was built without audio rendering: it needs FluidSynth and libsndfile "
        "(bash scripts/install-deps.sh installs them; then configure and build again)");
}

#else

namespace {

// Where the audio goes and in which format; checked before anything is read.
mfrender::AudioFormat OutputFormat(const std::string& out) {
    if (IsStdio(out)) {
        if (StdoutIsTerminal())
            throw Failure(
                "standard output is a terminal: redirect it (-o - > song.wav) or name a file");
        return mfrender::AudioFormat::kWav;
    }
    std::optional<mfrender::AudioFormat> format = Media().formatOfPath(out);
    if (!format)
        throw Failure(out + ": the output's name must end in " + Media().knownExtensions() +
                      " (the format is picked by the extension)");
    return *format;
}

std::string SoundFontOf(const RenderOptions& o) {
    const std::string path = o.soundfont.empty() ? Media().defaultSoundFont() : o.soundfont;
    if (access(path.c_str(), R_OK) != 0) {
        const int err = errno;
        if (o.soundfont.empty())
            throw Failure("no SoundFont at " + path + " (" + std::strerror(err) +
                          "): install Debian's fluid-soundfont-gm or name one with --soundfont");
        throw Failure(path + ": cannot read the SoundFont: " + std::strerror(err));
    }
    return path;
}

// The stretch to render, in seconds: [from, to), to -1 for the whole song.
std::pair<double, double> Stretch(const RenderOptions& o, InputSong& song, double end) {
    const TickRange range = ResolveRange(o.from, o.to, o.measures, song);
    if (range.none && !o.to.empty())
        throw Failure("--to " + Shown(o.to) + " comes before the start of the stretch");
    const score::TimeMap& time = song.Score().time_map();
    const double fromSeconds = time.seconds(static_cast<double>(std::max<int64_t>(range.from, 0)));
    if (fromSeconds > end) {
        throw Failure("nothing to render: the stretch starts at " + ClockSeconds(fromSeconds) +
                      ", after the song's end at " + ClockSeconds(end));
    }
    // The last tick of the stretch lasts until the next one.
    return {fromSeconds, range.to < 0 ? -1.0 : time.seconds(static_cast<double>(range.to) + 1)};
}

void Report(const RenderOptions& o, const std::string& name, const std::string& soundfont,
            mfrender::AudioFormat format, const mfrender::RenderStats& stats, uint64_t bytes) {
    const double seconds = static_cast<double>(stats.frames) / stats.rate;
    const double peakDb = stats.peak > 0 ? 20 * std::log10(stats.peak) : -INFINITY;
    if (o.common.json) {
        JsonWriter j(Stdout(), 2);
        j.BeginObject();
        j.Field("file", name);
        j.Field("output", GivenName(o.out));
        j.Field("format", Media().formatName(format));
        j.Field("soundfont", soundfont);
        j.Field("rate", static_cast<long long>(stats.rate));
        j.Field("frames", stats.frames);
        j.Field("seconds", seconds);
        j.Key("peak_dbfs");
        if (std::isfinite(peakDb))
            j.Double(std::round(peakDb * 100) / 100);
        else
            j.Null();
        j.Field("messages", stats.sent);
        j.Field("bytes", bytes);
        j.EndObject();
        return;
    }
    Stdout() << "Wrote " << EscapeControls(o.out) << ": " << Format("%.3f", seconds) << " s of "
             << Media().formatName(format) << " at " << static_cast<long long>(stats.rate)
             << " Hz, " << SizeText(bytes) << ", peak "
             << (std::isfinite(peakDb) ? Format("%.1f dBFS", peakDb) : std::string("silence"))
             << "\n";
}

}  // namespace

int RunRender(const RenderOptions& o) {
    // Every argument is checked before the song is read.
    const mfrender::AudioFormat format = OutputFormat(o.out);
    const std::string soundfont = SoundFontOf(o);
    if (!o.from.empty()) ParseTimePoint(o.from, "--from");
    if (!o.to.empty()) ParseTimePoint(o.to, "--to");
    if (!o.measures.empty()) ParseRange(o.measures, "--measures");
    std::string error;
    if (!Media().canEncode(format, o.rate, &error)) throw Failure(error);

    InputSong song = ReadSong(o.file, o.common);
    const std::string name = song.Name();
    const mfrender::MessageList input = Media().messagesOf(song.Score());

    mfrender::RenderOptions options;
    options.soundfont = soundfont;
    options.sampleRate = o.rate;
    options.gain = o.gain;
    std::tie(options.from, options.to) = Stretch(o, song, input.end);

    TerminalProgress bar("rendering seconds", name, !o.common.noProgress);
    mfrender::RenderStats stats;
    std::vector<uint8_t> bytes;
    const bool rendered = Media().render(
        input, options, format,
        [&bar](double done, double total) {
            bar.SetRange(0, static_cast<int>(std::ceil(total)));
            bar.SetDone(static_cast<int>(done));
        },
        &bytes, &stats, &error);
    bar.Clear();
    if (!rendered) throw Failure(error);
    const std::string_view data(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (IsStdio(o.out)) {
        Stdout() << data;
        return kExitOk;
    }
    OutputTarget file(o.out);
    file.Out() << data;
    file.Commit();
    Report(o, song.Given(), soundfont, format, stats, bytes.size());
    return kExitOk;
}

#endif

}  // namespace mfcli
