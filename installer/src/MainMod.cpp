#include "MainMod.h"

#include "Dialogs.h"
#include "RemovalSummary.h"
#include "frmExists.h"
#include "frmMain.h"
#include "frmManage.h"
#include "frmSplash.h"

#include "qvr/install/Install.h"
#include "qvr/install/RecordedInstall.h"
#include "qvr/platform/FileUtils.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <set>

#include <exception>

using namespace shared_windows;

namespace installer {

const QString MainMod::AppTitle = QStringLiteral("QVRInstaller");

namespace {
// An entry as the player knows it: its path below the data folder.
QString EntryPath(const qvr::sgFileInfo& entry) {
    QString path = QString::fromStdString(entry.FilePath());
    if (!path.isEmpty())
        path += QLatin1Char('\\');
    return path + QString::fromStdString(entry.FileName());
}
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
      m_exit(std::move(options.Exit)), m_findFolders(std::move(options.FindFolders)),
      m_openMWConfig(options.OpenMWConfig), m_modsFolder(options.ModsFolder) {
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
    // A settings file that cannot be read: the window asks as on any first start.
    const IniValue stored =
        Settings.ReadIniValue(QStringLiteral("Settings"), QStringLiteral("TESLocation"));
    if (!stored.Outcome || !stored.Value.isEmpty())
        return;
    for (const qvr::GameFolder& f : m_findFolders()) {
        const QString folder = QDir::toNativeSeparators(QString::fromStdString(f.Folder));
        if (Dialogs::instance().AskYesNo(
                &Main(), AppTitle,
                QStringLiteral("Morrowind's data folder was found here (%1):\n\n%2\n\nInstall "
                               "plug-ins into this folder?")
                    .arg(QString::fromUtf8(qvr::SourceName(f.Source)), folder))) {
            // Not kept when it cannot be written: the window then asks as on a first start.
            Settings.WriteIniValue(QStringLiteral("Settings"), QStringLiteral("TESLocation"),
                                   folder);
            return;
        }
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

namespace {
// What the library found wrong with a file, as the rest of a sentence that starts with its name.
std::string WhatIsWrong(const qvr::OpenStatus& status, const std::string& path) {
    std::string why = status.Message;
    if (why.rfind(path + ": ", 0) == 0)
        why.erase(0, path.size() + 2);
    if (status.Kind == qvr::OpenKind::Partial) {
        // The library's own sentence names the file again; keep only its reason.
        // The reason comes in brackets after the library's own sentence.
        std::string detail;
        const std::string damaged = "the archive is damaged (";
        if (const size_t open = why.find(damaged); open != std::string::npos && why.back() == ')')
            detail = why.substr(open + damaged.size(), why.size() - open - damaged.size() - 1);
        const size_t at = detail.find(" is damaged: ");
        if (at != std::string::npos)
            detail.erase(0, at + 13);
        return "is damaged: " +
               (detail.empty() ? std::string("its directory cannot be read") : detail);
    }
    if (why == "no such file")
        return "does not exist";
    if (why.rfind("not a ", 0) == 0)
        return "is " + why;
    return why.empty() ? "is not a QVR archive or zip file" : why;
}
} // namespace

qvr::Result MainMod::OpenArchive(const QString& path) {
    const std::string p = path.toStdString();
    qvr::Archives next;
    if (!Arc.TempFolder.empty())
        next.TempFolder = Arc.TempFolder;
    const qvr::OpenStatus status = next.Open(p);
    std::string why;
    if (status.Kind == qvr::OpenKind::Complete) {
        if (!next.PluginInfo.GetPluginData(next, qvr::GetFileNameFromPath(p)))
            why = "holds no plug-in information";
    } else if (status.Kind == qvr::OpenKind::Empty) {
        why = "holds no plug-in information";
    } else if (status.Kind != qvr::OpenKind::Zip) {
        why = WhatIsWrong(status, p);
    }
    if (!why.empty())
        return qvr::Result::Unusable("The file " + p + " " + why + ".");
    Arc = std::move(next);
    ArchiveReady = true;
    ++m_openSerial;
    return qvr::Result::Success();
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
                           const std::function<void(const qvr::EntryProgress&)>& work,
                           const std::function<void(const qvr::EntryResult&)>& onEntry) {
    SetBusy(true);
    frmSplash& splash = Splash();
    splash.SetOwner(owner);
    splash.SetTitle(title);
    splash.CalcIncrement(static_cast<int32_t>(Arc.ArchiveFiles.size()));
    splash.ShowModeless();

    auto progress = [&](const qvr::EntryResult& result, size_t, size_t) {
        if (!m_exitRequested && (result.Outcome == qvr::EntryOutcome::Failed ||
                                 result.Outcome == qvr::EntryOutcome::Refused)) {
            // The first line as it always was; the reason below it.
            QString text = failureText + QString::fromStdString(result.Entry.FileName());
            if (!result.Message.empty())
                text += QLatin1Char('\n') + QString::fromStdString(result.Message);
            Dialogs::instance().Message(owner, AppTitle, text);
        }
        if (onEntry)
            onEntry(result);
        splash.IncrProgress(0);
        // Once "Exit" was pressed the program ends at once, so the work stops between two
        // entries instead of going on behind closed windows.
        return !m_exitRequested;
    };
    try {
        if (!m_exitRequested)
            work(progress);
    } catch (const std::exception& e) {
        Dialogs::instance().Message(owner, AppTitle, QString::fromStdString(e.what()));
    }
    if (!m_exitRequested)
        FinishProgress();
    SetBusy(false);
}

int MainMod::InstallPlugin(QWidget* owner, const QString& pluginName, const QString& dataFolder,
                           std::vector<qvr::EntryResult>* results) {
    if (m_busy)
        return 0;
    auto ask = [&](const qvr::sgFileInfo& entry, const std::string&) {
        if (m_exitRequested)
            return false; // the program is ending: keep what is there, ask nothing
        if (!bApplyToAll) {
            const OverwritePrompt::Answer answer = Prompt().Ask(owner, EntryPath(entry));
            bApplyToAll = answer.ApplyToAll;
            bOverwriteFile = answer.Overwrite;
        }
        return bOverwriteFile;
    };
    struct Counts {
        int installed = 0, replaced = 0, kept = 0, failed = 0;
        QStringList failedNames;
    } counts;
    // Every question comes before the first file is written, so keep all the answers.
    std::set<std::string> replacing;
    auto askAndNote = [&](const qvr::sgFileInfo& entry, const std::string& target) {
        const bool overwrite = ask(entry, target);
        if (overwrite)
            replacing.insert(target);
        return overwrite;
    };
    auto note = [&](const qvr::EntryResult& result) {
        switch (result.Outcome) {
        case qvr::EntryOutcome::Installed:
            ++(replacing.count(result.Target) ? counts.replaced : counts.installed);
            break;
        case qvr::EntryOutcome::Skipped:
            ++counts.kept;
            break;
        case qvr::EntryOutcome::Refused:
        case qvr::EntryOutcome::Failed:
            ++counts.failed;
            counts.failedNames << EntryPath(result.Entry);
            break;
        case qvr::EntryOutcome::InfoEntry:
            break;
        }
    };
    RunEntryTask(
        owner, QStringLiteral("Installing Plug-in ") + pluginName,
        QStringLiteral("An Error occured while trying to extract the file"),
        [&](const qvr::EntryProgress& progress) {
            auto takeBack = [&](const qvr::InstallRecord& earlier) {
                return !m_exitRequested &&
                       Dialogs::instance().AskYesNo(
                           owner, AppTitle,
                           QStringLiteral("%1 is installed in this folder from another archive, "
                                          "%2.\n\nTake that install back first? With No, it "
                                          "stays and this archive is recorded on its own.")
                               .arg(QString::fromStdString(earlier.Name.empty() ? earlier.Archive
                                                                                : earlier.Name),
                                    QString::fromStdString(earlier.Archive)));
            };
            const qvr::InstallReport report = qvr::InstallRecorded(
                Arc, dataFolder.toStdString(), askAndNote, progress, 0, takeBack);
            if (results)
                *results = report.Entries;
            if (!report.Outcome && !m_exitRequested)
                Dialogs::instance().Message(owner, AppTitle,
                                            QString::fromStdString(report.Outcome.Message));
        },
        note);
    // A clean install needs no words; one that skipped, kept or lost anything says so once.
    if (!m_exitRequested && (counts.kept || counts.failed)) {
        Dialogs::instance().Summary(
            owner, AppTitle,
            QStringLiteral("%1 files installed, %2 replaced, %3 kept, %4 failed.")
                    .arg(counts.installed)
                    .arg(counts.replaced)
                    .arg(counts.kept)
                    .arg(counts.failed) +
                (counts.failed ? QStringLiteral("\nThese files failed:") : QString()),
            counts.failedNames);
    }
    return counts.installed + counts.replaced;
}

qvr::FileProgress MainMod::StepPerFile(const qvr::EntryProgress& progress) {
    return [progress](const qvr::FileResult& f, size_t done, size_t count) {
        qvr::EntryResult r;
        r.Outcome = f.Fate == qvr::FileFate::Failed ? qvr::EntryOutcome::Failed
                                                    : qvr::EntryOutcome::Installed;
        r.Entry.FileName(f.Path.substr(f.Path.find_last_of('\\') + 1));
        return progress(r, done, count);
    };
}

bool MainMod::ConfirmRemoval(QWidget* owner) {
    return Dialogs::instance().AskYesNo(
        owner, AppTitle,
        QStringLiteral("This will attempt to remove all files listed for the current QVR "
                       "file. It will not remove folders. Continue?"));
}

void MainMod::RemovePluginFiles(QWidget* owner, const QString& pluginName,
                                const QString& dataFolder) {
    if (m_busy)
        return;
    if (!ConfirmRemoval(owner))
        return;
    qvr::RemovalReport report;
    RunEntryTask(owner, QStringLiteral("Removing Plug-in Files") + pluginName,
                 QStringLiteral("An Error occured while trying to remove the file"),
                 [&](const qvr::EntryProgress& progress) {
                     const qvr::FileProgress each = StepPerFile(progress);
                     report = qvr::RemovePlugin(Arc, dataFolder.toStdString(), each);
                 });
    if (m_exitRequested)
        return;
    if (!report.Outcome && report.Count(qvr::FileFate::Failed) == 0)
        Dialogs::instance().Message(owner, AppTitle,
                                    QString::fromStdString(report.Outcome.Message));
    ShowRemovalSummary(owner, AppTitle, report);
}

QString MainMod::OpenDialogStart() {
    const QString folder =
        Settings.ReadIniValue(QStringLiteral("Settings"), QStringLiteral("LastFolder")).Value;
    if (!folder.isEmpty() && QDir(folder).exists())
        return QDir::toNativeSeparators(folder + QLatin1Char('/'));
    return {};
}

void MainMod::RememberFolder(const QString& chosenFile) {
    // Only a convenience: when it cannot be kept, the next dialog starts elsewhere.
    (void)Settings.WriteIniValue(QStringLiteral("Settings"), QStringLiteral("LastFolder"),
                                 QDir::toNativeSeparators(QFileInfo(chosenFile).absolutePath()));
}

QString MainMod::FormatSize(qint64 size) {
    if (size == 0)
        return {};
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return locale.toString(size);
}

} // namespace installer
