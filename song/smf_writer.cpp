// Storing a Standard MIDI File: the header chunk, then one track chunk per track.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
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
    out.size = track_detail::EncodeInto(first, count, scratch.data.get(), scratch.capacity);
    if (out.size > static_cast<uint64_t>(INT32_MAX)) {
        out.error = EFBIG;
    } else if (out.size > scratch.capacity) {
        scratch.Reserve(static_cast<size_t>(out.size));
        const uint64_t again =
            track_detail::EncodeInto(first, count, scratch.data.get(), scratch.capacity);
        // The encoding changed size between two passes over the same list: writing on could
        // lose events, so the store fails and the target stays as it was.
        if (again != out.size) out.error = EIO;
    }
    return out;
}

// Songs whose tracks hold at least this many raw bytes in all are worth a helper thread.
constexpr int64_t kLaneBytes = int64_t{1} << 20;

bool WorthALane(const std::vector<std::unique_ptr<CMidiTrack>>& tracks, int n) {
    if (n < 2 || std::thread::hardware_concurrency() < 2) return false;
    int64_t bytes = 0;
    for (int i = 0; i < n; ++i)
        bytes += std::max<int32_t>(tracks[static_cast<size_t>(i)]->GetTrkLen(), 0);
    return bytes >= kLaneBytes;
}

// Encodes the odd-numbered tracks on a helper thread, at most one track ahead of the
// writer: the writer waits for track i, writes its bytes and releases the buffer.
class TrackLane {
  public:
    TrackLane(const std::vector<std::unique_ptr<CMidiTrack>>& tracks, int n)
        : m_tracks(tracks), m_n(n) {}
    ~TrackLane() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        if (m_thread.joinable()) m_thread.join();
    }
    // False when the system gives no thread: the writer then encodes every track itself.
    bool Start() {
        try {
            m_thread = std::thread([this] { Run(); });
            return true;
        } catch (const std::system_error&) {
            return false;
        }
    }
    Encoded Wait(int track) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_ready == track; });
        return m_encoded;
    }
    const uint8_t* Bytes() const { return m_scratch.data.get(); }
    void Release() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_ready = -1;
        }
        m_changed.notify_all();
    }

  private:
    void Run() {
        for (int i = 1; i < m_n; i += 2) {
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_changed.wait(lock, [&] { return m_ready == -1 || m_stop; });
                if (m_stop) return;
            }
            Encoded encoded;
            try {
                encoded = EncodeTrack(*m_tracks[static_cast<size_t>(i)], m_scratch);
            } catch (const std::bad_alloc&) {
                encoded.error = ENOMEM;
            }
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_encoded = encoded;
                m_ready = i;
            }
            m_changed.notify_all();
        }
    }

    const std::vector<std::unique_ptr<CMidiTrack>>& m_tracks;
    const int m_n;
    Scratch m_scratch;  // the helper's; the writer reads it only while m_ready names a track
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_ready = -1;  // the track whose encoding waits in m_scratch, or -1
    Encoded m_encoded;
    bool m_stop = false;
    std::thread m_thread;
};

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
    const int n = std::min(m_MidiHead.nTracks, static_cast<int>(m_TrackList.size()));
    if (pProgress) pProgress->SetRange(0, m_MidiHead.nTracks);
    Scratch scratch;  // reused from track to track
    // A large song has every second track encoded on a helper thread, while this thread
    // encodes the others and writes all of them in order.
    std::unique_ptr<TrackLane> lane;
    if (WorthALane(m_TrackList, n)) {
        lane = std::make_unique<TrackLane>(m_TrackList, n);
        if (!lane->Start()) lane.reset();
    }

    for (int i = 0; i < n; ++i) {
        file.Write(detail::kTrackId, 4);
        Encoded encoded;
        const uint8_t* bytes;
        if (lane != nullptr && i % 2 == 1) {
            encoded = lane->Wait(i);
            bytes = lane->Bytes();
        } else {
            encoded = EncodeTrack(*m_TrackList[static_cast<size_t>(i)], scratch);
            bytes = scratch.data.get();
        }
        if (encoded.error != 0) file.Fail(encoded.error);
        const uint32_t size = encoded.error != 0 ? 0 : static_cast<uint32_t>(encoded.size);
        WriteBigEndian(file, size, 4, reverse);
        file.Write(bytes, size);
        if (lane != nullptr && i % 2 == 1) lane->Release();
        result = size > 0 ? 1 : 0;
        if (pProgress) pProgress->SetPos(i);
    }
    return result;
}

}  // namespace midifolio
