#include "Dialogs.h"
#include "PackageReview.h"
#include "PackageTree.h"
#include "frmMain.h"
#include "frmReplace.h"
#include "frmSplash.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QTreeWidgetItem>
#include <algorithm>
#include <atomic>

using namespace shared_windows;

// Adding files and folders: Add file..., Add folder... and files dropped onto the tree. The
// files are gathered, checked and added by the packing rules of the library, the same that
// `qvr create` and `qvr add` follow; the slow parts run off the window's thread.

namespace packager {

namespace {

QString NameOf(const QString& path) {
    return QFileInfo(path).fileName();
}

QString JoinKey(const QString& folder, const QString& name) {
    return folder.isEmpty() ? name : folder + QLatin1Char('\\') + name;
}

QString KeyOf(const qvr::BatchFile& f) {
    return JoinKey(QString::fromStdString(f.FilePath), QString::fromStdString(f.FileName));
}

// One line per file for the closing message.
QString OneLine(const std::string& message) {
    QString line = QString::fromStdString(message);
    line.replace(QStringLiteral("\n\n"), QStringLiteral(" "));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return line;
}

// The files and folders chosen, as the package's files below folder: a folder below its own
// name, with everything in it.
void Gather(const QStringList& paths, const QString& folder, const qvr::PackOptions& options,
            const std::string& package, qvr::Gathered& out) {
    for (const QString& path : paths) {
        const QFileInfo info(path);
        const std::string source = QDir::toNativeSeparators(path).toStdString();
        if (info.isDir())
            qvr::GatherFolder(source, JoinKey(folder, QDir(path).dirName()).toStdString(), options,
                              package, out);
        else
            out.Files.push_back({source, info.fileName().toStdString(), folder.toStdString()});
    }
}

} // namespace

// The state of one add, from the paths chosen to the files that went in.
struct frmMain::AddJob {
    QStringList Paths;
    QString Folder;
    bool PerFile = false; // Add file...: each file's own title and two steps
    // Gathered holds the files already (an import).
    bool Pregathered = false;
    qvr::Gathered Gathered;
    std::vector<qvr::BatchFile> Files;
    std::vector<bool> Replaces;
    std::vector<QString> OldKeys; // for each file that replaces, the key it replaces
    QStringList Failures;
    int Skipped = 0; // files the author chose to keep as the package holds them
    std::vector<qvr::BatchResult> Results;
    std::atomic<size_t> Done{0};
    size_t Shown = 0;
};

frmSplash* frmMain::ProgressWindow() {
    if (!m_splash)
        m_splash = new frmSplash(this);
    return m_splash;
}

frmReplace* frmMain::ReplaceDialog() {
    if (!m_replaceDialog)
        m_replaceDialog = new frmReplace(this);
    return m_replaceDialog;
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
    // The folder is taken once: what is selected later must not scatter the files.
    const QList<QTreeWidgetItem*> selected = m_treeWidget->selectedItems();
    AddJob job;
    job.Paths = paths;
    job.Folder = TargetFolder(selected.isEmpty() ? nullptr : selected.first());
    job.PerFile = true;
    RunAdd(job);
}

void frmMain::AddPaths(const QStringList& paths, const QString& folder) {
    AddJob job;
    job.Paths = paths;
    job.Folder = folder;
    RunAdd(job);
}

// Links that lead out of a folder are followed only when the author says so.
void frmMain::GatherAsked(AddJob& job) {
    const std::string package = m_arc.CurrentArchive;
    RunOffThread([&] { Gather(job.Paths, job.Folder, {}, package, job.Gathered); }, {});
    QStringList outside;
    for (const qvr::PackProblem& p : job.Gathered.Problems)
        if (p.Kind == qvr::PackProblemKind::LinkOutside)
            outside << OneLine(p.Message);
    if (outside.isEmpty())
        return;
    const qsizetype count = outside.size();
    if (count > 10)
        outside = outside.mid(0, 10) << QStringLiteral("… and %1 more").arg(count - 10);
    const QString question =
        QStringLiteral("Some links lead to places outside the folder being added:\n\n") +
        outside.join(QLatin1Char('\n')) +
        QStringLiteral("\n\nPack what they lead to as well? With No, they are left out.");
    if (!Dialogs::instance().AskYesNo(this, ProgramName, question))
        return;
    job.Gathered = {};
    qvr::PackOptions follow;
    follow.FollowLinks = true;
    RunOffThread([&] { Gather(job.Paths, job.Folder, follow, package, job.Gathered); }, {});
}

// What the package may take; a place it holds is replaced or skipped as the author says.
void frmMain::CheckAndAsk(AddJob& job) {
    std::vector<qvr::PackProblem> problems;
    const qvr::CheckedFiles checked = m_session.CheckAdd(job.Gathered.Files, true, problems);
    for (const qvr::PackProblem& p : job.Gathered.Problems)
        job.Failures << OneLine(p.Message);
    for (const qvr::PackProblem& p : problems)
        job.Failures << OneLine(p.Message);
    std::optional<bool> forAll;
    for (size_t i = 0; i < checked.Files.size(); ++i) {
        const qvr::BatchFile& f = checked.Files[i];
        const QString key = KeyOf(f);
        QString oldKey;
        if (checked.Replaces[i]) {
            const auto held = m_arc.FindEntry(f.FileName, f.FilePath);
            oldKey = held ? EntryKey(*held) : key;
            bool replace = forAll.value_or(false);
            if (!forAll) {
                const frmReplace::Answer answer =
                    ReplaceDialog()->Ask(oldKey, QString::fromStdString(f.Source));
                replace = answer.Replace;
                if (answer.ForAll)
                    forAll = replace;
            }
            if (!replace) {
                ++job.Skipped; // the author's choice: no failure
                continue;
            }
        } else if (m_tree->NodeExists(key)) {
            // A folder made with New Folder holds no entry, yet takes the place in the tree.
            job.Failures << key +
                                QStringLiteral(" cannot be added: a folder of that name is there.");
            continue;
        }
        job.Files.push_back(f);
        job.Replaces.push_back(checked.Replaces[i]);
        job.OldKeys.push_back(oldKey);
    }
}

// Moves the progress window on by the files added since it last looked.
void frmMain::ShowAddProgress(AddJob& job) {
    frmSplash* splash = ProgressWindow();
    const size_t done = std::min(job.Done.load(), job.Files.size());
    for (; job.Shown < done; ++job.Shown) {
        splash->IncrProgress(0);
        if (!job.PerFile)
            continue;
        splash->IncrProgress(0);
        if (job.Shown + 1 < job.Files.size())
            splash->SetTitle(QStringLiteral("Compressing File ") +
                             QString::fromStdString(job.Files[job.Shown + 1].FileName));
    }
}

// Puts the nodes of the files that went in into the tree; the closing message for the rest.
int frmMain::ShowAdded(AddJob& job) {
    int added = 0;
    // Looked up once: finding it can take a walk through every entry of the package.
    const QString info = InfoEntryName();
    for (size_t i = 0; i < job.Results.size() && i < job.Files.size(); ++i) {
        const qvr::BatchResult& r = job.Results[i];
        if (!r.Added) {
            job.Failures << OneLine(r.Message);
            continue;
        }
        ++added;
        qvr::sgFileInfo entry;
        entry.FileName(r.File.FileName);
        entry.FilePath(r.File.FilePath);
        // A replaced file keeps its node, unless the new one spells its name otherwise.
        if (job.Replaces[i] && job.OldKeys[i] != EntryKey(entry))
            m_tree->RemoveNodeTree(m_tree->Node(job.OldKeys[i]));
        if (!m_tree->NodeExists(EntryKey(entry)))
            (void)AddFileNode(entry, info); // fails only on a key already there
    }
    if (QTreeWidgetItem* parent = job.Folder.isEmpty() ? nullptr : m_tree->Node(job.Folder))
        parent->setExpanded(true);
    return added;
}

void frmMain::RunAdd(AddJob& job) {
    if (job.Paths.isEmpty() || !PackageOpen() || ReadOnly() || m_busy)
        return;
    if (m_session.Gone()) {
        Report(m_session.GoneResult());
        return;
    }
    SetBusy(true);
    frmSplash* splash = ProgressWindow();
    const bool one = job.Paths.size() == 1;
    const QString task = job.PerFile ? QStringLiteral("Compressing File ") + NameOf(job.Paths[0])
                         : one       ? QStringLiteral("Compressing ") + NameOf(job.Paths[0])
                                     : QStringLiteral("Compressing %1 files").arg(job.Paths.size());
    splash->SetTitle(task);
    splash->CalcIncrement(1);
    splash->ShowModeless();

    const qvr::sources::WrappedData before = WrappedOf(m_arc);
    if (!job.Pregathered)
        GatherAsked(job);
    CheckAndAsk(job);
    const int total = int(job.Gathered.Files.size() + job.Gathered.Problems.size());
    if (total == 0 && !job.PerFile) {
        splash->hide();
        SetBusy(false);
        Message(QStringLiteral("There is no file to add in ") +
                QDir::toNativeSeparators(job.Paths.first()) + QLatin1Char('.'));
        return;
    }
    // Files the author chose to keep as the package holds them are no part of this add.
    if (job.Files.empty() && job.Failures.isEmpty()) {
        splash->hide();
        SetBusy(false);
        return;
    }
    if (job.PerFile && !job.Files.empty())
        splash->SetTitle(QStringLiteral("Compressing File ") +
                         QString::fromStdString(job.Files[0].FileName));
    splash->CalcIncrement(int32_t(std::max<size_t>(job.Files.size(), 1) * (job.PerFile ? 2 : 1)));
    if (!job.Files.empty())
        RunOffThread(
            [&] {
                job.Results = m_session.AddMany(
                    job.Files, job.Replaces,
                    [&job](const qvr::BatchResult&, size_t, size_t) { ++job.Done; });
            },
            [&] { ShowAddProgress(job); });
    ShowAddProgress(job);
    const int added = ShowAdded(job);
    FinishAdding(added, total - job.Skipped, job.Failures);

    SetBusy(false);
    if (m_closeRequested)
        close();
    else
        ReviewAdded(before, job.Results);
}

void frmMain::AddGathered(const QString& from, qvr::Gathered gathered) {
    AddJob job;
    job.Paths = {from};
    job.Gathered = std::move(gathered);
    job.Pregathered = true;
    RunAdd(job);
}

} // namespace packager
