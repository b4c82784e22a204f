// The exact view: notes and seconds against an independent reading by python3-mido, bars of
// real meters, the file's own events without the loader's tempo event, summary and roll.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "midifolio/midifolio.h"
#include "test_support.h"

using namespace midifolio;
using namespace testsupport;

namespace {

// Every .mid file below a folder of tests/data.
void MidiFiles(const std::string& dir, std::vector<std::string>& out) {
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        const std::string path = dir + "/" + name;
        if (e->d_type == DT_DIR)
            MidiFiles(path, out);
        else if (name.size() > 4 && name.compare(name.size() - 4, 4, ".mid") == 0)
            out.push_back(path);
    }
    closedir(d);
}

bool Load(CMidiFolio& song, const std::string& path) {
    song.SetMessageSink([](const std::string&) {});
    return song.LoadMidiFile(path) == 1;
}

Bytes Meta(int type, const Bytes& payload) {
    return Cat({B({0xFF, type}), Vlq(static_cast<uint32_t>(payload.size())), payload});
}
Bytes TimeSig(int num, int power) {
    return Meta(0x58, B({num, power, 24, 8}));
}
Bytes Tempo(uint32_t us) {
    return Meta(0x51, B({int(us >> 16), int(us >> 8 & 0xFF), int(us & 0xFF)}));
}
const Bytes kEnd = B({0xFF, 0x2F, 0x00});

}  // namespace

TEST(Score, NotesAndSecondsAgreeWithAnIndependentReadingOfEveryTestFile) {
    std::vector<std::string> files;
    MidiFiles(DataPath(""), files);
    ASSERT_GE(files.size(), 100u);
    std::string command = "/usr/bin/python3 '" + DataPath("../tools/mido_notes.py") + "'";
    for (const std::string& f : files) command += " '" + f + "'";
    int status = -1;
    std::istringstream reference(testsupport::Run(command, &status));
    if (status != 0) GTEST_SKIP() << "python3-mido is not available";

    std::map<std::string, std::vector<std::string>> theirs;
    std::string current, line;
    while (std::getline(reference, line)) {
        if (line.rfind("# ", 0) == 0) {
            current = line.find(" ERROR ") == std::string::npos ? line.substr(2) : "";
            if (!current.empty()) theirs[current];
        } else if (!current.empty()) {
            theirs[current].push_back(line);
        }
    }
    int compared = 0;
    for (const std::string& f : files) {
        score::ReadReport report;
        const score::Song song = score::Song::Load(f, score::ReadOptions{}, report);
        if (!report.ok() || theirs.count(f) == 0) continue;  // refused by one of the two
        const score::Score s(song);
        const std::vector<std::string>& want = theirs[f];
        ASSERT_EQ(s.notes().size(), want.size()) << f;
        for (size_t k = 0; k < want.size(); ++k) {
            const score::Note& n = s.notes()[k];
            std::istringstream in(want[k]);
            long v[7];
            double start, end;
            for (long& x : v) in >> x;
            in >> start >> end;
            const long got[7] = {n.track,    n.channel,    n.program, n.pitch,
                                 n.velocity, n.start_tick, n.end_tick};
            for (int i = 0; i < 7; ++i) ASSERT_EQ(got[i], v[i]) << f << " note " << k;
            ASSERT_NEAR(n.start, start, 1e-6) << f << " note " << k;
            ASSERT_NEAR(n.end, end, 1e-6) << f << " note " << k;
        }
        ++compared;
    }
    EXPECT_GE(compared, 90);
}

