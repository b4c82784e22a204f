// The analyses on hand-made songs: channels in use and the bank/program words they select,
// instruments, drums, the percussion check and voice conflicts. The same analyses are
// compared on the real-world corpus against references computed from an independent dump
// (corpus_test.cpp); here are the rules those files do not exercise.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "midifolio/midifolio.h"
#include "test_support.h"

using namespace midifolio;
using namespace testsupport;

namespace {

// One event: its delta time in ticks, then its bytes.
Bytes Ev(uint32_t delta, std::initializer_list<int> bytes) {
    return Cat({Vlq(delta), B(bytes)});
}
Bytes On(uint32_t delta, int ch, int note, int velocity = 100) {
    return Ev(delta, {0x90 | ch, note, velocity});
}
Bytes Off(uint32_t delta, int ch, int note) {
    return Ev(delta, {0x80 | ch, note, 64});
}
Bytes Program(uint32_t delta, int ch, int program) {
    return Ev(delta, {0xC0 | ch, program});
}
Bytes Control(uint32_t delta, int ch, int controller, int value) {
    return Ev(delta, {0xB0 | ch, controller, value});
}
Bytes Bend(uint32_t delta, int ch, int value) {
    return Ev(delta, {0xE0 | ch, value & 0x7F, (value >> 7) & 0x7F});
}
Bytes Text(uint32_t delta, const std::string& text) {
    return Cat(
        {Ev(delta, {0xFF, 0x01, static_cast<int>(text.size())}), Bytes(text.begin(), text.end())});
}
// Track data of these events and an end-of-track event.
Bytes TrackData(std::initializer_list<Bytes> events) {
    return Cat({Cat(events), Ev(0, {0xFF, 0x2F, 0x00})});
}

// A format-1 song of these tracks, loaded from a file. With division 500 and the default tempo
// of 500000 us per quarter note, one tick is 1 ms.
struct Song {
    CMidiFolio song;
    int loaded = 0;
    explicit Song(const std::vector<Bytes>& tracks, int division = 500, bool validate = false) {
        song.SetMessageSink([](const std::string& text) { ADD_FAILURE() << text; });
        if (validate) song.SetIsValidatePercussion();
        loaded = song.LoadMidiFile(WriteFile("analysis.mid", Smf(1, division, tracks)));
    }
    CMidiFolio* operator->() { return &song; }
};

using Lines = std::vector<std::string>;

// The channels in use as "2 9 ", checking that nothing is written beyond their count.
std::string UsedChannels(CMidiFolio& song) {
    uint8_t buffer[17];
    std::memset(buffer, 0xEE, sizeof buffer);
    const int count = song.GetTotalChannels();
    song.GetChannels(buffer);
    std::string out;
    for (int i = 0; i < 17; ++i)
        out += i < count ? std::to_string(buffer[i]) + " " : buffer[i] == 0xEE ? "" : "beyond!";
    return out;
}

WordArray WordsOf(const std::vector<Bytes>& tracks, int channel, WordArray words = {}) {
    Song s(tracks);
    EXPECT_EQ(s.loaded, 1);
    s->GetInstIndexArrayByChannel(channel, words);
    return words;
}

// "bank/program name low-high" for compact comparisons.
Lines Describe(const InstrumentArray& array) {
    Lines out;
    for (const _INSTRUMENT& e : array)
        out.push_back(std::to_string(e.byBank) + "/" + std::to_string(e.byProgram) + " " +
                      e.strName + " " + std::to_string(e.byLowNote) + "-" +
                      std::to_string(e.byHighNote));
    return out;
}

// "bank/note name pitch" of the drums of a song, listed into an array (emptied unless held).
Lines DrumsOf(CMidiFolio& song, DrumArray array = {}, int clear = 1) {
    song.GetDrums(array, clear);
    Lines out;
    for (const _DRUM& d : array) {
        EXPECT_EQ(d.byBank, d.byBankCopy);
        EXPECT_EQ(d.byNote, d.byNoteCopy);
        out.push_back(std::to_string(d.byBank) + "/" + std::to_string(d.byNote) + " " + d.strName +
                      " " + d.strPitch);
    }
    return out;
}

using Records = std::vector<std::pair<int, int>>;
Records Conflicts(CMidiFolio& song, int voices, ConflictVoiceArray array = {}) {
    song.CheckMidiByVoice(voices, &array);
    Records out;
    for (const _CONFLICTVOICE& c : array) out.emplace_back(c.lMsecs, c.nVoices);
    return out;
}

}  // namespace

