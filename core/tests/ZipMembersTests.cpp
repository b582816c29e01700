// Zip members read straight from the file give what libarchive gives: the same files with the
// same checksums, and the same members failed, each failure naming its member.

#include "qvr/sources/Source.h"
#include "qvr/sources/detail/Sources.h"
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
