#include "Fixture.h"

#include "Elide.h"

#include "FailureText.h"

#include "frmExists.h"
#include "frmMain.h"
#include "frmManage.h"
#include "frmSplash.h"

#include "qvr/package/Archives.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>

using namespace shared_windows;

using namespace installer;

namespace {
// A file's path as the windows name it: with the platform's separators.
QString Shown(const char* entryPath) {
    return ShownPath(QString::fromLatin1(entryPath));
}
} // namespace

class InstallFromMain : public InstallerTest {
protected:
    void SetUp() override {
        InstallerTest::SetUp();
        WriteAll(DataFolder.toStdString() + "/Morrowind.esm", "TES3");
        MakePackage(Path("Foo.qvr"),
                    {{"", "foo.esp", "plugin v2"},
                     {"Meshes\\Foo", "a.nif", "mesh v2"},
                     {"Textures", "t.dds", "texture v2"},
                     {"Textures", "u.dds", "texture u v2"},
                     {"Sound\\Fx", "s.wav", "sound v2"}},
                    &m_info, Path(""));
        Start();
        OpenInMain("Foo.qvr");
        ASSERT_TRUE(Enabled(&Mod().Main(), "cmdInstallQVR"));
    }
    void Install() {
        QTest::mouseClick(Find<QAbstractButton>(&Mod().Main(), "cmdInstallQVR"), Qt::LeftButton);
    }
    std::string Data(const std::string& rel) const { return DataFolder.toStdString() + "/" + rel; }
    PackInfo m_info;
};

TEST_F(InstallFromMain, InstallsEveryFileButTheInfoEntryIntoANewFolder) {
    // The data folder is empty: every folder below it is made by the install.
    const QString deep = QDir::toNativeSeparators(QPath("new/deeper/Data Files"));
    QDir().mkpath(deep);
    WriteAll(Path("x/Morrowind.esm"), "TES3");
    Dialogs_.OpenFileAnswers.push_back(QPath("new/deeper/Data Files/Morrowind.esm"));
    Mod().Main().cmdPathChange_Click();
    ASSERT_EQ(Mod().Main().PlugPath(), deep);

    Install();
    const auto files = Snapshot(deep.toStdString());
    EXPECT_EQ(files, (std::map<std::string, std::string>{{"foo.esp", "plugin v2"},
                                                         {"Meshes/Foo/a.nif", "mesh v2"},
                                                         {"Textures/t.dds", "texture v2"},
                                                         {"Textures/u.dds", "texture u v2"},
                                                         {"Sound/Fx/s.wav", "sound v2"}}));
    EXPECT_EQ(Prompt_.Asked, 0);
    // The one message: the folder holds no Morrowind.esm, which the plug-in requires.
    ASSERT_EQ(Dialogs_.Messages().size(), 1) << Dialogs_.Messages().join("|").toStdString();
    EXPECT_TRUE(Dialogs_.Messages()[0].contains("Morrowind.esm (listed as required)"));

    // Six entries, six steps of 1102 that would end at 6613: the last one still completes
    // the bar and offers "Close".
    frmSplash& splash = Mod().Splash();
    EXPECT_TRUE(splash.isVisible());
    EXPECT_EQ(splash.parentWidget(), &Mod().Main());
    EXPECT_EQ(splash.Model().StepWidth(), 1102);
    EXPECT_EQ(splash.findChild<QLabel*>("lblTask")->text(), "Installing Plug-in Foo: Complete!");
    EXPECT_TRUE(splash.findChild<QWidget*>("Command1")->isVisible());
}

