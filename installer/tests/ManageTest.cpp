#include "Fixture.h"
#include "qvrtest/ZipBuilder.h"

#include "Elide.h"

#include "ArchiveTree.h"
#include "Twips.h"
#include "frmExists.h"
#include "frmMain.h"
#include "frmManage.h"
#include "frmSplash.h"
#include "qvr/install/InstallRecord.h"
#include "qvr/install/detail/InstallFiles.h"

#include <QAbstractButton>
#include <QDir>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

using namespace shared_windows;

using namespace installer;

class ManageTest : public InstallerTest {
protected:
    void SetUp() override {
        InstallerTest::SetUp();
        WriteAll(DataFolder.toStdString() + "/Morrowind.esm", "TES3");
        std::vector<PackEntry> entries;
        for (int i = 0; i < 8; ++i)
            entries.push_back({"Meshes\\Foo", "m" + std::to_string(i) + ".nif", "mesh"});
        entries.push_back({"Meshes", "top.nif", "top"});
        entries.push_back({"", "Pack.esp", "plugin"});
        entries.push_back({"Textures", "t.dds", "texture"});
        MakePackage(Path("Pack.qvr"), entries, &m_info, Path(""));
        Start();
    }
    frmManage& Manage() { return Mod().Manage(); }
    void ToManage() {
        QTest::mouseClick(Find<QAbstractButton>(&Mod().Main(), "cmdManage"), Qt::LeftButton);
    }
    void Click(const char* name) {
        QTest::mouseClick(Find<QAbstractButton>(&Manage(), name), Qt::LeftButton);
    }
    std::string Data(const std::string& rel) const { return DataFolder.toStdString() + "/" + rel; }
    PackInfo m_info;
};

TEST_F(ManageTest, ShowsThePackageOpenedInTheMainWindow) {
    OpenInMain("Pack.qvr");
    ToManage();
    EXPECT_TRUE(Manage().isVisible());
    EXPECT_FALSE(Mod().Main().isVisible());
    EXPECT_EQ(Manage().windowTitle(), "View/Manage Plug-ins");
    EXPECT_EQ(Text(&Manage(), "lblPlugPath"), DataFolder);
    EXPECT_EQ(Text(&Manage(), "lblQvrFile"), QPath("Pack.qvr"));
    EXPECT_EQ(Text(&Manage(), "lblPluginName"), "Foo");
    EXPECT_EQ(Text(&Manage(), "lblVersion"), "1.2");
    EXPECT_EQ(Text(&Manage(), "lblLastUpdate"), "3/7/2003");
    EXPECT_EQ(Text(&Manage(), "lblAuthors"), "Anne");
    EXPECT_EQ(Text(&Manage(), "lblDepends"), "Morrowind.esm");
    // Twelve entries, one of them the info entry.
    EXPECT_EQ(Mod().Arc.ArchiveFiles.size(), 12u);
    EXPECT_EQ(Text(&Manage(), "lblTtlFiles"), "11");
    EXPECT_EQ(Text(&Manage(), "lblFileSize"),
              QLocale().toString(QFileInfo(QPath("Pack.qvr")).size()));
    EXPECT_TRUE(Visible(&Manage(), "cmdReadme"));
    EXPECT_TRUE(Enabled(&Manage(), "cmdInstallQVR"));
    EXPECT_TRUE(Enabled(&Manage(), "cmdRemoveQVRFiles"));

    ArchiveTree& tree = Manage().Tree();
    EXPECT_FALSE(tree.NodeExists("Pack.qvr.ifo"));
    EXPECT_TRUE(tree.NodeExists("Meshes\\Foo\\m7.nif"));
    EXPECT_TRUE(tree.NodeExists("Pack.esp"));
    EXPECT_TRUE(tree.Node("Meshes\\Foo")->isExpanded());
    EXPECT_TRUE(tree.Node("Meshes")->isExpanded());
    EXPECT_EQ(tree.Widget()->topLevelItemCount(), 3);

    // "Close" hands back; the main window shows the same archive.
    Click("cmdClose");
    EXPECT_FALSE(Manage().isVisible());
    EXPECT_TRUE(Mod().Main().isVisible());
    EXPECT_EQ(Text(&Mod().Main(), "lblQVRFileName"), "Pack.qvr");
}

