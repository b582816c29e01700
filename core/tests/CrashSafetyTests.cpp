// An append interrupted at any moment is undone by whoever opens the package next; journals
// that do not belong to the package change nothing; a second writer is kept out; an install
// reads one handle from start to end.

#include "TestSupport.h"
#include "qvr/package/detail/Internal.h"
#include "qvr/package/detail/Journal.h"

#include "qvr/install/Install.h"
#include "qvr/package/BatchAdd.h"
#include "qvr/package/Verify.h"
#include "qvr/platform/detail/RandomAccessFile.h"

#include <functional>
#include <map>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace qvr;
using namespace qvrtest;

namespace {

class CrashSafety : public ArchiveTest {
protected:
    void SetUp() override {
        ArchiveTest::SetUp();
        path = Path("pkg.qvr");
        ASSERT_TRUE(arc.CreateArchive(path));
        Add("a.esp", MixedBytes(900, 1));
        Add("b.nif", RandomBytes(700, 2));
        original = ReadAll(path);
        oldContents = contents;
    }
    void TearDown() override {
        testhooks::ArmFault(0, testhooks::FaultMode::Once);
        testhooks::LockWaitMs = 5000;
        ArchiveTest::TearDown();
    }
    void Add(const std::string& name, const std::string& bytes) {
        ASSERT_TRUE(Ok(arc.AddFileToArchive(Source(name, bytes), name, "")));
        contents[name] = bytes;
    }
    // The entries of the package on disk and what each inflates to, read as a program would.
    std::map<std::string, std::string> Held() { return Held(path); }
    std::map<std::string, std::string> Held(const std::string& at) {
        Archives reader;
        reader.TempFolder = arc.TempFolder;
        if (const OpenStatus opened = reader.Open(at); !opened.Usable())
            return {{"<unreadable>", opened.Message}};
        std::map<std::string, std::string> held;
        for (const sgFileInfo& e : reader.ArchiveFiles) {
            const std::string out = Path("out.bin");
            held[e.FileName()] = reader.ExtractEntry(e, out, true) ? ReadAll(out) : "<broken>";
            fs::remove(out);
        }
        return held;
    }

    std::string path;
    std::string original;
    std::map<std::string, std::string> contents, oldContents;
};

#ifndef _WIN32
// The process ends at the k-th file operation of an add of two files, for every k: the
// next opening finds the two old entries or all four, never fewer, never broken ones.
TEST_F(CrashSafety, AddKilledAtEveryOperationLeavesOldOrNewPackage) {
    std::map<std::string, std::string> added = oldContents;
    added["c.dds"] = MixedBytes(5000, 3);
    added["d.dds"] = RandomBytes(3000, 4);
    const std::vector<BatchFile> files = {{Source("c.dds", added["c.dds"]), "c.dds", ""},
                                          {Source("d.dds", added["d.dds"]), "d.dds", ""}};
    int sawOld = 0, sawNew = 0;
    for (int k = 1; k < 200; ++k) {
        WriteAll(path, original);
        ASSERT_EQ(arc.Open(path).Kind, OpenKind::Complete);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            testhooks::ArmFault(k, testhooks::FaultMode::Exit);
            BatchOptions options;
            options.Jobs = 1;
            const auto results = AddFilesToArchive(arc, files, options, {});
            _exit(results.size() == 2 && results[0].Added && results[1].Added ? 0 : 1);
        }
        int status = 0;
        waitpid(child, &status, 0);
        const auto held = Held();
        if (held == oldContents)
            ++sawOld;
        else if (held == added)
            ++sawNew;
        else
            FAIL() << "killed at operation " << k << ": the package holds " << held.size()
                   << " entries, neither the old nor the new ones";
        EXPECT_FALSE(fs::exists(journal::PathFor(path))) << k;
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
            EXPECT_EQ(held, added) << "an add that finished must stay";
            break;
        }
    }
    EXPECT_GT(sawOld, 0);
    EXPECT_GT(sawNew, 0) << "the add never finished within the operations tried";
}
#endif

