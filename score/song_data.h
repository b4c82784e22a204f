// What one reading pass over a song's bytes finds, shared (immutable) by the Song and the
// Scores built from it. Private to score/.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "midifolio/export.h"
#include "midifolio/score.h"
#include "midifolio/song.h"
#include "platform/page_memory.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace score_detail {

// An event that a map of the song is made of, in the order in which such events hold: by
// tick, then track, then file order.
// (Gathered in that order, or track after track and then sorted stably by tick.)
struct MapEvent {
    int64_t tick;
    uint16_t track;
    uint32_t value;  // see the lists of SongData
};

// A track chunk found in the file: where its data lies in the bytes.
struct TrackSpan {
    uint64_t begin;
    uint64_t end;
};

struct SongData {
    std::shared_ptr<const std::vector<uint8_t>> bytes;
    int32_t format = 1;
    score::Division division;
    std::vector<score::TrackInfo> tracks;
    std::vector<TrackSpan> spans;  // of each track: its data as far as it was read
    score::ReadReport report;
    uint64_t smfOffset = 0;  // the Standard MIDI File in the bytes (after a RIFF header)
    uint64_t smfLength = 0;
    bool canonical = false;  // the bytes are a file as score::Encode writes it

    // The maps' events. tempos: microseconds per quarter note; meters: numerator | power
    // << 8; keys: sharps (as a byte) | minor << 8; programs: channel << 8 | program;
    // banks: channel << 16 | controller << 8 | value (controllers 0 and 32); pedals:
    // channel << 8 | value (controller 64).
    std::vector<MapEvent> tempos, meters, keys, programs, banks, pedals;

    // The views, made once after reading.
    std::vector<score::TimeMap> times;     // one, or one per track in format 2
    std::vector<score::MeterMap> meters_;  // likewise
    std::vector<score::TempoChange> tempoList;
    std::vector<score::TimeSignature> meterList;
    std::vector<score::KeySignature> keyList;
    // The notes: read with the song, or (`later`) paired from the bytes on first use. A song
    // an edit makes is read without them, as writing it needs none; Notes() is safe to call
    // from several threads at once.
    mutable std::vector<score::Note> notes;
    bool notesRead = false;
    std::unique_ptr<std::once_flag> later;
    const std::vector<score::Note>& Notes() const;
    uint64_t events = 0;
    int64_t endTick = 0;

    size_t MapIndex(size_t track) const { return times.size() > 1 ? track : 0; }
    // Makes the maps, the lists and the notes' programs and seconds from what the pass
    // gathered (the notes are each track's, one track after another: merged here, unless
    // `merged` says the reading pass put them in their places already).
    void Finish(const std::vector<uint64_t>& trackNotes, bool merged = false);
};

// Reads bytes a writer made, leaving the notes to be paired on first use.
score::Song ReadPairingLater(std::vector<uint8_t> bytes, score::ReadReport& report);

// Sifts the front of a heap (std::make_heap's layout; `later` its order, so that the earliest
// stands at the front) down to its place after its key changed: one sift, where a pop and a
// push take two.
template <class T, class Later>
void SiftFrontDown(std::vector<T>& heap, Later later) {
    const size_t n = heap.size();
    const T item = heap[0];
    size_t i = 0;
    for (size_t c = 1; c < n; c = 2 * i + 1) {
        if (c + 1 < n && later(heap[c], heap[c + 1])) ++c;  // the earlier child
        if (!later(item, heap[c])) break;
        heap[i] = heap[c];
        i = c;
    }
    heap[i] = item;
}

// Merges by rounds: each round takes the earliest tick among the runs' next items, then, run
// by run, every item of that tick. A round costs a look at every run, so this suits a few
// runs: there it gives the common case of music, every track with a note on the beat, one
// look per item, where a heap sifts each run back down past all the others.
template <class TickOf, class Emit>
void MergeInRounds(const std::vector<uint64_t>& runs, TickOf tickOf, Emit emit) {
    struct Run {
        uint64_t next, last;
        int64_t head;  // tick of the next item
    };
    std::vector<Run> live;  // the runs with items left, in run order
    uint64_t at = 0;
    int64_t tick = INT64_MAX;
    for (uint64_t n : runs) {
        if (n != 0) {
            live.push_back({at, at + n, tickOf(at)});
            tick = std::min(tick, live.back().head);
        }
        at += n;
    }
    while (!live.empty()) {
        int64_t following = INT64_MAX;
        bool ended = false;
        for (Run& r : live) {
            if (r.head == tick) {
                uint64_t k = r.next;
                do {
                    emit(k++);
                } while (k < r.last && (r.head = tickOf(k)) == tick);
                r.next = k;
                ended = ended || k == r.last;
            }
            if (r.next < r.last) following = std::min(following, r.head);
        }
        if (ended)
            live.erase(std::remove_if(live.begin(), live.end(),
                                      [](const Run& r) { return r.next == r.last; }),
                       live.end());
        tick = following;
    }
}

