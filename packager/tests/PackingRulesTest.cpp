// The packager packs by the library's rules, as qvr does: the same folder gives the same
// package; links out of a folder, unreadable folders and the programs' own names are named;
// a file the package holds is replaced or skipped as the author says; long work leaves the
// window live but the tree untouchable.

#include "PackagerFixture.h"

#include "frmSplash.h"
#include "qvr/platform/detail/TestHooks.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <filesystem>

using namespace shared_windows;

using packager::RootKey;

namespace {

// The bytes the package holds for key, read back through the library.
QByteArray Stored(qvr::Archives& arc, const QString& key, const QString& out) {
    const auto entry = arc.FindEntry(packager::LastLevel(key).toStdString(),
                                     packager::FolderPart(key).toStdString());
    if (!entry || !arc.ExtractEntry(*entry, out.toStdString(), true))
        return {};
    return ReadFile(out);
}

// Answers the next questions about files the package holds, one answer each.
void AnswerReplace(std::vector<std::pair<const char*, bool>> answers) {
    if (answers.empty())
        return;
    WhenModalShown([answers](QWidget* modal) mutable {
        ASSERT_EQ(modal->objectName(), "frmReplace");
        const auto [button, forAll] = answers.front();
        answers.erase(answers.begin());
        AnswerReplace(answers);
        modal->findChild<QCheckBox*>("chkAll")->setChecked(forAll);
        modal->findChild<QPushButton*>(button)->click();
    });
}

} // namespace

#ifdef QVR_TOOL
TEST_F(PackagerTest, TheSameFolderGivesTheSameBytesFromEitherProgram) {
    const QByteArray epoch = qgetenv("SOURCE_DATE_EPOCH");
    qputenv("SOURCE_DATE_EPOCH", "1700000000");
    // Where the two programs used to order a folder differently: "a\b.nif" and "a.b\c.nif".
    for (const auto& [name, size] : std::vector<std::pair<QString, int>>{{"Data/a/b.nif", 300},
                                                                         {"Data/a.b/c.nif", 200},
                                                                         {"Data/Z.esp", 90},
                                                                         {"Data/a/Sub/d.dds", 5000},
                                                                         {"Data/readme.txt", 40}})
        Source("Mod/" + name, size);
    QDir().mkpath(Path("window"));
    NewThroughMenu(Path("window/Mod.qvr"));
    window->AddPaths({Path("src/Mod/Data")}, QString());
    // Data inside the data folder: packed as asked, and warned about.
    ASSERT_EQ(dialogs->Messages().size(), 1);
    EXPECT_TRUE(dialogs->Messages()[0].startsWith("Mod.qvr: its files sit below the folder Data/"));

    QDir().mkpath(Path("tool"));
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(QStringLiteral(QVR_TOOL), {"create", Path("tool/Mod.qvr"), Path("src/Mod")});
    ASSERT_TRUE(tool.waitForFinished(60000));
    EXPECT_EQ(tool.exitCode(), 0) << tool.readAll().toStdString();
    if (epoch.isNull())
        qunsetenv("SOURCE_DATE_EPOCH");
    else
        qputenv("SOURCE_DATE_EPOCH", epoch);

    const QByteArray made = ReadFile(Path("window/Mod.qvr"));
    EXPECT_FALSE(made.isEmpty());
    EXPECT_TRUE(made == ReadFile(Path("tool/Mod.qvr")));
    QStringList order;
    for (const qvr::sgFileInfo& e : arc.ArchiveFiles)
        order << packager::EntryKey(e);
    // qvr's order: folder by folder, by their paths' texts ignoring letter case.
    EXPECT_EQ(order, QStringList({"Mod.qvr.ifo", "Data\\readme.txt", "Data\\Z.esp",
                                  "Data\\a\\b.nif", "Data\\a.b\\c.nif", "Data\\a\\Sub\\d.dds"}));
}
#endif

#ifndef _WIN32 // links as a Linux disk has them
TEST_F(PackagerTest, LinksOutOfAFolderAreAskedAboutAndOwnNamesRefused) {
    namespace fs = std::filesystem;
    Source("Mod/Meshes/real.nif", 100);
    Source("private/key", 30);
    Source("Mod/.QVR-Installed/planted.qvr.ini", 20);
    Source("Mod/Meshes/x.qvr-journal", 20);
    fs::create_symlink(Path("src/private/key").toStdString(),
                       Path("src/Mod/Meshes/key.nif").toStdString());
    NewThroughMenu(Path("P.qvr"));

    // No: the link is left out, and named with what could not go in.
    dialogs->YesNoAnswers.push_back(false);
    window->AddPaths({Path("src/Mod")}, QString());
    ASSERT_EQ(dialogs->CountOf(ScriptedDialogs::Kind::AskYesNo), 1);
    for (const ScriptedDialogs::Call& call : dialogs->Calls)
        if (call.kind == ScriptedDialogs::Kind::AskYesNo) {
            EXPECT_TRUE(call.text.contains("key.nif")) << call.text.toStdString();
        }
    EXPECT_TRUE(arc.FindEntry("real.nif", "Mod\\Meshes"));
    EXPECT_FALSE(arc.FindEntry("key.nif", "Mod\\Meshes"));
    EXPECT_FALSE(arc.FindEntry("x.qvr-journal", "Mod\\Meshes"));
    EXPECT_FALSE(arc.FindEntry("planted.qvr.ini", "Mod\\.QVR-Installed"));
    const QString said = dialogs->Messages().first(); // then the warning about the folder Mod
    EXPECT_TRUE(said.startsWith("Added 1 of 4 files")) << said.toStdString();
    for (const char* named : {"key.nif", ".QVR-Installed", "x.qvr-journal"})
        EXPECT_TRUE(said.contains(named)) << named;
    ExpectDiskMatchesTree();

    // Yes: what the link leads to is packed.
    dialogs->YesNoAnswers.push_back(true);
    Select("Textures");
    window->AddPaths({Path("src/Mod/Meshes")}, "Textures");
    EXPECT_EQ(Stored(arc, "Textures\\Meshes\\key.nif", Path("out")),
              ReadFile(Path("src/private/key")));
}
#endif

