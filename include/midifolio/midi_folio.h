// CMidiFolio: the song. Loads and stores Standard MIDI Files, owns the tracks and the
// tempo map, and answers the time, selection, analysis and vocabulary questions.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "midifolio/analysis_types.h"
#include "midifolio/export.h"
#include "midifolio/load_report.h"
#include "midifolio/midi_event.h"
#include "midifolio/midi_tempo.h"
#include "midifolio/midi_track.h"
#include "midifolio/platform.h"
#include "midifolio/time_format.h"
#include "midifolio/vocabulary_types.h"

MIDIFOLIO_BEGIN_NAMESPACE

namespace platform_detail {
class FileReader;
class FileWriter;
}  // namespace platform_detail

// Header information of a Standard MIDI File (each field a 16-bit value of the header).
struct _MIDIHEAD {
    int32_t nFormat;    // 0 or 1 after a successful load (2 stays after a refused format 2)
    int32_t nTracks;    // number of track chunks; bounds every song-wide query
    int32_t nDivision;  // ticks per quarter note (top bit clear)
};

class MIDIFOLIO_API CMidiFolio {
  public:
    CMidiFolio();
    ~CMidiFolio();
    CMidiFolio(const CMidiFolio&) = delete;
    CMidiFolio& operator=(const CMidiFolio&) = delete;

    // ---------------------------------------------------------------- song and tracks
    // Creates a new, empty track (not added to the list); null when no memory.
    virtual CMidiTrack* CreateTrack();
    CMidiTrack* GetTrack(int nIndex) const;  // null outside 0..GetTrackNum()-1
    long GetTrackNum() const;                // number of tracks in the list
    int AddTrack(CMidiTrack* pTrack);        // takes ownership; index, or -1 for null
    int InsertTrack(CMidiTrack* pTrack, int nIndex, int bBefore);  // index or -1
    void RemoveTrkAll();
    // Empties the track list as RemoveTrkAll does, but hands the tracks to the caller instead
    // of destroying them (for a host that still holds on to some of them).
    std::vector<std::unique_ptr<CMidiTrack>> TakeTracks();
    int SetMidiHeaderinfo(const _MIDIHEAD* pHead);  // 1, or 0 for null
    _MIDIHEAD GetMidiHeaderInfo() const;
    int IsModified() const;
    void SetModifiedFlag(int bModified);
    std::string GetMidiPath() const;
    CMidiTempo& GetMidiTempo();
    void SetMidiTempo(CMidiTempo* pTempo);  // merges; null changes nothing
    // Writes 60000000 / nValue through pResult; 0 or a null pResult writes nothing.
    static void BpmToUsPB(int nValue, int* pResult);
    static void UsPBToBpm(int nValue, int* pResult);

    // Where user messages go (default: stderr). Also used by the song's tempo map.
    void SetMessageSink(MessageSink sink);

    // ---------------------------------------------------------------- file I/O
    // Reads a Standard MIDI File (format 0 or 1, ticks per quarter note) and appends its
    // tracks to the song; the first track starts with a 120 bpm tempo event at tick 0.
    // 1 when the whole file was read; 0 otherwise, with exactly one message to the sink:
    // the system's text when the file cannot be opened, else "Not Midi file!!",
    // "Error read data!!", "Error time unsupport!!", "Error format unsupport!!" or
    // "Error Track!!". What was read before a failure stays in the song. Progress: range
    // 0..n (n declared tracks), then the position i after track i.
    int LoadMidiFile(std::string strPath, ProgressObserver* pProgress = nullptr);
    // LoadMidiFile of the bytes of a file in memory (the path kept is ""): the same steps,
    // results, messages and report.
    int LoadMidiBytes(const uint8_t* pData, size_t nSize, ProgressObserver* pProgress = nullptr);
    // What the last load met: where and why a refused file stopped being read (with the
    // cause in plain words), and the readings of the song's tracks in which other tools see
    // something else. LoadMidiFile's result and message are not changed by it.
    LoadReport GetLoadReport() const;
    // 1 when pos in pTrack is the tempo event a load put in front of the first track it read
    // (a 120 bpm Set Tempo at tick 0 that is not in the file), 0 otherwise.
    int IsLoaderTempo(const CMidiTrack* pTrack, POSITION pos) const;
    // Deletes the tempo events the loads put in front of their first tracks, so that storing
    // writes the tracks as the file held them. Returns how many were deleted.
    int RemoveLoaderTempo();
    // Writes the song as a Standard MIDI File (header, then one chunk per track) and sets
    // the header's track count to the number of tracks. 1 when the file was written
    // completely; 0 otherwise, with the existing file intact (GetStoreError tells why).
    // Shows no message. Progress as for loading. Runs on the calling thread only.
    //
    // The new content is written to a file without a name in the target's directory (or,
    // where the system has no such files, to a temporary file beside the target) and takes
    // the target's place only when complete, keeping the target's permission bits; a store
    // that is killed leaves no file behind (with a temporary file: that file). A file that
    // replaces another is synced to disk before it takes its place, and the directory after.
    // A writable file in a directory that is not writable is rewritten in place: the only
    // case a crash during the store can damage the target.
    //
    // Tracks are written as their encoding gives them (see GetMidiTrackRawData): an
    // end-of-track event before the last event is moved to the end; a delta time beyond the
    // format's 28 bits fails the store (EOVERFLOW), as no reader could take the file.
    int StoreMidiFile(std::string strPath, ProgressObserver* pProgress = nullptr);
    // Why the last StoreMidiFile returned 0, as an errno value (std::strerror gives the
    // text): the system's reason for a file that could not be created, written or renamed,
    // EOVERFLOW for a delta time the format cannot hold, EFBIG for a track or a track count
    // too large for the format, ENOMEM when memory ran out. 0 after a successful store.
    int GetStoreError() const;

