// Instrument lists: the melodic (bank, program) pairs a track, a channel or the whole song
// uses, with their General MIDI names and the range of notes sounded with them.
#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "analysis/track_walk.h"
#include "midifolio/midi_folio.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace {

constexpr uint16_t kBendCentre = 8192;
constexpr uint8_t kNoProgram = 255;

// Note number shifted by the pitch bend in force, for a bend range of +/- 2 semitones:
// n + 2 * (b - 8192) / 8192, truncated toward zero and kept in 8 bits (-1 becomes 255).
uint8_t BendAdjustedNote(uint8_t note, uint16_t bend) {
    const double adjusted =
        note + 2.0 * (static_cast<int>(bend) - kBendCentre) / static_cast<double>(8192.0f);
    const int whole = static_cast<int>(adjusted);  // |adjusted| < 300: always representable
    return static_cast<uint8_t>(whole & 0xFF);
}

void Widen(_INSTRUMENT& instrument, uint8_t note) {
    if (note < instrument.byLowNote) instrument.byLowNote = note;
    if (note > instrument.byHighNote) instrument.byHighNote = note;
}

// Index of the first element with this bank and program, or -1.
int FindInstrument(const InstrumentArray& array, uint8_t bank, uint8_t program) {
    for (size_t i = 0; i < array.size(); ++i) {
        if (array[i].byBank == bank && array[i].byProgram == program) return static_cast<int>(i);
    }
    return -1;
}

// Merges e into the array: an element with the same bank and program takes the union of
// both ranges, otherwise e is appended (when appendNew).
void MergeInstrument(InstrumentArray& array, const _INSTRUMENT& e, bool appendNew) {
    const int found = FindInstrument(array, e.byBank, e.byProgram);
    if (found >= 0) {
        _INSTRUMENT& o = array[static_cast<size_t>(found)];
        if (e.byHighNote > o.byHighNote) o.byHighNote = e.byHighNote;
        if (e.byLowNote < o.byLowNote) o.byLowNote = e.byLowNote;
    } else if (appendNew) {
        array.push_back(e);
    }
}

}  // namespace

// One bank and one bend value serve the whole track, whatever the channel; the percussion
// channel is left out. Channel messages with a channel index above 15 (possible only after
// a host edited a record) are left out as well, since no channel has such an index.
// When the track has neither a program change nor a note, the returned record holds the
// empty name, program 255 and zeros in every other field.
_INSTRUMENT CMidiFolio::GetInstrumentByTrack(int nTrack, InstrumentArray& array,
                                             int /*nReserved: no effect, callers pass 0*/) {
    m_bHasNotes = 0;
    std::array<uint8_t, 16> currentProgram;
    currentProgram.fill(kNoProgram);
    array.clear();

    _INSTRUMENT work;
    work.byProgram = kNoProgram;

    if (nTrack < 0 || nTrack >= m_MidiHead.nTracks) return work;
    const CMidiTrack* pTrack = TrackForQuery(nTrack);
    uint8_t runningLow = 127;
    uint8_t runningHigh = 0;
    if (pTrack != nullptr) {
        uint8_t bank = 0;
        uint16_t bend = kBendCentre;
        // Elements of the array by program number, so that a note touches only its own.
        std::array<std::vector<size_t>, 256> byProgram;
        POSITION pos = pTrack->GetEventHeadPosition();
        while (pos != nullptr) {
            const MIDIEventPtr* pEvent = pTrack->GetNextPtr(pos);
            if (pEvent == nullptr) break;
            const MIDIEvent& ev = *pEvent;
            if (ev.byChannel == PERCUSSION_CHANNEL) continue;
            switch (ev.dwType) {
                case EVT_PROGRAM: {
                    if (ev.byChannel >= 16) break;
                    const uint8_t program = ev.byData1;
                    currentProgram[ev.byChannel] = program;
                    work.byProgram = program;
                    work.byProgramCopy = program;
                    work.strName = GetInstName(program);
                    work.byLowNote = 127;
                    work.byHighNote = 0;
                    if (FindInstrument(array, bank, program) < 0) {
                        byProgram[program].push_back(array.size());
                        array.push_back(work);
                    }
                    break;
                }
                case EVT_NOTEON:
                case EVT_NOTEOFF: {
                    if (ev.byChannel >= 16) break;
                    m_bHasNotes = 1;
                    const uint8_t note = BendAdjustedNote(ev.byData1, bend);
                    if (note < runningLow) runningLow = note;
                    if (note > runningHigh) runningHigh = note;
                    for (size_t index : byProgram[currentProgram[ev.byChannel]]) {
                        Widen(array[index], note);
                    }
                    break;
                }
                case EVT_PITCHBEND:
                    bend = ev.wBend;
                    break;
                case EVT_CONTROL:
                    if (ev.byData1 == CONTROL_BANK_SELECT_LSB) {
                        bank = ev.byData2;
                        work.byBank = bank;
                        work.byBankCopy = bank;
                    }
                    break;
                default:
                    break;
            }
        }
    }
    if (m_bHasNotes == 1 && array.empty()) {
        // Notes without any program change: the default instrument, program 0.
        work.byProgram = 0;
        work.byProgramCopy = 0;
        work.byBankCopy = 0;
        work.strName = GetInstName(0);
        work.byLowNote = runningLow;
        work.byHighNote = runningHigh;
        array.push_back(work);
    }
    return work;
}

