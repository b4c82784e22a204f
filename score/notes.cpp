// The notes of a song: one pass per track through the track's pairing, then a merge of the
// tracks by start time, programs and seconds filled in along the merged list.
#include "score/notes.h"

#include <algorithm>
#include <array>
#include <climits>
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

bool ByChannelAndPitch(const TrackNote& a, const TrackNote& b) {
    return a.channel != b.channel ? a.channel < b.channel : a.pitch < b.pitch;
}

// A track's notes, paired in list order, into start-tick order (then channel and pitch;
// notes equal in those keep their list order); each(node) sees every node on the way.
template <class Each>
void TrackNotes(const CMidiTrack& track, track_detail::NotePairing& pairing, Each each,
                std::vector<TrackNote>& out) {
    out.clear();
    bool ordered = true;  // the note-ons come in time order
    // At most every other event starts a note in most songs; the rest grows as needed.
    out.reserve(static_cast<size_t>(track.GetCount()) / 2 + 1);
    pairing.Run(
        track.GetEventHeadPosition(), track_detail::PairingMarks::kLeave, each,
        [&](const MIDIEventPtr* on, uint32_t) {
            ordered = ordered && (out.empty() || out.back().start_tick <= on->lTime);
            // Field by field into the vector: a record put together on the stack and copied
            // whole would be read back before its byte stores reach the cache.
            TrackNote& n = out.emplace_back();
            n.start_tick = on->lTime;
            n.end_tick = INT32_MIN;  // not ended yet
            n.channel = on->byChannel;
            n.pitch = on->byData1;
            n.velocity = on->byData2;
        },
        [&](const MIDIEventPtr* end, const MIDIEventPtr*, uint32_t ordinal) {
            out[ordinal].end_tick = end->lTime;
        });
    // A note no end ends lasts to the last event of its track.
    const POSITION tail = track.GetTailPosition();
    const int32_t last = tail != nullptr ? tail->lTime : 0;
    auto finish = [last](TrackNote& n) {
        if (n.end_tick == INT32_MIN) n.end_tick = last;
        n.end_tick = std::max(n.end_tick, n.start_tick);
    };
    if (!ordered) {
        for (TrackNote& n : out) finish(n);
        std::stable_sort(out.begin(), out.end(), [](const TrackNote& a, const TrackNote& b) {
            return a.start_tick != b.start_tick ? a.start_tick < b.start_tick
                                                : ByChannelAndPitch(a, b);
        });
        return;
    }
    // A track in time order needs only its notes of one start tick ordered: a few notes
    // each, sorted by stable insertion (larger groups by a stable sort).
    for (auto first = out.begin(); first != out.end();) {
        finish(*first);
        auto next = first + 1;
        for (; next != out.end() && next->start_tick == first->start_tick; ++next) finish(*next);
        if (next - first > 16) {
            std::stable_sort(first, next, ByChannelAndPitch);
        } else {
            for (auto k = first + 1; k < next; ++k)
                std::rotate(std::upper_bound(first, k, *k, ByChannelAndPitch), k, k + 1);
        }
        first = next;
    }
}

// The merge of many tracks' notes into the Score's order (place(note, track) for every note
// by start tick, then track, then the track's own order): a binary min-heap of the tracks'
// next keys. The track on top gives notes while they come before both children's keys; then
// its new key replaces the top and sinks.
template <class Place>
void MergeByHeap(const std::vector<std::vector<TrackNote>>& perTrack,
                 const std::vector<size_t>& live, Place place) {
    auto key = [](int32_t tick, size_t track) { return detail::MergeKey(tick, track); };
    constexpr uint64_t kDone = ~uint64_t{0};
    std::vector<uint64_t> heap;
    for (size_t t : live) heap.push_back(key(perTrack[t][0].start_tick, t));
    std::make_heap(heap.begin(), heap.end(), std::greater<uint64_t>());
    std::vector<size_t> next(perTrack.size(), 0);
    while (!heap.empty() && heap[0] != kDone) {
        const size_t t = static_cast<uint32_t>(heap[0]);
        const uint64_t bound = detail::SecondSmallest(heap, kDone);
        const std::vector<TrackNote>& from = perTrack[t];
        size_t k = next[t];
        do {
            place(from[k++], t);
        } while (k < from.size() && key(from[k].start_tick, t) < bound);
        next[t] = k;
        // The new key replaces the top and sinks (a finished track sinks as kDone).
        detail::ReplaceTop(heap, k < from.size() ? key(from[k].start_tick, t) : kDone);
    }
}

}  // namespace

