#include "Dialogs.h"
#include "PackageTree.h"
#include "frmMain.h"
#include "frmSplash.h"
#include "qvr/format/PathRules.h"

#include <QDir>
#include <QDirIterator>
#include <QFileDialog>
#include <QFileInfo>
#include <QTreeWidgetItem>
#include <algorithm>

using namespace shared_windows;

// Adding files and folders: Add file..., Add folder... and files dropped onto the tree.

namespace packager {

namespace {

QString NameOf(const QString& path) {
    return QFileInfo(path).fileName();
}

QString JoinKey(const QString& folder, const QString& name) {
    return folder.isEmpty() ? name : folder + QLatin1Char('\\') + name;
}

// One line per file for the closing message.
QString OneLine(const std::string& message) {
    QString line = QString::fromStdString(message);
    line.replace(QStringLiteral("\n\n"), QStringLiteral(" "));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return line;
}

// The files below folder, as entries below packageFolder + the folder's own name, in an order
// that does not depend on how the file system lists them. Linked folders are not followed.
void GatherFolder(const QString& folder, const QString& packageFolder,
                  std::vector<qvr::BatchFile>& files, QStringList& problems) {
    const QDir root(folder);
    const QString top = JoinKey(packageFolder, root.dirName());
    std::vector<qvr::BatchFile> found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info = it.nextFileInfo();
        if (!info.isFile()) {
            problems << QDir::toNativeSeparators(info.filePath()) +
                            QStringLiteral(": not a regular file; left out.");
            continue;
        }
        QString rel = QDir::fromNativeSeparators(root.relativeFilePath(info.path()));
        QString path = top;
        if (rel != QStringLiteral("."))
            path = JoinKey(top, rel.replace(QLatin1Char('/'), QLatin1Char('\\')));
        found.push_back({QDir::toNativeSeparators(info.filePath()).toStdString(),
                         info.fileName().toStdString(), path.toStdString()});
    }
    std::sort(found.begin(), found.end(), [](const qvr::BatchFile& a, const qvr::BatchFile& b) {
        const QString ka = QString::fromStdString(a.FilePath + "\\" + a.FileName).toLower();
        const QString kb = QString::fromStdString(b.FilePath + "\\" + b.FileName).toLower();
        return ka < kb;
    });
    files.insert(files.end(), found.begin(), found.end());
}

} // namespace

frmSplash* frmMain::ProgressWindow() {
    if (!m_splash)
        m_splash = new frmSplash(this);
    return m_splash;
}

void frmMain::mAddfile_Click() {
    if (!m_addAction->isEnabled())
        return;
    const auto chosen =
        Dialogs::instance().OpenFiles(this, QStringLiteral("Add File to Package"), FileFilters(2));
    if (!chosen) {
        Message(QStringLiteral("Cancel was selected."));
        return;
    }
    AddFiles(*chosen);
}

void frmMain::mAddfolder_Click() {
    if (!m_addFolderAction->isEnabled())
        return;
    const QString title = QStringLiteral("Add Folder to Package");
    const std::optional<QString> chosen =
        FolderChooser ? FolderChooser(this, title) : [&]() -> std::optional<QString> {
        const QString dir = QFileDialog::getExistingDirectory(this, title);
        if (dir.isEmpty())
            return std::nullopt;
        return dir;
    }();
    if (!chosen || chosen->isEmpty())
        return;
    const QList<QTreeWidgetItem*> selected = m_treeWidget->selectedItems();
    AddPaths({*chosen}, TargetFolder(selected.isEmpty() ? nullptr : selected.first()));
}

void frmMain::tvFileList_FilesDropped(QTreeWidgetItem* node, const QStringList& paths) {
    if (!m_addAction->isEnabled() || paths.isEmpty())
        return;
    AddPaths(paths, TargetFolder(node));
}

void frmMain::FinishAdding(int added, int total, QStringList failures) {
    UpdateStatusBar();
    frmSplash* splash = ProgressWindow();
    if (added == total && failures.isEmpty()) {
        if (!splash->Model().Complete())
            splash->SetProgress(100);
        return;
    }
    // A file that failed is never shown as complete: the window ends on what happened.
    splash->Finish(QStringLiteral("Added %1 of %2 %3")
                       .arg(added)
                       .arg(total)
                       .arg(total == 1 ? QStringLiteral("file") : QStringLiteral("files")));
    failures.removeDuplicates();
    if (failures.isEmpty())
        return;
    const QString text = QStringLiteral("Added %1 of %2 %3 to the package. Not added:")
                             .arg(added)
                             .arg(total)
                             .arg(total == 1 ? QStringLiteral("file") : QStringLiteral("files"));
    if (failures.size() > 8)
        Dialogs::instance().Summary(this, ProgramName, text, failures);
    else
        Message(text + QStringLiteral("\n\n") + failures.join(QLatin1Char('\n')));
}

