#pragma once
// The packager's main window: the package tree, the package's details, the selected file's
// details and the status bar. Every command writes into the package file at once through the
// package session; the window only mirrors the open package and shows what went wrong.

#include "ArchiveTree.h"
#include "PackageSession.h"
#include "PackagerLogic.h"
#include "qvr/package/Archives.h"
#include "qvr/sources/PackageLayout.h"
#include "qvr/sources/Unpack.h"

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
namespace shared_windows {
class frmSplash;
}

namespace packager {

using shared_windows::ArchiveTree;
using shared_windows::frmSplash;

class PackageTree;
class PathPanel;
class frmNewFolder;
class frmImport;
class frmNotes;
class frmReplace;

inline const QString ProgramName = QStringLiteral("QVRPackager");

// The file dialogs' filter list, starting with entry first (1-based).
QString FileFilters(int first);

class frmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit frmMain(qvr::Archives& arc, QWidget* parent = nullptr);
    ~frmMain() override;

    // Commands.
    void mNew_Click();
    void mOpen_Click();
    void mImport_Click();
    void mExit_Click();
    void mContents_Click();
    void mAbout_Click();
    void mAddfile_Click();
    void mAddfolder_Click();
    void mRemove_Click();
    void mNewFolder_Click();
    void cmdUpdate_Click();
    void cmdNotes_Click();

    // The work of New, Open, Import and Add file once the file dialog has answered. New
    // starts the package with info when given (else with a new package's details).
    bool NewPackage(const QString& path, const qvr::sgPlugInfo* info = nullptr);
    bool OpenPackage(const QString& path);
    // Makes a new package of what the archive holds (its data root, or the options or folder
    // the author chooses), asking where to save it; opens it as New does.
    bool ImportArchive(const QString& archive);
    void AddFiles(const QStringList& paths);
    // Adds files and whole folders (with their subfolders) below folder ("" for the top level)
    // in one go, on several threads, with one progress window: Add folder... and dropping.
    void AddPaths(const QStringList& paths, const QString& folder);
    // Asks for the folder of Add folder... (nullopt: cancelled); tests answer it in code.
    std::function<std::optional<QString>(QWidget* parent, const QString& title)> FolderChooser;
    // Opens the package named by the program's arguments (those after the program's name), as
    // Open does; nothing when none is given.
    void OpenGiven(const QStringList& arguments);

    // Procedures shared by the commands.
    void ResetPackageTree();
    void AddFolderNode(const QString& name, const QString& parent);
    // EntryFailed when the entry's key is taken in the tree.
    qvr::Result AddFileNode(const qvr::sgFileInfo& entry);
    qvr::Result AddFileNode(const qvr::sgFileInfo& entry, const QString& infoEntryName);
    // The folder a command acting on node puts files in: "" for none or the root node, a
    // folder's own key, and a file's folder (nothing ever goes below a file).
    QString TargetFolder(QTreeWidgetItem* node) const;
    // The root node's and every folder's key, in the order the nodes were made.
    QStringList FolderKeysInOrder() const;
    void UpdateStatusBar();
    void ShowPackage();
    void ShowFileDetails(QTreeWidgetItem* node);
    void ShowPluginInfo();
    // The open package's details with the boxes' texts in place of the shown ones.
    qvr::sgPlugInfo ShownPluginInfo() const;

    // What the window shows, for the dialogs and for tests.
    PackageTree* TreeWidget() const { return m_treeWidget; }
    ArchiveTree& Tree() { return *m_tree; }
    QStringList NodeKeysInOrder() const { return m_tree->KeysInOrder(); }
    PackageSession& Session() { return m_session; }
    bool PackageOpen() const { return m_session.IsOpen(); }
    bool ReadOnly() const { return m_session.ReadOnly(); }
    bool Busy() const { return m_busy; }
    frmSplash* Splash() const;
    frmNewFolder* NewFolderDialog();
    frmNotes* NotesDialog();
    frmImport* ImportDialog();

signals:
    // The program should end (Exit, or the window was closed).
    void Exited();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Layout (frmMainLayout.cpp).
    void BuildMenus();
    void BuildControls();
    void BuildFileDetails(QWidget* central);
    void Form_Resize();
    void GrowDetails(int extraTwips);
    void ShowReadOnlyLook(bool readOnly);

