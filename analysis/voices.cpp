// Voice conflict check: the moments at which more notes sound than a synthesiser has
// voices. Notes end by their lengths alone (note-offs play no part): a note stops counting
// at the first note-on at or after its end.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <queue>
#include <vector>

#include "analysis/track_walk.h"
#include "midifolio/midi_folio.h"
#include "platform/no_memory.h"
#include "platform/numeric.h"
#include "track/note_pairing.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace {

// A note-on with a velocity, as the time query lists it.
struct NoteOnKey {
    int32_t lTime;
    uint8_t byChannel;
    uint8_t byNote;
};

// Per track: its counted note-ons in the order the time query lists them (by time, ties in
// list order), each with whether a partner note-off was found for it.
struct TrackNotes {
    std::vector<NoteOnKey> keys;
    std::vector<bool> paired;
    size_t next = 0;  // cursor while the query's list is walked
};

// Finds which note-ons of a track the time query pairs with a note-off (the track's pairing
// pass, track/note_pairing.h), in the order the query lists them.
TrackNotes PairTrack(track_detail::NotePairing& pairing, const CMidiTrack& track) {
    struct Entry {
        NoteOnKey key;
        uint32_t ordinal;  // among the track's sounding note-ons, in list order
    };
    std::vector<Entry> noteOns;
    std::vector<bool> pairedInListOrder;
    pairing.Run(
        track.GetEventHeadPosition(), track_detail::PairingMarks::kLeave, [](MIDIEventPtr*) {},
        [&](const MIDIEventPtr* on, uint32_t ordinal) {
            pairedInListOrder.push_back(false);
            // The time query selects events from tick 0 on only.
            if (on->lTime >= 0)
                noteOns.push_back({{on->lTime, on->byChannel, on->byData1}, ordinal});
        },
        [&](const MIDIEventPtr*, const MIDIEventPtr*, uint32_t ordinal) {
            pairedInListOrder[ordinal] = true;
        });
    std::stable_sort(noteOns.begin(), noteOns.end(),
                     [](const Entry& a, const Entry& b) { return a.key.lTime < b.key.lTime; });
    TrackNotes notes;
    notes.keys.reserve(noteOns.size());
    notes.paired.reserve(noteOns.size());
    for (const Entry& e : noteOns) {
        notes.keys.push_back(e.key);
        notes.paired.push_back(pairedInListOrder[e.ordinal]);
    }
    return notes;
}

}  // namespace

// The active notes are kept in a min-heap of their end times (length + start, in ms): a note
// whose remaining time at a note-on, truncated toward zero, is 0 or less has end - now < 1,
// and these are exactly the earliest ends. Each note-on costs a logarithm of the notes
// sounding together, and every note leaves the heap once.
//
// A note-on without a partner note-off counts with length 0, so it never sounds, whatever
// length its track record happens to hold.
void CMidiFolio::CheckMidiByVoice(int nVoices, ConflictVoiceArray* pArray) {
    platform_detail::OrWhenNoMemory(
        [&] {
            if (pArray == nullptr) return;
            MidiEventList list;
            _MIDI_TIME from = MakeTicks(0);
            _MIDI_TIME to = MakeTicks(static_cast<int32_t>(0xFFFFFFFFu));  // no upper bound
            GetMIDIByTime(TF_MSEC, from, to, list);

            std::vector<TrackNotes> tracks;
            track_detail::NotePairing pairing;
            for (int i = 0, n = analysis_detail::TracksToWalk(*this); i < n; ++i) {
                const CMidiTrack* pTrack = TrackForQuery(i);
                tracks.push_back(pTrack != nullptr ? PairTrack(pairing, *pTrack) : TrackNotes{});
            }

            std::priority_queue<double, std::vector<double>, std::greater<double>> active;
            for (const MIDI_Event& record : list) {
                const MIDIEvent& ev = record.event;
                if (!track_detail::IsSoundingNoteOn(ev)) continue;
                // Whether the query found a partner for this note-on: its place among the track's
                // note-ons in the query's order. Should the list not match that order, the length
                // the query reports is taken as it is.
                bool paired = true;
                if (record.wTrack < tracks.size()) {
                    TrackNotes& notes = tracks[record.wTrack];
                    if (notes.next < notes.keys.size()) {
                        const NoteOnKey& key = notes.keys[notes.next];
                        if (key.lTime == ev.lTime && key.byChannel == ev.byChannel &&
                            key.byNote == ev.byData1) {
                            paired = notes.paired[notes.next];
                            ++notes.next;
                        }
                    }
                }
                const double length = paired ? static_cast<double>(ev.dwLength) : 0.0;
                const double start = record.time.dMsecs;
                if (!std::isfinite(start)) continue;  // a time that names no moment is passed over
                const int32_t now = platform_detail::TruncSaturating(start);
                active.push(length + start);
                while (!active.empty() && active.top() - now < 1.0) active.pop();

                const int32_t count =
                    static_cast<int32_t>(std::min<size_t>(active.size(), INT32_MAX));
                if (count > nVoices) {
                    const _CONFLICTVOICE conflict{now, count};
                    if (!pArray->empty() && pArray->back().lMsecs == now) {
                        pArray->back() = conflict;
                    } else {
                        pArray->push_back(conflict);
                    }
                }
            }
            FreePtrList(list);
        },
        [&] {
            if (pArray != nullptr) pArray->clear();
        });
}

MIDIFOLIO_END_NAMESPACE
