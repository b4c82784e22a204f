// The midifolio tool, run as a real program on the files in tests/data: its text and JSON output,
// its exit statuses and its messages for bad files and bad arguments.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

using namespace testsupport;
using Json = nlohmann::json;

#ifndef MIDIFOLIO_CLI
// Built without the tool (MIDIFOLIO_BUILD_CLI=OFF): nothing to run.
TEST(Cli, IsNotBuilt) {
    GTEST_SKIP() << "configure with MIDIFOLIO_BUILD_CLI=ON to test the tool";
}
#else

namespace {

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Quote(const std::string& s) {
    return "'" + s + "'";
}

// Runs `midifolio ARGS` with stdout and stderr captured (neither is a terminal).
Result Cli(const std::string& args) {
    const std::string errPath = TmpPath("stderr.txt");
    Result r;
    r.out = Run(std::string(MIDIFOLIO_CLI) + " " + args + " 2>" + Quote(errPath) + " </dev/null",
                &r.status);
    const Bytes err = ReadFile(errPath);
    r.err.assign(err.begin(), err.end());
    std::remove(errPath.c_str());
    return r;
}

std::string Data(const std::string& name) {
    return Quote(DataPath("cli/" + name));
}

Json ParseJson(const Result& r) {
    Json j = Json::parse(r.out, nullptr, false);
    EXPECT_FALSE(j.is_discarded()) << "not JSON:\n" << r.out;
    return j;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string MakeDir(const std::string& name) {
    const std::string dir = TmpPath(name);
    mkdir(dir.c_str(), 0755);
    return dir;
}

void CopyFile(const std::string& from, const std::string& to) {
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary);
    out << in.rdbuf();
}

}  // namespace

// ------------------------------------------------------------------ arguments and help

