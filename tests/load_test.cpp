// Loading Standard MIDI Files: header checks, track chunks, messages, progress and the
// state a failed load leaves. The result and message of each kind of malformed file are
// the bad-files test's; here are the song's state and the loader's own rules.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "midifolio/midifolio.h"
#include "test_support.h"

using namespace midifolio;
using namespace testsupport;

namespace {

const char* kReadData = "Error read data!!";
const char* kTime = "Error time unsupport!!";
const char* kFormat = "Error format unsupport!!";

const Bytes kEnd = B({0x00, 0xFF, 0x2F, 0x00});                           // delta 0, end of track
const Bytes kNote = B({0x00, 0x90, 0x3C, 0x64, 0x60, 0x80, 0x3C, 0x40});  // C4 on, off at 96

// A song whose messages are collected.
struct Song {
    CMidiFolio folio;
    Messages messages;
    Song() { folio.SetMessageSink(messages.Sink()); }
    int Load(const Bytes& bytes, ProgressObserver* progress = nullptr) {
        return folio.LoadMidiFile(WriteFile("load.mid", bytes), progress);
    }
};

std::vector<std::string> Events(const CMidiTrack* track) {
    std::vector<std::string> out;
    for (POSITION pos = track->GetEventHeadPosition(); pos != nullptr;) {
        MIDIEvent ev = track->GetNextEvent(pos);
        out.push_back(std::to_string(ev.lTime) + " " + Canonical(ev));
    }
    return out;
}

const std::string kPrefix = "0 meta 51 07a120";

}  // namespace

TEST(Load, FormatTwoIsRefusedAndRemembered) {
    Song s;
    EXPECT_EQ(s.Load(Smf(2, 96, {kEnd})), 0);
    EXPECT_EQ(s.messages.list, std::vector<std::string>{kFormat});
    EXPECT_EQ(s.folio.GetMidiHeaderInfo().nFormat, 2);
    EXPECT_EQ(s.folio.GetMidiHeaderInfo().nTracks, 0);  // not read

    Song three;
    _MIDIHEAD head{1, 0, 0};
    three.folio.SetMidiHeaderinfo(&head);
    EXPECT_EQ(three.Load(Smf(3, 96, {kEnd})), 0);
    EXPECT_EQ(three.messages.list, std::vector<std::string>{kFormat});
    EXPECT_EQ(three.folio.GetMidiHeaderInfo().nFormat, 1);  // left as it was
}

TEST(Load, FormatZeroTakesAtMostOneTrack) {
    Song two;
    EXPECT_EQ(two.Load(Smf(0, 96, {kEnd, kEnd})), 0);
    EXPECT_EQ(two.messages.list, std::vector<std::string>{kReadData});
    EXPECT_EQ(two.folio.GetMidiHeaderInfo().nTracks, 2);
    EXPECT_EQ(two.folio.GetTrackNum(), 0);

    Song one;
    EXPECT_EQ(one.Load(Smf(0, 96, {kEnd})), 1);
    EXPECT_TRUE(one.messages.list.empty());
    Song none;
    EXPECT_EQ(none.Load(Smf(0, 96, {})), 1);
    EXPECT_TRUE(none.messages.list.empty());
}

TEST(Load, SmpteDivisionIsRefusedAfterItWasStored) {
    Song s;
    EXPECT_EQ(s.Load(Smf(1, 0xE250, {kEnd})), 0);
    EXPECT_EQ(s.messages.list, std::vector<std::string>{kTime});
    EXPECT_EQ(s.folio.GetMidiHeaderInfo().nDivision, 0xE250);
    EXPECT_EQ(s.folio.GetMidiTempo().GetTicksPerQuarterNote(), 0xE250);
    EXPECT_EQ(s.folio.GetTrackNum(), 0);
}

