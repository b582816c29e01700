// OpenMW as install target in the windows, and the first start's offer of the game folders
// found.
#include "Fixture.h"

#include "frmMain.h"
#include "frmManage.h"

#include <QAbstractButton>
#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QRadioButton>
#include <QTest>

namespace {

const std::string kConfig = "# OpenMW's own comment\r\n"
                            "data=\"C:\\Games\\Morrowind\\Data Files\"\r\n"
                            "data=\"/home/p/mods/Tom && Jerry &\"quoted&\"\"\r\n"
                            "content=Morrowind.esm\r\n"
                            "content=Tribunal.esm\r\n"
                            "\r\n"
                            "fallback=LightAttenuation_UseConstant,0\r\n";

} // namespace

class OpenMWTarget : public InstallerTest {
protected:
    void SetUp() override {
        InstallerTest::SetUp();
        WriteAll(DataFolder.toStdString() + "/Morrowind.esm", "TES3");
        WriteAll(Path("openmw/openmw.cfg"), kConfig);
        PackInfo info;
        info.Depends = "Morrowind.esm, Bloodmoon.esm";
        MakePackage(Path("Foo.qvr"), {{"", "foo.esp", "plugin"}, {"Meshes\\Foo", "a.nif", "mesh"}},
                    &info, Path(""));
        Configure = [this](MainMod::Options& o) {
            o.OpenMWConfig = QPath("openmw/openmw.cfg");
            o.ModsFolder = QPath("mods");
        };
    }
    std::string ModFolder() const { return Path("mods/Foo"); }
};

TEST_F(OpenMWTarget, IsOfferedOnlyWhereOpenMWsSettingsFileIsFound) {
    Start();
    EXPECT_TRUE(Visible(&Mod().Main(), "optOpenMW"));
    EXPECT_TRUE(Find<QRadioButton>(&Mod().Main(), "optDataFolder")->isChecked());

    m_mod.reset();
    std::remove(Path("openmw/openmw.cfg").c_str());
    Start();
    EXPECT_FALSE(Find<QWidget>(&Mod().Main(), "optOpenMW")->isVisibleTo(&Mod().Main()));
    EXPECT_FALSE(Mod().ForOpenMW);
}

// The choice is kept for the next start, and "Installed Directory:" shows where plug-ins go
// while it holds; "..." then chooses that folder.
TEST_F(OpenMWTarget, TheChoiceIsKeptAndTheMainWindowShowsItsFolder) {
    const QString mods = QDir::toNativeSeparators(QPath("mods"));
    Start();
    EXPECT_EQ(Text(&Mod().Main(), "lblPlugPath"), DataFolder);
    Find<QRadioButton>(&Mod().Main(), "optOpenMW")->click();
    EXPECT_EQ(Mod().Main().TargetFolder(), mods);
    EXPECT_EQ(Mod().Main().PlugPath(), DataFolder); // the game's folder is kept aside

    for (int start = 0; start < 2; ++start) {
        m_mod.reset();
        Start();
        EXPECT_TRUE(Mod().ForOpenMW) << start;
        EXPECT_TRUE(Find<QRadioButton>(&Mod().Main(), "optOpenMW")->isChecked());
        EXPECT_EQ(Mod().Main().TargetFolder(), start == 0 ? mods : QPath("elsewhere"));
        Dialogs_.FolderAnswers = {QPath("elsewhere")};
        Mod().Main().cmdPathChange_Click();
        EXPECT_EQ(Mod().Main().TargetFolder(), QPath("elsewhere"));
        EXPECT_EQ(Mod().ModsFolder(), QPath("elsewhere"));
        EXPECT_EQ(Mod().Main().PlugPath(), DataFolder);
    }
    Mod().Main().cmdManage_Click();
    EXPECT_EQ(Text(&Mod().Manage(), "lblPlugPath"), QPath("elsewhere"));

    // Back to Morrowind: its folder is shown, and that choice is kept in turn.
    Mod().Manage().cmdClose_Click();
    Find<QRadioButton>(&Mod().Main(), "optDataFolder")->click();
    EXPECT_EQ(Mod().Main().TargetFolder(), DataFolder);
    m_mod.reset();
    Start();
    EXPECT_FALSE(Mod().ForOpenMW);
    EXPECT_EQ(Text(&Mod().Main(), "lblPlugPath"), DataFolder);
}

