// Where added files go, what an add that did not all succeed shows, whole folders and files
// dropped from a file manager.

#include "PackagerFixture.h"

#include "frmSplash.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>

using namespace shared_windows;

using packager::RootKey;

namespace {

// Sends a drop of paths onto the tree's node of key, as a file manager does.
void DropOnto(packager::frmMain& window, const QString& key, const QStringList& paths) {
    QTreeWidget* tree = window.TreeWidget();
    QTreeWidgetItem* node = window.Tree().Node(key);
    ASSERT_NE(node, nullptr);
    tree->scrollToItem(node);
    const QPoint at = tree->visualItemRect(node).center();
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& p : paths)
        urls << QUrl::fromLocalFile(p);
    data.setUrls(urls);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(tree->viewport(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(tree->viewport(), &move);
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(tree->viewport(), &drop);
}

} // namespace

TEST_F(PackagerTest, NothingIsEverAddedBelowAFile) {
    NewThroughMenu(Path("Tower.qvr"));
    Select(RootKey);
    AddThroughMenu({Source("Tower.esp", 300)});
    Select("Tower.esp");
    AddThroughMenu({Source("tower.tga", 200)});
    EXPECT_TRUE(arc.FindEntry("tower.tga", ""));
    EXPECT_FALSE(arc.FindEntry("tower.tga", "Tower.esp"));
    EXPECT_EQ(ChildKeys("Tower.esp"), QStringList());

    // New Folder offers folders only and starts at the selected file's folder.
    QStringList offered;
    QString chosen;
    WhenModalShown([&](QWidget* modal) {
        auto* list = modal->findChild<QComboBox*>("cmbFolders");
        for (int i = 0; i < list->count(); ++i)
            offered << list->itemText(i);
        chosen = list->currentText();
        modal->findChild<QLineEdit*>("txNewFolder")->setText("Splash");
        modal->findChild<QPushButton*>("OKButton")->click();
    });
    Action("mNewFolder")->trigger();
    EXPECT_FALSE(offered.contains("Tower.esp"));
    EXPECT_FALSE(offered.contains("tower.tga"));
    EXPECT_EQ(chosen, RootKey);
    EXPECT_TRUE(window->Tree().NodeExists("Splash"));
    EXPECT_EQ(ChildKeys("Tower.esp"), QStringList());

    // The library's own check, for any caller: a folder path through a file is refused.
    EXPECT_FALSE(window->Session().CanAdd("x.tga", "Tower.esp"));
    EXPECT_FALSE(window->Session().CanAdd("x.tga", "Tower.esp\\deeper"));
    window->AddPaths({Source("x.tga", 20)}, "Tower.esp");
    EXPECT_FALSE(arc.FindEntry("x.tga", "Tower.esp"));
    EXPECT_TRUE(dialogs->Messages().last().contains("Tower.esp is a file"))
        << dialogs->Messages().last().toStdString();
    ExpectDiskMatchesTree();

    // A package made that way earlier opens, and says what no player can install.
    MakePackage(Path("Old.qvr"), QString::fromStdString(arc.TempFolder),
                {"Tower.esp", "Tower.esp\\tower.tga"});
    const qsizetype before = dialogs->Messages().size();
    OpenThroughMenu(Path("Old.qvr"));
    ASSERT_EQ(dialogs->Messages().size(), before + 1);
    EXPECT_TRUE(dialogs->Messages().last().contains("below another file"));
    EXPECT_TRUE(dialogs->Messages().last().contains("Tower.esp\\tower.tga"));
}

TEST_F(PackagerTest, ARefusedFileIsNeverShownComplete) {
    NewThroughMenu(Path("P.qvr"));
    Select("Meshes");
    AddThroughMenu({Source("tower.nif", 100)});
    EXPECT_EQ(window->Splash()->Model().TaskText(), "Compressing File tower.nif: Complete!");
    Select(RootKey);
    AddThroughMenu({Source("P.qvr.ifo", 100)});
    EXPECT_EQ(window->Splash()->Model().TaskText(), "Added 0 of 1 file");
    EXPECT_TRUE(window->Splash()->Model().Complete()); // Close is offered all the same
    ASSERT_EQ(dialogs->Messages().size(), 1);
    EXPECT_TRUE(dialogs->Messages()[0].startsWith("Added 0 of 1 file to the package."));
    EXPECT_TRUE(dialogs->Messages()[0].contains("information entry"));
}

TEST_F(PackagerTest, AddFolderAddsTheWholeTreeBelowTheSelectedFolder) {
    Source("MyMod/readme.txt", 40);
    Source("MyMod/Meshes/a.nif", 300);
    Source("MyMod/Meshes/sub/b.nif", 500);
    const QString folder = QFileInfo(Source("MyMod/Textures/t.tga", 200)).path();
    const QString myMod = QFileInfo(folder).path();
    NewThroughMenu(Path("P.qvr"));
    QString asked;
    window->FolderChooser = [&](QWidget*, const QString& title) -> std::optional<QString> {
        asked = title;
        return myMod;
    };
    // With a file selected, its folder is the place.
    Select("Textures");
    AddThroughMenu({Source("base.tga", 10)});
    Select("Textures\\base.tga");
    Action("mAddfolder")->trigger();
    EXPECT_EQ(asked, "Add Folder to Package");
    for (const auto& [name, path] :
         std::vector<std::pair<std::string, std::string>>{{"readme.txt", "Textures\\MyMod"},
                                                          {"a.nif", "Textures\\MyMod\\Meshes"},
                                                          {"b.nif", "Textures\\MyMod\\Meshes\\sub"},
                                                          {"t.tga", "Textures\\MyMod\\Textures"}})
        EXPECT_TRUE(arc.FindEntry(name, path)) << path << "\\" << name;
    EXPECT_EQ(Panel(1), "Total files: 5");
    EXPECT_EQ(window->Splash()->Model().TaskText(), "Compressing MyMod: Complete!");
    EXPECT_EQ(dialogs->Messages(), QStringList());
    ExpectDiskMatchesTree();

    // Again: every file is there already; Skip for all keeps them as they are, unasked after
    // the first, and says nothing more.
    auto bytes = [&] {
        QFile f(Path("P.qvr"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QByteArray before = bytes();
    int questions = 0;
    WhenModalShown([&](QWidget* modal) {
        ++questions;
        modal->findChild<QCheckBox*>("chkAll")->setChecked(true);
        modal->findChild<QPushButton*>("cmdSkip")->click();
    });
    Select("Textures");
    Action("mAddfolder")->trigger();
    EXPECT_EQ(questions, 1);
    EXPECT_EQ(dialogs->Messages(), QStringList());
    EXPECT_TRUE(bytes() == before);

    // Cancelled: nothing happens.
    window->FolderChooser = [](QWidget*, const QString&) { return std::optional<QString>(); };
    Action("mAddfolder")->trigger();
    EXPECT_EQ(dialogs->Messages(), QStringList());
    ExpectDiskMatchesTree();
}

TEST_F(PackagerTest, FilesAndFoldersDroppedOnAFolderAreAddedThere) {
    NewThroughMenu(Path("P.qvr"));
    const QString file = Source("drop/x.nif", 120);
    Source("drop/Armor/helm.nif", 80);
    const QString folder = QDir::toNativeSeparators(QFileInfo(file).path() + "/Armor");
    DropOnto(*window, "Meshes", {file, folder});
    EXPECT_TRUE(arc.FindEntry("x.nif", "Meshes"));
    EXPECT_TRUE(arc.FindEntry("helm.nif", "Meshes\\Armor"));
    EXPECT_EQ(dialogs->Messages(), QStringList());
    ExpectDiskMatchesTree();

    // Dropped on a file, they go into its folder.
    DropOnto(*window, "Meshes\\x.nif", {Source("drop/y.nif", 60)});
    EXPECT_TRUE(arc.FindEntry("y.nif", "Meshes"));
    ExpectDiskMatchesTree();
}
