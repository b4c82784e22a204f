// One pass over the data of a track chunk as the Standard MIDI File defines it, handing each
// event to a visitor. Every reader of the exact layer (the song's reading pass, the event
// table, the editable sequence) walks tracks through this one function. Private to score/.
#pragma once

#include <cstdint>
#include <limits>

#include "midifolio/event_kinds.h"
#include "midifolio/export.h"
#include "midifolio/midi_event.h"

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
    // (Bytes held in words: a store to a byte may alias anything, which would make the
    // compiler read every other value of a reading loop again after it.)
    uint32_t status;  // the status in force (channel messages with their channel)
    uint32_t data1;   // first data byte; the type of a meta event
    uint32_t data2;   // second data byte
    bool clamped;     // a data byte above 127 was read as 127
    bool running;     // a channel message in running status (no status byte of its own)
};

struct WalkEnd {
    Damage damage = Damage::kNone;
    const uint8_t* stop = nullptr;  // damage: the first byte of the delta time of the event
                                    // that could not be read; else where reading ended
    int64_t tick = 0;               // tick of the last event read (0 without events)
    uint64_t events = 0;            // events read, the end-of-track event included
    bool ended = false;             // an end-of-track event ended the walk
    bool longDelta = false;         // a delta time beyond the 28 bits a file may hold
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

// The events of a track's data [p, end) one at a time: delta time, event, delta time, event...
// to an end-of-track event or the end of the data. Running status: a channel message's status
// holds for the data bytes that follow (also across meta and real-time events); sysex,
// packets and system-common messages end it.
class TrackCursor {
  public:
    TrackCursor(const uint8_t* p, const uint8_t* end) : m_p(p), m_end(end) {}

    // The next event into ev: true. False at the end of the data, after the end-of-track
    // event, or where the data stops making sense (damage() then says why, stop() where).
    bool Next(RawEvent& ev) { return Channel(ev) || NextAny(ev); }
    Damage damage() const { return m_damage; }
    // Damage: the first byte of the delta time of the event that could not be read; else
    // where reading ended.
    const uint8_t* stop() const { return m_damage != Damage::kNone ? m_start : m_p; }
    bool ended() const { return m_ended; }
    int64_t tick() const { return m_tick; }
    // A delta time beyond the 28 bits a file may hold came (a file as the writer writes it
    // has none).
    bool longDelta() const { return m_longDelta; }

    // Next in two steps, for a reader that keeps the cursor's position in locals (in
    // registers) while it reads the common events, and hands the others to the cursor.
    // The common event at p, read at once: a one-byte delta time and a channel message (its
    // status byte, or running status) with data bytes below 128, four bytes of data left at
    // least so that no byte needs a check of its own. It moves p, tick and running: true.
    // False (nothing read) for any other event.
    __attribute__((always_inline)) static bool Channel(const uint8_t*& p, const uint8_t* end,
                                                       int64_t& tick, uint32_t& running,
                                                       RawEvent& ev) {
        if (end - p < 4) return false;  // (also once the walk stopped: see Stop)
        const uint32_t delta = p[0];
        const uint32_t lead = p[1];
        if (delta >= 0x80 || lead >= 0xF0 || (lead < 0x80 && running == 0)) return false;
        const uint8_t* data = p + 1 + (lead >> 7);
        const uint32_t status = lead >= 0x80 ? lead : running;
        const bool two = (status & 0xE0) != 0xC0;  // all but program change and pressure
        const uint32_t data1 = data[0];
        const uint32_t data2 = two ? data[1] : 0;
        if ((data1 | data2) >= 0x80) return false;
        tick += delta;
        running = status;
        ev.tick = tick;
        ev.at = p + 1;
        ev.payload = nullptr;
        ev.length = 0;
        ev.status = status;
        ev.data1 = data1;
        ev.data2 = data2;
        ev.clamped = false;
        ev.running = lead < 0x80;
        p = data + 1 + two;
        return true;
    }
    bool Channel(RawEvent& ev) { return Channel(m_p, m_end, m_tick, m_running, ev); }
    // The position, for Channel, and back.
    void Get(const uint8_t*& p, const uint8_t*& end, int64_t& tick, uint32_t& running) const {
        p = m_p;
        end = m_end;
        tick = m_tick;
        running = m_running;
    }
    void Set(const uint8_t* p, int64_t tick, uint32_t running) {
        m_p = p;
        m_tick = tick;
        m_running = running;
    }
    // Any event (Next without the common case first).
    bool NextAny(RawEvent& ev) {
        if (m_p >= m_end) return false;
        m_start = m_p;
        if (!Delta()) return false;
        // A delta time at the very end of the data, with no event after it, ends the track
        // (a file without its end-of-track event).
        if (m_p >= m_end) return false;
        return Event(ev);  // (Payload notes an end-of-track event)
    }

