#include "frmMain.h"

#include "Artwork.h"
#include "Dialogs.h"
#include "Looks.h"
#include "MainMod.h"
#include "Ui.h"
#include "frmAbout.h"
#include "frmManage.h"
#include "frmNotes.h"

#include "qvr/install/Install.h"
#include "qvr/platform/FileUtils.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>

#include <exception>

using namespace shared_windows;

namespace installer {

namespace {

const QColor kText(255, 255, 192);

QSize WindowSize() {
    return {Tw(9600), Tw(7185)};
}

QString FileNamePart(const QString& path) {
    return QString::fromStdString(qvr::GetFileNameFromPath(path.toStdString()));
}

QString Trimmed(const std::string& text) {
    return QString::fromStdString(text).trimmed();
}

} // namespace

frmMain::frmMain(MainMod& mod) : m_mod(mod), m_background(Artwork::Ember(), WindowSize()) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("QVRfile Installer"));
    setFixedSize(WindowSize());

    const QString text = Ui::TextStyle(kText);
    const QFont caption = Ui::Font(9, true);
    const QFont value = Ui::Font(9);
    const QFont button = Ui::Font(8.25);
    using Ui::MakeLabel;
    // The values stand a little right of where the captions' design put them, so that no
    // caption touches its value.

    // The backdrops first, so that everything else lies on top of them.
    auto* backdrop = MakeLabel(this, "Label2", QString(), TwRect(720, 2520, 8115, 3735), value,
                               QStringLiteral("background: rgba(0, 0, 0, 120);"
                                              "border: 1px solid rgba(255, 255, 192, 90);"));
    backdrop->lower();
    MakeLabel(this, "Label1_8", QString(), TwRect(900, 5640, 7875, 495), value,
              QStringLiteral("background: black;"));

    MakeLabel(this, "Label1_1", QStringLiteral("Plug-in Installer"), TwRect(2940, 1560, 3855, 375),
              Ui::Font(15, true), text)
        ->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    MakeLabel(this, "Label1_0", QStringLiteral("Installed Directory:"),
              TwRect(720, 2040, 2115, 375), caption, text);
    m_lblPlugPath =
        MakeLabel(this, "lblPlugPath", QString(), TwRect(2760, 2040, 5655, 315), value, text);
    m_cmdPathChange = Ui::MakeButton(this, "cmdPathChange", QStringLiteral("..."),
                                     TwRect(8520, 2040, 375, 255), caption);
    BuildInformation(caption, value, text);

    BuildTargetChoice(value, caption, text);

    m_cmdOpenQVR = Ui::MakeButton(this, "cmdOpenQVR", QStringLiteral("Open QVR..."),
                                  TwRect(960, 5700, 1455, 375), button);
    m_cmdInstallQVR = Ui::MakeButton(this, "cmdInstallQVR", QStringLiteral("Install Plug-in"),
                                     TwRect(2520, 5700, 1455, 375), button);
    // Wider than its neighbours: its caption is longer.
    m_cmdManage = Ui::MakeButton(this, "cmdManage", QStringLiteral("Manage plug-ins..."),
                                 TwRect(6960, 5700, 1755, 375), button);
    m_command1 = Ui::MakeButton(this, "Command1", QStringLiteral("Exit"),
                                TwRect(4200, 6600, 1215, 375), button);
    m_lblAbout = MakeLabel<LinkLabel>(this, "lblAbout", QStringLiteral("About..."),
                                      TwRect(8160, 6660, 1215, 315), Ui::Font(9.75, true),
                                      text + QStringLiteral("text-decoration: underline;"));
    m_lblAbout->setCursor(Qt::PointingHandCursor);
    m_lblAbout->SetShortcut(QKeySequence(Qt::ALT | Qt::Key_A));

    FitAllTexts(this, kReadablePoints);
    // Filled after the fitting: a long folder is cut with an ellipsis, not set smaller.
    m_dataFolder = DefaultDataFolderText();
    ShowTarget();

    connect(m_chkEnableInIni, &QCheckBox::toggled, this,
            [this](bool enable) { m_mod.SetEnableInIni(enable); });
    connect(m_cmdPathChange, &QPushButton::clicked, this, &frmMain::cmdPathChange_Click);
    connect(m_cmdOpenQVR, &QPushButton::clicked, this, &frmMain::cmdOpenQVR_Click);
    connect(m_cmdInstallQVR, &QPushButton::clicked, this, &frmMain::cmdInstallQVR_Click);
    connect(m_cmdManage, &QPushButton::clicked, this, &frmMain::cmdManage_Click);
    connect(m_command1, &QPushButton::clicked, this, &frmMain::Command1_Click);
    connect(m_cmdReadme, &LinkLabel::clicked, this, &frmMain::cmdReadme_Click);
    connect(m_lblAbout, &LinkLabel::clicked, this, &frmMain::lblAbout_Click);

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void frmMain::BuildTargetChoice(const QFont& value, const QFont& caption, const QString& text) {
    using Ui::MakeLabel;
    // Where an openmw.cfg is found, the player chooses which game the plug-in is for.
    m_lblTarget = MakeLabel(this, "Label1_9", QStringLiteral("Install for:"),
                            TwRect(840, 5325, 1395, 285), caption, text);
    m_lblTarget->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_optDataFolder = new QRadioButton(QStringLiteral("Morrowind"), this);
    m_optOpenMW = new QRadioButton(QStringLiteral("OpenMW"), this);
    int left = 2400;
    for (QRadioButton* option : {m_optDataFolder, m_optOpenMW}) {
        option->setObjectName(option == m_optOpenMW ? QStringLiteral("optOpenMW")
                                                    : QStringLiteral("optDataFolder"));
        option->setGeometry(TwRect(left, 5325, 1800, 285));
        option->setFont(value);
        QPalette palette = option->palette();
        palette.setColor(QPalette::WindowText, kText);
        option->setPalette(palette);
        left += 1920;
    }
    m_optDataFolder->setChecked(true);
    connect(m_optOpenMW, &QRadioButton::toggled, this, &frmMain::TargetChosen);
    for (QWidget* w : {static_cast<QWidget*>(m_lblTarget), static_cast<QWidget*>(m_optDataFolder),
                       static_cast<QWidget*>(m_optOpenMW)})
        w->hide();

    // The original engine loads only the plug-ins Morrowind.ini lists.
    m_chkEnableInIni = new QCheckBox(QStringLiteral("Enable in Morrowind.ini"), this);
    m_chkEnableInIni->setObjectName(QStringLiteral("chkEnableInIni"));
    m_chkEnableInIni->setGeometry(TwRect(6240, 5325, 2655, 285));
    m_chkEnableInIni->setFont(value);
    m_chkEnableInIni->setToolTip(PlainToolTip(
        QStringLiteral("Lists the plug-ins and .bsa files in the Morrowind.ini beside the data "
                       "folder, so that the game loads them; removing the plug-in takes exactly "
                       "those lines out again")));
    {
        QPalette palette = m_chkEnableInIni->palette();
        palette.setColor(QPalette::WindowText, kText);
        m_chkEnableInIni->setPalette(palette);
    }
    m_chkEnableInIni->setChecked(true);
}

