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

// Where the tools cannot agree, and why. The reader reads these files otherwise than midicsv
// does, so the CSV differs:
const std::map<std::string, std::string> kReadOtherwise = {
    // A track chunk without an end-of-track event: midicsv reads on past the chunk's end (into
    // the next chunk, or bytes that are not there); the reader stops at the chunk's end.
    {"bad/no_end_of_track.mid", "midicsv reads past the chunk"},
    {"bad/key_signature_length_zero_at_end.mid", "midicsv reads past the chunk"},
    {"bad/second_track_only_a_delta.mid", "midicsv reads past the chunk"},
    // Data bytes of 128..255 in channel messages: the reader reads them as 127 (with a
    // warning), midicsv writes them as they are.
    {"bad/data_bytes_top_bit.mid", "data bytes above 127"},
    {"corpus/songwrite__son_accordeon.mid", "data bytes above 127"},
    {"corpus/songwrite__son_chant.mid", "data bytes above 127"},
    {"corpus/songwrite__son_lyre.mid", "data bytes above 127"},
    // An SMPTE division: midicsv writes the header's word as a negative number, which csvmidi
    // then refuses; the tool writes the word (57936), which csvmidi takes.
    {"bad/smpte_division.mid", "SMPTE division"},
    {"cli/smpte.mid", "SMPTE division"},
};
// The CSV is midicsv's, but the other tool cannot turn it back into the same song:
const std::map<std::string, std::string> kCannotRoundTrip = {
    // An empty track: midicsv writes no End_track for it, which neither csvmidi nor from-csv
    // takes (and midicsv reads csvmidi's file of it for ever).
    {"bad/zero_length_first_track.mid", "csvmidi, from-csv"},
    {"bad/zero_length_second_track.mid", "csvmidi, from-csv"},
    {"bad/second_track_only_a_delta.mid", "from-csv"},  // a track of no event, the same
    // A delta time beyond the format's 28 bits (read from five bytes, ticks in 64 bits): the
    // library refuses to write a file no reader could take; csvmidi writes the first one as
    // it is and cuts a time beyond 2^31 - 1.
    {"bad/delta_vlq_five_bytes.mid", "from-csv"},
    {"bad/delta_vlq_all_ones.mid", "csvmidi, from-csv"},
    // Format 0 with a second track: from-csv refuses it, as a file no reader should meet.
    {"bad/format_zero_two_tracks.mid", "from-csv"},
};

// Whether the tool reads a file (as every subcommand does, through the library's reader).
bool ToolReads(const std::string& path) {
    midifolio::score::ReadOptions options;
    options.notes = false;
    midifolio::score::ReadReport report;
    midifolio::score::Song::Load(path, options, report);
    return report.ok();
}

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
        if (!ToolReads(path)) {
            // A damaged file midicsv makes something of (Unknown_event records, notes of
            // bytes past the end): the tool refuses it, in one line.
            EXPECT_EQ(rc, 1) << name;
            EXPECT_EQ(Sh(kCli + "csv " + Quote(path) + " 2>&1 >/dev/null | wc -l"), "1\n") << name;
            ++refused;
            continue;
        }
        ASSERT_EQ(rc, 0) << name;
        ++compared;
        const bool same = kReadOtherwise.count(name) == 0;
        EXPECT_EQ(ReadFile(ours) == csv, same) << name;
        if (kCannotRoundTrip.count(name)) continue;
        if (!same) {
            // Our CSV goes back to a song whose CSV it is.
            Sh(kCli + "from-csv " + Quote(ours) + " " + Quote(mid), &rc);
            EXPECT_EQ(rc, 0) << name;
            const Bytes back = ReadFile(ours);
            EXPECT_EQ(Sh(kCli + "csv " + Quote(mid)), std::string(back.begin(), back.end()))
                << name;
            continue;
        }
        // csvmidi takes our CSV back to the song, and from-csv takes midicsv's.
        Sh("csvmidi " + Quote(ours) + " " + Quote(mid));
        EXPECT_EQ(Sh("timeout 10 midicsv " + Quote(mid)), expected) << name << ": csvmidi of ours";
        Sh(kCli + "from-csv " + Quote(orig) + " " + Quote(mid), &rc);
        EXPECT_EQ(rc, 0) << name;
        EXPECT_EQ(Sh("timeout 10 midicsv " + Quote(mid)), expected)
            << name << ": from-csv of midicsv's";
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
        // What csvmidi refuses too: data bytes above 127, keys outside -7..7.
        {"1, 0, Note_on_c, 0, 128, 100\n", "line 3: Note_on_c: the note must be 0..127, not '128'"},
        {"1, 0, Control_c, 0, 7, 300\n", "line 3: Control_c: the value must be 0..127, not '300'"},
        {"1, 0, Key_signature, -8, \"minor\"\n",
         "line 3: Key_signature: the key must be -7..7, not '-8'"},
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
    const std::string two =
        "0, 0, Header, 0, 2, 96\n1, 0, Start_track\n1, 0, End_track\n2, 0, Start_track\n";
    int status = -1;
    EXPECT_EQ(testsupport::Run(kCli + "from-csv - /dev/null 2>&1 <<'EOF'\n" + two + "EOF", &status),
              "midifolio: standard input, line 4: format 0 holds one track: a second "
              "Start_track\n");
    EXPECT_EQ(status, 1);
}

