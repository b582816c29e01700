// "QVRInstaller MyMod.qvr": the archive named on the command line is shown ready to install.

#include "Fixture.h"
#include "frmMain.h"
#include "frmManage.h"

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
