#include "MainMod.h"

#include "Dialogs.h"
#include "FailureText.h"
#include "RemovalSummary.h"
#include "frmExists.h"
#include "frmMain.h"
#include "frmManage.h"
#include "frmSplash.h"

#include "qvr/install/Install.h"
#include "qvr/install/RecordedInstall.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/HostEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <algorithm>
#include <set>

#include <exception>
#include <system_error>
#include <utility>

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
            (void)Settings.WriteIniValue(QStringLiteral("Settings"), QStringLiteral("TESLocation"),
                                         folder);
            return;
        }
    }
}

void MainMod::Start(const QStringList& arguments) {
    if (!arguments.isEmpty()) {
        try {
            m_early = std::async(
                std::launch::async,
                [](const std::string& path, const std::string& temp) {
                    // A package's list of ten thousand files fills megabytes of this
                    // thread's heap.
                    qvr::PreferLargePagesOnThisThread();
                    return ReadArchive(path, temp, true);
                },
                arguments.first().toStdString(), Arc.TempFolder);
            m_earlyPath = arguments.first();
        } catch (const std::system_error&) {
            // No thread to spare: it is read when the window opens it.
        }
    }
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

MainMod::ReadResult MainMod::ReadArchive(const std::string& p, const std::string& tempFolder,
                                         bool prepare) {
    if (qvr::sources::ReadsOtherArchives() && !qvr::Archives().IsQvrArchive(p))
        return ReadDownloaded(p, tempFolder);
    ReadResult read;
    qvr::Archives& next = read.Arc;
    if (!tempFolder.empty())
        next.TempFolder = tempFolder;
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
        read.Outcome = qvr::Result::Unusable("The file " + p + " " + why + ".");
    else if (prepare && status.Kind == qvr::OpenKind::Complete)
        read.Prepared = qvr::PreparePackage(next);
    return read;
}

qvr::Result MainMod::Take(ReadResult read) {
    if (!read.Outcome)
        return read.Outcome;
    Arc = std::move(read.Arc);
    Downloaded = std::move(read.Downloaded);
    m_readmeLater = read.ReadmeLater;
    m_prepared = std::move(read.Prepared);
    ArchiveReady = true;
    ++m_openSerial;
    return qvr::Result::Success();
}

qvr::Result MainMod::OpenArchive(const QString& path) {
    if (m_early.valid()) {
        std::future<ReadResult> early = std::move(m_early);
        if (m_earlyPath == path)
            return Take(early.get());
    }
    return Take(ReadArchive(path.toStdString(), Arc.TempFolder));
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

void MainMod::EndTask(const QString& outcome) {
    if (m_exitRequested)
        return;
    // Only work that all went through is "Complete!"; anything else ends on what happened.
    if (outcome.isEmpty()) {
        if (!Splash().Model().Complete())
            Splash().SetProgress(100);
    } else {
        Splash().Finish(outcome);
    }
}

void MainMod::RunEntryTask(QWidget* owner, const QString& title,
                           const std::function<void(const qvr::EntryProgress&)>& work,
                           const std::function<void(const qvr::EntryResult&)>& onEntry,
                           bool cancellable) {
    SetBusy(true);
    frmSplash& splash = Splash();
    splash.SetOwner(owner);
    splash.SetCancellable(cancellable);
    splash.SetTitle(title);
    splash.CalcIncrement(
        static_cast<int32_t>(Downloaded ? Downloaded->Members().size() : Arc.ArchiveFiles.size()));
    splash.ShowModeless();

    auto progress = [&](const qvr::EntryResult& result, size_t done, size_t count) {
        if (onEntry)
            onEntry(result);
        // The last step is the caller's: the window must not say "Complete!" before it is
        // known whether everything went through.
        if (done < count)
            splash.IncrProgress(0);
        // Once "Exit" was pressed the program ends at once, so the work stops between two
        // entries instead of going on behind closed windows.
        return !m_exitRequested && !splash.CancelRequested();
    };
    try {
        if (!m_exitRequested)
            work(progress);
    } catch (const std::exception& e) {
        m_taskError = QString::fromStdString(e.what());
    }
    SetBusy(false);
}

// An install that stopped took back the files it had written, which the counts noted as
// installed while they were written: they count as failed. True when there were any.
bool MainMod::TookBack(const qvr::InstallReport& report, InstallCounts& counts) {
    const int written = counts.installed + counts.replaced;
    const bool stayed =
        std::any_of(report.Entries.begin(), report.Entries.end(), [](const qvr::EntryResult& r) {
            return r.Outcome == qvr::EntryOutcome::Installed;
        });
    if (stayed || written == 0)
        return false;
    counts.failed += written;
    counts.installed = counts.replaced = 0;
    return true;
}

QString MainMod::TaskErrorOf(const qvr::InstallReport& report, InstallCounts& counts) {
    // The reason is told when no failed file says it, and always after a take-back.
    if (!report.Outcome && (TookBack(report, counts) || counts.failed == 0))
        return QString::fromStdString(report.Outcome.Message);
    // Installed, but the earlier version it takes the place of is not yet taken back whole.
    if (report.Earlier && !report.Earlier->Outcome)
        return QString::fromStdString(report.Earlier->Outcome.Message);
    return {};
}

namespace {
// "3 files": a number and its word never part at the end of a line.
QString Count(qsizetype n, const char* one, const char* many) {
    return QString::number(n) + QChar(0x00A0) + QString::fromLatin1(n == 1 ? one : many);
}

// A crash had cut these installs short: their player takes them for installed.
void TellTakenBack(QWidget* owner, const std::vector<std::string>& plugins,
                   const std::vector<std::string>& updates = {}) {
    for (const std::string& plugin : plugins)
        Dialogs::instance().Message(
            owner, MainMod::AppTitle,
            QStringLiteral("An earlier install of %1 had been cut short (the program or the "
                           "computer stopped during it). It was taken back, so %1 is not "
                           "installed now; install it again to have it.")
                .arg(QString::fromStdString(plugin)));
    for (const std::string& plugin : updates)
        Dialogs::instance().Message(
            owner, MainMod::AppTitle,
            QStringLiteral("An update of %1 had been cut short (the program or the computer "
                           "stopped during it). It was taken back: the version of %1 installed "
                           "before it is still installed.")
                .arg(QString::fromStdString(plugin)));
}
} // namespace

int MainMod::InstallPlugin(QWidget* owner, const QString& pluginName, const QString& dataFolder,
                           std::vector<qvr::EntryResult>* results, const InstallRun& run) {
    if (m_busy)
        return 0;
    if (Downloaded && !run)
        return InstallDownloaded(owner, pluginName, dataFolder, false);
    // A data folder that is gone (a removed game, a disk not mounted) is never made anew: the
    // files would go where the game does not look.
    if (!run && !QFileInfo(dataFolder).isDir()) {
        Dialogs::instance().Message(owner, AppTitle,
                                    QStringLiteral("The data folder ") + dataFolder +
                                        QStringLiteral(" does not exist; nothing was installed."));
        return 0;
    }
    auto ask = [&](const qvr::sgFileInfo& entry, const std::string&) {
        if (m_exitRequested)
            return false; // the program is ending: keep what is there, ask nothing
        if (!bApplyToAll) {
            const OverwritePrompt::Answer answer = Prompt().Ask(owner, ShownPath(EntryPath(entry)));
            bApplyToAll = answer.ApplyToAll;
            bOverwriteFile = answer.Overwrite;
        }
        return bOverwriteFile;
    };
    InstallCounts counts;
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
            counts.failures << FailureLine(EntryPath(result.Entry),
                                           QString::fromStdString(result.Message),
                                           QString::fromStdString(result.Target));
            break;
        case qvr::EntryOutcome::InfoEntry:
            break;
        }
    };
    m_taskError.clear();
    bool cancelled = false;
    std::vector<std::string> takenBack, updatesTakenBack;
    RunEntryTask(
        owner, QStringLiteral("Installing Plug-in ") + pluginName,
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
                                    QString::fromStdString(earlier.Archive)),
                           Dialogs::Default::No);
            };
            const qvr::InstallReport report =
                run ? run(askAndNote, progress, takeBack)
                    : qvr::InstallIntoDataFolder(Arc, dataFolder.toStdString(), EnableInIni(),
                                                 askAndNote, progress, takeBack, m_enabled,
                                                 std::exchange(m_prepared, {}));
            if (results)
                *results = report.Entries;
            cancelled = report.Cancelled;
            takenBack = report.TakenBack;
            updatesTakenBack = report.UpdatesTakenBack;
            if (QString why = TaskErrorOf(report, counts); !why.isEmpty())
                m_taskError = why;
        },
        note, true);
    Splash().SetCancellable(false);
    if (m_exitRequested)
        return 0;
    TellTakenBack(owner, takenBack, updatesTakenBack);
    if (cancelled) {
        // The install was rolled back whole: no file of it stays.
        EndTask(QStringLiteral("Cancelled; nothing was installed"));
        return 0;
    }
    EndInstall(owner, counts);
    if (!run && counts.installed + counts.replaced > 0)
        TellDataFolderInstall(owner, dataFolder);
    return counts.installed + counts.replaced;
}

