#include "MainMod.h"

#include <QApplication>

using namespace installer;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QVRInstaller"));
    // The windows take turns and hide; only "Exit" (or closing a main window) ends the run.
    QApplication::setQuitOnLastWindowClosed(false);
    MainMod mod({SettingsFilePath(QApplication::applicationDirPath()), DefaultDataFolder(), {}, [] {
                     return qvr::FindGameFolders(qvr::CurrentHostEnvironment());
                 }});
    mod.Start(QApplication::arguments().mid(1));
    if (mod.ExitRequested())
        return 0;
    return app.exec();
}
