// The piano roll's model: the notes a roll shows, the keys that colour them, and the song's
// clocks (tempo segments and meters). BuildRollSong reads the exact view in one place; the
// layout of a picture (roll_layout.h) and the interactive page (roll_html.h) work from the
// model alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "midifolio/score.h"

namespace mfcli {

// What gives a note its colour.
enum class RollColour { kChannel, kTrack, kProgram };

// Parses "channel", "track" or "program"; throws Failure otherwise.
RollColour ParseRollColour(const std::string& name);
const char* RollColourName(RollColour colour);

// The part of a song a roll shows, resolved against the song: a stretch of ticks, and the
// tracks and channels whose notes are drawn.
struct RollSelection {
    int64_t fromTick = 0;
    int64_t toTick = -1;         // -1: to the end of the song
    std::vector<bool> tracks;    // by track index from 0; empty: every track
    uint16_t channels = 0xFFFF;  // bit c: channel c (0..15)
    RollColour colourBy = RollColour::kChannel;
};

// One note of the roll.
struct RollNote {
    int64_t startTick = 0;
    int64_t endTick = 0;
    double start = 0;  // seconds
    double end = 0;    // seconds
    uint32_t key = 0;  // index into RollSong::keys
    uint16_t track = 0;
    uint8_t channel = 0;
    uint8_t program = 0;
    uint8_t pitch = 0;
    uint8_t velocity = 0;
    // Notes in unison: a melodic note that sounds together with notes of other keys on its
    // pitch takes stripe `stripe` of `stripes` of its row (in the order of the keys), so that
    // every key shows; 0 of 1 otherwise. At most 15 stripes.
    uint8_t stripe = 0;
    uint8_t stripes = 1;
    bool drum() const { return channel == 9; }
};

// A colour of the roll and what it stands for.
struct RollKey {
    std::string label;   // "ch 1 Violin, Flute", "track 2 Bass", "Violin", "drums"
    std::string colour;  // "#0067a5"
    int channel = -1;    // the channel, track or program it stands for (the others -1)
    int track = -1;
    int program = -1;
    bool drums = false;  // the notes of the percussion channel (colour by program)
    size_t notes = 0;
};

// The tempo from a tick on.
struct RollTempo {
    int64_t tick = 0;
    double seconds = 0;
    uint32_t usPerQuarter = 500000;
    double bpm() const { return usPerQuarter ? 60000000.0 / usPerQuarter : 0.0; }
};

// The meter from a tick on: bars of `numerator` beats of `beatTicks` ticks.
struct RollMeter {
    int64_t tick = 0;
    int32_t bar = 1;  // the bar it starts, counted from 1
    int numerator = 4;
    uint32_t denominator = 4;  // 0 when the signature has no note value
    double beatTicks = 480;
    double barTicks = 1920;
};

struct RollSong {
    std::string title;
    int32_t ticksPerQuarter = 480;
    int64_t fromTick = 0;  // the stretch shown, fromTick < toTick
    int64_t toTick = 1;
    bool whole = true;            // the stretch is the whole song
    int32_t songBars = 0;         // bars of the whole song
    std::vector<RollNote> notes;  // by start tick
    std::vector<RollKey> keys;    // in legend order
    RollColour colourBy = RollColour::kChannel;
    std::vector<std::string> trackNames;  // by track index ("" when a track has none)
    std::vector<RollTempo> tempos;        // the segments in force, by tick; never empty
    std::vector<RollMeter> meters;        // by tick; never empty
    midifolio::score::TimeMap time;       // for conversions
    midifolio::score::MeterMap meter;
    size_t melodic = 0;  // notes off the percussion channel
    size_t drums = 0;    // notes on it

    // Seconds at a tick, from the start of the song.
    double Seconds(double tick) const { return time.seconds(tick); }
};

// The rows of a roll: the melodic notes' range widened to whole octaves (hi -1 without one),
// the drums struck, highest first.
struct RollRows {
    int lo = 0;
    int hi = -1;
    std::vector<int> drums;
};
RollRows RowsOf(const RollSong& song);

// The roll of a song's exact view: the notes of the selected tracks and channels that sound
// in the stretch of time (a note that starts before it and ends in it is kept), keyed by the
// selection's colouring. `trackNames` are the tracks' names by index.
RollSong BuildRollSong(const midifolio::score::Score& score, const RollSelection& selection,
                       std::string title, std::vector<std::string> trackNames);

// Colours: the channel colours (Kelly's colours of maximum contrast, channel 10 near-black),
// the colours handed out in turn to tracks and programs, and the colour of a pixel that no
// key plays most of.
const char* ChannelColour(int channel);
const char* PaletteColour(size_t index);
constexpr const char* kMixedColour = "#bdbdbd";

}  // namespace mfcli
