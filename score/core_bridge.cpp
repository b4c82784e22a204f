// The exact layer over a song of the library's own classes: its tracks as an editable
// sequence, as the writer and the exact view take it.
#include <algorithm>
#include <cstring>

#include "midifolio/event_kinds.h"
#include "midifolio/midi_folio.h"
#include "midifolio/midi_track.h"
#include "midifolio/score.h"
#include "platform/no_memory.h"
#include "score/song_data.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace score {

namespace {

// The event of a record, when it has a form in a file; false for data bytes without status
// (type 0) and the one-byte F7 events of the library's decoder, which stand for bytes it did
// not read as the file meant them.
bool EventOf(const MIDIEvent& ev, Sequence& s, Event& e) {
    e = Event{std::max<int64_t>(ev.lTime, 0), 0, 0, 0, ev.byData1, ev.byData2, 0};
    switch (ev.dwType) {
        case EVT_NOTEOFF:
        case EVT_NOTEON:
        case EVT_KEYPRESSURE:
        case EVT_CONTROL:
        case EVT_PROGRAM:
        case EVT_CHANPRESSURE:
            e.status = smf::StatusOfTypeCode(ev.dwType, ev.byChannel);
            return true;
        case EVT_PITCHBEND:
            e.status = smf::StatusOfTypeCode(ev.dwType, ev.byChannel);
            e.data1 = ev.wBend & 0x7F;
            e.data2 = (ev.wBend >> 7) & 0x7F;
            return true;
        case EVT_SYSCOMMON:
        case EVT_REALTIME: {
            if (ev.dwSubType < 0xF1 || ev.dwSubType > 0xFE || ev.dwSubType == 0xF7) return false;
            e.status = static_cast<uint8_t>(ev.dwSubType);
            uint8_t bytes[4];
            std::memcpy(bytes, &ev.dwLength, 4);  // the data bytes of system common
            e.data1 = bytes[0];
            e.data2 = bytes[1];
            return true;
        }
        case EVT_META:
        case EVT_SYSEX:
        case EVT_SYSEXESC:
            e.status = smf::StatusOfTypeCode(ev.dwType, 0);
            e.data1 = ev.dwType == EVT_META ? static_cast<uint8_t>(ev.dwSubType) : 0;
            e.data2 = 0;
            e.offset = static_cast<uint32_t>(s.payloads.size());
            e.length = ev.pData != nullptr ? ev.dwLength : 0;
            if (e.length != 0) s.payloads.insert(s.payloads.end(), ev.pData, ev.pData + e.length);
            return true;
        default:
            return false;
    }
}

}  // namespace

namespace {

Sequence SequenceOfCore(const CMidiFolio& song) {
    Sequence s;
    const _MIDIHEAD head = song.GetMidiHeaderInfo();
    s.format = head.nFormat;
    s.division.word = static_cast<uint16_t>(head.nDivision);
    for (long t = 0; t < song.GetTrackNum(); ++t) {
        const CMidiTrack* track = song.GetTrack(static_cast<int>(t));
        std::vector<Event>& events = s.tracks.emplace_back();
        for (POSITION pos = track->GetEventHeadPosition(); pos != nullptr; pos = pos->pNext) {
            if (song.IsLoaderTempo(track, pos)) continue;
            Event e;
            if (EventOf(*pos, s, e)) events.push_back(e);
        }
        std::stable_sort(events.begin(), events.end(),
                         [](const Event& a, const Event& b) { return a.tick < b.tick; });
    }
    return s;
}

}  // namespace

Sequence SequenceOf(const CMidiFolio& song) {
    return platform_detail::OrEmptyWhenNoMemory([&song] { return SequenceOfCore(song); });
}

// (When memory runs out on the way, the view is that of an empty song.) The library's times
// are 32-bit: events further apart than a file's delta time holds keep their times here, and
// a format-0 song that was given several tracks is seen as the format that holds them.
Score::Score(const CMidiFolio& song)
    : Score(platform_detail::OrEmptyWhenNoMemory([&song] {
          Sequence s = SequenceOfCore(song);
          if (s.format == 0 && s.tracks.size() > 1) s.format = 1;
          std::string error;
          std::vector<uint8_t> bytes = score_detail::EncodeWithLongDeltas(s, &error);
          ReadReport report;
          return error.empty() ? Song::FromBytes(std::move(bytes), ReadOptions{}, report) : Song();
      })) {}

}  // namespace score
MIDIFOLIO_END_NAMESPACE
