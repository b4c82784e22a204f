// The files the tool writes, run as a real program: names up to the system's limit, symbolic
// links written through (or refused when they lead nowhere), and what SIGINT, SIGTERM and
// SIGKILL leave behind while a file is being written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

using namespace testsupport;

#ifndef MIDIFOLIO_CLI
TEST(CliOutput, IsNotBuilt) {
    GTEST_SKIP() << "configure with MIDIFOLIO_BUILD_CLI=ON to test the tool";
}
#else

#include "cli_support.h"

using namespace clitest;

namespace {

// The names in a folder, sorted ("." and ".." left out).
std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A song of about 2 MB (250,000 notes over 8 tracks), written once: its CSV takes the tool a
// good part of a second to write.
const std::string& BigSong() {
    static const std::string path = [] {
        std::vector<Bytes> tracks(8);
        for (int t = 0; t < 8; ++t) {
            for (int i = 0; i < 250000 / 8; ++i) {
                const int n = 36 + (i * 7 + t) % 60;
                tracks[t].insert(tracks[t].end(), {0, uint8_t(0x90 | t), uint8_t(n), 100, 0x60,
                                                   uint8_t(0x80 | t), uint8_t(n), 0});
            }
            tracks[t].insert(tracks[t].end(), {0, 0xFF, 0x2F, 0});
        }
        return WriteFile("big.mid", Smf(1, 480, tracks));
    }();
    return path;
}

// The tool as a child process: its arguments, standard output to `out` (a file descriptor),
// $TMPDIR set to `tmpdir`, working in `cwd`.
pid_t Start(const std::vector<std::string>& args, int out, const std::string& tmpdir,
            const std::string& cwd) {
    std::vector<std::string> words = {Tool()};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = {"TMPDIR=" + tmpdir};
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "TMPDIR=", 7) != 0) env.emplace_back(*e);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(out, 1);
        dup2(null, 2);
        if (chdir(cwd.c_str()) != 0) _exit(127);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

// Waits until the child has a file open in `dir` (the file it is writing); false when it
// ended first.
bool WaitForFileIn(pid_t pid, const std::string& dir) {
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    for (int tries = 0; tries < 20000; ++tries) {
        std::error_code ec;
        for (const auto& fd : std::filesystem::directory_iterator(fds, ec)) {
            const std::string target = std::filesystem::read_symlink(fd.path(), ec).string();
            if (!ec && target.rfind(dir + "/", 0) == 0) return true;
        }
        if (waitpid(pid, nullptr, WNOHANG) == pid) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return false;
}

int Reap(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// Whether a name is the writer's one possible leftover beside out.csv: ".out.csv.<16 hex
// digits>.tmp".
bool IsLeftover(const std::string& file) {
    return std::regex_match(file, std::regex(R"(\.out\.csv\.[0-9a-f]{16}\.tmp)"));
}

}  // namespace

// ------------------------------------------------------------------ names and links

TEST(CliOutput, NamesUpToTheSystemLimitAreWrittenLikeAnyOther) {
    const std::string dir = MakeDir("long_names"), small = DataPath("cli/small.mid");
    const std::string csv = Sh(Tool() + " csv " + Quote(small));
    const std::string csvFile = WriteFile("small.csv", Bytes(csv.begin(), csv.end()));
    // Each writer with the target as "T", and what it writes under a short name.
    const std::vector<std::string> writers = {
        "roll " + Quote(small) + " -o T", "csv " + Quote(small) + " -o T",
        "copy " + Quote(small) + " T", "from-csv " + Quote(csvFile) + " T",
        "edit " + Quote(small) + " T --transpose 0"};
    auto to = [](std::string args, const std::string& path) {
        return args.replace(args.find(" T") + 1, 1, Quote(path));
    };
    std::vector<Bytes> expected;
    for (const std::string& args : writers) {
        const std::string shortName = TmpPath("short.out");
        EXPECT_EQ(Cli(to(args, shortName)).status, 0) << args;
        expected.push_back(ReadFile(shortName));
    }
    // The names the writer's temporary names must be cut to fit beside.
    for (size_t length : {248, 252, 255}) {
        const std::string name = std::string(length - 4, 'n') + ".out", path = dir + "/" + name;
        for (size_t w = 0; w < writers.size(); ++w) {
            for (bool exists : {false, true}) {
                if (exists) Sh("echo old >" + Quote(path));
                const Result r = Cli(to(writers[w], path));
                EXPECT_EQ(r.status, 0) << length << " " << writers[w] << ": " << r.err;
                EXPECT_EQ(Listing(dir), std::vector<std::string>{name}) << length << " " << w;
                EXPECT_TRUE(ReadFile(path) == expected[w]) << length << " " << writers[w];
                std::remove(path.c_str());
            }
        }
    }
    const std::string tooLong = dir + "/" + std::string(256, 'n');
    const Result r = Cli("csv " + Quote(small) + " -o " + Quote(tooLong));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, ": could not be written: File name too long\n")) << r.err;
    EXPECT_EQ(Listing(dir), std::vector<std::string>{});
}

