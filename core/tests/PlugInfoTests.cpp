// The plug-in information record and its info entry.

#include "TestSupport.h"

#include "qvr/format/detail/Format.h"
#include "qvr/format/sgPlugInfo.h"
#include "qvr/package/Verify.h"
#include "qvr/platform/detail/ArchiveError.h"

#include <algorithm>

using namespace qvr;
using namespace qvrtest;

namespace {

class PlugInfo : public ArchiveTest {
protected:
    void SetUp() override {
        ArchiveTest::SetUp();
        path = Path("mymod.qvr");
        ASSERT_TRUE(arc.CreateArchive(path));
        ASSERT_TRUE(arc.AddFileToArchive(Source("a.esp", "plugin"), "a.esp", ""));
    }
    sgPlugInfo Full() {
        sgPlugInfo p;
        p.PluginName("Rocks of Vvardenfell");
        p.Version("1.2");
        p.Depends("Morrowind.esm");
        p.Authors("J\xC3\xBCrgen & Zo\xC3\xAB");
        p.LastUpdated("3/7/2003");
        p.Notes("First line\r\nSecond line\n\tIndented \xE2\x82\xAC\r\n");
        return p;
    }
    std::string path;
};

std::string RecordOf(const sgPlugInfo& info) {
    std::string record = "unset";
    EXPECT_TRUE(info.ToRecord(record));
    return record;
}

TEST_F(PlugInfo, RecordLayout) {
    EXPECT_EQ(RecordOf(sgPlugInfo()), std::string(6, '\0'));
    sgPlugInfo p;
    p.PluginName("N");
    p.Version("V");
    p.Depends("D");
    p.Authors("A");
    p.LastUpdated("L");
    p.Notes("T");
    EXPECT_EQ(RecordOf(p), std::string("N\0V\0D\0A\0L\0T\0", 12));
    sgPlugInfo back;
    back.FromRecord(std::string("N\0V\0D\0A\0L\0T\0trailing", 20));
    EXPECT_EQ(back, p);
    // Cut short: the fields it holds, the rest empty.
    sgPlugInfo cut;
    cut.FromRecord(std::string("N\0V\0D", 5));
    EXPECT_EQ(cut.PluginName(), "N");
    EXPECT_EQ(cut.Version(), "V");
    EXPECT_EQ(cut.Depends(), "");
    EXPECT_EQ(cut.Notes(), "");

    std::string buffer("abc", 3);
    EXPECT_EQ(sgPlugInfo::GetToNull(buffer), "");
    EXPECT_EQ(buffer, "abc");
    buffer = std::string("\0xy\0", 4);
    EXPECT_EQ(sgPlugInfo::GetToNull(buffer), "");
    EXPECT_EQ(buffer, std::string("xy\0", 3));
}

TEST_F(PlugInfo, SaveAndReadBackThroughTheArchive) {
    const sgPlugInfo p = Full();
    ASSERT_TRUE(Ok(p.SavePluginData(arc, "mymod.qvr")));
    ASSERT_EQ(arc.ArchiveFiles.size(), 2u);
    EXPECT_EQ(arc.ArchiveFiles[1].FileName(), "mymod.qvr.ifo");
    EXPECT_EQ(arc.ArchiveFiles[1].FilePath(), "");
    EXPECT_TRUE(arc.IsInfoEntry(arc.ArchiveFiles[1]));
    EXPECT_FALSE(arc.IsInfoEntry(arc.ArchiveFiles[0]));
    EXPECT_EQ(arc.InfoEntryName(), "mymod.qvr.ifo");

    Archives reader;
    reader.TempFolder = arc.TempFolder;
    ASSERT_TRUE(reader.OpenArchive(path));
    sgPlugInfo back;
    ASSERT_TRUE(Ok(back.GetPluginData(reader, "MyMod.QVR")));
    EXPECT_EQ(back, p);
    EXPECT_EQ(WorkFilesLeft(), 0u);
}

TEST_F(PlugInfo, UpdateLeavesExactlyOneInfoEntryAtTheEnd) {
    ASSERT_TRUE(Full().SavePluginData(arc, "mymod.qvr"));
    ASSERT_TRUE(arc.AddFileToArchive(Source("b.esp", "second"), "b.esp", "Meshes"));
    sgPlugInfo changed = Full();
    changed.Version("2.0");
    ASSERT_TRUE(Ok(changed.UpdatePluginData(arc, "mymod.qvr")));
    ASSERT_EQ(arc.ArchiveFiles.size(), 3u);
    EXPECT_EQ(arc.ArchiveFiles[2].FileName(), "mymod.qvr.ifo");
    EXPECT_EQ(OnDisk(path), arc.ArchiveFiles);
    sgPlugInfo back;
    ASSERT_TRUE(back.GetPluginData(arc, "mymod.qvr"));
    EXPECT_EQ(back.Version(), "2.0");

    // An archive without one simply gains one; one with two ends with one.
    Archives other;
    other.TempFolder = arc.TempFolder;
    ASSERT_TRUE(other.CreateArchive(Path("two.qvr")));
    ASSERT_TRUE(Full().UpdatePluginData(other, "two.qvr"));
    ASSERT_TRUE(Full().SavePluginData(other, "two.qvr"));
    ASSERT_TRUE(Full().SavePluginData(other, "two.qvr"));
    EXPECT_EQ(other.ArchiveFiles.size(), 3u);
    ASSERT_TRUE(changed.UpdatePluginData(other, "two.qvr"));
    ASSERT_EQ(other.ArchiveFiles.size(), 1u);
    EXPECT_EQ(WorkFilesLeft(), 0u);
}

TEST_F(PlugInfo, TextsWindows1252CannotHoldWriteNothing) {
    const std::string before = ReadAll(path);
    sgPlugInfo p = Full();
    p.Notes("\xE6\x97\xA5\xE6\x9C\xAC");
    std::string record = "kept";
    EXPECT_FALSE(p.ToRecord(record));
    EXPECT_EQ(record, "kept");
    const Result saved = p.SavePluginData(arc, "mymod.qvr");
    EXPECT_FALSE(saved);
    EXPECT_NE(saved.Message.find("notes"), std::string::npos);
    EXPECT_FALSE(p.UpdatePluginData(arc, "mymod.qvr"));
    EXPECT_EQ(ReadAll(path), before);
    EXPECT_EQ(arc.ArchiveFiles.size(), 1u);
    EXPECT_EQ(WorkFilesLeft(), 0u);
}

// Information larger than its readers take is never stored; met in a package made elsewhere,
// verify says so rather than calling it cut short.
TEST_F(PlugInfo, InformationLargerThanReadersTakeIsRefused) {
    ASSERT_TRUE(Full().SavePluginData(arc, "mymod.qvr"));
    const std::string before = ReadAll(path);
    const std::string notes(static_cast<size_t>(format::kMaxInfoEntry), 'a');
    sgPlugInfo big = Full();
    big.Notes(notes);
    for (const bool update : {false, true}) {
        const Result stored =
            update ? big.UpdatePluginData(arc, "mymod.qvr") : big.SavePluginData(arc, "mymod.qvr");
        EXPECT_FALSE(stored) << update;
        EXPECT_NE(stored.Message.find("readers take"), std::string::npos) << stored.Message;
        EXPECT_EQ(ReadAll(path), before) << update;
    }
    Archives other;
    other.TempFolder = arc.TempFolder;
    ASSERT_TRUE(other.CreateArchive(Path("big.qvr")));
    std::string record = "Big|1.0||||" + notes + "|";
    std::replace(record.begin(), record.end(), '|', '\0');
    ASSERT_TRUE(other.AddFileToArchive(Source("big.ifo", record), "big.qvr.ifo", ""));
    const VerifyReport report = VerifyArchive(Path("big.qvr"));
    ASSERT_EQ(report.Problems.size(), 1u);
    EXPECT_NE(report.Problems[0].find("readers take"), std::string::npos) << report.Problems[0];
}

TEST_F(PlugInfo, MissingInfoKeepsTheFields) {
    sgPlugInfo p = Full();
    EXPECT_FALSE(p.GetPluginData(arc, "mymod.qvr"));
    EXPECT_EQ(p, Full());
    ASSERT_TRUE(sgPlugInfo().SavePluginData(arc, "mymod.qvr"));
    // Renamed after packaging: the entry is not found under the new name.
    EXPECT_FALSE(p.GetPluginData(arc, "renamed.qvr"));
    EXPECT_EQ(p, Full());
    EXPECT_TRUE(p.GetPluginData(arc, "mymod.qvr"));
    EXPECT_EQ(p, sgPlugInfo());
}

// A user's own file in the temporary folder under the info file's name survives.
TEST_F(PlugInfo, FilesInTheTemporaryFolderSurvive) {
    WriteAll(arc.TempFolder + "mymod.qvr.ifo", "mine");
    WriteAll(arc.TempFolder + "a.esp", "also mine");
    ASSERT_TRUE(Full().SavePluginData(arc, "mymod.qvr"));
    sgPlugInfo back;
    ASSERT_TRUE(back.GetPluginData(arc, "mymod.qvr"));
    ASSERT_TRUE(arc.AddFileToArchive(arc.TempFolder + "a.esp", "a.esp", "Other"));
    EXPECT_EQ(ReadAll(arc.TempFolder + "mymod.qvr.ifo"), "mine");
    EXPECT_EQ(ReadAll(arc.TempFolder + "a.esp"), "also mine");
    ASSERT_TRUE(arc.ExtractEntry(arc.ArchiveFiles.back(), Path("a.out"), false));
    EXPECT_EQ(ReadAll(Path("a.out")), "also mine");
}

} // namespace

