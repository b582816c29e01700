// File > Import... makes of a downloaded archive the package qvr create makes of it, asking
// what the archive leaves open; Dependencies is filled from the plug-ins' masters or the list
// offered; files added below a wrapper folder are warned about.

#include "PackagerFixture.h"
#include "frmHelp.h"

#include "qvrtest/ArchiveFixtures.h"
#include "qvrtest/Plugins.h"

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>

using namespace shared_windows;

namespace {

QByteArray Bytes(const std::string& s) {
    return QByteArray::fromStdString(s);
}

// The Dependencies the package on disk holds.
std::string DependsOnDisk(const QString& path) {
    qvr::Archives read;
    EXPECT_TRUE(read.OpenArchive(path.toStdString()));
    qvr::sgPlugInfo info;
    EXPECT_TRUE(info.GetPluginData(read, QFileInfo(path).fileName().toStdString()));
    return info.Depends();
}

bool WorkFilesIn(const QString& folder) {
    return !QDir(folder).entryList({"~qvr-*"}, QDir::AllEntries | QDir::Hidden).isEmpty();
}

QStringList Questions(const ScriptedDialogs& dialogs) {
    QStringList out;
    for (const ScriptedDialogs::Call& call : dialogs.Calls)
        if (call.kind == ScriptedDialogs::Kind::AskYesNo)
            out << call.text;
    return out;
}

} // namespace

#ifndef _WIN32 // this build reads QVR packages only on Windows
TEST_F(PackagerTest, ImportMakesThePackageQvrCreateMakesOfTheArchive) {
    const QByteArray epoch = qgetenv("SOURCE_DATE_EPOCH");
    qputenv("SOURCE_DATE_EPOCH", "1700000000");
    Source("Wrap/MyMod/Data Files/Wrap.esp", Bytes(qvrtest::PluginNeeding({"Morrowind.esm"})));
    Source("Wrap/MyMod/Data Files/Meshes/a.nif", 7000);
    Source("Wrap/MyMod/readme.txt", QByteArray("read me"));
    ASSERT_EQ(std::system(
                  ("cd '" + Path("src").toStdString() + "' && 7z a -bd ../Wrap.7z Wrap > /dev/null")
                      .c_str()),
              0);
    QDir().mkpath(Path("window"));
    dialogs->OpenFileAnswers.push_back(Path("Wrap.7z"));
    dialogs->SaveFileAnswers.push_back(Path("window/Wrap.qvr"));
    Action("mImport")->trigger();

    ASSERT_EQ(dialogs->CountOf(ScriptedDialogs::Kind::OpenFile), 1);
    for (const ScriptedDialogs::Call& call : dialogs->Calls) {
        if (call.kind == ScriptedDialogs::Kind::OpenFile) {
            for (const char* kind : {"*.zip", "*.7z", "*.rar", "*.tar.gz", "*.qvr"})
                EXPECT_TRUE(call.filter.contains(kind)) << kind;
        } else if (call.kind == ScriptedDialogs::Kind::SaveFile) {
            EXPECT_EQ(call.fileName, Path("Wrap.qvr")); // the archive's name, beside it
        }
    }
    EXPECT_EQ(window->windowTitle(), "Morrowind QVR Packager: Wrap.qvr");
    EXPECT_EQ(TreeFileKeys(), QStringList({"Wrap.esp", "Meshes\\a.nif"}));
    EXPECT_EQ(Control<QPlainTextEdit>("txDepends")->toPlainText(), "Morrowind.esm");
    EXPECT_EQ(dialogs->Messages(),
              QStringList({"From Wrap.7z, the package holds the data root Wrap/MyMod/Data "
                           "Files/. Left out, outside it:\n\nWrap/MyMod/readme.txt"}));
    EXPECT_FALSE(WorkFilesIn(Path("window")));
    EXPECT_TRUE(packager::frmHelp::Text().contains("File &gt; Import..."));

#ifdef QVR_TOOL
    QDir().mkpath(Path("tool"));
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(QStringLiteral(QVR_TOOL), {"create", Path("tool/Wrap.qvr"), Path("Wrap.7z")});
    ASSERT_TRUE(tool.waitForFinished(60000));
    EXPECT_EQ(tool.exitCode(), 0) << tool.readAll().toStdString();
    EXPECT_TRUE(ReadFile(Path("window/Wrap.qvr")) == ReadFile(Path("tool/Wrap.qvr")));
#endif
    if (epoch.isNull())
        qunsetenv("SOURCE_DATE_EPOCH");
    else
        qputenv("SOURCE_DATE_EPOCH", epoch);
}

