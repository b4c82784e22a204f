// The analyses on the real-world corpus, against what an independent decoder's dump shows:
// channels in use, bank/program words per channel, drums per bank, and voice conflicts
// replayed by a plain reference computation from the dump's events.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "midifolio/midifolio.h"
#include "test_support.h"

using namespace midifolio;
using testsupport::OracleDump;
using testsupport::OracleEvent;

namespace {

// One event of the dump with its numeric fields (channel events only carry numbers).
struct RefEvent {
    int track = 0;
    long tick = 0;
    size_t order = 0;  // position within its track
    std::string kind;
    int channel = -1;          // -1 for meta and sysex
    std::vector<long> values;  // the fields after the channel
    std::string payload;       // meta: type and hex payload
};

bool IsChannelKind(const std::string& kind) {
    return kind == "noteon" || kind == "noteoff" || kind == "keypressure" || kind == "control" ||
           kind == "program" || kind == "chanpressure" || kind == "pitchbend";
}

struct Reference {
    int division = 0;
    std::vector<std::vector<RefEvent>> tracks;
};

// The dump's events per track, up to the end-of-track event (the library stops there).
Reference FromDump(const OracleDump& dump) {
    Reference ref;
    ref.division = dump.division;
    ref.tracks.resize(static_cast<size_t>(std::max(dump.ntracks, 0)));
    std::vector<bool> ended(ref.tracks.size(), false);
    for (const OracleEvent& o : dump.events) {
        if (o.track < 0 || static_cast<size_t>(o.track) >= ref.tracks.size()) continue;
        if (ended[static_cast<size_t>(o.track)]) continue;
        RefEvent e;
        e.track = o.track;
        e.tick = o.tick;
        e.kind = o.kind;
        e.order = ref.tracks[static_cast<size_t>(o.track)].size();
        if (IsChannelKind(o.kind) && !o.fields.empty()) {
            e.channel = std::stoi(o.fields[0]);
            for (size_t i = 1; i < o.fields.size(); ++i) e.values.push_back(std::stol(o.fields[i]));
        } else if (o.kind == "meta" && o.fields.size() >= 2) {
            e.payload = o.fields[0] + " " + o.fields[1];
            if (o.fields[0] == "2f") ended[static_cast<size_t>(o.track)] = true;
        }
        ref.tracks[static_cast<size_t>(o.track)].push_back(e);
    }
    return ref;
}

// Events of one channel in song order: by tick, then track, then position in the track.
std::vector<const RefEvent*> ChannelEvents(const Reference& ref, int channel) {
    std::vector<const RefEvent*> out;
    for (const auto& track : ref.tracks) {
        for (const RefEvent& e : track) {
            if (e.channel == channel) out.push_back(&e);
        }
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const RefEvent* a, const RefEvent* b) { return a->tick < b->tick; });
    return out;
}

bool IsStart(const RefEvent& e) {
    return e.kind == "noteon" && e.values.size() >= 2 && e.values[1] > 0;
}
bool IsEnd(const RefEvent& e) {
    return e.kind == "noteoff" || (e.kind == "noteon" && e.values.size() >= 2 && e.values[1] == 0);
}

// ------------------------------------------------------------------ reference tempo map
// Tempo entries as the loader makes them: the default entry and the first track's tempo
// prefix at tick 0, then every Set Tempo event track by track, placed by tick (an insertion
// between two entries is dropped when the tempo in force is the same).
struct RefTempo {
    long tick;
    long us;
    long ms;
};

class RefTempoMap {
  public:
    explicit RefTempoMap(const Reference& ref) : tpq_(ref.division) {
        Add(0, 500000);
        Add(0, 500000);
        for (const auto& track : ref.tracks) {
            for (const RefEvent& e : track) {
                if (e.kind != "meta" || e.payload.rfind("51 ", 0) != 0) continue;
                const std::string hex = e.payload.substr(3);
                if (hex.size() < 6) continue;
                Add(e.tick, std::stol(hex.substr(0, 6), nullptr, 16));
            }
        }
        for (size_t k = 1; k < list_.size(); ++k) {
            const RefTempo& prev = list_[k - 1];
            const int32_t ticks = static_cast<int32_t>(list_[k].tick - prev.tick);
            list_[k].ms =
                static_cast<long>(prev.ms + ticks * static_cast<double>(prev.us) / (tpq_ * 1000));
        }
    }

