#include "Fixture.h"
#include "qvr/platform/detail/TestHooks.h"

#include "frmMain.h"
#include "frmManage.h"

#include <QAbstractButton>
#include <QDir>
#include <QTest>
#include <filesystem>

using namespace shared_windows;

using namespace installer;

namespace {
const QString kAskFolder = "Please set the directory for the Morrowind.esm file.";
}

TEST_F(InstallerTest, FirstRunWithTheGameInTheDefaultFolderAsksNothing) {
    WriteAll(DataFolder.toStdString() + "/Morrowind.esm", "TES3");
    Start();
    frmMain& main = Mod().Main();
    EXPECT_TRUE(main.isVisible());
    EXPECT_TRUE(Dialogs_.Calls.empty());
    EXPECT_EQ(main.PlugPath(), DataFolder);
    EXPECT_EQ(ReadAll(SettingsPath.toStdString()), "[Settings]\r\n");
    EXPECT_FALSE(Enabled(&main, "cmdInstallQVR"));
    EXPECT_FALSE(Visible(&main, "cmdReadme"));
    EXPECT_EQ(main.windowTitle(), "QVRfile Installer");
    EXPECT_EQ(Text(&main, "Label1_0"), "Installed Directory:");
}

TEST_F(InstallerTest, WithoutTheGameTheFolderIsAskedForBeforeTheWindowShows) {
    bool mainVisibleAtMessage = true;
    Dialogs_.OnMessage = [&](const QString&) { mainVisibleAtMessage = Mod().Main().isVisible(); };
    Start(); // the folder dialog is cancelled
    EXPECT_EQ(Dialogs_.Messages(), QStringList{kAskFolder});
    EXPECT_EQ(Dialogs_.Calls[0].title, "QVRInstaller");
    EXPECT_FALSE(mainVisibleAtMessage);
    ASSERT_EQ(Dialogs_.CountOf(ScriptedDialogs::Kind::OpenFile), 1);
    EXPECT_EQ(Dialogs_.Calls[1].filter, "*.esm|*.esm");
    EXPECT_EQ(Dialogs_.Calls[1].fileName, "Morrowind.esm");
    EXPECT_EQ(Mod().Main().PlugPath(), DataFolder);
    EXPECT_EQ(ReadAll(SettingsPath.toStdString()), "[Settings]\r\n");

    // Nothing was saved, so the next start asks again; this time a folder is chosen.
    m_mod.reset();
    Dialogs_.Calls.clear();
    WriteAll(Path("Games/MW/Data/Other.esm"), "x");
    Dialogs_.OpenFileAnswers.push_back(QPath("Games/MW/Data/Other.esm"));
    Start();
    EXPECT_EQ(Dialogs_.Messages(), QStringList{kAskFolder});
    const QString chosen = QDir::toNativeSeparators(QPath("Games/MW/Data"));
    EXPECT_EQ(Mod().Main().PlugPath(), chosen);
    EXPECT_EQ(QString::fromStdString(ReadAll(SettingsPath.toStdString())),
              "[Settings]\r\nTESLocation=" + chosen + "\r\n");

    // The stored folder is used from then on, even when it has gone away.
    m_mod.reset();
    Dialogs_.Calls.clear();
    QDir(QPath("Games")).removeRecursively();
    Start();
    EXPECT_TRUE(Dialogs_.Calls.empty());
    EXPECT_EQ(Mod().Main().PlugPath(), chosen);
}

TEST_F(InstallerTest, ChangingTheFolderSavesIt) {
    WriteAll(DataFolder.toStdString() + "/Morrowind.esm", "TES3");
    WriteAll(SettingsPath.toStdString(),
             "[Other]\r\na=1\r\n[Settings]\r\nTESLocation=/old/and/long\r\n");
    Start();
    EXPECT_EQ(Mod().Main().PlugPath(), "/old/and/long");
    WriteAll(Path("new/Morrowind.esm"), "TES3");
    Dialogs_.OpenFileAnswers.push_back(QPath("new/Morrowind.esm"));
    QTest::mouseClick(Find<QAbstractButton>(&Mod().Main(), "cmdPathChange"), Qt::LeftButton);
    const QString chosen = QDir::toNativeSeparators(QPath("new"));
    EXPECT_EQ(Mod().Main().PlugPath(), chosen);
    EXPECT_EQ(QString::fromStdString(ReadAll(SettingsPath.toStdString())),
              "[Other]\r\na=1\r\n[Settings]\r\nTESLocation=" + chosen + "\r\n");

    // Cancelling changes nothing.
    QTest::mouseClick(Find<QAbstractButton>(&Mod().Main(), "cmdPathChange"), Qt::LeftButton);
    EXPECT_EQ(Mod().Main().PlugPath(), chosen);
}

