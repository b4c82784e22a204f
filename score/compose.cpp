// Songs made of other songs and of notes: formats, merging, splitting, and a song from notes.
#include <algorithm>
#include <cmath>
#include <queue>

#include "midifolio/edit.h"
#include "midifolio/event_kinds.h"
#include "midifolio/names.h"
#include "platform/page_memory.h"
#include "platform/text.h"
#include "score/edit_support.h"
#include "score/song_data.h"
#include "score/track_encoder.h"
#include "track/smf_bytes.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace score {

namespace {

using score_detail::EndAt;
using score_detail::EndTick;
using score_detail::Failed;
using score_detail::Finish;
using score_detail::Guarded;
using score_detail::IsEnd;
using score_detail::SortByTick;
using score_detail::Track;
using score_detail::WholeSequence;

// Every track's events in one, by tick, then track, then file order (ends of track left out).
Track MergeTracks(const std::vector<Track>& tracks) {
    Track out;
    using Key = std::tuple<int64_t, size_t, size_t>;  // tick, track, index
    std::priority_queue<Key, std::vector<Key>, std::greater<Key>> heads;
    for (size_t t = 0; t < tracks.size(); ++t)
        if (!tracks[t].empty()) heads.push({tracks[t][0].tick, t, 0});
    while (!heads.empty()) {
        const auto [tick, t, i] = heads.top();
        heads.pop();
        if (!IsEnd(tracks[t][i])) out.push_back(tracks[t][i]);
        if (i + 1 < tracks[t].size()) heads.push({tracks[t][i + 1].tick, t, i + 1});
    }
    return out;
}

// The tick at which the song ends: its latest event, an end of track included.
bool IsMap(const Event& e) {
    return e.status == 0xFF && (e.data1 == META_TEMPO || e.data1 == META_TIME_SIGNATURE ||
                                e.data1 == META_KEY_SIGNATURE);
}

}  // namespace

Song SetFormat(const Song& song, int format, std::string* error) {
    return Guarded(error, [&]() -> Song {
        if (format != 0 && format != 1) return Failed(error, "the format must be 0 or 1");
        Sequence s = WholeSequence(song);
        // (A format-0 song of several tracks, as read from such a file, is merged into one.)
        if (s.format == format && !(format == 0 && s.tracks.size() > 1)) return Finish(s, error);
        if (s.format == 2)
            return Failed(error,
                          "a song of format 2 holds sequences of their own: they cannot be merged");
        const Track all = MergeTracks(s.tracks);
        const int64_t end = EndTick(s.tracks);
        s.tracks.clear();
        if (format == 0) {
            s.tracks.push_back(all);
        } else {
            // Format 1: what has no channel in the first track, each channel in a track of its own.
            s.tracks.emplace_back();
            std::vector<int> trackOf(16, -1);
            for (const Event& e : all) {
                if (e.status >= 0xF0) {
                    s.tracks[0].push_back(e);
                    continue;
                }
                int& t = trackOf[e.status & 15];
                if (t < 0) {
                    t = static_cast<int>(s.tracks.size());
                    s.tracks.emplace_back();
                }
                s.tracks[static_cast<size_t>(t)].push_back(e);
            }
        }
        for (Track& t : s.tracks) EndAt(t, end);
        s.format = format;
        return Finish(s, error);
    });
}

Song Merge(const std::vector<Song>& songs, std::string* error) {
    return Guarded(error, [&]() -> Song {
        if (songs.empty()) return Failed(error, "nothing to merge");
        Sequence out;
        out.format = 1;
        out.division = songs[0].division();
        for (size_t k = 0; k < songs.size(); ++k) {
            Song song = songs[k];
            if (k > 0 && song.division().word != out.division.word) {
                if (out.division.smpte() || song.division().smpte())
                    return Failed(error,
                                  "song " + std::to_string(k + 1) +
                                      ": songs in SMPTE time merge only at the same division");
                song = Resample(song, out.division.ticks_per_quarter(), error);
                if (error != nullptr && !error->empty()) return Song();
            }
            if (song.format() == 2) out.format = 2;
            Sequence s = WholeSequence(song);
            for (Track& t : s.tracks) {
                Track kept;
                for (Event e : t) {
                    if (k > 0 && e.status == 0xFF && e.data1 == META_TEMPO)
                        continue;  // the first song's tempo map holds
                    if (e.length != 0) e.offset += static_cast<uint32_t>(out.payloads.size());
                    kept.push_back(e);
                }
                out.tracks.push_back(std::move(kept));
            }
            out.payloads.insert(out.payloads.end(), s.payloads.begin(), s.payloads.end());
        }
        if (out.tracks.size() > 65535) return Failed(error, score_detail::kTooManyTracks);
        return Finish(out, error);
    });
}

