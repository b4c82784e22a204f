// Filling the load report while a file is read. Private to the song.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "midifolio/export.h"
#include "midifolio/load_report.h"
#include "platform/file_io.h"
#include "platform/text.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace song_detail {

// Why the load stopped: the kind, the track (-1 for the header) and the byte of the file, and
// what happened in plain words (the cause gets "track T at byte B: " in front).
void ReportStop(LoadReport& report, LoadStop why, int32_t track, int64_t offset,
                const std::string& what);
// A track's data that ended inside an event: data holds total bytes (prefix of them put in
// front by the loader, not from the file, whose data starts at dataStart); the event that
// failed starts at offset stop of data.
void ReportEventCut(LoadReport& report, int32_t track, const uint8_t* data, uint64_t total,
                    uint64_t prefix, int64_t dataStart, int64_t stop);
// count bytes of a track after its end-of-track event, from the byte offset of the file.
void ReportBytesAfterEnd(LoadReport& report, int32_t track, int64_t offset, uint64_t count);
// After the declared tracks: notes the track chunks that follow them (reading past them).
void ReportExtraChunks(LoadReport& report, platform_detail::FileReader& file, int32_t declared);

}  // namespace song_detail
MIDIFOLIO_END_NAMESPACE