void MainMod::EndInstall(QWidget* owner, const InstallCounts& counts) {
    const int written = counts.installed + counts.replaced;
    const int files = written + counts.kept + counts.failed;
    QString outcome;
    if (counts.failed || !m_taskError.isEmpty())
        outcome = written ? QStringLiteral("Installed %1 of %2; %3 failed")
                                .arg(written)
                                .arg(Count(files, "file", "files"))
                                .arg(counts.failed)
                          : QStringLiteral("Nothing was installed");
    else if (written == 0)
        outcome = QStringLiteral("Nothing was installed: every file was kept");
    EndTask(outcome);
    // A clean install needs no words; one that skipped, kept or lost anything says so once,
    // with every file that failed named in the list.
    if (counts.kept || counts.failed || !m_taskError.isEmpty()) {
        QString text =
            QStringLiteral("%1 installed, %2\u00a0replaced, %3\u00a0kept, %4\u00a0failed.")
                .arg(Count(counts.installed, "file", "files"))
                .arg(counts.replaced)
                .arg(counts.kept)
                .arg(counts.failed);
        if (!m_taskError.isEmpty())
            text = m_taskError + QStringLiteral("\n\n") + text;
        if (counts.failed)
            text += QStringLiteral("\nThese files failed:");
        Dialogs::instance().Summary(owner, AppTitle, text, counts.failures);
    }
}

