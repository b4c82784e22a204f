// `midifolio csv` and `midifolio from-csv` against Debian's midicsv and csvmidi, on every file of
// tests/data that midicsv reads: the same CSV, and MIDI files that midicsv reads back the same.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>

#include "test_support.h"

using namespace testsupport;

#ifndef MIDIFOLIO_CLI
TEST(Csv, IsNotBuilt) {
    GTEST_SKIP() << "configure with MIDIFOLIO_BUILD_CLI=ON to test the tool";
}
#else

namespace {

std::string Quote(const std::string& s) {
    return "'" + s + "'";
}

// Runs a shell command with stderr discarded (midicsv crashes on some broken files).
std::string Sh(const std::string& command, int* status = nullptr) {
    return Run("{ " + command + "; } 2>/dev/null", status);
}

const std::string kCli = std::string(MIDIFOLIO_CLI) + " ";

// Where the tools cannot agree, and why. The library reads these broken files otherwise than
// midicsv does, so the CSV differs:
const std::map<std::string, std::string> kReadOtherwise = {
    // midicsv reads on past the end of a track chunk that has no end-of-track event.
    {"bad/no_end_of_track.mid", "midicsv reads past the chunk"},
    // The library reads port, tempo and time-signature metas with their fixed sizes,
    // whatever their length byte says; midicsv goes by the length byte.
    {"bad/port_meta_length_five.mid", "fixed-size meta"},
    {"bad/tempo_length_seven.mid", "fixed-size meta"},
    {"bad/tempo_length_two.mid", "fixed-size meta"},
    {"bad/time_signature_length_one.mid", "fixed-size meta"},
    // Running status: the library ends it at a sysex and gives a data byte without it a record
    // of its own; midicsv keeps it across the sysex and skips such a byte.
    {"bad/running_status_after_sysex.mid", "running status after sysex"},
    {"bad/running_status_at_start.mid", "data byte without running status"},
};
// The CSV is midicsv's, but the other tool cannot turn it back into the same song:
const std::map<std::string, std::string> kCannotRoundTrip = {
    // Data bytes of 128..255 (in the file as such): csvmidi cuts them to 127.
    {"bad/data_bytes_top_bit.mid", "csvmidi"},
    {"corpus/songwrite__son_accordeon.mid", "csvmidi"},
    {"corpus/songwrite__son_chant.mid", "csvmidi"},
    {"corpus/songwrite__son_lyre.mid", "csvmidi"},
    // An empty track: midicsv writes no End_track for it, which neither csvmidi nor from-csv
    // takes; and a track chunk the library writes holds at least its first delta time.
    {"bad/zero_length_first_track.mid", "csvmidi, from-csv"},
    // A delta time beyond the format's 28 bits (read from five bytes): the library refuses to
    // store a file no reader could take.
    {"bad/delta_vlq_five_bytes.mid", "from-csv"},
};

}  // namespace

TEST(Csv, AgreesWithMidicsvAndCsvmidiOnEveryFileMidicsvReads) {
    int rc = -1;
    Sh("command -v midicsv csvmidi", &rc);
    if (rc != 0) GTEST_SKIP() << "midicsv is not installed (apt-get install midicsv)";
    const std::string orig = TmpPath("orig.csv"), ours = TmpPath("ours.csv"),
                      mid = TmpPath("back.mid");
    int compared = 0, refused = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(DataPath(""))) {
        if (entry.path().extension() != ".mid") continue;
        const std::string path = entry.path().string();
        const std::string name = path.substr(DataPath("").size());
        // midicsv refuses some broken files, crashes on others, and spins for minutes on one.
        Sh("timeout 3 midicsv " + Quote(path) + " " + Quote(orig), &rc);
        if (rc != 0) continue;
        const Bytes csv = ReadFile(orig);
        const std::string expected(csv.begin(), csv.end());
        Sh(kCli + "csv " + Quote(path) + " >" + Quote(ours), &rc);
        midifolio::CMidiFolio song;
        song.SetMessageSink([](const std::string&) {});
        if (song.LoadMidiFile(path) != 1) {
            // The library refuses it: so does the tool, with the library's message alone.
            EXPECT_EQ(rc, 1) << name;
            EXPECT_EQ(Sh(kCli + "csv " + Quote(path) + " 2>&1 >/dev/null | wc -l"), "1\n") << name;
            ++refused;
            continue;
        }
        ASSERT_EQ(rc, 0) << name;
        ++compared;
        const bool same = kReadOtherwise.count(name) == 0;
        EXPECT_EQ(ReadFile(ours) == csv, same) << name;
        if (!same || kCannotRoundTrip.count(name)) continue;
        // csvmidi takes our CSV back to the song, and from-csv takes midicsv's.
        Sh("csvmidi " + Quote(ours) + " " + Quote(mid));
        EXPECT_EQ(Sh("midicsv " + Quote(mid)), expected) << name << ": csvmidi of ours";
        Sh(kCli + "from-csv " + Quote(orig) + " " + Quote(mid), &rc);
        EXPECT_EQ(rc, 0) << name;
        EXPECT_EQ(Sh("midicsv " + Quote(mid)), expected) << name << ": from-csv of midicsv's";
    }
    EXPECT_GT(compared, 110);
    EXPECT_GT(refused, 10);
}

