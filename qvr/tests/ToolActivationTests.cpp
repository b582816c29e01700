// qvr install and uninstall with the Morrowind.ini beside the data folder: the plug-in enabled
// and taken out again byte for byte, --no-activate, and missing masters said once.

#include "ToolTestSupport.h"
#include "qvrtest/Plugins.h"

#include <algorithm>

namespace {

using namespace tooltest;

const std::string kIni = "[General]\r\n; mine\r\n\r\n[Game Files]\r\nGameFile0=Morrowind.esm\r\n"
                         "\r\n[Archives]\r\nArchive 0=Morrowind.bsa\r\n";

TEST_F(Tool, InstallEnablesThePluginsInMorrowindIniAndUninstallTakesThemOut) {
    WriteAll(dir / "game" / "Morrowind.ini", kIni);
    WriteAll(dir / "game" / "Data Files" / "Morrowind.esm", qvrtest::PluginNeeding({}, true));
    WriteAll(dir / "src" / "Tower.esp",
             qvrtest::PluginNeeding({"Morrowind.esm", "Tribunal.esm", "Bloodmoon.esm"}));
    WriteAll(dir / "src" / "Tower.bsa", "BSA");
    ASSERT_EQ(Run({"-q", "create", P("Tower.qvr"), P("src")}).Code, 0);

    Result r = Run({"install", P("Tower.qvr"), P("game/Data Files")});
    ASSERT_EQ(r.Code, 0) << r.Err;
    const std::string ini = ReadAll(dir / "game" / "Morrowind.ini");
    EXPECT_TRUE(Contains(ini, "GameFile0=Morrowind.esm\r\nGameFile1=Tower.esp\r\n")) << ini;
    EXPECT_TRUE(Contains(ini, "Archive 0=Morrowind.bsa\r\nArchive 1=Tower.bsa\r\n")) << ini;
    // Both missing masters in one line.
    EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
    EXPECT_TRUE(Contains(r.Err, "Tribunal.esm") && Contains(r.Err, "Bloodmoon.esm")) << r.Err;

    ASSERT_EQ(Run({"uninstall", "--yes", P("Tower.qvr"), P("game/Data Files")}).Code, 0);
    EXPECT_EQ(ReadAll(dir / "game" / "Morrowind.ini"), kIni);

    ASSERT_EQ(Run({"-q", "install", "--no-activate", P("Tower.qvr"), P("game/Data Files")}).Code,
              0);
    EXPECT_EQ(ReadAll(dir / "game" / "Morrowind.ini"), kIni);
    EXPECT_EQ(Run({"install", "--openmw", "--no-activate", P("Tower.qvr")}).Code, 2);
}

} // namespace
