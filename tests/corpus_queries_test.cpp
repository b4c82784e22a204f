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

uint32_t TypeOf(const std::string& kind, const std::string& first) {
    static const std::map<std::string, uint32_t> kinds = {
        {"noteon", EVT_NOTEON},       {"noteoff", EVT_NOTEOFF}, {"keypressure", EVT_KEYPRESSURE},
        {"control", EVT_CONTROL},     {"program", EVT_PROGRAM}, {"chanpressure", EVT_CHANPRESSURE},
        {"pitchbend", EVT_PITCHBEND}, {"sysex", EVT_SYSEX},     {"meta", EVT_META}};
    const auto found = kinds.find(kind);
    if (found != kinds.end()) return found->second;
    // "other": a system common (F1..F7) or real-time (F8..FE) status byte.
    const int status = first.size() >= 2 ? std::stoi(first.substr(0, 2), nullptr, 16) : 0;
    return status >= 0xF8 ? EVT_REALTIME : EVT_SYSCOMMON;
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

// What the library should hold of a file, from the independent decoder's dump: per track the
// events up to and including the first end-of-track event, each as "TICK KIND FIELDS..." (the
// loader's tempo event in front of the first track), and their counts per type and channel.
struct Expected {
    std::vector<std::vector<std::string>> tracks;
    std::map<uint32_t, size_t> perType;
    std::map<int, size_t> perChannel;
};

// Reads a dump (see tests/data/corpus) straight from its text: the corpus has some 300,000
// lines, and this runs under the sanitizers too.
Expected ReadExpected(const std::string& path) {
    Expected out;
    const Bytes text = ReadFile(path);
    std::vector<bool> ended;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = pos;
        while (end < text.size() && text[end] != '\n') ++end;
        std::vector<std::string> fields(1);
        for (size_t k = pos; k < end; ++k) {
            if (text[k] == '\t') {
                fields.emplace_back();
            } else {
                fields.back() += static_cast<char>(text[k]);
            }
        }
        pos = end + 1;
        if (fields[0] == "header" && fields.size() >= 4) {
            out.tracks.resize(static_cast<size_t>(std::stoi(fields[2])));
            ended.assign(out.tracks.size(), false);
            if (!out.tracks.empty()) {
                out.tracks[0].push_back("0 meta 51 07a120");
                ++out.perType[EVT_META];
                ++out.perChannel[255];
            }
            continue;
        }
        if (fields.size() < 3) continue;
        const size_t t = static_cast<size_t>(std::stoi(fields[0]));
        if (t >= out.tracks.size() || ended[t]) continue;
        const std::string first = fields.size() > 3 ? fields[3] : std::string();
        const uint32_t type = TypeOf(fields[2], first);
        std::string line = fields[1];
        for (size_t k = 2; k < fields.size(); ++k) line += " " + fields[k];
        out.tracks[t].push_back(KeyModeAsMidicsv(line));
        ++out.perType[type];
        const bool channelMessage = !(type & (EVT_SYSEX | EVT_META | EVT_SYSCOMMON | EVT_REALTIME));
        ++out.perChannel[channelMessage ? std::stoi(first) : 255];
        if (type == EVT_META && first == "2f") ended[t] = true;
    }
    return out;
}

class CorpusQueries : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        for (const std::string& name : CorpusFiles()) {
            expected_[name] = ReadExpected(DataPath("corpus/" + name + ".oracle.txt"));
        }
    }
    static void TearDownTestSuite() { expected_.clear(); }
    static std::map<std::string, Expected> expected_;
};
std::map<std::string, Expected> CorpusQueries::expected_;

bool SameRecord(const MIDI_Event& a, const MIDI_Event& b) {
    return a.wTrack == b.wTrack && a.time.format == b.time.format &&
           a.time.dMsecs == b.time.dMsecs && a.event.lTime == b.event.lTime &&
           a.event.dwDelta == b.event.dwDelta && a.event.byPort == b.event.byPort &&
           a.event.byChannel == b.event.byChannel && a.event.dwType == b.event.dwType &&
           a.event.dwSubType == b.event.dwSubType && a.event.dwLength == b.event.dwLength &&
           a.event.pData == b.event.pData;
}

}  // namespace

TEST_F(CorpusQueries, CountsPerChannelAndTypeEqualTheIndependentDecoder) {
    ASSERT_GE(expected_.size(), 100u);
    for (auto& [name, expected] : expected_) {
        SCOPED_TRACE(name);
        const std::string path = DataPath("corpus/" + name);
        ASSERT_FALSE(expected.tracks.empty());
        std::map<uint32_t, size_t>& perType = expected.perType;
        std::map<int, size_t>& perChannel = expected.perChannel;

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

TEST_F(CorpusQueries, SongEventListHoldsEveryEventInTimeOrder) {
    ASSERT_GE(expected_.size(), 100u);
    for (const auto& [name, file] : expected_) {
        SCOPED_TRACE(name);
        const std::string path = DataPath("corpus/" + name);
        const std::vector<std::vector<std::string>>& expected = file.tracks;

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
