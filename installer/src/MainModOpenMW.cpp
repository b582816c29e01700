// The installer's OpenMW target: the same routine qvr install --openmw runs.
#include "MainMod.h"

#include "Dialogs.h"
#include "RemovalSummary.h"
#include "frmSplash.h"

#include "qvr/games/OpenMWInstall.h"
#include "qvr/platform/FileUtils.h"

#include <QDir>
#include <QFileInfo>

#include <exception>

using namespace shared_windows;

namespace installer {

namespace {
const QString kModsKey = QStringLiteral("OpenMWModsFolder");
}

bool MainMod::OpenMWFound() const {
    return !m_openMWConfig.isEmpty() && QFileInfo(m_openMWConfig).isFile();
}

QString MainMod::ModsFolder() {
    if (!m_chosenModsFolder.isEmpty())
        return m_chosenModsFolder;
    // Without a settings file or the key: the usual folder.
    const QString stored = Settings.ReadIniValue(QStringLiteral("Settings"), kModsKey).Value;
    if (!stored.isEmpty())
        return stored;
    return m_modsFolder;
}

qvr::Result MainMod::SetModsFolder(const QString& folder) {
    m_chosenModsFolder = folder;
    return Settings.WriteIniValue(QStringLiteral("Settings"), kModsKey, folder);
}

void MainMod::InstallForOpenMW(QWidget* owner, const QString& pluginName) {
    if (m_busy)
        return;
    if (Downloaded) {
        InstallDownloaded(owner, pluginName, {}, true);
        return;
    }
    const qvr::openmw::Target where = qvr::openmw::TargetFor(
        Arc.CurrentArchive, m_openMWConfig.toStdString(), ModsFolder().toStdString());
    const QString modFolder = QDir::toNativeSeparators(QString::fromStdString(where.ModFolder));
    // The files and their lines in openmw.cfg are one install: nothing written, nothing listed.
    qvr::openmw::ListReport listed;
    const InstallRun run = [&](const qvr::OverwriteQuestion& ask,
                               const qvr::EntryProgress& progress,
                               const qvr::TakeBackQuestion& takeBack) {
        return qvr::openmw::Install(Arc, where, ask, progress, takeBack, listed);
    };
    if (InstallPlugin(owner, pluginName, modFolder, nullptr, run) == 0 || m_exitRequested)
        return;
    QStringList problems;
    for (const std::string& why : listed.Unlisted)
        problems << QStringLiteral("Not listed in openmw.cfg: ") + QString::fromStdString(why);
    if (!listed.MastersNote.empty())
        problems << QString::fromStdString(listed.MastersNote);
    if (!problems.isEmpty())
        Dialogs::instance().Message(owner, AppTitle, problems.join(QLatin1Char('\n')));
}

void MainMod::RemoveWhereInstalled(QWidget* owner, const QString& pluginName,
                                   const QString& dataFolder) {
    if (m_busy)
        return;
    const bool inOpenMW = qvr::openmw::FindInstall(ModsFolder().toStdString(), Arc).has_value();
    const bool inData =
        !dataFolder.isEmpty() && qvr::FindRecordOf(Arc, dataFolder.toStdString()).has_value();
    if (inOpenMW && (ForOpenMW || !inData))
        RemoveFromOpenMW(owner, pluginName);
    else if (inData || !ForOpenMW)
        RemovePluginFiles(owner, pluginName, dataFolder);
    else
        RemoveFromOpenMW(owner, pluginName);
}

void MainMod::RemoveFromOpenMW(QWidget* owner, const QString& pluginName) {
    if (m_busy)
        return;
    const QString mods = ModsFolder();
    const auto install = qvr::openmw::FindInstall(mods.toStdString(), Arc);
    if (!install) {
        Dialogs::instance().Message(
            owner, AppTitle,
            QString::fromStdString(qvr::GetFileNameFromPath(Arc.CurrentArchive)) +
                QStringLiteral(" is not installed for OpenMW in ") + mods + QLatin1Char('.'));
        return;
    }
    if (!ConfirmRemoval(owner, true))
        return;
    qvr::openmw::UninstallReport report;
    m_taskError.clear();
    RunEntryTask(owner, QStringLiteral("Removing Plug-in Files") + pluginName,
                 [&](const qvr::EntryProgress& progress) {
                     const qvr::FileProgress each = StepPerFile(progress);
                     // The openmw.cfg the install recorded (one of before: the one found now).
                     const std::string cfg =
                         install->Engine ? install->ConfigPath : m_openMWConfig.toStdString();
                     report = qvr::openmw::Uninstall(cfg, mods.toStdString(), *install, each);
                 });
    if (!report.Outcome && m_taskError.isEmpty() && report.Files.Count(qvr::FileFate::Failed) == 0)
        m_taskError = QString::fromStdString(report.Outcome.Message);
    EndRemoval(owner, report.Files);
}

} // namespace installer
