// CMidiTempo: the timing context of one song (ticks per quarter, signatures, tempo changes)
// and the conversion between ticks and milliseconds.
#pragma once

#include <cstdint>
#include <vector>

#include "midifolio/export.h"
#include "midifolio/platform.h"

MIDIFOLIO_BEGIN_NAMESPACE

namespace tempo_detail {
class TickCursor;
}

// One tempo change.
struct _TEMPO {
    int32_t lTicks;         // position in ticks
    int32_t lMsecs;         // position in milliseconds (set by ReCalculateTempolst)
    int32_t nBPM;           // quarter notes per minute, rounded (informational)
    int32_t lUsPerQuarter;  // microseconds per quarter note
};

// Time signature.
struct _BAR {
    uint32_t dwBaseBarNum;   // beats per measure (numerator)
    uint32_t dwBaseNoteNum;  // note value of a beat (2, 4, 8, 16, ...: 2 to the file's exponent)
};

// Key signature: the two data bytes of the key-signature meta event, zero-extended.
struct _KEY {
    uint32_t dwSharpsFlats;  // 0..7 sharps, 255..249 for 1..7 flats
    uint32_t dwMinor;        // 0 major, 1 minor
};

constexpr int TEMPO_TABLE_SIZE = 32768;

using TempoList = std::vector<_TEMPO>;

class MIDIFOLIO_API CMidiTempo {
  public:
    CMidiTempo();
    // An exact copy: list, tables and message sink.
    CMidiTempo(const CMidiTempo& other);
    ~CMidiTempo();

    // Merges: copies ticks per quarter and signatures, then adds each of src's entries
    // through SetTempo. The position tables are not recomputed.
    CMidiTempo& operator=(const CMidiTempo& src);

    void SetTicksPerQuarterNote(uint32_t nTicks);
    int32_t GetTicksPerQuarterNote() const;
    void SetBar(const _BAR& bar);
    _BAR GetBar() const;
    void SetKeySignature(const _KEY& key);
    _KEY GetKeySignature() const;

    // Fills tempo.nBPM (0 when lUsPerQuarter is 0), then inserts a copy in tick order (an
    // entry that would not change the tempo in force between two entries is dropped).
    void SetTempo(_TEMPO& tempo);

    // Recomputes lMsecs along the list and rebuilds the position tables (at most 32768).
    // With ticks per quarter note 0 or negative no time passes: every entry takes the
    // lMsecs of the entry before it.
    void ReCalculateTempolst();

    // The tempo list itself; changes made through it bypass SetTempo's ordering.
    TempoList& GetTempos();
    const TempoList& GetTempos() const;

    // Segment searches and conversions; valid after ReCalculateTempolst. -1 when no tempo
    // applies. A position below the first entry's position belongs to the first segment
    // (converted with the first tempo, extrapolated backwards). Conversions answer -1 when
    // ticks per quarter note is 0 or negative (not set), and MsecsToTicks answers -1 for a
    // segment whose lUsPerQuarter is 0; results beyond the 32-bit range saturate.
    int32_t GetTempoIdxByTicks(int32_t lTicks) const;
    int32_t GetTempoIdxByMs(int32_t lMsecs) const;
    int32_t TicksToMsecs(int32_t lTicks) const;
    int32_t MsecsToTicks(int32_t lMsecs) const;

    // Where the "too many tempo changes" message goes.
    void SetMessageSink(MessageSink sink);

  private:
    friend class tempo_detail::TickCursor;  // ordered conversions (tempo/tempo_cursor.h)

    int32_t m_nTicksPerQuarterNote;
    _BAR m_bar;
    _KEY m_key;
    std::vector<int32_t>
        m_lTickPos;  // tick positions of the list entries (at most TEMPO_TABLE_SIZE)
    std::vector<int32_t> m_lMsecPos;  // millisecond positions of the list entries (same cap)
    int32_t m_nTickPosCount;
    int32_t m_nMsecPosCount;
    TempoList m_tempoList;
    MessageSink m_sink;

    // Fast-path bookkeeping. The tables are searched by bisection when they ascend as the
    // unsigned comparison sees them (decided by ReCalculateTempolst, the only writer of the
    // tables). SetTempo bisects the list while it is known to ascend by lTicks; handing out
    // the list for writing (GetTempos) makes its order unknown until it is checked again.
    bool m_bTickTableSorted;
    bool m_bMsecTableSorted;
    bool m_bListOrderKnown;
    bool m_bListSorted;

    bool ListAscends();
    int32_t SearchTable(const std::vector<int32_t>& table, int32_t count, bool sorted,
                        int32_t pos) const;
};

MIDIFOLIO_END_NAMESPACE
