// Differential tests on the real-world corpus (tests/data/corpus): each file, loaded once,
// against an independent decoder's dump of it (NAME.oracle.txt, by python3-mido, or by
// midicsv for the files mido refuses) and against python3-mido run now. A table names what is
// compared and the function that compares it; the invariants at the end hold on the corpus
// and on a few songs made here.
//
// Intended differences from the dump: the loader puts a tempo event (0 meta 51 07a120) in
// front of the first track; sysex payloads keep their trailing F7 (Canonical strips it); a
// track ends at its end-of-track event (the dump reads on to the chunk end); the two simutrans
// files dumped by midicsv show a key-signature mode other than 0 as 01 (KeyMode below).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "midifolio/midifolio.h"
#include "test_support.h"

using namespace midifolio;
using namespace testsupport;

namespace {

using Lines = std::vector<std::string>;
const std::string kLoaderTempo = "0 meta 51 07a120";

// A key signature as midicsv writes it back: any mode other than 00 as 01.
std::string KeyMode(std::string line) {
    const size_t at = line.find(" meta 59 ");
    if (at != std::string::npos && line.size() == at + 13 && line.compare(at + 11, 2, "00") != 0)
        line.replace(at + 11, 2, "01");
    return line;
}
std::string Line(long tick, const std::string& canonical) {
    return KeyMode(std::to_string(tick) + " " + canonical);
}
Lines TrackLines(const CMidiTrack& track) {
    Lines out;
    for (POSITION pos = track.GetEventHeadPosition(); pos;) {
        const MIDIEvent ev = track.GetNextEvent(pos);
        out.push_back(Line(ev.lTime, Canonical(ev)));
    }
    return out;
}
bool IsEndOfTrack(const std::string& line) {
    return line.find(" meta 2f ") != std::string::npos;
}

// One corpus file, loaded once, with its dump's events per track up to the end of track.
struct CorpusFile {
    std::string name, path;
    OracleDump dump;
    std::vector<std::vector<OracleEvent>> tracks;
    Messages messages;
    CMidiFolio song;
    int loaded = 0;

