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
    if (code == song_detail::kReadOk) song_detail::ReportExtraChunks(m_LoadReport, file, m_MidiHead.nTracks);
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
        song_detail::ReportStop(report, LoadStop::kFormatUnsupported, -1, 8,
                           "format " + std::to_string(format) + "; only formats 0 and 1 are read");
        return song_detail::kFormatUnsupported;
    }
    m_MidiHead.nFormat = static_cast<int32_t>(format);

    uint32_t tracks = 0;
    if (!ReadWord(file, 2, tracks)) return cut();
    m_MidiHead.nTracks = static_cast<int32_t>(tracks);
    if (format == 0 && tracks > 1) {
        report.claimed = tracks;
        song_detail::ReportStop(
            report, LoadStop::kFormat0Tracks, -1, 10,
            "format 0 holds one track, but the header declares " + platform_detail::Thousands(tracks));
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
    std::unique_ptr<uint8_t[]> chunk;  // the chunk bytes, when the file size is known
    uint64_t chunkCapacity = 0;
    std::vector<uint8_t> buffer;  // the same, when it is not

    for (int i = 0; i < n; ++i) {
        const int64_t chunkStart = static_cast<int64_t>(file.Position());
        auto stop = [&](LoadStop why, int64_t offset, const std::string& what) {
            song_detail::ReportStop(report, why, i, offset, what);
            return why == LoadStop::kNotATrack ? song_detail::kTrackError : song_detail::kReadError;
        };
        std::unique_ptr<CMidiTrack> track(CreateTrack());
        if (!track) return stop(LoadStop::kNoMemory, chunkStart, "no memory for a track");
        if (m_bValidatePercussion) track->SetISValidatePercuss();
        if (i == 0) {
            _TEMPO tempo{0, 0, smf::kDefaultBpm, static_cast<int32_t>(smf::kDefaultUsPerQuarter)};
            m_MidiTempo.SetTempo(tempo);
        }
        track->SetTempoObject(&m_MidiTempo);

        char id[4];
        const size_t idBytes = file.Read(id, 4);
        if (idBytes < 4) {
            report.claimed = static_cast<uint64_t>(n);
            report.available = static_cast<uint64_t>(i);
            return stop(LoadStop::kChunkCut, chunkStart,
                        idBytes == 0 ? "the header declares " + platform_detail::Thousands(n) +
                                           " tracks but the file ends after " + platform_detail::Thousands(i)
                                     : std::string("the file ends inside a chunk's id"));
        }
        if (std::memcmp(id, smf::kTrackChunkId, 4) != 0)
            return stop(LoadStop::kNotATrack, chunkStart,
                        "a chunk \"" + platform_detail::Printable(id, 4) +
                            "\" stands where a track chunk (\"MTrk\") belongs");
        track->SetTrackNum(i);

        uint32_t length = 0;
        if (!ReadWord(file, 4, length))
            return stop(LoadStop::kChunkCut, chunkStart + 4,
                        "the file ends inside a chunk's length");

        // A chunk that claims more bytes than the file still holds, or more than a track
        // can take (its length is a signed 32-bit count, the prefix included), is refused
        // before anything of that size is allocated.
        const uint64_t prefix = i == 0 ? sizeof song_detail::kTempoPrefix : 0;
        const uint64_t total = uint64_t{length} + prefix;
        uint64_t remaining = 0;
        const bool sizeKnown = file.Remaining(remaining);
        report.claimed = length;
        report.available =
            sizeKnown ? std::min<uint64_t>(remaining, INT32_MAX - prefix) : INT32_MAX - prefix;
        if (total > static_cast<uint64_t>(INT32_MAX))
            return stop(LoadStop::kChunkTooLong, chunkStart + 4,
                        "the chunk claims " + platform_detail::Thousands(length) +
                            " bytes, more than a track can hold (" +
                            platform_detail::Thousands(INT32_MAX - prefix) + ")");
        if (sizeKnown && length > remaining)
            return stop(LoadStop::kChunkTooLong, chunkStart + 4,
                        "the chunk claims " + platform_detail::Thousands(length) + " bytes but " +
                            platform_detail::Thousands(remaining) + " remain");
        const int64_t dataStart = chunkStart + 8;

        const uint8_t* data = nullptr;
        if (sizeKnown) {
            // The bytes are known to be there: read them straight into a buffer that is
            // not filled first (a short read fails the load), reused from chunk to chunk,
            // a megabyte at a time so that progress can follow.
            if (total > chunkCapacity) {
                chunk.reset(new (std::nothrow) uint8_t[static_cast<size_t>(total)]);
                chunkCapacity = chunk ? total : 0;
                if (!chunk) return stop(LoadStop::kNoMemory, dataStart, "no memory for the chunk");
            }
            if (i == 0) std::memcpy(chunk.get(), song_detail::kTempoPrefix, prefix);
            for (uint64_t done = 0; done < length;) {
                const uint64_t step = std::min<uint64_t>(length - done, song_detail::kProgressStep);
                if (file.Read(chunk.get() + prefix + done, step) < step) {
                    report.available = done;
                    return stop(LoadStop::kChunkCut, dataStart + static_cast<int64_t>(done),
                                "the file ends inside the chunk");
                }
                done += step;
                if (pProgress) pProgress->SetBytes(file.Position(), file.Size());
            }
            data = chunk.get();
        } else {
            // Without a known file size the buffer grows only as the bytes really arrive.
            buffer.clear();
            if (i == 0)
                buffer.assign(std::begin(song_detail::kTempoPrefix), std::end(song_detail::kTempoPrefix));
            if (!file.ReadAppend(buffer, length)) {
                report.available = buffer.size() - prefix;
                return stop(LoadStop::kChunkCut, dataStart + static_cast<int64_t>(report.available),
                            "the chunk claims " + platform_detail::Thousands(length) +
                                " bytes but the file ends after " +
                                platform_detail::Thousands(report.available));
            }
            data = buffer.data();
            if (pProgress) pProgress->SetBytes(file.Position(), 0);
        }

        if (total == 0)
            return stop(LoadStop::kEmptyTrack, chunkStart + 4, "the track chunk holds no byte");
        if (track->SetMidiTrackRawData(data, static_cast<int32_t>(total)) == 0) {
            if (track->GetDecodeNoMemory())
                return stop(LoadStop::kNoMemory, dataStart, "no memory left for the track's events");
            song_detail::ReportEventCut(report, i, data, total, prefix, dataStart,
                                   track->GetDecodeStop());
            return song_detail::kReadError;
        }
        if (track->GetReadCount() < static_cast<int64_t>(total))
            song_detail::ReportBytesAfterEnd(
                report, i, dataStart + track->GetReadCount() - static_cast<int64_t>(prefix),
                total - static_cast<uint64_t>(track->GetReadCount()));
        report.claimed = report.available = 0;
        if (i == 0) m_LoaderTempos.emplace_back(track.get(), track->GetEventHeadPosition());
        m_NoteUsage |= track->GetNoteUsageTable();
        if (pProgress) pProgress->SetPos(i);
        m_TrackList.push_back(std::move(track));
    }
    m_MidiTempo.ReCalculateTempolst();
    return song_detail::kReadOk;
}

MIDIFOLIO_END_NAMESPACE
