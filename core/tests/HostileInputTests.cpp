// Opening damaged or hostile files: never out of bounds, never a crash, always closed, and
// failure reported with the entries read so far.

#include "TestSupport.h"
#include "qvr/package/detail/Internal.h"
#include "qvrtest/ZipBuilder.h"

#include "qvr/format/detail/modCompression.h"
#include "qvr/format/sgPlugInfo.h"
#include "qvr/package/Verify.h"

using namespace qvr;
using namespace qvrtest;

namespace {

class Hostile : public ArchiveTest {
protected:
    size_t OpenFiles() const {
#ifdef __linux__
        size_t n = 0;
        for (auto& e : fs::directory_iterator("/proc/self/fd"))
            (void)e, ++n;
        return n;
#else
        return 0;
#endif
    }
};

std::string Nul() {
    return std::string(1, '\0');
}

// An archive written by hand: the given blocks, then the given records.
std::string HandMade(const std::vector<std::string>& blocks,
                     const std::vector<std::string>& records, int32_t directory = 0) {
    std::string data;
    for (const std::string& b : blocks)
        data += b;
    std::string out =
        "QVR1.0" + Le32(directory ? directory : 11 + static_cast<int32_t>(data.size()));
    out += data;
    for (const std::string& r : records)
        out += r;
    return out;
}

std::string RecordOf(int32_t offset, int32_t compressed, const std::string& name,
                     const std::string& size) {
    return Le32(offset) + Le32(compressed) + name + Nul() + Nul() + "1/1/2000 0:0:0" + Nul() +
           size + Nul() + "now" + Nul();
}

TEST_F(Hostile, EveryCutOfAnArchiveOpensSafely) {
    const std::string path = Path("full.qvr");
    ASSERT_TRUE(arc.CreateArchive(path));
    ASSERT_TRUE(arc.AddFileToArchive(Source("a.esp", MixedBytes(300, 1)), "a.esp", ""));
    ASSERT_TRUE(arc.AddFileToArchive(Source("b.nif", MixedBytes(200, 2)), "b.nif", "Meshes"));
    ASSERT_TRUE(arc.PluginInfo.SavePluginData(arc, "full.qvr"));
    const std::string full = ReadAll(path);
    const auto entries = arc.ArchiveFiles;
    const size_t filesBefore = OpenFiles();

    for (size_t n = 0; n < full.size(); ++n) {
        WriteAll(Path("cut.qvr"), full.substr(0, n));
        Archives reader;
        reader.TempFolder = arc.TempFolder;
        const Result ok = reader.OpenArchive(Path("cut.qvr"));
        ASSERT_LE(reader.ArchiveFiles.size(), entries.size());
        for (size_t k = 0; k < reader.ArchiveFiles.size(); ++k)
            ASSERT_EQ(reader.ArchiveFiles[k], entries[k]) << "cut at " << n;
        // Only a cut right behind a whole record can pass for a smaller archive.
        if (ok) {
            EXPECT_LT(reader.ArchiveFiles.size(), entries.size());
        } else if (n >= 10) {
            EXPECT_FALSE(ok.Message.empty()) << n;
        }
        for (const sgFileInfo& e : reader.ArchiveFiles)
            (void)reader.ExtractEntry(e, Path("x.out"), true);
        sgPlugInfo info;
        (void)info.GetPluginData(reader, "cut.qvr");
    }
    EXPECT_EQ(OpenFiles(), filesBefore);
    EXPECT_EQ(WorkFilesLeft(), 0u);
}

TEST_F(Hostile, EveryCutOfAZipListsSafely) {
    const BuiltZip zip = BuildZip({{"a/b.esp", "12345"}, {"dir/", ""}, {"c.esp", "678", true}});
    const BuiltZip zip64 = BuildZip({{"a/b.esp", "12345"}, {"c.esp", "678"}}, true, true);
    const size_t filesBefore = OpenFiles();
    for (const BuiltZip* z : {&zip, &zip64}) {
        for (size_t n = 0; n < z->bytes.size(); ++n) {
            WriteAll(Path("cut.zip"), z->bytes.substr(0, n));
            Archives reader;
            (void)reader.OpenArchive(Path("cut.zip"));
            ASSERT_LE(reader.ArchiveFiles.size(), 3u); // the walk lists folder entries too
            for (const sgFileInfo& e : reader.ArchiveFiles)
                ASSERT_GT(e.FileOffset(), 0);
        }
    }
    EXPECT_EQ(OpenFiles(), filesBefore);
}

TEST_F(Hostile, LyingDirectoryValuesFailTheOpening) {
    const std::string block = [&] {
        Archives tmp;
        tmp.TempFolder = arc.TempFolder;
        EXPECT_TRUE(tmp.CreateArchive(Path("src.qvr")));
        EXPECT_TRUE(tmp.AddFileToArchive(Source("m", MixedBytes(40, 3)), "m", ""));
        const std::string all = ReadAll(Path("src.qvr"));
        return all.substr(10, tmp.ArchiveFiles[0].FileCompressedSize());
    }();
    const int32_t B = static_cast<int32_t>(block.size());
    const std::string good = RecordOf(11, B, "m", "40");
    struct Case {
        const char* what;
        std::string bytes;
        size_t listed; // entries read before the failure
    } cases[] = {
        {"offset past the end", HandMade({block}, {good, RecordOf(5000, B, "n", "40")}), 1},
        {"offset in the header", HandMade({block}, {RecordOf(3, B, "n", "40")}), 0},
        {"size past the directory", HandMade({block}, {RecordOf(11, B + 1, "n", "40")}), 0},
        {"negative size", HandMade({block}, {RecordOf(11, -1, "n", "40")}), 0},
        {"size not a number", HandMade({block}, {good, RecordOf(11, B, "n", "4O")}), 1},
        {"name over 255 bytes",
         HandMade({block}, {good, RecordOf(11, B, std::string(300, 'x'), "4")}), 1},
        {"empty name", HandMade({block}, {good, RecordOf(11, B, "", "40")}), 1},
        {"zero offset", HandMade({block}, {good, RecordOf(0, B, "z", "40")}), 1},
        {"directory in the header", HandMade({block}, {good}, 5), 0},
        {"directory past the end", HandMade({block}, {good}, 100000), 0},
        {"negative directory", HandMade({block}, {good}, -7), 0},
        {"directory at int32 max", HandMade({block}, {good}, 0x7FFFFFFF), 0},
        {"record cut short", HandMade({block}, {good, good.substr(0, 12)}), 1},
    };
    for (const Case& c : cases) {
        WriteAll(Path("h.qvr"), c.bytes);
        Archives reader;
        const Result opened = reader.OpenArchive(Path("h.qvr"));
        EXPECT_FALSE(opened) << c.what;
        EXPECT_EQ(reader.ArchiveFiles.size(), c.listed) << c.what;
        EXPECT_FALSE(opened.Message.empty()) << c.what;
    }
    // The sound archive opens.
    WriteAll(Path("h.qvr"), HandMade({block}, {good}));
    EXPECT_TRUE(arc.OpenArchive(Path("h.qvr")));
}

TEST_F(Hostile, LyingSizesAreErrorsNotAllocations) {
    Archives tmp;
    tmp.TempFolder = arc.TempFolder;
    ASSERT_TRUE(tmp.CreateArchive(Path("src.qvr")));
    ASSERT_TRUE(tmp.AddFileToArchive(Source("m", MixedBytes(40, 4)), "m", ""));
    const std::string all = ReadAll(Path("src.qvr"));
    const std::string block = all.substr(10, tmp.ArchiveFiles[0].FileCompressedSize());
    const int32_t B = static_cast<int32_t>(block.size());
    for (const char* size : {"2000000000", "39", "41", "0"}) {
        WriteAll(Path("l.qvr"), HandMade({block}, {RecordOf(11, B, "m", size)}));
        ASSERT_TRUE(arc.OpenArchive(Path("l.qvr"))) << size;
        WriteAll(Path("dest"), "old");
        const Result ok = arc.ExtractEntry("m", Path("dest"), true);
        if (std::string(size) == "0") { // the block's own prefix decides
            EXPECT_TRUE(ok);
            EXPECT_EQ(ReadAll(Path("dest")), MixedBytes(40, 4));
        } else {
            EXPECT_FALSE(ok) << size;
            EXPECT_EQ(ReadAll(Path("dest")), "old") << size;
            EXPECT_NE(ok.Message.find("m"), std::string::npos);
        }
    }
    // A prefix that lies while the record says 0.
    std::string lying = block;
    lying.replace(0, 4, Le32(2000000000));
    WriteAll(Path("l.qvr"), HandMade({lying}, {RecordOf(11, B, "m", "0")}));
    ASSERT_TRUE(arc.OpenArchive(Path("l.qvr")));
    EXPECT_FALSE(arc.ExtractEntry("m", Path("fresh"), false));
    EXPECT_FALSE(fs::exists(Path("fresh")));
}

TEST_F(Hostile, NotArchives) {
    qvr::detail::ArchivesAccess::Current(arc) = "kept";
    for (const std::string& bytes : {std::string(), std::string("qvr1.0\0\0\0\0", 10),
                                     std::string("QVR1"), std::string("hello world")}) {
        WriteAll(Path("n.qvr"), bytes);
        qvr::detail::ArchivesAccess::Zip(arc) = true;
        qvr::detail::ArchivesAccess::Files(arc).resize(2);
        EXPECT_FALSE(arc.OpenArchive(Path("n.qvr")));
        EXPECT_TRUE(arc.ArchiveFiles.empty());
        EXPECT_FALSE(arc.ZipLoaded);
        EXPECT_EQ(arc.CurrentArchive, "kept");
    }
    EXPECT_FALSE(arc.OpenArchive(Path("missing.qvr")));
    EXPECT_FALSE(arc.OpenArchive(dir));
    // An archive without entries opens with false and keeps CurrentArchive.
    Archives other;
    ASSERT_TRUE(other.CreateArchive(Path("e.qvr")));
    EXPECT_FALSE(arc.OpenArchive(Path("e.qvr")));
    EXPECT_EQ(arc.CurrentArchive, "kept");
    // "QVR1.0" alone, without a directory position.
    WriteAll(Path("short.qvr"), "QVR1.0");
    EXPECT_FALSE(arc.OpenArchive(Path("short.qvr")));
}

} // namespace