  private:
    // Ends the walk: no event is read after an end-of-track event or damage.
    void Stop() { m_end = m_p; }
    bool Fail(Damage why) {
        m_damage = why;
        Stop();
        return false;
    }
    // The delta time: one byte in most events.
    bool Delta() {
        if (*m_p < 0x80) {
            m_tick += *m_p++;
            return true;
        }
        uint64_t delta = 0;
        bool tooLong = false;
        if (!walk::Number(m_p, m_end, delta, tooLong))
            return Fail(tooLong ? Damage::kLongNumber : Damage::kEventCut);
        if (delta > static_cast<uint64_t>(walk::kMaxTick - m_tick))
            return Fail(Damage::kLongNumber);
        m_longDelta = m_longDelta || delta > smf::kMaxDelta;
        m_tick += static_cast<int64_t>(delta);
        return true;
    }
    bool Event(RawEvent& ev);
    bool Payload(RawEvent& ev);
    bool Short(RawEvent& ev, int n) {
        if (m_end - m_p < n) return Fail(Damage::kEventCut);
        ev.data1 = n >= 1 ? walk::Data(m_p[0], ev.clamped) : 0;
        ev.data2 = n >= 2 ? walk::Data(m_p[1], ev.clamped) : 0;
        ev.payload = nullptr;
        ev.length = 0;
        m_p += n;
        return true;
    }

    const uint8_t* m_p;
    const uint8_t* m_end;
    const uint8_t* m_start = nullptr;
    int64_t m_tick = 0;
    uint32_t m_running = 0;  // (a word: see RawEvent)
    bool m_ended = false;
    bool m_longDelta = false;
    Damage m_damage = Damage::kNone;
};

inline bool TrackCursor::Event(RawEvent& ev) {
    if (m_p >= m_end) return Fail(Damage::kEventCut);
    ev.tick = m_tick;
    ev.at = m_p;
    ev.clamped = false;
    uint32_t status = *m_p;
    ev.running = status < 0x80;
    if (status < 0x80) {
        if (m_running == 0) return Fail(Damage::kNoStatus);
        status = m_running;
    } else {
        ++m_p;
    }
    ev.status = status;
    if (status < 0xF0) {  // channel messages, the common case
        m_running = status;
        return Short(ev, smf::DataBytes(status));
    }
    if (status == 0xFF || status == 0xF0 || status == 0xF7) return Payload(ev);
    // System common (ends running status) and real-time messages (leave it).
    if (status == 0xF4 || status == 0xF5 || status == 0xF9 || status == 0xFD)
        return Fail(Damage::kUndefinedStatus);
    if (status < 0xF8) m_running = 0;
    return Short(ev, smf::DataBytes(status));
}

// Meta events (a type byte first), sysex and packets: a length, then the payload.
inline bool TrackCursor::Payload(RawEvent& ev) {
    // (Decided from the type byte read here, not from ev's bytes just stored: reading those
    // back as one word would wait on the stores at every event.)
    bool end = false;
    if (ev.status == 0xFF) {
        if (m_p >= m_end) return Fail(Damage::kEventCut);
        const uint8_t type = *m_p++;
        ev.data1 = type;
        end = type == META_END_OF_TRACK;
    } else {
        m_running = 0;
        ev.data1 = 0;
    }
    ev.data2 = 0;
    uint64_t length = 0;
    bool tooLong = false;
    if (!walk::Number(m_p, m_end, length, tooLong))
        return Fail(tooLong ? Damage::kLongNumber : Damage::kEventCut);
    if (length > static_cast<uint64_t>(m_end - m_p)) return Fail(Damage::kEventCut);
    ev.payload = m_p;
    ev.length = static_cast<uint32_t>(length);
    m_p += length;
    m_ended = end;
    if (end) Stop();
    return true;
}

// Walks the data [p, end), handing every event (the end-of-track event included) to
// visit(const RawEvent&).
template <class Visit>
WalkEnd WalkTrack(const uint8_t* p, const uint8_t* end, Visit&& visit) {
    TrackCursor cursor(p, end);
    WalkEnd out;
    RawEvent ev{};
    while (cursor.Next(ev)) {
        visit(static_cast<const RawEvent&>(ev));
        out.tick = ev.tick;
        ++out.events;
    }
    out.damage = cursor.damage();
    out.stop = cursor.stop();
    out.ended = cursor.ended();
    out.longDelta = cursor.longDelta();
    return out;
}

}  // namespace score_detail
MIDIFOLIO_END_NAMESPACE
