// The decoded event record, the node of a track's event list, and the event type codes.
#pragma once

#include <cstdint>

namespace midifolio {

// Event type codes (MIDIEvent::dwType), one bit per kind.
constexpr uint32_t EVT_NOTEON = 0x0001;        // 0x9n
constexpr uint32_t EVT_NOTEOFF = 0x0002;       // 0x8n
constexpr uint32_t EVT_KEYPRESSURE = 0x0040;   // 0xAn
constexpr uint32_t EVT_CONTROL = 0x0080;       // 0xBn
constexpr uint32_t EVT_PROGRAM = 0x0100;       // 0xCn
constexpr uint32_t EVT_CHANPRESSURE = 0x0200;  // 0xDn
constexpr uint32_t EVT_PITCHBEND = 0x0400;     // 0xEn
constexpr uint32_t EVT_SYSEX = 0x0800;         // 0xF0
constexpr uint32_t EVT_META = 0x1000;          // 0xFF
constexpr uint32_t EVT_SYSCOMMON = 0x2000;     // 0xF1..0xF7
constexpr uint32_t EVT_REALTIME = 0x4000;      // 0xF8..0xFE
// Escaped sysex packet, written as F7 <length> <payload>. Made only by editing: the decoder
// reads an F7 status byte as a one-byte EVT_SYSCOMMON event (no length or payload follows
// it), so a stored EVT_SYSEXESC event does not load back as one, and files that carry sysex
// in F7 packets decode differently here than in readers that take F7 as a sysex packet.
constexpr uint32_t EVT_SYSEXESC = 0x8000;

// True for the three kinds whose pData is a buffer owned by the track.
constexpr bool OwnsPayload(uint32_t dwType) {
    return dwType == EVT_META || dwType == EVT_SYSEX || dwType == EVT_SYSEXESC;
}

// One decoded event, copied by value.
struct MIDIEvent {
    int32_t lTime;      // absolute time in ticks (milliseconds after Convert2MSecond)
    uint32_t dwDelta;   // ticks from this event to the NEXT event of the track
    uint8_t byPort;     // MIDI port in force (last port meta 0x21), 0 before any
    uint8_t byChannel;  // 0..15 for channel messages, 255 otherwise
    uint32_t dwType;    // EVT_* code; 0 for a data byte without running status
    union {
        struct {
            uint8_t byData1;  // note / controller / program / pressure
            uint8_t byData2;  // velocity / value / pressure
            uint8_t byData3;  // unused
            uint8_t byData4;  // unused
        };
        uint16_t wBend;      // pitch bend 0..16383, centre 8192
        uint32_t dwSubType;  // meta type, or status byte of system common / real-time
    };
    // Meta and sysex: payload length in bytes. System common: its data bytes (lowest
    // addressed byte first). Note-offs paired by GetNextNoteOff hold 0xFFFFFFFF.
    uint32_t dwLength;
    uint8_t* pData;  // payload of meta/sysex events, owned by the track; null otherwise
};

// Node of a track's singly linked event list: the event followed by the link.
struct MIDIEventPtr : MIDIEvent {
    MIDIEventPtr* pNext;
};

// Position in a track's event list: the address of a node, null for none / past the end.
using POSITION = MIDIEventPtr*;

// Pairing mark stored in dwLength of a note-off that GetNextNoteOff has handed out.
constexpr uint32_t PAIRING_MARK = 0xFFFFFFFFu;

}  // namespace midifolio
