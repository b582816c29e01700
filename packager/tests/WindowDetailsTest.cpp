// What the window shows and says: renamed packages, the status bar, dates, read-only zip
// files, messages, the tree's rows, shortcuts and the smallest window.

#include "PackagerFixture.h"

#include "PathPanel.h"
#include "frmSplash.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>

using namespace shared_windows;

using packager::RootKey;

namespace {

qvr::sgPlugInfo Details(const std::string& name, const std::string& version) {
    qvr::sgPlugInfo info;
    info.PluginName(name);
    info.Version(version);
    return info;
}

} // namespace

TEST_F(PackagerTest, ARenamedPackageKeepsItsDetailsAndUpdateRenamesTheEntry) {
    MakePackage(Path("Mod.qvr"), QString::fromStdString(arc.TempFolder),
                {"Mod.esp", "Meshes\\m.nif"}, Details("My Mod", "1.1"));
    QFile::copy(Path("Mod.qvr"), Path("Mod 1.1.qvr"));
    OpenThroughMenu(Path("Mod 1.1.qvr"));
    EXPECT_EQ(dialogs->Messages(), QStringList());
    EXPECT_EQ(Control<QLineEdit>("txPluginName")->text(), "My Mod");
    EXPECT_EQ(Control<QLineEdit>("txVersion")->text(), "1.1");
    EXPECT_EQ(Panel(1), "Total files: 2");
    EXPECT_FALSE(TreeFileKeys().contains("Mod.qvr.ifo"));

    Control<QLineEdit>("txVersion")->setText("1.2");
    Control<QPushButton>("cmdUpdate")->click();
    EXPECT_EQ(dialogs->Messages(), QStringList());
    QStringList infos;
    for (const qvr::sgFileInfo& e : arc.ArchiveFiles)
        if (QString::fromStdString(e.FileName()).endsWith(".ifo"))
            infos << QString::fromStdString(e.FileName());
    EXPECT_EQ(infos, QStringList({"Mod 1.1.qvr.ifo"}));
    ExpectDiskMatchesTree();

    // Two entries that could be it: none is, and the message says why, once.
    MakePackage(Path("Two.qvr"), QString::fromStdString(arc.TempFolder), {"Other.qvr.ifo"});
    QFile::copy(Path("Two.qvr"), Path("Two 2.qvr"));
    OpenThroughMenu(Path("Two 2.qvr"));
    ASSERT_EQ(dialogs->Messages().size(), 1);
    const QString said = dialogs->Messages()[0];
    EXPECT_TRUE(said.contains("Other.qvr.ifo, Two.qvr.ifo") ||
                said.contains("Two.qvr.ifo, Other.qvr.ifo"))
        << said.toStdString();
    EXPECT_EQ(said.count("holds"), 1) << said.toStdString();
    EXPECT_EQ(said.count("Two 2.qvr"), 1) << said.toStdString();
}