std::vector<Song> Split(const Song& song, SplitBy by, std::vector<std::string>* labels,
                        std::string* error) {
    try {
        const Sequence s = WholeSequence(song);
        // The maps of the whole song, for the first track of every part.
        Track maps;
        for (const Track& t : s.tracks)
            for (const Event& e : t)
                if (IsMap(e)) maps.push_back(e);
        std::stable_sort(maps.begin(), maps.end(),
                         [](const Event& a, const Event& b) { return a.tick < b.tick; });
        std::vector<Track> parts;
        std::vector<std::string> names;
        // Where each part's track ends: a track split off where it ended, a channel's events
        // where the song did. (A track read without its end-of-track event ended at its last
        // event: the notes no end ended last to there, in the part as in the song.)
        const int64_t end = EndTick(s.tracks);
        std::vector<int64_t> ends;
        if (by == SplitBy::kTrack) {
            for (size_t t = 0; t < s.tracks.size(); ++t) {
                Track part;
                bool channel = false;
                for (const Event& e : s.tracks[t]) {
                    channel = channel || e.status < 0xF0;
                    if (!IsMap(e)) part.push_back(e);
                }
                if (!channel) continue;
                parts.push_back(std::move(part));
                ends.push_back(s.tracks[t].back().tick);
                names.push_back("track " + std::to_string(t + 1));
            }
        } else {
            const Track all = MergeTracks(s.tracks);
            for (int c = 0; c < 16; ++c) {
                Track part;
                for (const Event& e : all)
                    if (e.status < 0xF0 && (e.status & 15) == c) part.push_back(e);
                if (part.empty()) continue;
                parts.push_back(std::move(part));
                ends.push_back(end);
                names.push_back("channel " + std::to_string(c + 1));
            }
        }
        EndAt(maps, end);
        std::vector<Song> out;
        for (size_t k = 0; k < parts.size(); ++k) {
            Track& part = parts[k];
            EndAt(part, ends[k]);
            Sequence one;
            one.format = 1;
            one.division = s.division;
            one.payloads = s.payloads;
            one.tracks = {maps, std::move(part)};
            out.push_back(Finish(one, error));
            if (error != nullptr && !error->empty()) return {};
        }
        if (labels != nullptr) *labels = names;
        if (error != nullptr) error->clear();
        return out;
    } catch (const std::bad_alloc&) {
        Failed(error, "out of memory");
        return {};
    }
}