qvr::FileProgress MainMod::StepPerFile(const qvr::EntryProgress& progress) {
    return [progress](const qvr::FileResult& f, size_t done, size_t count) {
        qvr::EntryResult r;
        r.Outcome = f.Fate == qvr::FileFate::Failed ? qvr::EntryOutcome::Failed
                                                    : qvr::EntryOutcome::Installed;
        return progress(r, done, count);
    };
}

bool MainMod::ConfirmRemoval(QWidget* owner, bool openmw) {
    const QString where = openmw ? QStringLiteral("the plug-in's folder below the mods folder, "
                                                  "and its lines in openmw.cfg")
                                 : QStringLiteral("the folders it created once they are empty");
    return Dialogs::instance().AskYesNo(
        owner, AppTitle,
        QStringLiteral("This will remove the files the current QVR file installed and put back "
                       "the files it replaced. Files changed since the install are kept. It "
                       "also removes %1. Continue?")
            .arg(where),
        Dialogs::Default::No);
}

void MainMod::EndRemoval(QWidget* owner, const qvr::RemovalReport& report) {
    if (m_exitRequested)
        return;
    // Other installs the removal found cut short; its own is told by the summary.
    std::vector<std::string> others = report.TakenBack;
    std::erase(others, report.Plugin);
    TellTakenBack(owner, others, report.UpdatesTakenBack);
    using qvr::FileFate;
    const size_t removed = report.Count(FileFate::Removed) + report.Count(FileFate::Restored);
    const size_t failed = report.Count(FileFate::Failed);
    QString error = m_taskError;
    if (error.isEmpty() && !report.Outcome && failed == 0)
        error = QString::fromStdString(report.Outcome.Message);
    QString outcome;
    if (failed || !error.isEmpty())
        outcome =
            removed ? QStringLiteral("Removed %1 of %2; %3 failed")
                          .arg(removed)
                          .arg(Count(static_cast<qsizetype>(report.Files.size()), "file", "files"))
                          .arg(failed)
                    : QStringLiteral("Nothing was removed");
    else if (removed == 0)
        outcome = QStringLiteral("Nothing was removed: none of its files is installed");
    EndTask(outcome);
    ShowRemovalSummary(owner, AppTitle, report, error);
}

void MainMod::RemovePluginFiles(QWidget* owner, const QString& pluginName,
                                const QString& dataFolder) {
    if (m_busy)
        return;
    if (!ConfirmRemoval(owner, false))
        return;
    qvr::RemovalReport report;
    m_taskError.clear();
    RunEntryTask(owner, QStringLiteral("Removing Plug-in Files") + pluginName,
                 [&](const qvr::EntryProgress& progress) {
                     const qvr::FileProgress each = StepPerFile(progress);
                     report = qvr::RemoveFromDataFolder(Arc, dataFolder.toStdString(), each);
                 });
    EndRemoval(owner, report);
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
