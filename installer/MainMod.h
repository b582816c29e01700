#pragma once
// The installer's program-wide state and procedures: the open archive, the settings file,
// the overwrite answers, the windows (each made on first use and kept), and the install and
// removal procedures that both main windows run.

#include "IniFile.h"

#include "qvr/games/Activation.h"
#include "qvr/games/GameFolders.h"
#include "qvr/install/Install.h"
#include "qvr/install/RecordedInstall.h"
#include "qvr/package/Archives.h"
#include "qvr/platform/Result.h"
#include "qvr/sources/Source.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <future>
#include <memory>
#include <optional>

class QWidget;
namespace shared_windows {
class frmSplash;
}

namespace installer {

using shared_windows::frmSplash;

class frmMain;
class frmManage;
class frmExists;
class OverwritePrompt;

// The heap the installer asks large pages for (qvr::PreferLargePages): Qt's start takes the
// first megabytes, and an install of ten thousand files then found only small pages, a fault for
// each new one (64 against 16: 30-40 ms less of a 330 ms install, 4 MB more at the peak).
inline constexpr size_t kInstallerHeapMegabytes = 64;

class MainMod {
public:
    static const QString AppTitle; // "QVRInstaller", the title of every message box

    struct Options {
        QString SettingsPath;      // the settings file
        QString DefaultDataFolder; // shown until a folder is stored
        // Ends the program; QCoreApplication::quit when not given.
        std::function<void()> Exit;
        // The game's data folders found on this computer, offered on the first start; none
        // when not given.
        std::function<std::vector<qvr::GameFolder>()> FindFolders;
        // OpenMW's settings file; where it exists, OpenMW is offered as the install target.
        QString OpenMWConfig = {};
        // OpenMW's mods folder unless the settings file names another (OpenMWModsFolder).
        QString ModsFolder = {};
    };
    explicit MainMod(Options options);
    ~MainMod();
    MainMod(const MainMod&) = delete;
    MainMod& operator=(const MainMod&) = delete;

    qvr::Archives Arc;
    // The open archive when it is one as players download it (zip, 7z, rar, tar): Arc then
    // holds its path and what is shown, the name from its file name and its read-me as notes.
    std::shared_ptr<qvr::sources::Source> Downloaded;
    IniFile Settings;
    const QString DefaultDataFolder;
    // The overwrite answers; they hold for the whole run.
    bool bApplyToAll = false;
    bool bOverwriteFile = false;
    // Whether the last "Open QVR..." of either window read the whole file (and, for a
    // package, its information). After a failed open the labels keep what they showed, but
    // nothing may be installed or removed by a list that no longer belongs to them.
    bool ArchiveReady = false;

    frmMain& Main();
    frmManage& Manage();
    bool ManageCreated() const { return m_manage != nullptr; }
    frmSplash& Splash();
    bool SplashCreated() const { return m_splash != nullptr; }
    // The prompt the install asks; frmExists unless replaced (not owned; nullptr restores it).
    OverwritePrompt& Prompt();
    void SetPrompt(OverwritePrompt* prompt);
    frmExists& ExistsWindow();

    // Loads and shows the main window: the program's start. An archive named in arguments (those
    // after the program's name) is opened as "Open QVR..." opens it.
    void Start(const QStringList& arguments = {});

    // Reads path as the open archive, for either window. Ok when it is a zip file or a package
    // read whole with its information; then it becomes the open archive. Otherwise the archive
    // open before stays open, untouched, and the result says what is wrong with the file.
    qvr::Result OpenArchive(const QString& path);
    // Counts successful opens, so that a window warns about an archive once per open.
    int OpenSerial() const { return m_openSerial; }
    // A downloaded archive's read-me that would have taken long to read when it was opened:
    // "Read Me..." shows, and reads it when clicked.
    bool ReadmePending() const { return m_readmeLater.has_value(); }
    // Reads that read-me into the open archive's notes; false (said to the player) when it
    // cannot be read. True at once when none is pending.
    bool ReadPendingReadme(QWidget* owner);
    // Ends the program: every window goes, the exit function runs.
    void Exit();
    bool ExitRequested() const { return m_exitRequested; }

    // While an install or a removal runs, the commands that would start another one or open
    // another archive are unavailable.
    bool Busy() const { return m_busy; }

    // Installs every entry of the open archive but its info entry into dataFolder, with the
    // progress window owned by owner. Answers how many files were written; results (when
    // given) receives what became of each entry. Another archive's install of the same
    // plug-in is taken back only when the player says so.
    // run, when given, installs in place of the data folder's install (OpenMW's target).
    using InstallRun = std::function<qvr::InstallReport(
        const qvr::OverwriteQuestion&, const qvr::EntryProgress&, const qvr::TakeBackQuestion&)>;
    int InstallPlugin(QWidget* owner, const QString& pluginName, const QString& dataFolder,
                      std::vector<qvr::EntryResult>* results = nullptr, const InstallRun& run = {});

    // Whether an install into the data folder also enables its plug-ins and .bsa files in the
    // Morrowind.ini beside it: the main window's check box, kept in the settings file.
    bool EnableInIni() const;
    void SetEnableInIni(bool enable);
    // What the open archive's install into dataFolder would replace and which masters it
    // lacks, for the manage window ("" for nothing to say).
    QString PreviewText(const QString& dataFolder) const;

