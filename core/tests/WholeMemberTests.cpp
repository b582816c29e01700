// Members held whole (libdeflate where built with it) and streamed ones: any zlib reader reads
// both, the package's bytes do not depend on the threads, and damage is refused either way.

#include "TestSupport.h"
#include "qvr/format/detail/WholeMember.h"

#include "qvr/format/detail/modCompression.h"
#include "qvr/package/BatchAdd.h"
#include "qvr/package/Verify.h"

#include <cstring>
#include <zlib.h>

using namespace qvrtest;
using qvr::detail::kWholeMemberLimit;

namespace {

class WholeMember : public ArchiveTest {
protected:
    // Small, incompressible and, with the threshold's, exactly at the threshold and one byte
    // above it (streamed).
    std::vector<qvr::BatchFile> Corpus(bool threshold) {
        const size_t limit = static_cast<size_t>(kWholeMemberLimit);
        std::vector<std::pair<std::string, std::string>> members = {
            {"a.esp", MixedBytes(100, 1)},
            {"noise.wav", RandomBytes(300000, 4)},
            {"b.nif", MixedBytes(70000, 5)},
            {"one.txt", "x"},
        };
        if (threshold) {
            members.emplace_back("at.esm", MixedBytes(limit, 2));
            members.emplace_back("above.bsa", MixedBytes(limit + 1, 3));
        }
        std::vector<qvr::BatchFile> files;
        for (const auto& [name, bytes] : members)
            files.push_back({Source(name, bytes), name, name.ends_with(".nif") ? "Meshes" : ""});
        return files;
    }
    std::string Build(const std::vector<qvr::BatchFile>& files, unsigned jobs, int level) {
        qvr::Archives a;
        a.TempFolder = arc.TempFolder;
        const std::string path = Path("p-" + std::to_string(files.size()) + "-" +
                                      std::to_string(jobs) + "-" + std::to_string(level));
        EXPECT_TRUE(a.CreateArchive(path));
        qvr::BatchOptions options;
        options.Jobs = jobs;
        options.Level = level;
        options.ArchiveDate = "12/07/26 06:00:00";
        for (const auto& r : qvr::AddFilesToArchive(a, files, options))
            EXPECT_TRUE(r.Added) << r.Message;
        return path;
    }
    // Every member through zlib's one-shot uncompress, the way any older reader reads it.
    void ExpectZlibReadsEveryMember(const std::string& path,
                                    const std::vector<qvr::BatchFile>& files) {
        const std::string bytes = ReadAll(path);
        const auto entries = OnDisk(path);
        size_t checked = 0;
        for (const auto& e : entries) {
            std::string expected;
            for (const auto& f : files)
                if (f.FileName == e.FileName())
                    expected = ReadAll(f.Source);
            if (expected.empty())
                continue; // the information entry
            const std::string block =
                bytes.substr(static_cast<size_t>(e.FileOffset() - 1), e.FileCompressedSize());
            ASSERT_EQ(GetLe32(block, 0), static_cast<int32_t>(expected.size()));
            // Deflate with a 32 kB window, the one kind every zlib reader takes.
            EXPECT_EQ(block[4], '\x78') << e.FileName();
            std::string out(expected.size(), '\0');
            uLongf outLength = static_cast<uLongf>(out.size());
            ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(out.data()), &outLength,
                                 reinterpret_cast<const Bytef*>(block.data() + 4),
                                 static_cast<uLong>(block.size() - 4)),
                      Z_OK)
                << path << ": " << e.FileName();
            EXPECT_EQ(outLength, expected.size());
            EXPECT_TRUE(out == expected) << path << ": " << e.FileName();
            ++checked;
        }
        EXPECT_EQ(checked, files.size());
    }
};