TEST_F(OpenMWTarget, InstallsIntoItsOwnFolderAndRemovalGivesTheFileBackByteForByte) {
    Start();
    OpenInMain("Foo.qvr");
    Find<QRadioButton>(&Mod().Main(), "optOpenMW")->click();
    ASSERT_TRUE(Mod().ForOpenMW);
    Mod().Main().cmdInstallQVR_Click();

    EXPECT_EQ(ReadAll(ModFolder() + "/foo.esp"), "plugin");
    EXPECT_EQ(ReadAll(ModFolder() + "/Meshes/Foo/a.nif"), "mesh");
    EXPECT_FALSE(Exists(DataFolder.toStdString() + "/foo.esp")); // not the game's folder
    const std::string folder =
        QDir::toNativeSeparators(QString::fromStdString(ModFolder())).toStdString();
    const std::string expected = "# OpenMW's own comment\r\n"
                                 "data=\"C:\\Games\\Morrowind\\Data Files\"\r\n"
                                 "data=\"/home/p/mods/Tom && Jerry &\"quoted&\"\"\r\n"
                                 "data=\"" +
                                 folder +
                                 "\"\r\n"
                                 "content=Morrowind.esm\r\n"
                                 "content=Tribunal.esm\r\n"
                                 "content=foo.esp\r\n"
                                 "\r\n"
                                 "fallback=LightAttenuation_UseConstant,0\r\n";
    EXPECT_EQ(ReadAll(Path("openmw/openmw.cfg")), expected);
    EXPECT_EQ(ReadAll(Path("openmw/openmw.cfg.bak")), kConfig);
    // The missing master is said once, at the install.
    ASSERT_EQ(Dialogs_.Messages().size(), 1);
    EXPECT_TRUE(Dialogs_.Messages()[0].contains("Bloodmoon.esm (listed as required)"))
        << Dialogs_.Messages()[0].toStdString();

    // The manage window shows the mods folder and its Remove takes the OpenMW install out.
    Mod().Main().cmdManage_Click();
    EXPECT_EQ(Text(&Mod().Manage(), "lblPlugPath"), QDir::toNativeSeparators(QPath("mods")));
    Dialogs_.YesNoAnswers.push_back(true);
    QTest::mouseClick(Find<QAbstractButton>(&Mod().Manage(), "cmdRemoveQVRFiles"), Qt::LeftButton);
    EXPECT_EQ(ReadAll(Path("openmw/openmw.cfg")), kConfig);
    EXPECT_FALSE(Exists(ModFolder()));
    EXPECT_EQ(Dialogs_.Messages().size(), 1);
    EXPECT_TRUE(Exists(DataFolder.toStdString() + "/Morrowind.esm"));
}

TEST_F(OpenMWTarget, RemovingOnePlugInLeavesTheOthersLines) {
    PackInfo info;
    info.Depends = "Morrowind.esm";
    MakePackage(Path("Bar.qvr"), {{"", "bar.esm", "master"}}, &info, Path(""));
    Start();
    Find<QRadioButton>(&Mod().Main(), "optOpenMW")->click();
    OpenInMain("Foo.qvr");
    Mod().Main().cmdInstallQVR_Click();
    OpenInMain("Bar.qvr");
    Mod().Main().cmdInstallQVR_Click();
    const std::string both = ReadAll(Path("openmw/openmw.cfg"));

    Mod().Main().cmdManage_Click();
    OpenInManage("Foo.qvr");
    Dialogs_.YesNoAnswers.push_back(true);
    Mod().Manage().cmdRemoveQVRFiles_Click();
    const std::string left = ReadAll(Path("openmw/openmw.cfg"));
    EXPECT_EQ(left.find("content=foo.esp"), std::string::npos);
    EXPECT_NE(left.find("content=bar.esm\r\n"), std::string::npos);
    EXPECT_NE(left.find("mods" + std::string(1, QDir::separator().toLatin1()) + "Bar\"\r\n"),
              std::string::npos);
    EXPECT_TRUE(Exists(Path("mods/Bar/bar.esm")));
    EXPECT_NE(both, left);

    // Nothing of Foo is left to remove: said, and nothing changes.
    Dialogs_.YesNoAnswers.push_back(true);
    Mod().Manage().cmdRemoveQVRFiles_Click();
    EXPECT_TRUE(Dialogs_.Messages().last().contains("is not installed for OpenMW"));
    EXPECT_EQ(ReadAll(Path("openmw/openmw.cfg")), left);
}

