// The main window's check box for Morrowind.ini, and the manage window's look at what an
// install would replace and which masters it lacks.
#include "Fixture.h"

#include "frmMain.h"
#include "frmManage.h"
#include "qvr/games/Activation.h"
#include "qvrtest/Plugins.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QTest>

namespace {

const std::string kIni = "[Game Files]\r\nGameFile0=Morrowind.esm\r\n; the player's\r\n";

// Saves what the window looks like when QVR_WINDOW_PICTURES names a folder, to look at.
} // namespace

class Activation : public InstallerTest {
protected:
    void SetUp() override {
        InstallerTest::SetUp();
        WriteAll(Data("Morrowind.esm"), qvrtest::PluginNeeding({}, true));
        WriteAll(Ini(), kIni);
        MakePackage(Path("Foo.qvr"),
                    {{"", "Foo.esp", qvrtest::PluginNeeding({"Morrowind.esm"})},
                     {"Textures", "t.dds", "texture"}},
                    &m_info, Path(""));
        PackInfo other = m_info;
        other.Name = "Bar";
        other.Depends.clear();
        MakePackage(Path("Bar.qvr"),
                    {{"", "Bar.esp", qvrtest::PluginNeeding({"Morrowind.esm", "Tribunal.esm"})},
                     {"Textures", "t.dds", "another texture"}},
                    &other, Path(""));
        Start();
    }
    std::string Data(const std::string& rel) const { return DataFolder.toStdString() + "/" + rel; }
    std::string Ini() const { return Path("Morrowind/Morrowind.ini"); }
    QCheckBox* Box() { return Find<QCheckBox>(&Mod().Main(), "chkEnableInIni"); }
    void Install() {
        QTest::mouseClick(Find<QAbstractButton>(&Mod().Main(), "cmdInstallQVR"), Qt::LeftButton);
    }
    PackInfo m_info;
};

TEST_F(Activation, TheCheckBoxEnablesThePluginAndIsRemembered) {
    ASSERT_TRUE(Box()->isVisible());
    EXPECT_TRUE(Box()->isChecked()); // on by default
    Picture(Mod().Main(), "installer-main-enable");
    Box()->click();
    EXPECT_NE(ReadAll(SettingsPath.toStdString()).find("EnableInMorrowindIni=0"),
              std::string::npos);
    OpenInMain("Foo.qvr");
    Install();
    EXPECT_EQ(ReadAll(Data("Foo.esp")), qvrtest::PluginNeeding({"Morrowind.esm"}));
    EXPECT_EQ(ReadAll(Ini()), kIni) << "left alone when turned off";
    ASSERT_TRUE(qvr::RemoveFromDataFolder(DataFolder.toStdString(), "Foo.qvr").Outcome.Ok());

    Box()->click();
    Install();
    EXPECT_NE(ReadAll(Ini()).find("GameFile1=Foo.esp\r\n"), std::string::npos);
    ASSERT_TRUE(qvr::RemoveFromDataFolder(DataFolder.toStdString(), "Foo.qvr").Outcome.Ok());
    EXPECT_EQ(ReadAll(Ini()), kIni);

    // The next start reads the choice back.
    Box()->click();
    Start();
    EXPECT_FALSE(Box()->isChecked());
}

TEST_F(Activation, TheManageWindowTellsWhatAnInstallWouldReplaceAndWhichMastersAreMissing) {
    OpenInMain("Foo.qvr");
    Install();
    ASSERT_TRUE(Exists(Data("Textures/t.dds")));
    OpenInMain("Bar.qvr");
    QTest::mouseClick(Find<QAbstractButton>(&Mod().Main(), "cmdManage"), Qt::LeftButton);
    frmManage& manage = Mod().Manage();
    const QString preview = Text(&manage, "lblPreview");
    EXPECT_TRUE(preview.contains(QStringLiteral("Replaces 1 file of Foo: Textures\\t.dds")))
        << preview.toStdString();
    EXPECT_TRUE(preview.contains(QStringLiteral("Tribunal.esm (needed by Bar.esp)")))
        << preview.toStdString();
    EXPECT_FALSE(preview.contains(QStringLiteral("Morrowind.esm"))) << preview.toStdString();
    Picture(manage, "installer-manage-preview");
}