// A journal is only acted on when it is whole and was written for this very package; any
// other file of its name is left alone.
TEST_F(CrashSafety, ForeignOrDamagedJournalChangesNothing) {
    // A real journal, taken while an append was under way.
    const std::string journalPath = journal::PathFor(path);
    {
        auto file = journal::OpenLocked(path, true);
        format::Head head = format::ReadHead(*file);
        journal::Begin(*file, head, format::ReadDirectory(*file, head));
    }
    const std::string real = ReadAll(journalPath);
    fs::remove(journalPath);
    Add("c.dds", MixedBytes(2000, 5));
    const std::string grown = ReadAll(path);

    // Cut short, or someone else's file of that name (a database's journal): left alone, and
    // the package untouched.
    for (const std::string& other : {real.substr(0, real.size() - 3), std::string("data\n")}) {
        WriteAll(journalPath, other);
        EXPECT_EQ(Held(), contents);
        EXPECT_EQ(ReadAll(path), grown);
        EXPECT_EQ(ReadAll(journalPath), other);
    }
    // No change that needs the name is made while it is there.
    const Result refused = arc.AddFileToArchive(Source("d.dds", "ddd"), "d.dds", "");
    EXPECT_FALSE(refused);
    EXPECT_NE(refused.Message.find("not this program's journal"), std::string::npos)
        << refused.Message;
    EXPECT_EQ(ReadAll(path), grown);
    EXPECT_EQ(ReadAll(journalPath), "data\n");

    // One flipped byte inside: the checksum tells.
    std::string flipped = real;
    flipped[flipped.size() / 2] ^= 0x20;
    WriteAll(journalPath, flipped);
    EXPECT_EQ(Held(), contents);
    EXPECT_EQ(ReadAll(path), grown);

    // Whole, but for another package of the same name whose earlier bytes differ.
    Archives other;
    other.TempFolder = arc.TempFolder;
    fs::create_directories(Path("elsewhere"));
    const std::string otherPath = Path("elsewhere/pkg.qvr");
    ASSERT_TRUE(other.CreateArchive(otherPath));
    ASSERT_TRUE(other.AddFileToArchive(Source("z.esp", RandomBytes(3333, 9)), "z.esp", ""));
    {
        auto file = journal::OpenLocked(otherPath, true);
        format::Head head = format::ReadHead(*file);
        journal::Begin(*file, head, format::ReadDirectory(*file, head));
    }
    fs::remove(journalPath); // MinGW's copy_file refuses to overwrite, whatever it is told
    fs::copy_file(journal::PathFor(otherPath), journalPath);
    EXPECT_EQ(Held(), contents);
    EXPECT_EQ(ReadAll(path), grown) << "a journal of another package was applied";

    // Whole and its own, but renamed beside a package of another name.
    fs::remove(journalPath);
    fs::copy_file(path, Path("copy.qvr"));
    WriteAll(journal::PathFor(Path("copy.qvr")), real);
    const std::string copy = ReadAll(Path("copy.qvr"));
    Archives third;
    EXPECT_TRUE(third.Open(Path("copy.qvr")).Usable());
    EXPECT_EQ(ReadAll(Path("copy.qvr")), copy);

    // Its own journal is acted on: back to the two first entries.
    WriteAll(journalPath, real);
    EXPECT_EQ(Held(), oldContents);
    EXPECT_EQ(ReadAll(path), original);
    EXPECT_FALSE(fs::exists(journalPath));
}

#ifndef _WIN32
// A change cut off while made through a link is put back whichever name opens the package next.
TEST_F(CrashSafety, AChangeThroughALinkIsPutBackFromEitherName) {
    fs::create_directories(Path("other"));
    const std::string link = Path("other/link.qvr");
    fs::create_symlink("../pkg.qvr", link);
    for (const std::string& opener : {path, link}) {
        WriteAll(path, original);
        {
            auto file = journal::OpenLocked(link, true);
            format::Head head = format::ReadHead(*file);
            journal::Begin(*file, head, format::ReadDirectory(*file, head));
            const std::string block = RandomBytes(500, 7); // a new block over the old directory
            file->WriteAt(head.Directory, block.data(), block.size());
        }
        EXPECT_FALSE(fs::exists(link + "-journal"));
        EXPECT_EQ(Held(opener), oldContents) << opener;
        EXPECT_EQ(ReadAll(path), original) << opener;
        EXPECT_FALSE(fs::exists(path + "-journal")) << opener;
    }
}
#endif

// A second writer waits for the first, then says the package is in use, and changes nothing.
TEST_F(CrashSafety, SecondWriterIsToldThePackageIsInUse) {
    testhooks::LockWaitMs = 200;
    {
        RandomAccessFile holder(path, RandomAccessFile::Mode::ReadWrite);
        holder.TakeLock(RandomAccessFile::Lock::Exclusive);
        const Result added = arc.AddFileToArchive(Source("c.dds", "ccc"), "c.dds", "");
        EXPECT_FALSE(added);
        EXPECT_NE(added.Message.find("in use by another program"), std::string::npos)
            << added.Message;
        EXPECT_FALSE(arc.RemoveEntries({0}));
        Archives reader;
        EXPECT_NE(reader.Open(path).Kind, OpenKind::Complete) << "read while being changed";
    }
    EXPECT_EQ(ReadAll(path), original);
    {
        // Readers share: two at once, and a writer waits for both.
        RandomAccessFile one(path, RandomAccessFile::Mode::Read);
        one.TakeLock(RandomAccessFile::Lock::Shared);
        Archives reader;
        EXPECT_EQ(reader.Open(path).Kind, OpenKind::Complete);
        EXPECT_FALSE(arc.AddFileToArchive(Source("c.dds", "ccc"), "c.dds", ""));
    }
    EXPECT_TRUE(Ok(arc.AddFileToArchive(Source("c.dds", "ccc"), "c.dds", "")));
}

