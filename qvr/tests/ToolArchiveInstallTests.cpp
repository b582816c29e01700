// install and uninstall of the archives players download: the data root found inside them,
// numbered options, and removal leaving the data folder and openmw.cfg as they were.

#include "ToolTestSupport.h"

#include "qvr/install/InstallRecord.h"
#include "qvrtest/ArchiveFixtures.h"

#ifdef __linux__

#include <map>

using namespace tooltest;
using qvrtest::ArchiveFormat;
using qvrtest::ArchiveMember;

namespace {

// Every file and folder below root, with its bytes ("/" for a folder).
std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root))
        out[fs::relative(e.path(), root).generic_string()] =
            e.is_directory() ? std::string("/") : ReadAll(e.path());
    return out;
}

// The files an install put below root, the install records left out.
std::map<std::string, std::string> Installed(const fs::path& root,
                                             const std::map<std::string, std::string>& before) {
    std::map<std::string, std::string> out;
    for (const auto& [path, bytes] : Snapshot(root))
        if (bytes != "/" && !before.count(path) && !path.starts_with(".qvr-"))
            out[path] = bytes;
    return out;
}

struct Layout {
    const char* Name;
    std::vector<ArchiveMember> Members;
    std::vector<std::string> Args;            // after the archive and the data folder
    int Code;                                 // of the install
    std::map<std::string, std::string> Files; // installed into the data folder: path, bytes
    size_t DataLines;                         // added to openmw.cfg by install --openmw
};

const std::vector<Layout>& Layouts() {
    static const std::vector<Layout> table = {
        {"files at the top",
         {{"Mod.esp", "esp"}, {"Mod.bsa", "bsa"}, {"Meshes/a.nif", "nif"}},
         {},
         0,
         {{"Mod.esp", "esp"}, {"Mod.bsa", "bsa"}, {"Meshes/a.nif", "nif"}},
         1},
        {"Data Files",
         {{"Data Files/Mod.esp", "esp"},
          {"Data Files/Textures/t.dds", "dds"},
          {"readme.txt", "read"}},
         {},
         0,
         {{"Mod.esp", "esp"}, {"Textures/t.dds", "dds"}},
         1},
        {"named wrapper",
         {{"MyMod/Mod.esp", "esp"}, {"MyMod/Mod.bsa", "bsa"}, {"MyMod/Meshes/a.nif", "nif"}},
         {},
         0,
         {{"Mod.esp", "esp"}, {"Mod.bsa", "bsa"}, {"Meshes/a.nif", "nif"}},
         1},
        {"wrapper around Data Files",
         {{"MyMod/Data Files/Mod.esp", "esp"},
          {"MyMod/Data Files/Meshes/a.nif", "nif"},
          {"MyMod/readme.txt", "read"}},
         {},
         0,
         {{"Mod.esp", "esp"}, {"Meshes/a.nif", "nif"}},
         1},
        // A later option's file replaces an earlier one's.
        {"numbered options",
         {{"00 Core/Mod.esp", "core"},
          {"00 Core/Textures/t.dds", "small"},
          {"01 Big/Textures/t.dds", "big"},
          {"02 Patch/Patch.esp", "p"}},
         {"--options", "01"},
         0,
         {{"Mod.esp", "core"}, {"Textures/t.dds", "big"}},
         2},
        {"numbered options under a wrapper",
         {{"MyMod/00 Core/Data Files/Mod.esp", "core"},
          {"MyMod/01 Big/Textures/t.dds", "big"},
          {"MyMod/02 Patch/Patch.esp", "p"}},
         {},
         0,
         {{"Mod.esp", "core"}},
         1},
        {"two candidate roots", {{"A/a.esp", "a"}, {"B/b.esp", "b"}}, {}, 2, {}, 0},
        {"two candidate roots, one chosen",
         {{"A/a.esp", "a"}, {"B/b.esp", "b"}},
         {"--root", "B"},
         0,
         {{"b.esp", "b"}},
         1},
        {"no plug-in", {{"docs/readme.txt", "read"}, {"notes.txt", "n"}}, {}, 2, {}, 0},
    };
    return table;
}

