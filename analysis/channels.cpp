// Channel and program survey: which channels a song uses, and which bank/program words
// (or, on the percussion channel, which drum notes) a channel selects.
#include <algorithm>
#include <iterator>
#include <vector>

#include "analysis/track_walk.h"
#include "midifolio/midi_folio.h"
#include "platform/no_memory.h"
#include "queries/event_merge.h"
#include "track/event_range.h"

MIDIFOLIO_BEGIN_NAMESPACE

int CMidiFolio::GetTotalChannels() {
    std::fill(std::begin(m_nChannelUsed), std::end(m_nChannelUsed), 0);
    for (int i = 0, n = analysis_detail::TracksToWalk(*this); i < n; ++i) {
        const CMidiTrack* pTrack = TrackForQuery(i);
        if (pTrack == nullptr) continue;
        // Meta, sysex and system events carry channel 255 and never count.
        for (const MIDIEventPtr& ev : track_detail::Events(*pTrack))
            if (ev.byChannel < 16) m_nChannelUsed[ev.byChannel] = 1;
    }
    return static_cast<int>(std::count(std::begin(m_nChannelUsed), std::end(m_nChannelUsed), 1));
}

// Writes exactly as many bytes as GetTotalChannels counts; a null buffer receives nothing
// (the flags are still refreshed).
void CMidiFolio::GetChannels(uint8_t* pChannels) {
    GetTotalChannels();
    if (pChannels == nullptr) return;
    int n = 0;
    for (int ch = 0; ch < 16; ++ch) {
        if (m_nChannelUsed[ch] == 1) pChannels[n++] = static_cast<uint8_t>(ch);
    }
}

// Kept for hosts that keep a channel/instrument table of their own: the library fills
// nothing here and changes nothing.
void CMidiFolio::GetChAndInstrument(_CH_INSTR* /*pChInstr*/) {}

void CMidiFolio::GetInstIndexArrayByChannel(int nChannel, WordArray& array) {
    platform_detail::OrWhenNoMemory(
        [&] {
            // Words the array already holds (from earlier calls) suppress equal words.
            std::vector<bool> present(65536, false);
            for (uint16_t word : array) present[word] = true;

            uint8_t bank = 0;
            uint8_t program = 0;
            // The channel's events as GetMIDIByChannel lists them (the low byte of the argument).
            const uint8_t byChannel = static_cast<uint8_t>(static_cast<unsigned>(nChannel) & 0xFFu);
            queries_detail::VisitInQueryOrder(
                analysis_detail::TracksToWalk(*this), [this](int i) { return TrackForQuery(i); },
                [byChannel](const MIDIEvent& ev) { return ev.byChannel == byChannel; },
                [&](const MIDIEvent& ev) {
                    bool pending = false;
                    if (ev.dwType == EVT_PROGRAM) {
                        program = ev.byData1;
                        pending = true;
                    } else if (ev.dwType == EVT_CONTROL && ev.byData1 == CONTROL_BANK_SELECT_LSB) {
                        bank = ev.byData2;  // Bank Select LSB
                    }
                    if (nChannel == PERCUSSION_CHANNEL && ev.dwType == EVT_NOTEON &&
                        ev.byData2 != 0) {
                        program =
                            ev.byData1;  // on the percussion channel a struck note is the "program"
                        pending = true;
                    }
                    const uint16_t word = static_cast<uint16_t>(bank * 256 + program);
                    if (pending && !present[word]) {
                        array.push_back(word);
                        present[word] = true;
                    }
                });
        },
        [&] { array.clear(); });
}

MIDIFOLIO_END_NAMESPACE