TEST_F(PackagerTest, MessagesSayWhatIsWrongOnce) {
    // A directory cut short is called damaged.
    MakePackage(Path("Cut.qvr"), QString::fromStdString(arc.TempFolder),
                {"a.esp", "Meshes\\b.nif", "Meshes\\c.nif"});
    {
        QFile f(Path("Cut.qvr"));
        ASSERT_TRUE(f.resize(f.size() - 20));
    }
    OpenThroughMenu(Path("Cut.qvr"));
    ASSERT_EQ(dialogs->Messages().size(), 1);
    EXPECT_TRUE(dialogs->Messages()[0].contains("is damaged"))
        << dialogs->Messages()[0].toStdString();
    EXPECT_FALSE(dialogs->Messages()[0].contains("not a number"));

    // A package without details says so once, not twice in other words.
    qvr::Archives bare;
    bare.TempFolder = arc.TempFolder;
    ASSERT_TRUE(bare.CreateArchive(Path("Bare.qvr").toStdString()));
    QString notice;
    ASSERT_TRUE(window->Session().Open(Path("Bare.qvr"), &notice).Ok());
    EXPECT_EQ(notice.count("holds no"), 1) << notice.toStdString();

    // A character the package cannot store is named before anything is written.
    dialogs->Calls.clear();
    NewThroughMenu(Path("P.qvr"));
    const QByteArray before = [&] {
        QFile f(Path("P.qvr"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    Control<QPlainTextEdit>("txAuthors")->setPlainText(QString::fromUtf8("Ann \xE5\xA1\x94"));
    Control<QPushButton>("cmdUpdate")->click();
    ASSERT_EQ(dialogs->Messages().size(), 1);
    EXPECT_TRUE(dialogs->Messages()[0].contains(QString::fromUtf8("\"\xE5\xA1\x94\" (U+5854)")))
        << dialogs->Messages()[0].toStdString();
    EXPECT_TRUE(dialogs->Messages()[0].contains("Author(s)"));
    QFile f(Path("P.qvr"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before);
    f.close();

    // A package deleted while open: the file is gone, said once for a whole selection.
    ASSERT_TRUE(QFile::remove(Path("P.qvr")));
    dialogs->Calls.clear();
    dialogs->OpenFilesAnswers.push_back(
        QStringList{Source("a.esp", 10), Source("b.esp", 10), Source("c.esp", 10)});
    Action("mAddfile")->trigger();
    ASSERT_EQ(dialogs->Messages().size(), 1);
    EXPECT_EQ(dialogs->Messages()[0].count("is gone"), 1) << dialogs->Messages()[0].toStdString();
    Control<QPlainTextEdit>("txAuthors")->setPlainText("Ann");
    Control<QPushButton>("cmdUpdate")->click();
    ASSERT_EQ(dialogs->Messages().size(), 2);
    EXPECT_TRUE(dialogs->Messages()[1].contains("is gone"));
    Click("Meshes");
    Action("mRemove")->trigger();
    ASSERT_EQ(dialogs->Messages().size(), 3);
    EXPECT_TRUE(dialogs->Messages()[2].contains("is gone"));
    EXPECT_TRUE(window->Tree().NodeExists("Meshes"));
    window.reset(); // nothing on disk to compare with
}

TEST_F(PackagerTest, StatusBarDatesNamesAndReadOnlyBoxes) {
    // A dotted name still gets the package extension.
    NewThroughMenu(Path("Tower v1.2"));
    EXPECT_TRUE(QFileInfo::exists(Path("Tower v1.2.qvr")));
    EXPECT_EQ(window->windowTitle(), "Morrowind QVR Packager: Tower v1.2.qvr");

    // Last Updated in the short-date form Date Archived has.
    Select(RootKey);
    AddThroughMenu({Source("a.esp", 100)});
    Click("a.esp");
    const QString updated = Control<QLineEdit>("txLastUpdate")->text();
    EXPECT_FALSE(updated.isEmpty());
    EXPECT_TRUE(Control<QLineEdit>("txDateArc")->text().startsWith(updated + " "))
        << updated.toStdString() << " / " << Control<QLineEdit>("txDateArc")->text().toStdString();

    // A long path is shortened in its middle, in full in the tooltip; the note stays in view.
    const QString deep = Path(QString(70, 'd') + "/" + QString(70, 'e') + "/Long Package.qvr");
    QDir().mkpath(QFileInfo(deep).path());
    NewThroughMenu(deep);
    window->resize(window->minimumSize());
    QCoreApplication::processEvents();
    auto* panel = window->findChild<packager::PathPanel*>("Panel3");
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->toolTip(), QDir::toNativeSeparators(deep));
    EXPECT_TRUE(panel->ShownText().contains(QChar(0x2026)) || panel->ShownText().contains("..."))
        << panel->ShownText().toStdString();
    EXPECT_TRUE(panel->ShownText().endsWith("Package.qvr")) << panel->ShownText().toStdString();
    EXPECT_LE(panel->geometry().right(), window->statusBar()->width());

    // A read-only zip file: the note stays, and the detail boxes look as read-only as they are.
    const QColor writable = Control<QLineEdit>("txPluginName")->palette().color(QPalette::Base);
    QByteArray zip("PK\x03\x04", 4);
    zip.append(QByteArray("\x14\0\0\0\0\0\0\0\0\0\0\0\0\0\x01\0\0\0\x01\0\0\0\x05\0\0\0", 26));
    zip.append("a.esp").append("x");
    zip.append("PK\x01\x02", 4).append(QByteArray(42, '\0'));
    const QString zipPath = Path(QString(70, 'd') + "/" + QString(70, 'e') + "/Mod.zip");
    QFile z(zipPath);
    ASSERT_TRUE(z.open(QIODevice::WriteOnly));
    z.write(zip);
    z.close();
    OpenThroughMenu(zipPath);
    ASSERT_TRUE(window->ReadOnly());
    QCoreApplication::processEvents();
    EXPECT_TRUE(panel->ShownText().startsWith("Read-only zip file: "));
    EXPECT_TRUE(panel->ShownText().endsWith("Mod.zip")) << panel->ShownText().toStdString();
    for (const char* name : {"txPluginName", "txVersion", "txLastUpdate"}) {
        EXPECT_TRUE(Control<QLineEdit>(name)->isReadOnly()) << name;
        EXPECT_NE(Control<QLineEdit>(name)->palette().color(QPalette::Base), writable) << name;
    }
    for (const char* name : {"txAuthors", "txDepends"})
        EXPECT_NE(Control<QPlainTextEdit>(name)->palette().color(QPalette::Base), writable) << name;
    NewThroughMenu(Path("After.qvr"));
    EXPECT_EQ(Control<QLineEdit>("txPluginName")->palette().color(QPalette::Base), writable);
}

TEST_F(PackagerTest, FileRowsMatchFolderRowsAndTheWindowKeepsItsShape) {
    NewThroughMenu(Path("P.qvr"));
    Select(RootKey);
    AddThroughMenu({Source("a.esp", 100)});
    QTreeWidget* tree = window->TreeWidget();
    QTreeWidgetItem* file = window->Tree().Node("a.esp");
    QTreeWidgetItem* folder = window->Tree().Node("Meshes");
    EXPECT_FALSE(file->icon(0).isNull());
    EXPECT_EQ(tree->visualItemRect(file).height(), tree->visualItemRect(folder).height());
    // Siblings' names start at one place: both rows carry an image of one size.
    EXPECT_EQ(file->icon(0).actualSize(QSize(64, 64)), folder->icon(0).actualSize(QSize(64, 64)));

    // The usual shortcuts; Delete removes only from the tree.
    EXPECT_EQ(Action("mNew")->shortcut(), QKeySequence("Ctrl+N"));
    EXPECT_EQ(Action("mOpen")->shortcut(), QKeySequence("Ctrl+O"));
    EXPECT_EQ(Action("mExit")->shortcut(), QKeySequence("Ctrl+Q"));
    EXPECT_EQ(Action("mRemove")->shortcut(), QKeySequence(Qt::Key_Delete));
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    Click("a.esp");
    tree->setFocus();
    dialogs->YesNoAnswers.push_back(true);
    QTest::keyClick(tree, Qt::Key_Delete);
    EXPECT_EQ(dialogs->CountOf(ScriptedDialogs::Kind::AskYesNo), 1);
    EXPECT_FALSE(arc.FindEntry("a.esp", ""));
    auto* name = Control<QLineEdit>("txPluginName");
    name->setFocus();
    name->setText("abc");
    name->setCursorPosition(0);
    QTest::keyClick(name, Qt::Key_Delete);
    EXPECT_EQ(name->text(), "bc");
    EXPECT_EQ(dialogs->CountOf(ScriptedDialogs::Kind::AskYesNo), 1);

    // However small it is made, the window keeps the tree usable and both frames whole.
    window->resize(100, 100);
    QCoreApplication::processEvents();
    EXPECT_GE(window->width(), window->minimumWidth());
    const QWidget* area = window->centralWidget();
    EXPECT_GE(tree->width(), 150);
    for (const char* frame : {"Frame1", "Frame2"}) {
        const QRect r = Control<QWidget>(frame)->geometry();
        EXPECT_GE(r.left(), tree->geometry().right()) << frame;
        EXPECT_LE(r.right(), area->width()) << frame;
        EXPECT_LE(r.bottom(), area->height()) << frame;
    }
}