TEST_F(ManageTest, AZipFileIsListedAndInstallableWhereArchivesAreRead) {
    ToManage();
    EXPECT_FALSE(Enabled(&Manage(), "cmdInstallQVR"));
    EXPECT_FALSE(Enabled(&Manage(), "cmdRemoveQVRFiles"));
    MakeZip(Path("five.zip"), {"a.esp", "Meshes/b.nif", "Meshes/c.nif", "Textures/d.dds", "e.txt"});
    OpenInManage("five.zip");
    const bool reads = qvr::sources::ReadsOtherArchives();
    const QString name = reads ? "five" : "Zip file loaded";
    EXPECT_EQ(Dialogs_.Calls.back().filter, MainMod::OpenFilter());
    EXPECT_EQ(Text(&Manage(), "lblPluginName"), name);
    EXPECT_EQ(Text(&Manage(), "lblVersion"), "");
    EXPECT_EQ(Text(&Manage(), "lblAuthors"), "");
    EXPECT_EQ(Text(&Manage(), "lblDepends"), "");
    EXPECT_EQ(Text(&Manage(), "lblTtlFiles"), "5");
    EXPECT_EQ(Enabled(&Manage(), "cmdInstallQVR"), reads);
    EXPECT_EQ(Enabled(&Manage(), "cmdRemoveQVRFiles"), reads);
    EXPECT_TRUE(Manage().Tree().NodeExists("Meshes\\c.nif"));

    // The main window takes the zip file over when it is shown again.
    Click("cmdClose");
    EXPECT_EQ(Text(&Mod().Main(), "lblQVRFileName"), "five.zip");
    EXPECT_EQ(Text(&Mod().Main(), "lblName"), name);
    EXPECT_EQ(Enabled(&Mod().Main(), "cmdInstallQVR"), reads);

    // Cancelling "Open QVR..." changes nothing; state is kept across hiding.
    ToManage();
    Click("cmdOpenQVR");
    EXPECT_EQ(Text(&Manage(), "lblQvrFile"), QPath("five.zip"));
    EXPECT_EQ(Text(&Manage(), "lblTtlFiles"), "5");
}

TEST_F(ManageTest, SizesAreGroupedByTheLocale) {
    EXPECT_EQ(MainMod::FormatSize(1234567), "1,234,567");
    EXPECT_EQ(MainMod::FormatSize(999), "999");
    EXPECT_EQ(MainMod::FormatSize(0), "");
    EXPECT_EQ(MainMod::FormatSize(12345678901LL), "12,345,678,901");
    // A zip file of exactly that size.
    const size_t frame = qvrtest::BuildZip({{"a", ""}}).bytes.size();
    WriteAll(Path("big.zip"), qvrtest::BuildZip({{"a", std::string(1234567 - frame, 'x')}}).bytes);
    ToManage();
    OpenInManage("big.zip");
    EXPECT_EQ(Text(&Manage(), "lblFileSize"), "1,234,567");
}