TEST_F(InstallFromMain, ExistingFilesAreAskedAboutAndTheAnswerForAllIsRemembered) {
    WriteAll(Data("foo.esp"), "plugin v1");
    WriteAll(Data("Textures/t.dds"), "texture v1");
    WriteAll(Data("Textures/u.dds"), "texture u v1");
    WriteAll(Data("Meshes/Foo/a.nif"), ""); // empty: replaced without a question

    // Without the box ticked every existing file is asked about.
    Prompt_.Answers = {{false, false}, {true, false}, {false, false}};
    Install();
    EXPECT_EQ(Prompt_.Asked, 3);
    EXPECT_EQ(ReadAll(Data("foo.esp")), "plugin v1");
    EXPECT_EQ(ReadAll(Data("Meshes/Foo/a.nif")), "mesh v2");
    EXPECT_EQ(ReadAll(Data("Textures/t.dds")), "texture v2");
    EXPECT_EQ(ReadAll(Data("Textures/u.dds")), "texture u v1");

    // "Skip" for all files holds for the rest of the run, in later installs too.
    Prompt_.Answers = {{false, true}};
    Install();
    Install();
    EXPECT_EQ(Prompt_.Asked, 4);
    EXPECT_EQ(ReadAll(Data("foo.esp")), "plugin v1");
    EXPECT_EQ(ReadAll(Data("Textures/u.dds")), "texture u v1");
    EXPECT_TRUE(Mod().bApplyToAll);
    EXPECT_FALSE(Mod().bOverwriteFile);
}

TEST_F(InstallFromMain, OverwriteForAllReplacesEverythingSilently) {
    WriteAll(Data("foo.esp"), "plugin v1");
    WriteAll(Data("Textures/t.dds"), "texture v1");
    Prompt_.Answers = {{true, true}};
    Install();
    EXPECT_EQ(Prompt_.Asked, 1);
    EXPECT_EQ(ReadAll(Data("foo.esp")), "plugin v2");
    EXPECT_EQ(ReadAll(Data("Textures/t.dds")), "texture v2");
    WriteAll(Data("foo.esp"), "changed");
    Install();
    EXPECT_EQ(Prompt_.Asked, 1);
    EXPECT_EQ(ReadAll(Data("foo.esp")), "plugin v2");
}

TEST_F(InstallFromMain, CommandsAreUnavailableWhileTheInstallRuns) {
    WriteAll(Data("foo.esp"), "plugin v1");
    std::map<std::string, bool> during;
    Prompt_.OnAsk = [&] {
        frmMain& main = Mod().Main();
        during["open"] = Enabled(&main, "cmdOpenQVR");
        during["install"] = Enabled(&main, "cmdInstallQVR");
        during["manage"] = Enabled(&main, "cmdManage");
        during["exit"] = Enabled(&main, "Command1");
        // A click that slips through does nothing either.
        Dialogs_.OpenFileAnswers.push_back(QPath("Foo.qvr"));
        main.cmdOpenQVR_Click();
        main.cmdInstallQVR_Click();
    };
    Prompt_.Answers = {{true, false}};
    Install();
    EXPECT_EQ(Prompt_.Asked, 1);
    EXPECT_FALSE(during["open"]);
    EXPECT_FALSE(during["install"]);
    EXPECT_FALSE(during["manage"]);
    EXPECT_TRUE(during["exit"]);
    EXPECT_EQ(Dialogs_.CountOf(ScriptedDialogs::Kind::OpenFile), 1); // only the first open
    frmMain& main = Mod().Main();
    EXPECT_TRUE(Enabled(&main, "cmdOpenQVR"));
    EXPECT_TRUE(Enabled(&main, "cmdInstallQVR"));
    EXPECT_TRUE(Enabled(&main, "cmdManage"));
}

TEST_F(InstallFromMain, ExitWhileTheBarMovesRollsTheInstallBackWhole) {
    WriteAll(Data("foo.esp"), "plugin v1");
    // The player presses "Exit" while the first file is being written.
    Prompt_.OnAsk = [&] {
        QTimer::singleShot(0, &Mod().Main(), [&] {
            QTest::mouseClick(Find<QAbstractButton>(&Mod().Main(), "Command1"), Qt::LeftButton);
        });
    };
    Prompt_.Answers = {{true, false}};
    Install();
    EXPECT_EQ(Exits, 1);
    EXPECT_EQ(
        Snapshot(DataFolder.toStdString()),
        (std::map<std::string, std::string>{{"Morrowind.esm", "TES3"}, {"foo.esp", "plugin v1"}}));
    EXPECT_TRUE(Dialogs_.Messages().isEmpty());
    EXPECT_FALSE(Mod().Main().isVisible());
    EXPECT_FALSE(Mod().Splash().isVisible());
}

