#include "frmMain.h"

#include "Dialogs.h"
#include "PackageTree.h"
#include "Twips.h"
#include "frmAbout.h"
#include "frmHelp.h"
#include "frmNewFolder.h"
#include "frmNotes.h"
#include "frmSplash.h"
#include "qvr/FileUtils.h"
#include "qvr/PathRules.h"

#include <QCloseEvent>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

namespace packager {

namespace {

const QString kFilters = QStringLiteral("Zipped Plug-ins|*.qvr"
                                        "|Common Files|*.esp;*.bmp;*.tga;*.mp3;*.ttf;*.htm;*.fnt;"
                                        "*.tex;*.nif;*.kf"
                                        "|Plug-ins|*.esm;*.esp"
                                        "|All files|*.*");

// The filter list with entry `first` (1-based) moved to the front: Qt's dialogs start on their
// first entry, and there is no other way to pick the one a command starts with.
QString FiltersStartingWith(int first) {
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

// The layout rule works on the window's outer size, in twips. A frame adds 120 to the inner
// width; for the height 800 is counted, so that the rule's own 800 leave the tree the whole
// height between the menu and the status bar.
constexpr int kOuterExtraWidth = 120;
constexpr int kOuterExtraHeight = 800;
constexpr int kTwipsPerPixel = 15;
constexpr int kFrameWidth = 4875;

// A 10-byte QVR archive with no entries: readable, though the library's walk answers false.
bool IsEmptyArchive(const std::string& path) {
    if (qvr::FileLength(path) != 10)
        return false;
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    return bytes.size() == 10 && bytes.startsWith("QVR1.0") && bytes.mid(6) == QByteArray(4, 0);
}

QLabel* FieldLabel(QWidget* parent, const QString& text, int top) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(TwRect(180, top, 1320 - 180 - 30, 315));
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

QLineEdit* LineBox(QWidget* parent, const char* name, const QRect& rect) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    box->setGeometry(rect);
    return box;
}

QLineEdit* DetailBox(QWidget* parent, const char* name, const QRect& rect) {
    QLineEdit* box = LineBox(parent, name, rect);
    box->setReadOnly(true);
    QPalette pal = box->palette();
    pal.setColor(QPalette::Base, QColor(0xFF, 0xFF, 0xE6));
    box->setPalette(pal);
    return box;
}

template <typename W> void UnifyFontSizes(const QList<W*>& widgets) {
    double smallest = 0;
    for (W* w : widgets) {
        if (smallest == 0 || w->font().pointSizeF() < smallest)
            smallest = w->font().pointSizeF();
    }
    for (W* w : widgets) {
        QFont f = w->font();
        f.setPointSizeF(smallest);
        w->setFont(f);
    }
}

QString Native(const std::string& path) {
    return QDir::toNativeSeparators(QString::fromStdString(path));
}

} // namespace

frmMain::frmMain(qvr::Archives& arc, QWidget* parent) : QMainWindow(parent), m_arc(arc) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Morrowind QVRfile Packager"));
    if (m_arc.TempFolder.empty())
        m_arc.TempFolder = qvr::GetTempFolder();

    BuildMenus();
    BuildControls();
    m_tree = std::make_unique<ArchiveTree>(m_treeWidget, ArchiveTree::Variant::Packager);

