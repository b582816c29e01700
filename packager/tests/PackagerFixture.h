#pragma once
// A packager window on a fresh program state, with its dialogs answered in code, and the
// checks that the package file on disk holds exactly what the tree shows.

#include "ArchiveTree.h"
#include "PackageTree.h"
#include "ScriptedDialogs.h"
#include "frmMain.h"

#include <QAction>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

inline QByteArray ReadFile(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

using namespace shared_windows;

class PackagerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A file in the test's folder with the given content; its full path.
    QString Source(const QString& name, const QByteArray& content);
    QString Source(const QString& name, int size);
    QString Path(const QString& name) const { return dir.filePath(name); }

    // The window's menu item or control by its name.
    QAction* Action(const char* name) const;
    template <typename T> T* Control(const char* name) const {
        return window->findChild<T*>(QLatin1String(name));
    }
    // Makes key the selected node (nullptr key: no selection), like a click on it.
    void Click(const QString& key);
    void Select(const QString& key);

    // New through the menu, answered with path.
    void NewThroughMenu(const QString& path);
    void OpenThroughMenu(const QString& path);
    void AddThroughMenu(const QStringList& paths);

    QStringList TopLevelKeys() const;
    QStringList ChildKeys(const QString& key) const;
    // Every file node's key (not folders, not the root node), in tree order.
    QStringList TreeFileKeys() const;
    // The entries of the package file on disk (read afresh), as keys, without the info entry;
    // fails the test when the file does not read completely or holds several info entries.
    QStringList DiskFileKeys() const;
    // The package on disk reads back with exactly the entries the tree shows (plus the info
    // entry), and the program's entry list matches the disk.
    void ExpectDiskMatchesTree() const;
    // ExpectDiskMatchesTree when a package that takes changes is open; the command helpers
    // above and the end of every test call it.
    void CheckAfterCommand() const;

    QString Panel(int i) const;

    QTemporaryDir dir;
    qvr::Archives arc;
    std::unique_ptr<ScriptedDialogs> dialogs;
    std::unique_ptr<packager::frmMain> window;
};

// A package written through the library alone: entries given as "folder\name" keys (a bare
// name for the root), each with its own small content, plus the info entry.
void MakePackage(const QString& path, const QString& tempFolder, const QStringList& keys,
                 const qvr::sgPlugInfo& info = {});