TEST(Load, ReadsOnlyTheDeclaredNumberOfTracks) {
    Bytes bytes = Cat({Header(1, 2, 96), Track(kEnd), Track(kNote), Track(B({0x01, 0x02}))});
    Song s;
    EXPECT_EQ(s.Load(bytes), 1);
    EXPECT_TRUE(s.messages.list.empty());
    EXPECT_EQ(s.folio.GetTrackNum(), 2);
}

TEST(Load, MissingTracksKeepThoseReadBefore) {
    Bytes bytes = Cat({Header(1, 3, 96), Track(kNote), Track(kEnd)});
    Song s;
    ProgressLog progress;
    EXPECT_EQ(s.Load(bytes, &progress), 0);
    EXPECT_EQ(s.messages.list, std::vector<std::string>{kReadData});
    EXPECT_EQ(s.folio.GetTrackNum(), 2);
    EXPECT_EQ(progress.calls, (std::vector<std::string>{"range 0 3", "pos 0", "pos 1"}));
}

TEST(Load, FirstTrackStartsWithTheTempoPrefix) {
    Bytes bytes = Smf(1, 96, {kNote, Cat({B({0x83, 0x60, 0x91, 0x40, 0x50}), kEnd})});
    Song s;
    ASSERT_EQ(s.Load(bytes), 1);
    ASSERT_EQ(s.folio.GetTrackNum(), 2);
    const CMidiTrack* first = s.folio.GetTrack(0);
    EXPECT_EQ(Events(first),
              (std::vector<std::string>{kPrefix, "0 noteon 0 60 100", "96 noteoff 0 60 64"}));
    EXPECT_EQ(first->GetTrkLen(), static_cast<int32_t>(kNote.size() + 7));
    EXPECT_EQ(first->GetTrackNum(), 0);
    const CMidiTrack* second = s.folio.GetTrack(1);
    EXPECT_EQ(Events(second), (std::vector<std::string>{"480 noteon 1 64 80", "480 meta 2f -"}));
    EXPECT_EQ(second->GetTrkLen(), 9);
    EXPECT_EQ(second->GetTrackNum(), 1);

    _MIDIHEAD head = s.folio.GetMidiHeaderInfo();
    EXPECT_EQ(head.nFormat, 1);
    EXPECT_EQ(head.nTracks, 2);
    EXPECT_EQ(head.nDivision, 96);
    EXPECT_EQ(s.folio.GetMidiTempo().GetTicksPerQuarterNote(), 96);
}

TEST(Load, EmptyFirstTrackHoldsOnlyThePrefix) {
    Song s;
    ASSERT_EQ(s.Load(Smf(1, 96, {Bytes{}})), 1);
    ASSERT_EQ(s.folio.GetTrackNum(), 1);
    EXPECT_EQ(Events(s.folio.GetTrack(0)), std::vector<std::string>{kPrefix});
    EXPECT_EQ(s.folio.GetTrack(0)->GetTrkLen(), 7);
}

TEST(Load, TrackThatFailsToDecodeEndsTheLoadButKeepsItsTempoEvents) {
    // Second track: a tempo change of 600000 us at tick 0, then an event cut off.
    Bytes bad = B({0x00, 0xFF, 0x51, 0x03, 0x09, 0x27, 0xC0, 0x00, 0x90, 0x3C});
    Song s;
    EXPECT_EQ(s.Load(Smf(1, 96, {kNote, bad})), 0);
    EXPECT_EQ(s.messages.list, std::vector<std::string>{kReadData});
    EXPECT_EQ(s.folio.GetTrackNum(), 1);
    bool seen = false;
    for (const _TEMPO& t : s.folio.GetMidiTempo().GetTempos()) seen |= t.lUsPerQuarter == 600000;
    EXPECT_TRUE(seen);
}

