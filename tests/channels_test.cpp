// Channels in use and the bank/program words each channel selects.
#include <gtest/gtest.h>

#include <cstring>

#include "analysis_support.h"

using namespace midifolio;
using namespace analysis_support;

namespace {

std::vector<int> UsedChannels(CMidiFolio& song) {
    uint8_t buffer[17];
    std::memset(buffer, 0xEE, sizeof buffer);
    const int count = song.GetTotalChannels();
    song.GetChannels(buffer);
    std::vector<int> out(buffer, buffer + count);
    for (size_t i = static_cast<size_t>(count); i < sizeof buffer; ++i) {
        EXPECT_EQ(buffer[i], 0xEE) << "byte " << i << " written beyond the count";
    }
    return out;
}

// The words GetInstIndexArrayByChannel gives for a channel of a song of these tracks.
WordArray WordsOf(const std::vector<Bytes>& tracks, int channel) {
    Song s(tracks);
    EXPECT_EQ(s.loaded, 1);
    WordArray words;
    s->GetInstIndexArrayByChannel(channel, words);
    return words;
}

}  // namespace

TEST(Channels, AProgramChangeAloneMarksItsChannel) {
    Song s({TrackData({Program(0, 3, 10)})});
    ASSERT_EQ(s.loaded, 1);
    EXPECT_EQ(s->GetTotalChannels(), 1);
    EXPECT_EQ(UsedChannels(s.song), std::vector<int>({3}));
}

TEST(Channels, MetaEventsUseNoChannel) {
    Song s({TrackData({Text(0, "title")}), TrackData({Text(10, "words")})});
    ASSERT_EQ(s.loaded, 1);
    EXPECT_EQ(s->GetTotalChannels(), 0);
    EXPECT_TRUE(UsedChannels(s.song).empty());
}

TEST(Channels, EveryKindOfChannelMessageCountsAcrossTracksInAscendingOrder) {
    Song s({TrackData({On(0, 15, 60), Off(10, 1, 60), Ev(0, {0xA2, 60, 5})}),
            TrackData({Control(0, 4, 7, 100), Bend(5, 11, 0), Ev(0, {0xD7, 3}), On(0, 0, 1, 0)})});
    ASSERT_EQ(s.loaded, 1);
    EXPECT_EQ(UsedChannels(s.song), std::vector<int>({0, 1, 2, 4, 7, 11, 15}));
}

TEST(Channels, OnlyTracksWithinTheHeaderCountAreSurveyed) {
    Song s({TrackData({On(0, 2, 60)}), TrackData({On(0, 5, 60)})});
    ASSERT_EQ(s.loaded, 1);
    _MIDIHEAD head = s->GetMidiHeaderInfo();
    head.nTracks = 1;
    s->SetMidiHeaderinfo(&head);
    EXPECT_EQ(UsedChannels(s.song), std::vector<int>({2}));
    head.nTracks = 5;  // more than the list holds: missing positions are skipped
    s->SetMidiHeaderinfo(&head);
    EXPECT_EQ(UsedChannels(s.song), std::vector<int>({2, 5}));
    head.nTracks = 0;
    s->SetMidiHeaderinfo(&head);
    EXPECT_EQ(s->GetTotalChannels(), 0);
    head.nTracks = -3;
    s->SetMidiHeaderinfo(&head);
    EXPECT_EQ(s->GetTotalChannels(), 0);
}

TEST(Channels, AHugeHeaderTrackCountCostsNothingBeyondTheList) {
    Song s({TrackData({On(0, 2, 60), Off(10, 2, 60)}), TrackData({On(0, 9, 36), Off(10, 9, 36)})});
    ASSERT_EQ(s.loaded, 1);
    _MIDIHEAD head = s->GetMidiHeaderInfo();
    head.nTracks = INT32_MAX;
    s->SetMidiHeaderinfo(&head);
    EXPECT_EQ(UsedChannels(s.song), std::vector<int>({2, 9}));
    InstrumentArray instruments;
    s->GetInstruments(instruments, 1);
    EXPECT_EQ(instruments.size(), 1u);
    EXPECT_EQ(s->GetIsValidatePercussion(), 0);
    EXPECT_EQ(s->GetIsPercussionInRange(), 1);
    ConflictVoiceArray conflicts;
    s->CheckMidiByVoice(1, &conflicts);
    EXPECT_EQ(conflicts.size(), 1u);
}

