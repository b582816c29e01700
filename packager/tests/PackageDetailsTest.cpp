// Start-up, the Package Details and File Details frames, the notes editor and the window's
// own events.

#include "PackagerFixture.h"

#include "PackagerLogic.h"
#include "Twips.h"
#include "frmHelp.h"
#include "frmNewFolder.h"
#include "frmNotes.h"

#include <QApplication>
#include <QFocusEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>

using namespace shared_windows;

using packager::RootKey;

namespace {

// Answers the notes editor once it is shown: its text is replaced by text (unless null) and
// button pressed. What it showed on opening goes to *shown.
void AnswerNotes(const QString& text, const char* button, QString* shown = nullptr) {
    WhenModalShown([=](QWidget* modal) {
        auto* box = modal->findChild<QPlainTextEdit*>("txNotes");
        if (shown)
            *shown = box->toPlainText();
        if (!text.isNull())
            box->setPlainText(text);
        modal->findChild<QPushButton*>(button)->click();
    });
}

qvr::sgPlugInfo ReadInfo(const QString& package, const std::string& tempFolder) {
    qvr::Archives a;
    a.TempFolder = tempFolder;
    EXPECT_TRUE(a.OpenArchive(package.toStdString()));
    EXPECT_TRUE(a.PluginInfo.GetPluginData(a, QFileInfo(package).fileName().toStdString()));
    return a.PluginInfo;
}

} // namespace

TEST_F(PackagerTest, StartUpHasNoPackageAndNothingThatNeedsOne) {
    EXPECT_EQ(window->windowTitle(), "Morrowind QVRfile Packager");
    EXPECT_EQ(window->TreeWidget()->topLevelItemCount(), 0);
    EXPECT_TRUE(arc.CurrentArchive.empty());
    for (const char* name : {"mAddfile", "mRemove", "mNewFolder"})
        EXPECT_FALSE(Action(name)->isEnabled()) << name;
    EXPECT_FALSE(Control<QPushButton>("cmdUpdate")->isEnabled());
    EXPECT_FALSE(Control<QPushButton>("cmdNotes")->isEnabled());
    for (const char* name : {"mNew", "mOpen", "mExit", "mContents", "mAbout"})
        EXPECT_TRUE(Action(name)->isEnabled()) << name;

    // Menus in order, the Package menu doubling as the tree's pop-up menu.
    QStringList menus;
    for (QAction* a : window->menuBar()->actions())
        menus << a->text();
    EXPECT_EQ(menus, QStringList({"&File", "&Package", "&Help"}));
    QStringList items;
    for (QAction* a : Control<QMenu>("mnuPackage")->actions())
        items << (a->isSeparator() ? "-" : a->text());
    EXPECT_EQ(items,
              QStringList({"&Add file...", "Add &folder...", "&Remove", "-", "&New Folder..."}));
}

