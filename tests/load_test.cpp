// The song: its track list and header, and loading Standard MIDI Files into it (header checks,
// track chunks, messages, progress and the state a failed load leaves). The result and message
// of each kind of malformed file are the bad-files test's; here are the loader's own rules.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "midifolio/midifolio.h"
#include "test_support.h"

using namespace midifolio;
using namespace testsupport;

namespace {

const char* kReadData = "Error read data!!";
const char* kFormat = "Error format unsupport!!";
using Lines = std::vector<std::string>;

const Bytes kEnd = B({0x00, 0xFF, 0x2F, 0x00});                           // delta 0, end of track
const Bytes kNote = B({0x00, 0x90, 0x3C, 0x64, 0x60, 0x80, 0x3C, 0x40});  // C4 on, off at 96
const std::string kPrefix = "0 meta 51 07a120";

// A song whose messages are collected.
struct Song {
    CMidiFolio folio;
    Messages messages;
    Song() { folio.SetMessageSink(messages.Sink()); }
    int Load(const Bytes& bytes, ProgressObserver* progress = nullptr) {
        return folio.LoadMidiFile(WriteFile("load.mid", bytes), progress);
    }
};

Lines Events(const CMidiTrack* track) {
    Lines out;
    for (POSITION pos = track->GetEventHeadPosition(); pos != nullptr;) {
        MIDIEvent ev = track->GetNextEvent(pos);
        out.push_back(std::to_string(ev.lTime) + " " + Canonical(ev));
    }
    return out;
}

}  // namespace

TEST(TrackList, InsertingPlacesBeforeOrAfterAnIndexAndRefusesWhatItCannotPlace) {
    CMidiFolio song;
    auto stray = std::make_unique<CMidiTrack>();
    EXPECT_EQ(song.InsertTrack(stray.get(), 0, 1), -1);  // an empty list has no index 0
    EXPECT_EQ(song.IsModified(), 0);
    CMidiTrack* t[3];
    for (int i = 0; i < 3; ++i) ASSERT_EQ(song.AddTrack(t[i] = new CMidiTrack()), i);
    EXPECT_EQ(song.IsModified(), 1);
    auto* before = new CMidiTrack();
    auto* after = new CMidiTrack();
    EXPECT_EQ(song.InsertTrack(before, 1, 1), 1);
    EXPECT_EQ(song.InsertTrack(after, 1, 0), 2);
    const std::vector<CMidiTrack*> order = {t[0], before, after, t[1], t[2], nullptr};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(song.GetTrack(i), order[i]) << i;
    // Indexes outside the list, null tracks and tracks it owns already change nothing.
    EXPECT_EQ(song.InsertTrack(stray.get(), 5, 1), -1);
    EXPECT_EQ(song.InsertTrack(stray.get(), -1, 0), -1);
    EXPECT_EQ(song.InsertTrack(nullptr, 0, 1), -1);
    EXPECT_EQ(song.AddTrack(nullptr), -1);
    EXPECT_EQ(song.AddTrack(t[0]), -1);
    EXPECT_EQ(song.InsertTrack(before, 0, 1), -1);
    EXPECT_EQ(song.GetTrackNum(), 5);
    EXPECT_EQ(song.GetTrack(-1), nullptr);
}

TEST(TrackList, ChangesLeaveTheHeaderAndTheHeaderLeavesTheTempoMap) {
    CMidiFolio song;
    EXPECT_EQ(song.SetMidiHeaderinfo(nullptr), 0);
    _MIDIHEAD head{1, 2, 96};
    ASSERT_EQ(song.SetMidiHeaderinfo(&head), 1);
    EXPECT_EQ(song.GetMidiTempo().GetTicksPerQuarterNote(), -1);
    EXPECT_EQ(song.IsModified(), 0);
    song.AddTrack(new CMidiTrack());
    EXPECT_EQ(song.GetMidiHeaderInfo().nTracks, 2);
    song.SetModifiedFlag(0);
    song.RemoveTrkAll();
    EXPECT_EQ(song.GetTrackNum(), 0);
    EXPECT_EQ(song.GetMidiHeaderInfo().nTracks, 2);
    EXPECT_EQ(song.GetMidiHeaderInfo().nDivision, 96);
    EXPECT_EQ(song.IsModified(), 0);
}

TEST(TrackList, DestroysTheTracksItOwns) {
    // Under the sanitizers a track left behind shows as a leak.
    auto song = std::make_unique<CMidiFolio>();
    for (int i = 0; i < 3; ++i) song->AddTrack(song->CreateTrack());
    song->InsertTrack(song->CreateTrack(), 0, 1);
    EXPECT_EQ(song->GetTrackNum(), 4);
}

