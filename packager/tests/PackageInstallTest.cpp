// A package made with the packager installs file for file, with the library's install
// procedure (the installer's) and with the qvr command-line tool.

#include "PackagerFixture.h"

#include "PackagerLogic.h"
#include "qvr/install/Install.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <map>

using namespace shared_windows;

using packager::RootKey;

namespace {

// Every file below folder, by its path relative to it, with its bytes.
std::map<QString, QByteArray> FilesBelow(const QString& folder) {
    std::map<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        files[QDir(folder).relativeFilePath(path)] = f.readAll();
    }
    return files;
}

} // namespace

class PackageInstallTest : public PackagerTest {
protected:
    // Builds a package through the window's commands; returns what should be installed.
    std::map<QString, QByteArray> BuildPackage() {
        NewThroughMenu(Path("Vos.qvr"));
        std::map<QString, QByteArray> expected;
        auto add = [&](const QString& folder, const QString& name, const QByteArray& bytes) {
            Select(folder.isEmpty() ? RootKey : folder);
            AddThroughMenu({Source("in/" + name, bytes)});
            expected[(folder.isEmpty() ? QString() : QString(folder).replace('\\', '/') + "/") +
                     name] = bytes;
        };
        QByteArray big(3'000'000, '\0');
        for (int i = 0; i < big.size(); ++i)
            big[i] = char((i * 2654435761u) >> 24);
        add(QString(), "Vos.esp", QByteArray("TES3 plug-in header and records"));
        add("Meshes", "tower.nif", big);
        window->AddFolderNode("vos", "Textures");
        add("Textures\\vos", "stone.tga", QByteArray(70'000, 'S'));
        add("Sound", "bell.wav", QByteArray("RIFF....WAVEfmt "));
        add("Sound", "gone.wav", QByteArray("removed again"));
        Click("Sound\\gone.wav");
        dialogs->YesNoAnswers.push_back(true);
        Action("mRemove")->trigger();
        expected.erase("Sound/gone.wav");
        ExpectDiskMatchesTree();
        EXPECT_EQ(dialogs->Messages(), QStringList());
        return expected;
    }
};

TEST_F(PackageInstallTest, InstallsWithTheInstallProcedureFileForFile) {
    const auto expected = BuildPackage();
    qvr::Archives player;
    player.TempFolder = arc.TempFolder;
    ASSERT_TRUE(player.OpenArchive(Path("Vos.qvr").toStdString()));
    const QString data = Path("Data Files");
    QDir().mkpath(data);
    const auto results =
        qvr::InstallArchive(player, data.toStdString(),
                            [](const qvr::sgFileInfo&, const std::string&) { return true; });
    for (const qvr::EntryResult& r : results)
        EXPECT_TRUE(r.Outcome == qvr::EntryOutcome::Installed ||
                    r.Outcome == qvr::EntryOutcome::InfoEntry)
            << r.Entry.FileName() << ": " << r.Message;
    EXPECT_EQ(FilesBelow(data), expected);
}

#ifdef QVR_TOOL
TEST_F(PackageInstallTest, InstallsWithTheCommandLineToolFileForFile) {
    const auto expected = BuildPackage();
    const QString data = Path("Tool Data Files");
    QDir().mkpath(data);
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(QStringLiteral(QVR_TOOL), {"install", Path("Vos.qvr"), data});
    ASSERT_TRUE(tool.waitForFinished(60000));
    EXPECT_EQ(tool.exitCode(), 0) << tool.readAll().toStdString();
    EXPECT_EQ(FilesBelow(data), expected);
}
#endif
