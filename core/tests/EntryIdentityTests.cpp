// Entries of the same name in different folders keep their own blocks, and each can be
// extracted as itself. Dates given to new entries.

#include "TestSupport.h"
#include "qvr/package/detail/Internal.h"

#include "qvr/platform/Encoding.h"
#include "qvr/platform/detail/RandomAccessFile.h"

#ifndef _WIN32
#include <sys/time.h>
#endif

using namespace qvr;
using namespace qvrtest;

namespace {

class EntryIdentity : public ArchiveTest {};

TEST_F(EntryIdentity, SameNameInTwoFoldersStaysApart) {
    ASSERT_TRUE(arc.CreateArchive(Path("p.qvr")));
    ASSERT_TRUE(arc.AddFileToArchive(Source("1", "first readme"), "readme.txt", "Docs"));
    ASSERT_TRUE(arc.AddFileToArchive(Source("2", "x"), "x.esp", ""));
    ASSERT_TRUE(
        arc.AddFileToArchive(Source("3", "second readme, longer"), "README.TXT", "Docs\\Other"));
    ASSERT_TRUE(arc.RemoveEntry("x.esp", ""));
    ASSERT_TRUE(arc.OpenArchive(Path("p.qvr")));
    ASSERT_EQ(arc.ArchiveFiles.size(), 2u);
    ASSERT_TRUE(arc.ExtractEntry(arc.ArchiveFiles[0], Path("one"), false));
    ASSERT_TRUE(arc.ExtractEntry(arc.ArchiveFiles[1], Path("two"), false));
    EXPECT_EQ(ReadAll(Path("one")), "first readme");
    EXPECT_EQ(ReadAll(Path("two")), "second readme, longer");
    // By name the first is taken, as before.
    ASSERT_TRUE(arc.ExtractEntry("readme.txt", Path("byname"), false));
    EXPECT_EQ(ReadAll(Path("byname")), "first readme");
    // A record that points outside the file is refused.
    sgFileInfo bad = arc.ArchiveFiles[0];
    bad.FileOffset(100000);
    EXPECT_FALSE(arc.ExtractEntry(bad, Path("bad"), false));
    EXPECT_FALSE(fs::exists(Path("bad")));
}

TEST_F(EntryIdentity, UnsafeOrUnstorableNamesAreNotAdded) {
    ASSERT_TRUE(arc.CreateArchive(Path("p.qvr")));
    const std::string src = Source("s", "content");
    const std::string before = ReadAll(Path("p.qvr"));
    for (auto [name, folder] :
         std::vector<std::pair<std::string, std::string>>{{"x.esp", "..\\.."},
                                                          {"CON", ""},
                                                          {"a:b", ""},
                                                          {"x.esp", "\\abs"},
                                                          {"\xE6\x97\xA5.esp", ""},
                                                          {"x.esp", std::string(300, 'f')}}) {
        const Result added = arc.AddFileToArchive(src, name, folder);
        EXPECT_FALSE(added) << name << " in " << folder;
        EXPECT_FALSE(added.Message.empty());
    }
    EXPECT_EQ(ReadAll(Path("p.qvr")), before);
    EXPECT_TRUE(arc.ArchiveFiles.empty());
    EXPECT_FALSE(arc.AddFileToArchive(Source("empty", ""), "empty.esp", ""));
    EXPECT_FALSE(arc.AddFileToArchive(Path("missing"), "missing.esp", ""));
    EXPECT_EQ(ReadAll(Path("p.qvr")), before);
    EXPECT_EQ(WorkFilesLeft(), 0u);

    Archives closed;
    EXPECT_FALSE(closed.AddFileToArchive(src, "x.esp", ""));
    EXPECT_FALSE(closed.RemoveEntry("x.esp", ""));
}

TEST_F(EntryIdentity, AppendEntryDataKeepsTheCallersValues) {
    ASSERT_TRUE(arc.CreateArchive(Path("p.qvr")));
    ASSERT_TRUE(arc.AddFileToArchive(Source("a", MixedBytes(500, 1)), "a", ""));
    sgFileInfo a = arc.ArchiveFiles[0];
    ASSERT_TRUE(arc.SaveEntryData(a, Path("saved.blk")));
    EXPECT_EQ(static_cast<int32_t>(ReadAll(Path("saved.blk")).size()), a.FileCompressedSize());

    sgFileInfo copy = a;
    copy.FilePath("Copy");
    ASSERT_TRUE(arc.AppendEntryData(copy, Path("saved.blk")));
    EXPECT_EQ(copy.FileOffset(), a.FileOffset() + a.FileCompressedSize());
    EXPECT_EQ(copy.FileDate(), a.FileDate());
    EXPECT_EQ(copy.FileArchiveDate(), a.FileArchiveDate());
    EXPECT_TRUE(fs::exists(Path("saved.blk")));
    EXPECT_EQ(arc.ArchiveFiles.size(), 1u); // the caller adds it
    qvr::detail::ArchivesAccess::Files(arc).push_back(copy);
    EXPECT_EQ(OnDisk(Path("p.qvr")), arc.ArchiveFiles);
    ASSERT_TRUE(arc.ExtractEntry(copy, Path("c.out"), false));
    EXPECT_EQ(ReadAll(Path("c.out")), MixedBytes(500, 1));
    EXPECT_FALSE(arc.AppendEntryData(copy, Path("missing.blk")));
}

TEST_F(EntryIdentity, WorkFilesAreNewEveryTime) {
    WriteAll(arc.TempFolder + "a.esp", "user's");
    const std::string one = arc.NewWorkFile("a.esp").Path;
    const std::string two = arc.NewWorkFile("a.esp").Path;
    EXPECT_NE(one, two);
    EXPECT_EQ(one.rfind(arc.TempFolder, 0), 0u);
    EXPECT_TRUE(fs::exists(one));
    EXPECT_EQ(ReadAll(arc.TempFolder + "a.esp"), "user's");
    arc.TempFolder = Path("no/such/folder/");
    const Archives::WorkFile none = arc.NewWorkFile("x");
    EXPECT_EQ(none.Path, "");
    EXPECT_NE(none.Outcome.Message.find("no/such/folder"), std::string::npos);
}

TEST_F(EntryIdentity, BlocksAroundTheCopyPieceSize) {
    for (int64_t n : {int64_t{1000000}, int64_t{2500001}}) {
        const std::string bytes = RandomBytes(static_cast<size_t>(n), 3);
        WriteAll(Path("from"), "xyz" + bytes);
        {
            RandomAccessFile from(Path("from"), RandomAccessFile::Mode::Read);
            RandomAccessFile to(Path("to"), RandomAccessFile::Mode::CreateReadWrite);
            CopyFileBlock(from, 4, to, 2, n);
        }
        const std::string out = ReadAll(Path("to"));
        ASSERT_EQ(out.size(), static_cast<size_t>(n) + 1);
        EXPECT_TRUE(out.substr(1) == bytes);
    }
    // A source shorter than the block is an error, not silent zeros.
    RandomAccessFile from(Path("from"), RandomAccessFile::Mode::Read);
    RandomAccessFile to(Path("to2"), RandomAccessFile::Mode::CreateReadWrite);
    EXPECT_ANY_THROW(CopyFileBlock(from, 4, to, 1, 3000000));
}

TEST_F(EntryIdentity, DatesOfANewEntry) {
    FindData d;
    d.Year = 2003;
    d.Month = 3;
    d.Day = 7;
    d.Hour = 14;
    d.Minute = 5;
    d.Second = 9;
    EXPECT_EQ(FormatFileDate(d), "3/7/2003 14:5:9");
    FindData none = GetFindData(Path("missing"));
    EXPECT_FALSE(none.Found);
    EXPECT_EQ(none.Name, "");
    EXPECT_EQ(none.Year, 0);
    const std::string now = FormatArchiveDate();
    EXPECT_FALSE(now.empty());
    EXPECT_TRUE(Utf8ToCp1252(now).has_value());

#ifndef _WIN32
    const std::string src = Source("dated.esp", "dated");
    struct timeval times[2] = {{1047045909, 0}, {1047045909, 0}}; // 2003-03-07 14:05:09 UTC
    ASSERT_EQ(utimes(src.c_str(), times), 0);
    FindData found = GetFindData(src);
    EXPECT_TRUE(found.Found);
    EXPECT_EQ(found.Name, "dated.esp");
    EXPECT_EQ(found.Size, 5);
    ASSERT_TRUE(arc.CreateArchive(Path("d.qvr")));
    ASSERT_TRUE(arc.AddFileToArchive(src, "dated.esp", ""));
    EXPECT_EQ(arc.ArchiveFiles[0].FileDate(), "3/7/2003 14:5:9");
#endif
}

} // namespace
