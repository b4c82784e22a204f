// The tool's exact view, run as a real program: notes and durations against python3-mido on
// the files of tests/data, bars and seconds of a song in 3/8 with a change of meter and tempo,
// times that go back in as --from and --to, and scan's summary.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "generators.h"
#include "test_support.h"

using namespace testsupport;
using Json = nlohmann::json;

#ifndef MIDIFOLIO_CLI
TEST(Exact, IsNotBuilt) {
    GTEST_SKIP() << "configure with MIDIFOLIO_BUILD_CLI=ON to test the tool";
}
#else

namespace {

// A shell command's output (and exit status).
std::string Sh(const std::string& command, int* status = nullptr) {
    return testsupport::Run(command, status);
}

std::string Quote(const std::string& s) {
    return "'" + s + "'";
}

struct Result {
    int status = -1;
    std::string out;
};

// `midifolio ARGS`, stderr joined to stdout when `err`.
Result Cli(const std::string& args, bool err = false) {
    Result r;
    r.out =
        Sh(std::string(MIDIFOLIO_CLI) + " " + args + (err ? " 2>&1" : " 2>/dev/null"), &r.status);
    return r;
}

Json JsonOf(const std::string& args) {
    return Json::parse(Cli(args).out, nullptr, false);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> Split(const std::string& line, char sep) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string f; std::getline(in, f, sep);) fields.push_back(f);
    return fields;
}

std::vector<std::string> MidiFiles() {
    return Lines(Sh("find " + Quote(DataPath("")) + " -name '*.mid' | sort"));
}

// A song in 3/8 at 120 BPM for two bars, then in 2/4 at 240 BPM from tick 1440; D major from
// bar 2; four violin notes (a flute from tick 2400) ending at tick 2880. Bars start at ticks 0,
// 720, 1440 and 2400; the end lies 2.25 s in.
std::string ThreeEight() {
    const Bytes conductor =
        Cat({Vlq(0), B({0xFF, 0x58, 4, 3, 3, 24, 8}), Vlq(0), B({0xFF, 0x51, 3, 0x07, 0xA1, 0x20}),
             Vlq(720), B({0xFF, 0x59, 2, 2, 0}), Vlq(720), B({0xFF, 0x58, 4, 2, 2, 24, 8}), Vlq(0),
             B({0xFF, 0x51, 3, 0x03, 0xD0, 0x90}), Vlq(1440), B({0xFF, 0x2F, 0})});
    const Bytes tune =
        Cat({Vlq(0),   B({0xC0, 40}),     Vlq(0),   B({0x90, 60, 90}), Vlq(240), B({0x80, 60, 0}),
             Vlq(480), B({0x90, 62, 91}), Vlq(240), B({0x80, 62, 0}),  Vlq(720), B({0x90, 64, 92}),
             Vlq(240), B({0x80, 64, 0}),  Vlq(240), B({0xC0, 73}),     Vlq(240), B({0x90, 67, 93}),
             Vlq(480), B({0x80, 67, 0}),  Vlq(0),   B({0xFF, 0x2F, 0})});
    return WriteFile("three_eight.mid", Smf(1, 480, {conductor, tune}));
}

}  // namespace

// ------------------------------------------------------------------ against python3-mido

