// What keeps an author's work and attention: questions that name what they delete or discard,
// dialogs that start where the author works, dates that read, boxes that grow with the window.
#include "PackagerFixture.h"

#include "PackagerLogic.h"
#include "frmHelp.h"
#include "frmNewFolder.h"
#include "frmNotes.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>

using packager::RootKey;

namespace {
const QString kDiscard = "The package details or notes you changed have not been written into "
                         "the package (Update Details writes them). Discard the changes?";
} // namespace

TEST_F(PackagerTest, RemoveNamesWhatItDeletes) {
    NewThroughMenu(Path("P.qvr"));
    Select("Meshes");
    AddThroughMenu({Source("a.nif", 10), Source("b.nif", 10)});
    window->AddFolderNode("armor", "Meshes");
    Select("Meshes\\armor");
    AddThroughMenu({Source("helm.nif", 10)});
    const QString sep = QDir::separator();
    struct Case {
        QString key, question;
    } cases[] = {
        {"Meshes\\armor\\helm.nif", "Are you sure you wish to delete the file Meshes" + sep +
                                        "armor" + sep + "helm.nif from the package?"},
        {"Meshes", "Are you sure you wish to delete the folder Meshes and all of its contents (3 "
                   "files) from the package?"},
        {"Meshes\\armor", "Are you sure you wish to delete the folder Meshes" + sep +
                              "armor and all of its contents (1 file) from the package?"},
    };
    for (const Case& c : cases) {
        Click(c.key);
        dialogs->YesNoAnswers.push_back(false);
        Action("mRemove")->trigger();
        EXPECT_EQ(dialogs->Calls.back().text, c.question);
    }
    EXPECT_EQ(TreeFileKeys().size(), 3);
}

TEST_F(PackagerTest, NewOpenAndExitAskBeforeTypedDetailsAreLost) {
    NewThroughMenu(Path("P.qvr"));
    NewThroughMenu(Path("Q.qvr")); // nothing typed: no question
    EXPECT_EQ(dialogs->CountOf(ScriptedDialogs::Kind::AskYesNo), 0);
    int exits = 0;
    QObject::connect(window.get(), &packager::frmMain::Exited, [&] { ++exits; });

    Control<QLineEdit>("txVersion")->setText("2.0");
    // No: the command stops before its dialog, and the typed text stays.
    dialogs->YesNoAnswers = {false, false, false};
    Action("mNew")->trigger();
    Action("mOpen")->trigger();
    window->close();
    EXPECT_EQ(exits, 0);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(dialogs->CountOf(ScriptedDialogs::Kind::SaveFile), 2); // the two News above
    EXPECT_EQ(dialogs->CountOf(ScriptedDialogs::Kind::OpenFile), 0);
    EXPECT_EQ(Control<QLineEdit>("txVersion")->text(), "2.0");
    for (const auto& call : dialogs->Calls) {
        if (call.kind == ScriptedDialogs::Kind::AskYesNo) {
            EXPECT_EQ(call.text, kDiscard);
        }
    }

    // Notes confirmed with OK count as typed details too; Yes goes on.
    Control<QPushButton>("cmdUpdate")->click();
    WhenModalShown([](QWidget* modal) {
        modal->findChild<QPlainTextEdit*>()->setPlainText("New notes");
        modal->findChild<QPushButton*>("OKButton")->click();
    });
    Control<QPushButton>("cmdNotes")->click();
    dialogs->YesNoAnswers = {true};
    window->close();
    EXPECT_EQ(exits, 1);
    EXPECT_EQ(dialogs->CountOf(ScriptedDialogs::Kind::AskYesNo), 4);
}

TEST_F(PackagerTest, UpdateDetailsDatesThePackageUnlessTheAuthorSetADate) {
    qvr::sgPlugInfo info;
    info.PluginName("Dated");
    info.LastUpdated("3/7/2003");
    MakePackage(Path("D.qvr"), dir.filePath("work"), {"a.esp"}, info);
    OpenThroughMenu(Path("D.qvr"));
    auto* date = Control<QLineEdit>("txLastUpdate");
    ASSERT_EQ(date->text(), "3/7/2003");
    const QString today = packager::DatePart(QString::fromStdString(qvr::FormatArchiveDate()));

    Control<QLineEdit>("txVersion")->setText("2.0");
    Control<QPushButton>("cmdUpdate")->click();
    EXPECT_EQ(date->text(), today);
    EXPECT_EQ(arc.PluginInfo.LastUpdated(), today.toStdString());

    // A date the author typed is the author's.
    date->setText("1/1/2030");
    Control<QPushButton>("cmdUpdate")->click();
    EXPECT_EQ(arc.PluginInfo.LastUpdated(), "1/1/2030");
}

TEST_F(PackagerTest, DialogsOfferWhatAnAuthorLooksFor) {
    QDir().mkpath(Path("pkgs"));
    NewThroughMenu(Path("pkgs/P.qvr"));
    // Add file finds Morrowind's textures, sounds and archives among the common files.
    AddThroughMenu({Source("t.dds", 10)});
    const QString add = dialogs->Calls.back().filter;
    for (const char* pattern : {"*.dds", "*.wav", "*.bsa", "*.esp", "*.nif"})
        EXPECT_TRUE(add.section('|', 1, 1).contains(pattern)) << pattern;
    // Open offers zip files, and starts where the last package was, not the last added file.
    Action("mOpen")->trigger();
    const auto& open = dialogs->Calls.back();
    EXPECT_TRUE(open.filter.section('|', 1, 1).contains("*.zip")) << open.filter.toStdString();
    EXPECT_EQ(open.fileName, QDir::toNativeSeparators(Path("pkgs")) + QDir::separator());
    // Help tells of adding folders, dropping files and which characters a name may hold.
    const QString help = packager::frmHelp::Text();
    for (const char* words : {"Add folder...", "dropped", "Windows-1252"})
        EXPECT_TRUE(help.contains(words)) << words;
}