    // The dump's lines of a track, the loader's tempo event in front of the first.
    Lines Expected(size_t t) const {
        Lines out;
        if (t == 0) out.push_back(kLoaderTempo);
        for (const OracleEvent& ev : tracks[t]) out.push_back(Line(ev.tick, Canonical(ev)));
        return out;
    }
};
using Files = std::vector<std::unique_ptr<CorpusFile>>;

const Files& Corpus() {
    static const Files files = [] {
        Files out;
        for (const std::string& name : CorpusFiles()) {
            auto f = std::make_unique<CorpusFile>();
            f->name = name;
            f->path = DataPath("corpus/" + name);
            f->dump = ReadOracle(f->path + ".oracle.txt");
            f->tracks.resize(static_cast<size_t>(std::max(f->dump.ntracks, 0)));
            std::vector<bool> ended(f->tracks.size());
            for (const OracleEvent& ev : f->dump.events) {
                const size_t t = static_cast<size_t>(ev.track);
                if (t >= f->tracks.size() || ended[t]) continue;
                f->tracks[t].push_back(ev);
                ended[t] = ev.kind == "meta" && ev.fields[0] == "2f";
            }
            f->song.SetMessageSink(f->messages.Sink());
            f->loaded = f->song.LoadMidiFile(f->path);
            out.push_back(std::move(f));
        }
        return out;
    }();
    return files;
}

bool IsChannelKind(const std::string& kind) {
    return kind == "noteon" || kind == "noteoff" || kind == "keypressure" || kind == "control" ||
           kind == "program" || kind == "chanpressure" || kind == "pitchbend";
}
int Field(const OracleEvent& ev, size_t i) {
    return std::stoi(ev.fields.at(i));
}
int ChannelOf(const OracleEvent& ev) {
    return IsChannelKind(ev.kind) ? Field(ev, 0) : 255;
}
bool IsStart(const OracleEvent& ev) {
    return ev.kind == "noteon" && Field(ev, 2) > 0;
}
bool IsEnd(const OracleEvent& ev) {
    return ev.kind == "noteoff" || (ev.kind == "noteon" && Field(ev, 2) == 0);
}
bool IsBankSelect(const OracleEvent& ev) {
    return ev.kind == "control" && Field(ev, 1) == 32;
}

// Events of one channel in song order: by tick, then track, then position in the track.
std::vector<const OracleEvent*> ChannelEvents(const CorpusFile& f, int channel) {
    std::vector<const OracleEvent*> out;
    for (const auto& track : f.tracks)
        for (const OracleEvent& ev : track)
            if (ChannelOf(ev) == channel) out.push_back(&ev);
    std::stable_sort(out.begin(), out.end(),
                     [](const OracleEvent* a, const OracleEvent* b) { return a->tick < b->tick; });
    return out;
}

// ------------------------------------------------------------------ the comparisons

// Each track chunk, cut from the file's bytes and decoded alone (no loader tempo event).
void DecodedTrackChunksEqualTheDump(const Files& files) {
    size_t events = 0;
    for (const auto& f : files) {
        SCOPED_TRACE(f->name);
        const Bytes file = ReadFile(f->path);
        size_t t = 0;
        for (size_t at = 14; at + 8 <= file.size(); ++t) {
            const size_t length = (size_t{file[at + 4]} << 24) | (size_t{file[at + 5]} << 16) |
                                  (size_t{file[at + 6]} << 8) | file[at + 7];
            const size_t take = std::min(length, file.size() - at - 8);
            ASSERT_EQ(std::string(file.begin() + at, file.begin() + at + 4), "MTrk");
            CMidiTrack track;  // without a tempo map: the signature events stay in the list
            ASSERT_EQ(track.SetMidiTrackRawData(&file[at + 8], static_cast<int32_t>(take)), 1);
            ASSERT_LT(t, f->tracks.size());
            const Lines want = f->Expected(t);
            EXPECT_EQ(TrackLines(track), Lines(want.begin() + (t == 0), want.end())) << t;
            events += static_cast<size_t>(track.GetCount());
            at += 8 + take;
        }
        EXPECT_EQ(t, f->tracks.size());
    }
    EXPECT_GT(events, 100000u);
}

// The song event list: every event of every track as the dump has it, in time order (at one
// time in track order, within a track in list order); built again, the same records.
void SongEventListHoldsTheDumpsEventsInTimeOrder(const Files& files) {
    for (const auto& f : files) {
        SCOPED_TRACE(f->name);
        const MidiEventList& events = f->song.MakeEventList();
        std::vector<Lines> tracks(f->tracks.size());
        for (size_t k = 0; k < events.size(); ++k) {
            const MIDI_Event& r = events[k];
            ASSERT_LT(r.wTrack, tracks.size());
            ASSERT_EQ(r.time.format, TF_MSEC);
            const MIDI_Event& before = events[k > 0 ? k - 1 : 0];
            ASSERT_LE(std::make_pair(before.event.lTime, before.wTrack),
                      std::make_pair(r.event.lTime, r.wTrack))
                << "record " << k;
            tracks[r.wTrack].push_back(Line(r.event.lTime, Canonical(r.event)));
        }
        for (size_t t = 0; t < tracks.size(); ++t) EXPECT_EQ(tracks[t], f->Expected(t)) << t;
        auto records = [&events] {  // every field, note lengths and payload addresses too
            std::vector<std::string> out;
            for (const MIDI_Event& r : events)
                out.push_back(std::to_string(r.wTrack) + " " + std::to_string(r.time.dMsecs) + " " +
                              std::to_string(r.event.dwDelta) + " " +
                              std::to_string(r.event.dwLength) + " " +
                              std::to_string(reinterpret_cast<uintptr_t>(r.event.pData)));
            return out;
        };
        const std::vector<std::string> first = records();
        f->song.MakeEventList();
        EXPECT_EQ(records(), first) << "built again";
    }
}

uint32_t TypeOf(const OracleEvent& ev) {
    static const std::map<std::string, uint32_t> kinds = {
        {"noteon", EVT_NOTEON},       {"noteoff", EVT_NOTEOFF}, {"keypressure", EVT_KEYPRESSURE},
        {"control", EVT_CONTROL},     {"program", EVT_PROGRAM}, {"chanpressure", EVT_CHANPRESSURE},
        {"pitchbend", EVT_PITCHBEND}, {"sysex", EVT_SYSEX},     {"meta", EVT_META}};
    return kinds.at(ev.kind);  // system messages ("other") occur in malformed files only
}

// The channels in use, and the events the channel and type queries select.
void ChannelsAndCountsPerChannelAndTypeEqualTheDump(const Files& files) {
    for (const auto& f : files) {
        SCOPED_TRACE(f->name);
        std::map<int, size_t> perChannel{{255, 1}};  // the loader's tempo event
        std::map<uint32_t, size_t> perType{{EVT_META, 1}};
        for (const auto& track : f->tracks)
            for (const OracleEvent& ev : track) ++perChannel[ChannelOf(ev)], ++perType[TypeOf(ev)];
        std::vector<int> used;
        for (const auto& [channel, count] : perChannel)
            if (channel < 16) used.push_back(channel);
        uint8_t buffer[16] = {};
        EXPECT_EQ(f->song.GetTotalChannels(), static_cast<int>(used.size()));
        f->song.GetChannels(buffer);
        EXPECT_EQ(std::vector<int>(buffer, buffer + used.size()), used);
        MidiEventList list;
        for (int channel = 0; channel < 256; channel = channel == 15 ? 255 : channel + 1) {
            f->song.GetMIDIByChannel(channel, list);
            EXPECT_EQ(list.size(), perChannel[channel]) << "channel " << channel;
        }
        for (uint32_t type = 1; type <= EVT_SYSEXESC; type <<= 1) {
            CMidiFolio::FreePtrList(list);
            f->song.GetMIDIByType(type, TF_TICK, list);
            EXPECT_EQ(list.size(), perType[type]) << "type " << type;
        }
    }
}

// Per channel, in song order: bank (Bank Select LSB) * 256 + program at each program change,
// and on the percussion channel at each struck note too, each word once; and each note number
// of the percussion channel (note-on or note-off) once per bank as a drum, with its General
// MIDI drum name and its pitch name.
void InstrumentWordsAndDrumsEqualTheDump(const Files& files) {
    static const char* const kNames[] = {"C",  "C#", "D",  "D#", "E",  "F",
                                         "F#", "G",  "G#", "A",  "A#", "B"};
    size_t songsWithDrums = 0;
    for (const auto& f : files) {
        SCOPED_TRACE(f->name);
        Lines drums;
        std::set<std::pair<int, int>> seen;
        for (int channel = 0; channel < 16; ++channel) {
            WordArray expected, got;
            int bank = 0;
            for (const OracleEvent* ev : ChannelEvents(*f, channel)) {
                if (IsBankSelect(*ev)) bank = Field(*ev, 2);
                const bool selects = ev->kind == "program" || (channel == 9 && IsStart(*ev));
                const uint16_t word = static_cast<uint16_t>((bank & 0xFF) * 256 + Field(*ev, 1));
                if (selects && std::find(expected.begin(), expected.end(), word) == expected.end())
                    expected.push_back(word);
                const int note = ev->kind == "noteon" || ev->kind == "noteoff" ? Field(*ev, 1) : -1;
                if (channel == 9 && note >= 0 && seen.insert({bank, note}).second)
                    drums.push_back(std::to_string(bank) + "/" + std::to_string(note) + " " +
                                    CMidiFolio::GetDrumName(note) + " " + kNames[note % 12] +
                                    std::to_string(note / 12));
            }
            f->song.GetInstIndexArrayByChannel(channel, got);
            EXPECT_EQ(got, expected) << "channel " << channel;
        }
        DrumArray array;
        f->song.GetDrums(array, 1);
        Lines got;
        for (const _DRUM& d : array)
            got.push_back(std::to_string(d.byBank) + "/" + std::to_string(d.byNote) + " " +
                          d.strName + " " + d.strPitch);
        EXPECT_EQ(got, drums);
        songsWithDrums += !drums.empty();
    }
    EXPECT_GT(songsWithDrums, 10u);
}

// The plain replay: within each track a note end ends the oldest open note of its channel and
// note; every sounding note-on, in song order, joins the notes sounding; those whose time has
// run out leave; a count above the limit is recorded, once per millisecond. Times come from
// the song's tempo map, which TicksToMsecsAgreesWithMido compares with mido's.
std::vector<std::pair<int, int>> ReplayConflicts(const CorpusFile& f, int voices) {
    const CMidiTempo& tempo = const_cast<CMidiFolio&>(f.song).GetMidiTempo();
    std::vector<std::pair<long, long>> notes;  // tick, length in ms (0: never ended)
    for (const auto& track : f.tracks) {
        std::map<std::pair<int, int>, std::vector<size_t>> open;  // (channel, note) -> notes
        for (const OracleEvent& ev : track) {
            if (!IsStart(ev) && !IsEnd(ev)) continue;
            std::vector<size_t>& waiting = open[{Field(ev, 0), Field(ev, 1)}];
            if (IsStart(ev)) {
                waiting.push_back(notes.size());
                notes.emplace_back(ev.tick, 0);
            } else if (!waiting.empty()) {
                auto& note = notes[waiting.front()];
                waiting.erase(waiting.begin());
                note.second = tempo.TicksToMsecs(ev.tick) - tempo.TicksToMsecs(note.first);
            }
        }
    }
    std::stable_sort(notes.begin(), notes.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::pair<int, int>> records;
    std::vector<long> ends;  // of the notes sounding
    for (const auto& [tick, length] : notes) {
        const long now = tempo.TicksToMsecs(static_cast<int32_t>(tick));
        ends.push_back(now + length);
        ends.erase(std::remove_if(ends.begin(), ends.end(), [now](long end) { return end <= now; }),
                   ends.end());
        const int count = static_cast<int>(ends.size());
        if (count <= voices) continue;
        if (!records.empty() && records.back().first == now) records.pop_back();
        records.emplace_back(static_cast<int>(now), count);
    }
    return records;
}

void VoiceConflictsEqualAReplayOfTheDump(const Files& files) {
    size_t songsWithConflicts = 0;
    for (const auto& f : files) {
        SCOPED_TRACE(f->name);
        for (int voices : {0, 3, 8}) {
            const auto expected = ReplayConflicts(*f, voices);
            ConflictVoiceArray array;
            f->song.CheckMidiByVoice(voices, &array);
            std::vector<std::pair<int, int>> got;
            for (const _CONFLICTVOICE& c : array) got.emplace_back(c.lMsecs, c.nVoices);
            EXPECT_EQ(got, expected) << voices << " voices";
            songsWithConflicts += voices == 8 && !expected.empty();
        }
    }
    EXPECT_GT(songsWithConflicts, 5u);
}

// Every event's time through the song's tempo map, against the tempo-aware times
// tests/tools/mido_times.py prints. Every tempo step truncates its millisecond position, so a
// time may lag the exact one by under a millisecond per tempo change before it, plus the
// truncation of the time itself.
void TicksToMsecsAgreesWithMido(const Files& files) {
    std::string command = "/usr/bin/python3 '" + DataPath("../tools/mido_times.py") + "'";
    for (const auto& f : files) command += " '" + f->path + "'";
    int status = -1;
    const std::string text = Run(command, &status);
    ASSERT_EQ(status, 0);
    // Per file, per track, the (tick, ms) of each event (the paths hold no blanks).
    std::map<std::string, std::map<int, std::vector<std::pair<long, double>>>> times;
    std::istringstream in(text);
    std::string file, word;
    while (in >> word) {
        ASSERT_NE(word, "ERROR") << file;
        long tick;
        double ms;
        if (word == "file")
            in >> file;
        else if (in >> tick >> ms)
            times[file][std::stoi(word)].emplace_back(tick, ms);
    }
    size_t compared = 0;
    for (const auto& f : files) {
        SCOPED_TRACE(f->name);
        const CMidiTempo& tempo = f->song.GetMidiTempo();
        for (int t = 0; t < f->song.GetTrackNum(); ++t) {
            const auto& expected = times[f->path][t];
            const CMidiTrack* track = f->song.GetTrack(t);
            POSITION pos = track->GetEventHeadPosition();
            if (t == 0) track->GetNextEvent(pos);  // the loader's tempo event
            for (size_t k = 0; pos; ++k, ++compared) {
                const int32_t tick = track->GetNextEvent(pos).lTime;
                ASSERT_LT(k, expected.size()) << "track " << t;
                ASSERT_EQ(tick, expected[k].first) << "track " << t << " event " << k;
                long before = 0;
                for (const _TEMPO& change : tempo.GetTempos())
                    before += change.lTicks > 0 && change.lTicks < tick;
                const int32_t mine = tempo.TicksToMsecs(tick);
                EXPECT_LE(mine, expected[k].second + 0.001) << "track " << t << " tick " << tick;
                EXPECT_GT(mine, expected[k].second - 1.0 - before)
                    << "track " << t << " tick " << tick;
            }
        }
    }
    EXPECT_GT(compared, 200000u);
}

// Per track, "TICK KIND FIELDS" of a dump's events.
std::vector<Lines> ByTrack(const OracleDump& dump) {
    std::vector<Lines> tracks(static_cast<size_t>(std::max(dump.ntracks, 0)));
    for (const OracleEvent& ev : dump.events)
        if (ev.track >= 0 && ev.track < dump.ntracks)
            tracks[static_cast<size_t>(ev.track)].push_back(Line(ev.tick, Canonical(ev)));
    return tracks;
}

// A dump of a stored file by mido, or by midicsv where mido refuses the file.
OracleDump ReadStored(const std::map<std::string, OracleDump>& mido, const std::string& path,
                      int* viaMidicsv) {
    const auto found = mido.find(path);
    if (found != mido.end() && !found->second.error) return found->second;
    ++*viaMidicsv;
    int status = -1;
    Run("sh '" + DataPath("../tools/dump_midicsv.sh") + "' '" + path + "' > '" + path + ".csv'",
        &status);
    return ReadOracle(path + ".csv");
}

// The loaded song stored, as mido reads it: the file's events (up to each end of track) with
// the loader's tempo event in front of the first track.
void StoredFilesReadInMidoAsTheOriginals(const Files& files) {
    std::vector<std::string> stored;
    for (const auto& f : files) {
        stored.push_back(TmpPath(f->name));
        ASSERT_EQ(f->song.StoreMidiFile(stored.back()), 1) << f->name;
    }
    const std::map<std::string, OracleDump> dumps = MidoDumps(stored);
    if (dumps.empty()) GTEST_SKIP() << "python3-mido is not available";
    int viaMidicsv = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        const CorpusFile& f = *files[i];
        SCOPED_TRACE(f.name);
        const OracleDump dump = ReadStored(dumps, stored[i], &viaMidicsv);
        ASSERT_FALSE(dump.error) << "refused by mido and by midicsv";
        EXPECT_EQ(dump.format, f.dump.format);
        EXPECT_EQ(dump.division, f.dump.division);
        const std::vector<Lines> got = ByTrack(dump);
        ASSERT_EQ(got.size(), f.tracks.size());
        for (size_t t = 0; t < got.size(); ++t) EXPECT_EQ(got[t], f.Expected(t)) << "track " << t;
    }
    EXPECT_LE(viaMidicsv, 5);
}

struct Comparison {
    const char* name;  // what is compared and how, as a sentence
    void (*check)(const Files&);
};
const Comparison kComparisons[] = {
    {"DecodedTrackChunksEqualTheDump", DecodedTrackChunksEqualTheDump},
    {"SongEventListHoldsTheDumpsEventsInTimeOrder", SongEventListHoldsTheDumpsEventsInTimeOrder},
    {"ChannelsAndCountsPerChannelAndTypeEqualTheDump",
     ChannelsAndCountsPerChannelAndTypeEqualTheDump},
    {"InstrumentWordsAndDrumsEqualTheDump", InstrumentWordsAndDrumsEqualTheDump},
    {"VoiceConflictsEqualAReplayOfTheDump", VoiceConflictsEqualAReplayOfTheDump},
    {"TicksToMsecsAgreesWithMido", TicksToMsecsAgreesWithMido},
    {"StoredFilesReadInMidoAsTheOriginals", StoredFilesReadInMidoAsTheOriginals},
};

void PrintTo(const Comparison& comparison, std::ostream* os) {
    *os << comparison.name;
}
class EveryCorpusFile : public ::testing::TestWithParam<Comparison> {};

}  // namespace

