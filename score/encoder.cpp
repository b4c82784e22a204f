// Writing a sequence as a valid Standard MIDI File. Every file the tool and the Python
// package write comes from here.
#include <algorithm>
#include <string>

#include "midifolio/event_kinds.h"
#include "midifolio/song.h"
#include "platform/page_memory.h"
#include "platform/text.h"
#include "score/song_data.h"
#include "score/track_encoder.h"
#include "track/smf_bytes.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace score {

namespace {

void Put(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int k = bytes - 1; k >= 0; --k) out.push_back(static_cast<uint8_t>(value >> (8 * k)));
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
    score_detail::TrackEncoder track(out, maxDelta);
    bool written = true;
    for (const Event& e : s.tracks[t])
        if (!(written = track.Put(e, s.payloads))) break;
    if (written && track.End()) return true;
    if (error != nullptr) *error = "track " + std::to_string(t + 1) + ": " + track.why();
    return false;
}

}  // namespace

namespace {

std::vector<uint8_t> EncodeSequence(const Sequence& s, std::string* error, uint64_t maxDelta) {
    size_t estimate = s.payloads.size();
    for (const std::vector<Event>& t : s.tracks) estimate += 4 * t.size();
    // A format-0 song without a track is written with one empty track.
    const size_t tracks = s.format == 0 && s.tracks.empty() ? 1 : s.tracks.size();
    return score_detail::EncodeChunks(
        s.format, tracks, s.division, estimate,
        [&](size_t t, std::vector<uint8_t>& out) {
            if (t < s.tracks.size()) return EncodeTrack(s, t, out, error, maxDelta);
            out.insert(out.end(), {0x00, 0xFF, static_cast<uint8_t>(META_END_OF_TRACK), 0x00});
            return true;
        },
        error);
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

std::vector<uint8_t> EncodeChunks(int32_t format, size_t tracks, score::Division division,
                                  size_t estimate, const ChunkData& data, std::string* error) {
    if (error != nullptr) error->clear();
    auto fail = [&](const std::string& what) {
        if (error != nullptr) *error = what;
        return std::vector<uint8_t>();
    };
    if (format < 0 || format > 2)
        return fail("format " + std::to_string(format) + " cannot be written");
    if (format == 0 && tracks > 1)
        return fail("format 0 holds one track, not " + std::to_string(tracks));
    if (tracks > 65535) return fail(kTooManyTracks);
    if (division.word == 0 || (division.smpte() && division.ticks_per_frame() == 0))
        return fail("a division of 0 ticks cannot be written");
    std::vector<uint8_t> out;
    out.reserve(14 + 12 * tracks + estimate);
    platform_detail::AdviseHugePages(out);
    out.insert(out.end(), smf::kHeaderChunkId, smf::kHeaderChunkId + 4);
    score::Put(out, smf::kHeaderChunkLength, 4);
    score::Put(out, static_cast<uint64_t>(format), 2);
    score::Put(out, tracks, 2);
    score::Put(out, division.word, 2);
    for (size_t t = 0; t < tracks; ++t) {
        out.insert(out.end(), smf::kTrackChunkId, smf::kTrackChunkId + 4);
        const size_t lengthAt = out.size();
        score::Put(out, 0, 4);
        if (!data(t, out)) return {};
        const uint64_t length = out.size() - lengthAt - 4;
        if (length > 0xFFFFFFFFu)
            return fail("track " + std::to_string(t + 1) + " is longer than a chunk holds");
        smf::WriteBigEndian(out.data() + lengthAt, static_cast<uint32_t>(length), 4);
    }
    return out;
}

bool TrackEncoder::Put(const score::Event& e, const std::vector<uint8_t>& payloads) {
    if (!At(e.tick)) return false;
    // An end of track before the last event is left out; the final one comes after all.
    if (e.status == 0xFF && e.data1 == META_END_OF_TRACK) return true;
    // Undefined status bytes and data bytes standing alone have no form in a file.
    if (e.status < 0x80 || e.status == 0xF4 || e.status == 0xF5 || e.status == 0xF9 ||
        e.status == 0xFD)
        return true;
    if (uint64_t{e.offset} + e.length > payloads.size())
        return Fail("an event's payload lies outside the sequence's payloads");
    const uint8_t* payload = payloads.data() + e.offset;
    if (e.status == 0xFF && !score::MetaPayload(e.data1, payload, e.length, m_meta)) return true;
    if (!Written()) return false;
    if (e.status < 0xF0) {
        ChannelBytes(e.status, e.data1, e.data2);
        return true;
    }
    m_running = 0;  // only channel messages that follow each other share a status
    Byte(e.status);
    const int n = smf::DataBytes(e.status);
    if (n < 0 && e.status == 0xFF) {
        Byte(e.data1);
        Vlq(static_cast<uint32_t>(m_meta.size()));
        Append(m_meta.data(), m_meta.size());
    } else if (n < 0) {
        Vlq(e.length);
        Append(payload, e.length);
    } else {
        if (n >= 1) Byte(DataByte(e.data1));
        if (n >= 2) Byte(DataByte(e.data2));
    }
    return true;
}

bool TrackEncoder::End() {
    m_tick = m_endTick;
    if (!Written()) return Fail("its end lies too far after its last event");
    for (const uint8_t b : {uint8_t{0xFF}, static_cast<uint8_t>(META_END_OF_TRACK), uint8_t{0x00}})
        Byte(b);
    Flush();
    return true;
}

bool TrackEncoder::TooFar(uint64_t delta) {
    return Fail("the " + platform_detail::Thousands(delta) + " ticks before tick " +
                platform_detail::Thousands(static_cast<uint64_t>(m_tick)) +
                " are more than a delta time holds (268,435,455)");
}

std::vector<uint8_t> EncodeWithLongDeltas(const score::Sequence& s, std::string* error) {
    // (std::bad_alloc goes to the caller.)
    return score::EncodeSequence(s, error, 0xFFFFFFFFu);
}

}  // namespace score_detail
MIDIFOLIO_END_NAMESPACE
