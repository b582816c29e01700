// Times the packager window on a large package: opening it (tree and details), adding one file
// and removing one file, each through the window's own procedures.
//   packager_bench [entries]     (default 5000)

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
            files.push_back({src.toStdString(), "f" + std::to_string(i) + ".nif",
                             "Meshes\\d" + std::to_string(i % 50)});
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

    std::printf("package of %d entries, %lld bytes\n", count,
                static_cast<long long>(qvr::FileLength(package)));
    std::printf("open (read, check, tree, details): %lld ms\n", static_cast<long long>(open));
    std::printf("add one file:                      %lld ms\n", static_cast<long long>(add));
    std::printf("remove one file (one rebuild):     %lld ms\n", static_cast<long long>(remove));
    return arc.ArchiveFiles.size() == size_t(count) + 1 ? 0 : 1;
}
