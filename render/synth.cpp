// The render: a FluidSynth synthesiser sent each message at its frame, its output handed on
// as it comes, the fade-out after the last event cut where the sound has gone below -90 dBFS.
#include "synth.h"

#include <fluidsynth.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <numeric>

namespace mfrender {

void MessageList::Add(double seconds, const uint8_t* data, size_t size) {
    if (size == 0 || size > UINT32_MAX - bytes.size()) return;
    messages.push_back({seconds, static_cast<uint32_t>(bytes.size()), static_cast<uint32_t>(size)});
    bytes.insert(bytes.end(), data, data + size);
}

const std::vector<std::string>& SoundFontCandidates() {
    static const std::vector<std::string> paths = {
        "/usr/share/sounds/sf2/FluidR3_GM.sf2",  // Debian, Ubuntu: fluid-soundfont-gm
        "/usr/share/sounds/sf2/default-GM.sf2",  // Debian's alternative for any GM set
        "/usr/share/soundfonts/FluidR3_GM.sf2",  // Fedora: fluid-soundfont-gm
        "/usr/share/soundfonts/default.sf2",     // Arch: soundfont-fluid
        "/usr/share/sounds/sf2/TimGM6mb.sf2",    // Debian: timgm6mb-soundfont
    };
    return paths;
}

std::string DefaultSoundFont() {
    for (const std::string& path : SoundFontCandidates()) {
        if (access(path.c_str(), R_OK) == 0) return path;
    }
    return SoundFontCandidates().front();
}

namespace {

// FluidSynth reports through log functions of its own, on stderr by default. They are
// replaced once per process: errors are kept (per thread) for the messages of RenderError,
// the rest is dropped.
thread_local std::string t_lastError;

void KeepError(int level, const char* message, void*) {
    if (level <= FLUID_ERR && message != nullptr) t_lastError = message;
}

void QuietLogs() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG})
            fluid_set_log_function(level, KeepError, nullptr);
    });
}

struct SettingsDeleter {
    void operator()(fluid_settings_t* s) const { delete_fluid_settings(s); }
};
struct SynthDeleter {
    void operator()(fluid_synth_t* s) const { delete_fluid_synth(s); }
};
using Settings = std::unique_ptr<fluid_settings_t, SettingsDeleter>;
using Synth = std::unique_ptr<fluid_synth_t, SynthDeleter>;

std::string Number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

void CheckOptions(const RenderOptions& o) {
    if (!(o.sampleRate >= 8000 && o.sampleRate <= 96000))
        throw RenderError(Problem::kBadOptions,
                          "the sample rate must be 8000..96000 Hz, not " + Number(o.sampleRate));
    if (!(o.gain >= 0 && o.gain <= 10))
        throw RenderError(Problem::kBadOptions, "the gain must be 0..10, not " + Number(o.gain));
    if (!std::isfinite(o.from) || !std::isfinite(o.to) || o.from < 0)
        throw RenderError(Problem::kBadOptions, "the start and end must be times in seconds");
    if (o.to >= 0 && o.to <= o.from)
        throw RenderError(Problem::kBadOptions, "the end (" + Number(o.to) +
                                                    " s) must come after the start (" +
                                                    Number(o.from) + " s)");
}

Synth NewSynth(const RenderOptions& o, Settings& settings) {
    QuietLogs();
    settings.reset(new_fluid_settings());
    if (!settings) throw RenderError(Problem::kEngine, "FluidSynth could not start");
    fluid_settings_t* s = settings.get();
    fluid_settings_setnum(s, "synth.sample-rate", o.sampleRate);
    fluid_settings_setnum(s, "synth.gain", o.gain);
    // System exclusive messages for device 16: Roland's and Yamaha's first device, to which
    // files address their GS and XG messages (FluidSynth's own default, 0, takes none of
    // them; General MIDI messages go to every device anyway).
    fluid_settings_setint(s, "synth.device-id", 16);
    // One caller, one thread: no locking of the interface, no memory pinned. (Samples are
    // loaded with the SoundFont, as FluidSynth's player loads them: loading them only when a
    // preset is chosen plays some presets differently.)
    fluid_settings_setint(s, "synth.threadsafe-api", 0);
    fluid_settings_setint(s, "synth.lock-memory", 0);
    Synth synth(new_fluid_synth(s));
    if (!synth) throw RenderError(Problem::kEngine, "FluidSynth could not start: " + t_lastError);
    return synth;
}

