// "Read Me..." and "About..." by keyboard; file dialogs that start in the folder last used.
#include "Fixture.h"

#include "frmMain.h"
#include "frmManage.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QTest>

class Keyboard : public InstallerTest {
protected:
    void SetUp() override {
        InstallerTest::SetUp();
        WriteAll(DataFolder.toStdString() + "/Morrowind.esm", "TES3");
        PackInfo info;
        MakePackage(Path("Foo.qvr"), {{"", "foo.esp", "plugin"}}, &info, Path(""));
        Start();
        OpenInMain("Foo.qvr");
    }
    // The object name of the modal window that key opens in window, "" when none opens.
    QString OpenedBy(QWidget* window, std::function<void()> key) {
        QString opened;
        WhenModalShown(
            [&](QWidget* modal) {
                opened = modal->objectName();
                modal->close();
            },
            2000);
        window->activateWindow();
        QApplication::setActiveWindow(window);
        key();
        QTest::qWait(100);
        return opened;
    }
};

TEST_F(Keyboard, ReadMeAndAboutOpenByTheirShortcutsInBothWindows) {
    frmMain& main = Mod().Main();
    EXPECT_EQ(OpenedBy(&main, [&] { QTest::keyClick(&main, Qt::Key_R, Qt::AltModifier); }),
              "frmNotes");
    EXPECT_EQ(OpenedBy(&main, [&] { QTest::keyClick(&main, Qt::Key_A, Qt::AltModifier); }),
              "frmAbout");
    main.cmdManage_Click();
    frmManage& manage = Mod().Manage();
    EXPECT_EQ(OpenedBy(&manage, [&] { QTest::keyClick(&manage, Qt::Key_R, Qt::AltModifier); }),
              "frmNotes");
    EXPECT_EQ(OpenedBy(&manage, [&] { QTest::keyClick(&manage, Qt::Key_A, Qt::AltModifier); }),
              "frmAbout");
}

TEST_F(Keyboard, TheLinksAreInTheTabOrderAndAnswerEnterAndSpace) {
    frmMain& main = Mod().Main();
    for (const char* name : {"cmdReadme", "lblAbout"}) {
        auto* link = Find<QLabel>(&main, name);
        EXPECT_TRUE(link->focusPolicy() & Qt::TabFocus) << name;
    }
    auto* readme = Find<QLabel>(&main, "cmdReadme");
    EXPECT_EQ(OpenedBy(&main,
                       [&] {
                           readme->setFocus();
                           QTest::keyClick(readme, Qt::Key_Return);
                       }),
              "frmNotes");
    auto* about = Find<QLabel>(&main, "lblAbout");
    EXPECT_EQ(OpenedBy(&main,
                       [&] {
                           about->setFocus();
                           QTest::keyClick(about, Qt::Key_Space);
                       }),
              "frmAbout");
    // Tab from the last button reaches "About...".
    auto* exit = Find<QWidget>(&main, "Command1");
    EXPECT_EQ(exit->nextInFocusChain(), about);
}

// From "..." Tab reaches "Read Me..." with no stop between that shows nothing: a list takes the
// focus only while it scrolls, and then it is the list the keys scroll.
TEST_F(Keyboard, TabStopsOnlyWhereTheFocusCanBeSeen) {
    frmMain& main = Mod().Main();
    auto stopsAfterPathChange = [&] {
        QStringList stops;
        QWidget* w = Find<QWidget>(&main, "cmdPathChange");
        for (w = w->nextInFocusChain(); w && w->objectName() != "cmdReadme";
             w = w->nextInFocusChain()) {
            if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(&main) && w->isEnabled())
                stops << w->objectName();
        }
        return stops;
    };
    EXPECT_EQ(stopsAfterPathChange(), QStringList());

    std::string modules;
    for (int i = 0; i < 20; ++i)
        modules += "Module" + std::to_string(i) + ".esm\r\n";
    PackInfo info;
    info.Depends = modules;
    MakePackage(Path("Long.qvr"), {{"", "long.esp", "plugin"}}, &info, Path(""));
    OpenInMain("Long.qvr");
    EXPECT_EQ(stopsAfterPathChange(), QStringList{"lblDependsBox"});
}

TEST_F(InstallerTest, FileDialogsStartInTheFolderLastUsedAlsoAfterARestart) {
    WriteAll(DataFolder.toStdString() + "/Morrowind.esm", "TES3");
    QDir().mkpath(QPath("downloads/mods"));
    PackInfo info;
    MakePackage(Path("downloads/mods/Bar.qvr"), {{"", "bar.esp", "plugin"}}, &info, Path(""));
    Start();
    OpenInMain("downloads/mods/Bar.qvr");
    const QString folder = QDir::toNativeSeparators(QPath("downloads/mods") + "/");
    OpenInMain("downloads/mods/Bar.qvr");
    Mod().Main().cmdManage_Click();
    OpenInManage("downloads/mods/Bar.qvr");
    ASSERT_EQ(Dialogs_.CountOf(ScriptedDialogs::Kind::OpenFile), 3);
    EXPECT_EQ(Dialogs_.Calls[0].fileName, ""); // nothing used yet
    EXPECT_EQ(Dialogs_.Calls[1].fileName, folder);
    EXPECT_EQ(Dialogs_.Calls[2].fileName, folder);
    EXPECT_NE(
        ReadAll(SettingsPath.toStdString())
            .find("LastFolder=" + QDir::toNativeSeparators(QPath("downloads/mods")).toStdString()),
        std::string::npos);

    // Kept in the settings file: the next run starts there too.
    m_mod.reset();
    Dialogs_.Calls.clear();
    Start();
    OpenInMain("downloads/mods/Bar.qvr");
    ASSERT_EQ(Dialogs_.Calls.size(), 1u);
    EXPECT_EQ(Dialogs_.Calls[0].fileName, folder);

    // The data folder's dialog starts in the data folder in use.
    Dialogs_.OpenFileAnswers.push_back(std::nullopt);
    Mod().Main().cmdPathChange_Click();
    EXPECT_EQ(Dialogs_.Calls.back().fileName,
              QDir::toNativeSeparators(DataFolder + "/Morrowind.esm"));
}