TEST_P(EveryCorpusFile, AgreesWithTheIndependentDecoder) {
    ASSERT_GE(Corpus().size(), 100u);
    for (const auto& f : Corpus()) {
        ASSERT_FALSE(f->dump.error) << f->name;
        ASSERT_EQ(f->loaded, 1) << f->name << ": " << ::testing::PrintToString(f->messages.list);
    }
    GetParam().check(Corpus());
}
INSTANTIATE_TEST_SUITE_P(Corpus, EveryCorpusFile, ::testing::ValuesIn(kComparisons),
                         [](const auto& info) { return std::string(info.param.name); });

// The editing recipe of the guide on real files whose first track ends before the song does:
// append a marker after the song's last event and add a note and a controller before earlier
// events, sort, store, load again. The end-of-track event then stands before the marker in the
// list; the stored file must still hold every event at its tick, in time order, and end each
// track with one end-of-track event, as the library and as mido read it.
TEST(CorpusRoundTrip, AMarkerAppendedAfterAnEarlyEndOfTrackIsKept) {
    static const uint8_t coda[] = {'c', 'o', 'd', 'a'};
    auto withoutEnds = [](Lines lines) {
        lines.erase(std::remove_if(lines.begin(), lines.end(), IsEndOfTrack), lines.end());
        return lines;
    };
    std::vector<std::string> stored;
    std::vector<std::vector<Lines>> wanted;  // what mido should read, ends of track left out
    for (const auto& f : Corpus()) {
        const CMidiFolio& song = f->song;
        auto end = [&song](int t) { return song.GetTrack(t)->GetTailPosition()->lTime; };
        int32_t songEnd = 0;
        for (int t = 0; t < song.GetTrackNum(); ++t) songEnd = std::max(songEnd, end(t));
        if (song.GetTrackNum() < 2 || end(0) >= songEnd) continue;
        SCOPED_TRACE(f->name);

        CMidiFolio copy;  // the loaded song stays as it was for the other tests
        const _MIDIHEAD head = song.GetMidiHeaderInfo();
        copy.SetMidiHeaderinfo(&head);
        for (int t = 0; t < song.GetTrackNum(); ++t)
            copy.AddTrack(new CMidiTrack(*song.GetTrack(t)));
        MIDIEvent marker{songEnd + 10, 0, 0, 255, EVT_META, {}, 4, const_cast<uint8_t*>(coda)};
        marker.dwSubType = META_MARKER;
        const MIDIEvent note{1, 0, 0, 3, EVT_NOTEON, {90, 77, 0, 0}, 0, nullptr};
        const MIDIEvent control{songEnd / 2, 0, 0, 3, EVT_CONTROL, {90, 77, 0, 0}, 0, nullptr};
        CMidiTrack* first = copy.GetTrack(0);
        for (const MIDIEvent& ev : {marker, note, control})
            ASSERT_NE(first->InsertEventAfter(nullptr, ev), nullptr);
        ASSERT_EQ(first->SortTrackByLTime(nullptr), 1);

        stored.push_back(TmpPath("marked_" + f->name));
        ASSERT_EQ(copy.StoreMidiFile(stored.back()), 1);
        CMidiFolio again;
        again.SetMessageSink(f->messages.Sink());
        ASSERT_EQ(again.LoadMidiFile(stored.back()), 1);
        ASSERT_EQ(again.GetTrackNum(), song.GetTrackNum());
        std::vector<Lines> want;
        for (int t = 0; t < song.GetTrackNum(); ++t) {
            Lines got = TrackLines(*again.GetTrack(t));
            EXPECT_TRUE(IsEndOfTrack(got.back())) << "track " << t;
            if (t == 0) got.erase(got.begin());  // the second load's tempo event
            EXPECT_EQ(withoutEnds(got), withoutEnds(TrackLines(*copy.GetTrack(t)))) << t;
            want.push_back(withoutEnds(f->Expected(static_cast<size_t>(t))));
        }
        // For mido: the dump's events and the three new ones, in a stable sort by tick.
        for (const MIDIEvent& ev : {marker, note, control})
            want[0].push_back(Line(ev.lTime, Canonical(ev)));
        std::stable_sort(
            want[0].begin(), want[0].end(),
            [](const std::string& a, const std::string& b) { return std::stol(a) < std::stol(b); });
        wanted.push_back(want);
    }
    ASSERT_GE(stored.size(), 50u);

    const std::map<std::string, OracleDump> dumps = MidoDumps(stored);
    if (dumps.empty()) GTEST_SKIP() << "python3-mido is not available";
    for (size_t i = 0; i < stored.size(); ++i) {
        SCOPED_TRACE(stored[i]);
        const OracleDump& dump = dumps.at(stored[i]);
        if (dump.error) continue;  // refused by mido for a defect of the original
        std::vector<Lines> got = ByTrack(dump);
        ASSERT_EQ(got.size(), wanted[i].size());
        for (size_t t = 0; t < got.size(); ++t) {
            ASSERT_TRUE(!got[t].empty() && IsEndOfTrack(got[t].back())) << "track " << t;
            got[t].pop_back();
            EXPECT_EQ(got[t], wanted[i][t]) << "track " << t;
        }
    }
}

