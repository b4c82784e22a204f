// The Song: what reading found, the event table, the editable sequence, and the song written
// back as a valid file.
#include <algorithm>
#include <cstring>

#include "midifolio/event_kinds.h"
#include "midifolio/midi_folio.h"
#include "platform/no_memory.h"
#include "score/song_data.h"
#include "score/track_reader.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace score {

namespace {

const score_detail::SongData& EmptyData() {
    static const score_detail::SongData empty = [] {
        score_detail::SongData d;
        d.bytes = std::make_shared<const std::vector<uint8_t>>();
        d.Finish({});
        return d;
    }();
    return empty;
}

// Walks every track, handing each event with its track to visit(track, event).
template <class Visit>
void ForEachEvent(const score_detail::SongData& d, Visit visit) {
    const uint8_t* base = d.bytes->data();
    for (size_t t = 0; t < d.spans.size(); ++t) {
        const score_detail::TrackSpan& s = d.spans[t];
        score_detail::WalkTrack(base + s.begin, base + s.end,
                                [&](const score_detail::RawEvent& ev) { visit(t, ev); });
    }
}

}  // namespace

Song::Song() : m_data(std::shared_ptr<const score_detail::SongData>(), &EmptyData()) {}

const std::vector<uint8_t>& Song::bytes() const {
    return *m_data->bytes;
}
int32_t Song::format() const {
    return m_data->format;
}
Division Song::division() const {
    return m_data->division;
}
const std::vector<TrackInfo>& Song::tracks() const {
    return m_data->tracks;
}
uint64_t Song::events() const {
    return m_data->events;
}
const ReadReport& Song::report() const {
    return m_data->report;
}

void Song::Events(EventRecord* out) const {
    const uint8_t* base = m_data->bytes->data();
    size_t lastTrack = SIZE_MAX;
    uint8_t port = 0;
    ForEachEvent(*m_data, [&](size_t t, const score_detail::RawEvent& ev) {
        if (t != lastTrack) port = 0, lastTrack = t;
        EventRecord& r = *out++;
        r.tick = ev.tick;
        r.seconds = 0;
        r.track = static_cast<uint16_t>(t);
        r.kind = static_cast<uint16_t>(smf::TypeCodeOfStatus(ev.status));
        r.channel = smf::IsChannelStatus(ev.status) ? (ev.status & 15) : 255;
        r.status = ev.status;
        const bool meta = ev.status == 0xFF;
        r.data1 = meta ? 0 : ev.data1;
        r.data2 = meta ? 0 : ev.data2;
        r.meta = meta ? ev.data1 : -1;
        if (meta && ev.data1 == META_PORT && ev.length >= 1) port = ev.payload[0];
        r.port = port;
        r.reserved = 0;
        r.length = ev.length;
        r.offset = ev.payload != nullptr ? static_cast<uint32_t>(ev.payload - base) : 0;
    });
}

std::vector<EventRecord> Song::Events() const {
    return platform_detail::OrEmptyWhenNoMemory([&] {
        std::vector<EventRecord> out(static_cast<size_t>(m_data->events));
        Events(out.data());
        return out;
    });
}

Sequence Song::ToSequence() const {
    return platform_detail::OrEmptyWhenNoMemory([&] {
        Sequence s;
        s.format = m_data->format;
        s.division = m_data->division;
        s.tracks.resize(m_data->spans.size());
        for (size_t t = 0; t < s.tracks.size(); ++t) s.tracks[t].reserve(m_data->tracks[t].events);
        ForEachEvent(*m_data, [&](size_t t, const score_detail::RawEvent& ev) {
            Event e{ev.tick,
                    0,
                    ev.length,
                    static_cast<uint8_t>(ev.status),
                    static_cast<uint8_t>(ev.data1),
                    static_cast<uint8_t>(ev.data2),
                    0};
            if (ev.payload != nullptr) {
                e.offset = static_cast<uint32_t>(s.payloads.size());
                s.payloads.insert(s.payloads.end(), ev.payload, ev.payload + ev.length);
            }
            s.tracks[t].push_back(e);
        });
        return s;
    });
}

bool Song::SavesAsRead() const {
    return m_data->canonical;
}

std::vector<uint8_t> Song::Save(std::string* error) const {
    try {
        if (SavesAsRead()) return *m_data->bytes;
        Sequence sequence = ToSequence();
        if (sequence.tracks.size() != m_data->spans.size())
            throw std::bad_alloc();  // ToSequence ran out
        // A file of format 0 holding several tracks is written as the format that holds them.
        if (sequence.format == 0 && sequence.tracks.size() > 1) sequence.format = 1;
        return Encode(sequence, error);
    } catch (const std::bad_alloc&) {
        if (error != nullptr) *error = "out of memory";
        return {};
    }
}

namespace {

uint64_t BigEndian32(const uint8_t* p) {
    return uint64_t{p[0]} << 24 | uint64_t{p[1]} << 16 | uint64_t{p[2]} << 8 | p[3];
}

// The header chunk and the track chunks of an SMF, unknown chunks left out; empty when there
// are none to leave out (the bytes can then be loaded as they are).
std::vector<uint8_t> TrackChunksOnly(const uint8_t* smf, uint64_t size) {
    std::vector<uint8_t> out;
    if (size < 8) return out;
    const uint64_t header = std::min(size, 8 + BigEndian32(smf + 4));
    bool unknown = false;
    for (uint64_t p = header; p + 8 <= size && !unknown; p += 8 + BigEndian32(smf + p + 4))
        unknown = std::memcmp(smf + p, "MTrk", 4) != 0;
    if (!unknown) return out;
    out.assign(smf, smf + header);
    for (uint64_t p = header; p + 8 <= size;) {
        const uint64_t next = std::min(size, p + 8 + BigEndian32(smf + p + 4));
        if (std::memcmp(smf + p, "MTrk", 4) == 0) out.insert(out.end(), smf + p, smf + next);
        p = next;
    }
    return out;
}

}  // namespace

int Song::BuildCore(CMidiFolio& core) const {
    const uint8_t* smf = m_data->bytes->data() + m_data->smfOffset;
    const uint64_t size = m_data->smfLength;
    bool noMemory = false;
    std::vector<uint8_t> tracks;
    platform_detail::OrWhenNoMemory([&] { tracks = TrackChunksOnly(smf, size); },
                                    [&] { noMemory = true; });
    // Out of memory before the loader could start: nothing loaded, the core as it was.
    if (noMemory) return 0;
    if (tracks.empty()) return core.LoadMidiBytes(smf, static_cast<size_t>(size));
    return core.LoadMidiBytes(tracks.data(), tracks.size());
}

Song Song::FromSequence(const Sequence& sequence, ReadReport& report) {
    std::string error;
    std::vector<uint8_t> bytes = Encode(sequence, &error);
    return score_detail::ReadWritten(std::move(bytes), error, report);
}

}  // namespace score

namespace score_detail {

score::Song ReadWritten(std::vector<uint8_t> bytes, const std::string& error,
                        score::ReadReport& report) {
    if (!error.empty()) {
        report = score::ReadReport{};
        report.status = score::ReadStatus::kUnsupported;
        report.message = "cannot be written";
        report.cause = error;
        return score::Song();
    }
    return ReadPairingLater(std::move(bytes), report);
}

}  // namespace score_detail
MIDIFOLIO_END_NAMESPACE