    resize(Tw(9875), Tw(6975) + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
    RefreshCommandStates();
}

frmMain::~frmMain() = default;

frmSplash* frmMain::Splash() const {
    return m_splash;
}

void frmMain::BuildMenus() {
    QMenuBar* bar = menuBar();
    auto item = [this](QMenu* menu, const char* name, const QString& text,
                       void (frmMain::*slot)()) {
        QAction* action = menu->addAction(text);
        action->setObjectName(QLatin1String(name));
        connect(action, &QAction::triggered, this, slot);
        return action;
    };

    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    m_newAction = item(file, "mNew", QStringLiteral("&New..."), &frmMain::mNew_Click);
    m_openAction = item(file, "mOpen", QStringLiteral("&Open..."), &frmMain::mOpen_Click);
    file->addSeparator();
    m_exitAction = item(file, "mExit", QStringLiteral("E&xit"), &frmMain::mExit_Click);

    m_packageMenu = bar->addMenu(QStringLiteral("&Package"));
    m_packageMenu->setObjectName(QStringLiteral("mnuPackage"));
    m_addAction =
        item(m_packageMenu, "mAddfile", QStringLiteral("&Add file..."), &frmMain::mAddfile_Click);
    m_removeAction =
        item(m_packageMenu, "mRemove", QStringLiteral("&Remove"), &frmMain::mRemove_Click);
    m_packageMenu->addSeparator();
    m_newFolderAction = item(m_packageMenu, "mNewFolder", QStringLiteral("&New Folder..."),
                             &frmMain::mNewFolder_Click);

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    item(help, "mContents", QStringLiteral("&Contents"), &frmMain::mContents_Click);
    item(help, "mAbout", QStringLiteral("&About"), &frmMain::mAbout_Click);
}

void frmMain::BuildControls() {
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("MainArea"));
    setCentralWidget(central);
    central->installEventFilter(this);

    m_treeWidget = new PackageTree(central);
    m_treeWidget->setObjectName(QStringLiteral("tvFileList"));
    m_treeWidget->setGeometry(TwRect(0, 0, 4695, 6975));
    connect(m_treeWidget, &PackageTree::NodeClick, this, &frmMain::tvFileList_NodeClick);
    connect(m_treeWidget, &PackageTree::MenuRequested, this, &frmMain::tvFileList_MenuRequested);

    m_frame1 = new QGroupBox(QStringLiteral("Package Details"), central);
    m_frame1->setObjectName(QStringLiteral("Frame1"));
    m_frame1->setGeometry(TwRect(4920, 0, kFrameWidth, 4035));
    FieldLabel(m_frame1, QStringLiteral("Name:"), 360);
    FieldLabel(m_frame1, QStringLiteral("Version:"), 720);
    FieldLabel(m_frame1, QStringLiteral("Last Updated:"), 1080);
    FieldLabel(m_frame1, QStringLiteral("Author(s):"), 1440);
    FieldLabel(m_frame1, QStringLiteral("Dependencies:"), 2460);
    m_pluginName = LineBox(m_frame1, "txPluginName", TwRect(1320, 360, 3015, 315));
    m_version = LineBox(m_frame1, "txVersion", TwRect(1320, 720, 3015, 315));
    m_lastUpdate = LineBox(m_frame1, "txLastUpdate", TwRect(1320, 1080, 3015, 315));
    m_authors = new QPlainTextEdit(m_frame1);
    m_authors->setObjectName(QStringLiteral("txAuthors"));
    m_authors->setGeometry(TwRect(1320, 1440, 3015, 975));
    m_depends = new QPlainTextEdit(m_frame1);
    m_depends->setObjectName(QStringLiteral("txDepends"));
    m_depends->setGeometry(TwRect(1320, 2460, 3015, 975));
    for (QPlainTextEdit* box : {m_authors, m_depends}) {
        box->setTabChangesFocus(true);
        connect(box, &QPlainTextEdit::textChanged, this, &frmMain::PackageDetailChanged);
    }
    for (QLineEdit* box : {m_pluginName, m_version, m_lastUpdate}) {
        box->installEventFilter(this);
        connect(box, &QLineEdit::textChanged, this, &frmMain::PackageDetailChanged);
    }
    m_update = new QPushButton(QStringLiteral("Update Details"), m_frame1);
    m_update->setObjectName(QStringLiteral("cmdUpdate"));
    m_update->setGeometry(TwRect(180, 3540, 1275, 375));
    connect(m_update, &QPushButton::clicked, this, &frmMain::cmdUpdate_Click);
    m_notesButton = new QPushButton(QStringLiteral("Notes..."), m_frame1);
    m_notesButton->setObjectName(QStringLiteral("cmdNotes"));
    m_notesButton->setGeometry(TwRect(3240, 3540, 1095, 375));
    connect(m_notesButton, &QPushButton::clicked, this, &frmMain::cmdNotes_Click);