    void tvFileList_NodeClick(QTreeWidgetItem* node);
    void tvFileList_MenuRequested(QTreeWidgetItem* node, const QPoint& pos);
    void PackageDetailChanged();
    void tvFileList_FilesDropped(QTreeWidgetItem* node, const QStringList& paths);
    // An add, step by step (frmMainAdd.cpp).
    struct AddJob;
    void RunAdd(AddJob& job);
    void GatherAsked(AddJob& job);
    void CheckAndAsk(AddJob& job);
    void ShowAddProgress(AddJob& job);
    int ShowAdded(AddJob& job);
    // Adds files gathered elsewhere (an import) at the package's top; from names their origin.
    void AddGathered(const QString& from, qvr::Gathered gathered);
    // What an import takes of source (named name): by its layout, or as the author chooses.
    bool ChooseImport(const std::vector<std::string>& paths, const QString& name,
                      qvr::sources::Selection& selection);
    // Unpacks and gathers what selection places of source, for the package at path.
    bool UnpackImport(qvr::sources::Source& source, const qvr::sources::Selection& selection,
                      const std::string& work, const QString& path, qvr::Gathered& gathered);
    // The reviews of what was written (frmMainReview.cpp): after an add that started from a
    // package whose files lay as before says, the wrapper warning and, when a plug-in came in,
    // the masters; before Update Details writes a changed Dependencies, its masters.
    void ReviewAdded(const qvr::sources::WrappedData& before,
                     const std::vector<qvr::BatchResult>& results);
    void ReviewMasters();
    void OfferMastersBeforeUpdate();
    void TakeMasters(const QString& offer);
    QString WrappedNotice() const;
    frmReplace* ReplaceDialog();
    // Runs work on a thread of its own while the window stays live: it paints, the progress
    // window moves (tick runs on the window's thread some twenty times a second) and nothing
    // that acts on the package takes clicks. Returns when work has ended.
    void RunOffThread(const std::function<void()>& work, const std::function<void()>& tick);
    // While busy, the commands that change the package and the tree take no clicks.
    void SetBusy(bool busy);
    // Ends an add: the status bar, the progress window on what happened, one message.
    void FinishAdding(int added, int total, QStringList failures);
    void ClearFileDetails();
    // Asks before New, Open or Exit throw away details typed but not written; true to go on.
    bool MayDiscardDetails();
    void RefreshCommandStates();
    QString InfoEntryName() const { return m_session.InfoEntryName(); }
    void Message(const QString& text);
    // Shows a failed result's message; true when the result was Ok.
    bool Report(const qvr::Result& result);
    frmSplash* ProgressWindow();

    PackageSession m_session;
    qvr::Archives& m_arc; // the session's
    std::unique_ptr<ArchiveTree> m_tree;

    bool m_busy = false; // an add or a removal is running
    bool m_closeRequested = false;
    bool m_removeByNode = true; // Remove as the last node click left it
    bool m_updatePending = false;
    QString m_shownLastUpdate;   // Last Updated as the package holds it
    QString m_lastPackageFolder; // where Open starts

    PackageTree* m_treeWidget = nullptr;
    QGroupBox* m_frame1 = nullptr;
    QGroupBox* m_frame2 = nullptr;
    QLineEdit* m_pluginName = nullptr;
    QLineEdit* m_version = nullptr;
    QLineEdit* m_lastUpdate = nullptr;
    QPlainTextEdit* m_authors = nullptr;
    QPlainTextEdit* m_depends = nullptr;
    QPushButton* m_update = nullptr;
    QPushButton* m_notesButton = nullptr;
    QLineEdit* m_fileName = nullptr;
    QLineEdit* m_fileDate = nullptr;
    QLineEdit* m_fileSize = nullptr;
    QLineEdit* m_dateArc = nullptr;
    QLineEdit* m_comprSize = nullptr;
    QLabel* m_panels[2] = {nullptr, nullptr};
    PathPanel* m_pathPanel = nullptr;

    QMenu* m_packageMenu = nullptr;
    QAction* m_newAction = nullptr;
    QAction* m_openAction = nullptr;
    QAction* m_importAction = nullptr;
    QAction* m_exitAction = nullptr;
    QAction* m_addAction = nullptr;
    QAction* m_addFolderAction = nullptr;
    QAction* m_removeAction = nullptr;
    QAction* m_newFolderAction = nullptr;

    QPointer<frmSplash> m_splash;
    frmNewFolder* m_newFolder = nullptr;
    frmNotes* m_notes = nullptr;
    frmReplace* m_replaceDialog = nullptr;
    frmImport* m_importDialog = nullptr;
};

} // namespace packager