#ifdef QVR_TOOL
TEST_F(OpenMWTarget, TheWindowEditsOpenMWsFileExactlyAsTheToolDoes) {
    Start();
    OpenInMain("Foo.qvr");
    Find<QRadioButton>(&Mod().Main(), "optOpenMW")->click();
    Mod().Main().cmdInstallQVR_Click();
    const std::string byWindow = ReadAll(Path("openmw/openmw.cfg"));
    const auto filesByWindow = Snapshot(ModFolder());
    Mod().Main().cmdManage_Click();
    Dialogs_.YesNoAnswers.push_back(true);
    Mod().Manage().cmdRemoveQVRFiles_Click();
    ASSERT_FALSE(Exists(ModFolder()));

    WriteAll(Path("tool/openmw.cfg"), kConfig);
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("OPENMW_CONFIG_DIR", QPath("tool"));
    env.insert("HOME", QPath("home"));
    env.insert("XDG_CONFIG_HOME", QPath("home/.config"));
    tool.setProcessEnvironment(env);
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(QStringLiteral(QVR_TOOL),
               {"install", "--openmw", QPath("Foo.qvr"), "--mods-folder", QPath("mods")});
    tool.closeWriteChannel();
    ASSERT_TRUE(tool.waitForFinished(60000));
    EXPECT_EQ(tool.exitCode(), 0) << tool.readAll().toStdString();
    EXPECT_EQ(ReadAll(Path("tool/openmw.cfg")), byWindow);
    EXPECT_EQ(Snapshot(ModFolder()).size(), filesByWindow.size());
    EXPECT_EQ(ReadAll(ModFolder() + "/foo.esp"), "plugin");
}
#endif

class FirstStart : public InstallerTest {};

TEST_F(FirstStart, OffersTheGameFoldersFoundUntilOneIsTaken) {
    WriteAll(Path("steam/Data Files/Morrowind.esm"), "TES3");
    WriteAll(Path("gog/Data Files/Morrowind.esm"), "TES3");
    Configure = [this](MainMod::Options& o) {
        o.FindFolders = [this] {
            return std::vector<qvr::GameFolder>{
                {Path("steam/Data Files"), qvr::GameFolderSource::Steam, {}},
                {Path("gog/Data Files"), qvr::GameFolderSource::Heroic, {}}};
        };
    };
    Dialogs_.YesNoAnswers = {false, true};
    Start();
    const QString gog = QDir::toNativeSeparators(QPath("gog/Data Files"));
    ASSERT_EQ(Dialogs_.CountOf(ScriptedDialogs::Kind::AskYesNo), 2);
    EXPECT_TRUE(
        Dialogs_.Calls[0].text.contains(QDir::toNativeSeparators(QPath("steam/Data Files"))));
    EXPECT_TRUE(Dialogs_.Calls[1].text.contains(gog));
    // Taken: shown, kept in the settings file, and no "Please set the directory" message.
    EXPECT_EQ(Mod().Main().PlugPath(), gog);
    EXPECT_TRUE(ReadAll(SettingsPath.toStdString()).find("TESLocation=" + gog.toStdString()) !=
                std::string::npos);
    EXPECT_TRUE(Dialogs_.Messages().isEmpty());

    // Once a folder is kept, the next start asks nothing.
    m_mod.reset();
    Start();
    EXPECT_EQ(Dialogs_.CountOf(ScriptedDialogs::Kind::AskYesNo), 2);
    EXPECT_EQ(Mod().Main().PlugPath(), gog);
}

TEST_F(FirstStart, WithEveryOfferDeclinedAsksForTheFolderAsBefore) {
    Configure = [this](MainMod::Options& o) {
        o.FindFolders = [this] {
            return std::vector<qvr::GameFolder>{
                {Path("steam/Data Files"), qvr::GameFolderSource::Steam, {}}};
        };
    };
    Dialogs_.YesNoAnswers = {false};
    Dialogs_.OpenFileAnswers.push_back(std::nullopt);
    Start();
    EXPECT_EQ(Dialogs_.Messages(),
              QStringList{"Please set the directory for the Morrowind.esm file."});
    EXPECT_EQ(Dialogs_.CountOf(ScriptedDialogs::Kind::OpenFile), 1);
}