// Merges with a heap of the runs with items left, keyed by the tick of each one's next item
// (kept in `head`, so that the heap moves run numbers only).
template <class TickOf, class Emit>
void MergeByHeap(const std::vector<uint64_t>& runs, TickOf tickOf, Emit emit) {
    std::vector<uint64_t> next, last;
    std::vector<int64_t> head(runs.size());
    std::vector<uint32_t> heap;
    auto later = [&head](uint32_t a, uint32_t b) {
        return head[a] != head[b] ? head[a] > head[b] : a > b;
    };
    uint64_t at = 0;
    for (uint64_t n : runs) {
        const uint32_t run = static_cast<uint32_t>(next.size());
        if (n != 0) {
            head[run] = tickOf(at);
            heap.push_back(run);
        }
        next.push_back(at);
        last.push_back(at + n);
        at += n;
    }
    std::make_heap(heap.begin(), heap.end(), later);
    // The earliest run sits at the front; after giving items it sifts down to its new place.
    while (!heap.empty()) {
        const uint32_t run = heap[0];
        // The run gives items while they come before every other run's next one: the
        // earlier of the top's children.
        int64_t boundTick = INT64_MAX;
        uint32_t boundRun = ~0u;
        if (heap.size() > 1) {
            boundRun = heap.size() > 2 && later(heap[1], heap[2]) ? heap[2] : heap[1];
            boundTick = head[boundRun];
        }
        uint64_t k = next[run];
        int64_t tick = 0;
        do {
            emit(k++);
        } while (k < last[run] &&
                 ((tick = tickOf(k)) < boundTick || (tick == boundTick && run < boundRun)));
        next[run] = k;
        if (k < last[run]) {
            head[run] = tick;
        } else {
            heap[0] = heap.back();
            heap.pop_back();
        }
        if (!heap.empty()) SiftFrontDown(heap, later);
    }
}

// Items that come in sorted runs, merged: by tick (tickOf(k) of item k), then run; each run
// keeps its order. runs[r] counts the items of run r, one run after another; emit(k) is
// called for each item k in the merged order.
template <class TickOf, class Emit>
void Merge(const std::vector<uint64_t>& runs, TickOf tickOf, Emit emit) {
    constexpr size_t kFewRuns = 32;  // up to this many runs with items merge by rounds
    size_t live = 0;
    for (uint64_t n : runs) live += n != 0;
    if (live <= kFewRuns)
        MergeInRounds(runs, tickOf, emit);
    else
        MergeByHeap(runs, tickOf, emit);
}

// The merged order itself (see Merge).
template <class TickOf>
std::vector<uint32_t> MergeOrder(const std::vector<uint64_t>& runs, TickOf tickOf) {
    uint64_t total = 0;
    for (uint64_t n : runs) total += n;
    std::vector<uint32_t> order;
    order.reserve(static_cast<size_t>(total));
    platform_detail::AdviseHugePages(order);
    Merge(runs, tickOf, [&order](uint64_t k) { order.push_back(static_cast<uint32_t>(k)); });
    return order;
}

// Why a song of more tracks cannot be written.
constexpr const char* kTooManyTracks = "a file holds at most 65,535 tracks";

// A Standard MIDI File of the format, division and number of track chunks, after the checks
// every written file passes; data(t, out) appends the data of track t (an end of track
// included), false when it cannot (why in *error). Empty, why in *error, when the file
// cannot be written.
using ChunkData = std::function<bool(size_t track, std::vector<uint8_t>& out)>;
std::vector<uint8_t> EncodeChunks(int32_t format, size_t tracks, score::Division division,
                                  size_t estimate, const ChunkData& data, std::string* error);

// The song of bytes a writer made (Encode, EncodeChunks), or, when `error` says why they could
// not be made, a report of that: the notes paired on first use.
score::Song ReadWritten(std::vector<uint8_t> bytes, const std::string& error,
                        score::ReadReport& report);

// Encode's bytes, but with delta times of up to 32 bits written as numbers of five bytes
// (which the song reader reads): the form of the library's own songs for the exact view,
// whose 32-bit times may lie further apart than a file's delta time holds.
std::vector<uint8_t> EncodeWithLongDeltas(const score::Sequence& s, std::string* error);

}  // namespace score_detail
MIDIFOLIO_END_NAMESPACE