TEST(SongTempo, SetMidiTempoMergesTheMapAndTakesItsDivision) {
    CMidiFolio song;
    CMidiTempo tempo;
    tempo.SetTicksPerQuarterNote(480);
    tempo.SetBar(_BAR{3, 4});
    song.SetMidiTempo(&tempo);
    song.SetMidiTempo(nullptr);
    EXPECT_EQ(song.GetMidiHeaderInfo().nDivision, 480);
    EXPECT_EQ(song.GetMidiTempo().GetBar().dwBaseBarNum, 3u);
    EXPECT_EQ(song.IsModified(), 0);
    // Merging the song's own map into itself is safe: its one entry is added once more.
    _TEMPO t{0, 0, 120, 500000};
    song.GetMidiTempo().SetTempo(t);
    song.SetMidiTempo(&song.GetMidiTempo());
    EXPECT_EQ(song.GetMidiTempo().GetTempos().size(), 2u);
}

TEST(SongTempo, UnitConversionDividesSixtyMillionAndZeroWritesNothing) {
    int r = 0;
    CMidiFolio::BpmToUsPB(7, &r);
    EXPECT_EQ(r, 8571428);
    CMidiFolio::UsPBToBpm(400000, &r);
    EXPECT_EQ(r, 150);
    CMidiFolio::BpmToUsPB(0, &r);
    CMidiFolio::UsPBToBpm(0, &r);
    EXPECT_EQ(r, 150);
    CMidiFolio::BpmToUsPB(120, nullptr);
}

TEST(Load, UnsupportedFormatsAndDivisionsAreRefusedWithOneMessage) {
    Song two;
    EXPECT_EQ(two.Load(Smf(2, 96, {kEnd})), 0);
    EXPECT_EQ(two.messages.list, Lines{kFormat});
    EXPECT_EQ(two.folio.GetMidiHeaderInfo().nFormat, 2);  // remembered
    EXPECT_EQ(two.folio.GetMidiHeaderInfo().nTracks, 0);  // not read
    Song three;
    _MIDIHEAD head{1, 0, 0};
    three.folio.SetMidiHeaderinfo(&head);
    EXPECT_EQ(three.Load(Smf(3, 96, {kEnd})), 0);
    EXPECT_EQ(three.folio.GetMidiHeaderInfo().nFormat, 1);  // left as it was
    Song smpte;
    EXPECT_EQ(smpte.Load(Smf(1, 0xE250, {kEnd})), 0);
    EXPECT_EQ(smpte.messages.list, Lines{"Error time unsupport!!"});
    EXPECT_EQ(smpte.folio.GetMidiTempo().GetTicksPerQuarterNote(), 0xE250);  // stored first
}

TEST(Load, ReadsTheDeclaredTracksAndKeepsThoseBeforeAMissingOne) {
    Song extra;
    EXPECT_EQ(extra.Load(Cat({Header(1, 2, 96), Track(kEnd), Track(kNote), Track(B({1, 2}))})), 1);
    EXPECT_EQ(extra.folio.GetTrackNum(), 2);
    Song missing;
    ProgressLog progress;
    EXPECT_EQ(missing.Load(Cat({Header(1, 3, 96), Track(kNote), Track(kEnd)}), &progress), 0);
    EXPECT_EQ(missing.messages.list, Lines{kReadData});
    EXPECT_EQ(missing.folio.GetTrackNum(), 2);
    EXPECT_EQ(progress.calls, (Lines{"range 0 3", "pos 0", "pos 1"}));
    Song empty;  // format 0 without a track is a song without tracks
    ProgressLog none;
    EXPECT_EQ(empty.Load(Smf(0, 96, {}), &none), 1);
    EXPECT_EQ(none.calls, Lines{"range 0 0"});
}

TEST(Load, TheFirstTrackStartsWithTheTempoPrefix) {
    Song s;
    ASSERT_EQ(s.Load(Smf(1, 96, {kNote, Cat({B({0x83, 0x60, 0x91, 0x40, 0x50}), kEnd})})), 1);
    ASSERT_EQ(s.folio.GetTrackNum(), 2);
    EXPECT_EQ(Events(s.folio.GetTrack(0)),
              (Lines{kPrefix, "0 noteon 0 60 100", "96 noteoff 0 60 64"}));
    EXPECT_EQ(s.folio.GetTrack(0)->GetTrkLen(), static_cast<int32_t>(kNote.size() + 7));
    EXPECT_EQ(Events(s.folio.GetTrack(1)), (Lines{"480 noteon 1 64 80", "480 meta 2f -"}));
    EXPECT_EQ(s.folio.GetTrack(1)->GetTrkLen(), 9);
    EXPECT_EQ(s.folio.GetTrack(1)->GetTrackNum(), 1);
    EXPECT_EQ(s.folio.GetMidiTempo().GetTicksPerQuarterNote(), 96);
    Song empty;
    ASSERT_EQ(empty.Load(Smf(1, 96, {Bytes{}})), 1);
    EXPECT_EQ(Events(empty.folio.GetTrack(0)), Lines{kPrefix});
}