TEST_F(PackagerTest, NodeClicksSetRemoveAndFileDetails) {
    NewThroughMenu(Path("P.qvr"));
    Select("Icons");
    AddThroughMenu({Source("i.tga", 1234567)});
    Click("Icons\\i.tga");
    EXPECT_EQ(Control<QLineEdit>("txFileSize")->text(), "1,234,567");
    EXPECT_TRUE(Action("mRemove")->isEnabled());

    Click(RootKey);
    EXPECT_FALSE(Action("mRemove")->isEnabled());
    for (const char* box : {"txFileName", "txFileDate", "txFileSize", "txDateArc", "txComprSize"})
        EXPECT_TRUE(Control<QLineEdit>(box)->text().isEmpty()) << box;

    Click("Icons\\i.tga");
    Click("Icons");
    EXPECT_TRUE(Action("mRemove")->isEnabled());
    EXPECT_TRUE(Control<QLineEdit>("txFileName")->text().isEmpty());

    // The right button selects without the click handling (File Details stay as they were), but
    // offers Remove for the node under it; nodes are never edited in place.
    Click(RootKey);
    QTreeWidgetItem* file = window->Tree().Node("Icons\\i.tga");
    QTreeWidget* tree = window->TreeWidget();
    const QPoint at = tree->visualItemRect(file).center();
    QMouseEvent press(QEvent::MouseButtonPress, at, tree->viewport()->mapToGlobal(at),
                      Qt::RightButton, Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(tree->viewport(), &press);
    EXPECT_EQ(tree->currentItem(), file);
    EXPECT_TRUE(Action("mRemove")->isEnabled());
    EXPECT_TRUE(Control<QLineEdit>("txFileName")->text().isEmpty());
    Control<QMenu>("mnuPackage")->hide();

    // Moving with the keyboard counts as a click on the node reached.
    Click("Icons");
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(tree, &down);
    EXPECT_EQ(tree->currentItem(), file);
    EXPECT_EQ(Control<QLineEdit>("txFileName")->text(), "i.tga");
    EXPECT_FALSE(file->flags() & Qt::ItemIsEditable);
    EXPECT_EQ(tree->editTriggers(), QAbstractItemView::NoEditTriggers);
}

TEST_F(PackagerTest, APressDraggedToAnotherNodeCountsAsAClickOnIt) {
    NewThroughMenu(Path("P.qvr"));
    Select("Icons");
    AddThroughMenu({Source("i.tga", 300)});
    window->TreeWidget()->expandAll();
    QTreeWidget* tree = window->TreeWidget();
    auto mouse = [&](QEvent::Type type, const QString& key, Qt::MouseButton button,
                     Qt::MouseButtons buttons) {
        const QPoint at = tree->visualItemRect(window->Tree().Node(key)).center();
        QMouseEvent event(type, at, tree->viewport()->mapToGlobal(at), button, buttons,
                          Qt::NoModifier);
        QApplication::sendEvent(tree->viewport(), &event);
    };
    auto drag = [&](const QString& from, const QString& over, const QString& to) {
        mouse(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
        mouse(QEvent::MouseMove, over, Qt::NoButton, Qt::LeftButton);
        mouse(QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
        mouse(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
    };

    // Gone down on the root node, let go on the file: the file is selected, so Remove and File
    // Details must describe it, not the root node.
    Click(RootKey);
    drag(RootKey, "Fonts", "Icons\\i.tga");
    ASSERT_EQ(tree->currentItem(), window->Tree().Node("Icons\\i.tga"));
    EXPECT_TRUE(Action("mRemove")->isEnabled());
    EXPECT_EQ(Control<QLineEdit>("txFileName")->text(), "i.tga");

    drag("Icons\\i.tga", "Icons", RootKey);
    ASSERT_EQ(tree->currentItem(), window->Tree().Node(RootKey));
    EXPECT_FALSE(Action("mRemove")->isEnabled());
    EXPECT_TRUE(Control<QLineEdit>("txFileName")->text().isEmpty());
}

TEST_F(PackagerTest, UpdateDetailsIsAvailableOnlyAfterAnEdit) {
    NewThroughMenu(Path("P.qvr"));
    auto* update = Control<QPushButton>("cmdUpdate");
    EXPECT_FALSE(update->isEnabled());
    EXPECT_EQ(Control<QLineEdit>("txPluginName")->text(), "P.qvr");
    EXPECT_EQ(Control<QLineEdit>("txVersion")->text(), "1.0");

    // Typing a character and deleting it again leaves it available: texts are not compared.
    auto* version = Control<QLineEdit>("txVersion");
    version->setText("1.01");
    version->setText("1.0");
    EXPECT_TRUE(update->isEnabled());
    dialogs->YesNoAnswers.push_back(true); // the typed details may go
    OpenThroughMenu(Path("P.qvr"));
    EXPECT_FALSE(update->isEnabled());
    Control<QPlainTextEdit>("txDepends")->setPlainText("Morrowind.esm");
    EXPECT_TRUE(update->isEnabled());
}

TEST_F(PackagerTest, UpdateDetailsThenOpenShowsTheWrittenValues) {
    NewThroughMenu(Path("Tower.qvr"));
    Select(RootKey);
    AddThroughMenu({Source("tower.esp", 700)});
    Control<QLineEdit>("txPluginName")->setText("Tower of Vos");
    Control<QLineEdit>("txVersion")->setText("1.2");
    Control<QLineEdit>("txLastUpdate")->setText("7 Dec 2026");
    Control<QPlainTextEdit>("txAuthors")->setPlainText("Dralen\nAnd a friend");
    Control<QPlainTextEdit>("txDepends")->setPlainText("Morrowind.esm");
    AnswerNotes("First line\n\nThird line", "OKButton");
    Control<QPushButton>("cmdNotes")->click();
    Control<QPushButton>("cmdUpdate")->click();
    EXPECT_FALSE(Control<QPushButton>("cmdUpdate")->isEnabled());
    EXPECT_EQ(dialogs->Messages(), QStringList());
    ExpectDiskMatchesTree();
    // The information entry is replaced, not added: still one, and it is the last entry.
    EXPECT_EQ(arc.ArchiveFiles.back().FileName(), "Tower.qvr.ifo");
    EXPECT_EQ(Panel(2), "File size: " + QLocale().toString(QFileInfo(Path("Tower.qvr")).size()));

    // Line breaks are stored as CR LF.
    const qvr::sgPlugInfo stored = ReadInfo(Path("Tower.qvr"), arc.TempFolder);
    EXPECT_EQ(stored.Notes(), "First line\r\n\r\nThird line");
    EXPECT_EQ(stored.Authors(), "Dralen\r\nAnd a friend");

    NewThroughMenu(Path("Other.qvr"));
    OpenThroughMenu(Path("Tower.qvr"));
    EXPECT_EQ(Control<QLineEdit>("txPluginName")->text(), "Tower of Vos");
    EXPECT_EQ(Control<QLineEdit>("txVersion")->text(), "1.2");
    EXPECT_EQ(Control<QLineEdit>("txLastUpdate")->text(), "7 Dec 2026");
    EXPECT_EQ(Control<QPlainTextEdit>("txAuthors")->toPlainText(), "Dralen\nAnd a friend");
    EXPECT_EQ(Control<QPlainTextEdit>("txDepends")->toPlainText(), "Morrowind.esm");
    QString shown;
    AnswerNotes(QString(), "CancelButton", &shown);
    Control<QPushButton>("cmdNotes")->click();
    EXPECT_EQ(shown, "First line\n\nThird line");
}

TEST_F(PackagerTest, NotesEditorOkAndCancel) {
    NewThroughMenu(Path("P.qvr"));
    auto* update = Control<QPushButton>("cmdUpdate");

    AnswerNotes("Typed, then cancelled", "CancelButton");
    Control<QPushButton>("cmdNotes")->click();
    EXPECT_EQ(arc.PluginInfo.Notes(), "");
    EXPECT_FALSE(update->isEnabled());

    QString shown = "not shown";
    AnswerNotes("Kept\nlines", "OKButton", &shown);
    Control<QPushButton>("cmdNotes")->click();
    EXPECT_EQ(shown, ""); // the cancelled text was not kept
    EXPECT_EQ(arc.PluginInfo.Notes(), "Kept\r\nlines");
    EXPECT_TRUE(update->isEnabled());

    AnswerNotes("Changed again", "CancelButton", &shown);
    Control<QPushButton>("cmdNotes")->click();
    EXPECT_EQ(shown, "Kept\nlines");
    EXPECT_EQ(arc.PluginInfo.Notes(), "Kept\r\nlines");

    // Not written until Update Details: opening the package again loses them, after a question.
    dialogs->YesNoAnswers.push_back(true);
    OpenThroughMenu(Path("P.qvr"));
    EXPECT_EQ(arc.PluginInfo.Notes(), "");
}

TEST_F(PackagerTest, AFailedUpdateKeepsThePreviousDetails) {
    NewThroughMenu(Path("P.qvr"));
    Control<QLineEdit>("txPluginName")->setText("Good name");
    Control<QPushButton>("cmdUpdate")->click();
    // A character the package's texts cannot hold.
    Control<QLineEdit>("txPluginName")->setText(QString::fromUtf8("\xE5\xA1\x94 tower"));
    Control<QPushButton>("cmdUpdate")->click();
    ASSERT_EQ(dialogs->Messages().size(), 1);
    EXPECT_TRUE(dialogs->Messages()[0].contains("could not be written"));
    EXPECT_TRUE(Control<QPushButton>("cmdUpdate")->isEnabled());
    EXPECT_EQ(ReadInfo(Path("P.qvr"), arc.TempFolder).PluginName(), "Good name");
    ExpectDiskMatchesTree();
}

TEST_F(PackagerTest, EnteringTheOneLineBoxesSelectsTheirText) {
    NewThroughMenu(Path("P.qvr"));
    for (const char* name : {"txPluginName", "txVersion", "txLastUpdate"}) {
        auto* box = Control<QLineEdit>(name);
        box->deselect();
        QFocusEvent in(QEvent::FocusIn, Qt::MouseFocusReason);
        QApplication::sendEvent(box, &in);
        EXPECT_EQ(box->selectedText(), box->text()) << name;
        EXPECT_FALSE(box->text().isEmpty()) << name;
    }
    auto* authors = Control<QPlainTextEdit>("txAuthors");
    authors->setPlainText("Someone");
    QTextCursor c = authors->textCursor();
    c.clearSelection();
    authors->setTextCursor(c);
    QFocusEvent in(QEvent::FocusIn, Qt::MouseFocusReason);
    QApplication::sendEvent(authors, &in);
    EXPECT_TRUE(authors->textCursor().selectedText().isEmpty());
}

TEST_F(PackagerTest, ResizeMovesTheFramesAndSizesTheTree) {
    auto* frame1 = Control<QGroupBox>("Frame1");
    auto* frame2 = Control<QGroupBox>("Frame2");
    QWidget* tree = window->TreeWidget();
    window->resize(900, 600);
    QApplication::processEvents();
    const int area = window->centralWidget()->width();
    EXPECT_NEAR(frame1->geometry().right(), area - 6, 2);
    EXPECT_EQ(frame2->x(), frame1->x());
    EXPECT_NEAR(frame1->x() - tree->geometry().right(), 14, 2);
    EXPECT_EQ(tree->height(), window->centralWidget()->height());
    EXPECT_EQ(frame1->y(), 0);

    // Too narrow for the tree (below the window's own minimum): the frames move, the tree keeps
    // its size; nothing is reported.
    const QSize before = tree->size();
    window->setMinimumSize(0, 0);
    window->resize(200, 600);
    QApplication::processEvents();
    EXPECT_LT(frame1->x(), 0);
    EXPECT_EQ(tree->size(), before);
    EXPECT_EQ(dialogs->Messages(), QStringList());
}

TEST_F(PackagerTest, ClosingTheWindowEndsTheProgramLikeExit) {
    int exits = 0;
    QObject::connect(window.get(), &packager::frmMain::Exited, [&] { ++exits; });
    window->close();
    EXPECT_EQ(exits, 1);
    window->show();
    Action("mExit")->trigger();
    EXPECT_EQ(exits, 2);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(PackagerTest, ContentsAndAboutOpenTheirWindows) {
    QString title;
    WhenModalShown([&](QWidget* modal) {
        title = modal->windowTitle();
        modal->close();
    });
    Action("mContents")->trigger();
    EXPECT_EQ(title, "QVRPackager Help");
    QString name;
    WhenModalShown([&](QWidget* modal) {
        name = modal->objectName();
        modal->close();
    });
    Action("mAbout")->trigger();
    EXPECT_EQ(name, "frmAbout");
}

TEST_F(PackagerTest, NoCaptionIsClipped) {
    NewThroughMenu(Path("P.qvr"));
    window->NotesDialog()->show();
    window->NewFolderDialog()->show();
    packager::frmHelp help(window.get());
    help.show();
    for (QWidget* top :
         {static_cast<QWidget*>(window.get()), static_cast<QWidget*>(window->NotesDialog()),
          static_cast<QWidget*>(window->NewFolderDialog()), static_cast<QWidget*>(&help)}) {
        for (QWidget* w : top->findChildren<QWidget*>()) {
            if (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w)) {
                EXPECT_TRUE(TextFits(w))
                    << top->objectName().toStdString() << ": " << w->objectName().toStdString();
            }
        }
    }
    window->NotesDialog()->hide();
    window->NewFolderDialog()->hide();
}