    // Whole milliseconds of a tick position, by the segment that holds it.
    long Msecs(long t) const {
        const size_t n = list_.size() - 1;
        size_t seg = n;
        bool found = false;
        for (size_t i = 0; i < n && !found; ++i) {
            if ((list_[i].tick < t && t < list_[i + 1].tick) || t == list_[i + 1].tick) {
                seg = i;
                found = true;
            }
        }
        if (!found && t == list_[0].tick) seg = 0;
        const RefTempo& e = list_[seg];
        const int32_t ticks = static_cast<int32_t>(t - e.tick);
        return static_cast<long>(e.ms + ticks * static_cast<double>(e.us) / (tpq_ * 1000));
    }

  private:
    void Add(long tick, long us) {
        RefTempo t{tick, us, 0};
        if (list_.empty() || (list_.size() == 1 && tick >= list_[0].tick)) {
            list_.push_back(t);
            return;
        }
        if (tick < list_[0].tick) {
            list_.insert(list_.begin(), t);
            return;
        }
        for (size_t i = 1; i < list_.size(); ++i) {
            if (list_[i].tick > tick) {
                if (list_[i - 1].us != us) list_.insert(list_.begin() + static_cast<long>(i), t);
                return;
            }
        }
        list_.push_back(t);
    }

    int tpq_;
    std::vector<RefTempo> list_;
};

// ------------------------------------------------------------------ reference voice check
// The plain replay: every note-on with a velocity, in song order, joins the sounding notes;
// notes whose remaining time has run out leave; a count above the limit is recorded.
std::vector<std::pair<int, int>> ReferenceConflicts(const Reference& ref, int voices) {
    const RefTempoMap tempo(ref);
    struct Note {
        long tick;
        int track;
        size_t order;
        long length;  // ms; 0 without a partner note-off
    };
    std::vector<Note> notes;
    for (const auto& track : ref.tracks) {
        std::map<std::pair<int, long>, std::vector<size_t>> waiting;  // (channel, note)
        std::vector<Note> trackNotes;
        for (const RefEvent& e : track) {
            if (IsStart(e)) {
                waiting[{e.channel, e.values[0]}].push_back(trackNotes.size());
                trackNotes.push_back({e.tick, e.track, e.order, 0});
            } else if (IsEnd(e)) {
                auto it = waiting.find({e.channel, e.values[0]});
                if (it == waiting.end() || it->second.empty()) continue;
                Note& n = trackNotes[it->second.front()];
                it->second.erase(it->second.begin());
                n.length = tempo.Msecs(e.tick) - tempo.Msecs(n.tick);
            }
        }
        notes.insert(notes.end(), trackNotes.begin(), trackNotes.end());
    }
    std::stable_sort(notes.begin(), notes.end(),
                     [](const Note& a, const Note& b) { return a.tick < b.tick; });

    std::vector<std::pair<int, int>> records;
    std::vector<std::pair<double, double>> active;  // length, start in ms
    for (const Note& n : notes) {
        const double start = static_cast<double>(tempo.Msecs(n.tick));
        const int now = static_cast<int>(start);
        active.emplace_back(static_cast<double>(static_cast<uint32_t>(n.length)), start);
        for (size_t i = 0; i < active.size();) {
            const long remaining = static_cast<long>(active[i].first + active[i].second - now);
            if (remaining <= 0) {
                active.erase(active.begin() + static_cast<long>(i));
            } else {
                ++i;
            }
        }
        const int count = static_cast<int>(active.size());
        if (count > voices) {
            if (!records.empty() && records.back().first == now) {
                records.back() = {now, count};
            } else {
                records.emplace_back(now, count);
            }
        }
    }
    return records;
}

// ------------------------------------------------------------------ corpus, loaded once
struct CorpusSong {
    std::string name;
    Reference ref;
    testsupport::Messages messages;
    CMidiFolio song;
};

const std::vector<std::unique_ptr<CorpusSong>>& Corpus() {
    static const std::vector<std::unique_ptr<CorpusSong>> songs = [] {
        std::vector<std::unique_ptr<CorpusSong>> out;
        for (const std::string& name : testsupport::CorpusFiles()) {
            const OracleDump dump =
                testsupport::ReadOracle(testsupport::DataPath("corpus/" + name + ".oracle.txt"));
            if (dump.error) continue;
            auto entry = std::make_unique<CorpusSong>();
            entry->name = name;
            entry->ref = FromDump(dump);
            entry->song.SetMessageSink(entry->messages.Sink());
            if (entry->song.LoadMidiFile(testsupport::DataPath("corpus/" + name)) != 1) {
                ADD_FAILURE() << name << " did not load";
                continue;
            }
            out.push_back(std::move(entry));
        }
        return out;
    }();
    return songs;
}

}  // namespace

