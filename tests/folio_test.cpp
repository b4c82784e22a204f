// The song object itself: construction, the track list, header information, accessors.
#include <gtest/gtest.h>

#include <memory>

#include "midifolio/midifolio.h"
#include "test_support.h"

using namespace midifolio;
using namespace testsupport;

TEST(Song, StartsEmptyWithZeroHeaderAndNoPath) {
    CMidiFolio song;
    EXPECT_EQ(song.GetTrackNum(), 0);
    EXPECT_EQ(song.GetTrack(0), nullptr);
    EXPECT_EQ(song.GetTrack(-1), nullptr);
    _MIDIHEAD head = song.GetMidiHeaderInfo();
    EXPECT_EQ(head.nFormat, 0);
    EXPECT_EQ(head.nTracks, 0);
    EXPECT_EQ(head.nDivision, 0);
    EXPECT_EQ(song.GetMidiPath(), "");
    EXPECT_EQ(song.IsModified(), 0);
    EXPECT_EQ(song.GetNoteUsage(0, 60), 0);
    EXPECT_EQ(song.GetNoteUsage(NOTE_USAGE_PERCUSSION_ROW, 36), 0);
}

TEST(Song, EmptyListRefusesInsertionButAcceptsAppend) {
    CMidiFolio song;
    auto track = std::make_unique<CMidiTrack>();
    EXPECT_EQ(song.InsertTrack(track.get(), 0, 1), -1);
    EXPECT_EQ(song.IsModified(), 0);
    EXPECT_EQ(song.AddTrack(track.release()), 0);
    EXPECT_EQ(song.IsModified(), 1);
    EXPECT_EQ(song.GetTrackNum(), 1);
}

TEST(Song, InsertTrackPlacesBeforeOrAfterTheIndex) {
    CMidiFolio song;
    CMidiTrack* t[3];
    for (int i = 0; i < 3; ++i) {
        t[i] = new CMidiTrack();
        ASSERT_EQ(song.AddTrack(t[i]), i);
    }
    auto* before = new CMidiTrack();
    EXPECT_EQ(song.InsertTrack(before, 1, 1), 1);
    EXPECT_EQ(song.GetTrack(1), before);
    EXPECT_EQ(song.GetTrack(2), t[1]);

    auto* after = new CMidiTrack();
    EXPECT_EQ(song.InsertTrack(after, 1, 0), 2);
    EXPECT_EQ(song.GetTrack(1), before);
    EXPECT_EQ(song.GetTrack(2), after);
    EXPECT_EQ(song.GetTrack(3), t[1]);
    EXPECT_EQ(song.GetTrackNum(), 5);

    // Indexes outside the list and null tracks change nothing; the refused track stays ours.
    auto stray = std::make_unique<CMidiTrack>();
    EXPECT_EQ(song.InsertTrack(stray.get(), 5, 1), -1);
    EXPECT_EQ(song.InsertTrack(stray.get(), -1, 0), -1);
    EXPECT_EQ(song.InsertTrack(nullptr, 0, 1), -1);
    EXPECT_EQ(song.AddTrack(nullptr), -1);
    EXPECT_EQ(song.GetTrackNum(), 5);
    EXPECT_EQ(song.GetTrack(5), nullptr);
}

TEST(Song, RefusesATrackItAlreadyOwns) {
    CMidiFolio song;
    auto* track = new CMidiTrack();
    ASSERT_EQ(song.AddTrack(track), 0);
    EXPECT_EQ(song.AddTrack(track), -1);
    EXPECT_EQ(song.InsertTrack(track, 0, 1), -1);
    EXPECT_EQ(song.GetTrackNum(), 1);
}

