// Reading a Standard MIDI File as the standard defines it: the container (RIFF or none), the
// header, the chunks, and one pass over every track that gathers the maps and the notes.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "midifolio/event_kinds.h"
#include "platform/file_io.h"
#include "platform/page_memory.h"
#include "platform/size_text.h"
#include "platform/text.h"
#include "score/song_data.h"
#include "score/track_reader.h"
#include "track/note_pairing.h"
#include "track/smf_bytes.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace score_detail {

using score::ReadIssue;
using score::ReadOptions;
using score::ReadReport;
using score::ReadStatus;
using track_detail::NotePairing;

// Files beyond 4 GiB are not read (payload offsets are 32-bit).
constexpr uint64_t kMaxFile = uint64_t{1} << 32;

namespace {

// A note record per three bytes of track data at most (delta, two data bytes): the notes'
// memory is reserved at that bound, but only what is written is touched. Above this many
// bytes of records a pass counts the notes first instead.
constexpr uint64_t kMaxNoteReservation = uint64_t{1} << 30;
// Songs whose tracks hold more bytes are read all tracks at once (SongReader::TracksTogether)
// or, with more tracks than that reading takes, have their notes' places planned before the
// reading pass (SongReader::PlanNoteOrder).
constexpr uint64_t kPlanAboveBytes = uint64_t{3} << 20;
// Songs of up to this many tracks read them all at once (SongReader::TracksTogether).
constexpr size_t kTogetherTracks = 32;

uint32_t LittleEndian32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

std::string At(int track, uint64_t offset) {
    return (track >= 0 ? "track " + std::to_string(track + 1) + " at byte "
                       : std::string("at byte ")) +
           platform_detail::Thousands(offset);
}

std::string DamageText(Damage why) {
    switch (why) {
        case Damage::kEventCut:
            return "the track's data ends inside an event";
        case Damage::kNoStatus:
            return "a data byte stands where a status byte belongs (no running status is in force)";
        case Damage::kUndefinedStatus:
            return "an undefined status byte";
        case Damage::kLongNumber:
            return "a number longer than eight bytes, or a time beyond 2^62 ticks";
        default:
            return "";
    }
}

}  // namespace

// The steps of a reading, on the SongData being made.
struct SongReader {
    SongReader(std::shared_ptr<const std::vector<uint8_t>> bytes, const ReadOptions& options,
               ReadReport& report)
        : options(options), report(report), data(std::make_shared<SongData>()) {
        data->bytes = std::move(bytes);
        base = data->bytes->data();
    }

    // Every step; false when the song cannot be read (report says why).
    bool Read();
    static score::Song Make(std::shared_ptr<const SongData> data) {
        return score::Song(std::move(data));
    }

    bool Fail(ReadStatus status, const std::string& message, int64_t offset,
              const std::string& cause) {
        report.status = status;
        report.message = message;
        report.offset = offset;
        report.cause = cause;
        return false;
    }
    void Warn(int track, int64_t offset, const std::string& text) {
        report.warnings.push_back({track, offset, text});
    }
    bool Container();
    bool Header();
    bool Chunks();
    uint64_t DataBytes() const;
    uint64_t Need(uint64_t notes) const;
    bool FitsBudget();
    bool Tracks();
    void PlanNoteOrder();
    bool TracksTogether();
    void Forget();
    bool Track(size_t t, NotePairing& pairing);
    template <class Pass>
    bool EndTrack(size_t t, const WalkEnd& w, const Pass& pass);
    template <class Visit>
    WalkEnd Walk(size_t t, Visit&& visit) {
        const TrackSpan& s = data->spans[t];
        return WalkTrack(base + s.begin, base + s.end, visit);
    }

    const ReadOptions& options;
    ReadReport& report;
    std::shared_ptr<SongData> data;
    const uint8_t* base;
    uint64_t pos = 0;  // the next byte of the Standard MIDI File to read
    uint64_t end = 0;  // its end
    uint32_t declared = 0;
    bool canonical = true;
    std::vector<uint64_t> trackNotes;
    std::vector<uint32_t> dest;  // where each note goes (PlanNoteOrder), by note-on ordinal
    uint64_t ordinal = 0;        // note-ons read so far
    bool merged = false;         // the notes stand in the song's order already
};

