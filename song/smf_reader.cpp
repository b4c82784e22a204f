// Loading a Standard MIDI File: the header chunk, then one track chunk per declared track.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "midifolio/midi_folio.h"
#include "platform/file_io.h"
#include "song/load_report_internal.h"
#include "song/smf_format.h"
#include "track/smf_bytes.h"

MIDIFOLIO_BEGIN_NAMESPACE

namespace {

// Reads a big-endian unsigned integer of nCount (2 or 4) bytes. False when the file ends
// first (or a read fails).
bool ReadWord(platform_detail::FileReader& file, int nCount, uint32_t& value) {
    uint8_t bytes[4];
    if (file.Read(bytes, static_cast<size_t>(nCount)) < static_cast<size_t>(nCount)) return false;
    value = smf::ReadBigEndian(bytes, nCount);
    return true;
}

// Reports why the load stops at track i, and gives the load's failure code.
int Stop(LoadReport& report, LoadStop why, int track, int64_t offset, const std::string& what) {
    song_detail::ReportStop(report, why, track, offset, what);
    return why == LoadStop::kNotATrack ? song_detail::kTrackError : song_detail::kReadError;
}

// Reads the track chunks one after the other, each into a buffer reused from chunk to chunk
// behind the bytes the loader puts in front of it.
class ChunkReader {
  public:
    ChunkReader(platform_detail::FileReader& file, LoadReport& report, ProgressObserver* progress)
        : file_(file), report_(report), progress_(progress) {}

    // Chunk i of n, behind `prefix` bytes of the loader's own: kReadOk, or the failure
    // reported.
    int Read(int i, int n, uint64_t prefix) {
        start_ = static_cast<int64_t>(file_.Position());
        track_ = i;
        int code = Head(n);
        if (code != song_detail::kReadOk) return code;
        // A chunk that claims more bytes than the file still holds, or more than a track
        // can take (its length is a signed 32-bit count, the prefix included), is refused
        // before anything of that size is allocated.
        total_ = uint64_t{length_} + prefix;
        uint64_t remaining = 0;
        const bool sizeKnown = file_.Remaining(remaining);
        report_.claimed = length_;
        report_.available =
            sizeKnown ? std::min<uint64_t>(remaining, INT32_MAX - prefix) : INT32_MAX - prefix;
        if (total_ > static_cast<uint64_t>(INT32_MAX))
            return Fail(LoadStop::kChunkTooLong, start_ + 4,
                        "the chunk claims " + platform_detail::Thousands(length_) +
                            " bytes, more than a track can hold (" +
                            platform_detail::Thousands(INT32_MAX - prefix) + ")");
        if (sizeKnown && length_ > remaining)
            return Fail(LoadStop::kChunkTooLong, start_ + 4,
                        "the chunk claims " + platform_detail::Thousands(length_) + " bytes but " +
                            platform_detail::Thousands(remaining) + " remain");
        code = sizeKnown ? Known(prefix) : Streamed(prefix);
        if (code == song_detail::kReadOk && total_ == 0)
            return Fail(LoadStop::kEmptyTrack, start_ + 4, "the track chunk holds no byte");
        return code;
    }

    const uint8_t* Data() const { return data_; }
    uint64_t Total() const { return total_; }  // the bytes at Data()
    int64_t DataStart() const { return start_ + 8; }

  private:
    int Fail(LoadStop why, int64_t offset, const std::string& what) {
        return Stop(report_, why, track_, offset, what);
    }

    // The chunk's id and length.
    int Head(int n) {
        char id[4];
        const size_t idBytes = file_.Read(id, 4);
        if (idBytes < 4) {
            report_.claimed = static_cast<uint64_t>(n);
            report_.available = static_cast<uint64_t>(track_);
            return Fail(LoadStop::kChunkCut, start_,
                        idBytes == 0 ? "the header declares " + platform_detail::Thousands(n) +
                                           " tracks but the file ends after " +
                                           platform_detail::Thousands(track_)
                                     : std::string("the file ends inside a chunk's id"));
        }
        if (std::memcmp(id, smf::kTrackChunkId, 4) != 0)
            return Fail(LoadStop::kNotATrack, start_,
                        "a chunk \"" + platform_detail::Printable(id, 4) +
                            "\" stands where a track chunk (\"MTrk\") belongs");
        if (!ReadWord(file_, 4, length_))
            return Fail(LoadStop::kChunkCut, start_ + 4, "the file ends inside a chunk's length");
        return song_detail::kReadOk;
    }

