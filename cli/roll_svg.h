// A piano-roll picture of a song as SVG, from its exact view: time across in ticks, with bars
// as the time signatures lay them out and a seconds axis below; pitch up; one colour per
// channel; drums as diamonds in a lane of their own below the melodic notes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "midifolio/score.h"
#include "output.h"

namespace mfcli {

struct RollModel {
    std::string title;
    const midifolio::score::Score* score = nullptr;  // notes, tempos, times and bars
    int32_t ticksPerQuarter = 0;
    std::vector<std::pair<int, std::string>> drumNames;  // note -> name, for the drum lane
};

// What a picture holds.
struct RollStats {
    size_t notes = 0;        // melodic notes drawn
    size_t drumStrokes = 0;  // drum notes drawn
    // True when the notes were too many to draw one by one: notes of a channel that meet on a
    // pitch row within a pixel are drawn as one run, a channel's runs as one shape.
    bool simplified = false;
    size_t shapes = 0;  // runs and diamonds drawn
};

// Notes beyond which a picture is simplified (each note drawn alone takes two elements).
constexpr size_t kDetailedNotes = 20000;

// Writes the picture, `width` pixels wide (the height follows from the pitch range).
RollStats RenderRollSvg(const RollModel& model, int width, Output& out);

// Text made safe for XML character data and attribute values (UTF-8 in, UTF-8 out; control
// characters become blanks).
std::string XmlEscape(const std::string& text);

}  // namespace mfcli
