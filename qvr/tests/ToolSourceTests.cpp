// qvr list, info and verify on the archives players download.

#include "ToolTestSupport.h"

#include "qvrtest/ArchiveFixtures.h"
#include "qvrtest/ZipBuilder.h"

#ifdef __linux__

using namespace tooltest;
using qvrtest::ArchiveMember;

TEST_F(Tool, DownloadedArchivesAreListedShownAndVerified) {
    const std::vector<ArchiveMember> options = {{"MyMod/00 Core/Data Files/Mod.esp", "esp"},
                                                {"MyMod/00 Core/Data Files/Meshes/x.nif", "nif"},
                                                {"MyMod/01 Bigger Rocks/Meshes/x.nif", "big"},
                                                {"MyMod/readme.txt", "read me"}};
    ASSERT_TRUE(qvrtest::Make7z(dir / "mod.7z", options));
    Result r = Run({"list", P("mod.7z")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Contains(r.Out, "MyMod/01 Bigger Rocks/Meshes/x.nif")) << r.Out;
    EXPECT_TRUE(Contains(r.Out, "4 files (7z)")) << r.Out;
    r = Run({"list", "--json", P("mod.7z")});
    EXPECT_TRUE(Contains(r.Out, "{\"path\": \"MyMod/readme.txt\", \"size\": 7")) << r.Out;
    r = Run({"info", P("mod.7z")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    for (const char* line : {"Archive:       7z", "00 Core  (MyMod/00 Core/Data Files/)",
                             "01 Bigger Rocks  (MyMod/01 Bigger Rocks/)", "Default:       00"})
        EXPECT_TRUE(Contains(r.Out, line)) << line << "\n" << r.Out;
    r = Run({"verify", P("mod.7z")});
    EXPECT_EQ(r.Code, 0) << r.Out << r.Err;
    EXPECT_TRUE(Contains(r.Out, "OK, 4 files, 16 bytes (7z)")) << r.Out;

    // Two roots: named, not guessed.
    ASSERT_TRUE(qvrtest::MakeZip(dir / "two.zip", {{"A/a.esp", "a"}, {"B/b.esp", "b"}}));
    r = Run({"info", P("two.zip")});
    EXPECT_TRUE(Contains(r.Out, "not clear")) << r.Out;
    EXPECT_TRUE(Contains(r.Out, "A/\n               B/")) << r.Out;

    // Two options of the lowest number: no default is promised that install would refuse.
    ASSERT_TRUE(
        qvrtest::MakeZip(dir / "twins.zip", {{"00 Alt/a.esp", "a"}, {"00 Core/b.esp", "b"}}));
    r = Run({"info", P("twins.zip")});
    EXPECT_TRUE(Contains(r.Out, "Default:       none: more than one option is numbered 00"))
        << r.Out;
}

TEST_F(Tool, DamagedHostileAndEncryptedArchivesAreToldApart) {
    // A zip written by hand records no checksums (0): verify reads every member and says so.
    // Its name has no UTF-8 flag: the zip format's code page 437, as Windows' tools write it.
    WriteAll(dir / "crc.zip", qvrtest::BuildZip({{"Caf\x82.esp", "plug-in"}}).bytes);
    Result r = Run({"list", P("crc.zip")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Contains(r.Out, "Caf\xC3\xA9.esp")) << r.Out;
    r = Run({"verify", P("crc.zip")});
    EXPECT_EQ(r.Code, 1) << r.Out;
    EXPECT_TRUE(Contains(r.Out, "CRC")) << r.Out;

    ASSERT_TRUE(qvrtest::MakeTar(
        dir / "bad.tar",
        {{"Mod.esp", "x"}, {"../evil.esp", "x"}, {"Meshes", "/etc", ArchiveMember::Symlink}},
        false));
    for (const char* cmd : {"list", "info", "verify"}) {
        r = Run({cmd, P("bad.tar")});
        EXPECT_EQ(r.Code, 1) << cmd;
        EXPECT_TRUE(Contains(r.Out + r.Err, "../evil.esp: refused")) << cmd << r.Out << r.Err;
        EXPECT_TRUE(Contains(r.Out + r.Err, "Meshes: refused: a symbolic link")) << r.Err;
    }
    EXPECT_EQ(Run({"install", "--list-options", P("bad.tar")}).Code, 1);
    // A name marked UTF-8 that is not: named by its place, not as an empty name.
    qvrtest::ZipMember odd{"Meshes/\xFF\xFE.nif", "x"};
    odd.moreFlags = 0x0800;
    WriteAll(dir / "odd.zip", qvrtest::BuildZip({{"Good.esp", "x"}, odd}).bytes);
    r = Run({"list", P("odd.zip")});
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(Contains(r.Err, "(member 2): refused: its name cannot be read")) << r.Err;
#ifndef _WIN32
    // The download's own name reaches the terminal as text, whatever it holds.
    fs::copy_file(dir / "bad.tar", dir / "bad\x1b[2J.tar");
    for (const char* cmd : {"list", "info", "verify"}) {
        r = Run({cmd, P("bad\x1b[2J.tar")});
        EXPECT_FALSE(Contains(r.Out + r.Err, "\x1b")) << cmd << r.Out << r.Err;
    }
#endif
    // Installed without them, and the exit code says something was left out.
    r = Run({"install", P("bad.tar"), P("data")});
    EXPECT_EQ(r.Code, 1) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "../evil.esp: refused")) << r.Err;
    EXPECT_EQ(ReadAll(dir / "data" / "Mod.esp"), "x");
    EXPECT_FALSE(fs::exists(dir / "evil.esp"));
    EXPECT_FALSE(fs::exists(dir / "data" / "Meshes"));

    WriteAll(dir / "src" / "Mod.esp", "plug-in");
    const std::string in = "cd " + Quote(P("src")) + " && ";
    ASSERT_EQ(std::system((in + "zip -q -P pw ../enc.zip Mod.esp").c_str()), 0);
    ASSERT_EQ(std::system((in + "7z a -bd -ppw ../enc.7z Mod.esp > /dev/null").c_str()), 0);
    for (const char* name : {"enc.zip", "enc.7z"})
        for (const char* cmd : {"list", "verify", "install"}) {
            r = std::string(cmd) == "install" ? Run({cmd, P(name), P("data")})
                                              : Run({cmd, P(name)});
            EXPECT_EQ(r.Code, 2) << cmd << name;
            EXPECT_TRUE(Contains(r.Err, "encrypted")) << cmd << r.Err;
        }
}

TEST_F(Tool, InfoShowsWhereAPackagesDataLies) {
    WriteAll(dir / "Wrap" / "MyMod" / "Data Files" / "Wrap.esp", "esp");
    WriteAll(dir / "Wrap" / "MyMod" / "Data Files" / "Meshes" / "a.nif", "nif");
    ASSERT_EQ(Run({"create", P("wrap.qvr"), P("Wrap")}).Code, 0);
    const Result r = Run({"info", P("wrap.qvr")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Contains(r.Out, "Data root:     MyMod/Data Files/")) << r.Out;
    EXPECT_FALSE(Contains(r.Out, "Left out:")) << r.Out;
    ASSERT_TRUE(qvrtest::MakeZip(
        dir / "readme.zip", {{"MyMod/Data Files/a.esp", "a"}, {"MyMod/readme.txt", "read me"}}));
    EXPECT_TRUE(Contains(Run({"info", P("readme.zip")}).Out, "Left out:      MyMod/readme.txt"));
    // With numbered options: what lies outside all of them, not a file a later option replaces.
    ASSERT_TRUE(qvrtest::MakeZip(dir / "options.zip", {{"00 Core/Mod.esp", "a"},
                                                       {"00 Core/Meshes/x.nif", "core"},
                                                       {"01 Extra/Meshes/x.nif", "extra"},
                                                       {"readme.txt", "read me"}}));
    EXPECT_TRUE(Contains(Run({"info", P("options.zip")}).Out, "Left out:      readme.txt\n"));
    const Result installed = Run({"install", P("options.zip"), P("data"), "--options", "1"});
    EXPECT_TRUE(Contains(installed.Out, "Left out: 1 file outside it")) << installed.Out;
}

#endif