TEST(Channels, OnlyTracksWithinTheHeaderCountAreSurveyed) {
    Song s({TrackData({On(0, 2, 60), Off(10, 2, 60)}), TrackData({On(0, 9, 36), Off(10, 9, 36)})});
    ASSERT_EQ(s.loaded, 1);
    CMidiFolio empty;
    std::string used = UsedChannels(empty) + "|";
    empty.GetChannels(nullptr);  // refreshes the flags, writes nothing
    _MIDIHEAD head = s->GetMidiHeaderInfo();
    for (int count : {1, 5, 0, -3, INT32_MAX}) {
        head.nTracks = count;
        s->SetMidiHeaderinfo(&head);
        used += UsedChannels(s.song) + "|";
    }
    EXPECT_EQ(used, "|2 |2 9 |||2 9 |");
    // A huge count costs nothing beyond the list in the other analyses either.
    InstrumentArray instruments;
    s->GetInstruments(instruments, 1);
    EXPECT_EQ(instruments.size(), 1u);
    EXPECT_EQ(s->GetIsPercussionInRange(), 1);
    EXPECT_EQ(Conflicts(s.song, 1), Records({{0, 2}}));
}

TEST(InstrumentWords, BankSelectLsbFormsTheHighByteDrumsCountOnChannel10HeldWordsStay) {
    EXPECT_EQ(WordsOf({TrackData({Control(0, 0, 0, 9), Control(0, 0, 32, 1), Program(0, 0, 5),
                                  On(10, 0, 60), Control(10, 0, 32, 0), Program(0, 0, 5),
                                  Program(10, 0, 5), Control(0, 0, 32, 2), Program(0, 0, 7)})},
                      0),
              WordArray({0x0105, 0x0005, 0x0207}));
    EXPECT_EQ(WordsOf({TrackData({On(0, 9, 36), Off(10, 9, 36), On(10, 9, 38, 0)})}, 9),
              WordArray({0x0024}));
    EXPECT_TRUE(WordsOf({TrackData({On(0, 4, 40), Control(0, 4, 32, 3)})}, 4).empty());
    // Words the array held stay first and suppress equal ones; other channels add nothing.
    const std::vector<Bytes> song = {TrackData({Program(0, 1, 5), Program(10, 1, 6)})};
    EXPECT_EQ(WordsOf(song, 1, {6, 0x0400}), WordArray({6, 0x0400, 5}));
    EXPECT_EQ(WordsOf(song, 12, {7}), WordArray({7}));
    EXPECT_EQ(WordsOf(song, -1, {7}), WordArray({7}));
}

