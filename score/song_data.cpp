// After the reading pass: the maps, the lists of the file's tempo, meter and key events, and
// the notes merged into one order with their programs and seconds.
#include "score/song_data.h"

#include <algorithm>
#include <array>
#include <functional>
#include <utility>

MIDIFOLIO_BEGIN_NAMESPACE
namespace score_detail {

namespace {

using score::Note;

// The programs of the notes, which come in start order: the last program change on the
// note's channel at or before its start, in any track (in its own track in format 2).
void AssignPrograms(std::vector<Note>& notes, const std::vector<MapEvent>& programs,
                    bool perTrack) {
    if (programs.empty()) return;
    std::vector<std::array<std::vector<std::pair<int64_t, uint8_t>>, 16>> lists(1);
    for (const MapEvent& e : programs) {
        const size_t list = perTrack ? e.track : 0;
        if (list >= lists.size()) lists.resize(list + 1);
        lists[list][(e.value >> 8) & 15].push_back({e.tick, static_cast<uint8_t>(e.value)});
    }
    std::vector<std::array<size_t, 16>> cursor(lists.size(), std::array<size_t, 16>{});
    for (Note& n : notes) {
        const size_t list = perTrack ? n.track : 0;
        if (list >= lists.size()) continue;
        const auto& changes = lists[list][n.channel];
        size_t& k = cursor[list][n.channel];
        while (k < changes.size() && changes[k].first <= n.start_tick) ++k;
        n.program = k > 0 ? changes[k - 1].second : 0;
    }
}

void AssignSeconds(std::vector<Note>& notes, const std::vector<score::TimeMap>& times) {
    std::vector<score::TimeMap::Cursor> starts, ends;
    for (const score::TimeMap& map : times) {
        starts.emplace_back(map);
        ends.emplace_back(map);
    }
    const bool perTrack = times.size() > 1;
    for (Note& n : notes) {
        const size_t m = perTrack ? n.track : 0;
        n.start = starts[m].seconds(static_cast<double>(n.start_tick));
        n.end = ends[m].seconds(static_cast<double>(n.end_tick));
    }
}

bool Holding(const MapEvent& a, const MapEvent& b) {
    return a.tick < b.tick;  // stable: gathered in track order, then file order
}

}  // namespace

void SongData::Finish(const std::vector<uint64_t>& trackNotes, bool merged) {
    for (std::vector<MapEvent>* list : {&tempos, &meters, &keys, &programs, &banks, &pedals})
        if (!std::is_sorted(list->begin(), list->end(), Holding))
            std::stable_sort(list->begin(), list->end(), Holding);
    const bool perTrack = format == 2;
    const size_t maps = perTrack ? std::max<size_t>(tracks.size(), 1) : 1;
    const int32_t tpq = division.ticks_per_quarter();
    const double tps = division.ticks_per_second();
    for (size_t m = 0; m < maps; ++m) {
        const int track = perTrack ? static_cast<int>(m) : -1;
        times.push_back(score::TimeMap(tpq, tps, tempos, track));
        // Bars count quarter notes: under SMPTE time those of the tempo in force at tick 0.
        const double quarter =
            tps > 0 ? tps * times.back().segments()[0].us_per_quarter / 1e6 : tpq;
        meters_.push_back(score::MeterMap(quarter, meters, track));
    }
    for (const MapEvent& e : tempos) {
        const size_t m = MapIndex(e.track);
        tempoList.push_back(
            {e.tick, times[m].seconds(static_cast<double>(e.tick)), e.value, e.track});
    }
    for (const MapEvent& e : meters) {
        const size_t m = MapIndex(e.track);
        const double tick = static_cast<double>(e.tick);
        meterList.push_back({e.tick, times[m].seconds(tick), meters_[m].at(tick).bar,
                             static_cast<uint8_t>(e.value), static_cast<uint8_t>(e.value >> 8),
                             e.track});
    }
    for (const MapEvent& e : keys) {
        const size_t m = MapIndex(e.track);
        const double tick = static_cast<double>(e.tick);
        keyList.push_back({e.tick, times[m].seconds(tick), meters_[m].at(tick).bar,
                           static_cast<int8_t>(e.value & 0xFF), ((e.value >> 8) & 1) != 0,
                           e.track});
    }
    size_t live = 0;
    for (uint64_t n : trackNotes) live += n != 0;
    if (live > 1 && !merged) {
        std::vector<uint32_t> order =
            MergeOrder(trackNotes, [this](uint64_t k) { return notes[k].start_tick; });
        // Gathered into an array of their own: the reads are independent of each other, where
        // following the permutation's cycles in place waited for one read after another. (Songs
        // this merge is for hold at most a few megabytes of tracks; larger ones are read in
        // order, see SongReader::Tracks.)
        std::vector<Note> inOrder;
        inOrder.reserve(notes.size());
        for (uint32_t k : order) inOrder.push_back(notes[k]);
        notes.swap(inOrder);
    }
    AssignPrograms(notes, programs, perTrack);
    AssignSeconds(notes, times);
}

}  // namespace score_detail
MIDIFOLIO_END_NAMESPACE
