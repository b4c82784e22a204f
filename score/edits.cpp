// The edits of a song, each a change of its editable sequence, written anew and read again.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

#include "midifolio/edit.h"
#include "midifolio/event_kinds.h"
#include "midifolio/names.h"
#include "platform/text.h"
#include "score/edit_support.h"
#include "score/song_data.h"
#include "track/note_pairing.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace score {

namespace {

using score_detail::EndAt;
using score_detail::Failed;
using score_detail::Finish;
using score_detail::Guarded;
using score_detail::SortByTick;
using score_detail::Track;
using score_detail::WholeSequence;

bool IsNoteOn(const Event& e) {
    return (e.status >> 4) == 0x9 && e.data2 != 0;
}
bool IsNoteEnd(const Event& e) {
    return (e.status >> 4) == 0x8 || ((e.status >> 4) == 0x9 && e.data2 == 0);
}
bool IsMeta(const Event& e, uint32_t type) {
    return e.status == 0xFF && e.data1 == type;
}

// Which end ends which note-on in a track, by the pairing rule of the notes: for each event
// the index of its partner, -1 for none.
std::vector<int64_t> Partners(const Track& track) {
    std::vector<int64_t> partner(track.size(), -1);
    track_detail::NotePairing pairing;
    for (size_t i = 0; i < track.size(); ++i) {
        const Event& e = track[i];
        if (IsNoteOn(e)) {
            pairing.OpenKey(e.status & 15, e.data1, static_cast<uint32_t>(i));
        } else if (IsNoteEnd(e)) {
            const int64_t on = pairing.CloseKey(e.status & 15, e.data1);
            if (on >= 0) {
                partner[static_cast<size_t>(on)] = static_cast<int64_t>(i);
                partner[i] = on;
            }
        }
    }
    return partner;
}

// The program in force on a channel at a tick: the last change at or before it, in any track
// (one track's in format 2), 0 without one.
class Programs {
  public:
    explicit Programs(const Sequence& s) : m_perTrack(s.format == 2) {
        for (size_t t = 0; t < s.tracks.size(); ++t)
            for (const Event& e : s.tracks[t])
                if ((e.status >> 4) == 0xC)
                    m_changes[{List(t), e.status & 15}].push_back({e.tick, e.data1});
        for (auto& entry : m_changes)
            std::stable_sort(entry.second.begin(), entry.second.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
    }
    uint8_t At(size_t track, int channel, int64_t tick) const {
        auto it = m_changes.find({List(track), channel});
        if (it == m_changes.end()) return 0;
        auto after = std::upper_bound(it->second.begin(), it->second.end(), tick,
                                      [](int64_t t, const auto& c) { return t < c.first; });
        return after == it->second.begin() ? 0 : (after - 1)->second;
    }

  private:
    size_t List(size_t track) const { return m_perTrack ? track : 0; }
    bool m_perTrack;
    std::map<std::pair<size_t, int>, std::vector<std::pair<int64_t, uint8_t>>> m_changes;
};

std::string NoteAt(const Event& e, size_t track) {
    return "note " + std::to_string(e.data1) + " (" + names::PitchName(e.data1) + ") of track " +
           std::to_string(track + 1) + " at tick " +
           platform_detail::Thousands(static_cast<uint64_t>(e.tick));
}

}  // namespace

Song Transpose(const Song& song, int semitones, bool drums, std::string* error) {
    if (semitones < -127 || semitones > 127)
        return Failed(error, "a transposition of " + std::to_string(semitones) +
                                 " semitones moves every note outside 0..127");
    return Guarded(error, [&]() -> Song {
        Sequence s = WholeSequence(song);
        for (size_t t = 0; t < s.tracks.size(); ++t) {
            for (Event& e : s.tracks[t]) {
                const int kind = e.status >> 4;
                if ((kind != 0x8 && kind != 0x9 && kind != 0xA) ||
                    (!drums && (e.status & 15) == PERCUSSION_CHANNEL))
                    continue;
                const int note = e.data1 + semitones;
                if (note < 0 || note > 127)
                    return Failed(error, NoteAt(e, t) + " would move to " + std::to_string(note) +
                                             ", outside 0..127");
                e.data1 = static_cast<uint8_t>(note);
            }
        }
        return Finish(s, error);
    });
}

namespace {

// Why a tempo scaled by the factor has no form in a file (a tempo event holds 1..16,777,215
// microseconds per quarter note); empty when it has one.
std::string TempoOutside(const std::string& what, uint32_t us, double factor) {
    const double scaled = std::round(us / factor);
    if (scaled >= 1 && scaled <= 0xFFFFFF) return std::string();
    char text[64];
    std::snprintf(text, sizeof text, "%g", factor);
    return what + " (" + platform_detail::Thousands(us) +
           " microseconds per quarter note) scaled by " + text + " would be " +
           (scaled < 1 ? "below 1 microsecond per quarter note"
                       : "above 16,777,215 microseconds per quarter note, the most a file states");
}

}  // namespace

Song ScaleTempo(const Song& song, double factor, std::string* error) {
    return Guarded(error, [&]() -> Song {
        if (!(factor > 0) || !std::isfinite(factor))
            return Failed(error, "the tempo factor must be a positive number");
        if (song.division().smpte())
            return Failed(error, "the ticks of a song in SMPTE time do not follow its tempo");
        Sequence s = WholeSequence(song);
        auto scaled = [factor](uint32_t us) { return std::round(us / factor); };
        const size_t conductors =
            s.format == 2 ? s.tracks.size() : std::min<size_t>(1, s.tracks.size());
        std::vector<bool> atZero(s.tracks.size(), false);
        for (size_t t = 0; t < s.tracks.size(); ++t) {
            for (Event& e : s.tracks[t]) {
                if (!IsMeta(e, META_TEMPO) || e.length < 3) continue;
                uint8_t* p = s.payloads.data() + e.offset;
                const uint32_t read = (p[0] << 16) | (p[1] << 8) | p[2];
                if (read == 0) continue;  // a tempo of 0, which the maps pass over, stays so
                const std::string outside =
                    TempoOutside("the tempo at tick " +
                                     platform_detail::Thousands(static_cast<uint64_t>(e.tick)) +
                                     " of track " + std::to_string(t + 1),
                                 read, factor);
                if (!outside.empty()) return Failed(error, outside);
                const uint32_t us = static_cast<uint32_t>(scaled(read));
                p[0] = static_cast<uint8_t>(us >> 16), p[1] = static_cast<uint8_t>(us >> 8),
                p[2] = static_cast<uint8_t>(us);
                if (e.tick == 0) atZero[s.format == 2 ? t : 0] = true;
            }
        }
        // The default tempo before the first tempo event is scaled too: it is stated at tick 0.
        for (size_t t = 0; t < conductors; ++t) {
            if (atZero[t]) continue;
            const std::string outside =
                TempoOutside("the default tempo of 120 bpm", smf::kDefaultUsPerQuarter, factor);
            if (!outside.empty()) return Failed(error, outside);
            const uint32_t us = static_cast<uint32_t>(scaled(smf::kDefaultUsPerQuarter));
            const uint32_t offset = static_cast<uint32_t>(s.payloads.size());
            s.payloads.insert(s.payloads.end(),
                              {static_cast<uint8_t>(us >> 16), static_cast<uint8_t>(us >> 8),
                               static_cast<uint8_t>(us)});
            s.tracks[t].insert(s.tracks[t].begin(),
                               Event{0, offset, 3, 0xFF, static_cast<uint8_t>(META_TEMPO), 0, 0});
        }
        return Finish(s, error);
    });
}

namespace {

// The meta events the song's time, meter and key maps are made of.
bool IsMapEvent(const Event& e) {
    return IsMeta(e, META_TEMPO) || IsMeta(e, META_TIME_SIGNATURE) || IsMeta(e, META_KEY_SIGNATURE);
}

// Whether the maps follow the event: those they pass over (a tempo of 0, a meter of 0 beats
// or of a denominator beyond 2^16, events too short to hold one) are not restated either.
bool MapsFollow(const Sequence& s, const Event& e) {
    const uint8_t* p = s.payloads.data() + e.offset;
    if (IsMeta(e, META_TEMPO)) return e.length >= 3 && (p[0] | p[1] | p[2]) != 0;
    if (IsMeta(e, META_TIME_SIGNATURE)) return e.length >= 2 && p[0] != 0 && p[1] <= 16;
    return e.length >= 2;
}

// For a song of one time line (formats 0 and 1: the maps take every track's events), the
// tempo, meter and key in force before tick `start`, each in the track that stated it: of
// several, the one the maps hold (the latest tick, then the later track, then file order).
// A kind with an event of its own at `start` is not restated: at tick 0 of the crop that
// event must hold, whichever track it is in.
std::vector<std::vector<Event>> SongWideState(const Sequence& s, int64_t start) {
    std::map<uint32_t, std::pair<size_t, Event>> last;  // meta type -> track, event
    std::set<uint32_t> atStart;
    for (size_t t = 0; t < s.tracks.size(); ++t)
        for (const Event& e : s.tracks[t]) {
            if (e.tick > start || !IsMapEvent(e) || !MapsFollow(s, e)) continue;
            if (e.tick == start) {
                atStart.insert(e.data1);
                continue;
            }
            auto it = last.find(e.data1);
            if (it == last.end() || e.tick >= it->second.second.tick) last[e.data1] = {t, e};
        }
    std::vector<std::vector<Event>> out(s.tracks.size());
    for (const auto& kind : last)
        if (!atStart.count(kind.first)) out[kind.second.first].push_back(kind.second.second);
    return out;
}

// What is in force at the start of a crop, per track: the last of each kind before it.
struct InForce {
    bool songWide = false;  // tempo, meter and key come from SongWideState instead
    std::map<std::pair<int, int>, Event> controls;  // channel, controller
    std::map<int, Event> programs, bends, pressures;
    std::map<uint32_t, Event> metas;  // tempo, meters, keys; names and instruments
    Track sysex;                      // the system-exclusive set-up, in order
    void Note(const Event& e) {
        switch (e.status >> 4) {
            case 0xB:
                if (e.data1 < 120) controls[{e.status & 15, e.data1}] = e;  // not the mode messages
                return;
            case 0xC:
                programs[e.status & 15] = e;
                return;
            case 0xD:
                pressures[e.status & 15] = e;
                return;
            case 0xE:
                bends[e.status & 15] = e;
                return;
            default:
                break;
        }
        static constexpr uint32_t kStated[] = {
            META_TEMPO,           META_TIME_SIGNATURE, META_KEY_SIGNATURE, META_TRACK_NAME,
            META_INSTRUMENT_NAME, META_COPYRIGHT,      META_PORT};
        if (e.status == 0xFF &&
            std::find(std::begin(kStated), std::end(kStated), e.data1) != std::end(kStated) &&
            !(songWide && IsMapEvent(e)))
            metas[e.data1] = e;
        if (e.status == 0xF0) sysex.push_back(e);
    }
    // At tick 0, metas first, then each channel's program, controllers, pressure and bend.
    void State(Track& out) const {
        for (const auto& m : metas) out.push_back(m.second);
        out.insert(out.end(), sysex.begin(), sysex.end());
        for (const auto& p : programs) out.push_back(p.second);
        for (const auto& c : controls) out.push_back(c.second);
        for (const auto& p : pressures) out.push_back(p.second);
        for (const auto& b : bends) out.push_back(b.second);
        for (Event& e : out) e.tick = 0;
    }
};

// Track t of s cropped. `shared`: the tempo, meter and key this track states for the whole
// song (songWide).
Track CropTrack(const Sequence& s, size_t t, int64_t start, int64_t end, bool songWide,
                const std::vector<Event>& shared) {
    const Track& in = s.tracks[t];
    const std::vector<int64_t> partner = Partners(in);
    std::vector<bool> kept(in.size(), false);
    InForce state;
    state.songWide = songWide;
    for (const Event& e : shared) state.metas[e.data1] = e;
    Track out;
    for (size_t i = 0; i < in.size(); ++i) {
        const Event& e = in[i];
        if (IsNoteOn(e)) {
            kept[i] = e.tick >= start && e.tick < end;
            if (kept[i]) out.push_back(e);
        } else if (IsNoteEnd(e)) {
            // The end of a kept note, cut at the end of the stretch.
            if (partner[i] >= 0 && kept[static_cast<size_t>(partner[i])]) {
                out.push_back(e);
                out.back().tick = std::min(e.tick, end);
            }
        } else if (e.tick < start) {
            if (!IsMapEvent(e) || MapsFollow(s, e)) state.Note(e);
        } else if (e.tick < end && !IsMeta(e, META_END_OF_TRACK)) {
            out.push_back(e);
        }
    }
    Track result;
    state.State(result);
    for (Event& e : out) e.tick -= start;
    SortByTick(out);
    result.insert(result.end(), out.begin(), out.end());
    return result;
}

}  // namespace

Song Crop(const Song& song, int64_t start, int64_t end, std::string* error) {
    return Guarded(error, [&]() -> Song {
        if (start < 0 || end <= start)
            return Failed(error, "a crop needs a start at or after 0 before its end");
        Sequence s = WholeSequence(song);
        // Format 2: every track its own time line, with its own tempo and meter.
        const bool songWide = s.format != 2;
        const std::vector<std::vector<Event>> shared =
            songWide ? SongWideState(s, start) : std::vector<std::vector<Event>>(s.tracks.size());
        std::vector<Track> cropped(s.tracks.size());
        for (size_t t = 0; t < s.tracks.size(); ++t)
            cropped[t] = CropTrack(s, t, start, end, songWide, shared[t]);
        // Each track lasts to the end of the stretch, or to its own end where that comes
        // first: a crop of two bars is two bars long, rests included, and a note nothing ends
        // lasts to where its track ended.
        for (size_t t = 0; t < s.tracks.size(); ++t) {
            const int64_t last = s.tracks[t].empty() ? 0 : s.tracks[t].back().tick;
            EndAt(cropped[t], std::max<int64_t>(0, std::min(end, last) - start));
        }
        s.tracks.swap(cropped);
        return Finish(s, error);
    });
}

Song Crop(const Song& song, double start, double end, CropUnit unit, std::string* error) {
    return Guarded(error, [&]() -> Song {
        if (!std::isfinite(start) || !std::isfinite(end))
            return Failed(error, "a crop needs finite times");
        double from = start, to = end;
        const Score score(song);
        if (unit == CropUnit::kSeconds) {
            from = score.time_map().ticks(start);
            to = score.time_map().ticks(end);
        } else if (unit == CropUnit::kBars) {
            if (start < 1 || end < start || end >= 2147483647.0 || start != std::floor(start) ||
                end != std::floor(end))
                return Failed(error,
                              "bars are whole numbers from 1, the last at or after the first");
            from = score.meter_map().bar_start(static_cast<int32_t>(start));
            to = score.meter_map().bar_start(static_cast<int32_t>(end) + 1);
        }
        if (!(from >= 0) || !(to > from) || to > 4.6e18)
            return Failed(error, "the crop is empty or outside the song");
        return Crop(song, static_cast<int64_t>(std::ceil(from - 1e-9)),
                    static_cast<int64_t>(std::ceil(to - 1e-9)), error);
    });
}

Song Select(const Song& song, const Selection& sel, std::string* error) {
    return Guarded(error, [&]() -> Song {
        Sequence s = WholeSequence(song);
        const Programs programs(s);
        auto in = [](const std::vector<int>& list, int v) {
            return list.empty() || std::find(list.begin(), list.end(), v) != list.end();
        };
        for (size_t t = 0; t < s.tracks.size(); ++t) {
            Track& track = s.tracks[t];
            const std::vector<int64_t> partner = Partners(track);
            std::vector<bool> keep(track.size(), true);
            for (size_t i = 0; i < track.size(); ++i) {
                const Event& e = track[i];
                if (e.status >= 0xF0) continue;  // meta and system events stay
                const int channel = e.status & 15;
                const bool drum = channel == PERCUSSION_CHANNEL;
                keep[i] = in(sel.tracks, static_cast<int>(t)) && in(sel.channels, channel) &&
                          (sel.drums < 0 || (sel.drums == 1) == drum);
                if (keep[i] && IsNoteOn(e) && !sel.programs.empty())
                    keep[i] = !drum && in(sel.programs, programs.At(t, channel, e.tick));
            }
            // A note's end goes with its start.
            for (size_t i = 0; i < track.size(); ++i)
                if (IsNoteEnd(track[i]) && partner[i] >= 0)
                    keep[i] = keep[static_cast<size_t>(partner[i])];
            Track out;
            for (size_t i = 0; i < track.size(); ++i)
                if (keep[i]) out.push_back(track[i]);
            track.swap(out);
        }
        return Finish(s, error);
    });
}

// The largest grid (2^60 ticks): a tick moved to it stays within a tick's range.
constexpr int64_t kMaxGrid = int64_t{1} << 60;

int64_t GridTicks(const std::string& value, int32_t tpq) {
    // "1/N", optionally dotted ("1/8.").
    if (tpq <= 0 || value.size() < 3 || value.compare(0, 2, "1/") != 0) {
        char* end = nullptr;
        errno = 0;
        const long long ticks = std::strtoll(value.c_str(), &end, 10);
        const bool whole = !value.empty() && end != nullptr && *end == '\0' && errno == 0;
        return whole && ticks > 0 && ticks <= kMaxGrid ? ticks : 0;
    }
    std::string d = value.substr(2);
    const bool dotted = !d.empty() && d.back() == '.';
    if (dotted) d.pop_back();
    char* end = nullptr;
    const long long n = std::strtoll(d.c_str(), &end, 10);
    if (d.empty() || end == nullptr || *end != '\0' || n <= 0 || n > 1024) return 0;
    const double ticks = 4.0 * tpq / static_cast<double>(n) * (dotted ? 1.5 : 1.0);
    return ticks >= 1 && std::fabs(ticks - std::round(ticks)) < 1e-9
               ? static_cast<int64_t>(std::round(ticks))
               : 0;
}

Song Quantize(const Song& song, int64_t grid, bool ends, std::string* error) {
    return Guarded(error, [&]() -> Song {
        if (grid <= 0 || grid > kMaxGrid) return Failed(error, "the grid must be 1 to 2^60 ticks");
        auto nearest = [grid](int64_t tick) { return (tick + grid / 2) / grid * grid; };
        Sequence s = WholeSequence(song);
        for (Track& track : s.tracks) {
            const std::vector<int64_t> partner = Partners(track);
            for (size_t i = 0; i < track.size(); ++i) {
                if (!IsNoteOn(track[i])) continue;
                const int64_t start = nearest(track[i].tick);
                if (partner[i] >= 0) {
                    Event& off = track[static_cast<size_t>(partner[i])];
                    const int64_t end = ends ? nearest(off.tick) : off.tick;
                    off.tick = end <= start ? start + grid : end;
                }
                track[i].tick = start;
            }
            SortByTick(track);
        }
        return Finish(s, error);
    });
}

Song Resample(const Song& song, int32_t tpq, std::string* error) {
    return Guarded(error, [&]() -> Song {
        if (tpq <= 0 || tpq > 32767)
            return Failed(error, "ticks per quarter note must be 1..32767");
        if (song.division().smpte())
            return Failed(error, "a song in SMPTE time has no ticks per quarter note");
        Sequence s = WholeSequence(song);
        const double scale = static_cast<double>(tpq) / s.division.ticks_per_quarter();
        for (Track& track : s.tracks)
            for (Event& e : track) {
                const double tick = std::floor(static_cast<double>(e.tick) * scale + 0.5);
                if (tick > 4.6e18)
                    return Failed(error, "a tick at the new resolution lies beyond 2^62");
                e.tick = static_cast<int64_t>(tick);
            }
        s.division.word = static_cast<uint16_t>(tpq);
        return Finish(s, error);
    });
}

}  // namespace score
MIDIFOLIO_END_NAMESPACE
