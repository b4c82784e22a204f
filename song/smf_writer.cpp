// Storing a Standard MIDI File: the header chunk, then one track chunk per track.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>
#include <new>
#include <vector>

#include "midifolio/midi_folio.h"
#include "platform/file_io.h"
#include "song/smf_format.h"
#include "track/smf_bytes.h"
#include "track/track_internal.h"

MIDIFOLIO_BEGIN_NAMESPACE

namespace {

// The largest track count the header's 16-bit word can state.
constexpr size_t kMaxTracks = 0xFFFF;
// Smallest scratch buffer for encoding a track.
constexpr size_t kMinScratch = 4096;

// Writes the low nCount (2 or 4) bytes of value, big-endian.
void WriteWord(platform_detail::FileWriter& file, uint32_t value, int nCount) {
    uint8_t bytes[4];
    smf::WriteBigEndian(bytes, value, nCount);
    file.Write(bytes, static_cast<size_t>(nCount));
}

// A scratch buffer for track encodings, left uninitialised and only ever grown.
struct Scratch {
    std::unique_ptr<uint8_t[]> data;
    size_t capacity = 0;
    void Reserve(size_t n) {
        if (n <= capacity) return;
        data.reset(new uint8_t[n]);
        capacity = n;
    }
};

struct Encoded {
    uint64_t size = 0;
    int error = 0;  // errno value of a track that cannot be written
};

// Encodes one track into the scratch buffer. The buffer holds at least the track's raw
// length; an encoding that outgrows it (a file that used running status across meta events
// encodes longer) is encoded again into a buffer of the exact size, so no event is ever cut
// off. A track of raw length 0 without events gives an empty chunk.
Encoded EncodeTrack(const CMidiTrack& track, Scratch& scratch) {
    Encoded out;
    if (track.GetTrkLen() <= 0 && track.GetCount() <= 0) return out;
    const MIDIEventPtr* first = track.GetEventHeadPosition();
    const uint32_t count = static_cast<uint32_t>(std::max<int32_t>(track.GetCount(), 0));
    scratch.Reserve(std::max<size_t>(static_cast<size_t>(std::max<int32_t>(track.GetTrkLen(), 0)),
                                     kMinScratch));
    track_detail::EncodeResult encoded =
        track_detail::EncodeInto(first, count, scratch.data.get(), scratch.capacity);
    out.size = encoded.size;
    if (!encoded.valid) {
        out.error = EOVERFLOW;  // a delta time beyond the format's 28 bits
    } else if (out.size > static_cast<uint64_t>(INT32_MAX)) {
        out.error = EFBIG;
    } else if (out.size > scratch.capacity) {
        scratch.Reserve(static_cast<size_t>(out.size));
        encoded = track_detail::EncodeInto(first, count, scratch.data.get(), scratch.capacity);
        // The encoding changed size between two passes over the same list: writing on could
        // lose events, so the store fails and the target stays as it was.
        if (encoded.size != out.size) out.error = EIO;
    }
    return out;
}

}  // namespace

int CMidiFolio::StoreMidiFile(std::string strPath, ProgressObserver* pProgress) {
    m_nStoreError = 0;
    // A song of more tracks than the header can count would be written as a file that
    // claims fewer: refuse it before anything is touched.
    if (m_TrackList.size() > kMaxTracks) {
        m_nStoreError = EFBIG;
        return 0;
    }
    try {
        platform_detail::FileWriter file;
        if (!file.Open(strPath)) {
            m_nStoreError = file.Error();
            return 0;
        }
        m_MidiHead.nTracks = static_cast<int32_t>(m_TrackList.size());
        StoreHead(file);
        StoreTracks(file, pProgress);
        // Only a completely written file replaces the target; otherwise it stays as it was.
        if (file.Commit()) return 1;
        m_nStoreError = file.Error();
        return 0;
    } catch (const std::bad_alloc&) {
        m_nStoreError = ENOMEM;
        return 0;  // the writer went out of scope: its new file is gone
    }
}

int CMidiFolio::GetStoreError() const {
    return m_nStoreError;
}

void CMidiFolio::StoreHead(platform_detail::FileWriter& file) {
    _MIDIHEAD head = GetMidiHeaderInfo();
    if (static_cast<size_t>(head.nTracks) != m_TrackList.size() || head.nTracks < 0) {
        head.nTracks = static_cast<int32_t>(m_TrackList.size());
    }
    file.Write(smf::kHeaderChunkId, 4);
    WriteWord(file, smf::kHeaderChunkLength, 4);
    WriteWord(file, static_cast<uint32_t>(head.nFormat) & 0xFFFF, 2);
    WriteWord(file, static_cast<uint32_t>(head.nTracks) & 0xFFFF, 2);
    WriteWord(file, static_cast<uint32_t>(head.nDivision) & 0xFFFF, 2);
}

int CMidiFolio::StoreTracks(platform_detail::FileWriter& file, ProgressObserver* pProgress) {
    int result = 0;
    const int n = std::min(m_MidiHead.nTracks, static_cast<int>(m_TrackList.size()));
    if (pProgress) pProgress->SetRange(0, m_MidiHead.nTracks);
    Scratch scratch;  // reused from track to track
    for (int i = 0; i < n; ++i) {
        file.Write(smf::kTrackChunkId, 4);
        const Encoded encoded = EncodeTrack(*m_TrackList[static_cast<size_t>(i)], scratch);
        if (encoded.error != 0) file.Fail(encoded.error);
        const uint32_t size = encoded.error != 0 ? 0 : static_cast<uint32_t>(encoded.size);
        WriteWord(file, size, 4);
        file.Write(scratch.data.get(), size);
        result = size > 0 ? 1 : 0;
        if (pProgress) pProgress->SetPos(i);
    }
    return result;
}

MIDIFOLIO_END_NAMESPACE