namespace {

template <class N>
std::string CheckNote(const N& n, size_t index) {
    // (The words are made only for a note at fault: this runs for every note of a song.)
    const bool fine = n.channel <= 15 && n.pitch <= 127 && n.velocity >= 1 && n.velocity <= 127 &&
                      n.program <= 127 && n.start_tick >= 0 && n.end_tick >= n.start_tick;
    if (fine) return std::string();
    const std::string which = "note " + platform_detail::Thousands(index) + " (pitch " +
                              std::to_string(n.pitch) + " at tick " + std::to_string(n.start_tick) +
                              ")";
    if (n.channel > 15)
        return which + ": channel " + std::to_string(n.channel) + " is outside 0..15";
    if (n.pitch > 127) return which + ": the pitch is outside 0..127";
    if (n.velocity < 1 || n.velocity > 127)
        return which + ": velocity " + std::to_string(n.velocity) + " is outside 1..127";
    if (n.program > 127)
        return which + ": program " + std::to_string(n.program) + " is outside 0..127";
    return which + ": it ends before it starts, or starts before 0";
}

// The events a song of notes holds besides its notes, each track's in time order (stably):
// the conductor's tempos, meters and keys in the first track, and the tracks' names.
std::vector<Track> PlanEvents(size_t tracks, const SongPlan& plan, std::vector<uint8_t>& payloads) {
    std::vector<Track> out(tracks);
    Track& first = out[0];
    auto put = [&](Track& track, int64_t tick, uint32_t type, std::vector<uint8_t> payload) {
        track.push_back({tick, static_cast<uint32_t>(payloads.size()),
                         static_cast<uint32_t>(payload.size()), 0xFF, static_cast<uint8_t>(type), 0,
                         0});
        payloads.insert(payloads.end(), payload.begin(), payload.end());
    };
    for (const auto& [tick, us] : plan.tempos)
        put(first, tick, META_TEMPO,
            {static_cast<uint8_t>(us >> 16), static_cast<uint8_t>(us >> 8),
             static_cast<uint8_t>(us)});
    for (const TimeSignature& ts : plan.time_signatures)
        put(first, ts.tick, META_TIME_SIGNATURE, {ts.numerator, ts.denominator_power, 24, 8});
    for (const KeySignature& ks : plan.key_signatures)
        put(first, ks.tick, META_KEY_SIGNATURE,
            {static_cast<uint8_t>(ks.sharps), static_cast<uint8_t>(ks.minor)});
    for (size_t t = 0; t < plan.track_names.size() && t < tracks; ++t)
        if (!plan.track_names[t].empty()) {
            const std::string& name = plan.track_names[t];
            put(out[t], 0, META_TRACK_NAME, std::vector<uint8_t>(name.begin(), name.end()));
        }
    for (Track& track : out)
        std::stable_sort(track.begin(), track.end(),
                         [](const Event& a, const Event& b) { return a.tick < b.tick; });
    return out;
}

// A track of a song of notes, written as its events come: the notes' events in time order
// (the ends due before a start go first, ends at one tick before starts at it, each end after
// its own start), the plan's events after those of their tick.
class TrackWriter {
  public:
    TrackWriter(std::vector<uint8_t>& out, size_t stage, const Track& planned,
                const std::vector<uint8_t>& payloads)
        : m_encoder(out, smf::kMaxDelta, stage), m_planned(planned), m_payloads(payloads) {}
    template <class N>
    void Start(const N& n, uint64_t order, bool program) {
        Flush(n.start_tick, true);
        const uint8_t ch = n.channel;
        if (program) Put(n.start_tick, static_cast<uint8_t>(0xC0 | ch), n.program, 0);
        Put(n.start_tick, static_cast<uint8_t>(0x90 | ch), n.pitch, n.velocity);
        if (n.end_tick == n.start_tick) {
            Put(n.end_tick, static_cast<uint8_t>(0x80 | ch), n.pitch, 0);
            return;
        }
        m_ends.push({n.end_tick, order, static_cast<uint8_t>(0x80 | ch), n.pitch});
    }
    // Every event left, and the end of the track: false when the track cannot be written
    // (why() says why).
    bool End() {
        Flush(INT64_MAX, true);
        Planned(INT64_MAX);
        return m_ok && (m_ok = m_encoder.End());
    }
    const std::string& why() const { return m_encoder.why(); }

