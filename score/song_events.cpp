#include "score/song_events.h"

#include <algorithm>

#include "track/event_range.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace score_detail {

namespace {
bool HasPayload(const MIDIEvent& ev, uint32_t n) {
    return ev.dwLength >= n && ev.pData != nullptr;
}
}  // namespace

SongEvents Collect(const CMidiFolio& song) {
    SongEvents out;
    const int32_t division = song.GetMidiHeaderInfo().nDivision;
    // A division in SMPTE frames (top bit set), or none, gives no ticks per quarter note.
    out.tpq = division > 0 && division < 0x8000 ? division : 0;
    bool anyEvent = false;
    size_t loaderTempos = 0;
    for (long t = 0; t < song.GetTrackNum(); ++t) {
        const CMidiTrack* track = song.GetTrack(static_cast<int>(t));
        const uint16_t index = static_cast<uint16_t>(t);
        uint32_t order = 0;
        for (MIDIEventPtr& ev : track_detail::Events(*track)) {
            const uint32_t place = order++;
            out.endTick = anyEvent ? std::max(out.endTick, ev.lTime) : ev.lTime;
            anyEvent = true;
            if (ev.dwType == EVT_PROGRAM) {
                if (ev.byChannel < 16) out.programs.push_back({ev.lTime, index, place, &ev});
                continue;
            }
            if (ev.dwType != EVT_META) continue;
            if (ev.dwSubType == META_TEMPO && HasPayload(ev, 3)) {
                if (song.IsLoaderTempo(track, &ev)) {
                    ++loaderTempos;
                    continue;
                }
                out.tempos.push_back({ev.lTime, index, place, &ev});
            } else if (ev.dwSubType == META_TIME_SIGNATURE && HasPayload(ev, 2)) {
                out.timeSignatures.push_back({ev.lTime, index, place, &ev});
            } else if (ev.dwSubType == META_KEY_SIGNATURE && HasPayload(ev, 2)) {
                out.keySignatures.push_back({ev.lTime, index, place, &ev});
            }
        }
        out.events += order;
    }
    out.events -= loaderTempos;
    auto holding = [](const Placed& a, const Placed& b) {
        if (a.tick != b.tick) return a.tick < b.tick;
        if (a.track != b.track) return a.track < b.track;
        return a.order < b.order;
    };
    for (std::vector<Placed>* list :
         {&out.tempos, &out.timeSignatures, &out.keySignatures, &out.programs})
        if (!std::is_sorted(list->begin(), list->end(), holding))
            std::sort(list->begin(), list->end(), holding);
    return out;
}

}  // namespace score_detail
MIDIFOLIO_END_NAMESPACE
