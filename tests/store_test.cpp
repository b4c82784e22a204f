// Storing songs as Standard MIDI Files: the bytes written, progress, and that a failed
// store never damages the file it was to replace.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "generators.h"
#include "midifolio/midifolio.h"
#include "test_support.h"

using namespace midifolio;
using namespace testsupport;

namespace {

const Bytes kEnd = B({0x00, 0xFF, 0x2F, 0x00});
const Bytes kPrefix = B({0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20});

// Loads bytes into a fresh song (which must succeed).
void LoadInto(CMidiFolio& song, const Bytes& bytes) {
    Messages messages;
    song.SetMessageSink(messages.Sink());
    ASSERT_EQ(song.LoadMidiFile(WriteFile("in.mid", bytes)), 1)
        << ::testing::PrintToString(messages.list);
}

// Stores the song and returns the bytes of the file.
Bytes Stored(CMidiFolio& song, int* result = nullptr) {
    std::string path = TmpPath("out.mid");
    int r = song.StoreMidiFile(path);
    if (result) *result = r;
    EXPECT_EQ(r, 1);
    return ReadFile(path);
}

// Names in a folder that start with a dot (the writer's temporary files).
std::vector<std::string> HiddenFiles(const std::string& dir) {
    std::vector<std::string> out;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != ".." && n[0] == '.') out.push_back(n);
        }
        closedir(d);
    }
    return out;
}

std::string MakeDir(const std::string& name) {
    std::string dir = TmpPath(name);
    EXPECT_EQ(mkdir(dir.c_str(), 0755), 0);
    return dir;
}

// Puts a file with the given bytes at a path (in a folder made by MakeDir).
void PlaceFile(const std::string& path, const Bytes& bytes) {
    const std::string t = WriteFile("placed.mid", bytes);
    ASSERT_EQ(rename(t.c_str(), path.c_str()), 0);
}

}  // namespace

// The header's track count is the track list's length; new tracks are empty chunks.
TEST(Store, TheHeaderHasBigEndianWordsAndTheTrackListLength) {
    CMidiFolio song;
    for (int i = 0; i < 3; ++i) song.AddTrack(new CMidiTrack());
    _MIDIHEAD head{1, 5, 480};
    song.SetMidiHeaderinfo(&head);
    ProgressLog progress;
    const std::string path = TmpPath("p.mid");
    ASSERT_EQ(song.StoreMidiFile(path, &progress), 1);
    EXPECT_EQ(progress.calls, (std::vector<std::string>{"range 0 3", "pos 0", "pos 1", "pos 2"}));
    EXPECT_EQ(ReadFile(path), Smf(1, 480, {Bytes(), Bytes(), Bytes()}));
    EXPECT_EQ(song.GetMidiHeaderInfo().nTracks, 3);
}

// The source omits the status byte after a text meta and after a clock byte; the output
// repeats it there, so the chunk is longer than the raw length. Each load adds one more
// tempo event in front of the first track. (The event forms are the encoder's tests.)
TEST(Store, ALoadedSongIsWrittenWithThePrefixItGainedAndStatusBytesRepeated) {
    const Bytes track = B({0x00, 0x90, 0x3C, 0x64, 0x00, 0xFF, 0x01, 0x00, 0x00, 0x3E,
                           0x64, 0x00, 0xF8, 0x00, 0x40, 0x64, 0x00, 0xFF, 0x2F, 0x00});
    const Bytes written = B({0x00, 0x90, 0x3C, 0x64, 0x00, 0xFF, 0x01, 0x00, 0x00, 0x90, 0x3E,
                             0x64, 0x00, 0xF8, 0x00, 0x90, 0x40, 0x64, 0x00, 0xFF, 0x2F, 0x00});
    CMidiFolio song;
    ASSERT_NO_FATAL_FAILURE(LoadInto(song, Smf(1, 96, {track, kEnd})));
    song.SetModifiedFlag(0);
    const std::string path = song.GetMidiPath();
    const Bytes bytes = Stored(song);
    EXPECT_EQ(bytes, Smf(1, 96, {Cat({kPrefix, written}), kEnd}));
    EXPECT_EQ(song.GetMidiPath(), path);
    EXPECT_EQ(song.IsModified(), 0);
    CMidiFolio again;
    ASSERT_NO_FATAL_FAILURE(LoadInto(again, bytes));
    EXPECT_EQ(Stored(again), Smf(1, 96, {Cat({kPrefix, kPrefix, written}), kEnd}));
}

