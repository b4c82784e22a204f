// Writing one track's events as the data of a valid track chunk. Every file the library
// writes gets its tracks from here: a sequence's (score::Encode) and a song made of notes,
// which writes its events as they come, without a sequence. Private to score/.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "midifolio/export.h"
#include "midifolio/song.h"
#include "track/smf_bytes.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace score_detail {

class TrackEncoder {
  public:
    // Delta times up to maxDelta are written (beyond 28 bits only for the library's own
    // reading). The bytes reach `out` by End at the latest, `stage` bytes at a time (at least
    // 16; a writer of many tracks at once keeps it small).
    TrackEncoder(std::vector<uint8_t>& out, uint64_t maxDelta, size_t stage = kStage)
        : m_out(out), m_maxDelta(maxDelta), m_stage(std::max<size_t>(stage, 16)) {}
    static constexpr size_t kStage = 4096;

    // Any event of a sequence, its payload in `payloads`. What has no form in a file is left
    // out: undefined status bytes, data bytes standing alone, an end of track before the
    // last event (the end comes with End), a meta event too short to be read. False (why()
    // says why) when the track cannot be written validly.
    bool Put(const score::Event& e, const std::vector<uint8_t>& payloads);
    // A channel message (status 0x80..0xEF): Put's rules, without a payload to look at.
    __attribute__((always_inline)) bool Channel(int64_t tick, uint8_t status, uint8_t data1,
                                                uint8_t data2) {
        if (!At(tick) || !Written()) return false;
        ChannelBytes(status, data1, data2);
        return true;
    }
    // The end of track, at the latest tick put.
    bool End();
    const std::string& why() const { return m_why; }

  private:
    static uint8_t DataByte(uint8_t b) { return b > 127 ? 127 : b; }
    bool Fail(const std::string& why) {
        m_why = why;
        return false;
    }
    // Takes an event's tick (below 0 read as 0): false when it comes before the last one.
    bool At(int64_t tick) {
        m_tick = tick < 0 ? 0 : tick;
        if (m_tick < m_previous) return Fail("its events are not in time order");
        if (m_tick > m_endTick) m_endTick = m_tick;
        return true;
    }
    // The delta time from the last event written to the tick taken.
    bool Written() {
        const uint64_t delta = static_cast<uint64_t>(m_tick - m_previous);
        if (delta > m_maxDelta) return TooFar(delta);
        if (delta < 0x80)
            Byte(static_cast<uint8_t>(delta));
        else
            Vlq(static_cast<uint32_t>(delta));
        m_previous = m_tick;
        return true;
    }
    // A channel message's bytes after its delta time: its status unless running status
    // holds, its data bytes.
    void ChannelBytes(uint8_t status, uint8_t data1, uint8_t data2) {
        Room(3);
        if (status != m_running) m_stage[m_used++] = status;
        m_running = status;
        m_stage[m_used++] = DataByte(data1);
        if (smf::DataBytes(status) == 2) m_stage[m_used++] = DataByte(data2);
    }
    // Events' bytes are gathered in m_stage and appended to m_out a stage at a time
    // (appending each event's few bytes on its own took a call into the library each).
    void Room(size_t n) {
        if (m_used + n > m_stage.size()) Flush();
    }
    void Flush() {
        m_out.insert(m_out.end(), m_stage.data(), m_stage.data() + m_used);
        m_used = 0;
    }
    void Byte(uint8_t b) {
        Room(1);
        m_stage[m_used++] = b;
    }
    void Vlq(uint32_t value) {
        Room(5);
        m_used =
            static_cast<size_t>(smf::WriteVlq(m_stage.data() + m_used, value) - m_stage.data());
    }
    void Append(const uint8_t* p, size_t n) {
        Flush();
        m_out.insert(m_out.end(), p, p + n);
    }
    bool TooFar(uint64_t delta);

    std::vector<uint8_t>& m_out;
    const uint64_t m_maxDelta;
    int64_t m_tick = 0;
    int64_t m_previous = 0;
    int64_t m_endTick = 0;
    uint8_t m_running = 0;
    std::vector<uint8_t> m_meta;
    std::string m_why;
    size_t m_used = 0;
    std::vector<uint8_t> m_stage;
};

}  // namespace score_detail
MIDIFOLIO_END_NAMESPACE
