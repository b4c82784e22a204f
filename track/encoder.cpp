// CMidiTrack: encoding the event list back into the data bytes of a track chunk.
#include <algorithm>
#include <cstring>
#include <limits>

#include "midifolio/midi_track.h"
#include "track/smf_bytes.h"
#include "track/track_internal.h"

MIDIFOLIO_BEGIN_NAMESPACE

namespace {

// Output that only counts the bytes (for the exact size) ...
struct CountingOut {
    uint64_t size = 0;
    uint8_t* Reserve(size_t) { return nullptr; }  // never writes
    void Commit(uint8_t*) {}
    void Byte(uint8_t) { ++size; }
    void Bytes(const uint8_t*, uint32_t n) { size += n; }
    void VarLen(uint32_t value) { size += smf::VlqSize(value); }
};

// ... and output that writes them, where the caller has made sure they fit ...
struct WritingOut {
    uint8_t* p;
    void Byte(uint8_t b) { *p++ = b; }
    void Bytes(const uint8_t* src, uint32_t n) {
        if (n == 0) return;
        if (src != nullptr)
            std::memcpy(p, src, n);
        else
            std::memset(p, 0, n);  // a payload without a buffer is written as zeros
        p += n;
    }
    void VarLen(uint32_t value) { p = smf::WriteVlq(p, value); }
};

// ... and output that writes as long as the bytes fit, never past the end, and counts the
// bytes that did not fit: (p - start) + over is the exact size either way.
struct BoundedOut {
    uint8_t* p;
    uint8_t* end;
    uint64_t over = 0;
    // Room for n more bytes at the returned pointer, or null; Commit(q) keeps what was
    // written up to q.
    uint8_t* Reserve(size_t n) { return n <= static_cast<size_t>(end - p) ? p : nullptr; }
    void Commit(uint8_t* q) { p = q; }
    void Byte(uint8_t b) {
        if (p != end)
            *p++ = b;
        else
            ++over;
    }
    void Bytes(const uint8_t* src, uint32_t n) {
        if (n > static_cast<size_t>(end - p)) {
            over += n;
            return;
        }
        WritingOut out{p};
        out.Bytes(src, n);
        p = out.p;
    }
    void VarLen(uint32_t value) {
        if (end - p < 5 && smf::VlqSize(value) > static_cast<size_t>(end - p)) {
            over += smf::VlqSize(value);
            return;
        }
        WritingOut out{p};
        out.VarLen(value);
        p = out.p;
    }
};

inline bool IsEndOfTrack(const MIDIEventPtr* e) {
    return e->dwType == EVT_META && (e->dwSubType & 0xFF) == META_END_OF_TRACK;
}

// The one encoding routine, shared by counting and writing so that the two always agree.
// Returns false when a delta time does not fit the file format's 28 bits; the bytes are then
// still produced (the delta in five bytes), but they are not a valid track and callers refuse
// them.
//
// Choices beyond the plain byte format:
//   - the channel is taken modulo 16 (a channel byte of 16 or more would otherwise turn the
//     status into another kind);
//   - running status is used only between adjacent channel messages of the same type code
//     and channel, and never when the first data byte written has its top bit set (it would read as
//     a status byte);
//   - a negative time of the first event is written as 0;
//   - an end-of-track event that is not the last event written is left out, and its delta is
//     added to the delta before the next event, so every later event keeps its time (readers
//     stop at an end-of-track event: written where it stands, it would hide the events after
//     it). A track that had one left out ends with FF 2F 00 after its last event.
//
// The delta after an event is written when the next event is, so that a left-out
// end-of-track event can add its own delta to it.
template <class Out>
class EncodePass {
  public:
    EncodePass(Out& out, uint64_t firstTime) : out_(out), pending_(firstTime) {}

    // Writes one event; false when it writes nothing (an end-of-track event written takes
    // no delta after it).
    bool Event(const MIDIEventPtr* e, bool running) {
        if (const uint8_t status = smf::ChannelStatus(e->dwType)) {
            Channel(e, status, running);
        } else if (!Other(e)) {
            return false;
        }
        if (!IsEndOfTrack(e)) {
            pending_ = e->dwDelta;
            hasPending_ = true;
        }
        return true;
    }

    // An end-of-track event left out: its delta goes to the next event's.
    void LeaveOut(const MIDIEventPtr* e) {
        pending_ += e->dwDelta;
        endLeftOut_ = true;
    }

    // The last delta, and the end of the track when one was left out.
    bool Finish() {
        if (hasPending_) {
            Flush();
            if (endLeftOut_) {
                out_.Byte(0xFF);
                out_.Byte(META_END_OF_TRACK);
                out_.Byte(0x00);
            }
        }
        return fits_;
    }

  private:
    void Flush() {
        if (!hasPending_) return;
        if (pending_ > smf::kVlqMax) fits_ = false;
        out_.VarLen(static_cast<uint32_t>(std::min<uint64_t>(pending_, UINT32_MAX)));
        hasPending_ = false;
    }

    // The delta before the message (when it takes one byte), a status byte and two data bytes
    // are put straight into the output when it has room for all four, else into a small
    // buffer that is then written through the checked path. Every byte written lies within
    // the bytes kept.
    void Channel(const MIDIEventPtr* e, uint8_t status, bool running) {
        if (pending_ >= 0x80) Flush();
        const uint32_t type = e->dwType;
        uint8_t local[4];
        uint8_t* const room = out_.Reserve(4);
        uint8_t* const start = room != nullptr ? room : local;
        uint8_t* q = start;
        *q = static_cast<uint8_t>(pending_);
        q += hasPending_;
        // The data bytes as written: a bend keeps 7 bits in each.
        const uint8_t first = type == EVT_PITCHBEND ? e->wBend & 0x7F : e->byData1;
        const uint8_t second = type == EVT_PITCHBEND ? (e->wBend >> 7) & 0x7F : e->byData2;
        // The status byte is left out in running status, unless the first byte written after
        // it would read as a status byte.
        *q = static_cast<uint8_t>(status | (e->byChannel & 0x0F));
        q += !running || first >= 0x80;
        q[0] = first;
        q[1] = second;
        q += type == EVT_PROGRAM || type == EVT_CHANPRESSURE ? 1 : 2;
        if (start == local)
            out_.Bytes(local, static_cast<uint32_t>(q - local));
        else
            out_.Commit(q);
    }

