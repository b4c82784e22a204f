// CMidiTrack: decoding the data bytes of a track chunk into the event list, in one forward
// pass that feeds the tempo map, the program table and the note-usage table.
#include <algorithm>
#include <cstddef>
#include <tuple>

#include "midifolio/midi_track.h"
#include "track/event_store.h"
#include "track/smf_bytes.h"

MIDIFOLIO_BEGIN_NAMESPACE

using smf::kVlqFailure;
using smf::OneDataByte;
using smf::ReadVlq;

namespace {

// The data union and dwLength of the working record are kept as 4-byte words in the byte
// order of the record, so that a kind that sets only some of their bytes leaves the others
// as the previous event had them. Byte i is the i-th lowest addressed byte.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr unsigned ByteShift(unsigned i) {
    return 24 - 8 * i;
}
constexpr uint32_t kLowHalfMask = 0xFFFF0000u;  // wBend is the first two bytes
constexpr unsigned kHalfShift = 16;
#else
constexpr unsigned ByteShift(unsigned i) {
    return 8 * i;
}
constexpr uint32_t kLowHalfMask = 0x0000FFFFu;
constexpr unsigned kHalfShift = 0;
#endif

inline uint32_t WithByte(uint32_t word, unsigned i, uint32_t value) {
    return (word & ~(0xFFu << ByteShift(i))) | (value << ByteShift(i));
}
inline uint32_t WithBytes01(uint32_t word, uint32_t b0, uint32_t b1) {
    return WithByte(WithByte(word, 0, b0), 1, b1);
}
inline uint32_t WithHalf(uint32_t word, uint32_t half) {
    return (word & ~kLowHalfMask) | (half << kHalfShift);
}

// True when n more bytes lie between p and end.
inline bool Has(const uint8_t* p, const uint8_t* end, uint64_t n) {
    return n <= static_cast<uint64_t>(end - p);
}

// The state of one decoding pass, kept in a local object (not in the track) so that the
// compiler can hold it in registers while nodes are written.
struct DecodeState {
    const uint8_t* p;
    const uint8_t* end;
    uint32_t runningType;
    uint32_t runningChannel;
    // (Byte-sized values are held in 32 bits: a byte spilled to the stack and read back
    // wider would stall the pass.)
    uint32_t port;  // the port in force
    // The working record: the fields an event's kind does not set keep the previous event's.
    uint32_t time;
    uint32_t delta;
    uint32_t evPort;
    uint32_t channel;
    uint32_t type;
    uint32_t data;    // byData1..4 / wBend / dwSubType
    uint32_t length;  // dwLength
    uint8_t* payload;
};

// A VLQ length, then that many payload bytes copied into a new buffer (sysex and the metas
// of variable length). False when the bytes run out or no memory is left for the buffer.
inline bool ReadPayload(DecodeState& s, track_detail::EventStore& store) {
    const uint32_t length = ReadVlq(s.p, s.end);
    if (length == kVlqFailure) return false;
    s.length = length;
    if (!Has(s.p, s.end, length)) return false;
    s.payload = store.ArenaPayload(length, s.p);
    if (length != 0 && s.payload == nullptr) return false;
    s.p += length;
    return true;
}

// The next node of the store's room [cursor, roomEnd), taking a new block of `wanted` nodes
// when the room is used up; null when no memory is left.
inline MIDIEventPtr* NextNode(track_detail::EventStore& store, MIDIEventPtr*& cursor,
                              MIDIEventPtr*& roomEnd, size_t wanted) {
    if (cursor == roomEnd) {
        if (cursor != nullptr) store.Take(cursor);
        std::tie(cursor, roomEnd) = store.Room(wanted);
        if (cursor == nullptr) return nullptr;
    }
    return cursor++;
}

// Every field of the node from the working record (the node takes over the payload); pNext
// is written when the next node is linked, or at the end of the pass.
inline void Fill(MIDIEventPtr& node, const DecodeState& s) {
    node.lTime = static_cast<int32_t>(s.time);
    node.dwDelta = s.delta;
    node.byPort = static_cast<uint8_t>(s.evPort);
    node.byChannel = static_cast<uint8_t>(s.channel);
    node.dwType = s.type;
    node.dwSubType = s.data;
    node.dwLength = s.length;
    node.pData = s.payload;
}

}  // namespace

