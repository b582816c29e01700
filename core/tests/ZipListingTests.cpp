// Listing zip files: every member through the central directory, the local-header walk
// only when there is none.

#include "TestSupport.h"
#include "qvr/package/detail/Internal.h"
#include "qvrtest/ZipBuilder.h"

#include "qvr/format/detail/RecordIO.h"
#include "qvr/platform/detail/RandomAccessFile.h"

using namespace qvr;
using namespace qvrtest;

namespace {

class ZipListing : public ArchiveTest {};

const std::vector<ZipMember> kMembers = {
    {"textures/", ""},
    {"textures/x/y.tga", "targa data"},
    {"top.esp", "plugin"},
    {"meshes/streamed.nif", "written with sizes after the data", true},
    {"meshes/last.nif", "last one"},
};

void ExpectListed(const Archives& arc, const BuiltZip& zip) {
    ASSERT_EQ(arc.ArchiveFiles.size(), 4u);
    const char* names[] = {"y.tga", "top.esp", "streamed.nif", "last.nif"};
    const char* paths[] = {"textures\\x", "", "meshes", "meshes"};
    const size_t member[] = {1, 2, 3, 4};
    for (size_t k = 0; k < 4; ++k) {
        const sgFileInfo& e = arc.ArchiveFiles[k];
        EXPECT_EQ(e.FileName(), names[k]);
        EXPECT_EQ(e.FilePath(), paths[k]);
        EXPECT_EQ(e.FileOffset(), static_cast<int32_t>(zip.dataOffsets[member[k]] + 1));
        EXPECT_EQ(e.FileSize(), static_cast<int32_t>(kMembers[member[k]].data.size()));
        EXPECT_EQ(e.FileCompressedSize(), e.FileSize());
        EXPECT_EQ(e.FileDate(), "");
        EXPECT_EQ(e.FileArchiveDate(), "");
    }
}

// As Info-ZIP writes when it packs from a pipe (or with -fz): the zip64 end records stand in
// front of the end record, which holds the ordinary values all the same.
BuiltZip WithOrdinaryZip64(BuiltZip zip) {
    const size_t eocd = zip.bytes.rfind("PK\x05\x06");
    auto le = [&](size_t at, int n) {
        uint64_t v = 0;
        for (int k = n - 1; k >= 0; --k)
            v = v << 8 | static_cast<unsigned char>(zip.bytes[eocd + at + k]);
        return v;
    };
    const std::string records = "PK\x06\x06" + Le64(44) + Le16(45) + Le16(45) + Le32(0) + Le32(0) +
                                Le64(le(10, 2)) + Le64(le(10, 2)) + Le64(le(12, 4)) +
                                Le64(le(16, 4)) + "PK\x06\x07" + Le32(0) + Le64(eocd) + Le32(1);
    zip.bytes.insert(eocd, records);
    return zip;
}

// A self-extractor's program, or a file the zip was appended to.
BuiltZip InFront(BuiltZip zip, const std::string& prefix) {
    zip.bytes.insert(0, prefix);
    for (size_t& at : zip.dataOffsets)
        at += prefix.size();
    return zip;
}

TEST_F(ZipListing, CentralDirectoryListsEveryFileMember) {
    const BuiltZip piped = WithOrdinaryZip64(BuildZip(kMembers));
    const std::pair<const char*, BuiltZip> zips[] = {
        {"a comment", BuildZip(kMembers, true, false, "a comment")},
        {"zip64", BuildZip(kMembers, true, true)},
        {"zip64 records with ordinary values", piped},
        {"the same behind a program", InFront(piped, std::string(300, 'M'))},
        {"zip64 behind a program", InFront(BuildZip(kMembers, true, true), "MZ program")},
    };
    for (const auto& [what, zip] : zips) {
        SCOPED_TRACE(what);
        WriteAll(Path("a.zip"), zip.bytes);
        qvr::detail::ArchivesAccess::Current(arc) = "before";
        EXPECT_FALSE(arc.OpenArchive(Path("a.zip")));
        EXPECT_TRUE(arc.ZipLoaded);
        EXPECT_EQ(arc.CurrentArchive, Path("a.zip"));
        ExpectListed(arc, zip);
        // Never extracted, never written.
        EXPECT_FALSE(arc.ExtractEntry("top.esp", Path("top.esp"), true));
        EXPECT_FALSE(arc.ExtractEntry(arc.ArchiveFiles[0], Path("y.tga"), true));
        EXPECT_FALSE(fs::exists(Path("top.esp")));
        EXPECT_FALSE(arc.AddFileToArchive(Source("n", "n"), "n", ""));
        EXPECT_FALSE(arc.RemoveEntry("top.esp", ""));
        EXPECT_EQ(ReadAll(Path("a.zip")), zip.bytes);
    }
}

TEST_F(ZipListing, WithoutCentralDirectoryTheLocalHeadersAreWalked) {
    std::vector<ZipMember> members = {{"a/b.esp", "12345"}, {"c.esp", "678"}};
    BuiltZip zip = BuildZip(members, false);
    WriteAll(Path("walk.zip"), zip.bytes);
    EXPECT_FALSE(arc.OpenArchive(Path("walk.zip")));
    EXPECT_TRUE(arc.ZipLoaded);
    ASSERT_EQ(arc.ArchiveFiles.size(), 2u);
    EXPECT_EQ(arc.ArchiveFiles[0].FilePath(), "a");
    EXPECT_EQ(arc.ArchiveFiles[1].FileName(), "c.esp");
    EXPECT_EQ(arc.ArchiveFiles[1].FileOffset(), static_cast<int32_t>(zip.dataOffsets[1] + 1));

    // The walk ends at the first header that is not version 20.
    members[1].version = 45;
    WriteAll(Path("walk.zip"), BuildZip(members, false).bytes);
    EXPECT_FALSE(arc.OpenArchive(Path("walk.zip")));
    EXPECT_EQ(arc.ArchiveFiles.size(), 1u);

    // A data descriptor hides the next header from the walk.
    members = {{"d.esp", "data", true}, {"e.esp", "more"}};
    WriteAll(Path("walk.zip"), BuildZip(members, false).bytes);
    EXPECT_FALSE(arc.OpenArchive(Path("walk.zip")));
    ASSERT_EQ(arc.ArchiveFiles.size(), 1u);
    EXPECT_EQ(arc.ArchiveFiles[0].FileSize(), 0);
    EXPECT_EQ(arc.ArchiveFiles[0].FileCompressedSize(), 0);
}

TEST_F(ZipListing, ParseZipHeaderReadsOneLocalHeader) {
    const BuiltZip zip = BuildZip({{"dir/", ""}, {"x.esp", "abc"}, {"y", "y", false, 10}}, false);
    WriteAll(Path("h.zip"), zip.bytes);
    RandomAccessFile file(Path("h.zip"), RandomAccessFile::Mode::Read);
    int32_t pos = 1;
    sgFileInfo e;
    ASSERT_TRUE(detail::ParseZipHeader(e, file, pos));
    EXPECT_EQ(e.FileName(), ""); // a folder entry
    EXPECT_EQ(e.FilePath(), "dir");
    ASSERT_TRUE(detail::ParseZipHeader(e, file, pos));
    EXPECT_EQ(e.FileName(), "x.esp");
    EXPECT_EQ(e.FilePath(), "");
    EXPECT_EQ(e.FileSize(), 3);
    EXPECT_EQ(pos, static_cast<int32_t>(zip.dataOffsets[2] - 30 - 1 + 1));
    const int32_t before = pos;
    sgFileInfo f;
    EXPECT_FALSE(detail::ParseZipHeader(f, file, pos));
    EXPECT_EQ(pos, before + 6);
    EXPECT_EQ(f, sgFileInfo());
}

TEST_F(ZipListing, DamagedCentralDirectoryKeepsWhatWasRead) {
    BuiltZip zip = BuildZip(kMembers);
    // Point the second file member's local header somewhere else.
    const size_t cd = zip.bytes.find("PK\x01\x02");
    const size_t second = zip.bytes.find("PK\x01\x02", zip.bytes.find("PK\x01\x02", cd + 1) + 1);
    zip.bytes.replace(second + 42, 4, Le32(3));
    WriteAll(Path("bad.zip"), zip.bytes);
    const Result listed = arc.ReadZipDirectory(Path("bad.zip"));
    EXPECT_FALSE(listed);
    EXPECT_EQ(arc.ArchiveFiles.size(), 1u);
    EXPECT_FALSE(listed.Message.empty());
}

} // namespace
