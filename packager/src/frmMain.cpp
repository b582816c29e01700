#include "frmMain.h"

#include "Dialogs.h"
#include "Elide.h"
#include "Looks.h"
#include "PackageTree.h"
#include "Twips.h"
#include "frmHelp.h"
#include "frmNewFolder.h"
#include "frmNotes.h"
#include "frmSplash.h"
#include "qvr/format/PathRules.h"

#include <QCloseEvent>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <atomic>
#include <exception>
#include <thread>

using namespace shared_windows;

namespace packager {

namespace {

// Morrowind's textures are .dds, its sounds .wav, and a plug-in may bring its own .bsa.
const QString kFilters = QStringLiteral("Zipped Plug-ins|*.qvr"
                                        "|Common Files|*.esp;*.esm;*.bsa;*.nif;*.kf;*.dds;*.tga;"
                                        "*.bmp;*.tex;*.wav;*.mp3;*.ttf;*.fnt;*.htm;*.txt"
                                        "|Plug-ins|*.esm;*.esp"
                                        "|All files|*.*");

// A zip file opens too, read-only, to look at.
const QString kOpenFilters =
    QStringLiteral("Packages|*.qvr;*.zip|Zipped Plug-ins|*.qvr|Zip files|*.zip|All files|*.*");

// Where a file of the package's is shown: its key with the platform's separators.
QString ShownKey(QString key) {
    return QDir::toNativeSeparators(key.replace(QLatin1Char('\\'), QLatin1Char('/')));
}

int FilesBelow(const QTreeWidgetItem* node) {
    int files = 0;
    for (int i = 0; i < node->childCount(); ++i) {
        const QTreeWidgetItem* child = node->child(i);
        files += ArchiveTree::IsFolder(child) ? FilesBelow(child) : 1;
    }
    return files;
}

} // namespace

// The filter list with entry `first` (1-based) moved to the front: Qt's dialogs start on their
// first entry, and there is no other way to pick the one a command starts with.
QString FileFilters(int first) {
    const QStringList parts = kFilters.split(QLatin1Char('|'));
    QStringList ordered;
    const int i = (first - 1) * 2;
    ordered << parts[i] << parts[i + 1];
    for (int j = 0; j + 1 < parts.size(); j += 2) {
        if (j != i)
            ordered << parts[j] << parts[j + 1];
    }
    return ordered.join(QLatin1Char('|'));
}

frmMain::frmMain(qvr::Archives& arc, QWidget* parent)
    : QMainWindow(parent), m_session(arc), m_arc(arc) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Morrowind QVRfile Packager"));
    BuildMenus();
    BuildControls();
    m_tree = std::make_unique<ArchiveTree>(m_treeWidget, TreeOptions());