// ------------------------------------------------------------------ invariants
// Each holds on every corpus file and on these songs, made for what the corpus lacks:
// running status across meta, sysex and real-time events, a port change, a track without an
// end of track, an empty track, and dense tempo changes.
namespace {

struct Subject {
    std::string name;
    CMidiFolio* song;
    bool made;
};

const std::vector<Subject>& Subjects() {
    static std::vector<std::unique_ptr<CMidiFolio>> made;
    static const std::vector<Subject> subjects = [] {
        const Bytes end = B({0x00, 0xFF, 0x2F, 0x00});
        // Running status across a text meta, which the encoder does not keep: tracks of
        // about 17 KB and 1 KB that outgrow their raw length, in both orders, so the encoding
        // meets a fresh buffer and buffers left from a smaller and from a larger track.
        Bytes big, small;
        for (int i = 0; i < 1000; ++i) {
            const Bytes round = B({0x00, 0x91, 40 + i % 40, 0x40, 0x00, 0xFF, 0x01, 0x01, 'a', 0x01,
                                   41 + i % 40, 0x40});
            big = Cat({big, round});
            if (i < 60) small = Cat({small, round});
        }
        Bytes tempos;
        for (int i = 0; i < 300; ++i)
            tempos = Cat({tempos, Vlq(static_cast<uint32_t>(i % 7)),
                          B({0xFF, 0x51, 0x03, 0x01 + i % 20, i & 0xFF, 0x00}),
                          B({0x00, 0x90, 40 + i % 30, 1 + i % 100})});
        const std::vector<std::pair<std::string, Bytes>> songs = {
            {"running status across other events",
             Smf(1, 96,
                 {Cat({B({0x00, 0x90, 60, 100, 0x00, 0xFF, 0x01, 0x01, 'x',  0x10, 61,   100,  0x00,
                          0xF8, 0x00, 62, 100, 0x00, 0xF0, 0x02, 0x7E, 0xF7, 0x81, 0x00, 0xB3, 7,
                          100,  0x00, 10, 64,  0x00, 0xE3, 0,    64,   0x00, 0xC3, 5,    0x00, 6}),
                       end}),
                  Cat({B({0x00, 0xFF, 0x21, 0x01, 0x01, 0x00, 0x99, 36, 100, 0x60, 36, 0}),
                       end})})},
            {"an empty track, a track without an end",
             Smf(1, 480, {Bytes{}, B({0x00, 0x90, 60, 1, 0x83, 0x60, 0x80, 60, 0})})},
            {"dense tempo changes", Smf(0, 24, {Cat({tempos, end})})},
            {"tracks that outgrow their raw length",
             Smf(1, 96, {end, Cat({big, end}), Cat({small, end}), Cat({big, end})})},
        };
        std::vector<Subject> out;
        for (const auto& f : Corpus()) out.push_back({f->name, &f->song, false});
        for (const auto& [name, bytes] : songs) {
            made.push_back(std::make_unique<CMidiFolio>());
            made.back()->SetMessageSink([](const std::string&) {});
            EXPECT_EQ(made.back()->LoadMidiFile(WriteFile("made.mid", bytes)), 1) << name;
            out.push_back({name, made.back().get(), true});
        }
        return out;
    }();
    return subjects;
}

// Every field of every event of a song, payload included, per track.
std::vector<Lines> Snapshot(const CMidiFolio& song) {
    std::vector<Lines> tracks;
    for (int t = 0; t < song.GetTrackNum(); ++t) {
        tracks.emplace_back();
        for (POSITION pos = song.GetTrack(t)->GetEventHeadPosition(); pos;) {
            const MIDIEvent ev = song.GetTrack(t)->GetNextEvent(pos);
            char head[96];
            std::snprintf(head, sizeof head, "%d %u p%u c%u t%u s%08x l%u ", ev.lTime, ev.dwDelta,
                          ev.byPort, ev.byChannel, ev.dwType, ev.dwSubType, ev.dwLength);
            tracks.back().push_back(head + (OwnsPayload(ev.dwType) ? Canonical(ev) : ""));
        }
    }
    return tracks;
}

}  // namespace

