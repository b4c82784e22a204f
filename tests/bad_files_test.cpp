// Every malformed file of tests/data/bad gets its defined result and message, and those the
// library accepts store and load again.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "midifolio/midifolio.h"
#include "test_support.h"

using namespace midifolio;
using namespace testsupport;

namespace {

// Reading-step codes and the message each one shows (none for success).
const std::map<int, std::string> kMessage = {
    {1, ""},
    {-1, "Not Midi file!!"},
    {-2, "Error read data!!"},
    {-3, "Error time unsupport!!"},
    {-4, "Error format unsupport!!"},
    {-5, "Error Track!!"},
};

struct Expected {
    int code;    // 1 when the file loads, else the code of the failing reading step
    int tracks;  // tracks in the song afterwards
};

// File name (without .mid) -> what loading it gives. generate.py in the folder writes them.
const std::map<std::string, Expected> kExpected = {
    // header chunk
    {"empty", {-2, 0}},
    {"header_three_bytes", {-2, 0}},
    {"header_id_only", {-2, 0}},
    {"header_cut_after_format", {-2, 0}},
    {"header_cut_in_division", {-2, 0}},
    {"not_midi_riff_container", {-1, 0}},
    {"not_midi_text", {-1, 0}},
    {"not_midi_lowercase_id", {-1, 0}},
    {"format_two", {-4, 0}},
    {"format_ffff", {-4, 0}},
    {"format_zero_two_tracks", {-2, 0}},
    {"smpte_division", {-3, 0}},
    {"header_length_eight", {-5, 0}},
    {"many_tracks_declared", {-2, 1}},
    // chunk framing
    {"private_chunk_between_tracks", {-5, 1}},
    {"lowercase_track_id", {-5, 0}},
    {"missing_last_track", {-2, 2}},
    {"cut_in_track_id", {-2, 1}},
    {"cut_in_track_length", {-2, 1}},
    {"cut_in_track_data", {-2, 1}},
    {"length_beyond_file", {-2, 1}},
    {"length_2gib_minus_one", {-2, 1}},
    {"length_2gib", {-2, 1}},
    {"length_4gib_minus_one", {-2, 1}},
    {"first_length_overflows_with_prefix", {-2, 0}},
    {"zero_length_first_track", {1, 2}},
    {"zero_length_second_track", {-2, 1}},
    // track data
    {"delta_vlq_five_bytes", {1, 1}},
    {"delta_vlq_all_ones", {-2, 0}},
    {"delta_vlq_past_end", {-2, 0}},
    {"channel_message_cut", {-2, 0}},
    {"meta_length_past_end", {-2, 0}},
    {"meta_length_huge", {-2, 0}},
    {"sysex_length_past_end", {-2, 0}},
    {"sysex_length_vlq_past_end", {-2, 0}},
    {"tempo_length_two", {1, 1}},
    {"tempo_length_seven", {1, 1}},
    {"tempo_cut_in_payload", {-2, 0}},
    {"time_signature_length_one", {1, 1}},
    {"key_signature_length_zero_at_end", {-2, 0}},
    {"port_meta_length_five", {1, 1}},
    {"data_bytes_top_bit", {1, 1}},
    {"running_status_at_start", {1, 1}},
    {"running_status_after_sysex", {1, 1}},
    {"system_common_cut", {-2, 0}},
    {"bytes_after_end_of_track", {1, 1}},
    {"no_end_of_track", {1, 1}},
    {"second_track_only_a_delta", {-2, 1}},
    {"sysex_zero_length", {1, 1}},
};

std::vector<std::string> BadFiles() {
    std::vector<std::string> names;
    std::string dir = DataPath("bad");
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n.size() > 4 && n.compare(n.size() - 4, 4, ".mid") == 0)
                names.push_back(n.substr(0, n.size() - 4));
        }
        closedir(d);
    }
    return names;
}

}  // namespace

TEST(BadFiles, FolderAndExpectationsMatch) {
    std::vector<std::string> files = BadFiles();
    EXPECT_GE(files.size(), 30u);
    std::set<std::string> present(files.begin(), files.end());
    for (const std::string& f : files)
        EXPECT_TRUE(kExpected.count(f)) << f << " has no expectation";
    for (const auto& e : kExpected) EXPECT_TRUE(present.count(e.first)) << e.first << " is missing";
}

TEST(BadFiles, EachGivesItsResultAndExactlyOneMessage) {
    for (const auto& entry : kExpected) {
        const std::string& name = entry.first;
        const Expected& want = entry.second;
        CMidiFolio song;
        Messages messages;
        song.SetMessageSink(messages.Sink());
        std::string path = DataPath("bad/" + name + ".mid");
        int result = song.LoadMidiFile(path);
        EXPECT_EQ(result, want.code == 1 ? 1 : 0) << name;
        std::vector<std::string> message;
        if (want.code != 1) message.push_back(kMessage.at(want.code));
        EXPECT_EQ(messages.list, message) << name;
        EXPECT_EQ(song.GetTrackNum(), want.tracks) << name;
        EXPECT_EQ(song.GetMidiPath(), path) << name;
    }
}

TEST(BadFiles, AcceptedOnesStoreAndLoadAgain) {
    for (const auto& entry : kExpected) {
        if (entry.second.code != 1) continue;
        const std::string& name = entry.first;
        CMidiFolio song;
        Messages messages;
        song.SetMessageSink(messages.Sink());
        ASSERT_EQ(song.LoadMidiFile(DataPath("bad/" + name + ".mid")), 1) << name;
        std::string stored = TmpPath(name + ".mid");
        if (name == "delta_vlq_five_bytes") {
            // Its delta does not fit the format's 28 bits: no file is written.
            EXPECT_EQ(song.StoreMidiFile(stored), 0);
            EXPECT_EQ(song.GetStoreError(), EOVERFLOW);
            continue;
        }
        ASSERT_EQ(song.StoreMidiFile(stored), 1) << name;
        CMidiFolio again;
        again.SetMessageSink(messages.Sink());
        EXPECT_EQ(again.LoadMidiFile(stored), 1) << name;
        EXPECT_EQ(again.GetTrackNum(), song.GetTrackNum()) << name;
        EXPECT_TRUE(messages.list.empty()) << name << ": " << messages.list.front();
    }
}

TEST(BadFiles, NoteNumbersAboveTheTableAreNotMarked) {
    // Note 0xCC and program 255 (data bytes with the top bit set) stay out of the song's
    // note-usage table; the well-formed note 60 after them may only count for program 0
    // (the program byte 255 is no program).
    CMidiFolio song;
    Messages messages;
    song.SetMessageSink(messages.Sink());
    ASSERT_EQ(song.LoadMidiFile(DataPath("bad/data_bytes_top_bit.mid")), 1);
    for (int row = 0; row < NOTE_USAGE_ROWS; ++row)
        for (int note = 0; note < 128; ++note)
            if (song.GetNoteUsage(row, note) && !(row == 0 && note == 60))
                ADD_FAILURE() << "marked " << row << "/" << note;
    EXPECT_EQ(song.GetNoteUsage(255, 60), 0);
    EXPECT_EQ(song.GetNoteUsage(0, 0xCC), 0);
}
