#include "Elide.h"
#include "PathPanel.h"
#include "frmMain.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidgetItem>

using namespace shared_windows;

// What the main window shows of the open package, and which commands it offers.

namespace packager {

void frmMain::ClearFileDetails() {
    for (QLineEdit* box : {m_fileName, m_fileDate, m_fileSize, m_dateArc, m_comprSize})
        box->clear();
}

void frmMain::ShowFileDetails(QTreeWidgetItem* node) {
    const auto entry = m_arc.FindEntry(ArchiveTree::NamePart(node).toStdString(),
                                       ArchiveTree::FolderPart(node).toStdString());
    if (!entry)
        return;
    m_fileName->setText(QString::fromStdString(entry->FileName()));
    m_fileDate->setText(ShownFileDate(QString::fromStdString(entry->FileDate())));
    m_fileSize->setText(FormatGrouped(entry->FileSize()));
    m_dateArc->setText(QString::fromStdString(entry->FileArchiveDate()));
    m_comprSize->setText(FormatGrouped(entry->FileCompressedSize()));
}

void frmMain::UpdateStatusBar() {
    m_panels[0]->setText(QStringLiteral("Total files: ") + FormatGrouped(m_session.FileCount()));
    m_panels[1]->setText(QStringLiteral("File size: ") + FormatGrouped(m_session.FileSize()));
    const QString path = QDir::toNativeSeparators(QString::fromStdString(m_arc.CurrentArchive));
    m_pathPanel->SetPath(ReadOnly() ? QStringLiteral("Read-only zip file: ") : QString(), path);
}

// ---- Command states ----------------------------------------------------------------------

void frmMain::RefreshCommandStates() {
    const bool writable = PackageOpen() && !ReadOnly();
    const bool canChange = writable && !m_busy;
    m_newAction->setEnabled(!m_busy);
    m_openAction->setEnabled(!m_busy);
    m_importAction->setEnabled(!m_busy);
    m_addAction->setEnabled(canChange);
    m_addFolderAction->setEnabled(canChange);
    m_newFolderAction->setEnabled(canChange);
    m_removeAction->setEnabled(canChange && m_removeByNode);
    m_update->setEnabled(canChange && m_updatePending);
    m_notesButton->setEnabled(canChange);
    for (QLineEdit* box : {m_pluginName, m_version, m_lastUpdate})
        box->setReadOnly(!writable);
    m_authors->setReadOnly(!writable);
    m_depends->setReadOnly(!writable);
    ShowReadOnlyLook(PackageOpen() && !writable);
}

void frmMain::PackageDetailChanged() {
    m_updatePending = true;
    RefreshCommandStates();
}

void frmMain::ShowPackage() {
    ResetPackageTree();
    // A package was checked for clashing keys as it was read; only a zip file, which is never
    // changed, can still hold one, and its clashing entries are left out of the tree.
    const QString info = InfoEntryName(); // looked up once: a renamed package's takes a walk
    for (const qvr::sgFileInfo& entry : m_arc.ArchiveFiles)
        (void)AddFileNode(entry, info); // a zip's clashing entry: left out, as said above
    ShowPluginInfo();
    m_updatePending = false;
    setWindowTitle(QStringLiteral("Morrowind Plug-in Packager: ") + Displayable(m_session.Title()));
    UpdateStatusBar();
    RefreshCommandStates();
}

// ---- Plug-in information -------------------------------------------------------------------

void frmMain::ShowPluginInfo() {
    const qvr::sgPlugInfo& info = m_arc.PluginInfo;
    m_pluginName->setText(QString::fromStdString(info.PluginName()));
    m_version->setText(QString::fromStdString(info.Version()));
    m_lastUpdate->setText(QString::fromStdString(info.LastUpdated()));
    m_authors->setPlainText(ToShownText(QString::fromStdString(info.Authors())));
    m_depends->setPlainText(ToShownText(QString::fromStdString(info.Depends())));
    for (QLineEdit* box : {m_pluginName, m_version, m_lastUpdate})
        box->setCursorPosition(0);
    m_shownLastUpdate = m_lastUpdate->text();
}

qvr::sgPlugInfo frmMain::ShownPluginInfo() const {
    qvr::sgPlugInfo info = m_arc.PluginInfo;
    info.PluginName(m_pluginName->text().toStdString());
    info.Version(m_version->text().toStdString());
    info.LastUpdated(m_lastUpdate->text().toStdString());
    info.Authors(ToStoredText(m_authors->toPlainText()).toStdString());
    info.Depends(ToStoredText(m_depends->toPlainText()).toStdString());
    return info;
}

} // namespace packager