TEST_F(InstallFromMain, ADamagedEntryIsReportedAndTheOthersAreInstalled) {
    // Spoil the middle of the block of "t.dds".
    const auto entry = Mod().Arc.FindEntry("t.dds", "Textures");
    ASSERT_TRUE(entry.has_value());
    {
        std::fstream f(Path("Foo.qvr"), std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(entry->FileOffset() - 1 + 6);
        f.write("\xff\xff\xff\xff\xff\xff", 6);
    }
    Install();
    // No box per file: the one summary names it once, and says the package is at fault.
    EXPECT_TRUE(Dialogs_.Messages().isEmpty());
    ASSERT_EQ(Dialogs_.Summaries().size(), 1u);
    ASSERT_EQ(Dialogs_.Summaries()[0]->items.size(), 1);
    const QString line = Dialogs_.Summaries()[0]->items[0];
    EXPECT_TRUE(line.startsWith(Shown("Textures\\t.dds") +
                                ": could not be read: the package is damaged (its data at "))
        << line.toStdString();
    EXPECT_EQ(line.count("t.dds"), 1) << line.toStdString();
    EXPECT_FALSE(Exists(Data("Textures/t.dds")));
    EXPECT_EQ(ReadAll(Data("Textures/u.dds")), "texture u v2");
    EXPECT_EQ(ReadAll(Data("foo.esp")), "plugin v2");
    // The window ends on what happened, not on "Complete!".
    EXPECT_EQ(FullText(Mod().Splash().findChild<QLabel*>("lblTask")),
              "Installed 4 of 5\u00a0files; 1 failed");
    EXPECT_TRUE(Mod().Splash().Model().CloseVisible());
}

TEST_F(InstallFromMain, AnInstallThatWroteNothingDoesNotSayComplete) {
    // The data folder lies below a file: it is never made, and the player is told.
    WriteAll(Path("blocker"), "a file");
    const QString below = QDir::toNativeSeparators(QPath("blocker/Data Files"));
    Dialogs_.OpenFileAnswers.push_back(below + QDir::separator() + "Morrowind.esm");
    Mod().Main().cmdPathChange_Click();
    ASSERT_EQ(Mod().Main().PlugPath(), below);
    Install();
    ASSERT_EQ(Dialogs_.Messages().size(), 1);
    EXPECT_TRUE(Dialogs_.Messages()[0].endsWith("nothing was installed."))
        << Dialogs_.Messages()[0].toStdString();

    // Every file kept by the player: nothing installed either, and said so.
    for (const char* file :
         {"foo.esp", "Meshes/Foo/a.nif", "Textures/t.dds", "Textures/u.dds", "Sound/Fx/s.wav"})
        WriteAll(Path("elsewhere/") + file, "the player's");
    Dialogs_.OpenFileAnswers.push_back(QPath("elsewhere/Morrowind.esm"));
    Mod().Main().cmdPathChange_Click();
    Prompt_.Answers = {{false, true}};
    Install();
    EXPECT_EQ(FullText(Mod().Splash().findChild<QLabel*>("lblTask")),
              "Nothing was installed: every file was kept");
}

// An install that stopped after writing files took them all back: the window and its summary
// say that nothing was installed, and why, not that the files were.
TEST_F(InstallFromMain, AnInstallThatStoppedAndTookItsFilesBackSaysNothingWasInstalled) {
    const std::string why = "The install stopped: no space left; nothing was installed";
    auto run = [&](const qvr::OverwriteQuestion&, const qvr::EntryProgress& progress,
                   const qvr::TakeBackQuestion&) {
        qvr::InstallReport report;
        for (const char* name : {"a.esp", "b.esp"}) {
            qvr::EntryResult r;
            r.Entry.FileName(name);
            r.Outcome = qvr::EntryOutcome::Installed; // as it was written
            (void)progress(r, report.Entries.size() + 1, 2);
            r.Outcome = qvr::EntryOutcome::Failed; // as the report ends: taken back
            r.Message = std::string(name) + ": taken back: the install stopped";
            report.Entries.push_back(r);
        }
        report.Outcome = qvr::Result::EntryFailure(why);
        return report;
    };
    EXPECT_EQ(Mod().InstallPlugin(&Mod().Main(), "Foo", DataFolder, nullptr, run), 0);
    EXPECT_EQ(FullText(Mod().Splash().findChild<QLabel*>("lblTask")), "Nothing was installed");
    ASSERT_EQ(Dialogs_.Summaries().size(), 1u);
    const QString text = Dialogs_.Summaries()[0]->text;
    EXPECT_TRUE(text.startsWith(QString::fromStdString(why))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("0\u00a0files installed"))) << text.toStdString();
}

