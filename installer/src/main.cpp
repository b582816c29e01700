#include "MainMod.h"

#include "qvr/games/OpenMWConfig.h"

#include <QApplication>
#include <QDir>

using namespace installer;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QVRInstaller"));
    // The windows take turns and hide; only "Exit" (or closing a main window) ends the run.
    QApplication::setQuitOnLastWindowClosed(false);
    const qvr::HostEnvironment env = qvr::CurrentHostEnvironment();
    MainMod mod({SettingsFilePath(QApplication::applicationDirPath()),
                 DefaultDataFolder(),
                 {},
                 [env] { return qvr::FindGameFolders(env); },
                 QDir(QString::fromStdString(qvr::openmw::UserConfigFolder(env)))
                     .filePath(QStringLiteral("openmw.cfg")),
                 QString::fromStdString(qvr::openmw::DefaultModsFolder(env))});
    mod.Start(QApplication::arguments().mid(1));
    if (mod.ExitRequested())
        return 0;
    return app.exec();
}
