// The events of a song merged by time, walked as they are asked for: each track has a cursor
// that gives its events, and a second one that runs ahead of it just far enough to pair the
// note-on being given with its note end.
#include <deque>
#include <functional>
#include <new>
#include <queue>

#include "midifolio/event_kinds.h"
#include "midifolio/score.h"
#include "score/song_data.h"
#include "score/track_reader.h"
#include "track/note_pairing.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace score {

namespace {

bool SoundingNoteOn(const score_detail::RawEvent& ev) {
    return (ev.status >> 4) == 0x9 && ev.data2 != 0;
}
bool NoteEnd(const score_detail::RawEvent& ev) {
    return (ev.status >> 4) == 0x8 || ((ev.status >> 4) == 0x9 && ev.data2 == 0);
}

// One track: the events in file order, and the note ends of its note-ons in order.
struct TrackStream {
    TrackStream(const uint8_t* begin, const uint8_t* end, size_t index, const TimeMap& map)
        : events(begin, end), ahead(begin, end), track(index), cursor(map) {}

    // Moves to the next event; false at the end of the track.
    bool Advance() {
        if (!events.Next(current)) return false;
        if (current.status == 0xFF && current.data1 == META_PORT && current.length >= 1)
            port = current.payload[0];
        endTick = -1;
        if (SoundingNoteOn(current)) endTick = EndOfNote(given++);
        return true;
    }

    // The end of the k-th sounding note-on, the ahead cursor moved on as far as it takes.
    int64_t EndOfNote(uint64_t k) {
        while (k >= numbered || !ends.front().known) {
            score_detail::RawEvent ev;
            if (!ahead.Next(ev)) {
                // Notes no end ends last to the track's last event (not to a delta time after
                // it that ends a track without an end-of-track event).
                for (Pending& p : ends)
                    if (!p.known) p = {lastTick, true};
                while (k >= numbered) ends.push_back({lastTick, true}), ++numbered;
                break;
            }
            lastTick = ev.tick;
            if (SoundingNoteOn(ev)) {
                pairing.OpenKey(ev.status & 15, ev.data1, static_cast<uint32_t>(numbered++));
                ends.push_back({0, false});
            } else if (NoteEnd(ev)) {
                const int64_t on = pairing.CloseKey(ev.status & 15, ev.data1);
                if (on >= 0 && static_cast<uint64_t>(on) >= k)
                    ends[static_cast<size_t>(static_cast<uint64_t>(on) - k)] = {ev.tick, true};
            }
        }
        const int64_t end = ends.front().tick;
        ends.pop_front();
        return end;
    }

    struct Pending {
        int64_t tick;
        bool known;
    };
    score_detail::TrackCursor events;
    score_detail::TrackCursor ahead;
    size_t track;
    TimeMap::Cursor cursor;
    score_detail::RawEvent current{};
    uint8_t port = 0;
    int64_t endTick = -1;
    uint64_t given = 0;        // sounding note-ons given so far
    uint64_t numbered = 0;     // sounding note-ons the ahead cursor met
    int64_t lastTick = 0;      // of the last event the ahead cursor met
    std::deque<Pending> ends;  // of note-ons given .. numbered - 1
    track_detail::NotePairing pairing;
};

}  // namespace

struct EventStream::State {
    const Score* score;
    const uint8_t* base;
    std::deque<TrackStream> tracks;
    // (tick, track) of each track's current event: the least comes next.
    using Key = std::pair<int64_t, size_t>;
    std::priority_queue<Key, std::vector<Key>, std::greater<Key>> heads;
    int64_t from = 0;
    bool whole = true;
};

EventStream::EventStream(const Score& score, size_t first, size_t last, int64_t from) {
    try {
        m_state = std::make_unique<State>();
        Begin(score, first, last, from);
    } catch (const std::bad_alloc&) {
        // The stream ends at once, and says it is not whole.
        if (m_state) {
            m_state->heads = {};
            m_state->whole = false;
        }
    }
}

bool EventStream::whole() const {
    return m_state != nullptr && m_state->whole;
}

void EventStream::Begin(const Score& score, size_t first, size_t last, int64_t from) {
    State& s = *m_state;
    s.score = &score;
    s.from = from;
    const Song& song = score.song();
    s.base = song.bytes().data();
    const std::vector<TrackInfo>& tracks = song.tracks();
    for (size_t t = first; t < tracks.size() && t <= last; ++t) {
        const uint8_t* begin = s.base + tracks[t].offset;
        s.tracks.emplace_back(begin, begin + tracks[t].length, t, score.time_map(t));
        TrackStream& track = s.tracks.back();
        bool more = track.Advance();
        while (more && track.current.tick < from) more = track.Advance();
        if (more) s.heads.push({track.current.tick, s.tracks.size() - 1});
    }
}

EventStream::~EventStream() = default;

bool EventStream::Next(EventRecord& r, int64_t& end_tick) {
    if (!m_state) return false;
    try {
        return Step(r, end_tick);
    } catch (const std::bad_alloc&) {
        m_state->heads = {};
        m_state->whole = false;
        return false;
    }
}

bool EventStream::Step(EventRecord& r, int64_t& end_tick) {
    State& s = *m_state;
    if (s.heads.empty()) return false;
    TrackStream& t = s.tracks[s.heads.top().second];
    const size_t slot = s.heads.top().second;
    s.heads.pop();
    const score_detail::RawEvent& ev = t.current;
    const bool meta = ev.status == 0xFF;
    r.tick = ev.tick;
    r.seconds = t.cursor.seconds(static_cast<double>(ev.tick));
    r.track = static_cast<uint16_t>(t.track);
    r.kind = static_cast<uint16_t>(smf::TypeCodeOfStatus(ev.status));
    r.channel = smf::IsChannelStatus(ev.status) ? (ev.status & 15) : 255;
    r.status = ev.status;
    r.data1 = meta ? 0 : ev.data1;
    r.data2 = meta ? 0 : ev.data2;
    r.meta = meta ? ev.data1 : -1;
    r.port = t.port;
    r.reserved = 0;
    r.length = ev.length;
    r.offset = ev.payload != nullptr ? static_cast<uint32_t>(ev.payload - s.base) : 0;
    end_tick = t.endTick;
    if (t.Advance()) s.heads.push({t.current.tick, slot});
    return true;
}

}  // namespace score
MIDIFOLIO_END_NAMESPACE