TEST_F(ManageTest, TwoEntriesWithOneKeyAreReportedOnce) {
    MakePackage(Path("Dup.qvr"),
                {{"Meshes", "x.nif", "1"},
                 {"Meshes", "y.nif", "2"},
                 {"", "Meshes", "3"},
                 {"", "after.esp", "4"}},
                &m_info, Path(""));
    ToManage();
    OpenInManage("Dup.qvr");
    ASSERT_EQ(Dialogs_.Messages().size(), 1);
    EXPECT_TRUE(Dialogs_.Messages()[0].contains("Meshes")) << Dialogs_.Messages()[0].toStdString();
    EXPECT_EQ(Dialogs_.Calls.back().title, "QVRInstaller");
    EXPECT_TRUE(Manage().Tree().NodeExists("Meshes\\y.nif"));
    EXPECT_FALSE(Manage().Tree().NodeExists("after.esp"));
    EXPECT_TRUE(Manage().Tree().Node("Meshes")->isExpanded());
    // Still usable.
    EXPECT_TRUE(Enabled(&Manage(), "cmdOpenQVR"));
    EXPECT_TRUE(Enabled(&Manage(), "cmdInstallQVR"));
    // Once per open, not again on every activation.
    Click("cmdClose");
    ToManage();
    WhenModalShown([](QWidget* modal) { modal->close(); });
    Manage().lblAbout_Click();
    EXPECT_EQ(Dialogs_.Messages().size(), 1);
    OpenInManage("Pack.qvr");
    EXPECT_EQ(Text(&Manage(), "lblTtlFiles"), "11");
    EXPECT_EQ(Dialogs_.Messages().size(), 1);
}

TEST_F(ManageTest, InstallsFromHereWithThisWindowsLabels) {
    ToManage();
    OpenInManage("Pack.qvr");
    WriteAll(Data("Pack.esp"), "older");
    std::map<std::string, bool> during;
    Prompt_.OnAsk = [&] {
        for (const char* name :
             {"cmdOpenQVR", "cmdInstallQVR", "cmdRemoveQVRFiles", "cmdClose", "cmdExit"})
            during[name] = Enabled(&Manage(), name);
    };
    Prompt_.Answers = {{true, false}};
    Click("cmdInstallQVR");
    EXPECT_EQ(during, (std::map<std::string, bool>{{"cmdClose", false},
                                                   {"cmdExit", true},
                                                   {"cmdInstallQVR", false},
                                                   {"cmdOpenQVR", false},
                                                   {"cmdRemoveQVRFiles", false}}));
    EXPECT_TRUE(Enabled(&Manage(), "cmdInstallQVR"));
    EXPECT_TRUE(Enabled(&Manage(), "cmdRemoveQVRFiles"));
    EXPECT_TRUE(Enabled(&Manage(), "cmdClose"));
    EXPECT_EQ(ReadAll(Data("Pack.esp")), "plugin");
    EXPECT_EQ(ReadAll(Data("Meshes/Foo/m3.nif")), "mesh");
    EXPECT_EQ(ReadAll(Data("Textures/t.dds")), "texture");
    EXPECT_FALSE(Exists(Data("Pack.qvr.ifo")));
    EXPECT_EQ(Mod().Splash().parentWidget(), &Manage());
    EXPECT_EQ(Mod().Splash().findChild<QLabel*>("lblTask")->text(),
              "Installing Plug-in Foo: Complete!");
}

