// Every window of the installer, and the shared windows as it shows them, filled with long
// values: no text may be cut off or drawn below 8 points.
#include "Fixture.h"

#include "Looks.h"
#include "SummaryBox.h"
#include "TextChecks.h"
#include "frmAbout.h"
#include "frmExists.h"
#include "frmMain.h"
#include "frmManage.h"
#include "frmNotes.h"
#include "frmSplash.h"

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QTreeWidget>

namespace {

const std::string kLongName = "The Great House Telvanni Expansion of Sadrith Mora, Volume 2";
const std::string kLongVersion = "1.2.3-beta.4+build.20261207.77";

std::string TwelveModules() {
    std::string depends;
    for (int i = 1; i <= 12; ++i)
        depends += (i > 1 ? "\r\n" : "") + std::string("Required_Module_Number_") +
                   std::to_string(i) + ".esm";
    return depends;
}

// Saves what the window looks like when QVR_WINDOW_PICTURES names a folder, to look at.
} // namespace

class WindowTexts : public InstallerTest {
protected:
    void SetUp() override {
        InstallerTest::SetUp();
        ASSERT_EQ(kLongName.size(), 60u);
        ASSERT_EQ(kLongVersion.size(), 30u);
        WriteAll(DataFolder.toStdString() + "/Morrowind.esm", "TES3");
        m_info.Name = kLongName;
        m_info.Version = kLongVersion;
        m_info.Depends = TwelveModules();
        m_info.Authors = "Archmagister Gothren's Scribes of Tel Aruhn\r\nNerevar Indoril";
        m_info.Notes = std::string(300, 'n') + "\r\n" + std::string(40, 'x');
        m_archive = "A_Package_File_Whose_Name_Is_Much_Longer_Than_Its_Box.qvr";
        MakePackage(Path(m_archive),
                    {{"", "telvanni.esp", "p"},
                     {"Meshes\\A_Very_Deep_Folder\\Of_Telvanni\\Towers", "tower.nif", "m"}},
                    &m_info, Path(""));
        // With OpenMW found, so that its choice is looked at too.
        WriteAll(Path("openmw/openmw.cfg"), "content=Morrowind.esm\n");
        Configure = [this](MainMod::Options& o) {
            o.OpenMWConfig = QPath("openmw/openmw.cfg");
            o.ModsFolder = QPath("mods");
        };
        Start();
        OpenInMain(m_archive);
        ASSERT_TRUE(Visible(&Mod().Main(), "optOpenMW"));
    }
    void ExpectReadable(QWidget& window, const char* name) {
        Picture(window, name);
        const QStringList problems = TextProblems(&window);
        EXPECT_TRUE(problems.isEmpty()) << name << ":\n" << problems.join('\n').toStdString();
    }
    PackInfo m_info;
    std::string m_archive;
};

TEST_F(WindowTexts, MainAndManageWindowsShowLongValuesReadably) {
    frmMain& main = Mod().Main();
    ExpectReadable(main, "main");
    // The whole value stays reachable: in the tooltip, and for installing.
    auto* name = Find<QLabel>(&main, "lblName");
    EXPECT_EQ(name->toolTip().toStdString(), kLongName);
    EXPECT_EQ(Find<QLabel>(&main, "lblVersion")->toolTip().toStdString(), kLongVersion);

    Mod().Main().cmdManage_Click();
    frmManage& manage = Mod().Manage();
    ExpectReadable(manage, "manage");
    EXPECT_EQ(Find<QLabel>(&manage, "lblPluginName")->toolTip().toStdString(), kLongName);

    // Twelve modules do not fit their box: it scrolls, and shows every one of them.
    for (QWidget* window : {static_cast<QWidget*>(&main), static_cast<QWidget*>(&manage)}) {
        auto* depends = Find<QLabel>(window, "lblDepends");
        auto* box = qobject_cast<QScrollArea*>(depends->parentWidget()->parentWidget());
        ASSERT_NE(box, nullptr) << window->objectName().toStdString();
        EXPECT_GT(depends->height(), box->viewport()->height());
        EXPECT_TRUE(box->verticalScrollBar()->isVisibleTo(window));
        EXPECT_GT(box->verticalScrollBar()->maximum(), 0);
        EXPECT_EQ(depends->text().count('\n'), 11);
    }
}

// Long names and folders stay readable: the tree scrolls sideways to a long name, and a long
// data folder is cut with an ellipsis and shown whole in its tooltip.
TEST_F(InstallerTest, LongNamesScrollAndLongFoldersAreCutWithAnEllipsis) {
    const QString folder = QPath("A Library Of Games On A Second Disk/steamapps/common/"
                                 "The Elder Scrolls III Morrowind Game Of The Year/Data Files");
    Configure = [&](MainMod::Options& o) { o.DefaultDataFolder = folder; };
    Start(); // no Morrowind.esm there: the folder question is cancelled
    auto* path = Find<QLabel>(&Mod().Main(), "lblPlugPath");
    EXPECT_TRUE(path->text().contains(QChar(0x2026))) << path->text().toStdString();
    EXPECT_EQ(path->toolTip(), folder);
    EXPECT_TRUE(TextProblems(&Mod().Main()).isEmpty());

    const std::string name(90, 'n');
    PackInfo info;
    MakePackage(Path("Long.qvr"), {{"Meshes\\Deep\\Deeper", name + ".nif", "m"}}, &info, Path(""));
    Mod().Main().cmdManage_Click();
    OpenInManage("Long.qvr");
    QTreeWidget* tree = Find<QTreeWidget>(&Mod().Manage(), "tvFileList");
    QCoreApplication::processEvents();
    EXPECT_GT(tree->horizontalScrollBar()->maximum(), 0);
}

TEST_F(WindowTexts, DialogsAndTheProgressWindowShowLongValuesReadably) {
    frmExists& exists = Mod().ExistsWindow();
    exists.SetFile("Meshes\\A_Very_Deep_Folder\\Of_Telvanni\\Towers\\And_Their_Many_Rooms\\"
                   "tower_of_the_archmagister.nif");
    exists.show();
    ExpectReadable(exists, "exists");
    exists.hide();

    frmNotes notes(Mod().Arc.PluginInfo);
    notes.show();
    ExpectReadable(notes, "notes");

    frmAbout about(Ui::AboutOptions());
    about.show();
    ExpectReadable(about, "about");

    frmSplash& splash = Mod().Splash();
    splash.SetTitle(QStringLiteral("Installing Plug-in ") + QString::fromStdString(kLongName));
    splash.CalcIncrement(2);
    splash.show();
    splash.IncrProgress(0);
    ExpectReadable(splash, "progress");
    splash.IncrProgress(0);
    ExpectReadable(splash, "progress-complete");
    // A short task text must not run under the bar either (its descenders did).
    splash.SetTitle(QStringLiteral("Removing Plug-in Filesgjpqy"));
    ExpectReadable(splash, "progress-short");

    QStringList failed;
    for (int i = 0; i < 40; ++i)
        failed << QStringLiteral("Meshes\\A_Very_Deep_Folder\\Of_Telvanni\\file_%1.nif").arg(i);
    SummaryBox summary(nullptr, MainMod::AppTitle,
                       QStringLiteral("2 files installed, 0 replaced, 1 kept, 40 failed.\nThese "
                                      "files failed:"),
                       failed);
    summary.show();
    ExpectReadable(summary, "summary");
}
