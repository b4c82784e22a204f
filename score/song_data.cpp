// After the reading pass: the maps, the lists of the file's tempo, meter and key events, and
// the notes merged into one order with their programs and seconds.
#include "score/song_data.h"

#include <algorithm>
#include <array>
#include <utility>

MIDIFOLIO_BEGIN_NAMESPACE
namespace score_detail {

namespace {

using score::Note;

// Gives notes, met in start order, their programs and seconds, in one pass with their merge.
class NoteFinisher {
  public:
    NoteFinisher(const std::vector<MapEvent>& programs, const std::vector<score::TimeMap>& times,
                 bool perTrack)
        : m_perTrack(perTrack), m_perMap(times.size() > 1) {
        for (const MapEvent& e : programs) {
            const size_t list = perTrack ? e.track : 0;
            if (list >= m_lists.size()) m_lists.resize(list + 1);
            m_lists[list][(e.value >> 8) & 15].changes.push_back(
                {e.tick, static_cast<uint8_t>(e.value)});
        }
        for (auto& list : m_lists)
            for (Channel& c : list)
                if (!c.changes.empty()) c.next = c.changes[0].first;
        for (const score::TimeMap& map : times) {
            m_starts.emplace_back(map);
            m_ends.emplace_back(map);
        }
    }

    void operator()(Note& n) {
        // The program: the last program change on the note's channel at or before its start,
        // in any track (in its own track in format 2). Notes of a list without program
        // changes keep program 0.
        const size_t list = m_perTrack ? n.track : 0;
        if (list < m_lists.size()) {
            Channel& c = m_lists[list][n.channel & 15];
            if (n.start_tick >= c.next) c.Pass(n.start_tick);
            n.program = c.program;
        }
        const size_t m = m_perMap ? n.track : 0;
        n.start = m_starts[m].seconds(static_cast<double>(n.start_tick));
        n.end = m_ends[m].seconds(static_cast<double>(n.end_tick));
    }

  private:
    // A channel's program changes, and the program in force until the next one's tick.
    struct Channel {
        std::vector<std::pair<int64_t, uint8_t>> changes;
        size_t k = 0;  // changes passed
        int64_t next = INT64_MAX;
        uint8_t program = 0;
        void Pass(int64_t tick) {
            while (k < changes.size() && changes[k].first <= tick) program = changes[k++].second;
            next = k < changes.size() ? changes[k].first : INT64_MAX;
        }
    };
    const bool m_perTrack;
    const bool m_perMap;
    std::vector<std::array<Channel, 16>> m_lists;
    std::vector<score::TimeMap::Cursor> m_starts, m_ends;
};

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
    NoteFinisher finish(programs, times, perTrack);
    size_t live = 0;
    for (uint64_t n : trackNotes) live += n != 0;
    if (live > 1 && !merged) {
        // Gathered into an array of their own as they are merged: the reads are independent
        // of each other, where following the permutation's cycles in place waited for one
        // read after another. (Songs this merge is for hold at most a few megabytes of
        // tracks; larger ones are read in order, see SongReader::Tracks.)
        std::vector<Note> inOrder;
        inOrder.reserve(notes.size());
        Merge(
            trackNotes, [this](uint64_t k) { return notes[k].start_tick; },
            [&](uint64_t k) {
                inOrder.push_back(notes[k]);
                finish(inOrder.back());
            });
        notes.swap(inOrder);
    } else {
        for (Note& n : notes) finish(n);
    }
}

}  // namespace score_detail
MIDIFOLIO_END_NAMESPACE