TEST(Notes, AgreeWithMidoOnEveryFileBothRead) {
    // Per file: the reference's notes (track and channel from 0), or nothing when mido refuses.
    const std::vector<std::string> files = MidiFiles();
    std::string list;
    for (const std::string& f : files) list += " " + Quote(f);
    std::map<std::string, std::optional<std::vector<std::string> > > mido;
    std::string current;
    for (const std::string& line :
         Lines(Sh("/usr/bin/python3 " + DataPath("../tools/mido_notes.py") + list))) {
        if (line.rfind("# ", 0) == 0) {
            current = line.substr(2, line.find(" ERROR ") - 2);
            if (line.find(" ERROR ") == std::string::npos) mido[current].emplace();
        } else {
            mido[current]->push_back(line);
        }
    }
    // Files mido reads and the tool refuses, and why; with --recover the tool reads the second.
    const std::map<std::string, std::string> midoOnly = {
        {"bad/format_ffff.mid", "format 65535: only formats 0, 1 and 2 exist"},
        {"bad/many_tracks_declared.mid", "the header declares 65,535 tracks, the file holds 1"}};
    int compared = 0;
    for (const std::string& file : files) {
        const std::string name = file.substr(DataPath("").size());
        Result r = Cli("notes " + Quote(file) + " --csv");
        if (r.status != 0 && mido[file]) {
            EXPECT_EQ(midoOnly.count(name), 1u) << name << ": mido reads it, the tool does not";
            r = Cli("notes " + Quote(file) + " --csv --recover");
        }
        if (r.status != 0 || !mido[file]) continue;
        const std::vector<std::string> rows = Lines(r.out);
        ASSERT_EQ(rows.at(0),
                  "track,channel,program,pitch,velocity,start_tick,end_tick,start_s,end_s");
        bool same = rows.size() == mido[file]->size() + 1;
        for (size_t i = 1; same && i < rows.size(); ++i) {
            const std::vector<std::string> ours = Split(rows[i], ',');
            const std::vector<std::string> theirs = Split((*mido[file])[i - 1], ' ');
            same = ours.size() == 9 && theirs.size() == 9;
            for (size_t k = 0; same && k < 7; ++k)
                same = std::stol(ours[k]) - (k < 2 ? 1 : 0) == std::stol(theirs[k]);
            for (size_t k = 7; same && k < 9; ++k)
                same = std::fabs(std::stod(ours[k]) - std::stod(theirs[k])) < 1e-6;
            EXPECT_TRUE(same) << name << " note " << i << ": " << rows[i] << " | "
                              << (*mido[file])[i - 1];
        }
        EXPECT_TRUE(same) << name << ": " << rows.size() - 1 << " notes, mido "
                          << mido[file]->size();
        ++compared;
    }
    EXPECT_GT(compared, 100);
}

TEST(Info, DurationIsMidoLengthOnEveryFileBothRead) {
    const std::string script =
        "import mido, sys\nfor p in sys.argv[1:]:\n  try: print(p, mido.MidiFile(p).length)\n"
        "  except Exception: pass\n";
    const std::string py = WriteFile("length.py", Bytes(script.begin(), script.end()));
    std::string list;
    for (const std::string& f : MidiFiles()) list += " " + Quote(f);
    int compared = 0;
    for (const std::string& line : Lines(Sh("/usr/bin/python3 " + py + list))) {
        const auto blank = line.rfind(' ');
        const Json j = JsonOf("info " + Quote(line.substr(0, blank)) + " --json");
        if (j.is_discarded()) continue;  // refused by the library
        EXPECT_NEAR(j["duration_s"].get<double>(), std::stod(line.substr(blank + 1)), 1e-3) << line;
        ++compared;
    }
    EXPECT_GT(compared, 100);
}

// ------------------------------------------------------------------ bars, seconds, file events

