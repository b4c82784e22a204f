// How the tool reads a song, run as a real program: what --recover keeps of a damaged file and
// says it left out, --max-memory refusing a song as too large, --middle-c in every pitch name,
// and the control characters of a file (in its texts and in its name) that never reach a
// terminal raw.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "test_support.h"

using namespace testsupport;

#ifndef MIDIFOLIO_CLI
TEST(CliRead, IsNotBuilt) {
    GTEST_SKIP() << "configure with MIDIFOLIO_BUILD_CLI=ON to test the tool";
}
#else

#include "cli_support.h"

using namespace clitest;

namespace {

// A song of two tracks whose second is damaged at tick 192: after a sysex no running status is
// in force, and a data byte stands where a status byte belongs. Before it, one note in the
// first track and two in the second; after it, another note the reader cannot reach.
struct DamagedSong {
    std::string path;
    long damage = 0;   // the byte of the file where the damage lies
    long leftOut = 0;  // bytes from there to the end of the track's chunk
};

DamagedSong Damaged() {
    const Bytes first =
        Cat({Vlq(0), B({0xFF, 0x51, 3, 0x07, 0xA1, 0x20}), Vlq(0), B({0x90, 60, 100}), Vlq(96),
             B({0x80, 60, 0}), Vlq(0), B({0xFF, 0x2F, 0})});
    const Bytes good =
        Cat({Vlq(0), B({0x91, 64, 90}), Vlq(96), B({0x81, 64, 0}), Vlq(0), B({0x91, 67, 90}),
             Vlq(96), B({0x81, 67, 0}), Vlq(0), B({0xF0, 1, 0xF7})});
    const Bytes bad =
        Cat({B({0, 0x3C, 0x40}), Vlq(96), B({0x81, 0x3C, 0}), Vlq(0), B({0xFF, 0x2F, 0})});
    DamagedSong s;
    s.path = WriteFile("damaged.mid", Smf(1, 96, {first, Cat({good, bad})}));
    // Header, the first track's chunk, the second's chunk header and its good events: the
    // event of the stray data byte starts there.
    s.damage = static_cast<long>(14 + 8 + first.size() + 8 + good.size());
    s.leftOut = static_cast<long>(bad.size());
    return s;
}

const std::string kTooLarge =
    ": too large: the file holds 2,645 bytes, more than the memory "
    "budget allows (--max-memory)\n";

}  // namespace

// ------------------------------------------------------------------ --recover

TEST(CliRecover, KeepsWhatComesBeforeTheDamageAndSaysWhatWasLeftOut) {
    const DamagedSong s = Damaged();
    const std::string file = Quote(s.path);
    const std::string why = "track 2 at byte " + std::to_string(s.damage) +
                            ": a data byte stands where a status byte belongs (no running status "
                            "is in force)";
    const Result refused = Cli("notes " + file + " --csv");
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "midifolio: " + s.path + ": damaged: " + why +
                               " (--recover reads what comes before it)\n");
    EXPECT_EQ(refused.out, "");

    const std::string recovered = "midifolio: " + s.path + ": recovered: left out " + why +
                                  "; the " + std::to_string(s.leftOut) +
                                  " bytes from there on are left out\n";
    const Result notes = Cli("notes " + file + " --csv --recover");
    EXPECT_EQ(notes.status, 0);
    EXPECT_EQ(notes.err, recovered);
    EXPECT_EQ(notes.out,
              "track,channel,program,pitch,velocity,start_tick,end_tick,start_s,end_s\n"
              "1,1,0,60,100,0,96,0.000000000,0.500000000\n"
              "2,2,0,64,90,0,96,0.000000000,0.500000000\n"
              "2,2,0,67,90,96,192,0.500000000,1.000000000\n");
    // Every event before the damage: four of the first track, five of the second.
    const Result events = Cli("events " + file + " --json --recover");
    EXPECT_EQ(events.err, recovered);
    const Json list = ParseJson(events.out);
    ASSERT_EQ(list.size(), 9u) << events.out;
    EXPECT_EQ(list[8]["type"], "sysex");
    EXPECT_EQ(list[8]["tick"], 192);
    for (const char* sub : {"info", "csv", "voices", "roll -o -"}) {
        const Result r = Cli(std::string(sub) + " " + file + " --recover");
        EXPECT_EQ(r.status, 0) << sub;
        EXPECT_EQ(r.err, recovered) << sub;
        EXPECT_NE(r.out, "") << sub;
    }
    // scan counts what was left out among the warnings.
    const Json scan = ParseJson(Cli("scan " + file + " --json --recover").out);
    EXPECT_EQ(scan["files"][0]["status"], "ok");
    EXPECT_EQ(scan["files"][0]["notes"], 3);
    EXPECT_EQ(scan["files"][0]["warnings"],
              Json::array({"left out: " + why + "; the " + std::to_string(s.leftOut) +
                           " bytes from there on are left out"}));

    // The copy of what was kept is a valid file: mido reads its notes, the tool without a word.
    const std::string copy = TmpPath("recovered.mid");
    EXPECT_EQ(Cli("copy " + file + " " + Quote(copy) + " --recover").status, 0);
    const Result again = Cli("notes " + Quote(copy) + " --csv --strict");
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.err, "");
    EXPECT_EQ(again.out, notes.out);
    if (!HaveMido()) GTEST_SKIP() << "python3-mido is not installed";
    const Json mido = Mido(copy);
    ASSERT_FALSE(mido.contains("error")) << mido;
    std::vector<int> pitches;
    for (const Json& on : MidoMessages(mido, "note_on"))
        if (on["velocity"] > 0) pitches.push_back(on["note"]);
    EXPECT_EQ(pitches, (std::vector<int>{60, 64, 67}));
}