TEST(FromCsv, ReadsWhatCsvmidiReadsAndNamesTheLineOfABadRecord) {
    // Comments, blank lines, blanks around fields, record names in any case, escapes in text.
    const std::string good =
        "# made by hand\n0, 0, Header, 1, 1, 96\n\n1,0,start_track\n ; a comment\n"
        "1, 0, Title_t, \"a \"\"b\"\" \\\\ \\351, c\"\n1, 0, TEMPO, 600000\n"
        "1, 0, Note_on_c, 9, 36, 100\n1, 96, Note_off_c, 9, 36, 0\n"
        "1, 96, Key_signature, -3, \"minor\"\n1, 96, End_track\n0, 0, End_of_file\n";
    const std::string in = WriteFile("good.csv", Bytes(good.begin(), good.end()));
    const std::string out = TmpPath("good.mid");
    EXPECT_EQ(testsupport::Run(kCli + "from-csv " + Quote(in) + " " + Quote(out)),
              "Wrote " + out + ": format 1, 1 track, 6 events, 63 bytes\n");
    EXPECT_EQ(Sh("midicsv " + Quote(out) + " | sed -n 3p"),
              "1, 0, Title_t, \"a \"\"b\"\" \\\\ \xe9, c\"\n");

    const std::string head = "0, 0, Header, 1, 1, 96\n1, 0, Start_track\n";
    const std::map<std::string, std::string> bad = {
        {"1, 0, Note_on_c, 0, 60, 100\n0, 0, End_of_file\n", "line 4: track 1 has no End_track"},
        {"1, 0, Note_on_c, 16, 60, 100\n",
         "line 3: Note_on_c: the channel must be 0..15, not '16'"},
        {"1, 0, Note_on_c, 0, 60\n", "line 3: Note_on_c takes 6 fields, not 5"},
        {"1, 0, Bogus, 1\n", "line 3: unknown record type 'Bogus'"},
        {"1, 9, Tempo, 5\n1, 8, Tempo, 5\n", "line 4: time 8 is before the time of the record"},
        {"1, 0, Text_t, \"open\n", "line 3: a quoted text without its closing quote"},
        {"1, 0, System_exclusive, 3, 1, 2\n", "line 3: System_exclusive: the length says 3 bytes"},
        {"2, 0, Tempo, 5\n", "line 3: a record of track 2 in track 1"},
        {"1, 0, End_track\n", "ends without an End_of_file record"},
    };
    for (const auto& [records, message] : bad) {
        const std::string text = head + records;
        const std::string csv = WriteFile("bad.csv", Bytes(text.begin(), text.end()));
        const std::string target = TmpPath("bad.mid");
        int status = -1;
        const std::string err = testsupport::Run(
            kCli + "from-csv " + Quote(csv) + " " + Quote(target) + " 2>&1", &status);
        EXPECT_EQ(status, 1) << records;
        EXPECT_EQ(err.rfind("midifolio: " + csv + ", " + message, 0) == 0 ||
                      err.rfind("midifolio: " + csv + ": " + message, 0) == 0,
                  true)
            << err;
        EXPECT_NE(access(target.c_str(), F_OK), 0) << "nothing is written: " << records;
    }
}

#endif  // MIDIFOLIO_CLI
