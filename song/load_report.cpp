// The load report: what stopped a load, in plain words, and the readings of an accepted file
// in which other tools see something else.
#include <cstdio>
#include <vector>

#include "midifolio/midi_folio.h"
#include "song/load_report_internal.h"
#include "track/smf_bytes.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace song_detail {

namespace {

std::string Where(int32_t track, int64_t offset) {
    std::string at =
        offset >= 0 ? "at byte " + platform_detail::Thousands(static_cast<uint64_t>(offset)) : "";
    if (track < 0) return at.empty() ? "" : at + ": ";
    return "track " + std::to_string(track + 1) + (at.empty() ? "" : " " + at) + ": ";
}

// What the channel message of a status byte is called, and the bytes it takes.
const char* ChannelKind(uint32_t status, uint64_t& size) {
    static const char* const kNames[7] = {"note-off",       "note-on",        "key pressure",
                                          "control change", "program change", "channel pressure",
                                          "pitch bend"};
    size = smf::OneDataByte(smf::ChannelType(status)) ? 2 : 3;
    return kNames[(status >> 4) - 8];
}

}  // namespace

void ReportStop(LoadReport& report, LoadStop why, int32_t track, int64_t offset,
                const std::string& what) {
    report.stop = why;
    report.track = track;
    report.offset = offset;
    report.cause = Where(track, offset) + what;
}

namespace {

// Says why an event of a track chunk could not be decoded: the chunk's bytes, and where the
// chunk's data starts in the file (the loader's tempo event, `prefix` bytes, before them).
struct CutReporter {
    LoadReport& report;
    int32_t track;
    const uint8_t* data;
    uint64_t total;
    uint64_t prefix;
    int64_t dataStart;

    int64_t FileOffset(uint64_t at) const { return dataStart + static_cast<int64_t>(at - prefix); }
    void Stop(uint64_t at, uint64_t claimed, uint64_t available, const std::string& what) {
        report.claimed = claimed;
        report.available = available;
        ReportStop(report, LoadStop::kEventCut, track, FileOffset(at), what);
    }
    // The delta time at `at`, which could not be read.
    void DeltaCut(uint64_t at, const char* which) {
        const uint8_t* q = data + at;
        while (q < data + total && (*q & 0x80)) ++q;
        Stop(
            at, total - at + 1, total - at,
            std::string(which) + (q == data + total ? " runs past the end of the chunk"
                                                    : " is too long to read (five bytes or more)"));
    }
    // A meta or sysex event at `at`: true when it is what was cut (reported); else false with
    // the bytes it takes in `size`.
    bool PayloadCut(uint64_t at, uint64_t& size) {
        const uint8_t* p = data + at;
        const uint64_t left = total - at;
        std::string kind = "a sysex message";
        const uint8_t* q = p + 1;
        if (*p == 0xFF) {
            if (left < 2) return Stop(at, 3, left, "a meta event is cut before its type"), true;
            char hex[40];
            std::snprintf(hex, sizeof hex, "a meta event (type 0x%02X)", p[1]);
            kind = hex;
            size = 3 + smf::FixedMetaSize(p[1]);
            if (size > 3) {
                if (left < size) return Needs(at, size, kind), true;
                return DeltaCut(at + size, "the delta time after an event"), true;
            }
            q = p + 2;
        }
        const uint32_t length = smf::ReadVlq(q, data + total);
        if (length == smf::kVlqFailure)
            return Stop(at, left + 1, left,
                        "the length of " + kind + " runs past the end of the chunk"),
                   true;
        size = static_cast<uint64_t>(q - p) + length;
        if (left >= size) return false;
        Stop(at, size, left,
             kind + " claims " + platform_detail::Thousands(length) + " bytes but " +
                 platform_detail::Thousands(static_cast<uint64_t>(data + total - q)) + " remain");
        return true;
    }
    void Needs(uint64_t at, uint64_t size, const std::string& what) {
        Stop(at, size, total - at,
             what + " needs " + platform_detail::Thousands(size) + " bytes but " +
                 platform_detail::Thousands(total - at) + " remain");
    }
};

}  // namespace

