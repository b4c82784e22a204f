// Fuzz target: load, store, load again. The second load must succeed and give the same
// tracks and events as the first, apart from the tempo event the loader puts in front of the
// first track (a stored song carries the first load's prefix, the second load adds another).
#include <cstdio>
#include <string>

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

    const std::string out = ScratchDir() + "/roundtrip.mid";
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
        POSITION pa = a->GetEventHeadPosition(), pb = b->GetEventHeadPosition();
        if (t == 0) {
            // The second load's own tempo prefix.
            if (pb == nullptr) Fail("missing tempo prefix", t, 0, nullptr, nullptr);
            const MIDIEvent prefix = b->GetNextEvent(pb);
            FUZZ_CHECK(prefix.dwType == EVT_META && prefix.dwSubType == 0x51);
        }
        long index = 0;
        while (pa != nullptr && pb != nullptr) {
            const MIDIEvent ea = a->GetNextEvent(pa), eb = b->GetNextEvent(pb);
            // The delta after a track's last event is not part of the stored form.
            const bool last = pa == nullptr || pb == nullptr;
            if (!SameEvent(ea, eb, !last)) Fail("events differ", t, index, &ea, &eb);
            ++index;
        }
        if (pa != nullptr || pb != nullptr) {
            const MIDIEvent* ea = nullptr;
            const MIDIEvent* eb = nullptr;
            MIDIEvent xa{}, xb{};
            if (pa != nullptr) ea = &(xa = a->GetAt(pa));
            if (pb != nullptr) eb = &(xb = b->GetAt(pb));
            Fail("event count differs", t, index, ea, eb);
        }
    }
    return 0;
}
