// Fuzz target: whole files through the exact reader (score::Song::FromBytes) with default
// options, with recovery, with recovery under a small memory budget and without the notes.
// Each reading must agree with its report, the readings must agree with one another, and
// every view of the song must stay in bounds and agree with its events (song_checks.h).
//
// Differential: when CMidiFolio loads the same bytes without any message and the exact reader
// has nothing to tell, both must give the same notes, track by track (pitch, channel,
// velocity, start and end tick; CMidiTrack::GetNextNoteOff pairs the library's notes). The
// exact view of the loaded song (Score(const CMidiFolio&)) must hold the library's notes too.
// Song::BuildCore must load what the loader makes of the song's file.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <tuple>
#include <vector>

#include "fuzz_support.h"
#include "song_checks.h"

using namespace midifolio;
using namespace fuzzsupport;
using sc::EventRecord;
using sc::ReadOptions;
using sc::ReadReport;
using sc::ReadStatus;
using sc::Song;

namespace {

bool SameEvents(const Song& a, const Song& b) {
    const std::vector<EventRecord> x = a.Events(), y = b.Events();
    if (x.size() != y.size() || a.tracks().size() != b.tracks().size()) return false;
    for (size_t k = 0; k < x.size(); ++k)
        if (!SameRecord(x[k], y[k], true)) return false;
    return true;
}

// The readings with other options, held against the plain one.
void CheckOptions(const std::vector<uint8_t>& input, const Song& plain, const ReadReport& p,
                  const Song& kept, const ReadReport& k) {
    if (p.ok()) {
        // Nothing to recover: the same song, the same report.
        FUZZ_CHECK(k.ok() && k.dropped.empty() && k.warnings.size() == p.warnings.size());
        FUZZ_CHECK(SameEvents(plain, kept));
    } else if (k.ok()) {
        // Recovery reads past damage only, and says what it left out.
        FUZZ_CHECK(p.status == ReadStatus::kDamaged && !k.dropped.empty());
    } else {
        FUZZ_CHECK(k.status == p.status && k.Text() == p.Text());
    }
    if (k.ok() && k.dropped.empty()) FUZZ_CHECK(p.ok());

    // Under a memory budget: the same song, or refused as too large (always when the bytes
    // alone exceed the budget).
    ReadOptions budget;
    budget.recover = true;
    budget.max_memory = 1 + input.size() / 2 + 64 * (input.empty() ? 0 : input.back());
    ReadReport b;
    const Song small = ReadChecked(input, budget, b);
    if (!k.ok()) {
        FUZZ_CHECK(b.status == k.status);
    } else if (b.ok()) {
        FUZZ_CHECK(input.size() <= budget.max_memory && SameEvents(small, kept));
        FUZZ_CHECK(b.dropped.size() == k.dropped.size());
    } else {
        FUZZ_CHECK(b.status == ReadStatus::kTooLarge);
    }

    // Without the notes: the same events, no note.
    ReadOptions bare;
    bare.notes = false;
    ReadReport n;
    const Song events = ReadChecked(input, bare, n);
    FUZZ_CHECK(n.status == p.status && SameEvents(events, plain));
    const sc::Score score(events);
    FUZZ_CHECK(score.notes().empty() && score.sustained_notes().empty());
    FUZZ_CHECK(score.summary().notes == 0 && score.instruments().empty());
}

// Where the two readers read the same bytes differently by design; the comparison leaves such
// songs out.
//  - F7: CMidiTrack's decoder reads an F7 status as a one-byte event and the bytes after it as
//    the next delta time and event (docs/api.md, "Escaped sysex"); the exact reader reads a
//    packet of a length and that many bytes.
//  - Port, tempo, SMPTE offset, time and key signature: CMidiTrack's decoder reads one length
//    byte, then the fixed count of the type whatever the length said (smf::FixedMetaSize);
//    the exact reader reads the length given, in any variable-length form.
//  - Ticks beyond 2^31 - 1: CMidiTrack's times are 32-bit; the exact reader counts in 64 bits.
bool ReadersDiffer(const Song& song, const std::vector<EventRecord>& events) {
    for (const EventRecord& r : events) {
        if (r.status == 0xF7 || r.tick > INT32_MAX) return true;
        if (r.status != 0xFF) continue;
        const uint32_t fixed = smf::FixedMetaSize(static_cast<uint32_t>(r.meta));
        if (fixed != 0 && (r.length != fixed || song.bytes()[r.offset - 2] != r.meta)) return true;
    }
    return false;
}

using NoteKey =
    std::tuple<int64_t, int, int, int64_t, int>;  // start, channel, pitch, end, velocity

std::vector<NoteKey> CoreNotes(CMidiTrack& track) {
    std::vector<NoteKey> out;
    track.ClearPairingMarks();
    const POSITION tail = track.GetTailPosition();
    const int64_t last = tail != nullptr ? tail->lTime : 0;
    for (POSITION p = track.GetEventHeadPosition(); p != nullptr; p = p->pNext) {
        if (p->dwType != EVT_NOTEON || p->byData2 == 0) continue;
        MIDIEvent off;
        const int64_t end =
            track.GetNextNoteOff(p, off) == 1 ? off.lTime : std::max<int64_t>(last, p->lTime);
        out.emplace_back(p->lTime, p->byChannel, p->byData1, end, p->byData2);
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::vector<NoteKey>> NotesByTrack(const sc::Score& score) {
    std::vector<std::vector<NoteKey>> out(score.song().tracks().size());
    for (const sc::Note& n : score.notes())
        out[n.track].emplace_back(n.start_tick, n.channel, n.pitch, n.end_tick, n.velocity);
    for (std::vector<NoteKey>& t : out) std::sort(t.begin(), t.end());
    return out;
}

void SameNotes(CMidiFolio& core, const std::vector<std::vector<NoteKey>>& exact, const char* what) {
    FUZZ_CHECK(core.GetTrackNum() == static_cast<long>(exact.size()));
    for (size_t t = 0; t < exact.size(); ++t) {
        const std::vector<NoteKey> library = CoreNotes(*core.GetTrack(static_cast<int>(t)));
        if (library != exact[t]) {
            std::fprintf(stderr, "track %zu: %zu notes from CMidiFolio, %zu from %s\n", t,
                         library.size(), exact[t].size(), what);
            std::abort();
        }
    }
}

// The exact reader against CMidiFolio's loader (core: the same bytes loaded, without message).
void Differential(CMidiFolio& core, const Song& song, const ReadReport& report) {
    if (!Quiet(report) || ReadersDiffer(song, song.Events())) return;
    SameNotes(core, NotesByTrack(sc::Score(song)), "the exact reader");
}

// Records score::SequenceOf leaves out: data bytes without status (type code 0) and the
// decoder's one-byte F7 events (song.h).
bool LeftOutOfSequence(const MIDIEvent& e) {
    if (e.dwType == EVT_SYSCOMMON || e.dwType == EVT_REALTIME)
        return e.dwSubType < 0xF1 || e.dwSubType > 0xFE || e.dwSubType == 0xF7;
    return e.dwType == 0;
}

// The exact view of a song of the library's own classes, Score(const CMidiFolio&): its tracks
// as the writer writes them, read again. It must hold the library's notes wherever the
// writer keeps them as they are: times from 0 on, in order, data bytes of notes within 0..127,
// and no record the sequence leaves out after a track's last other event (a note no end ends
// lasts to its track's last event).
void CheckCoreView(CMidiFolio& core) {
    bool comparable = true;
    for (long t = 0; t < core.GetTrackNum(); ++t) {
        int64_t previous = 0, lastKept = 0, lastLeft = 0;
        for (POSITION p = core.GetTrack(static_cast<int>(t))->GetEventHeadPosition(); p != nullptr;
             p = p->pNext) {
            const bool note = p->dwType == EVT_NOTEON || p->dwType == EVT_NOTEOFF;
            if (p->lTime < previous || (note && (p->byData1 > 127 || p->byData2 > 127)))
                comparable = false;
            previous = p->lTime;
            (LeftOutOfSequence(*p) ? lastLeft : lastKept) = p->lTime;
        }
        if (lastLeft > lastKept) comparable = false;
    }
    // The view keeps delta times beyond the 28 bits a file holds (CMidiFolio's loader reads
    // them from five bytes): only what else the writer refuses leaves it empty.
    std::string error;
    sc::Encode(sc::SequenceOf(core), &error);
    const sc::Score view(core);
    const bool longDelta = error.find("more than a delta time holds") != std::string::npos ||
                           error.find("its end lies too far") != std::string::npos;
    if (!error.empty() && !longDelta) return;
    const bool empty0 = core.GetMidiHeaderInfo().nFormat == 0 && core.GetTrackNum() == 0;
    FUZZ_CHECK(view.song().tracks().size() == static_cast<size_t>(empty0 ? 1 : core.GetTrackNum()));
    if (comparable && !empty0) SameNotes(core, NotesByTrack(view), "Score(CMidiFolio)");
}

uint32_t BigEndian(const uint8_t* p, int n) {
    uint32_t v = 0;
    for (int k = 0; k < n; ++k) v = v << 8 | p[k];
    return v;
}

// The bytes Song::BuildCore is documented to hand CMidiFolio's loader: the Standard MIDI File
// (out of its RIFF container), its header as it is, then its track chunks up to the declared
// number, unknown chunks left out.
std::vector<uint8_t> CoreBytes(const std::vector<uint8_t>& in) {
    size_t begin = 0, end = in.size();
    if (end >= 12 && std::memcmp(in.data(), "RIFF", 4) == 0 &&
        std::memcmp(in.data() + 8, "RMID", 4) == 0) {
        const size_t riffEnd = std::min<size_t>(
            end, 8 + uint64_t{in[4]} + (in[5] << 8) + (in[6] << 16) + (uint64_t{in[7]} << 24));
        for (size_t p = 12; p + 8 <= riffEnd;) {
            const uint64_t length =
                in[p + 4] + (in[p + 5] << 8) + (in[p + 6] << 16) + (uint64_t{in[p + 7]} << 24);
            if (std::memcmp(in.data() + p, "data", 4) == 0) {
                begin = p + 8;
                end = static_cast<size_t>(std::min<uint64_t>(riffEnd, begin + length));
                break;
            }
            p += 8 + length + (length & 1);
        }
    }
    const uint8_t* b = in.data() + begin;
    const uint64_t header = 8 + uint64_t{BigEndian(b + 4, 4)};
    std::vector<uint8_t> out(b, b + header);
    const uint32_t declared = BigEndian(b + 10, 2);
    for (uint64_t p = begin + header, tracks = 0; p + 8 <= end && tracks < declared;) {
        const uint64_t next = p + 8 + BigEndian(in.data() + p + 4, 4);
        if (std::memcmp(in.data() + p, "MTrk", 4) == 0) {
            out.insert(out.end(), in.begin() + p, in.begin() + std::min<uint64_t>(next, end));
            ++tracks;
        }
        p = next;
    }
    return out;
}

// Song::BuildCore loads what CMidiFolio's loader makes of those bytes.
void CheckBuildCore(const std::vector<uint8_t>& input, const Song& song) {
    const std::vector<uint8_t> bytes = CoreBytes(input);
    Messages first, second;
    CMidiFolio built, loaded;
    built.SetMessageSink(first.Sink());
    loaded.SetMessageSink(second.Sink());
    const int r = song.BuildCore(built);
    FUZZ_CHECK(r == loaded.LoadMidiBytes(bytes.data(), bytes.size()));
    FUZZ_CHECK(first.list == second.list);
    FUZZ_CHECK(built.GetTrackNum() == loaded.GetTrackNum());
    for (int t = 0; t < built.GetTrackNum(); ++t)
        FUZZ_CHECK(built.GetTrack(t)->GetCount() == loaded.GetTrack(t)->GetCount());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> input(data, data + size);
    ReadReport plainReport, keptReport;
    const Song plain = ReadChecked(input, ReadOptions{}, plainReport);
    ReadOptions recover;
    recover.recover = true;
    const Song kept = ReadChecked(input, recover, keptReport);
    CheckOptions(input, plain, plainReport, kept, keptReport);
    uint32_t choice = 0;
    for (size_t k = 0; k < 4 && k < size; ++k) choice = choice << 8 | data[size - 1 - k];
    if (keptReport.ok()) CheckViews(kept, choice);
    if (plainReport.ok()) CheckBuildCore(input, plain);
    Messages messages;
    CMidiFolio core;
    core.SetMessageSink(messages.Sink());
    if (core.LoadMidiBytes(input.data(), input.size()) == 1) {
        if (messages.list.empty()) Differential(core, plain, plainReport);
        CheckCoreView(core);
    }
    return 0;
}