SongPass ReadSong(const CMidiFolio& song) {
    const long tracks = song.GetTrackNum();
    SongEventsBuilder events(song);
    SongPass pass;
    pass.notes.resize(static_cast<size_t>(tracks));
    track_detail::NotePairing pairing;
    for (long t = 0; t < tracks; ++t) {
        const CMidiTrack* track = song.GetTrack(static_cast<int>(t));
        events.BeginTrack(track, static_cast<uint16_t>(t));
        TrackNotes(
            *track, pairing, [&](MIDIEventPtr* ev) { events.Add(*ev); },
            pass.notes[static_cast<size_t>(t)]);
        events.EndTrack();
        pass.total += pass.notes[static_cast<size_t>(t)].size();
    }
    pass.events = events.Finish();
    return pass;
}

std::vector<Note> SongNotes(const SongPass& pass, const score::TimeMap& time) {
    const std::vector<std::vector<TrackNote>>& perTrack = pass.notes;
    // Each note, as it takes its place, gets its program (the last change on its channel at
    // or before its start, in any track; of several at one tick the latest in track and list
    // order) and its seconds: the start ticks ascend, so one walk along the program changes
    // and one along the tempo map serve them all, and the end ticks nearly do.
    std::array<size_t, 16> cursor{};
    std::array<std::vector<std::pair<int32_t, uint8_t>>, 16> programs;
    for (const Placed& c : pass.events.programs)
        programs[c.event->byChannel].push_back({c.tick, c.event->byData1});
    score::TimeMap::Cursor starts(time), ends(time);
    std::vector<Note> notes;
    notes.reserve(pass.total);
    auto place = [&](const TrackNote& from, size_t track) {
        Note& n = notes.emplace_back();  // in place, as a track's notes are
        n.track = static_cast<uint16_t>(track);
        n.channel = from.channel;
        n.pitch = from.pitch;
        n.velocity = from.velocity;
        n.start_tick = from.start_tick;
        n.end_tick = from.end_tick;
        if (n.channel < 16) {
            const auto& list = programs[n.channel];
            size_t& k = cursor[n.channel];
            while (k < list.size() && list[k].first <= n.start_tick) ++k;
            n.program = k > 0 ? list[k - 1].second : 0;
        }
        n.start = starts.seconds(n.start_tick);
        n.end = ends.seconds(n.end_tick);
    };

    // Merge: by start tick, then track (each track's own order holds within it); tick by
    // tick for few tracks, through a heap for many.
    std::vector<size_t> live;  // the tracks with notes, in track order
    for (size_t t = 0; t < perTrack.size(); ++t)
        if (!perTrack[t].empty()) live.push_back(t);
    if (live.size() <= detail::kFewRuns) {
        std::vector<size_t> next(perTrack.size(), 0);
        auto head = [&](size_t t) {
            return next[t] < perTrack[t].size() ? int64_t{perTrack[t][next[t]].start_tick}
                                                : detail::kNoTick;
        };
        detail::MergeTickByTick(perTrack.size(), head,
                                [&](size_t t) { place(perTrack[t][next[t]++], t); });
    } else {
        MergeByHeap(perTrack, live, place);
    }
    return notes;
}

}  // namespace score_detail
MIDIFOLIO_END_NAMESPACE
