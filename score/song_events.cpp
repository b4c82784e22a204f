#include "score/song_events.h"

#include <algorithm>
#include <utility>

#include "track/event_range.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace score_detail {

namespace {
bool HasPayload(const MIDIEvent& ev, uint32_t n) {
    return ev.dwLength >= n && ev.pData != nullptr;
}
}  // namespace

SongEventsBuilder::SongEventsBuilder(const CMidiFolio& song) : m_song(song) {
    const int32_t division = song.GetMidiHeaderInfo().nDivision;
    // A division in SMPTE frames (top bit set), or none, gives no ticks per quarter note.
    m_out.tpq = division > 0 && division < 0x8000 ? division : 0;
}

void SongEventsBuilder::AddMeta(MIDIEventPtr& ev, uint32_t place) {
    if (ev.dwSubType == META_TEMPO && HasPayload(ev, 3)) {
        if (m_song.IsLoaderTempo(m_track, &ev))
            ++m_loaderTempos;
        else
            m_out.tempos.push_back({ev.lTime, m_index, place, &ev});
    } else if (ev.dwSubType == META_TIME_SIGNATURE && HasPayload(ev, 2)) {
        m_out.timeSignatures.push_back({ev.lTime, m_index, place, &ev});
    } else if (ev.dwSubType == META_KEY_SIGNATURE && HasPayload(ev, 2)) {
        m_out.keySignatures.push_back({ev.lTime, m_index, place, &ev});
    }
}

SongEvents SongEventsBuilder::Finish() {
    m_out.endTick = m_out.events > 0 ? m_lastTick : 0;
    m_out.events -= m_loaderTempos;
    auto holding = [](const Placed& a, const Placed& b) {
        if (a.tick != b.tick) return a.tick < b.tick;
        if (a.track != b.track) return a.track < b.track;
        return a.order < b.order;
    };
    for (std::vector<Placed>* list :
         {&m_out.tempos, &m_out.timeSignatures, &m_out.keySignatures, &m_out.programs})
        if (!std::is_sorted(list->begin(), list->end(), holding))
            std::sort(list->begin(), list->end(), holding);
    return std::move(m_out);
}

SongEvents Collect(const CMidiFolio& song) {
    SongEventsBuilder builder(song);
    for (long t = 0; t < song.GetTrackNum(); ++t) {
        const CMidiTrack* track = song.GetTrack(static_cast<int>(t));
        builder.BeginTrack(track, static_cast<uint16_t>(t));
        for (MIDIEventPtr& ev : track_detail::Events(*track)) builder.Add(ev);
        builder.EndTrack();
    }
    return builder.Finish();
}

}  // namespace score_detail
MIDIFOLIO_END_NAMESPACE
