// QVRPackager: makes and changes plug-in packages for the game Morrowind.

#include "ProgramInfo.h"
#include "frmMain.h"

#include "qvr/Version.h"
#include "qvr/platform/HostEnvironment.h"

#include <QApplication>

#include <iostream>

namespace {

const char* const kUsage = R"([OPTION]... [PACKAGE]
Makes and changes Morrowind plug-in packages (.qvr): adds a plug-in's files into the folders
they take below the game's data folder, and edits the plug-in's name, version, authors,
required modules and notes. Every change is written into the package at once. A .zip file can
be opened to look at.

  PACKAGE        a .qvr or .zip file to open at the start

Options:
  -h, --help     show this help and exit
  -V, --version  show the version and exit
Qt's own options (such as -platform or -style) are taken as well.
)";

} // namespace

int main(int argc, char** argv) {
    if (const auto status =
            shared_windows::AnswerInfoOptions(shared_windows::ArgumentsOf(argc, argv),
                                              {"QVRPackager", qvr::kVersion, kUsage}, std::cout))
        return *status;
    qvr::PreferLargePages();
    qvr::ReadTimeZoneOnce();
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