void CMidiFolio::GetInstruments(InstrumentArray& array, int bClear) {
    if (bClear != 0) array.clear();
    InstrumentArray trackInstruments;
    for (int t = 0, n = detail::TracksToWalk(*this); t < n; ++t) {
        GetInstrumentByTrack(t, trackInstruments, 0);
        for (_INSTRUMENT e : trackInstruments) {
            if (e.byHighNote < e.byLowNote) e.byLowNote = e.byHighNote;
            MergeInstrument(array, e, e.byProgram != kNoProgram);
        }
    }
    // Ranges from the song's note-usage table (per program, whatever the bank; pitch bend
    // plays no part). Row 128 is the percussion row.
    for (_INSTRUMENT& e : array) {
        if (e.byProgram > 128) continue;
        const int row = e.byProgram;
        for (int note = 0; note < 128; ++note) {
            if (GetNoteUsage(row, note) != 0) {
                e.byLowNote = static_cast<uint8_t>(note);
                break;
            }
        }
        for (int note = 127; note >= 0; --note) {
            if (GetNoteUsage(row, note) != 0) {
                e.byHighNote = static_cast<uint8_t>(note);
                break;
            }
        }
    }
}

// Only note-ons with a velocity count here, and pitch bend only when it raises the note.
void CMidiFolio::GetInstrumentByChannel(int nChannel, InstrumentArray& array) {
    array.clear();
    array.emplace_back(0, 0, GetInstName(0));
    MidiEventList list;
    GetMIDIByChannel(nChannel, list);

    uint8_t bank = 0;
    uint8_t program = 0;
    uint16_t bend = kBendCentre;
    // The element with the current bank and program (at most one exists), or -1.
    int current = 0;
    for (const MIDI_Event& record : list) {
        const MIDIEvent& ev = record.event;
        switch (ev.dwType) {
            case EVT_PROGRAM:
                program = ev.byData1;
                current = FindInstrument(array, bank, program);
                if (current < 0) {
                    current = static_cast<int>(array.size());
                    array.emplace_back(program, bank, GetInstName(program));
                }
                break;
            case EVT_NOTEON:
                if (ev.byData2 != 0 && current >= 0) {
                    const uint8_t note =
                        bend > kBendCentre ? BendAdjustedNote(ev.byData1, bend) : ev.byData1;
                    Widen(array[static_cast<size_t>(current)], note);
                }
                break;
            case EVT_PITCHBEND:
                bend = ev.wBend;
                break;
            case EVT_CONTROL:
                if (ev.byData1 == CONTROL_BANK_SELECT_LSB) {
                    bank = ev.byData2;
                    current = FindInstrument(array, bank, program);
                }
                break;
            default:
                break;
        }
    }
    // Records with which no note sounded are dropped, the rest keep their order.
    array.erase(std::remove_if(array.begin(), array.end(),
                               [](const _INSTRUMENT& e) { return e.byLowNote > e.byHighNote; }),
                array.end());
    FreePtrList(list);
}

void CMidiFolio::GetInstrument(InstrumentArray& array) {
    const int count = GetTotalChannels();
    uint8_t channels[16] = {};
    GetChannels(channels);
    InstrumentArray channelInstruments;
    for (int i = 0; i < count && i < 16; ++i) {
        if (channels[i] == PERCUSSION_CHANNEL) continue;
        GetInstrumentByChannel(channels[i], channelInstruments);
        for (const _INSTRUMENT& e : channelInstruments) MergeInstrument(array, e, true);
    }
}

MIDIFOLIO_END_NAMESPACE
