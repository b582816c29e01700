// The manage window's removal of a recorded install: the game's files back, changed files kept,
// and one closing message that says so.

#include "Fixture.h"

#include "FailureText.h"

#include "frmMain.h"
#include "frmManage.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

using namespace shared_windows;
using namespace installer;

namespace {

class ManageRemovalTest : public InstallerTest {
protected:
    void SetUp() override {
        InstallerTest::SetUp();
        WriteAll(Data("Morrowind.esm"), "TES3");
        Start();
        QTest::mouseClick(Find<QAbstractButton>(&Mod().Main(), "cmdManage"), Qt::LeftButton);
    }
    void Click(const char* name) {
        QTest::mouseClick(Find<QAbstractButton>(&Mod().Manage(), name), Qt::LeftButton);
    }
    std::string Data(const std::string& rel) const { return DataFolder.toStdString() + "/" + rel; }
    PackInfo m_info;
};

TEST_F(ManageRemovalTest, RestoredAndKeptFilesAreToldInOneMessage) {
    MakePackage(
        Path("Stack.qvr"),
        {{"", "Stack.esp", "esp"}, {"Meshes", "a.nif", "new a"}, {"Textures", "b.dds", "b"}},
        &m_info, Path(""));
    WriteAll(Data("Meshes/a.nif"), "the game's a");
    const auto before = Snapshot(DataFolder.toStdString());
    OpenInManage("Stack.qvr");
    Prompt_.Answers = {{true, true}};
    Click("cmdInstallQVR");
    ASSERT_EQ(ReadAll(Data("Meshes/a.nif")), "new a");
    ASSERT_TRUE(Exists(Data(".qvr-installed")));
    WriteAll(Data("Textures/b.dds"), "edited by the player");

    Dialogs_.YesNoAnswers = {true};
    Click("cmdRemoveQVRFiles");
    EXPECT_TRUE(Dialogs_.Calls[Dialogs_.Calls.size() - 2].text.startsWith("This will remove "));
    EXPECT_EQ(ReadAll(Data("Meshes/a.nif")), "the game's a");
    EXPECT_EQ(ReadAll(Data("Textures/b.dds")), "edited by the player");
    EXPECT_FALSE(Exists(Data("Stack.esp")));
    ASSERT_EQ(Dialogs_.Messages().size(), 1);
    const QString text = Dialogs_.Messages().front();
    EXPECT_TRUE(text.startsWith("Removed 1\u00a0file, restored\u00a01, kept\u00a01."))
        << text.toStdString();
    EXPECT_TRUE(text.endsWith("\n" + ShownPath("Textures\\b.dds"))) << text.toStdString();
    EXPECT_EQ(Dialogs_.Calls.back().title, "QVRInstaller");

    // Once the kept file is gone, the folder is as it was before the install.
    QFile::remove(QString::fromStdString(Data("Textures/b.dds")));
    EXPECT_EQ(Snapshot(DataFolder.toStdString()), before);
}

TEST_F(ManageRemovalTest, ManyKeptFilesAreListedInAScrollableList) {
    std::vector<PackEntry> entries;
    for (int i = 0; i < 15; ++i)
        entries.push_back({"Meshes", "m" + std::to_string(i) + ".nif", "mesh"});
    MakePackage(Path("Many.qvr"), entries, &m_info, Path(""));
    OpenInManage("Many.qvr");
    Click("cmdInstallQVR");
    for (int i = 0; i < 15; ++i)
        WriteAll(Data("Meshes/m" + std::to_string(i) + ".nif"), "changed");

    int listed = 0;
    QString summary;
    WhenModalShown([&](QWidget* modal) {
        EXPECT_EQ(modal->objectName(), "frmRemovalSummary");
        EXPECT_EQ(modal->windowTitle(), "QVRInstaller");
        if (auto* list = modal->findChild<QListWidget*>("lstKept"))
            listed = list->count();
        if (auto* label = modal->findChild<QLabel*>("lblSummary"))
            summary = label->text();
        modal->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    Dialogs_.YesNoAnswers = {true};
    Click("cmdRemoveQVRFiles");
    EXPECT_EQ(listed, 15);
    EXPECT_TRUE(summary.startsWith("Removed 0\u00a0files, restored\u00a00, kept\u00a015."))
        << summary.toStdString();
    EXPECT_TRUE(Dialogs_.Messages().isEmpty());
    EXPECT_EQ(ReadAll(Data("Meshes/m3.nif")), "changed");
}

} // namespace
