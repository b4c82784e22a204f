#include "song_checks.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <map>
#include <tuple>
#include <utility>

#include "fuzz_support.h"
#include "midifolio/event_kinds.h"
#include "midifolio/midi_event.h"

namespace fuzzsupport {

using namespace midifolio;
using sc::EventRecord;
using sc::ReadIssue;
using sc::ReadOptions;
using sc::ReadReport;
using sc::ReadStatus;
using sc::Score;
using sc::Song;
using sc::TrackInfo;

bool Quiet(const ReadReport& report) {
    return report.ok() && report.warnings.empty() && report.dropped.empty();
}

namespace {

bool IsPayloadStatus(uint8_t status) {
    return status == 0xF0 || status == 0xF7 || status == 0xFF;
}
bool SoundingOn(const EventRecord& r) {
    return (r.status >> 4) == 0x9 && r.data2 != 0;
}
bool NoteEnd(const EventRecord& r) {
    return (r.status >> 4) == 0x8 || ((r.status >> 4) == 0x9 && r.data2 == 0);
}

void CheckIssues(const std::vector<ReadIssue>& issues, size_t inputSize, size_t tracks) {
    for (const ReadIssue& i : issues) {
        FUZZ_CHECK(!i.text.empty());
        FUZZ_CHECK(i.track >= -1 && (tracks == SIZE_MAX || i.track < static_cast<int64_t>(tracks)));
        FUZZ_CHECK(i.offset >= -1 && i.offset <= static_cast<int64_t>(inputSize));
    }
}

bool SameIssues(const std::vector<ReadIssue>& a, const std::vector<ReadIssue>& b) {
    if (a.size() != b.size()) return false;
    for (size_t k = 0; k < a.size(); ++k)
        if (a[k].track != b[k].track || a[k].offset != b[k].offset || a[k].text != b[k].text)
            return false;
    return true;
}

}  // namespace

void CheckRead(const std::vector<uint8_t>& input, const ReadOptions& options, const Song& song,
               const ReadReport& report) {
    FUZZ_CHECK(report.ok() == (report.status == ReadStatus::kOk));
    FUZZ_CHECK(report.status != ReadStatus::kCannotOpen && report.status != ReadStatus::kNoMemory);
    FUZZ_CHECK(report.offset >= -1 && report.offset <= static_cast<int64_t>(input.size()));
    if (!options.recover) FUZZ_CHECK(report.dropped.empty());
    if (!report.ok()) {
        // No song came back: the empty one.
        FUZZ_CHECK(!report.message.empty() && !report.Text().empty());
        FUZZ_CHECK(report.status != ReadStatus::kTooLarge || options.max_memory != 0);
        FUZZ_CHECK(song.bytes().empty() && song.tracks().empty() && song.events() == 0);
        CheckIssues(report.warnings, input.size(), SIZE_MAX);
        CheckIssues(report.dropped, input.size(), SIZE_MAX);
        return;
    }
    FUZZ_CHECK(report.message.empty() && report.cause.empty() && report.Text().empty());
    FUZZ_CHECK(song.bytes() == input);
    FUZZ_CHECK(song.format() >= 0 && song.format() <= 2);
    FUZZ_CHECK(song.division().word != 0);
    FUZZ_CHECK(song.tracks().size() <= 65535);
    CheckIssues(report.warnings, input.size(), song.tracks().size());
    CheckIssues(report.dropped, input.size(), song.tracks().size());
    // The song keeps what its reading reported.
    FUZZ_CHECK(song.report().ok());
    FUZZ_CHECK(SameIssues(song.report().warnings, report.warnings));
    FUZZ_CHECK(SameIssues(song.report().dropped, report.dropped));
}

Song ReadChecked(const std::vector<uint8_t>& bytes, const ReadOptions& options,
                 ReadReport& report) {
    Song song = Song::FromBytes(bytes, options, report);
    CheckRead(bytes, options, song, report);
    return song;
}

// ------------------------------------------------------------------ our own note pairing

std::vector<PairedNote> PairNotes(const std::vector<EventRecord>& events,
                                  const std::vector<TrackInfo>& tracks) {
    std::vector<PairedNote> notes;
    std::map<int, std::deque<size_t>> open;  // channel << 7 | pitch: open notes, oldest first
    size_t track = SIZE_MAX;
    auto closeTrack = [&] {
        for (auto& entry : open)
            for (size_t n : entry.second)
                notes[n].end = std::max(tracks[track].end_tick, notes[n].start);
        open.clear();
    };
    for (size_t i = 0; i < events.size(); ++i) {
        const EventRecord& r = events[i];
        if (r.track != track) {
            if (track != SIZE_MAX) closeTrack();
            track = r.track;
        }
        const int key = (r.status & 15) << 7 | r.data1;
        if (SoundingOn(r)) {
            open[key].push_back(notes.size());
            notes.push_back({r.track, static_cast<uint8_t>(r.status & 15), r.data1, r.data2, r.tick,
                             -1, false, i});
        } else if (NoteEnd(r)) {
            auto it = open.find(key);
            if (it != open.end() && !it->second.empty()) {
                notes[it->second.front()].end = r.tick;
                notes[it->second.front()].ended = true;
                it->second.pop_front();
            }
        }
    }
    if (track != SIZE_MAX) closeTrack();
    std::sort(notes.begin(), notes.end(), [](const PairedNote& a, const PairedNote& b) {
        return std::tie(a.start, a.track, a.channel, a.pitch, a.onIndex) <
               std::tie(b.start, b.track, b.channel, b.pitch, b.onIndex);
    });
    return notes;
}

// ------------------------------------------------------------------ the writer's model

namespace {

// The payload the writer gives a meta event (score/encoder.cpp): the size the standard gives
// its type, a longer one cut, a time signature of two or three bytes completed, a key
// signature kept within -7..7 and modes 0 and 1; false for one too short, which is left out.
bool WrittenMeta(uint8_t type, const uint8_t* p, uint32_t n, std::vector<uint8_t>& out) {
    const smf::MetaInfo* info = smf::MetaInfoOf(type);
    const uint32_t size = info != nullptr ? info->standardLength : 0;
    out.assign(p, p + n);
    if (size == 0 || (type == META_SEQUENCE_NUMBER && n == 0)) return true;
    if (type == META_TIME_SIGNATURE && n >= 2 && n < 4) {
        static const uint8_t kDefaults[4] = {4, 2, 24, 8};
        out.insert(out.end(), kDefaults + n, kDefaults + 4);
        return true;
    }
    if (n < size) return false;
    out.resize(size);
    if (type == META_KEY_SIGNATURE) {
        out[0] = static_cast<uint8_t>(std::clamp<int>(static_cast<int8_t>(out[0]), -7, 7));
        out[1] = out[1] != 0 ? 1 : 0;
    }
    return true;
}

ModelEvent EventOf(const Song& song, const EventRecord& r) {
    ModelEvent e{
        r.tick, r.status, r.status == 0xFF ? static_cast<uint8_t>(r.meta) : r.data1, r.data2, {}};
    if (IsPayloadStatus(r.status))
        e.payload.assign(song.bytes().begin() + r.offset,
                         song.bytes().begin() + r.offset + r.length);
    return e;
}

}  // namespace

std::vector<std::vector<ModelEvent>> EventsOf(const Song& song) {
    std::vector<std::vector<ModelEvent>> tracks(song.tracks().size());
    for (const EventRecord& r : song.Events())
        if (!IsMeta(r, META_END_OF_TRACK)) tracks[r.track].push_back(EventOf(song, r));
    return tracks;
}

WriterModel ModelSave(const Song& song) {
    WriterModel m;
    m.format = song.format() == 0 && song.tracks().size() > 1 ? 1 : song.format();
    m.tracks.resize(song.tracks().size());
    m.ends.assign(song.tracks().size(), 0);
    const std::vector<EventRecord> events = song.Events();
    std::vector<int64_t> previous(song.tracks().size(), 0);
    for (const EventRecord& r : events) {
        int64_t& end = m.ends[r.track];
        end = std::max(end, r.tick);
        if (IsMeta(r, META_END_OF_TRACK)) continue;
        ModelEvent e = EventOf(song, r);
        if (r.status == 0xFF &&
            !WrittenMeta(e.data1, song.bytes().data() + r.offset, r.length, e.payload))
            continue;
        if (r.tick - previous[r.track] > static_cast<int64_t>(smf::kMaxDelta)) m.refused = true;
        previous[r.track] = r.tick;
        m.tracks[r.track].push_back(std::move(e));
    }
    for (size_t t = 0; t < m.tracks.size(); ++t)
        if (m.ends[t] - previous[t] > static_cast<int64_t>(smf::kMaxDelta)) m.refused = true;
    if (m.format == 0 && m.tracks.empty()) {  // written with one empty track
        m.tracks.emplace_back();
        m.ends.push_back(0);
    }
    return m;
}

bool SameModelEvents(const std::vector<ModelEvent>& a, const std::vector<ModelEvent>& b,
                     size_t* where) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t k = 0; k < n; ++k) {
        if (a[k].tick != b[k].tick || a[k].status != b[k].status || a[k].data1 != b[k].data1 ||
            a[k].data2 != b[k].data2 || a[k].payload != b[k].payload) {
            if (where != nullptr) *where = k;
            return false;
        }
    }
    if (where != nullptr) *where = n;
    return a.size() == b.size();
}

bool ValidUtf8(const std::string& text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned c = s[i];
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (len == 0 || i + len > n) return false;
        uint32_t cp = len == 1 ? c : c & (0x7F >> len);
        for (size_t k = 1; k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) return false;
            cp = cp << 6 | (s[i + k] & 0x3F);
        }
        static const uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kLeast[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += len;
    }
    return true;
}

}  // namespace fuzzsupport
