// The notes of a song: one pass per track through the track's pairing, then a merge of the
// tracks by start time, programs and seconds filled in along the merged list.
#include "score/notes.h"

#include <algorithm>
#include <array>
#include <functional>
#include <vector>

#include "midifolio/score.h"
#include "queries/event_merge.h"
#include "score/song_events.h"
#include "track/note_pairing.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace score_detail {

namespace {

using score::Note;

bool ByChannelAndPitch(const Note& a, const Note& b) {
    return a.channel != b.channel ? a.channel < b.channel : a.pitch < b.pitch;
}

// A track's notes, paired in list order, into start-tick order (then channel and pitch;
// notes equal in those keep their list order).
void TrackNotes(const CMidiTrack& track, uint16_t index, track_detail::NotePairing& pairing,
                std::vector<Note>& out) {
    out.clear();
    // At most every other event starts a note in most songs; the rest grows as needed.
    out.reserve(static_cast<size_t>(track.GetCount()) / 2 + 1);
    pairing.Run(
        track.GetEventHeadPosition(), track_detail::PairingMarks::kLeave, [](MIDIEventPtr*) {},
        [&](const MIDIEventPtr* on, uint32_t) {
            Note n{};
            n.track = index;
            n.channel = on->byChannel;
            n.pitch = on->byData1;
            n.velocity = on->byData2;
            n.start_tick = on->lTime;
            n.end_tick = INT32_MIN;  // not ended yet
            out.push_back(n);
        },
        [&](const MIDIEventPtr* end, const MIDIEventPtr*, uint32_t ordinal) {
            out[ordinal].end_tick = end->lTime;
        });
    // A note no end ends lasts to the last event of its track.
    const POSITION tail = track.GetTailPosition();
    const int32_t last = tail != nullptr ? tail->lTime : 0;
    for (Note& n : out) {
        if (n.end_tick == INT32_MIN) n.end_tick = last;
        n.end_tick = std::max(n.end_tick, n.start_tick);
    }
    // A track in time order needs only its notes of one start tick ordered.
    auto earlier = [](const Note& a, const Note& b) { return a.start_tick < b.start_tick; };
    if (!std::is_sorted(out.begin(), out.end(), earlier)) {
        std::stable_sort(out.begin(), out.end(), [](const Note& a, const Note& b) {
            return a.start_tick != b.start_tick ? a.start_tick < b.start_tick
                                                : ByChannelAndPitch(a, b);
        });
        return;
    }
    for (auto first = out.begin(); first != out.end();) {
        auto next = first + 1;
        while (next != out.end() && next->start_tick == first->start_tick) ++next;
        if (next - first > 1) std::stable_sort(first, next, ByChannelAndPitch);
        first = next;
    }
}

}  // namespace

std::vector<Note> SongNotes(const CMidiFolio& song, const score::TimeMap& time,
                            const std::vector<Placed>& changes) {
    const long tracks = song.GetTrackNum();
    std::vector<std::vector<Note>> perTrack(static_cast<size_t>(tracks));
    track_detail::NotePairing pairing;
    size_t total = 0;
    for (long t = 0; t < tracks; ++t) {
        TrackNotes(*song.GetTrack(static_cast<int>(t)), static_cast<uint16_t>(t), pairing,
                   perTrack[static_cast<size_t>(t)]);
        total += perTrack[static_cast<size_t>(t)].size();
    }

    // Each note, as it takes its place, gets its program (the last change on its channel at
    // or before its start, in any track; of several at one tick the latest in track and list
    // order) and its seconds: the start ticks ascend, so one walk along the program changes
    // and one along the tempo map serve them all, and the end ticks nearly do.
    std::array<size_t, 16> cursor{};
    std::array<std::vector<std::pair<int32_t, uint8_t>>, 16> programs;
    for (const Placed& c : changes)
        programs[c.event->byChannel].push_back({c.tick, c.event->byData1});
    score::TimeMap::Cursor starts(time), ends(time);
    auto finish = [&](Note& n) {
        if (n.channel < 16) {
            const auto& list = programs[n.channel];
            size_t& k = cursor[n.channel];
            while (k < list.size() && list[k].first <= n.start_tick) ++k;
            n.program = k > 0 ? list[k - 1].second : 0;
        }
        n.start = starts.seconds(n.start_tick);
        n.end = ends.seconds(n.end_tick);
    };

    // Merge: by start tick, then track (each track's own order holds within it), through a
    // binary min-heap of the tracks' next keys, (tick, track) packed so that integer order
    // is that order. The track on top gives notes while they come before both children's
    // keys; then its new key replaces the top and sinks.
    std::vector<Note> notes;
    if (perTrack.size() == 1) {
        notes = std::move(perTrack[0]);
        for (Note& n : notes) finish(n);
    } else {
        notes.reserve(total);
        auto key = [](int32_t tick, size_t track) {
            return (static_cast<uint64_t>(static_cast<uint32_t>(tick) ^ 0x80000000u) << 32) |
                   static_cast<uint32_t>(track);
        };
        constexpr uint64_t kDone = ~uint64_t{0};
        std::vector<uint64_t> heap;
        for (size_t t = 0; t < perTrack.size(); ++t)
            if (!perTrack[t].empty()) heap.push_back(key(perTrack[t][0].start_tick, t));
        std::make_heap(heap.begin(), heap.end(), std::greater<uint64_t>());
        std::vector<size_t> next(perTrack.size(), 0);
        while (!heap.empty() && heap[0] != kDone) {
            const size_t t = static_cast<uint32_t>(heap[0]);
            const uint64_t bound = detail::SecondSmallest(heap, kDone);
            const std::vector<Note>& from = perTrack[t];
            size_t k = next[t];
            do {
                notes.push_back(from[k++]);
                finish(notes.back());
            } while (k < from.size() && key(from[k].start_tick, t) < bound);
            next[t] = k;
            // The new key replaces the top and sinks (a finished track sinks as kDone).
            detail::ReplaceTop(heap, k < from.size() ? key(from[k].start_tick, t) : kDone);
        }
    }

    return notes;
}

}  // namespace score_detail
MIDIFOLIO_END_NAMESPACE
