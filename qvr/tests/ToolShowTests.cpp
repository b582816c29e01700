// qvr list, info and verify, and the whole round of a plug-in: what the tool shows, and how
// it answers damaged and foreign files.

#include "ToolTestSupport.h"

#include "qvr/sources/Source.h"
#include "qvrtest/ZipBuilder.h"

namespace {

using namespace tooltest;

TEST_F(Tool, PackListShowInstallVerifyAndUninstallAPlugin) {
    auto files = MakePlugin("plugin");
    WriteAll(dir / "notes.txt", "First line\nSecond line\n");
    Result r = Run({"create", P("mod.qvr"), "--name", "My Mod", "--authors", "A & B",
                    "--notes-file", P("notes.txt"), P("plugin")});
    ASSERT_EQ(r.Code, 0) << r.Err;

    r = Run({"list", P("mod.qvr")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    for (const char* shown : {"mod.qvr.ifo", "Meshes/Armor/x.nif", "Textures/x.nif",
                              "Sound/Fx/a b.wav", "BookArt/\xC3\xBC.tga", "7 entries"})
        EXPECT_TRUE(Contains(r.Out, Shown(shown))) << shown << "\n" << r.Out;

    r = Run({"info", P("mod.qvr")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    for (const char* shown : {"My Mod", "1.0", "A & B", "First line\nSecond line"})
        EXPECT_TRUE(Contains(r.Out, shown)) << shown << "\n" << r.Out;

    // The library sees the package as the packager leaves one: info entry first, notes in CR LF.
    qvr::Archives arc = Opened(P("mod.qvr"));
    ASSERT_EQ(arc.ArchiveFiles.size(), 7u);
    EXPECT_TRUE(arc.IsInfoEntry(arc.ArchiveFiles[0]));
    qvr::sgPlugInfo info;
    ASSERT_TRUE(info.GetPluginData(arc, "mod.qvr"));
    EXPECT_EQ(info.Notes(), "First line\r\nSecond line\r\n");
    EXPECT_EQ(info.Version(), "1.0");

    r = Run({"verify", P("mod.qvr")});
    EXPECT_EQ(r.Code, 0) << r.Out << r.Err;

    // A folder that was there before the install stays after the removal (those the install
    // made go again when empty).
    fs::create_directories(dir / "Data Files" / "Sound" / "Fx");
    r = Run({"install", P("mod.qvr"), P("Data Files")});
    ASSERT_EQ(r.Code, 0) << r.Err;
    for (const auto& [name, content] : files)
        EXPECT_EQ(ReadAll(dir / "Data Files" / fs::path(std::u8string(name.begin(), name.end()))),
                  content)
            << name;
    EXPECT_FALSE(fs::exists(dir / "Data Files" / "mod.qvr.ifo"));

    // Without a terminal, removal needs --yes and deletes nothing until given it.
    r = Run({"uninstall", P("mod.qvr"), P("Data Files")});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "--yes"));
    EXPECT_TRUE(Contains(r.Err, P("mod.qvr"))) << r.Err; // which archive, which folder
    EXPECT_TRUE(Contains(r.Err, P("Data Files"))) << r.Err;
    EXPECT_TRUE(fs::exists(dir / "Data Files" / "Mod.esp"));

    WriteAll(dir / "Data Files" / "Meshes" / "Armor" / "theirs.nif", "not ours");
    r = Run({"uninstall", "--yes", P("mod.qvr"), P("Data Files")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    size_t left = 0;
    for (auto& e : fs::recursive_directory_iterator(dir / "Data Files"))
        left += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(left, 1u);
    EXPECT_TRUE(fs::is_directory(dir / "Data Files" / "Sound" / "Fx"));
}

TEST_F(Tool, DamagedAndForeignFilesGiveClearErrorsAndExitCodes) {
    WriteAll(dir / "base" / "Mod.esp", Bytes(40000, 9));
    WriteAll(dir / "base" / "Meshes" / "x.nif", Bytes(4000, 8));
    ASSERT_EQ(Run({"create", P("good.qvr"), P("base")}).Code, 0);
    const std::string good = ReadAll(dir / "good.qvr");
    qvr::Archives arc = Opened(P("good.qvr"));

    // A spoilt byte inside one block: verify names the entry, install fails just that entry.
    std::string spoilt = good;
    spoilt[arc.ArchiveFiles[1].FileOffset() - 1 + 40] ^= 0x5A;
    WriteAll(dir / "spoilt.qvr", spoilt);
    Result r = Run({"verify", P("spoilt.qvr")});
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(Contains(r.Out, "Mod.esp")) << r.Out;
    EXPECT_FALSE(Contains(r.Out, "x.nif")) << r.Out;
    r = Run({"install", P("spoilt.qvr"), P("data")});
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(Contains(r.Err, "Mod.esp")) << r.Err;
    EXPECT_FALSE(fs::exists(dir / "data" / "Mod.esp"));
    EXPECT_TRUE(fs::exists(dir / "data" / "Meshes" / "x.nif"));

    // A directory cut short: verify reports it, the others refuse to act on it.
    WriteAll(dir / "cut.qvr", good.substr(0, good.size() - 30));
    r = Run({"verify", P("cut.qvr")});
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(Contains(r.Out, "problem")) << r.Out;
    r = Run({"install", P("cut.qvr"), P("data2")});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "cut.qvr")) << r.Err;
    EXPECT_FALSE(fs::exists(dir / "data2"));
    EXPECT_EQ(Run({"add", P("cut.qvr"), P("base/Mod.esp")}).Code, 2);
    EXPECT_EQ(ReadAll(dir / "cut.qvr"), good.substr(0, good.size() - 30));

    // A block that inflates far past its recorded size is given up as soon as it passes it.
    {
        std::vector<unsigned char> zeros(1 << 20, 0);
        qvr::CompressBytes(zeros, 9);
        const std::string block = Le32(10) + std::string(zeros.begin(), zeros.end());
        const std::string record = Le32(11) + Le32(static_cast<int32_t>(block.size())) +
                                   std::string("bomb.esp\0\0", 10) + "1/1/2000 0:0:0" + '\0' +
                                   "10" + '\0' + "x" + '\0';
        WriteAll(dir / "bomb.qvr",
                 "QVR1.0" + Le32(11 + static_cast<int32_t>(block.size())) + block + record);
        r = Run({"verify", P("bomb.qvr")});
        EXPECT_EQ(r.Code, 1);
        EXPECT_TRUE(Contains(r.Out, "bomb.esp: it decompresses to more than the 10 bytes"))
            << r.Out;
    }

    // A damaged information entry is called damaged, not missing; set-info changes nothing
    // while a field would be lost, and writes it anew when every field is given.
    {
        std::string raw = RawArchive(
            {{"", "inf.qvr.ifo", std::string("Name\0V1\0\0\0\0\0", 13)}, {"", "a.esp", "a"}});
        raw[10 + 4 + 6] ^= 0x5A;
        WriteAll(dir / "inf.qvr", raw);
        r = Run({"info", P("inf.qvr")});
        EXPECT_EQ(r.Code, 1);
        EXPECT_TRUE(Contains(r.Err, "cannot be read")) << r.Err;
        EXPECT_FALSE(Contains(r.Err, "holds no plug-in information")) << r.Err;
        r = Run({"set-info", P("inf.qvr"), "--version", "2"});
        EXPECT_EQ(r.Code, 1) << r.Err;
        EXPECT_TRUE(Contains(r.Err, "cannot be read")) << r.Err;
        EXPECT_TRUE(Contains(r.Err, "nothing was changed")) << r.Err;
        EXPECT_EQ(ReadAll(dir / "inf.qvr"), raw);
        WriteAll(dir / "notes.txt", "Notes");
        r = Run({"set-info", P("inf.qvr"), "--name", "N", "--version", "2", "--last-updated",
                 "today", "--authors", "A", "--depends", "Morrowind.esm", "--notes-file",
                 P("notes.txt")});
        EXPECT_EQ(r.Code, 0) << r.Err;
        EXPECT_TRUE(Contains(r.Err, "written anew")) << r.Err;
        EXPECT_EQ(Run({"verify", P("inf.qvr")}).Code, 0);
    }

    // Not an archive, or no file at all.
    WriteAll(dir / "text.qvr", "just some text");
    for (const char* cmd : {"list", "info", "verify"}) {
        r = Run({cmd, P("text.qvr")});
        EXPECT_EQ(r.Code, 2) << cmd;
        EXPECT_TRUE(Contains(r.Err, "text.qvr")) << cmd << r.Err;
        EXPECT_EQ(Run({cmd, P("missing.qvr")}).Code, 2) << cmd;
    }

    // A zip file whose checksums do not match its members (this one records none) is listed,
    // but its files are never installed.
    WriteAll(dir / "plain.zip", qvrtest::BuildZip({{"Textures/ab.dds", "abc"}}).bytes);
    r = Run({"list", P("plain.zip")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Contains(r.Out, Shown("Textures/ab.dds"))) << r.Out;
    r = Run({"install", P("plain.zip"), P("data3")});
#ifdef _WIN32
    // This build reads no archives but packages: it says so.
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "zip")) << r.Err;
#else
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(Contains(r.Err, "CRC")) << r.Err;
#endif
    EXPECT_FALSE(fs::exists(dir / "data3" / "Textures"));
}

TEST_F(Tool, ListIsForPeopleAndForScripts) {
    MakePlugin("plugin");
    // A known file time, and a known time of adding in a known zone.
    const auto when = std::chrono::sys_seconds(std::chrono::seconds(1047045909));
    fs::last_write_time(dir / "plugin" / "Mod.esp", std::chrono::file_clock::from_sys(when));
    SetEnv("SOURCE_DATE_EPOCH", "1047045909");
    SetEnv("TZ", "UTC");
    ASSERT_EQ(Run({"create", P("mod.qvr"), P("plugin")}).Code, 0);

    Result r = Run({"list", P("mod.qvr")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    // Both dates in one zero-padded ISO 8601 form, the packer's clock with no zone; paths as
    // the system writes them.
    EXPECT_TRUE(Contains(r.Out, "2003-03-07 14:05:09 +0000  2003-03-07 14:05:09     Mod.esp"))
        << r.Out;
    EXPECT_TRUE(Contains(r.Out, Shown("Meshes/Armor/x.nif"))) << r.Out;
#ifndef _WIN32
    EXPECT_FALSE(Contains(r.Out, "\\")) << r.Out;
#endif

    // -q: the entries' lines only.
    r = Run({"-q", "list", P("mod.qvr")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_FALSE(Contains(r.Out, "Size")) << r.Out;
    EXPECT_FALSE(Contains(r.Out, "entries")) << r.Out;
    EXPECT_EQ(std::count(r.Out.begin(), r.Out.end(), '\n'), 7) << r.Out;

    // --json: an array of one object per entry with every field.
    r = Run({"list", "--json", P("mod.qvr")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Out.front(), '[');
    EXPECT_EQ(std::count(r.Out.begin(), r.Out.end(), '{'), 7) << r.Out;
    for (const char* field : {"\"path\": \"Meshes/Armor/x.nif\"", "\"name\": \"x.nif\"",
                              "\"folder\": \"Meshes/Armor\"", "\"size\": 7000", "\"compressed\": ",
                              "\"offset\": ", "\"modified\": \"2003-03-07 14:05:09 +0000\"",
                              "\"added\": ", "\"information\": true", "\"information\": false"})
        EXPECT_TRUE(Contains(r.Out, field)) << field << "\n" << r.Out;
}

#ifdef __linux__
TEST_F(Tool, AZipWithDataInFrontListsLikeAnyOther) {
    WriteAll(dir / "z" / "Textures" / "ab.dds", Bytes(3000, 7));
    WriteAll(dir / "z" / "Mod.esp", Bytes(500, 8));
    ASSERT_EQ(
        std::system(("cd " + Quote(P("z")) + " && zip -qr ../plain.zip Mod.esp Textures").c_str()),
        0);
    // As a self-extractor carries it: a program in front of the zip.
    WriteAll(dir / "sfx.exe", "MZ" + Bytes(70000, 9, false) + ReadAll(dir / "plain.zip"));
    const Result plain = Run({"list", P("plain.zip")});
    ASSERT_EQ(plain.Code, 0) << plain.Err;
    Result r = Run({"list", P("sfx.exe")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Out, plain.Out);
    EXPECT_TRUE(Contains(r.Out, "Textures/ab.dds")) << r.Out;
    EXPECT_TRUE(Contains(r.Out, qvr::sources::ReadsOtherArchives() ? "2 files (zip)"
                                                                   : "2 entries (zip file"))
        << r.Out;
    qvr::Archives arc;
    EXPECT_EQ(arc.Open(P("sfx.exe")).Kind, qvr::OpenKind::Zip);
    ASSERT_EQ(arc.ArchiveFiles.size(), 2u);
    // The offsets point at the members' data in the whole file.
    qvr::Archives alone;
    ASSERT_EQ(alone.Open(P("plain.zip")).Kind, qvr::OpenKind::Zip);
    ASSERT_EQ(alone.ArchiveFiles.size(), 2u);
    for (size_t i = 0; i < 2; ++i)
        EXPECT_EQ(arc.ArchiveFiles[i].FileOffset(), alone.ArchiveFiles[i].FileOffset() + 70002);
}
#endif

#ifdef __linux__
TEST_F(Tool, ADashReadsThePackageFromStandardInputAndCreateWritesItToStandardOutput) {
    auto files = MakePlugin("plugin");
    fs::create_directories(dir / "tmp");
    // Through a shell, so that standard input and output are files or pipes.
    auto shell = [&](const std::string& args) {
        const std::string command = "TMPDIR=" + Quote(P("tmp")) + " " + Quote(QVR_EXE) + " " +
                                    args + " 2> " + Quote(P("err.txt"));
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    ASSERT_EQ(shell("create - " + Quote(P("plugin")) + " > " + Quote(P("out.qvr"))), 0);
    EXPECT_TRUE(Contains(ReadAll(dir / "err.txt"), "Created")) << ReadAll(dir / "err.txt");
    qvr::Archives arc;
    ASSERT_EQ(arc.Open(P("out.qvr")).Kind, qvr::OpenKind::Complete);
    EXPECT_EQ(arc.ArchiveFiles.size(), 7u);
    // Its information entry is named for the file it went to.
    EXPECT_EQ(Run({"verify", P("out.qvr")}).Code, 0);
    EXPECT_TRUE(Contains(Run({"info", P("out.qvr")}).Out, "Name:          out.qvr\n"));

    EXPECT_EQ(shell("list - < " + Quote(P("out.qvr")) + " > " + Quote(P("list.txt"))), 0);
    EXPECT_TRUE(Contains(ReadAll(dir / "list.txt"), "Meshes/Armor/x.nif"));
    // A failure names what was read, not the copy that is gone when the command ends.
    WriteAll(dir / "cut.qvr", ReadAll(dir / "out.qvr").substr(0, 40));
    EXPECT_NE(shell("list - < " + Quote(P("cut.qvr"))), 0);
    EXPECT_TRUE(Contains(ReadAll(dir / "err.txt"), "(standard input)")) << ReadAll(dir / "err.txt");
    EXPECT_FALSE(Contains(ReadAll(dir / "err.txt"), "spool")) << ReadAll(dir / "err.txt");
    // Through a pipe, too; the information is found whatever the package was called.
    EXPECT_EQ(shell("info - < " + Quote(P("out.qvr")) + " > " + Quote(P("info.txt"))), 0)
        << ReadAll(dir / "err.txt");
    EXPECT_TRUE(Contains(ReadAll(dir / "info.txt"), "Version:       1.0"))
        << ReadAll(dir / "info.txt");
    EXPECT_EQ(std::system(("cat " + Quote(P("out.qvr")) + " | TMPDIR=" + Quote(P("tmp")) + " " +
                           Quote(QVR_EXE) + " verify - > " + Quote(P("verify.txt")))
                              .c_str()),
              0);
    EXPECT_TRUE(Contains(ReadAll(dir / "verify.txt"), "OK, 7 entries"));
    EXPECT_EQ(shell("install - " + Quote(P("data")) + " < " + Quote(P("out.qvr")) + " > " +
                    Quote(P("install.txt"))),
              0)
        << ReadAll(dir / "err.txt");
    for (const auto& [name, content] : files)
        EXPECT_EQ(ReadAll(dir / "data" / fs::path(std::u8string(name.begin(), name.end()))),
                  content)
            << name;
    EXPECT_FALSE(fs::exists(dir / "data" / "out.qvr.ifo"));
    // Something that is no package says so, and the copy is gone either way.
    EXPECT_EQ(shell("list - < " + Quote(P("err.txt")) + " > " + Quote(P("list.txt"))), 2);
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));
}
#endif

} // namespace