    m_frame2 = new QGroupBox(QStringLiteral("File Details"), central);
    m_frame2->setObjectName(QStringLiteral("Frame2"));
    m_frame2->setGeometry(TwRect(4920, 4080, kFrameWidth, 2775));
    FieldLabel(m_frame2, QStringLiteral("Name:"), 360);
    FieldLabel(m_frame2, QStringLiteral("Date:"), 720);
    FieldLabel(m_frame2, QStringLiteral("Size:"), 1080);
    FieldLabel(m_frame2, QStringLiteral("Date Archived:"), 1440);
    FieldLabel(m_frame2, QStringLiteral("Compressed:"), 1800);
    m_fileName = DetailBox(m_frame2, "txFileName", TwRect(1320, 360, 3015, 315));
    m_fileDate = DetailBox(m_frame2, "txFileDate", TwRect(1320, 720, 3015, 315));
    m_fileSize = DetailBox(m_frame2, "txFileSize", TwRect(1320, 1080, 1755, 315));
    m_dateArc = DetailBox(m_frame2, "txDateArc", TwRect(1320, 1440, 3015, 315));
    m_comprSize = DetailBox(m_frame2, "txComprSize", TwRect(1320, 1800, 1755, 315));
    for (int top : {1080, 1800}) {
        auto* bytes = new QLabel(QStringLiteral("bytes"), m_frame2);
        bytes->setGeometry(TwRect(3135, top, 900, 315));
        bytes->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    }
    m_fileSize->setAlignment(Qt::AlignRight);
    m_comprSize->setAlignment(Qt::AlignRight);

    // The layout was drawn for an 8-point font; captions that still do not fit get a smaller
    // one, and each kind of caption then takes the smallest so the window looks even.
    QFont font = central->font();
    font.setPointSizeF(8.25);
    central->setFont(font);
    FitAllTexts(central);
    UnifyFontSizes(central->findChildren<QLabel*>());
    UnifyFontSizes(QList<QPushButton*>{m_update, m_notesButton});

    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setSizeGripEnabled(true);
    const int widths[3] = {Tw(2100), Tw(2400), 0};
    for (int i = 0; i < 3; ++i) {
        m_panels[i] = new QLabel(bar);
        m_panels[i]->setObjectName(QStringLiteral("Panel%1").arg(i + 1));
        m_panels[i]->setFrameShape(QFrame::Panel);
        m_panels[i]->setFrameShadow(QFrame::Sunken);
        if (widths[i] > 0) {
            m_panels[i]->setMinimumWidth(widths[i]);
            bar->addWidget(m_panels[i]);
        } else {
            bar->addWidget(m_panels[i], 1);
        }
    }
}

// ---- Layout and window events ---------------------------------------------------------------

void frmMain::Form_Resize() {
    const QWidget* area = centralWidget();
    const int statusHeight = statusBar()->isVisible() ? statusBar()->height() * kTwipsPerPixel : 0;
    const int outerWidth = area->width() * kTwipsPerPixel + kOuterExtraWidth;
    const int outerHeight = area->height() * kTwipsPerPixel + statusHeight + kOuterExtraHeight;
    const ResizeResult r =
        ApplyResizeRule(outerWidth, outerHeight, kFrameWidth, kFrameWidth, statusHeight);
    if (r.Frame1Left)
        m_frame1->move(Tw(*r.Frame1Left), m_frame1->y());
    if (r.Frame2Left)
        m_frame2->move(Tw(*r.Frame2Left), m_frame2->y());
    if (r.TreeWidth)
        m_treeWidget->resize(Tw(*r.TreeWidth), m_treeWidget->height());
    if (r.TreeHeight)
        m_treeWidget->resize(m_treeWidget->width(), Tw(*r.TreeHeight));
}

