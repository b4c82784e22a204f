// Instrument lists: the melodic (bank, program) pairs a track, a channel or the whole song
// uses, with their General MIDI names and the range of notes sounded with them.
#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <iterator>
#include <optional>
#include <vector>

#include "analysis/drum_list.h"
#include "analysis/track_walk.h"
#include "midifolio/midi_folio.h"
#include "platform/no_memory.h"
#include "queries/event_merge.h"
#include "track/event_range.h"

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
    platform_detail::OrWhenNoMemory(
        [&] {
            if (bClear != 0) array.clear();
            InstrumentArray trackInstruments;
            for (int t = 0, n = analysis_detail::TracksToWalk(*this); t < n; ++t) {
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
        },
        [&] { array.clear(); });
}

namespace {

// The instruments of one channel, from its events in the order of the song's queries: the
// elements in order of first use, each with the range of notes struck with it. Only note-ons
// with a velocity count here, and pitch bend only when it raises the note.
class ChannelInstruments {
  public:
    ChannelInstruments() { m_array.emplace_back(0, 0, CMidiFolio::GetInstName(0)); }

    void Add(const MIDIEvent& ev) {
        switch (ev.dwType) {
            case EVT_PROGRAM:
                m_program = ev.byData1;
                m_current = FindInstrument(m_array, m_bank, m_program);
                if (m_current < 0) {
                    m_current = static_cast<int>(m_array.size());
                    m_array.emplace_back(m_program, m_bank, CMidiFolio::GetInstName(m_program));
                }
                break;
            case EVT_NOTEON:
                if (ev.byData2 != 0 && m_current >= 0) {
                    const uint8_t note =
                        m_bend > kBendCentre ? BendAdjustedNote(ev.byData1, m_bend) : ev.byData1;
                    Widen(m_array[static_cast<size_t>(m_current)], note);
                }
                break;
            case EVT_PITCHBEND:
                m_bend = ev.wBend;
                break;
            case EVT_CONTROL:
                if (ev.byData1 == CONTROL_BANK_SELECT_LSB) {
                    m_bank = ev.byData2;
                    m_current = FindInstrument(m_array, m_bank, m_program);
                }
                break;
            default:
                break;
        }
    }

    // The elements with which a note sounded, in their order.
    InstrumentArray Take() {
        m_array.erase(
            std::remove_if(m_array.begin(), m_array.end(),
                           [](const _INSTRUMENT& e) { return e.byLowNote > e.byHighNote; }),
            m_array.end());
        return std::move(m_array);
    }

  private:
    InstrumentArray m_array;
    uint8_t m_bank = 0;
    uint8_t m_program = 0;
    uint16_t m_bend = kBendCentre;
    int m_current = 0;  // the element with the current bank and program (at most one), or -1
};

}  // namespace

void CMidiFolio::GetInstrumentByChannel(int nChannel, InstrumentArray& array) {
    platform_detail::OrWhenNoMemory(
        [&] {
            // The channel's events as GetMIDIByChannel lists them (the low byte of the argument).
            const uint8_t byChannel = static_cast<uint8_t>(static_cast<unsigned>(nChannel) & 0xFFu);
            ChannelInstruments instruments;
            queries_detail::VisitInQueryOrder(
                analysis_detail::TracksToWalk(*this), [this](int i) { return TrackForQuery(i); },
                [byChannel](const MIDIEvent& ev) { return ev.byChannel == byChannel; },
                [&](const MIDIEvent& ev) { instruments.Add(ev); });
            array = instruments.Take();
        },
        [&] { array.clear(); });
}

namespace {

// The instruments of every channel in use but the percussion channel, in channel order,
// each as GetInstrumentByChannel lists them, merged into array.
void MergeChannels(const int32_t (&used)[16], std::array<ChannelInstruments, 16>& channels,
                   InstrumentArray& array) {
    for (int ch = 0; ch < 16; ++ch) {
        if (used[ch] == 0 || ch == PERCUSSION_CHANNEL) continue;
        for (const _INSTRUMENT& e : channels[static_cast<size_t>(ch)].Take())
            MergeInstrument(array, e, true);
    }
}

}  // namespace

// All of them from one walk over the song.
void CMidiFolio::GetInstrument(InstrumentArray& array) {
    platform_detail::OrWhenNoMemory(
        [&] {
            std::fill(std::begin(m_nChannelUsed), std::end(m_nChannelUsed), 0);
            std::array<ChannelInstruments, 16> channels;
            queries_detail::VisitInQueryOrder(
                analysis_detail::TracksToWalk(*this), [this](int i) { return TrackForQuery(i); },
                [](const MIDIEvent& ev) { return ev.byChannel < 16; },
                [&](const MIDIEvent& ev) {
                    m_nChannelUsed[ev.byChannel] = 1;  // as GetTotalChannels marks them
                    if (ev.byChannel != PERCUSSION_CHANNEL) channels[ev.byChannel].Add(ev);
                });
            MergeChannels(m_nChannelUsed, channels, array);
        },
        [&] { array.clear(); });
}

ChannelSurvey CMidiFolio::GetChannelSurvey() {
    return platform_detail::OrEmptyWhenNoMemory([&] {
        ChannelSurvey survey;
        std::fill(std::begin(m_nChannelUsed), std::end(m_nChannelUsed), 0);
        std::array<ChannelInstruments, 16> channels;
        std::optional<analysis_detail::DrumList> drums(std::in_place, survey.drums);
        auto feed = [&](const MIDIEvent& ev) {
            m_nChannelUsed[ev.byChannel] = 1;
            if (ev.byChannel != PERCUSSION_CHANNEL)
                channels[ev.byChannel].Add(ev);
            else
                drums->Add(ev);
        };
        // The calls take a channel's events in the order of the song's queries. When every
        // track is in time order and no channel has events in two tracks, that is each
        // channel's list order, and one walk of the tracks serves; otherwise the answers are
        // made again from the events in query order (a channel's events keep their order among
        // all channels' events, so one merged walk serves every channel).
        bool ordered = true, shared = false;
        uint32_t seen = 0;
        for (int i = 0, n = analysis_detail::TracksToWalk(*this); i < n; ++i) {
            const CMidiTrack* track = TrackForQuery(i);
            if (track == nullptr) continue;
            uint32_t mask = 0;
            int32_t previous = INT32_MIN;
            for (const MIDIEventPtr& ev : track_detail::Events(*track)) {
                ordered = ordered && previous <= ev.lTime;
                previous = ev.lTime;
                if (ev.byChannel >= 16) continue;
                mask |= 1u << ev.byChannel;
                feed(ev);
            }
            shared = shared || (seen & mask) != 0;
            seen |= mask;
        }
        if (!ordered || shared) {
            std::fill(std::begin(m_nChannelUsed), std::end(m_nChannelUsed), 0);
            channels = std::array<ChannelInstruments, 16>();
            survey.drums.clear();
            drums.emplace(survey.drums);
            queries_detail::VisitInQueryOrder(
                analysis_detail::TracksToWalk(*this), [this](int i) { return TrackForQuery(i); },
                [](const MIDIEvent& ev) { return ev.byChannel < 16; }, feed);
        }
        survey.nChannels =
            static_cast<int>(std::count(std::begin(m_nChannelUsed), std::end(m_nChannelUsed), 1));
        MergeChannels(m_nChannelUsed, channels, survey.instruments);
        survey.bPercussionInRange = GetIsPercussionInRange();
        return survey;
    });
}

MIDIFOLIO_END_NAMESPACE