// The package's file name and information, each caption beside its value.
void frmMain::BuildInformation(const QFont& caption, const QFont& value, const QString& text) {
    using Ui::MakeLabel;
    MakeLabel(this, "Label1_2", QStringLiteral("QVRfile:"), TwRect(840, 2580, 1395, 375), caption,
              text);
    m_lblQVRFileName =
        MakeLabel(this, "lblQVRFileName", QString(), TwRect(2400, 2580, 6015, 315), value, text);
    MakeLabel(this, "Label1_3", QStringLiteral("Plug-in name:"), TwRect(840, 3060, 1635, 375),
              caption, text);
    m_lblName = MakeLabel(this, "lblName", QString(), TwRect(2400, 3060, 4815, 315), value, text);
    MakeLabel(this, "Label1_4", QStringLiteral("Version:"), TwRect(840, 3420, 1395, 375), caption,
              text);
    m_lblVersion =
        MakeLabel(this, "lblVersion", QString(), TwRect(2400, 3420, 1455, 315), value, text);
    MakeLabel(this, "Label1_6", QStringLiteral("Required Modules:"), TwRect(5040, 3480, 2175, 375),
              caption, text);
    m_lblDepends = Ui::MakeListLabel(this, QStringLiteral("lblDepends"),
                                     TwRect(5040, 3840, 3435, 1455), value, QString(), kText);
    MakeLabel(this, "Label1_5", QStringLiteral("Author(s):"), TwRect(840, 3960, 1395, 375), caption,
              text);
    m_lblAuthors = Ui::MakeListLabel(this, QStringLiteral("lblAuthors"),
                                     TwRect(2400, 3840, 2475, 1455), value, QString(), kText);
    m_cmdReadme = MakeLabel<LinkLabel>(this, "cmdReadme", QStringLiteral("Read Me..."),
                                       TwRect(840, 4800, 1215, 315), Ui::Font(9.75, true),
                                       text + QStringLiteral("text-decoration: underline;"));
    m_cmdReadme->setCursor(Qt::PointingHandCursor);
    m_cmdReadme->SetShortcut(QKeySequence(Qt::ALT | Qt::Key_R));
    m_cmdReadme->hide();
}

