#include "MainMod.h"
#include "ProgramInfo.h"

#include "qvr/Version.h"
#include "qvr/games/OpenMWConfig.h"
#include "qvr/platform/HostEnvironment.h"
#include "qvr/sources/Source.h"

#include <QApplication>
#include <QDir>

#include <iostream>

using namespace installer;

namespace {

const char* const kIntro = R"([OPTION]... [ARCHIVE]
Shows a Morrowind plug-in archive with its information and notes, installs its files
into the game's data folder or for OpenMW, and removes them again. )";

const char* const kArchives = R"(It opens QVR archives
(.qvr) and plug-ins as they are downloaded (.zip, .7z, .rar, .tar).

  ARCHIVE        a .qvr, .zip, .7z, .rar or .tar file to open at the start
)";

const char* const kQvrOnly = R"(A .zip file can be
looked at.

  ARCHIVE        a .qvr or .zip file to open at the start
)";

// Downloaded archives are named only where this build reads them.
std::string Usage() {
    std::string usage = kIntro;
    usage += qvr::sources::ReadsOtherArchives() ? kArchives : kQvrOnly;
    usage += R"(
Options:
  -h, --help     show this help and exit
  -V, --version  show the version and exit
Qt's own options (such as -platform or -style) are taken as well.

The settings (the data folder, OpenMW's mods folder, the target chosen) are kept in
QVRInstaller/qvrinst.ini in the user's configuration folder ($XDG_CONFIG_HOME, usually
~/.config). A copy of the program whose own folder holds a qvrinst.ini keeps its settings there
instead (portable use).
)";
    return usage;
}

} // namespace

int main(int argc, char** argv) {
    if (const auto status =
            shared_windows::AnswerInfoOptions(shared_windows::ArgumentsOf(argc, argv),
                                              {"QVRInstaller", qvr::kVersion, Usage()}, std::cout))
        return *status;
    qvr::PreferLargePages(kInstallerHeapMegabytes);
    qvr::ReadTimeZoneOnce();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QVRInstaller"));
    // The windows take turns and hide; only "Exit" (or closing a main window) ends the run.
    QApplication::setQuitOnLastWindowClosed(false);
    const qvr::HostEnvironment env = qvr::CurrentHostEnvironment();
    // Without a home folder OpenMW's are unknown: never ones below the current folder.
    const QString userConfig = QString::fromStdString(qvr::openmw::UserConfigFolder(env));
    MainMod mod(
        {SettingsFilePath(QApplication::applicationDirPath()),
         DefaultDataFolder(),
         {},
         [env] { return qvr::FindGameFolders(env); },
         userConfig.isEmpty() ? QString() : QDir(userConfig).filePath(QStringLiteral("openmw.cfg")),
         QString::fromStdString(qvr::openmw::DefaultModsFolder(env))});
    mod.Start(QApplication::arguments().mid(1));
    if (mod.ExitRequested())
        return 0;
    return app.exec();
}
