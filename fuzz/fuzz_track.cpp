// Fuzz target: raw track chunk bytes into CMidiTrack::SetMidiTrackRawData, then traversal,
// index access, encoding (into an exact and a too-small buffer), re-decoding of the encoding,
// copying, sorting, note pairing, millisecond conversion and editing.
#include <vector>

#include "fuzz_support.h"

using namespace midifolio;
using namespace fuzzsupport;

namespace {

// True when a delta time (or the first event's time) of the track needs at least 27 bits: only
// then may the encoding be refused, since the format holds 28 bits and the encoder adds at
// most two deltas (one of them a left-out end-of-track event's).
bool HasLongDelta(const CMidiTrack& track) {
    const POSITION head = track.GetEventHeadPosition();
    if (head != nullptr && head->lTime > 0x0FFFFFFF) return true;
    for (POSITION p = head; p != nullptr; p = p->pNext)
        if (p->dwDelta >= 0x08000000u) return true;
    return false;
}

// Encodes the track into a buffer of exactly the reported size and checks the bookkeeping;
// also checks that a buffer one byte short is refused without being overrun. Empty when the
// track cannot be encoded (a delta beyond the format).
std::vector<uint8_t> Encode(CMidiTrack& track) {
    const uint32_t need = track.GetEncodedSize();
    std::vector<uint8_t> out;
    if (need == 0 || need > (1u << 28)) return out;
    out.resize(need);
    uint8_t* p = out.data();
    int32_t len = static_cast<int32_t>(need);
    if (track.GetMidiTrackRawData(p, len) == 0) {
        FUZZ_CHECK(len == 0 && HasLongDelta(track));
        return {};
    }
    FUZZ_CHECK(len == static_cast<int32_t>(need));
    std::vector<uint8_t> small(need - 1);
    uint8_t* q = small.empty() ? nullptr : small.data();
    len = static_cast<int32_t>(need - 1);
    if (q != nullptr) {
        FUZZ_CHECK(track.GetMidiTrackRawData(q, len) == 0);
        FUZZ_CHECK(len == static_cast<int32_t>(need));
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 24)) return 0;
    CMidiTempo tempo;
    tempo.SetMessageSink([](const std::string&) {});
    tempo.SetTicksPerQuarterNote(480);
    CMidiTrack track;
    track.SetTempoObject(&tempo);
    const int r = track.SetMidiTrackRawData(size != 0 ? data : nullptr, static_cast<int32_t>(size));
    if (size == 0) FUZZ_CHECK(r == 0);

    const size_t n = WalkTrack(track);
    FUZZ_CHECK(n == static_cast<size_t>(track.GetCount()));
    FUZZ_CHECK(track.FindIndex(-1) == nullptr);
    FUZZ_CHECK(track.FindIndex(static_cast<int>(n)) == nullptr);
    if (n != 0) {
        FUZZ_CHECK(track.FindIndex(0) == track.GetEventHeadPosition());
        FUZZ_CHECK(track.FindIndex(static_cast<int>(n) - 1) == track.GetTailPosition());
    }

    // Encode, and decode the encoding into a second track.
    const std::vector<uint8_t> encoded = Encode(track);
    if (!encoded.empty()) {
        CMidiTempo tempo2;
        tempo2.SetMessageSink([](const std::string&) {});
        CMidiTrack again;
        again.SetTempoObject(&tempo2);
        again.SetMidiTrackRawData(encoded.data(), static_cast<int32_t>(encoded.size()));
        WalkTrack(again);
    }

    // A copy owns its own nodes and payloads.
    CMidiTrack copy(track);
    FUZZ_CHECK(WalkTrack(copy) == n);
    copy = track;
    FUZZ_CHECK(WalkTrack(copy) == n);

    // Pair every sounding note-on, then sort and convert the copy.
    for (POSITION p = track.GetEventHeadPosition(); p != nullptr; p = p->pNext) {
        MIDIEvent off{};
        track.GetNextNoteOff(p, off);
    }
    track.ClearPairingMarks();
    int32_t end = 0;
    FUZZ_CHECK(copy.SortTrackByLTime(&end) == 1);
    FUZZ_CHECK(WalkTrack(copy) == n);
    Encode(copy);
    tempo.ReCalculateTempolst();
    copy.Convert2MSecond();

    // Edits: insert a meta with a payload after the head and at the end, delete a few nodes
    // from the front (each deletion searches from the head), then encode again.
    uint8_t text[5] = {'f', 'u', 'z', 'z', '!'};
    MIDIEvent meta{};
    meta.dwType = EVT_META;
    meta.dwSubType = 0x01;
    meta.byChannel = 255;
    meta.dwLength = sizeof text;
    meta.pData = text;
    track.InsertEventAfter(track.GetEventHeadPosition(), meta);
    track.InsertEventAfter(nullptr, &meta);
    for (int i = 0; i < 16 && track.GetCount() > 1; ++i) {
        FUZZ_CHECK(track.DeleteEvent(track.GetEventHeadPosition()) == 1);
    }
    WalkTrack(track);
    Encode(track);
    MIDIEvent found{};
    track.GetEvent(0, EVT_NOTEON, &found);
    track.RemoveAllPt();
    FUZZ_CHECK(track.GetEventHeadPosition() == nullptr);
    return 0;
}