TEST(CliOutput, ALinkIsWrittenThroughAndOneThatLeadsNowhereIsRefused) {
    const std::string dir = MakeDir("links"), elsewhere = MakeDir("links_target");
    const std::string small = DataPath("cli/small.mid"), csv = Sh(Tool() + " csv " + Quote(small));
    const std::string csvFile = WriteFile("links.csv", Bytes(csv.begin(), csv.end()));
    const std::string target = elsewhere + "/real", link = dir + "/link";
    const std::vector<std::string> writers = {"csv " + Quote(small) + " -o L",
                                              "roll " + Quote(small) + " -o L",
                                              "copy " + Quote(small) + " L",
                                              "from-csv " + Quote(csvFile) + " L",
                                              "edit " + Quote(small) + " L --transpose 0",
                                              "merge " + Quote(small) + " -o L"};
    auto with = [](std::string args, const std::string& path) {
        return args.replace(args.find(" L") + 1, 1, Quote(path));
    };
    for (const std::string& args : writers) {
        // A live link: the file it names gets the content, the link stays a link.
        Sh("echo old >" + Quote(target) + " && ln -sfn " + Quote(target) + " " + Quote(link));
        const Result live = Cli(with(args, link));
        EXPECT_EQ(live.status, 0) << args << ": " << live.err;
        struct stat st {};
        ASSERT_EQ(lstat(link.c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << args;
        EXPECT_NE(Text(target), "old\n") << args;
        EXPECT_EQ(Listing(dir), std::vector<std::string>{"link"}) << args;
        EXPECT_EQ(Listing(elsewhere), std::vector<std::string>{"real"}) << args;

        // A dangling link and a loop of links: refused, and nothing is made.
        Sh("ln -sfn " + Quote(elsewhere + "/nowhere") + " " + Quote(link));
        const Result dangling = Cli(with(args, link));
        EXPECT_EQ(dangling.status, 1) << args;
        EXPECT_EQ(dangling.err,
                  "midifolio: " + link + ": could not be written: No such file or directory\n")
            << args;
        EXPECT_EQ(Listing(elsewhere), std::vector<std::string>{"real"}) << args;
        Sh("ln -sfn loop2 " + Quote(link) + " && ln -sfn link " + Quote(dir + "/loop2"));
        const Result loop = Cli(with(args, link));
        EXPECT_EQ(loop.status, 1) << args;
        EXPECT_EQ(loop.err, "midifolio: " + link +
                                ": could not be written: Too many levels of symbolic links\n")
            << args;
        EXPECT_EQ(Listing(dir), (std::vector<std::string>{"link", "loop2"})) << args;
        EXPECT_EQ(Sh("readlink " + Quote(link)), "loop2\n") << args;
        Sh("rm -f " + Quote(dir + "/loop2"));
    }
}

// ------------------------------------------------------------------ signals

TEST(CliSignals, InterruptedWritesLeaveNoTemporaryFileBehind) {
    const std::string song = BigSong();
    const std::string whole = Sh(Tool() + " csv " + Quote(song));
    for (int sig : {SIGINT, SIGTERM}) {
        for (bool exists : {false, true}) {
            const std::string dir = MakeDir("signal_out"), tmp = MakeDir("signal_tmp");
            const std::string target = dir + "/out.csv";
            if (exists) Sh("echo old >" + Quote(target));
            const int null = open("/dev/null", O_WRONLY);
            const pid_t pid = Start({"csv", song, "-o", target}, null, tmp, dir);
            close(null);
            const bool writing = WaitForFileIn(pid, dir);
            kill(pid, sig);
            const int status = Reap(pid);
            EXPECT_TRUE(writing) << "the tool ended before it was interrupted";
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig)
                << sig << ": the tool ends as the signal ends a program";
            // The target as it was (or, if the signal waited out the final rename, complete).
            const std::vector<std::string> left = Listing(dir);
            if (exists) {
                EXPECT_EQ(left, std::vector<std::string>{"out.csv"}) << sig;
            } else {
                EXPECT_TRUE(left.empty() || left == std::vector<std::string>{"out.csv"}) << sig;
            }
            if (!left.empty()) {
                const std::string text = Text(target);
                EXPECT_TRUE(text == whole || (exists && text == "old\n")) << sig;
            }
            EXPECT_EQ(Listing(tmp), std::vector<std::string>{}) << sig;
        }
        // copy to a pipe nobody reads: the tool waits on a full pipe when the signal comes.
        const std::string cwd = MakeDir("signal_copy"), tmp = MakeDir("signal_copy_tmp");
        int pipeFds[2];
        ASSERT_EQ(pipe(pipeFds), 0);
        const pid_t pid = Start({"copy", song, "-"}, pipeFds[1], tmp, cwd);
        close(pipeFds[1]);
        int queued = 0;
        for (int tries = 0; tries < 20000 && queued < 65536; ++tries) {
            ioctl(pipeFds[0], FIONREAD, &queued);
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        EXPECT_GE(queued, 65536) << "the pipe filled up";
        kill(pid, sig);
        const int status = Reap(pid);
        close(pipeFds[0]);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << sig;
        EXPECT_EQ(Listing(cwd), std::vector<std::string>{}) << sig;
        EXPECT_EQ(Listing(tmp), std::vector<std::string>{}) << sig;
    }
}

TEST(CliSignals, AKilledWriteLeavesAtMostOneCompleteTemporaryFile) {
    // SIGKILL cannot be caught: the file being written has no name until its final rename,
    // and a complete one beside the target, in the instant of that rename, is all that can
    // remain.
    const std::string song = BigSong();
    const std::string whole = Sh(Tool() + " csv " + Quote(song));
    ASSERT_GT(whole.size(), 10000000u);
    int interrupted = 0;
    for (int delayMs : {0, 50, 150, 300}) {
        for (bool exists : {false, true}) {
            const std::string dir = MakeDir("killed"), tmp = MakeDir("killed_tmp");
            const std::string target = dir + "/out.csv";
            if (exists) Sh("echo old >" + Quote(target));
            const int null = open("/dev/null", O_WRONLY);
            const pid_t pid = Start({"csv", song, "-o", target}, null, tmp, dir);
            close(null);
            if (WaitForFileIn(pid, dir))
                std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            kill(pid, SIGKILL);
            const int status = Reap(pid);
            interrupted += WIFSIGNALED(status);
            for (const std::string& name : Listing(dir)) {
                if (name == "out.csv") {
                    const std::string text = Text(target);
                    EXPECT_TRUE(text == "old\n" || text == whole) << delayMs << ": " << text.size();
                } else {
                    EXPECT_TRUE(IsLeftover(name)) << delayMs << ": " << name;
                    EXPECT_TRUE(Text(dir + "/" + name) == whole) << delayMs << ": " << name;
                }
            }
            const std::vector<std::string> left = Listing(dir);
            EXPECT_LE(left.size(), 2u) << delayMs;
            if (exists) {
                EXPECT_NE(std::find(left.begin(), left.end(), "out.csv"), left.end())
                    << delayMs << ": the target stays";
            }
            EXPECT_EQ(Listing(tmp), std::vector<std::string>{}) << delayMs;
        }
    }
    EXPECT_GT(interrupted, 0) << "no write was killed before it ended";
}

#endif  // MIDIFOLIO_CLI