QString frmMain::DefaultDataFolderText() const {
    return m_mod.DefaultDataFolder;
}

QString frmMain::PlugPath() const {
    return m_dataFolder;
}

QString frmMain::TargetFolder() const {
    return FullText(m_lblPlugPath);
}

void frmMain::ShowTarget() {
    const bool openmw = m_mod.ForOpenMW;
    Ui::SetValue(m_lblPlugPath,
                 openmw ? QDir::toNativeSeparators(m_mod.ModsFolder()) : m_dataFolder,
                 Qt::ElideMiddle);
    m_chkEnableInIni->setEnabled(!openmw); // OpenMW's own lines go into openmw.cfg
    m_cmdPathChange->setToolTip(openmw ? QStringLiteral("Choose the folder OpenMW's plug-ins go "
                                                        "into")
                                       : QStringLiteral("Choose Morrowind's data folder"));
}

void frmMain::TargetChosen(bool openmw) {
    m_mod.ForOpenMW = openmw;
    ShowTarget();
    // Kept for the next start; when it cannot be written the choice holds for this run.
    (void)m_mod.Settings.WriteIniValue(QStringLiteral("Settings"), QStringLiteral("InstallFor"),
                                       openmw ? QStringLiteral("OpenMW")
                                              : QStringLiteral("Morrowind"));
}

QString frmMain::QVRFileName() const {
    return FullText(m_lblQVRFileName);
}

void frmMain::Form_Load() {
    // A settings file that cannot be read or made: start as on a first run.
    const QString stored =
        m_mod.Settings.ReadIniValue(QStringLiteral("Settings"), QStringLiteral("TESLocation"))
            .Value;
    if (!stored.isEmpty()) {
        m_dataFolder = stored;
        ShowTarget();
    } else if (!qvr::HasMorrowindEsm(PlugPath().toStdString())) {
        Dialogs::instance().Message(this, MainMod::AppTitle,
                                    QStringLiteral("Please set the directory for the "
                                                   "Morrowind.esm file."));
        cmdPathChange_Click();
    }
    m_mod.Arc.TempFolder = qvr::GetTempFolder();
    const bool openmw = m_mod.OpenMWFound();
    m_lblTarget->setVisible(openmw);
    m_optDataFolder->setVisible(openmw);
    m_optOpenMW->setVisible(openmw);
    if (openmw) {
        m_optOpenMW->setToolTip(PlainToolTip(QStringLiteral("Into a folder of its own below ") +
                                             m_mod.ModsFolder() + QStringLiteral(", listed in ") +
                                             m_mod.OpenMWConfig()));
        const QString chosen =
            m_mod.Settings.ReadIniValue(QStringLiteral("Settings"), QStringLiteral("InstallFor"))
                .Value;
        if (chosen.compare(QStringLiteral("OpenMW"), Qt::CaseInsensitive) == 0)
            m_optOpenMW->setChecked(true);
    }
    {
        const QSignalBlocker quiet(m_chkEnableInIni); // read, not chosen
        m_chkEnableInIni->setChecked(m_mod.EnableInIni());
    }
    ShowTarget();
    m_installAllowed = false;
    UpdateCommands();
}

void frmMain::Form_Activate() {
    ShowOpenArchive();
}

// Always the archive that is open: its name, its details and the install that goes with them,
// whichever window opened it.
void frmMain::ShowOpenArchive() {
    const std::string& current = m_mod.Arc.CurrentArchive;
    if (current.empty() || !m_mod.ArchiveReady)
        return;
    Ui::SetValue(m_lblQVRFileName, FileNamePart(QString::fromStdString(current)), Qt::ElideMiddle);
    if (m_mod.Arc.ZipLoaded)
        ShowZipState();
    else
        ShowPluginInfo();
}

void frmMain::ShowZipState() {
    Ui::SetValue(m_lblName, QStringLiteral("Zip file loaded"));
    Ui::SetValue(m_lblVersion, QString());
    Ui::SetList(m_lblAuthors, QString());
    Ui::SetList(m_lblDepends, QString());
    m_cmdReadme->hide();
    m_installAllowed = false;
    UpdateCommands();
}