class ArchiveInstall : public Tool, public ::testing::WithParamInterface<ArchiveFormat> {
protected:
    fs::path Make(const Layout& layout) {
        const fs::path archive = dir / (std::string("Mod") + qvrtest::Extension(GetParam()));
        fs::remove(archive);
        EXPECT_TRUE(qvrtest::MakeArchive(GetParam(), archive, layout.Members)) << layout.Name;
        return archive;
    }
};

TEST_P(ArchiveInstall, EachLayoutInstallsExactlyItsDataAndUninstallsToTheByte) {
    WriteAll(dir / "data" / "Morrowind.esm", "master");
    WriteAll(dir / "data" / "Textures" / "t.dds", "the player's own");
    for (const Layout& layout : Layouts()) {
        const fs::path archive = Make(layout);
        const auto before = Snapshot(dir / "data");
        std::vector<std::string> args = {"install", "--overwrite", archive.string(), P("data")};
        args.insert(args.end(), layout.Args.begin(), layout.Args.end());
        Result r = Run(args);
        ASSERT_EQ(r.Code, layout.Code) << layout.Name << r.Out << r.Err;
        std::map<std::string, std::string> files = Installed(dir / "data", before);
        // A file that replaced the player's own shows as changed, not as new.
        for (const auto& [path, bytes] : Snapshot(dir / "data"))
            if (before.count(path) && before.at(path) != bytes)
                files[path] = bytes;
        EXPECT_EQ(files, layout.Files) << layout.Name;
        if (layout.Code != 0) {
            EXPECT_TRUE(Contains(r.Err, "--root")) << layout.Name << r.Err;
            continue;
        }
        r = Run({"uninstall", "--yes", archive.string(), P("data")});
        EXPECT_EQ(r.Code, 0) << layout.Name << r.Out << r.Err;
        EXPECT_EQ(Snapshot(dir / "data"), before) << layout.Name;
        // Once more: the archive is there, only not installed.
        r = Run({"uninstall", "--yes", archive.string(), P("data")});
        EXPECT_EQ(r.Code, 2);
        EXPECT_TRUE(Contains(r.Err, "no install of it is recorded") &&
                    !Contains(r.Err, "no such archive"))
            << r.Err;
    }
}

TEST_P(ArchiveInstall, ForOpenMWEachOptionIsAFolderAndADataLine) {
    WriteAll(dir / "cfg" / "openmw.cfg",
             "data=\"/games/Morrowind/Data Files\"\ncontent=Morrowind.esm\n");
    fs::create_directories(dir / "mods");
    SetEnv("OPENMW_CONFIG", P("cfg/openmw.cfg").c_str());
    const std::string cfg = ReadAll(dir / "cfg" / "openmw.cfg");
    for (const Layout& layout : Layouts()) {
        const fs::path archive = Make(layout);
        std::vector<std::string> args = {"install", "--openmw", "--mods-folder", P("mods"),
                                         archive.string()};
        args.insert(args.end(), layout.Args.begin(), layout.Args.end());
        Result r = Run(args);
        EXPECT_EQ(r.Code, layout.Code) << layout.Name << r.Out << r.Err;
        const std::string now = ReadAll(dir / "cfg" / "openmw.cfg");
        size_t lines = 0;
        for (size_t at = 0; (at = now.find("\ndata=", at)) != std::string::npos; ++at)
            ++lines;
        EXPECT_EQ(lines, layout.DataLines) << layout.Name << now;
        // A .bsa at the data's top is listed for OpenMW to read, as a package's is.
        EXPECT_EQ(Contains(now, "\nfallback-archive=Mod.bsa\n"), layout.Files.count("Mod.bsa") > 0)
            << layout.Name << now;
        // Options in number order: the later one's line after the earlier one's.
        if (std::string(layout.Name) == "numbered options") {
            EXPECT_LT(now.find("00 Core"), now.find("01 Big")) << now;
        }
        if (layout.Code != 0)
            continue;
        r = Run({"uninstall", "--openmw", "--yes", "--mods-folder", P("mods"), "Mod"});
        EXPECT_EQ(r.Code, 0) << layout.Name << r.Out << r.Err;
        EXPECT_EQ(ReadAll(dir / "cfg" / "openmw.cfg"), cfg) << layout.Name;
        EXPECT_EQ(Snapshot(dir / "mods"), (std::map<std::string, std::string>{})) << layout.Name;
    }
    SetEnv("OPENMW_CONFIG", nullptr);
}