  private:
    // The ends before `tick` (and at it with `atTick`).
    void Flush(int64_t tick, bool atTick) {
        while (!m_ends.empty() &&
               (m_ends.top().tick < tick || (atTick && m_ends.top().tick == tick))) {
            const Pending& p = m_ends.top();
            Put(p.tick, p.status, p.pitch, 0);
            m_ends.pop();
        }
    }
    // The plan's events before `tick`.
    void Planned(int64_t tick) {
        for (; m_next < m_planned.size() && m_planned[m_next].tick < tick; ++m_next)
            m_ok = m_ok && m_encoder.Put(m_planned[m_next], m_payloads);
    }
    void Put(int64_t tick, uint8_t status, uint8_t data1, uint8_t data2) {
        if (m_next < m_planned.size()) Planned(tick);
        m_ok = m_ok && m_encoder.Channel(tick, status, data1, data2);
    }
    struct Pending {
        int64_t tick;
        uint64_t order;
        uint8_t status;
        uint8_t pitch;
        bool operator>(const Pending& o) const {
            return tick != o.tick ? tick > o.tick : order > o.order;
        }
    };
    score_detail::TrackEncoder m_encoder;
    const Track& m_planned;
    const std::vector<uint8_t>& m_payloads;
    size_t m_next = 0;  // of m_planned
    bool m_ok = true;
    std::priority_queue<Pending, std::vector<Pending>, std::greater<Pending>> m_ends;
};

template <class N>
Song SongOfNotes(const N* notes, size_t count, const SongPlan& plan, std::string* error) {
    return Guarded(error, [&]() -> Song {
        if (plan.ticks_per_quarter <= 0 || plan.ticks_per_quarter > 32767)
            return Failed(error, "ticks per quarter note must be 1..32767");
        size_t tracks = std::max<size_t>(1, plan.track_names.size());
        for (size_t i = 0; i < count; ++i) {
            const std::string bad = CheckNote(notes[i], i);
            if (!bad.empty()) return Failed(error, bad);
            tracks = std::max<size_t>(tracks, size_t{notes[i].track} + 1);
        }
        if (tracks > 65535)
            return Failed(error, std::string("cannot be written: ") + score_detail::kTooManyTracks);
        // Each track's bytes as its events come (about 4 bytes an event, two events a note),
        // then the file of them: no sequence of the song's events is made.
        std::vector<uint8_t> payloads;
        const std::vector<Track> planned = PlanEvents(tracks, plan, payloads);
        std::vector<std::vector<uint8_t>> data(tracks);
        std::vector<TrackWriter> writers;
        writers.reserve(tracks);
        // (Every track is written at once: a song of thousands of tracks takes small stages.)
        const size_t perTrack = 8 * count / tracks + 64;
        for (size_t t = 0; t < tracks; ++t) {
            data[t].reserve(perTrack);
            writers.emplace_back(data[t], std::min(perTrack, score_detail::TrackEncoder::kStage),
                                 planned[t], payloads);
        }
        // The notes in start order (stably): each channel's program as it changes from 0.
        uint8_t program[16] = {};
        auto start = [&](uint32_t i) {
            const N& n = notes[i];
            const bool change = program[n.channel] != n.program;
            program[n.channel] = n.program;
            writers[n.track].Start(n, i, change);
        };
        if (std::is_sorted(notes, notes + count,
                           [](const N& a, const N& b) { return a.start_tick < b.start_tick; })) {
            for (uint32_t i = 0; i < count; ++i) start(i);
        } else {
            std::vector<uint32_t> order(count);
            for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
            std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
                return notes[a].start_tick < notes[b].start_tick;
            });
            for (uint32_t i : order) start(i);
        }
        std::string why;
        for (size_t t = 0; t < tracks && why.empty(); ++t)
            if (!writers[t].End()) why = "track " + std::to_string(t + 1) + ": " + writers[t].why();
        size_t bytes = 0;
        for (const std::vector<uint8_t>& d : data) bytes += d.size();
        std::vector<uint8_t> file;
        if (why.empty()) {
            Division division;
            division.word = static_cast<uint16_t>(plan.ticks_per_quarter);
            file = score_detail::EncodeChunks(
                tracks == 1 ? 0 : 1, tracks, division, bytes,
                [&](size_t t, std::vector<uint8_t>& out) {
                    out.insert(out.end(), data[t].begin(), data[t].end());
                    std::vector<uint8_t>().swap(data[t]);  // (less memory at the peak)
                    return true;
                },
                &why);
        }
        ReadReport report;
        Song song = score_detail::ReadWritten(std::move(file), why, report);
        if (!report.ok()) return Failed(error, report.Text());
        if (error != nullptr) error->clear();
        return song;
    });
}

}  // namespace

Song FromNotes(const std::vector<NoteInput>& notes, const SongPlan& plan, std::string* error) {
    return SongOfNotes(notes.data(), notes.size(), plan, error);
}

Song FromNotes(const Note* notes, size_t count, const SongPlan& plan, std::string* error) {
    return SongOfNotes(notes, count, plan, error);
}

}  // namespace score
MIDIFOLIO_END_NAMESPACE
