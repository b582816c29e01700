// The OpenMW target shared by qvr and QVRInstaller: a re-install in place, removal by the
// recorded name, and the masters read from a free-text requirements field.

#include "TestSupport.h"
#include "qvr/games/OpenMWInstall.h"

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
        const qvr::InstallReport files = qvr::InstallRecorded(
            arc, where.ModFolder, [](const qvr::sgFileInfo&, const std::string&) { return true; });
        ASSERT_TRUE(files.Outcome) << files.Outcome.Message;
        listed = openmw::ListInstall(arc, where);
        ASSERT_TRUE(listed.Outcome) << listed.Outcome.Message;
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
