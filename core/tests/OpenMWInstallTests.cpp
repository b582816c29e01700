// The OpenMW target shared by qvr and QVRInstaller: a re-install in place, removal by the
// recorded name, and the masters read from a free-text requirements field.

#include "TestSupport.h"
#include "qvr/games/OpenMWInstall.h"
#include "qvrtest/HandMade.h"

using namespace qvrtest;
namespace openmw = qvr::openmw;

namespace {

class OpenMWInstall : public ArchiveTest {
protected:
    // Makes Mod.qvr holding the given top-level files and a mesh, opens it and installs it.
    void InstallPackage(const std::vector<std::string>& plugins, const std::string& depends) {
        const std::string path = Path("Mod.qvr");
        fs::remove(path);
        arc = qvr::Archives();
        arc.TempFolder = dir + "/tmp/";
        ASSERT_TRUE(arc.CreateArchive(path));
        for (const std::string& p : plugins)
            ASSERT_TRUE(arc.AddFileToArchive(Source(p, "plugin " + p), p, ""));
        ASSERT_TRUE(arc.AddFileToArchive(Source("a.nif", "mesh"), "a.nif", "Meshes"));
        arc.PluginInfo.PluginName("My Mod");
        arc.PluginInfo.Depends(depends);
        ASSERT_TRUE(arc.PluginInfo.SavePluginData(arc, "Mod.qvr"));
        where = openmw::TargetFor(path, Path("cfg/openmw.cfg"), Path("mods"));
        listed = {};
        const qvr::InstallReport files = openmw::Install(
            arc, where, [](const qvr::sgFileInfo&, const std::string&) { return true; }, {}, {},
            listed);
        ASSERT_TRUE(files.Outcome) << files.Outcome.Message;
    }
    openmw::Target where;
    openmw::ListReport listed;
};

const std::string kConfig = "data=\"/games/Morrowind/Data Files\"\ncontent=Morrowind.esm\n";

} // namespace

TEST(OpenMWMasters, AreTheItemsEndingInAPlugInExtension) {
    EXPECT_EQ(openmw::Masters("Morrowind.esm, Tribunal.esm;\r\n\"Bloodmoon.ESM\".\nnotes here"),
              (std::vector<std::string>{"Morrowind.esm", "Tribunal.esm", "Bloodmoon.ESM"}));
    EXPECT_TRUE(openmw::Masters("").empty());
}

TEST_F(OpenMWInstall, AReinstallUpdatesInPlaceAndRemovalByNameGivesTheFileBack) {
    WriteAll(Path("cfg/openmw.cfg"), kConfig);
    InstallPackage({"Mod.esp", "Mod - Patch.esp"}, "Morrowind.esm, Tribunal.esm");
    EXPECT_EQ(listed.Plugins, 2u);
    EXPECT_EQ(listed.MissingMasters, std::vector<std::string>{"Tribunal.esm"});
    EXPECT_EQ(where.ModFolder, (fs::path(Path("mods")) / "Mod").string());

    // The new version drops its patch: that line goes, nothing is doubled.
    InstallPackage({"Mod.esp"}, "Morrowind.esm");
    const std::string cfg = ReadAll(Path("cfg/openmw.cfg"));
    EXPECT_EQ(cfg, "data=\"/games/Morrowind/Data Files\"\ndata=" + openmw::Quote(where.ModFolder) +
                       "\ncontent=Morrowind.esm\ncontent=Mod.esp\n");
    EXPECT_TRUE(listed.MissingMasters.empty());

    const auto found = openmw::FindInstall(Path("mods"), "My Mod");
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->Folder, where.ModFolder);
    const openmw::UninstallReport gone =
        openmw::Uninstall(Path("cfg/openmw.cfg"), Path("mods"), *found);
    EXPECT_TRUE(gone.Outcome) << gone.Outcome.Message;
    EXPECT_FALSE(gone.FolderKept);
    EXPECT_EQ(ReadAll(Path("cfg/openmw.cfg")), kConfig);
    EXPECT_FALSE(fs::exists(where.ModFolder));
    EXPECT_FALSE(openmw::FindInstall(Path("mods"), "My Mod").has_value());
}