TEST(CliRecover, AFileCutInsideItsHeaderHasNothingToRecover) {
    const Result r = Cli("info " + Data("truncated.mid") + " --recover");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "midifolio: " + DataPath("cli/truncated.mid") +
                         ": damaged: the file ends inside its header (after 10 bytes)\n");
    // A header that declares more tracks than follow: the tracks there are.
    const Result missing =
        Cli("events " + Quote(DataPath("bad/missing_last_track.mid")) + " --recover --json");
    EXPECT_EQ(missing.status, 0);
    EXPECT_EQ(missing.err, "midifolio: " + DataPath("bad/missing_last_track.mid") +
                               ": recovered: left out the header declares 3 tracks but the file "
                               "holds 2\n");
    EXPECT_EQ(ParseJson(missing.out).size(), 4u);
}

// ------------------------------------------------------------------ --max-memory

TEST(CliMemory, ABudgetTooSmallRefusesTheSongAsTooLarge) {
    const std::string dir = MakeDir("too_large"), sample = DataPath("cli/sample.mid");
    for (const char* args :
         {"info F", "info F --json", "events F", "notes F --csv", "voices F", "roll F -o D/r.svg",
          "csv F -o D/s.csv", "copy F D/c.mid", "edit F D/e.mid --transpose 1",
          "merge F F -o D/m.mid", "split F -o D"}) {
        std::string line = args;
        for (size_t at; (at = line.find('F')) != std::string::npos;) line.replace(at, 1, sample);
        for (size_t at; (at = line.find("D/")) != std::string::npos;) line.replace(at, 1, dir);
        if (line.back() == 'D') line.replace(line.size() - 1, 1, dir);
        const Result r = Cli(line + " --max-memory 1K");
        EXPECT_EQ(r.status, 1) << line;
        EXPECT_EQ(r.err, "midifolio: " + sample + kTooLarge) << line;
        EXPECT_EQ(r.out, "") << line;
        EXPECT_EQ(Cli(line + " --max-memory 1G").status, 0) << line;
        Sh("rm -f " + Quote(dir) + "/*");
    }
    // The library's own classes need more than the reader: voices shows their answers.
    const Result voices = Cli("voices " + Quote(sample) + " --max-memory 4K");
    EXPECT_EQ(voices.status, 1);
    EXPECT_EQ(
        voices.err.rfind(
            "midifolio: " + sample + ": too large: the library's own classes would take about ", 0),
        0u)
        << voices.err;
    EXPECT_TRUE(Contains(voices.err, " (--max-memory)\n")) << voices.err;
    // scan refuses the file, names the cause, and goes on.
    const Result scan = Cli("scan " + Quote(sample) + " --csv --max-memory 1k");
    EXPECT_EQ(scan.status, 0);
    EXPECT_EQ(Lines(scan.out).at(1), sample +
                                         ",refused,too large,\"the file holds 2,645 bytes, more "
                                         "than the memory budget allows\",0,,,,,,,,,,,,,,,,,");
    EXPECT_EQ(Cli("info " + Quote(sample) + " --max-memory 1.5GiB").status, 0);
}

// ------------------------------------------------------------------ --middle-c