bool SongReader::Container() {
    const uint64_t size = data->bytes->size();
    end = size;
    if (size >= kMaxFile)
        return Fail(
            ReadStatus::kUnsupported, "too large", -1,
            "files of 4 GiB or more are not read (" + platform_detail::Thousands(size) + " bytes)");
    if (size < 12 || std::memcmp(base, "RIFF", 4) != 0 || std::memcmp(base + 8, "RMID", 4) != 0)
        return true;
    // A RIFF MIDI file (.rmi): the Standard MIDI File is the "data" chunk.
    canonical = false;
    const uint64_t riffEnd = std::min<uint64_t>(size, 8 + uint64_t{LittleEndian32(base + 4)});
    for (uint64_t p = 12; p + 8 <= riffEnd;) {
        const uint64_t length = LittleEndian32(base + p + 4);
        if (std::memcmp(base + p, "data", 4) == 0) {
            pos = p + 8;
            end = std::min<uint64_t>(riffEnd, pos + length);
            if (pos + length > riffEnd)
                Warn(-1, static_cast<int64_t>(p),
                     "the RIFF data chunk claims more bytes than the file holds");
            return true;
        }
        p += 8 + length + (length & 1);  // chunks are padded to an even length
    }
    return Fail(ReadStatus::kNotMidi, "not a MIDI file", 0,
                "a RIFF MIDI file (RMID) without a \"data\" chunk");
}

bool SongReader::Header() {
    data->smfOffset = pos;
    const uint64_t have = end - pos;
    if (have < 4 || std::memcmp(base + pos, smf::kHeaderChunkId, 4) != 0) {
        if (have == 0) return Fail(ReadStatus::kNotMidi, "not a MIDI file", 0, "the file is empty");
        return Fail(
            ReadStatus::kNotMidi, "not a MIDI file", static_cast<int64_t>(pos),
            "the file starts with \"" +
                platform_detail::Printable(reinterpret_cast<const char*>(base + pos),
                                           static_cast<size_t>(std::min<uint64_t>(have, 4))) +
                "\", not with a MIDI header (\"MThd\")");
    }
    if (have < 14)
        return Fail(ReadStatus::kDamaged, "damaged", static_cast<int64_t>(end),
                    "the file ends inside its header (after " + std::to_string(have) + " bytes)");
    const uint32_t length = smf::ReadBigEndian(base + pos + 4, 4);
    if (length < smf::kHeaderChunkLength)
        return Fail(ReadStatus::kDamaged, "damaged", static_cast<int64_t>(pos + 4),
                    "the header chunk claims " + std::to_string(length) + " bytes, fewer than 6");
    const uint32_t format = smf::ReadBigEndian(base + pos + 8, 2);
    declared = smf::ReadBigEndian(base + pos + 10, 2);
    data->division.word = static_cast<uint16_t>(smf::ReadBigEndian(base + pos + 12, 2));
    if (format > 2)
        return Fail(ReadStatus::kUnsupported, "unsupported", static_cast<int64_t>(pos + 8),
                    "format " + std::to_string(format) + "; formats 0, 1 and 2 are read");
    data->format = static_cast<int32_t>(format);
    if (data->division.word == 0 ||
        (data->division.smpte() && data->division.ticks_per_frame() == 0))
        return Fail(ReadStatus::kUnsupported, "unsupported", static_cast<int64_t>(pos + 12),
                    "the division is 0: no tick has a length");
    if (length > smf::kHeaderChunkLength) {
        canonical = false;
        Warn(-1, static_cast<int64_t>(pos + 14),
             "the header chunk is " + std::to_string(length) + " bytes long: its last " +
                 std::to_string(length - 6) + " are passed over");
    }
    if (format == 0 && declared != 1) canonical = false;
    pos += 8 + uint64_t{length};
    if (pos > end)
        return Fail(ReadStatus::kDamaged, "damaged", static_cast<int64_t>(end),
                    "the file ends inside its header chunk");
    return true;
}

