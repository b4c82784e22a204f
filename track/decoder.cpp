// CMidiTrack: decoding the data bytes of a track chunk into the event list, in one forward
// pass that feeds the tempo map, the program table and the note-usage table.
#include <algorithm>

#include "midifolio/midi_track.h"
#include "track/track_internal.h"

namespace midifolio {

using track_detail::DeletePayload;

namespace {

constexpr uint32_t kVarLenFailure = 0xFFFFFFFFu;

// Type codes of the channel messages 0x8n..0xEn, by high nibble.
constexpr uint32_t kChannelTypes[7] = {EVT_NOTEOFF, EVT_NOTEON,       EVT_KEYPRESSURE, EVT_CONTROL,
                                       EVT_PROGRAM, EVT_CHANPRESSURE, EVT_PITCHBEND};

// Fixed payload size of the meta types read with a one-byte length; 0 for the others.
constexpr uint32_t FixedMetaSize(uint32_t type) {
    switch (type) {
        case 0x21:
            return 1;
        case 0x51:
            return 3;
        case 0x54:
            return 5;
        case 0x58:
            return 4;
        case 0x59:
            return 2;
        default:
            return 0;
    }
}

// A variable-length quantity at p, not reading at or beyond end. On success p moves past it;
// kVarLenFailure when the bytes run out (p unmoved). Values keep their low 32 bits.
inline uint32_t ReadVlq(const uint8_t*& p, const uint8_t* end) {
    const uint8_t* q = p;
    if (q >= end) return kVarLenFailure;
    uint32_t byte = *q++;
    if (!(byte & 0x80)) {  // the common one-byte case
        p = q;
        return byte;
    }
    uint32_t value = byte & 0x7F;
    do {
        if (q >= end) return kVarLenFailure;
        byte = *q++;
        value = (value << 7) | (byte & 0x7F);
    } while (byte & 0x80);
    p = q;
    return value;
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

// The byte budget: m_pDataEnd marks the end of the bytes that may be read; every read first
// checks that the bytes it takes lie before it (a pointer difference, so no counter can
// wrap). m_lReadCount tells how many bytes were consumed when the run ended.
uint32_t CMidiTrack::ReadVarLen(const uint8_t*& p) {
    return ReadVlq(p, m_pDataEnd);
}

// Decodes the event at p into ev and reads the delta time after it. 0: an event; -2: the
// end-of-track event; -1: the bytes ran out (a payload may then be left in ev.pData).
inline int CMidiTrack::DecodeEvent(const uint8_t*& p, MIDIEvent& ev) {
    const uint8_t* end = m_pDataEnd;
    auto has = [&](uint64_t n) { return n <= static_cast<uint64_t>(end - p); };
    // A VLQ length, then that many payload bytes copied into a new buffer (sysex and the
    // metas of variable length).
    auto readPayload = [&]() {
        const uint32_t length = ReadVlq(p, end);
        if (length == kVarLenFailure) return false;
        ev.dwLength = length;
        if (!has(length)) return false;
        ev.pData = track_detail::NewPayload(length, p);
        if (length != 0 && ev.pData == nullptr) return false;
        p += length;
        return true;
    };
    ev.pData = nullptr;
    if (!has(1)) return -1;
    const uint8_t status = *p++;
    bool endOfTrack = false;

    if (status >= 0x80 && status <= 0xEF) {
        ev.byPort = m_byPort;
        ev.byChannel = status & 0x0F;
        ev.dwType = kChannelTypes[(status >> 4) - 8];
        m_dwRunningType = ev.dwType;
        m_nRunningChannel = ev.byChannel;
        if (ev.dwType == EVT_PROGRAM || ev.dwType == EVT_CHANPRESSURE) {
            if (!has(1)) return -1;
            ev.byData1 = *p++;
        } else {
            if (!has(2)) return -1;
            if (ev.dwType == EVT_PITCHBEND) {
                ev.wBend = static_cast<uint16_t>(p[0] + 128u * p[1]);
            } else {
                ev.byData1 = p[0];
                ev.byData2 = p[1];
            }
            p += 2;
        }
    } else if (status < 0x80) {
        // Running status: this byte is the first data byte. Without running status in force
        // the record gets type code 0 and two data bytes.
        ev.byPort = m_byPort;
        ev.dwType = m_dwRunningType;
        ev.byChannel = static_cast<uint8_t>(m_nRunningChannel);
        if (ev.dwType == EVT_PROGRAM || ev.dwType == EVT_CHANPRESSURE) {
            ev.byData1 = status;
        } else if (ev.dwType == EVT_PITCHBEND) {
            if (!has(1)) return -1;
            ev.wBend = static_cast<uint16_t>(status + 128u * *p++);
        } else {
            if (!has(1)) return -1;
            ev.byData1 = status;
            ev.byData2 = *p++;
        }
    } else if (status == 0xF0) {
        m_dwRunningType = 0;
        ev.dwType = EVT_SYSEX;
        ev.byChannel = 255;
        ev.byPort = m_byPort;
        if (!readPayload()) return -1;
    } else if (status <= 0xF7) {
        // System common; 0xF7 too is a one-byte event here, no length follows it.
        m_dwRunningType = 0;
        ev.dwType = EVT_SYSCOMMON;
        ev.dwSubType = status;
        ev.byChannel = 255;
        ev.byPort = m_byPort;
        uint8_t* bytes = reinterpret_cast<uint8_t*>(&ev.dwLength);
        if (status == 0xF1 || status == 0xF3) {
            if (!has(1)) return -1;
            bytes[0] = *p++;
        } else if (status == 0xF2) {
            if (!has(2)) return -1;
            bytes[0] = p[0];
            bytes[1] = p[1];
            p += 2;
        }
    } else if (status != 0xFF) {
        // Real-time: running status stays in force.
        ev.dwType = EVT_REALTIME;
        ev.dwSubType = status;
        ev.byChannel = 255;
        ev.byPort = m_byPort;
    } else {
        // Meta events leave running status alone.
        ev.dwType = EVT_META;
        if (!has(1)) return -1;
        const uint32_t type = *p++;
        ev.dwSubType = type;
        ev.byChannel = 255;
        ev.byPort = m_byPort;
        const uint32_t fixed = FixedMetaSize(type);
        if (type == 0x2F) {
            ev.dwLength = 0;
            endOfTrack = true;
        } else if (fixed != 0) {
            // One length byte, then exactly the fixed count. dwLength holds the fixed count
            // (the size of the buffer), whatever the length byte said, so no later reader of
            // the buffer can run past it.
            if (!has(1 + fixed)) return -1;
            ++p;  // the length byte
            ev.dwLength = fixed;
            ev.pData = track_detail::NewPayload(fixed, p);
            if (ev.pData == nullptr) return -1;
            p += fixed;
            const uint8_t* d = ev.pData;
            switch (type) {
                case 0x21:
                    m_byPort = d[0];
                    ev.byPort = d[0];
                    break;
                case 0x51:
                    if (m_pTempo != nullptr) {
                        _TEMPO tempo{};
                        tempo.lTicks = ev.lTime;
                        tempo.lMsecs = 0;
                        tempo.lUsPerQuarter = (d[0] << 16) | (d[1] << 8) | d[2];
                        m_pTempo->SetTempo(tempo);
                    }
                    break;
                case 0x58:
                    if (m_pTempo != nullptr) {
                        // 2 to the file's exponent; an exponent beyond 31 cannot be a note
                        // value and gives 0.
                        _BAR bar{d[0], d[1] < 32 ? (1u << d[1]) : 0u};
                        m_pTempo->SetBar(bar);
                    }
                    break;
                case 0x59:
                    if (m_pTempo != nullptr) {
                        _KEY key{d[0], d[1]};
                        m_pTempo->SetKeySignature(key);
                    }
                    break;
                default:
                    break;
            }
        } else {
            if (!readPayload()) return -1;
        }
    }

    // Program table and note-usage table. Data bytes of 128 and above never index a table.
    if (ev.dwType == EVT_PROGRAM) {
        if (ev.byChannel != 9) m_nProgram[ev.byChannel & 0x0F] = ev.byData1;
    } else if (ev.dwType == EVT_NOTEON) {
        const uint32_t note = ev.byData1;
        if (ev.byChannel == 9) {
            if (note < 35 || note > 81)
                m_bPercussValid = 0;
            else if (ev.byData2 > 0)
                m_NoteUsage[NOTE_USAGE_PERCUSSION_ROW * 128 + note] = true;
        } else if (ev.byData2 > 0 && note < 128) {
            const int32_t program = m_nProgram[ev.byChannel & 0x0F];
            if (program >= 0 && program < 128)
                m_NoteUsage[static_cast<size_t>(program) * 128 + note] = true;
        }
    }

    // The delta time after the event. Data that ends right after a complete event lacks only
    // this delta: it counts as 0. A delta that starts but does not end fails.
    if (p == end) {
        ev.dwDelta = 0;
    } else {
        const uint32_t delta = ReadVlq(p, end);
        if (delta == kVarLenFailure) return -1;
        ev.dwDelta = delta;
    }
    return endOfTrack ? -2 : 0;
}

int CMidiTrack::RawData2EventList(const uint8_t* pData, uint32_t dwLength, MIDIEventPtr*& pLast,
                                  uint32_t& dwCount) {
    // Never read beyond either the bytes given or the track's budget.
    const int64_t budget = std::min<int64_t>(dwLength, std::max<int32_t>(m_lTrkLen, 0));
    m_lBudget = budget;
    m_pDataEnd = pData + budget;
    m_dwRunningType = 0;
    dwCount = 0;
    m_lReadCount = 0;
    m_indexValid = false;

    MIDIEvent ev{};
    const uint8_t* p = pData;
    const uint32_t first = ReadVlq(p, m_pDataEnd);
    if (first == kVarLenFailure) {
        m_lReadCount = p - pData;
        m_pDataEnd = nullptr;
        return 0;
    }
    uint32_t time = first;
    ev.lTime = static_cast<int32_t>(time);

    int result = 1;
    for (;;) {
        const int rc = DecodeEvent(p, ev);
        if (rc == -1) {
            if (OwnsPayload(ev.dwType)) DeletePayload(ev.pData);
            ev.pData = nullptr;
            result = 0;
            break;
        }
        MIDIEventPtr* node;
        if (m_freeNodes.empty()) {
            // A copy with its payload, which the node takes over.
            node = SlabNode();
            static_cast<MIDIEvent&>(*node) = ev;
            node->pNext = nullptr;
        } else {
            node = NewNode(ev);
            node->pData = ev.pData;  // the node takes over the payload
        }
        if (m_pTail == nullptr)
            m_pHead = node;
        else
            m_pTail->pNext = node;
        m_pTail = node;
        pLast = node;
        ++dwCount;

        time += ev.dwDelta;
        ev.lTime = static_cast<int32_t>(time);
        if (rc == -2 || p >= m_pDataEnd) break;
    }
    m_lReadCount = p - pData;
    m_pDataEnd = nullptr;  // the bytes stay the caller's: no reference to them is kept
    return result;
}

}  // namespace midifolio