TEST_F(WholeMember, PackagesAreTheSameForAnyThreadsAndZlibReadsEveryMember) {
    // Where a member is held whole does not depend on the level: the threshold's megabytes go
    // in at the fastest level, the default and best levels (slow on megabytes) take the rest.
    struct Round {
        int Level;
        bool Threshold;
        std::vector<unsigned> Jobs;
    };
    const std::vector<Round> rounds = {
        {1, true, {2, 3, 8}}, {9, false, {2, 8}}, {qvr::detail::kBestLevel, false, {2}}};
    std::map<int, std::string> byLevel;
    for (const Round& round : rounds) {
        const auto files = Corpus(round.Threshold);
        const std::string one = Build(files, 1, round.Level);
        byLevel[round.Level] = one;
        ExpectZlibReadsEveryMember(one, files);
        for (unsigned jobs : round.Jobs)
            EXPECT_TRUE(ReadAll(Build(files, jobs, round.Level)) == ReadAll(one))
                << "-j " << jobs << ", level " << round.Level;
        const auto report = qvr::VerifyArchive(one, {});
        EXPECT_TRUE(report.Readable) << report.Fatal;
        // Packed without plug-in information, which verify mentions; nothing else.
        for (const auto& problem : report.Problems)
            EXPECT_NE(problem.find(".ifo"), std::string::npos) << problem;
    }
    if (qvr::detail::UsesLibdeflate()) {
        EXPECT_LT(ReadAll(byLevel[qvr::detail::kBestLevel]).size(), ReadAll(byLevel[9]).size());
    }
    EXPECT_EQ(WorkFilesLeft(), 0u);
}

// A flipped byte or a broken Adler-32 in a held-whole and in a streamed member: extracting,
// DecompressBytes and verify all refuse it, and the destination is not written.
TEST_F(WholeMember, DamagedBlocksAreRefusedByBothInflatePaths) {
    for (size_t size : {size_t{5000}, static_cast<size_t>(kWholeMemberLimit),
                        static_cast<size_t>(kWholeMemberLimit) + 4096}) {
        const std::string member = MixedBytes(size, static_cast<unsigned>(size));
        ASSERT_EQ(qvr::CompressFile(Source("m", member), Path("good.blk"), 1), Z_OK);
        const std::string good = ReadAll(Path("good.blk"));
        ASSERT_EQ(qvr::DecompressFile(Path("good.blk"), Path("back"), static_cast<int32_t>(size)),
                  Z_OK);
        EXPECT_TRUE(ReadAll(Path("back")) == member) << size;

        for (size_t at : {good.size() / 2, good.size() - 1}) {
            std::string bad = good;
            bad[at] ^= 0x21;
            WriteAll(Path("bad.blk"), bad);
            EXPECT_NE(
                qvr::DecompressFile(Path("bad.blk"), Path("dest"), static_cast<int32_t>(size)),
                Z_OK)
                << size << " at " << at;
            EXPECT_FALSE(fs::exists(Path("dest"))) << size;
            std::vector<unsigned char> bytes(bad.begin() + 4, bad.end());
            EXPECT_NE(qvr::DecompressBytes(bytes, static_cast<int32_t>(size)), Z_OK) << size;
        }
    }
}

TEST_F(WholeMember, VerifyRefusesADamagedMemberOfEitherKind) {
    const auto files = Corpus(true);
    const std::string path = Build(files, 2, 1);
    const auto entries = OnDisk(path);
    for (const std::string name : {"b.nif", "above.bsa"}) {
        std::string bytes = ReadAll(path);
        for (const auto& e : entries)
            if (e.FileName() == name)
                bytes[static_cast<size_t>(e.FileOffset() - 1 + e.FileCompressedSize() / 2)] ^= 0x40;
        WriteAll(Path("bad.qvr"), bytes);
        const auto report = qvr::VerifyArchive(Path("bad.qvr"), {});
        size_t bad = 0;
        for (const auto& p : report.Problems)
            bad += p.find(name) != std::string::npos;
        EXPECT_GE(bad, 1u) << name;
    }
}

// A thread's buffer holds every byte asked for, through its end, whichever way it was made
// (large ones are mapped apart and trimmed to whole 2 MB pages), and keeps what it holds while
// smaller sizes are asked for.
TEST(ThreadBuffer, EveryByteAskedForCanBeWrittenAndSmallerAsksKeepTheBuffer) {
    constexpr size_t kMiB = size_t{1} << 20;
    for (size_t n : {size_t{1}, 2 * kMiB - 1, 2 * kMiB, 5 * kMiB + 3, 2 * kMiB + 1}) {
        SCOPED_TRACE(n);
        unsigned char* b = qvr::detail::ThreadBuffer(0, n);
        std::memset(b, 0xA5, n);
        EXPECT_EQ(b[n - 1], 0xA5);
    }
    unsigned char* big = qvr::detail::ThreadBuffer(1, 3 * kMiB);
    big[3 * kMiB - 1] = 7;
    EXPECT_EQ(qvr::detail::ThreadBuffer(1, kMiB), big);
    EXPECT_EQ(big[3 * kMiB - 1], 7);
}

} // namespace