// load(store(song)) holds the song's events, every field of them, apart from the tempo event
// each load puts in front of the first track; storing that again adds those 7 bytes only.
TEST(Definition, LoadStoreLoadIsTheIdentityOnEvents) {
    for (const Subject& s : Subjects()) {
        SCOPED_TRACE(s.name);
        CMidiFolio& song = *s.song;
        const std::string path = TmpPath("identity.mid");
        ProgressLog progress;
        ASSERT_EQ(song.StoreMidiFile(path, &progress), 1);
        EXPECT_EQ(progress.calls.size(), static_cast<size_t>(song.GetTrackNum()) + 1);
        CMidiFolio again;
        again.SetMessageSink([](const std::string& text) { ADD_FAILURE() << text; });
        ASSERT_EQ(again.LoadMidiFile(path), 1);
        EXPECT_EQ(again.GetMidiHeaderInfo().nFormat, song.GetMidiHeaderInfo().nFormat);
        EXPECT_EQ(again.GetMidiHeaderInfo().nDivision, song.GetMidiHeaderInfo().nDivision);
        std::vector<Lines> want = Snapshot(song);
        if (!want.empty())
            want[0].insert(want[0].begin(), "0 0 p0 c255 t4096 s00000051 l3 meta 51 07a120");
        ASSERT_EQ(Snapshot(again), want);
        const std::string twice = TmpPath("identity2.mid");
        ASSERT_EQ(again.StoreMidiFile(twice), 1);
        EXPECT_EQ(ReadFile(twice).size(), ReadFile(path).size() + (want.empty() ? 0 : 7));
    }
}

