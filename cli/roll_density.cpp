#include "roll_density.h"

#include <algorithm>
#include <cmath>

namespace mfcli {

namespace {

// The notes of each key, as indices in start order.
std::vector<std::vector<uint32_t>> NotesByKey(const RollSong& song) {
    std::vector<std::vector<uint32_t>> byKey(song.keys.size());
    for (size_t i = 0; i < song.notes.size(); ++i)
        byKey[song.notes[i].key].push_back(static_cast<uint32_t>(i));
    return byKey;
}

// The columns a note covers, clamped to the grid; false when it falls outside it. A note
// covers the columns its sounding overlaps, a drum stroke (or a note without length) the
// column of its start.
bool Columns(const RollNote& n, const DensityMapping& m, int columns, int& c0, int& c1) {
    const double x0 = static_cast<double>(n.startTick - m.fromTick) * m.columnsPerTick;
    const double x1 = static_cast<double>(n.endTick - m.fromTick) * m.columnsPerTick;
    const double first = std::floor(x0);
    const double last = n.drum() ? first : std::max(first, std::ceil(x1) - 1);
    if (last < 0 || first >= columns) return false;
    c0 = static_cast<int>(std::max(first, 0.0));
    c1 = static_cast<int>(std::min(last, columns - 1.0));
    return true;
}

// Adds one key's notes to the grid: its count per cell, and where it now leads.
void AddKey(const RollSong& song, const std::vector<uint32_t>& notes, int32_t key,
            const DensityMapping& m, DensityGrid& grid, std::vector<uint32_t>& lead,
            std::vector<int32_t>& diff) {
    const size_t stride = static_cast<size_t>(grid.columns) + 1;
    std::fill(diff.begin(), diff.end(), 0);
    for (uint32_t i : notes) {
        const RollNote& n = song.notes[i];
        const int row = m.rowOf[(n.drum() ? 128 : 0) + n.pitch];
        int c0 = 0, c1 = 0;
        if (row < 0 || !Columns(n, m, grid.columns, c0, c1)) continue;
        const size_t base = static_cast<size_t>(row) * stride;
        ++diff[base + static_cast<size_t>(c0)];
        --diff[base + static_cast<size_t>(c1) + 1];
    }
    for (int row = 0; row < grid.rows; ++row) {
        int32_t running = 0;
        for (int c = 0; c < grid.columns; ++c) {
            running += diff[static_cast<size_t>(row) * stride + static_cast<size_t>(c)];
            if (running <= 0) continue;
            const size_t cell = grid.at(row, c);
            const auto here = static_cast<uint32_t>(running);
            grid.count[cell] += here;
            if (here > lead[cell]) {
                lead[cell] = here;
                grid.key[cell] = key;
            }
        }
    }
}

}  // namespace

DensityGrid CountDensity(const RollSong& song, const DensityMapping& mapping, int columns,
                         int rows) {
    DensityGrid grid;
    grid.columns = std::max(columns, 0);
    grid.rows = std::max(rows, 0);
    const size_t cells = static_cast<size_t>(grid.columns) * static_cast<size_t>(grid.rows);
    grid.count.assign(cells, 0);
    grid.key.assign(cells, -1);
    if (cells == 0) return grid;
    std::vector<uint32_t> lead(cells, 0);
    std::vector<int32_t> diff((static_cast<size_t>(grid.columns) + 1) * grid.rows);
    const std::vector<std::vector<uint32_t>> byKey = NotesByKey(song);
    for (size_t k = 0; k < byKey.size(); ++k) {
        if (!byKey[k].empty())
            AddKey(song, byKey[k], static_cast<int32_t>(k), mapping, grid, lead, diff);
    }
    // The leading key keeps its colour only with more than half of the cell's notes.
    for (size_t cell = 0; cell < cells; ++cell) {
        if (grid.key[cell] >= 0 && lead[cell] * 2 <= grid.count[cell]) grid.key[cell] = -1;
    }
    return grid;
}

int DensityLevel(uint32_t count) {
    if (count == 0) return 0;
    if (count == 1) return 1;
    if (count <= 3) return 2;
    return count <= 9 ? 3 : 4;
}

const char* DensityLevelLabel(int level) {
    static const char* const kLabels[kDensityLevels] = {"1",
                                                        "2\xE2\x80\x93"
                                                        "3",
                                                        "4\xE2\x80\x93"
                                                        "9",
                                                        "10+"};
    return kLabels[std::clamp(level, 1, kDensityLevels) - 1];
}

}  // namespace mfcli