TEST(CorpusAnalysis, TheCorpusIsThere) {
    EXPECT_GE(Corpus().size(), 95u);
}

TEST(CorpusAnalysis, ChannelsInUseMatchTheDump) {
    for (const auto& entry : Corpus()) {
        SCOPED_TRACE(entry->name);
        std::set<int> expected;
        for (const auto& track : entry->ref.tracks) {
            for (const RefEvent& e : track) {
                if (e.channel >= 0) expected.insert(e.channel);
            }
        }
        CMidiFolio& song = entry->song;
        EXPECT_EQ(song.GetTotalChannels(), static_cast<int>(expected.size()));
        uint8_t buffer[16] = {};
        song.GetChannels(buffer);
        std::vector<int> got(buffer, buffer + expected.size());
        EXPECT_EQ(got, std::vector<int>(expected.begin(), expected.end()));
    }
}

TEST(CorpusAnalysis, BankProgramWordsPerChannelMatchTheDump) {
    for (const auto& entry : Corpus()) {
        SCOPED_TRACE(entry->name);
        for (int channel = 0; channel < 16; ++channel) {
            std::vector<uint16_t> expected;
            long bank = 0, program = 0;
            for (const RefEvent* e : ChannelEvents(entry->ref, channel)) {
                bool pending = false;
                if (e->kind == "program") {
                    program = e->values[0];
                    pending = true;
                } else if (e->kind == "control" && e->values[0] == 32) {
                    bank = e->values[1];
                }
                if (channel == 9 && IsStart(*e)) {
                    program = e->values[0];
                    pending = true;
                }
                const uint16_t word = static_cast<uint16_t>((bank & 0xFF) * 256 + (program & 0xFF));
                if (pending &&
                    std::find(expected.begin(), expected.end(), word) == expected.end()) {
                    expected.push_back(word);
                }
            }
            WordArray got;
            entry->song.GetInstIndexArrayByChannel(channel, got);
            EXPECT_EQ(got, expected) << "channel " << channel;
        }
    }
}

TEST(CorpusAnalysis, DrumsPerBankMatchTheDump) {
    static const char* const kNames[] = {"C",  "C#", "D",  "D#", "E",  "F",
                                         "F#", "G",  "G#", "A",  "A#", "B"};
    size_t songsWithDrums = 0;
    for (const auto& entry : Corpus()) {
        SCOPED_TRACE(entry->name);
        std::vector<std::string> expected;
        std::set<std::pair<long, long>> seen;
        long bank = 0;
        for (const RefEvent* e : ChannelEvents(entry->ref, 9)) {
            if (e->kind == "noteon" || e->kind == "noteoff") {
                const long note = e->values[0];
                if (!seen.insert({bank, note}).second) continue;
                expected.push_back(std::to_string(bank) + "/" + std::to_string(note) + " " +
                                   kNames[note % 12] + std::to_string(note / 12));
            } else if (e->kind == "control" && e->values[0] == 32) {
                bank = e->values[1];
            }
        }
        DrumArray drums;
        entry->song.GetDrums(drums, 1);
        std::vector<std::string> got;
        for (const _DRUM& d : drums) {
            got.push_back(std::to_string(d.byBank) + "/" + std::to_string(d.byNote) + " " +
                          d.strPitch);
            EXPECT_EQ(d.strName, CMidiFolio::GetDrumName(d.byNote));
        }
        EXPECT_EQ(got, expected);
        if (!expected.empty()) ++songsWithDrums;
    }
    EXPECT_GT(songsWithDrums, 10u);
}

TEST(CorpusAnalysis, VoiceConflictsMatchAReferenceReplayOfTheDump) {
    size_t songsWithConflicts = 0;
    for (const auto& entry : Corpus()) {
        SCOPED_TRACE(entry->name);
        for (int voices : {0, 3, 8}) {
            const std::vector<std::pair<int, int>> expected =
                ReferenceConflicts(entry->ref, voices);
            ConflictVoiceArray array;
            entry->song.CheckMidiByVoice(voices, &array);
            std::vector<std::pair<int, int>> got;
            for (const _CONFLICTVOICE& c : array) got.emplace_back(c.lMsecs, c.nVoices);
            EXPECT_EQ(got, expected) << voices << " voices";
            if (voices == 8 && !expected.empty()) ++songsWithConflicts;
        }
    }
    EXPECT_GT(songsWithConflicts, 5u);
}
