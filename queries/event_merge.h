// The walk of the song-wide queries: each visited track's selected events form a run, and
// the runs are visited in the order the result list must have, merged through a heap of
// their next events when every track is in time order. Private to the queries.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>
#include <functional>
#include <vector>

#include "midifolio/export.h"
#include "midifolio/midi_track.h"
#include "platform/prefetch.h"
#include "track/event_range.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace queries_detail {

// The selected events of one track a query visits: the track's index in the song, its first
// selected node and the number of selected nodes.
struct Run {
    int nTrack;
    MIDIEventPtr* pFirst;
    size_t nSelected;
};

// Builds a track's run from its nodes, given one after another in list order, and notes
// whether the track is in time order.
template <typename Select>
class RunBuilder {
  public:
    RunBuilder(int nTrack, Select select) : m_run{nTrack, nullptr, 0}, m_select(select) {}
    void Add(MIDIEventPtr* p) {
        m_ordered = m_ordered && m_lPrevious <= p->lTime;
        m_lPrevious = p->lTime;
        if (!m_select(*p)) return;
        if (!m_run.pFirst) m_run.pFirst = p;
        ++m_run.nSelected;
    }
    // Appends the run (when it selected anything) and returns the number selected; clears
    // bOrdered when the track was not in time order.
    size_t Finish(std::vector<Run>& runs, bool& bOrdered) const {
        bOrdered = bOrdered && m_ordered;
        if (m_run.nSelected) runs.push_back(m_run);
        return m_run.nSelected;
    }

  private:
    Run m_run;
    Select m_select;
    bool m_ordered = true;
    int32_t m_lPrevious = INT32_MIN;
};

// Adds the runs of tracks nFirst..nLast (a null getTrack(i) is skipped); returns the number
// of events selected.
template <typename GetTrack, typename Select>
size_t CollectRuns(long nFirst, long nLast, GetTrack getTrack, Select select,
                   std::vector<Run>& runs, bool& bOrdered) {
    size_t nCount = 0;
    for (long i = nFirst; i <= nLast; ++i) {
        if (const CMidiTrack* pTrack = getTrack(static_cast<int>(i))) {
            RunBuilder<Select> run(static_cast<int>(i), select);
            for (MIDIEventPtr& ev : track_detail::Events(*pTrack)) run.Add(&ev);
            nCount += run.Finish(runs, bOrdered);
        }
    }
    return nCount;
}

// (time, run) packed so that integer order is time order, then run order.
inline uint64_t MergeKey(int32_t lTime, size_t nRun) {
    const uint32_t biased = static_cast<uint32_t>(lTime) ^ 0x80000000u;
    return (static_cast<uint64_t>(biased) << 32) | static_cast<uint32_t>(nRun);
}

// Merging runs in order: a binary min-heap (std::greater order) of packed keys whose top is
// replaced by the next key of its run, which then sinks to its place (one sift instead of a
// pop and a push). The key of the smallest other run is the lesser of the top's children.
inline uint64_t SecondSmallest(const std::vector<uint64_t>& heap, uint64_t none) {
    const size_t n = heap.size();
    return std::min(n > 1 ? heap[1] : none, n > 2 ? heap[2] : none);
}
inline void ReplaceTop(std::vector<uint64_t>& heap, uint64_t key) {
    const size_t n = heap.size();
    size_t i = 0;
    for (;;) {
        size_t child = 2 * i + 1;
        if (child >= n) break;
        uint64_t smaller = heap[child];
        if (child + 1 < n) {
            // The lesser child without a branch: which one it is cannot be predicted.
            const uint64_t right = heap[child + 1];
            const bool takeRight = right < smaller;
            child += takeRight;
            smaller = takeRight ? right : smaller;
        }
        if (smaller >= key) break;
        heap[i] = smaller;
        i = child;
    }
    heap[i] = key;
}

// Merging a few runs tick after tick: at each tick, every run with items left gives its
// items of that tick, in run order, and says its next tick. A round looks at every such run,
// so this serves few runs (up to kFewRuns), where most rounds find items in most of them and
// the comparisons, which follow each run's own order, are seldom mispredicted; more runs go
// through the heap. head(r) is the tick of run r's next item, kNoTick when it has none left;
// take(r) hands out that item and moves run r on.
constexpr size_t kFewRuns = 16;
constexpr int64_t kNoTick = INT64_MAX;