INSTANTIATE_TEST_SUITE_P(Formats, ArchiveInstall,
                         ::testing::Values(ArchiveFormat::Zip, ArchiveFormat::SevenZip,
                                           ArchiveFormat::Rar5, ArchiveFormat::TarGz));

} // namespace

TEST_F(Tool, PackagesBelowAWrapperFolderAreInstalledFromTheInnerFolderWhenAsked) {
    WriteAll(dir / "src" / "MyMod" / "Data Files" / "Wrap.esp", "esp");
    WriteAll(dir / "src" / "MyMod" / "Data Files" / "Meshes" / "a.nif", "nif");
    ASSERT_EQ(Run({"-q", "create", P("Wrap.qvr"), P("src")}).Code, 0);
    Result r = Run({"install", P("Wrap.qvr"), P("data")});
    EXPECT_EQ(r.Code, 2) << r.Out;
    EXPECT_TRUE(Contains(r.Err, "--root \"MyMod/Data Files\"")) << r.Err;
    EXPECT_FALSE(fs::exists(dir / "data" / "MyMod"));
    r = Run({"install", P("Wrap.qvr"), P("data"), "--root", "MyMod/Data Files"});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(ReadAll(dir / "data" / "Meshes" / "a.nif"), "nif");
    r = Run({"uninstall", "--yes", P("Wrap.qvr"), P("data")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_FALSE(fs::exists(dir / "data" / "Wrap.esp"));
}

// Two downloads of one name that hold two plug-ins (sharing a file) are two installs: the second
// does not take the first back as its own earlier version, and each, installed again, takes
// back only its own install.
TEST_F(Tool, TwoDownloadsOfOneNameWithOtherFilesAreTwoInstalls) {
    fs::create_directories(dir / "a");
    fs::create_directories(dir / "b");
    ASSERT_TRUE(qvrtest::MakeZip(dir / "a" / "Patch.zip",
                                 {{"X.esp", "x"}, {"X.bsa", "xb"}, {"Shared.esp", "s"}}));
    ASSERT_TRUE(qvrtest::MakeZip(dir / "b" / "Patch.zip",
                                 {{"Z.esp", "z"}, {"Z.bsa", "zb"}, {"Shared.esp", "s"}}));
    for (const char* from : {"a", "b", "a", "b"}) {
        const Result r = Run({"install", "-q", P(std::string(from) + "/Patch.zip"), P("data")});
        EXPECT_EQ(r.Code, 0) << from << r.Err;
    }
    EXPECT_EQ(qvr::ListInstallRecords(P("data")).size(), 2u);
    for (const char* name : {"X.esp", "X.bsa", "Z.esp", "Z.bsa", "Shared.esp"})
        EXPECT_TRUE(fs::exists(dir / "data" / name)) << name;
    // Either is uninstalled by its own archive, whichever was recorded first.
    ASSERT_EQ(Run({"uninstall", "-q", "--yes", P("b/Patch.zip"), P("data")}).Code, 0);
    EXPECT_TRUE(fs::exists(dir / "data" / "X.esp"));
    EXPECT_FALSE(fs::exists(dir / "data" / "Z.esp"));
    ASSERT_EQ(Run({"uninstall", "-q", "--yes", P("a/Patch.zip"), P("data")}).Code, 0);
    EXPECT_TRUE(qvr::ListInstallRecords(P("data")).empty());
    EXPECT_FALSE(fs::exists(dir / "data" / "X.esp"));
}

#endif
