// Real files: event times in milliseconds against an independent decoder's tempo-aware
// times, and a sorted, edited track written back and read by that decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "midifolio/midifolio.h"
#include "test_support.h"

using namespace midifolio;
using namespace testsupport;

namespace {

struct TimedEvent {
    long tick;
    double msecs;
};
// Per file, per track: the events with their times, as tests/tools/mido_times.py prints them.
using Timings = std::map<std::string, std::map<int, std::vector<TimedEvent>>>;

Timings MidoTimes(const std::vector<std::string>& paths) {
    std::string command = "/usr/bin/python3 '" + DataPath("../tools/mido_times.py") + "'";
    for (const std::string& path : paths) command += " '" + path + "'";
    int status = -1;
    const std::string text = Run(command, &status);
    EXPECT_EQ(status, 0);
    // Some 300,000 lines: parsed in place, since this runs under the sanitizers too.
    Timings out;
    std::string file;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (line.rfind("file\t", 0) == 0) {
            file = line.substr(5);
            out[file];
        } else if (line.rfind("ERROR", 0) == 0) {
            ADD_FAILURE() << file << ": " << line;
        } else if (!line.empty()) {
            char* next = nullptr;
            const long track = std::strtol(line.c_str(), &next, 10);
            TimedEvent ev{};
            ev.tick = std::strtol(next, &next, 10);
            ev.msecs = std::strtod(next, nullptr);
            out[file][static_cast<int>(track)].push_back(ev);
        }
    }
    return out;
}

}  // namespace

// Every tempo step truncates its millisecond position, so a time may lag the exact one by
// under one millisecond per tempo change before it, plus the truncation of the time itself.
TEST(CorpusTiming, TicksToMsecsAgreesWithTheIndependentDecoder) {
    std::vector<std::string> paths;
    for (const std::string& name : CorpusFiles()) paths.push_back(DataPath("corpus/" + name));
    ASSERT_GE(paths.size(), 100u);
    const Timings timings = MidoTimes(paths);
    ASSERT_EQ(timings.size(), paths.size());

    size_t compared = 0;
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        CMidiFolio song;
        Messages messages;
        song.SetMessageSink(messages.Sink());
        ASSERT_EQ(song.LoadMidiFile(path), 1);
        const CMidiTempo& tempo = song.GetMidiTempo();
        const TempoList& changes = tempo.GetTempos();
        const auto& tracks = timings.at(path);
        for (int t = 0; t < song.GetMidiHeaderInfo().nTracks; ++t) {
            const CMidiTrack* track = song.GetTrack(t);
            ASSERT_NE(track, nullptr);
            const std::vector<TimedEvent> none;
            const auto found = tracks.find(t);
            const std::vector<TimedEvent>& expected = found == tracks.end() ? none : found->second;
            POSITION pos = track->GetEventHeadPosition();
            if (t == 0 && pos) track->GetNextEvent(pos);  // the loader's tempo event
            // The library stops a track at its end-of-track event; the decoder may read on.
            for (size_t k = 0; pos; ++k) {
                const MIDIEvent ev = track->GetNextEvent(pos);
                ASSERT_LT(k, expected.size()) << "track " << t;
                ASSERT_EQ(ev.lTime, expected[k].tick) << "track " << t << " event " << k;
                long before = 0;
                for (const _TEMPO& change : changes) {
                    if (change.lTicks > 0 && change.lTicks < ev.lTime) ++before;
                }
                const double exact = expected[k].msecs;
                const int32_t mine = tempo.TicksToMsecs(ev.lTime);
                EXPECT_LE(mine, exact + 0.001) << "track " << t << " tick " << ev.lTime;
                EXPECT_GT(mine, exact - 1.0 - static_cast<double>(before))
                    << "track " << t << " tick " << ev.lTime;
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 200000u);
}

// An edited track, sorted and stored, reads back in time order with every event at its tick.
TEST(CorpusTiming, SortedEditedTrackIsStoredInTimeOrder) {
    for (const char* name :
         {"mma__tempo.mid", "freedink__104.mid", "abc2midi__abcmidi-drums1.mid"}) {
        SCOPED_TRACE(name);
        CMidiFolio song;
        Messages messages;
        song.SetMessageSink(messages.Sink());
        ASSERT_EQ(song.LoadMidiFile(DataPath(std::string("corpus/") + name)), 1);
        int edited = 0;  // the longest track
        for (int t = 1; t < song.GetTrackNum(); ++t) {
            if (song.GetTrack(t)->GetCount() > song.GetTrack(edited)->GetCount()) edited = t;
        }
        CMidiTrack* track = song.GetTrack(edited);
        ASSERT_NE(track, nullptr);
        ASSERT_GT(track->GetCount(), 3);
        const int32_t lastTick = track->GetAt(track->GetTailPosition()).lTime;

        // New events appended after the end, out of time order.
        MIDIEvent control{};
        control.lTime = lastTick / 2;
        control.byChannel = 3;
        control.dwType = EVT_CONTROL;
        control.byData1 = 10;
        control.byData2 = 33;
        MIDIEvent note = control;
        note.lTime = 1;
        note.dwType = EVT_NOTEON;
        note.byData1 = 90;
        note.byData2 = 77;
        MIDIEvent text{};
        uint8_t payload[] = {'e', 'd', 'i', 't'};
        text.lTime = lastTick / 3;
        text.byChannel = 255;
        text.dwType = EVT_META;
        text.dwSubType = 0x01;
        text.dwLength = sizeof payload;
        text.pData = payload;
        POSITION pos = track->GetTailPosition();
        for (const MIDIEvent& ev : {control, note, text}) {
            pos = track->InsertEventAfter(pos, ev);
            ASSERT_NE(pos, nullptr);
        }
        int32_t endTime = -1;
        ASSERT_EQ(track->SortTrackByLTime(&endTime), 1);
        EXPECT_EQ(endTime, lastTick);

        const std::string out = TmpPath(std::string("sorted_") + name);
        ASSERT_EQ(song.StoreMidiFile(out), 1);
        const OracleDump dump = MidoDump(out);
        ASSERT_FALSE(dump.error);
        std::vector<std::string> expected, actual;
        for (POSITION p = track->GetEventHeadPosition(); p;) {
            const MIDIEvent ev = track->GetNextEvent(p);
            expected.push_back(std::to_string(ev.lTime) + " " + Canonical(ev));
        }
        long previous = 0;
        for (const OracleEvent& ev : dump.events) {
            if (ev.track != edited) continue;
            EXPECT_GE(ev.tick, previous);
            previous = ev.tick;
            actual.push_back(std::to_string(ev.tick) + " " + Canonical(ev));
        }
        EXPECT_EQ(actual, expected);
        auto has = [&](const std::string& line) {
            return std::find(actual.begin(), actual.end(), line) != actual.end();
        };
        EXPECT_TRUE(has("1 noteon 3 90 77"));
        EXPECT_TRUE(has(std::to_string(lastTick / 2) + " control 3 10 33"));
        EXPECT_TRUE(has(std::to_string(lastTick / 3) + " meta 01 65646974"));
    }
}
