// The operations the front-ends call instead of handling the bytes themselves.

#include "TestSupport.h"
#include "qvr/format/PackDates.h"
#include "qvr/format/PathRules.h"
#include "qvr/format/detail/Format.h"
#include "qvr/package/Verify.h"
#include "qvr/platform/Encoding.h"
#include "qvrtest/HandMade.h"

#include <chrono>
#include <cstdlib>

using namespace qvrtest;

namespace {

class Operations : public ArchiveTest {
protected:
    std::string Package(const std::vector<std::string>& names) {
        const std::string path = Path("p.qvr");
        EXPECT_TRUE(arc.CreateArchive(path));
        for (const auto& n : names)
            EXPECT_TRUE(arc.AddFileToArchive(Source(n, "data of " + n), n, "Meshes"));
        return path;
    }
};

TEST_F(Operations, OpenSaysWhatItFound) {
    EXPECT_EQ(arc.Open(Path("missing.qvr")).Kind, qvr::OpenKind::NotArchive);
    EXPECT_NE(arc.Open(Path("missing.qvr")).Message.find("no such file"), std::string::npos);
    WriteAll(Path("text.qvr"), "hello");
    EXPECT_EQ(arc.Open(Path("text.qvr")).Kind, qvr::OpenKind::NotArchive);

    ASSERT_TRUE(arc.CreateArchive(Path("empty.qvr")));
    qvr::Archives reader;
    reader.TempFolder = arc.TempFolder;
    EXPECT_EQ(reader.Open(Path("empty.qvr")).Kind, qvr::OpenKind::Empty);
    EXPECT_EQ(reader.CurrentArchive, Path("empty.qvr"));
    EXPECT_TRUE(reader.AddFileToArchive(Source("a.esp", "a"), "a.esp", ""));

    const std::string path = Package({"a.nif", "b.nif", "c.nif"});
    EXPECT_EQ(reader.Open(path).Kind, qvr::OpenKind::Complete);
    std::string damaged = ReadAll(path);
    damaged.back() = 'x'; // the last record loses its closing NUL
    WriteAll(path, damaged);
    const qvr::OpenStatus status = reader.Open(path);
    EXPECT_EQ(status.Kind, qvr::OpenKind::Partial);
    EXPECT_FALSE(status.Usable());
    EXPECT_EQ(reader.ArchiveFiles.size(), 2u);
    EXPECT_NE(status.Message.find("damaged"), std::string::npos) << status.Message;
}

TEST_F(Operations, RemovingASetRebuildsOnceAndAStopLeavesTheFileAsItWas) {
    const std::string path = Package({"a.nif", "b.nif", "c.nif", "d.nif"});
    const std::string before = ReadAll(path);
    size_t asked = 0;
    qvr::Result stopped =
        arc.RemoveEntries({1, 2}, [&](size_t, size_t, const std::string&) { return ++asked < 2; });
    EXPECT_EQ(stopped.Code, qvr::Status::EntryFailed);
    EXPECT_TRUE(ReadAll(path) == before);
    EXPECT_EQ(arc.ArchiveFiles.size(), 4u);
    EXPECT_EQ(WorkFilesLeft(), 0u);

    EXPECT_EQ(arc.RemoveEntries({9}).Code, qvr::Status::EntryFailed);
    ASSERT_TRUE(arc.RemoveEntries({1, 2}).Ok());
    ASSERT_EQ(arc.ArchiveFiles.size(), 2u);
    EXPECT_EQ(arc.ArchiveFiles[0].FileName(), "a.nif");
    EXPECT_EQ(arc.ArchiveFiles[1].FileName(), "d.nif");
    EXPECT_EQ(OnDisk(path), arc.ArchiveFiles);
    EXPECT_TRUE(arc.ExtractEntry(arc.ArchiveFiles[1], Path("d.out"), false));
    EXPECT_EQ(ReadAll(Path("d.out")), "data of d.nif");

    qvr::Archives zip;
    zip.TempFolder = arc.TempFolder;
    EXPECT_EQ(zip.RemoveEntries({0}).Code, qvr::Status::ArchiveUnusable);
}

// The records are read from memory by the same code the reader and the writers use.
TEST_F(Operations, RecordsDecodeFromMemoryAsTheyWereEncoded) {
    qvr::sgFileInfo e;
    e.FileOffset(11);
    e.FileCompressedSize(20);
    e.FileName("\xC3\xA9t\xC3\xA9.esp"); // accents travel as Windows-1252
    e.FilePath("Meshes\\x");
    e.FileDate("3/7/2003 14:5:9");
    e.FileSize(-5);
    e.FileArchiveDate("12/07/26 06:00:00");
    const std::string one = qvr::format::EncodeRecord(e);
    const qvr::format::Decoded both = qvr::format::DecodeRecords(one + one, "memory");
    ASSERT_TRUE(both.Complete()) << both.Problem;
    ASSERT_EQ(both.Entries.size(), 2u);
    EXPECT_EQ(both.Entries[1], e);
    const qvr::format::Decoded cut = qvr::format::DecodeRecords(one + one.substr(0, 12), "memory");
    EXPECT_FALSE(cut.Complete());
    EXPECT_EQ(cut.Entries.size(), 1u);
}

TEST_F(Operations, TheCheckCanBeStopped) {
    const std::string path = Package({"a.nif", "b.nif"});
    const qvr::VerifyReport report =
        qvr::VerifyArchive(path, [](size_t done, size_t, const std::string&) { return done < 1; });
    ASSERT_FALSE(report.Problems.empty());
    EXPECT_NE(report.Problems[0].find("stopped"), std::string::npos);
}

// Blocks are checked on other threads ahead of the entry at hand: what is said still comes in
// archive order, and a stop says nothing of the entries after it.
TEST_F(Operations, VerifySpeaksInArchiveOrderAndStopsWhereAsked) {
    std::vector<qvrtest::RawEntry> entries;
    for (unsigned i = 0; i < 300; ++i)
        entries.push_back({"Meshes", "m" + std::to_string(i) + ".nif", MixedBytes(200 + i, i)});
    std::string bytes = qvrtest::RawArchive(entries);
    const std::string path = Path("v.qvr");
    WriteAll(path, bytes);
    qvr::Archives reader;
    ASSERT_TRUE(reader.OpenArchive(path));
    for (size_t k : {250u, 5u}) { // the last byte of the stream: its checksum
        const qvr::sgFileInfo& e = reader.ArchiveFiles[k];
        bytes[static_cast<size_t>(e.FileOffset() - 1 + e.FileCompressedSize() - 1)] ^= 0x55;
    }
    WriteAll(path, bytes);

    std::vector<std::string> said = qvr::VerifyArchive(path).Problems;
    ASSERT_EQ(said.size(), 3u);
    EXPECT_NE(said[0].find(qvr::ShownEntryPath("Meshes\\m5.nif") + ": its data is damaged"),
              std::string::npos)
        << said[0];
    EXPECT_NE(said[1].find(qvr::ShownEntryPath("Meshes\\m250.nif") + ": its data is damaged"),
              std::string::npos)
        << said[1];
    EXPECT_NE(said[2].find("no plug-in information"), std::string::npos) << said[2];

    said = qvr::VerifyArchive(path, [](size_t done, size_t, const std::string&) {
               return done < 100;
           }).Problems;
    ASSERT_GE(said.size(), 2u);
    EXPECT_NE(said[0].find("m5.nif"), std::string::npos) << said[0];
    EXPECT_NE(said[1].find("stopped before entry " + qvr::ShownEntryPath("Meshes\\m100.nif")),
              std::string::npos)
        << said[1];
    for (const std::string& problem : said)
        EXPECT_EQ(problem.find("m250.nif"), std::string::npos) << problem;
}

void SetEnv(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value ? value : "");
#else
    if (value)
        ::setenv(name, value, 1);
    else
        ::unsetenv(name);
#endif
}

