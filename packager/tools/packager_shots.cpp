// Renders every packager window to PNG, with a small sample package open:
//   packager_shots <folder>
// writes packager-main.png, packager-newfolder.png, packager-notes.png, packager-help.png,
// packager-about.png, packager-progress.png, packager-partial.png (an add in which one file was
// refused), packager-replace.png (the question when an added file is there already),
// packager-busy.png and packager-busy-progress.png (the window while a large file is compressed),
// packager-import.png (Import's question about a downloaded archive's numbered options) and
// packager-zip.png (a read-only zip file in the smallest window) into <folder>.

#include "ArchiveTree.h"
#include "Looks.h"
#include "PackageTree.h"
#include "ScriptedDialogsLite.h"
#include "frmAbout.h"
#include "frmHelp.h"
#include "frmImport.h"
#include "frmMain.h"
#include "frmNewFolder.h"
#include "frmNotes.h"
#include "frmSplash.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QLocale>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>

using namespace shared_windows;

namespace {

bool Save(QWidget* window, const QString& folder, const QString& name) {
    QApplication::processEvents();
    const QString path = QDir(folder).filePath(name);
    if (!window->grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

QString Sample(const QTemporaryDir& dir, const QString& name, int size) {
    const QString path = dir.filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        QByteArray bytes(size, '\0');
        for (int i = 0; i < size; ++i)
            bytes[i] = char("Balmora silt strider "[i % 21]);
        file.write(bytes);
    }
    return path;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: packager_shots <folder>\n");
        return 2;
    }
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;

    qvr::Archives archives;
    packager::frmMain window(archives);
    window.show();
    bool ok = true;
    if (!window.NewPackage(dir.filePath(QStringLiteral("Tower of Vos.qvr"))))
        return 1;

    window.AddFiles({Sample(dir, QStringLiteral("Tower of Vos.esp"), 48213)});
    ArchiveTree& tree = window.Tree();
    tree.Widget()->setCurrentItem(tree.Node(QStringLiteral("Meshes")));
    window.AddFolderNode(QStringLiteral("tower"), QStringLiteral("Meshes"));
    tree.Widget()->setCurrentItem(tree.Node(QStringLiteral("Meshes\\tower")));
    window.AddFiles({Sample(dir, QStringLiteral("tower_base.nif"), 120533),
                     Sample(dir, QStringLiteral("tower_top.nif"), 80412)});
    tree.Widget()->setCurrentItem(tree.Node(QStringLiteral("Textures")));
    window.AddFiles({Sample(dir, QStringLiteral("tx_tower_stone.tga"), 262188)});
    window.Splash()->hide();

    window.findChild<QLineEdit*>(QStringLiteral("txPluginName"))->setText("Tower of Vos");
    window.findChild<QLineEdit*>(QStringLiteral("txVersion"))->setText("1.2");
    window.findChild<QLineEdit*>(QStringLiteral("txLastUpdate"))->setText("12/07/2026");
    window.findChild<QPlainTextEdit*>(QStringLiteral("txAuthors"))->setPlainText("Dralen Vos");
    window.findChild<QPlainTextEdit*>(QStringLiteral("txDepends"))
        ->setPlainText("Morrowind.esm\nTribunal.esm");
    archives.PluginInfo.Notes("A watchtower on the road north of Vos.\r\n\r\n"
                              "Install with QVRInstaller, then tick Tower of Vos.esp in the "
                              "launcher's Data Files list.");
    window.cmdUpdate_Click();

    tree.Widget()->expandAll();
    QTreeWidgetItem* file = tree.Node(QStringLiteral("Meshes\\tower\\tower_base.nif"));
    tree.Widget()->setCurrentItem(file);
    emit window.TreeWidget()->NodeClick(file);
    ok = Save(&window, out, QStringLiteral("packager-main.png")) && ok;

    packager::frmNewFolder* newFolder = window.NewFolderDialog();
    newFolder->Selectedfolder(QStringLiteral("Meshes"));
    newFolder->show();
    newFolder->findChild<QLineEdit*>(QStringLiteral("txNewFolder"))->setText("armor");
    ok = Save(newFolder, out, QStringLiteral("packager-newfolder.png")) && ok;
    newFolder->hide();

    packager::frmNotes* notes = window.NotesDialog();
    notes->show();
    ok = Save(notes, out, QStringLiteral("packager-notes.png")) && ok;
    notes->hide();

    packager::frmHelp help(&window);
    help.show();
    ok = Save(&help, out, QStringLiteral("packager-help.png")) && ok;
    help.hide();

    frmAbout about(packager::AboutOptions(), &window);
    about.show();
    ok = Save(&about, out, QStringLiteral("packager-about.png")) && ok;
    about.hide();

    frmSplash* splash = window.Splash();
    splash->SetTitle(QStringLiteral("Compressing File tower_base.nif"));
    splash->CalcIncrement(6);
    splash->ShowModeless();
    splash->IncrProgress(0);
    splash->IncrProgress(0);
    ok = Save(splash, out, QStringLiteral("packager-progress.png")) && ok;
    splash->hide();

    // One file of three refused (it is empty): the window ends on what happened.
    {
        QuietDialogs quiet;
        tree.Widget()->setCurrentItem(tree.Node(QStringLiteral("Meshes\\tower")));
        window.AddFiles({Sample(dir, QStringLiteral("tower_roof.nif"), 4000),
                         Sample(dir, QStringLiteral("tower_flag.nif"), 0),
                         Sample(dir, QStringLiteral("tower_door.nif"), 5000)});
        ok = Save(window.Splash(), out, QStringLiteral("packager-partial.png")) && ok;
        window.Splash()->hide();
    }

    // A file the package holds already: the question, answered Skip once it is drawn.
    {
        QDir().mkpath(dir.filePath(QStringLiteral("again")));
        QTimer::singleShot(300, [&] {
            QWidget* question = QApplication::activeModalWidget();
            if (!question)
                return;
            ok = Save(question, out, QStringLiteral("packager-replace.png")) && ok;
            if (auto* skip = question->findChild<QPushButton*>(QStringLiteral("cmdSkip")))
                skip->click();
        });
        window.AddFiles({Sample(dir, QStringLiteral("again/tower_top.nif"), 300)});
        window.Splash()->hide();
    }

    // The main window while a large file is compressed: live, its tree closed to clicks.
    {
        bool saved = false;
        QTimer look;
        look.setInterval(20);
        QObject::connect(&look, &QTimer::timeout, [&] {
            if (saved || !window.Busy() || !window.Splash() || !window.Splash()->isVisible())
                return;
            saved = true;
            ok = Save(&window, out, QStringLiteral("packager-busy.png")) && ok;
            ok = Save(window.Splash(), out, QStringLiteral("packager-busy-progress.png")) && ok;
        });
        look.start();
        QFile big(dir.filePath(QStringLiteral("tx_tower_sky.dds")));
        if (big.open(QIODevice::WriteOnly)) {
            QByteArray noise(48'000'000, '\0');
            for (qsizetype i = 0; i < noise.size(); ++i)
                noise[i] = char((uint32_t(i) * 2654435761u) >> 24);
            big.write(noise);
            big.close();
        }
        tree.Widget()->setCurrentItem(tree.Node(QStringLiteral("Textures")));
        window.AddFiles({big.fileName(), Sample(dir, QStringLiteral("tx_tower_moss.dds"), 9000)});
        look.stop();
        window.Splash()->hide();
        ok = ok && saved;
    }

    // Import's question about the numbered options of a downloaded archive, drawn, then left.
    {
        packager::frmImport question(&window);
        QTimer::singleShot(300, [&] {
            ok = Save(&question, out, QStringLiteral("packager-import.png")) && ok;
            question.reject();
        });
        question.AskOptions(QStringLiteral("BiggerRocks-1.2.7z"),
                            {{0, "00", "Core", "BiggerRocks/00 Core", ""},
                             {1, "01", "Huge Rocks", "BiggerRocks/01 Huge Rocks", ""},
                             {2, "02", "Patch for Tamriel Rebuilt", "BiggerRocks/02 Patch", ""}});
    }

    // A zip file deep in the disk, in the smallest window the packager allows.
    const QString deep = dir.filePath(QStringLiteral("Downloads/Morrowind mods/2026/December"));
    QDir().mkpath(deep);
    QFile zip(QDir(deep).filePath(QStringLiteral("Tower of Vos 1.2.zip")));
    if (zip.open(QIODevice::WriteOnly)) {
        zip.write(QByteArray("PK\x03\x04\x14\0\0\0\0\0\0\0\0\0\0\0\0\0\x01\0\0\0\x01\0\0\0"
                             "\x05\0\0\0a.espxPK\x01\x02",
                             40));
        zip.write(QByteArray(42, '\0'));
        zip.close();
    }
    window.OpenPackage(zip.fileName());
    window.resize(window.minimumSize());
    ok = Save(&window, out, QStringLiteral("packager-zip.png")) && ok;
    return ok ? 0 : 1;
}
