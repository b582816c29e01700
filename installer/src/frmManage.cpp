#include "frmManage.h"

#include "ArchiveTree.h"
#include "Artwork.h"
#include "Dialogs.h"
#include "Looks.h"
#include "MainMod.h"
#include "Ui.h"
#include "frmAbout.h"
#include "frmMain.h"
#include "frmNotes.h"

#include "qvr/platform/FileUtils.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTreeWidget>
#include <algorithm>

using namespace shared_windows;

namespace installer {

namespace {
// A member of an archive as downloaded, shown in the tree as a package's entry is.
qvr::sgFileInfo MemberAsEntry(const qvr::sources::Member& m) {
    std::string path = m.Path;
    std::replace(path.begin(), path.end(), '/', '\\');
    const size_t cut = path.rfind('\\');
    qvr::sgFileInfo e;
    e.FilePath(cut == std::string::npos ? std::string() : path.substr(0, cut));
    e.FileName(cut == std::string::npos ? path : path.substr(cut + 1));
    e.FileSize(static_cast<int32_t>(std::min<int64_t>(m.Size, INT32_MAX)));
    return e;
}
} // namespace

namespace {

const QColor kListText(255, 255, 192);

} // namespace

frmManage::frmManage(MainMod& mod)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), m_mod(mod) {
    setObjectName(QStringLiteral("frmManage"));
    setWindowTitle(QStringLiteral("View/Manage Plug-ins"));
    setFixedSize(Tw(9600), Tw(7185));
    m_background = Artwork::Background(Artwork::Dusk(), size());

    const QString text = Ui::TextStyle(kListText);
    const QString valueStyle = text + QStringLiteral("border: 1px solid rgb(255, 255, 192);"
                                                     "padding-left: 2px;");
    const QFont caption = Ui::Font(8.25, true);
    const QFont value = Ui::Font(8.25);
    const QFont link = Ui::Font(9.75, true);
    using Ui::MakeLabel;

    MakeLabel(this, "Label_DataPath", QStringLiteral("Data Path:"), TwRect(180, 60, 1035, 255),
              caption, text);
    m_lblPlugPath =
        MakeLabel(this, "lblPlugPath", QString(), TwRect(1260, 60, 6375, 255), value, text);
    MakeLabel(this, "Label_QvrFile", QStringLiteral("QVR File:"), TwRect(180, 360, 915, 255),
              caption, text);
    m_lblQvrFile =
        MakeLabel(this, "lblQvrFile", QString(), TwRect(1260, 360, 6375, 255), value, text);

    MakeLabel(
        this, "Label_Box", QString(), TwRect(120, 1020, 4695, 4035), value,
        QStringLiteral("background: rgba(0, 0, 0, 90); border: 1px solid rgb(255, 255, 192);"));
    MakeLabel(this, "Label_Heading", QStringLiteral("QVRfile"), TwRect(1320, 900, 2175, 255),
              caption, QStringLiteral("color: white; background: black;"))
        ->setAlignment(Qt::AlignCenter);

    BuildInformation(caption, value, text, valueStyle);

    m_cmdReadme = MakeLabel<LinkLabel>(this, "cmdReadme", QStringLiteral("Read Me..."),
                                       TwRect(1740, 4680, 1275, 315), link, text);
    m_cmdReadme->setCursor(Qt::PointingHandCursor);
    m_cmdReadme->SetShortcut(QKeySequence(Qt::ALT | Qt::Key_R));

    // Before installing: the installed plug-ins whose files it would replace, and the masters
    // the game would look for in vain.
    MakeLabel(this, "Label_Preview", QStringLiteral("Before installing:"),
              TwRect(240, 5100, 1365, 495), caption, text)
        ->setWordWrap(true);
    m_lblPreview = Ui::MakeListLabel(
        this, QStringLiteral("lblPreview"), TwRect(1620, 5100, 3075, 1335), value,
        QStringLiteral("background: transparent; border: 1px solid rgb(255, 255, 192);"),
        kListText);

    m_tvFileList = new QTreeWidget(this);
    m_tvFileList->setObjectName(QStringLiteral("tvFileList"));
    m_tvFileList->setGeometry(TwRect(5100, 1020, 4215, 5415));
    m_tvFileList->setHeaderHidden(true);
    m_tvFileList->setFont(value);
    // A long name widens the column, and the tree scrolls sideways to it.
    m_tvFileList->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_tvFileList->header()->setStretchLastSection(false);
    m_tree = std::make_unique<ArchiveTree>(m_tvFileList, Ui::TreeOptions());

    MakeLabel(this, "Label_Strip", QString(), TwRect(60, 6540, 9495, 495), value,
              QStringLiteral("background: black;"));
    m_cmdOpenQVR = Ui::MakeButton(this, "cmdOpenQVR", QStringLiteral("Open QVR..."),
                                  TwRect(360, 6600, 1455, 375), value);
    m_cmdInstallQVR = Ui::MakeButton(this, "cmdInstallQVR", QStringLiteral("Install Plug-in"),
                                     TwRect(2700, 6600, 1455, 375), value);
    m_cmdRemoveQVRFiles =
        Ui::MakeButton(this, "cmdRemoveQVRFiles", QStringLiteral("Remove Plug-in"),
                       TwRect(4200, 6600, 1455, 375), value);
    m_cmdClose = Ui::MakeButton(this, "cmdClose", QStringLiteral("Close"),
                                TwRect(6180, 6600, 1035, 375), value);
    m_cmdExit = Ui::MakeButton(this, "cmdExit", QStringLiteral("Exit"),
                               TwRect(7260, 6600, 1035, 375), value);
    // Between the Exit button and the window's edge, clear of both.
    m_lblAbout = MakeLabel<LinkLabel>(this, "lblAbout", QStringLiteral("About..."),
                                      TwRect(8340, 6660, 1080, 315), link, text);
    m_lblAbout->setCursor(Qt::PointingHandCursor);
    m_lblAbout->SetShortcut(QKeySequence(Qt::ALT | Qt::Key_A));
    m_lblAbout->setAlignment(Qt::AlignCenter);

    FitAllTexts(this, kReadablePoints);

    connect(m_cmdOpenQVR, &QPushButton::clicked, this, &frmManage::cmdOpenQVR_Click);
    connect(m_cmdInstallQVR, &QPushButton::clicked, this, &frmManage::cmdInstallQVR_Click);
    connect(m_cmdRemoveQVRFiles, &QPushButton::clicked, this, &frmManage::cmdRemoveQVRFiles_Click);
    connect(m_cmdClose, &QPushButton::clicked, this, &frmManage::cmdClose_Click);
    connect(m_cmdExit, &QPushButton::clicked, this, &frmManage::cmdExit_Click);
    connect(m_cmdReadme, &LinkLabel::clicked, this, &frmManage::cmdReadme_Click);
    connect(m_lblAbout, &LinkLabel::clicked, this, &frmManage::lblAbout_Click);

    SetArchiveCommands(false);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

// The package's information, each caption beside its framed value.
void frmManage::BuildInformation(const QFont& caption, const QFont& value, const QString& text,
                                 const QString& valueStyle) {
    using Ui::MakeLabel;
    struct Row {
        const char* captionName;
        const char* captionText;
        QRect captionRect;
        QLabel** valueLabel;
        const char* valueName;
        QRect valueRect;
    };
    const Row rows[] = {
        {"Label_PluginName", "Plug-in Name:", TwRect(240, 1260, 1365, 255), &m_lblPluginName,
         "lblPluginName", TwRect(1620, 1260, 3075, 255)},
        {"Label_Version", "Version:", TwRect(240, 1560, 1365, 255), &m_lblVersion, "lblVersion",
         TwRect(1620, 1560, 795, 255)},
        {"Label_Updated", "Updated:", TwRect(240, 1860, 1365, 255), &m_lblLastUpdate,
         "lblLastUpdate", TwRect(1620, 1860, 3075, 255)},
        {"Label_Authors", "Authors:", TwRect(240, 2160, 1365, 255), &m_lblAuthors, "lblAuthors",
         TwRect(1620, 2160, 3075, 855)},
        {"Label_Depends", "Required modules:", TwRect(240, 3060, 1365, 495), &m_lblDepends,
         "lblDepends", TwRect(1620, 3060, 3075, 855)},
        {"Label_FileSize", "File size:", TwRect(240, 3960, 1365, 255), &m_lblFileSize,
         "lblFileSize", TwRect(1620, 3960, 1455, 255)},
        {"Label_TotalFiles", "Total files:", TwRect(240, 4260, 1035, 255), &m_lblTtlFiles,
         "lblTtlFiles", TwRect(1620, 4260, 1455, 255)},
    };
    for (const Row& row : rows) {
        QLabel* c = MakeLabel(this, row.captionName, QString::fromLatin1(row.captionText),
                              row.captionRect, caption, text);
        c->setWordWrap(true);
        const QString name = QString::fromLatin1(row.valueName);
        // Authors and required modules are lists, which scroll in their box when long.
        if (row.valueLabel == &m_lblAuthors || row.valueLabel == &m_lblDepends) {
            *row.valueLabel = Ui::MakeListLabel(
                this, name, row.valueRect, value,
                QStringLiteral("background: transparent; border: 1px solid rgb(255, 255, 192);"),
                kListText);
        } else {
            *row.valueLabel =
                MakeLabel(this, row.valueName, QString(), row.valueRect, value, valueStyle);
            // Centred in its frame: a one-line value has no room for the frame's indent above
            // it.
            (*row.valueLabel)->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        }
    }
    MakeLabel(this, "Label_Bytes", QStringLiteral("bytes"), TwRect(3120, 3960, 735, 255), caption,
              text);
}

frmManage::~frmManage() = default;

QString frmManage::QvrFile() const {
    return FullText(m_lblQvrFile);
}

void frmManage::SetArchiveCommands(bool allowed) {
    m_archiveCommandsAllowed = allowed;
    UpdateCommands();
}

void frmManage::UpdateCommands() {
    const bool idle = !m_mod.Busy();
    // A read-me still to be read would be read from the archive being installed.
    m_cmdReadme->setEnabled(idle || !m_mod.ReadmePending());
    m_cmdOpenQVR->setEnabled(idle);
    m_cmdInstallQVR->setEnabled(idle && m_archiveCommandsAllowed);
    m_cmdRemoveQVRFiles->setEnabled(idle && m_archiveCommandsAllowed);
    m_cmdClose->setEnabled(idle);
}

void frmManage::Form_Activate() {
    frmMain& main = m_mod.Main();
    // For OpenMW the plug-ins go below its mods folder.
    Ui::SetValue(m_lblPlugPath, main.TargetFolder(), Qt::ElideMiddle);
    // Always the archive that is open, whichever window opened it.
    if (m_mod.Arc.CurrentArchive.empty() || !m_mod.ArchiveReady) {
        Ui::SetValue(m_lblQvrFile, QString());
        SetArchiveCommands(false);
        return;
    }
    Ui::SetValue(m_lblQvrFile, QString::fromStdString(m_mod.Arc.CurrentArchive), Qt::ElideMiddle);
    ShowArchiveContents();
}

void frmManage::ShowArchiveContents() {
    const qvr::Archives& arc = m_mod.Arc;
    const QFileInfo file(QvrFile());
    const qint64 size = file.isFile() ? file.size() : 0;
    if (arc.ZipLoaded) {
        Ui::SetValue(m_lblPluginName, QStringLiteral("Zip file loaded"));
        Ui::SetValue(m_lblVersion, QString());
        Ui::SetValue(m_lblLastUpdate, QString());
        Ui::SetList(m_lblAuthors, QString());
        Ui::SetList(m_lblDepends, QString());
        Ui::SetValue(m_lblTtlFiles, QString::number(arc.ArchiveFiles.size()));
        Ui::SetValue(m_lblFileSize, MainMod::FormatSize(size));
        m_cmdReadme->hide();
        Ui::SetList(m_lblPreview, QString());
        SetArchiveCommands(false);
    } else {
        const qvr::sgPlugInfo& info = arc.PluginInfo;
        Ui::SetValue(m_lblPluginName, QString::fromStdString(info.PluginName()));
        Ui::SetValue(m_lblVersion, QString::fromStdString(info.Version()));
        Ui::SetValue(m_lblLastUpdate, QString::fromStdString(info.LastUpdated()));
        Ui::SetList(m_lblAuthors, QString::fromStdString(info.Authors()));
        Ui::SetList(m_lblDepends, QString::fromStdString(info.Depends()));
        // The info entry is no file of the plug-in.
        qsizetype files = m_mod.Downloaded ? std::ssize(m_mod.Downloaded->Members()) : 0;
        for (const qvr::sgFileInfo& entry : arc.ArchiveFiles)
            files += arc.IsInfoEntry(entry) ? 0 : 1;
        Ui::SetValue(m_lblTtlFiles, QString::number(files));
        Ui::SetValue(m_lblFileSize, MainMod::FormatSize(size));
        m_cmdReadme->setVisible(!QString::fromStdString(info.Notes()).trimmed().isEmpty() ||
                                m_mod.ReadmePending());
        const QString preview = m_mod.PreviewText(FullText(m_lblPlugPath));
        Ui::SetList(m_lblPreview, preview.isEmpty() ? QStringLiteral("Nothing installed is "
                                                                     "replaced; no master is "
                                                                     "missing.")
                                                    : preview);
        SetArchiveCommands(m_mod.ArchiveReady);
    }

    m_tree->Clear();
    // The warning about a doubled entry belongs to the open, not to every activation.
    const bool warn = m_warnedSerial != m_mod.OpenSerial();
    m_warnedSerial = m_mod.OpenSerial();
    const QString infoName = QString::fromStdString(arc.InfoEntryName());
    if (m_mod.Downloaded)
        for (const qvr::sources::Member& m : m_mod.Downloaded->Members())
            (void)m_tree->AddFileNode(MemberAsEntry(m), infoName);
    for (const qvr::sgFileInfo& entry : arc.ArchiveFiles) {
        if (!m_tree->AddFileNode(entry, infoName)) {
            if (!warn)
                break;
            QString path = QString::fromStdString(entry.FilePath());
            if (!path.isEmpty())
                path += QLatin1Char('\\');
            Dialogs::instance().Message(
                this, MainMod::AppTitle,
                QStringLiteral("The archive lists the file ") + path +
                    QString::fromStdString(entry.FileName()) +
                    QStringLiteral(" where another entry already stands; it and the entries "
                                   "after it are not shown."));
            break;
        }
    }
    m_tree->ExpandAll();
}

void frmManage::cmdOpenQVR_Click() {
    if (m_mod.Busy())
        return;
    const auto chosen = Dialogs::instance().OpenFile(
        this, QStringLiteral("Open"), MainMod::OpenFilter(), m_mod.OpenDialogStart());
    if (!chosen)
        return;
    m_mod.RememberFolder(*chosen);
    const qvr::Result opened = m_mod.OpenArchive(*chosen);
    if (!opened)
        Dialogs::instance().Message(this, MainMod::AppTitle,
                                    QString::fromStdString(opened.Message));
    Form_Activate();
}

void frmManage::cmdInstallQVR_Click() {
    if (!m_cmdInstallQVR->isEnabled())
        return;
    if (m_mod.ForOpenMW)
        m_mod.InstallForOpenMW(this, FullText(m_lblPluginName));
    else
        m_mod.InstallPlugin(this, FullText(m_lblPluginName), FullText(m_lblPlugPath));
}

void frmManage::cmdRemoveQVRFiles_Click() {
    if (!m_cmdRemoveQVRFiles->isEnabled())
        return;
    m_mod.RemoveWhereInstalled(this, FullText(m_lblPluginName), FullText(m_lblPlugPath));
}

void frmManage::cmdReadme_Click() {
    if (!m_mod.ReadPendingReadme(this)) {
        m_cmdReadme->hide();
        return;
    }
    {
        frmNotes notes(m_mod.Arc.PluginInfo, this);
        notes.exec();
    }
    Form_Activate();
}

void frmManage::lblAbout_Click() {
    {
        frmAbout about(Ui::AboutOptions(), this);
        about.exec();
    }
    Form_Activate();
}

void frmManage::cmdClose_Click() {
    if (m_mod.Busy())
        return;
    m_mod.Main().show();
    hide();
}

void frmManage::cmdExit_Click() {
    m_mod.Exit();
}

void frmManage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Form_Activate();
}

void frmManage::closeEvent(QCloseEvent* event) {
    // The window has no frame of its own, but a close from the system ends the program as
    // "Exit" does.
    event->accept();
    if (!m_mod.ExitRequested())
        m_mod.Exit();
}

void frmManage::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawPixmap(0, 0, m_background);
}

// Without a title bar the window is moved by dragging its background.
void frmManage::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        m_dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
    QWidget::mousePressEvent(event);
}

void frmManage::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton)
        move(event->globalPosition().toPoint() - m_dragOffset);
    QWidget::mouseMoveEvent(event);
}

} // namespace installer
