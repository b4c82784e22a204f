// Writing a sequence as a valid Standard MIDI File. Every file the tool and the Python
// package write comes from here.
#include <algorithm>
#include <string>

#include "midifolio/event_kinds.h"
#include "midifolio/song.h"
#include "platform/text.h"
#include "score/song_data.h"
#include "track/smf_bytes.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace score {

namespace {

void Put(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int k = bytes - 1; k >= 0; --k) out.push_back(static_cast<uint8_t>(value >> (8 * k)));
}

void PutVlq(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t tmp[5];
    out.insert(out.end(), tmp, smf::WriteVlq(tmp, value));
}

uint8_t DataByte(uint8_t b) {
    return b > 127 ? 127 : b;
}

// The payload a meta event is written with: the size the standard gives its type (a longer
// one cut, as readers take only its first bytes; a time signature of two or three bytes
// completed with 24 clocks per click and 8 32nds per quarter), a key signature within -7..7
// and a mode of 0 or 1. False for one too short to be read at all, which is left out.
bool MetaPayload(uint8_t type, const uint8_t* p, uint32_t n, std::vector<uint8_t>& out) {
    const smf::MetaInfo* info = smf::MetaInfoOf(type);
    const uint32_t size = info != nullptr ? info->standardLength : 0;
    out.assign(p, p + n);
    if (size == 0) return true;
    if (type == META_SEQUENCE_NUMBER && n == 0) return true;  // "this track's number"
    if (type == META_TIME_SIGNATURE && n >= 2 && n < 4) {
        static constexpr uint8_t kDefaults[4] = {4, 2, 24, 8};
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

// One track's chunk data; false (why in *error) when it cannot be written validly. Delta
// times up to maxDelta are written (beyond 28 bits only for the library's own reading).
bool EncodeTrack(const Sequence& s, size_t t, std::vector<uint8_t>& out, std::string* error,
                 uint64_t maxDelta) {
    const std::vector<Event>& events = s.tracks[t];
    int64_t previous = 0;
    int64_t endTick = 0;
    uint8_t running = 0;
    std::vector<uint8_t> meta;
    auto fail = [&](const std::string& what) {
        if (error != nullptr) *error = "track " + std::to_string(t + 1) + ": " + what;
        return false;
    };
    for (const Event& e : events) {
        const int64_t tick = std::max<int64_t>(e.tick, 0);
        if (tick < previous) return fail("its events are not in time order");
        endTick = std::max(endTick, tick);
        // An end of track before the last event is left out; the final one comes after all.
        if (e.status == 0xFF && e.data1 == META_END_OF_TRACK) continue;
        const int n = smf::DataBytes(e.status);
        const bool system = e.status >= 0xF0;
        // Undefined status bytes and data bytes standing alone have no form in a file.
        if (e.status < 0x80 || e.status == 0xF4 || e.status == 0xF5 || e.status == 0xF9 ||
            e.status == 0xFD)
            continue;
        if (uint64_t{e.offset} + e.length > s.payloads.size())
            return fail("an event's payload lies outside the sequence's payloads");
        const uint8_t* payload = s.payloads.data() + e.offset;
        if (e.status == 0xFF && !MetaPayload(e.data1, payload, e.length, meta)) continue;
        const uint64_t delta = static_cast<uint64_t>(tick - previous);
        if (delta > maxDelta)
            return fail("the " + platform_detail::Thousands(delta) + " ticks before tick " +
                        platform_detail::Thousands(static_cast<uint64_t>(tick)) +
                        " are more than a delta time holds (268,435,455)");
        PutVlq(out, static_cast<uint32_t>(delta));
        previous = tick;
        if (!system) {
            if (e.status != running) out.push_back(e.status);
            running = e.status;
            out.push_back(DataByte(e.data1));
            if (n == 2) out.push_back(DataByte(e.data2));
            continue;
        }
        running = 0;  // only channel messages that follow each other share a status
        out.push_back(e.status);
        if (n < 0 && e.status == 0xFF) {
            out.push_back(e.data1);
            PutVlq(out, static_cast<uint32_t>(meta.size()));
            out.insert(out.end(), meta.begin(), meta.end());
        } else if (n < 0) {
            PutVlq(out, e.length);
            out.insert(out.end(), payload, payload + e.length);
        } else {
            if (n >= 1) out.push_back(DataByte(e.data1));
            if (n >= 2) out.push_back(DataByte(e.data2));
        }
    }
    const uint64_t last = static_cast<uint64_t>(endTick - previous);
    if (last > maxDelta) return fail("its end lies too far after its last event");
    PutVlq(out, static_cast<uint32_t>(last));
    out.insert(out.end(), {0xFF, static_cast<uint8_t>(META_END_OF_TRACK), 0x00});
    return true;
}

}  // namespace

namespace {

std::vector<uint8_t> EncodeSequence(const Sequence& s, std::string* error, uint64_t maxDelta) {
    if (error != nullptr) error->clear();
    auto fail = [&](const std::string& what) {
        if (error != nullptr) *error = what;
        return std::vector<uint8_t>();
    };
    if (s.format < 0 || s.format > 2)
        return fail("format " + std::to_string(s.format) + " cannot be written");
    if (s.format == 0 && s.tracks.size() > 1)
        return fail("format 0 holds one track, not " + std::to_string(s.tracks.size()));
    if (s.tracks.size() > 65535) return fail("a file holds at most 65,535 tracks");
    if (s.division.word == 0 || (s.division.smpte() && s.division.ticks_per_frame() == 0))
        return fail("a division of 0 ticks cannot be written");
    // A format-0 song without a track is written with one empty track.
    const size_t tracks = s.format == 0 ? 1 : s.tracks.size();
    size_t estimate = 14 + 12 * tracks + s.payloads.size();
    for (const std::vector<Event>& t : s.tracks) estimate += 4 * t.size();
    std::vector<uint8_t> out;
    out.reserve(estimate);
    platform_detail::AdviseHugePages(out);
    out.insert(out.end(), smf::kHeaderChunkId, smf::kHeaderChunkId + 4);
    Put(out, smf::kHeaderChunkLength, 4);
    Put(out, static_cast<uint64_t>(s.format), 2);
    Put(out, tracks, 2);
    Put(out, s.division.word, 2);
    for (size_t t = 0; t < tracks; ++t) {
        out.insert(out.end(), smf::kTrackChunkId, smf::kTrackChunkId + 4);
        const size_t lengthAt = out.size();
        Put(out, 0, 4);
        if (t < s.tracks.size()) {
            if (!EncodeTrack(s, t, out, error, maxDelta)) return {};
        } else {
            out.insert(out.end(), {0x00, 0xFF, static_cast<uint8_t>(META_END_OF_TRACK), 0x00});
        }
        const uint64_t length = out.size() - lengthAt - 4;
        if (length > 0xFFFFFFFFu)
            return fail("track " + std::to_string(t + 1) + " is longer than a chunk holds");
        smf::WriteBigEndian(out.data() + lengthAt, static_cast<uint32_t>(length), 4);
    }
    return out;
}

}  // namespace

std::vector<uint8_t> Encode(const Sequence& s, std::string* error) {
    try {
        return EncodeSequence(s, error, smf::kMaxDelta);
    } catch (const std::bad_alloc&) {
        if (error != nullptr) *error = "out of memory";
        return {};
    }
}

}  // namespace score

namespace score_detail {

std::vector<uint8_t> EncodeWithLongDeltas(const score::Sequence& s, std::string* error) {
    // (std::bad_alloc goes to the caller.)
    return score::EncodeSequence(s, error, 0xFFFFFFFFu);
}

}  // namespace score_detail
MIDIFOLIO_END_NAMESPACE
