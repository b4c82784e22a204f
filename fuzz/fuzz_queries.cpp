// Fuzz target: whatever a file loads to (loaded or refused part-way) goes through the time
// conversions, the selection queries, the playback lookups and the analyses. The last 32
// bytes of the input, when there are that many, choose the arguments (times, ranges,
// channels, masks, indices); the loader ignores bytes after the declared tracks, so seeds
// stay valid files.
#include <climits>
#include <cstring>
#include <tuple>
#include <vector>

#include "fuzz_support.h"

using namespace midifolio;
using namespace fuzzsupport;

namespace {

struct Params {
    const uint8_t* p = nullptr;
    size_t n = 0, at = 0;
    int32_t Int() {
        int32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v = static_cast<int32_t>((static_cast<uint32_t>(v) << 8) | Byte());
        return v;
    }
    uint8_t Byte() { return n == 0 ? 0 : p[at++ % n]; }
    int32_t Small(int32_t limit) { return static_cast<int32_t>(Int() & 0x7FFFFFFF) % limit; }
};

_MIDI_TIME AnyTime(Params& prm) {
    switch (prm.Byte() % 4) {
        case 0:
            return MakeTicks(prm.Int());
        case 1:
            return MakeMsecs(static_cast<double>(prm.Int()) / 4.0);
        case 2:
            return MakeMeasure(prm.Small(100000), static_cast<int16_t>(prm.Byte() % 8),
                               static_cast<int16_t>(prm.Int() & 0x7FFF));
        default:
            return MakeHmsf(prm.Small(24), prm.Small(60), prm.Small(60), prm.Small(40));
    }
}

TIME_FORMAT AnyFormat(Params& prm) {
    return static_cast<TIME_FORMAT>(prm.Byte() % 5);
}

void CheckSorted(const MidiEventList& list) {
    for (size_t i = 1; i < list.size(); ++i)
        FUZZ_CHECK(list[i - 1].event.lTime <= list[i].event.lTime);
}

// A lookup result is null or a record of the song list.
void CheckInList(const MidiEventList& list, const MIDI_Event* r) {
    if (r == nullptr) return;
    FUZZ_CHECK(!list.empty() && r >= list.data() && r < list.data() + list.size());
}

}  // namespace

