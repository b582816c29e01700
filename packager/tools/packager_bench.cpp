// Times the packager window on a large package: opening it (tree and details), adding one file,
// removing one file and removing a folder, each through the window's own procedures; the
// folder's removal also as `qvr remove` does it (open, one rebuild) and, given its path, by qvr.
//   packager_bench [entries] [files in the folder removed] [path of qvr]
//   (defaults 5000 and 2000)

#include "ArchiveTree.h"
#include "PackageTree.h"
#include "ScriptedDialogsLite.h"
#include "frmMain.h"
#include "frmSplash.h"
#include "qvr/package/BatchAdd.h"
#include "qvr/platform/FileUtils.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>

using namespace shared_windows;

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 5000;
    const int folderFiles = argc > 2 ? std::atoi(argv[2]) : 2000;
    const QString tool = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    QTemporaryDir dir;
    QuietDialogs quiet;

    // The package: count small files spread over 50 folders below Meshes, plus its details.
    const std::string package = dir.filePath("Big.qvr").toStdString();
    {
        qvr::Archives a;
        a.TempFolder = QDir::toNativeSeparators(dir.path()).toStdString() + qvr::NativeSeparator();
        a.CreateArchive(package);
        a.PluginInfo.PluginName("Big");
        a.PluginInfo.SavePluginData(a, "Big.qvr");
        std::vector<qvr::BatchFile> files;
        QDir().mkpath(dir.filePath("src"));
        for (int i = 0; i < count; ++i) {
            const QString src = dir.filePath(QStringLiteral("src/f%1.nif").arg(i));
            QFile f(src);
            f.open(QIODevice::WriteOnly);
            f.write(QByteArray(200 + i % 300, char('a' + i % 26)));
            // The last folderFiles files go into one folder of their own, removed at the end.
            const std::string folder = i >= count - folderFiles
                                           ? "Meshes\\Doomed\\d" + std::to_string(i % 7)
                                           : "Meshes\\d" + std::to_string(i % 50);
            files.push_back({src.toStdString(), "f" + std::to_string(i) + ".nif", folder});
        }
        qvr::AddFilesToArchive(a, files);
    }
    const QString extra = dir.filePath("extra.esp");
    {
        QFile f(extra);
        f.open(QIODevice::WriteOnly);
        f.write(QByteArray(5000, 'e'));
    }

    qvr::Archives arc;
    packager::frmMain window(arc);
    window.show();
    QElapsedTimer clock;

    clock.start();
    window.OpenPackage(QString::fromStdString(package));
    const qint64 open = clock.elapsed();

    clock.restart();
    window.AddFiles({extra});
    const qint64 add = clock.elapsed();
    window.Splash()->hide();

    QTreeWidgetItem* node = window.Tree().Node(QStringLiteral("Meshes\\d7\\f7.nif"));
    window.TreeWidget()->setCurrentItem(node);
    clock.restart();
    window.mRemove_Click();
    const qint64 remove = clock.elapsed();

    // The folder: through the window, and as qvr remove does it, each on its own copy.
    const QString copy = dir.filePath("Copy.qvr");
    QFile::copy(QString::fromStdString(package), copy);
    QFile::copy(QString::fromStdString(package), dir.filePath("Tool.qvr"));
    window.OpenPackage(copy);
    window.TreeWidget()->setCurrentItem(window.Tree().Node(QStringLiteral("Meshes\\Doomed")));
    clock.restart();
    window.mRemove_Click();
    const qint64 removeFolder = clock.elapsed();
    window.Splash()->hide();

    clock.restart();
    qvr::Archives library;
    library.TempFolder = arc.TempFolder;
    library.OpenArchive(dir.filePath("Tool.qvr").toStdString());
    std::vector<size_t> doomed;
    for (size_t i = 0; i < library.ArchiveFiles.size(); ++i)
        if (library.ArchiveFiles[i].FilePath().starts_with("Meshes\\Doomed"))
            doomed.push_back(i);
    library.RemoveEntries(doomed);
    const qint64 removeLibrary = clock.elapsed();
    qint64 removeTool = -1;
    if (!tool.isEmpty()) {
        QFile::copy(QString::fromStdString(package), dir.filePath("Qvr.qvr"));
        clock.restart();
        QProcess::execute(tool, {"remove", "-q", dir.filePath("Qvr.qvr"), "Meshes/Doomed"});
        removeTool = clock.elapsed();
    }

    std::printf("package of %d entries, %lld bytes\n", count,
                static_cast<long long>(qvr::FileLength(package)));
    std::printf("open (read, check, tree, details): %lld ms\n", static_cast<long long>(open));
    std::printf("add one file:                      %lld ms\n", static_cast<long long>(add));
    std::printf("remove one file (one rebuild):     %lld ms\n", static_cast<long long>(remove));
    std::printf("remove a folder of %d files:     %lld ms (window)\n", folderFiles,
                static_cast<long long>(removeFolder));
    std::printf("  the same as qvr remove does it:  %lld ms (open, one rebuild)\n",
                static_cast<long long>(removeLibrary));
    if (removeTool >= 0)
        std::printf("  the same by qvr remove:          %lld ms (a process)\n",
                    static_cast<long long>(removeTool));
    const bool removed = window.Session().FileCount() == count - folderFiles;
    return removed && library.ArchiveFiles.size() == size_t(count - folderFiles) + 1 ? 0 : 1;
}