TEST(Score, BarsFollowEveryMeterAndItsChanges) {
    // 64 bars of 3/8, 12 of 7/8, and 2 of 4/4 then 4 of 3/4 with a change cut into a bar,
    // at 96 ticks per quarter note; each song ends on its last bar line.
    struct Case {
        Bytes track;
        int bars;
    };
    const std::vector<Case> cases = {
        {Cat({B({0}), TimeSig(3, 3), Vlq(64 * 144), kEnd}), 64},
        {Cat({B({0}), TimeSig(7, 3), Vlq(12 * 336), kEnd}), 12},
        {Cat({B({0}), TimeSig(4, 2), Vlq(2 * 384), TimeSig(3, 2), Vlq(4 * 288), kEnd}), 6},
    };
    for (const Case& c : cases) {
        CMidiFolio song;
        ASSERT_TRUE(Load(song, WriteFile("meter.mid", Smf(0, 96, {c.track}))));
        EXPECT_EQ(score::Score(song).bars(), c.bars);
    }
    // 4/4 from 0, 3/4 from tick 500 (inside bar 2), 6/8 from 788.
    CMidiFolio song;
    ASSERT_TRUE(
        Load(song, WriteFile("meters.mid", Smf(0, 96,
                                               {Cat({B({0}), TimeSig(4, 2), Vlq(500), TimeSig(3, 2),
                                                     Vlq(288), TimeSig(6, 3), Vlq(10), kEnd})}))));
    const score::MeterMap meter(song);
    const auto at = [&](double tick) {
        const score::BarBeat b = meter.at(tick);
        return std::to_string(b.bar) + ":" + std::to_string(b.beat) + "+" +
               std::to_string(static_cast<int>(b.tick));
    };
    EXPECT_EQ(at(0), "1:1+0");
    EXPECT_EQ(at(400), "2:1+16");
    EXPECT_EQ(at(499), "2:2+19");  // the bar cut short by the change
    EXPECT_EQ(at(500), "3:1+0");
    EXPECT_EQ(at(787), "3:3+95");
    EXPECT_EQ(at(788), "4:1+0");
    EXPECT_EQ(at(788 + 288 + 50), "5:2+2");  // eighths of 48 ticks
    for (int bar = 1; bar <= 6; ++bar) EXPECT_EQ(meter.at(meter.bar_start(bar)).bar, bar);
    EXPECT_EQ(meter.bar_start(3), 500);
    EXPECT_EQ(meter.bars_before(788), 3);
    EXPECT_EQ(meter.bars_before(789), 4);
    // The library's own measures stay quarter notes of the last signature read.
    _MIDI_TIME t = MakeTicks(788);
    song.ConvertMIDITime(&t, TF_MEASURE);
    EXPECT_EQ(t.lMeasure, 2);
}

TEST(Score, SecondsFollowTheLatestTempoAtATickInEveryTrack) {
    // Track 0 sets 60 bpm at 0 and 240 bpm at 960; track 1 sets 120 bpm at 960 too, which
    // holds (later track). 480 ticks per quarter note.
    const Bytes conductor = Cat({B({0}), Tempo(1000000), Vlq(960), Tempo(250000), B({0}), kEnd});
    const Bytes other = Cat({Vlq(960), Tempo(500000), Vlq(480), B({0x90, 60, 100}), Vlq(480),
                             B({0x80, 60, 0}), B({0}), kEnd});
    CMidiFolio song;
    ASSERT_TRUE(Load(song, WriteFile("tempo.mid", Smf(1, 480, {conductor, other}))));
    const score::Score s(song);
    const score::TimeMap& time = s.time_map();
    EXPECT_DOUBLE_EQ(time.seconds(480), 1.0);
    EXPECT_DOUBLE_EQ(time.seconds(960), 2.0);
    EXPECT_DOUBLE_EQ(time.seconds(1440), 2.5);
    EXPECT_DOUBLE_EQ(time.ticks(2.25), 1200);
    ASSERT_EQ(s.notes().size(), 1u);
    EXPECT_DOUBLE_EQ(s.notes()[0].start, 2.5);
    EXPECT_DOUBLE_EQ(s.notes()[0].end, 3.0);
    EXPECT_DOUBLE_EQ(s.duration(), 3.0);
    // The bulk conversions give what one conversion at a time gives, in any order.
    const std::vector<int64_t> ticks = {0, 100, 960, 961, 5000, 3, 960, 2000};
    std::vector<double> seconds(ticks.size()), back(ticks.size());
    time.seconds(ticks.data(), seconds.data(), ticks.size());
    time.ticks(seconds.data(), back.data(), ticks.size());
    for (size_t k = 0; k < ticks.size(); ++k) {
        EXPECT_DOUBLE_EQ(seconds[k], time.seconds(static_cast<double>(ticks[k])));
        EXPECT_NEAR(back[k], ticks[k], 1e-9);
    }
    // The file's own tempo events: the loader's is not among them.
    ASSERT_EQ(s.tempos().size(), 3u);
    EXPECT_EQ(s.tempos()[2].track, 1);
    EXPECT_EQ(s.event_count(), 7u);
}