namespace {

// Archives from strangers: what their names and entries may put into openmw.cfg.
class OpenMWHostile : public ArchiveTest {
protected:
    std::string Cfg() const { return Path("cfg/openmw.cfg"); }
    std::string Mods() const { return Path("mods"); }
    // Writes dl/<name> holding the given top-level files and installs it as qvr and
    // QVRInstaller do.
    openmw::ListReport Install(const std::string& name, const std::vector<std::string>& files) {
        std::vector<RawEntry> entries;
        for (const std::string& f : files)
            entries.push_back({"", f, "bytes of " + f});
        const std::string path = Path("dl/" + name);
        WriteAll(path, RawArchive(entries));
        qvr::Archives a;
        a.TempFolder = arc.TempFolder;
        EXPECT_TRUE(Ok(a.OpenArchive(path)));
        where = openmw::TargetFor(path, Cfg(), Mods());
        openmw::ListReport listed;
        const qvr::InstallReport installed = openmw::Install(
            a, where, [](const qvr::sgFileInfo&, const std::string&) { return false; }, {}, {},
            listed);
        listed.Outcome = installed.Outcome;
        return listed;
    }
    void Uninstall(const std::string& name) {
        const auto found = openmw::FindInstall(Mods(), Path("dl/" + name));
        ASSERT_TRUE(found) << name;
        EXPECT_TRUE(openmw::Uninstall(Cfg(), Mods(), *found).Outcome.Ok()) << name;
    }
    openmw::Target where;
};

// Findings 3, 5, 6 and 10: the archive's file name picks the folder and its data= line.
TEST_F(OpenMWHostile, ArchiveNamesGiveAPlainFolderOfItsOwnAndExactlyItsOwnLines) {
    WriteAll(Cfg(), kConfig);
    std::vector<std::pair<std::string, std::string>> cases = {
        {".qvr", "_"},
        {"..qvr", "_ (2)"},
        {"...qvr", "_ (3)"},
        {".qvr-openmw.qvr", "qvr-openmw"},
        {".QVR-INSTALLED.qvr", "QVR-INSTALLED"},
    };
#ifndef _WIN32
    cases.push_back({"a\ncontent=Injected.esp\nconfig=...qvr", "a_content=Injected.esp_config="});
    cases.push_back({"esc\x1b]0;T\x07.qvr", "esc_]0;T_"});
#endif
    std::string data, content;
    for (size_t i = 0; i < cases.size(); ++i) {
        const std::string plugin = "P" + std::to_string(i) + ".esp";
        const openmw::ListReport listed = Install(cases[i].first, {plugin});
        ASSERT_TRUE(listed.Outcome.Ok()) << listed.Outcome.Message;
        EXPECT_EQ(fs::path(where.ModFolder), fs::path(Mods()) / cases[i].second);
        data += "data=" + openmw::Quote(where.ModFolder) + "\n";
        content += "content=" + plugin + "\n";
    }
    EXPECT_EQ(ReadAll(Cfg()), "data=\"/games/Morrowind/Data Files\"\n" + data +
                                  "content=Morrowind.esm\n" + content);
    for (const auto& [name, folder] : cases)
        Uninstall(name);
    EXPECT_EQ(ReadAll(Cfg()), kConfig);
    for (const auto& [name, folder] : cases)
        EXPECT_FALSE(fs::exists(fs::path(Mods()) / folder)) << folder;
}

// Finding 4: entry names built to add lines, and names the file would read otherwise.
// The data= line OpenMW reads names the folder wherever the command was run from.
TEST(OpenMWTarget, ARelativeModsFolderIsWrittenInFull) {
    const fs::path here = fs::current_path();
    for (const std::string given : {"rel-mods", "rel-mods/", "./x/../rel-mods"}) {
        const openmw::Target where = openmw::TargetFor("Mod.qvr", "openmw.cfg", given);
        EXPECT_EQ(fs::path(where.ModFolder), here / "rel-mods" / "Mod") << given;
        EXPECT_EQ(fs::path(where.ModsFolder), here / "rel-mods") << given;
    }
}

TEST_F(OpenMWHostile, OnlyInstalledPlugInsWithPlainNamesAreListed) {
    WriteAll(Cfg(), kConfig);
    std::vector<std::string> files = {"=Evil.esp", " lead.esp", "Good.esp"};
#ifndef _WIN32
    files.push_back("B.esp\nfallback-archive=Evil.bsa\ncontent=Evil.esp");
#endif
    const openmw::ListReport listed = Install("Inject.qvr", files);
    EXPECT_EQ(listed.Plugins, 1u);
    EXPECT_EQ(listed.Unlisted.size(), 2u);
    EXPECT_EQ(ReadAll(Cfg()),
              "data=\"/games/Morrowind/Data Files\"\ndata=" + openmw::Quote(where.ModFolder) +
                  "\ncontent=Morrowind.esm\ncontent=Good.esp\n");
}

// Finding 7: names that differ in letter case only.
TEST_F(OpenMWHostile, ArchivesWhoseNamesFoldAlikeKeepTheirOwnLines) {
    WriteAll(Cfg(), kConfig);
    ASSERT_TRUE(Install("OtherMod.qvr", {"OtherMod.esp"}).Outcome.Ok());
    const std::string withOther = ReadAll(Cfg());
    const std::string otherFolder = where.ModFolder;
    fs::rename(Path("dl/OtherMod.qvr"), Path("OtherMod.qvr")); // one name on every file system
    ASSERT_TRUE(Install("othermod.qvr", {"Stranger.esp"}).Outcome.Ok());
    EXPECT_NE(where.ModFolder, otherFolder);
    EXPECT_NE(ReadAll(Cfg()).find("content=OtherMod.esp"), std::string::npos);
    Uninstall("othermod.qvr");
    EXPECT_EQ(ReadAll(Cfg()), withOther);
    const auto found = openmw::FindInstall(Mods(), Path("OtherMod.qvr"));
    ASSERT_TRUE(found);
    EXPECT_TRUE(openmw::Uninstall(Cfg(), Mods(), *found).Outcome.Ok());
    EXPECT_EQ(ReadAll(Cfg()), kConfig);
}

TEST_F(OpenMWHostile, AListOfLinesIsReadAsAStrangersText) {
    const std::string mods = "/home/a/mods";
    const std::string lists[] = {
        "folder=/home/a/Data Files\n",
        "folder=/home/a/mods/../../Data Files\n",
        "folder=/home/a/mods/.qvr-openmw\n",
        "folder=/home/a/mods/Mod\ndata=/home/a/Data Files\n",
        "folder=/home/a/mods/Mod\ncontent=Morrowind.ini\n",
        "folder=/home/a/mods/Mod\ncontent==Evil.esp\n",
        "folder=/home/a/mods/Mod\ncontent=..\\x.esp\n",
        "data=/home/a/mods/Mod\n",
    };
    for (const std::string& text : lists) {
        openmw::AddedLines lines;
        EXPECT_FALSE(openmw::ParseAddedLines(text, mods, lines).Ok()) << text;
    }
    openmw::AddedLines lines;
    ASSERT_TRUE(openmw::ParseAddedLines(
                    "folder=/home/a/mods/Mod (2)\r\nmade=1\r\ndata=/home/a/mods/Mod (2)\r\n"
                    "content=Mod.esp\r\n",
                    mods, lines)
                    .Ok());
    EXPECT_TRUE(lines.MadeFolder);
    EXPECT_EQ(lines.Lines.Content, std::vector<std::string>{"Mod.esp"});
}

#ifndef _WIN32
// Finding 14: a private openmw.cfg keeps a private copy.
TEST_F(OpenMWHostile, TheCopyOfOpenMWCfgKeepsItsPermissions) {
    WriteAll(Cfg(), kConfig);
    WriteAll(openmw::BackupPath(Cfg()), "an older copy, readable by all");
    fs::permissions(Cfg(), fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(Install("Mod.qvr", {"Mod.esp"}).Outcome.Ok());
    EXPECT_EQ(fs::status(openmw::BackupPath(Cfg())).permissions(), fs::status(Cfg()).permissions());
    EXPECT_EQ(ReadAll(openmw::BackupPath(Cfg())), kConfig);
}
#endif

} // namespace