void ReportEventCut(LoadReport& report, int32_t track, const uint8_t* data, uint64_t total,
                    uint64_t prefix, int64_t dataStart, int64_t stop) {
    CutReporter r{report, track, data, total, prefix, dataStart};
    if (stop < static_cast<int64_t>(prefix))  // the loader's event: the file's first delta
        return r.DeltaCut(prefix, "the chunk's first delta time");
    const uint64_t at = static_cast<uint64_t>(stop);
    // The decoder stopped behind the chunk's last byte: a delta time read to the end, and no
    // event after it.
    if (at >= total)
        return r.Stop(total, 1, 0, "the chunk ends after a delta time, before its event");
    if (at == 0) return r.DeltaCut(0, "the chunk's first delta time");
    const uint32_t status = data[at];
    const uint64_t left = total - at;
    uint64_t size = 1;  // the bytes the event takes
    if (status == 0xFF || status == 0xF0) {
        if (r.PayloadCut(at, size)) return;
    } else if (status >= 0xF0) {
        // System common (F7 among them, one byte here) and real-time messages.
        size = status == 0xF2 ? 3 : status == 0xF1 || status == 0xF3 ? 2 : 1;
        if (left < size) return r.Needs(at, size, "a system-common message");
    } else if (status >= 0x80) {
        const char* kind = ChannelKind(status, size);
        if (left < size) return r.Needs(at, size, std::string("a ") + kind);
    } else if (left < 2) {
        // A channel message in running status: one or two data bytes.
        return r.Stop(at, 2, left, "a channel message in running status is cut");
    } else {
        size = 2;
    }
    // The event itself fits: the delta time after it does not.
    r.DeltaCut(at + size, "the delta time after an event");
}

void ReportBytesAfterEnd(LoadReport& report, int32_t track, int64_t offset, uint64_t count) {
    report.warnings.push_back({LoadWarning::kBytesAfterEnd, track, offset, count,
                               Where(track, -1) + platform_detail::Thousands(count) +
                                   (count == 1 ? " byte" : " bytes") +
                                   " after the end-of-track event (from byte " +
                                   platform_detail::Thousands(static_cast<uint64_t>(offset)) +
                                   ") " + (count == 1 ? "is" : "are") + " not read"});
}

void ReportExtraChunks(LoadReport& report, platform_detail::FileReader& file, int32_t declared) {
    uint64_t tracks = 0;
    int64_t first = -1;
    for (;;) {
        const int64_t start = static_cast<int64_t>(file.Position());
        uint8_t head[8];
        if (file.Read(head, 8) < 8) break;
        if (head[0] == 'M' && head[1] == 'T' && head[2] == 'r' && head[3] == 'k') {
            if (first < 0) first = start;
            ++tracks;
        }
        if (!file.Skip(smf::ReadBigEndian(head + 4, 4))) break;
    }
    if (tracks == 0) return;
    report.warnings.push_back(
        {LoadWarning::kMoreTracks, -1, first, tracks,
         "the header declares " + platform_detail::Thousands(static_cast<uint64_t>(declared)) +
             (declared == 1 ? " track" : " tracks") + " but " + platform_detail::Thousands(tracks) +
             (tracks == 1 ? " more track chunk follows" : " more track chunks follow") +
             " (from byte " + platform_detail::Thousands(static_cast<uint64_t>(first)) +
             "), not read"});
}

}  // namespace song_detail

LoadReport CMidiFolio::GetLoadReport() const {
    LoadReport report = m_LoadReport;
    for (long t = 0; t < GetTrackNum(); ++t) {
        uint64_t escaped = 0, above = 0, bare = 0;
        const CMidiTrack* track = GetTrack(static_cast<int>(t));
        for (POSITION pos = track->GetEventHeadPosition(); pos != nullptr;) {
            const MIDIEventPtr* ev = track->GetNextPtr(pos);
            if (ev == nullptr) break;
            switch (ev->dwType) {
                case 0:
                    ++bare;
                    break;
                case EVT_SYSCOMMON:
                    escaped += ev->dwSubType == 0xF7;
                    break;
                case EVT_PITCHBEND:
                    above += ev->wBend > 0x3FFF;
                    break;
                case EVT_PROGRAM:
                case EVT_CHANPRESSURE:
                    above += ev->byData1 > 127;
                    break;
                case EVT_NOTEON:
                case EVT_NOTEOFF:
                case EVT_KEYPRESSURE:
                case EVT_CONTROL:
                    above += ev->byData1 > 127 || ev->byData2 > 127;
                    break;
                default:
                    break;
            }
        }
        const int32_t index = static_cast<int32_t>(t);
        auto note = [&](LoadWarning kind, uint64_t count, const char* one, const char* many,
                        const char* rest) {
            if (count == 0) return;
            report.warnings.push_back({kind, index, -1, count,
                                       "track " + std::to_string(t + 1) + ": " +
                                           platform_detail::Thousands(count) +
                                           (count == 1 ? one : many) + rest});
        };
        note(LoadWarning::kEscapedSysex, escaped, " F7 packet is", " F7 packets are",
             " read as one-byte events (other tools read each as a sysex message)");
        note(LoadWarning::kDataByteAbove127, above, " channel message has",
             " channel messages have",
             " a data byte above 127 (other tools refuse it or read it otherwise)");
        note(LoadWarning::kDataWithoutStatus, bare, " data byte stands", " data bytes stand",
             " where no running status is in force (read as records of type 0)");
    }
    return report;
}

MIDIFOLIO_END_NAMESPACE
