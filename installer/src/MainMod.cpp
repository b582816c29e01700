#include "MainMod.h"

#include "Dialogs.h"
#include "RemovalSummary.h"
#include "frmExists.h"
#include "frmMain.h"
#include "frmManage.h"
#include "frmSplash.h"

#include "qvr/FileUtils.h"
#include "qvr/Install.h"
#include "qvr/RecordedInstall.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocale>

#include <exception>

using namespace shared_windows;

namespace installer {

const QString MainMod::AppTitle = QStringLiteral("QVRInstaller");

namespace {
// Thrown from a progress step once "Exit" was pressed: the program ends at once, so the work
// stops between two entries instead of going on behind closed windows.
struct ProgramEnding {};
} // namespace

QString DefaultDataFolder() {
#ifdef Q_OS_WIN
    return QStringLiteral("C:\\Program Files\\Bethesda Softworks\\Morrowind\\Data Files");
#else
    return QDir::toNativeSeparators(QDir::homePath() +
                                    QStringLiteral("/.steam/steam/steamapps/common/Morrowind/"
                                                   "Data Files"));
#endif
}

MainMod::MainMod(Options options)
    : Settings(options.SettingsPath), DefaultDataFolder(options.DefaultDataFolder),
      m_exit(std::move(options.Exit)), m_findFolders(std::move(options.FindFolders)) {
    if (!m_exit)
        m_exit = [] { QCoreApplication::quit(); };
}

MainMod::~MainMod() = default;

frmMain& MainMod::Main() {
    if (!m_main)
        m_main = std::make_unique<frmMain>(*this);
    return *m_main;
}

frmManage& MainMod::Manage() {
    if (!m_manage)
        m_manage = std::make_unique<frmManage>(*this);
    return *m_manage;
}

frmSplash& MainMod::Splash() {
    if (!m_splash)
        m_splash = std::make_unique<frmSplash>(nullptr);
    return *m_splash;
}

frmExists& MainMod::ExistsWindow() {
    if (!m_exists)
        m_exists = std::make_unique<frmExists>(nullptr);
    return *m_exists;
}

OverwritePrompt& MainMod::Prompt() {
    return m_prompt ? *m_prompt : ExistsWindow();
}

void MainMod::SetPrompt(OverwritePrompt* prompt) {
    m_prompt = prompt;
}

void MainMod::OfferFoundFolders() {
    if (!m_findFolders)
        return;
    try {
        if (!Settings.ReadIniValue(QStringLiteral("Settings"), QStringLiteral("TESLocation"))
                 .isEmpty())
            return;
        for (const qvr::GameFolder& f : m_findFolders()) {
            const QString folder = QDir::toNativeSeparators(QString::fromStdString(f.Folder));
            if (Dialogs::instance().AskYesNo(
                    &Main(), AppTitle,
                    QStringLiteral("Morrowind's data folder was found here (%1):\n\n%2\n\nInstall "
                                   "plug-ins into this folder?")
                        .arg(QString::fromUtf8(qvr::SourceName(f.Source)), folder))) {
                Settings.WriteIniValue(QStringLiteral("Settings"), QStringLiteral("TESLocation"),
                                       folder);
                return;
            }
        }
    } catch (const std::exception&) {
        // No settings file to keep the choice in: the window asks as on any first start.
    }
}

void MainMod::Start(const QStringList& arguments) {
    OfferFoundFolders();
    Main().Form_Load();
    if (m_exitRequested)
        return;
    if (!arguments.isEmpty())
        Main().OpenQVR(arguments.first());
    Main().show();
}

qvr::Result MainMod::OpenArchive(const QString& path) {
    const std::string p = path.toStdString();
    const bool read = Arc.OpenArchive(p);
    ArchiveReady =
        Arc.ZipLoaded || (read && Arc.PluginInfo.GetPluginData(Arc, qvr::GetFileNameFromPath(p)));
    if (ArchiveReady)
        return qvr::Result::Success();
    std::string why = Arc.LastError;
    if (why.empty())
        why = "The file " + p + " holds no archive that can be installed.";
    return qvr::Result::Unusable(why);
}

void MainMod::Exit() {
    m_exitRequested = true;
    // Hidden windows must not keep the program alive.
    if (m_exists)
        m_exists->hide();
    if (m_splash)
        m_splash->hide();
    if (m_manage)
        m_manage->hide();
    if (m_main)
        m_main->hide();
    m_exit();
}

void MainMod::SetBusy(bool busy) {
    m_busy = busy;
    if (m_main)
        m_main->UpdateCommands();
    if (m_manage)
        m_manage->UpdateCommands();
}

void MainMod::FinishProgress() {
    // Whatever the count, the window does not stay open half-full once the work is done.
    if (!Splash().Model().Complete())
        Splash().SetProgress(100);
}

void MainMod::RunEntryTask(QWidget* owner, const QString& title, const QString& failureText,
                           const std::function<void(const qvr::EntryProgress&)>& work) {
    SetBusy(true);
    frmSplash& splash = Splash();
    splash.SetOwner(owner);
    splash.SetTitle(title);
    splash.CalcIncrement(static_cast<int32_t>(Arc.ArchiveFiles.size()));
    splash.ShowModeless();

    auto progress = [&](const qvr::EntryResult& result, size_t, size_t) {
        if (!m_exitRequested && (result.Outcome == qvr::EntryOutcome::Failed ||
                                 result.Outcome == qvr::EntryOutcome::Refused)) {
            Dialogs::instance().Message(
                owner, AppTitle, failureText + QString::fromStdString(result.Entry.FileName()));
        }
        splash.IncrProgress(0);
        if (m_exitRequested)
            throw ProgramEnding{};
    };
    try {
        if (!m_exitRequested)
            work(progress);
    } catch (const ProgramEnding&) {
    } catch (const std::exception& e) {
        Dialogs::instance().Message(owner, AppTitle, QString::fromStdString(e.what()));
    }
    if (!m_exitRequested)
        FinishProgress();
    SetBusy(false);
}

void MainMod::InstallPlugin(QWidget* owner, const QString& pluginName, const QString& dataFolder) {
    if (m_busy)
        return;
    auto ask = [&](const qvr::sgFileInfo&, const std::string&) {
        if (m_exitRequested)
            return false; // the program is ending: keep what is there, ask nothing
        if (!bApplyToAll) {
            const OverwritePrompt::Answer answer = Prompt().Ask(owner);
            bApplyToAll = answer.ApplyToAll;
            bOverwriteFile = answer.Overwrite;
        }
        return bOverwriteFile;
    };
    RunEntryTask(owner, QStringLiteral("Installing Plug-in ") + pluginName,
                 QStringLiteral("An Error occured while trying to extract the file"),
                 [&](const qvr::EntryProgress& progress) {
                     const qvr::InstallReport report =
                         qvr::InstallRecorded(Arc, dataFolder.toStdString(), ask, progress);
                     if (!report.Outcome && !m_exitRequested)
                         Dialogs::instance().Message(
                             owner, AppTitle, QString::fromStdString(report.Outcome.Message));
                 });
}

void MainMod::RemovePluginFiles(QWidget* owner, const QString& pluginName,
                                const QString& dataFolder) {
    if (m_busy)
        return;
    if (!Dialogs::instance().AskYesNo(
            owner, AppTitle,
            QStringLiteral("This will attempt to remove all files listed for the current QVR "
                           "file. It will not remove folders. Continue?")))
        return;
    qvr::RemovalReport report;
    RunEntryTask(owner, QStringLiteral("Removing Plug-in Files") + pluginName,
                 QStringLiteral("An Error occured while trying to remove the file"),
                 [&](const qvr::EntryProgress& progress) {
                     // One step per file, as for an install; a failure is named as before.
                     auto each = [&](const qvr::FileResult& f, size_t done, size_t count) {
                         qvr::EntryResult r;
                         r.Outcome = f.Fate == qvr::FileFate::Failed ? qvr::EntryOutcome::Failed
                                                                     : qvr::EntryOutcome::Installed;
                         r.Entry.FileName(f.Path.substr(f.Path.find_last_of('\\') + 1));
                         return progress(r, done, count);
                     };
                     report = qvr::RemovePlugin(Arc, dataFolder.toStdString(), each);
                 });
    if (m_exitRequested)
        return;
    if (!report.Outcome && report.Count(qvr::FileFate::Failed) == 0)
        Dialogs::instance().Message(owner, AppTitle,
                                    QString::fromStdString(report.Outcome.Message));
    ShowRemovalSummary(owner, AppTitle, report);
}

QString MainMod::FormatSize(qint64 size) {
    if (size == 0)
        return {};
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return locale.toString(size);
}

} // namespace installer
