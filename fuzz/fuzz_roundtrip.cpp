// Fuzz target: load, store, load again. The second load must succeed and give the same
// tracks and events as the first, apart from the tempo event the loader puts in front of the
// first track (a stored song carries the first load's prefix, the second load adds another).
//
// Intended differences, where decoded data has no stored form and the encoder follows its
// rules (the inputs of fuzz/regressions/file show each):
//   type0   a record of type code 0 (data bytes without running status) is written as
//           nothing, not even its delta; songs holding one are passed over;
//   bend    a pitch bend whose data bytes exceed 127 decodes to more than 14 bits; only the
//           low 14 bits are stored, so bends are compared on those;
//   negtime a first delta of 2^31 or more gives negative times; the encoder writes a negative
//           first time as 0, so such songs are passed over;
//   bigdelta a delta read from five bytes does not fit the format's 28 bits: the store refuses
//           such songs (EOVERFLOW) and writes nothing.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"

using namespace midifolio;
using namespace fuzzsupport;

namespace {

void Fail(const char* what, long track, long index, const MIDIEvent* a, const MIDIEvent* b) {
    std::fprintf(stderr, "round trip: %s (track %ld, event %ld)\n", what, track, index);
    if (a != nullptr) std::fprintf(stderr, "  first load:  %s\n", Describe(*a).c_str());
    if (b != nullptr) std::fprintf(stderr, "  second load: %s\n", Describe(*b).c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = MemFile(data, size);
    CMidiFolio first;
    first.SetMessageSink([](const std::string&) {});
    if (first.LoadMidiFile(path) != 1) return 0;

    bool bigDelta = false;
    for (long t = 0; t < first.GetTrackNum(); ++t) {
        const CMidiTrack* track = first.GetTrack(static_cast<int>(t));
        for (POSITION p = track->GetEventHeadPosition(); p != nullptr; p = p->pNext) {
            if (p->dwType == 0 || p->lTime < 0) return 0;
            // (No delta follows an end-of-track event, always the last of a loaded track.)
            const bool end = p->dwType == EVT_META && p->dwSubType == 0x2F;
            if ((p->dwDelta > 0x0FFFFFFFu && !end) ||
                (p == track->GetEventHeadPosition() && p->lTime > 0x0FFFFFFF))
                bigDelta = true;
        }
    }

    const std::string out = ScratchDir() + "/roundtrip.mid";
    if (bigDelta) {
        FUZZ_CHECK(first.StoreMidiFile(out) == 0 && first.GetStoreError() == EOVERFLOW);
        return 0;
    }
    FUZZ_CHECK(first.StoreMidiFile(out) == 1);
    Messages messages;
    CMidiFolio second;
    second.SetMessageSink(messages.Sink());
    if (second.LoadMidiFile(out) != 1) {
        std::fprintf(stderr, "round trip: the stored file does not load: %s\n",
                     messages.list.empty() ? "(no message)" : messages.list.back().c_str());
        std::abort();
    }
    std::remove(out.c_str());

    const _MIDIHEAD h1 = first.GetMidiHeaderInfo(), h2 = second.GetMidiHeaderInfo();
    FUZZ_CHECK(h1.nFormat == h2.nFormat);
    FUZZ_CHECK(h1.nDivision == h2.nDivision);
    if (first.GetTrackNum() != second.GetTrackNum()) Fail("track count", -1, -1, nullptr, nullptr);

    for (long t = 0; t < first.GetTrackNum(); ++t) {
        const CMidiTrack* a = first.GetTrack(static_cast<int>(t));
        const CMidiTrack* b = second.GetTrack(static_cast<int>(t));
        std::vector<MIDIEvent> ea, eb;
        for (POSITION p = a->GetEventHeadPosition(); p != nullptr;)
            ea.push_back(a->GetNextEvent(p));
        for (POSITION p = b->GetEventHeadPosition(); p != nullptr;)
            eb.push_back(b->GetNextEvent(p));
        if (t == 0) {
            // The second load's own tempo prefix.
            if (eb.empty()) Fail("missing tempo prefix", t, 0, nullptr, nullptr);
            FUZZ_CHECK(eb.front().dwType == EVT_META && eb.front().dwSubType == 0x51);
            eb.erase(eb.begin());
        }
        const size_t n = std::min(ea.size(), eb.size());
        for (size_t i = 0; i < n; ++i) {
            MIDIEvent x = ea[i], y = eb[i];
            if (x.dwType == EVT_PITCHBEND) {
                x.wBend &= 0x3FFF;
                y.wBend &= 0x3FFF;
            }
            // The delta after a track's last event is not part of the stored form.
            const bool last = i + 1 == ea.size() || i + 1 == eb.size();
            if (!SameEvent(x, y, !last)) Fail("events differ", t, long(i), &ea[i], &eb[i]);
        }
        if (ea.size() != eb.size())
            Fail("event count differs", t, long(n), n < ea.size() ? &ea[n] : nullptr,
                 n < eb.size() ? &eb[n] : nullptr);
    }
    return 0;
}
