// The drum list of GetDrums, built from the percussion channel's events in the order of the
// song's queries. Private to the analyses.
#pragma once

#include <string>
#include <vector>

#include "midifolio/export.h"
#include "midifolio/midi_folio.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace analysis_detail {

class DrumList {
  public:
    // Appends to array; (bank, note) pairs it already holds are not listed again.
    explicit DrumList(DrumArray& array) : m_array(array), m_listed(65536, false) {
        for (const _DRUM& d : array) m_listed[d.byBank * 256u + d.byNote] = true;
    }

    void Add(const MIDIEvent& ev) {
        if (ev.dwType == EVT_NOTEON || ev.dwType == EVT_NOTEOFF) {
            // Any velocity: a note-off or a silent note-on still names its drum.
            const uint8_t note = ev.byData1;
            const unsigned key = m_bank * 256u + note;
            if (m_listed[key]) return;
            m_listed[key] = true;
            m_work.byNote = note;
            m_work.byNoteCopy = note;
            m_work.strName = CMidiFolio::GetDrumName(note);
            tagNoteMap pitch{};
            CMidiFolio::GetPitchInfo(static_cast<int32_t>(note), &pitch);
            m_work.strPitch = std::string(pitch.szName) + std::to_string(pitch.byOctave);
            m_array.push_back(m_work);
        } else if (ev.dwType == EVT_CONTROL && ev.byData1 == CONTROL_BANK_SELECT_LSB) {
            m_bank = ev.byData2;  // Bank Select LSB
            m_work.byBank = m_bank;
            m_work.byBankCopy = m_bank;
        }
    }

  private:
    DrumArray& m_array;
    std::vector<bool> m_listed;  // (bank, note) pairs listed
    _DRUM m_work;                // the bank fields carry over from one drum to the next
    uint8_t m_bank = 0;
};

}  // namespace analysis_detail
MIDIFOLIO_END_NAMESPACE
