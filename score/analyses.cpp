// What the Score derives from the notes and events: the summary, the instruments in use, what
// each track holds, and the notes as the sustain pedal lengthens them.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <tuple>

#include "midifolio/midi_event.h"
#include "midifolio/names.h"
#include "midifolio/score.h"
#include "platform/no_memory.h"
#include "score/song_data.h"
#include "score/track_reader.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace score {

namespace {

// Changes of one channel's controller value along a song, in holding order: the value in
// force at a tick is the last change at or before it.
class ValueAt {
  public:
    void Add(int64_t tick, uint8_t value) { m_changes.push_back({tick, value}); }
    // The value at ticks that ascend from one call to the next.
    uint8_t At(int64_t tick, uint8_t none) {
        while (m_next < m_changes.size() && m_changes[m_next].first <= tick) ++m_next;
        return m_next > 0 ? m_changes[m_next - 1].second : none;
    }
    // The tick of the next change after the last At (INT64_MAX: none).
    int64_t NextTick() const {
        return m_next < m_changes.size() ? m_changes[m_next].first : INT64_MAX;
    }

  private:
    std::vector<std::pair<int64_t, uint8_t>> m_changes;
    size_t m_next = 0;
};

// The instruments of notes met in song order: each channel's instrument of its last note
// (most notes play the one before theirs), the track of that note, and the bank selects of
// the list it was found in with their values at that note, which hold until the next select.
// The notes of the instrument since it became the channel's are counted by the channel and
// added to it when the channel changes instrument: stores to the instrument's byte fields
// would make the compiler reload everything after each note.
class InstrumentFinder {
  public:
    InstrumentFinder(const std::vector<score_detail::MapEvent>& banks, bool perTrack)
        : m_perTrack(perTrack) {
        // Bank select of each channel (of each track's channels in format 2): 0 MSB, 32 LSB.
        for (const score_detail::MapEvent& e : banks)
            m_banks[{perTrack ? e.track : 0, (e.value >> 16) & 15, (e.value >> 8) & 0xFF}].Add(
                e.tick, static_cast<uint8_t>(e.value));
    }

    void Add(const Note& n) {
        Channel& c = m_channels[n.channel & 15];
        // A note of the track, channel and program of the last one on its channel, before the
        // next bank select, plays the same instrument. (In format 2 a change of track is a
        // change of the bank selects' list too.)
        if (n.start_tick >= c.until || Head(n) != c.head) Change(c, n);
        const uint32_t pitch = n.pitch;
        ++c.notes;
        c.lowest = std::min(c.lowest, pitch);
        c.highest = std::max(c.highest, pitch);
    }

    std::vector<Instrument> Found() {
        for (Channel& c : m_channels) c.Flush();
        std::vector<Instrument> out;
        for (auto& entry : m_found) out.push_back(std::move(entry.second));
        return out;
    }

  private:
    struct Channel {
        Instrument* in = nullptr;
        uint32_t key = UINT32_MAX;    // program | bank of `in`
        uint32_t track = UINT32_MAX;  // in `in`'s tracks already
        size_t list = SIZE_MAX;
        ValueAt* select[2] = {nullptr, nullptr};  // controllers 0 and 32
        uint32_t bank = 0;                        // MSB << 8 | LSB << 16 in force
        int64_t until = INT64_MIN;   // `bank` holds for notes that start before this tick
        uint32_t head = UINT32_MAX;  // Head() of the last note (never that of a note at first)
        size_t notes = 0;            // of `in`, not yet added to it
        uint32_t lowest = 127, highest = 0;
        void Flush() {
            if (in == nullptr || notes == 0) return;
            in->notes += notes;
            in->lowest = static_cast<uint8_t>(std::min<uint32_t>(in->lowest, lowest));
            in->highest = static_cast<uint8_t>(std::max<uint32_t>(in->highest, highest));
            notes = 0;
            lowest = 127;
            highest = 0;
        }
    };

