// Archives as players download them in the installer: opened by their file name with their
// read-me, their numbered options or unclear data folder asked before anything is installed.
#include "Fixture.h"

#include "frmMain.h"
#include "qvrtest/ArchiveFixtures.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTest>

#ifdef __linux__

namespace {

class DownloadedArchive : public InstallerTest {
protected:
    void SetUp() override {
        InstallerTest::SetUp();
        WriteAll(DataFolder.toStdString() + "/Morrowind.esm", "TES3");
        Start();
    }
    void Install() {
        QTest::mouseClick(Find<QAbstractButton>(&Mod().Main(), "cmdInstallQVR"), Qt::LeftButton);
    }
    std::string Data(const std::string& rel) const { return DataFolder.toStdString() + "/" + rel; }
};

TEST_F(DownloadedArchive, AReadmeBehindLargeFilesIsReadWhenAskedFor) {
    // A solid 7z: the read-me comes after megabytes that would be decoded to reach it.
    ASSERT_TRUE(qvrtest::Make7z(Path("Big.7z"), {{"Meshes/big.nif", std::string(9 << 20, 'a')},
                                                 {"Meshes/Rocks.esp", "esp"},
                                                 {"Readme.txt", "Bigger\r\nrocks"}}));
    OpenInMain("Big.7z");
    frmMain& main = Mod().Main();
    EXPECT_TRUE(Visible(&main, "cmdReadme"));
    EXPECT_EQ(Mod().Arc.PluginInfo.Notes(), "");
    QString shown;
    WhenModalShown([&](QWidget* w) {
        shown = w->findChild<QPlainTextEdit*>("txNotes")->toPlainText();
        w->findChild<QAbstractButton*>("Command1")->click();
    });
    QTest::mouseClick(Find(&main, "cmdReadme"), Qt::LeftButton);
    EXPECT_EQ(shown, "Bigger\nrocks");
    EXPECT_TRUE(Dialogs_.Messages().isEmpty());
}

TEST_F(DownloadedArchive, OpensByItsNameWithItsReadmeAndInstallsTheOptionsTicked) {
    ASSERT_TRUE(qvrtest::Make7z(Path("Rocks-1.2.7z"), {{"Rocks/00 Core/Rocks.esp", "core"},
                                                       {"Rocks/01 Big/Textures/t.dds", "big"},
                                                       {"Rocks/02 Patch/Patch.esp", "patch"},
                                                       {"Rocks/Read Me.txt", "Bigger\r\nrocks"}}));
    OpenInMain("Rocks-1.2.7z");
    frmMain& main = Mod().Main();
    EXPECT_TRUE(Dialogs_.Messages().isEmpty());
    EXPECT_EQ(Text(&main, "lblName"), "Rocks-1.2");
    EXPECT_TRUE(Visible(&main, "cmdReadme"));
    EXPECT_EQ(Mod().Arc.PluginInfo.Notes(), "Bigger\nrocks");
    EXPECT_TRUE(Enabled(&main, "cmdInstallQVR"));

    const auto before = Snapshot(DataFolder.toStdString());
    bool lowestTicked = false, otherTicked = true;
    WhenModalShown([&](QWidget* modal) {
        EXPECT_EQ(modal->objectName(), "frmChoose");
        lowestTicked = modal->findChild<QCheckBox*>("chkOption00")->isChecked();
        otherTicked = modal->findChild<QCheckBox*>("chkOption01")->isChecked();
        modal->findChild<QCheckBox*>("chkOption02")->setChecked(true);
        modal->findChild<QAbstractButton*>("cmdOK")->click();
    });
    Install();
    EXPECT_TRUE(lowestTicked);
    EXPECT_FALSE(otherTicked);
    EXPECT_EQ(ReadAll(Data("Rocks.esp")), "core");
    EXPECT_EQ(ReadAll(Data("Patch.esp")), "patch");
    EXPECT_FALSE(Exists(Data("Textures/t.dds")));
    const std::string record = ReadAll(Data(".qvr-installed/rocks-1.2.7z.ini"));
    EXPECT_NE(record.find("option=00 Core\noption=02 Patch\n"), std::string::npos) << record;

    Dialogs_.YesNoAnswers = {true};
    Mod().RemoveWhereInstalled(&main, "Rocks-1.2", DataFolder);
    EXPECT_EQ(Snapshot(DataFolder.toStdString()), before);
}

TEST_F(DownloadedArchive, AnUnclearDataFolderIsAskedAndCancellingInstallsNothing) {
    ASSERT_TRUE(qvrtest::MakeZip(Path("two.zip"), {{"A/a.esp", "a"}, {"B/b.esp", "b"}}));
    OpenInMain("two.zip");
    const auto before = Snapshot(DataFolder.toStdString());
    QStringList shown;
    bool okBeforeChoosing = true;
    WhenModalShown([&](QWidget* modal) {
        auto* list = modal->findChild<QListWidget*>("lstRoots");
        for (int i = 0; i < list->count(); ++i)
            shown << list->item(i)->text();
        okBeforeChoosing = modal->findChild<QAbstractButton*>("cmdOK")->isEnabled();
        modal->findChild<QAbstractButton*>("cmdCancel")->click();
    });
    Install();
    EXPECT_EQ(shown, QStringList({"A/", "B/"}));
    EXPECT_FALSE(okBeforeChoosing); // nothing is guessed
    EXPECT_EQ(Snapshot(DataFolder.toStdString()), before);
    EXPECT_TRUE(Dialogs_.Messages().isEmpty());

    WhenModalShown([&](QWidget* modal) {
        modal->findChild<QListWidget*>("lstRoots")->setCurrentRow(1);
        modal->findChild<QAbstractButton*>("cmdOK")->click();
    });
    Install();
    EXPECT_EQ(ReadAll(Data("b.esp")), "b");
    EXPECT_FALSE(Exists(Data("a.esp")));
}

TEST_F(DownloadedArchive, AnEncryptedArchiveIsRefusedAndTheOpenOneStays) {
    ASSERT_TRUE(qvrtest::MakeZip(Path("plain.zip"), {{"Mod.esp", "m"}}));
    OpenInMain("plain.zip");
    WriteAll(Path("src/Mod.esp"), "secret");
    ASSERT_EQ(std::system(("cd '" + Path("src") + "' && zip -q -P pw ../enc.zip Mod.esp").c_str()),
              0);
    OpenInMain("enc.zip");
    ASSERT_EQ(Dialogs_.Messages().size(), 1);
    EXPECT_TRUE(Dialogs_.Messages()[0].contains("encrypted"))
        << Dialogs_.Messages()[0].toStdString();
    EXPECT_EQ(Text(&Mod().Main(), "lblName"), "plain");
}

} // namespace

#endif