TEST(Store, UnwritablePathFailsQuietlyAndChangesNothing) {
    CMidiFolio song;
    song.SetMessageSink([](const std::string& text) { ADD_FAILURE() << text; });
    song.AddTrack(new CMidiTrack());
    _MIDIHEAD head{1, 9, 96};
    song.SetMidiHeaderinfo(&head);
    // A missing folder, a directory, an empty name: 0, and the system's reason.
    for (auto [path, error] : {std::pair<std::string, int>{TmpPath("missing/dir/out.mid"), ENOENT},
                               {DataPath("corpus"), EISDIR},
                               {"", ENOENT}})
        EXPECT_TRUE(song.StoreMidiFile(path) == 0 && song.GetStoreError() == error) << path;
    EXPECT_EQ(song.GetMidiHeaderInfo().nTracks, 9);
    EXPECT_EQ(song.StoreMidiFile(TmpPath("fine.mid")), 1);
    EXPECT_EQ(song.GetStoreError(), 0);
}

// A replaced file keeps its permission bits (and, replaced by the superuser, its owner); a
// symbolic link stays a link to the replaced file; names up to the system's limit store and
// are replaced; nothing is left behind.
TEST(Store, ReplacingKeepsPermissionsAndLinksAndTakesLongNames) {
    const std::string dir = MakeDir("perm");
    const std::string path = dir + "/song.mid", link = dir + "/link.mid";
    const std::string longName = dir + "/" + std::string(251, 'n') + ".mid";  // 255 bytes
    ASSERT_NO_FATAL_FAILURE(PlaceFile(path, Bytes(20, 0x55)));
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    ASSERT_EQ(symlink("song.mid", link.c_str()), 0);
    const bool root = geteuid() == 0;
    ASSERT_TRUE(!root || chown(path.c_str(), 1234, 1234) == 0);
    CMidiFolio song;
    for (const std::string& target : {path, link, longName, longName})
        ASSERT_EQ(song.StoreMidiFile(target), 1)
            << target << ": " << std::strerror(song.GetStoreError());
    EXPECT_EQ(ReadFile(path), Header(0, 0, 0));  // shorter than before: nothing left over
    EXPECT_EQ(ReadFile(longName), Header(0, 0, 0));
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_uid, root ? 1234u : geteuid());
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_TRUE(HiddenFiles(dir).empty());
    EXPECT_EQ(song.StoreMidiFile(dir + "/" + std::string(256, 'n')), 0);
    EXPECT_EQ(song.GetStoreError(), ENAMETOOLONG);
}

TEST(Store, FailingPartWayLeavesTheOldFileIntact) {
    // A file size limit makes the writes fail part-way, as a full disk would.
    std::string dir = MakeDir("full");
    std::string path = dir + "/song.mid";
    const Bytes old = Smf(1, 96, {kEnd});
    ASSERT_NO_FATAL_FAILURE(PlaceFile(path, old));

    // A song of about 300 KB: a long sysex in one track.
    Bytes sysex = Cat({B({0x00, 0xF0}), Vlq(300000), Bytes(299999, 0x11), B({0xF7}), kEnd});
    CMidiFolio song;
    ASSERT_NO_FATAL_FAILURE(LoadInto(song, Smf(1, 96, {kEnd, sysex})));

    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &previous), 0);
    struct rlimit small = saved;
    small.rlim_cur = 100000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    int result = song.StoreMidiFile(path);
    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &previous, nullptr);

    EXPECT_EQ(result, 0);
    EXPECT_EQ(song.GetStoreError(), EFBIG);
    EXPECT_EQ(ReadFile(path), old);
    EXPECT_TRUE(HiddenFiles(dir).empty()) << HiddenFiles(dir).front();
    // Without the limit the same store succeeds.
    EXPECT_EQ(song.StoreMidiFile(path), 1);
    EXPECT_GT(ReadFile(path).size(), 300000u);
}

TEST(Store, FullDeviceReportsFailure) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full on this system";
    CMidiFolio song;
    ASSERT_NO_FATAL_FAILURE(
        LoadInto(song, Smf(1, 96, {Cat({B({0x00, 0xF0}), Vlq(100000), Bytes(100000, 1), kEnd})})));
    EXPECT_EQ(song.StoreMidiFile("/dev/full"), 0);
    EXPECT_EQ(song.GetStoreError(), ENOSPC);
}

