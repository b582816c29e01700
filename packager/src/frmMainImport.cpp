#include "Dialogs.h"
#include "frmImport.h"
#include "frmMain.h"
#include "frmSplash.h"

#include "qvr/games/Masters.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/WorkFiles.h"

#include <QDir>
#include <QFileInfo>
#include <atomic>

using namespace shared_windows;

// File > Import...: a new package made of what a downloaded archive (zip, 7z, rar, tar, or
// another package) holds, its data root taken, or the options or folder the author chooses.
// The members are unpacked into a work folder beside the new package, which is then packed as
// Add folder packs, so the package is what `qvr create` makes of the same archive.

namespace packager {

namespace {

const QString kArchiveKinds = QStringLiteral(
    "*.zip;*.7z;*.rar;*.tar;*.tar.gz;*.tgz;*.tar.bz2;*.tbz2;*.tar.xz;*.txz;*.tar.zst");

QString ImportFilters() {
    if (!qvr::sources::ReadsOtherArchives())
        return QStringLiteral("Zipped Plug-ins|*.qvr|All files|*.*");
    return QStringLiteral("Archives|") + kArchiveKinds +
           QStringLiteral(";*.qvr|Zip files|*.zip|7z archives|*.7z|RAR archives|*.rar"
                          "|Tar archives|*.tar;*.tar.gz;*.tgz;*.tar.bz2;*.tbz2;*.tar.xz;*.txz;"
                          "*.tar.zst|Zipped Plug-ins|*.qvr|All files|*.*");
}

// The package's name: the archive's without its extension ("Mod v1.2.7z" gives "Mod v1.2").
QString PackageNameFor(const QFileInfo& archive) {
    QString name = archive.fileName();
    for (const QString& ext : (kArchiveKinds + QStringLiteral(";*.qvr")).split(QLatin1Char(';')))
        if (name.endsWith(ext.mid(1), Qt::CaseInsensitive) && name.size() > ext.size() - 1) {
            name.chop(ext.size() - 1);
            break;
        }
    return archive.absoluteDir().filePath(name + QStringLiteral(".qvr"));
}

// A package's own details come along when one is imported.
qvr::sgPlugInfo StartingInfo(const qvr::sources::Source& source, const QString& archive,
                             const std::string& title) {
    if (source.Kind() == "QVR") {
        qvr::Archives arc;
        qvr::sgPlugInfo info;
        if (arc.Open(archive.toStdString()).Kind == qvr::OpenKind::Complete &&
            info.GetPluginData(arc, qvr::GetFileNameFromPath(archive.toStdString())))
            return info;
    }
    // An unusable SOURCE_DATE_EPOCH is told when the package is made, just after.
    qvr::PackDates dates;
    (void)qvr::CurrentPackDates(dates);
    return qvr::NewPackageInfo(title, dates);
}

// The work folder goes, whatever happens to the import.
struct WorkFolder {
    std::string Path;
    ~WorkFolder() {
        if (!Path.empty())
            qvr::RemoveWorkFolder(Path);
    }
};

QString Listed(const std::vector<std::string>& items) {
    QStringList lines;
    for (size_t i = 0; i < items.size() && i < 10; ++i)
        lines << QString::fromStdString(items[i]);
    if (items.size() > 10)
        lines << QStringLiteral("… and %1 more").arg(items.size() - 10);
    return lines.join(QLatin1Char('\n'));
}

} // namespace

frmImport* frmMain::ImportDialog() {
    if (!m_importDialog)
        m_importDialog = new frmImport(this);
    return m_importDialog;
}

void frmMain::mImport_Click() {
    if (!m_importAction->isEnabled() || m_busy || !MayDiscardDetails())
        return;
    const auto chosen = Dialogs::instance().OpenFile(this, QStringLiteral("Import Archive"),
                                                     ImportFilters(), QString());
    if (chosen)
        ImportArchive(*chosen);
}

bool frmMain::ChooseImport(const std::vector<std::string>& paths, const QString& name,
                           qvr::sources::Selection& selection) {
    qvr::sources::Choice choice;
    if (qvr::sources::Select(paths, choice, selection))
        return true;
    if (selection.NeedsChoice) {
        const qvr::sources::Layout found = selection.Found;
        if (found.Kind == qvr::sources::LayoutKind::Options) {
            const auto labels = ImportDialog()->AskOptions(name, found.Options);
            if (!labels)
                return false;
            for (const QString& label : *labels)
                choice.Options.push_back(label.toStdString());
        } else {
            const auto root = ImportDialog()->AskRoot(
                name, QString::fromStdString(selection.Message), found.Candidates);
            if (!root)
                return false;
            choice.Root = root->toStdString();
            choice.RootGiven = true;
        }
        if (qvr::sources::Select(paths, choice, selection))
            return true;
    }
    Message(name + QStringLiteral(" cannot be imported: ") +
            QString::fromStdString(selection.Message) + QLatin1Char('.'));
    return false;
}

bool frmMain::UnpackImport(qvr::sources::Source& source, const qvr::sources::Selection& selection,
                           const std::string& work, const QString& path, qvr::Gathered& gathered) {
    const QString name = QString::fromStdString(source.Name());
    frmSplash* splash = ProgressWindow();
    splash->SetTitle(QStringLiteral("Extracting ") + name);
    splash->CalcIncrement(int32_t(std::max<size_t>(selection.Placed.Files.size(), 1)));
    splash->ShowModeless();
    std::atomic<size_t> done{0};
    std::atomic<bool> stop{false};
    size_t shown = 0;
    qvr::Result unpacked;
    SetBusy(true);
    RunOffThread(
        [&] {
            unpacked = qvr::sources::Unpack(source, selection.Placed, work,
                                            [&](size_t d, size_t, const std::string&) {
                                                done = d;
                                                return !stop.load();
                                            });
            if (unpacked)
                qvr::GatherFolder(work, "", {}, path.toStdString(), gathered);
        },
        [&] {
            stop = m_closeRequested;
            for (; shown < done; ++shown)
                splash->IncrProgress(0);
        });
    SetBusy(false);
    if (m_closeRequested) {
        splash->hide();
        close();
        return false;
    }
    if (!unpacked) {
        splash->Finish(QStringLiteral("Nothing was imported"));
        Message(name + QStringLiteral(" cannot be imported.\n\n") +
                QString::fromStdString(unpacked.Message));
        return false;
    }
    // The files are named by their place in the archive, not in the work folder.
    const std::string prefix =
        QDir::toNativeSeparators(QString::fromStdString(work) + QLatin1Char('/')).toStdString();
    for (qvr::PackProblem& p : gathered.Problems)
        for (std::string* text : {&p.Source, &p.Message})
            for (size_t at; (at = text->find(prefix)) != std::string::npos;)
                text->replace(at, prefix.size(), source.Name() + ": ");
    for (const qvr::sources::Refusal& r : source.Refused())
        gathered.Problems.push_back({qvr::PackProblemKind::Refused, source.Name() + ": " + r.Path,
                                     source.Name() + ": " + r.Path + ": refused: " + r.Why});
    return true;
}

bool frmMain::ImportArchive(const QString& archive) {
    if (m_busy || archive.isEmpty())
        return false;
    const QString name = QFileInfo(archive).fileName();
    frmSplash* splash = ProgressWindow();
    splash->SetTitle(QStringLiteral("Reading ") + name);
    splash->CalcIncrement(1);
    splash->ShowModeless();
    qvr::sources::Opened opened;
    SetBusy(true);
    RunOffThread([&] { opened = qvr::sources::Open(archive.toStdString()); }, {});
    SetBusy(false);
    splash->hide();
    if (!opened.Outcome) {
        Message(name + QStringLiteral(" cannot be imported.\n\n") +
                QString::fromStdString(opened.Outcome.Message));
        return false;
    }
    std::vector<std::string> paths;
    for (const qvr::sources::Member& m : opened.Archive->Members())
        paths.push_back(m.Path);
    qvr::sources::Selection selection;
    if (!ChooseImport(paths, name, selection))
        return false;

    const auto chosen =
        Dialogs::instance().SaveFile(this, QStringLiteral("Create New Package"), FileFilters(1),
                                     PackageNameFor(QFileInfo(archive)));
    if (!chosen || chosen->isEmpty())
        return false;
    const QString path = PackageFileName(*chosen);
    if (QFileInfo(path).exists() && QFileInfo(path).size() > 0) {
        Message(QDir::toNativeSeparators(path) +
                QStringLiteral(" already exists. Choose a new name for the package, or open it "
                               "with Open."));
        return false;
    }
    WorkFolder work;
    if (const qvr::Result made =
            qvr::MakeWorkFolder(QFileInfo(path).absolutePath().toStdString(), "import", work.Path);
        !made) {
        Message(QDir::toNativeSeparators(path) + QStringLiteral(" cannot be written.\n\n") +
                QString::fromStdString(made.Message));
        return false;
    }
    qvr::Gathered gathered;
    if (!UnpackImport(*opened.Archive, selection, work.Path, path, gathered))
        return false;

    // Dependencies filled before the package is made, as qvr create fills them.
    const std::string title = QFileInfo(path).fileName().toStdString();
    qvr::sgPlugInfo info = StartingInfo(*opened.Archive, archive, title);
    const qvr::RequiredModules masters =
        qvr::CheckRequiredModules(qvr::MastersOfFiles(gathered.Files), info.Depends());
    if (QString::fromStdString(info.Depends()).trimmed().isEmpty())
        info.Depends(masters.Offer);
    if (!NewPackage(path, &info))
        return false;
    AddGathered(archive, std::move(gathered));
    if (!m_closeRequested && !selection.LeftOut.empty())
        Message(QStringLiteral("From ") + name + QStringLiteral(", the package holds ") +
                QString::fromStdString(selection.Message) +
                QStringLiteral(". Left out, outside it:\n\n") + Listed(selection.LeftOut));
    return true;
}

} // namespace packager