TEST(Load, TempoMapHoldsTheDefaultAndTheFileTempos) {
    // 100 bpm from tick 192 (two quarters at 96 ticks per quarter: 1000 ms at 120 bpm).
    Bytes conductor = B({0x81, 0x40, 0xFF, 0x51, 0x03, 0x09, 0x27, 0xC0, 0x00, 0xFF, 0x2F, 0x00});
    Song s;
    ASSERT_EQ(s.Load(Smf(1, 96, {conductor, kNote})), 1);
    // The default entry, the prefix's entry, then the file's change.
    const TempoList& tempos = s.folio.GetMidiTempo().GetTempos();
    ASSERT_EQ(tempos.size(), 3u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(tempos[i].lTicks, 0);
        EXPECT_EQ(tempos[i].lMsecs, 0);
        EXPECT_EQ(tempos[i].lUsPerQuarter, 500000);
        EXPECT_EQ(tempos[i].nBPM, 120);
    }
    EXPECT_EQ(tempos[2].lTicks, 192);
    EXPECT_EQ(tempos[2].lUsPerQuarter, 600000);
    EXPECT_EQ(tempos[2].nBPM, 100);
    EXPECT_EQ(tempos[2].lMsecs, 1000);  // recalculated after the last track
}

TEST(Load, ProgressReportsTheRangeThenEachTrack) {
    Song s;
    ProgressLog progress;
    ASSERT_EQ(s.Load(Smf(1, 96, {kEnd, kNote, kEnd, kNote}), &progress), 1);
    EXPECT_EQ(progress.calls,
              (std::vector<std::string>{"range 0 4", "pos 0", "pos 1", "pos 2", "pos 3"}));
    // Zero tracks: an empty song, and only the range.
    Song empty;
    ProgressLog none;
    EXPECT_EQ(empty.Load(Smf(1, 96, {}), &none), 1);
    EXPECT_EQ(empty.folio.GetTrackNum(), 0);
    EXPECT_EQ(none.calls, std::vector<std::string>{"range 0 0"});
}

TEST(Load, SecondLoadAppendsTracksAndMergesNoteUsage) {
    // Program 40 on channel 0, then note 60; percussion note 36 on channel index 9.
    Bytes violin = B({0x00, 0xC0, 0x28, 0x00, 0x90, 0x3C, 0x40, 0x00, 0xFF, 0x2F, 0x00});
    Bytes drums = B({0x00, 0x99, 0x24, 0x40, 0x00, 0xFF, 0x2F, 0x00});
    Song s;
    ASSERT_EQ(s.Load(Smf(0, 96, {violin})), 1);
    EXPECT_EQ(s.folio.GetNoteUsage(40, 60), 1);
    EXPECT_EQ(s.folio.GetNoteUsage(NOTE_USAGE_PERCUSSION_ROW, 36), 0);
    std::string first = s.folio.GetMidiPath();

    ASSERT_EQ(s.Load(Smf(1, 480, {drums, kNote})), 1);
    EXPECT_NE(s.folio.GetMidiPath(), first);
    ASSERT_EQ(s.folio.GetTrackNum(), 3);
    EXPECT_EQ(Events(s.folio.GetTrack(1)).front(), kPrefix);  // this load's first track
    EXPECT_EQ(s.folio.GetTrack(1)->GetTrackNum(), 0);
    EXPECT_EQ(s.folio.GetTrack(2)->GetTrackNum(), 1);
    EXPECT_EQ(s.folio.GetNoteUsage(40, 60), 1);  // kept
    EXPECT_EQ(s.folio.GetNoteUsage(NOTE_USAGE_PERCUSSION_ROW, 36), 1);
    EXPECT_EQ(s.folio.GetNoteUsage(0, 60), 1);
    EXPECT_EQ(s.folio.GetMidiHeaderInfo().nTracks, 2);
    EXPECT_EQ(s.folio.GetMidiHeaderInfo().nDivision, 480);
    EXPECT_EQ(s.folio.IsModified(), 0);
}

TEST(Load, PercussionValidationIsRequestedOnEveryTrack) {
    Song s;
    s.folio.SetIsValidatePercussion();
    ASSERT_EQ(s.Load(Smf(1, 96, {kEnd, kNote, kEnd})), 1);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(s.folio.GetTrack(i)->GetISValidatePercuss(), 1);

    Song plain;
    ASSERT_EQ(plain.Load(Smf(1, 96, {kEnd})), 1);
    EXPECT_EQ(plain.folio.GetTrack(0)->GetISValidatePercuss(), 0);
}

