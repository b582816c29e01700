// QVRPackager: makes and changes plug-in packages for the game Morrowind.

#include "frmMain.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(packager::ProgramName);
    qvr::Archives archives;
    packager::frmMain window(archives);
    QObject::connect(&window, &packager::frmMain::Exited, &app, &QApplication::quit);
    window.show();
    // A package named on the command line ("QVRPackager MyMod.qvr") is opened as Open does.
    window.OpenGiven(QApplication::arguments().mid(1));
    return app.exec();
}
