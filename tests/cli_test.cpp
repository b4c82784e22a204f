// The midifolio tool, run as a real program on the files in tests/data: its text and JSON output,
// its exit statuses and its messages for bad files and bad arguments.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "generators.h"
#include "test_support.h"

using namespace testsupport;

#ifndef MIDIFOLIO_CLI
// Built without the tool (MIDIFOLIO_BUILD_CLI=OFF): nothing to run.
TEST(Cli, IsNotBuilt) {
    GTEST_SKIP() << "configure with MIDIFOLIO_BUILD_CLI=ON to test the tool";
}
#else

#include "cli_support.h"

namespace {

using namespace clitest;

const std::string kCli = Tool();

Json ParseJson(const Result& r) {
    Json j = clitest::ParseJson(r.out);
    EXPECT_FALSE(j.is_discarded()) << "not JSON:\n" << r.out;
    return j;
}

void CopyFile(const std::string& from, const std::string& to) {
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary);
    out << in.rdbuf();
}

// A song of `notes` notes over 8 tracks (cached per size): 250000 make about 2 MB.
std::string Song(int notes) {
    static std::map<int, std::string> made;
    if (made.count(notes)) return made[notes];
    std::vector<Bytes> tracks(8);
    for (int t = 0; t < 8; ++t) {
        for (int i = 0; i < notes / 8; ++i) {
            const int n = 36 + (i * 7 + t) % 60;
            tracks[t].insert(tracks[t].end(), {0, uint8_t(0x90 | t), uint8_t(n), 100, 0x60,
                                               uint8_t(0x80 | t), uint8_t(n), 0});
        }
        tracks[t].insert(tracks[t].end(), {0, 0xFF, 0x2F, 0});
    }
    return made[notes] = WriteFile("song.mid", Smf(1, 480, tracks));
}

// The command prefix that runs the tool without the right to read what only its owner may
// (the superuser reads everything): as nobody, when nobody can reach and run the tool here
// (not under a home folder closed to others, say); "" when that cannot be done.
std::string Unprivileged() {
    if (getuid() != 0) return " ";
    const std::string nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups -- ";
    int rc = -1;
    Run(nobody + kCli + " --version >/dev/null 2>&1", &rc);
    return rc == 0 ? nobody : "";
}

}  // namespace

// ------------------------------------------------------------------ arguments and help

