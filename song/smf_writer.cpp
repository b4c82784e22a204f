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
#include "track/track_internal.h"

namespace midifolio {

namespace {

// The largest track count the header's 16-bit word can state.
constexpr size_t kMaxTracks = 0xFFFF;
// Smallest scratch buffer for encoding a track.
constexpr size_t kMinScratch = 4096;

// Writes the low nCount (2 or 4) bytes of value, big-endian.
template <typename Reverse>
void WriteBigEndian(detail::FileWriter& file, uint32_t value, int nCount, Reverse reverse) {
    uint8_t bytes[4];
    for (int k = 0; k < nCount; ++k) bytes[k] = static_cast<uint8_t>(value >> (8 * k));
    reverse(bytes, nCount);  // least significant byte first -> file order
    file.Write(bytes, static_cast<size_t>(nCount));
}

}  // namespace

int CMidiFolio::StoreMidiFile(std::string strPath, ProgressObserver* pProgress) {
    // A song of more tracks than the header can count would be written as a file that
    // claims fewer: refuse it before anything is touched.
    if (m_TrackList.size() > kMaxTracks) return 0;
    try {
        detail::FileWriter file;
        if (!file.Open(strPath)) return 0;
        m_MidiHead.nTracks = static_cast<int32_t>(m_TrackList.size());
        StoreHead(file);
        StoreTracks(file, pProgress);
        // Only a completely written file replaces the target; otherwise it stays as it was.
        return file.Commit() ? 1 : 0;
    } catch (const std::bad_alloc&) {
        return 0;  // the writer went out of scope: its temporary file is gone
    }
}

void CMidiFolio::StoreHead(detail::FileWriter& file) {
    auto reverse = [](uint8_t* p, int n) { ReverseMultiBytes(p, n); };
    _MIDIHEAD head = GetMidiHeaderInfo();
    if (static_cast<size_t>(head.nTracks) != m_TrackList.size() || head.nTracks < 0) {
        head.nTracks = static_cast<int32_t>(m_TrackList.size());
    }
    file.Write(detail::kHeaderId, 4);
    WriteBigEndian(file, detail::kHeaderLength, 4, reverse);
    WriteBigEndian(file, static_cast<uint32_t>(head.nFormat) & 0xFFFF, 2, reverse);
    WriteBigEndian(file, static_cast<uint32_t>(head.nTracks) & 0xFFFF, 2, reverse);
    WriteBigEndian(file, static_cast<uint32_t>(head.nDivision) & 0xFFFF, 2, reverse);
}

int CMidiFolio::StoreTracks(detail::FileWriter& file, ProgressObserver* pProgress) {
    auto reverse = [](uint8_t* p, int n) { ReverseMultiBytes(p, n); };
    int result = 0;
    const int n = m_MidiHead.nTracks;
    if (pProgress) pProgress->SetRange(0, n);
    std::unique_ptr<uint8_t[]> scratch;  // reused from track to track
    size_t capacity = 0;

    for (int i = 0; i < n && static_cast<size_t>(i) < m_TrackList.size(); ++i) {
        file.Write(detail::kTrackId, 4);
        CMidiTrack* track = m_TrackList[static_cast<size_t>(i)].get();

        // The track is encoded in one pass into a scratch buffer of at least its raw
        // length; an encoding that outgrows it (a file that used running status across
        // meta events encodes longer) is encoded again into a buffer of the exact size, so
        // no event is ever cut off. A track of raw length 0 without events keeps an empty
        // chunk.
        int32_t size = 0;
        result = 0;
        if (track->GetTrkLen() > 0 || track->GetCount() > 0) {
            const MIDIEventPtr* first = track->GetEventHeadPosition();
            const uint32_t count = static_cast<uint32_t>(std::max<int32_t>(track->GetCount(), 0));
            const size_t wanted = std::max<size_t>(
                static_cast<size_t>(std::max<int32_t>(track->GetTrkLen(), 0)), kMinScratch);
            if (wanted > capacity) {
                scratch.reset(new uint8_t[wanted]);
                capacity = wanted;
            }
            uint64_t needed = track_detail::EncodeInto(first, count, scratch.get(), capacity);
            if (needed > static_cast<uint64_t>(INT32_MAX)) {
                file.Fail(EFBIG);
            } else {
                if (needed > capacity) {
                    scratch.reset(new uint8_t[static_cast<size_t>(needed)]);
                    capacity = static_cast<size_t>(needed);
                    const uint64_t again =
                        track_detail::EncodeInto(first, count, scratch.get(), capacity);
                    if (again != needed) {
                        // The encoding changed size between two passes over the same list:
                        // writing on could lose events, so the store fails and the target
                        // stays as it was.
                        file.Fail(EIO);
                        needed = 0;
                    }
                }
                size = static_cast<int32_t>(needed);
                result = size > 0 ? 1 : 0;
            }
        }
        WriteBigEndian(file, static_cast<uint32_t>(size), 4, reverse);
        file.Write(scratch.get(), static_cast<size_t>(size));
        if (pProgress) pProgress->SetPos(i);
    }
    return result;
}

}  // namespace midifolio
