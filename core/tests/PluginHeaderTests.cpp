// Plug-in headers made byte by byte: read as written, from bytes, files and package members;
// hostile ones refused without a crash.

#include "TestSupport.h"
#include "qvr/games/PluginHeader.h"
#include "qvr/platform/Encoding.h"
#include "qvrtest/HandMade.h"
#include "qvrtest/Plugins.h"

using namespace qvrtest;

namespace {

std::vector<std::pair<std::string, uint64_t>> ManyMasters(int n) {
    std::vector<std::pair<std::string, uint64_t>> out;
    for (int i = 0; i < n; ++i)
        out.push_back({"Master " + std::to_string(i) + ".esm", uint64_t{1} << (i % 40)});
    return out;
}

void ExpectAsWritten(const qvr::PluginHeader& h, const PluginShape& s) {
    EXPECT_EQ(h.IsMaster, s.Master);
    EXPECT_FLOAT_EQ(h.Version, 1.3f);
    EXPECT_EQ(h.Author, qvr::Cp1252ToUtf8(s.Author.substr(0, 32)));
    EXPECT_EQ(h.Description, qvr::Cp1252ToUtf8(s.Description));
    ASSERT_EQ(h.Masters.size(), s.Masters.size());
    for (size_t i = 0; i < s.Masters.size(); ++i) {
        EXPECT_EQ(h.Masters[i].Name, qvr::Cp1252ToUtf8(s.Masters[i].first));
        EXPECT_EQ(h.Masters[i].Size, s.Masters[i].second);
    }
}

const std::vector<std::pair<const char*, PluginShape>> kSound = {
    {"no masters", {false, false, "Anne", "Nothing needed", {}}},
    {"FORM first", {true, false, "OpenMW CS", "Saved by OpenMW", {{"Morrowind.esm", 79837557}}}},
    {"master file",
     {false, true, "", "", {{"Morrowind.esm", 79837557}, {"Tribunal.esm", 4565686}}}},
    {"Windows-1252 texts, author filling its field",
     {false,
      false,
      "J\xF6rg M\xFCller-L\xFC"
      "denscheid, the Author",
      "Caf\xE9\r\nSecond line",
      {{"D\xE9j\xE0 vu.esp", uint64_t{1} << 40}}}},
    {"many masters", {false, false, "Anne", "", ManyMasters(300)}},
};

} // namespace

TEST(PluginHeader, SoundHeadersReadAsWritten) {
    for (const auto& [what, shape] : kSound) {
        SCOPED_TRACE(what);
        qvr::PluginHeader h;
        ASSERT_TRUE(Ok(qvr::ParsePluginHeader(PluginBytes(shape) + "TES3 rest of the file", h)));
        ExpectAsWritten(h, shape);
    }
}

