// "QVRInstaller MyMod.qvr": the archive named on the command line is shown ready to install.

#include "Fixture.h"
#include "frmMain.h"
#include "frmManage.h"
#include "qvrtest/ArchiveFixtures.h"

#include <QAbstractButton>
#include <QTest>

using namespace shared_windows;

using namespace installer;

class CommandLine : public InstallerTest {
protected:
    void SetUp() override {
        InstallerTest::SetUp();
        WriteAll(DataFolder.toStdString() + "/Morrowind.esm", "TES3");
        PackInfo info;
        MakePackage(Path("MyMod.qvr"), {{"", "my.esp", "plugin"}, {"Meshes", "a.nif", "mesh"}},
                    &info, Path(""));
    }
};

TEST_F(CommandLine, AnArchiveGivenIsShownReadyToInstall) {
    Start({QPath("MyMod.qvr")});
    frmMain& main = Mod().Main();
    EXPECT_TRUE(main.isVisible());
    EXPECT_EQ(Text(&main, "lblQVRFileName"), "MyMod.qvr");
    EXPECT_EQ(Text(&main, "lblName"), "Foo");
    EXPECT_EQ(Text(&main, "lblVersion"), "1.2");
    EXPECT_TRUE(Visible(&main, "cmdReadme"));
    EXPECT_TRUE(Enabled(&main, "cmdInstallQVR"));
    EXPECT_TRUE(Dialogs_.Messages().isEmpty());

    // It installs as one opened from the window does.
    Prompt_.Answers.clear();
    QTest::mouseClick(Find<QAbstractButton>(&main, "cmdInstallQVR"), Qt::LeftButton);
    EXPECT_EQ(ReadAll(DataFolder.toStdString() + "/my.esp"), "plugin");
    EXPECT_EQ(ReadAll(DataFolder.toStdString() + "/Meshes/a.nif"), "mesh");
}

TEST_F(CommandLine, AMissingOrBadFileIsTreatedAsOpeningItFromTheWindow) {
    WriteAll(Path("notes.txt"), "just text");
    for (const char* name : {"Missing.qvr", "notes.txt"}) {
        Start({QPath(name)});
        frmMain& main = Mod().Main();
        EXPECT_TRUE(main.isVisible());
        const QString given = Text(&main, "lblQVRFileName");
        EXPECT_FALSE(Enabled(&main, "cmdInstallQVR"));
        const QStringList messages = Dialogs_.Messages();
        ASSERT_FALSE(messages.isEmpty());

        // The same file chosen in the window afterwards shows and says the same: nothing is
        // open, and one message names the file.
        OpenInMain(name);
        EXPECT_EQ(Text(&main, "lblQVRFileName"), given);
        EXPECT_EQ(given, "");
        EXPECT_FALSE(Enabled(&main, "cmdInstallQVR"));
        EXPECT_EQ(Dialogs_.Messages().size(), messages.size() + 1);
        EXPECT_EQ(Dialogs_.Messages().last(), messages.last());
        EXPECT_TRUE(messages.last().contains(QPath(name)));
        EXPECT_FALSE(Mod().ArchiveReady);
    }
}

#ifdef __linux__
// Read on a second thread while the window is made: each kind comes out as one opened from the
// window does, ready to install.
TEST_F(CommandLine, ADownloadedArchiveGivenIsShownReadyToInstall) {
    using qvrtest::ArchiveFormat;
    for (ArchiveFormat format :
         {ArchiveFormat::Zip, ArchiveFormat::SevenZip, ArchiveFormat::TarGz}) {
        const std::string name = std::string("Rocks") + qvrtest::Extension(format);
        SCOPED_TRACE(name);
        ASSERT_TRUE(qvrtest::MakeArchive(format, Path(name),
                                         {{"Rocks.esp", "core"}, {"Read Me.txt", "Bigger rocks"}}));
        Start({QPath(name.c_str())});
        frmMain& main = Mod().Main();
        EXPECT_TRUE(Dialogs_.Messages().isEmpty()) << Dialogs_.Messages().join('\n').toStdString();
        EXPECT_EQ(Text(&main, "lblName"), "Rocks");
        EXPECT_EQ(Mod().Arc.PluginInfo.Notes(), "Bigger rocks");
        EXPECT_TRUE(Enabled(&main, "cmdInstallQVR"));
        QTest::mouseClick(Find<QAbstractButton>(&main, "cmdInstallQVR"), Qt::LeftButton);
        EXPECT_EQ(ReadAll(DataFolder.toStdString() + "/Rocks.esp"), "core");
        for (const auto& e : std::filesystem::directory_iterator(DataFolder.toStdString()))
            if (e.path().filename() != "Morrowind.esm")
                std::filesystem::remove_all(e.path());
    }
}
#endif