TEST(Load, TheTempoMapHoldsTheDefaultThePrefixAndTheFileTempos) {
    // 100 bpm from tick 192 (two quarters at 96 ticks per quarter: 1000 ms at 120 bpm).
    const Bytes conductor =
        B({0x81, 0x40, 0xFF, 0x51, 0x03, 0x09, 0x27, 0xC0, 0x00, 0xFF, 0x2F, 0x00});
    Song s;
    ASSERT_EQ(s.Load(Smf(1, 96, {conductor, kNote})), 1);
    Lines got;
    for (const _TEMPO& t : s.folio.GetMidiTempo().GetTempos())
        got.push_back(std::to_string(t.lTicks) + " " + std::to_string(t.lMsecs) + " " +
                      std::to_string(t.lUsPerQuarter) + " " + std::to_string(t.nBPM));
    EXPECT_EQ(got, (Lines{"0 0 500000 120", "0 0 500000 120", "192 1000 600000 100"}));

    // A track that fails to decode ends the load, but its tempo events stay in the map.
    Song bad;
    EXPECT_EQ(bad.Load(Smf(
                  1, 96, {kNote, B({0x00, 0xFF, 0x51, 0x03, 0x09, 0x27, 0xC0, 0x00, 0x90, 0x3C})})),
              0);
    EXPECT_EQ(bad.messages.list, Lines{kReadData});
    EXPECT_EQ(bad.folio.GetTrackNum(), 1);
    EXPECT_EQ(bad.folio.GetMidiTempo().GetTempos().back().lUsPerQuarter, 600000);
}

TEST(Load, ASecondLoadAppendsTracksAndMergesNoteUsage) {
    // Program 40 on channel 0, then note 60; percussion note 36 on channel index 9.
    const Bytes violin = B({0x00, 0xC0, 0x28, 0x00, 0x90, 0x3C, 0x40, 0x00, 0xFF, 0x2F, 0x00});
    const Bytes drums = B({0x00, 0x99, 0x24, 0x40, 0x00, 0xFF, 0x2F, 0x00});
    Song s;
    ASSERT_EQ(s.Load(Smf(0, 96, {violin})), 1);
    EXPECT_EQ(s.folio.GetNoteUsage(NOTE_USAGE_PERCUSSION_ROW, 36), 0);
    ASSERT_EQ(s.Load(Smf(1, 480, {drums, kNote})), 1);
    ASSERT_EQ(s.folio.GetTrackNum(), 3);
    EXPECT_EQ(Events(s.folio.GetTrack(1)).front(), kPrefix);  // this load's first track
    EXPECT_EQ(s.folio.GetTrack(2)->GetTrackNum(), 1);
    EXPECT_EQ(s.folio.GetNoteUsage(40, 60), 1);  // kept
    EXPECT_EQ(s.folio.GetNoteUsage(NOTE_USAGE_PERCUSSION_ROW, 36), 1);
    EXPECT_EQ(s.folio.GetNoteUsage(0, 60), 1);
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

TEST(Load, AFailedOpenShowsTheSystemTextAndKeepsThePath) {
    Song s;
    const std::string missing = TmpPath("no/such/file.mid");
    EXPECT_EQ(s.folio.LoadMidiFile(missing), 0);
    EXPECT_EQ(s.messages.list, Lines{std::strerror(ENOENT)});
    EXPECT_EQ(s.folio.GetMidiPath(), missing);
    Song dir;
    EXPECT_EQ(dir.folio.LoadMidiFile(DataPath("corpus")), 0);
    EXPECT_EQ(dir.messages.list, Lines{std::strerror(EISDIR)});
}

TEST(Load, ReadsFromAPipeWithoutAKnownSize) {
    const Bytes good = Smf(1, 96, {kNote, kEnd});
    // A chunk claiming far more than arrives: only the arriving bytes are held.
    const Bytes lying =
        Cat({Header(1, 1, 96), B({'M', 'T', 'r', 'k', 0x7F, 0xFF, 0xFF, 0x00}), kNote});
    for (const Bytes* bytes : {&good, &lying}) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        ASSERT_EQ(write(fds[1], bytes->data(), bytes->size()), ssize_t(bytes->size()));
        close(fds[1]);
        Song s;
        const int result = s.folio.LoadMidiFile("/dev/fd/" + std::to_string(fds[0]));
        close(fds[0]);
        EXPECT_EQ(result, bytes == &good ? 1 : 0);
        EXPECT_EQ(s.folio.GetTrackNum(), bytes == &good ? 2 : 0);
    }
}

TEST(Load, TempoMapMessagesGoToTheSongsSink) {
    // The default and prefix entries plus 32767 changes outgrow the tempo map's tables: the
    // map's one message reaches the sink the host gave the song, and the load succeeds.
    Bytes data;
    for (int i = 0; i < 32767; ++i)
        data.insert(data.end(), {0x01, 0xFF, 0x51, 0x03, 0x07, 0xA1, uint8_t(i % 2 ? 0x20 : 0x21)});
    data.insert(data.end(), kEnd.begin(), kEnd.end());
    Song s;
    EXPECT_EQ(s.Load(Smf(0, 96, {data})), 1);
    EXPECT_EQ(s.messages.list.size(), 1u);
    EXPECT_EQ(s.folio.GetMidiTempo().GetTempos().size(), 32769u);
}