// A crash had cut another install short; this one took it back first and says so.
TEST_F(InstallFromMain, AnInstallCutShortEarlierIsNamedWhenTakenBack) {
    auto run = [&](const qvr::OverwriteQuestion&, const qvr::EntryProgress&,
                   const qvr::TakeBackQuestion&) {
        qvr::InstallReport report;
        report.TakenBack = {"Bigger <b>Rocks</b>"};
        return report;
    };
    (void)Mod().InstallPlugin(&Mod().Main(), "Foo", DataFolder, nullptr, run);
    ASSERT_EQ(Dialogs_.Messages().size(), 1u);
    EXPECT_TRUE(Dialogs_.Messages()[0].contains(QStringLiteral("Bigger <b>Rocks</b> is not")))
        << Dialogs_.Messages()[0].toStdString();
}

TEST_F(InstallerTest, AnEntryLeavingTheDataFolderIsRefused) {
    WriteAll(DataFolder.toStdString() + "/Morrowind.esm", "TES3");
    // The library writes no such entry, so one is made by changing a harmless folder name
    // of the same length in the directory record.
    MakePackage(Path("Evil.qvr"), {{"", "good.esp", "payload"}, {"aa\\bb", "evil.txt", "x"}},
                nullptr, Path(""));
    std::string bytes = ReadAll(Path("Evil.qvr"));
    const size_t at = bytes.rfind("aa\\bb");
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at, 5, "..\\..");
    WriteAll(Path("Evil.qvr"), bytes);
    {
        qvr::Archives arc;
        arc.TempFolder = Path("");
        ASSERT_TRUE(arc.OpenArchive(Path("Evil.qvr")));
        arc.PluginInfo.PluginName("Evil");
        ASSERT_TRUE(arc.PluginInfo.SavePluginData(arc, "Evil.qvr"));
    }
    Start();
    OpenInMain("Evil.qvr");
    Mod().Main().cmdInstallQVR_Click();
    // Named once in the summary, with why.
    EXPECT_TRUE(Dialogs_.Messages().isEmpty());
    ASSERT_EQ(Dialogs_.Summaries().size(), 1u);
    ASSERT_EQ(Dialogs_.Summaries()[0]->items.size(), 1);
    const QString line = Dialogs_.Summaries()[0]->items[0];
    EXPECT_TRUE(line.startsWith(Shown("..\\..\\evil.txt") + ": refused")) << line.toStdString();
    EXPECT_EQ(line.count("evil.txt"), 1) << line.toStdString();
    EXPECT_EQ(ReadAll(DataFolder.toStdString() + "/good.esp"), "payload");
    EXPECT_FALSE(Exists(Path("evil.txt")));
    EXPECT_FALSE(Exists(Path("Morrowind/evil.txt")));
}