int CMidiTrack::SetMidiTrackRawData(const uint8_t* pData, int32_t lLength) {
    if (pData == nullptr || lLength <= 0) return 0;
    // Decoding into a track that holds events replaces them: the old nodes are released.
    RemoveAllPt();
    m_lTrkLen = lLength;
    uint32_t count = 0;
    const int result = RawData2EventList(pData, static_cast<uint32_t>(lLength), m_pLast, count);
    m_lEventCount = static_cast<int32_t>(count);
    return result;
}

// A variable-length quantity within the byte budget: the track's length less the bytes read
// so far (m_lReadCount), which grows by the bytes it takes. On failure nothing is taken.
uint32_t CMidiTrack::ReadVarLen(const uint8_t*& p) {
    const int64_t left = std::max<int64_t>(int64_t{m_lTrkLen} - m_lReadCount, 0);
    const uint8_t* q = p;
    const uint32_t value = ReadVlq(q, p + left);
    if (value == kVlqFailure) return value;
    m_lReadCount += q - p;
    p = q;
    return value;
}

// The decoding pass over the track's members (a friend of CMidiTrack). Each step reports
// false when the bytes run out (a payload may then be left in s.payload).
struct track_detail::Decoder {
    static int Event(CMidiTrack& t, DecodeState& s);
    static bool FastChannel(CMidiTrack& t, DecodeState& s);
    static bool Channel(CMidiTrack& t, DecodeState& s, uint32_t status);
    static bool SystemCommon(DecodeState& s, uint32_t status);
    static int Meta(CMidiTrack& t, DecodeState& s);
    static void MapMeta(CMidiTrack& t, DecodeState& s, uint32_t type, const uint8_t* d);
    static bool DeltaAfter(DecodeState& s);
    static void ChannelData(CMidiTrack& t, DecodeState& s, uint32_t first, uint32_t second);
    static void NoteOnUsage(CMidiTrack& t, uint32_t channel, uint32_t note, uint32_t velocity);
};

// Decodes the event at s.p into the working record and reads the delta time after it.
// 0: an event; -2: the end-of-track event; -1: the bytes ran out.
inline int track_detail::Decoder::Event(CMidiTrack& t, DecodeState& s) {
    s.payload = nullptr;
    if (!Has(s.p, s.end, 1)) return -1;
    const uint32_t lead = s.p[0];
    // The common case first: a channel message with at least four bytes left, enough for
    // the message and the first byte of the delta after it, so that no byte needs a check.
    if (lead < 0xF0 && (lead >= 0x80 || s.runningType != 0) && Has(s.p, s.end, 4))
        return FastChannel(t, s) ? 0 : -1;

    const uint32_t status = *s.p++;
    int kind = 0;  // 0, or -2 for the end of the track, or -1
    if (status < 0xF0) {
        kind = Channel(t, s, status) ? 0 : -1;
    } else if (status == 0xF0) {
        s.runningType = 0;
        s.type = EVT_SYSEX;
        s.channel = 255;
        s.evPort = s.port;
        kind = ReadPayload(s, *t.m_pStore) ? 0 : -1;
    } else if (status <= 0xF7) {
        kind = SystemCommon(s, status) ? 0 : -1;
    } else if (status != 0xFF) {
        // Real-time: running status stays in force.
        s.type = EVT_REALTIME;
        s.data = status;
        s.channel = 255;
        s.evPort = s.port;
    } else {
        kind = Meta(t, s);
    }
    if (kind == -1 || !DeltaAfter(s)) return -1;
    return kind;
}

// A channel message with its bytes and the first byte of the delta known to be there.
inline bool track_detail::Decoder::FastChannel(CMidiTrack& t, DecodeState& s) {
    const uint8_t*& p = s.p;
    const uint8_t* d = p;  // the data bytes
    if (p[0] >= 0x80) {
        s.channel = p[0] & 0x0Fu;
        s.runningType = smf::ChannelType(p[0]);
        s.runningChannel = s.channel;
        ++d;
    } else {
        s.channel = s.runningChannel & 0xFFu;
    }
    s.type = s.runningType;
    s.evPort = s.port;
    ChannelData(t, s, d[0], d[1]);  // d[1] lies within the four bytes even when not used
    p = d + (OneDataByte(s.type) ? 1 : 2);
    if (*p < 0x80) {
        s.delta = *p++;
        return true;
    }
    s.delta = ReadVlq(p, s.end);
    return s.delta != kVlqFailure;
}

