// CMidiTrack: one track of a song, its decoded event list, the decoder's running state
// and the track's note-usage table.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "midifolio/export.h"
#include "midifolio/midi_event.h"
#include "midifolio/midi_tempo.h"
#include "midifolio/time_format.h"

MIDIFOLIO_BEGIN_NAMESPACE

namespace track_detail {
class EventStore;
struct Decoder;
}  // namespace track_detail

// Rows of a note-usage table: programs 0..127, then the percussion row.
constexpr int NOTE_USAGE_ROWS = 129;
constexpr int NOTE_USAGE_PERCUSSION_ROW = 128;
using NoteUsageTable = std::bitset<NOTE_USAGE_ROWS * 128>;

class MIDIFOLIO_API CMidiTrack {
  public:
    CMidiTrack();
    // Copies make their own nodes and payload buffers: two tracks never share them.
    CMidiTrack(const CMidiTrack& other);
    CMidiTrack& operator=(const CMidiTrack& other);
    ~CMidiTrack();

    // --- accessors ---
    uint8_t GetTrackNum() const;          // low 8 bits of the track number (255 when unset)
    void SetTrackNum(int32_t nTrackNum);  // the loader stores the chunk index here
    int32_t GetTrkLen() const;            // raw byte length (encoding buffer size), bytes
    uint16_t GetTrackEventNums() const;   // event count modulo 65536
    int32_t GetCount() const;             // event count
    void SetTempoObject(CMidiTempo* pTempo);
    CMidiTempo* GetTempoObject() const;
    void SetISValidatePercuss();
    int GetISValidatePercuss() const;
    // 1 unless a note-on of the percussion channel (index 9) lay outside notes 35..81.
    int GetPercussValid() const;
    int GetLastResult() const;  // 1 or 0: outcome of the last InsertEventAfter / DeleteEvent

    // Note-usage table: 1 when a note-on with velocity above 0 was decoded for that
    // program row (0..127, 128 = percussion) and note (0..127); 0 outside the table.
    int GetNoteUsage(int nRow, int nNote) const;
    const NoteUsageTable& GetNoteUsageTable() const;

    // --- traversal ---
    POSITION GetEventHeadPosition() const;
    MIDIEvent GetNextEvent(POSITION& pos) const;  // pos must be non-null
    MIDIEventPtr* GetNextPtr(POSITION& pos) const;
    MIDIEvent GetAt(POSITION pos) const;     // pos must be non-null
    MIDIEvent& GetEventPtrAt(POSITION pos);  // pos must be non-null
    // The node at an index of the list, null outside 0..GetCount()-1. The first call after a
    // change of the list builds an index (O(n)); later calls are O(1). Like every const
    // member, safe to call from several threads at once.
    POSITION FindIndex(int nIndex) const;
    POSITION GetTailPosition() const;

    // Empties the list (nodes and owned payloads); length, decoder state and the
    // note-usage table stay.
    void RemoveAllPt();

    // --- decoding (track chunk data bytes -> events) ---
    // 0 for null data or length <= 0; otherwise 1 when the bytes decoded to their end or to
    // an end-of-track event, 0 when an event failed (the events before it stay). Events the
    // track held before are released first. Data that ends right after a complete event
    // lacks only the delta after it, which counts as 0. The bytes stay the caller's.
    int SetMidiTrackRawData(const uint8_t* pData, int32_t lLength);
    // Bytes the last decoding pass consumed: the whole data, or up to and with the
    // end-of-track event (bytes after it are not read), or up to where it stopped.
    int64_t GetReadCount() const;
    // Where the last decoding pass stopped on an event it could not decode: the offset in
    // the data of the event's first byte (0 when the first delta time was cut); -1 when it
    // did not stop on one.
    int64_t GetDecodeStop() const;
    // 1 when the last decoding pass stopped because no memory was left for an event.
    int GetDecodeNoMemory() const;

