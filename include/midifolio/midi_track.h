// CMidiTrack: one track of a song, its decoded event list, the decoder's running state
// and the track's note-usage table.
#pragma once

#include <atomic>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "midifolio/export.h"
#include "midifolio/midi_event.h"
#include "midifolio/midi_tempo.h"
#include "midifolio/time_format.h"

namespace midifolio {

namespace track_detail {
struct DecodeState;  // the state of one decoding pass (track/decoder.cpp)
}

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
    POSITION FindIndex(int nIndex) const;    // O(1) after decoding or sorting
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

    // --- encoding (events -> track chunk data bytes) ---
    // lLength carries the capacity of pBuffer in and the bytes written out. Never writes
    // past the capacity: when the encoding does not fit, returns 0, writes nothing and sets
    // lLength to the size that is needed (see GetEncodedSize). pBuffer is not moved.
    // Running status is used between adjacent channel messages of the same type code and
    // channel (never before a first data byte above 127); byChannel is written modulo 16;
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
    void InitialPt();
    int DecodeEvent(track_detail::DecodeState& s);
    void ChannelData(track_detail::DecodeState& s, uint32_t first, uint32_t second);
    void NoteOnUsage(uint32_t channel, uint32_t note, uint32_t velocity);
    // A node from the track's node pool; null when no memory is left for it.
    MIDIEventPtr* NewNode(const MIDIEvent& ev);
    void FreeNode(MIDIEventPtr* node);  // back to the pool, payload released
    // Adds a slab block (the first one sized for `wanted` nodes); false (nothing changed)
    // when no memory is left for it.
    bool GrowSlab(size_t wanted = 0);
    size_t SlabBlockSize(size_t block) const;
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

    // Node storage: a slab of blocks that are never moved or resized, so node addresses
    // (POSITIONs) stay valid. Block i holds SlabBlockSize(i) nodes; the nodes of the last
    // block are handed out in order (m_blockUsed of m_blockSize so far). Deleted nodes are
    // reused from the free list.
    std::vector<std::unique_ptr<MIDIEventPtr[]>> m_nodeBlocks;
    size_t m_blockUsed;
    size_t m_blockSize;
    size_t m_firstBlockSize;
    std::vector<MIDIEventPtr*> m_freeNodes;
    // Budget end of the current decoding run (bytes); see SetMidiTrackRawData.
    int64_t m_lBudget;
    const uint8_t* m_pDataEnd;
    // Index of nodes in list order for O(1) FindIndex, built by the first FindIndex after a
    // change of the list. Concurrent FindIndex calls may each build one: the first to be
    // published is kept (compare-and-swap), the others are dropped, so no lock is taken.
    mutable std::atomic<const std::vector<MIDIEventPtr*>*> m_index{nullptr};
    void InvalidateIndex();
};

}  // namespace midifolio
