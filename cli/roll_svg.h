// A piano-roll picture of a song as SVG: time across (bars of equal width), pitch up, one colour
// per channel, drums as diamonds in a lane of their own below the melodic notes.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace mfcli {

struct RollNote {
    int32_t start = 0;  // ticks
    int32_t end = 0;    // ticks, >= start
    int note = 0;       // 0..127
    int channel = 0;    // 0..15
    int velocity = 0;   // 1..127
    int track = 0;      // 0-based
    std::string where;  // position for the tooltip ("bar 3:1:000")
};

struct RollTempo {
    int32_t tick = 0;
    double bpm = 0;
};

struct RollModel {
    std::string title;
    int32_t endTicks = 0;
    int32_t ticksPerQuarter = 0;
    int32_t barTicks = 0;  // 0 when the song has no measure length
    std::vector<RollNote> notes;
    std::vector<RollTempo> tempos;
    std::array<std::string, 16> channelLabels;  // legend text of each channel in use ("" = unused)
    std::vector<std::pair<int, std::string>> drumNames;  // note -> name, for the drum lane labels
};

// Width in pixels of the whole picture; the height follows from the pitch range.
std::string RenderRollSvg(const RollModel& model, int width);

// Text made safe for XML character data and attribute values (UTF-8 in, UTF-8 out; control
// characters become blanks).
std::string XmlEscape(const std::string& text);

}  // namespace mfcli