TEST_F(InstallFromMain, TheRealPromptAnswersSkipWhenClosedAndKeepsItsBox) {
    Mod().SetPrompt(nullptr);
    WriteAll(Data("foo.esp"), "plugin v1");
    WriteAll(Data("Textures/t.dds"), "texture v1");
    QString caption, question;
    WhenModalShown([&](QWidget* modal) {
        caption = modal->windowTitle();
        question = modal->findChild<QLabel*>("Label1")->text();
        modal->close(); // by its frame
        WhenModalShown([](QWidget* again) {
            auto* box = again->findChild<QCheckBox*>("chkAll");
            EXPECT_FALSE(box->isChecked());
            box->setChecked(true);
            again->findChild<QAbstractButton*>("OKButton")->click();
        });
    });
    Install();
    EXPECT_EQ(caption, "File Exists");
    EXPECT_EQ(question, "The file you are extracting currently exists in the designated folder. "
                        "Do you want to overwrite it?");
    EXPECT_EQ(ReadAll(Data("foo.esp")), "plugin v1");
    EXPECT_EQ(ReadAll(Data("Textures/t.dds")), "texture v2");
    EXPECT_TRUE(Mod().bApplyToAll);
    // The window was hidden, not destroyed: the box is still ticked.
    EXPECT_TRUE(Mod().ExistsWindow().chkAll()->isChecked());
    EXPECT_FALSE(Mod().ExistsWindow().isVisible());
}

TEST_F(InstallFromMain, ErrorsSayWhyAndASummaryCountsWhatWasSkippedOrFailed) {
    // A file stands where the folder Meshes is needed; t.dds exists and is kept.
    WriteAll(Data("Meshes"), "a file, not a folder");
    WriteAll(Data("Textures/t.dds"), "mine");
    Prompt_.Answers.push_back({false, false});
    Install();
    EXPECT_TRUE(Dialogs_.Messages().isEmpty());
    ASSERT_EQ(Dialogs_.Summaries().size(), 1u);
    // A number never parts from its word at the end of a line.
    EXPECT_EQ(Dialogs_.Summaries()[0]->text,
              "3\u00a0files installed, 0\u00a0replaced, 1\u00a0kept, 1\u00a0failed.\nThese "
              "files failed:");
    ASSERT_EQ(Dialogs_.Summaries()[0]->items.size(), 1);
    const QString line = Dialogs_.Summaries()[0]->items[0];
    EXPECT_TRUE(line.startsWith(Shown("Meshes\\Foo\\a.nif") + ": ")) << line.toStdString();
    EXPECT_GT(line.size(), Shown("Meshes\\Foo\\a.nif").size() + 2);
    EXPECT_EQ(ReadAll(Data("Textures/t.dds")), "mine");

    // Replacing everything is a clean install: no summary.
    Prompt_.Answers.push_back({true, true});
    std::filesystem::remove(Data("Meshes"));
    Install();
    EXPECT_EQ(Dialogs_.Summaries().size(), 1u);
}

TEST_F(InstallFromMain, ThePromptNamesTheFileBelowTheDataFolderUnderItsQuestion) {
    WriteAll(Data("foo.esp"), "plugin v1");
    WriteAll(Data("Meshes/Foo/a.nif"), "mesh v1");
    Prompt_.Answers = {{false, false}, {false, false}};
    Install();
    EXPECT_EQ(Prompt_.Files, (QStringList{"foo.esp", Shown("Meshes\\Foo\\a.nif")}));

    // The window itself: the question as always, the file below it.
    Mod().SetPrompt(nullptr);
    QString question, file;
    QRect questionBox, fileBox;
    WhenModalShown([&](QWidget* modal) {
        auto* label = modal->findChild<QLabel*>("Label1");
        auto* name = modal->findChild<QLabel*>("lblFile");
        ASSERT_NE(name, nullptr);
        question = label->text();
        file = name->text();
        questionBox = label->geometry();
        fileBox = name->geometry();
        EXPECT_TRUE(name->isVisible());
        modal->findChild<QCheckBox*>("chkAll")->setChecked(true);
        modal->findChild<QAbstractButton*>("CancelButton")->click();
    });
    Install();
    EXPECT_EQ(question, "The file you are extracting currently exists in the designated folder. "
                        "Do you want to overwrite it?");
    EXPECT_EQ(file, "foo.esp");
    EXPECT_GE(fileBox.top(), questionBox.bottom());
}