TEST(Cli, HelpListsEverySubcommandAndEachHasExamples) {
    const Result top = Cli("--help");
    EXPECT_EQ(top.status, 0);
    for (const char* sub : {"info", "events", "voices", "copy", "pitch", "names", "roll", "scan"}) {
        EXPECT_TRUE(Contains(top.out, sub)) << sub;
        const Result help = Cli(std::string(sub) + " --help");
        EXPECT_EQ(help.status, 0) << sub;
        EXPECT_TRUE(Contains(help.out, "Examples:")) << sub;
        EXPECT_TRUE(Contains(help.out, "--json")) << sub;
        EXPECT_TRUE(help.err.empty()) << sub;
    }
    const Result version = Cli("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(Contains(version.out, "midifolio 0.1.0"));
}

TEST(Cli, BadArgumentsExitWithStatusTwoAndPointToHelp) {
    const std::vector<std::string> bad = {
        "",                                        // no subcommand
        "frobnicate",                              // unknown subcommand
        "info",                                    // missing FILE
        "info " + Data("small.mid") + " --bogus",  // unknown option
        "events " + Data("small.mid") + " --channel 17",
        "events " + Data("small.mid") + " --channel x",
        "events " + Data("small.mid") + " --measures 1-2 --from 0",
        "voices " + Data("small.mid") + " --limit -3",
        "roll " + Data("small.mid"),  // missing -o
        "scan",                       // missing DIR
        "scan . --jobs 0",
        "scan . --csv --json",
    };
    for (const std::string& args : bad) {
        const Result r = Cli(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_TRUE(Contains(r.err, "midifolio: ")) << args << "\n" << r.err;
        EXPECT_TRUE(Contains(r.err, "--help")) << args;
        EXPECT_TRUE(r.out.empty()) << args << "\n" << r.out;
    }
}

TEST(Cli, BadValuesExitWithStatusOneAndSayWhy) {
    struct Case {
        std::string args, message;
    };
    const std::vector<Case> cases = {
        {"events " + Data("small.mid") + " --type noteon,bogus",
         "--type: unknown event type 'bogus'"},
        {"events " + Data("small.mid") + " --time fortnights",
         "--time: unknown time format 'fortnights'"},
        {"events " + Data("small.mid") + " --from yesterday", "--from: 'yesterday' is not a time"},
        {"events " + Data("small.mid") + " --tracks 3-1",
         "--tracks range '3-1' ends before it starts"},
        {"events " + Data("small.mid") + " --measures 0", "--measures counts from 1"},
        {"pitch H4", "'H4' is not a pitch"},
        {"pitch 0hz", "'0hz' is not a pitch"},
        {"names program 128", "no General MIDI program 128"},
        {"names drum 26", "no General MIDI drum on note 26"},
        {"names controller 300", "no controller 300"},
        {"names colours", "names: unknown table 'colours'"},
    };
    for (const Case& c : cases) {
        const Result r = Cli(c.args);
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_TRUE(Contains(r.err, "midifolio: " + c.message)) << c.args << "\n" << r.err;
        EXPECT_TRUE(r.out.empty()) << c.args << "\n" << r.out;
    }
}

// ------------------------------------------------------------------ refused files

TEST(Cli, RefusedFilesGiveTheLibraryMessageOnStderr) {
    struct Case {
        const char* file;
        const char* message;
    };
    const Case cases[] = {
        {"not_midi.mid", "Not Midi file!!"},         {"truncated.mid", "Error read data!!"},
        {"format2.mid", "Error format unsupport!!"}, {"smpte.mid", "Error time unsupport!!"},
        {"bad_chunk.mid", "Error Track!!"},          {"short_track.mid", "Error read data!!"},
    };
    const std::string svg = TmpPath("refused.svg");
    const std::string copy = TmpPath("refused_copy.mid");
    // Every file through `info`, and through one more subcommand that reads a song, in turn.
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const std::string file = Data(c.file);
        const std::string other[] = {"info " + file + " --json",
                                     "events " + file,
                                     "voices " + file,
                                     "copy " + file + " " + Quote(copy),
                                     "roll " + file + " -o " + Quote(svg),
                                     "events " + file + " --json"};
        for (const std::string& args : {"info " + file, other[i]}) {
            const Result r = Cli(args);
            EXPECT_EQ(r.status, 1) << args;
            EXPECT_EQ(r.err, "midifolio: " + DataPath(std::string("cli/") + c.file) + ": " +
                                 c.message + "\n")
                << args;
            EXPECT_TRUE(r.out.empty()) << args << "\n" << r.out;
        }
    }
    struct stat st;
    EXPECT_NE(stat(svg.c_str(), &st), 0) << "no picture of a refused file";
    EXPECT_NE(stat(copy.c_str(), &st), 0) << "no copy of a refused file";

    const Result missing = Cli("info " + Data("no_such_file.mid"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(Contains(missing.err, "no_such_file.mid: No such file or directory"))
        << missing.err;
}

// ------------------------------------------------------------------ info

TEST(Info, ReportsHeaderTempoTracksInstrumentsAndDrums) {
    const Result r = Cli("info " + Data("small.mid"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    const std::string& o = r.out;
    EXPECT_TRUE(Contains(o, "Format      1, 2 tracks, 480 ticks per quarter note")) << o;
    EXPECT_TRUE(Contains(o, "Duration    00:00:01.200 (960 ticks, ends at bar:beat:tick 1:3:000)"))
        << o;
    EXPECT_TRUE(Contains(o, "Signature   3/4, Bb major")) << o;
    EXPECT_TRUE(Contains(o, "100.00      600000")) << o;
    EXPECT_TRUE(Contains(o, "120.00      500000")) << o;
    EXPECT_TRUE(Contains(o, "2,10          Drums")) << o;
    EXPECT_TRUE(Contains(o, "Lead")) << o;
    EXPECT_TRUE(Contains(o, "Channels    1, 2, 10")) << o;
    EXPECT_TRUE(Contains(o, "   1     0    40  Violin                    C5 (60) .. C6 (72)")) << o;
    EXPECT_TRUE(Contains(o, "   2     0     0  Acoustic Grand            E5 (64) .. E5 (64)")) << o;
    EXPECT_TRUE(Contains(o, "     0    36  C3     Bass Drum1")) << o;
    EXPECT_TRUE(Contains(o, "     0    42  F#3    Closed Hi-Hat")) << o;
    EXPECT_TRUE(Contains(o, "every drum note lies within the General MIDI range")) << o;
}

TEST(Info, JsonHoldsTheSameFacts) {
    const Result r = Cli("info " + Data("small.mid") + " --json");
    ASSERT_EQ(r.status, 0) << r.err;
    Json j = ParseJson(r);
    EXPECT_EQ(j["format"], 1);
    EXPECT_EQ(j["tracks"], 2);
    EXPECT_EQ(j["division"], 480);
    EXPECT_EQ(j["end_tick"], 960);
    EXPECT_EQ(j["duration_ms"], 1200.0);
    EXPECT_EQ(j["time_signature"]["text"], "3/4");
    EXPECT_EQ(j["key_signature"]["text"], "Bb major");
    ASSERT_EQ(j["track_list"].size(), 2u);
    EXPECT_EQ(j["track_list"][0]["name"], "Lead");
    EXPECT_EQ(j["track_list"][1]["name"], "Drums");
    EXPECT_EQ(j["track_list"][1]["channels"], Json::array({2, 10}));
    EXPECT_EQ(j["track_list"][0]["lyrics"], 1);
    EXPECT_EQ(j["channels"], Json::array({1, 2, 10}));
    ASSERT_EQ(j["instruments"].size(), 2u);
    EXPECT_EQ(j["instruments"][0]["name"], "Violin");
    EXPECT_EQ(j["instruments"][0]["low_note"], 60);
    EXPECT_EQ(j["instruments"][0]["high_note"], 72);
    ASSERT_EQ(j["drums"].size(), 2u);
    EXPECT_EQ(j["drums"][1]["name"], "Closed Hi-Hat");
    EXPECT_EQ(j["drums"][1]["pitch"], "F#3");
    EXPECT_EQ(j["percussion_in_gm_range"], true);
    bool has100 = false;
    for (const auto& t : j["tempo_map"]) has100 = has100 || t["us_per_quarter"] == 600000;
    EXPECT_TRUE(has100);
}

TEST(Info, DescribesTheSampleSong) {
    // The test copy is the song examples/make_sample composes (and CI checks examples/sample.mid).
    EXPECT_EQ(ReadFile(DataPath("cli/sample.mid")),
              ReadFile(DataPath("../../examples/sample.mid")));
    const Result r = Cli("info " + Data("sample.mid") + " --json");
    ASSERT_EQ(r.status, 0) << r.err;
    Json j = ParseJson(r);
    EXPECT_EQ(j["tracks"], 2);
    EXPECT_EQ(j["end_tick"], 12 * 1920);
    EXPECT_EQ(j["channels"], Json::array({1, 2, 3, 10}));
    EXPECT_EQ(j["track_list"][0]["name"], "Melody");
    EXPECT_EQ(j["track_list"][0]["lyrics"], 42);
    EXPECT_EQ(j["instruments"][0]["name"], "Flute");
    EXPECT_EQ(j["drums"].size(), 4u);
}

TEST(Info, OddTrackNamesStayReadableAndJsonStaysValid) {
    // A Latin-1 name with a control character, and a name that is not text at all.
    const Bytes first =
        Cat({Vlq(0), B({0xFF, 0x03, 6, 'C', 'a', 'f', 0xE9, 0x01, '!'}), Vlq(0), B({0x90, 60, 100}),
             Vlq(10), B({0x80, 60, 0}), Vlq(0), B({0xFF, 0x2F, 0})});
    const Bytes second =
        Cat({Vlq(0), B({0xFF, 0x03, 3, 0xFF, 0xFE, 0x00}), Vlq(0), B({0xFF, 0x2F, 0})});
    const std::string path = WriteFile("odd names & <marks>.mid", Smf(1, 96, {first, second}));

    const Result text = Cli("info " + Quote(path));
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_TRUE(Contains(text.out, "Caf\xc3\xa9\\x01!")) << text.out;

    Json j = ParseJson(Cli("info " + Quote(path) + " --json"));
    EXPECT_EQ(j["track_list"][0]["name"], "Caf\xc3\xa9\x01!");
    EXPECT_EQ(j["track_list"][1]["name"], std::string("\xc3\xbf\xc3\xbe") + std::string(1, '\0'));

    const std::string svg = TmpPath("odd.svg");
    ASSERT_EQ(Cli("roll " + Quote(path) + " -o " + Quote(svg)).status, 0);
    int lint = -1;
    const std::string problems = testsupport::Run("xmllint --noout " + Quote(svg) + " 2>&1", &lint);
    EXPECT_EQ(lint, 0) << problems;
    const Bytes bytes = ReadFile(svg);
    EXPECT_TRUE(
        Contains(std::string(bytes.begin(), bytes.end()), "odd names &amp; &lt;marks&gt;.mid"));
}

// ------------------------------------------------------------------ events

TEST(Events, FiltersSelectByChannelTypeTrackAndTime) {
    auto count = [](const std::string& args) {
        const Result r = Cli("events " + Data("small.mid") + " " + args + " --json");
        EXPECT_EQ(r.status, 0) << args << r.err;
        return ParseJson(r).size();
    };
    EXPECT_EQ(count("--channel 10"), 4u);
    EXPECT_EQ(count("--channel 2"), 2u);
    EXPECT_EQ(count("--type noteon"), 5u);
    EXPECT_EQ(count("--type note"), 10u);
    EXPECT_EQ(count("--type noteon --tracks 2"), 3u);
    EXPECT_EQ(count("--tracks 2"), 8u);
    EXPECT_EQ(count("--from 480 --to 480"), 6u);  // four note-offs, a note-on, the end of track 2
    EXPECT_EQ(count("--from 961"), 0u);
    EXPECT_EQ(count("--measures 2"), 0u);
    EXPECT_EQ(count("--type meta --tracks 1 --limit 3"), 3u);
    EXPECT_EQ(count("--channel 10 --to 0.5s"), 2u);  // 0.5 s is before tick 480 (600 ms)
}

TEST(Events, TextLinesNameNotesDrumsAndMeta) {
    const Result r = Cli("events " + Data("small.mid") + " --tracks 1-2");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string& o = r.out;
    EXPECT_TRUE(Contains(Lines(o)[0], "tick  track   ch  event")) << o;
    EXPECT_TRUE(Contains(o, "noteon        C5 (60) vel 100, 600 ms")) << o;
    EXPECT_TRUE(Contains(o, "noteon        Bass Drum1 C3 (36) vel 100")) << o;
    EXPECT_TRUE(Contains(o, "program       40 Violin")) << o;
    EXPECT_TRUE(Contains(o, "meta          time signature 3/4")) << o;
    EXPECT_TRUE(Contains(o, "meta          key signature Bb major")) << o;
    EXPECT_TRUE(Contains(o, "meta          tempo 100.00 BPM (600000 us per quarter)")) << o;
    EXPECT_TRUE(Contains(o, "meta          track name \"Drums\"")) << o;
    EXPECT_TRUE(Contains(o, "meta          lyric \"la-l\"")) << o;
}

TEST(Events, TimeColumnFollowsTheChosenFormat) {
    auto firstTime = [](const std::string& format) {
        const Result r =
            Cli("events " + Data("small.mid") + " --type noteon --from 480 --time " + format);
        EXPECT_EQ(r.status, 0) << r.err;
        const auto lines = Lines(r.out);
        EXPECT_GE(lines.size(), 2u) << r.out;
        std::istringstream in(lines.size() > 1 ? lines[1] : "");
        std::string first;
        in >> first;
        return first;
    };
    EXPECT_EQ(firstTime("tick"), "480");
    EXPECT_EQ(firstTime("ms"), "600");
    EXPECT_EQ(firstTime("measure"), "1:2:000");
    EXPECT_EQ(firstTime("hmsf"), "00:00:00:24");

    const Result r =
        Cli("events " + Data("small.mid") + " --type noteon --channel 1 --time measure --json");
    Json j = ParseJson(r);
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[1]["time"], (Json{{"bar", 1}, {"beat", 2}, {"tick", 0}}));
    EXPECT_EQ(j[1]["tick"], 480);
    EXPECT_EQ(j[1]["track"], 1);
    EXPECT_EQ(j[1]["channel"], 1);
    EXPECT_EQ(j[1]["pitch"], "C6");
    EXPECT_EQ(j[0]["length_ms"], 600);
}

// ------------------------------------------------------------------ voices

TEST(Voices, ReportsMomentsBeyondTheLimit) {
    const Result over = Cli("voices " + Data("small.mid") + " --limit 3");
    ASSERT_EQ(over.status, 0) << over.err;
    EXPECT_TRUE(Contains(over.out, "1 moment needs more than 3 voices (at most 4)")) << over.out;
    EXPECT_TRUE(Contains(over.out, "00:00:00.000")) << over.out;

    Json j = ParseJson(Cli("voices " + Data("small.mid") + " -l 3 --json"));
    EXPECT_EQ(j["conflicts"], 1);
    ASSERT_EQ(j["moments"].size(), 1u);
    EXPECT_EQ(j["moments"][0]["ms"], 0);
    EXPECT_EQ(j["moments"][0]["voices"], 4);
    EXPECT_EQ(j["moments"][0]["bar"], "1:1:000");

    // Each moment sits on the bar of the note-on that caused it, also after a tempo change.
    Json sample = ParseJson(Cli("voices " + Data("sample.mid") + " --limit 7 --json"));
    ASSERT_EQ(sample["moments"].size(), 3u);
    EXPECT_EQ(sample["moments"][1]["bar"], "9:1:000");
    EXPECT_EQ(sample["moments"][1]["ms"], 19200);
    EXPECT_EQ(sample["moments"][2]["bar"], "12:3:000");
    EXPECT_EQ(sample["peak"], 8);
    EXPECT_EQ(
        ParseJson(Cli("voices " + Data("sample.mid") + " --limit 6 --json"))["moments"][33]["bar"],
        "9:2:000");

    const Result fine = Cli("voices " + Data("small.mid"));
    EXPECT_EQ(fine.out, "No moment needs more than 24 voices.\n");
}

// ------------------------------------------------------------------ copy

TEST(Copy, StoresASongThatLoadsAgainAndSaysWhatChanged) {
    const std::string out = TmpPath("copy.mid");
    const Result r = Cli("copy " + Data("sample.mid") + " " + Quote(out));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "the copy is byte for byte the same as the original")) << r.out;
    EXPECT_EQ(ReadFile(out), ReadFile(DataPath("cli/sample.mid")));

    // A copy of the copy stays the same: the loader's tempo event does not pile up.
    const std::string again = TmpPath("copy2.mid");
    Json j = ParseJson(Cli("copy " + Quote(out) + " " + Quote(again) + " --sort --json"));
    EXPECT_EQ(j["identical"], true);
    EXPECT_EQ(j["reordered_tracks"], 0);
    EXPECT_EQ(j["input"]["events"], j["output"]["events"]);
    EXPECT_EQ(j["output"]["loads"], true);

    // small.mid uses running status across nothing, but its note-offs of different channels
    // each carry a status byte; the copy may differ in bytes, never in events.
    const std::string small = TmpPath("small_copy.mid");
    Json s = ParseJson(Cli("copy " + Data("small.mid") + " " + Quote(small) + " --json"));
    EXPECT_EQ(s["input"]["events"], s["output"]["events"]);
    EXPECT_EQ(s["input"]["tracks"], 2);

    const Result denied = Cli("copy " + Data("small.mid") + " /nonexistent/folder/out.mid");
    EXPECT_EQ(denied.status, 1);
    EXPECT_TRUE(
        Contains(denied.err, "midifolio: /nonexistent/folder/out.mid: could not be written"))
        << denied.err;
}

// ------------------------------------------------------------------ pitch and names

TEST(Pitch, NamesNumbersAndFrequenciesConvert) {
    const Result name = Cli("pitch C#4");
    ASSERT_EQ(name.status, 0) << name.err;
    EXPECT_EQ(name.out,
              "Input       C#4 (read as a name)\n"
              "Pitch       C#4 (the library's octaves: middle C, note 60, is C5)\n"
              "Scientific  C#3 (scientific octaves: middle C is C4)\n"
              "Note        49\n"
              "Frequency   138.600 Hz\n"
              "Numbered    1.#\n");
    Json number = ParseJson(Cli("pitch 60 --json"));
    EXPECT_EQ(number["pitch"], "C5");
    EXPECT_EQ(number["note"], 60);
    EXPECT_EQ(number["numbered"], "1");
    EXPECT_NEAR(number["frequency"].get<double>(), 261.6, 1e-9);
    Json hz = ParseJson(Cli("pitch 445hz --json"));
    EXPECT_EQ(hz["read_as"], "frequency");
    EXPECT_EQ(hz["pitch"], "A5");
    EXPECT_EQ(hz["note"], 69);
    EXPECT_DOUBLE_EQ(hz["frequency"].get<double>(), 440.0);
    Json high = ParseJson(Cli("pitch 72 --json"));
    EXPECT_EQ(high["numbered"], "1'");
}

TEST(Names, ProgramsDrumsAndControllersByNumberOrWholeTables) {
    EXPECT_EQ(Cli("names program 0 40 127").out,
              "  0  Acoustic Grand\n 40  Violin\n127  Gunshot\n");
    EXPECT_EQ(Cli("names drum 36 42").out, " 36  C3    Bass Drum1\n 42  F#3   Closed Hi-Hat\n");
    EXPECT_EQ(Cli("names controller 64").out, " 64  Damper Pedal (on/off)  (type 2)\n");
    EXPECT_EQ(Lines(Cli("names program").out).size(), 128u);
    EXPECT_EQ(Lines(Cli("names drum").out).size(), 61u);
    EXPECT_EQ(Lines(Cli("names controller").out).size(), 128u);
    Json j = ParseJson(Cli("names controller 64 126 --json"));
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[0]["name"], "Damper Pedal (on/off) ");  // the library's own text, final blank kept
    EXPECT_EQ(j[1]["type"], 7);
    EXPECT_EQ(ParseJson(Cli("names program 50 --json"))[0]["name"], "String Synths 1 ");
}

// ------------------------------------------------------------------ roll

TEST(Roll, DrawsAWellFormedSvgWithNotesAndDrums) {
    const std::string svg = TmpPath("sample.svg");
    const Result r = Cli("roll " + Data("sample.mid") + " -o " + Quote(svg));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "Wrote " + svg + ": 138 notes and 144 drum strokes")) << r.out;
    int lint = -1;
    const std::string problems = testsupport::Run("xmllint --noout " + Quote(svg) + " 2>&1", &lint);
    EXPECT_EQ(lint, 0) << problems;
    const Bytes bytes = ReadFile(svg);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_TRUE(Contains(text, "<svg xmlns=\"http://www.w3.org/2000/svg\""));
    EXPECT_TRUE(Contains(text, "ch 1 Flute"));
    EXPECT_TRUE(Contains(text, "ch 10 drums"));
    EXPECT_TRUE(Contains(text, ">Bass Drum1</text>"));
    EXPECT_TRUE(Contains(text, "<polygon"));
    EXPECT_TRUE(Contains(text, "&#9833;=100"));

    // To stdout, and for a song whose names need escaping.
    const Result piped = Cli("roll " + Data("small.mid") + " -o -");
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.out.rfind("<?xml", 0), 0u);
    const Result bad = Cli("roll " + Data("small.mid") + " -o /nonexistent/folder/x.svg");
    EXPECT_EQ(bad.status, 1);
    EXPECT_TRUE(Contains(bad.err, "midifolio: /nonexistent/folder/x.svg: could not be written"))
        << bad.err;
}