// Channel messages, with their status byte or in running status (status is then the first
// data byte), each byte checked.
inline bool track_detail::Decoder::Channel(CMidiTrack& t, DecodeState& s, uint32_t status) {
    const uint8_t*& p = s.p;
    uint32_t first;
    if (status >= 0x80) {
        s.channel = status & 0x0Fu;
        s.type = smf::ChannelType(status);
        s.runningType = s.type;
        s.runningChannel = s.channel;
        if (!Has(p, s.end, 1)) return false;
        first = *p++;
    } else {
        // Without running status in force the record gets type code 0 and two data bytes.
        s.type = s.runningType;
        s.channel = s.runningChannel & 0xFFu;
        first = status;
    }
    s.evPort = s.port;
    uint32_t second = 0;
    if (!OneDataByte(s.type)) {
        if (!Has(p, s.end, 1)) return false;
        second = *p++;
    }
    ChannelData(t, s, first, second);
    return true;
}

// System common; 0xF7 too is a one-byte event here, no length follows it.
inline bool track_detail::Decoder::SystemCommon(DecodeState& s, uint32_t status) {
    const uint8_t*& p = s.p;
    s.runningType = 0;
    s.type = EVT_SYSCOMMON;
    s.data = status;
    s.channel = 255;
    s.evPort = s.port;
    if (status == 0xF1 || status == 0xF3) {
        if (!Has(p, s.end, 1)) return false;
        s.length = WithByte(s.length, 0, *p++);
    } else if (status == 0xF2) {
        if (!Has(p, s.end, 2)) return false;
        s.length = WithBytes01(s.length, p[0], p[1]);
        p += 2;
    }
    return true;
}

// A meta event (running status stays alone). 0, -2 for the end of the track, -1.
inline int track_detail::Decoder::Meta(CMidiTrack& t, DecodeState& s) {
    const uint8_t*& p = s.p;
    s.type = EVT_META;
    if (!Has(p, s.end, 1)) return -1;
    const uint32_t type = *p++;
    s.data = type;
    s.channel = 255;
    s.evPort = s.port;
    if (type == META_END_OF_TRACK) {
        s.length = 0;
        return -2;
    }
    const uint32_t fixed = smf::FixedMetaSize(type);
    if (fixed == 0) return ReadPayload(s, *t.m_pStore) ? 0 : -1;
    // One length byte, then exactly the fixed count. dwLength holds the fixed count (the size
    // of the buffer), whatever the length byte said, so no later reader of the buffer can run
    // past it.
    if (!Has(p, s.end, 1 + fixed)) return -1;
    ++p;  // the length byte
    s.length = fixed;
    s.payload = t.m_pStore->ArenaPayload(fixed, p);
    if (s.payload == nullptr) return -1;
    p += fixed;
    MapMeta(t, s, type, s.payload);
    return 0;
}

// What a fixed-size meta event sets: the port in force, or an entry of the tempo map.
inline void track_detail::Decoder::MapMeta(CMidiTrack& t, DecodeState& s, uint32_t type,
                                           const uint8_t* d) {
    if (type == META_PORT) {
        s.port = d[0];
        s.evPort = d[0];
        return;
    }
    if (t.m_pTempo == nullptr) return;
    if (type == META_TEMPO) {
        _TEMPO tempo{};
        tempo.lTicks = static_cast<int32_t>(s.time);
        tempo.lMsecs = 0;
        tempo.lUsPerQuarter = static_cast<int32_t>(smf::ReadBigEndian(d, 3));
        t.m_pTempo->SetTempo(tempo);
    } else if (type == META_TIME_SIGNATURE) {
        // 2 to the file's exponent; an exponent beyond 31 cannot be a note value and gives 0.
        _BAR bar{d[0], d[1] < 32 ? (1u << d[1]) : 0u};
        t.m_pTempo->SetBar(bar);
    } else if (type == META_KEY_SIGNATURE) {
        _KEY key{d[0], d[1]};
        t.m_pTempo->SetKeySignature(key);
    }
}

// The delta time after the event. Data that ends right after a complete event lacks only
// this delta: it counts as 0. A delta that starts but does not end fails.
inline bool track_detail::Decoder::DeltaAfter(DecodeState& s) {
    if (s.p == s.end) {
        s.delta = 0;
        return true;
    }
    const uint32_t delta = ReadVlq(s.p, s.end);
    if (delta == kVlqFailure) return false;
    s.delta = delta;
    return true;
}

