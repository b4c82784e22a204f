// Drums in use, and the percussion validation request and range result.
#include <gtest/gtest.h>

#include "analysis_support.h"

using namespace midifolio;
using namespace analysis_support;

namespace {

std::vector<std::string> Describe(const DrumArray& array) {
    std::vector<std::string> out;
    for (const _DRUM& d : array) {
        EXPECT_EQ(d.byBank, d.byBankCopy);
        EXPECT_EQ(d.byNote, d.byNoteCopy);
        out.push_back(std::to_string(d.byBank) + "/" + std::to_string(d.byNote) + " " + d.strName +
                      " " + d.strPitch);
    }
    return out;
}
using Lines = std::vector<std::string>;

// The drums of a song of these tracks, listed into an emptied array.
Lines DrumsOf(const std::vector<Bytes>& tracks) {
    Song s(tracks);
    EXPECT_EQ(s.loaded, 1);
    DrumArray array;
    s->GetDrums(array, 1);
    return Describe(array);
}

}  // namespace

TEST(Drums, EachStruckDrumIsListedOnceWithItsNameAndPitch) {
    EXPECT_EQ(DrumsOf({TrackData({On(0, 9, 36), Off(10, 9, 36), On(0, 9, 38), On(10, 9, 36)})}),
              Lines({"0/36 Bass Drum1 C3", "0/38 Acoustic Snare D3"}));
}

TEST(Drums, NoteOffsAndSilentNoteOnsStillNameTheirDrum) {
    EXPECT_EQ(DrumsOf({TrackData({Off(0, 9, 42), On(10, 9, 35, 0)})}),
              Lines({"0/42 Closed Hi-Hat F#3", "0/35 Acoustic Bass Drum B2"}));
}

TEST(Drums, BankSelectBetweenStrikesListsTheDrumPerBank) {
    EXPECT_EQ(DrumsOf({TrackData({On(0, 9, 42), Control(10, 9, 0, 5), Control(0, 9, 32, 1),
                                  On(0, 9, 42), Control(10, 9, 32, 0), On(0, 9, 42)})}),
              Lines({"0/42 Closed Hi-Hat F#3", "1/42 Closed Hi-Hat F#3"}));
}

TEST(Drums, NotesWithoutADrumNameKeepTheirPitchName) {
    EXPECT_EQ(DrumsOf({TrackData({On(0, 9, 20), On(0, 9, 88), On(0, 9, 127), On(0, 9, 0)})}),
              Lines({"0/20  G#1", "0/88  E7", "0/127  G10", "0/0  C0"}));
}

TEST(Drums, OnlyThePercussionChannelCountsAcrossAllTracksInTimeOrder) {
    EXPECT_EQ(DrumsOf({TrackData({On(0, 0, 40), On(20, 9, 49)}),
                       TrackData({On(10, 9, 51), On(0, 8, 52)})}),
              Lines({"0/51 Ride Cymbal 1 D#4", "0/49 Crash Cymbal 1 C#4"}));
}

TEST(Drums, TheClearFlagDecidesWhetherEarlierElementsStay) {
    Song s({TrackData({On(0, 9, 36), On(0, 9, 57)})});
    ASSERT_EQ(s.loaded, 1);
    _DRUM held;
    held.strName = "held";
    held.byNote = held.byNoteCopy = 36;
    DrumArray array{held};
    s->GetDrums(array, 0);  // the held (bank 0, note 36) suppresses the new one
    EXPECT_EQ(Describe(array), Lines({"0/36 held ", "0/57 Crashk Cymbal 2 A4"}));
    s->GetDrums(array, 0);
    EXPECT_EQ(array.size(), 2u);
    s->GetDrums(array, 1);
    EXPECT_EQ(Describe(array), Lines({"0/36 Bass Drum1 C3", "0/57 Crashk Cymbal 2 A4"}));

    Song quiet({TrackData({On(0, 3, 36)})});
    quiet->GetDrums(array, 0);
    EXPECT_EQ(array.size(), 2u);
    quiet->GetDrums(array, 1);
    EXPECT_TRUE(array.empty());
}

TEST(PercussionValidation, ReportsWhetherEveryTrackCarriesTheRequest) {
    CMidiFolio empty;
    EXPECT_EQ(empty.GetIsValidatePercussion(), 1);
    EXPECT_EQ(empty.GetDrumPitch(), 127);

    const std::vector<Bytes> tracks = {TrackData({On(0, 9, 36)}), TrackData({On(0, 0, 60)})};
    Song plain(tracks);
    ASSERT_EQ(plain.loaded, 1);
    EXPECT_EQ(plain->GetIsValidatePercussion(), 0);
    plain->SetIsValidatePercussion();  // affects only tracks loaded afterwards
    EXPECT_EQ(plain->GetIsValidatePercussion(), 0);

    Song validated(tracks, 500, true);
    ASSERT_EQ(validated.loaded, 1);
    EXPECT_EQ(validated->GetIsValidatePercussion(), 1);
    EXPECT_EQ(validated->GetDrumPitch(), 127);
}

TEST(PercussionRange, APercussionNoteOutside35To81ClearsTheSongAnswer) {
    CMidiFolio empty;
    EXPECT_EQ(empty.GetIsPercussionInRange(), 1);

    Song inside({TrackData({On(0, 9, 35, 1), On(0, 9, 81, 1), On(0, 0, 20), On(0, 3, 90)})});
    ASSERT_EQ(inside.loaded, 1);
    EXPECT_EQ(inside->GetIsPercussionInRange(), 1);

    for (int note : {34, 82}) {
        Song outside({TrackData({On(0, 9, 40)}), TrackData({On(0, 9, note, 0)})});
        ASSERT_EQ(outside.loaded, 1);
        EXPECT_EQ(outside->GetIsPercussionInRange(), 0) << note;
        EXPECT_EQ(outside->GetTrack(0)->GetPercussValid(), 1);
        EXPECT_EQ(outside->GetTrack(1)->GetPercussValid(), 0);
        // Only tracks within the header's count are asked.
        _MIDIHEAD head = outside->GetMidiHeaderInfo();
        head.nTracks = 1;
        outside->SetMidiHeaderinfo(&head);
        EXPECT_EQ(outside->GetIsPercussionInRange(), 1);
    }
}
