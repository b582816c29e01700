// The installer's archives as players download them (zip, 7z, rar, tar): opened through the
// core's sources, shown by the name of their file and their read-me, and installed through the
// same engine as a package once the player has chosen its options or its data folder.
#include "MainMod.h"

#include "Dialogs.h"
#include "frmChoose.h"

#include "qvr/games/OpenMWSources.h"
#include "qvr/install/SourceInstall.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/sources/Readme.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>

using namespace shared_windows;

namespace installer {

QString MainMod::OpenFilter() {
    if (!qvr::sources::ReadsOtherArchives())
        return QStringLiteral("QVRfile(*.qvr)|*.qvr|Zip files(*.zip)|*.zip");
    const QString tars =
        QStringLiteral("*.tar;*.tar.gz;*.tgz;*.tar.bz2;*.tbz2;*.tar.xz;*.txz;*.tar.zst");
    return QStringLiteral("Plug-in archives|*.qvr;*.zip;*.7z;*.rar;") + tars +
           QStringLiteral("|QVRfile(*.qvr)|*.qvr|Zip files(*.zip)|*.zip|7z archives|*.7z"
                          "|RAR archives|*.rar|Tar archives|") +
           tars + QStringLiteral("|All files|*.*");
}

MainMod::ReadResult MainMod::ReadDownloaded(const std::string& p, const std::string& tempFolder) {
    ReadResult read;
    qvr::sources::Opened opened = qvr::sources::Open(p);
    if (!opened.Outcome) {
        std::string why = opened.Outcome.Message;
        if (why.starts_with(p + ": "))
            why.erase(0, p.size() + 2);
        // "is cut short: …", "is encrypted …": said of the file itself.
        read.Outcome =
            why.starts_with("not an archive")
                ? qvr::Result::Unusable("The file " + p + " is not a QVR archive or zip file.")
            : why.starts_with("is ")
                ? qvr::Result::Unusable("The file " + p + " " + why + ".")
                : qvr::Result::Unusable("The file " + p + " cannot be opened: " + why + ".");
        return read;
    }
    qvr::Archives& shown = read.Arc;
    if (!tempFolder.empty())
        shown.TempFolder = tempFolder;
    shown.NameOnly(p);
    shown.PluginInfo.PluginName(qvr::NameFromArchive(p));
    if (const std::optional<size_t> readme = qvr::sources::FindReadme(*opened.Archive)) {
        if (!qvr::sources::QuickToRead(*opened.Archive, *readme))
            read.ReadmeLater = readme;
        else if (std::optional<std::string> text =
                     qvr::sources::ReadmeText(*opened.Archive, *readme))
            shown.PluginInfo.Notes(*text);
    }
    read.Downloaded = std::move(opened.Archive);
    return read;
}

bool MainMod::ReadPendingReadme(QWidget* owner) {
    if (!m_readmeLater || !Downloaded)
        return true;
    const size_t member = *std::exchange(m_readmeLater, std::nullopt);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const std::optional<std::string> text = qvr::sources::ReadmeText(*Downloaded, member);
    QGuiApplication::restoreOverrideCursor();
    if (!text) {
        Dialogs::instance().Message(
            owner, AppTitle,
            QStringLiteral("The read-me %1 of %2 cannot be read.")
                .arg(QString::fromStdString(Downloaded->Members()[member].Path),
                     QString::fromStdString(Downloaded->Name())));
        return false;
    }
    Arc.PluginInfo.Notes(*text);
    return true;
}

namespace {

// The members the archive's reader refused are never installed: said before the install.
void TellRefused(QWidget* owner, const qvr::sources::Source& source) {
    if (source.Refused().empty())
        return;
    QStringList items;
    for (const qvr::sources::Refusal& r : source.Refused())
        items << QString::fromStdString(r.Path) + QStringLiteral(": ") +
                     QString::fromStdString(r.Why);
    Dialogs::instance().Summary(owner, MainMod::AppTitle,
                                QStringLiteral("These files of the archive are refused and will "
                                               "not be installed:"),
                                items);
}

qvr::PlacedProgress PerFile(const qvr::EntryProgress& progress) {
    return [progress](size_t, const qvr::EntryResult& r, size_t done, size_t count) {
        return progress(r, done, count);
    };
}

} // namespace

int MainMod::InstallDownloaded(QWidget* owner, const QString& pluginName, const QString& dataFolder,
                               bool openmw) {
    std::vector<std::string> paths;
    for (const qvr::sources::Member& m : Downloaded->Members())
        paths.push_back(m.Path);
    const QString fileName = QString::fromStdString(qvr::GetFileNameFromPath(Arc.CurrentArchive));
    const std::optional<qvr::sources::Choice> choice =
        AskArchiveChoice(owner, qvr::sources::FindLayout(paths), fileName);
    if (!choice)
        return 0;
    qvr::SourcePlan plan;
    if (const qvr::Result planned = qvr::PlanSource(*Downloaded, *choice, plan, false); !planned) {
        Dialogs::instance().Message(owner, AppTitle,
                                    QStringLiteral("Nothing was installed: ") + fileName +
                                        QStringLiteral(" ") +
                                        QString::fromStdString(plan.Selection.Message) + ".");
        return 0;
    }
    TellRefused(owner, *Downloaded);
    // The source outlives the install even when another archive is opened meanwhile.
    const std::shared_ptr<qvr::sources::Source> source = Downloaded;
    if (openmw) {
        const qvr::openmw::Target where = qvr::openmw::TargetFor(
            Arc.CurrentArchive, m_openMWConfig.toStdString(), ModsFolder().toStdString());
        qvr::openmw::ListReport listed;
        const InstallRun run = [&](const qvr::OverwriteQuestion& ask,
                                   const qvr::EntryProgress& progress,
                                   const qvr::TakeBackQuestion& takeBack) {
            return qvr::openmw::InstallSource(*source, plan, where, ask, PerFile(progress),
                                              takeBack, listed);
        };
        const int written = InstallPlugin(
            owner, pluginName, QDir::toNativeSeparators(QString::fromStdString(where.ModFolder)),
            nullptr, run);
        if (written > 0 && !listed.Unlisted.empty() && !m_exitRequested) {
            QStringList problems;
            for (const std::string& why : listed.Unlisted)
                problems << QStringLiteral("Not listed in openmw.cfg: ") +
                                QString::fromStdString(why);
            Dialogs::instance().Message(owner, AppTitle, problems.join(QLatin1Char('\n')));
        }
        return written;
    }
    if (!QFileInfo(dataFolder).isDir()) {
        Dialogs::instance().Message(owner, AppTitle,
                                    QStringLiteral("The data folder ") + dataFolder +
                                        QStringLiteral(" does not exist; nothing was installed."));
        return 0;
    }
    const InstallRun run = [&](const qvr::OverwriteQuestion& ask,
                               const qvr::EntryProgress& progress,
                               const qvr::TakeBackQuestion& takeBack) {
        qvr::InstallRequest request = qvr::SourceRequest(*source, plan);
        request.Ask = ask;
        request.TakeBack = takeBack;
        request.Progress = PerFile(progress);
        return qvr::InstallIntoDataFolder(std::move(request), dataFolder.toStdString(),
                                          EnableInIni(), m_enabled);
    };
    return InstallPlugin(owner, pluginName, dataFolder, nullptr, run);
}

} // namespace installer