// The data bytes of a channel message (second unused by the one-byte kinds) into the working
// record, and the program and note-usage tables they feed.
inline void track_detail::Decoder::ChannelData(CMidiTrack& t, DecodeState& s, uint32_t first,
                                               uint32_t second) {
    if (OneDataByte(s.type)) {
        s.data = WithByte(s.data, 0, first);
        if (s.type == EVT_PROGRAM && s.channel != PERCUSSION_CHANNEL)
            t.m_nProgram[s.channel & 0x0F] = first;
    } else if (s.type == EVT_PITCHBEND) {
        s.data = WithHalf(s.data, first + 128u * second);
    } else {
        s.data = WithBytes01(s.data, first, second);
        if (s.type == EVT_NOTEON) NoteOnUsage(t, s.channel, first, second);
    }
}

// Note-usage table of a decoded note-on. Data bytes of 128 and above never index a table.
inline void track_detail::Decoder::NoteOnUsage(CMidiTrack& t, uint32_t channel, uint32_t note,
                                               uint32_t velocity) {
    if (channel == PERCUSSION_CHANNEL) {
        if (note < GM_DRUM_FIRST || note > GM_DRUM_LAST)
            t.m_bPercussValid = 0;
        else if (velocity > 0)
            t.m_NoteUsage[NOTE_USAGE_PERCUSSION_ROW * 128 + note] = true;
    } else if (velocity > 0 && note < 128) {
        const int32_t program = t.m_nProgram[channel & 0x0F];
        if (program >= 0 && program < 128)
            t.m_NoteUsage[static_cast<size_t>(program) * 128 + note] = true;
    }
}

// Decodes into nodes appended to the list (SetMidiTrackRawData empties it first).
int CMidiTrack::RawData2EventList(const uint8_t* pData, uint32_t dwLength, MIDIEventPtr*& pLast,
                                  uint32_t& dwCount) {
    // Never read beyond either the bytes given or the track's budget.
    const int64_t budget = std::min<int64_t>(dwLength, std::max<int32_t>(m_lTrkLen, 0));
    track_detail::EventStore& store = *m_pStore;
    const uint8_t* const dataEnd = pData + budget;
    store.ExpectPayloadBytes(static_cast<size_t>(budget));
    store.InvalidateIndex();
    store.decodeStop = -1;
    store.outOfMemory = false;
    m_dwRunningType = 0;
    dwCount = 0;
    m_lReadCount = 0;

    DecodeState s{};
    s.p = pData;
    s.end = dataEnd;
    s.runningType = 0;
    s.runningChannel = m_nRunningChannel;
    s.port = m_byPort;
    const uint32_t first = ReadVlq(s.p, s.end);
    if (first == kVlqFailure) {
        store.decodeStop = 0;
        m_lReadCount = s.p - pData;
        return 0;
    }
    s.time = first;

    // Nodes are taken in order from the store's room [cursor, roomEnd), and linked through
    // link, the pNext field of the last node (or the head). An event takes at least two
    // bytes: a first block for budget / 2 + 1 nodes holds a short track whole.
    const size_t wanted = static_cast<size_t>(budget / 2 + 1);
    MIDIEventPtr* cursor = nullptr;
    MIDIEventPtr* roomEnd = nullptr;
    MIDIEventPtr* head = m_pHead;
    MIDIEventPtr* tail = m_pTail;
    MIDIEventPtr** link = tail != nullptr ? &tail->pNext : &head;
    uint32_t count = 0;

    int result = 1;
    for (;;) {
        const uint8_t* start = s.p;
        const int rc = track_detail::Decoder::Event(*this, s);
        // The bytes ran out, or no memory is left for the event's node.
        MIDIEventPtr* const node = rc == -1 ? nullptr : NextNode(store, cursor, roomEnd, wanted);
        if (node == nullptr) {
            // (A payload already cut goes with the arena.)
            store.decodeStop = start - pData;
            result = 0;
            break;
        }
        Fill(*node, s);
        *link = node;
        link = &node->pNext;
        tail = node;
        ++count;

        s.time += s.delta;
        if (rc == -2 || s.p >= s.end) break;
    }
    *link = nullptr;
    if (cursor != nullptr) store.Take(cursor);
    m_pHead = head;
    m_pTail = tail;
    if (count != 0) pLast = tail;
    dwCount = count;
    m_dwRunningType = s.runningType;
    m_nRunningChannel = s.runningChannel;
    m_byPort = static_cast<uint8_t>(s.port);
    m_lReadCount = s.p - pData;  // the bytes stay the caller's: no reference to them is kept
    return result;
}

MIDIFOLIO_END_NAMESPACE
