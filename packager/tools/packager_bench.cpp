// Times the packager window on a large package: opening it (tree and details), adding one file,
// adding a folder (into an empty package and into the large one, wall and CPU time), removing
// one file and removing a folder, each through the window's own procedures; the folder's
// removal also as `qvr remove` does it (open, one rebuild) and, given its path, by qvr.
//   packager_bench [entries] [files in the folder removed and added] [path of qvr]
//                  [folder to add, instead of one made here]
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
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

using namespace shared_windows;

namespace {

// A step the figures depend on: the bench cannot go on without it.
void Must(const qvr::Result& done, const char* what) {
    if (done)
        return;
    std::fprintf(stderr, "packager_bench: %s: %s\n", what, done.Message.c_str());
    std::exit(1);
}

struct Took {
    qint64 Ms = 0;
    double Cpu = 0; // seconds of every thread of the process
};

// Adds the folder to the package open in the window, as Add folder... does; answers how long
// it took and whether every file went in.
Took AddFolder(packager::frmMain& window, const QString& folder, qint64 files, bool& complete) {
    const qint64 before = window.Session().FileCount();
    QElapsedTimer clock;
    clock.start();
    const std::clock_t cpu = std::clock();
    window.FolderChooser = [&](QWidget*, const QString&) { return std::optional(folder); };
    window.TreeWidget()->clearSelection();
    window.mAddfolder_Click();
    Took took{clock.elapsed(), double(std::clock() - cpu) / CLOCKS_PER_SEC};
    window.Splash()->hide();
    complete = window.Session().FileCount() == before + files;
    return took;
}

// A folder of small files in a few folders below it, of the sizes a mod's meshes have.
void MakeFolder(const QString& folder, int files) {
    for (int i = 0; i < files; ++i) {
        const QString sub = folder + QStringLiteral("/m%1").arg(i % 20);
        QDir().mkpath(sub);
        QFile f(sub + QStringLiteral("/a%1.nif").arg(i));
        f.open(QIODevice::WriteOnly);
        QByteArray data;
        for (int k = 0; k < 40 + i % 60; ++k)
            data += QByteArray::number(i * 7919 + k * 104729) + ' ';
        f.write(data);
    }
}

qint64 FilesIn(const QString& folder) {
    qint64 n = 0;
    for (QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories); it.hasNext();
         it.next())
        ++n;
    return n;
}

// count small files spread over 50 folders below Meshes, the last folderFiles of them in a
// folder of their own (removed at the end), plus the package's details.
void MakePackage(const QTemporaryDir& dir, const std::string& package, int count, int folderFiles) {
    qvr::Archives a;
    a.TempFolder = QDir::toNativeSeparators(dir.path()).toStdString() + qvr::NativeSeparator();
    Must(a.CreateArchive(package), "creating the package");
    a.PluginInfo.PluginName("Big");
    Must(a.PluginInfo.SavePluginData(a, "Big.qvr"), "saving its details");
    std::vector<qvr::BatchFile> files;
    QDir().mkpath(dir.filePath("src"));
    for (int i = 0; i < count; ++i) {
        const QString src = dir.filePath(QStringLiteral("src/f%1.nif").arg(i));
        QFile f(src);
        f.open(QIODevice::WriteOnly);
        f.write(QByteArray(200 + i % 300, char('a' + i % 26)));
        const std::string folder = i >= count - folderFiles
                                       ? "Meshes\\Doomed\\d" + std::to_string(i % 7)
                                       : "Meshes\\d" + std::to_string(i % 50);
        files.push_back({src.toStdString(), "f" + std::to_string(i) + ".nif", folder});
    }
    qvr::AddFilesToArchive(a, files);
}

// Add folder... of the same folder into a new, empty package and into a copy of the large
// one, in turn, three rounds; prints the medians and the ratio of the CPU times pair by pair.
// Answers whether every file went in every time.
bool TimeFolderAdds(packager::frmMain& window, const QTemporaryDir& dir, const QString& large,
                    QString folder, int files) {
    if (folder.isEmpty()) {
        folder = dir.filePath("AddMe");
        MakeFolder(folder, files);
    }
    const qint64 given = FilesIn(folder);
    constexpr int kRounds = 3;
    std::vector<Took> empty, full;
    std::vector<double> ratios;
    bool complete = true;
    qint64 held = 0;
    for (int r = 0; r < kRounds; ++r) {
        bool went = false;
        window.NewPackage(dir.filePath(QStringLiteral("Empty%1.qvr").arg(r)));
        empty.push_back(AddFolder(window, folder, given, went));
        complete = complete && went;
        const QString copy = dir.filePath(QStringLiteral("Large%1.qvr").arg(r));
        QFile::copy(large, copy);
        window.OpenPackage(copy);
        held = window.Session().FileCount();
        full.push_back(AddFolder(window, folder, given, went));
        complete = complete && went;
        ratios.push_back(empty.back().Cpu > 0 ? full.back().Cpu / empty.back().Cpu : 0.0);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    auto ms = [&](const std::vector<Took>& t) {
        std::vector<double> v;
        for (const Took& x : t)
            v.push_back(double(x.Ms));
        return median(v);
    };
    auto cpu = [&](const std::vector<Took>& t) {
        std::vector<double> v;
        for (const Took& x : t)
            v.push_back(x.Cpu);
        return median(v);
    };
    std::printf("add a folder of %lld files (medians of %d rounds):\n",
                static_cast<long long>(given), kRounds);
    std::printf("  into an empty package:           %.0f ms, %.2f s CPU\n", ms(empty), cpu(empty));
    std::printf("  into one of %lld files:        %.0f ms, %.2f s CPU (%.2fx the CPU)\n",
                static_cast<long long>(held), ms(full), cpu(full), median(ratios));
    return complete;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 5000;
    const int folderFiles = argc > 2 ? std::atoi(argv[2]) : 2000;
    const QString tool = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    const QString addFolder = argc > 4 ? QString::fromLocal8Bit(argv[4]) : QString();
    QTemporaryDir dir;
    QuietDialogs quiet;

    // The package: count small files spread over 50 folders below Meshes, plus its details.
    const std::string package = dir.filePath("Big.qvr").toStdString();
    MakePackage(dir, package, count, folderFiles);
    const QString pristine = dir.filePath("AddInto.qvr");
    QFile::copy(QString::fromStdString(package), pristine);
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
    Must(library.OpenArchive(dir.filePath("Tool.qvr").toStdString()), "opening the package");
    std::vector<size_t> doomed;
    for (size_t i = 0; i < library.ArchiveFiles.size(); ++i)
        if (library.ArchiveFiles[i].FilePath().starts_with("Meshes\\Doomed"))
            doomed.push_back(i);
    Must(library.RemoveEntries(doomed), "removing the folder");
    const qint64 removeLibrary = clock.elapsed();
    qint64 removeTool = -1;
    if (!tool.isEmpty()) {
        QFile::copy(QString::fromStdString(package), dir.filePath("Qvr.qvr"));
        clock.restart();
        QProcess::execute(tool, {"remove", "-q", dir.filePath("Qvr.qvr"), "Meshes/Doomed"});
        removeTool = clock.elapsed();
    }

    std::printf("package of %d entries, %lld bytes\n", count,
                static_cast<long long>(qvr::FileLength(package).value_or(0)));
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
    const bool added = TimeFolderAdds(window, dir, pristine, addFolder, folderFiles);
    return added && removed && library.ArchiveFiles.size() == size_t(count - folderFiles) + 1 ? 0
                                                                                              : 1;
}