TEST(Exact, InfoCountsBarsSecondsAndTheFileOwnEvents) {
    const std::string song = Quote(ThreeEight());
    const Json j = JsonOf("info " + song + " --json");
    EXPECT_DOUBLE_EQ(j["duration_s"].get<double>(), 2.25);
    EXPECT_EQ(j["bars"], 4);
    EXPECT_EQ(j["events"], 17);  // 6 + 11 in the file; the loader's tempo is not one of them
    EXPECT_EQ(j["track_list"][0]["events"], 6);
    EXPECT_EQ(j["notes"], 4);
    EXPECT_EQ(j["pitch_range"], Json::parse(R"({"lowest": 60, "highest": 67})"));
    EXPECT_EQ(j["time_signatures"], Json::parse(R"([
        {"tick": 0, "bar": 1, "seconds": 0.0, "numerator": 3, "denominator": 8, "text": "3/8",
         "track": 1},
        {"tick": 1440, "bar": 3, "seconds": 1.5, "numerator": 2, "denominator": 4, "text": "2/4",
         "track": 1}])"));
    EXPECT_EQ(j["key_signatures"], Json::parse(R"([{"tick": 720, "bar": 2, "seconds": 0.75,
        "sharps": 2, "minor": false, "text": "D major", "track": 1}])"));
    ASSERT_EQ(j["tempos"].size(), 2u);
    EXPECT_EQ(j["tempos"][1], Json::parse(R"({"tick": 1440, "bar": 3, "seconds": 1.5,
        "bpm": 240.0, "us_per_quarter": 250000, "track": 1})"));
    // The library's own answers stay: its tempo map starts with the loader's two 120 BPM.
    EXPECT_EQ(j["tempo_map"].size(), 4u);
    EXPECT_EQ(j["time_signature"]["text"], "2/4");
    const Json none = JsonOf(
        "info " + Quote(WriteFile("empty.mid", Smf(0, 96, {B({0, 0xFF, 0x2F, 0})}))) + " --json");
    EXPECT_TRUE(none["pitch_range"].is_null());
    EXPECT_EQ(none["events"], 1);

    const Result text = Cli("info " + song);
    EXPECT_NE(text.out.find("Duration    00:00:02.250 (2880 ticks, 4 bars, ends at bar:beat:tick "
                            "4:2:000)\nEvents      17\nNotes       4, C4 (60) .. G4 (67)\n"),
              std::string::npos)
        << text.out;
    // An instrument is a channel's program: the range is what it plays.
    EXPECT_NE(text.out.find("   1  0/0        40  Violin                           3  C4 (60) .. "
                            "E4 (64)\n   1  0/0        73  Flute                            1  "
                            "G4 (67) .. G4 (67)\n"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("1440       3  00:00:01.500  2/4"), std::string::npos);
    // Events lists the same events: the loader's tempo is not among them.
    EXPECT_EQ(JsonOf("events " + song + " --json").size(), 17u);
    EXPECT_EQ(Lines(Cli("events " + song + " --type meta").out)[1].find("tempo 120.00"),
              std::string::npos);
}

TEST(Exact, EveryTimeColumnGoesBackInAsFromAndTo) {
    const std::string song = Quote(ThreeEight());
    auto noteOns = [&](const std::string& args) {
        std::vector<std::string> times;
        for (const std::string& line : Lines(Cli("events " + song + " --type noteon " + args).out))
            times.push_back(
                line.substr(line.find_first_not_of(' '), 12 - line.find_first_not_of(' ')));
        if (!times.empty()) times.erase(times.begin());  // the heading
        return times;
    };
    const std::map<std::string, std::vector<std::string> > expected = {
        {"tick", {"0", "720", "1680", "2400"}},
        {"s", {"0.000000s", "0.750000s", "1.625000s", "2.000000s"}},
        {"measure", {"1:1:000", "2:1:000", "3:1:240", "4:1:000"}},
        {"ms", {"0ms", "750ms", "1625ms", "2000ms"}},
        {"hmsf", {"00:00:00:00", "00:00:00:30", "00:00:01:25", "00:00:02:00"}}};
    for (const auto& [column, times] : expected) {
        EXPECT_EQ(noteOns("--time " + column), times) << column;
        for (const std::string& t : times) {
            EXPECT_EQ(noteOns("--time " + column + " --from " + t + " --to " + t),
                      std::vector<std::string>{t})
                << column;
        }
    }
    EXPECT_EQ(noteOns("--time measure --measures 3"), std::vector<std::string>{"3:1:240"});
    EXPECT_EQ(noteOns("--time measure --from 2:2 --to 3:2"), std::vector<std::string>{"3:1:240"});
    const Result beat = Cli("events " + song + " --from 3:3", true);
    EXPECT_EQ(beat.status, 1);
    EXPECT_EQ(beat.out, "midifolio: --from: bar 3 has 2 beats (2/4), not 3\n");
    EXPECT_EQ(JsonOf("events " + song + " --type noteon --time s --json")[2]["time"], 1.625);
}

