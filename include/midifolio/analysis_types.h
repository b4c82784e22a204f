// Records handed out by the channel, instrument, percussion and voice analyses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "midifolio/export.h"

MIDIFOLIO_BEGIN_NAMESPACE

// A channel with the bank/program it selects first; filled by nothing in the library,
// offered to hosts that keep a channel/instrument table of their own.
struct _CH_INSTR {
    uint8_t byChannel = 0;  // 0..15
    uint8_t byBank = 0;     // Bank Select LSB value
    uint8_t byProgram = 0;  // program number
};

// One melodic instrument in use.
struct _INSTRUMENT {
    std::string strName;     // General MIDI name of byProgram
    uint8_t byBank = 0;      // Bank Select LSB in force
    uint8_t byBankCopy = 0;  // same as byBank
    uint8_t byProgram = 0;   // 0..127, 255 = no program
    uint8_t byProgramCopy = 0;
    uint8_t byLowNote = 0;   // lowest sounded note; above byHighNote = none sounded
    uint8_t byHighNote = 0;  // highest sounded note

    _INSTRUMENT() = default;
    // Empty range (low 127, high 0).
    _INSTRUMENT(uint8_t program, uint8_t bank, const std::string& name)
        : strName(name),
          byBank(bank),
          byBankCopy(bank),
          byProgram(program),
          byProgramCopy(program),
          byLowNote(127),
          byHighNote(0) {}
};

// One drum in use.
struct _DRUM {
    std::string strName;  // General MIDI drum name, empty when the note has none
    uint8_t byBank = 0;
    uint8_t byBankCopy = 0;
    uint8_t byNote = 0;
    uint8_t byNoteCopy = 0;
    std::string strPitch;  // pitch name, e.g. "C3" for note 36
};

// A moment at which more notes sound than the synthesiser has voices.
struct _CONFLICTVOICE {
    int32_t lMsecs;   // time of the note-on, whole ms from the start of the song
    int32_t nVoices;  // notes sounding then, the new one included
};

using InstrumentArray = std::vector<_INSTRUMENT>;
using DrumArray = std::vector<_DRUM>;
using ConflictVoiceArray = std::vector<_CONFLICTVOICE>;
using WordArray = std::vector<uint16_t>;

// The channel answers of a song from one walk over its events (CMidiFolio::GetChannelSurvey):
// each field is what the named call answers.
struct ChannelSurvey {
    int nChannels = 0;            // GetTotalChannels()
    InstrumentArray instruments;  // GetInstrument(instruments), instruments empty before
    DrumArray drums;              // GetDrums(drums, 1)
    int bPercussionInRange = 1;   // GetIsPercussionInRange()
};

MIDIFOLIO_END_NAMESPACE