TEST(Score, TheLoadersTempoEventCanBeRemovedSoTheFileStoresAsItWas) {
    const Bytes file = Smf(1, 96,
                           {Cat({B({0}), Tempo(600000), B({0}), kEnd}),
                            Cat({B({0, 0x90, 60, 100, 0x60, 0x80, 60, 0, 0}), kEnd})});
    CMidiFolio song;
    ASSERT_TRUE(Load(song, WriteFile("prefixed.mid", file)));
    CMidiTrack* first = song.GetTrack(0);
    EXPECT_EQ(song.IsLoaderTempo(first, first->GetEventHeadPosition()), 1);
    EXPECT_EQ(song.IsLoaderTempo(first, first->FindIndex(1)), 0);  // the file's own
    EXPECT_EQ(song.RemoveLoaderTempo(), 1);
    EXPECT_EQ(song.RemoveLoaderTempo(), 0);
    const std::string out = TmpPath("unprefixed.mid");
    ASSERT_EQ(song.StoreMidiFile(out), 1);
    EXPECT_EQ(ReadFile(out), file);
}

TEST(Score, PeakPolyphonyEndsANoteBeforeOneStartsAtItsTickAndNeverCountsANoteOfNoLength) {
    // Track 1: 60 over ticks [0, 480), 62 over [480, 960) and a note of no length at 100.
    // Track 2: 50 over [240, 720), 55 over [400, 1000) and a note of no length at 450. At most
    // three sound at once (60, 50, 55, then 62, 50, 55): an end counted after a start at one
    // tick would give four at 480, a note of no length counted would give four at 450.
    const Bytes one =
        Cat({B({0, 0x90, 60, 90}), Vlq(100), B({0x90, 70, 90, 0, 0x80, 70, 0}), Vlq(380),
             B({0x80, 60, 0, 0, 0x90, 62, 90}), Vlq(480), B({0x80, 62, 0, 0}), kEnd});
    const Bytes two = Cat({Vlq(240), B({0x90, 50, 90}), Vlq(160),
                           B({0x90, 55, 90, 50, 0x90, 52, 90, 0, 0x80, 52, 0}), Vlq(270),
                           B({0x80, 50, 0}), Vlq(280), B({0x80, 55, 0, 0}), kEnd});
    score::ReadReport report;
    const score::Song song = score::Song::FromBytes(Smf(1, 480, {one, two}), {}, report);
    ASSERT_TRUE(report.ok()) << report.message;
    const score::Score s(song);
    EXPECT_EQ(s.notes().size(), 6u);
    EXPECT_EQ(s.summary().peak_polyphony, 3u);

    // The same notes in one track of format 0 give the same answer.
    const Bytes merged =
        Cat({B({0, 0x90, 60, 90}), Vlq(100), B({0x90, 70, 90, 0, 0x80, 70, 0}), Vlq(140),
             B({0x90, 50, 90}), Vlq(160), B({0x90, 55, 90, 50, 0x90, 52, 90, 0, 0x80, 52, 0}),
             Vlq(30), B({0x80, 60, 0, 0, 0x90, 62, 90}), Vlq(240), B({0x80, 50, 0}), Vlq(240),
             B({0x80, 62, 0}), Vlq(40), B({0x80, 55, 0, 0}), kEnd});
    const score::Song single = score::Song::FromBytes(Smf(0, 480, {merged}), {}, report);
    ASSERT_TRUE(report.ok()) << report.message;
    EXPECT_EQ(score::Score(single).summary().peak_polyphony, 3u);
}