void LoadSoundFont(fluid_synth_t* synth, const std::string& path) {
    if (access(path.c_str(), R_OK) != 0) {
        const int err = errno;
        throw RenderError(Problem::kNoSoundFont,
                          path + ": no SoundFont there (" + std::strerror(err) + ")");
    }
    // FluidSynth would try every loader it has on any file, and some of them report on
    // stderr themselves: a file that is not a RIFF SoundFont (or DLS set) is refused first.
    char head[12] = {};
    std::ifstream file(path, std::ios::binary);
    file.read(head, sizeof head);
    const bool riff =
        file.gcount() == sizeof head && std::memcmp(head, "RIFF", 4) == 0 &&
        (std::memcmp(head + 8, "sfbk", 4) == 0 || std::memcmp(head + 8, "DLS ", 4) == 0);
    if (!riff)
        throw RenderError(
            Problem::kBadSoundFont,
            path + ": not a SoundFont (an .sf2 or .sf3 file starts with RIFF and sfbk)");
    t_lastError.clear();
    if (fluid_synth_sfload(synth, path.c_str(), 1) == FLUID_FAILED) {
        throw RenderError(Problem::kBadSoundFont,
                          path + ": not a SoundFont FluidSynth can read" +
                              (t_lastError.empty() ? "" : " (" + t_lastError + ")"));
    }
}

bool IsNote(uint8_t status) {
    const uint8_t kind = status & 0xF0;
    return kind == 0x80 || kind == 0x90 || kind == 0xA0;
}

// A data byte as FluidSynth's file player passes it on: one above 127 (which a well-formed
// file never holds) is played as 127.
int Data(uint8_t byte) {
    return std::min<int>(byte, 127);
}

// One message to the synthesiser, as FluidSynth's own file player sends it. Messages too
// short for their kind, system common and real-time messages are passed over.
void Send(fluid_synth_t* synth, const uint8_t* m, uint32_t size) {
    const uint8_t status = m[0];
    if (status == 0xF0) {
        // The bytes between F0 and F7: a GM or GS reset, a master volume, a tuning...
        uint32_t n = size - 1;
        if (n > 0 && m[size - 1] == 0xF7) --n;
        if (n > 0) {
            fluid_synth_sysex(synth, reinterpret_cast<const char*>(m + 1), static_cast<int>(n),
                              nullptr, nullptr, nullptr, 0);
        }
        return;
    }
    if (status < 0x80 || status >= 0xF0 || size < 2) return;
    const int channel = status & 0x0F;
    const int d1 = Data(m[1]);
    const uint8_t kind = status & 0xF0;
    if (kind == 0xC0) {
        fluid_synth_program_change(synth, channel, d1);
    } else if (kind == 0xD0) {
        fluid_synth_channel_pressure(synth, channel, d1);
    } else if (size >= 3) {
        const int d2 = Data(m[2]);
        switch (kind) {
            case 0x80:
                fluid_synth_noteoff(synth, channel, d1);
                break;
            case 0x90:
                fluid_synth_noteon(synth, channel, d1, d2);
                break;  // 0: a note-off
            case 0xA0:
                fluid_synth_key_pressure(synth, channel, d1, d2);
                break;
            case 0xB0:
                fluid_synth_cc(synth, channel, d1, d2);
                break;
            default:
                fluid_synth_pitch_bend(synth, channel, (d2 << 7) | d1);
        }
    }
}

// Messages in the order they are played: by time, ties in list order.
std::vector<uint32_t> PlayingOrder(const MessageList& list) {
    std::vector<uint32_t> order(list.messages.size());
    std::iota(order.begin(), order.end(), 0u);
    const auto& m = list.messages;
    const bool sorted = std::is_sorted(
        m.begin(), m.end(),
        [](const TimedMessage& a, const TimedMessage& b) { return a.seconds < b.seconds; });
    if (!sorted) {
        std::stable_sort(order.begin(), order.end(),
                         [&m](uint32_t a, uint32_t b) { return m[a].seconds < m[b].seconds; });
    }
    return order;
}

void CheckList(const MessageList& list) {
    for (const TimedMessage& m : list.messages) {
        if (!std::isfinite(m.seconds))
            throw RenderError(Problem::kBadOptions, "a message has no time in seconds");
        if (m.size == 0 || m.offset > list.bytes.size() || m.size > list.bytes.size() - m.offset)
            throw RenderError(Problem::kBadOptions, "a message lies outside the message bytes");
    }
    if (!std::isfinite(list.end))
        throw RenderError(Problem::kBadOptions, "the song's end is not a time in seconds");
}

