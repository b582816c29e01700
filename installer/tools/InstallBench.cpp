// Installs a package as the installer's main window does (its install core, its progress
// window, offscreen), so the benchmark command can time it against qvr install:
// installer_install ARCHIVE DATA_FOLDER
#include "MainMod.h"
#include "OverwritePrompt.h"
#include "ScriptedDialogs.h"
#include "frmMain.h"

#include "qvr/platform/HostEnvironment.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>

using namespace installer;

namespace {
// Every file that exists already is replaced, as qvr install --overwrite does.
class ReplaceAll : public OverwritePrompt {
public:
    Answer Ask(QWidget*, const QString&) override { return {true, true}; }
};
} // namespace

int main(int argc, char** argv) {
    // As the installer's own main starts.
    qvr::PreferLargePages(kInstallerHeapMegabytes);
    qvr::ReadTimeZoneOnce();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: installer_install ARCHIVE DATA_FOLDER\n");
        return 2;
    }
    const QString archive = QString::fromLocal8Bit(argv[1]);
    const QString data = QFileInfo(QString::fromLocal8Bit(argv[2])).absoluteFilePath();
    QTemporaryDir work;
    // As a player's installer starts after its first run: the data folder is in its settings
    // (a first start would ask for it and make the settings file).
    // Written plainly, not as the installer keeps it: the bench's own step, not the installer's.
    const QString settings = work.filePath("qvrinst.ini");
    QFile file(settings);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write("[Settings]\r\nTESLocation=" + QDir::toNativeSeparators(data).toUtf8() +
                   "\r\n") < 0) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(settings));
        return 2;
    }
    file.close();
    shared_windows::ScriptedDialogs dialogs; // the end's message box is recorded, not shown
    ReplaceAll prompt;
    MainMod mod({settings, data, [] {}, {}});
    mod.SetPrompt(&prompt);
    // As a player's double-click starts it: the archive is named at the start.
    mod.Start({archive});
    if (!mod.ArchiveReady) {
        for (const QString& m : dialogs.Messages())
            std::fprintf(stderr, "%s\n", qPrintable(m));
        return 2;
    }
    const int written = mod.InstallPlugin(&mod.Main(), QFileInfo(archive).completeBaseName(), data);
    std::printf("%d files installed\n", written);
    for (const QString& m : dialogs.Messages())
        std::printf("%s\n", qPrintable(m));
    return written > 0 ? 0 : 1;
}
