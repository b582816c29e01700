// Every window of the packager filled with long values: no text may be cut off or drawn below
// 8 points. Read only: the windows are made and looked at, nothing is changed.
#include "PackagerFixture.h"

#include "Looks.h"
#include "PathPanel.h"
#include "TextChecks.h"
#include "frmAbout.h"
#include "frmHelp.h"
#include "frmNewFolder.h"
#include "frmNotes.h"
#include "frmSplash.h"

#include <QCoreApplication>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextDocument>

using namespace packager;

namespace {

void ExpectReadable(QWidget& window, const char* name) {
    const QString folder = qEnvironmentVariable("QVR_WINDOW_PICTURES");
    QCoreApplication::processEvents(); // scroll bars and the status bar settle after a change
    const QPixmap picture = window.grab();
    EXPECT_FALSE(picture.isNull()) << name;
    if (!folder.isEmpty())
        picture.save(QDir(folder).filePath(QStringLiteral("packager-") + name + ".png"));
    const QStringList problems = TextProblems(&window);
    EXPECT_TRUE(problems.isEmpty()) << name << ":\n" << problems.join('\n').toStdString();
}

} // namespace

TEST_F(PackagerTest, EveryWindowShowsLongValuesReadably) {
    NewThroughMenu(Path("The Great House Telvanni Expansion.qvr"));
    AddThroughMenu({Source("telvanni_tower_of_the_archmagister_gothren.esp", 10)});
    const QString name = "The Great House Telvanni Expansion of Sadrith Mora, Volume 2";
    ASSERT_EQ(name.size(), 60);
    Control<QLineEdit>("txPluginName")->setText(name);
    Control<QLineEdit>("txVersion")->setText("1.2.3-beta.4+build.20261207.77");
    QStringList modules;
    for (int i = 1; i <= 12; ++i)
        modules << QStringLiteral("Required_Module_Number_%1.esm").arg(i);
    Control<QPlainTextEdit>("txDepends")->setPlainText(modules.join('\n'));
    window->resize(window->minimumSize().expandedTo(window->size()));
    window->show();
    ExpectReadable(*window, "main");
    // The smallest window narrows only the tree and the status bar's path.
    window->resize(window->minimumSize());
    ExpectReadable(*window, "main-smallest");
    // Each required module keeps to its own line, however narrow its box.
    EXPECT_EQ(Control<QPlainTextEdit>("txDepends")->document()->lineCount(), 12);

    frmHelp help(window.get());
    help.show();
    ExpectReadable(help, "help");

    frmNewFolder* folder = window->NewFolderDialog();
    folder->show();
    ExpectReadable(*folder, "newfolder");
    folder->hide();

    frmNotes* notes = window->NotesDialog();
    notes->show();
    ExpectReadable(*notes, "notes");
    notes->hide();

    frmAbout about(AboutOptions(), window.get());
    about.show();
    ExpectReadable(about, "about");

    frmSplash progress(window.get());
    progress.SetTitle("Compressing File telvanni_tower_of_the_archmagister_gothren.esp");
    progress.CalcIncrement(2);
    progress.show();
    progress.IncrProgress(0);
    ExpectReadable(progress, "progress");
}

// Pieces of a path measured one by one can come to more than their whole: at every width the
// path panel holds only what it can show, the note kept.
TEST_F(PackagerTest, ThePathPanelHoldsOnlyWhatFitsAtEveryWidth) {
    PathPanel panel;
    panel.setFrameShape(QFrame::Panel); // as in the status bar: the text is set in
    panel.setFrameShadow(QFrame::Sunken);
    panel.show();
    for (const QString& note : {QString(), QStringLiteral("Read-only zip file: ")}) {
        for (const char* folder : {"QQbyPe", "Qx7bPe", "VIOFFu", "mmWWii"}) {
            const QString path = QStringLiteral("/tmp/packager_tests-%1/The Great House Telvanni "
                                                "Expansion.qvr")
                                     .arg(QLatin1String(folder));
            panel.SetPath(note, path);
            EXPECT_EQ(panel.FullText(), note + path);
            EXPECT_EQ(panel.toolTip(), path);
            for (int width = panel.minimumSizeHint().width(); width < 500; ++width) {
                panel.resize(width, 20);
                const QStringList problems = TextProblems(&panel);
                EXPECT_TRUE(problems.isEmpty())
                    << width << ": " << problems.join('\n').toStdString();
                EXPECT_TRUE(panel.text().startsWith(note)) << width;
            }
        }
    }
}