// Sorting a sorted track changes nothing: the same nodes in the same order with the same
// fields. A track already in time order keeps its order on the first sort too; every track is
// also sorted with copies of some of its events inserted out of order.
TEST(Definition, SortTrackByLTimeIsIdempotent) {
    std::mt19937 random(7);
    auto order = [](const CMidiTrack& track) {
        std::vector<std::pair<POSITION, std::string>> out;
        for (POSITION pos = track.GetEventHeadPosition(); pos; pos = pos->pNext)
            out.emplace_back(pos, std::to_string(pos->lTime) + " " + std::to_string(pos->dwDelta) +
                                      " " + Canonical(*pos));
        return out;
    };
    for (const Subject& s : Subjects()) {
        SCOPED_TRACE(s.name);
        for (int t = 0; t < s.song->GetTrackNum(); ++t) {
            for (bool shuffle : {false, true}) {
                CMidiTrack track(*s.song->GetTrack(t));
                for (int k = 0; shuffle && k < 10 && track.GetCount() > 0; ++k) {  // copies
                    const int count = track.GetCount();
                    track.InsertEventAfter(track.FindIndex(int(random() % count)),
                                           track.GetAt(track.FindIndex(int(random() % count))));
                }
                const auto before = order(track);
                const bool inOrder = std::is_sorted(
                    before.begin(), before.end(),
                    [](const auto& a, const auto& b) { return a.first->lTime < b.first->lTime; });
                int32_t end1 = -1, end2 = -1;
                ASSERT_EQ(track.SortTrackByLTime(&end1), 1);
                const auto once = order(track);
                ASSERT_EQ(track.SortTrackByLTime(&end2), 1);
                EXPECT_EQ(order(track), once) << "track " << t;
                EXPECT_EQ(end2, end1);
                for (size_t k = 0; inOrder && k < once.size(); ++k)
                    ASSERT_EQ(once[k].first, before[k].first) << "track " << t << " event " << k;
            }
        }
    }
}

