// qvr create from the archives players download (the data root packed as its own folder would
// be, choices asked for rather than guessed), and what create and add check in the package they
// write: "Depends on" against the plug-ins' masters, and files below a wrapper folder.

#include "ToolTestSupport.h"

#include "qvrtest/ArchiveFixtures.h"
#include "qvrtest/Plugins.h"

#include <chrono>

#ifdef __linux__

using namespace tooltest;
using qvrtest::ArchiveMember;
using qvrtest::PluginNeeding;

namespace {

void SetTimes(const fs::path& folder, int64_t seconds) {
    const auto when =
        std::chrono::file_clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(seconds)));
    for (const auto& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file())
            fs::last_write_time(e.path(), when);
}

// The package's entries as "folder\name", its information entry left out.
std::vector<std::string> Entries(const std::string& package) {
    qvr::Archives arc;
    EXPECT_TRUE(arc.OpenArchive(package));
    std::vector<std::string> out;
    for (const qvr::sgFileInfo& e : arc.ArchiveFiles)
        if (!qvr::Archives::LooksLikeInfoEntry(e))
            out.push_back(e.FilePath().empty() ? e.FileName() : e.FilePath() + "\\" + e.FileName());
    return out;
}

qvr::sgPlugInfo InfoOf(const std::string& package) {
    qvr::Archives arc;
    EXPECT_TRUE(arc.OpenArchive(package));
    qvr::sgPlugInfo info;
    EXPECT_TRUE(info.GetPluginData(arc, fs::path(package).filename().string())) << package;
    return info;
}

bool HasWorkFiles(const fs::path& folder) {
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().filename().string().rfind("~qvr-", 0) == 0)
            return true;
    return false;
}

} // namespace

TEST_F(Tool, ConvertedArchivesGiveTheSamePackageAsTheirDataFolder) {
    SetEnv("SOURCE_DATE_EPOCH", "1700000000");
    const fs::path inner = dir / "src" / "Wrap" / "MyMod" / "Data Files";
    WriteAll(inner / "Wrap.esp", PluginNeeding({"Morrowind.esm", "Tribunal.esm"}));
    WriteAll(inner / "Meshes" / "a.nif", Bytes(7000, 1));
    WriteAll(inner / "Textures" / "b.dds", Bytes(30000, 2, false));
    WriteAll(dir / "src" / "Wrap" / "MyMod" / "readme.txt", "read me");
    SetTimes(dir / "src", 1100000000);
    const std::string in = "cd " + Quote(P("src")) + " && ";
    ASSERT_EQ(std::system((in + "7z a -bd ../Wrap.7z Wrap > /dev/null").c_str()), 0);
    ASSERT_EQ(std::system((in + "zip -qr ../Wrap.zip Wrap").c_str()), 0);

    fs::create_directories(dir / "direct");
    Result r = Run({"create", P("direct/Mod.qvr"), inner.string()});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    const std::string direct = ReadAll(dir / "direct" / "Mod.qvr");
    for (const std::string archive : {"Wrap.7z", "Wrap.zip"}) {
        fs::create_directories(dir / (archive + "-out"));
        const std::string out = P(archive + "-out/Mod.qvr");
        r = Run({"create", out, P(archive)});
        EXPECT_EQ(r.Code, 0) << r.Err;
        EXPECT_EQ(r.Err, "") << archive;
        EXPECT_TRUE(Contains(r.Out, "From " + P(archive) +
                                        ": the data root Wrap/MyMod/Data Files/; left out: "
                                        "Wrap/MyMod/readme.txt"))
            << r.Out;
        EXPECT_TRUE(Contains(r.Out, "Depends on: Morrowind.esm, Tribunal.esm")) << r.Out;
        EXPECT_TRUE(ReadAll(out) == direct) << archive;
        EXPECT_FALSE(HasWorkFiles(dir / (archive + "-out"))) << archive;
    }
    // A root named around the data is packed as named, and the one inside it suggested.
    r = Run({"create", P("outer.qvr"), P("Wrap.7z"), "--root", "Wrap"});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "sit below the folder MyMod/Data Files/")) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "--root 'Wrap/MyMod/Data Files'")) << r.Err;
}

