// The one way a file is rewritten: beside the old one, flushed, renamed into place with the old
// one's permissions, through links, never over anything but a regular file; and the names by
// which work files of ended processes are found again.

#include "TestSupport.h"
#include "qvr/package/detail/Journal.h"
#include "qvr/platform/detail/TestHooks.h"

#include "qvr/platform/TempFile.h"
#include "qvr/platform/WorkFiles.h"
#include "qvr/platform/detail/ArchiveError.h"
#include "qvr/platform/detail/RandomAccessFile.h"

#include <algorithm>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace qvr;
using namespace qvrtest;

namespace {

class ReplaceFile : public ArchiveTest {
protected:
    // Rewrites target through a TempFile with text.
    Result Rewrite(const std::string& target, const std::string& text) {
        TempFile temp;
        if (Result made = TempFile::Beside(target, temp); !made)
            return made;
        WriteAll(temp.Path(), text);
        return temp.ReplaceInto(target);
    }
    size_t FilesIn(const std::string& folder) const {
        size_t n = 0;
        for (auto& e : fs::directory_iterator(folder))
            n += e.is_regular_file() ? 1 : 0;
        return n;
    }
};

TEST_F(ReplaceFile, AFailedRenameLeavesTheOldFileAndNoWorkFile) {
    const std::string target = Path("settings.ini");
    WriteAll(target, "old");
    testhooks::FailNextReplace = true;
    EXPECT_FALSE(Rewrite(target, "new"));
    EXPECT_EQ(ReadAll(target), "old");
    EXPECT_EQ(FilesIn(dir), 1u);
    ASSERT_TRUE(Rewrite(target, "new"));
    EXPECT_EQ(ReadAll(target), "new");
    EXPECT_EQ(FilesIn(dir), 1u);
}

TEST_F(ReplaceFile, OnlyRegularFilesOrNothingAreReplaced) {
    TempFile made;
    EXPECT_FALSE(TempFile::Beside(dir + "/tmp", made));
    std::string real;
    EXPECT_TRUE(TempFile::RewriteTarget(Path("absent.qvr"), real));
    EXPECT_EQ(real, Path("absent.qvr"));
#ifndef _WIN32
    ASSERT_EQ(::mkfifo(Path("pipe").c_str(), 0600), 0);
    EXPECT_FALSE(TempFile::Beside(Path("pipe"), made));
    EXPECT_FALSE(TempFile::RewriteTarget("/dev/null", real));
    EXPECT_TRUE(fs::is_fifo(Path("pipe")));
    // Nor opened at all: opening a pipe would wait for a writer, for ever.
    for (const std::string& special : {Path("pipe"), std::string("/dev/zero")}) {
        const OpenStatus opened = arc.Open(special);
        EXPECT_EQ(opened.Kind, OpenKind::NotArchive) << special;
        EXPECT_NE(opened.Message.find("not a regular file"), std::string::npos) << opened.Message;
        EXPECT_THROW(RandomAccessFile(special, RandomAccessFile::Mode::Read), ArchiveError);
        EXPECT_FALSE(arc.IsZipArchive(special));
    }
#endif
}

#ifndef _WIN32
TEST_F(ReplaceFile, LinksAreFollowedAndPermissionsKept) {
    fs::create_directories(Path("store"));
    WriteAll(Path("store/real.qvr"), "old");
    ASSERT_EQ(::chmod(Path("store/real.qvr").c_str(), 0600), 0);
    fs::create_symlink("store/real.qvr", Path("link.qvr"));
    fs::create_symlink("link.qvr", Path("link2.qvr"));
    ASSERT_TRUE(Rewrite(Path("link2.qvr"), "new"));
    EXPECT_TRUE(fs::is_symlink(Path("link.qvr")));
    EXPECT_TRUE(fs::is_symlink(Path("link2.qvr")));
    EXPECT_EQ(ReadAll(Path("store/real.qvr")), "new");
    struct stat st {};
    ASSERT_EQ(::stat(Path("store/real.qvr").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // A dangling link: its file is made where it points.
    fs::create_symlink("store/later.qvr", Path("later.qvr"));
    ASSERT_TRUE(Rewrite(Path("later.qvr"), "made"));
    EXPECT_EQ(ReadAll(Path("store/later.qvr")), "made");
    fs::create_symlink("loop1", Path("loop2"));
    fs::create_symlink("loop2", Path("loop1"));
    TempFile made;
    EXPECT_FALSE(TempFile::Beside(Path("loop1"), made));
}

TEST_F(ReplaceFile, WorkFilesOfEndedProcessesAreFoundByTheirName) {
    uint32_t pid = 0;
    EXPECT_TRUE(IsWorkFileName("~qvr-mod.qvr-1234-5.tmp", pid));
    EXPECT_EQ(pid, 1234u);
    EXPECT_TRUE(IsWorkFileName("~qvr-a-b-c-77-0.tmp", pid));
    EXPECT_EQ(pid, 77u);
    EXPECT_TRUE(IsWorkFileName("~qvr-9-0.tmp", pid));
    EXPECT_EQ(pid, 9u);
    for (const char* other : {"qvr-1-2.tmp", "~qvr-x-1-2.tmpx", "~qvr-x-a-2.tmp", "~qvr-x-1-.tmp",
                              "~qvr-x-99999999999-1.tmp", "~qvr-.tmp"})
        EXPECT_FALSE(IsWorkFileName(other, pid)) << other;

    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    const std::string dead = Path("~qvr-pkg.qvr-" + std::to_string(child) + "-3.tmp");
    const std::string live = Path("~qvr-pkg.qvr-" + std::to_string(::getpid()) + "-4.tmp");
    WriteAll(dead, "x");
    WriteAll(live, "x");
    WriteAll(Path("sub/~qvr-x-" + std::to_string(child) + "-1.tmp"), "x");
    EXPECT_EQ(FindStaleWorkFiles(dir), std::vector<std::string>{dead});
    EXPECT_EQ(FindStaleWorkFiles(dir, true).size(), 2u);
    EXPECT_EQ(RemoveStaleWorkFiles(dir), std::vector<std::string>{dead});
    EXPECT_FALSE(fs::exists(dead));
    EXPECT_TRUE(fs::exists(live));

    // A work file's journal goes with it.
    const std::string stem = Path("~qvr-db-" + std::to_string(child));
    Archives work;
    work.TempFolder = arc.TempFolder;
    ASSERT_TRUE(work.CreateArchive(stem + "-6.tmp"));
    ASSERT_TRUE(work.AddFileToArchive(Source("a.esp", "aaaa"), "a.esp", ""));
    {
        auto file = journal::OpenLocked(stem + "-6.tmp", true);
        format::Head head = format::ReadHead(*file);
        journal::Begin(*file, head, format::ReadDirectory(*file, head));
    }
    auto stale = FindStaleWorkFiles(dir);
    std::sort(stale.begin(), stale.end());
    EXPECT_EQ(stale, (std::vector<std::string>{stem + "-6.tmp", stem + "-6.tmp-journal"}));
}

// Only what this program could have left is removed: regular files of its work files' names, and
// its own work folders whole. Others' files and folders named alike, and links, stay, as does
// whatever lies inside a folder that is not its own.
TEST_F(ReplaceFile, TheSweepRemovesOnlyWhatThisProgramMakes) {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    const std::string dead = "-" + std::to_string(child) + "-";
    struct Case {
        std::string name;
        bool folder, removed;
    };
    const std::vector<Case> cases = {
        {"~qvr-pkg.qvr" + dead + "1.tmp", false, true},
        {"~qvr-batch" + dead + "2.tmp", true, true},
        {"~qvr-my stuff" + dead + "3.tmp", true, false},
        {"~qvr-my stuff" + dead + "4.tmp", false, false},
        {"~qvr-notes" + dead + "5.tmp", true, false},
        {"~qvr-batch-x" + dead + "6.tmp", true, false},
    };
    for (const bool below : {false, true}) {
        for (const Case& c : cases)
            WriteAll(Path(c.folder ? c.name + "/~qvr-in" + dead + "9.tmp" : c.name), "x");
        fs::create_directory_symlink(Path(cases[2].name), Path("~qvr-link" + dead + "7.tmp"));
        RemoveStaleWorkFiles(dir, below);
        for (const Case& c : cases) {
            EXPECT_EQ(fs::exists(Path(c.name)), !c.removed) << c.name << " below=" << below;
            if (c.folder && !c.removed) {
                EXPECT_TRUE(fs::exists(Path(c.name + "/~qvr-in" + dead + "9.tmp"))) << c.name;
            }
        }
        EXPECT_TRUE(fs::is_symlink(Path("~qvr-link" + dead + "7.tmp")));
        fs::remove(Path("~qvr-link" + dead + "7.tmp"));
    }
}
#endif

} // namespace