TEST(Roll, CorpusSongsGiveWellFormedSvg) {
    // Every seventeenth song of the corpus: a spread of its sources that keeps the suite fast.
    const std::string dir = MakeDir("rolls");
    const std::vector<std::string> corpus = CorpusFiles();
    int drawn = 0;
    for (size_t i = 0; i < corpus.size(); i += 17) {
        const std::string& name = corpus[i];
        const std::string svg = dir + "/" + name + ".svg";
        const Result r =
            Cli("roll " + Quote(DataPath("corpus/" + name)) + " -o " + Quote(svg) + " --width 800");
        if (r.status != 0) continue;  // refused files are the scan test's business
        int lint = -1;
        const std::string problems =
            testsupport::Run("xmllint --noout " + Quote(svg) + " 2>&1", &lint);
        EXPECT_EQ(lint, 0) << name << "\n" << problems;
        ++drawn;
    }
    EXPECT_GT(drawn, 3);
}

// ------------------------------------------------------------------ scan

TEST(Scan, HundredsOfFilesWithBadOnesAmongThem) {
    // The corpus three times over, the refused files of tests/data/cli, and a file of another kind.
    const std::string root = MakeDir("scan");
    const std::vector<std::string> corpus = CorpusFiles();
    ASSERT_FALSE(corpus.empty());
    size_t expectLoaded = 0, expectRefused = 0;
    for (const std::string& name : corpus) {
        midifolio::CMidiFolio song;
        song.SetMessageSink([](const std::string&) {});
        (song.LoadMidiFile(DataPath("corpus/" + name)) == 1 ? expectLoaded : expectRefused) += 3;
    }
    for (int copy = 0; copy < 3; ++copy) {
        const std::string dir = MakeDir("scan_copy");
        const std::string sub = dir + "/nested";
        mkdir(sub.c_str(), 0755);
        for (size_t i = 0; i < corpus.size(); ++i) {
            CopyFile(DataPath("corpus/" + corpus[i]), (i % 2 ? sub : dir) + "/" + corpus[i]);
        }
        testsupport::Run("mv " + Quote(dir) + " " + Quote(root + "/copy" + std::to_string(copy)));
    }
    const std::string bad = root + "/bad";
    mkdir(bad.c_str(), 0755);
    for (const char* name : {"not_midi.mid", "truncated.mid", "format2.mid", "smpte.mid",
                             "bad_chunk.mid", "short_track.mid"}) {
        CopyFile(DataPath(std::string("cli/") + name), bad + "/" + name);
        ++expectRefused;
    }
    CopyFile(DataPath("cli/not_midi.mid"), bad + "/notes.txt");  // not a MIDI name: not scanned

    const Result csv = Cli("scan " + Quote(root) + " --jobs 3 --csv");
    ASSERT_EQ(csv.status, 0) << csv.err;
    const auto rows = Lines(csv.out);
    ASSERT_EQ(rows.size(), 1 + expectLoaded + expectRefused);
    EXPECT_EQ(rows[0].rfind("file,status,message,format,tracks,division", 0), 0u);
    size_t ok = 0, refused = 0;
    for (size_t i = 1; i < rows.size(); ++i) {
        if (Contains(rows[i], ",ok,")) ++ok;
        if (Contains(rows[i], ",refused,")) ++refused;
    }
    EXPECT_EQ(ok, expectLoaded);
    EXPECT_EQ(refused, expectRefused);
    EXPECT_TRUE(Contains(csv.out, bad + "/format2.mid,refused,Error format unsupport!!,"))
        << csv.out;
    EXPECT_TRUE(Contains(csv.out, bad + "/not_midi.mid,refused,Not Midi file!!,"));
    EXPECT_FALSE(Contains(csv.out, "notes.txt"));
    EXPECT_TRUE(Contains(csv.err, "scanned with 3 jobs: " + std::to_string(expectLoaded) +
                                      " loaded, " + std::to_string(expectRefused) + " refused"))
        << csv.err;
    EXPECT_TRUE(Contains(csv.err, "  refused " + bad + "/smpte.mid: Error time unsupport!!"))
        << csv.err;
    EXPECT_TRUE(std::is_sorted(rows.begin() + 1, rows.end())) << "rows come in path order";

    Json j = ParseJson(Cli("scan " + Quote(bad) + " " + Data("sample.mid") + " --json -j 2"));
    EXPECT_EQ(j["scanned"], 7);
    EXPECT_EQ(j["loaded"], 1);
    EXPECT_EQ(j["refused"], 6);
    EXPECT_EQ(j["jobs"], 2);
    EXPECT_EQ(j["files"][6]["file"], DataPath("cli/sample.mid"));
    EXPECT_EQ(j["files"][6]["instruments"], 3);
    EXPECT_EQ(j["files"][6]["drums"], 4);
}

TEST(Scan, MissingFoldersAreReportedAndTheRestIsScanned) {
    const Result r = Cli("scan /nonexistent/folder " + Data("sample.mid"));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "midifolio: /nonexistent/folder: no such file or folder")) << r.err;
    EXPECT_TRUE(Contains(r.out, "1 file scanned with 1 job: 1 loaded, 0 refused")) << r.out;
    EXPECT_TRUE(Contains(r.out, "ok       00:00:")) << r.out;
}

#endif  // MIDIFOLIO_CLI