TEST(Song, TrackListChangesLeaveTheHeaderTrackCount) {
    CMidiFolio song;
    _MIDIHEAD head{1, 2, 96};
    ASSERT_EQ(song.SetMidiHeaderinfo(&head), 1);
    song.AddTrack(new CMidiTrack());
    EXPECT_EQ(song.GetTrackNum(), 1);
    EXPECT_EQ(song.GetMidiHeaderInfo().nTracks, 2);

    song.SetModifiedFlag(0);
    song.RemoveTrkAll();
    EXPECT_EQ(song.GetTrackNum(), 0);
    EXPECT_EQ(song.GetMidiHeaderInfo().nTracks, 2);
    EXPECT_EQ(song.GetMidiHeaderInfo().nDivision, 96);
    EXPECT_EQ(song.IsModified(), 0);
    song.RemoveTrkAll();  // on an empty list: nothing happens
    EXPECT_EQ(song.GetTrackNum(), 0);
}

TEST(Song, HeaderInformationIsCopiedWithoutSideEffects) {
    CMidiFolio song;
    EXPECT_EQ(song.SetMidiHeaderinfo(nullptr), 0);
    _MIDIHEAD head{1, 7, 480};
    EXPECT_EQ(song.SetMidiHeaderinfo(&head), 1);
    _MIDIHEAD got = song.GetMidiHeaderInfo();
    EXPECT_EQ(got.nFormat, 1);
    EXPECT_EQ(got.nTracks, 7);
    EXPECT_EQ(got.nDivision, 480);
    EXPECT_EQ(song.IsModified(), 0);
    EXPECT_EQ(song.GetMidiTempo().GetTicksPerQuarterNote(), -1);  // not touched
    EXPECT_EQ(song.SetMidiHeaderinfo(nullptr), 0);
    EXPECT_EQ(song.GetMidiHeaderInfo().nTracks, 7);
}

TEST(Song, SetMidiTempoTakesTheDivisionOfTheNewMap) {
    CMidiFolio song;
    CMidiTempo tempo;
    tempo.SetTicksPerQuarterNote(480);
    tempo.SetBar(_BAR{3, 4});
    song.SetMidiTempo(&tempo);
    EXPECT_EQ(song.GetMidiHeaderInfo().nDivision, 480);
    EXPECT_EQ(song.GetMidiTempo().GetTicksPerQuarterNote(), 480);
    EXPECT_EQ(song.GetMidiTempo().GetBar().dwBaseBarNum, 3u);
    EXPECT_EQ(song.IsModified(), 0);

    song.SetMidiTempo(nullptr);  // refused: nothing changes
    EXPECT_EQ(song.GetMidiHeaderInfo().nDivision, 480);

    // Merging the song's own map into itself is safe: its one entry is added once more.
    _TEMPO t{0, 0, 120, 500000};
    song.GetMidiTempo().SetTempo(t);
    ASSERT_EQ(song.GetMidiTempo().GetTempos().size(), 1u);
    song.SetMidiTempo(&song.GetMidiTempo());
    EXPECT_EQ(song.GetMidiTempo().GetTempos().size(), 2u);
    EXPECT_EQ(song.GetMidiHeaderInfo().nDivision, 480);
}

TEST(Song, TempoUnitConversionDividesSixtyMillion) {
    int r = 0;
    CMidiFolio::BpmToUsPB(120, &r);
    EXPECT_EQ(r, 500000);
    CMidiFolio::UsPBToBpm(500000, &r);
    EXPECT_EQ(r, 120);
    CMidiFolio::BpmToUsPB(-120, &r);
    EXPECT_EQ(r, -500000);
    CMidiFolio::BpmToUsPB(7, &r);
    EXPECT_EQ(r, 8571428);
    CMidiFolio::UsPBToBpm(400000, &r);
    EXPECT_EQ(r, 150);

    // Zero, and a null result, write nothing.
    r = 77;
    CMidiFolio::BpmToUsPB(0, &r);
    CMidiFolio::UsPBToBpm(0, &r);
    EXPECT_EQ(r, 77);
    CMidiFolio::BpmToUsPB(120, nullptr);
}

TEST(Song, DestroysTheTracksItOwns) {
    // Run under the sanitizer build, a track left behind shows as a leak.
    auto song = std::make_unique<CMidiFolio>();
    for (int i = 0; i < 3; ++i) song->AddTrack(song->CreateTrack());
    song->InsertTrack(song->CreateTrack(), 0, 1);
    EXPECT_EQ(song->GetTrackNum(), 4);
    song.reset();
}