namespace {

// Tempo map conversions at the edges and at chosen points.
void Conversions(CMidiFolio& song, Params& prm) {
    CMidiTempo& tempo = song.GetMidiTempo();
    for (int32_t v : {INT32_MIN, -1, 0, 1, 480, INT32_MAX, prm.Int(), prm.Int()}) {
        tempo.TicksToMsecs(v);
        tempo.MsecsToTicks(v);
        tempo.GetTempoIdxByTicks(v);
        tempo.GetTempoIdxByMs(v);
    }
    for (int f = TF_NONE; f <= TF_HMSF; ++f) {
        _MIDI_TIME t = AnyTime(prm);
        song.ConvertMIDITime(&t, static_cast<TIME_FORMAT>(f));
        _MIDI_TIME u = MakeTicks(prm.Int());
        song.ConvertMIDITime(&u, static_cast<TIME_FORMAT>(f));
    }
    song.GetBaseBarNum();
    song.GetBaseNoteNum();
}

// Selection queries.
void Selections(CMidiFolio& song, Params& prm) {
    MidiEventList list;
    song.GetMIDIByTime(AnyFormat(prm), AnyTime(prm), AnyTime(prm), list);
    CheckSorted(list);
    song.GetMIDIByTime(TF_MSEC, MakeTicks(0), MakeTicks(-1), list);
    CheckSorted(list);
    song.GetMIDIByMeasure(prm.Small(1000) - 1, prm.Small(1000), list);
    CheckSorted(list);
    song.GetMIDIByTrack(prm.Small(70000) - 2, prm.Small(70000) - 2, list);
    CheckSorted(list);
    song.GetMIDIByChannel(prm.Byte() % 2 ? 255 : prm.Int(), list);
    CheckSorted(list);
    song.GetMIDIByType(static_cast<uint32_t>(prm.Int()), AnyFormat(prm), list);
    song.GetMIDIByType(EVT_NOTEON | EVT_NOTEOFF, TF_TICK, list);
    CheckSorted(list);
    CMidiFolio::SortEventList(list);
    CMidiFolio::FreePtrList(list);
    FUZZ_CHECK(list.empty());
}

// The song event list and the playback lookups.
void Lookups(CMidiFolio& song, Params& prm, int loaded) {
    const _MIDIHEAD head = song.GetMidiHeaderInfo();
    const MidiEventList& all = song.MakeEventList();
    CheckSorted(all);
    if (loaded == 1) {
        // Every event from tick 0 on (a negative time, from a first delta of 2^31 or more,
        // lies before the range MakeEventList selects).
        size_t events = 0;
        for (int i = 0; i < head.nTracks; ++i) {
            const CMidiTrack* t = song.GetTrack(i);
            for (POSITION p = t->GetEventHeadPosition(); p != nullptr; p = p->pNext)
                events += p->lTime >= 0;
        }
        FUZZ_CHECK(all.size() == events);
    }
    const int count = static_cast<int>(all.size());
    // Every index of a small list; about 32 spread indices of a large one, with the edges
    // (each lookup scans forward, so more would only slow the fuzzer down).
    std::vector<int> indices = {-1, 0, count - 1, count, count + 1};
    const int step = count > 64 ? count / 32 : 1;
    for (int i = count > 0 ? prm.Small(step) : 0; i < count; i += step) indices.push_back(i);
    for (int i : indices) {
        int sustain = -1;
        CheckInList(all, song.FindPlayNoteOff(i, sustain));
        FUZZ_CHECK(sustain == 0 || sustain == 1);
        CheckInList(all, song.FindNextControl(i, prm.Byte(), prm.Byte() % 2 ? -1 : prm.Byte()));
        const MIDI_Event* stop = count > 0 && (prm.Byte() & 1) ? &all[prm.Small(count)] : nullptr;
        CheckInList(all, song.FindNextPitchBend(i, stop));
        CheckInList(all, song.FindNextPadel(i, prm.Byte() & 1));
        CheckInList(all, song.FindEndOfTrack(i));
    }
    MIDI_Event* at = nullptr;
    const int index = song.FindMidiEventByTime(AnyTime(prm), at);
    FUZZ_CHECK(index >= -1);
    // The record found lies in the song list that FindMidiEventByTime rebuilt.
    MidiEventList* total = nullptr;
    song.GetTotalEventList(&total);
    FUZZ_CHECK(total != nullptr);
    CheckInList(*total, at);
    FUZZ_CHECK(index < static_cast<int>(total->size()));
}

// Analyses.
void Analyses(CMidiFolio& song, Params& prm) {
    uint8_t channels[16];
    song.GetTotalChannels();
    song.GetChannels(channels);
    InstrumentArray instruments;
    song.GetInstruments(instruments, 1);
    song.GetInstrumentByChannel(prm.Small(20) - 2, instruments);
    song.GetInstrument(instruments);
    song.GetInstrumentByTrack(prm.Small(70000) - 2, instruments);
    WordArray words;
    song.GetInstIndexArrayByChannel(prm.Small(20) - 2, words);
    DrumArray drums;
    song.GetDrums(drums, 1);
    song.GetDrumPitch();
    song.GetIsPercussionInRange();
    // The survey answers as the four calls do, whatever the song.
    const ChannelSurvey survey = song.GetChannelSurvey();
    FUZZ_CHECK(survey.nChannels == song.GetTotalChannels());
    FUZZ_CHECK(survey.drums.size() == drums.size());
    InstrumentArray melodic;
    song.GetInstrument(melodic);
    FUZZ_CHECK(survey.instruments.size() == melodic.size());
    for (size_t i = 0; i < melodic.size(); ++i)
        FUZZ_CHECK(survey.instruments[i].byProgram == melodic[i].byProgram &&
                   survey.instruments[i].byBank == melodic[i].byBank &&
                   survey.instruments[i].byLowNote == melodic[i].byLowNote &&
                   survey.instruments[i].byHighNote == melodic[i].byHighNote);
    for (size_t i = 0; i < drums.size(); ++i)
        FUZZ_CHECK(survey.drums[i].byNote == drums[i].byNote &&
                   survey.drums[i].byBank == drums[i].byBank);
    FUZZ_CHECK(survey.bPercussionInRange == song.GetIsPercussionInRange());
}

// The exact view: notes in their order, whatever the song.
void ExactOrder(const CMidiFolio& song) {
    const score::Score exact(song);
    const std::vector<score::Note>& notes = exact.notes();
    for (size_t i = 1; i < notes.size(); ++i) {
        const score::Note& a = notes[i - 1];
        const score::Note& b = notes[i];
        FUZZ_CHECK(std::tie(a.start_tick, a.track, a.channel, a.pitch) <=
                   std::tie(b.start_tick, b.track, b.channel, b.pitch));
    }
    exact.summary();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Params prm;
    if (size >= 32) {
        prm.p = data + size - 32;
        prm.n = 32;
    }
    const std::string path = MemFile(data, size);
    CMidiFolio song;
    song.SetMessageSink([](const std::string&) {});
    if (prm.Byte() & 1) song.SetIsValidatePercussion();
    const int loaded = song.LoadMidiFile(path);

    Conversions(song, prm);
    Selections(song, prm);
    Lookups(song, prm, loaded);
    Analyses(song, prm);
    ExactOrder(song);
    ConflictVoiceArray conflicts;
    song.CheckMidiByVoice(prm.Small(70) - 2, &conflicts);
    song.CheckMidiByVoice(8, nullptr);
    for (int row : {-1, 0, 128, 129}) song.GetNoteUsage(row, prm.Byte());

    // Milliseconds last: it rewrites every event time.
    song.ConvertTime2MS();
    song.MakeEventList();
    song.FreeEventList();
    return 0;
}
