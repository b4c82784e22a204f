#include "generators.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace benchgen {
namespace {

void Put(Bytes& out, std::initializer_list<int> bytes) {
    for (int b : bytes) out.push_back(static_cast<uint8_t>(b));
}

void PutVlq(Bytes& out, uint32_t value) {
    uint8_t groups[5];
    int n = 0;
    do {
        groups[n++] = static_cast<uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (n > 1) out.push_back(static_cast<uint8_t>(groups[--n] | 0x80));
    out.push_back(groups[0]);
}

void PutBe32(Bytes& out, uint32_t v) {
    Put(out, {int(v >> 24), int((v >> 16) & 0xFF), int((v >> 8) & 0xFF), int(v & 0xFF)});
}

void PutText(Bytes& out, int metaType, const std::string& text) {
    Put(out, {0x00, 0xFF, metaType});
    PutVlq(out, static_cast<uint32_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

void PutConductorMetas(Bytes& out) {
    Put(out, {0x00, 0xFF, 0x58, 0x04, 0x04, 0x02, 0x18, 0x08});  // 4/4
    Put(out, {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20});        // 120 bpm
    Put(out, {0x00, 0xFF, 0x59, 0x02, 0x00, 0x00});              // C major
}

void PutEndOfTrack(Bytes& out) {
    Put(out, {0x00, 0xFF, 0x2F, 0x00});
}

Bytes Header(int format, int tracks, int division) {
    Bytes out;
    Put(out, {'M', 'T', 'h', 'd'});
    PutBe32(out, 6);
    Put(out,
        {format >> 8, format & 0xFF, tracks >> 8, tracks & 0xFF, division >> 8, division & 0xFF});
    return out;
}

void AppendChunk(Bytes& file, const Bytes& data) {
    Put(file, {'M', 'T', 'r', 'k'});
    PutBe32(file, static_cast<uint32_t>(data.size()));
    file.insert(file.end(), data.begin(), data.end());
}

int DenseNote(int channel, size_t k) {
    return channel == 9 ? 35 + int((k * 5) % 47) : 36 + int((k * 7) % 48);
}

// Dense notes on one channel until the track data holds `targetBytes` more bytes or
// `targetEvents` events (whichever is given), then the note-offs of the notes still
// sounding, so every note-on has its note-off.
void PutDenseNotes(Bytes& out, int channel, size_t targetBytes, size_t targetEvents,
                   uint32_t stepTicks, int polyphony) {
    const size_t start = out.size();
    const size_t poly = static_cast<size_t>(polyphony);
    size_t events = 0;
    size_t k = 0;
    bool needStatus = true;
    for (;; ++k) {
        if (targetBytes != 0 && out.size() - start >= targetBytes) break;
        if (targetEvents != 0 && events >= targetEvents) break;
        if (k % 8 == 0 && k != 0) {
            static const int kControllers[4] = {1, 7, 10, 11};
            Put(out, {0x00, 0xB0 | channel, kControllers[(k / 8) % 4], int(k & 0x7F)});
            Put(out, {0x00, 0xE0 | channel, int((k * 3) & 0x7F), 64 + int((k >> 7) & 7)});
            events += 2;
            needStatus = true;
        }
        PutVlq(out, stepTicks);
        if (needStatus) out.push_back(static_cast<uint8_t>(0x90 | channel));
        needStatus = false;
        Put(out, {DenseNote(channel, k), 64 + int(k % 40)});
        ++events;
        if (k >= poly) {
            Put(out, {0x00, DenseNote(channel, k - poly), 0x00});
            ++events;
        }
    }
    // k steps were played; the last min(k, poly) notes still sound. Running status is
    // note-on here (the last event written was a note-on).
    for (size_t j = k > poly ? k - poly : 0; j < k; ++j) {
        PutVlq(out, j + poly == k ? stepTicks : 0);
        Put(out, {DenseNote(channel, j), 0x00});
    }
}

Bytes DenseTrack(int channel, bool conductor, const std::string& name, size_t targetBytes,
                 size_t targetEvents, uint32_t stepTicks, int polyphony) {
    Bytes out;
    out.reserve(targetBytes + 64);
    PutText(out, 0x03, name);
    if (conductor) PutConductorMetas(out);
    if (channel != 9) Put(out, {0x00, 0xC0 | channel, (channel * 8) & 0x7F});
    PutDenseNotes(out, channel, targetBytes, targetEvents, stepTicks, polyphony);
    PutEndOfTrack(out);
    return out;
}

}  // namespace

Bytes DenseSong(const DenseOptions& o) {
    const int tracks = o.format == 0 ? 1 : o.tracks;
    Bytes file = Header(o.format, tracks, o.division);
    file.reserve(o.bytesPerTrack * tracks + 1024);
    for (int t = 0; t < tracks; ++t) {
        Bytes data = DenseTrack(t % 16, t == 0, "Track " + std::to_string(t + 1), o.bytesPerTrack,
                                0, o.stepTicks, o.polyphony);
        AppendChunk(file, data);
    }
    return file;
}

Bytes FileA(double scale) {
    DenseOptions o;
    o.bytesPerTrack = static_cast<size_t>(20.0e6 * scale / 16);
    return DenseSong(o);
}

Bytes FileFormat0(double megabytes) {
    DenseOptions o;
    o.format = 0;
    o.bytesPerTrack = static_cast<size_t>(megabytes * 1.0e6);
    return DenseSong(o);
}

Bytes TempoSong(int tempoChanges, size_t noteEvents, bool singleTempo) {
    const uint32_t interval = 96;
    Bytes tempo;
    PutText(tempo, 0x03, "Tempo");
    Put(tempo, {0x00, 0xFF, 0x58, 0x04, 0x04, 0x02, 0x18, 0x08});
    uint32_t previous = 0;
    for (int i = 0; i < tempoChanges; ++i) {
        PutVlq(tempo, i == 0 ? 0 : interval);
        if (singleTempo && i != 0) {
            Put(tempo, {0xFF, 0x07, 0x03, 'c', 'u', 'e'});
            continue;
        }
        uint32_t us = 400000 + (static_cast<uint32_t>(i) * 7919u) % 200000u;
        if (us == previous) ++us;
        previous = us;
        Put(tempo, {0xFF, 0x51, 0x03, int(us >> 16), int((us >> 8) & 0xFF), int(us & 0xFF)});
    }
    PutEndOfTrack(tempo);
    // Spread the notes over the span of the tempo changes (2.25 events per step).
    const double steps = static_cast<double>(noteEvents) / 2.25;
    const double span = static_cast<double>(interval) * (tempoChanges > 1 ? tempoChanges - 1 : 1);
    uint32_t stepTicks = static_cast<uint32_t>(std::max(1.0, std::min(127.0, span / steps)));
    Bytes notes = DenseTrack(0, false, "Notes", 0, noteEvents, stepTicks, 4);
    Bytes file = Header(1, 2, 480);
    AppendChunk(file, tempo);
    AppendChunk(file, notes);
    return file;
}

Bytes ManyTracks(int tracks, int notesPerTrack) {
    Bytes file = Header(1, tracks, 480);
    for (int t = 0; t < tracks; ++t) {
        const int ch = t % 16;
        Bytes data;
        PutText(data, 0x03, "T" + std::to_string(t));
        if (t == 0) PutConductorMetas(data);
        if (ch != 9) Put(data, {0x00, 0xC0 | ch, t & 0x7F});
        for (int n = 0; n < notesPerTrack; ++n) {
            const int key = ch == 9 ? 35 + (n * 5) % 47 : 40 + (n * 7) % 40;
            PutVlq(data, n == 0 ? 0 : 120);
            if (n == 0) data.push_back(static_cast<uint8_t>(0x90 | ch));
            Put(data, {key, 90});
            Put(data, {0x78, key, 0x00});
        }
        PutEndOfTrack(data);
        AppendChunk(file, data);
    }
    return file;
}

Bytes BigSysex(size_t payloadBytes) {
    Bytes data;
    PutText(data, 0x03, "Sysex");
    PutConductorMetas(data);
    for (int n = 0; n < 4; ++n) Put(data, {0x00, 0x90, 60 + n, 100, 0x60, 0x80, 60 + n, 0x40});
    Put(data, {0x00, 0xF0});
    PutVlq(data, static_cast<uint32_t>(payloadBytes));
    const size_t at = data.size();
    data.resize(at + payloadBytes);
    for (size_t i = 0; i < payloadBytes; ++i) data[at + i] = static_cast<uint8_t>((i * 31) & 0x7F);
    if (payloadBytes != 0) data.back() = 0xF7;
    for (int n = 0; n < 4; ++n) Put(data, {0x00, 0x90, 64 + n, 100, 0x60, 0x80, 64 + n, 0x40});
    PutEndOfTrack(data);
    Bytes file = Header(0, 1, 480);
    AppendChunk(file, data);
    return file;
}

bool WriteFile(const std::string& path, const Bytes& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

Bytes ReadFile(const std::string& path) {
    Bytes out;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return out;
    uint8_t buf[1 << 16];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    std::fclose(f);
    return out;
}

namespace {

// Reads a VLQ at data[i]; false when it runs past the end.
inline bool WalkVlq(const uint8_t* data, size_t size, size_t& i, uint32_t& value) {
    uint32_t v = 0;
    for (;;) {
        if (i >= size) return false;
        const uint8_t b = data[i++];
        v = (v << 7) | (b & 0x7Fu);
        if ((b & 0x80) == 0) break;
    }
    value = v;
    return true;
}

size_t WalkTrack(const uint8_t* data, size_t size, uint64_t& ticks) {
    size_t i = 0, events = 0;
    uint8_t running = 0;
    uint32_t v;
    while (i < size) {
        if (!WalkVlq(data, size, i, v)) break;
        ticks += v;
        if (i >= size) break;
        uint8_t status = data[i];
        if (status & 0x80) {
            ++i;
        } else {
            if (running == 0) break;  // a data byte without running status
            status = running;
        }
        ++events;
        if (status < 0xF0) {
            running = status;
            i += (status & 0xE0) == 0xC0 ? 1 : 2;  // 0xC0..0xDF carry one data byte
        } else if (status == 0xFF) {
            if (i >= size) break;
            const uint8_t type = data[i++];
            if (!WalkVlq(data, size, i, v)) break;
            if (v > size - i) break;
            i += v;
            if (type == 0x2F) break;
        } else if (status == 0xF0 || status == 0xF7) {
            running = 0;
            if (!WalkVlq(data, size, i, v)) break;
            if (v > size - i) break;
            i += v;
        } else if (status < 0xF8) {
            running = 0;
            i += status == 0xF2 ? 2 : (status == 0xF1 || status == 0xF3) ? 1 : 0;
        }
    }
    return events;
}

inline uint32_t Be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

}  // namespace

size_t ByteWalk(const uint8_t* data, size_t size, uint64_t* ticks) {
    uint64_t total = 0;
    size_t events = 0;
    if (size < 14 || std::memcmp(data, "MThd", 4) != 0) return 0;
    size_t i = 8 + static_cast<size_t>(Be32(data + 4));
    while (i + 8 <= size) {
        const uint32_t len = Be32(data + i + 4);
        const bool track = std::memcmp(data + i, "MTrk", 4) == 0;
        i += 8;
        const size_t n = std::min<size_t>(len, size - i);
        if (track) events += WalkTrack(data + i, n, total);
        i += n;
    }
    if (ticks != nullptr) *ticks = total;
    return events;
}

}  // namespace benchgen