    // OpenMW as install target, offered where its openmw.cfg exists. ForOpenMW is the main
    // window's choice; both windows install and remove for it while it is set.
    bool OpenMWFound() const;
    bool ForOpenMW = false;
    QString OpenMWConfig() const { return m_openMWConfig; }
    QString ModsFolder();
    // Uses folder as the mods folder from now on and keeps it in the settings file.
    qvr::Result SetModsFolder(const QString& folder);
    // Installs the open archive into a folder of its own below the mods folder and lists it in
    // openmw.cfg, as qvr install --openmw does.
    void InstallForOpenMW(QWidget* owner, const QString& pluginName);
    // Asks, then takes the open archive's OpenMW install out: its files, its folder when
    // emptied, and exactly the lines it added to openmw.cfg.
    void RemoveFromOpenMW(QWidget* owner, const QString& pluginName);
    // Asks, then removes the installed file of every entry of the open archive.
    void RemovePluginFiles(QWidget* owner, const QString& pluginName, const QString& dataFolder);
    // Removes the open archive's install from the target it was installed for, whichever is
    // chosen now: OpenMW's mods folder when an OpenMW install of it is recorded there, else
    // dataFolder; neither recorded: the chosen target's removal by content.
    void RemoveWhereInstalled(QWidget* owner, const QString& pluginName, const QString& dataFolder);

    // Where "Open QVR..." starts: the folder an archive was last chosen from, kept in the
    // settings file, as a preset for Dialogs::OpenFile ("" before the first).
    QString OpenDialogStart();
    // Keeps the folder of a chosen file for the next "Open QVR...".
    void RememberFolder(const QString& chosenFile);

    // The Open dialog's filter: packages and the archives players download, where this build
    // reads them.
    static QString OpenFilter();

    // The file's size grouped by the locale ("1,234,567"); 0 gives "".
    static QString FormatSize(qint64 size);

private:
    // What reading an archive found, before it becomes the open archive. Reading touches no
    // window, so an archive named at the start is read while the main window is made.
    struct ReadResult {
        qvr::Result Outcome; // Unusable, saying what is wrong with the file
        qvr::Archives Arc;
        std::shared_ptr<qvr::sources::Source> Downloaded;
        std::optional<size_t> ReadmeLater; // a member of Downloaded
        qvr::PreparedPackage Prepared;     // a package's entries, with prepare
    };
    // prepare: a package's entries are prepared for its install as well (on a thread of its
    // own this costs the install nothing).
    static ReadResult ReadArchive(const std::string& path, const std::string& tempFolder,
                                  bool prepare = false);
    qvr::Result Take(ReadResult read);
    // The reading of the archive named at the start, until OpenArchive takes it.
    QString m_earlyPath;
    std::future<ReadResult> m_early;
    std::optional<size_t> m_readmeLater;
    qvr::PreparedPackage m_prepared; // the open package's, until its first install
    // ReadArchive and the installs for an archive as downloaded (MainModSources.cpp): the
    // numbered options or the data root asked for first, then the same engine as a package's.
    static ReadResult ReadDownloaded(const std::string& path, const std::string& tempFolder);
    int InstallDownloaded(QWidget* owner, const QString& pluginName, const QString& dataFolder,
                          bool openmw);
    void SetBusy(bool busy);
    // On the first start (no folder stored yet), offers each folder found until one is taken.
    void OfferFoundFolders();
    struct InstallCounts {
        int installed = 0, replaced = 0, kept = 0, failed = 0;
        QStringList failures; // one line per file that failed, with why
    };
    static bool TookBack(const qvr::InstallReport& report, InstallCounts& counts);
    // What the end of the install tells beside the counts ("" for nothing).
    static QString TaskErrorOf(const qvr::InstallReport& report, InstallCounts& counts);
    // The progress window's end and the one summary of an install.
    void EndInstall(QWidget* owner, const InstallCounts& counts);
    // Ends the progress window: "Complete!" for an empty outcome, the outcome otherwise.
    void EndTask(const QString& outcome);
    // Runs one install or removal with the progress window: one step per entry and a stop
    // between entries once Exit was asked; its last step is left to EndTask. onEntry sees every
    // entry's result after it was handled. What went wrong is for the caller's one summary;
    // an exception's text is kept in m_taskError. With cancellable, the window's Cancel stops
    // the work between entries too.
    void RunEntryTask(QWidget* owner, const QString& title,
                      const std::function<void(const qvr::EntryProgress&)>& work,
                      const std::function<void(const qvr::EntryResult&)>& onEntry = {},
                      bool cancellable = false);
    // A removal's file steps as the progress window's entry steps: one per file.
    static qvr::FileProgress StepPerFile(const qvr::EntryProgress& progress);
    // The question before any removal, saying what it does for the target.
    static bool ConfirmRemoval(QWidget* owner, bool openmw);
    // The progress window's end and the one summary of a removal, for both targets.
    void EndRemoval(QWidget* owner, const qvr::RemovalReport& report);

    std::function<void()> m_exit;
    std::function<std::vector<qvr::GameFolder>()> m_findFolders;
    QString m_openMWConfig;
    QString m_modsFolder;
    QString m_chosenModsFolder; // chosen in this run; holds even when it could not be saved
    std::unique_ptr<frmMain> m_main;
    std::unique_ptr<frmManage> m_manage;
    std::unique_ptr<frmSplash> m_splash;
    std::unique_ptr<frmExists> m_exists;
    OverwritePrompt* m_prompt = nullptr;
    bool m_busy = false;
    QString m_taskError; // why the last install or removal stopped as a whole
    bool m_exitRequested = false;
    int m_openSerial = 0;
    qvr::Activation m_enabled;         // what the last install into the data folder enabled
    std::optional<bool> m_enableInIni; // chosen in this run; holds even when it was not saved
    // After an install into dataFolder: one message with what could not be enabled and every
    // master that is missing.
    void TellDataFolderInstall(QWidget* owner, const QString& dataFolder);
};

// The game's data folder used until one is stored: the game's usual folder on Windows, the
// folder of the user's Steam library elsewhere.
QString DefaultDataFolder();

} // namespace installer