// Frames on their way to the sink. Every frame up to `keep` (the song's end) is handed on;
// after it, frames are held back until a louder one than kSilence follows them, so that the
// audio ends with its last audible frame.
class Output {
  public:
    Output(const AudioSink& sink, uint64_t keep) : sink_(sink), keep_(keep) {}

    void Push(const float* frames, size_t count) {
        for (size_t i = 0; i < count * 2; ++i) peak_ = std::max(peak_, std::fabs(frames[i]));
        const size_t direct =
            pushed_ >= keep_ ? 0 : static_cast<size_t>(std::min<uint64_t>(count, keep_ - pushed_));
        if (direct > 0) Hand(frames, direct);
        pushed_ += direct;
        for (size_t i = direct; i < count; ++i, ++pushed_) {
            held_.push_back(frames[2 * i]);
            held_.push_back(frames[2 * i + 1]);
            if (std::fabs(frames[2 * i]) > kSilence || std::fabs(frames[2 * i + 1]) > kSilence) {
                Hand(held_.data(), held_.size() / 2);
                held_.clear();
                loudEnd_ = pushed_ + 1;
            }
        }
    }
    // Frames pushed since the last audible one after the song's end (or since the end).
    uint64_t QuietFrames() const {
        const uint64_t from = std::max(loudEnd_, keep_);
        return pushed_ > from ? pushed_ - from : 0;
    }
    uint64_t Pushed() const { return pushed_; }
    uint64_t Handed() const { return handed_; }
    float Peak() const { return peak_; }

  private:
    void Hand(const float* frames, size_t count) {
        if (sink_) sink_(frames, count);
        handed_ += count;
    }
    const AudioSink& sink_;
    uint64_t keep_;
    uint64_t pushed_ = 0;
    uint64_t handed_ = 0;
    uint64_t loudEnd_ = 0;  // just after the last audible frame past `keep`
    float peak_ = 0;
    std::vector<float> held_;
};

// The synthesiser and where it stands, in frames from the start of the render.
class Driver {
  public:
    Driver(fluid_synth_t* synth, const RenderOptions& o)
        : synth_(synth), rate_(o.sampleRate), from_(o.from), buffer_(2 * kFramesPerWrite) {}

    // The frame at which a message at `seconds` is sent: the first at or after its time.
    int64_t FrameOf(double seconds) const {
        return static_cast<int64_t>(std::ceil((seconds - from_) * rate_ - 1e-6));
    }
    int64_t Frame() const { return frame_; }
    double Seconds() const { return static_cast<double>(frame_) / rate_; }

    // Renders `frames` frames (at most kFramesPerWrite) into the output.
    void Render(int64_t frames, Output& out) {
        float* b = buffer_.data();
        const int n = static_cast<int>(frames);
        if (fluid_synth_write_float(synth_, n, b, 0, 2, b, 1, 2) != FLUID_OK)
            throw RenderError(Problem::kEngine, "FluidSynth failed to render: " + t_lastError);
        out.Push(b, static_cast<size_t>(n));
        frame_ += frames;
    }

    // The pedals up and, for a cut, every note stopped.
    void ReleaseAll(bool stopNotes) {
        for (int channel = 0; channel < fluid_synth_count_midi_channels(synth_); ++channel) {
            fluid_synth_cc(synth_, channel, 64, 0);  // sustain
            fluid_synth_cc(synth_, channel, 66, 0);  // sostenuto
            if (stopNotes) fluid_synth_all_notes_off(synth_, channel);
        }
    }
    bool Sounding() const { return fluid_synth_get_active_voice_count(synth_) > 0; }

    static constexpr int64_t kFramesPerWrite = 1024;

  private:
    fluid_synth_t* synth_;
    double rate_;
    double from_;
    int64_t frame_ = 0;
    std::vector<float> buffer_;
};

// What a render plays: the messages in order, where playing starts and stops.
struct Plan {
    const MessageList& list;
    std::vector<uint32_t> order;
    double stop;  // messages at or after it are left out (infinity: none)
    double end;   // seconds the audio lasts at least
    bool cut;     // notes are stopped at `end`
};