// The encoder writes exactly the bytes GetEncodedSize announces, whatever room it is given.
TEST(Definition, GetMidiTrackRawDataWritesGetEncodedSizeBytes) {
    for (const Subject& s : Subjects()) {
        SCOPED_TRACE(s.name);
        for (int t = 0; t < s.song->GetTrackNum(); ++t) {
            CMidiTrack& track = *s.song->GetTrack(t);
            const uint32_t size = track.GetEncodedSize();
            Bytes buffer(size + 16, 0xEE);
            uint8_t* p = buffer.data();
            int32_t length = static_cast<int32_t>(buffer.size());
            ASSERT_EQ(track.GetMidiTrackRawData(p, length), 1) << "track " << t;
            EXPECT_EQ(length, static_cast<int32_t>(size)) << "track " << t;
            EXPECT_EQ(Bytes(buffer.begin() + size, buffer.end()), Bytes(16, 0xEE)) << "track " << t;
        }
    }
}

// Later ticks never map to earlier milliseconds: checked at every event's tick and around
// every tempo change, and at every tick of the made songs.
TEST(Definition, TicksToMsecsIsMonotoneInTicks) {
    for (const Subject& s : Subjects()) {
        SCOPED_TRACE(s.name);
        const CMidiTempo& tempo = s.song->GetMidiTempo();
        std::set<int32_t> ticks;
        for (const _TEMPO& change : tempo.GetTempos())
            for (int32_t d : {-1, 0, 1}) ticks.insert(std::max(0, change.lTicks + d));
        int32_t last = 0;
        for (int t = 0; t < s.song->GetTrackNum(); ++t)
            for (POSITION pos = s.song->GetTrack(t)->GetEventHeadPosition(); pos; pos = pos->pNext)
                ticks.insert(pos->lTime), last = std::max(last, pos->lTime);
        if (s.made)
            for (int32_t tick = 0; tick <= last + 100; ++tick) ticks.insert(tick);
        int32_t previous = tempo.TicksToMsecs(0);
        for (int32_t tick : ticks) {
            const int32_t ms = tempo.TicksToMsecs(tick);
            ASSERT_GE(ms, previous) << "tick " << tick;
            previous = ms;
        }
    }
}