TEST(CliMiddleC, EveryPitchNameFollowsTheOctaveOfMiddleC) {
    for (int c = 3; c <= 5; ++c) {
        const std::string o = " --middle-c " + std::to_string(c);
        auto name = [c](const char* letter, int octaveFromMiddle) {
            return letter + std::to_string(c + octaveFromMiddle);
        };
        const Result pitch = Cli("pitch 60" + o);
        EXPECT_TRUE(Contains(pitch.out, "Pitch       " + name("C", 0) + " (middle C, note 60, is " +
                                            name("C", 0) + ")\n"))
            << pitch.out;
        EXPECT_TRUE(Contains(pitch.out, "(equal temperament, " + name("A", 0) + " = 440 Hz)"))
            << pitch.out;
        EXPECT_TRUE(Contains(Cli("pitch " + name("E", 1) + o).out, "Note        76\n")) << c;
        EXPECT_TRUE(
            Contains(Cli("info " + Data("small.mid") + o).out,
                     "Notes       5, " + name("C", -2) + " (36) .. " + name("C", 1) + " (72)\n"))
            << c;
        EXPECT_TRUE(Contains(Cli("notes " + Data("small.mid") + o).out,
                             "  " + name("C", 0) + " (60)    100  40 Violin\n"))
            << c;
        EXPECT_TRUE(Contains(Cli("events " + Data("small.mid") + o).out,
                             "Bass Drum 1 " + name("C", -2) + " (36) vel 100"))
            << c;
        const Json events =
            ParseJson(Cli("events " + Data("small.mid") + " --type noteon --json" + o).out);
        EXPECT_EQ(events[0]["pitch"], name("C", 0)) << c;
        const Json info = ParseJson(Cli("info " + Data("small.mid") + " --json" + o).out);
        EXPECT_EQ(info["instruments"][0]["high"], name("C", 1)) << c;
        EXPECT_EQ(info["drums"][1]["pitch"], "F#" + std::to_string(c - 2)) << c;
        EXPECT_TRUE(Contains(Cli("names drum 36" + o).out, name("C", -2) + "    Bass Drum 1"));
    }
    EXPECT_EQ(Cli("pitch 60").out, Cli("pitch 60 --middle-c 4").out);
}

// ------------------------------------------------------------------ control characters

TEST(CliEscapes, ControlCharactersOfAFileNeverReachTheTerminalRaw) {
    // A lyric that would clear the screen and holds a NUL, a track name that rings the bell,
    // bytes after the end of track (a warning naming the file), in a file whose name holds an
    // escape; and a refused file of such a name.
    const Bytes track = Cat({Vlq(0), B({0xFF, 0x05, 6, 0x1B, '[', '2', 'J', 0, 'x'}), Vlq(0),
                             B({0xFF, 0x03, 3, 'a', 0x07, 'b'}), Vlq(0), B({0x90, 60, 64}), Vlq(96),
                             B({0x80, 60, 64}), Vlq(0), B({0xFF, 0x2F, 0, 0x42})});
    const std::string dir = MakeDir("escapes");
    const std::string name = dir + "/song\x1b[2J\x07.mid", bad = dir + "/bad\x1b[1m.mid";
    const Bytes song = Smf(0, 96, {track});
    std::ofstream(name, std::ios::binary)
        .write(reinterpret_cast<const char*>(song.data()),
               static_cast<std::streamsize>(song.size()));
    std::ofstream(bad) << "not a song\n";
    std::ofstream(dir + "/line\nbreak.mid") << "not a song either\n";
    const std::string f = Quote(name), out = MakeDir("escapes_out");
    const std::vector<std::string> commands = {
        "info " + f,
        "events " + f,
        "notes " + f,
        "voices " + f,
        "scan " + Quote(dir),
        "scan " + Quote(dir) + " --csv",
        "csv " + f,
        "copy " + f + " " + Quote(out + "/copy\x1b.mid"),
        "edit " + f + " " + Quote(out + "/edit\x1b.mid") + " --transpose 1",
        "roll " + f + " -o " + Quote(out + "/roll.svg"),
        "split " + f + " -o " + Quote(out),
        "merge " + f + " " + f + " -o " + Quote(out + "/merge\x1b.mid"),
        "info " + Quote(bad),
        "info " + Quote(dir + "/missing\x1b.mid"),
        "copy " + f + " " + Quote(out + "/none\x07/x.mid")};
    for (const std::string& args : commands) {
        const Result r = Cli(args);
        EXPECT_FALSE(HasRawControls(r.out)) << args << "\n" << r.out;
        EXPECT_FALSE(HasRawControls(r.err)) << args << "\n" << r.err;
        EXPECT_NE(r.out + r.err, "") << args;
    }
    // Shown escaped: the lyric in text, in midicsv's octal escapes in CSV; kept whole in JSON.
    EXPECT_TRUE(Contains(Cli("events " + f).out, "lyric \"\\x1b[2J\\x00x\"\n"));
    EXPECT_TRUE(Contains(Cli("info " + f).out, "a\\x07b\n"));
    EXPECT_TRUE(Contains(Cli("info " + f).err, "midifolio: " + dir +
                                                   "/song\\x1b[2J\\x07.mid: "
                                                   "warning: track 1 at byte 51: "));
    EXPECT_TRUE(Contains(Cli("csv " + f).out, "1, 0, Lyric_t, \"\\033[2J\\000x\"\n"));
    // One row a file: a line break in a name does not start a row of its own.
    const std::vector<std::string> rows = Lines(Cli("scan " + Quote(dir) + " --csv").out);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[2].rfind(dir + "/line\\nbreak.mid,refused,not a MIDI file,", 0), 0u) << rows[2];
    EXPECT_EQ(rows[3].rfind(dir + "/song\\x1b[2J\\x07.mid,ok,", 0), 0u) << rows[3];
    const Json events = ParseJson(Cli("events " + f + " --json").out);
    EXPECT_EQ(events[0]["text"], std::string("\x1b[2J\0x", 6));
    EXPECT_EQ(events[1]["text"],
              "a\x07"
              "b");
    for (const std::string& args : {"info " + f + " --json", "scan " + Quote(dir) + " --json",
                                    "events " + f + " --jsonl", "notes " + f + " --json"}) {
        const Result r = Cli(args);
        EXPECT_FALSE(HasRawControls(r.out)) << args;
        EXPECT_FALSE(HasRawControls(r.err)) << args;
        EXPECT_FALSE(
            ParseJson(args.find("--jsonl") == std::string::npos ? r.out : Lines(r.out).at(0))
                .is_discarded())
            << args;
    }
}

