#include "Fixture.h"

#include "frmMain.h"

#include <QDir>
#include <QProcess>

using namespace shared_windows;

using namespace installer;

namespace {
int RunTool(const QStringList& args) {
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(QStringLiteral(QVR_TOOL), args);
    tool.closeWriteChannel();
    if (!tool.waitForFinished(60000))
        return -1;
    if (tool.exitCode() != 0)
        ADD_FAILURE() << tool.readAll().toStdString();
    return tool.exitCode();
}
} // namespace

TEST_F(InstallerTest, APackageMadeByTheToolInstallsAsTheToolInstallsIt) {
    WriteAll(Path("src/mod.esp"), "plugin");
    WriteAll(Path("src/Meshes/Armor/helm.nif"), std::string(300000, 'h'));
    WriteAll(Path("src/Textures/helm.dds"), "texture");
    WriteAll(Path("src/Sound/Fx/clank.wav"), "sound");
    ASSERT_EQ(RunTool({"create", QPath("mod.qvr"), QPath("src")}), 0);
    ASSERT_EQ(RunTool({"install", QPath("mod.qvr"), QPath("by-tool"), "--overwrite"}), 0);

    WriteAll(Path("by-window/Morrowind.esm"), "TES3");
    WriteAll(Path("by-tool/Morrowind.esm"), "TES3");
    WriteAll(SettingsPath.toStdString(),
             "[Settings]\r\nTESLocation=" +
                 QDir::toNativeSeparators(QPath("by-window")).toStdString() + "\r\n");
    Start();
    OpenInMain("mod.qvr");
    Mod().Main().cmdInstallQVR_Click();
    EXPECT_TRUE(Dialogs_.Messages().isEmpty());

    const auto byTool = Snapshot(Path("by-tool"));
    EXPECT_EQ(byTool.size(), 5u);
    EXPECT_EQ(Snapshot(Path("by-window")), byTool);
}