// An install reads every entry from the handle it opened: a rewrite attempted meanwhile waits
// and gives up, and every entry arrives whole.
TEST_F(CrashSafety, InstallReadsOneHandleThroughout) {
    testhooks::LockWaitMs = 100;
    Add("c.dds", MixedBytes(4000, 6));
    ASSERT_EQ(arc.Open(path).Kind, OpenKind::Complete);
    const std::string data = Path("Data Files");
    fs::create_directories(data);
    Archives other;
    other.TempFolder = arc.TempFolder;
    ASSERT_EQ(other.Open(path).Kind, OpenKind::Complete);
    bool rewrote = true;
    const auto results =
        InstallArchive(arc, data, {}, [&](const EntryResult&, size_t done, size_t) {
            if (done == 1)
                rewrote = static_cast<bool>(other.RemoveEntries({1, 2}));
            return true;
        });
    EXPECT_FALSE(rewrote);
    ASSERT_EQ(results.size(), 3u);
    for (const EntryResult& r : results) {
        EXPECT_EQ(r.Outcome, EntryOutcome::Installed) << r.Message;
        EXPECT_EQ(ReadAll(r.Target), contents[r.Entry.FileName()]);
    }
    // Once it is over, the change goes through.
    EXPECT_TRUE(other.RemoveEntries({1, 2}));
}

// Changed between opening and installing: nothing is read from the new file as if it were
// the old one.
TEST_F(CrashSafety, InstallOfAPackageChangedSinceOpeningIsRefused) {
    ASSERT_EQ(arc.Open(path).Kind, OpenKind::Complete);
    Archives other;
    ASSERT_EQ(other.Open(path).Kind, OpenKind::Complete);
    ASSERT_TRUE(other.RemoveEntries({0}));
    const std::string data = Path("Data Files");
    fs::create_directories(data);
    const auto results = InstallArchive(arc, data, {}, {});
    for (const EntryResult& r : results) {
        EXPECT_EQ(r.Outcome, EntryOutcome::Failed);
        EXPECT_NE(r.Message.find("changed by another program"), std::string::npos) << r.Message;
    }
    EXPECT_TRUE(fs::is_empty(data));
}

} // namespace

// The check before each write compares the list with a print of the one last read or
// written: a change in any one field of any entry, or in the order, must change the print.
TEST(ListPrint, AnyChangedFieldOrOrderChangesThePrint) {
    sgFileInfo a;
    a.FileName("a.esp");
    a.FilePath("Meshes");
    a.FileDate("3/7/2003 14:5:9");
    a.FileArchiveDate("3/7/2003 14:5:9");
    a.FileOffset(5);
    a.FileSize(100);
    a.FileCompressedSize(60);
    sgFileInfo b = a;
    b.FileName("b.esp");
    const std::vector<std::function<void(sgFileInfo&)>> changes = {
        [](sgFileInfo& e) { e.FileName("c.esp"); },
        [](sgFileInfo& e) { e.FilePath("Meshe"); },
        [](sgFileInfo& e) { e.FileDate("3/7/2003 14:5:8"); },
        [](sgFileInfo& e) { e.FileArchiveDate(""); },
        [](sgFileInfo& e) { e.FileOffset(e.FileOffset() + 1); },
        [](sgFileInfo& e) { e.FileSize(e.FileSize() + 1); },
        [](sgFileInfo& e) { e.FileCompressedSize(e.FileCompressedSize() + 1); },
        // The same characters moved between name and folder.
        [](sgFileInfo& e) {
            e.FilePath(e.FilePath() + "a");
            e.FileName(".esp");
        },
    };
    const std::vector<sgFileInfo> list{a, b};
    EXPECT_EQ(qvr::detail::PrintOf(list), qvr::detail::PrintOf(std::vector<sgFileInfo>{a, b}));
    EXPECT_NE(qvr::detail::PrintOf(list), qvr::detail::PrintOf(std::vector<sgFileInfo>{b, a}));
    for (size_t k = 0; k < changes.size(); ++k)
        for (size_t at : {0u, 1u}) {
            std::vector<sgFileInfo> changed = list;
            changes[k](changed[at]);
            EXPECT_NE(qvr::detail::PrintOf(list), qvr::detail::PrintOf(changed)) << k << " " << at;
        }
}