TEST_F(PackagerTest, TheRightButtonOffersRemoveForTheNodeUnderIt) {
    NewThroughMenu(Path("P.qvr"));
    AddThroughMenu({Source("a.esp", 10)});
    Click(RootKey);
    ASSERT_FALSE(Action("mRemove")->isEnabled());
    auto* tree = window->TreeWidget();
    emit tree->MenuRequested(window->Tree().Node("a.esp"), QPoint(5, 5));
    EXPECT_TRUE(Action("mRemove")->isEnabled());
    emit tree->MenuRequested(window->Tree().Node(RootKey), QPoint(5, 5));
    EXPECT_FALSE(Action("mRemove")->isEnabled());
    for (QMenu* menu : window->findChildren<QMenu*>())
        menu->hide();
}

TEST_F(PackagerTest, TheListsGrowWithTheWindowAndLongFoldersShowWhole) {
    NewThroughMenu(Path("P.qvr"));
    auto* authors = Control<QPlainTextEdit>("txAuthors");
    auto* depends = Control<QPlainTextEdit>("txDepends");
    const int authorsBefore = authors->height(), dependsBefore = depends->height();
    window->resize(window->width(), window->height() + 200);
    QApplication::processEvents();
    EXPECT_GT(authors->height(), authorsBefore + 80);
    EXPECT_GT(depends->height(), dependsBefore + 80);
    EXPECT_GE(depends->y(), authors->geometry().bottom());
    const QWidget* frame2 = Control<QWidget>("Frame2");
    EXPECT_GE(frame2->y(), Control<QWidget>("Frame1")->geometry().bottom());
    EXPECT_LE(frame2->geometry().bottom(), window->centralWidget()->height());

    // The New Folder dialog's list opens wide enough for a deep folder, and its tip names it.
    const QString deep = "Meshes\\A_Folder_Of_Some_Length\\And_Another_Below_It";
    window->AddFolderNode("A_Folder_Of_Some_Length", "Meshes");
    window->AddFolderNode("And_Another_Below_It", "Meshes\\A_Folder_Of_Some_Length");
    Select(deep);
    packager::frmNewFolder* dialog = window->NewFolderDialog();
    dialog->Selectedfolder(deep);
    dialog->show();
    auto* box = dialog->findChild<QComboBox*>("cmbFolders");
    EXPECT_EQ(box->currentText(), deep);
    EXPECT_EQ(box->toolTip(), deep);
    EXPECT_GE(box->view()->minimumWidth(), box->fontMetrics().horizontalAdvance(deep));
    dialog->hide();
}

TEST(ShownFileDate, PadsTheTimeOfTheStoredForm) {
    const std::pair<const char*, const char*> cases[] = {
        {"12/8/2026 9:2:50", "12/8/2026 09:02:50"},
        {"1/31/1999 23:59:59", "1/31/1999 23:59:59"},
        {"3/7/2003 0:0:0", "3/7/2003 00:00:00"},
        {"3/7/2003", "3/7/2003"}, // not the stored form: as it is
        {"", ""},
    };
    for (const auto& [stored, shown] : cases)
        EXPECT_EQ(packager::ShownFileDate(stored), shown) << stored;
}

// A package's texts are the author's characters: boxes, the status bar's path and its tooltip
// never read them as markup.
TEST_F(PackagerTest, DetailsOfMarkupShowTheirCharacters) {
    qvr::sgPlugInfo info;
    info.PluginName("<img src='/dev/zero'>Z");
    info.Version("<b>1</b>");
    info.Authors("<h1 style='color:red'>FREE GOLD</h1>\r\n<i>Fargoth</i>");
    info.Depends("<a href='x'>Tribunal.esm</a>");
    QDir().mkpath(Path("<u>gold<u>"));
    const QString package = Path("<u>gold<u>/Gold.qvr");
    MakePackage(package, dir.filePath("work"), {"a.esp"}, info);
    OpenThroughMenu(package);
    EXPECT_EQ(Control<QLineEdit>("txPluginName")->text(), "<img src='/dev/zero'>Z");
    EXPECT_EQ(Control<QLineEdit>("txVersion")->text(), "<b>1</b>");
    EXPECT_EQ(Control<QPlainTextEdit>("txAuthors")->toPlainText(),
              "<h1 style='color:red'>FREE GOLD</h1>\n<i>Fargoth</i>");
    EXPECT_EQ(Control<QPlainTextEdit>("txDepends")->toPlainText(), "<a href='x'>Tribunal.esm</a>");
    auto* path = Control<QLabel>("Panel3");
    EXPECT_EQ(path->textFormat(), Qt::PlainText);
    QTextDocument tip;
    tip.setHtml(path->toolTip());
    EXPECT_EQ(tip.toPlainText(), QDir::toNativeSeparators(package));
}