void frmMain::ShowPluginInfo() {
    const qvr::sgPlugInfo& info = m_mod.Arc.PluginInfo;
    Ui::SetValue(m_lblName, QString::fromStdString(info.PluginName()));
    Ui::SetValue(m_lblVersion, QString::fromStdString(info.Version()));
    Ui::SetList(m_lblAuthors, QString::fromStdString(info.Authors()));
    Ui::SetList(m_lblDepends, QString::fromStdString(info.Depends()));
    m_cmdReadme->setVisible(!Trimmed(info.Notes()).isEmpty() || m_mod.ReadmePending());
    m_installAllowed = m_mod.ArchiveReady;
    UpdateCommands();
}

void frmMain::cmdPathChange_Click() {
    if (m_mod.ForOpenMW) {
        ChooseModsFolder();
        return;
    }
    // The dialog starts in the data folder in use, when there is one.
    const QString current = PlugPath();
    const QString preset =
        QDir(current).exists()
            ? QDir::toNativeSeparators(QDir(current).filePath(QStringLiteral("Morrowind.esm")))
            : QStringLiteral("Morrowind.esm");
    const auto chosen = Dialogs::instance().OpenFile(this, QStringLiteral("Open"),
                                                     QStringLiteral("*.esm|*.esm"), preset);
    if (!chosen)
        return;
    const QString folder = QDir::toNativeSeparators(QFileInfo(*chosen).absolutePath());
    m_dataFolder = folder;
    ShowTarget();
    const qvr::Result saved = m_mod.Settings.WriteIniValue(QStringLiteral("Settings"),
                                                           QStringLiteral("TESLocation"), folder);
    if (!saved) {
        // The folder is used for this run; say why it will not be there next time.
        Dialogs::instance().Message(this, MainMod::AppTitle,
                                    QStringLiteral("The data folder could not be saved: ") +
                                        QString::fromStdString(saved.Message));
    }
}

void frmMain::ChooseModsFolder() {
    const auto chosen = Dialogs::instance().ChooseFolder(
        this, QStringLiteral("Folder for OpenMW's plug-ins"), m_mod.ModsFolder());
    if (!chosen)
        return;
    const qvr::Result saved = m_mod.SetModsFolder(QDir::toNativeSeparators(*chosen));
    if (!saved)
        Dialogs::instance().Message(
            this, MainMod::AppTitle,
            QStringLiteral("The folder is used until the program ends, but could "
                           "not be saved: ") +
                QString::fromStdString(saved.Message));
    ShowTarget();
}

void frmMain::cmdOpenQVR_Click() {
    if (m_mod.Busy())
        return;
    const auto chosen = Dialogs::instance().OpenFile(
        this, QStringLiteral("Open"), MainMod::OpenFilter(), m_mod.OpenDialogStart());
    if (!chosen)
        return;
    m_mod.RememberFolder(*chosen);
    OpenQVR(*chosen);
}

void frmMain::OpenQVR(const QString& path) {
    if (m_mod.Busy())
        return;
    const qvr::Result opened = m_mod.OpenArchive(path);
    if (!opened)
        Dialogs::instance().Message(this, MainMod::AppTitle,
                                    QString::fromStdString(opened.Message));
    ShowOpenArchive();
}

void frmMain::cmdInstallQVR_Click() {
    if (!m_cmdInstallQVR->isEnabled())
        return;
    if (m_mod.ForOpenMW)
        m_mod.InstallForOpenMW(this, FullText(m_lblName));
    else
        m_mod.InstallPlugin(this, FullText(m_lblName), PlugPath());
}

void frmMain::cmdManage_Click() {
    if (m_mod.Busy())
        return;
    m_mod.Manage().show();
    m_mod.Manage().raise();
    hide();
}

void frmMain::cmdReadme_Click() {
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

void frmMain::lblAbout_Click() {
    {
        frmAbout about(Ui::AboutOptions(), this);
        about.exec();
    }
    Form_Activate();
}

void frmMain::Command1_Click() {
    m_mod.Exit();
}

void frmMain::UpdateCommands() {
    const bool idle = !m_mod.Busy();
    // A read-me still to be read would be read from the archive being installed.
    m_cmdReadme->setEnabled(idle || !m_mod.ReadmePending());
    m_cmdPathChange->setEnabled(idle);
    m_cmdOpenQVR->setEnabled(idle);
    m_cmdInstallQVR->setEnabled(idle && m_installAllowed);
    m_cmdManage->setEnabled(idle);
}

void frmMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Form_Activate();
}

void frmMain::closeEvent(QCloseEvent* event) {
    // Closing by the frame ends the program as "Exit" does.
    event->accept();
    if (!m_mod.ExitRequested())
        m_mod.Exit();
}

void frmMain::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(0, 0, m_background.Image());
}

} // namespace installer
