// Writing archives and reading them back: layout, round trips, removal.

#include "TestSupport.h"

#include "qvr/format/detail/modCompression.h"
#include "qvr/platform/detail/RandomAccessFile.h"

using namespace qvr;
using namespace qvrtest;

namespace {

class RoundTrip : public ArchiveTest {};

TEST_F(RoundTrip, NewArchiveIsTenBytesAndRefusesExistingFile) {
    const std::string path = Path("new.qvr");
    ASSERT_TRUE(arc.CreateArchive(path));
    EXPECT_EQ(ReadAll(path), std::string("QVR1.0\0\0\0\0", 10));
    EXPECT_EQ(arc.CurrentArchive, path);

    Archives other;
    WriteAll(Path("full.qvr"), "something");
    const Result made = other.CreateArchive(Path("full.qvr"));
    EXPECT_FALSE(made);
    EXPECT_EQ(ReadAll(Path("full.qvr")), "something");
    EXPECT_EQ(other.CurrentArchive, "");
    EXPECT_NE(made.Message.find("full.qvr"), std::string::npos);

    WriteAll(Path("empty.qvr"), "");
    EXPECT_TRUE(other.CreateArchive(Path("empty.qvr")));
    EXPECT_EQ(ReadAll(Path("empty.qvr")).size(), 10u);
}

// The layout of docs/format.md, byte by byte.
TEST_F(RoundTrip, OneMemberMatchesTheDocumentedLayout) {
    const std::string path = Path("one.qvr");
    const std::string content = MixedBytes(100, 1);
    ASSERT_TRUE(arc.CreateArchive(path));
    ASSERT_TRUE(arc.AddFileToArchive(Source("a.esp", content), "a.esp", ""));
    ASSERT_EQ(arc.ArchiveFiles.size(), 1u);
    const sgFileInfo& e = arc.ArchiveFiles[0];
    const std::string bytes = ReadAll(path);
    const int32_t B = e.FileCompressedSize();

    EXPECT_EQ(bytes.substr(0, 6), "QVR1.0");
    EXPECT_EQ(GetLe32(bytes, 6), 11 + B);
    EXPECT_EQ(bytes.substr(10, 4), std::string("\x64\0\0\0", 4));
    EXPECT_EQ(bytes.substr(14, 2), "\x78\xDA");
    std::string record = Le32(11) + Le32(B) + std::string("a.esp\0\0", 7) + e.FileDate() +
                         std::string(1, '\0') + "100" + std::string(1, '\0') + e.FileArchiveDate() +
                         std::string(1, '\0');
    EXPECT_EQ(bytes.substr(10 + B), record);
    EXPECT_EQ(e.FileOffset(), 11);
    EXPECT_EQ(e.FileSize(), 100);

    // The block is exactly what the compression module makes of the file.
    ASSERT_EQ(CompressFile(Source("a.esp", content), Path("block"), 9), 0);
    EXPECT_EQ(bytes.substr(10, B), ReadAll(Path("block")));
    EXPECT_EQ(WorkFilesLeft(), 0u);
}

TEST_F(RoundTrip, SecondMemberLeavesFirstBlockAndRecordInPlace) {
    const std::string path = Path("two.qvr");
    ASSERT_TRUE(arc.CreateArchive(path));
    ASSERT_TRUE(arc.AddFileToArchive(Source("a.esp", MixedBytes(5000, 2)), "a.esp", ""));
    const std::string before = ReadAll(path);
    const int32_t d1 = GetLe32(before, 6);
    ASSERT_TRUE(arc.AddFileToArchive(Source("b.nif", MixedBytes(7000, 3)), "b.nif", "Meshes\\x"));
    const std::string after = ReadAll(path);
    const sgFileInfo& b = arc.ArchiveFiles[1];
    EXPECT_EQ(b.FileOffset(), d1);
    EXPECT_EQ(GetLe32(after, 6), d1 + b.FileCompressedSize());
    EXPECT_EQ(after.substr(0, d1 - 1).substr(10), before.substr(10, d1 - 11));
    // Old directory unchanged behind the new block, new record after it.
    const std::string oldDirectory = before.substr(d1 - 1);
    EXPECT_EQ(after.substr(d1 - 1 + b.FileCompressedSize(), oldDirectory.size()), oldDirectory);
    EXPECT_EQ(OnDisk(path), arc.ArchiveFiles);
}

TEST_F(RoundTrip, EveryMemberExtractsToItsSource) {
    const std::string path = Path("many.qvr");
    ASSERT_TRUE(arc.CreateArchive(path));
    std::vector<std::pair<std::string, std::string>> files = {
        {"x.esp", MixedBytes(1, 4)},
        {"tiny.txt", "hello"},
        {"big.dds", RandomBytes(300000, 5)},
        {"mixed.nif", MixedBytes(1200000, 6)},
    };
    for (auto& [name, content] : files)
        ASSERT_TRUE(Ok(arc.AddFileToArchive(Source(name, content), name, "Data\\" + name)));

    Archives reader;
    reader.TempFolder = arc.TempFolder;
    EXPECT_TRUE(reader.OpenArchive(path));
    ASSERT_EQ(reader.ArchiveFiles.size(), files.size());
    EXPECT_EQ(reader.ArchiveFiles, arc.ArchiveFiles);
    for (size_t k = 0; k < files.size(); ++k) {
        const std::string out = Path("out/" + files[k].first);
        std::filesystem::create_directories(Path("out"));
        ASSERT_TRUE(Ok(reader.ExtractEntry(files[k].first, out, false)));
        EXPECT_EQ(ReadAll(out), files[k].second) << files[k].first;
    }
    // By name, ignoring case; without overwrite an existing file stays.
    WriteAll(Path("out/keep.txt"), "keep me");
    EXPECT_FALSE(reader.ExtractEntry("TINY.TXT", Path("out/keep.txt"), false));
    EXPECT_EQ(ReadAll(Path("out/keep.txt")), "keep me");
    EXPECT_TRUE(reader.ExtractEntry("TINY.TXT", Path("out/keep.txt"), true));
    EXPECT_EQ(ReadAll(Path("out/keep.txt")), "hello");
    EXPECT_FALSE(reader.ExtractEntry("missing.txt", Path("out/missing.txt"), true));
    EXPECT_FALSE(fs::exists(Path("out/missing.txt")));
}

TEST_F(RoundTrip, RemovingTheMiddleEqualsNeverHavingAddedIt) {
    const std::string a = Source("a.esp", MixedBytes(3000, 7));
    const std::string b = Source("b.esp", MixedBytes(4000, 8));
    const std::string c = Source("c.esp", MixedBytes(5000, 9));
    ASSERT_TRUE(arc.CreateArchive(Path("three.qvr")));
    ASSERT_TRUE(arc.AddFileToArchive(a, "a.esp", ""));
    ASSERT_TRUE(arc.AddFileToArchive(b, "b.esp", "Meshes"));
    ASSERT_TRUE(arc.AddFileToArchive(c, "c.esp", "Meshes\\Deep"));
    const auto firstValues = arc.ArchiveFiles;
    ASSERT_TRUE(Ok(arc.RemoveEntry("B.ESP", "meshes")));

    Archives two;
    two.TempFolder = arc.TempFolder;
    ASSERT_TRUE(two.CreateArchive(Path("two.qvr")));
    ASSERT_TRUE(two.AddFileToArchive(a, "a.esp", ""));
    ASSERT_TRUE(two.AddFileToArchive(c, "c.esp", "Meshes\\Deep"));
    // Same records except the archive dates, which keep their first values.
    auto twoFiles = two.ArchiveFiles;
    for (auto& e : twoFiles)
        e.FileArchiveDate(e.FileName() == "a.esp" ? firstValues[0].FileArchiveDate()
                                                  : firstValues[2].FileArchiveDate());
    EXPECT_EQ(arc.ArchiveFiles, twoFiles);
    EXPECT_EQ(OnDisk(Path("three.qvr")), arc.ArchiveFiles);
    const std::string x = ReadAll(Path("three.qvr")), y = ReadAll(Path("two.qvr"));
    const int32_t d = GetLe32(x, 6);
    EXPECT_EQ(d, GetLe32(y, 6));
    EXPECT_EQ(x.substr(0, d - 1), y.substr(0, d - 1));
    EXPECT_EQ(WorkFilesLeft(), 0u);
}

TEST_F(RoundTrip, RemovalMovesBlocksDownAndEndsAtTheEmptyArchive) {
    ASSERT_TRUE(arc.CreateArchive(Path("r.qvr")));
    ASSERT_TRUE(arc.AddFileToArchive(Source("a", MixedBytes(2000, 10)), "a", ""));
    ASSERT_TRUE(arc.AddFileToArchive(Source("b", MixedBytes(2000, 11)), "b", ""));
    ASSERT_TRUE(arc.AddFileToArchive(Source("c", MixedBytes(2000, 12)), "c", ""));
    const auto before = arc.ArchiveFiles;
    const std::string untouched = ReadAll(Path("r.qvr"));
    EXPECT_FALSE(arc.RemoveEntry("nothere", ""));
    EXPECT_FALSE(arc.RemoveEntry("a", "Meshes"));
    EXPECT_EQ(ReadAll(Path("r.qvr")), untouched);
    EXPECT_EQ(arc.ArchiveFiles, before);

    ASSERT_TRUE(arc.RemoveEntry("a", ""));
    ASSERT_EQ(arc.ArchiveFiles.size(), 2u);
    for (size_t k = 0; k < 2; ++k)
        EXPECT_EQ(arc.ArchiveFiles[k].FileOffset(),
                  before[k + 1].FileOffset() - before[0].FileCompressedSize());
    ASSERT_TRUE(arc.ExtractEntry("c", Path("c.out"), false));
    EXPECT_EQ(ReadAll(Path("c.out")), MixedBytes(2000, 12));
    ASSERT_TRUE(arc.RemoveEntry("c", ""));
    ASSERT_TRUE(arc.RemoveEntry("b", ""));
    EXPECT_TRUE(arc.ArchiveFiles.empty());
    EXPECT_EQ(ReadAll(Path("r.qvr")), std::string("QVR1.0\0\0\0\0", 10));
}

TEST_F(RoundTrip, OpeningAnotherArchiveReplacesTheList) {
    ASSERT_TRUE(arc.CreateArchive(Path("one.qvr")));
    for (const char* name : {"a", "b", "c"})
        ASSERT_TRUE(arc.AddFileToArchive(Source(name, name), name, "X"));
    Archives other;
    other.TempFolder = arc.TempFolder;
    ASSERT_TRUE(other.CreateArchive(Path("two.qvr")));
    ASSERT_TRUE(other.AddFileToArchive(Source("d", "dd"), "d", ""));

    Archives reader;
    reader.TempFolder = arc.TempFolder;
    ASSERT_TRUE(reader.OpenArchive(Path("one.qvr")));
    ASSERT_EQ(reader.ArchiveFiles.size(), 3u);
    EXPECT_EQ(reader.ArchiveFiles[2].FileName(), "c");
    ASSERT_TRUE(reader.OpenArchive(Path("two.qvr")));
    ASSERT_EQ(reader.ArchiveFiles.size(), 1u);
    EXPECT_EQ(reader.CurrentArchive, Path("two.qvr"));
    // An empty file at the destination counts as absent and is written over.
    WriteAll(Path("empty"), "");
    EXPECT_TRUE(reader.ExtractEntry("d", Path("empty"), false));
    EXPECT_EQ(ReadAll(Path("empty")), "dd");
    // A destination whose folder is missing fails and leaves nothing behind.
    const Result extracted = reader.ExtractEntry("d", Path("no/such/folder/d"), true);
    EXPECT_FALSE(extracted);
    EXPECT_FALSE(extracted.Message.empty());
}

TEST_F(RoundTrip, FindEntryIgnoresCase) {
    ASSERT_TRUE(arc.CreateArchive(Path("f.qvr")));
    ASSERT_TRUE(arc.AddFileToArchive(Source("A.TGA", "tga"), "A.TGA", "Textures"));
    auto found = arc.FindEntry("a.tga", "textures");
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->FileName(), "A.TGA");
    EXPECT_FALSE(arc.FindEntry("a.tga", "").has_value());
}

} // namespace