    // A note's track, channel and program, its first four bytes, as one word.
    static uint32_t Head(const Note& n) {
        static_assert(offsetof(Note, track) == 0 && offsetof(Note, channel) == 2 &&
                          offsetof(Note, program) == 3,
                      "a note starts with its track, channel and program");
        uint32_t word;
        std::memcpy(&word, &n, sizeof word);
        return word;
    }

    // A note whose bank selects, instrument or track differ from the last one's on its
    // channel (a few per song).
    __attribute__((noinline)) void Change(Channel& c, const Note& n) {
        c.head = Head(n);
        const size_t list = m_perTrack ? n.track : 0;
        if (c.list != list) {
            c.list = list;
            c.until = INT64_MIN;
            for (int k = 0; k < 2; ++k) {
                auto it = m_banks.empty() ? m_banks.end() : m_banks.find({list, n.channel, k * 32});
                c.select[k] = it == m_banks.end() ? nullptr : &it->second;
            }
        }
        if (n.start_tick >= c.until) {
            c.until = INT64_MAX;
            c.bank = 0;
            for (int k = 0; k < 2; ++k) {
                if (c.select[k] == nullptr) continue;
                c.bank |= uint32_t{c.select[k]->At(n.start_tick, 0)} << (8 + 8 * k);
                c.until = std::min(c.until, c.select[k]->NextTick());
            }
        }
        const uint32_t key = n.program | c.bank;
        if (key != c.key) {
            c.Flush();
            const uint8_t msb = (c.bank >> 8) & 0xFF, lsb = (c.bank >> 16) & 0xFF;
            auto [it, isNew] = m_found.try_emplace({n.channel, n.program, msb, lsb});
            c.in = &it->second;
            c.key = key;
            c.track = UINT32_MAX;
            if (isNew) {
                *c.in = Instrument{
                    n.channel,
                    n.program,
                    msb,
                    lsb,
                    n.channel == PERCUSSION_CHANNEL ? "Drums" : names::ProgramName(n.program),
                    {},
                    0,
                    n.pitch,
                    n.pitch};
            }
        }
        if (c.track != n.track) {
            c.track = n.track;
            std::vector<uint16_t>& tracks = c.in->tracks;
            if (std::find(tracks.begin(), tracks.end(), n.track) == tracks.end())
                tracks.insert(std::upper_bound(tracks.begin(), tracks.end(), n.track), n.track);
        }
    }

    const bool m_perTrack;
    std::map<std::tuple<size_t, int, int>, ValueAt> m_banks;
    std::map<std::tuple<int, int, int, int>, Instrument> m_found;
    std::array<Channel, 16> m_channels;
};

// The notes sounding as notes start one after another (by start tick): the most at once. An
// end at a tick comes before a start at it, and a note of no length never sounds. While few
// sound, their ends stand in a short list that each start sweeps without a branch; beyond that
// (a song of notes left sounding), a heap holds them, the earliest end at the front.
class Sounding {
  public:
    void Start(int64_t start, int64_t end) {
        if (end <= start) return;
        if (m_heap.empty()) {
            if (m_first <= start) Sweep(start);
            if (m_count < kShort) {
                m_short[m_count++] = end;
                m_first = std::min(m_first, end);
                m_peak = std::max(m_peak, m_count);
                return;
            }
            m_heap.assign(m_short.begin(), m_short.end());
            std::make_heap(m_heap.begin(), m_heap.end(), m_later);
        }
        if (m_heap.front() <= start) {
            // The first note over gives its place to this one (one sift, where a pop and a
            // push take two), then the others over leave: the last end takes the front and
            // sifts down. (This note's end stays: the heap never empties here.)
            m_heap.front() = end;
            score_detail::SiftFrontDown(m_heap, m_later);
            while (m_heap.front() <= start) {
                m_heap.front() = m_heap.back();
                m_heap.pop_back();
                score_detail::SiftFrontDown(m_heap, m_later);
            }
        } else {
            m_heap.push_back(end);
            std::push_heap(m_heap.begin(), m_heap.end(), m_later);
        }
        m_peak = std::max(m_peak, static_cast<uint32_t>(m_heap.size()));
    }
    uint32_t Peak() const { return m_peak; }

