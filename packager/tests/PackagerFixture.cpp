#include "PackagerFixture.h"

#include "PackagerLogic.h"
#include "PathPanel.h"
#include "qvr/platform/FileUtils.h"
#include "qvrtest/Packages.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTreeWidget>
#include <algorithm>

using namespace shared_windows;

using packager::EntryKey;

void PackagerTest::SetUp() {
    ASSERT_TRUE(dir.isValid());
    QDir().mkpath(dir.filePath("work"));
    // Work files go to a folder of the test's own, so parallel tests never share one.
    arc.TempFolder =
        QDir::toNativeSeparators(dir.filePath("work")).toStdString() + qvr::NativeSeparator();
    dialogs = std::make_unique<ScriptedDialogs>();
    window = std::make_unique<packager::frmMain>(arc);
    window->show();
}

void PackagerTest::TearDown() {
    CheckAfterCommand();
    window.reset();
    dialogs.reset();
}

QString PackagerTest::Source(const QString& name, const QByteArray& content) {
    const QString path = dir.filePath("src/" + name);
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
    return QDir::toNativeSeparators(path);
}

QString PackagerTest::Source(const QString& name, int size) {
    QByteArray content(size, '\0');
    for (int i = 0; i < size; ++i)
        content[i] = char((i * 7 + name.size()) % 251);
    return Source(name, content);
}

QAction* PackagerTest::Action(const char* name) const {
    QAction* action = window->findChild<QAction*>(QLatin1String(name));
    EXPECT_NE(action, nullptr) << name;
    return action;
}

void PackagerTest::Select(const QString& key) {
    QTreeWidget* tree = window->TreeWidget();
    if (key.isNull()) {
        tree->setCurrentItem(nullptr);
        tree->clearSelection();
        return;
    }
    QTreeWidgetItem* node = window->Tree().Node(key);
    ASSERT_NE(node, nullptr) << key.toStdString();
    tree->setCurrentItem(node);
}

void PackagerTest::Click(const QString& key) {
    Select(key);
    emit window->TreeWidget()->NodeClick(window->TreeWidget()->currentItem());
}

void PackagerTest::NewThroughMenu(const QString& path) {
    dialogs->SaveFileAnswers.push_back(path);
    Action("mNew")->trigger();
    CheckAfterCommand();
}

void PackagerTest::OpenThroughMenu(const QString& path) {
    dialogs->OpenFileAnswers.push_back(path);
    Action("mOpen")->trigger();
    CheckAfterCommand();
}

void PackagerTest::AddThroughMenu(const QStringList& paths) {
    dialogs->OpenFilesAnswers.push_back(paths);
    Action("mAddfile")->trigger();
    CheckAfterCommand();
}

QStringList PackagerTest::TopLevelKeys() const {
    QStringList keys;
    QTreeWidget* tree = window->TreeWidget();
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        keys << ArchiveTree::Key(tree->topLevelItem(i));
    return keys;
}

QStringList PackagerTest::ChildKeys(const QString& key) const {
    QStringList keys;
    QTreeWidgetItem* node = window->Tree().Node(key);
    for (int i = 0; node && i < node->childCount(); ++i)
        keys << ArchiveTree::Key(node->child(i));
    return keys;
}

namespace {
void CollectFiles(QTreeWidgetItem* node, QStringList& out) {
    const QString key = ArchiveTree::Key(node);
    if (!ArchiveTree::IsFolder(node) && key != packager::RootKey)
        out << key;
    for (int i = 0; i < node->childCount(); ++i)
        CollectFiles(node->child(i), out);
}
} // namespace

QStringList PackagerTest::TreeFileKeys() const {
    QStringList keys;
    QTreeWidget* tree = window->TreeWidget();
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        CollectFiles(tree->topLevelItem(i), keys);
    return keys;
}

QStringList PackagerTest::DiskFileKeys() const {
    qvr::Archives disk;
    disk.TempFolder = arc.TempFolder;
    // The 10-byte empty archive reads as no entries, though the walk answers false.
    const bool complete = disk.OpenArchive(arc.CurrentArchive) ||
                          (qvr::FileLength(arc.CurrentArchive) == 10 && disk.ArchiveFiles.empty());
    EXPECT_TRUE(complete) << "the package does not read completely";
    const QString info = QString::fromStdString(disk.InfoEntryName()).toLower();
    QStringList keys;
    int infos = 0;
    for (const qvr::sgFileInfo& e : disk.ArchiveFiles) {
        if (QString::fromStdString(e.FileName()).toLower() == info && e.FilePath().empty())
            ++infos;
        else
            keys << EntryKey(e);
    }
    // One info entry; none only in a package opened without one, until Update Details.
    EXPECT_LE(infos, 1) << "the package holds more than one info entry";
    EXPECT_EQ(disk.ArchiveFiles, arc.ArchiveFiles) << "the entry list differs from the disk";
    return keys;
}

void PackagerTest::ExpectDiskMatchesTree() const {
    QStringList tree = TreeFileKeys();
    QStringList disk = DiskFileKeys();
    tree.sort();
    disk.sort();
    EXPECT_EQ(tree, disk);
}

void PackagerTest::CheckAfterCommand() const {
    if (window && window->PackageOpen() && !window->ReadOnly())
        ExpectDiskMatchesTree();
}

QString PackagerTest::Panel(int i) const {
    auto* panel = window->findChild<QLabel*>(QStringLiteral("Panel%1").arg(i));
    // The path panel shows as much of its text as its width allows.
    if (auto* path = qobject_cast<packager::PathPanel*>(panel))
        return path->FullText();
    return panel->text();
}

void MakePackage(const QString& path, const QString& tempFolder, const QStringList& keys,
                 const qvr::sgPlugInfo& info) {
    std::vector<qvrtest::PackEntry> entries;
    int n = 0;
    for (const QString& key : keys) {
        const std::string content =
            "content of " + key.toStdString() + std::string(100 + n++ * 13, 'x');
        entries.push_back({packager::FolderPart(key).toStdString(),
                           packager::LastLevel(key).toStdString(), content});
    }
    // The packager saves the information when it makes a package, before any file.
    qvrtest::MakePackage(path.toStdString(), entries, info, tempFolder.toStdString(),
                         qvrtest::InfoAt::Start);
}