// Verify reads the directory in one piece and each block in one read: every kind of damage
// must still be named as it was when each field was read from the file on its own.
TEST_F(Hostile, VerifyNamesEachKindOfDamage) {
    std::vector<unsigned char> packed(40);
    const std::string content = MixedBytes(40, 4);
    std::copy(content.begin(), content.end(), packed.begin());
    qvr::CompressBytes(packed, 9);
    const std::string stream(packed.begin(), packed.end());
    const std::string block = Le32(40) + stream;
    const int32_t B = static_cast<int32_t>(block.size());
    const std::string longName(300, 'n');

    struct Case {
        const char* what;
        std::vector<std::string> blocks, records;
        const char* expected; // nullptr: sound apart from having no information entry
        size_t entries;
    };
    const std::vector<Case> cases = {
        {"sound", {block}, {RecordOf(11, B, "m", "40")}, nullptr, 1},
        {"size left open", {block}, {RecordOf(11, B, "m", "0")}, nullptr, 1},
        {"prefix disagrees",
         {Le32(39) + stream},
         {RecordOf(11, B, "m", "40")},
         "its block says 39 bytes but its record says 40",
         1},
        {"bytes after the stream",
         {block + "xx"},
         {RecordOf(11, B + 2, "m", "40")},
         "2 bytes after the end of its data",
         1},
        {"stream cut short",
         {block.substr(0, block.size() - 3)},
         {RecordOf(11, B - 3, "m", "40")},
         "its data is cut short",
         1},
        {"size not a number", {block}, {RecordOf(11, B, "m", "forty")}, "is not a number", 1},
        {"block beyond the directory",
         {block},
         {RecordOf(11, B + 9, "m", "40")},
         "does not lie between the header and the directory",
         1},
        {"name without end",
         {block},
         {RecordOf(11, B, "m", "40"), Le32(11) + Le32(B) + longName},
         "record 2 at position",
         1},
        {"record cut short",
         {block},
         {RecordOf(11, B, "m", "40").substr(0, 12)},
         "runs past the end of the file",
         0},
        {"empty name", {block}, {RecordOf(11, B, "", "40")}, "has an empty name or no position", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteAll(Path("v.qvr"), HandMade(c.blocks, c.records));
        const qvr::VerifyReport report = qvr::VerifyArchive(Path("v.qvr"));
        ASSERT_TRUE(report.Readable) << report.Fatal;
        EXPECT_EQ(report.Entries, c.entries);
        std::string all;
        for (const std::string& p : report.Problems)
            all += p + "\n";
        if (!c.expected) {
            ASSERT_EQ(report.Problems.size(), 1u) << all;
            EXPECT_NE(all.find("no plug-in information entry"), std::string::npos) << all;
        } else {
            EXPECT_NE(all.find(c.expected), std::string::npos) << all;
        }
    }
}