template <typename Head, typename Take>
void MergeTickByTick(size_t runs, Head head, Take take) {
    std::vector<size_t> live;
    int64_t tick = kNoTick;
    for (size_t r = 0; r < runs; ++r) {
        const int64_t h = head(r);
        if (h == kNoTick) continue;
        live.push_back(r);
        tick = std::min(tick, h);
    }
    while (!live.empty()) {
        int64_t after = kNoTick;
        bool finished = false;
        for (size_t r : live) {
            int64_t h = head(r);
            for (; h == tick; h = head(r)) take(r);
            if (h == kNoTick)
                finished = true;
            else
                after = std::min(after, h);
        }
        if (finished)
            live.erase(std::remove_if(live.begin(), live.end(),
                                      [&](size_t r) { return head(r) == kNoTick; }),
                       live.end());
        tick = after;
    }
}

// Calls visit(run, node) for every selected event of the runs. When every visited track's
// list is in time order (bOrdered), the events come in the order a stable sort by time of the
// runs one after another would give them: by time, then run, then list order. The runs are
// merged through a heap of their next events, so the result is built in its final order at
// once. Otherwise they come run after run in list order, and the caller sorts.
template <typename Select, typename Visit>
void VisitSelected(const std::vector<Run>& runs, bool bOrdered, Select select, Visit visit) {
    // The selected node after p, or null when it was the run's last (remaining counts them).
    auto advance = [&select](MIDIEventPtr* p, size_t& remaining) -> MIDIEventPtr* {
        if (--remaining == 0) return nullptr;
        // A track's nodes mostly lie one after another in its blocks; with many runs merged,
        // each run's next nodes are asked for before the walk needs them.
        platform_detail::PrefetchAhead(p, 16 * sizeof(MIDIEventPtr));
        for (p = track_detail::Next(p); p && !select(*p);) p = track_detail::Next(p);
        return p;
    };
    if (!bOrdered || runs.size() <= 1) {
        for (size_t r = 0; r < runs.size(); ++r) {
            size_t remaining = runs[r].nSelected;
            for (MIDIEventPtr* p = runs[r].pFirst; p; p = advance(p, remaining)) visit(r, p);
        }
        return;
    }
    std::vector<MIDIEventPtr*> next(runs.size());
    std::vector<size_t> remaining(runs.size());
    for (size_t r = 0; r < runs.size(); ++r) {
        next[r] = runs[r].pFirst;
        remaining[r] = runs[r].nSelected;
    }
    if (runs.size() <= kFewRuns) {
        MergeTickByTick(
            runs.size(), [&](size_t r) { return next[r] ? int64_t{next[r]->lTime} : kNoTick; },
            [&](size_t r) {
                MIDIEventPtr* p = next[r];
                next[r] = advance(p, remaining[r]);
                visit(r, p);
            });
        return;
    }
    // A binary min-heap of the runs' next keys. The run on top gives events while they come
    // before both children's keys; then its new key replaces the top and sinks.
    std::vector<uint64_t> heap;
    heap.reserve(runs.size());
    for (size_t r = 0; r < runs.size(); ++r) heap.push_back(MergeKey(next[r]->lTime, r));
    std::make_heap(heap.begin(), heap.end(), std::greater<uint64_t>());
    constexpr uint64_t kDone = ~uint64_t{0};
    while (heap[0] != kDone) {
        const size_t r = static_cast<uint32_t>(heap[0]);
        const uint64_t bound = SecondSmallest(heap, kDone);
        uint64_t key;
        for (;;) {
            MIDIEventPtr* p = next[r];
            next[r] = advance(p, remaining[r]);
            visit(r, p);
            key = next[r] ? MergeKey(next[r]->lTime, r) : kDone;
            if (key >= bound) break;
        }
        ReplaceTop(heap, key);
    }
}

// Calls visit(event) for the events of tracks 0..nTracks-1 that select() takes, in the order
// of the song's queries (a stable sort by time of the tracks' events one track after
// another), without building records. For the analyses that read a channel's events.
template <typename GetTrack, typename Select, typename Visit>
void VisitInQueryOrder(int nTracks, GetTrack getTrack, Select select, Visit visit) {
    std::vector<Run> runs;
    bool bOrdered = true;
    CollectRuns(0, nTracks - 1, getTrack, select, runs, bOrdered);
    if (bOrdered) {
        VisitSelected(runs, true, select, [&](size_t, MIDIEventPtr* p) { visit(*p); });
        return;
    }
    std::vector<const MIDIEventPtr*> events;
    VisitSelected(runs, false, select, [&](size_t, MIDIEventPtr* p) { events.push_back(p); });
    std::stable_sort(
        events.begin(), events.end(),
        [](const MIDIEventPtr* a, const MIDIEventPtr* b) { return a->lTime < b->lTime; });
    for (const MIDIEventPtr* p : events) visit(*p);
}

}  // namespace queries_detail
MIDIFOLIO_END_NAMESPACE