void frmMain::AddFiles(const QStringList& paths) {
    if (paths.isEmpty() || !PackageOpen() || ReadOnly() || m_busy)
        return;
    m_busy = true;
    RefreshCommandStates();

    // The folder is taken once: clicking around in the tree while files are compressed must
    // not scatter the rest of the selection into other folders.
    const QList<QTreeWidgetItem*> selected = m_treeWidget->selectedItems();
    const QString folder = TargetFolder(selected.isEmpty() ? nullptr : selected.first());

    frmSplash* splash = ProgressWindow();
    const QString task = QStringLiteral("Compressing File ");
    if (paths.size() == 1)
        splash->SetTitle(task + NameOf(paths.first()));
    splash->CalcIncrement(int32_t(2 * paths.size()));
    splash->ShowModeless();
    int added = 0;
    QStringList failures;
    for (const QString& path : paths) {
        if (paths.size() > 1)
            splash->SetTitle(task + NameOf(path));
        QString why;
        if (AddFileToPackage(NameOf(path), QDir::toNativeSeparators(path), folder, &why))
            ++added;
        else
            failures << why;
        // A package that is gone fails every later file alike: said once.
        if (m_closeRequested || m_session.Gone())
            break;
    }
    FinishAdding(added, int(paths.size()), failures);

    m_busy = false;
    RefreshCommandStates();
    if (m_closeRequested)
        close();
}

bool frmMain::AddFileToPackage(const QString& name, const QString& source, const QString& folder,
                               QString* why) {
    const QString key = JoinKey(folder, name);
    if (const qvr::Result allowed = m_session.CanAdd(name, folder); !allowed) {
        *why = OneLine(allowed.Message);
        return false;
    }
    qvr::sgFileInfo shown;
    shown.FileName(name.toStdString());
    shown.FilePath(folder.toStdString());
    if (const qvr::Result placed = AddFileNode(shown); !placed) {
        *why = name + QStringLiteral(" cannot be added: ") + OneLine(placed.Message) +
               QLatin1Char('.');
        return false;
    }
    if (QTreeWidgetItem* parent = folder.isEmpty() ? nullptr : m_tree->Node(folder))
        parent->setExpanded(true);

    frmSplash* splash = ProgressWindow();
    splash->IncrProgress(0);
    const qvr::Result added = m_session.Add(source, name, folder);
    splash->IncrProgress(0);
    if (!added) {
        m_tree->RemoveNodeTree(m_tree->Node(key), false);
        *why = OneLine(added.Message);
        return false;
    }
    return true;
}

void frmMain::AddPaths(const QStringList& paths, const QString& folder) {
    if (paths.isEmpty() || !PackageOpen() || ReadOnly() || m_busy)
        return;
    std::vector<qvr::BatchFile> wanted;
    QStringList failures;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (info.isDir())
            GatherFolder(path, folder, wanted, failures);
        else
            wanted.push_back({QDir::toNativeSeparators(path).toStdString(),
                              info.fileName().toStdString(), folder.toStdString()});
    }
    const int total = int(wanted.size() + failures.size());
    if (total == 0) {
        Message(QStringLiteral("There is no file to add in ") +
                QDir::toNativeSeparators(paths.first()) + QLatin1Char('.'));
        return;
    }

    // What the tree cannot show or a player could not install is left out before anything is
    // written, so the package and the tree never disagree.
    std::vector<qvr::BatchFile> files;
    for (const qvr::BatchFile& f : wanted) {
        const QString key =
            JoinKey(QString::fromStdString(f.FilePath), QString::fromStdString(f.FileName));
        std::string unsafe;
        if (!qvr::IsSafeEntryPath(f.FilePath, f.FileName, &unsafe))
            failures << QDir::toNativeSeparators(QString::fromStdString(f.Source)) +
                            QStringLiteral(": cannot be added: ") + QString::fromStdString(unsafe);
        else if (const qvr::Result ok = m_session.CanAdd(QString::fromStdString(f.FileName),
                                                         QString::fromStdString(f.FilePath));
                 !ok)
            failures << OneLine(ok.Message);
        else if (m_tree->NodeExists(key))
            failures << key + QStringLiteral(" cannot be added: a folder of that name is there.");
        else
            files.push_back(f);
    }

    m_busy = true;
    RefreshCommandStates();
    frmSplash* splash = ProgressWindow();
    splash->SetTitle(paths.size() == 1 ? QStringLiteral("Compressing ") + NameOf(paths.first())
                                       : QStringLiteral("Compressing %1 files").arg(total));
    splash->CalcIncrement(int32_t(std::max<size_t>(files.size(), 1)));
    splash->ShowModeless();
    const std::vector<qvr::BatchResult> results = m_session.AddMany(
        files, [splash](const qvr::BatchResult&, size_t, size_t) { splash->IncrProgress(0); });
    int added = 0;
    for (const qvr::BatchResult& r : results) {
        if (!r.Added) {
            failures << OneLine(r.Message);
            continue;
        }
        ++added;
        qvr::sgFileInfo entry;
        entry.FileName(r.File.FileName);
        entry.FilePath(r.File.FilePath);
        AddFileNode(entry);
    }
    if (QTreeWidgetItem* parent = folder.isEmpty() ? nullptr : m_tree->Node(folder))
        parent->setExpanded(true);
    FinishAdding(added, total, failures);

    m_busy = false;
    RefreshCommandStates();
    if (m_closeRequested)
        close();
}

} // namespace packager