    // ---------------------------------------------------------------- musical time
    void ConvertMIDITime(_MIDI_TIME* pTime, TIME_FORMAT target);
    uint32_t GetBaseBarNum() const;
    uint32_t GetBaseNoteNum() const;
    int ConvertTime2MS();

    // ---------------------------------------------------------------- selection queries
    void GetMIDIByTime(TIME_FORMAT format, _MIDI_TIME from, _MIDI_TIME to, MidiEventList& list);
    void GetMIDIByMeasure(int nFirst, int nLast, MidiEventList& list);
    void GetMIDIByTrack(int nFirst, int nLast, MidiEventList& list);
    void GetMIDIByChannel(int nChannel, MidiEventList& list);
    void GetMIDIByType(uint32_t dwMask, TIME_FORMAT format, MidiEventList& list);
    static void SortEventList(MidiEventList& list);
    static void FreePtrList(MidiEventList& list);
    MidiEventList& MakeEventList();
    void FreeEventList();
    void GetTotalEventList(MidiEventList** ppList);
    // Index of the first record of the (rebuilt) song event list at or after the time, and
    // that record; -1 and null when there is none.
    int FindMidiEventByTime(_MIDI_TIME time, MIDI_Event*& pEvent);

    // ---------------------------------------------------------------- playback lookups
    MIDI_Event* FindPlayNoteOff(int nEventIndex, int& bSustain);
    MIDI_Event* FindNextControl(int nEventIndex, uint8_t byControl, int32_t lValue);
    MIDI_Event* FindNextPitchBend(int nEventIndex, const MIDI_Event* pStop);
    MIDI_Event* FindNextPadel(int nEventIndex, int bDown);
    MIDI_Event* FindEndOfTrack(int nEventIndex);

    // ---------------------------------------------------------------- channels
    int GetTotalChannels();
    void GetChannels(uint8_t* pChannels);  // room for 16 bytes
    void GetChAndInstrument(_CH_INSTR* pChInstr);
    void GetInstIndexArrayByChannel(int nChannel, WordArray& array);

    // ---------------------------------------------------------------- instruments
    _INSTRUMENT GetInstrumentByTrack(int nTrack, InstrumentArray& array, int nReserved = 0);
    void GetInstruments(InstrumentArray& array, int bClear);
    void GetInstrumentByChannel(int nChannel, InstrumentArray& array);
    void GetInstrument(InstrumentArray& array);

    // ---------------------------------------------------------------- percussion
    void GetDrums(DrumArray& array, int bClear);
    uint8_t GetDrumPitch() const;
    void SetIsValidatePercussion();
    int GetIsValidatePercussion() const;
    // 1 when every track 0..nTracks-1 kept its percussion notes within 35..81.
    int GetIsPercussionInRange() const;
    // GetTotalChannels, GetInstrument, GetDrums (cleared first) and GetIsPercussionInRange
    // answered together from one walk over the song's channel events, for a host that asks
    // all four of every song (as a corpus scan does). Each answer is exactly that call's.
    ChannelSurvey GetChannelSurvey();

    // ---------------------------------------------------------------- voices
    void CheckMidiByVoice(int nVoices, ConflictVoiceArray* pArray);

    // ---------------------------------------------------------------- vocabulary
    static std::string GetInstName(int32_t nProgram);
    static std::string GetDrumName(int32_t nNote);
    static _MIDI_CONTROL_MSG GetContrlMsg(uint8_t byControl);
    static int GetPitchInfo(std::string strName, tagNoteMap* pNote);
    static int GetPitchInfo(float fFrequency, tagNoteMap* pNote);
    static int GetPitchInfo(double dFrequency, tagNoteMap* pNote);  // as the float form
    static int GetPitchInfo(int32_t nNote, tagNoteMap* pNote);
    static std::string GetEasySymbol(int32_t nNote);

    // Song note-usage table (OR of every loaded track's).
    int GetNoteUsage(int nRow, int nNote) const;

  protected:
    int DecodeHead(platform_detail::FileReader& file);
    int DecodeTracks(platform_detail::FileReader& file, ProgressObserver* pProgress);
    void StoreHead(platform_detail::FileWriter& file);
    int StoreTracks(platform_detail::FileWriter& file, ProgressObserver* pProgress);

  private:
    int LoadFrom(platform_detail::FileReader& file, ProgressObserver* pProgress);
    int NoMemoryToLoad() noexcept;
    uint32_t GetAMeasureTicks() const;
    CMidiTrack* TrackForQuery(int nIndex) const;  // track i of 0..nTracks-1, or null
    void ShowMessage(const std::string& text) const;

    CMidiTempo m_MidiTempo;
    std::vector<std::unique_ptr<CMidiTrack>> m_TrackList;
    std::string m_strMidiPath;
    _MIDIHEAD m_MidiHead;
    int32_t m_nChannelUsed[16];
    int32_t m_bModified;
    int32_t m_bValidatePercussion;
    MidiEventList m_EventList;
    int32_t m_bHasNotes;
    NoteUsageTable m_NoteUsage;
    MessageSink m_sink;
    int32_t m_nStoreError;
    // The tempo event each load put in front of its first track: that track and the node.
    std::vector<std::pair<const CMidiTrack*, POSITION>> m_LoaderTempos;
    LoadReport m_LoadReport;
};

MIDIFOLIO_END_NAMESPACE
