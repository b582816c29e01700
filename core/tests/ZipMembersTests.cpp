// Zip members read straight from the file give what libarchive gives: the same files with the
// same checksums, and the same members failed, each failure naming its member.

#include "qvr/sources/Source.h"
#include "qvr/sources/detail/Sources.h"
#include "qvr/sources/detail/ZipMembers.h"
#include "qvrtest/Bytes.h"
#include "qvrtest/TempFolder.h"
#include "qvrtest/ZipBuilder.h"

#include <gtest/gtest.h>

#include <map>
#include <zlib.h>

namespace fs = std::filesystem;
using qvrtest::ZipMember;

namespace {

struct Extracted {
    std::map<std::string, std::string> Files;  // member -> bytes written
    std::map<std::string, std::string> Failed; // member -> why
    qvr::Result Outcome;
};

Extracted ExtractAll(qvr::sources::Source& source, const fs::path& out) {
    const auto& members = source.Members();
    std::vector<qvr::sources::Job> jobs;
    for (size_t k = 0; k < members.size(); ++k)
        jobs.push_back({k, (out / members[k].Path).string(), true, {}});
    Extracted got;
    got.Outcome = source.Extract(jobs, [&](const qvr::sources::Done& d) {
        const qvr::sources::Job& job = jobs[d.Job];
        const std::string& path = members[job.Member].Path;
        if (!d.Outcome) {
            got.Failed[path] = d.Outcome.Message;
            EXPECT_FALSE(fs::exists(job.Destination)) << path;
            return true;
        }
        const std::string bytes = qvrtest::ReadAll(job.Destination);
        EXPECT_EQ(d.Size, static_cast<int64_t>(bytes.size())) << path;
        EXPECT_EQ(d.Crc, crc32(0, reinterpret_cast<const Bytef*>(bytes.data()),
                               static_cast<uInt>(bytes.size())))
            << path;
        got.Files[path] = bytes;
        return true;
    });
    return got;
}

TEST(ZipMembers, ReadStraightTheyGiveWhatLibarchiveGives) {
    if (!qvr::sources::ReadsOtherArchives())
        GTEST_SKIP() << "this build reads QVR packages only";
    qvrtest::TempFolder temp("qvr-zipdirect");
    struct Case {
        ZipMember Member;
        bool Written;
    };
    const std::vector<Case> cases = {
        {{"Data Files/Mod.esp", "TES3 plug-in", false, 20, false, true}, true},
        {{"Data Files/Empty.txt", ""}, true},
        {{"Data Files/Meshes/rock.nif", qvrtest::MixedBytes(70000, 1), false, 20, true}, true},
        {{"Data Files/Textures/rock.dds", qvrtest::MixedBytes(5000, 2), true, 20, true}, true},
        // Larger than what is inflated in one piece.
        {{"Data Files/Sound/long.wav", qvrtest::MixedBytes(9 << 20, 3), false, 20, true}, true},
        // A few bytes that claim a hundred megabytes, and a member one byte short of its claim.
        {{"Data Files/lie.esp", "tiny", false, 20, true, false, 100'000'000}, false},
        {{"Data Files/short.esp", qvrtest::MixedBytes(3000, 4), false, 20, true, false, 3001},
         false},
        {{"Data Files/crc.esp", "stored, no checksum"}, false},
        // Damaged inside its stream: libarchive gives up on the archive there, so it comes last.
        {{"Data Files/broken.nif", qvrtest::MixedBytes(40000, 5), false, 20, true}, false},
    };
    std::vector<ZipMember> members;
    for (const Case& c : cases)
        members.push_back(c.Member);
    qvrtest::BuiltZip zip = qvrtest::BuildZip(members);
    zip.bytes[zip.dataOffsets.back() + 100] ^= 0x55;
    const fs::path path = temp.Path() / "mod.zip";
    qvrtest::WriteAll(path, zip.bytes);

    std::map<bool, Extracted> by;
    for (bool direct : {true, false}) {
        qvr::sources::Opened opened =
            qvr::sources::detail::OpenOther(path.string(), "mod.zip", direct);
        ASSERT_TRUE(opened.Outcome) << opened.Outcome.Message;
        by[direct] = ExtractAll(*opened.Archive, temp.Path() / (direct ? "direct" : "libarchive"));
    }
    // Read straight, a damaged member fails alone.
    EXPECT_TRUE(by[true].Outcome) << by[true].Outcome.Message;
    EXPECT_EQ(by[true].Files, by[false].Files);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Member.name);
        for (bool direct : {true, false}) {
            EXPECT_EQ(by[direct].Files.count(c.Member.name), c.Written ? 1u : 0u);
            if (!c.Written) {
                EXPECT_TRUE(by[direct].Failed[c.Member.name].starts_with(c.Member.name + ": "))
                    << by[direct].Failed[c.Member.name];
            }
        }
        if (c.Written) {
            EXPECT_EQ(by[true].Files[c.Member.name], c.Member.data);
        }
    }
}

} // namespace