  private:
    static constexpr uint32_t kShort = 64;
    // Drops the ends at or before `start` from the short list; m_first becomes the earliest left.
    void Sweep(int64_t start) {
        uint32_t kept = 0;
        int64_t first = INT64_MAX;
        for (uint32_t i = 0; i < m_count; ++i) {
            const int64_t end = m_short[i];
            m_short[kept] = end;
            kept += end > start;
            first = end > start ? std::min(first, end) : first;
        }
        m_count = kept;
        m_first = first;
    }

    std::array<int64_t, kShort> m_short;
    uint32_t m_count = 0;
    int64_t m_first = INT64_MAX;  // the earliest end in the short list
    std::vector<int64_t> m_heap;  // (in use once the short list is full)
    std::greater<int64_t> m_later;
    uint32_t m_peak = 0;
};

// The numbers whose bits are set in a bit set of `count` bits, ascending.
std::vector<uint8_t> Members(const uint64_t* bits, int count) {
    std::vector<uint8_t> out;
    for (int k = 0; k < count; ++k)
        if ((bits[k >> 6] >> (k & 63)) & 1) out.push_back(static_cast<uint8_t>(k));
    return out;
}

// The summary of a song's notes, from one walk over them; also(n) is called for every note on
// the way, and drumNotes gets a bit per note number struck on the percussion channel.
template <class Also>
Summary SummaryWalk(const Score& score, const std::vector<Note>& notes,
                    const std::vector<KeySignature>& keys, uint64_t (&drumNotes)[2], Also also) {
    Summary s;
    s.notes = notes.size();
    s.duration = score.duration();
    s.bars = score.bars();
    s.keys = keys;
    // Kept in locals while the notes are walked (a store through `s` or into an array of
    // bools might change any byte, a note's among them, for all the compiler knows).
    int lowest = 128, highest = -1;
    uint64_t programs[4] = {};  // a bit per program
    uint64_t drums[2] = {};     // a bit per drum note
    Sounding sounding;
    for (const Note& n : notes) {
        also(n);
        const int pitch = n.pitch;
        lowest = std::min(lowest, pitch);
        highest = std::max(highest, pitch);
        if (n.channel == PERCUSSION_CHANNEL)
            drums[(pitch >> 6) & 1] |= uint64_t{1} << (pitch & 63);
        else
            programs[n.program >> 6] |= uint64_t{1} << (n.program & 63);
        sounding.Start(n.start_tick, n.end_tick);
    }
    if (!notes.empty()) {
        s.lowest_pitch = lowest;
        s.highest_pitch = highest;
    }
    s.drums = (drums[0] | drums[1]) != 0;
    s.peak_polyphony = sounding.Peak();
    s.programs = Members(programs, 256);
    drumNotes[0] = drums[0];
    drumNotes[1] = drums[1];
    return s;
}

}  // namespace

Summary Score::summary() const {
    return platform_detail::OrEmptyWhenNoMemory([&] {
        uint64_t drums[2];
        return SummaryWalk(*this, Data().Notes(), Data().keyList, drums, [](const Note&) {});
    });
}

std::vector<Instrument> Score::instruments() const {
    return platform_detail::OrEmptyWhenNoMemory([&] {
        const score_detail::SongData& d = Data();
        InstrumentFinder finder(d.banks, d.format == 2);
        for (const Note& n : d.Notes()) finder.Add(n);
        return finder.Found();
    });
}

// (One walk where summary() and instruments() take two.)
Survey Score::survey() const {
    return platform_detail::OrEmptyWhenNoMemory([&] {
        const score_detail::SongData& d = Data();
        InstrumentFinder finder(d.banks, d.format == 2);
        uint64_t drums[2];
        Survey out;
        out.summary = SummaryWalk(*this, d.Notes(), d.keyList, drums,
                                  [&finder](const Note& n) { finder.Add(n); });
        out.instruments = finder.Found();
        out.drum_notes = Members(drums, 128);
        return out;
    });
}