    // --- encoding (events -> track chunk data bytes) ---
    // lLength carries the capacity of pBuffer in and the bytes written out. Never writes
    // past the capacity: when the encoding does not fit, returns 0, writes nothing and sets
    // lLength to the size that is needed (see GetEncodedSize). pBuffer is not moved.
    // Running status is used between adjacent channel messages of the same type code and
    // channel (never before a written first data byte above 127: a bend writes 7 bits per
    // byte, so bends always run); byChannel is written modulo 16;
    // a negative lTime of the first event is written as a first delta of 0. An end-of-track
    // event that is not the last event is left out (a reader would stop there) and its
    // dwDelta is added to the delta before the next event, so every event keeps its time;
    // such a track ends with FF 2F 00 after its last event. A delta beyond 0x0FFFFFFF does
    // not fit the format: returns 0, writes nothing and sets lLength to 0.
    int GetMidiTrackRawData(uint8_t*& pBuffer, int32_t& lLength);
    // Exact number of bytes the encoding of the whole list takes (a delta beyond the format
    // counted as the five bytes it would take).
    uint32_t GetEncodedSize() const;

    // --- editing ---
    // Insert a copy after pos (null: append); meta and sysex payloads are copied. Null,
    // with GetLastResult 0, for a non-null pos in an empty track or when no memory is left
    // for the payload copy. Raises GetTrkLen by 32 plus the payload length.
    POSITION InsertEventAfter(POSITION pos, MIDIEvent event);
    POSITION InsertEventAfter(POSITION pos, const MIDIEvent* pEvent);
    // 1 deleted; 0 for the tail, an empty track or a position not in the list.
    int DeleteEvent(POSITION pos);
    // The first event at lTime (ticks); wType takes no part in the match.
    int GetEvent(int32_t lTime, uint16_t wType, MIDIEvent* pEvent) const;
    // The track selects nothing of its own (the song's queries do): 0, list untouched.
    int GetEventLstByType(uint16_t wType, MidiEventList& list) const;
    int GetEventLstByTime(int32_t lFrom, int32_t lTo, MidiEventList& list) const;
    void FreePtrList(MidiEventList& list) const;

    // --- ordering and timing ---
    // Stable sort by lTime, relinking nodes (positions stay valid); dwDelta rebuilt, the
    // last one 120; *plEndTime = the last time. 0 when the count exceeds the linked nodes.
    int SortTrackByLTime(int32_t* plEndTime);
    // The first unmarked note-off (or note on with velocity 0) of the same channel and note
    // after a sounding note on at pos; marks it (dwLength = PAIRING_MARK). 1 found, 0 not.
    int GetNextNoteOff(POSITION pos, MIDIEvent& noteOff);
    // Clears every pairing mark the track holds (song queries call it before pairing).
    void ClearPairingMarks();
    // Every lTime becomes milliseconds through the attached tempo map (a map that cannot
    // convert gives 0); dwDelta stays in ticks. 1; 0 and nothing changed without a map.
    int Convert2MSecond();

  protected:
    uint32_t ReadVarLen(const uint8_t*& p);
    static void WriteVarLen(uint32_t value, uint8_t*& p);
    // Decodes at most min(dwLength, GetTrkLen()) bytes, appending to the list.
    int RawData2EventList(const uint8_t* pData, uint32_t dwLength, MIDIEventPtr*& pLast,
                          uint32_t& dwCount);
    // dwLength carries the capacity in: 0 and the needed size when the events do not fit.
    int EventList2RawData(MIDIEventPtr* pFirst, uint32_t dwCount, uint8_t*& pBuffer,
                          uint32_t& dwLength);

  private:
    friend struct track_detail::Decoder;  // the decoding pass (track/decoder.cpp)

    void InitialPt();
    void CopyFrom(const CMidiTrack& other);

    int32_t m_nLastResult;
    uint32_t m_dwRunningType;
    uint32_t m_nRunningChannel;
    int32_t m_nTrackNum;
    int32_t m_lEventCount;
    int32_t m_lTrkLen;
    CMidiTempo* m_pTempo;
    MIDIEventPtr* m_pHead;
    MIDIEventPtr* m_pLast;
    MIDIEventPtr* m_pTail;
    uint8_t m_byPort;
    int32_t m_bValidatePercuss;
    int32_t m_bPercussValid;
    int64_t m_lReadCount;
    int32_t m_nProgram[16];
    NoteUsageTable m_NoteUsage;
    // Nodes, payload buffers and the position index (track/event_store.h).
    std::unique_ptr<track_detail::EventStore> m_pStore;
};

MIDIFOLIO_END_NAMESPACE