TEST_F(InstallerTest, ASettingsFileThatCannotBeWrittenIsReported) {
    WriteAll(DataFolder.toStdString() + "/Morrowind.esm", "TES3");
    Start();
    // The disk is full, so the write cannot happen.
    qvr::testhooks::WriteBudget = 0;
    WriteAll(Path("elsewhere/Morrowind.esm"), "TES3");
    Dialogs_.OpenFileAnswers.push_back(QPath("elsewhere/Morrowind.esm"));
    Mod().Main().cmdPathChange_Click();
    EXPECT_EQ(Mod().Main().PlugPath(), QDir::toNativeSeparators(QPath("elsewhere")));
    ASSERT_EQ(Dialogs_.Messages().size(), 1);
    EXPECT_TRUE(Dialogs_.Messages()[0].startsWith("The data folder could not be saved: "));
    EXPECT_EQ(ReadAll(SettingsPath.toStdString()), "[Settings]\r\n");
}

class MainWindowOpen : public InstallerTest {
protected:
    void SetUp() override {
        InstallerTest::SetUp();
        WriteAll(DataFolder.toStdString() + "/Morrowind.esm", "TES3");
        PackInfo info;
        info.Authors = "Anne\r\nBert";
        MakePackage(Path("Foo.qvr"), {{"", "foo.esp", "plugin"}, {"Meshes\\Foo", "a.nif", "mesh"}},
                    &info, Path(""));
        Start();
    }
};

TEST_F(MainWindowOpen, OpeningAPackageShowsItsInformation) {
    OpenInMain("Foo.qvr");
    frmMain& main = Mod().Main();
    ASSERT_EQ(Dialogs_.CountOf(ScriptedDialogs::Kind::OpenFile), 1);
    EXPECT_EQ(Dialogs_.Calls[0].filter, MainMod::OpenFilter());
    EXPECT_EQ(Dialogs_.Calls[0].fileName, "");
    EXPECT_EQ(Text(&main, "lblQVRFileName"), "Foo.qvr");
    EXPECT_EQ(Text(&main, "lblName"), "Foo");
    EXPECT_EQ(Text(&main, "lblVersion"), "1.2");
    EXPECT_EQ(Text(&main, "lblAuthors"), "Anne\r\nBert");
    EXPECT_EQ(Text(&main, "lblDepends"), "Morrowind.esm");
    EXPECT_TRUE(Visible(&main, "cmdReadme"));
    EXPECT_TRUE(Enabled(&main, "cmdInstallQVR"));

    // A zip file afterwards: named after its file and installable where this build reads such
    // archives, else only looked at.
    MakeZip(Path("pack.zip"), {"a.esp", "Meshes/b.nif"});
    OpenInMain("pack.zip");
    const bool reads = qvr::sources::ReadsOtherArchives();
    EXPECT_EQ(Text(&main, "lblQVRFileName"), "pack.zip");
    EXPECT_EQ(Text(&main, "lblName"), reads ? "pack" : "Zip file loaded");
    EXPECT_EQ(Text(&main, "lblVersion"), "");
    EXPECT_EQ(Text(&main, "lblAuthors"), "");
    EXPECT_EQ(Text(&main, "lblDepends"), "");
    EXPECT_FALSE(Visible(&main, "cmdReadme"));
    EXPECT_EQ(Enabled(&main, "cmdInstallQVR"), reads);
    EXPECT_EQ(Mod().Arc.ZipLoaded, !reads);
    EXPECT_TRUE(Dialogs_.Messages().isEmpty());
}

TEST_F(MainWindowOpen, AFileThatIsNeitherIsNamedAndTheOpenArchiveStays) {
    OpenInMain("Foo.qvr");
    WriteAll(Path("notes.txt"), "just text");
    OpenInMain("notes.txt");
    frmMain& main = Mod().Main();
    // One message naming the file and what is wrong; the windows go on showing Foo.qvr, which
    // is still the open archive and still what "Install Plug-in" installs.
    ASSERT_EQ(Dialogs_.Messages().size(), 1);
    EXPECT_EQ(Dialogs_.Messages()[0],
              "The file " + QPath("notes.txt") + " is not a QVR archive or zip file.");
    EXPECT_EQ(Text(&main, "lblQVRFileName"), "Foo.qvr");
    EXPECT_EQ(Text(&main, "lblName"), "Foo");
    EXPECT_TRUE(Enabled(&main, "cmdInstallQVR"));
    EXPECT_EQ(Mod().Arc.CurrentArchive, Path("Foo.qvr"));

    // Cancelling the dialog changes nothing at all.
    QTest::mouseClick(Find<QAbstractButton>(&main, "cmdOpenQVR"), Qt::LeftButton);
    EXPECT_EQ(Text(&main, "lblQVRFileName"), "Foo.qvr");

    // The manage window shows the same archive, and hands back the same.
    QTest::mouseClick(Find<QAbstractButton>(&main, "cmdManage"), Qt::LeftButton);
    QWidget* manage = &Mod().Manage();
    EXPECT_EQ(Text(manage, "lblQvrFile"), QPath("Foo.qvr"));
    EXPECT_EQ(Text(manage, "lblPluginName"), "Foo");
    EXPECT_TRUE(Enabled(manage, "cmdInstallQVR"));
    QTest::mouseClick(Find<QAbstractButton>(manage, "cmdClose"), Qt::LeftButton);
    EXPECT_EQ(Text(&main, "lblQVRFileName"), "Foo.qvr");
    EXPECT_EQ(Dialogs_.Messages().size(), 1);
}

