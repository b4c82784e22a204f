// Note density per pixel: for each pixel column of each row of a roll, how many notes sound
// there and which key, if any, plays more than half of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "roll_model.h"

namespace mfcli {

struct DensityGrid {
    int columns = 0;
    int rows = 0;
    std::vector<uint32_t> count;  // notes sounding in a cell, row-major
    std::vector<int32_t> key;     // the key of more than half of them, -1 for none
    size_t at(int row, int column) const {
        return static_cast<size_t>(row) * static_cast<size_t>(columns) +
               static_cast<size_t>(column);
    }
};

// Where notes fall: `rowOf[pitch]` is the row of a melodic note, `rowOf[128 + pitch]` the row
// of a drum stroke (-1: not drawn); a note covers the columns from its start to its end at
// `columnsPerTick` from `fromTick`, a drum stroke the column of its start.
struct DensityMapping {
    std::vector<int> rowOf;  // 256 entries
    int64_t fromTick = 0;
    double columnsPerTick = 1;
};

DensityGrid CountDensity(const RollSong& song, const DensityMapping& mapping, int columns,
                         int rows);

// The four marks of a density picture: 1, 2-3, 4-9 and 10 or more notes in a cell.
int DensityLevel(uint32_t count);
constexpr int kDensityLevels = 4;
const char* DensityLevelLabel(int level);  // "1", "2–3", "4–9", "10+"

}  // namespace mfcli
