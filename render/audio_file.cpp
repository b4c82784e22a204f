// libsndfile writing into a byte vector through its virtual I/O: the encoder seeks back to
// complete the header, which a vector allows and a pipe would not.
#include "audio_file.h"

#include <sndfile.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>

#include "synth.h"

namespace mfrender {

std::optional<AudioFormat> FormatOfPath(const std::string& path) {
    const auto dot = path.find_last_of("./");
    if (dot == std::string::npos || path[dot] != '.') return std::nullopt;
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == "wav") return AudioFormat::kWav;
    if (ext == "flac") return AudioFormat::kFlac;
    if (ext == "ogg" || ext == "oga") return AudioFormat::kOgg;
    return std::nullopt;
}

const char* KnownExtensions() {
    return ".wav, .flac, .ogg";
}

const char* FormatName(AudioFormat format) {
    switch (format) {
        case AudioFormat::kWav:
            return "WAV";
        case AudioFormat::kFlac:
            return "FLAC";
        case AudioFormat::kOgg:
            return "Ogg Vorbis";
    }
    return "?";
}

namespace {

// The file in memory and the encoder's position in it.
struct Memory {
    std::vector<uint8_t> bytes;
    sf_count_t position = 0;
};

Memory& Of(void* user) {
    return *static_cast<Memory*>(user);
}

sf_count_t VioLength(void* user) {
    return static_cast<sf_count_t>(Of(user).bytes.size());
}

sf_count_t VioSeek(sf_count_t offset, int whence, void* user) {
    Memory& m = Of(user);
    const sf_count_t base = whence == SEEK_CUR   ? m.position
                            : whence == SEEK_END ? static_cast<sf_count_t>(m.bytes.size())
                                                 : 0;
    if (offset < -base) return -1;
    m.position = base + offset;
    return m.position;
}

sf_count_t VioRead(void* out, sf_count_t count, void* user) {
    Memory& m = Of(user);
    const auto size = static_cast<sf_count_t>(m.bytes.size());
    const sf_count_t n = std::max<sf_count_t>(0, std::min(count, size - m.position));
    if (n > 0) std::memcpy(out, m.bytes.data() + m.position, static_cast<size_t>(n));
    m.position += n;
    return n;
}

sf_count_t VioWrite(const void* in, sf_count_t count, void* user) {
    Memory& m = Of(user);
    const auto end = static_cast<size_t>(m.position + count);
    if (end > m.bytes.size()) m.bytes.resize(end);
    std::memcpy(m.bytes.data() + m.position, in, static_cast<size_t>(count));
    m.position += count;
    return count;
}

sf_count_t VioTell(void* user) {
    return Of(user).position;
}

int SndFormat(AudioFormat format) {
    switch (format) {
        case AudioFormat::kWav:
            return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        case AudioFormat::kFlac:
            return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
        case AudioFormat::kOgg:
            return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    }
    return 0;
}

}  // namespace

struct AudioEncoder::State {
    Memory memory;
    SF_VIRTUAL_IO io{VioLength, VioSeek, VioRead, VioWrite, VioTell};
    SNDFILE* file = nullptr;
    AudioFormat format = AudioFormat::kWav;
    std::vector<float> clipped;  // the frames being written, within full scale
};

AudioEncoder::AudioEncoder(AudioFormat format, int sampleRate) : state_(std::make_unique<State>()) {
    state_->format = format;
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 2;
    info.format = SndFormat(format);
    state_->file = sf_open_virtual(&state_->io, SFM_WRITE, &info, &state_->memory);
    if (state_->file == nullptr) {
        throw RenderError(Problem::kEncoding,
                          std::string("libsndfile cannot write ") + FormatName(format) + " at " +
                              std::to_string(sampleRate) + " Hz: " + sf_strerror(nullptr));
    }
}

AudioEncoder::~AudioEncoder() {
    if (state_->file != nullptr) sf_close(state_->file);
}

void AudioEncoder::Write(const float* interleaved, size_t frames) {
    if (state_->file == nullptr) throw RenderError(Problem::kEncoding, "the audio file is closed");
    // Clipped here rather than by libsndfile, whose clipping conversion rounds every
    // negative sample down (silence of -1e-8 would become -1 in 16 bits).
    state_->clipped.assign(interleaved, interleaved + 2 * frames);
    for (float& x : state_->clipped) x = std::isnan(x) ? 0.0f : std::clamp(x, -1.0f, 1.0f);
    const auto count = static_cast<sf_count_t>(frames);
    if (sf_writef_float(state_->file, state_->clipped.data(), count) != count) {
        throw RenderError(Problem::kEncoding, std::string("libsndfile failed to encode ") +
                                                  FormatName(state_->format) + ": " +
                                                  sf_strerror(state_->file));
    }
}

std::vector<uint8_t> AudioEncoder::Finish() {
    if (state_->file == nullptr) throw RenderError(Problem::kEncoding, "the audio file is closed");
    const int status = sf_close(state_->file);
    state_->file = nullptr;
    if (status != 0) {
        throw RenderError(Problem::kEncoding, std::string("libsndfile failed to complete the ") +
                                                  FormatName(state_->format) +
                                                  " file: " + sf_error_number(status));
    }
    return std::move(state_->memory.bytes);
}

}  // namespace mfrender