TEST_F(MainWindowOpen, AFailedOpenWithNothingOpenShowsNothing) {
    const std::string whole = ReadAll(Path("Foo.qvr"));
    WriteAll(Path("Cut.qvr"), whole.substr(0, whole.size() - 10));
    // A download that stopped early is called that, not "not an archive".
    MakeZip(Path("whole.zip"), {"a.esp", "Meshes/b.nif"});
    const std::string zip = ReadAll(Path("whole.zip"));
    WriteAll(Path("cut.zip"), zip.substr(0, zip.size() / 2));
    const std::pair<const char*, const char*> cases[] = {{"Cut.qvr", " is damaged: "},
                                                         {"cut.zip", " is cut short: "}};
    qsizetype told = 0;
    for (const auto& [name, why] : cases) {
        OpenInMain(name);
        frmMain& main = Mod().Main();
        ASSERT_EQ(Dialogs_.Messages().size(), ++told);
        EXPECT_TRUE(Dialogs_.Messages().last().startsWith("The file " + QPath(name) + why))
            << Dialogs_.Messages().last().toStdString();
        EXPECT_EQ(Text(&main, "lblQVRFileName"), "");
        EXPECT_EQ(Text(&main, "lblName"), "");
        EXPECT_FALSE(Enabled(&main, "cmdInstallQVR"));
    }
}

TEST_F(MainWindowOpen, TheMainWindowNamesTheArchiveItShowsAfterAManageVisit) {
    PackInfo other;
    other.Name = "Bar";
    MakePackage(Path("B.qvr"), {{"", "bar.esp", "bar"}}, &other, Path(""));
    frmMain& main = Mod().Main();
    QTest::mouseClick(Find<QAbstractButton>(&main, "cmdManage"), Qt::LeftButton);
    OpenInManage("Foo.qvr");
    QTest::mouseClick(Find<QAbstractButton>(&Mod().Manage(), "cmdClose"), Qt::LeftButton);
    OpenInMain("B.qvr");
    // "Read Me..." comes back through the window's activation.
    WhenModalShown([](QWidget* modal) { modal->close(); });
    main.cmdReadme_Click();
    EXPECT_EQ(Text(&main, "lblQVRFileName"), "B.qvr");
    EXPECT_EQ(Text(&main, "lblName"), "Bar");
    EXPECT_EQ(Mod().Arc.CurrentArchive, Path("B.qvr"));
}

TEST_F(MainWindowOpen, ARenamedPackageKeepsItsInformationAndBlankNotesShowNone) {
    // Renamed after packing (as authors do by version), its one "*.qvr.ifo" entry is its
    // information; with two such entries none is, and nothing is shown.
    std::filesystem::copy_file(Path("Foo.qvr"), Path("Renamed.qvr"));
    OpenInMain("Renamed.qvr");
    frmMain& main = Mod().Main();
    EXPECT_EQ(Text(&main, "lblName"), "Foo");
    EXPECT_TRUE(Enabled(&main, "cmdInstallQVR"));
    PackInfo other;
    MakePackage(Path("Two.qvr"), {{"", "Other.qvr.ifo", std::string(6, '\0')}}, &other, Path(""));
    std::filesystem::copy_file(Path("Two.qvr"), Path("Two 2.qvr"));
    OpenInMain("Two 2.qvr");
    EXPECT_EQ(Text(&main, "lblName"), "Foo"); // the package still open

    PackInfo blank;
    blank.Name = "Blank";
    blank.Notes = "   ";
    MakePackage(Path("Blank.qvr"), {{"", "b.esp", "b"}}, &blank, Path(""));
    OpenInMain("Blank.qvr");
    EXPECT_EQ(Text(&main, "lblName"), "Blank");
    EXPECT_FALSE(Visible(&main, "cmdReadme"));
    EXPECT_TRUE(Enabled(&main, "cmdInstallQVR"));
}

TEST_F(MainWindowOpen, ExitAndClosingTheWindowEndTheProgram) {
    QTest::mouseClick(Find<QAbstractButton>(&Mod().Main(), "Command1"), Qt::LeftButton);
    EXPECT_EQ(Exits, 1);
    EXPECT_FALSE(Mod().Main().isVisible());
    m_mod.reset();
    Start();
    Mod().Main().close();
    EXPECT_EQ(Exits, 2);
    EXPECT_TRUE(Mod().ExitRequested());
}