TEST_F(PackagerTest, ImportAsksWhichOptionsToTakeAndCancelMakesNothing) {
    ASSERT_TRUE(qvrtest::MakeZip(Path("opt.zip").toStdString(),
                                 {{"MyMod/00 Core/Data Files/Mod.esp", "esp"},
                                  {"MyMod/00 Core/Data Files/Meshes/x.nif", "core"},
                                  {"MyMod/01 Bigger Rocks/Meshes/x.nif", "big"}}));
    // The list offers every option, the lowest ticked; Cancel imports nothing.
    QStringList offered;
    bool firstTicked = false;
    WhenModalShown([&](QWidget* modal) {
        ASSERT_EQ(modal->objectName(), "frmImport");
        auto* list = modal->findChild<QListWidget*>("lstChoices");
        for (int i = 0; i < list->count(); ++i)
            offered << list->item(i)->text();
        firstTicked = list->item(0)->checkState() == Qt::Checked;
        modal->findChild<QPushButton*>("cmdCancel")->click();
    });
    EXPECT_FALSE(window->ImportArchive(Path("opt.zip")));
    EXPECT_EQ(offered, QStringList({"00 Core", "01 Bigger Rocks"}));
    EXPECT_TRUE(firstTicked);
    EXPECT_EQ(dialogs->CountOf(ScriptedDialogs::Kind::SaveFile), 0);
    EXPECT_FALSE(window->PackageOpen());

    // Only the second: exactly what it holds.
    WhenModalShown([](QWidget* modal) {
        auto* list = modal->findChild<QListWidget*>("lstChoices");
        list->item(0)->setCheckState(Qt::Unchecked);
        list->item(1)->setCheckState(Qt::Checked);
        modal->findChild<QPushButton*>("cmdOK")->click();
    });
    dialogs->SaveFileAnswers.push_back(Path("opt"));
    EXPECT_TRUE(window->ImportArchive(Path("opt.zip")));
    EXPECT_EQ(TreeFileKeys(), QStringList({"Meshes\\x.nif"}));
    const auto x = arc.FindEntry("x.nif", "Meshes");
    ASSERT_TRUE(x && arc.ExtractEntry(*x, Path("x.out").toStdString(), true));
    EXPECT_EQ(ReadFile(Path("x.out")), "big");
    EXPECT_FALSE(WorkFilesIn(dir.path()));
}
#endif

TEST_F(PackagerTest, DependenciesAreFilledFromThePlugInsMastersOrTheirListOffered) {
    NewThroughMenu(Path("Tower.qvr"));
    Source("Tower.esp", Bytes(qvrtest::PluginNeeding({"Morrowind.esm", "Tribunal.esm"})));
    AddThroughMenu({Path("src/Tower.esp")});
    auto* depends = Control<QPlainTextEdit>("txDepends");
    EXPECT_EQ(depends->toPlainText(), "Morrowind.esm, Tribunal.esm");
    EXPECT_EQ(DependsOnDisk(Path("Tower.qvr")), "Morrowind.esm, Tribunal.esm");
    EXPECT_FALSE(Control<QPushButton>("cmdUpdate")->isEnabled());
    EXPECT_EQ(Questions(*dialogs), QStringList());

    // Fewer typed: offered before writing; No writes it as typed.
    depends->setPlainText("Morrowind.esm");
    dialogs->YesNoAnswers.push_back(false);
    Control<QPushButton>("cmdUpdate")->click();
    ASSERT_EQ(Questions(*dialogs).size(), 1);
    EXPECT_TRUE(Questions(*dialogs)[0].startsWith(
        "Dependencies: the plug-ins need Tribunal.esm (Tower.esp), which it does not list."))
        << Questions(*dialogs)[0].toStdString();
    EXPECT_TRUE(Questions(*dialogs)[0].endsWith("\n\nMorrowind.esm\nTribunal.esm"));
    EXPECT_EQ(DependsOnDisk(Path("Tower.qvr")), "Morrowind.esm");

    // A plug-in needing another master: asked after the add; Yes takes the whole list.
    Source("Keep.esp", Bytes(qvrtest::PluginNeeding({"Bloodmoon.esm"})));
    dialogs->YesNoAnswers.push_back(true);
    Select(QString());
    AddThroughMenu({Path("src/Keep.esp")});
    ASSERT_EQ(Questions(*dialogs).size(), 2);
    EXPECT_TRUE(Questions(*dialogs)[1].contains(
        "the plug-ins need Tribunal.esm (Tower.esp) and Bloodmoon.esm (Keep.esp)"))
        << Questions(*dialogs)[1].toStdString();
    EXPECT_EQ(DependsOnDisk(Path("Tower.qvr")), "Morrowind.esm, Tribunal.esm, Bloodmoon.esm");
    EXPECT_EQ(depends->toPlainText(), "Morrowind.esm, Tribunal.esm, Bloodmoon.esm");
}

TEST_F(PackagerTest, FilesAddedBelowAWrapperFolderAreWarnedAbout) {
    Source("Wrap/MyMod/Data Files/Wrap.esp", QByteArray("esp"));
    Source("Wrap/MyMod/Data Files/Meshes/a.nif", 10);
    Source("Extra/b.nif", 10);
    NewThroughMenu(Path("Wrap.qvr"));
    window->AddPaths({Path("src/Wrap")}, QString());
    ASSERT_EQ(dialogs->Messages().size(), 1);
    const QString said = dialogs->Messages().first();
    EXPECT_TRUE(said.startsWith("Wrap.qvr: its files sit below the folder Wrap/MyMod/Data "
                                "Files/"))
        << said.toStdString();
    EXPECT_TRUE(said.contains("Remove the folder Wrap and add in its place what "
                              "Wrap/MyMod/Data Files/ holds"))
        << said.toStdString();
    // Said once, not at every add; and again when the package is opened.
    window->AddPaths({Path("src/Extra")}, QString());
    EXPECT_EQ(dialogs->Messages().size(), 1);
    OpenThroughMenu(Path("Wrap.qvr"));
    EXPECT_TRUE(dialogs->Messages().last().contains("sit below the folder Wrap/MyMod/Data Files/"));
}
