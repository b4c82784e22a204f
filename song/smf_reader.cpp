// Loading a Standard MIDI File: the header chunk, then one track chunk per declared track.
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "midifolio/midi_folio.h"
#include "platform/file_io.h"
#include "song/smf_format.h"
#include "track/smf_bytes.h"

MIDIFOLIO_BEGIN_NAMESPACE

namespace {

// Reads a big-endian unsigned integer of nCount (2 or 4) bytes. False when the file ends
// first (or a read fails).
bool ReadWord(detail::FileReader& file, int nCount, uint32_t& value) {
    uint8_t bytes[4];
    if (file.Read(bytes, static_cast<size_t>(nCount)) < static_cast<size_t>(nCount)) return false;
    value = smf::ReadBigEndian(bytes, nCount);
    return true;
}

}  // namespace

int CMidiFolio::LoadMidiFile(std::string strPath, ProgressObserver* pProgress) {
    detail::FileReader file;
    bool opened = file.Open(strPath);
    if (!opened) ShowMessage(file.ErrorText());
    m_strMidiPath = strPath;
    if (!opened) return 0;

    int code;
    try {
        code = DecodeHead(file);
        if (code == detail::kReadOk) code = DecodeTracks(file, pProgress);
    } catch (const std::bad_alloc&) {
        // Memory ran out for a track or a chunk buffer: the file could not be read.
        code = detail::kReadError;
    }
    file.Close();
    if (code != detail::kReadOk) {
        ShowMessage(detail::LoadMessage(code));
        return 0;
    }
    return 1;
}

int CMidiFolio::DecodeHead(detail::FileReader& file) {
    char id[4];
    if (file.Read(id, 4) < 4) return detail::kReadError;
    if (std::memcmp(id, detail::kHeaderId, 4) != 0) return detail::kNotMidi;

    // The header length is not examined: the three words always follow it directly.
    uint32_t length = 0;
    if (!ReadWord(file, 4, length)) return detail::kReadError;

    uint32_t format = 0;
    if (!ReadWord(file, 2, format)) return detail::kReadError;
    if (format == 2) {
        m_MidiHead.nFormat = 2;
        return detail::kFormatUnsupported;
    }
    if (format > 1) return detail::kFormatUnsupported;
    m_MidiHead.nFormat = static_cast<int32_t>(format);

    uint32_t tracks = 0;
    if (!ReadWord(file, 2, tracks)) return detail::kReadError;
    m_MidiHead.nTracks = static_cast<int32_t>(tracks);
    if (format == 0 && tracks > 1) return detail::kReadError;

    uint32_t division = 0;
    if (!ReadWord(file, 2, division)) return detail::kReadError;
    m_MidiHead.nDivision = static_cast<int32_t>(division);
    m_MidiTempo.SetTicksPerQuarterNote(division);
    if (division & detail::kSmpteDivision) return detail::kTimeUnsupported;
    return detail::kReadOk;
}

int CMidiFolio::DecodeTracks(detail::FileReader& file, ProgressObserver* pProgress) {
    const int n = m_MidiHead.nTracks;
    if (pProgress) pProgress->SetRange(0, n);
    std::unique_ptr<uint8_t[]> chunk;  // the chunk bytes, when the file size is known
    uint64_t chunkCapacity = 0;
    std::vector<uint8_t> buffer;  // the same, when it is not

    for (int i = 0; i < n; ++i) {
        std::unique_ptr<CMidiTrack> track(CreateTrack());
        if (!track) return detail::kReadError;  // no memory for a track: the load ends
        if (m_bValidatePercussion) track->SetISValidatePercuss();
        if (i == 0) {
            _TEMPO tempo{0, 0, detail::kDefaultBpm, detail::kDefaultUsPerQuarter};
            m_MidiTempo.SetTempo(tempo);
        }
        track->SetTempoObject(&m_MidiTempo);

        char id[4];
        if (file.Read(id, 4) < 4) return detail::kReadError;
        if (std::memcmp(id, detail::kTrackId, 4) != 0) return detail::kTrackError;
        track->SetTrackNum(i);

        uint32_t length = 0;
        if (!ReadWord(file, 4, length)) return detail::kReadError;

        // A chunk that claims more bytes than the file still holds, or more than a track
        // can take (its length is a signed 32-bit count, the prefix included), is refused
        // before anything of that size is allocated.
        const uint64_t prefix = i == 0 ? sizeof detail::kTempoPrefix : 0;
        const uint64_t total = uint64_t{length} + prefix;
        if (total > static_cast<uint64_t>(INT32_MAX)) return detail::kReadError;
        uint64_t remaining = 0;
        const bool sizeKnown = file.Remaining(remaining);
        if (sizeKnown && length > remaining) return detail::kReadError;

        const uint8_t* data = nullptr;
        if (sizeKnown) {
            // The bytes are known to be there: read them straight into a buffer that is
            // not filled first (a short read fails the load), reused from chunk to chunk.
            if (total > chunkCapacity) {
                chunk.reset(new (std::nothrow) uint8_t[static_cast<size_t>(total)]);
                chunkCapacity = chunk ? total : 0;
                if (!chunk) return detail::kReadError;
            }
            if (i == 0) std::memcpy(chunk.get(), detail::kTempoPrefix, prefix);
            if (file.Read(chunk.get() + prefix, length) < length) return detail::kReadError;
            data = chunk.get();
        } else {
            // Without a known file size the buffer grows only as the bytes really arrive.
            buffer.clear();
            if (i == 0)
                buffer.assign(std::begin(detail::kTempoPrefix), std::end(detail::kTempoPrefix));
            if (!file.ReadAppend(buffer, length)) return detail::kReadError;
            data = buffer.data();
        }

        if (total == 0 || track->SetMidiTrackRawData(data, static_cast<int32_t>(total)) == 0) {
            return detail::kReadError;
        }
        if (i == 0) m_LoaderTempos.emplace_back(track.get(), track->GetEventHeadPosition());
        m_NoteUsage |= track->GetNoteUsageTable();
        if (pProgress) pProgress->SetPos(i);
        m_TrackList.push_back(std::move(track));
    }
    m_MidiTempo.ReCalculateTempolst();
    return detail::kReadOk;
}

MIDIFOLIO_END_NAMESPACE