// The chunks after the header: the declared number of track chunks, anything else passed over.
bool SongReader::Chunks() {
    while (pos < end) {
        if (end - pos < 8) {
            canonical = false;
            Warn(-1, static_cast<int64_t>(pos),
                 std::to_string(end - pos) + " bytes after the last chunk are not read");
            break;
        }
        const uint8_t* id = base + pos;
        const uint64_t length = smf::ReadBigEndian(id + 4, 4);
        const uint64_t begin = pos + 8;
        const bool track = std::memcmp(id, smf::kTrackChunkId, 4) == 0;
        const std::string name = platform_detail::Printable(reinterpret_cast<const char*>(id), 4);
        if (track && data->spans.size() >= declared) {
            canonical = false;
            Warn(-1, static_cast<int64_t>(pos),
                 "more track chunks than the header declares (" + std::to_string(declared) +
                     "): the rest are not read");
            break;
        }
        if (!track) {
            canonical = false;
            Warn(-1, static_cast<int64_t>(pos),
                 "a chunk \"" + name + "\" of " + platform_detail::Thousands(length) +
                     " bytes is passed over");
        }
        if (length > end - begin) {
            if (!track) break;
            const std::string cause = At(static_cast<int>(data->spans.size()), pos + 4) +
                                      ": the chunk claims " + platform_detail::Thousands(length) +
                                      " bytes but " + platform_detail::Thousands(end - begin) +
                                      " remain";
            if (!options.recover)
                return Fail(ReadStatus::kDamaged, "damaged", static_cast<int64_t>(pos + 4), cause);
            report.dropped.push_back(
                {static_cast<int32_t>(data->spans.size()), static_cast<int64_t>(pos + 4), cause});
            canonical = false;
            data->spans.push_back({begin, end});
            pos = end;
            break;
        }
        if (track) data->spans.push_back({begin, begin + length});
        pos = begin + length;
    }
    if (data->spans.size() < declared) {
        const std::string cause = "the header declares " + platform_detail::Thousands(declared) +
                                  (declared == 1 ? " track" : " tracks") + " but the file holds " +
                                  platform_detail::Thousands(data->spans.size());
        if (!options.recover)
            return Fail(ReadStatus::kDamaged, "damaged", static_cast<int64_t>(end), cause);
        report.dropped.push_back({-1, static_cast<int64_t>(end), cause});
        canonical = false;
    }
    return true;
}

namespace {

// What the reading pass takes from each event of a track: the maps' events, the notes (paired
// as they come), and what makes the file differ from one as the writer writes it.
struct ReadPass {
    SongData& d;
    uint16_t track;
    std::vector<score::Note>* notes;  // null: the notes are not wanted
    NotePairing& pairing;
    const uint8_t* base;
    // Where each note goes in the song's order (NoteOrder), by note-on ordinal; null: the
    // notes are appended in the track's order and merged afterwards.
    const uint32_t* dest = nullptr;
    uint64_t* ordinal = nullptr;
    bool oddMeta = false;  // a meta event the writer writes anew
    uint64_t clamped = 0;
    int64_t firstClamp = -1;
    bool lastChannel = false;
    bool runningAfterOther = false;  // running status after an event that is not a channel message
    // A note came after a note of the same track and tick that it goes before (by channel and
    // pitch); only noted where the notes are appended (no dest).
    bool chordsToSort = false;

    // (Inlined into each reading loop: called for every event of the song.)
    __attribute__((always_inline)) void operator()(const RawEvent& ev) {
        if (ev.status < 0xF0) {
            if (ev.running && !lastChannel) runningAfterOther = true;
            lastChannel = true;
            Channel(ev);
        } else {
            lastChannel = false;
            if (ev.status == 0xFF) Meta(ev);
        }
        if (ev.clamped && clamped++ == 0) firstClamp = ev.at - base;
    }

    __attribute__((always_inline)) void Channel(const RawEvent& ev) {
        const uint8_t channel = ev.status & 15;
        switch (ev.status >> 4) {
            case 0x9:
                if (ev.data2 != 0) {
                    if (notes != nullptr) Open(ev, channel);
                    break;
                }
                [[fallthrough]];
            case 0x8:
                if (notes != nullptr) {
                    const int64_t on = pairing.CloseKey(channel, ev.data1);
                    if (on >= 0) (*notes)[static_cast<size_t>(on)].end_tick = ev.tick;
                }
                break;
            case 0xB:
                if (ev.data1 == 0 || ev.data1 == 32)
                    d.banks.push_back(
                        {ev.tick, track, uint32_t{channel} << 16 | ev.data1 << 8 | ev.data2});
                else if (ev.data1 == CONTROL_SUSTAIN_PEDAL)
                    d.pedals.push_back({ev.tick, track, uint32_t{channel} << 8 | ev.data2});
                break;
            case 0xC:
                d.programs.push_back({ev.tick, track, uint32_t{channel} << 8 | ev.data1});
                break;
            default:
                break;
        }
    }