TEST(PluginHeader, HostileHeadersAreRefused) {
    const std::string sound = PluginBytes({false, false, "A", "B", {{"Morrowind.esm", 1}}});
    const auto withSize = [&](size_t at, uint32_t size) {
        std::string b = sound;
        b.replace(at, 4, Le32(static_cast<int32_t>(size)));
        return b;
    };
    const std::string hedrAt16 = "TES3" + Le32(8 + 299) + Le32(0) + Le32(0);
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"empty", ""},
        {"not TES3", "TES4" + sound.substr(4)},
        {"record claims 4 GiB", withSize(4, 0xFFFFFFFF)},
        {"record claims more than the file", withSize(4, static_cast<uint32_t>(sound.size()))},
        {"HEDR claims past its record", withSize(20, 0x7FFFFFF0)},
        {"HEDR too short", hedrAt16 + Subrecord("HEDR", std::string(299, 'x'))},
        {"no HEDR", "TES3" + Le32(12) + Le32(0) + Le32(0) + Subrecord("MAST", "M.esm")},
        {"MAST without DATA", PluginBytes({}).substr(0, 4) + Le32(8 + 300 + 8 + 6) + Le32(0) +
                                  Le32(0) + Subrecord("HEDR", std::string(300, '\0')) +
                                  Subrecord("MAST", "M.esm")},
        {"DATA of 4 bytes", "TES3" + Le32(8 + 300 + 14 + 12) + Le32(0) + Le32(0) +
                                Subrecord("HEDR", std::string(300, '\0')) +
                                Subrecord("MAST", "M.esm") + Subrecord("DATA", "abcd")},
        {"master with a folder", PluginBytes({false, false, "", "", {{"..\\evil.esm", 1}}})},
        {"master with a line break", PluginBytes({false, false, "", "", {{"a\nb.esm", 1}}})},
        {"master with a C1 control", PluginBytes({false, false, "", "", {{"a\x81.esm", 1}}})},
        {"master without a name", PluginBytes({false, false, "", "", {{"", 1}}})},
        {"a subrecord cut in its head", "TES3" + Le32(5) + Le32(0) + Le32(0) + "HEDR\x01"},
    };
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        qvr::PluginHeader h;
        h.Author = "left from before";
        const qvr::Result r = qvr::ParsePluginHeader(bytes, h);
        EXPECT_FALSE(r);
        EXPECT_FALSE(r.Message.empty());
        EXPECT_TRUE(h.Author.empty()) << "a refused header leaves nothing behind";
    }
    // Cut anywhere short of its end, a header is refused.
    for (size_t n = 0; n < sound.size(); ++n) {
        qvr::PluginHeader h;
        EXPECT_FALSE(qvr::ParsePluginHeader(sound.substr(0, n), h)) << n;
    }
}

TEST_F(ArchiveTest, PluginHeadersReadFromFilesAndMembersAlike) {
    const PluginShape shape{
        true, false, "Anne", "Tower", {{"Morrowind.esm", 7}, {"Tribunal.esm", 9}}};
    const std::string bytes = PluginBytes(shape) + RandomBytes(300000, 5);
    WriteAll(dir + "/Tower.esp", bytes);
    qvr::PluginHeader fromFile;
    ASSERT_TRUE(Ok(qvr::ReadPluginHeader(dir + "/Tower.esp", fromFile)));
    ExpectAsWritten(fromFile, shape);

    // Only the header is inflated: a member whose data is spoiled after it still gives it.
    std::string package = RawArchive({{"", "Tower.esp", bytes}, {"", "Broken.esp", bytes}}, 1);
    const int32_t brokenAt = GetLe32(package, 6); // the directory; Broken's block ends there
    for (int32_t i = brokenAt - 2000; i < brokenAt - 1000; ++i)
        package[static_cast<size_t>(i - 1)] ^= 0x5A;
    WriteAll(dir + "/p.qvr", package);
    ASSERT_TRUE(Ok(arc.OpenArchive(dir + "/p.qvr")));
    for (const auto& entry : arc.ArchiveFiles) {
        SCOPED_TRACE(entry.FileName());
        qvr::PluginHeader fromMember;
        ASSERT_TRUE(Ok(qvr::ReadPluginHeader(arc, entry, fromMember)));
        ExpectAsWritten(fromMember, shape);
    }
    EXPECT_FALSE(arc.ExtractEntry(arc.ArchiveFiles[1], dir + "/out.esp", true))
        << "the spoiled member is damaged as a whole";
    // What an install works from: the plug-ins, their masters, the times the archive stores.
    const auto plugins = qvr::ReadArchivePlugins(arc);
    ASSERT_EQ(plugins.size(), 2u);
    const auto timed = qvr::TimesOf(plugins);
    EXPECT_EQ(timed[1].Name, "Broken.esp");
    EXPECT_EQ(timed[1].Masters, (std::vector<std::string>{"Morrowind.esm", "Tribunal.esm"}));
    EXPECT_EQ(timed[1].Time, 946684800); // 1/1/2000 0:0:0, as the hand-made package records

    WriteAll(dir + "/Short.esp", bytes.substr(0, 100));
    qvr::PluginHeader h;
    EXPECT_FALSE(qvr::ReadPluginHeader(dir + "/Short.esp", h));
    EXPECT_FALSE(qvr::ReadPluginHeader(dir + "/Absent.esp", h));
}
