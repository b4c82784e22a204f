// Audio from timed MIDI messages through FluidSynth and a SoundFont.
//
// The input is a plain list of messages with their exact times in seconds; it knows nothing
// of songs or tracks (the tool and the Python package each make it from a loaded song). Each
// message reaches the synthesiser at its own frame, the first at or after its exact time
// (never rounded to whole milliseconds): the audio is rendered up to that frame, then the
// message is sent. FluidSynth itself computes its voices in blocks of 64 frames and applies
// what it is sent from the start of its next block, so a note sounds at most 63 frames
// (1.45 ms at 44,100 Hz) after its frame. After the last event the sustain and sostenuto
// pedals are released, as FluidSynth's own player releases them, and the render goes on
// until the sound has faded below -90 dBFS, 3 s at most.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace mfrender {

// One MIDI message at its time: `size` bytes from `offset` in MessageList::bytes, the status
// byte first. A channel message is its status byte and one or two data bytes; a system
// exclusive message is F0 ... F7. Other messages are passed over.
struct TimedMessage {
    double seconds;
    uint32_t offset;
    uint32_t size;
};

// The messages of a song in the order they are played: by time, messages at one time in
// the order given (a list out of time order is played in time order, ties kept in order).
struct MessageList {
    std::vector<TimedMessage> messages;
    std::vector<uint8_t> bytes;
    // Seconds of the song's last event, meta events included: the song lasts at least that
    // long, whatever it plays.
    double end = 0;

    // Appends a message (size > 0); its bytes are copied.
    void Add(double seconds, const uint8_t* data, size_t size);
};

// What went wrong, for callers that map failures onto their own kinds of error.
enum class Problem {
    kNoSoundFont,   // the SoundFont file is missing or unreadable
    kBadSoundFont,  // FluidSynth could not load it
    kBadOptions,    // a rate, gain or time out of range, a song too long to render
    kEngine,        // FluidSynth failed otherwise
    kEncoding,      // the audio file could not be encoded
};

// A failure of a render, with a message for people ("/x.sf2: no such SoundFont file").
class RenderError : public std::runtime_error {
  public:
    RenderError(Problem problem, const std::string& what)
        : std::runtime_error(what), problem_(problem) {}
    Problem problem() const { return problem_; }

  private:
    Problem problem_;
};

struct RenderOptions {
    std::string soundfont;      // path of the SoundFont (.sf2, .sf3)
    double sampleRate = 44100;  // frames per second, 8000..96000
    double gain = 0.2;          // FluidSynth's master gain, 0..10 (its own default 0.2)
    double from = 0;            // seconds: the audio starts here
    double to = -1;             // seconds: events from here on are left out (< 0: none)
    double maxSeconds = 7200;   // a longer render is refused before it starts
};

// The frames rendered so far, in time order: `frames` stereo frames, interleaved (left,
// right), full scale 1.0. The pointer is valid during the call only.
using AudioSink = std::function<void(const float* interleaved, size_t frames)>;
// Seconds of audio rendered and the seconds expected (the song's; the fade-out may add up
// to 3 s more).
using RenderProgress = std::function<void(double done, double total)>;

// Seconds of audio past the last event at most (the notes' releases, the reverb).
constexpr double kMaxTailSeconds = 3.0;
// Level below which the audio counts as faded: -90 dBFS.
constexpr float kSilence = 3.1622776e-5f;

// Statistics of a finished render.
struct RenderStats {
    uint64_t frames = 0;  // stereo frames handed to the sink
    double rate = 0;      // frames per second
    size_t sent = 0;      // messages sent to the synthesiser
    size_t skipped = 0;   // messages left out (before `from`: notes; at or after `to`)
    float peak = 0;       // highest absolute sample
};

// Renders the messages. The audio starts at `from`: the channel state set up before it
// (programs, banks, controllers, pitch bends, system exclusive messages) is sent at its first
// frame, notes that start before it are not heard. With `to` (>= 0) the events at or after
// it are left out, and at `to` the pedals are released and every sounding note stopped.
// The audio lasts at least until the song's end (or `to`), and then until the sound fades.
// Throws RenderError.
RenderStats Render(const MessageList& list, const RenderOptions& options, const AudioSink& sink,
                   const RenderProgress& progress = nullptr);

// The SoundFont used when none is named: the first of the General MIDI sets a Debian,
// Fedora or Arch system installs (fluid-soundfont-gm's FluidR3_GM.sf2 first) that exists;
// the first candidate's path when none does (so that the message names it).
std::string DefaultSoundFont();
// Every path DefaultSoundFont() looks at, in order.
const std::vector<std::string>& SoundFontCandidates();

}  // namespace mfrender