TEST_F(Operations, NotesAreStoredWithCrLfAndSourceDateEpochPinsTheDates) {
    EXPECT_EQ(qvr::ToCrLf("a\nb\r\nc\rd"), "a\r\nb\r\nc\r\nd");
    SetEnv("SOURCE_DATE_EPOCH", "0");
    qvr::PackDates pinned;
    const qvr::Result taken = qvr::CurrentPackDates(pinned);
    SetEnv("SOURCE_DATE_EPOCH", nullptr);
    ASSERT_TRUE(taken) << taken.Message;
    EXPECT_TRUE(pinned.Pinned);
    EXPECT_EQ(pinned.Epoch, 0);
    EXPECT_FALSE(pinned.ArchiveDate.empty());
    qvr::PackDates now;
    ASSERT_TRUE(qvr::CurrentPackDates(now));
    EXPECT_TRUE(now.ArchiveDate.empty()); // the moment of adding
}

// As reproducible builds ask: a value that is not a plain count of seconds, or that the
// package's two-digit years (read as 1970 to 2069) cannot hold, is an error, never the clock.
TEST_F(Operations, SourceDateEpochIsPlainSecondsThePackageCanHold) {
    using namespace std::chrono;
    const long long tooLate =
        duration_cast<seconds>(sys_days{year{2070} / January / 1}.time_since_epoch()).count();
    const struct {
        std::string Value;
        bool Usable;
    } cases[] = {
        {"0", true},
        {"0017", true},
        {std::to_string(tooLate - 1), true},
        {"abc", false},
        {"1e9", false},
        {"-1", false},
        {"+5", false},
        {" 5", false},
        {"5 ", false},
        {"99999999999", false},
        {"253402300800", false},
        {std::to_string(tooLate), false},
        {"123456789012345678901234567890", false},
    };
    for (const auto& c : cases) {
        SetEnv("SOURCE_DATE_EPOCH", c.Value.c_str());
        qvr::PackDates dates;
        const qvr::Result taken = qvr::CurrentPackDates(dates);
        SetEnv("SOURCE_DATE_EPOCH", nullptr);
        EXPECT_EQ(taken.Ok(), c.Usable) << c.Value;
        if (c.Usable) {
            EXPECT_EQ(dates.Epoch, std::stoll(c.Value)) << c.Value;
            EXPECT_TRUE(dates.Pinned) << c.Value;
        } else {
            EXPECT_NE(taken.Message.find("SOURCE_DATE_EPOCH"), std::string::npos) << c.Value;
            EXPECT_FALSE(dates.Pinned) << c.Value;
        }
    }
}

} // namespace
