// Audio files in memory through libsndfile: WAV (16-bit PCM), FLAC (16-bit) and Ogg Vorbis,
// the format picked by the file name's extension.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace mfrender {

enum class AudioFormat { kWav, kFlac, kOgg };

// The format a file name asks for by its extension, in any case: .wav, .flac, .ogg (and
// .oga); nothing for any other name.
std::optional<AudioFormat> FormatOfPath(const std::string& path);
// The extensions FormatOfPath knows, for messages: ".wav, .flac, .ogg".
const char* KnownExtensions();
// "WAV", "FLAC", "Ogg Vorbis".
const char* FormatName(AudioFormat format);

// An audio file written into memory, stereo frames of floats (full scale 1.0) at a time;
// samples beyond full scale are clipped, not wrapped. Throws RenderError (kEncoding).
class AudioEncoder {
  public:
    AudioEncoder(AudioFormat format, int sampleRate);
    ~AudioEncoder();
    AudioEncoder(const AudioEncoder&) = delete;
    AudioEncoder& operator=(const AudioEncoder&) = delete;

    void Write(const float* interleaved, size_t frames);
    // Completes the file (its header, the encoder's last packets) and hands over its bytes.
    std::vector<uint8_t> Finish();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace mfrender