    __attribute__((always_inline)) void Open(const RawEvent& ev, uint8_t channel) {
        const uint32_t at =
            dest != nullptr ? dest[(*ordinal)++] : static_cast<uint32_t>(notes->size());
        if (dest == nullptr && at != 0) {
            const score::Note& before = notes->back();
            chordsToSort =
                chordsToSort ||
                (before.start_tick == ev.tick && before.track == track &&
                 (channel != before.channel ? channel < before.channel : ev.data1 < before.pitch));
        }
        pairing.OpenKey(channel, ev.data1, at);
        score::Note& n = dest != nullptr ? (*notes)[at] : notes->emplace_back();
        n.track = track;
        n.channel = channel;
        n.program = 0;
        n.pitch = ev.data1;
        n.velocity = ev.data2;
        n.reserved[0] = n.reserved[1] = 0;
        n.start_tick = ev.tick;
        n.end_tick = -1;  // not ended yet
        n.start = n.end = 0;
    }

    // A meta event of a type the standard gives a size, of another size (or a key signature
    // beyond -7..7 or of a mode other than 0 and 1): the writer writes it anew.
    bool OddMeta(const RawEvent& ev) const {
        const smf::MetaInfo* info = smf::MetaInfoOf(ev.data1);
        if (info == nullptr || info->standardLength == 0) return false;
        if (ev.data1 == META_SEQUENCE_NUMBER && ev.length == 0) return false;
        if (ev.length != info->standardLength) return true;
        return ev.data1 == META_KEY_SIGNATURE &&
               (static_cast<int8_t>(ev.payload[0]) < -7 || static_cast<int8_t>(ev.payload[0]) > 7 ||
                ev.payload[1] > 1);
    }

    void Meta(const RawEvent& ev) {
        oddMeta = oddMeta || OddMeta(ev);
        const uint8_t* p = ev.payload;
        switch (ev.data1) {
            case META_TEMPO:
                if (ev.length >= 3) d.tempos.push_back({ev.tick, track, smf::ReadBigEndian(p, 3)});
                break;
            case META_TIME_SIGNATURE:
                if (ev.length >= 2)
                    d.meters.push_back({ev.tick, track, p[0] | uint32_t{p[1]} << 8});
                break;
            case META_KEY_SIGNATURE:
                if (ev.length >= 2)
                    d.keys.push_back({ev.tick, track, p[0] | uint32_t{p[1] != 0} << 8});
                break;
            default:
                break;
        }
    }
};

// Sorts the notes of one start tick, stably: a chord of a few notes by insertion, without
// the buffer std::stable_sort takes at every call.
template <class T, class Less>
void SortChord(T* first, T* last, Less less) {
    if (last - first > 16) {
        std::stable_sort(first, last, less);
        return;
    }
    for (T* k = first + 1; k < last; ++k) {
        if (!less(*k, k[-1])) continue;
        const T item = *k;
        T* j = k;
        do {
            *j = j[-1];
            --j;
        } while (j != first && less(item, j[-1]));
        *j = item;
    }
}

bool ByChannelAndPitch(const score::Note& a, const score::Note& b) {
    return a.channel != b.channel ? a.channel < b.channel : a.pitch < b.pitch;
}

// Notes in order but for the chords of each track, [first, last): the notes of one track and
// start tick go by channel and pitch (notes equal in both keep their order).
void SortChords(score::Note* first, score::Note* last) {
    for (score::Note* a = first; a != last;) {
        score::Note* b = a + 1;
        while (b != last && b->start_tick == a->start_tick && b->track == a->track) ++b;
        if (b - a > 1) SortChord(a, b, ByChannelAndPitch);
        a = b;
    }
}

// A track's notes as the pass left them (by start tick, as the note-ons came): a note no end
// ended lasts to the track's last event, and the notes of one start tick go by channel and
// pitch (notes equal in both keep their order) when the pass met a chord out of that order.
void FinishTrackNotes(score::Note* first, score::Note* last, int64_t endTick, bool chordsToSort) {
    for (score::Note* n = first; n != last; ++n)
        if (n->end_tick < n->start_tick) n->end_tick = std::max(endTick, n->start_tick);
    if (chordsToSort) SortChords(first, last);
}

}  // namespace