    // Meta, sysex, system common and real-time events; false for any other type code, which
    // writes nothing, not even its delta.
    bool Other(const MIDIEventPtr* e) {
        const uint32_t type = e->dwType, sub = e->dwSubType;
        if (type == EVT_META) {
            Flush();
            out_.Byte(0xFF);
            out_.Byte(static_cast<uint8_t>(sub));
            if (IsEndOfTrack(e)) {
                out_.Byte(0x00);  // end of track: neither payload nor delta
                return true;
            }
            out_.VarLen(e->dwLength);
            out_.Bytes(e->pData, e->dwLength);
        } else if (type == EVT_SYSEX || type == EVT_SYSEXESC) {
            Flush();
            out_.Byte(type == EVT_SYSEX ? 0xF0 : 0xF7);
            out_.VarLen(e->dwLength);
            out_.Bytes(e->pData, e->dwLength);
        } else if (type == EVT_SYSCOMMON && sub >= 0xF1 && sub <= 0xF7) {
            uint8_t data[4];
            std::memcpy(data, &e->dwLength, sizeof data);
            Flush();
            out_.Byte(static_cast<uint8_t>(sub));
            if (sub == 0xF1 || sub == 0xF2 || sub == 0xF3) out_.Byte(data[0]);
            if (sub == 0xF2) out_.Byte(data[1]);
        } else if (type == EVT_REALTIME && sub >= 0xF8 && sub <= 0xFE) {
            Flush();
            out_.Byte(static_cast<uint8_t>(sub));
        } else {
            return false;
        }
        return true;
    }

    Out& out_;
    uint64_t pending_;
    bool hasPending_ = true;  // false right after an end-of-track event (no delta follows it)
    bool fits_ = true;
    bool endLeftOut_ = false;
};

template <class Out>
bool Encode(const MIDIEventPtr* first, uint32_t count, Out& out) {
    EncodePass<Out> pass(
        out, first != nullptr && first->lTime > 0 ? static_cast<uint32_t>(first->lTime) : 0);
    const MIDIEventPtr* previous = nullptr;  // the event before, for running status
    uint32_t written = 0;
    for (const MIDIEventPtr* e = first; e != nullptr && written < count; e = e->pNext) {
        ++written;
        if (IsEndOfTrack(e) && written < count && e->pNext != nullptr) {
            pass.LeaveOut(e);
            continue;
        }
        const bool running = previous != nullptr && previous->dwType == e->dwType &&
                             previous->byChannel == e->byChannel;
        previous = e;
        pass.Event(e, running);
    }
    return pass.Finish();
}

}  // namespace

void CMidiTrack::WriteVarLen(uint32_t value, uint8_t*& p) {
    p = smf::WriteVlq(p, value);
}

uint32_t CMidiTrack::GetEncodedSize() const {
    CountingOut counter;
    Encode(m_pHead, static_cast<uint32_t>(std::max<int32_t>(m_lEventCount, 0)), counter);
    return static_cast<uint32_t>(
        std::min<uint64_t>(counter.size, std::numeric_limits<uint32_t>::max()));
}

// dwLength carries the capacity of pBuffer in and the bytes written out. When the encoding
// does not fit, nothing is written, dwLength tells the size needed and the result is 0; when
// a delta time is beyond the file format's range, nothing is written, dwLength is 0 and the
// result is 0. pBuffer itself is not moved.
int CMidiTrack::EventList2RawData(MIDIEventPtr* pFirst, uint32_t dwCount, uint8_t*& pBuffer,
                                  uint32_t& dwLength) {
    CountingOut counter;
    if (!Encode(pFirst, dwCount, counter)) {
        dwLength = 0;
        return 0;
    }
    if (pBuffer == nullptr || counter.size > dwLength) {
        dwLength = static_cast<uint32_t>(
            std::min<uint64_t>(counter.size, std::numeric_limits<uint32_t>::max()));
        return 0;
    }
    BoundedOut out{pBuffer, pBuffer + counter.size};
    Encode(pFirst, dwCount, out);
    dwLength = static_cast<uint32_t>(out.p - pBuffer);
    return 1;
}

namespace track_detail {

EncodeResult EncodeInto(const MIDIEventPtr* first, uint32_t count, uint8_t* buffer,
                        size_t capacity) {
    BoundedOut out{buffer, buffer + capacity};
    const bool fits = Encode(first, count, out);
    return {static_cast<uint64_t>(out.p - buffer) + out.over, fits};
}

}  // namespace track_detail

int CMidiTrack::GetMidiTrackRawData(uint8_t*& pBuffer, int32_t& lLength) {
    if (pBuffer == nullptr || lLength <= 0) return 0;
    uint32_t length = static_cast<uint32_t>(lLength);
    const int result = EventList2RawData(
        m_pHead, static_cast<uint32_t>(std::max<int32_t>(m_lEventCount, 0)), pBuffer, length);
    lLength = static_cast<int32_t>(
        std::min<uint32_t>(length, static_cast<uint32_t>(std::numeric_limits<int32_t>::max())));
    return result;
}

MIDIFOLIO_END_NAMESPACE
