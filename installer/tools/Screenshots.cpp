// Renders every installer window and the shared windows to PNG files, offscreen, for the
// documentation: installer_screenshots [OUTPUT_FOLDER]
#include "FailureText.h"
#include "Looks.h"
#include "MainMod.h"
#include "ScriptedDialogs.h"
#include "SummaryBox.h"
#include "frmAbout.h"
#include "frmChoose.h"
#include "frmExists.h"
#include "frmMain.h"
#include "frmManage.h"
#include "frmNotes.h"
#include "frmSplash.h"

#include "qvr/package/Archives.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdio>
#include <fstream>

using namespace shared_windows;

using namespace installer;

namespace {

bool Save(QWidget& w, const QString& folder, const char* name) {
    const QString path = QDir(folder).filePath(QString::fromLatin1(name) + ".png");
    const bool ok = w.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

bool MakeSample(const QString& folder, const std::string& archive) {
    qvr::Archives arc;
    arc.TempFolder = folder.toStdString() + "/";
    if (!arc.CreateArchive(archive))
        return false;
    const std::pair<const char*, const char*> files[] = {{"", "AshHelm.esp"},
                                                         {"Meshes\\a", "ash_helm.nif"},
                                                         {"Meshes\\a", "ash_helm_gnd.nif"},
                                                         {"Textures", "tx_ash_helm.dds"},
                                                         {"Icons\\a", "tx_ash_helm.tga"},
                                                         {"Sound\\Fx\\ash", "helm_clank.wav"}};
    const std::string source = folder.toStdString() + "/sample.bin";
    std::ofstream(source, std::ios::binary) << std::string(40000, 'x');
    for (const auto& [path, name] : files) {
        if (!arc.AddFileToArchive(source, name, path))
            return false;
    }
    qvr::sgPlugInfo& info = arc.PluginInfo;
    info.PluginName("Helm of the Ash");
    info.Version("1.3");
    info.LastUpdated("14/05/2026");
    info.Authors("Nerevar Indoril\r\nVivec's Scribes");
    info.Depends("Morrowind.esm\r\nTribunal.esm");
    info.Notes("Helm of the Ash\r\n\r\nAdds an ash-grey helm to the Foreign Quarter in Vivec.\r\n"
               "Install with QVRInstaller, then tick AshHelm.esp in the launcher.");
    return info.SavePluginData(arc, "AshHelm.qvr").Ok();
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    QDir().mkpath(out);
    QTemporaryDir work;
    const std::string archive = work.filePath("AshHelm.qvr").toStdString();
    if (!MakeSample(work.path(), archive)) {
        std::fprintf(stderr, "cannot make the sample archive\n");
        return 1;
    }

    ScriptedDialogs dialogs; // the start-up's folder question is cancelled
    // With an openmw.cfg, so that the main window shows its "Install for:" choice.
    std::ofstream(work.filePath("openmw.cfg").toStdString()) << "content=Morrowind.esm\n";
    MainMod mod({work.filePath("qvrinst.ini"),
                 QStringLiteral("C:\\Program Files\\Bethesda Softworks\\Morrowind\\Data Files"),
                 [] {},
                 {},
                 work.filePath("openmw.cfg"),
                 work.filePath("mods")});
    mod.Start();
    dialogs.OpenFileAnswers.push_back(QString::fromStdString(archive));
    mod.Main().cmdOpenQVR_Click();
    bool ok = Save(mod.Main(), out, "installer-main");

    mod.Manage().show();
    ok &= Save(mod.Manage(), out, "installer-manage");

    frmExists exists;
    exists.SetFile(QStringLiteral("Meshes\\a\\ash_helm.nif"));
    exists.show();
    ok &= Save(exists, out, "installer-exists");

    frmNotes notes(mod.Arc.PluginInfo);
    notes.show();
    ok &= Save(notes, out, "installer-notes");

    // Before an archive as downloaded is installed: its options, or its data folder.
    qvr::sources::Layout options;
    options.Kind = qvr::sources::LayoutKind::Options;
    options.Options = {{0, "00", "Core", "Ash Helm/00 Core", "Ash Helm/00 Core"},
                       {1, "01", "Darker Ash", "Ash Helm/01 Darker Ash", "Ash Helm/01 Darker Ash"},
                       {2, "02", "Patch for Better Helms", "Ash Helm/02 Patch for Better Helms",
                        "Ash Helm/02 Patch for Better Helms"}};
    frmChoose chooseOptions(options, QStringLiteral("Ash Helm-1234-1-2.7z"));
    chooseOptions.show();
    ok &= Save(chooseOptions, out, "installer-options");
    qvr::sources::Layout roots;
    roots.Kind = qvr::sources::LayoutKind::SeveralRoots;
    roots.Candidates = {"Ash Helm (Vanilla)", "Ash Helm (OpenMW)"};
    frmChoose chooseRoot(roots, QStringLiteral("Ash Helm-1234-1-2.7z"));
    chooseRoot.show();
    ok &= Save(chooseRoot, out, "installer-root");

    frmSplash splash(nullptr);
    splash.SetTitle("Installing Plug-in Helm of the Ash");
    splash.CalcIncrement(7);
    splash.show();
    for (int i = 0; i < 4; ++i)
        splash.IncrProgress(0);
    ok &= Save(splash, out, "shared-progress");
    for (int i = 0; i < 3; ++i)
        splash.IncrProgress(0);
    ok &= Save(splash, out, "shared-progress-complete");
    // An install that did not all go through ends on what happened, the files named once.
    splash.SetTitle("Installing Plug-in Helm of the Ash");
    splash.Finish(QStringLiteral("Installed 5 of 6\u00a0files; 1 failed"));
    ok &= Save(splash, out, "shared-progress-failed");
    SummaryBox summary(nullptr, MainMod::AppTitle,
                       QStringLiteral("5\u00a0files installed, 0\u00a0replaced, 0\u00a0kept, "
                                      "1\u00a0failed.\nThese files failed:"),
                       {ShownPath(QStringLiteral("Textures\\tx_ash_helm.dds")) +
                        QStringLiteral(": could not be read: the package is damaged (its data at "
                                       "position 81233 is damaged: invalid block type)")});
    summary.show();
    ok &= Save(summary, out, "installer-summary");

    // The packager's about window is drawn by the packager's own tool (packager-about).
    frmAbout aboutInstaller(Ui::AboutOptions());
    aboutInstaller.show();
    ok &= Save(aboutInstaller, out, "shared-about-installer");
    return ok ? 0 : 1;
}