uint64_t SongReader::DataBytes() const {
    uint64_t bytes = 0;
    for (const TrackSpan& s : data->spans) bytes += s.end - s.begin;
    return bytes;
}

// The memory a reading takes, about, for a song of so many notes.
uint64_t SongReader::Need(uint64_t notes) const {
    return data->bytes->size() + notes * (sizeof(score::Note) + sizeof(uint32_t)) + DataBytes() / 4;
}

bool SongReader::FitsBudget() {
    const uint64_t dataBytes = DataBytes();
    uint64_t bound = options.notes ? dataBytes / 3 + 1 : 0;
    if (options.notes && (bound * sizeof(score::Note) > kMaxNoteReservation ||
                          (options.max_memory != 0 && Need(bound) > options.max_memory))) {
        // Count the note-ons instead of taking the bound.
        uint64_t ons = 0;
        for (size_t t = 0; t < data->spans.size(); ++t)
            Walk(t,
                 [&ons](const RawEvent& ev) { ons += (ev.status >> 4) == 0x9 && ev.data2 != 0; });
        bound = ons;
    }
    if (options.max_memory != 0 && Need(bound) > options.max_memory)
        return Fail(ReadStatus::kTooLarge, "too large", -1,
                    "reading it would take about " + platform_detail::SizeText(Need(bound)) +
                        ", more than the memory budget of " +
                        platform_detail::SizeText(options.max_memory));
    if (options.notes) {
        data->notes.reserve(static_cast<size_t>(bound));
        platform_detail::AdviseHugePages(data->notes);
    }
    return true;
}

// The song's notes go by start tick, then track, then channel and pitch, then file order.
// When several tracks hold notes, a first walk over the note-ons finds where each note goes,
// so that the reading pass writes every note in its place. (Merging the tracks' notes after
// the pass moves each note along the cycles of a permutation: on a large song, one cache
// miss waiting for another, several times the reading itself.)
void SongReader::PlanNoteOrder() {
    struct On {
        int64_t tick;
        uint32_t key;      // channel and pitch
        uint32_t ordinal;  // of the note-on in the song, tracks one after another
    };
    std::vector<On> ons;
    ons.reserve(data->notes.capacity());
    platform_detail::AdviseHugePages(ons);
    std::vector<uint64_t> runs;
    size_t live = 0;
    for (size_t t = 0; t < data->spans.size(); ++t) {
        const size_t first = ons.size();
        Walk(t, [&ons](const RawEvent& ev) {
            if ((ev.status >> 4) == 0x9 && ev.data2 != 0)
                ons.push_back({ev.tick, uint32_t{ev.status & 15u} << 8 | ev.data1,
                               static_cast<uint32_t>(ons.size())});
        });
        // Within the track, the notes of one start tick by channel and pitch (stable).
        for (size_t a = first; a < ons.size();) {
            size_t b = a + 1;
            while (b < ons.size() && ons[b].tick == ons[a].tick) ++b;
            SortChord(ons.data() + a, ons.data() + b,
                      [](const On& x, const On& y) { return x.key < y.key; });
            a = b;
        }
        runs.push_back(ons.size() - first);
        live += ons.size() != first;
    }
    if (live <= 1) return;  // one track's notes, in its order already
    const std::vector<uint32_t> order =
        MergeOrder(runs, [&ons](uint64_t k) { return ons[static_cast<size_t>(k)].tick; });
    dest.reserve(ons.size());
    platform_detail::AdviseHugePages(dest);
    dest.resize(ons.size());
    for (size_t i = 0; i < order.size(); ++i)
        dest[ons[order[i]].ordinal] = static_cast<uint32_t>(i);
    ons = std::vector<On>();
    data->notes.resize(dest.size());
}

