// Adding many files at once on several threads.

#include "TestSupport.h"
#include "qvr/format/PathRules.h"
#include "qvr/format/detail/Format.h"
#include "qvr/package/BatchAdd.h"
#include "qvr/package/Verify.h"

using namespace qvrtest;

namespace {

class BatchAdd : public ArchiveTest {
protected:
    std::vector<qvr::BatchFile> MakeFiles(size_t n) {
        std::vector<qvr::BatchFile> files;
        for (size_t i = 0; i < n; ++i) {
            // Sizes vary a lot so that threads finish out of order.
            size_t size = i == 3 ? 1200000 : (i % 3 == 0) ? 300000 + i * 1000 : 50 + i * 7;
            std::string name = "f" + std::to_string(i) + ".nif";
            files.push_back({Source(name, MixedBytes(size, static_cast<unsigned>(i))), name,
                             i % 2 ? "Meshes\\sub" : ""});
        }
        return files;
    }
    std::string Build(const std::string& name, const std::vector<qvr::BatchFile>& files,
                      unsigned jobs, int64_t inMemory = int64_t{1} << 20) {
        qvr::Archives a;
        a.TempFolder = arc.TempFolder;
        const std::string sub = std::to_string(jobs) + "-" + std::to_string(inMemory);
        fs::create_directories(dir + "/" + sub);
        std::string path = dir + "/" + sub + "/" + name;
        EXPECT_TRUE(a.CreateArchive(path));
        qvr::BatchOptions options;
        options.Jobs = jobs;
        options.ArchiveDate = "12/07/26 06:00:00";
        options.InMemoryLimit = inMemory;
        auto results = qvr::AddFilesToArchive(a, files, options);
        for (const auto& r : results)
            EXPECT_TRUE(r.Added) << r.Message;
        EXPECT_EQ(a.ArchiveFiles, OnDisk(path));
        return ReadAll(path);
    }
};

TEST_F(BatchAdd, BytesDoNotDependOnTheNumberOfThreadsAndMatchAddingOneByOne) {
    auto files = MakeFiles(13);
    const std::string one = Build("p.qvr", files, 1);
    EXPECT_EQ(Build("p.qvr", files, 2), one);
    EXPECT_EQ(Build("p.qvr", files, 5), one);
    // Through work files only, and in memory only: the same bytes.
    EXPECT_EQ(Build("p.qvr", files, 2, 0), one);
    EXPECT_EQ(Build("p.qvr", files, 2, int64_t{1} << 30), one);

    // The same files through AddFileToArchive: same blocks, same records but for the moment
    // of adding.
    ASSERT_TRUE(arc.CreateArchive(Path("single.qvr")));
    for (const auto& f : files)
        ASSERT_TRUE(Ok(arc.AddFileToArchive(f.Source, f.FileName, f.FilePath)));
    const std::string single = ReadAll(Path("single.qvr"));
    const int32_t directory = GetLe32(single, 6);
    EXPECT_EQ(GetLe32(one, 6), directory);
    EXPECT_EQ(one.substr(0, directory - 1), single.substr(0, directory - 1));
    auto batch = OnDisk(dir + "/1-1048576/p.qvr");
    auto plain = OnDisk(Path("single.qvr"));
    ASSERT_EQ(batch.size(), plain.size());
    for (size_t i = 0; i < batch.size(); ++i) {
        batch[i].FileArchiveDate("");
        plain[i].FileArchiveDate("");
        EXPECT_EQ(batch[i], plain[i]) << i;
    }
    EXPECT_EQ(WorkFilesLeft(), 0u);
}

TEST_F(BatchAdd, FilesThatCannotBePackedAreReportedInPlaceAndTheOthersGoOn) {
    ASSERT_TRUE(arc.CreateArchive(Path("p.qvr")));
    std::vector<qvr::BatchFile> files = {
        {Source("a.esp", "aaaa"), "a.esp", ""},
        {Source("empty.esp", ""), "empty.esp", ""},
        {Path("src/missing.esp"), "missing.esp", ""},
        {Source("b.esp", "bbbb"), "\xE5\x90\x8D.esp", ""}, // a name Windows-1252 cannot hold
        {Source("c.esp", "cccc"), "c.esp", "..\\out"},
        {Source("d.esp", "dddd"), "d.esp", "Meshes"},
    };
    std::vector<size_t> order;
    auto results = qvr::AddFilesToArchive(arc, files, {3, ""},
                                          [&](const qvr::BatchResult&, size_t done, size_t n) {
                                              EXPECT_EQ(n, files.size());
                                              order.push_back(done);
                                          });
    EXPECT_EQ(order, (std::vector<size_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_TRUE(results[0].Added);
    EXPECT_TRUE(results[5].Added);
    for (size_t i = 1; i < 5; ++i) {
        EXPECT_FALSE(results[i].Added) << i;
        EXPECT_FALSE(results[i].Message.empty()) << i;
    }
    EXPECT_NE(results[1].Message.find("empty.esp"), std::string::npos) << results[1].Message;
    EXPECT_NE(results[2].Message.find("missing.esp"), std::string::npos) << results[2].Message;
    // Names that cannot be stored: the message names the file on disk as well as the entry.
    EXPECT_NE(results[3].Message.find(files[3].Source), std::string::npos) << results[3].Message;
    EXPECT_NE(results[3].Message.find("Windows-1252"), std::string::npos) << results[3].Message;
    EXPECT_NE(results[4].Message.find(files[4].Source), std::string::npos) << results[4].Message;
    EXPECT_NE(results[4].Message.find(qvr::ShownEntryPath("..\\out\\c.esp")), std::string::npos)
        << results[4].Message;
    auto entries = OnDisk(Path("p.qvr"));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].FileName(), "a.esp");
    EXPECT_EQ(entries[1].FilePath(), "Meshes");
    EXPECT_EQ(arc.ArchiveFiles, entries);
    EXPECT_TRUE(arc.ExtractEntry(entries[1], Path("out.esp"), false));
    EXPECT_EQ(ReadAll(Path("out.esp")), "dddd");
    EXPECT_EQ(WorkFilesLeft(), 0u);
}

TEST_F(BatchAdd, WorkFilesWaitingForTheirTurnStayWithinTheBounds) {
    auto files = MakeFiles(40);
    auto mostWaiting = [&](qvr::BatchOptions options) {
        qvr::Archives a;
        a.TempFolder = arc.TempFolder;
        std::string path = Path("p" + std::to_string(options.MaxPendingFiles) + ".qvr");
        EXPECT_TRUE(a.CreateArchive(path));
        size_t most = 0;
        qvr::AddFilesToArchive(a, files, options, [&](const qvr::BatchResult&, size_t, size_t) {
            size_t waiting = 0;
            for (auto& d : fs::recursive_directory_iterator(dir + "/tmp"))
                waiting += d.is_regular_file() ? 1 : 0;
            most = std::max(most, waiting);
        });
        EXPECT_EQ(a.ArchiveFiles.size(), files.size());
        EXPECT_EQ(WorkFilesLeft(), 0u);
        return most;
    };
    // Work files are what can be counted: every file goes through one here. The fastest level:
    // what waits does not depend on it.
    qvr::BatchOptions byCount;
    byCount.Level = 1;
    byCount.InMemoryLimit = 0;
    byCount.Jobs = 3;
    byCount.MaxPendingFiles = 4;
    EXPECT_LE(mostWaiting(byCount), 4u);
    // A byte limit smaller than any file still lets the next file through, one at a time.
    qvr::BatchOptions bySize;
    bySize.Level = 1;
    bySize.InMemoryLimit = 0;
    bySize.Jobs = 3;
    bySize.MaxPendingFiles = 1000;
    bySize.MaxPendingBytes = 1;
    EXPECT_LE(mostWaiting(bySize), 1u);
}

// Within one add the directory is written once, at the end, behind all the new blocks: the
// first small blocks land on the old directory, and nothing of it may survive but a copy.
TEST_F(BatchAdd, AddingInManyGroupsToALongDirectoryGivesTheBytesOfOneAdd) {
    std::vector<qvr::BatchFile> files;
    for (size_t i = 0; i < 240; ++i) {
        const std::string name = "file-with-a-long-name-" + std::to_string(i) + ".dds";
        files.push_back({Source(name, MixedBytes(30 + i % 7, static_cast<unsigned>(i))), name,
                         "Textures\\a\\much\\deeper\\folder"});
    }
    auto add = [&](qvr::Archives& a, size_t from, size_t to, size_t pending) {
        qvr::BatchOptions options;
        options.Jobs = 2;
        options.ArchiveDate = "12/07/26 06:00:00";
        options.MaxPendingFiles = pending;
        const std::vector<qvr::BatchFile> part(files.begin() + from, files.begin() + to);
        for (const auto& r : qvr::AddFilesToArchive(a, part, options))
            EXPECT_TRUE(r.Added) << r.Message;
    };
    qvr::Archives whole, parts;
    whole.TempFolder = parts.TempFolder = arc.TempFolder;
    ASSERT_TRUE(whole.CreateArchive(Path("whole.qvr")));
    add(whole, 0, files.size(), 0);
    ASSERT_TRUE(parts.CreateArchive(Path("parts.qvr")));
    add(parts, 0, 200, 0);
    add(parts, 200, files.size(), 2); // two at a time: many groups
    EXPECT_TRUE(ReadAll(Path("parts.qvr")) == ReadAll(Path("whole.qvr")));
    EXPECT_EQ(parts.ArchiveFiles, OnDisk(Path("parts.qvr")));
    EXPECT_EQ(qvr::VerifyArchive(Path("parts.qvr")).Problems.size(), 1u); // no information entry
    EXPECT_EQ(WorkFilesLeft(), 0u);
}

// A package changed behind the program's back: the batch refuses to write from its stale list,
// as a single append does, and leaves the file as the other program wrote it.
TEST_F(BatchAdd, AListThatNoLongerMatchesTheFileIsRefused) {
    const std::string path = Path("p.qvr");
    ASSERT_TRUE(arc.CreateArchive(path));
    ASSERT_TRUE(arc.AddFileToArchive(Source("a.esp", "aaaa"), "a.esp", ""));
    qvr::Archives other;
    other.TempFolder = arc.TempFolder;
    ASSERT_TRUE(other.OpenArchive(path));
    ASSERT_TRUE(other.AddFileToArchive(Source("late.esp", "late"), "late.esp", ""));
    const std::string changed = ReadAll(path);

    for (size_t n : {1u, 3u}) { // one file alone, and a group written together
        auto results = qvr::AddFilesToArchive(arc, MakeFiles(n), {2, "12/07/26 06:00:00"});
        for (const auto& r : results) {
            EXPECT_FALSE(r.Added);
            EXPECT_NE(r.Message.find("open it again"), std::string::npos) << r.Message;
        }
        EXPECT_TRUE(ReadAll(path) == changed);
        EXPECT_EQ(arc.ArchiveFiles.size(), 1u);
    }
    EXPECT_EQ(WorkFilesLeft(), 0u);
}

// A package whose directory is a little short of what readers accept: neither an append nor a
// rewrite (as set-info and add --replace make) may grow it past that; each is refused and the
// package stays as it was, readable.
TEST_F(BatchAdd, NoChangeGrowsTheDirectoryPastWhatReadersAccept) {
    const std::string path = Path("big.qvr");
    ASSERT_TRUE(arc.CreateArchive(path));
    ASSERT_TRUE(arc.AddFileToArchive(Source("x.txt", "x"), "x.txt", ""));
    const std::string one = ReadAll(path);
    const std::string block = one.substr(10, static_cast<size_t>(GetLe32(one, 6) - 11));
    // Long names, so that the records are few; the last ones shortened to end on the target.
    const std::string tail = std::string(254, 'F') + '\0' + "1/2/2003 4:05:06" + '\0' + "1" + '\0' +
                             "01/02/03 04:05:06" + '\0';
    const int64_t longest = 8 + 255 + static_cast<int64_t>(tail.size());
    const int64_t target = qvr::format::kMaxDirectory - 100;
    const int64_t count = (target + longest - 1) / longest;
    int64_t shorten = count * longest - target;
    std::string blocks, records;
    for (int64_t i = 0; i < count; ++i) {
        const int64_t cut = std::min<int64_t>(shorten, 200);
        shorten -= cut;
        std::string name = std::to_string(100000000 + i);
        name +=
            std::string(static_cast<size_t>(250 - cut - static_cast<int64_t>(name.size())), 'n') +
            ".txt";
        records += Le32(static_cast<int32_t>(11 + blocks.size())) +
                   Le32(static_cast<int32_t>(block.size())) + name + '\0' + tail;
        blocks += block;
    }
    ASSERT_EQ(static_cast<int64_t>(records.size()), target);
    WriteAll(path, "QVR1.0" + Le32(static_cast<int32_t>(11 + blocks.size())) + blocks + records);
    ASSERT_EQ(arc.Open(path).Kind, qvr::OpenKind::Complete);
    const std::string before = ReadAll(path);

    const std::string name = std::string(250, 'a') + ".txt", folder(254, 'G');
    const std::string source = Source("long.txt", "hi");
    const auto results = qvr::AddFilesToArchive(arc, {{source, name, folder}}, {1, ""});
    ASSERT_EQ(results.size(), 1u);
    EXPECT_FALSE(results[0].Added);
    EXPECT_NE(results[0].Message.find("its readers accept"), std::string::npos)
        << results[0].Message;
    EXPECT_TRUE(ReadAll(path) == before);
    const qvr::Result replaced = arc.ReplaceEntry(source, name, folder);
    EXPECT_FALSE(replaced);
    EXPECT_NE(replaced.Message.find("its readers accept"), std::string::npos) << replaced.Message;
    EXPECT_TRUE(ReadAll(path) == before);
    EXPECT_EQ(arc.Open(path).Kind, qvr::OpenKind::Complete);
}

} // namespace