// The most notes sounding at once, counted the slow way: every start and end by tick, the
// ends of a tick first; notes of no length left out.
uint32_t PeakBySorting(const std::vector<score::Note>& notes) {
    std::vector<std::pair<int64_t, int>> marks;
    for (const score::Note& n : notes) {
        if (n.end_tick <= n.start_tick) continue;
        marks.push_back({n.start_tick, 1});
        marks.push_back({n.end_tick, -1});
    }
    std::sort(marks.begin(), marks.end());
    int sounding = 0, peak = 0;
    for (const auto& m : marks) peak = std::max(peak, sounding += m.second);
    return static_cast<uint32_t>(peak);
}

TEST(Score, SurveyAnswersAsSummaryAndInstrumentsDoWhateverTheNumberOfNotesSounding) {
    // Songs of random notes on three tracks: about 10, 150 and 2,000 sounding at once at most
    // (the last two past the count a short list holds); some of no length, some drums.
    std::mt19937 random(11);
    for (int round = 0; round < 12; ++round) {
        std::vector<score::NoteInput> input;
        const int longest = round < 4 ? 40 : round < 8 ? 2000 : 40000;
        for (int i = 0; i < 3000; ++i) {
            const int64_t start = random() % 20000;
            const int64_t length = random() % 7 == 0 ? 0 : 1 + random() % longest;
            input.push_back({start, start + length, static_cast<uint16_t>(random() % 3),
                             static_cast<uint8_t>(random() % 4 == 0 ? 9 : random() % 3),
                             static_cast<uint8_t>(random() % 5),
                             static_cast<uint8_t>(random() % 128), 90});
        }
        std::string error;
        const score::Song song = score::FromNotes(input, {}, &error);
        ASSERT_TRUE(error.empty()) << error;
        const score::Score s(song);
        const score::Survey survey = s.survey();
        const score::Summary sum = s.summary();
        EXPECT_EQ(sum.peak_polyphony, PeakBySorting(s.notes())) << "round " << round;
        EXPECT_EQ(survey.summary.peak_polyphony, sum.peak_polyphony);
        EXPECT_EQ(survey.summary.notes, sum.notes);
        EXPECT_EQ(survey.summary.programs, sum.programs);
        EXPECT_EQ(survey.summary.lowest_pitch, sum.lowest_pitch);
        EXPECT_EQ(survey.summary.highest_pitch, sum.highest_pitch);
        EXPECT_EQ(survey.summary.drums, sum.drums);
        EXPECT_EQ(survey.summary.bars, sum.bars);
        const std::vector<score::Instrument> instruments = s.instruments();
        ASSERT_EQ(survey.instruments.size(), instruments.size());
        for (size_t i = 0; i < instruments.size(); ++i) {
            EXPECT_EQ(survey.instruments[i].channel, instruments[i].channel);
            EXPECT_EQ(survey.instruments[i].program, instruments[i].program);
            EXPECT_EQ(survey.instruments[i].notes, instruments[i].notes);
            EXPECT_EQ(survey.instruments[i].tracks, instruments[i].tracks);
        }
        std::vector<uint8_t> drums;
        for (const score::Note& n : s.notes())
            if (n.channel == PERCUSSION_CHANNEL) drums.push_back(n.pitch);
        std::sort(drums.begin(), drums.end());
        drums.erase(std::unique(drums.begin(), drums.end()), drums.end());
        EXPECT_EQ(survey.drum_notes, drums);
        EXPECT_EQ(sum.drums, !drums.empty());
    }
    // A song without notes: nothing sounds, no drum is struck.
    const score::Score none(score::FromNotes(std::vector<score::NoteInput>{}, {}, nullptr));
    EXPECT_EQ(none.survey().summary.peak_polyphony, 0u);
    EXPECT_TRUE(none.survey().drum_notes.empty());
}