// What the walk of track t found (w, and what `pass` noted), reported and recorded; false
// when the song cannot be read.
template <class Pass>
bool SongReader::EndTrack(size_t t, const WalkEnd& w, const Pass& pass) {
    TrackSpan& span = data->spans[t];
    const int track = static_cast<int>(t);
    const uint64_t stop = static_cast<uint64_t>(w.stop - base);
    if (w.damage != Damage::kNone) {
        const std::string cause = At(track, stop) + ": " + DamageText(w.damage);
        if (!options.recover)
            return Fail(ReadStatus::kDamaged, "damaged", static_cast<int64_t>(stop), cause);
        report.dropped.push_back({track, static_cast<int64_t>(stop),
                                  cause + "; the " + platform_detail::Thousands(span.end - stop) +
                                      " bytes from there on are left out"});
        canonical = false;
    } else if (!w.ended) {
        canonical = false;
        Warn(track, static_cast<int64_t>(stop),
             "track " + std::to_string(t + 1) + " has no end-of-track event");
    } else if (stop < span.end) {
        canonical = false;
        Warn(track, static_cast<int64_t>(stop),
             At(track, stop) + ": " + platform_detail::Thousands(span.end - stop) +
                 " bytes after the end-of-track event are not read");
    }
    if (pass.clamped != 0) {
        canonical = false;
        Warn(track, pass.firstClamp,
             At(track, static_cast<uint64_t>(pass.firstClamp)) + ": " +
                 platform_detail::Thousands(pass.clamped) +
                 (pass.clamped == 1 ? " message has" : " messages have") +
                 " a data byte above 127, read as 127");
    }
    if (pass.runningAfterOther || w.longDelta || pass.oddMeta) canonical = false;
    score::TrackInfo info;
    info.offset = span.begin;
    info.length = stop - span.begin;
    info.events = w.events;
    info.end_tick = w.tick;
    info.ended = w.ended;
    data->tracks.push_back(info);
    data->events += w.events;
    data->endTick = std::max(data->endTick, w.tick);
    span.end = stop;  // later walks read the same events and stop cleanly
    return true;
}

bool SongReader::Track(size_t t, NotePairing& pairing) {
    std::vector<score::Note>* notes = options.notes ? &data->notes : nullptr;
    const size_t firstNote = data->notes.size();
    const uint64_t firstOrdinal = ordinal;
    pairing.Reset();
    ReadPass pass{*data, static_cast<uint16_t>(t), notes, pairing, base};
    if (!dest.empty()) {
        pass.dest = dest.data();
        pass.ordinal = &ordinal;
    }
    const WalkEnd w = Walk(t, pass);
    if (!EndTrack(t, w, pass)) return false;
    if (notes != nullptr && dest.empty()) {
        FinishTrackNotes(data->notes.data() + firstNote, data->notes.data() + data->notes.size(),
                         w.tick, pass.chordsToSort);
        trackNotes.push_back(data->notes.size() - firstNote);
    } else if (notes != nullptr) {
        // In their places already: a note no end ended lasts to the track's last event.
        pairing.ForEachOpen([&](uint32_t at) {
            score::Note& n = data->notes[at];
            n.end_tick = std::max(w.tick, n.start_tick);
        });
        trackNotes.push_back(ordinal - firstOrdinal);
    }
    return true;
}

// Every track read at once, tick by tick: at each tick, track by track, the events of that
// tick. The notes then come in the song's order as they are read (but for the chords of a
// track, sorted by channel and pitch afterwards), written one after another: no planning
// walk, no merge, no note moved across the song. False when a track is damaged (nothing of
// the tracks is recorded then but the notes and the maps' events, see Forget).
namespace {

struct Lane {
    TrackCursor cursor;
    ReadPass pass;
    RawEvent ev;  // the next event, when `has`
    WalkEnd end;
    bool has;
};

// The lane's events of `tick`, its next event first. The cursor's position is kept in
// locals: stores of the notes' byte fields may alias anything in memory, so that the lane's
// own cursor would be read again after every note. (Copying the whole cursor or event in and
// out instead made loads wait on stores of other sizes: 80 -> 118 ms for the 20 MB song.)
void ReadTick(Lane& lane, int64_t tick) {
    RawEvent& ev = lane.ev;
    const uint8_t* p;
    const uint8_t* end;
    int64_t at;
    uint32_t running;
    lane.cursor.Get(p, end, at, running);
    uint64_t events = 0;
    for (;;) {
        lane.pass(static_cast<const RawEvent&>(ev));
        ++events;
        if (!TrackCursor::Channel(p, end, at, running, ev)) {
            lane.cursor.Set(p, at, running);
            lane.has = lane.cursor.NextAny(ev);
            lane.cursor.Get(p, end, at, running);
            if (!lane.has) break;
        }
        if (ev.tick != tick) break;
    }
    lane.cursor.Set(p, at, running);
    lane.end.tick = tick;
    lane.end.events += events;
}

}  // namespace