TEST(Store, AWritableFileInAFolderThatIsNotIsRewrittenInPlace) {
    // Run as an ordinary user: as the superuser, a child process takes the user "nobody".
    std::string dir = MakeDir("ro");
    std::string path = dir + "/song.mid";
    const Bytes old = Smf(1, 96, {kEnd, kEnd, kEnd});
    ASSERT_NO_FATAL_FAILURE(PlaceFile(path, old));
    const std::string locked = dir + "/locked.mid";
    ASSERT_NO_FATAL_FAILURE(PlaceFile(locked, old));
    ASSERT_EQ(chmod(locked.c_str(), 0444), 0);
    const uid_t nobody = 65534;
    if (geteuid() == 0) {
        ASSERT_EQ(chown(path.c_str(), nobody, nobody), 0);
        ASSERT_EQ(chown(locked.c_str(), nobody, nobody), 0);
    }
    ASSERT_EQ(chmod(dir.c_str(), 0555), 0);
    CMidiFolio song;
    song.AddTrack(new CMidiTrack());
    // Exit status of the store: 0 as expected, 1 not, 2 no user to become, 3 path not
    // reachable for that user.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(nobody) != 0 || setuid(nobody) != 0)) _exit(2);
        if (access(path.c_str(), W_OK) != 0) _exit(3);
        const bool ok = song.StoreMidiFile(path) == 1 &&              // in place
                        song.StoreMidiFile(dir + "/new.mid") == 0 &&  // no new files
                        song.GetStoreError() == EACCES &&             //
                        song.StoreMidiFile(locked) == 0 && song.GetStoreError() == EACCES;
        _exit(ok ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    chmod(dir.c_str(), 0755);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "cannot run as the user nobody";
    if (WEXITSTATUS(status) == 3) GTEST_SKIP() << "the test folder is not open to nobody";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFile(path), Smf(0, 0, {Bytes()}));  // shorter: the rest was cut off
    EXPECT_EQ(ReadFile(locked), old);
    EXPECT_EQ(ReadFile(dir + "/new.mid"), Bytes());
    EXPECT_TRUE(HiddenFiles(dir).empty());
}

TEST(Store, AKilledStoreLeavesTheOldFileOrTheNewOneAndNothingElse) {
    std::string dir = MakeDir("killed");
    const std::string path = dir + "/song.mid";
    const Bytes old = Smf(1, 96, {kEnd});
    ASSERT_NO_FATAL_FAILURE(PlaceFile(path, old));
    CMidiFolio song;
    ASSERT_NO_FATAL_FAILURE(LoadInto(song, benchgen::FileFormat0(2.0)));
    const std::string reference = TmpPath("killed_reference.mid");
    ASSERT_EQ(song.StoreMidiFile(reference), 1);
    const Bytes stored = ReadFile(reference);
    int leftovers = 0;
    for (int round = 0; round < 15; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;) song.StoreMidiFile(path);
        }
        usleep(static_cast<useconds_t>(1000 + (round * 7919) % 40000));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        const Bytes now = ReadFile(path);
        EXPECT_TRUE(now == old || now == stored) << "round " << round << ": " << now.size();
        // The finished content needs a name for the rename over the target: a kill in the
        // instant between the two leaves that complete file, and nothing else, beside it.
        for (const std::string& name : HiddenFiles(dir)) {
            EXPECT_TRUE(ReadFile(dir + "/" + name) == stored) << "round " << round << ": " << name;
            ::unlink((dir + "/" + name).c_str());
            ++leftovers;
        }
    }
    EXPECT_LE(leftovers, 2) << "a killed store should leave a temporary file only rarely";
}

// Stores over an existing file; run under strace by the next test.
TEST(Store, DISABLED_ReplaceForTrace) {
    const std::string path = TmpPath("traced.mid");
    ASSERT_NO_FATAL_FAILURE(PlaceFile(path, B({1, 2, 3})));
    CMidiFolio song;
    ASSERT_EQ(song.StoreMidiFile(path), 1);
}