Plan MakePlan(const MessageList& list, const RenderOptions& o) {
    Plan plan{list, PlayingOrder(list), HUGE_VAL, list.end, o.to >= 0};
    if (!list.messages.empty())
        plan.end = std::max(plan.end, list.messages[plan.order.back()].seconds);
    if (plan.cut) {
        plan.stop = o.to;
        plan.end = o.to;
    }
    if (plan.end - o.from > o.maxSeconds) {
        throw RenderError(Problem::kBadOptions,
                          "the audio would last " + Number(std::round(plan.end - o.from)) +
                              " s, more than the " + Number(o.maxSeconds) +
                              " s a render may take; render a part of the song");
    }
    return plan;
}

// One render from start to end: the channels set up before the start, the messages played
// at their frames, then the fade-out.
class Session {
  public:
    Session(const MessageList& list, const RenderOptions& o, const AudioSink& sink,
            const RenderProgress& progress)
        : list_(list),
          options_(o),
          plan_(MakePlan(list, o)),
          synth_(NewSynth(o, settings_)),
          driver_(synth_.get(), o),
          length_(std::max(0.0, plan_.end - o.from)),
          endFrame_(static_cast<uint64_t>(std::llround(length_ * o.sampleRate))),
          out_(sink, endFrame_),
          progress_(progress) {
        LoadSoundFont(synth_.get(), o.soundfont);
        stats_.rate = o.sampleRate;
    }

    RenderStats Run() {
        SetUp();
        Play();
        stats_.skipped = plan_.order.size() - stats_.sent;
        FadeOut();
        if (progress_) progress_(length_, length_);
        stats_.frames = out_.Handed();
        stats_.peak = out_.Peak();
        return stats_;
    }

  private:
    const TimedMessage& Next() const { return list_.messages[plan_.order[next_]]; }
    bool More() const { return next_ < plan_.order.size(); }
    void SendNext() {
        const TimedMessage& m = Next();
        Send(synth_.get(), list_.bytes.data() + m.offset, m.size);
        ++stats_.sent;
        ++next_;
    }

    // Before the start: the channels set up as the song left them there, no notes.
    void SetUp() {
        while (More() && Next().seconds < options_.from) {
            if (IsNote(list_.bytes[Next().offset])) {
                ++next_;
            } else {
                SendNext();
            }
        }
    }

    // The song: each message sent at its frame (FluidSynth applies it from the start of its
    // next block), the audio rendered in between.
    void Play() {
        double reported = 0;
        while (true) {
            if (More() && Next().seconds >= plan_.stop) next_ = plan_.order.size();
            while (More() && driver_.FrameOf(Next().seconds) <= driver_.Frame()) SendNext();
            int64_t frames = static_cast<int64_t>(endFrame_) - driver_.Frame();
            if (More()) frames = driver_.FrameOf(Next().seconds) - driver_.Frame();
            if (frames <= 0) break;
            driver_.Render(std::min(frames, Driver::kFramesPerWrite), out_);
            if (progress_ && driver_.Seconds() - reported >= 0.1) {
                reported = driver_.Seconds();
                progress_(std::min(reported, length_), length_);
            }
        }
    }

    // After the end: the pedals up (and, for a part of the song, every note stopped), then
    // the audio until nothing sounds and it has stayed below -90 dBFS for 50 ms, or for
    // kMaxTailSeconds at most.
    void FadeOut() {
        driver_.ReleaseAll(plan_.cut);
        const double rate = options_.sampleRate;
        const auto tailEnd = endFrame_ + static_cast<uint64_t>(kMaxTailSeconds * rate);
        const auto quiet = static_cast<uint64_t>(0.05 * rate);
        while (out_.Pushed() < tailEnd && (driver_.Sounding() || out_.QuietFrames() < quiet))
            driver_.Render(std::min<int64_t>(64, static_cast<int64_t>(tailEnd - out_.Pushed())),
                           out_);
    }

    const MessageList& list_;
    const RenderOptions& options_;
    Plan plan_;
    Settings settings_;
    Synth synth_;
    Driver driver_;
    double length_;
    uint64_t endFrame_;
    Output out_;
    const RenderProgress& progress_;
    size_t next_ = 0;
    RenderStats stats_;
};

}  // namespace

RenderStats Render(const MessageList& list, const RenderOptions& options, const AudioSink& sink,
                   const RenderProgress& progress) {
    CheckOptions(options);
    CheckList(list);
    return Session(list, options, sink, progress).Run();
}

}  // namespace mfrender