bool SongReader::TracksTogether() {
    const size_t n = data->spans.size();
    std::vector<NotePairing> pairings(n);
    std::vector<Lane> lanes;
    lanes.reserve(n);
    std::vector<uint32_t> live;  // the tracks with events left, in order
    int64_t tick = INT64_MAX;
    for (size_t t = 0; t < n; ++t) {
        const TrackSpan& s = data->spans[t];
        lanes.push_back({TrackCursor(base + s.begin, base + s.end),
                         ReadPass{*data, static_cast<uint16_t>(t), &data->notes, pairings[t], base},
                         RawEvent{}, WalkEnd{}, false});
        Lane& lane = lanes.back();
        lane.has = lane.cursor.Next(lane.ev);
        if (!lane.has) continue;
        live.push_back(static_cast<uint32_t>(t));
        tick = std::min(tick, lane.ev.tick);
    }
    while (!live.empty()) {
        int64_t following = INT64_MAX;
        bool ended = false;
        for (uint32_t t : live) {
            Lane& lane = lanes[t];
            if (lane.ev.tick == tick) {
                ReadTick(lane, tick);
                ended = ended || !lane.has;
            }
            if (lane.has) following = std::min(following, lane.ev.tick);
        }
        if (ended)
            live.erase(std::remove_if(live.begin(), live.end(),
                                      [&lanes](uint32_t t) { return !lanes[t].has; }),
                       live.end());
        tick = following;
    }
    for (const Lane& lane : lanes)
        if (lane.cursor.damage() != Damage::kNone) return false;
    bool chordsToSort = false;
    for (size_t t = 0; t < n; ++t) {
        Lane& lane = lanes[t];
        chordsToSort = chordsToSort || lane.pass.chordsToSort;
        lane.end.stop = lane.cursor.stop();
        lane.end.ended = lane.cursor.ended();
        lane.end.longDelta = lane.cursor.longDelta();
        EndTrack(t, lane.end, lane.pass);  // (fails on damage only)
        pairings[t].ForEachOpen([&](uint32_t at) {
            score::Note& note = data->notes[at];
            note.end_tick = std::max(lane.end.tick, note.start_tick);
        });
    }
    if (chordsToSort) SortChords(data->notes.data(), data->notes.data() + data->notes.size());
    merged = true;
    return true;
}

// Drops what a reading pass gathered, for another.
void SongReader::Forget() {
    data->notes.clear();
    for (std::vector<MapEvent>* list :
         {&data->tempos, &data->meters, &data->keys, &data->programs, &data->banks, &data->pedals})
        list->clear();
}

bool SongReader::Tracks() {
    // Reading the tracks together, or planning, pays on large songs only: below a few
    // megabytes of tracks the notes fit in the caches, and merging them after the pass is
    // faster (a 1.7 MB song of a tempo track and a note track: 6.4 ms track by track, 8.1
    // together; the real files: 14.9 ms against 19.4). A 4 MB song of 16 tracks: 41 ms
    // planned, 21 together.
    const size_t tracks = data->spans.size();
    const bool large = options.notes && tracks > 1 && DataBytes() > kPlanAboveBytes;
    bool read = false;
    if (large && tracks <= kTogetherTracks) {
        read = TracksTogether();
        // A damaged track: read again track by track, which reports the first one as such.
        if (!read) Forget();
    } else if (large) {
        PlanNoteOrder();
    }
    NotePairing pairing;
    for (size_t t = 0; t < data->spans.size() && !read; ++t)
        if (!Track(t, pairing)) return false;
    if (data->format == 0 && data->spans.size() != 1) {
        canonical = false;
        Warn(-1, -1,
             "format 0 holds one track, but this file holds " + std::to_string(data->spans.size()));
    }
    return true;
}

bool SongReader::Read() {
    if (!Container() || !Header() || !Chunks() || !FitsBudget() || !Tracks()) return false;
    data->smfLength = end - data->smfOffset;
    data->canonical = canonical && data->smfOffset == 0 && end == data->bytes->size();
    data->notesRead = options.notes;
    data->report = report;
    merged = merged || !dest.empty();
    dest = std::vector<uint32_t>();  // (not needed from here on: less memory at the peak)
    data->Finish(trackNotes, merged);
    return true;
}

}  // namespace score_detail

