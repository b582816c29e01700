#include "PackageSession.h"

#include "PackagerLogic.h"
#include "qvr/format/PackDates.h"
#include "qvr/platform/FileUtils.h"

#include <algorithm>

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace packager {

namespace {

QString Native(const std::string& path) {
    return QDir::toNativeSeparators(QString::fromStdString(path));
}

std::string Utf8(const QString& text) {
    return text.toStdString();
}

qvr::Result Refused(const QString& text) {
    return qvr::Result::EntryFailure(Utf8(text));
}

// Entries whose key is key or lies below it (a file node may carry a folder's contents).
bool InSubtree(const qvr::sgFileInfo& entry, const QString& key) {
    const QString folder = QString::fromStdString(entry.FilePath());
    return EntryKey(entry) == key || folder == key || folder.startsWith(key + QLatin1Char('\\'));
}

} // namespace

namespace {
OpenStatus StatusOf(qvr::OpenKind kind) {
    switch (kind) {
    case qvr::OpenKind::Complete:
        return OpenStatus::Complete;
    case qvr::OpenKind::Empty:
        return OpenStatus::Empty;
    case qvr::OpenKind::Partial:
        return OpenStatus::Partial;
    case qvr::OpenKind::Zip:
        return OpenStatus::Zip;
    case qvr::OpenKind::NotArchive:
        break;
    }
    return OpenStatus::NotArchive;
}

// Why the library could not read the file: for a damaged one, the reason it gives in brackets.
QString WhyNotRead(const qvr::OpenStatus& opened) {
    std::string why = opened.Message;
    const std::string damaged = "the archive is damaged (";
    if (const size_t at = why.find(damaged); at != std::string::npos && why.back() == ')')
        why = why.substr(at + damaged.size(), why.size() - at - damaged.size() - 1);
    return QString::fromStdString(why);
}
} // namespace

OpenStatus ReadPackage(qvr::Archives& read, const std::string& path) {
    return StatusOf(read.Open(path).Kind);
}

PackageSession::PackageSession(qvr::Archives& arc) : m_arc(arc) {
    if (m_arc.TempFolder.empty())
        m_arc.TempFolder = qvr::GetTempFolder();
}

QString PackageSession::Title() const {
    return QString::fromStdString(qvr::GetFileNameFromPath(m_arc.CurrentArchive));
}

QString PackageSession::InfoEntryName() const {
    return QString::fromStdString(m_arc.InfoEntryName());
}

qint64 PackageSession::FileCount() const {
    const QString info = InfoEntryName().toLower();
    qint64 files = 0;
    for (const qvr::sgFileInfo& entry : m_arc.ArchiveFiles) {
        const QString name = QString::fromStdString(entry.FileName());
        if (!name.isEmpty() && name.toLower() != info)
            ++files;
    }
    return files;
}

qint64 PackageSession::FileSize() const {
    return qvr::FileLength(m_arc.CurrentArchive).value_or(0);
}

void PackageSession::Adopt(qvr::Archives& from) {
    // The whole object, so that whatever the library keeps about the file it read comes along.
    from.TempFolder = m_arc.TempFolder;
    m_arc = std::move(from);
}

qvr::Result PackageSession::New(const QString& chosen, const qvr::sgPlugInfo* info) {
    if (chosen.isEmpty())
        return Refused(QStringLiteral("No file name was given."));
    const QString path = PackageFileName(chosen);
    const std::string p = Utf8(path);
    const QString shown = Native(p);
    const bool existed = QFileInfo::exists(path);

    if (const std::string why = qvr::InfoEntryNameProblem(qvr::GetFileNameFromPath(p));
        !why.empty())
        return Refused(shown + QStringLiteral(" cannot be a package's name: ") +
                       QString::fromStdString(why) + QLatin1Char('.'));
    qvr::PackDates dates;
    if (const qvr::Result taken = qvr::CurrentPackDates(dates); !taken)
        return Refused(shown + QStringLiteral(" cannot be made a package.\n\n") +
                       QString::fromStdString(taken.Message));
    // Built aside and taken over only when complete.
    qvr::Archives made;
    made.TempFolder = m_arc.TempFolder;
    if (const qvr::Result created = made.CreateArchive(p); !created) {
        if (qvr::FileExists(p))
            return Refused(shown + QStringLiteral(" already exists. Choose a new name for the "
                                                  "package, or open it with Open."));
        return Refused(shown + QStringLiteral(" cannot be created.\n\n") +
                       QString::fromStdString(created.Message));
    }
    const std::string title = qvr::GetFileNameFromPath(p);
    if (const qvr::Result saved =
            qvr::StartPackage(made, title, info ? *info : qvr::NewPackageInfo(title, dates), dates);
        !saved) {
        const QString why = QString::fromStdString(saved.Message);
        if (existed)
            QFile::resize(path, 0);
        else
            QFile::remove(path);
        return Refused(shown + QStringLiteral(" cannot be made a package.\n\n") + why);
    }
    Adopt(made);
    m_open = true;
    m_readOnly = false;
    return qvr::Result::Success();
}

qvr::Result PackageSession::Open(const QString& path, QString* notice) {
    if (notice)
        notice->clear();
    if (path.isEmpty())
        return Refused(QStringLiteral("No file name was given."));
    const std::string p = Utf8(path);
    const QString shown = Native(p);
    const QString cannot = shown + QStringLiteral(" cannot be opened.\n\n");

    qvr::Archives read;
    read.TempFolder = m_arc.TempFolder;
    const qvr::OpenStatus opened = read.Open(p);
    const OpenStatus status = StatusOf(opened.Kind);
    if (status == OpenStatus::Partial)
        return qvr::Result::Unusable(
            Utf8(cannot + QStringLiteral("It is damaged: its list of files is cut short or "
                                         "garbled, so not every file in it can be found.")));
    if (status == OpenStatus::NotArchive) {
        if (!QFileInfo::exists(path))
            return qvr::Result::Unusable(Utf8(cannot + QStringLiteral("There is no such file.")));
        QString why = WhyNotRead(opened);
        if (why.isEmpty())
            why = QStringLiteral("It is neither a QVR package nor a zip file.");
        return qvr::Result::Unusable(Utf8(cannot + why));
    }

    const bool zip = status == OpenStatus::Zip;
    const QString title = QString::fromStdString(qvr::GetFileNameFromPath(p));
    QString infoProblem;
    QStringList below;
    if (!zip) {
        if (const auto conflict =
                FindTreeConflict(read.ArchiveFiles, QString::fromStdString(read.InfoEntryName())))
            return qvr::Result::Unusable(Utf8(cannot + *conflict));
        below = FilesBelowFiles(read.ArchiveFiles);
        if (const qvr::Result got = read.PluginInfo.GetPluginData(read, Utf8(title)); !got) {
            read.PluginInfo = qvr::sgPlugInfo();
            infoProblem = QString::fromStdString(got.Message);
        }
    }
    Adopt(read);
    m_open = true;
    m_readOnly = zip;
    if (!notice || zip)
        return qvr::Result::Success();
    QStringList notes;
    if (!infoProblem.isEmpty() || !m_arc.FindEntry(Utf8(InfoEntryName()), std::string())) {
        const QString problem = QString::fromStdString(m_arc.InfoEntryProblem());
        QString why;
        if (!problem.isEmpty())
            why = QString::fromStdString(m_arc.InfoEntryProblem()) + QLatin1Char('.');
        else if (m_arc.FindEntry(Utf8(InfoEntryName()), std::string()))
            why = QStringLiteral("The plug-in details in ") + shown +
                  QStringLiteral(" cannot be read: ") + infoProblem;
        else
            why = shown + QStringLiteral(" holds no plug-in details.");
        notes << why + QStringLiteral("\n\nThe details are shown empty; Update Details writes "
                                      "new ones.");
    }
    if (!below.isEmpty())
        notes << shown +
                     QStringLiteral(" holds files below another file, where no player can "
                                    "install them:\n\n") +
                     below.join(QLatin1Char('\n')) +
                     QStringLiteral("\n\nRemove them and add them again into a folder.");
    *notice = notes.join(QStringLiteral("\n\n"));
    return qvr::Result::Success();
}

qvr::CheckedFiles PackageSession::CheckAdd(const std::vector<qvr::BatchFile>& files,
                                           bool allowReplace,
                                           std::vector<qvr::PackProblem>& problems) const {
    if (m_open && !m_readOnly)
        return qvr::CheckFiles(m_arc, Utf8(InfoEntryName()), files, allowReplace, problems);
    for (const qvr::BatchFile& f : files)
        problems.push_back({qvr::PackProblemKind::Refused, f.Source,
                            f.Source + ": not added: no package that takes changes is open"});
    return {};
}

qvr::Result PackageSession::CanAdd(const QString& name, const QString& folder) const {
    std::vector<qvr::PackProblem> problems;
    CheckAdd({{std::string(), Utf8(name), Utf8(folder)}}, false, problems);
    if (problems.empty())
        return qvr::Result::Success();
    // Without a source, the message starts with the ": " that would follow it.
    return Refused(name + QString::fromStdString(problems.front().Message));
}

bool PackageSession::Gone() const {
    return m_open && !m_arc.CurrentArchive.empty() &&
           !QFileInfo::exists(QString::fromStdString(m_arc.CurrentArchive));
}

qvr::Result PackageSession::GoneResult() const {
    return qvr::Result::Unusable(Utf8(Native(m_arc.CurrentArchive) +
                                      QStringLiteral(" is gone: it was moved or deleted since "
                                                     "it was opened. Open it where it is now.")));
}

std::vector<qvr::BatchResult> PackageSession::AddMany(const std::vector<qvr::BatchFile>& files,
                                                      const std::vector<bool>& replaces,
                                                      const qvr::BatchProgress& progress) {
    std::vector<qvr::BatchResult> results(files.size());
    if (!m_open || m_readOnly || Gone()) {
        const std::string why =
            Gone() ? GoneResult().Message : std::string("No package that takes changes is open.");
        for (size_t i = 0; i < files.size(); ++i)
            results[i] = {files[i], false, why, true, 0};
        return results;
    }
    qvr::PackDates dates;
    if (const qvr::Result taken = qvr::CurrentPackDates(dates); !taken) {
        for (size_t i = 0; i < files.size(); ++i)
            results[i] = {files[i], false, taken.Message, true, 0};
        return results;
    }
    qvr::BatchOptions options;
    options.ArchiveDate = dates.ArchiveDate;
    if (std::find(replaces.begin(), replaces.end(), true) == replaces.end())
        return qvr::AddFilesToArchive(m_arc, files, options, progress);
    const qvr::Result dropped =
        qvr::ReplaceFilesInArchive(m_arc, files, results, options, progress);
    if (!dropped) {
        for (size_t i = 0; i < results.size() && i < replaces.size(); ++i) {
            if (results[i].Added && replaces[i]) {
                results[i].Added = false;
                results[i].Message = files[i].Source +
                                     ": was added, but the file it replaces could not be "
                                     "taken out: " +
                                     dropped.Message;
            }
        }
    }
    return results;
}

qvr::Result PackageSession::Add(const QString& source, const QString& name, const QString& folder) {
    if (!m_open || m_readOnly)
        return qvr::Result::Unusable("No package that takes changes is open.");
    if (qvr::Result allowed = CanAdd(name, folder); !allowed)
        return allowed;
    if (Gone())
        return GoneResult();
    const std::vector<qvr::BatchResult> added =
        AddMany({{Utf8(source), Utf8(name), Utf8(folder)}}, {false});
    if (!added.empty() && added[0].Added)
        return qvr::Result::Success();
    if (Gone())
        return GoneResult();
    QString why = added.empty() ? QString() : QString::fromStdString(added[0].Message);
    if (why.isEmpty())
        why = QStringLiteral("The file is empty or cannot be read.");
    return Refused(QDir::toNativeSeparators(source) +
                   QStringLiteral(" could not be added to the package.\n\n") + why);
}

qvr::Result PackageSession::RemoveSubtree(const QString& key, QSet<QString>* kept,
                                          const qvr::StepProgress& progress) {
    if (!m_open || m_readOnly)
        return qvr::Result::Unusable("No package that takes changes is open.");
    if (Gone())
        return GoneResult();
    const QString info = InfoEntryName().toLower();
    std::vector<size_t> doomed;
    for (size_t i = 0; i < m_arc.ArchiveFiles.size(); ++i) {
        const qvr::sgFileInfo& entry = m_arc.ArchiveFiles[i];
        if (!entry.FileName().empty() &&
            QString::fromStdString(entry.FileName()).toLower() != info && InSubtree(entry, key))
            doomed.push_back(i);
    }
    if (doomed.empty())
        return qvr::Result::Success();
    // One rebuild for the whole subtree: all of it goes, or none of it.
    QStringList keys;
    for (size_t i : doomed)
        keys << EntryKey(m_arc.ArchiveFiles[i]);
    const qvr::Result removed = m_arc.RemoveEntries(doomed, progress);
    if (removed)
        return qvr::Result::Success();
    if (kept)
        for (const QString& k : keys)
            kept->insert(k);
    const QString why = QString::fromStdString(removed.Message);
    return Refused(QStringLiteral("The files could not be removed from the package and are "
                                  "still in it") +
                   (why.isEmpty() ? QStringLiteral(".") : QStringLiteral(": ") + why) +
                   QStringLiteral("\n\n") + keys.join(QLatin1Char('\n')));
}

qvr::Result PackageSession::UpdateDetails(const qvr::sgPlugInfo& info) {
    if (!m_open || m_readOnly)
        return qvr::Result::Unusable("No package that takes changes is open.");
    if (Gone())
        return GoneResult();
    m_arc.PluginInfo = info;
    const qvr::Result updated =
        m_arc.PluginInfo.UpdatePluginData(m_arc, qvr::GetFileNameFromPath(m_arc.CurrentArchive));
    if (updated)
        return qvr::Result::Success();
    return qvr::Result::EntryFailure(Utf8(QStringLiteral("The details could not be written into ") +
                                          Native(m_arc.CurrentArchive) +
                                          QStringLiteral("; it keeps its earlier details.\n\n") +
                                          QString::fromStdString(updated.Message)));
}

} // namespace packager
