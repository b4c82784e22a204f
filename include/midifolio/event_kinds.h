// The kinds of event a Standard MIDI File holds, by status byte and meta type: how many data
// bytes follow each status byte, the library's type code of each kind, and the names the tool
// and the Python package show. The library's two readers, its writers, its load report, the
// tool and the Python package all take these facts from here.
//
// Also here: the timing constants every part of the library shares (the tempo a song has
// before its first tempo event, the default resolution of a new song) and the conversion
// between microseconds per quarter note and beats per minute.
#pragma once

#include <cstdint>

#include "midifolio/export.h"
#include "midifolio/midi_event.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace smf {

// ------------------------------------------------------------------ chunks
constexpr char kHeaderChunkId[4] = {'M', 'T', 'h', 'd'};
constexpr char kTrackChunkId[4] = {'M', 'T', 'r', 'k'};
constexpr uint32_t kHeaderChunkLength = 6;
// A division word with this bit set counts SMPTE frames: its high byte is minus the frames
// per second (-24, -25, -29 for 29.97, -30), its low byte the ticks per frame.
constexpr uint32_t kSmpteDivisionBit = 0x8000;
// The largest delta time a file can hold (a variable-length quantity of four bytes).
constexpr uint32_t kMaxDelta = 0x0FFFFFFFu;

// ------------------------------------------------------------------ timing
// A tempo of n beats per minute lasts 60,000,000 / n microseconds per quarter note.
constexpr uint32_t kMicrosecondsPerMinute = 60000000;
// Before its first tempo event a song plays at 120 quarter notes per minute.
constexpr uint32_t kDefaultUsPerQuarter = 500000;
constexpr int32_t kDefaultBpm = 120;
// The resolution of a song made from nothing, and of the views of a song that has none.
constexpr int32_t kDefaultTicksPerQuarter = 480;

// Beats (quarter notes) per minute of a tempo in microseconds per quarter note; 0 for 0.
constexpr double BpmOfTempo(uint32_t usPerQuarter) {
    return usPerQuarter != 0 ? static_cast<double>(kMicrosecondsPerMinute) / usPerQuarter : 0.0;
}
// Microseconds per quarter note of a tempo in beats per minute, rounded to the nearest
// microsecond and kept within the three bytes a tempo event holds (1..0xFFFFFF); 0 for a
// tempo that is not positive or not a number.
constexpr uint32_t TempoOfBpm(double bpm) {
    if (!(bpm > 0)) return 0;
    const double us = kMicrosecondsPerMinute / bpm + 0.5;
    return us >= 16777215.0 ? 16777215u : us < 1.0 ? 1u : static_cast<uint32_t>(us);
}

// ------------------------------------------------------------------ status bytes
// Every kind of event, as the Standard MIDI File defines them.
enum class Kind : uint8_t {
    kNoteOff,          // 8n note velocity
    kNoteOn,           // 9n note velocity (velocity 0 ends a note)
    kKeyPressure,      // An note pressure
    kControl,          // Bn controller value
    kProgram,          // Cn program
    kChannelPressure,  // Dn pressure
    kPitchBend,        // En lsb msb
    kSysex,            // F0 length bytes: a system-exclusive message
    kSysexPacket,      // F7 length bytes: an escape, a sysex packet or raw bytes
    kSystemCommon,     // F1 a, F2 a b, F3 a, F6; F4 and F5 are undefined
    kRealtime,         // F8..FE, nothing follows
    kMeta,             // FF type length bytes
    kNone,             // a data byte (00..7F), where a status byte belongs
};

struct KindInfo {
    Kind kind;
    uint32_t typeCode;  // the EVT_* code of the library's records
    // Data bytes after the status byte, -1 for the kinds whose length follows as a
    // variable-length quantity (sysex, packets, meta events after their type byte).
    int8_t dataBytes;
    const char* name;  // as the tool's --type and the Python package name the kind
};

constexpr KindInfo kKinds[] = {
    {Kind::kNoteOff, EVT_NOTEOFF, 2, "noteoff"},
    {Kind::kNoteOn, EVT_NOTEON, 2, "noteon"},
    {Kind::kKeyPressure, EVT_KEYPRESSURE, 2, "keypressure"},
    {Kind::kControl, EVT_CONTROL, 2, "control"},
    {Kind::kProgram, EVT_PROGRAM, 1, "program"},
    {Kind::kChannelPressure, EVT_CHANPRESSURE, 1, "chanpressure"},
    {Kind::kPitchBend, EVT_PITCHBEND, 2, "pitchbend"},
    {Kind::kSysex, EVT_SYSEX, -1, "sysex"},
    {Kind::kSysexPacket, EVT_SYSEXESC, -1, "sysexesc"},
    {Kind::kSystemCommon, EVT_SYSCOMMON, 0, "syscommon"},
    {Kind::kRealtime, EVT_REALTIME, 0, "realtime"},
    {Kind::kMeta, EVT_META, -1, "meta"},
    {Kind::kNone, 0, 0, "none"},
};