namespace score {

namespace {

// (`pairLater`: the notes are left out and paired on first use, see SongData::Notes.)
Song ReadShared(std::shared_ptr<const std::vector<uint8_t>> bytes, const ReadOptions& options,
                ReadReport& report, bool pairLater = false) {
    report = ReadReport{};
    try {
        score_detail::SongReader reader(std::move(bytes), options, report);
        if (!reader.Read()) return Song();
        if (pairLater) reader.data->later = std::make_unique<std::once_flag>();
        return score_detail::SongReader::Make(reader.data);
    } catch (const std::bad_alloc&) {
        report.status = ReadStatus::kNoMemory;
        report.message = "out of memory";
        report.cause = "no memory left to read the song";
    }
    return Song();
}

Song ReadBytes(std::vector<uint8_t> bytes, const ReadOptions& options, ReadReport& report,
               bool pairLater) {
    std::shared_ptr<const std::vector<uint8_t>> shared;
    try {
        shared = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
    } catch (const std::bad_alloc&) {
        report = ReadReport{};
        report.status = ReadStatus::kNoMemory;
        report.message = "out of memory";
        report.cause = "no memory left to read the song";
        return Song();
    }
    return ReadShared(std::move(shared), options, report, pairLater);
}

}  // namespace

Song Song::FromBytes(std::vector<uint8_t> bytes, const ReadOptions& options, ReadReport& report) {
    return ReadBytes(std::move(bytes), options, report, false);
}

Song Song::Load(const std::string& path, const ReadOptions& options, ReadReport& report) {
    report = ReadReport{};
    platform_detail::FileReader file;
    auto cannot = [&](int err, const std::string& text) {
        report.status = ReadStatus::kCannotOpen;
        report.error = err;
        report.message = text;
        report.cause = text;
        return Song();
    };
    if (!file.Open(path)) return cannot(file.Error(), file.ErrorText());
    // The file's size when it has one; a pipe is read as its bytes arrive, bounded by the
    // budget (and by the largest file this reader takes).
    uint64_t size = 0;
    const uint64_t limit = options.max_memory != 0
                               ? std::min(options.max_memory, score_detail::kMaxFile)
                               : score_detail::kMaxFile;
    if (file.Remaining(size) && size > limit) {
        report.status =
            size >= score_detail::kMaxFile ? ReadStatus::kUnsupported : ReadStatus::kTooLarge;
        report.message = "too large";
        report.cause =
            "the file holds " + platform_detail::Thousands(size) + " bytes, more than " +
            (size >= score_detail::kMaxFile ? std::string("4 GiB") : "the memory budget allows");
        return Song();
    }
    std::vector<uint8_t> bytes;
    try {
        if (!file.ReadAll(bytes, limit, options.progress)) {
            if (file.Failed()) return cannot(file.Error(), file.ErrorText());
            report.status = ReadStatus::kTooLarge;
            report.message = "too large";
            report.cause = "the input holds more than " + platform_detail::Thousands(limit) +
                           " bytes, more than the memory budget allows";
            return Song();
        }
    } catch (const std::bad_alloc&) {
        report.status = ReadStatus::kNoMemory;
        report.message = "out of memory";
        report.cause = "no memory left to read the file";
        return Song();
    }
    return FromBytes(std::move(bytes), options, report);
}

}  // namespace score

namespace score_detail {

score::Song ReadPairingLater(std::vector<uint8_t> bytes, score::ReadReport& report) {
    score::ReadOptions options;
    options.notes = false;
    return score::ReadBytes(std::move(bytes), options, report, true);
}

const std::vector<score::Note>& SongData::Notes() const {
    if (later) {
        std::call_once(*later, [this] {
            // The same bytes read again, with their notes (none when memory runs out).
            try {
                score::ReadReport report;
                const score::ReadOptions options;  // (the reader keeps a reference)
                SongReader reader(bytes, options, report);
                if (reader.Read()) notes = std::move(reader.data->notes);
            } catch (const std::bad_alloc&) {
                notes = std::vector<score::Note>();
            }
        });
    }
    return notes;
}

}  // namespace score_detail
MIDIFOLIO_END_NAMESPACE