TEST(Score, SummaryAndPianoRollOfAChordAMelodyAndDrums) {
    // 480 ticks per quarter note, 120 bpm: a C major chord (program 5) for a second, then a
    // single E for half a second, and a drum note on channel 10.
    const Bytes track = Cat({B({0, 0xC0, 5, 0, 0x90, 60, 90, 0, 64, 80, 0, 67, 70}), Vlq(960),
                             B({0x80, 60, 0, 0, 64, 0, 0, 67, 0, 0, 0x90, 64, 100}), Vlq(480),
                             B({0x90, 64, 0, 0, 0x99, 36, 127, 10, 0x89, 36, 0, 0}), kEnd});
    CMidiFolio song;
    ASSERT_TRUE(Load(song, WriteFile("summary.mid", Smf(0, 480, {track}))));
    const score::Score s(song);
    const score::Summary sum = s.summary();
    EXPECT_EQ(sum.notes, 5u);
    EXPECT_EQ(sum.lowest_pitch, 36);
    EXPECT_EQ(sum.highest_pitch, 67);
    EXPECT_EQ(sum.programs, std::vector<uint8_t>({5}));
    EXPECT_TRUE(sum.drums);
    EXPECT_EQ(sum.peak_polyphony, 3u);
    EXPECT_EQ(sum.bars, 1);
    EXPECT_NEAR(sum.duration, 1.5 + 10 / 960.0, 1e-12);

    const score::PianoRoll roll = s.piano_roll(10);
    ASSERT_EQ(roll.frames, 16u);
    EXPECT_EQ(roll.at(60, 0), 90);
    EXPECT_EQ(roll.at(60, 9), 90);
    EXPECT_EQ(roll.at(60, 10), 0);
    EXPECT_EQ(roll.at(64, 9), 80);
    EXPECT_EQ(roll.at(64, 10), 100);
    EXPECT_EQ(roll.at(36, 15), 0);                    // drums only on request
    EXPECT_EQ(s.piano_roll(10, true).at(36, 15), 0);  // shorter than a frame
    EXPECT_EQ(s.piano_roll(0).frames, 0u);
    // A song of notes that all start and end at tick 0 lasts 0 s: its roll has no frame.
    CMidiFolio instant;
    ASSERT_TRUE(Load(
        instant, WriteFile("instant.mid",
                           Smf(0, 480, {Cat({B({0, 0x90, 60, 90, 0, 0x80, 60, 0, 0}), kEnd})}))));
    EXPECT_EQ(score::Score(instant).piano_roll(100).frames, 0u);
}

TEST(Score, NotesComeByStartThenTrackChannelAndPitchHoweverManyTracksAndChords) {
    // Tracks whose notes start at shared and at own ticks, each with a chord of 20 notes
    // given in falling pitch over two channels, and a repeated pitch that must keep its list
    // order (the velocities tell the two apart). Every seventh track is empty, and odd ones
    // go on with a late note of their own. Songs of 3, 20 and 40 tracks, small and made
    // large by a text of 3.5 MB in the first track (few tracks and many, small songs and
    // large ones are read differently).
    const Bytes text = Cat({B({0, 0xFF, 0x01}), Vlq(3500000), Bytes(3500000, 'x')});
    for (const auto& [tracks, large] : std::vector<std::pair<int, bool>>{
             {3, false}, {20, false}, {40, false}, {3, true}, {20, true}, {40, true}}) {
        std::vector<Bytes> chunks;
        size_t withNotes = 0, late = 0;
        for (int t = 0; t < tracks; ++t) {
            if (t % 7 == 3) {
                chunks.push_back(Cat({B({0}), kEnd}));
                continue;
            }
            ++withNotes;
            Bytes events;
            for (int k = 0; k < 20; ++k)  // the chord at tick 0
                events = Cat({events, B({0, 0x90 + k % 2, 100 - k, 1 + k})});
            events = Cat({events, B({0, 0x90, 40, 1, 0, 0x90, 40, 2})});  // pitch 40 twice
            events = Cat({events, Vlq(static_cast<uint32_t>(10 + t % 4)), B({0x91, 50, 64})});
            events = Cat({events, Vlq(100), B({0xB0, 123, 0})});
            if (t % 2 == 1) {
                events = Cat({events, Vlq(static_cast<uint32_t>(50 * t)), B({0x92, 60, 70})});
                ++late;
            }
            chunks.push_back(Cat({large && t == 0 ? text : Bytes(), events, B({0}), kEnd}));
        }
        CMidiFolio song;
        ASSERT_TRUE(Load(song, WriteFile("order.mid", Smf(1, 96, chunks))));
        const score::Score score(song);
        const std::vector<score::Note>& notes = score.notes();
        ASSERT_EQ(notes.size(), 23 * withNotes + late) << tracks;
        EXPECT_TRUE(std::is_sorted(notes.begin(), notes.end(),
                                   [](const score::Note& a, const score::Note& b) {
                                       if (a.start_tick != b.start_tick)
                                           return a.start_tick < b.start_tick;
                                       if (a.track != b.track) return a.track < b.track;
                                       if (a.channel != b.channel) return a.channel < b.channel;
                                       return a.pitch < b.pitch;
                                   }))
            << tracks;
        // Track 0 opens with channel 0's two notes of pitch 40 in list order; the first note
        // after every track's chord starts at tick 10.
        EXPECT_EQ(notes[0].pitch, 40);
        EXPECT_EQ(notes[0].velocity, 1);
        EXPECT_EQ(notes[1].pitch, 40);
        EXPECT_EQ(notes[1].velocity, 2);
        EXPECT_EQ(notes[22 * withNotes].start_tick, 10);
        if (tracks > 3) {  // the last note is the latest track's late one
            EXPECT_EQ(notes.back().pitch, 60);
            EXPECT_EQ(notes.back().track, tracks % 2 == 0 ? tracks - 1 : tracks - 2);
        }
    }
}