TEST_F(ManageTest, RemovalDeletesTheListedFilesAfterAYes) {
    MakePackage(Path("Small.qvr"), {{"", "plugin.esp", "p"}, {"Meshes", "x.nif", "x"}}, &m_info,
                Path(""));
    ToManage();
    OpenInManage("Small.qvr");
    WriteAll(Data("plugin.esp"), "p");
    WriteAll(Data("Meshes/x.nif"), "x");
    WriteAll(Data("Small.qvr.ifo"), "not ours");
    WriteAll(Data("other.esp"), "other");

    Dialogs_.YesNoAnswers = {false};
    Click("cmdRemoveQVRFiles");
    // The question says what removal does.
    EXPECT_EQ(Dialogs_.Calls.back().text,
              "This will remove the files the current QVR file installed and put back the files "
              "it replaced. Files changed since the install are kept. It also removes the folders "
              "it created once they are empty. Continue?");
    EXPECT_EQ(Dialogs_.Calls.back().title, "QVRInstaller");
    EXPECT_TRUE(Dialogs_.Calls.back().noByDefault); // Enter keeps the files
    EXPECT_TRUE(Exists(Data("plugin.esp")));
    EXPECT_FALSE(Mod().SplashCreated());

    Dialogs_.YesNoAnswers = {true};
    Click("cmdRemoveQVRFiles");
    EXPECT_FALSE(Exists(Data("plugin.esp")));
    EXPECT_FALSE(Exists(Data("Meshes/x.nif")));
    EXPECT_TRUE(Exists(Data("Meshes")));
    EXPECT_TRUE(Exists(Data("Small.qvr.ifo")));
    EXPECT_TRUE(Exists(Data("other.esp")));
    EXPECT_EQ(Mod().Splash().findChild<QLabel*>("lblTask")->text(),
              "Removing Plug-in FilesFoo: Complete!");
    EXPECT_EQ(Mod().Splash().Model().StepWidth(), 2205); // three steps, the info entry's too
    EXPECT_TRUE(Dialogs_.Messages().isEmpty());
    // The window keeps its labels and tree.
    EXPECT_TRUE(Manage().Tree().NodeExists("Meshes\\x.nif"));

    // Again, with nothing left to remove: not "Complete!", and said once.
    Dialogs_.YesNoAnswers = {true};
    Click("cmdRemoveQVRFiles");
    EXPECT_EQ(FullText(Mod().Splash().findChild<QLabel*>("lblTask")),
              "Nothing was removed: none of its files is installed");
    EXPECT_EQ(Dialogs_.Messages(),
              QStringList{"No file of Foo is installed in this folder: nothing was removed."});

    // An empty file at a target is left alone.
    WriteAll(Data("plugin.esp"), "");
    Dialogs_.YesNoAnswers = {true};
    Click("cmdRemoveQVRFiles");
    EXPECT_TRUE(Exists(Data("plugin.esp")));
}

// Another archive's install a crash cut short is taken back first, and said so.
TEST_F(ManageTest, ARemovalTellsOfAnotherInstallItFoundCutShort) {
    MakePackage(Path("Small.qvr"), {{"", "plugin.esp", "p"}}, &m_info, Path(""));
    ToManage();
    OpenInManage("Small.qvr");
    WriteAll(Data("plugin.esp"), "p");
    WriteAll(Data("other.esp"), "half");
    qvr::InstallRecord cut;
    cut.Key = "other.qvr";
    cut.Archive = "Other.qvr";
    cut.Name = "Other";
    cut.Sequence = 1;
    cut.State = qvr::RecordState::Installing;
    cut.Files = {{"other.esp"}};
    qvr::WriteInstallRecord(DataFolder.toStdString(), cut);

    Dialogs_.YesNoAnswers = {true};
    Click("cmdRemoveQVRFiles");
    EXPECT_FALSE(Exists(Data("other.esp")));
    ASSERT_FALSE(Dialogs_.Messages().isEmpty());
    EXPECT_TRUE(
        Dialogs_.Messages().front().startsWith("An earlier install of Other had been cut short"))
        << Dialogs_.Messages().front().toStdString();
}

TEST_F(ManageTest, ExitAndCloseEndTheProgram) {
    ToManage();
    Click("cmdExit");
    EXPECT_EQ(Exits, 1);
    EXPECT_FALSE(Manage().isVisible());
    EXPECT_FALSE(Mod().Main().isVisible());
    m_mod.reset();
    Start();
    ToManage();
    Manage().close();
    EXPECT_EQ(Exits, 2);
}

TEST_F(ManageTest, NoCaptionIsClipped) {
    OpenInMain("Pack.qvr");
    ToManage();
    QWidget* windows[] = {&Mod().Main(), &Manage(), &Mod().ExistsWindow()};
    for (QWidget* window : windows) {
        for (QWidget* w : window->findChildren<QWidget*>()) {
            if (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w)) {
                EXPECT_TRUE(TextFits(w)) << w->objectName().toStdString();
            }
        }
    }
    // Each control is where its twips put it.
    EXPECT_EQ(Find(&Manage(), "tvFileList")->geometry(), TwRect(5100, 1020, 4215, 5415));
    EXPECT_EQ(Find(&Mod().Main(), "cmdInstallQVR")->geometry(), TwRect(2520, 5700, 1455, 375));
    EXPECT_EQ(Manage().size(), QSize(640, 479));
}

