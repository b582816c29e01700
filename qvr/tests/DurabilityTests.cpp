// qvr on a full disk, through links and special files, interrupted, and with nowhere to write
// its output: the package is always the old one or the new one, and no work file stays.

#include "qvr/install/InstallRecord.h"
#include "qvr/package/Archives.h"
#include "qvr/package/Verify.h"

#include "qvrtest/ArchiveFixtures.h"
#include "qvrtest/Bytes.h"
#include "qvrtest/TempFolder.h"

#include <gtest/gtest.h>

#ifdef __linux__
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using qvrtest::Contains;
using qvrtest::ReadAll;
using qvrtest::WriteAll;

std::string Noise(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(rng() & 0xFF);
    return s;
}

struct Launch {
    std::vector<std::string> Args;
    rlim_t MaxFileSize =
        RLIM_INFINITY;       // with SIGXFSZ ignored: writes beyond fail as on a full disk
    std::string Stdout = {}; // a file, or "" for the fixture's own
    int StdoutFd = -1;       // used instead when set
    bool IgnorePipeSignal = false;
    int StdinFd = -1;         // "/dev/null" unless set
    unsigned MaxSeconds = 60; // then SIGALRM ends it: a hang fails the test, never stops it
};

struct Outcome {
    int Code = -1; // exit status, or 128 + signal
    std::string Out, Err;
};

class Durability : public ::testing::Test {
protected:
    void SetUp() override {
        dir = folder.Path();
        fs::create_directories(dir / "tmp");
    }

    pid_t Start(const Launch& l) {
        const std::string out = l.Stdout.empty() ? (dir / "out.txt").string() : l.Stdout;
        const std::string err = (dir / "err.txt").string();
        const std::string tmp = (dir / "tmp").string();
        pid_t pid = fork();
        if (pid == 0) {
            setenv("TMPDIR", tmp.c_str(), 1);
            int o = l.StdoutFd >= 0 ? l.StdoutFd
                                    : open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int n = l.StdinFd >= 0 ? l.StdinFd : open("/dev/null", O_RDONLY);
            alarm(l.MaxSeconds);
            dup2(o, 1);
            dup2(e, 2);
            dup2(n, 0);
            if (l.MaxFileSize != RLIM_INFINITY) {
                signal(SIGXFSZ, SIG_IGN);
                rlimit limit{l.MaxFileSize, l.MaxFileSize};
                setrlimit(RLIMIT_FSIZE, &limit);
            }
            signal(SIGPIPE, l.IgnorePipeSignal ? SIG_IGN : SIG_DFL);
            std::vector<char*> argv;
            std::string exe = QVR_EXE;
            argv.push_back(exe.data());
            std::vector<std::string> copy = l.Args;
            for (auto& a : copy)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(exe.c_str(), argv.data());
            _exit(127);
        }
        return pid;
    }

    Outcome Finish(pid_t pid) {
        int status = 0;
        waitpid(pid, &status, 0);
        Outcome r;
        r.Code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        r.Out = ReadAll(dir / "out.txt");
        r.Err = ReadAll(dir / "err.txt");
        return r;
    }

    Outcome Run(const Launch& l) { return Finish(Start(l)); }
    Outcome Run(const std::vector<std::string>& args) { return Run(Launch{args}); }

    std::string P(const std::string& rel) const { return (dir / rel).string(); }

    // count files of n bytes that do not compress, below folder.
    void MakeFolder(const std::string& folder, int count, size_t n, unsigned seed = 1) {
        for (int i = 0; i < count; ++i)
            WriteAll(dir / folder / ("file" + std::to_string(i) + ".dds"), Noise(n, seed + i));
    }

    // Work files left anywhere below the test's folder.
    std::vector<std::string> WorkFilesLeft() const {
        std::vector<std::string> left;
        for (auto& e : fs::recursive_directory_iterator(dir))
            if (e.path().filename().string().starts_with("~qvr-"))
                left.push_back(e.path().string());
        return left;
    }

    static size_t Entries(const std::string& path) {
        qvr::Archives arc;
        (void)arc.OpenArchive(path); // a partial directory counts what it holds
        return arc.ArchiveFiles.size();
    }

