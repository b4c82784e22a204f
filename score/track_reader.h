// One pass over the data of a track chunk as the Standard MIDI File defines it, handing each
// event to a visitor. Every reader of the exact layer (the song's reading pass, the event
// table, the editable sequence) walks tracks through this one function. Private to score/.
#pragma once

#include <cstdint>
#include <limits>

#include "midifolio/event_kinds.h"
#include "midifolio/export.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace score_detail {

// Why a walk stopped before the end of the data.
enum class Damage : uint8_t {
    kNone,
    kEventCut,         // the data ends inside an event or a delta time
    kNoStatus,         // a data byte where a status byte belongs, with no running status
    kUndefinedStatus,  // F4, F5, F9 or FD: no such message
    kLongNumber,       // a variable-length quantity of more than eight bytes, or ticks
                       // beyond 2^62
};

// One event as the walk meets it.
struct RawEvent {
    int64_t tick;
    const uint8_t* at;       // its first byte after the delta time (status, or running data)
    const uint8_t* payload;  // meta, sysex and packet events: the payload in the chunk
    uint32_t length;         // and its length
    uint8_t status;          // the status in force (channel messages with their channel)
    uint8_t data1;           // first data byte; the type of a meta event
    uint8_t data2;           // second data byte
    bool clamped;            // a data byte above 127 was read as 127
};

struct WalkEnd {
    Damage damage = Damage::kNone;
    const uint8_t* stop = nullptr;  // damage: the first byte of the delta time of the event
                                    // that could not be read; else where reading ended
    int64_t tick = 0;               // tick of the last event read (0 without events)
    uint64_t events = 0;            // events read, the end-of-track event included
    bool ended = false;             // an end-of-track event ended the walk
};

namespace walk {

constexpr int64_t kMaxTick = int64_t{1} << 62;

// A variable-length quantity of up to eight bytes at p, not reading at or past end. False
// (p unmoved) when the bytes run out (long: it has more than eight bytes).
inline bool Number(const uint8_t*& p, const uint8_t* end, uint64_t& value, bool& tooLong) {
    const uint8_t* q = p;
    uint64_t v = 0;
    for (int n = 0; n < 8; ++n) {
        if (q >= end) return false;
        const uint8_t b = *q++;
        v = (v << 7) | (b & 0x7Fu);
        if (!(b & 0x80)) {
            value = v;
            p = q;
            return true;
        }
    }
    tooLong = true;
    return false;
}

inline uint8_t Data(uint8_t byte, bool& clamped) {
    if (byte < 0x80) return byte;
    clamped = true;
    return 0x7F;
}

}  // namespace walk

// Walks the data [p, end): delta time, event, delta time, event... to an end-of-track event
// or the end of the data. visit(const RawEvent&) sees every event, the end-of-track event
// included. Running status: a channel message's status holds for the data bytes that follow
// (also across meta and real-time events); sysex, packets and system-common messages end it.
template <class Visit>
WalkEnd WalkTrack(const uint8_t* p, const uint8_t* end, Visit&& visit) {
    WalkEnd out;
    int64_t tick = 0;
    uint8_t running = 0;
    bool tooLong = false;
    RawEvent ev{};
    while (p < end) {
        const uint8_t* start = p;
        auto fail = [&](Damage why) {
            out.damage = why;
            out.stop = start;
            return out;
        };
        // The delta time: one byte in most events.
        if (*p < 0x80) {
            tick += *p++;
        } else {
            uint64_t delta = 0;
            if (!walk::Number(p, end, delta, tooLong))
                return fail(tooLong ? Damage::kLongNumber : Damage::kEventCut);
            if (delta > static_cast<uint64_t>(walk::kMaxTick - tick))
                return fail(Damage::kLongNumber);
            tick += static_cast<int64_t>(delta);
        }
        if (p >= end) return fail(Damage::kEventCut);
        ev.tick = tick;
        ev.at = p;
        ev.clamped = false;
        uint8_t status = *p;
        if (status < 0x80) {
            if (running == 0) return fail(Damage::kNoStatus);
            status = running;
        } else {
            ++p;
        }
        ev.status = status;
        if (status < 0xF0) {
            // Channel messages, the common case.
            running = status;
            const int n = smf::DataBytes(status);
            if (end - p < n) return fail(Damage::kEventCut);
            ev.data1 = walk::Data(p[0], ev.clamped);
            ev.data2 = n == 2 ? walk::Data(p[1], ev.clamped) : 0;
            ev.payload = nullptr;
            ev.length = 0;
            p += n;
        } else if (status == 0xFF || status == 0xF0 || status == 0xF7) {
            // Meta events (a type byte first), sysex and packets: a length, then the payload.
            if (status == 0xFF) {
                if (p >= end) return fail(Damage::kEventCut);
                ev.data1 = *p++;
            } else {
                running = 0;
                ev.data1 = 0;
            }
            ev.data2 = 0;
            uint64_t length = 0;
            if (!walk::Number(p, end, length, tooLong))
                return fail(tooLong ? Damage::kLongNumber : Damage::kEventCut);
            if (length > static_cast<uint64_t>(end - p)) return fail(Damage::kEventCut);
            ev.payload = p;
            ev.length = static_cast<uint32_t>(length);
            p += length;
        } else {
            // System common (ends running status) and real-time messages (leave it).
            if (status == 0xF4 || status == 0xF5 || status == 0xF9 || status == 0xFD)
                return fail(Damage::kUndefinedStatus);
            if (status < 0xF8) running = 0;
            const int n = smf::DataBytes(status);
            if (end - p < n) return fail(Damage::kEventCut);
            ev.data1 = n >= 1 ? walk::Data(p[0], ev.clamped) : 0;
            ev.data2 = n >= 2 ? walk::Data(p[1], ev.clamped) : 0;
            ev.payload = nullptr;
            ev.length = 0;
            p += n;
        }
        visit(static_cast<const RawEvent&>(ev));
        out.tick = tick;
        ++out.events;
        if (status == 0xFF && ev.data1 == META_END_OF_TRACK) {
            out.ended = true;
            break;
        }
    }
    out.stop = p;
    return out;
}

}  // namespace score_detail
MIDIFOLIO_END_NAMESPACE