std::vector<TrackSummary> Score::track_summaries() const {
    return platform_detail::OrEmptyWhenNoMemory([&] {
        const score_detail::SongData& d = Data();
        std::vector<TrackSummary> out(d.tracks.size());
        const uint8_t* base = d.bytes->data();
        for (size_t t = 0; t < out.size(); ++t) {
            TrackSummary& s = out[t];
            s.index = static_cast<uint16_t>(t);
            s.notes = 0;
            s.lyrics = 0;
            s.is_drum = false;
            std::array<bool, 16> channels{};
            bool named = false;
            const score_detail::TrackSpan& span = d.spans[t];
            score_detail::WalkTrack(
                base + span.begin, base + span.end, [&](const score_detail::RawEvent& ev) {
                    if (ev.status < 0xF0) channels[ev.status & 15] = true;
                    if (ev.status == 0xFF && ev.data1 == META_LYRIC) ++s.lyrics;
                    if (!named && ev.status == 0xFF && ev.data1 == META_TRACK_NAME) {
                        s.name = Text(ev.payload, ev.length);
                        named = true;
                    }
                });
            for (uint8_t c = 0; c < 16; ++c)
                if (channels[c]) s.channels.push_back(c);
        }
        std::vector<std::array<bool, 128>> programs(out.size(), std::array<bool, 128>{});
        std::vector<bool> melodic(out.size(), false);
        for (const Note& n : d.Notes()) {
            ++out[n.track].notes;
            if (n.channel == PERCUSSION_CHANNEL) continue;
            melodic[n.track] = true;
            programs[n.track][n.program & 127] = true;
        }
        for (size_t t = 0; t < out.size(); ++t) {
            for (uint8_t p = 0; p < 128; ++p)
                if (programs[t][p]) out[t].programs.push_back(p);
            out[t].is_drum = out[t].notes > 0 && !melodic[t];
        }
        return out;
    });
}

namespace {

// The ticks at which a channel's pedal goes down and up, in order.
struct Pedal {
    std::vector<std::pair<int64_t, bool>> changes;  // tick, down
    // The tick at which a note ending at `end` is released: end itself when the pedal is up
    // then, else when the pedal next goes up (never: `never`).
    int64_t Release(int64_t end, int64_t never) const {
        auto it = std::upper_bound(changes.begin(), changes.end(), std::make_pair(end, true));
        if (it == changes.begin() || !(it - 1)->second) return end;
        for (; it != changes.end(); ++it)
            if (!it->second) return it->first;
        return never;
    }
};

}  // namespace

std::vector<Note> Score::sustained_notes() const {
    return platform_detail::OrEmptyWhenNoMemory([&] {
        const score_detail::SongData& d = Data();
        const bool perTrack = d.format == 2;
        std::map<std::pair<size_t, int>, Pedal> pedals;
        for (const score_detail::MapEvent& e : d.pedals) {
            Pedal& p = pedals[{perTrack ? e.track : 0, (e.value >> 8) & 15}];
            const bool down = (e.value & 0xFF) >= 64;
            if (p.changes.empty() ? down : p.changes.back().second != down)
                p.changes.push_back({e.tick, down});
        }
        std::vector<Note> out = d.Notes();
        if (pedals.empty()) return out;
        // The starts of each channel's pitches, to stop a held note where its pitch starts again.
        std::map<std::tuple<size_t, int, int>, std::vector<int64_t>> starts;
        for (const Note& n : out)
            starts[{perTrack ? n.track : 0, n.channel, n.pitch}].push_back(n.start_tick);
        for (Note& n : out) {
            const size_t list = perTrack ? n.track : 0;
            auto p = pedals.find({list, n.channel});
            if (p == pedals.end()) continue;
            int64_t release = p->second.Release(n.end_tick, std::max(d.endTick, n.end_tick));
            const std::vector<int64_t>& again = starts[{list, n.channel, n.pitch}];
            auto next = std::upper_bound(again.begin(), again.end(), n.start_tick);
            next = std::lower_bound(next, again.end(), n.end_tick);
            if (next != again.end()) release = std::min(release, *next);
            if (release <= n.end_tick) continue;
            n.end_tick = release;
            n.end = time_map(n.track).seconds(static_cast<double>(release));
        }
        return out;
    });
}

}  // namespace score
MIDIFOLIO_END_NAMESPACE