TEST(Score, AnEditedSongHasTheNotesOfItsBytesReadAnewAlikeFromSeveralThreadsAtOnce) {
    // Songs an edit makes pair their notes on first use: asked for by four threads at once,
    // each gets every note of a fresh reading of the song's bytes.
    std::vector<score::NoteInput> input;
    for (int i = 0; i < 600; ++i)
        input.push_back({i * 7 % 500, i * 7 % 500 + 30 + i % 3, static_cast<uint16_t>(i % 3),
                         static_cast<uint8_t>(i % 2), static_cast<uint8_t>(i / 300),
                         static_cast<uint8_t>(40 + i % 13), static_cast<uint8_t>(1 + i % 120)});
    score::SongPlan plan;
    plan.tempos = {{0, 400000}, {250, 600000}};
    std::string error;
    const score::Song made = score::FromNotes(input, plan, &error);
    ASSERT_EQ(error, "");
    const score::Song edited = score::Transpose(made, 2, false, &error);
    ASSERT_EQ(error, "");
    // A Score's notes make the song their fields make.
    const std::vector<score::Note>& notes = score::Score(made).notes();
    std::vector<score::NoteInput> fields;
    for (const score::Note& n : notes)
        fields.push_back(
            {n.start_tick, n.end_tick, n.track, n.channel, n.program, n.pitch, n.velocity});
    const score::Song again = score::FromNotes(notes.data(), notes.size(), plan, &error);
    ASSERT_EQ(error, "");
    EXPECT_EQ(again.bytes(), score::FromNotes(fields, plan, &error).bytes());
    for (const score::Song* song : {&made, &edited}) {
        score::ReadReport report;
        const score::Song fresh = score::Song::FromBytes(song->bytes(), {}, report);
        const std::vector<score::Note> expected = score::Score(fresh).notes();
        ASSERT_EQ(expected.size(), input.size());
        std::vector<score::Note> got[4];
        std::thread threads[4];
        for (int k = 0; k < 4; ++k)
            threads[k] = std::thread([&, k] { got[k] = score::Score(*song).notes(); });
        for (std::thread& thread : threads) thread.join();
        for (const std::vector<score::Note>& notes : got) {
            ASSERT_EQ(notes.size(), expected.size());
            for (size_t i = 0; i < notes.size(); ++i) {
                const score::Note& a = notes[i];
                const score::Note& b = expected[i];
                EXPECT_TRUE(a.track == b.track && a.channel == b.channel &&
                            a.program == b.program && a.pitch == b.pitch &&
                            a.velocity == b.velocity && a.start_tick == b.start_tick &&
                            a.end_tick == b.end_tick && a.start == b.start && a.end == b.end)
                    << "note " << i;
            }
        }
        EXPECT_EQ(score::Score(*song).summary().notes, input.size());
    }
}

