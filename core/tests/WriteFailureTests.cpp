// A write that fails part-way, or a rename that fails, must leave the package exactly as it
// was, with ArchiveFiles still listing what the file holds.

#include "TestSupport.h"
#include "qvr/package/detail/Internal.h"

#include "qvr/format/detail/modCompression.h"

using namespace qvr;
using namespace qvrtest;

namespace {

class WriteFailure : public ArchiveTest {
protected:
    void SetUp() override {
        ArchiveTest::SetUp();
        path = Path("pkg.qvr");
        ASSERT_TRUE(arc.CreateArchive(path));
        ASSERT_TRUE(arc.AddFileToArchive(Source("a.esp", MixedBytes(900, 1)), "a.esp", ""));
        ASSERT_TRUE(arc.AddFileToArchive(Source("b.nif", RandomBytes(700, 2)), "b.nif", "Meshes"));
        PlugInfo().PluginName("Old name");
        ASSERT_TRUE(PlugInfo().SavePluginData(arc, "pkg.qvr"));
        original = ReadAll(path);
        originalFiles = arc.ArchiveFiles;
    }
    sgPlugInfo& PlugInfo() { return arc.PluginInfo; }

    // Bytes the operation writes when nothing fails.
    template <class Op> int64_t BytesWritten(Op op) {
        testhooks::WriteBudget = int64_t{1} << 40;
        EXPECT_TRUE(op());
        int64_t used = (int64_t{1} << 40) - testhooks::WriteBudget.load();
        testhooks::WriteBudget = -1;
        Restore();
        return used;
    }
    void Restore() {
        WriteAll(path, original);
        qvr::detail::ArchivesAccess::Files(arc) = originalFiles;
    }
    // Runs op with the write failing after each chosen byte count and checks the package.
    template <class Op> void FailEverywhere(Op op, const char* name) {
        const int64_t total = BytesWritten(op);
        ASSERT_GT(total, 0);
        for (int64_t budget = 0; budget < total;
             budget += (total - budget > 64 ? std::max<int64_t>(1, total / 150) : 1)) {
            testhooks::WriteBudget = budget;
            const Result r = op();
            // The packing time goes into the bytes, so a run a second later may need a byte
            // fewer: a success is sound only when no write was cut (the budget still armed).
            if (r && testhooks::WriteBudget.load() >= 0) {
                testhooks::WriteBudget = -1;
                Restore();
                continue;
            }
            EXPECT_FALSE(r) << name << " with " << budget << " of " << total << " bytes";
            testhooks::WriteBudget = -1;
            EXPECT_FALSE(r.Message.empty()) << name;
            ASSERT_TRUE(ReadAll(path) == original) << name << " changed the package at " << budget;
            ASSERT_EQ(arc.ArchiveFiles, originalFiles) << name << " at " << budget;
            ASSERT_EQ(OnDisk(path), originalFiles);
        }
        EXPECT_EQ(WorkFilesLeft(), 0u) << name;
        size_t besidePackage = 0;
        for (auto& e : fs::directory_iterator(dir))
            besidePackage += e.is_regular_file();
        EXPECT_EQ(besidePackage, 1u) << name << " left a file beside the package";
    }

    std::string path;
    std::string original;
    std::vector<sgFileInfo> originalFiles;
};

TEST_F(WriteFailure, AddFileToArchive) {
    const std::string src = Source("c.dds", MixedBytes(1500, 3));
    FailEverywhere([&] { return arc.AddFileToArchive(src, "c.dds", "Textures"); }, "add");
    EXPECT_EQ(ReadAll(src), MixedBytes(1500, 3));
}

TEST_F(WriteFailure, AppendEntryData) {
    const std::string work = Path("w/block");
    fs::create_directories(Path("w"));
    ASSERT_EQ(CompressFile(Source("c.dds", MixedBytes(1500, 3)), work, 9), 0);
    FailEverywhere(
        [&] {
            sgFileInfo e;
            e.FileName("c.dds");
            e.FilePath("Textures");
            e.FileSize(1500);
            e.FileCompressedSize(static_cast<int32_t>(FileLength(work).value_or(-1)));
            return arc.AppendEntryData(e, work);
        },
        "append");
    fs::remove(work);
}

TEST_F(WriteFailure, RemoveEntry) {
    FailEverywhere([&] { return arc.RemoveEntry("a.esp", ""); }, "remove");
    testhooks::FailNextReplace = true;
    EXPECT_FALSE(arc.RemoveEntry("a.esp", ""));
    EXPECT_TRUE(ReadAll(path) == original);
    EXPECT_EQ(arc.ArchiveFiles, originalFiles);
}

TEST_F(WriteFailure, UpdatePluginDataKeepsTheOldInformation) {
    sgPlugInfo info;
    info.PluginName("New name");
    FailEverywhere([&] { return info.UpdatePluginData(arc, "pkg.qvr"); }, "update");
    testhooks::FailNextReplace = true;
    EXPECT_FALSE(info.UpdatePluginData(arc, "pkg.qvr"));
    EXPECT_TRUE(ReadAll(path) == original);

    sgPlugInfo read;
    ASSERT_TRUE(read.GetPluginData(arc, "pkg.qvr"));
    EXPECT_EQ(read.PluginName(), "Old name");
}

// Writing on from a list that no longer matches the file would lose entries.
TEST_F(WriteFailure, ListThatNoLongerMatchesTheFileIsRefused) {
    Archives other;
    other.TempFolder = arc.TempFolder;
    ASSERT_TRUE(other.OpenArchive(path));
    ASSERT_TRUE(other.AddFileToArchive(Source("late.esp", "late"), "late.esp", ""));
    const std::string changed = ReadAll(path);
    const std::string src = Source("c.dds", "c");
    const Result added = arc.AddFileToArchive(src, "c.dds", "");
    EXPECT_FALSE(added);
    EXPECT_NE(added.Message.find("open it again"), std::string::npos);
    EXPECT_FALSE(arc.RemoveEntry("a.esp", ""));
    EXPECT_FALSE(PlugInfo().UpdatePluginData(arc, "pkg.qvr"));
    EXPECT_TRUE(ReadAll(path) == changed);

    // A list cut short by a damaged directory cannot be written on either.
    std::string damaged = original;
    damaged.back() = 'x'; // the last record loses its closing NUL
    WriteAll(path, damaged);
    EXPECT_FALSE(arc.OpenArchive(path));
    EXPECT_EQ(arc.ArchiveFiles.size(), 2u);
    EXPECT_FALSE(arc.RemoveEntry("a.esp", ""));
    EXPECT_FALSE(arc.AddFileToArchive(src, "c.dds", ""));
    EXPECT_TRUE(ReadAll(path) == damaged);
}

} // namespace