TEST(Cli, HelpListsEverySubcommandAndEachHasExamples) {
    const Result top = Cli("--help");
    EXPECT_EQ(top.status, 0);
    for (const char* sub : {"info", "events", "notes", "voices", "copy", "pitch", "names", "roll",
                            "scan", "csv", "from-csv", "edit", "merge", "split", "render"}) {
        EXPECT_TRUE(Contains(top.out, sub)) << sub;
        const Result help = Cli(std::string(sub) + " --help");
        EXPECT_EQ(help.status, 0) << sub;
        EXPECT_TRUE(Contains(help.out, "Examples:")) << sub;
        EXPECT_EQ(Contains(help.out, "--json"), std::string(sub) != "csv") << sub;
        EXPECT_TRUE(help.err.empty()) << sub;
    }
    const Result version = Cli("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(Contains(version.out, "midifolio 1.0.0"));
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
        "edit " + Data("small.mid"),   // missing OUT
        "merge " + Data("small.mid"),  // missing -o
        "split " + Data("small.mid"),  // missing -o
        "info " + Data("small.mid") + " --middle-c 6",
        "info " + Data("small.mid") + " --max-memory lots",
        "edit " + Data("small.mid") + " x.mid --format 2",
        "edit " + Data("small.mid") + " x.mid --measures 1 --to 0",
    };
    for (const std::string& args : bad) {
        const Result r = Cli(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_TRUE(Contains(r.err, "midifolio: ")) << args << "\n" << r.err;
        EXPECT_TRUE(Contains(r.err, "--help")) << args;
        EXPECT_TRUE(r.out.empty()) << args << "\n" << r.out;
    }
    // Unknown subcommands are named; numbers are given their range, and a long one is cut.
    const std::string huge(300, '9');
    const std::vector<std::pair<std::string, std::string> > said = {
        {"bogus", "midifolio: unknown subcommand 'bogus'\n"},
        {"voices x --limit 0", "midifolio: --limit must be 1..65535, not '0'\n"},
        {"events x --limit " + huge,
         "midifolio: --limit must be 1..2147483647, not '99999999999999999999\u2026'\n"},
        {"roll x -o y --width 12", "midifolio: --width must be 300..100000, not '12'\n"},
        {"edit x y --tempo-scale 0",
         "midifolio: --tempo-scale must be a number above 0, not '0'\n"},
        {"edit x y --tempo-scale -" + huge,
         "midifolio: --tempo-scale must be a number above 0, not '-" + huge.substr(0, 19) +
             "\u2026'\n"},
        {"edit x y --transpose 128", "midifolio: --transpose must be -127..127, not '128'\n"},
        {"info x --max-memory 12Q",
         "midifolio: --max-memory must be a size such as 512M or 2G, not '12Q'\n"},
        {"events x --channel " + huge,
         "midifolio: --channel must be 1..16, not '" + huge.substr(0, 20) + "\u2026'\n"},
        {"info x " + huge, huge.substr(0, 20) + "\u2026\n"},
    };
    for (const auto& [args, message] : said) {
        const Result r = Cli(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_TRUE(Contains(r.err, message)) << args << "\n" << r.err;
        EXPECT_LT(r.err.size(), 200u) << args;
    }
}

TEST(Cli, BadValuesExitWithStatusOneAndSayWhy) {
    struct Case {
        std::string args, message;
    };
    const std::string never = TmpPath("never.mid");
    const std::vector<Case> cases = {
        {"events " + Data("small.mid") + " --type noteon,bogus",
         "--type: unknown event type 'bogus'"},
        {"events " + Data("small.mid") + " --time fortnights",
         "--time: unknown time format 'fortnights'"},
        {"events " + Data("small.mid") + " --from yesterday", "--from: 'yesterday' is not a time"},
        {"events " + Data("small.mid") + " --tracks 3-1",
         "--tracks range '3-1' ends before it starts"},
        {"events " + Data("small.mid") + " --measures 0", "--measures counts from 1"},
        {"events " + Data("small.mid") + " --to 1:1:480",
         "--to: a beat of bar 1 has 480 ticks (0..479), not 480"},
        {"pitch H4", "'H4' is not a pitch"},
        {"pitch 0hz", "'0hz' is not a frequency of a note"},
        {"pitch 440", "'440' is not a note number: notes are 0..127; did you mean 440hz?"},
        {"pitch -1", "'-1' is not a note number: notes are 0..127\n"},
        {"pitch 20000hz", "'20000hz' lies outside the MIDI notes 0..127 (8.18 Hz .. 12543.85 Hz)"},
        {"pitch C11", "'C11' lies outside the MIDI notes 0..127 (C-1 .. G9)\n"},
        {"pitch Cb-1", "'Cb-1' lies outside the MIDI notes 0..127 (C-1 .. G9)\n"},
        {"pitch G#10 --middle-c 5", "'G#10' lies outside the MIDI notes 0..127 (C0 .. G10)\n"},
        {"pitch " + std::string(300, '1'), "'11111111111111111111\u2026' is not a pitch"},
        {"names program 128", "no General MIDI program 128"},
        {"names drum 26", "no General MIDI drum on note 26"},
        {"names controller 300", "no controller 300"},
        {"names colours", "names: unknown table 'colours'"},
        {"edit " + Data("small.mid") + " " + never + " --transpose 60",
         "--transpose: note 72 (C5) of track 1 at tick 480 would move to 132, outside 0..127\n"},
        {"edit " + Data("small.mid") + " " + never + " --tracks 3", "--tracks: 3 is beyond 2\n"},
        {"edit " + Data("small.mid") + " " + never + " --channels 17",
         "--channels: 17 is beyond 16\n"},
        {"edit " + Data("small.mid") + " " + never + " --quantize 1/0",
         "--quantize wants ticks or a note value such as 1/16, not '1/0'\n"},
        {"edit " + Data("small.mid") + " " + never + " --from 1s --to 0.5s",
         "the stretch to keep is empty\n"},
        {"split " + Data("small.mid") + " -o . --by bar",
         "--by wants track or channel, not 'bar'\n"},
        {"split " + Data("small.mid") + " -o /nonexistent/folder",
         "/nonexistent/folder: No such file or directory\n"},
        {"split " + Data("small.mid") + " -o " + Data("small.mid"),
         DataPath("cli/small.mid") + ": not a folder\n"},
    };
    for (const Case& c : cases) {
        const Result r = Cli(c.args);
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_TRUE(Contains(r.err, "midifolio: " + c.message)) << c.args << "\n" << r.err;
        EXPECT_TRUE(r.out.empty()) << c.args << "\n" << r.out;
    }
    EXPECT_NE(access(never.c_str(), F_OK), 0) << "an edit that fails writes nothing";
}

// ------------------------------------------------------------------ refused files

TEST(Cli, RefusedFilesGiveTheKindAndTheCauseOnStderr) {
    struct Case {
        std::string file;
        std::string message;
    };
    const std::string damaged = " (--recover reads what comes before it)";
    const std::vector<Case> cases = {
        {"cli/not_midi.mid",
         "not a MIDI file: the file starts with \"This\", not with a MIDI header (\"MThd\")"},
        {"bad/empty.mid", "not a MIDI file: the file is empty"},
        {"bad/not_midi_riff_container.mid",
         "not a MIDI file: a RIFF MIDI file (RMID) without a \"data\" chunk"},
        {"cli/truncated.mid",
         "damaged: the file ends inside its header (after 10 bytes)" + damaged},
        {"bad/format_ffff.mid", "unsupported: format 65535; formats 0, 1 and 2 are read"},
        {"cli/bad_chunk.mid",
         "damaged: the header declares 2 tracks but the file holds 1" + damaged},
        {"cli/short_track.mid",
         "damaged: track 1 at byte 18: the chunk claims 256 bytes but 3 remain" + damaged},
        {"bad/length_2gib_minus_one.mid",
         "damaged: track 2 at byte 30: the chunk claims 2,147,483,647 bytes but 4 remain" +
             damaged},
        {"bad/channel_message_cut.mid",
         "damaged: track 1 at byte 22: the track's data ends inside an event" + damaged},
        {"bad/meta_length_huge.mid",
         "damaged: track 1 at byte 22: the track's data ends inside an event" + damaged},
        {"bad/missing_last_track.mid",
         "damaged: the header declares 3 tracks but the file holds 2" + damaged},
        {"bad/running_status_at_start.mid",
         "damaged: track 1 at byte 22: a data byte stands where a status byte belongs (no "
         "running status is in force)" +
             damaged},
    };
    const std::string dir = MakeDir("refused"), svg = dir + "/refused.svg",
                      copy = dir + "/copy.mid";
    // Every file through `info`, and through one more subcommand that reads a song, in turn.
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const std::string file = Quote(DataPath(c.file));
        const std::string other[] = {
            "info " + file + " --json",
            "events " + file,
            "voices " + file,
            "copy " + file + " " + Quote(copy),
            "roll " + file + " -o " + Quote(svg),
            "events " + file + " --json",
            "notes " + file + " --csv",
            "csv " + file + " -o " + Quote(copy),
            "edit " + file + " " + Quote(copy) + " --transpose 1",
            "merge " + Data("small.mid") + " " + file + " -o " + Quote(copy),
            "split " + file + " -o " + Quote(dir)};
        for (const std::string& args : {"info " + file, other[i % std::size(other)]}) {
            const Result r = Cli(args);
            EXPECT_EQ(r.status, 1) << args;
            EXPECT_EQ(r.err, "midifolio: " + DataPath(c.file) + ": " + c.message + "\n") << args;
            EXPECT_TRUE(r.out.empty()) << args << "\n" << r.out;
        }
    }
    EXPECT_EQ(Sh("ls -A " + Quote(dir)), "") << "nothing is written for a refused file";
}

TEST(Cli, FormatTwoAndSmpteTimeAreRead) {
    const Result two = Cli("info " + Data("format2.mid"));
    EXPECT_EQ(two.status, 0) << two.err;
    EXPECT_TRUE(Contains(two.out, "Format      2, 1 track, 480 ticks per quarter note\n"))
        << two.out;
    const Result smpte = Cli("info " + Data("smpte.mid"));
    EXPECT_EQ(smpte.status, 0) << smpte.err;
    EXPECT_TRUE(Contains(smpte.out,
                         "Format      0, 1 track, SMPTE time: 30 frames per second, 80 ticks "
                         "per frame\n"))
        << smpte.out;
    // The library's own classes take neither: what shows their answers says so.
    const Result voices = Cli("voices " + Data("format2.mid"));
    EXPECT_EQ(voices.status, 1);
    EXPECT_TRUE(Contains(voices.err,
                         "format2.mid: the library's own classes cannot hold this "
                         "song: "))
        << voices.err;
    EXPECT_TRUE(ParseJson(Cli("info " + Data("smpte.mid") + " --json"))["duration_ms"].is_null());
}

TEST(Cli, WarningsGoToStderrAndStrictRefusesTheFile) {
    const std::string file = DataPath("bad/bytes_after_end_of_track.mid");
    const std::string warning = "midifolio: " + file +
                                ": warning: track 1 at byte 34: 6 bytes after the end-of-track "
                                "event are not read\n";
    for (const std::string sub : {"info", "events", "notes", "voices", "csv", "roll -o -"}) {
        const std::string args = sub.substr(0, sub.find(' ')) + " " + Quote(file) +
                                 (sub.find(' ') == std::string::npos ? "" : sub.substr(4));
        const Result r = Cli(args);
        EXPECT_EQ(r.status, 0) << args;
        EXPECT_EQ(r.err, warning) << args;
        EXPECT_FALSE(r.out.empty()) << args;
        const Result strict = Cli(args + " --strict");
        EXPECT_EQ(strict.status, 1) << args;
        EXPECT_EQ(strict.err,
                  warning + "midifolio: " + file + ": refused under --strict: 1 warning\n")
            << args;
        EXPECT_EQ(strict.out, "") << args;
    }
    // Every kind the reader reports, in plain words.
    const Bytes track = B({0, 0x90, 60, 64, 0x60, 0x80, 60, 64, 0, 0xFF, 0x2F, 0});
    Bytes more = Smf(1, 96, {track, track});
    more[11] = 1;  // the header declares one track of the two
    const std::string extra = WriteFile("more_tracks.mid", more);
    for (const auto& [path, text] : std::map<std::string, std::string>{
             {DataPath("bad/data_bytes_top_bit.mid"),
              "track 1 at byte 23: 2 messages have a data byte above 127, read as 127"},
             {DataPath("bad/no_end_of_track.mid"), "track 1 has no end-of-track event"},
             {DataPath("bad/format_zero_two_tracks.mid"),
              "format 0 holds one track, but this file holds 2"},
             {DataPath("bad/header_length_eight.mid"),
              "the header chunk is 8 bytes long: its last 2 are passed over"},
             {DataPath("bad/private_chunk_between_tracks.mid"),
              "a chunk \"XPRV\" of 3 bytes is passed over"},
             {extra, "more track chunks than the header declares (1): the rest are not read"}}) {
        const Result r = Cli("info " + Quote(path));
        EXPECT_EQ(r.status, 0) << path;
        EXPECT_EQ(r.err, "midifolio: " + path + ": warning: " + text + "\n") << path;
        EXPECT_EQ(Cli("info " + Quote(path) + " --strict").status, 1) << path;
    }
    EXPECT_EQ(Cli("info " + Data("sample.mid") + " --strict").err, "");
}

// ------------------------------------------------------------------ info

TEST(Info, ReportsHeaderTempoTracksInstrumentsAndDrumsAsTextAndJson) {
    const Result r = Cli("info " + Data("small.mid"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    for (const char* part :
         {"Format      1, 2 tracks, 480 ticks per quarter note",
          "Duration    00:00:01.200 (960 ticks, 1 bar, ends at bar:beat:tick 1:3:000)\nEvents      "
          "20\nNotes       5, C2 (36) .. C5 (72)\n",
          "0       1  00:00:00.000  3/4", "0       1  00:00:00.000  Bb major",
          "0       1  00:00:00.000    100.00      600000      1",
          "960       1  00:00:01.200    120.00      500000      1",
          "    #   events   notes  channels      name\n"
          "    1       12       2  1             Lead\n"
          "    2        8       3  2,10          Drums\n",
          "Channels    1, 2, 10",
          "  ch  bank     prog  name                         notes  range\n"
          "   1  0/0        40  Violin                           2  C4 (60) .. C5 (72)\n",
          "   2  0/0         0  Acoustic Grand Piano             1  E4 (64) .. E4 (64)\n",
          "Drums (channel 10)\n  note  pitch  strokes  name\n"
          "    36  C2           1  Bass Drum 1\n    42  F#2          1  Closed Hi-Hat\n"}) {
        EXPECT_TRUE(Contains(r.out, part)) << part << "\n" << r.out;
    }
    EXPECT_FALSE(Contains(r.out, "Percussion")) << r.out;
    Json j = ParseJson(Cli("info " + Data("small.mid") + " --json"));
    const Json expected = Json::parse(R"({"format": 1, "tracks": 2, "division": 480,
        "end_tick": 960, "duration_ms": 1200.0, "duration_s": 1.2, "channels": [1, 2, 10]})");
    for (const auto& item : expected.items()) EXPECT_EQ(j[item.key()], item.value()) << item.key();
    EXPECT_FALSE(j.contains("percussion_in_gm_range"));
    EXPECT_EQ(j["time_signature"]["text"], "3/4");
    EXPECT_EQ(j["key_signature"]["text"], "Bb major");
    ASSERT_EQ(j["track_list"].size(), 2u);
    EXPECT_EQ(j["track_list"][0]["name"], "Lead");
    EXPECT_EQ(j["track_list"][1]["name"], "Drums");
    EXPECT_EQ(j["track_list"][1]["channels"], Json::array({2, 10}));
    EXPECT_EQ(j["track_list"][0]["lyrics"], 1);
    ASSERT_EQ(j["instruments"].size(), 2u);
    EXPECT_EQ(j["instruments"][0]["name"], "Violin");
    EXPECT_EQ(j["instruments"][0]["low_note"], 60);
    EXPECT_EQ(j["instruments"][0]["high_note"], 72);
    EXPECT_EQ(j["instruments"][1], Json::parse(R"({"channel": 2, "program": 0, "bank_msb": 0,
        "bank_lsb": 0, "name": "Acoustic Grand Piano", "tracks": [2], "notes": 1,
        "low_note": 64, "high_note": 64, "low": "E4", "high": "E4"})"));
    EXPECT_EQ(j["drums"], Json::parse(R"([
        {"note": 36, "name": "Bass Drum 1", "pitch": "C2", "strokes": 1},
        {"note": 42, "name": "Closed Hi-Hat", "pitch": "F#2", "strokes": 1}])"));
    EXPECT_EQ(j["tempo_map"][2]["us_per_quarter"], 600000);

    // The test copy is the song examples/make_sample composes (and CI checks examples/sample.mid).
    EXPECT_EQ(ReadFile(DataPath("cli/sample.mid")),
              ReadFile(DataPath("../../examples/sample.mid")));
    Json sample = ParseJson(Cli("info " + Data("sample.mid") + " --json"));
    EXPECT_EQ(sample["end_tick"], 12 * 1920);
    EXPECT_EQ(sample["channels"], Json::array({1, 2, 3, 10}));
    EXPECT_EQ(sample["track_list"][0]["name"], "Melody");
    EXPECT_EQ(sample["track_list"][0]["lyrics"], 42);
    EXPECT_EQ(sample["instruments"][0]["name"], "Flute");
    EXPECT_EQ(sample["instruments"][0]["notes"], 42);
    EXPECT_EQ(sample["drums"].size(), 4u);
    EXPECT_EQ(sample["drums"][0]["strokes"], 24);
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

TEST(Info, TheInstrumentColumnsLineUpWithTheirHeaders) {
    // Banks of one to three digits on either side of the slash, programs of one to three.
    struct Instrument {
        int msb, lsb, program;
        const char* name;
    };
    const Instrument played[] = {{0, 0, 0, "Acoustic Grand Piano"},
                                 {121, 0, 48, "String Ensemble 1"},
                                 {0, 127, 19, "Church Organ"},
                                 {127, 127, 127, "Gunshot"}};
    Bytes track;
    for (int ch = 0; ch < 4; ++ch) {
        const Instrument& in = played[ch];
        track = Cat({track, Vlq(0), B({0xB0 + ch, 0, in.msb}), Vlq(0), B({0xB0 + ch, 32, in.lsb}),
                     Vlq(0), B({0xC0 + ch, in.program}), Vlq(0), B({0x90 + ch, 60, 90}), Vlq(96),
                     B({0x80 + ch, 60, 0})});
    }
    track = Cat({track, Vlq(0), B({0xFF, 0x2F, 0})});
    const Result r = Cli("info " + Quote(WriteFile("banks.mid", Smf(0, 96, {track}))));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    const auto header = std::find(lines.begin(), lines.end(), "Instruments") + 1;
    ASSERT_LT(header + 4, lines.end()) << r.out;
    const size_t bank = header->find("bank"), prog = header->find("prog") + 4,
                 name = header->find("name"), notes = header->find("notes") + 5;
    ASSERT_NE(header->find("range"), std::string::npos) << *header;
    for (int ch = 0; ch < 4; ++ch) {
        const std::string& row = header[1 + ch];
        const Instrument& in = played[ch];
        const std::string bankText = std::to_string(in.msb) + "/" + std::to_string(in.lsb);
        const std::string progText = std::to_string(in.program);
        // Left-aligned text under its header, numbers right-aligned to their header's end.
        EXPECT_EQ(row.substr(bank - 1, bankText.size() + 2), " " + bankText + " ") << row;
        EXPECT_EQ(row.substr(prog - progText.size() - 1, progText.size() + 2), " " + progText + " ")
            << row;
        EXPECT_EQ(row.substr(name - 1, strlen(in.name) + 2), " " + std::string(in.name) + " ")
            << row;
        EXPECT_EQ(row.substr(notes - 2, 3), " 1 ") << row;
    }
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
    EXPECT_TRUE(Contains(o, "noteon        C4 (60) vel 100, 0.600 s")) << o;
    EXPECT_TRUE(Contains(o, "noteon        Bass Drum 1 C2 (36) vel 100, 0.600 s")) << o;
    EXPECT_TRUE(Contains(o, "noteoff       Closed Hi-Hat F#2 (42) vel 0")) << o;
    EXPECT_TRUE(Contains(o, "program       40 Violin")) << o;
    EXPECT_TRUE(Contains(o, "meta          time signature 3/4")) << o;
    EXPECT_TRUE(Contains(o, "meta          key signature Bb major")) << o;
    EXPECT_TRUE(Contains(o, "meta          tempo 100.00 BPM (600000 us per quarter)")) << o;
    EXPECT_TRUE(Contains(o, "meta          track name \"Drums\"")) << o;
    EXPECT_TRUE(Contains(o, "meta          lyric \"la-l\"")) << o;

    // Time order: by tick, then track (then the file's order within a track).
    const std::vector<std::string> lines = Lines(Cli("events " + Data("sample.mid")).out);
    ASSERT_EQ(lines.size(), 623u);  // the heading and the file's 622 events
    std::vector<std::pair<long, int> > order;
    for (size_t i = 1; i < lines.size(); ++i) {
        std::istringstream in(lines[i]);
        long tick = -1;
        int track = -1;
        in >> tick >> track;
        order.emplace_back(tick, track);
    }
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    EXPECT_NE(order.front().second, order.back().second);
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
    EXPECT_EQ(firstTime("ms"), "600ms");
    EXPECT_EQ(firstTime("s"), "0.600000s");
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
    EXPECT_EQ(j[1]["pitch"], "C5");
    EXPECT_EQ(j[0]["length_s"], 0.6);
    EXPECT_FALSE(j[0].contains("length_ms"));
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

TEST(Copy, CopiesAValidFileByteForByteAndWritesAnyOtherAnewAsAValidOne) {
    const std::string out = TmpPath("copy.mid");
    const Result r = Cli("copy " + Data("sample.mid") + " " + Quote(out));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Read    " + DataPath("cli/sample.mid") +
                         ": format 1, 2 tracks, 622 events, 2645 bytes\n"
                         "Wrote   " +
                         out +
                         ": 2645 bytes, loads again with 622 events\n"
                         "Result  the copy is byte for byte the same as the original\n");
    EXPECT_EQ(ReadFile(out), ReadFile(DataPath("cli/sample.mid")));
    Json j = ParseJson(Cli("copy " + Data("small.mid") + " " + Quote(out) + " --json"));
    EXPECT_EQ(j["identical"], true);
    EXPECT_TRUE(j["first_difference"].is_null());
    EXPECT_EQ(j["input"]["events"], 20);
    EXPECT_EQ(j["output"]["events"], 20);
    EXPECT_EQ(j["output"]["loads"], true);
    EXPECT_EQ(Cli("copy x y --sort").status, 2) << "copy keeps the file's order: no --sort";

    // What other readers take otherwise is left out or cut: the copy reads without a warning.
    for (const auto& [name, events] :
         std::map<std::string, int>{{"bytes_after_end_of_track.mid", 3},
                                    {"data_bytes_top_bit.mid", 4},
                                    {"header_length_eight.mid", 1},
                                    {"private_chunk_between_tracks.mid", 4},
                                    {"no_end_of_track.mid", 3}}) {
        const std::string in = Quote(DataPath("bad/" + name));
        const Json c = ParseJson(Cli("copy " + in + " " + Quote(out) + " --json"));
        EXPECT_EQ(c["identical"], false) << name;
        EXPECT_EQ(c["output"]["events"], events) << name;
        const Result again = Cli("events " + Quote(out) + " --strict");
        EXPECT_EQ(again.status, 0) << name << ": " << again.err;
        const Json mido = Mido(out);
        EXPECT_FALSE(mido.contains("error")) << name << ": " << mido;
    }
    const Result cut =
        Cli("copy " + Quote(DataPath("bad/bytes_after_end_of_track.mid")) + " " + Quote(out));
    EXPECT_TRUE(Contains(cut.out, "Result  the copy differs from byte 21 on (40 -> 34 bytes)\n"))
        << cut.out;

    const Result denied = Cli("copy " + Data("small.mid") + " /nonexistent/folder/out.mid");
    EXPECT_EQ(denied.status, 1);
    EXPECT_EQ(denied.err,
              "midifolio: /nonexistent/folder/out.mid: could not be written: No such file or "
              "directory\n");
}

// ------------------------------------------------------------------ pitch and names

TEST(Pitch, NamesNumbersAndFrequenciesConvert) {
    const Result name = Cli("pitch C#4");
    ASSERT_EQ(name.status, 0) << name.err;
    EXPECT_EQ(name.out,
              "Input       C#4 (read as a name)\n"
              "Pitch       C#4 (middle C, note 60, is C4)\n"
              "Note        61\n"
              "Frequency   277.183 Hz (equal temperament, A4 = 440 Hz)\n"
              "Numbered    1#\n"
              "Library     C#5, 277.200 Hz (CMidiFolio::GetPitchInfo: octaves from middle C = C5, "
              "a table of 12 rounded pitches)\n");
    Json number = ParseJson(Cli("pitch 60 --json"));
    EXPECT_EQ(number["pitch"], "C4");
    EXPECT_EQ(number["middle_c"], "C4");
    EXPECT_EQ(number["note"], 60);
    EXPECT_EQ(number["octave"], 4);
    EXPECT_EQ(number["numbered"], "1");
    EXPECT_NEAR(number["frequency"].get<double>(), 261.6255653, 1e-6);
    EXPECT_EQ(number["library"], Json::parse(R"({"name": "C5", "frequency": 261.6})"));
    Json hz = ParseJson(Cli("pitch 445hz --json"));
    EXPECT_EQ(hz["read_as"], "frequency");
    EXPECT_EQ(hz["pitch"], "A4");
    EXPECT_EQ(hz["note"], 69);
    EXPECT_DOUBLE_EQ(hz["frequency"].get<double>(), 440.0);
    EXPECT_NEAR(hz["cents"].get<double>(), 19.56, 0.01);
    EXPECT_TRUE(Contains(Cli("pitch 445hz").out, "; -19.6 cents from the input\n"));
    EXPECT_EQ(ParseJson(Cli("pitch 72 --json"))["numbered"], "1'");
    // Sharps, flats (b or B), doubled ones, E# and Cb across the octave's edge.
    for (const auto& [text, note] : std::map<std::string, int>{{"Db4", 61},
                                                               {"dB4", 61},
                                                               {"bb4", 70},
                                                               {"BB4", 70},
                                                               {"E#4", 65},
                                                               {"Cb4", 59},
                                                               {"B#3", 60},
                                                               {"C##4", 62},
                                                               {"Dbb4", 60},
                                                               {" G9 ", 127},
                                                               {"C-1", 0}}) {
        const Result r = Cli("pitch " + Quote(text));
        EXPECT_EQ(r.status, 0) << text << ": " << r.err;
        EXPECT_TRUE(Contains(r.out, "Note        " + std::to_string(note) + "\n")) << text << r.out;
        EXPECT_TRUE(Contains(r.out, "(read as a name)")) << text << r.out;
    }
    EXPECT_EQ(ParseJson(Cli("pitch Cb4 --json"))["pitch"], "B3");
}

TEST(Names, ProgramsDrumsAndControllersByNumberOrWholeTables) {
    EXPECT_EQ(Cli("names program 0 40 127").out,
              "  0  Acoustic Grand Piano\n 40  Violin\n127  Gunshot\n");
    EXPECT_EQ(Cli("names drum 36 42 27 87").out,
              " 36  C2    Bass Drum 1\n 42  F#2   Closed Hi-Hat\n 27  D#1   High Q\n"
              " 87  D#6   Open Surdo\n");
    EXPECT_EQ(Cli("names drum 36 --middle-c 5").out, " 36  C3    Bass Drum 1\n");
    // Controllers: their names alone in text, the library's type code in JSON.
    EXPECT_EQ(Cli("names controller 7 64 3").out,
              "  7  Channel Volume\n 64  Damper Pedal (Sustain)\n  3  Undefined\n");
    EXPECT_EQ(Lines(Cli("names program").out).size(), 128u);
    EXPECT_EQ(Lines(Cli("names drum").out).size(), 61u);
    EXPECT_EQ(Lines(Cli("names controller").out).size(), 128u);
    Json j = ParseJson(Cli("names controller 64 126 --json"));
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[0],
              Json::parse(R"j({"number": 64, "name": "Damper Pedal (Sustain)", "type": 2})j"));
    EXPECT_EQ(j[1]["type"], 7);
    EXPECT_EQ(ParseJson(Cli("names program 50 --json"))[0]["name"], "Synth Strings 1");
    // The numbers with a name are printed, the others reported.
    const Result some = Cli("names program 0 200 x 40");
    EXPECT_EQ(some.status, 1);
    EXPECT_EQ(some.out, "  0  Acoustic Grand Piano\n 40  Violin\n");
    EXPECT_EQ(some.err,
              "midifolio: no General MIDI program 200 (programs are 0..127)\n"
              "midifolio: 'x' is not a number\n");
    EXPECT_EQ(Cli("names drum 88").err,
              "midifolio: no General MIDI drum on note 88 (drums are notes 27..87)\n");
}

// The roll's own tests are in cli_roll_test.cpp.

// ------------------------------------------------------------------ scan

TEST(Scan, HundredsOfFilesWithBadOnesAmongThem) {
    // The corpus three times over, the refused files of tests/data/cli, and a file of another kind.
    const std::string root = MakeDir("scan");
    const std::vector<std::string> corpus = CorpusFiles();
    ASSERT_FALSE(corpus.empty());
    size_t expectLoaded = 0, expectRefused = 0;
    for (const std::string& name : corpus) {
        midifolio::score::ReadOptions options;
        options.notes = false;
        midifolio::score::ReadReport report;
        midifolio::score::Song::Load(DataPath("corpus/" + name), options, report);
        (report.ok() ? expectLoaded : expectRefused) += 3;
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
    for (const char* name : {"not_midi.mid", "truncated.mid", "bad_chunk.mid", "short_track.mid"}) {
        CopyFile(DataPath(std::string("cli/") + name), bad + "/" + name);
        ++expectRefused;
    }
    for (const char* name : {"format2.mid", "smpte.mid"}) {  // read, as formats 2 and SMPTE time
        CopyFile(DataPath(std::string("cli/") + name), bad + "/" + name);
        ++expectLoaded;
    }
    CopyFile(DataPath("cli/not_midi.mid"), bad + "/notes.txt");  // not a MIDI name: not scanned

    const Result csv = Cli("scan " + Quote(root) + " --jobs 3 --csv");
    ASSERT_EQ(csv.status, 0) << csv.err;
    const auto rows = Lines(csv.out);
    ASSERT_EQ(rows.size(), 1 + expectLoaded + expectRefused);
    EXPECT_EQ(rows[0],
              "file,status,message,cause,warnings,format,tracks,division,ticks,events,"
              "tempo_changes,channels,instruments,drums,notes,lowest_pitch,highest_pitch,"
              "duration_s,bars,programs,key_signatures,peak_polyphony");
    auto count = [&rows](const char* status) {
        return std::count_if(rows.begin(), rows.end(),
                             [&](auto& r) { return Contains(r, status); });
    };
    EXPECT_EQ(count(",ok,"), static_cast<long>(expectLoaded));
    EXPECT_EQ(count(",refused,"), static_cast<long>(expectRefused));
    EXPECT_TRUE(Contains(csv.out, bad + "/format2.mid,ok,,,0,2,1,480,")) << csv.out;
    EXPECT_TRUE(Contains(csv.out, bad + "/not_midi.mid,refused,not a MIDI file,\"the file starts "
                                        "with \"\"This\"\", not with a MIDI header "
                                        "(\"\"MThd\"\")\",0,,,"))
        << csv.out;
    EXPECT_FALSE(Contains(csv.out, "notes.txt"));
    EXPECT_TRUE(Contains(csv.err, "scanned with 3 jobs: " + std::to_string(expectLoaded) +
                                      " loaded, " + std::to_string(expectRefused) + " refused"))
        << csv.err;
    EXPECT_TRUE(Contains(csv.err, "  refused " + bad +
                                      "/truncated.mid: damaged: the file ends "
                                      "inside its header (after 10 bytes)\n"))
        << csv.err;
    EXPECT_TRUE(std::is_sorted(rows.begin() + 1, rows.end())) << "rows come in path order";
    // One job reads on the tool's own thread: the same rows.
    const Result one = Cli("scan " + Quote(root) + " --jobs 1 --csv");
    EXPECT_EQ(one.out, csv.out);
    EXPECT_TRUE(Contains(one.err, "scanned with 1 job: ")) << one.err;

    Json j = ParseJson(Cli("scan " + Quote(bad) + " " + Data("sample.mid") + " --json -j 2"));
    EXPECT_EQ(j["scanned"], 7);
    EXPECT_EQ(j["loaded"], 3);
    EXPECT_EQ(j["refused"], 4);
    EXPECT_EQ(j["jobs"], 2);
    EXPECT_EQ(j["files"][6]["file"], DataPath("cli/sample.mid"));
    ASSERT_EQ(j["files"][6]["instruments"].size(), 4u);
    EXPECT_EQ(j["files"][6]["instruments"][3], Json::parse(R"({"channel": 10, "program": 0,
        "bank_msb": 0, "bank_lsb": 0, "name": "Drums", "tracks": [2], "notes": 144,
        "lowest": 36, "highest": 49})"));
    EXPECT_EQ(j["files"][6]["drums"], 4);
}

TEST(Scan, MissingFoldersAreReportedAndTheRestIsScanned) {
    const Result r = Cli("scan /nonexistent/folder " + Data("sample.mid"));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "midifolio: /nonexistent/folder: no such file or folder")) << r.err;
    EXPECT_TRUE(Contains(r.out, "1 file scanned with 1 job: 1 loaded, 0 refused")) << r.out;
    EXPECT_TRUE(Contains(r.out, "ok       00:00:")) << r.out;
}

// ------------------------------------------------------------------ output, input and terminals

TEST(Cli, EveryWriteIsCheckedAndAClosedPipeEndsQuietly) {
    const std::string sample = Data("sample.mid");
    for (const std::string& args : std::vector<std::string>{
             "info " + sample, "info " + sample + " --json", "events " + sample,
             "events " + sample + " --json", "events " + sample + " --jsonl", "notes " + sample,
             "notes " + sample + " --csv", "notes " + sample + " --json", "voices " + sample,
             "scan " + sample, "names program", "pitch 60", "roll " + sample + " -o -",
             "csv " + sample, "copy " + sample + " -", "edit " + sample + " - --transpose 1",
             "merge " + sample + " -o -",
             "split " + sample + " -o " + Quote(MakeDir("split_full")) + " --json", "--help"}) {
        const Result r = Cli(args + " >/dev/full");
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_EQ(r.err, "midifolio: cannot write to standard output: No space left on device\n")
            << args;
    }
    const Result device = Cli("roll " + sample + " -o /dev/full");
    EXPECT_EQ(device.status, 1);
    EXPECT_EQ(device.err, "midifolio: /dev/full: could not be written: No space left on device\n");

    // A reader that stops early: no message, status 0, whatever is left unprinted.
    const std::string song = Quote(Song(250000)), status = TmpPath("status"), err = TmpPath("err");
    for (const std::string& args : std::vector<std::string>{
             "events " + song, "events " + song + " --json", "events " + song + " --jsonl",
             "notes " + song, "notes " + song + " --csv", "csv " + song, "copy " + song + " -",
             "roll " + song + " -o -", "edit " + song + " - --resample 96",
             "merge " + song + " " + song + " -o -"}) {
        const std::string out = Sh("{ " + kCli + " " + args + " 2>" + Quote(err) + "; echo $? >" +
                                   Quote(status) + "; } | head -c 10");
        EXPECT_EQ(out.size(), 10u) << args;
        EXPECT_EQ(Text(status), "0\n") << args;
        EXPECT_EQ(Text(err), "") << args;
    }
}

TEST(Cli, FilesAreReplacedWholeOrNotAtAll) {
    // A picture replaces its file with the file's permission bits, leaving nothing else behind.
    const std::string dir = MakeDir("atomic"), svg = dir + "/roll.svg";
    std::ofstream(svg) << "old";
    chmod(svg.c_str(), 0640);
    ASSERT_EQ(Cli("roll " + Data("small.mid") + " -o " + Quote(svg)).status, 0);
    struct stat st {};
    stat(svg.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(Text(svg).rfind("<?xml", 0), 0u);
    EXPECT_EQ(Sh("ls -A " + Quote(dir)), "roll.svg\n");

    // On a full disk every writer fails with the reason, and the old file stays as it was.
    int rc = -1;
    const std::string mount = Sh("mount -t tmpfs -o size=128k tmpfs " + Quote(dir) + " 2>&1", &rc);
    if (rc != 0) GTEST_SKIP() << "a small tmpfs cannot be mounted here (needs root): " << mount;
    const std::string song = Quote(Song(40000)), target = dir + "/out";
    std::ofstream(target) << "old";
    const std::string csv = TmpPath("song.csv");
    Sh(kCli + " csv " + song + " >" + Quote(csv));
    for (const std::string& args : std::vector<std::string>{
             "roll " + song + " -o " + Quote(target), "csv " + song + " -o " + Quote(target),
             "copy " + song + " " + Quote(target), "from-csv " + Quote(csv) + " " + Quote(target),
             "edit " + song + " " + Quote(target) + " --transpose 1",
             "merge " + song + " " + song + " -o " + Quote(target)}) {
        const Result r = Cli(args);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_EQ(r.err,
                  "midifolio: " + target + ": could not be written: No space left on device\n")
            << args;
        EXPECT_EQ(Text(target), "old") << args;
        EXPECT_EQ(Sh("ls -A " + Quote(dir)), "out\n") << args;
    }
    Sh("umount " + Quote(dir));
}

TEST(Cli, DashIsStandardInputAndStandardOutput) {
    const std::string path = DataPath("cli/sample.mid"), sample = Data("sample.mid");
    EXPECT_TRUE(Contains(Cli("info -", path).out, "File        standard input\nFormat      1, 2"));
    EXPECT_EQ(Cli("events - --jsonl", path).out, Cli("events " + sample + " --jsonl").out);
    EXPECT_EQ(Cli("csv -", path).out, Cli("csv " + sample).out);
    std::string roll = Cli("roll - -o -", path).out;  // titled "standard input"
    roll.replace(roll.find("standard input"), 14, "sample.mid");
    roll.replace(roll.find("standard input"), 14, "sample.mid");
    EXPECT_TRUE(roll == Cli("roll " + sample + " -o -").out);
    EXPECT_TRUE(Contains(Cli("scan -", path).out, "ok       00:00:30.715"));

    // copy - - : the song on stdout, the report on stderr; from-csv - - likewise.
    const Result copy = Cli("copy - - --json", path);
    EXPECT_TRUE(copy.out == Text(path) && Contains(copy.err, "\"file\": \"standard output\""))
        << copy.err;
    const std::string csv = TmpPath("sample.csv");
    Sh(kCli + " csv " + sample + " >" + Quote(csv));
    EXPECT_TRUE(Cli("from-csv - -", csv).out == Text(path));
    const Result refused = Cli("info -", DataPath("cli/not_midi.mid"));
    EXPECT_EQ(refused.err,
              "midifolio: standard input: not a MIDI file: the file starts with "
              "\"This\", not with a MIDI header (\"MThd\")\n");
}

TEST(Cli, UnreadableInputsGiveOneLineWithTheReason) {
    const std::string dir = MakeDir("inputs"), locked = dir + "/locked.mid", out = dir + "/o";
    CopyFile(DataPath("cli/small.mid"), locked);
    chmod(locked.c_str(), 0);
    const std::string prefix = Unprivileged();
    std::vector<std::pair<std::string, std::string> > inputs = {
        {dir, "Is a directory"}, {dir + "/missing.mid", "No such file or directory"}};
    if (!prefix.empty()) inputs.emplace_back(locked, "Permission denied");
    for (const auto& [path, reason] : inputs) {
        for (const std::string& sub : std::vector<std::string>{
                 "info F", "events F --json", "voices F", "copy F " + out, "roll F -o " + out,
                 "csv F", "from-csv F " + out, "edit F " + out, "split F -o " + dir}) {
            const std::string args =
                sub.substr(0, sub.find('F')) + Quote(path) + sub.substr(sub.find('F') + 1);
            const Result r = Cli(args, "/dev/null", prefix);
            EXPECT_EQ(r.status, 1) << args;
            EXPECT_EQ(r.err, "midifolio: " + path + ": " + reason + "\n") << args;
            EXPECT_EQ(r.out, "") << args;
        }
    }
    if (prefix.empty())
        GTEST_SKIP() << "running as root, and nobody cannot run the tool here (no setpriv, or "
                        "a folder on the way to it closed to others): nothing is unreadable";

    // scan reports a folder it cannot read and goes on with the others.
    const std::string sub = MakeDir("scan_locked");
    mkdir((sub + "/closed").c_str(), 0);
    CopyFile(DataPath("cli/small.mid"), sub + "/open.mid");
    const Result scan = Cli("scan " + Quote(sub) + " --csv", "/dev/null", prefix);
    EXPECT_EQ(scan.status, 1);
    EXPECT_TRUE(Contains(scan.err, "midifolio: " + sub + "/closed: Permission denied\n"))
        << scan.err;
    EXPECT_TRUE(Contains(scan.out, sub + "/open.mid,ok,")) << scan.out;
}

TEST(Cli, PluralsAndEmptySelectionsAreSaid) {
    const std::string onePath =
        WriteFile("one.mid", Smf(0, 96,
                                 {Cat({Vlq(0), B({0x90, 60, 99}), Vlq(96), B({0x80, 60, 0}), Vlq(0),
                                       B({0xFF, 0x2F, 0})})}));
    const std::string one = Quote(onePath);
    EXPECT_TRUE(Contains(Cli("info " + one).out, "Format      0, 1 track, 96 ticks"));
    EXPECT_TRUE(Contains(Cli("copy " + one + " " + Quote(TmpPath("one_copy.mid"))).out,
                         "format 0, 1 track, 3 events, 34 bytes"));
    EXPECT_TRUE(Contains(Cli("roll " + one + " -o " + Quote(TmpPath("one.svg"))).out,
                         ": 1 note and 0 drum strokes,"));
    EXPECT_EQ(Cli("voices " + one + " -l 1").out, "No moment needs more than 1 voice.\n");
    EXPECT_TRUE(Contains(Cli("voices " + Data("small.mid") + " -l 1").out,
                         "1 moment needs more than 1 voice (at most 4):"));

    // One tick per quarter note, a bar of one beat, a time signature of one clock per click.
    const std::string tick = Quote(WriteFile(
        "one_tick.mid", Smf(0, 1,
                            {Cat({Vlq(0), B({0xFF, 0x58, 4, 1, 2, 1, 1}), Vlq(0), B({0x90, 60, 99}),
                                  Vlq(1), B({0x80, 60, 0}), Vlq(0), B({0xFF, 0x2F, 0})})})));
    const std::string info = Cli("info " + tick).out;
    EXPECT_TRUE(Contains(info, "Format      0, 1 track, 1 tick per quarter note\n")) << info;
    EXPECT_TRUE(Contains(info, "(1 tick, 1 bar, ")) << info;
    EXPECT_TRUE(Contains(Cli("events " + tick).out,
                         "time signature 1/4 (1 clock per click, 1 32nd per quarter)"));
    EXPECT_EQ(Cli("events " + tick + " --from 1:2").err,
              "midifolio: --from: bar 1 has 1 beat (1/4), not 2\n");
    EXPECT_EQ(Cli("events " + tick + " --from 1:1:1").err,
              "midifolio: --from: a beat of bar 1 has 1 tick (0..0), not 1\n");
    EXPECT_TRUE(Contains(
        Cli("edit " + one + " " + Quote(TmpPath("one_edit.mid")) + " --quantize 1 --resample 1")
            .out,
        "Edit    quantized to 1 tick\nEdit    resampled to 1 tick per quarter note\n"));
    for (const auto& [data, said] :
         {std::pair<const char*, const char*>{"1, 5, 6", "the length says 1 byte, 2 follow"},
          {"2, 5", "the length says 2 bytes, 1 follows"}}) {
        const std::string text = std::string(
                                     "0, 0, Header, 0, 1, 96\n1, 0, Start_track\n"
                                     "1, 0, Sequencer_specific, ") +
                                 data + "\n1, 0, End_track\n0, 0, End_of_file\n";
        const std::string csv = WriteFile("lengths.csv", Bytes(text.begin(), text.end()));
        const Result r = Cli("from-csv " + Quote(csv) + " " + Quote(TmpPath("lengths.mid")));
        EXPECT_EQ(r.err, "midifolio: " + csv + ", line 3: Sequencer_specific: " + said + "\n");
    }
    // Sizes in the units --max-memory takes, bytes below one KiB.
    EXPECT_EQ(Cli("voices " + one + " --max-memory 200").err,
              "midifolio: " + onePath +
                  ": too large: the library's own classes would take about 226 B, more than the "
                  "memory budget of 200 B (--max-memory)\n");
    EXPECT_TRUE(Contains(Cli("voices " + Data("sample.mid") + " --max-memory 4K").err,
                         " KiB, more than the memory budget of 4.0 KiB (--max-memory)\n"));

    for (const std::string args : {"--tracks 5", "--from 5s --to 1s", "--type sysex"}) {
        const Result text = Cli("events " + Data("small.mid") + " " + args);
        EXPECT_EQ(text.status, 0) << args;
        EXPECT_EQ(text.out, "") << args;
        EXPECT_EQ(text.err, "midifolio: no events selected (the song has 2 tracks)\n") << args;
        EXPECT_EQ(Cli("events " + Data("small.mid") + " " + args + " --json").out, "[]\n");
        EXPECT_EQ(Cli("events " + Data("small.mid") + " " + args + " --jsonl").out, "");
    }
}

TEST(Events, StreamWithTheMemoryOfTheSongAlone) {
    // One object per line, the same objects as the array.
    const Json array = ParseJson(Cli("events " + Data("sample.mid") + " --time measure --json"));
    const auto lines = Lines(Cli("events " + Data("sample.mid") + " --time measure --jsonl").out);
    ASSERT_EQ(lines.size(), array.size());
    for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(Json::parse(lines[i]), array[i]) << i;

    int rc = -1;
    Sh("/usr/bin/time -f %M true 2>/dev/null", &rc);
    if (rc != 0) GTEST_SKIP() << "GNU time (/usr/bin/time) is not installed";
    auto peakKb = [](const std::string& args) {
        const std::string log = TmpPath("time.txt");
        // AddressSanitizer's quarantine holds freed memory back (a sanitizer build): not here.
        Sh("ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=0 /usr/bin/time -o " +
           Quote(log) + " -f %M " + kCli + " " + args + " >/dev/null 2>&1");
        return std::stol(Text(log));
    };
    const std::string song = Quote(Song(250000));
    // The loaded song alone: one event printed.
    const long song1 = peakKb("events " + song + " --limit 1");
    for (const std::string& args :
         std::vector<std::string>{"events " + song + " --jsonl", "csv " + song}) {
        const long used = peakKb(args);
        EXPECT_LE(used, song1 * 5 / 4)
            << args << ": " << used << " KB, the song " << song1 << " KB";
    }
}

TEST(Cli, ProgressBarMovesByBytesFitsTheTerminalAndNamesTheFile) {
    int rc = -1;
    Sh("command -v script >/dev/null", &rc);
    if (rc != 0) GTEST_SKIP() << "script(1) from util-linux is not installed";
    // A terminal of 40 columns ($COLUMNS: script's terminal has no size of its own); a song of
    // one 8 MB (7.6 MiB) track, which a bar by tracks would show at 0 and at the end only.
    const std::string log = TmpPath("pty.log"), corpus = DataPath("corpus");
    const std::string song = WriteFile("format0.mid", benchgen::FileFormat0(8));
    Sh("COLUMNS=40 script -qfec \"" + kCli + " scan '" + corpus + "' --jobs 1 >/dev/null; " + kCli +
       " info '" + song + "' >/dev/null\" " + Quote(log) + " </dev/null");
    std::string screen = Text(log);
    std::replace(screen.begin(), screen.end(), '\r', '\n');
    int named = 0, analysing = 0;
    std::set<std::string> loaded;  // the byte counts shown
    for (std::string line : Lines(screen)) {
        for (size_t at; (at = line.find("\033[K")) != std::string::npos;) line.erase(at, 3);
        if (line.rfind("Script ", 0) == 0) continue;
        const auto columns =
            std::count_if(line.begin(), line.end(), [](char c) { return (c & 0xC0) != 0x80; });
        EXPECT_LE(columns, 39) << line;
        named += Contains(line, "scanning [") && Contains(line, ".mid");
        if (Contains(line, "reading [") && Contains(line, "/7.6 MiB"))
            loaded.insert(line.substr(line.find("] ") + 2, line.find(" MiB") - line.find("] ")));
        analysing += Contains(line, "analysing [") && Contains(line, " s ");
    }
    EXPECT_GT(named, 0) << screen;
    EXPECT_GE(loaded.size(), 4u) << screen;
    EXPECT_TRUE(loaded.count("7.6/7.6 M")) << screen;
    EXPECT_GT(analysing, 0) << screen;
}

#endif  // MIDIFOLIO_CLI