    // A process number no process has: a child that has ended and been reaped.
    static pid_t DeadPid() {
        pid_t pid = fork();
        if (pid == 0)
            _exit(0);
        waitpid(pid, nullptr, 0);
        return pid;
    }

    qvrtest::TempFolder folder{"qvr-durable"};
    fs::path dir;
};

// Finding 1: the half-written package was renamed over the good one.
TEST_F(Durability, CreateOverAPackageOnAFullDiskKeepsTheOldPackage) {
    MakeFolder("old", 12, 200'000);
    ASSERT_EQ(Run({"create", "-q", P("mod.qvr"), P("old")}).Code, 0);
    const std::string before = ReadAll(dir / "mod.qvr");
    ASSERT_EQ(Entries(P("mod.qvr")), 13u);

    MakeFolder("new", 20, 200'000, 100);
    Launch full{{"create", "-q", "-f", P("mod.qvr"), P("new")}};
    full.MaxFileSize = before.size() + 1'000'000; // room for the old package, not the new one
    const Outcome r = Run(full);
    EXPECT_NE(r.Code, 0);
    EXPECT_TRUE(Contains(r.Err, "left as it was")) << r.Err;
    EXPECT_EQ(ReadAll(dir / "mod.qvr"), before);
    EXPECT_TRUE(qvr::VerifyArchive(P("mod.qvr")).Problems.empty());
    EXPECT_TRUE(WorkFilesLeft().empty()) << WorkFilesLeft()[0];

    // A new package that cannot be written whole is not made at all.
    full.Args = {"create", "-q", P("other.qvr"), P("new")};
    EXPECT_NE(Run(full).Code, 0);
    EXPECT_FALSE(fs::exists(dir / "other.qvr"));
    EXPECT_TRUE(WorkFilesLeft().empty());
}

// An add that cannot be finished leaves the package as it was and says that nothing went in,
// though files were reported as they were compressed.
TEST_F(Durability, AddOnAFullDiskAddsNothingAndSaysSo) {
    MakeFolder("mod", 3, 100'000);
    ASSERT_EQ(Run({"create", "-q", P("mod.qvr"), P("mod")}).Code, 0);
    const std::string before = ReadAll(dir / "mod.qvr");
    MakeFolder("more", 10, 200'000, 50);
    Launch full{{"add", P("mod.qvr"), "--folder", "Textures"}};
    for (int i = 0; i < 10; ++i)
        full.Args.push_back(P("more/file" + std::to_string(i) + ".dds"));
    full.MaxFileSize = before.size() + 1'000'000; // room for some of the files, not all
    const Outcome r = Run(full);
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(Contains(r.Out, "Added 0 files")) << r.Out;
    EXPECT_TRUE(Contains(r.Err, "file0.dds: could not be added")) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "file9.dds")) << r.Err;
    EXPECT_EQ(ReadAll(dir / "mod.qvr"), before);
    EXPECT_TRUE(qvr::VerifyArchive(P("mod.qvr")).Problems.empty());
    EXPECT_TRUE(WorkFilesLeft().empty());
}

// Finding 4: special files replaced, links replaced by files, permissions widened.
TEST_F(Durability, SpecialFilesAreRefusedLinksFollowedAndPermissionsKept) {
    MakeFolder("mod", 3, 1000);
    ASSERT_EQ(mkfifo(P("pipe.qvr").c_str(), 0600), 0);
    for (bool force : {false, true}) {
        std::vector<std::string> args = {"create", "-q", P("pipe.qvr"), P("mod")};
        if (force)
            args.insert(args.begin() + 1, "-f");
        const Outcome r = Run(args);
        EXPECT_EQ(r.Code, 2);
        EXPECT_TRUE(Contains(r.Err, "not a regular file")) << r.Err;
        EXPECT_TRUE(fs::is_fifo(dir / "pipe.qvr"));
    }
    fs::create_symlink("/dev/null", dir / "null.qvr");
    EXPECT_EQ(Run({"create", "-q", "-f", P("null.qvr"), P("mod")}).Code, 2);
    EXPECT_TRUE(fs::is_character_file("/dev/null"));

    // Through a link: the file it names changes, the link stays.
    fs::create_directories(dir / "store");
    ASSERT_EQ(Run({"create", "-q", P("store/real.qvr"), P("mod")}).Code, 0);
    fs::create_symlink("store/real.qvr", dir / "link.qvr");
    chmod(P("store/real.qvr").c_str(), 0600);
    ASSERT_EQ(Run({"remove", "-q", P("link.qvr"), "file0.dds"}).Code, 0);
    EXPECT_TRUE(fs::is_symlink(dir / "link.qvr"));
    EXPECT_EQ(Entries(P("store/real.qvr")), 3u);
    ASSERT_EQ(Run({"set-info", "-q", P("link.qvr"), "--version", "2"}).Code, 0);
    ASSERT_EQ(Run({"create", "-q", "-f", P("link.qvr"), P("mod")}).Code, 0);
    EXPECT_TRUE(fs::is_symlink(dir / "link.qvr"));
    EXPECT_EQ(Entries(P("store/real.qvr")), 4u);
    struct stat st {};
    ASSERT_EQ(stat(P("store/real.qvr").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_TRUE(WorkFilesLeft().empty());
}

// Finding 5: work files stayed after kills and were never cleaned.
TEST_F(Durability, InterruptsRemoveTheWorkFileAndLaterCommandsRemoveStaleOnes) {
    MakeFolder("big", 40, 900'000);
    for (int sig : {SIGINT, SIGTERM}) {
        fs::remove(dir / "mod.qvr");
        const pid_t pid = Start(Launch{{"create", "-q", "-j1", P("mod.qvr"), P("big")}});
        // Interrupted while its work file is being written.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (WorkFilesLeft().empty() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        kill(pid, sig);
        const Outcome r = Finish(pid);
        if (r.Code == 0)
            continue; // finished before the signal came: nothing to show on this machine
        EXPECT_EQ(r.Code, 128 + sig);
        EXPECT_FALSE(fs::exists(dir / "mod.qvr"));
        EXPECT_TRUE(WorkFilesLeft().empty()) << WorkFilesLeft()[0];
    }

    // A killed process leaves its work files; the next command beside them removes them.
    MakeFolder("small", 2, 1000);
    fs::remove(dir / "mod.qvr");
    ASSERT_EQ(Run({"create", "-q", P("mod.qvr"), P("small")}).Code, 0);
    const std::string dead = std::to_string(DeadPid());
    const std::string mine = "~qvr-mod.qvr-" + std::to_string(getpid()) + "-1.tmp";
    WriteAll(dir / ("~qvr-mod.qvr-" + dead + "-7.tmp"), "half");
    WriteAll(dir / mine, "a live process's");
    fs::create_directories(dir / "tmp" / ("~qvr-batch-" + dead + "-0.tmp"));
    WriteAll(dir / "tmp" / ("~qvr-batch-" + dead + "-0.tmp") / "block-1", "x");
    Outcome r = Run({"verify", P("mod.qvr")});
    EXPECT_EQ(r.Code, 0) << r.Out;
    EXPECT_TRUE(Contains(r.Out, "~qvr-mod.qvr-" + dead + "-7.tmp, a work file left")) << r.Out;
    EXPECT_EQ(WorkFilesLeft(), std::vector<std::string>{P(mine)});

    WriteAll(dir / ("~qvr-mod.qvr-" + dead + "-8.tmp"), "half");
    EXPECT_EQ(Run({"list", P("mod.qvr")}).Code, 0);
    EXPECT_EQ(WorkFilesLeft(), std::vector<std::string>{P(mine)});
}

// A pipe, socket or device as the archive hung list, info, verify, add, remove, set-info and
// install (opening a pipe waits for a writer); every command refuses it at once.
TEST_F(Durability, APipeAsTheArchiveIsRefusedAtOnce) {
    MakeFolder("mod", 1, 1000);
    fs::create_directories(dir / "data");
    ASSERT_EQ(mkfifo(P("pipe.qvr").c_str(), 0600), 0);
    const std::string pipe = P("pipe.qvr");
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"list", pipe},
                                               {"info", pipe},
                                               {"verify", pipe},
                                               {"add", pipe, P("mod/file0.dds")},
                                               {"remove", pipe, "file0.dds"},
                                               {"set-info", pipe, "--version", "2"},
                                               {"install", pipe, P("data")},
                                               {"uninstall", "--yes", pipe, P("data")},
                                               {"list", "/dev/zero"}}) {
        Launch l{args};
        l.MaxSeconds = 20;
        const Outcome r = Run(l);
        EXPECT_EQ(r.Code, 2) << args[0];
        EXPECT_TRUE(Contains(r.Err, "not a regular file (a device, pipe or socket)"))
            << args[0] << ": " << r.Err;
    }
    EXPECT_TRUE(fs::is_fifo(dir / "pipe.qvr"));
    EXPECT_TRUE(fs::is_empty(dir / "data"));
}

// Finding 15: the copy of a package read from standard input, or written to standard output,
// stayed when the process was interrupted or its reader went away, and nothing removed it.
TEST_F(Durability, StandardStreamCopiesGoOnEveryExitAndStaleOnesAreSwept) {
    MakeFolder("mod", 3, 300'000);
    const std::string tmp = P("tmp");
    auto spoolsLeft = [&] {
        std::vector<std::string> left;
        for (auto& e : fs::directory_iterator(dir / "tmp"))
            left.push_back(e.path().filename().string());
        return left;
    };
    // Its reader takes 100 bytes and goes; the writer ends as SIGPIPE ends a program.
    const std::string pipeline = "TMPDIR=" + tmp + " " + QVR_EXE + " create - " + P("mod") +
                                 " 2>/dev/null | head -c 100 > /dev/null";
    EXPECT_EQ(std::system(pipeline.c_str()), 0);
    EXPECT_TRUE(spoolsLeft().empty()) << spoolsLeft()[0];

    ASSERT_EQ(Run({"create", "-q", P("mod.qvr"), P("mod")}).Code, 0);
    const std::string package = ReadAll(dir / "mod.qvr");
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        Launch l{{"list", "-"}};
        l.StdinFd = fds[0];
        const pid_t pid = Start(l);
        close(fds[0]);
        // Half the package, then the writer waits: the copy is being made.
        ASSERT_EQ(write(fds[1], package.data(), package.size() / 2),
                  static_cast<ssize_t>(package.size() / 2));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (spoolsLeft().empty() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        EXPECT_FALSE(spoolsLeft().empty());
        kill(pid, sig);
        EXPECT_EQ(Finish(pid).Code, 128 + sig);
        close(fds[1]);
        EXPECT_TRUE(spoolsLeft().empty()) << spoolsLeft()[0];
    }

    // Left by processes that were killed outright: swept by the next command that spools, by
    // what they hold as well as by their names; another program's folder stays.
    const std::string dead = std::to_string(DeadPid());
    WriteAll(dir / "tmp" / ("qvr-" + dead + "-0") / "stdin.qvr", package.substr(0, 99));
    WriteAll(dir / "tmp" / ("~qvr-spool-" + dead + "-3.tmp") / "stdin.qvr", "x");
    WriteAll(dir / "tmp" / ("qvr-" + dead + "-1") / "notes.txt", "someone else's");
    const int fd = open(P("mod.qvr").c_str(), O_RDONLY);
    Launch l{{"list", "-"}};
    l.StdinFd = fd;
    EXPECT_EQ(Run(l).Code, 0);
    close(fd);
    EXPECT_EQ(spoolsLeft(), std::vector<std::string>{"qvr-" + dead + "-1"});
}

// Archives read from standard input are told apart by their bytes: a second one is an install
// of its own, not a new version of the first that takes its install back; the first again is.
TEST_F(Durability, ArchivesFromStandardInputAreToldApartByTheirBytes) {
    ASSERT_TRUE(qvrtest::MakeZip(dir / "x.zip", {{"x.esp", "x"}}));
    ASSERT_TRUE(qvrtest::MakeZip(dir / "z.zip", {{"z.esp", "z"}}));
    WriteAll(dir / "data" / "Morrowind.esm", "TES3");
    for (const char* zip : {"x.zip", "z.zip", "x.zip"}) {
        const int fd = open(P(zip).c_str(), O_RDONLY);
        Launch l{{"install", "-q", "-", P("data")}};
        l.StdinFd = fd;
        const Outcome r = Run(l);
        close(fd);
        EXPECT_EQ(r.Code, 0) << zip << ": " << r.Err;
    }
    EXPECT_EQ(ReadAll(dir / "data" / "x.esp"), "x");
    EXPECT_EQ(ReadAll(dir / "data" / "z.esp"), "z");
    EXPECT_EQ(qvr::ListInstallRecords(P("data")).size(), 2u);
}

// Issue 25, finding 12: a file named like the package's journal is someone else's unless it
// says it is ours: reading leaves it alone, and a change that needs the name refuses.
TEST_F(Durability, AForeignJournalIsLeftAlone) {
    MakeFolder("mod", 2, 1000);
    ASSERT_EQ(Run({"create", "-q", P("db.sqlite"), P("mod")}).Code, 0);
    WriteAll(dir / "db.sqlite-journal", "data\n");
    EXPECT_EQ(Run({"list", P("db.sqlite")}).Code, 0);
    EXPECT_EQ(ReadAll(dir / "db.sqlite-journal"), "data\n");
    MakeFolder("more", 1, 1000, 9);
    const Outcome r = Run({"add", P("db.sqlite"), "--folder", "x", P("more/file0.dds")});
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(Contains(r.Err, "db.sqlite-journal beside it is not this program's journal"))
        << r.Err;
    EXPECT_EQ(ReadAll(dir / "db.sqlite-journal"), "data\n");
    EXPECT_EQ(Entries(P("db.sqlite")), 3u);
}

// Finding 7: output lost on a full disk or a closed pipe was success.
TEST_F(Durability, LostStandardOutputIsAnError) {
    MakeFolder("mod", 3, 1000);
    ASSERT_EQ(Run({"create", "-q", P("mod.qvr"), P("mod")}).Code, 0);
    Launch full{{"list", P("mod.qvr")}};
    full.Stdout = "/dev/full";
    Outcome r = Run(full);
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "standard output")) << r.Err;

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    Launch closed{{"info", P("mod.qvr")}};
    closed.StdoutFd = fds[1];
    closed.IgnorePipeSignal = true;
    r = Run(closed);
    close(fds[1]);
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "standard output")) << r.Err;
}