TEST(Store, AReplacementIsSyncedThenRenamedThenItsFolderSynced) {
    const std::string log = TmpPath("strace.txt");
    int status = -1;
    testsupport::Run(
        "strace -f -o '" + log +
            "' -e trace=openat,open,fsync,rename,renameat,renameat2,linkat /proc/" +
            std::to_string(getpid()) +
            "/exe --gtest_also_run_disabled_tests --gtest_filter=Store.DISABLED_ReplaceForTrace "
            ">/dev/null 2>&1",
        &status);
    if (status != 0) GTEST_SKIP() << "strace is not available or may not trace here";
    const Bytes bytes = ReadFile(log);
    std::vector<std::string> calls;
    std::string line;
    for (uint8_t c : bytes) {
        if (c != '\n') {
            line += static_cast<char>(c);
            continue;
        }
        if (line.find("traced.mid") != std::string::npos ||
            line.find("fsync(") != std::string::npos ||
            line.find("O_DIRECTORY") != std::string::npos)
            calls.push_back(line.substr(line.find(' ') + 1));
        line.clear();
    }
    // The new content is synced, takes the target's name, and then the folder is synced.
    auto find = [&](size_t from, const std::string& what) {
        for (size_t i = from; i < calls.size(); ++i)
            if (calls[i].find(what) != std::string::npos) return i;
        return calls.size();
    };
    const size_t sync = find(0, "fsync(");
    const size_t rename = find(sync, "rename");
    const size_t folder = find(rename, "O_DIRECTORY");
    ASSERT_LT(folder, calls.size()) << ::testing::PrintToString(calls);
    const std::string fd = calls[folder].substr(calls[folder].rfind('=') + 2);
    EXPECT_LT(find(folder, "fsync(" + fd + ")"), calls.size()) << ::testing::PrintToString(calls);
}

TEST(Store, RunsOnTheCallingThreadOnly) {
    // The 20 MB song of the benchmarks; the observer counts the process's threads at every
    // call.
    struct ThreadCounter : ProgressObserver {
        std::vector<int> seen;
        void Count() {
            DIR* d = opendir("/proc/self/task");
            int n = 0;
            while (dirent* e = d != nullptr ? readdir(d) : nullptr) n += e->d_name[0] != '.';
            if (d != nullptr) closedir(d);
            seen.push_back(n);
        }
        void SetRange(int, int) override { Count(); }
        void SetPos(int) override { Count(); }
    } counter;
    CMidiFolio song;
    ASSERT_NO_FATAL_FAILURE(LoadInto(song, benchgen::FileA()));
    ASSERT_EQ(song.StoreMidiFile(TmpPath("a.mid"), &counter), 1);
    EXPECT_EQ(counter.seen, std::vector<int>(song.GetTrackNum() + 1, 1));
}

TEST(StoreLarge, ManyShortTracksAndChunksLargerThanTheReadAheadLoadExactly) {
    // 3,000 short tracks (well over 64 KB of chunk headers and data), then one track of
    // 300 KB read past the read-ahead, then short ones again.
    std::vector<Bytes> tracks{kEnd};
    for (int i = 0; i < 3000; ++i)
        tracks.push_back(
            B({0x00, 0x90, i % 128, 0x40, 0x10, 0x80, i % 128, 0x00, 0x00, 0xFF, 0x2F, 0x00}));
    Bytes large{0x00, 0xB0, 7, 0, 0x00};  // then in running status, as the encoder writes it
    for (int i = 1; i < 100000; ++i) large.insert(large.end(), {7, uint8_t(i % 128), 0x00});
    large.insert(large.end(), {0xFF, 0x2F, 0x00});
    tracks.push_back(large);
    for (int i = 0; i < 10; ++i) tracks.push_back(kEnd);
    const Bytes file = Smf(1, 480, tracks);

    CMidiFolio song;
    ASSERT_NO_FATAL_FAILURE(LoadInto(song, file));
    ASSERT_EQ(song.GetTrackNum(), static_cast<int>(tracks.size()));
    EXPECT_EQ(song.GetTrack(3001)->GetCount(), 100001);
    tracks[0] = Cat({kPrefix, kEnd});
    EXPECT_EQ(Stored(song), Smf(1, 480, tracks));

    // Cut anywhere in the large track, the load fails.
    const Bytes cut(file.begin(), file.end() - 1000);
    CMidiFolio broken;
    broken.SetMessageSink([](const std::string&) {});
    EXPECT_EQ(broken.LoadMidiFile(WriteFile("large_cut.mid", cut)), 0);
}