void frmMain::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == centralWidget() && event->type() == QEvent::Resize) {
        Form_Resize();
    } else if (event->type() == QEvent::FocusIn) {
        // Entering a one-line detail box selects its text, so typing replaces it. A mouse
        // click places the caret after focus arrives, so select again once it has.
        if (auto* box = qobject_cast<QLineEdit*>(watched)) {
            box->selectAll();
            QTimer::singleShot(0, box, [box] {
                if (box->hasFocus())
                    box->selectAll();
            });
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmMain::closeEvent(QCloseEvent* event) {
    if (m_busy) {
        // Stop once the file being compressed is in; the package is never left half-written.
        m_closeRequested = true;
        event->ignore();
        return;
    }
    if (m_splash)
        m_splash->hide();
    event->accept();
    emit Exited();
}

// ---- Tree ------------------------------------------------------------------------------------

void frmMain::tvFileList_NodeClick(QTreeWidgetItem* node) {
    m_removeByNode = !(node && ArchiveTree::Key(node) == RootKey);
    ClearFileDetails();
    if (node && !ArchiveTree::IsFolder(node) && node->text(0) != RootKey)
        ShowFileDetails(node);
    RefreshCommandStates();
}

void frmMain::tvFileList_MenuRequested(QTreeWidgetItem*, const QPoint& pos) {
    m_packageMenu->popup(m_treeWidget->viewport()->mapToGlobal(pos));
}

QString frmMain::InfoEntryName() const {
    return QString::fromStdString(m_arc.InfoEntryName());
}

void frmMain::TrackNode(const QString& key) {
    m_order.Append(key);
}

QStringList frmMain::NodeKeysInOrder() const {
    QStringList keys;
    for (const QString& key : m_order.Keys()) {
        if (m_tree->NodeExists(key))
            keys << key;
    }
    return keys;
}

void frmMain::ResetPackageTree() {
    m_tree->Clear();
    m_order.Clear();
    m_tree->AddNode(nullptr, RootKey, RootKey, QString());
    TrackNode(RootKey);
    for (const QString& folder : FixedFolders())
        AddFolderNode(folder, QString());
    ClearFileDetails();
    m_removeByNode = true;
    m_updatePending = false;
    RefreshCommandStates();
}

void frmMain::AddFolderNode(const QString& name, const QString& parent) {
    if (parent.isEmpty()) {
        m_tree->AddNode(nullptr, name, name, FolderImage);
        TrackNode(name);
    } else {
        const QString key = parent + QLatin1Char('\\') + name;
        m_tree->AddNode(m_tree->Node(parent), key, name, FolderImage);
        TrackNode(key);
    }
}

void frmMain::AddFileNode(const qvr::sgFileInfo& entry) {
    QStringList keys;
    const QString path = QString::fromStdString(entry.FilePath());
    if (!path.isEmpty()) {
        for (qsizetype i = path.indexOf(QLatin1Char('\\')); i >= 0;
             i = path.indexOf(QLatin1Char('\\'), i + 1))
            keys << path.left(i);
        keys << path;
    }
    // A zip file lists its folders as entries without a name: they are folders, not files.
    const bool folderOnly = entry.FileName().empty();
    if (!folderOnly)
        keys << EntryKey(entry);
    auto track = [&] {
        for (const QString& key : keys) {
            if (m_tree->NodeExists(key))
                TrackNode(key);
        }
    };
    try {
        if (folderOnly) {
            if (!path.isEmpty())
                m_tree->AddFolderNodes(path);
        } else {
            m_tree->AddFileNode(entry, InfoEntryName());
        }
    } catch (...) {
        track();
        throw;
    }
    track();
}

void frmMain::ClearFileDetails() {
    for (QLineEdit* box : {m_fileName, m_fileDate, m_fileSize, m_dateArc, m_comprSize})
        box->clear();
}

void frmMain::ShowFileDetails(QTreeWidgetItem* node) {
    const auto entry =
        m_arc.FindEntry(node->text(0).toStdString(), ArchiveTree::FolderPart(node).toStdString());
    if (!entry)
        return;
    m_fileName->setText(QString::fromStdString(entry->FileName()));
    m_fileDate->setText(QString::fromStdString(entry->FileDate()));
    m_fileSize->setText(FormatGrouped(entry->FileSize()));
    m_dateArc->setText(QString::fromStdString(entry->FileArchiveDate()));
    m_comprSize->setText(FormatGrouped(entry->FileCompressedSize()));
}

void frmMain::UpdateStatusBar() {
    const QString info = InfoEntryName().toLower();
    qint64 files = 0;
    for (const qvr::sgFileInfo& entry : m_arc.ArchiveFiles) {
        const QString name = QString::fromStdString(entry.FileName());
        if (!name.isEmpty() && name.toLower() != info)
            ++files;
    }
    m_panels[0]->setText(QStringLiteral("Total files: ") + FormatGrouped(files));
    const int64_t size = m_arc.CurrentArchive.empty() ? 0 : qvr::FileLength(m_arc.CurrentArchive);
    m_panels[1]->setText(QStringLiteral("File size: ") + FormatGrouped(size > 0 ? size : 0));
    const QString path = Native(m_arc.CurrentArchive);
    m_panels[2]->setText(m_readOnly ? QStringLiteral("Read-only zip file: ") + path : path);
}

// ---- Command states ----------------------------------------------------------------------

void frmMain::RefreshCommandStates() {
    const bool writable = m_open && !m_readOnly;
    const bool canChange = writable && !m_busy;
    m_newAction->setEnabled(!m_busy);
    m_openAction->setEnabled(!m_busy);
    m_addAction->setEnabled(canChange);
    m_newFolderAction->setEnabled(canChange);
    m_removeAction->setEnabled(canChange && m_removeByNode);
    m_update->setEnabled(canChange && m_updatePending);
    m_notesButton->setEnabled(canChange);
    for (QLineEdit* box : {m_pluginName, m_version, m_lastUpdate})
        box->setReadOnly(!writable);
    m_authors->setReadOnly(!writable);
    m_depends->setReadOnly(!writable);
}

void frmMain::PackageDetailChanged() {
    m_updatePending = true;
    RefreshCommandStates();
}

void frmMain::Message(const QString& text) {
    Dialogs::instance().Message(this, ProgramName, text);
}

void frmMain::Adopt(qvr::Archives& from) {
    // The whole object, so that whatever the library keeps about the file it read comes along.
    from.TempFolder = m_arc.TempFolder;
    m_arc = std::move(from);
    m_arc.LastError.clear();
}

// ---- File menu ---------------------------------------------------------------------------

void frmMain::mNew_Click() {
    if (m_busy)
        return;
    const auto chosen = Dialogs::instance().SaveFile(this, QStringLiteral("Create New Package"),
                                                     FiltersStartingWith(1), QString());
    if (chosen)
        NewPackage(*chosen);
}

bool frmMain::NewPackage(const QString& chosen) {
    if (m_busy || chosen.isEmpty())
        return false;
    QString path = chosen;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".qvr");
    const std::string p = path.toStdString();
    const QString shown = Native(p);
    const bool existed = QFileInfo::exists(path);

    // Built aside and taken over only when complete, so a failure leaves the open package as it
    // was and no half-made package behind.
    qvr::Archives made;
    made.TempFolder = m_arc.TempFolder;
    if (!made.CreateArchive(p)) {
        if (qvr::FileExists(p))
            Message(shown + QStringLiteral(" already exists. Choose a new name for the package, "
                                           "or open it with Open."));
        else
            Message(shown + QStringLiteral(" cannot be created.\n\n") +
                    QString::fromStdString(made.LastError));
        return false;
    }
    const QString title = QString::fromStdString(qvr::GetFileNameFromPath(p));
    made.PluginInfo =
        DefaultPluginInfo(title, QLocale().toString(QDate::currentDate(), QLocale::ShortFormat));
    if (!made.PluginInfo.SavePluginData(made, title.toStdString())) {
        const QString why = QString::fromStdString(made.LastError);
        if (existed)
            QFile::resize(path, 0);
        else
            QFile::remove(path);
        Message(shown + QStringLiteral(" cannot be made a package.\n\n") + why);
        return false;
    }

    Adopt(made);
    m_open = true;
    m_readOnly = false;
    setWindowTitle(QStringLiteral("Morrowind QVR Packager: ") + title);
    ShowPluginInfo();
    ResetPackageTree();
    UpdateStatusBar();
    return true;
}

void frmMain::mOpen_Click() {
    if (m_busy)
        return;
    const auto chosen = Dialogs::instance().OpenFile(
        this, QStringLiteral("Open Morrowind Plug-in Package"), FiltersStartingWith(1), QString());
    if (chosen)
        OpenPackage(*chosen);
}

bool frmMain::OpenPackage(const QString& path) {
    if (m_busy || path.isEmpty())
        return false;
    const std::string p = path.toStdString();
    const QString shown = Native(p);

    // Read aside: only a file read to its end replaces the open package.
    qvr::Archives read;
    read.TempFolder = m_arc.TempFolder;
    const bool complete = read.OpenArchive(p);
    const bool zip = read.ZipLoaded;
    if (!complete && !zip) {
        if (!IsEmptyArchive(p)) {
            QString why = QString::fromStdString(read.LastError);
            if (why.isEmpty())
                why = read.IsQvrArchive(p)
                          ? QStringLiteral("Its list of files is damaged and cannot be read "
                                           "to its end.")
                          : QStringLiteral("It is neither a QVR package nor a zip file.");
            Message(shown + QStringLiteral(" cannot be opened.\n\n") + why);
            return false;
        }
        read.Open(p); // an empty package: opened as such
    }

    const QString title = QString::fromStdString(qvr::GetFileNameFromPath(p));
    QString infoProblem;
    if (!zip) {
        if (const auto conflict = FindTreeConflict(read.ArchiveFiles, title + ".ifo")) {
            Message(shown + QStringLiteral(" cannot be opened.\n\n") + *conflict);
            return false;
        }
        if (!read.PluginInfo.GetPluginData(read, title.toStdString())) {
            read.PluginInfo = qvr::sgPlugInfo();
            infoProblem = QString::fromStdString(read.LastError);
        }
    }

    Adopt(read);
    m_open = true;
    m_readOnly = zip;
    ResetPackageTree();
    for (const qvr::sgFileInfo& entry : m_arc.ArchiveFiles) {
        try {
            AddFileNode(entry);
        } catch (const std::exception&) {
            // Only a zip file gets here (a package was checked above); it is read-only.
        }
    }
    ShowPluginInfo();
    m_updatePending = false;
    setWindowTitle(QStringLiteral("Morrowind Plug-in Packager: ") + title);
    UpdateStatusBar();
    RefreshCommandStates();
    if (!zip && (!infoProblem.isEmpty() || m_arc.ArchiveFiles.empty() ||
                 !m_arc.FindEntry(InfoEntryName().toStdString(), std::string()))) {
        Message(shown + QStringLiteral(" holds no plug-in details that can be read") +
                (infoProblem.isEmpty() ? QStringLiteral(".") : QStringLiteral(": ") + infoProblem) +
                QStringLiteral("\n\nThe details are shown empty; Update Details writes new ones."));
    }
    return true;
}

void frmMain::mExit_Click() {
    close();
}

void frmMain::mContents_Click() {
    frmHelp help(this);
    help.exec();
}

void frmMain::mAbout_Click() {
    frmAbout about(frmAbout::Program::Packager, this);
    about.exec();
}

// ---- Adding files ----------------------------------------------------------------------------

frmSplash* frmMain::ProgressWindow() {
    if (!m_splash)
        m_splash = new frmSplash(this);
    return m_splash;
}

void frmMain::mAddfile_Click() {
    if (!m_addAction->isEnabled())
        return;
    const auto chosen = Dialogs::instance().OpenFiles(this, QStringLiteral("Add File to Package"),
                                                      FiltersStartingWith(2));
    if (!chosen) {
        Message(QStringLiteral("Cancel was selected."));
        return;
    }
    AddFiles(*chosen);
}

void frmMain::AddFiles(const QStringList& paths) {
    if (paths.isEmpty() || !m_open || m_readOnly || m_busy)
        return;
    m_busy = true;
    RefreshCommandStates();

    // The folder is taken once: clicking around in the tree while files are compressed must
    // not scatter the rest of the selection into other folders.
    const QList<QTreeWidgetItem*> selected = m_treeWidget->selectedItems();
    QTreeWidgetItem* target = selected.isEmpty() ? nullptr : selected.first();

    frmSplash* splash = ProgressWindow();
    const auto nameOf = [](const QString& path) { return QFileInfo(path).fileName(); };
    const QString task = QStringLiteral("Compressing File ");
    if (paths.size() == 1) {
        splash->SetTitle(task + nameOf(paths.first()));
        splash->CalcIncrement(2);
        splash->ShowModeless();
    } else {
        splash->CalcIncrement(int32_t(2 * paths.size()));
        splash->ShowModeless();
    }
    for (const QString& path : paths) {
        if (paths.size() > 1)
            splash->SetTitle(task + nameOf(path));
        if (AddFileToPackage(nameOf(path), QDir::toNativeSeparators(path), target) ==
                AddOutcome::Stop ||
            m_closeRequested)
            break;
    }
    UpdateStatusBar();
    if (!splash->Model().Complete())
        splash->SetProgress(100);

    m_busy = false;
    RefreshCommandStates();
    if (m_closeRequested)
        close();
}

frmMain::AddOutcome frmMain::AddFileToPackage(const QString& name, const QString& source,
                                              QTreeWidgetItem* target) {
    const bool atRoot = !target || ArchiveTree::Key(target) == RootKey;
    const QString folder = atRoot ? QString() : ArchiveTree::Key(target);
    const QString key = atRoot ? name : folder + QLatin1Char('\\') + name;
    const QString where = atRoot ? RootKey : folder;

    // A second entry for one place, even in another letter case, would make later commands act
    // on the wrong one; and a file named like the info entry would be taken for it.
    if (name.toLower() == InfoEntryName().toLower()) {
        Message(name + QStringLiteral(" cannot be added: that is the name of the package's own "
                                      "information entry."));
        return AddOutcome::Stop;
    }
    if (m_arc.FindEntry(name.toStdString(), folder.toStdString())) {
        Message(name + QStringLiteral(" cannot be added: ") + where +
                QStringLiteral(" already holds a file of that name."));
        return AddOutcome::Stop;
    }
    QTreeWidgetItem* node = nullptr;
    try {
        node = atRoot ? m_tree->AddNode(nullptr, key, name, QString(), m_tree->Node(RootKey))
                      : m_tree->AddNode(target, key, name, QString());
    } catch (const std::exception& e) {
        Message(name + QStringLiteral(" cannot be added: ") + QString::fromUtf8(e.what()) +
                QLatin1Char('.'));
        return AddOutcome::Stop;
    }
    TrackNode(key);
    if (target && !atRoot)
        target->setExpanded(true);

    frmSplash* splash = ProgressWindow();
    splash->IncrProgress(0);
    const bool added =
        m_arc.AddFileToArchive(source.toStdString(), name.toStdString(), folder.toStdString());
    splash->IncrProgress(0);
    if (!added) {
        m_order.Remove(key);
        m_tree->RemoveNodeTree(node, false);
        QString why = QString::fromStdString(m_arc.LastError);
        if (why.isEmpty())
            why = QStringLiteral("The file is empty or cannot be read.");
        Message(QDir::toNativeSeparators(source) +
                QStringLiteral(" could not be added to the package.\n\n") + why);
        return AddOutcome::Failed;
    }
    return AddOutcome::Added;
}

// ---- Folders and removal ---------------------------------------------------------------------

frmNewFolder* frmMain::NewFolderDialog() {
    if (!m_newFolder)
        m_newFolder = new frmNewFolder(this, [this] { return NodeKeysInOrder(); });
    return m_newFolder;
}

void frmMain::mNewFolder_Click() {
    if (!m_newFolderAction->isEnabled())
        return;
    frmNewFolder* dialog = NewFolderDialog();
    const QList<QTreeWidgetItem*> selected = m_treeWidget->selectedItems();
    // With nothing selected the list starts at its first item, whatever was chosen last time.
    dialog->Selectedfolder(selected.isEmpty() ? QString() : ArchiveTree::Key(selected.first()));
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
    if (!why.empty() || !qvr::IsSafeFolderPath(key.toStdString(), &why)) {
        Message(QStringLiteral("The folder name ") + name + QStringLiteral(" cannot be used: ") +
                QString::fromStdString(why));
        return;
    }
    try {
        QTreeWidgetItem* parentNode = atTop ? nullptr : m_tree->Node(parent);
        if (!atTop && !parentNode)
            throw std::runtime_error("no parent");
        m_tree->AddNode(parentNode, key, name, FolderImage);
        TrackNode(key);
        if (parentNode)
            parentNode->setExpanded(true);
    } catch (const std::exception&) {
        Message(QStringLiteral("That folder already exists under that directory."));
    }
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
    const QString question =
        ArchiveTree::IsFolder(node)
            ? QStringLiteral("Are you sure you wish to delete this folder and all of it contents "
                             "from the package?")
            : QStringLiteral("Are you sure you wish to delete this file from the package?");
    if (Dialogs::instance().AskYesNo(this, ProgramName, question)) {
        QStringList failures;
        RemoveSubtree(node, failures);
        m_treeWidget->setCurrentItem(nullptr);
        m_treeWidget->clearSelection();
        ClearFileDetails();
        if (!failures.isEmpty())
            Message(QStringLiteral("Some files could not be removed from the package and are "
                                   "still in it:\n\n") +
                    failures.join(QLatin1Char('\n')));
    }
    UpdateStatusBar();
}

bool frmMain::RemoveSubtree(QTreeWidgetItem* node, QStringList& failures) {
    QList<QTreeWidgetItem*> children;
    for (int i = 0; i < node->childCount(); ++i)
        children << node->child(i);
    bool emptied = true;
    for (QTreeWidgetItem* child : children)
        emptied = RemoveSubtree(child, failures) && emptied;

    const QString key = ArchiveTree::Key(node);
    if (!ArchiveTree::IsFolder(node) && key != RootKey) {
        const std::string name = node->text(0).toStdString();
        const std::string folder = ArchiveTree::FolderPart(node).toStdString();
        if (m_arc.FindEntry(name, folder) && !m_arc.RemoveEntry(name, folder) &&
            m_arc.FindEntry(name, folder)) {
            // Still in the package, so its node stays, and so does every folder above it.
            QString why = QString::fromStdString(m_arc.LastError);
            failures << key + (why.isEmpty() ? QString() : QStringLiteral(": ") + why);
            return false;
        }
    }
    if (!emptied)
        return false;
    m_order.Remove(key);
    m_tree->RemoveNodeTree(node, false);
    return true;
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
}

void frmMain::StorePluginInfo() {
    qvr::sgPlugInfo& info = m_arc.PluginInfo;
    info.PluginName(m_pluginName->text().toStdString());
    info.Version(m_version->text().toStdString());
    info.LastUpdated(m_lastUpdate->text().toStdString());
    info.Authors(ToStoredText(m_authors->toPlainText()).toStdString());
    info.Depends(ToStoredText(m_depends->toPlainText()).toStdString());
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
    StorePluginInfo();
    const std::string name = qvr::GetFileNameFromPath(m_arc.CurrentArchive);
    if (!m_arc.PluginInfo.UpdatePluginData(m_arc, name)) {
        Message(QStringLiteral("The details could not be written into ") +
                Native(m_arc.CurrentArchive) +
                QStringLiteral("; it keeps its earlier details.\n\n") +
                QString::fromStdString(m_arc.LastError));
        return;
    }
    m_updatePending = false;
    RefreshCommandStates();
    UpdateStatusBar();
}

} // namespace packager