namespace {

// Authors rename packages by version: the one entry named "*.qvr.ifo" is then the info entry;
// two of them leave none, and that is said.
TEST_F(PlugInfo, RenamedPackageKeepsItsDetailsAndUpdateRenamesTheEntry) {
    ASSERT_TRUE(Full().SavePluginData(arc, "mymod.qvr"));
    std::filesystem::copy_file(path, Path("mymod 1.1.qvr"));
    Archives copy;
    copy.TempFolder = arc.TempFolder;
    ASSERT_TRUE(copy.OpenArchive(Path("mymod 1.1.qvr")));
    EXPECT_EQ(copy.InfoEntryName(), "mymod.qvr.ifo");
    EXPECT_TRUE(copy.IsInfoEntry(copy.ArchiveFiles[1]));
    EXPECT_FALSE(copy.IsInfoEntry(copy.ArchiveFiles[0]));
    EXPECT_EQ(copy.InfoEntryProblem(), "");
    sgPlugInfo read;
    const qvr::Result got = read.GetPluginData(copy, "mymod 1.1.qvr");
    ASSERT_TRUE(got) << got.Message;
    EXPECT_EQ(read, Full());

    // Update writes one entry named after the file, with the new details, and drops the old.
    read.Version("1.1");
    const qvr::Result updated = read.UpdatePluginData(copy, "mymod 1.1.qvr");
    ASSERT_TRUE(updated) << updated.Message;
    ASSERT_EQ(copy.ArchiveFiles.size(), 2u);
    EXPECT_EQ(copy.ArchiveFiles[1].FileName(), "mymod 1.1.qvr.ifo");
    Archives again;
    again.TempFolder = arc.TempFolder;
    ASSERT_TRUE(again.OpenArchive(Path("mymod 1.1.qvr")));
    sgPlugInfo back;
    ASSERT_TRUE(back.GetPluginData(again, "mymod 1.1.qvr"));
    EXPECT_EQ(back.Version(), "1.1");
    EXPECT_EQ(WorkFilesLeft(), 0u);

    // A second candidate: neither is the info entry, and the reason names both.
    ASSERT_TRUE(arc.AddFileToArchive(Source("o.ifo", std::string(6, '\0')), "other.qvr.ifo", ""));
    std::filesystem::copy_file(path, Path("mymod 2.qvr"));
    Archives two;
    two.TempFolder = arc.TempFolder;
    ASSERT_TRUE(two.OpenArchive(Path("mymod 2.qvr")));
    EXPECT_EQ(two.InfoEntryName(), "mymod 2.qvr.ifo");
    for (const sgFileInfo& e : two.ArchiveFiles)
        EXPECT_FALSE(two.IsInfoEntry(e)) << e.FileName();
    const qvr::Result none = back.GetPluginData(two, "mymod 2.qvr");
    EXPECT_FALSE(none);
    EXPECT_NE(none.Message.find("mymod.qvr.ifo, other.qvr.ifo"), std::string::npos) << none.Message;
    EXPECT_EQ(two.InfoEntryProblem(), none.Message);
    // In the archive named after it, its own entry wins and the other is an ordinary file.
    EXPECT_EQ(arc.InfoEntryName(), "mymod.qvr.ifo");
    EXPECT_FALSE(arc.IsInfoEntry(arc.ArchiveFiles.back()));
}

} // namespace
