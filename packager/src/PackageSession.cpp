#include "PackageSession.h"

#include "PackagerLogic.h"
#include "qvr/platform/FileUtils.h"

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
    const int64_t size = m_arc.CurrentArchive.empty() ? 0 : qvr::FileLength(m_arc.CurrentArchive);
    return size > 0 ? size : 0;
}

void PackageSession::Adopt(qvr::Archives& from) {
    // The whole object, so that whatever the library keeps about the file it read comes along.
    from.TempFolder = m_arc.TempFolder;
    m_arc = std::move(from);
}

qvr::Result PackageSession::New(const QString& chosen) {
    if (chosen.isEmpty())
        return Refused(QStringLiteral("No file name was given."));
    const QString path = PackageFileName(chosen);
    const std::string p = Utf8(path);
    const QString shown = Native(p);
    const bool existed = QFileInfo::exists(path);

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
    const QString title = QString::fromStdString(qvr::GetFileNameFromPath(p));
    // Last Updated in the form the library gives Date Archived, so the two look alike.
    made.PluginInfo =
        DefaultPluginInfo(title, DatePart(QString::fromStdString(qvr::FormatArchiveDate())));
    if (const qvr::Result saved = made.PluginInfo.SavePluginData(made, Utf8(title)); !saved) {
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

qvr::Result PackageSession::CanAdd(const QString& name, const QString& folder) const {
    // A second entry for one place, even in another letter case, would make later commands act
    // on the wrong one; and a file named like the info entry would be taken for it.
    if (name.toLower() == InfoEntryName().toLower())
        return Refused(name + QStringLiteral(" cannot be added: that is the name of the "
                                             "package's own information entry."));
    if (m_arc.FindEntry(Utf8(name), Utf8(folder)))
        return Refused(name + QStringLiteral(" cannot be added: ") +
                       (folder.isEmpty() ? RootKey : folder) +
                       QStringLiteral(" already holds a file of that name."));
    // Nothing goes below a file: installing it would need a folder where the file stands.
    for (QString above = folder; !above.isEmpty(); above = FolderPart(above)) {
        if (m_arc.FindEntry(Utf8(LastLevel(above)), Utf8(FolderPart(above))))
            return Refused(name + QStringLiteral(" cannot be added: ") + above +
                           QStringLiteral(" is a file, not a folder."));
    }
    return qvr::Result::Success();
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
                                                      const qvr::BatchProgress& progress) {
    std::vector<qvr::BatchResult> results(files.size());
    std::vector<qvr::BatchFile> allowed;
    std::vector<size_t> where;
    QSet<QString> taken; // keys of this batch, so that two sources for one place are refused
    for (size_t i = 0; i < files.size(); ++i) {
        results[i].File = files[i];
        const QString name = QString::fromStdString(files[i].FileName);
        const QString folder = QString::fromStdString(files[i].FilePath);
        const QString key = (folder.isEmpty() ? name : folder + QLatin1Char('\\') + name).toLower();
        qvr::Result ok = !m_open || m_readOnly
                             ? qvr::Result::Unusable("No package that takes changes is open.")
                             : CanAdd(name, folder);
        if (ok && taken.contains(key))
            ok = Refused(name + QStringLiteral(" cannot be added: another file of that name goes "
                                               "into the same folder."));
        if (!ok) {
            results[i].Message = ok.Message;
            continue;
        }
        taken.insert(key);
        allowed.push_back(files[i]);
        where.push_back(i);
    }
    if (Gone()) {
        for (size_t i : where) {
            results[i].Message = GoneResult().Message;
            results[i].ArchiveFailed = true;
        }
        return results;
    }
    size_t done = 0;
    const auto each = [&](const qvr::BatchResult& r, size_t, size_t) {
        ++done;
        if (progress)
            progress(r, done, allowed.size());
    };
    const std::vector<qvr::BatchResult> added = qvr::AddFilesToArchive(m_arc, allowed, {}, each);
    for (size_t k = 0; k < added.size() && k < where.size(); ++k)
        results[where[k]] = added[k];
    return results;
}

qvr::Result PackageSession::Add(const QString& source, const QString& name, const QString& folder) {
    if (!m_open || m_readOnly)
        return qvr::Result::Unusable("No package that takes changes is open.");
    if (qvr::Result allowed = CanAdd(name, folder); !allowed)
        return allowed;
    if (Gone())
        return GoneResult();
    const qvr::Result added = m_arc.AddFileToArchive(Utf8(source), Utf8(name), Utf8(folder));
    if (added)
        return qvr::Result::Success();
    if (Gone())
        return GoneResult();
    QString why = QString::fromStdString(added.Message);
    if (why.isEmpty())
        why = QStringLiteral("The file is empty or cannot be read.");
    return Refused(QDir::toNativeSeparators(source) +
                   QStringLiteral(" could not be added to the package.\n\n") + why);
}

qvr::Result PackageSession::RemoveSubtree(const QString& key, QSet<QString>* kept) {
    if (!m_open || m_readOnly)
        return qvr::Result::Unusable("No package that takes changes is open.");
    if (Gone())
        return GoneResult();
    const QString info = InfoEntryName().toLower();
    std::vector<std::pair<std::string, std::string>> doomed;
    for (const qvr::sgFileInfo& entry : m_arc.ArchiveFiles) {
        if (!entry.FileName().empty() &&
            QString::fromStdString(entry.FileName()).toLower() != info && InSubtree(entry, key))
            doomed.emplace_back(entry.FileName(), entry.FilePath());
    }
    QStringList failures;
    for (const auto& [name, folder] : doomed) {
        if (!m_arc.FindEntry(name, folder))
            continue;
        const qvr::Result removed = m_arc.RemoveEntry(name, folder);
        if (!removed && m_arc.FindEntry(name, folder)) {
            qvr::sgFileInfo still;
            still.FileName(name);
            still.FilePath(folder);
            const QString why = QString::fromStdString(removed.Message);
            failures << EntryKey(still) + (why.isEmpty() ? QString() : QStringLiteral(": ") + why);
            if (kept)
                kept->insert(EntryKey(still));
        }
    }
    if (failures.isEmpty())
        return qvr::Result::Success();
    return Refused(QStringLiteral("Some files could not be removed from the package and are "
                                  "still in it:\n\n") +
                   failures.join(QLatin1Char('\n')));
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