namespace {

std::string Field(uint16_t id, const std::string& data) {
    return qvrtest::Le16(id) + qvrtest::Le16(static_cast<uint16_t>(data.size())) + data;
}

// What a listing shows, member by member and refusal by refusal.
std::vector<std::string> Shown(const qvr::sources::Opened& opened) {
    if (!opened.Outcome)
        return {"failed: " + opened.Outcome.Message};
    std::vector<std::string> out{opened.Archive->Kind()};
    for (const qvr::sources::Member& m : opened.Archive->Members())
        out.push_back(m.Path + " " + std::to_string(m.Size) + " " +
                      (m.Modified ? std::to_string(*m.Modified) : "-"));
    for (const qvr::sources::Refusal& r : opened.Archive->Refused())
        out.push_back("refused " + r.Path + ": " + r.Why);
    return out;
}

} // namespace

// A zip listed from its own directory shows what libarchive shows: names, sizes, times (the
// local header's, or its Info-ZIP time fields), order, and what is no plain file. Records it
// might read otherwise are left to it.
TEST(ZipMembers, ListedStraightTheyShowWhatLibarchiveShows) {
    if (!qvr::sources::ReadsOtherArchives())
        GTEST_SKIP() << "this build reads QVR packages only";
    qvrtest::TempFolder temp("qvr-ziplist");
    const uint32_t noon = (0x5A21u << 16) | 0x6000u; // 1 January 2025, 12:00
    const auto member = [&](std::string name, std::string data = "TES3") {
        ZipMember m{std::move(name), std::move(data)};
        m.dosTime = noon;
        return m;
    };
    const auto with = [](ZipMember m, auto change) {
        change(m);
        return m;
    };
    const std::string unixTime = qvrtest::Le32(1700000000);
    struct Case {
        const char* what;
        std::vector<ZipMember> members;
        bool straight; // listed without libarchive
        std::string inFront = {};
        bool reversed = false;
    };
    const std::vector<Case> cases = {
        {"plain", {member("Data Files/a.esp"), member("Data Files/b.esp", "")}, true},
        {"Info-ZIP times, the directory's ignored",
         {with(member("a.esp"),
               [&](ZipMember& m) {
                   m.localExtra = Field(0x5455, "\x03" + unixTime + unixTime);
                   m.centralExtra = Field(0x5455, "\x01" + qvrtest::Le32(5));
               }),
          with(member("b.esp"),
               [&](ZipMember& m) { m.localExtra = Field(0x5855, unixTime + unixTime); })},
         true},
        {"NTFS times",
         {with(member("a.esp"),
               [&](ZipMember& m) {
                   m.localExtra = m.centralExtra =
                       Field(0x000A, std::string(4, '\0') + qvrtest::Le16(1) + qvrtest::Le16(24) +
                                         qvrtest::Le64(133000000000000000) + std::string(16, '\1'));
               })},
         true},
        {"folders by name and by attributes, a read-only file",
         {member("Data Files/", ""),
          with(member("Meshes", ""), [](ZipMember& m) { m.attributes = 0x10; }),
          with(member("Icons", ""),
               [](ZipMember& m) {
                   m.madeBy = 0x0314;
                   m.attributes = 0040755u << 16;
               }),
          with(member("Data Files/a.esp"), [](ZipMember& m) { m.attributes = 0x01; }),
          with(member("Data Files/b.esp"),
               [](ZipMember& m) {
                   m.madeBy = 0x0314;
                   m.attributes = 0100644u << 16;
               })},
         true},
        {"a member marked as a folder that holds data",
         {member("a.esp"), with(member("b.esp"),
                                [](ZipMember& m) {
                                    m.madeBy = 0x0314;
                                    m.attributes = (0040755u << 16) | 0x10;
                                })},
         true},
        {"the directory in another order", {member("b.esp"), member("a.esp")}, true, {}, true},
        {"Windows-1252 and backslashes",
         {member("Data Files\\Meshes\\r\xE9.nif"), member("Data Files/Textures\\b.dds"),
          with(member("Data Files/\xC3\xA9t\xC3\xA9.esp"),
               [](ZipMember& m) { m.moreFlags = 0x0800; })},
         true},
        {"a symbolic link",
         {member("a.esp"), with(member("b.esp", "a.esp"),
                                [](ZipMember& m) {
                                    m.madeBy = 0x0314;
                                    m.attributes = 0120777u << 16;
                                })},
         false},
        {"a name flagged UTF-8 that is not",
         {with(member("r\xE9.esp"), [](ZipMember& m) { m.moreFlags = 0x0800; })},
         false},
        {"an extra field running past its end",
         {with(member("a.esp"),
               [](ZipMember& m) { m.localExtra = Field(0x5455, "\x01") + "\x01"; })},
         false},
        {"a program in front", {member("a.esp")}, false, "MZ program"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        qvrtest::BuiltZip zip = qvrtest::BuildZip(c.members, true, false, "", c.reversed);
        const fs::path path = temp.Path() / "mod.zip";
        qvrtest::WriteAll(path, c.inFront + zip.bytes);
        EXPECT_EQ(qvr::sources::detail::ListZipDirectly(path.string()).has_value(), c.straight);
        const auto straight = Shown(qvr::sources::detail::OpenOther(path.string(), "mod.zip"));
        EXPECT_EQ(straight,
                  Shown(qvr::sources::detail::OpenOther(path.string(), "mod.zip", false)));
        if (c.straight) {
            EXPECT_GT(straight.size(), 1u);
        }
    }
}

// A zip rewritten between its listing and its extraction gives nothing it did not list: a new
// length stops the extraction, new bytes of the old length fail their checksum.
TEST(ZipMembers, AZipChangedAfterItsListingIsNotTrusted) {
    if (!qvr::sources::ReadsOtherArchives())
        GTEST_SKIP() << "this build reads QVR packages only";
    qvrtest::TempFolder temp("qvr-zipchanged");
    const fs::path path = temp.Path() / "mod.zip";
    const std::vector<ZipMember> before = {{"a.esp", "first", false, 20, false, true}};
    for (const bool sameLength : {false, true}) {
        SCOPED_TRACE(sameLength ? "same length" : "longer");
        qvrtest::WriteAll(path, qvrtest::BuildZip(before).bytes);
        qvr::sources::Opened opened = qvr::sources::detail::OpenOther(path.string(), "mod.zip");
        ASSERT_TRUE(opened.Outcome) << opened.Outcome.Message;
        std::vector<ZipMember> after = {
            {"a.esp", sameLength ? "other" : "another", false, 20, false, true}};
        qvrtest::WriteAll(path, qvrtest::BuildZip(after).bytes);
        Extracted got = ExtractAll(*opened.Archive, temp.Path() / (sameLength ? "s" : "l"));
        EXPECT_TRUE(got.Files.empty());
        if (sameLength) {
            EXPECT_TRUE(got.Outcome) << got.Outcome.Message;
            EXPECT_NE(got.Failed["a.esp"].find("CRC"), std::string::npos) << got.Failed["a.esp"];
        } else {
            EXPECT_NE(got.Outcome.Message.find("was changed since it was opened"),
                      std::string::npos)
                << got.Outcome.Message;
        }
    }
}