TEST_F(Tool, WhatAnArchiveLeavesOpenIsAskedForNotGuessed) {
    const std::vector<ArchiveMember> options = {{"MyMod/00 Core/Data Files/Mod.esp", "esp"},
                                                {"MyMod/00 Core/Data Files/Meshes/x.nif", "core"},
                                                {"MyMod/01 Bigger Rocks/Meshes/x.nif", "big"}};
    ASSERT_TRUE(qvrtest::MakeZip(dir / "opt.zip", options));
    ASSERT_TRUE(qvrtest::MakeZip(dir / "two.zip", {{"A/a.esp", "a"}, {"B/b.esp", "b"}}));
    ASSERT_TRUE(qvrtest::MakeZip(dir / "none.zip", {{"readme.txt", "r"}, {"Stuff/x.lua", "lua"}}));
    ASSERT_TRUE(qvrtest::MakeTar(
        dir / "bad.tar", {{"Mod.esp", "esp"}, {"../evil.esp", "x"}, {"Meshes/empty.nif", ""}},
        false));
    WriteAll(dir / "folder" / "Mod.esp", "esp");
    struct Case {
        std::vector<std::string> Args;
        int Code;
        std::vector<std::string> Said;   // on either stream
        std::vector<std::string> Packed; // the package's entries; none: not written
        std::string X = "";              // what Meshes\x.nif holds
    } cases[] = {
        {{"opt.zip"},
         2,
         {"numbered options: 00 Core (MyMod/00 Core/)", "01 Bigger Rocks", "--options"},
         {}},
        {{"opt.zip", "--options", "00,01"},
         0,
         {"the options 00 Core and 01 Bigger Rocks"},
         {"Mod.esp", "Meshes\\x.nif"},
         "big"},
        {{"opt.zip", "--options", "1"},
         0,
         {"the option 01 Bigger Rocks"},
         {"Meshes\\x.nif"},
         "big"},
        {{"opt.zip", "--options", "5"}, 2, {"no option is numbered \"5\""}, {}},
        {{"two.zip"}, 2, {"more than one folder could be its data root: A/ and B/", "--root"}, {}},
        {{"two.zip", "--root", "B/"}, 0, {"left out: A/a.esp"}, {"b.esp"}},
        {{"two.zip", "--root", "C"}, 2, {"holds no folder C/"}, {}},
        {{"none.zip"}, 2, {"no plug-in", "the top or Stuff/", "--root"}, {}},
        {{"none.zip", "--root", "."}, 0, {}, {"readme.txt", "Stuff\\x.lua"}},
        {{"bad.tar"},
         1,
         {"../evil.esp: refused", "bad.tar: Meshes/empty.nif: is empty"},
         {"Mod.esp"}},
        {{"folder", "--root", "x"}, 2, {"--root and --options choose what of an archive"}, {}},
    };
    for (const Case& c : cases) {
        const std::string what = c.Args[0] + (c.Args.size() > 1 ? " " + c.Args[2] : "");
        fs::remove(dir / "out.qvr");
        std::vector<std::string> args = {"create", P("out.qvr"), P(c.Args[0])};
        args.insert(args.end(), c.Args.begin() + 1, c.Args.end());
        const Result r = Run(args);
        EXPECT_EQ(r.Code, c.Code) << what << "\n" << r.Out << r.Err;
        for (const std::string& said : c.Said)
            EXPECT_TRUE(Contains(r.Out + r.Err, said)) << what << ": " << said << "\n"
                                                       << r.Out << r.Err;
        EXPECT_EQ(fs::exists(dir / "out.qvr"), !c.Packed.empty()) << what;
        if (c.Packed.empty())
            continue;
        EXPECT_EQ(Entries(P("out.qvr")), c.Packed) << what;
        if (!c.X.empty()) {
            qvr::Archives arc = Opened(P("out.qvr"));
            const auto x = arc.FindEntry("x.nif", "Meshes");
            ASSERT_TRUE(x && arc.ExtractEntry(*x, P("x.out"), true)) << what;
            EXPECT_EQ(ReadAll(dir / "x.out"), c.X) << what;
            fs::remove(dir / "x.out");
        }
    }
    EXPECT_FALSE(HasWorkFiles(dir));
}

