// Real files: what the song-wide queries select, against an independent decoder's dump.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "midifolio/midifolio.h"
#include "test_support.h"

using namespace midifolio;
using namespace testsupport;

namespace {

const uint32_t kTypes[] = {EVT_NOTEON,  EVT_NOTEOFF,      EVT_KEYPRESSURE, EVT_CONTROL,
                           EVT_PROGRAM, EVT_CHANPRESSURE, EVT_PITCHBEND,   EVT_SYSEX,
                           EVT_META,    EVT_SYSCOMMON,    EVT_REALTIME,    EVT_SYSEXESC};

uint32_t TypeOf(const OracleEvent& ev) {
    static const std::map<std::string, uint32_t> kinds = {
        {"noteon", EVT_NOTEON},       {"noteoff", EVT_NOTEOFF}, {"keypressure", EVT_KEYPRESSURE},
        {"control", EVT_CONTROL},     {"program", EVT_PROGRAM}, {"chanpressure", EVT_CHANPRESSURE},
        {"pitchbend", EVT_PITCHBEND}, {"sysex", EVT_SYSEX},     {"meta", EVT_META}};
    const auto found = kinds.find(ev.kind);
    if (found != kinds.end()) return found->second;
    // "other": a system common (F1..F7) or real-time (F8..FE) status byte.
    const int status = ev.fields.empty() ? 0 : std::stoi(ev.fields[0].substr(0, 2), nullptr, 16);
    return status >= 0xF8 ? EVT_REALTIME : EVT_SYSCOMMON;
}

int ChannelOf(const OracleEvent& ev) {
    const uint32_t type = TypeOf(ev);
    if (type & (EVT_SYSEX | EVT_META | EVT_SYSCOMMON | EVT_REALTIME)) return 255;
    return std::stoi(ev.fields.at(0));
}

// midicsv, the decoder of the files mido refuses, writes any key-signature mode other than 0
// back as 01; both sides are compared in that form.
std::string KeyModeAsMidicsv(std::string line) {
    const size_t at = line.find(" meta 59 ");
    if (at != std::string::npos && line.size() == at + 13 && line.compare(at + 11, 2, "00") != 0) {
        line.replace(at + 11, 2, "01");
    }
    return line;
}

// The events the library keeps of each track of the dump: up to and including the first
// end-of-track event, with the loader's tempo event in front of the first track.
std::vector<std::vector<std::string>> ExpectedTracks(const OracleDump& dump,
                                                     std::map<uint32_t, size_t>& perType,
                                                     std::map<int, size_t>& perChannel) {
    std::vector<std::vector<std::string>> tracks(static_cast<size_t>(dump.ntracks));
    std::vector<bool> ended(tracks.size(), false);
    if (!tracks.empty()) {
        tracks[0].push_back("0 meta 51 07a120");
        ++perType[EVT_META];
        ++perChannel[255];
    }
    for (const OracleEvent& ev : dump.events) {
        const size_t t = static_cast<size_t>(ev.track);
        if (t >= tracks.size() || ended[t]) continue;
        tracks[t].push_back(KeyModeAsMidicsv(std::to_string(ev.tick) + " " + Canonical(ev)));
        ++perType[TypeOf(ev)];
        ++perChannel[ChannelOf(ev)];
        if (ev.kind == "meta" && !ev.fields.empty() && ev.fields[0] == "2f") ended[t] = true;
    }
    return tracks;
}

bool SameRecord(const MIDI_Event& a, const MIDI_Event& b) {
    return a.wTrack == b.wTrack && a.time.format == b.time.format &&
           a.time.dMsecs == b.time.dMsecs && a.event.lTime == b.event.lTime &&
           a.event.dwDelta == b.event.dwDelta && a.event.byPort == b.event.byPort &&
           a.event.byChannel == b.event.byChannel && a.event.dwType == b.event.dwType &&
           a.event.dwSubType == b.event.dwSubType && a.event.dwLength == b.event.dwLength &&
           a.event.pData == b.event.pData;
}

}  // namespace

TEST(CorpusQueries, CountsPerChannelAndTypeEqualTheIndependentDecoder) {
    const std::vector<std::string> names = CorpusFiles();
    ASSERT_GE(names.size(), 100u);
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const std::string path = DataPath("corpus/" + name);
        const OracleDump dump = ReadOracle(path + ".oracle.txt");
        ASSERT_FALSE(dump.error);
        std::map<uint32_t, size_t> perType;
        std::map<int, size_t> perChannel;
        ExpectedTracks(dump, perType, perChannel);

        CMidiFolio song;
        Messages messages;
        song.SetMessageSink(messages.Sink());
        ASSERT_EQ(song.LoadMidiFile(path), 1);
        MidiEventList list;
        for (int channel = 0; channel < 256; ++channel) {
            if (channel == 16) channel = 255;
            song.GetMIDIByChannel(channel, list);
            EXPECT_EQ(list.size(), perChannel[channel]) << "channel " << channel;
        }
        for (uint32_t type : kTypes) {
            CMidiFolio::FreePtrList(list);
            song.GetMIDIByType(type, TF_TICK, list);
            EXPECT_EQ(list.size(), perType[type]) << "type " << type;
        }
    }
}

TEST(CorpusQueries, SongEventListHoldsEveryEventInTimeOrder) {
    for (const std::string& name : CorpusFiles()) {
        SCOPED_TRACE(name);
        const std::string path = DataPath("corpus/" + name);
        const OracleDump dump = ReadOracle(path + ".oracle.txt");
        std::map<uint32_t, size_t> perType;
        std::map<int, size_t> perChannel;
        const std::vector<std::vector<std::string>> expected =
            ExpectedTracks(dump, perType, perChannel);

        CMidiFolio song;
        Messages messages;
        song.SetMessageSink(messages.Sink());
        ASSERT_EQ(song.LoadMidiFile(path), 1);
        const MidiEventList& events = song.MakeEventList();

        // In time order; at one time in track order, and within a track in list order.
        std::vector<std::vector<std::string>> tracks(expected.size());
        for (size_t k = 0; k < events.size(); ++k) {
            const MIDI_Event& r = events[k];
            ASSERT_LT(r.wTrack, tracks.size());
            ASSERT_EQ(r.time.format, TF_MSEC);
            if (k > 0) {
                const MIDI_Event& before = events[k - 1];
                ASSERT_LE(before.event.lTime, r.event.lTime) << "record " << k;
                if (before.event.lTime == r.event.lTime) {
                    ASSERT_LE(before.wTrack, r.wTrack) << "record " << k;
                }
            }
            tracks[r.wTrack].push_back(
                KeyModeAsMidicsv(std::to_string(r.event.lTime) + " " + Canonical(r.event)));
        }
        // Exactly the events of every track, as the independent decoder read them.
        for (size_t t = 0; t < tracks.size(); ++t) {
            EXPECT_EQ(tracks[t], expected[t]) << "track " << t;
        }

        // Built again: the same records, note lengths included.
        const MidiEventList first = events;
        song.MakeEventList();
        ASSERT_EQ(events.size(), first.size());
        for (size_t k = 0; k < first.size(); ++k) {
            ASSERT_TRUE(SameRecord(events[k], first[k])) << "record " << k;
        }
    }
}