namespace {

// A file that can be opened by the name a JSON answer gives.
bool Opens(const std::string& path) {
    return std::ifstream(path, std::ios::binary).good();
}

// A song in a file whose name rings the bell, turns on bold and breaks the line; `shown` is
// that name as text output escapes it.
struct OddName {
    std::string dir, path, shown;
};

OddName OddlyNamedSong(const std::string& folder) {
    OddName s;
    s.dir = MakeDir(folder);
    s.path = s.dir + "/bell\x07there\x1b[1m\n.mid";
    s.shown = s.dir + "/bell\\x07there\\x1b[1m\\n.mid";
    Sh("cp " + Data("small.mid") + " " + Quote(s.path));
    return s;
}

}  // namespace

TEST(CliEscapes, JsonGivesTheNamesOfTheFilesReadAsGivenAndTextEscapesThem) {
    const OddName song = OddlyNamedSong("json_names_read");
    ASSERT_TRUE(Opens(song.path));
    const std::string f = Quote(song.path);
    for (const char* command : {"info", "voices"}) {
        const Result json = Cli(std::string(command) + " " + f + " --json");
        ASSERT_EQ(json.status, 0) << command << ": " << json.err;
        EXPECT_EQ(ParseJson(json.out)["file"], song.path) << command;
    }
    EXPECT_TRUE(Contains(Cli("info " + f).out, "File        " + song.shown + "\n"));
    const Json scan = ParseJson(Cli("scan " + Quote(song.dir) + " --json").out);
    ASSERT_EQ(scan["files"].size(), 1u) << scan;
    EXPECT_EQ(scan["files"][0]["file"], song.path);
    EXPECT_TRUE(Opens(scan["files"][0]["file"]));
    const std::string text = Cli("scan " + Quote(song.dir)).out;
    EXPECT_TRUE(Contains(text, "  " + song.shown + "\n")) << text;
    EXPECT_FALSE(HasRawControls(text));
    EXPECT_EQ(
        Lines(Cli("scan " + Quote(song.dir) + " --csv").out).at(1).rfind(song.shown + ",ok,", 0),
        0u);
    // Standard input keeps its name.
    EXPECT_EQ(ParseJson(Cli("info - --json", song.path).out)["file"], "standard input");
}