TEST(Channels, AnEmptySongUsesNoChannelAndWritesNothing) {
    CMidiFolio song;
    EXPECT_EQ(song.GetTotalChannels(), 0);
    EXPECT_TRUE(UsedChannels(song).empty());
    song.GetChannels(nullptr);  // refreshes the flags, writes nothing
    WordArray words{7};
    song.GetInstIndexArrayByChannel(0, words);
    EXPECT_EQ(words, WordArray({7}));
}

TEST(Channels, ChannelAndInstrumentRecordIsLeftAlone) {
    Song s({TrackData({Program(0, 3, 10)})});
    _CH_INSTR record{4, 5, 6};
    s->GetChAndInstrument(&record);
    s->GetChAndInstrument(nullptr);
    EXPECT_EQ(record.byChannel, 4);
    EXPECT_EQ(record.byBank, 5);
    EXPECT_EQ(record.byProgram, 6);
}

TEST(InstrumentWords, StruckDrumsBecomeWordsOnChannel10) {
    EXPECT_EQ(WordsOf({TrackData({On(0, 9, 36), Off(10, 9, 36), On(0, 9, 36), On(10, 9, 38, 0),
                                  On(10, 9, 36)})},
                      9),
              WordArray({0x0024}));
}

TEST(InstrumentWords, BankSelectLsbFormsTheHighByteAndMsbIsIgnored) {
    EXPECT_EQ(WordsOf({TrackData({Control(0, 0, 0, 9), Control(0, 0, 32, 1), Program(0, 0, 5),
                                  On(10, 0, 60), Control(10, 0, 32, 0), Program(0, 0, 5),
                                  Program(10, 0, 5), Control(0, 0, 32, 2), Program(0, 0, 7)})},
                      0),
              WordArray({0x0105, 0x0005, 0x0207}));
}

TEST(InstrumentWords, NotesCreateWordsOnlyOnThePercussionChannel) {
    Song s({TrackData({On(0, 0, 60), Off(10, 0, 60), On(0, 4, 40), Control(0, 4, 32, 3)})});
    ASSERT_EQ(s.loaded, 1);
    WordArray words;
    s->GetInstIndexArrayByChannel(0, words);
    s->GetInstIndexArrayByChannel(4, words);
    EXPECT_TRUE(words.empty());
}

TEST(InstrumentWords, WordsFollowSongTimeAcrossTracks) {
    // Track 1's program change comes first in time, so its word comes first.
    EXPECT_EQ(WordsOf({TrackData({Program(100, 2, 20)}), TrackData({Program(50, 2, 30)})}, 2),
              WordArray({30, 20}));
}

TEST(InstrumentWords, WordsAlreadyInTheArrayStayFirstAndSuppressEqualOnes) {
    Song s({TrackData({Program(0, 1, 5), Program(10, 1, 6), Program(10, 3, 8)})});
    ASSERT_EQ(s.loaded, 1);
    WordArray words{6, 0x0400};
    s->GetInstIndexArrayByChannel(1, words);
    EXPECT_EQ(words, WordArray({6, 0x0400, 5}));
    s->GetInstIndexArrayByChannel(1, words);  // a second call adds nothing
    EXPECT_EQ(words, WordArray({6, 0x0400, 5}));
    s->GetInstIndexArrayByChannel(3, words);  // another channel's words follow
    EXPECT_EQ(words, WordArray({6, 0x0400, 5, 8}));
    s->GetInstIndexArrayByChannel(12, words);  // a channel without events changes nothing
    s->GetInstIndexArrayByChannel(-1, words);
    EXPECT_EQ(words, WordArray({6, 0x0400, 5, 8}));
}