TEST(Score, ASongOfNotesIsAValidFileWithThePlansEventsOrSaysWhyItCannotBe) {
    // Two tracks; a tempo change at the tick of a note comes after that note's events, and
    // the ends at a tick before the starts at it.
    const std::vector<score::NoteInput> input = {
        {0, 96, 0, 0, 0, 60, 90}, {96, 192, 0, 0, 0, 62, 91}, {0, 500, 1, 9, 0, 36, 100}};
    score::SongPlan plan;
    plan.tempos = {{0, 500000}, {96, 400000}};
    plan.track_names = {"Lead", "Drums"};
    std::string error;
    const score::Song song = score::FromNotes(input, plan, &error);
    ASSERT_EQ(error, "");
    score::ReadReport report;
    const score::Song read = score::Song::FromBytes(song.bytes(), {}, report);
    ASSERT_TRUE(report.ok() && report.warnings.empty()) << report.Text();
    EXPECT_TRUE(read.SavesAsRead());
    std::vector<std::string> first;
    for (const score::EventRecord& e : read.Events())
        if (e.track == 0)
            first.push_back(std::to_string(e.tick) + ":" + std::to_string(e.status) + "/" +
                            std::to_string(e.status == 0xFF ? e.meta : e.data1));
    const std::vector<std::string> expected = {"0:144/60",   "0:255/81",  "0:255/3",
                                               "96:128/60",  "96:144/62", "96:255/81",
                                               "192:128/62", "192:255/47"};
    EXPECT_EQ(first, expected);
    const std::vector<score::Note>& notes = score::Score(read).notes();
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[1].track, 1);
    EXPECT_EQ(notes[1].end_tick, 500);

    // A note a file cannot reach, and a track beyond the 65,535 a file holds.
    score::FromNotes({{0, 10, 0, 0, 0, 60, 90}, {1 << 29, (1 << 29) + 5, 0, 0, 0, 61, 90}}, plan,
                     &error);
    EXPECT_EQ(error,
              "cannot be written: track 1: the 536,870,816 ticks before tick 536,870,912 are more "
              "than a delta time holds (268,435,455)");
    score::FromNotes({{0, 10, 65535, 0, 0, 60, 90}}, plan, &error);
    EXPECT_EQ(error, "cannot be written: a file holds at most 65,535 tracks");
}

TEST(Score, ATrackSplitOffKeepsItsNotesAsTheSongReadThem) {
    // Track 2 has no end-of-track event: read, it ends at its last event (a controller at tick
    // 50), and its note no end ends lasts to there; split off, the same, though the song goes on
    // to tick 992.
    const Bytes file =
        Smf(1, 96,
            {B({0x00, 0x90, 0x3C, 0x40, 0x60, 0x80, 0x3C, 0x40, 0x87, 0x00, 0xFF, 0x2F, 0x00}),
             B({0x0A, 0x91, 0x3E, 0x40, 0x28, 0xB1, 0x07, 0x64})});
    score::ReadReport report;
    const score::Song song = score::Song::FromBytes(file, {}, report);
    ASSERT_TRUE(report.ok()) << report.Text();
    std::string error;
    std::vector<std::string> labels;
    const std::vector<score::Song> parts =
        score::Split(song, score::SplitBy::kTrack, &labels, &error);
    ASSERT_EQ(error, "");
    ASSERT_EQ(labels, (std::vector<std::string>{"track 1", "track 2"}));
    const std::vector<score::Note>& whole = score::Score(song).notes();
    ASSERT_EQ(whole.size(), 2u);
    EXPECT_EQ(whole[1].end_tick, 50);
    const std::vector<score::Note> second = score::Score(parts[1]).notes();
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].end_tick, 50);
    EXPECT_EQ(score::Score(parts[0]).notes()[0].end_tick, 96);
}
