// The decoded event record, the node of a track's event list, and the event type codes.
#pragma once

#include <cstdint>

#include "midifolio/export.h"

MIDIFOLIO_BEGIN_NAMESPACE

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
// Escaped sysex packet, written as F7 <length> <payload>. CMidiTrack's decoder never makes
// one: it reads an F7 status byte as a one-byte EVT_SYSCOMMON event (no length or payload
// follows it), so a stored EVT_SYSEXESC event does not load back as one there. The exact
// layer (midifolio/song.h) reads F7 packets as the standard defines them, as this code.
constexpr uint32_t EVT_SYSEXESC = 0x8000;

// Meta event types (dwSubType of an EVT_META event).
constexpr uint32_t META_SEQUENCE_NUMBER = 0x00;
constexpr uint32_t META_TEXT = 0x01;
constexpr uint32_t META_COPYRIGHT = 0x02;
constexpr uint32_t META_TRACK_NAME = 0x03;
constexpr uint32_t META_INSTRUMENT_NAME = 0x04;
constexpr uint32_t META_LYRIC = 0x05;
constexpr uint32_t META_MARKER = 0x06;
constexpr uint32_t META_CUE_POINT = 0x07;
constexpr uint32_t META_PROGRAM_NAME = 0x08;
constexpr uint32_t META_DEVICE_NAME = 0x09;
constexpr uint32_t META_CHANNEL_PREFIX = 0x20;
constexpr uint32_t META_PORT = 0x21;
constexpr uint32_t META_END_OF_TRACK = 0x2F;
constexpr uint32_t META_TEMPO = 0x51;
constexpr uint32_t META_SMPTE_OFFSET = 0x54;
constexpr uint32_t META_TIME_SIGNATURE = 0x58;
constexpr uint32_t META_KEY_SIGNATURE = 0x59;
constexpr uint32_t META_SEQUENCER_SPECIFIC = 0x7F;

// The percussion channel (index 9, MIDI channel 10).
constexpr uint8_t PERCUSSION_CHANNEL = 9;
// Controllers with a meaning of their own here.
constexpr uint8_t CONTROL_BANK_SELECT_LSB = 32;  // the bank of an instrument or drum
constexpr uint8_t CONTROL_SUSTAIN_PEDAL = 64;    // 64..127 pressed, 0..63 released
// The General MIDI percussion key map: notes 35 (Acoustic Bass Drum) to 81 (Open Triangle).
constexpr uint8_t GM_DRUM_FIRST = 35;
constexpr uint8_t GM_DRUM_LAST = 81;

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
    // (__extension__: anonymous structs in a union are a GNU extension every compiler of
    // the platform takes; it keeps -Wpedantic quiet.)
    union {
        __extension__ struct {
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

MIDIFOLIO_END_NAMESPACE