TEST_F(ManageTest, AFileThatIsNoArchiveOpensNothingToInstallOrRemove) {
    WriteAll(Path("notes.txt"), "just text");
    OpenInMain("notes.txt");
    ToManage();
    EXPECT_EQ(Text(&Manage(), "lblQvrFile"), "");
    EXPECT_FALSE(Enabled(&Manage(), "cmdInstallQVR"));
    EXPECT_FALSE(Enabled(&Manage(), "cmdRemoveQVRFiles"));
    EXPECT_EQ(Text(&Manage(), "lblTtlFiles"), "");
    EXPECT_EQ(Dialogs_.Messages().size(), 1);
}

TEST_F(ManageTest, AFailedOpenSaysWhyAndKeepsTheOpenArchive) {
    ToManage();
    OpenInManage("Pack.qvr");
    ASSERT_TRUE(Enabled(&Manage(), "cmdRemoveQVRFiles"));
    // The same package cut short inside its last directory record.
    const std::string whole = ReadAll(Path("Pack.qvr"));
    WriteAll(Path("Cut.qvr"), whole.substr(0, whole.size() - 10));
    OpenInManage("Cut.qvr");
    ASSERT_EQ(Dialogs_.Messages().size(), 1);
    EXPECT_TRUE(Dialogs_.Messages()[0].startsWith("The file " + QPath("Cut.qvr") + " is damaged: "))
        << Dialogs_.Messages()[0].toStdString();
    // Never a mix: the path, the details, the count and the tree are Pack.qvr's, still open.
    EXPECT_EQ(Text(&Manage(), "lblQvrFile"), QPath("Pack.qvr"));
    EXPECT_EQ(Text(&Manage(), "lblPluginName"), "Foo");
    EXPECT_EQ(Text(&Manage(), "lblTtlFiles"), "11");
    EXPECT_TRUE(Manage().Tree().NodeExists("Pack.esp"));
    EXPECT_TRUE(Enabled(&Manage(), "cmdInstallQVR"));
    EXPECT_EQ(Mod().Arc.CurrentArchive, Path("Pack.qvr"));

    // A package without information says so.
    MakePackage(Path("Bare.qvr"), {{"", "b.esp", "b"}}, nullptr, Path(""));
    OpenInManage("Bare.qvr");
    ASSERT_EQ(Dialogs_.Messages().size(), 2);
    EXPECT_EQ(Dialogs_.Messages()[1],
              "The file " + QPath("Bare.qvr") + " holds no plug-in information.");
    EXPECT_EQ(Text(&Manage(), "lblQvrFile"), QPath("Pack.qvr"));

    Click("cmdClose");
    EXPECT_EQ(Text(&Mod().Main(), "lblQVRFileName"), "Pack.qvr");
    EXPECT_TRUE(Enabled(&Mod().Main(), "cmdInstallQVR"));
}

TEST_F(ManageTest, ExitAsTheRemovalStartsRemovesNothing) {
    ToManage();
    OpenInManage("Pack.qvr");
    WriteAll(Data("Pack.esp"), "p");
    WriteAll(Data("Textures/t.dds"), "t");
    Dialogs_.YesNoAnswers = {true};
    QTimer::singleShot(0, &Manage(), [&] { Click("cmdExit"); });
    Click("cmdRemoveQVRFiles");
    EXPECT_EQ(Exits, 1);
    EXPECT_TRUE(Exists(Data("Pack.esp")));
    EXPECT_TRUE(Exists(Data("Textures/t.dds")));
    EXPECT_FALSE(Manage().isVisible());
}