TEST_F(Tool, FilesBelowAWrapperAreWarnedAboutWithTheCommandThatPacksThemRight) {
    struct Case {
        std::vector<std::string> Files;
        std::string Said; // "" for no warning
    } cases[] = {
        {{"MyMod/Data Files/Wrap.esp", "MyMod/Data Files/Meshes/a.nif"},
         "its files sit below the folder MyMod/Data Files/"},
        {{"Mod/00 Core/Mod.esp", "Mod/01 Extra/Meshes/x.nif"},
         "numbered options (00 Core, 01 Extra) below Mod/"},
        {{"A/a.esp", "B/Meshes/b.nif"},
         "more than one of its folders holds the game's data (A/, B/)"},
        {{"Mod.esp", "Data Files/Meshes/x.nif"}, "(the top, Data Files/)"},
        {{"Mod.esp", "Meshes/x.nif"}, ""},
        {{"Stuff/x.lua"}, ""},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string folder = "case" + std::to_string(++n);
        for (const std::string& f : c.Files)
            WriteAll(dir / folder / f, "data of " + f);
        const Result r = Run({"create", P(folder + ".qvr"), P(folder)});
        EXPECT_EQ(r.Code, 0) << folder << r.Err;
        if (c.Said.empty())
            EXPECT_EQ(r.Err, "") << folder;
        else
            EXPECT_TRUE(Contains(r.Err, c.Said)) << folder << "\n" << r.Err;
    }
    // The command named packs the inner folder, which is then taken as it is.
    const std::string hint =
        "qvr create -f " + P("case1.qvr") + " '" + P("case1") + "/MyMod/Data Files'";
    const Result wrapped = Run({"create", "-f", P("case1.qvr"), P("case1")});
    EXPECT_TRUE(Contains(wrapped.Err, hint)) << wrapped.Err;
    Result r = Run({"create", "-f", P("case1.qvr"), P("case1/MyMod/Data Files")});
    EXPECT_EQ(r.Code, 0);
    EXPECT_EQ(r.Err, "");

    // A wrapped package converted keeps its details, with its data root at the top.
    r = Run({"create", "--name", "Wrapped", P("wrapped.qvr"), P("case1")});
    ASSERT_EQ(r.Code, 0) << r.Err;
    r = Run({"create", P("fixed.qvr"), P("wrapped.qvr")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    EXPECT_EQ(Entries(P("fixed.qvr")), (std::vector<std::string>{"Wrap.esp", "Meshes\\a.nif"}));
    EXPECT_EQ(InfoOf(P("fixed.qvr")).PluginName(), "Wrapped");

    // add warns when it leaves the package so, and only then.
    ASSERT_EQ(Run({"create", P("grow.qvr"), P("case6")}).Code, 0);
    r = Run({"add", P("grow.qvr"), P("case1")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "its files sit below the folder case1/MyMod/Data Files/")) << r.Err;
    WriteAll(dir / "readme.txt", "read me");
    r = Run({"add", P("grow.qvr"), P("readme.txt")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
}

TEST_F(Tool, DependsOnIsFilledFromThePlugInsMastersOrWarnedAbout) {
    WriteAll(dir / "src" / "Tower.esp",
             PluginNeeding({"Morrowind.esm", "Tribunal.esm", "Tower.esm"}));
    WriteAll(dir / "src" / "Tower.esm", PluginNeeding({"Morrowind.esm"}, true));
    WriteAll(dir / "src" / "Meshes" / "a.nif", "nif");
    struct Case {
        std::vector<std::string> Depends; // none: not given
        std::string Stored;
        std::string Warned; // "" for no warning
    } cases[] = {
        {{}, "Morrowind.esm, Tribunal.esm", ""},
        {{"Morrowind.esm"},
         "Morrowind.esm",
         "Depends on: the plug-ins need Tribunal.esm (Tower.esp), which it does not list; "
         "--depends \"Morrowind.esm, Tribunal.esm\" lists what they need"},
        {{"Requires Morrowind.esm and Tribunal.esm."},
         "Requires Morrowind.esm and Tribunal.esm.",
         ""},
        {{"Morrowind.esm, Tribunal.esm, Bloodmoon.esm"},
         "Morrowind.esm, Tribunal.esm, Bloodmoon.esm",
         "it lists Bloodmoon.esm, which no plug-in of the package names as a master"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"create", "-f", P("Tower.qvr"), P("src")};
        if (!c.Depends.empty())
            args.insert(args.end(), {"--depends", c.Depends[0]});
        const Result r = Run(args);
        EXPECT_EQ(r.Code, 0) << r.Err;
        EXPECT_EQ(InfoOf(P("Tower.qvr")).Depends(), c.Stored);
        if (c.Warned.empty())
            EXPECT_EQ(r.Err, "") << c.Stored;
        else
            EXPECT_TRUE(Contains(r.Err, c.Warned)) << r.Err;
    }

    // add: filled when a plug-in comes into a package that names none, warned about after.
    WriteAll(dir / "Keep.esp", PluginNeeding({"Bloodmoon.esm"}));
    WriteAll(dir / "Other.esp", PluginNeeding({"Morrowind.esm"}));
    ASSERT_EQ(Run({"create", P("Keep.qvr"), P("src/Meshes")}).Code, 0);
    Result r = Run({"add", P("Keep.qvr"), P("Keep.esp")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Contains(r.Out, "Depends on: Bloodmoon.esm")) << r.Out;
    EXPECT_EQ(InfoOf(P("Keep.qvr")).Depends(), "Bloodmoon.esm");
    r = Run({"add", P("Keep.qvr"), P("Other.esp")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "need Morrowind.esm (Other.esp), which it does not list; qvr "
                                "set-info " +
                                    P("Keep.qvr") +
                                    " --depends 'Bloodmoon.esm, Morrowind.esm' sets what they "
                                    "need"))
        << r.Err;
    EXPECT_EQ(InfoOf(P("Keep.qvr")).Depends(), "Bloodmoon.esm");
}

TEST_F(Tool, AMemberThatCannotBeReadIsNamedOnceAndNoPackageIsWritten) {
    // Stored (-mx=0), so a changed byte reaches the member's bytes and fails its check.
    ASSERT_TRUE(qvrtest::Make7z(
        dir / "bad.7z", {{"Mod.esp", "esp"}, {"Meshes/x.nif", qvrtest::RandomBytes(40000, 9)}},
        "-mx=0"));
    std::string bytes = ReadAll(dir / "bad.7z");
    bytes[bytes.size() / 2] ^= 0x5A;
    WriteAll(dir / "bad.7z", bytes);
    const Result r = Run({"create", P("out.qvr"), P("bad.7z")});
    EXPECT_EQ(r.Code, 1) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "bad.7z: Meshes/x.nif: ") &&
                !Contains(r.Err, "Meshes/x.nif: Meshes/x.nif"))
        << r.Err;
    EXPECT_FALSE(fs::exists(dir / "out.qvr"));
    EXPECT_FALSE(HasWorkFiles(dir));
}

#endif