    // The bytes are known to be there: they are read straight into a buffer that is not
    // filled first (a short read fails the load), a megabyte at a time so that progress can
    // follow.
    int Known(uint64_t prefix) {
        if (total_ > capacity_) {
            chunk_.reset(new (std::nothrow) uint8_t[static_cast<size_t>(total_)]);
            capacity_ = chunk_ ? total_ : 0;
            if (!chunk_) return Fail(LoadStop::kNoMemory, DataStart(), "no memory for the chunk");
        }
        if (prefix != 0) std::memcpy(chunk_.get(), song_detail::kTempoPrefix, prefix);
        for (uint64_t done = 0; done < length_;) {
            const uint64_t step = std::min<uint64_t>(length_ - done, song_detail::kProgressStep);
            if (file_.Read(chunk_.get() + prefix + done, step) < step) {
                report_.available = done;
                return Fail(LoadStop::kChunkCut, DataStart() + static_cast<int64_t>(done),
                            "the file ends inside the chunk");
            }
            done += step;
            if (progress_) progress_->SetBytes(file_.Position(), file_.Size());
        }
        data_ = chunk_.get();
        return song_detail::kReadOk;
    }

    // Without a known file size the buffer grows only as the bytes really arrive.
    int Streamed(uint64_t prefix) {
        buffer_.assign(song_detail::kTempoPrefix, song_detail::kTempoPrefix + prefix);
        if (!file_.ReadAppend(buffer_, length_)) {
            report_.available = buffer_.size() - prefix;
            return Fail(LoadStop::kChunkCut, DataStart() + static_cast<int64_t>(report_.available),
                        "the chunk claims " + platform_detail::Thousands(length_) +
                            " bytes but the file ends after " +
                            platform_detail::Thousands(report_.available));
        }
        data_ = buffer_.data();
        if (progress_) progress_->SetBytes(file_.Position(), 0);
        return song_detail::kReadOk;
    }

    platform_detail::FileReader& file_;
    LoadReport& report_;
    ProgressObserver* progress_;
    std::unique_ptr<uint8_t[]> chunk_;  // the chunk bytes, when the file size is known
    uint64_t capacity_ = 0;
    std::vector<uint8_t> buffer_;  // the same, when it is not
    int track_ = 0;
    int64_t start_ = 0;  // where the chunk starts in the file
    uint32_t length_ = 0;
    uint64_t total_ = 0;
    const uint8_t* data_ = nullptr;
};

// Decodes the chunk's bytes into the track; false when the load stops there (reported).
bool DecodeChunk(CMidiTrack& track, LoadReport& report, int i, const ChunkReader& chunk,
                 uint64_t prefix) {
    const uint64_t total = chunk.Total();
    if (track.SetMidiTrackRawData(chunk.Data(), static_cast<int32_t>(total)) == 0) {
        if (track.GetDecodeNoMemory()) {
            Stop(report, LoadStop::kNoMemory, i, chunk.DataStart(),
                 "no memory left for the track's events");
        } else {
            song_detail::ReportEventCut(report, i, chunk.Data(), total, prefix, chunk.DataStart(),
                                        track.GetDecodeStop());
        }
        return false;
    }
    if (track.GetReadCount() < static_cast<int64_t>(total))
        song_detail::ReportBytesAfterEnd(
            report, i, chunk.DataStart() + track.GetReadCount() - static_cast<int64_t>(prefix),
            total - static_cast<uint64_t>(track.GetReadCount()));
    report.claimed = report.available = 0;
    return true;
}

}  // namespace

int CMidiFolio::LoadMidiFile(std::string strPath, ProgressObserver* pProgress) {
    try {
        m_LoadReport = LoadReport{};
        platform_detail::FileReader file;
        bool opened = file.Open(strPath);
        if (!opened) {
            ShowMessage(file.ErrorText());
            m_LoadReport.stop = LoadStop::kCannotOpen;
            m_LoadReport.error = file.Error();
            m_LoadReport.message = file.ErrorText();
            m_LoadReport.cause = file.ErrorText();
        }
        m_strMidiPath = strPath;
        if (!opened) return 0;
        return LoadFrom(file, pProgress);
    } catch (const std::bad_alloc&) {
        return NoMemoryToLoad();
    }
}

int CMidiFolio::LoadMidiBytes(const uint8_t* pData, size_t nSize, ProgressObserver* pProgress) {
    try {
        m_LoadReport = LoadReport{};
        platform_detail::FileReader bytes;
        bytes.OpenMemory(pData, nSize);
        m_strMidiPath.clear();
        return LoadFrom(bytes, pProgress);
    } catch (const std::bad_alloc&) {
        return NoMemoryToLoad();
    }
}

// A load that ran out of memory where it could not say so otherwise: the report says it
// (what of it can still be made), and the message is shown if there is memory to show it.
int CMidiFolio::NoMemoryToLoad() noexcept {
    m_LoadReport.result = 0;
    m_LoadReport.stop = LoadStop::kNoMemory;
    try {
        m_LoadReport.message = song_detail::LoadMessage(song_detail::kReadError);
        m_LoadReport.cause = "no memory left";
        ShowMessage(m_LoadReport.message);
    } catch (...) {
    }
    return 0;
}