TEST_F(PackagerTest, AFolderThatCannotBeReadIsNamed) {
    Source("Mod/a.esp", 50);
    Source("Mod/Meshes/m.nif", 60);
    NewThroughMenu(Path("P.qvr"));
    // The walk opens Mod first, then Meshes: that one fails.
    qvr::testhooks::ArmFault(2, qvr::testhooks::FaultMode::Once);
    window->AddPaths({Path("src/Mod")}, QString());
    qvr::testhooks::ArmFault(0, qvr::testhooks::FaultMode::Once);
    EXPECT_TRUE(arc.FindEntry("a.esp", "Mod"));
    ASSERT_EQ(dialogs->Messages().size(), 2); // then the warning about the folder Mod
    EXPECT_TRUE(dialogs->Messages()[0].contains("Meshes: cannot be read"))
        << dialogs->Messages()[0].toStdString();
    EXPECT_TRUE(dialogs->Messages()[1].startsWith("P.qvr: its files sit below the folder Mod/"));
    EXPECT_EQ(window->Splash()->Model().TaskText(), "Added 1 of 2 files");
}

TEST_F(PackagerTest, AFileThePackageHoldsIsReplacedOrSkippedAsTheAuthorSays) {
    NewThroughMenu(Path("P.qvr"));
    Select("Meshes");
    AddThroughMenu({Source("old/a.nif", 100), Source("old/b.nif", 110), Source("old/c.nif", 120),
                    Source("old/d.nif", 130)});
    // Replace a; skip b and, for all, c; d goes in anew with another spelling of its name.
    const QStringList again = {Source("new/a.nif", 200), Source("new/b.nif", 210),
                               Source("new/c.nif", 220)};
    AnswerReplace({{"cmdReplace", false}, {"cmdSkip", true}});
    AddThroughMenu(again);
    EXPECT_EQ(Stored(arc, "Meshes\\a.nif", Path("out")), ReadFile(again[0]));
    EXPECT_EQ(Stored(arc, "Meshes\\b.nif", Path("out")), ReadFile(Path("src/old/b.nif")));
    EXPECT_EQ(Stored(arc, "Meshes\\c.nif", Path("out")), ReadFile(Path("src/old/c.nif")));
    EXPECT_EQ(dialogs->Messages(), QStringList());
    EXPECT_EQ(window->Splash()->Model().TaskText(), "Compressing File a.nif: Complete!");

    AnswerReplace({{"cmdReplace", true}});
    AddThroughMenu({Source("new/D.NIF", 300)});
    EXPECT_EQ(ChildKeys("Meshes"),
              QStringList({"Meshes\\a.nif", "Meshes\\b.nif", "Meshes\\c.nif", "Meshes\\D.NIF"}));
    EXPECT_EQ(Panel(1), "Total files: 4");
    ExpectDiskMatchesTree();
}

TEST_F(PackagerTest, LongWorkLeavesTheWindowLiveAndTheTreeUntouchable) {
    NewThroughMenu(Path("P.qvr"));
    QByteArray noise(4'000'000, '\0');
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = char((uint32_t(i) * 2654435761u) >> 24);
    for (int i = 0; i < 40; ++i)
        Source(QStringLiteral("Big/f%1.dds").arg(i), i == 0 ? noise : QByteArray(500 + i, 'x'));
    // Looked at from the window's thread while the files are compressed.
    bool sawBusy = false, treeTookClicks = false, splashShown = false;
    QTimer look;
    look.setInterval(1);
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (!window->Busy())
            return;
        sawBusy = true;
        treeTookClicks |= window->TreeWidget()->isEnabled();
        splashShown |= window->Splash() && window->Splash()->isVisible();
    });
    look.start();
    Select("Textures");
    window->AddPaths({Path("src/Big")}, "Textures");
    EXPECT_TRUE(sawBusy);
    EXPECT_FALSE(treeTookClicks);
    EXPECT_TRUE(splashShown);
    EXPECT_TRUE(window->TreeWidget()->isEnabled());

    // Removing the folder: one rebuild, off the window's thread as well.
    sawBusy = false;
    Click("Textures\\Big");
    dialogs->YesNoAnswers.push_back(true);
    Action("mRemove")->trigger();
    look.stop();
    EXPECT_TRUE(sawBusy);
    EXPECT_FALSE(treeTookClicks);
    EXPECT_EQ(DiskFileKeys(), QStringList());
    EXPECT_EQ(window->Splash()->Model().TaskText(), "Removing Big: Complete!");
}
