// The song as the engine takes it. Today it walks the loaded tracks of CMidiFolio and times
// their ticks through the exact view's tempo map.
#include "render_input.h"

#include <algorithm>

using namespace midifolio;

namespace mfcli {

namespace {

// The MIDI bytes of a channel or system exclusive event; false for any other kind. A system
// exclusive payload is stored without its F0 and (most often) ends with F7.
bool MessageBytes(const MIDIEvent& ev, std::vector<uint8_t>& out) {
    out.clear();
    const uint32_t kind = ev.dwType;
    if (kind == EVT_SYSEX) {
        out.push_back(0xF0);
        if (ev.pData != nullptr) out.insert(out.end(), ev.pData, ev.pData + ev.dwLength);
        if (out.back() != 0xF7) out.push_back(0xF7);
        return true;
    }
    static constexpr struct {
        uint32_t kind;
        uint8_t status;
        bool twoBytes;
    } kChannel[] = {{EVT_NOTEOFF, 0x80, true},     {EVT_NOTEON, 0x90, true},
                    {EVT_KEYPRESSURE, 0xA0, true}, {EVT_CONTROL, 0xB0, true},
                    {EVT_PROGRAM, 0xC0, false},    {EVT_CHANPRESSURE, 0xD0, false},
                    {EVT_PITCHBEND, 0xE0, true}};
    for (const auto& c : kChannel) {
        if (c.kind != kind || ev.byChannel > 15) continue;
        out.push_back(static_cast<uint8_t>(c.status | ev.byChannel));
        if (kind == EVT_PITCHBEND) {
            out.push_back(static_cast<uint8_t>(ev.wBend & 0x7F));
            out.push_back(static_cast<uint8_t>((ev.wBend >> 7) & 0x7F));
        } else {
            out.push_back(ev.byData1);
            if (c.twoBytes) out.push_back(ev.byData2);
        }
        return true;
    }
    return false;
}

}  // namespace

mfrender::MessageList RenderInput(const CMidiFolio& song, const score::TimeMap& time) {
    mfrender::MessageList list;
    std::vector<uint8_t> bytes;
    for (long t = 0; t < song.GetTrackNum(); ++t) {
        const CMidiTrack* track = song.GetTrack(static_cast<int>(t));
        if (track == nullptr) continue;
        score::TimeMap::Cursor clock(time);
        for (POSITION pos = track->GetEventHeadPosition(); pos != nullptr; pos = pos->pNext) {
            if (pos->dwType == EVT_META && song.IsLoaderTempo(track, pos)) continue;
            const double seconds = clock.seconds(pos->lTime);
            list.end = std::max(list.end, seconds);
            if (MessageBytes(*pos, bytes)) list.Add(seconds, bytes.data(), bytes.size());
        }
    }
    // Track by track so far: in time order now, a stable sort keeping track and list order.
    std::stable_sort(list.messages.begin(), list.messages.end(),
                     [](const mfrender::TimedMessage& a, const mfrender::TimedMessage& b) {
                         return a.seconds < b.seconds;
                     });
    return list;
}

}  // namespace mfcli