int CMidiFolio::LoadFrom(platform_detail::FileReader& file, ProgressObserver* pProgress) {
    int code;
    try {
        code = DecodeHead(file);
        if (code == song_detail::kReadOk) code = DecodeTracks(file, pProgress);
    } catch (const std::bad_alloc&) {
        // Memory ran out for a track or a chunk buffer: the file could not be read.
        code = song_detail::kReadError;
        song_detail::ReportStop(m_LoadReport, LoadStop::kNoMemory, -1, -1, "no memory left");
    }
    if (code == song_detail::kReadOk)
        song_detail::ReportExtraChunks(m_LoadReport, file, m_MidiHead.nTracks);
    file.Close();
    if (code != song_detail::kReadOk) {
        ShowMessage(song_detail::LoadMessage(code));
        m_LoadReport.message = song_detail::LoadMessage(code);
        return 0;
    }
    m_LoadReport.result = 1;
    return 1;
}

int CMidiFolio::DecodeHead(platform_detail::FileReader& file) {
    LoadReport& report = m_LoadReport;
    auto cut = [&]() {
        const uint64_t at = file.Position();
        song_detail::ReportStop(report, LoadStop::kHeaderCut, -1, static_cast<int64_t>(at),
                                at == 0 ? std::string("the file is empty")
                                        : "the file ends inside its 14-byte header (after " +
                                              std::to_string(at) + " bytes)");
        return song_detail::kReadError;
    };
    char id[4];
    if (file.Read(id, 4) < 4) return cut();
    if (std::memcmp(id, smf::kHeaderChunkId, 4) != 0) {
        song_detail::ReportStop(report, LoadStop::kNotMidi, -1, 0,
                                "the file starts with \"" + platform_detail::Printable(id, 4) +
                                    "\", not with a MIDI header (\"MThd\")");
        return song_detail::kNotMidi;
    }

    // The header length is not examined: the three words always follow it directly.
    uint32_t length = 0;
    if (!ReadWord(file, 4, length)) return cut();

    uint32_t format = 0;
    if (!ReadWord(file, 2, format)) return cut();
    if (format > 1) {
        if (format == 2) m_MidiHead.nFormat = 2;
        report.claimed = format;
        song_detail::ReportStop(
            report, LoadStop::kFormatUnsupported, -1, 8,
            "format " + std::to_string(format) + "; only formats 0 and 1 are read");
        return song_detail::kFormatUnsupported;
    }
    m_MidiHead.nFormat = static_cast<int32_t>(format);

    uint32_t tracks = 0;
    if (!ReadWord(file, 2, tracks)) return cut();
    m_MidiHead.nTracks = static_cast<int32_t>(tracks);
    if (format == 0 && tracks > 1) {
        report.claimed = tracks;
        song_detail::ReportStop(report, LoadStop::kFormat0Tracks, -1, 10,
                                "format 0 holds one track, but the header declares " +
                                    platform_detail::Thousands(tracks));
        return song_detail::kReadError;
    }

    uint32_t division = 0;
    if (!ReadWord(file, 2, division)) return cut();
    m_MidiHead.nDivision = static_cast<int32_t>(division);
    m_MidiTempo.SetTicksPerQuarterNote(division);
    if (division & smf::kSmpteDivisionBit) {
        char what[160];
        std::snprintf(what, sizeof what,
                      "the division 0x%04X counts SMPTE time (%d frames per second, %u ticks "
                      "per frame), not ticks per quarter note",
                      division, 256 - static_cast<int>(division >> 8), division & 0xFFu);
        song_detail::ReportStop(report, LoadStop::kTimeUnsupported, -1, 12, what);
        return song_detail::kTimeUnsupported;
    }
    return song_detail::kReadOk;
}

int CMidiFolio::DecodeTracks(platform_detail::FileReader& file, ProgressObserver* pProgress) {
    LoadReport& report = m_LoadReport;
    const int n = m_MidiHead.nTracks;
    if (pProgress) pProgress->SetRange(0, n);
    ChunkReader chunks(file, report, pProgress);
    for (int i = 0; i < n; ++i) {
        std::unique_ptr<CMidiTrack> track(CreateTrack());
        if (!track)
            return Stop(report, LoadStop::kNoMemory, i, static_cast<int64_t>(file.Position()),
                        "no memory for a track");
        if (m_bValidatePercussion) track->SetISValidatePercuss();
        if (i == 0) {
            _TEMPO tempo{0, 0, smf::kDefaultBpm, static_cast<int32_t>(smf::kDefaultUsPerQuarter)};
            m_MidiTempo.SetTempo(tempo);
        }
        track->SetTempoObject(&m_MidiTempo);
        track->SetTrackNum(i);
        // The first track starts with the loader's tempo event.
        const uint64_t prefix = i == 0 ? sizeof song_detail::kTempoPrefix : 0;
        const int code = chunks.Read(i, n, prefix);
        if (code != song_detail::kReadOk) return code;
        if (!DecodeChunk(*track, report, i, chunks, prefix)) return song_detail::kReadError;
        if (i == 0) m_LoaderTempos.emplace_back(track.get(), track->GetEventHeadPosition());
        m_NoteUsage |= track->GetNoteUsageTable();
        if (pProgress) pProgress->SetPos(i);
        m_TrackList.push_back(std::move(track));
    }
    m_MidiTempo.ReCalculateTempolst();
    return song_detail::kReadOk;
}

MIDIFOLIO_END_NAMESPACE