constexpr const KindInfo& InfoOf(Kind kind) {
    return kKinds[static_cast<int>(kind)];
}

// The kind of a status byte (kNone for a data byte).
constexpr Kind KindOfStatus(uint8_t status) {
    if (status < 0x80) return Kind::kNone;
    if (status < 0xF0) return static_cast<Kind>((status >> 4) - 8);
    switch (status) {
        case 0xF0:
            return Kind::kSysex;
        case 0xF7:
            return Kind::kSysexPacket;
        case 0xFF:
            return Kind::kMeta;
        default:
            return status < 0xF8 ? Kind::kSystemCommon : Kind::kRealtime;
    }
}

// Data bytes after a status byte: 1 or 2 for channel messages, 0..2 for system common and
// real-time messages, -1 where a variable-length quantity gives the length (F0, F7, FF).
constexpr int DataBytes(uint8_t status) {
    if (status < 0x80) return 0;
    if (status < 0xF0) return InfoOf(KindOfStatus(status)).dataBytes;
    switch (status) {
        case 0xF1:
        case 0xF3:
            return 1;
        case 0xF2:
            return 2;
        case 0xF0:
        case 0xF7:
        case 0xFF:
            return -1;
        default:
            return 0;
    }
}

constexpr bool IsChannelStatus(uint8_t status) {
    return status >= 0x80 && status < 0xF0;
}

// The library's type code of a status byte (0 for a data byte).
constexpr uint32_t TypeCodeOfStatus(uint8_t status) {
    return InfoOf(KindOfStatus(status)).typeCode;
}

// The status byte of a type code on a channel (the system kinds keep their own status, which
// the record carries elsewhere: 0 is returned for them).
constexpr uint8_t StatusOfTypeCode(uint32_t typeCode, uint8_t channel) {
    for (int k = 0; k < 7; ++k)
        if (kKinds[k].typeCode == typeCode)
            return static_cast<uint8_t>(0x80 + 16 * k + (channel & 15));
    return typeCode == EVT_SYSEX      ? 0xF0
           : typeCode == EVT_SYSEXESC ? 0xF7
           : typeCode == EVT_META     ? 0xFF
                                      : 0;
}

// ------------------------------------------------------------------ meta types
struct MetaInfo {
    uint8_t type;
    // The payload CMidiTrack's decoder reads for the type whatever its length says (0: as
    // long as it says): port, tempo, SMPTE offset, time and key signature.
    uint8_t fixedLength;
    // The payload the standard gives the type (0 for the ones of any length); the writer
    // writes exactly this much.
    uint8_t standardLength;
    bool text;          // its payload is text
    const char* key;    // short name, as the Python package and JSON name it
    const char* label;  // as the tool's text output names it
};

constexpr MetaInfo kMetaTypes[] = {
    {META_SEQUENCE_NUMBER, 0, 2, false, "sequence_number", "sequence number"},
    {META_TEXT, 0, 0, true, "text", "text"},
    {META_COPYRIGHT, 0, 0, true, "copyright", "copyright"},
    {META_TRACK_NAME, 0, 0, true, "track_name", "track name"},
    {META_INSTRUMENT_NAME, 0, 0, true, "instrument", "instrument name"},
    {META_LYRIC, 0, 0, true, "lyric", "lyric"},
    {META_MARKER, 0, 0, true, "marker", "marker"},
    {META_CUE_POINT, 0, 0, true, "cue", "cue point"},
    {META_PROGRAM_NAME, 0, 0, true, "program_name", "program name"},
    {META_DEVICE_NAME, 0, 0, true, "device_name", "device name"},
    {META_CHANNEL_PREFIX, 0, 1, false, "channel_prefix", "channel prefix"},
    {META_PORT, 1, 1, false, "port", "port"},
    {META_END_OF_TRACK, 0, 0, false, "end_of_track", "end of track"},
    {META_TEMPO, 3, 3, false, "tempo", "tempo"},
    {META_SMPTE_OFFSET, 5, 5, false, "smpte_offset", "SMPTE offset"},
    {META_TIME_SIGNATURE, 4, 4, false, "time_signature", "time signature"},
    {META_KEY_SIGNATURE, 2, 2, false, "key_signature", "key signature"},
    {META_SEQUENCER_SPECIFIC, 0, 0, false, "sequencer_specific", "sequencer specific"},
};

// The row of a meta type; null for a type the standard does not name.
constexpr const MetaInfo* MetaInfoOf(uint32_t type) {
    for (const MetaInfo& m : kMetaTypes)
        if (m.type == type) return &m;
    return nullptr;
}

// The fixed payload size of a meta type (see MetaInfo::fixedLength); 0 for the others.
constexpr uint32_t FixedMetaSize(uint32_t type) {
    const MetaInfo* m = MetaInfoOf(type);
    return m != nullptr ? m->fixedLength : 0;
}

}  // namespace smf
MIDIFOLIO_END_NAMESPACE