TEST(Notes, OneLinePerNoteInTextCsvAndJsonWithFilters) {
    const std::string song = Quote(ThreeEight());
    EXPECT_EQ(Cli("notes " + song + " --csv").out,
              "track,channel,program,pitch,velocity,start_tick,end_tick,start_s,end_s\n"
              "2,1,40,60,90,0,240,0.000000000,0.250000000\n"
              "2,1,40,62,91,720,960,0.750000000,1.000000000\n"
              "2,1,40,64,92,1680,1920,1.625000000,1.750000000\n"
              "2,1,73,67,93,2400,2880,2.000000000,2.250000000\n");
    const Json j = JsonOf("notes " + song + " --json");
    ASSERT_EQ(j.size(), 4u);
    EXPECT_EQ(j[3], Json::parse(R"({"track": 2, "channel": 1, "program": 73, "pitch": 67,
        "velocity": 93, "start_tick": 2400, "end_tick": 2880, "start_s": 2.0, "end_s": 2.25})"));
    const std::vector<std::string> text = Lines(Cli("notes " + song).out);
    ASSERT_EQ(text.size(), 5u);
    EXPECT_EQ(text[3],
              "       1.625        3:1:240       0.125      2    1  E4 (64)     92  40 Violin");
    EXPECT_EQ(JsonOf("notes " + song + " --tracks 1 --json").size(), 0u);
    EXPECT_EQ(JsonOf("notes " + song + " --channel 1 --tracks 2 --json").size(), 4u);
    const Json drums =
        JsonOf("notes " + Quote(DataPath("cli/sample.mid")) + " --channel 10 --json");
    EXPECT_EQ(drums.size(), 144u);
    for (const Json& n : drums) EXPECT_EQ(n["channel"], 10);
}

// ------------------------------------------------------------------ scan

TEST(Scan, SummaryColumnsCausesAndWarnings) {
    const std::string song = ThreeEight();
    const std::string empty = WriteFile("no_notes.mid", Smf(0, 96, {B({0, 0xFF, 0x2F, 0})}));
    const std::string warned = DataPath("bad/bytes_after_end_of_track.mid");
    const std::string refused = DataPath("cli/truncated.mid");
    const std::string files =
        Quote(song) + " " + Quote(empty) + " " + Quote(warned) + " " + Quote(refused);
    const Json j = JsonOf("scan " + files + " --json");
    ASSERT_EQ(j["files"].size(), 4u);
    EXPECT_EQ(j["with_warnings"], 1);
    std::map<std::string, Json> of;  // the rows come in path order
    for (const Json& row : j["files"]) of[row["file"].get<std::string>()] = row;
    EXPECT_EQ(of[song], Json::parse(R"({"file": ")" + song + R"(", "status": "ok",
        "message": "", "cause": null, "warnings": [], "format": 1, "tracks": 2, "division": 480,
        "ticks": 2880, "events": 17, "tempo_changes": 2, "channels": 1,
        "instruments": [{"channel": 1, "program": 40, "bank_msb": 0, "bank_lsb": 0,
                         "name": "Violin", "tracks": [2], "notes": 3, "lowest": 60,
                         "highest": 64},
                        {"channel": 1, "program": 73, "bank_msb": 0, "bank_lsb": 0,
                         "name": "Flute", "tracks": [2], "notes": 1, "lowest": 67,
                         "highest": 67}],
        "drums": 0, "notes": 4, "lowest_pitch": 60, "highest_pitch": 67, "duration_s": 2.25,
        "bars": 4, "programs": [40, 73], "key_signatures": ["D major"], "peak_polyphony": 1})"));
    EXPECT_TRUE(of[empty]["lowest_pitch"].is_null() && of[empty]["highest_pitch"].is_null());
    EXPECT_EQ(of[empty]["notes"], 0);
    EXPECT_EQ(of[warned]["warnings"],
              Json::array({"track 1 at byte 34: 6 bytes after the end-of-track event are not "
                           "read"}));
    EXPECT_EQ(of[refused]["message"], "damaged");
    EXPECT_EQ(of[refused]["cause"], "the file ends inside its header (after 10 bytes)");
    EXPECT_TRUE(of[refused]["notes"].is_null());

    std::map<std::string, std::string> csv;
    for (const std::string& row : Lines(Cli("scan " + files + " --csv").out))
        csv[row.substr(0, row.find(','))] = row.substr(row.find(','));
    ASSERT_EQ(csv.size(), 5u);
    EXPECT_EQ(csv["file"],
              ",status,message,cause,warnings,format,tracks,division,ticks,events,tempo_changes,"
              "channels,instruments,drums,notes,lowest_pitch,highest_pitch,duration_s,bars,"
              "programs,key_signatures,peak_polyphony");
    EXPECT_EQ(csv[song], ",ok,,,0,1,2,480,2880,17,2,1,2,0,4,60,67,2.250000,4,40 73,D major,1");
    EXPECT_EQ(csv[empty], ",ok,,,0,0,1,96,0,1,0,0,0,0,0,,,0.000000,0,,,0");
    EXPECT_EQ(
        csv[refused],
        ",refused,damaged,the file ends inside its header (after 10 bytes),0,,,,,,,,,,,,,,,,,");
    const Result text = Cli("scan " + files + " -j 1", true);
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("4 files scanned with 1 job: 3 loaded, 1 refused, 1 with warnings"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("  warning " + warned + ": track 1 at byte 34: 6 bytes after"),
              std::string::npos);
    // A row longer than most lines (a long file name) comes out whole.
    const std::string longName = WriteFile(std::string(200, 'n') + ".mid", ReadFile(song));
    const std::vector<std::string> rows = Lines(Cli("scan " + Quote(longName) + " -j 1").out);
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows[1].substr(0, 9), "ok       ");
    EXPECT_EQ(rows[1].substr(rows[1].size() - longName.size()), longName);
    // Without ticks of a length no time can be found: such a file is refused, with the cause.
    const std::string div0 = Quote(WriteFile(
        "division0.mid", Smf(0, 0, {B({0, 0x90, 60, 64, 96, 0x80, 60, 0, 0, 0xFF, 0x2F, 0})})));
    const Json zero = JsonOf("scan " + div0 + " --json")["files"][0];
    EXPECT_EQ(zero["status"], "refused");
    EXPECT_EQ(zero["cause"], "the division is 0: no tick has a length");
    EXPECT_EQ(Cli("notes " + div0 + " --csv").status, 1);
    const Result strict = Cli("scan " + files + " --strict", true);
    EXPECT_EQ(strict.status, 1);
    EXPECT_NE(strict.out.find("2 loaded, 2 refused, 1 with warnings"), std::string::npos);
}

