// The song as the audio engine takes it: the exact layer's events in time order, each at its
// exact second.
#include "song_messages.h"

#include <algorithm>
#include <vector>

using namespace midifolio;

namespace mfrender {

namespace {

// The MIDI bytes of a channel or system-exclusive event; false for any other kind. A sysex
// payload is stored without its F0 and (most often) ends with F7; an F7 packet that holds a
// whole sysex message (F0 ... F7) is sent as one.
bool MessageBytes(const score::EventRecord& ev, const uint8_t* payload, std::vector<uint8_t>& out) {
    out.clear();
    if (ev.status < 0xF0) {
        out.push_back(ev.status);
        out.push_back(ev.data1);
        if (smf::DataBytes(ev.status) == 2) out.push_back(ev.data2);
        return true;
    }
    if (ev.status == 0xF0) {
        out.push_back(0xF0);
        out.insert(out.end(), payload, payload + ev.length);
        if (out.back() != 0xF7) out.push_back(0xF7);
        return true;
    }
    if (ev.status == 0xF7 && ev.length >= 2 && payload[0] == 0xF0 &&
        payload[ev.length - 1] == 0xF7) {
        out.assign(payload, payload + ev.length);
        return true;
    }
    return false;
}

}  // namespace

MessageList MessagesOf(const score::Score& song) {
    MessageList list;
    std::vector<uint8_t> bytes;
    const uint8_t* base = song.song().bytes().data();
    score::EventStream stream(song);
    score::EventRecord ev;
    int64_t end = 0;
    while (stream.Next(ev, end)) {
        list.end = std::max(list.end, ev.seconds);
        if (MessageBytes(ev, base + ev.offset, bytes))
            list.Add(ev.seconds, bytes.data(), bytes.size());
    }
    return list;
}

}  // namespace mfrender