    resize(Tw(9875), Tw(6975) + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
    RefreshCommandStates();
}

frmMain::~frmMain() = default;

frmSplash* frmMain::Splash() const {
    return m_splash;
}

bool frmMain::MayDiscardDetails() {
    if (!m_updatePending || !PackageOpen() || ReadOnly())
        return true;
    return Dialogs::instance().AskYesNo(
        this, ProgramName,
        QStringLiteral("The package details or notes you changed have not been written into the "
                       "package (Update Details writes them). Discard the changes?"));
}

void frmMain::closeEvent(QCloseEvent* event) {
    if (m_busy) {
        // Stop once the file being compressed is in; the package is never left half-written.
        m_closeRequested = true;
        event->ignore();
        return;
    }
    if (!MayDiscardDetails()) {
        event->ignore();
        return;
    }
    if (m_splash)
        m_splash->hide();
    event->accept();
    emit Exited();
}

// ---- Long work -----------------------------------------------------------------------------

void frmMain::SetBusy(bool busy) {
    m_busy = busy;
    // Rows move as files come and go: a click queued for one row must not land on another.
    m_treeWidget->setEnabled(!busy);
    RefreshCommandStates();
}

void frmMain::RunOffThread(const std::function<void()>& work, const std::function<void()>& tick) {
    QEventLoop loop;
    std::atomic<bool> finished{false};
    bool ticking = false;
    QTimer timer;
    timer.setInterval(50);
    connect(&timer, &QTimer::timeout, &loop, [&] {
        // The progress window lets events run; a tick never runs inside another.
        if (tick && !ticking) {
            ticking = true;
            tick();
            ticking = false;
        }
        if (finished)
            loop.quit();
    });
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        finished = true;
        QMetaObject::invokeMethod(
            &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    timer.start();
    // Ended by the worker's last word, or by the timer should that word come before exec.
    loop.exec();
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
}

// ---- Tree ------------------------------------------------------------------------------------

void frmMain::tvFileList_NodeClick(QTreeWidgetItem* node) {
    m_removeByNode = !(node && ArchiveTree::Key(node) == RootKey);
    ClearFileDetails();
    if (node && !ArchiveTree::IsFolder(node) && ArchiveTree::Key(node) != RootKey)
        ShowFileDetails(node);
    RefreshCommandStates();
}

void frmMain::tvFileList_MenuRequested(QTreeWidgetItem* node, const QPoint& pos) {
    // The menu acts on the node under the pointer, so Remove is offered for it.
    m_removeByNode = node && ArchiveTree::Key(node) != RootKey;
    RefreshCommandStates();
    m_packageMenu->popup(m_treeWidget->viewport()->mapToGlobal(pos));
}

void frmMain::ResetPackageTree() {
    m_tree->Clear();
    m_tree->AddNode(nullptr, RootKey, RootKey, QString());
    for (const QString& folder : FixedFolders())
        AddFolderNode(folder, QString());
    ClearFileDetails();
    m_removeByNode = true;
    m_updatePending = false;
    RefreshCommandStates();
}

void frmMain::AddFolderNode(const QString& name, const QString& parent) {
    if (parent.isEmpty())
        m_tree->AddNode(nullptr, name, name, FolderImage);
    else
        m_tree->AddNode(m_tree->Node(parent), parent + QLatin1Char('\\') + name, name, FolderImage);
}

qvr::Result frmMain::AddFileNode(const qvr::sgFileInfo& entry) {
    return AddFileNode(entry, InfoEntryName());
}

qvr::Result frmMain::AddFileNode(const qvr::sgFileInfo& entry, const QString& infoEntryName) {
    // A zip file lists its folders as entries without a name: they are folders, not files.
    if (entry.FileName().empty()) {
        if (!entry.FilePath().empty())
            m_tree->AddFolderNodes(QString::fromStdString(entry.FilePath()));
        return qvr::Result::Success();
    }
    return m_tree->AddFileNode(entry, infoEntryName);
}

QString frmMain::TargetFolder(QTreeWidgetItem* node) const {
    if (!node || ArchiveTree::Key(node) == RootKey)
        return QString();
    // A file's own folder: nothing ever goes below a file.
    return ArchiveTree::IsFolder(node) ? ArchiveTree::Key(node) : ArchiveTree::FolderPart(node);
}

QStringList frmMain::FolderKeysInOrder() const {
    QStringList keys;
    for (const QString& key : m_tree->KeysInOrder()) {
        if (key == RootKey || ArchiveTree::IsFolder(m_tree->Node(key)))
            keys << key;
    }
    return keys;
}

void frmMain::Message(const QString& text) {
    Dialogs::instance().Message(this, ProgramName, text);
}

bool frmMain::Report(const qvr::Result& result) {
    if (!result.Ok())
        Message(QString::fromStdString(result.Message));
    return result.Ok();
}

// ---- File menu ---------------------------------------------------------------------------

void frmMain::mNew_Click() {
    if (m_busy || !MayDiscardDetails())
        return;
    const auto chosen = Dialogs::instance().SaveFile(this, QStringLiteral("Create New Package"),
                                                     FileFilters(1), QString());
    if (chosen)
        NewPackage(*chosen);
}

bool frmMain::NewPackage(const QString& chosen, const qvr::sgPlugInfo* info) {
    if (m_busy || chosen.isEmpty() || !Report(m_session.New(chosen, info)))
        return false;
    m_lastPackageFolder = QDir::toNativeSeparators(QFileInfo(chosen).absolutePath());
    setWindowTitle(QStringLiteral("Morrowind QVR Packager: ") + Displayable(m_session.Title()));
    ShowPluginInfo();
    ResetPackageTree();
    UpdateStatusBar();
    return true;
}

void frmMain::mOpen_Click() {
    if (m_busy || !MayDiscardDetails())
        return;
    // Where the last package was, not where files were last added from.
    const QString start =
        m_lastPackageFolder.isEmpty() ? QString() : m_lastPackageFolder + QDir::separator();
    const auto chosen = Dialogs::instance().OpenFile(
        this, QStringLiteral("Open Morrowind Plug-in Package"), kOpenFilters, start);
    if (chosen)
        OpenPackage(*chosen);
}

bool frmMain::OpenPackage(const QString& path) {
    if (m_busy || path.isEmpty())
        return false;
    QString notice;
    if (!Report(m_session.Open(path, &notice)))
        return false;
    m_lastPackageFolder = QDir::toNativeSeparators(QFileInfo(path).absolutePath());
    ShowPackage();
    if (const QString wrapped = WrappedNotice(); !wrapped.isEmpty())
        notice += (notice.isEmpty() ? QString() : QStringLiteral("\n\n")) + wrapped;
    if (!notice.isEmpty())
        Message(notice);
    return true;
}

void frmMain::OpenGiven(const QStringList& arguments) {
    if (!arguments.isEmpty())
        OpenPackage(arguments.first());
}

void frmMain::mExit_Click() {
    close();
}

void frmMain::mContents_Click() {
    frmHelp help(this);
    help.exec();
}

void frmMain::mAbout_Click() {
    frmAbout about(AboutOptions(), this);
    about.exec();
}

// ---- Folders and removal ---------------------------------------------------------------------

frmNewFolder* frmMain::NewFolderDialog() {
    if (!m_newFolder)
        m_newFolder = new frmNewFolder(this, [this] { return FolderKeysInOrder(); });
    return m_newFolder;
}

void frmMain::mNewFolder_Click() {
    if (!m_newFolderAction->isEnabled())
        return;
    frmNewFolder* dialog = NewFolderDialog();
    const QList<QTreeWidgetItem*> selected = m_treeWidget->selectedItems();
    // With nothing selected the list starts at its first item, whatever was chosen last time;
    // with a file selected, at the file's folder.
    const QString folder = selected.isEmpty() ? QString() : TargetFolder(selected.first());
    dialog->Selectedfolder(selected.isEmpty() ? QString() : folder.isEmpty() ? RootKey : folder);
    dialog->exec();
    const QString name = dialog->FolderName();
    const QString parent = dialog->Selectedfolder();
    if (name.isEmpty())
        return;

    const bool atTop = parent == RootKey || parent.isEmpty();
    const QString key = atTop ? name : parent + QLatin1Char('\\') + name;
    std::string why;
    if (name.contains(QLatin1Char('\\')) || name.contains(QLatin1Char('/')))
        why = "it may not hold \\ or /";
    else if (const qvr::Result safe = qvr::IsSafeFolderPath(key.toStdString()); !safe)
        why = safe.Message;
    if (!why.empty()) {
        Message(QStringLiteral("The folder name ") + name + QStringLiteral(" cannot be used: ") +
                QString::fromStdString(why));
        return;
    }
    QTreeWidgetItem* parentNode = atTop ? nullptr : m_tree->Node(parent);
    if (parentNode && !ArchiveTree::IsFolder(parentNode)) {
        Message(parent + QStringLiteral(" is a file: a folder cannot be made below it."));
        return;
    }
    if ((!atTop && !parentNode) || !m_tree->AddNode(parentNode, key, name, FolderImage)) {
        Message(QStringLiteral("That folder already exists under that directory."));
        return;
    }
    if (parentNode)
        parentNode->setExpanded(true);
}

void frmMain::mRemove_Click() {
    if (!m_removeAction->isEnabled())
        return;
    const QList<QTreeWidgetItem*> selected = m_treeWidget->selectedItems();
    QTreeWidgetItem* node = selected.isEmpty() ? nullptr : selected.first();
    if (!node) {
        Message(QStringLiteral("You must select an item to remove"));
        return;
    }
    if (ArchiveTree::Key(node) == RootKey) {
        Message(QStringLiteral("You may not remove the <root> item"));
        return;
    }
    // Named, so that a click that landed on another row is seen before anything is deleted.
    const QString name = ShownKey(ArchiveTree::Key(node));
    const int files = ArchiveTree::IsFolder(node) ? FilesBelow(node) : 1;
    const QString question =
        ArchiveTree::IsFolder(node)
            ? QStringLiteral("Are you sure you wish to delete the folder %1 and all of its "
                             "contents (%2) from the package?")
                  .arg(name, files == 1 ? QStringLiteral("1 file")
                                        : QStringLiteral("%1 files").arg(files))
            : QStringLiteral("Are you sure you wish to delete the file %1 from the package?")
                  .arg(name);
    if (m_session.Gone()) {
        Report(m_session.GoneResult());
        return;
    }
    if (Dialogs::instance().AskYesNo(this, ProgramName, question)) {
        SetBusy(true);
        frmSplash* splash = ProgressWindow();
        splash->SetTitle(QStringLiteral("Removing ") + node->text(0));
        splash->CalcIncrement(int32_t(std::max<size_t>(m_arc.ArchiveFiles.size(), 1)));
        splash->ShowModeless();
        // One rebuild of the package for the whole subtree, off the window's thread.
        std::atomic<size_t> step{0};
        size_t shown = 0;
        QSet<QString> kept;
        qvr::Result removed = qvr::Result::Success();
        const QString key = ArchiveTree::Key(node);
        RunOffThread(
            [&] {
                removed = m_session.RemoveSubtree(key, &kept,
                                                  [&step](size_t done, size_t, const std::string&) {
                                                      step = done;
                                                      return true;
                                                  });
            },
            [&] {
                for (; shown < step; ++shown)
                    splash->IncrProgress(0);
            });
        // A file still in the package keeps its node, and so does every folder above it.
        m_tree->RemoveNodeTreeExcept(node, kept);
        m_treeWidget->setCurrentItem(nullptr);
        m_treeWidget->clearSelection();
        ClearFileDetails();
        if (removed)
            splash->SetProgress(100);
        else
            splash->Finish(QStringLiteral("Nothing was removed"));
        SetBusy(false);
        Report(removed);
    }
    UpdateStatusBar();
    if (m_closeRequested)
        close();
}

frmNotes* frmMain::NotesDialog() {
    if (!m_notes)
        m_notes = new frmNotes(this, m_arc.PluginInfo);
    return m_notes;
}

void frmMain::cmdNotes_Click() {
    if (!m_notesButton->isEnabled())
        return;
    if (NotesDialog()->exec() == QDialog::Accepted) {
        m_updatePending = true;
        RefreshCommandStates();
    }
}

void frmMain::cmdUpdate_Click() {
    if (!m_update->isEnabled())
        return;
    // Named before anything is written: the library could only say which field is at fault.
    const std::pair<QString, QString> fields[] = {
        {QStringLiteral("Name"), m_pluginName->text()},
        {QStringLiteral("Version"), m_version->text()},
        {QStringLiteral("Last Updated"), m_lastUpdate->text()},
        {QStringLiteral("Author(s)"), m_authors->toPlainText()},
        {QStringLiteral("Dependencies"), m_depends->toPlainText()},
        {QStringLiteral("Notes"), QString::fromStdString(m_arc.PluginInfo.Notes())}};
    for (const auto& [field, text] : fields) {
        if (const auto bad = UnstorableCharacter(text)) {
            Message(QStringLiteral("The details could not be written: the %1 box holds the "
                                   "character %2, which a package cannot store (it keeps its "
                                   "texts in Windows-1252). Replace it, then press Update "
                                   "Details again.")
                        .arg(field, *bad));
            return;
        }
    }
    OfferMastersBeforeUpdate();
    // Writing the details is an update: the date says so, unless the author set one.
    const QString previousDate = m_lastUpdate->text();
    const bool dateKept = previousDate == m_shownLastUpdate;
    if (dateKept)
        m_lastUpdate->setText(DatePart(QString::fromStdString(qvr::FormatArchiveDate())));
    if (!Report(m_session.UpdateDetails(ShownPluginInfo()))) {
        m_lastUpdate->setText(previousDate);
        return;
    }
    m_shownLastUpdate = m_lastUpdate->text();
    m_updatePending = false;
    RefreshCommandStates();
    UpdateStatusBar();
}

} // namespace packager