// Finding 8: an interrupted add, run again, failed on every file it had already added.
TEST_F(Durability, AddingAgainCompletesAnInterruptedAdd) {
    MakeFolder("mod", 1, 1000);
    MakeFolder("more", 4, 3000, 50);
    ASSERT_EQ(Run({"create", "-q", P("mod.qvr"), P("mod")}).Code, 0);
    // As if the first add ended after two of its four files.
    ASSERT_EQ(Run({"add", "-q", P("mod.qvr"), "--folder", "Textures", P("more/file0.dds"),
                   P("more/file1.dds")})
                  .Code,
              0);
    std::vector<std::string> all = {"add", P("mod.qvr"), "--folder", "Textures"};
    for (int i = 0; i < 4; ++i)
        all.push_back(P("more/file" + std::to_string(i) + ".dds"));
    Outcome r = Run(all);
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Contains(r.Out, "Added 2 files")) << r.Out;
    EXPECT_TRUE(Contains(r.Out, "2 files were there already")) << r.Out;
    EXPECT_EQ(r.Err, "");
    EXPECT_EQ(Entries(P("mod.qvr")), 6u);

    // A different file of the same name is still refused, named once.
    WriteAll(dir / "more" / "file0.dds", "other bytes");
    r = Run(all);
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(Contains(r.Err, "already holds Textures/file0.dds")) << r.Err;
    EXPECT_FALSE(Contains(r.Err, "file1.dds")) << r.Err;
    EXPECT_EQ(Entries(P("mod.qvr")), 6u);
}

} // namespace
#endif