TEST(Csv, EscapePacketsAreSystemExclusivePacketsBothWays) {
    // An F7 packet (F7, a length, that many bytes) before a note from tick 0 to 96.
    const Bytes file =
        Cat({B({'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 1, 1, 0xE0}),
             B({'M',  'T', 'r',  'k',  0,    0,    0,    0x12, 0,    0xF7, 3,    0xF0, 0x43,
                0x12, 0,   0x90, 0x3C, 0x40, 0x60, 0x80, 0x3C, 0x40, 0,    0xFF, 0x2F, 0})});
    const std::string path = WriteFile("escape_packet.mid", file);
    EXPECT_EQ(Sh(kCli + "notes " + Quote(path) + " --csv"),
              "track,channel,program,pitch,velocity,start_tick,end_tick,start_s,end_s\n"
              "1,1,0,60,64,0,96,0.000000000,0.100000000\n");
    EXPECT_EQ(Sh(kCli + "events " + Quote(path) + " --type sysexesc,noteon"),
              "        tick  track   ch  event         details\n"
              "           0      1    -  sysexesc      f0 43 12\n"
              "           0      1    1  noteon        C4 (60) vel 64, 0.100 s\n");
    const std::string csv = Sh(kCli + "csv " + Quote(path));
    EXPECT_EQ(csv,
              "0, 0, Header, 1, 1, 480\n1, 0, Start_track\n"
              "1, 0, System_exclusive_packet, 3, 240, 67, 18\n1, 0, Note_on_c, 0, 60, 64\n"
              "1, 96, Note_off_c, 0, 60, 64\n1, 96, End_track\n0, 0, End_of_file\n");
    const std::string csvPath = WriteFile("escape_packet.csv", Bytes(csv.begin(), csv.end()));
    const std::string back = TmpPath("escape_packet_back.mid");
    Sh(kCli + "from-csv " + Quote(csvPath) + " " + Quote(back));
    EXPECT_EQ(ReadFile(back), file) << "from-csv";
    int rc = -1;
    Sh("command -v csvmidi", &rc);
    if (rc == 0) {
        Sh("csvmidi " + Quote(csvPath) + " " + Quote(back));
        EXPECT_EQ(ReadFile(back), file) << "csvmidi";
    }
    // mido reads the packet as a sysex and the note from 0 to 96 as well.
    Sh("/usr/bin/python3 -c 'import mido' ", &rc);
    if (rc != 0) GTEST_SKIP() << "python3-mido is not installed";
    EXPECT_EQ(Sh("/usr/bin/python3 -c 'import mido, sys; print([(m.type, m.time) for m in "
                 "mido.MidiFile(sys.argv[1]).tracks[0]])' " +
                 Quote(path)),
              "[('sysex', 0), ('note_on', 0), ('note_off', 96), ('end_of_track', 0)]\n");
}

TEST(FromCsv, TakesAnSmpteDivisionAsMidicsvAndCsvmidiWriteIt) {
    const std::string smpte = DataPath("cli/smpte.mid");  // 30 frames per second of 80 ticks
    const std::string ours = TmpPath("smpte.csv"), back = TmpPath("smpte_back.mid");
    Sh(kCli + "csv " + Quote(smpte) + " -o " + Quote(ours));
    const Bytes csv = ReadFile(ours);
    EXPECT_EQ(std::string(csv.begin(), csv.end()).substr(0, 26), "0, 0, Header, 0, 1, 57936\n");
    int rc = -1;
    Sh(kCli + "from-csv " + Quote(ours) + " " + Quote(back), &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(ReadFile(back), ReadFile(smpte));
    // midicsv writes the word as a negative number.
    const std::string text =
        "0, 0, Header, 0, 1, -7600\n1, 0, Start_track\n1, 0, End_track\n"
        "0, 0, End_of_file\n";
    const std::string negative = WriteFile("smpte_midicsv.csv", Bytes(text.begin(), text.end()));
    Sh(kCli + "from-csv " + Quote(negative) + " " + Quote(back), &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(ReadFile(back), ReadFile(smpte));
    const std::string zero = "0, 0, Header, 0, 1, 57856\n";  // SMPTE frames of no tick
    EXPECT_EQ(testsupport::Run(kCli + "from-csv - /dev/null 2>&1 <<'EOF'\n" + zero + "EOF", &rc),
              "midifolio: standard input, line 1: Header: the division 57856 gives a tick no "
              "length\n");
    EXPECT_EQ(rc, 1);
}

#endif  // MIDIFOLIO_CLI