TEST(Exact, SmpteTimeCountsTicksInSeconds) {
    // 25 frames per second of 40 ticks: 1000 ticks a second, whatever the tempo says.
    const Bytes track =
        Cat({Vlq(0), B({0xFF, 0x51, 3, 0x0F, 0x42, 0x40}), Vlq(0), B({0x90, 60, 100}), Vlq(500),
             B({0x80, 60, 0}), Vlq(250), B({0x90, 62, 100}), Vlq(250), B({0x80, 62, 0}), Vlq(0),
             B({0xFF, 0x2F, 0})});
    const std::string song = Quote(WriteFile("smpte25.mid", Smf(0, 0xE728, {track})));
    EXPECT_EQ(Cli("notes " + song + " --csv").out,
              "track,channel,program,pitch,velocity,start_tick,end_tick,start_s,end_s\n"
              "1,1,0,60,100,0,500,0.000000000,0.500000000\n"
              "1,1,0,62,100,750,1000,0.750000000,1.000000000\n");
    const Json info = JsonOf("info " + song + " --json");
    EXPECT_DOUBLE_EQ(info["duration_s"].get<double>(), 1.0);
    EXPECT_EQ(info["division"], 0xE728);
    EXPECT_TRUE(info["duration_ms"].is_null()) << "the library's classes hold no SMPTE time";
    EXPECT_NE(Cli("info " + song).out.find("SMPTE time: 25 frames per second, 40 ticks per frame"),
              std::string::npos);
    EXPECT_EQ(JsonOf("scan " + song + " --json")["files"][0]["duration_s"], 1.0);
}

// The roll's pictures are tested in cli_roll_test.cpp.

#endif  // MIDIFOLIO_CLI
