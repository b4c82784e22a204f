// Sorting and releasing result lists of the song queries.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "midifolio/midi_folio.h"

MIDIFOLIO_BEGIN_NAMESPACE

void CMidiFolio::SortEventList(MidiEventList& list) {
    const size_t n = list.size();
    if (n < 2) return;
    // The key is the copied event's lTime (never the record's time); equal keys keep their
    // list order. A list already in order stays as it is.
    bool bOrdered = true;
    for (size_t k = 1; k < n && bOrdered; ++k) {
        bOrdered = list[k - 1].event.lTime <= list[k].event.lTime;
    }
    if (bOrdered) return;

    // (time, index) packed into one integer: the signed time biased into the high half, the
    // list index in the low half, so plain integer order is the stable order by time.
    std::vector<uint64_t> keys(n);
    for (size_t k = 0; k < n; ++k) {
        const uint32_t biased = static_cast<uint32_t>(list[k].event.lTime) ^ 0x80000000u;
        keys[k] = (static_cast<uint64_t>(biased) << 32) | static_cast<uint32_t>(k);
    }
    std::sort(keys.begin(), keys.end());
    std::vector<uint32_t> source(n);
    for (size_t k = 0; k < n; ++k) source[k] = static_cast<uint32_t>(keys[k]);
    std::vector<uint64_t>().swap(keys);

    // Position k receives the record that stood at source[k]; each cycle of the permutation
    // is followed once, so every record moves once. A finished position gets source[k] = k.
    for (size_t i = 0; i < n; ++i) {
        if (source[i] == i) continue;
        MIDI_Event held = list[i];
        size_t j = i;
        for (;;) {
            const size_t from = source[j];
            source[j] = static_cast<uint32_t>(j);
            if (from == i) {
                list[j] = held;
                break;
            }
            list[j] = list[from];
            j = from;
        }
    }
}

void CMidiFolio::FreePtrList(MidiEventList& list) {
    MidiEventList().swap(list);
}

MIDIFOLIO_END_NAMESPACE
