// Small builders for the analysis tests: channel events as track bytes, and a song loaded
// from such bytes through a real file.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "midifolio/midifolio.h"
#include "test_support.h"

namespace analysis_support {

using testsupport::B;
using testsupport::Bytes;
using testsupport::Cat;
using testsupport::Vlq;

// One event: its delta time in ticks, then its bytes.
inline Bytes Ev(uint32_t delta, std::initializer_list<int> bytes) {
    return Cat({Vlq(delta), B(bytes)});
}
inline Bytes On(uint32_t delta, int ch, int note, int velocity = 100) {
    return Ev(delta, {0x90 | ch, note, velocity});
}
inline Bytes Off(uint32_t delta, int ch, int note) {
    return Ev(delta, {0x80 | ch, note, 64});
}
inline Bytes Program(uint32_t delta, int ch, int program) {
    return Ev(delta, {0xC0 | ch, program});
}
inline Bytes Control(uint32_t delta, int ch, int controller, int value) {
    return Ev(delta, {0xB0 | ch, controller, value});
}
inline Bytes Bend(uint32_t delta, int ch, int value) {
    return Ev(delta, {0xE0 | ch, value & 0x7F, (value >> 7) & 0x7F});
}
inline Bytes Text(uint32_t delta, const std::string& text) {
    Bytes out = Cat({Vlq(delta), B({0xFF, 0x01}), Vlq(static_cast<uint32_t>(text.size()))});
    out.insert(out.end(), text.begin(), text.end());
    return out;
}
inline Bytes EndOfTrack(uint32_t delta = 0) {
    return Ev(delta, {0xFF, 0x2F, 0x00});
}

// Joins events into track data ending with an end-of-track event.
inline Bytes TrackData(std::initializer_list<Bytes> events) {
    Bytes out = Cat(events);
    Bytes end = EndOfTrack();
    out.insert(out.end(), end.begin(), end.end());
    return out;
}

// A song holding the given tracks (format 1), loaded from a file; messages are collected.
// With division 500 and the default tempo of 500000 us per quarter note, one tick is 1 ms.
struct Song {
    testsupport::Messages messages;
    midifolio::CMidiFolio song;
    int loaded = 0;

    explicit Song(const std::vector<Bytes>& tracks, int division = 500,
                  bool validatePercussion = false) {
        song.SetMessageSink(messages.Sink());
        if (validatePercussion) song.SetIsValidatePercussion();
        const std::string path =
            testsupport::WriteFile("analysis.mid", testsupport::Smf(1, division, tracks));
        loaded = song.LoadMidiFile(path);
    }
    midifolio::CMidiFolio* operator->() { return &song; }
};

}  // namespace analysis_support