TEST(Load, FailedOpenShowsTheSystemTextAndKeepsThePath) {
    Song s;
    std::string missing = TmpPath("no/such/file.mid");
    EXPECT_EQ(s.folio.LoadMidiFile(missing), 0);
    EXPECT_EQ(s.messages.list, std::vector<std::string>{std::strerror(ENOENT)});
    EXPECT_EQ(s.folio.GetMidiPath(), missing);

    Song dir;
    EXPECT_EQ(dir.folio.LoadMidiFile(DataPath("corpus")), 0);
    EXPECT_EQ(dir.messages.list, std::vector<std::string>{std::strerror(EISDIR)});
    EXPECT_EQ(dir.folio.GetMidiPath(), DataPath("corpus"));
}

TEST(Load, ReadsFromAPipeWithoutAKnownSize) {
    Bytes good = Smf(1, 96, {kNote, kEnd});
    // A pipe with a chunk claiming far more than arrives: only the arriving bytes are held.
    Bytes lying = Cat({Header(1, 1, 96), B({'M', 'T', 'r', 'k', 0x7F, 0xFF, 0xFF, 0x00}), kNote});
    for (const Bytes* bytes : {&good, &lying}) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        ASSERT_EQ(write(fds[1], bytes->data(), bytes->size()), static_cast<ssize_t>(bytes->size()));
        close(fds[1]);
        Song s;
        int result = s.folio.LoadMidiFile("/dev/fd/" + std::to_string(fds[0]));
        close(fds[0]);
        if (bytes == &good) {
            EXPECT_EQ(result, 1);
            EXPECT_TRUE(s.messages.list.empty());
            EXPECT_EQ(s.folio.GetTrackNum(), 2);
        } else {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(s.messages.list, std::vector<std::string>{kReadData});
        }
    }
}

namespace {

// A song that makes its tracks itself, and can run out of them.
class CountingFolio : public CMidiFolio {
  public:
    int created = 0;
    int limit = 1000;
    CMidiTrack* CreateTrack() override {
        if (created >= limit) return nullptr;
        ++created;
        return CMidiFolio::CreateTrack();
    }
};

}  // namespace

TEST(Load, TracksComeFromTheVirtualFactoryAndItsFailureEndsTheLoad) {
    CountingFolio song;
    Messages messages;
    song.SetMessageSink(messages.Sink());
    ASSERT_EQ(song.LoadMidiFile(WriteFile("f.mid", Smf(1, 96, {kEnd, kNote}))), 1);
    EXPECT_EQ(song.created, 2);

    CountingFolio starved;
    starved.SetMessageSink(messages.Sink());
    starved.limit = 1;
    EXPECT_EQ(starved.LoadMidiFile(WriteFile("f.mid", Smf(1, 96, {kEnd, kNote, kEnd}))), 0);
    EXPECT_EQ(messages.list, std::vector<std::string>{kReadData});
    EXPECT_EQ(starved.GetTrackNum(), 1);
}

TEST(Load, TempoMapMessagesGoToTheSongsSink) {
    // The default and prefix entries plus 32767 changes outgrow the tempo map's tables: the
    // map's one message reaches the sink the host gave the song, and the load succeeds.
    Bytes data;
    for (int i = 0; i < 32767; ++i) {
        Bytes ev = B({0x01, 0xFF, 0x51, 0x03, 0x07, 0xA1, i % 2 ? 0x20 : 0x21});
        data.insert(data.end(), ev.begin(), ev.end());
    }
    data.insert(data.end(), kEnd.begin(), kEnd.end());
    Song s;
    EXPECT_EQ(s.Load(Smf(0, 96, {data})), 1);
    EXPECT_EQ(s.messages.list.size(), 1u);
    EXPECT_EQ(s.folio.GetMidiTempo().GetTempos().size(), 32769u);
}