TEST(CliEscapes, JsonGivesTheNamesOfTheFilesWrittenAsGivenAndTextEscapesThem) {
    const OddName song = OddlyNamedSong("json_names_written");
    const std::string f = Quote(song.path);
    const std::string out = song.dir + "/out\x07";
    ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
    const std::string shownOut = song.dir + "/out\\x07";
    const std::string copy = out + "/copy\x1b.mid", edit = out + "/edit\t.mid",
                      merge = out + "/merge\r.mid", csv = out + "/song\x7f.csv",
                      built = out + "/built\x01.mid", roll = out + "/roll\x02.svg";

    Json j = ParseJson(Cli("copy " + f + " " + Quote(copy) + " --json").out);
    EXPECT_EQ(j["input"]["file"], song.path);
    EXPECT_EQ(j["output"]["file"], copy);
    EXPECT_TRUE(Contains(Cli("copy " + f + " " + Quote(copy)).out,
                         "Wrote   " + shownOut + "/copy\\x1b.mid: "));
    // With the copy on standard output, the report goes to stderr.
    j = ParseJson(Cli("copy " + f + " - --json").err);
    EXPECT_EQ(j["output"]["file"], "standard output");
    j = ParseJson(Cli("copy - " + Quote(copy) + " --json", song.path).out);
    EXPECT_EQ(j["input"]["file"], "standard input");

    j = ParseJson(Cli("edit " + f + " " + Quote(edit) + " --transpose 1 --json").out);
    EXPECT_EQ(j["input"], song.path);
    EXPECT_EQ(j["output"], edit);
    const Result edited = Cli("edit " + f + " " + Quote(edit) + " --transpose 1");
    EXPECT_TRUE(Contains(edited.out, "Read    " + song.shown + ": ")) << edited.out;
    EXPECT_TRUE(Contains(edited.out, "Wrote   " + shownOut + "/edit\\t.mid: ")) << edited.out;

    j = ParseJson(Cli("merge " + f + " " + f + " -o " + Quote(merge) + " --json").out);
    EXPECT_EQ(j["output"], merge);
    EXPECT_TRUE(Contains(Cli("merge " + f + " " + f + " -o " + Quote(merge)).out,
                         " into " + shownOut + "/merge\\r.mid: "));

    j = ParseJson(Cli("split " + f + " -o " + Quote(out) + " --json").out);
    ASSERT_FALSE(j.empty()) << j;
    for (const Json& part : j) {
        const std::string file = part["file"];
        EXPECT_EQ(file.rfind(out + "/bell\x07there\x1b[1m\n-", 0), 0u) << file;
        EXPECT_TRUE(Opens(file)) << file;
    }

    ASSERT_EQ(Cli("csv " + f + " -o " + Quote(csv)).status, 0);
    j = ParseJson(Cli("from-csv " + Quote(csv) + " " + Quote(built) + " --json").out);
    EXPECT_EQ(j["input"], csv);
    EXPECT_EQ(j["output"], built);
    EXPECT_TRUE(Contains(Cli("from-csv " + Quote(csv) + " " + Quote(built)).out,
                         "Wrote " + shownOut + "/built\\x01.mid: "));

    j = ParseJson(Cli("roll " + f + " -o " + Quote(roll) + " --json").out);
    EXPECT_EQ(j["file"], song.path);
    EXPECT_EQ(j["output"], roll);
    EXPECT_TRUE(Opens(j["output"]));
    EXPECT_TRUE(Contains(Cli("roll " + f + " -o " + Quote(roll)).out,
                         "Wrote " + shownOut + "/roll\\x02.svg: "));
}

TEST(CliEscapes, RenderGivesTheNamesAsGivenInJson) {
    const std::string font = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    if (!std::ifstream(font).good()) GTEST_SKIP() << font << " is not installed";
    const OddName song = OddlyNamedSong("json_names_render");
    const std::string wav = song.dir + "/sound\x07.wav";
    const Result r =
        Cli("render " + Quote(song.path) + " -o " + Quote(wav) + " --json --soundfont " + font);
    ASSERT_EQ(r.status, 0) << r.err;
    const Json j = ParseJson(r.out);
    EXPECT_EQ(j["file"], song.path);
    EXPECT_EQ(j["output"], wav);
    EXPECT_TRUE(Opens(j["output"]));
    EXPECT_TRUE(Contains(
        Cli("render " + Quote(song.path) + " -o " + Quote(wav) + " --soundfont " + font).out,
        "Wrote " + song.dir + "/sound\\x07.wav: "));
}

#endif  // MIDIFOLIO_CLI
