// Fills the tree with growing numbers of entries, spread over nested folders, and prints the
// time each fill takes; the time per entry stays flat because keys are looked up in an index.
#include "ArchiveTree.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTreeWidget>
#include <cstdio>

using namespace shared_windows;

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::printf("%10s %12s %14s\n", "entries", "fill ms", "us per entry");
    for (int n : {1000, 5000, 10000, 20000, 40000}) {
        std::vector<qvr::sgFileInfo> entries;
        for (int i = 0; i < n; ++i) {
            qvr::sgFileInfo e;
            e.FilePath("Meshes\\Set" + std::to_string(i % 97) + "\\Part" + std::to_string(i % 13));
            e.FileName("file" + std::to_string(i) + ".nif");
            entries.push_back(e);
        }
        QTreeWidget widget;
        ArchiveTree tree(&widget, ArchiveTree::Options{});
        QElapsedTimer clock;
        clock.start();
        for (const auto& e : entries)
            (void)tree.AddFileNode(e, "bench.qvr.ifo"); // names are unique
        tree.ExpandAll();
        const double ms = clock.nsecsElapsed() / 1e6;
        std::printf("%10d %12.1f %14.2f\n", n, ms, ms * 1000.0 / n);
    }
    return 0;
}