// One track each; the instruments of track 0 or of the channel named.
TEST(Instruments, ListsByTrackAndByChannelFollowProgramsBanksAndNotes) {
    const struct {
        int channel;  // -1: by track 0
        std::vector<Bytes> tracks;
        Lines expected;
    } cases[] = {
        // notes without a program change give the default instrument, in the bank in force
        {-1,
         {TrackData({Control(0, 0, 32, 4), On(0, 0, 50), On(10, 0, 70), Off(10, 0, 50)})},
         {"4/0 Acoustic Grand 50-70"}},
        // one bend serves the whole track, up to two semitones: 60 at bend 0 counts as 58, 64 at
        // 16383 as 65, note 0 at 4096 as -1, kept as 255
        {-1,
         {TrackData({Program(0, 0, 0), Bend(0, 1, 0), On(0, 0, 60), Bend(10, 1, 16383),
                     On(0, 0, 64), Bend(10, 1, 4096), On(0, 0, 0), Bend(10, 1, 8192)})},
         {"0/0 Acoustic Grand 58-255"}},
        // note-offs and silent note-ons count
        {-1,
         {TrackData({Program(0, 2, 10), Off(0, 2, 40), On(0, 2, 90, 0)})},
         {"0/10 Music Box 40-90"}},
        // bank and program pairs are listed once in order of first selection; a note updates
        // every element of its channel's program, whatever the bank
        {-1,
         {TrackData({Control(0, 0, 32, 1), Program(0, 0, 5), On(0, 0, 60), Control(10, 0, 32, 0),
                     Program(0, 0, 5), On(0, 0, 62), Program(10, 0, 5), Program(10, 0, 7),
                     On(0, 0, 30)})},
         {"1/5 Chorused Piano 60-62", "0/5 Chorused Piano 62-62", "0/7 Clavinet 30-30"}},
        // notes on a channel without program touch no element
        {-1,
         {TrackData({Program(0, 0, 19), On(0, 1, 60), Off(10, 1, 60)})},
         {"0/19 Church Organ 127-0"}},
        // percussion only: nothing
        {-1, {TrackData({Program(0, 9, 3), On(0, 9, 36)})}, {}},
        // by channel, only sounded instruments are listed
        {3, {TrackData({Program(0, 3, 5), Control(0, 3, 32, 2)})}, {}},
        // by channel, notes before the first program belong to program 0; note-offs and silent
        // note-ons do not count
        {4,
         {TrackData({On(0, 4, 55), Off(0, 4, 55), Program(10, 4, 40), On(0, 4, 60), On(10, 4, 72),
                     Off(0, 4, 80), On(0, 4, 90, 0)})},
         {"0/0 Acoustic Grand 55-55", "0/40 Violin 60-72"}},
        // by channel, only a bend above the centre moves the note
        {0,
         {TrackData(
             {Program(0, 0, 1), Bend(0, 0, 0), On(0, 0, 60), Bend(10, 0, 16383), On(0, 0, 70)})},
         {"0/1 Bright Acoustic Paino 60-71"}},
        // by channel, notes go to the current bank and program only: 61 falls between the bank
        // change and the next program change; another track adds a later note
        {5,
         {TrackData({Control(0, 5, 32, 1), Program(0, 5, 5), On(0, 5, 60), Control(10, 5, 32, 0),
                     On(0, 5, 61), Program(0, 5, 5), On(0, 5, 62)}),
          TrackData({On(35, 5, 20)})},
         {"1/5 Chorused Piano 60-60", "0/5 Chorused Piano 20-62"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("case " + std::to_string(&c - cases));
        Song s(c.tracks);
        ASSERT_EQ(s.loaded, 1);
        InstrumentArray array{_INSTRUMENT(1, 1, "x")};  // emptied first
        if (c.channel < 0) {
            const _INSTRUMENT r = s->GetInstrumentByTrack(0, array);
            // The working record: the last element, or program 255 when nothing was found.
            EXPECT_EQ(r.byProgram, array.empty() ? 255 : array.back().byProgram);
        } else {
            s->GetInstrumentByChannel(c.channel, array);
        }
        EXPECT_EQ(Describe(array), c.expected);
    }
}

TEST(Instruments, TheSongsListMergesTracksWithRangesFromTheNoteUsageTable) {
    Song s({TrackData({Program(0, 0, 40), Bend(0, 0, 0), On(0, 0, 60), On(10, 0, 67),
                       Program(10, 1, 73), On(0, 1, 80)}),
            TrackData({Program(0, 2, 40), On(0, 2, 50), On(0, 9, 36), Program(0, 3, 11)}),
            TrackData({On(0, 5, 45)})});
    ASSERT_EQ(s.loaded, 1);
    // Program 40's range comes from the note-usage table (no bend: 50..67); program 11 never
    // sounded and keeps its collapsed range 0-0; track 2 adds the default instrument.
    InstrumentArray array{_INSTRUMENT(2, 7, "kept"), _INSTRUMENT(100, 0, "unused")};
    s->GetInstruments(array, 0);
    EXPECT_EQ(Describe(array),
              Lines({"7/2 kept 127-0", "0/100 unused 127-0", "0/40 Violin 50-67",
                     "0/73 Flute 80-80", "0/11 Vibraphone 0-0", "0/0 Acoustic Grand 45-45"}));
    s->GetInstruments(array, 1);
    EXPECT_EQ(array.size(), 4u);
    // By channel for the whole song, without the percussion channel, extending the array.
    Song g({TrackData({Program(0, 0, 24), On(0, 0, 40), Program(0, 9, 24), On(0, 9, 90)}),
            TrackData({Program(0, 3, 24), On(0, 3, 70), Program(0, 2, 33), On(0, 2, 30)})});
    InstrumentArray held{_INSTRUMENT(33, 0, "held")};
    g->GetInstrument(held);
    EXPECT_EQ(Describe(held), Lines({"0/33 held 30-30", "0/24 Acoustic Guitar(nylon) 40-70"}));
}

TEST(Drums, TheClearFlagDecidesWhetherHeldElementsStay) {
    Song s({TrackData({On(0, 9, 36), On(0, 9, 57)})});
    ASSERT_EQ(s.loaded, 1);
    _DRUM held;
    held.strName = "held";
    held.byNote = held.byNoteCopy = 36;
    EXPECT_EQ(DrumsOf(s.song, {held}, 0), Lines({"0/36 held ", "0/57 Crashk Cymbal 2 A4"}));
    EXPECT_EQ(DrumsOf(s.song, {held}, 1), Lines({"0/36 Bass Drum1 C3", "0/57 Crashk Cymbal 2 A4"}));
    Song quiet({TrackData({On(0, 3, 36)})});
    EXPECT_EQ(DrumsOf(quiet.song, {held}, 0).size() * 10 + DrumsOf(quiet.song, {held}, 1).size(),
              10u);  // without drums: the held one stays, or the array is emptied
}

TEST(Percussion, ANoteOutside35To81OnChannel10ClearsTheAnswerOfTheTracksCounted) {
    CMidiFolio empty;
    EXPECT_TRUE(empty.GetIsPercussionInRange() == 1 && empty.GetIsValidatePercussion() == 1);
    EXPECT_EQ(empty.GetDrumPitch(), 127);
    Song inside({TrackData({On(0, 9, 35, 1), On(0, 9, 81, 1), On(0, 0, 20), On(0, 3, 90)})});
    EXPECT_EQ(inside->GetIsPercussionInRange(), 1);
    EXPECT_EQ(inside->GetIsValidatePercussion(), 0);
    inside->SetIsValidatePercussion();  // affects only tracks loaded afterwards
    EXPECT_EQ(inside->GetIsValidatePercussion(), 0);
    for (int note : {34, 82}) {
        // The answer does not depend on the validation request.
        const bool validate = note == 82;
        Song outside({TrackData({On(0, 9, 40)}), TrackData({On(0, 9, note, 0)})}, 500, validate);
        ASSERT_EQ(outside.loaded, 1);
        EXPECT_EQ(outside->GetIsValidatePercussion(), validate ? 1 : 0);
        EXPECT_EQ(outside->GetIsPercussionInRange(), 0) << note;
        EXPECT_EQ(
            outside->GetTrack(0)->GetPercussValid() * 10 + outside->GetTrack(1)->GetPercussValid(),
            10);  // the first track's notes are in range
        _MIDIHEAD head = outside->GetMidiHeaderInfo();
        head.nTracks = 1;
        outside->SetMidiHeaderinfo(&head);
        EXPECT_EQ(outside->GetIsPercussionInRange(), 1);
    }
}

TEST(Voices, SilentOrUnpairedNotesNeverSoundEachNoteEndsInItsOwnTrackHeldRecordsStay) {
    // The unpaired note-on follows a text event, so its record may hold a length left over;
    // a stray note-off comes before the notes, and another track's note-off ends nothing here.
    Song s({TrackData({Off(0, 0, 60), On(0, 0, 60), On(0, 0, 61, 0), Text(0, "hello"), On(0, 0, 70),
                       On(10, 0, 62), On(90, 0, 60), On(100, 0, 60, 0), Off(0, 0, 62),
                       Off(100, 0, 60)}),
            TrackData({Off(50, 0, 60)})});
    ASSERT_EQ(s.loaded, 1);
    // At 10: 60 and 62 sound. At 100: the second 60 joins; the first 60 and 62 end at 200.
    EXPECT_EQ(Conflicts(s.song, 1), Records({{10, 2}, {100, 3}}));
    // A negative limit reports every counted note-on.
    EXPECT_EQ(Conflicts(s.song, -1), Records({{0, 1}, {10, 2}, {100, 3}}));
    // Records the array held stay; the last is replaced by a record of the same millisecond.
    EXPECT_EQ(Conflicts(s.song, 1, {{-5, 9}, {10, 9}}), Records({{-5, 9}, {10, 2}, {100, 3}}));
    EXPECT_EQ(Conflicts(s.song, 1, {{3, 9}}), Records({{3, 9}, {10, 2}, {100, 3}}));
    s->CheckMidiByVoice(0, nullptr);
    CMidiFolio empty;
    EXPECT_EQ(Conflicts(empty, -1, {{1, 1}}), Records({{1, 1}}));
}

namespace {

// The survey against the four calls it stands for, on the song as it is.
void ExpectSurveyAsTheCalls(CMidiFolio& song, const std::string& what) {
    const ChannelSurvey survey = song.GetChannelSurvey();
    EXPECT_EQ(survey.nChannels, song.GetTotalChannels()) << what;
    InstrumentArray instruments;
    song.GetInstrument(instruments);
    EXPECT_EQ(Describe(survey.instruments), Describe(instruments)) << what;
    DrumArray drums;
    Lines surveyed;
    for (const _DRUM& d : survey.drums)
        surveyed.push_back(std::to_string(d.byBank) + "/" + std::to_string(d.byNote) + " " +
                           d.strName + " " + d.strPitch);
    EXPECT_EQ(surveyed, DrumsOf(song)) << what;
    EXPECT_EQ(survey.bPercussionInRange, song.GetIsPercussionInRange()) << what;
}

}  // namespace

TEST(ChannelSurvey, AnswersAsTheFourCallsOnEveryCorpusFileAndOnSharedOrUnorderedChannels) {
    for (const std::string& name : CorpusFiles()) {
        CMidiFolio song;
        song.SetMessageSink([](const std::string&) {});
        if (song.LoadMidiFile(DataPath("corpus/" + name)) == 1) ExpectSurveyAsTheCalls(song, name);
    }
    // Channel 0 in two tracks, its programs and notes interleaved in time (the calls take
    // them in time order, not track after track), and drums on two tracks under two banks.
    Song shared({TrackData({Program(0, 0, 1), On(10, 0, 60), Off(10, 0, 60), Program(10, 0, 3),
                            On(10, 0, 72), Off(10, 0, 72), Control(0, 9, 32, 1), On(0, 9, 36),
                            Off(5, 9, 36)}),
                 TrackData({Program(15, 0, 2), On(10, 0, 48), Off(2, 0, 48), On(40, 9, 36),
                            On(0, 9, 38), Off(5, 9, 38), On(0, 1, 20)})});
    ASSERT_EQ(shared.loaded, 1);
    ExpectSurveyAsTheCalls(shared.song, "shared channels");
    EXPECT_EQ(Describe(shared.song.GetChannelSurvey().instruments),
              (Lines{"0/1 Bright Acoustic Paino 60-60", "0/2 Electric Grand Piano 48-48",
                     "0/3 Honky-tonk Piano 72-72", "0/0 Acoustic Grand 20-20"}));

    // A track out of time order: a program change put at its end with an earlier time
    // than its note, which the calls take in time order.
    Song unordered({TrackData({Program(0, 2, 5), On(10, 2, 60), Off(10, 2, 60)}),
                    TrackData({On(0, 3, 50), Off(10, 3, 50)})});
    ASSERT_EQ(unordered.loaded, 1);
    CMidiTrack* track = unordered.song.GetTrack(0);
    MIDIEvent program{};
    program.dwType = EVT_PROGRAM;
    program.byChannel = 2;
    program.byData1 = 7;
    program.lTime = 5;
    ASSERT_NE(track->InsertEventAfter(track->GetTailPosition(), program), nullptr);
    ExpectSurveyAsTheCalls(unordered.song, "unordered track");
    EXPECT_EQ(Describe(unordered.song.GetChannelSurvey().instruments),
              (Lines{"0/7 Clavinet 60-60", "0/0 Acoustic Grand 50-50"}));
}
