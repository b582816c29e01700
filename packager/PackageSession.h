#pragma once
// The open package and the operations that change it, without any window: New, Open, adding
// a file, removing a subtree and writing the details. Each answers with a result whose message
// is ready for the user; the window only shows it.

#include "qvr/package/Archives.h"
#include "qvr/package/BatchAdd.h"
#include "qvr/platform/Result.h"

#include <QSet>
#include <QString>

namespace packager {

// What opening a file found.
enum class OpenStatus {
    Complete,   // a package read to its end
    Empty,      // a package with no entries at all
    Partial,    // a package whose list of files cannot be read to its end
    Zip,        // a zip file: shown, but never changed
    NotArchive, // neither
};

// Reads path into read (a fresh object) and says what it found.
OpenStatus ReadPackage(qvr::Archives& read, const std::string& path);

class PackageSession {
public:
    explicit PackageSession(qvr::Archives& arc);

    qvr::Archives& Arc() { return m_arc; }
    const qvr::Archives& Arc() const { return m_arc; }
    bool IsOpen() const { return m_open; }
    bool ReadOnly() const { return m_readOnly; } // the open file is a zip file
    // The open file's name, the title the window shows.
    QString Title() const;
    QString InfoEntryName() const;
    // The files of the package, its info entry not counted.
    qint64 FileCount() const;
    qint64 FileSize() const;

    // Makes a new package at path (".qvr" is added when it has no extension) and opens it.
    // A failure leaves the open package as it was and no half-made file behind.
    qvr::Result New(const QString& path);

    // Opens path; only a file read to its end replaces the open package. On success, notice
    // tells why the details are shown empty ("" when they were read).
    qvr::Result Open(const QString& path, QString* notice = nullptr);

    // Whether name may be added to folder ("" for the top level): EntryFailed when the name is
    // the info entry's, the folder already holds a file of that name, or the folder lies below
    // a file (no player could install it there).
    qvr::Result CanAdd(const QString& name, const QString& folder) const;
    // Compresses source into folder under name.
    qvr::Result Add(const QString& source, const QString& name, const QString& folder);
    // Adds many files at once on several threads (as the command-line tool does); progress is
    // called on this thread after each file. Files CanAdd refuses are answered as not added.
    std::vector<qvr::BatchResult> AddMany(const std::vector<qvr::BatchFile>& files,
                                          const qvr::BatchProgress& progress = {});
    // The open package's file is no longer there (moved or deleted since it was opened).
    bool Gone() const;
    // The message for a change refused because the file is gone.
    qvr::Result GoneResult() const;

    // Removes every file whose key is key or lies below it. The keys of the files that could
    // not be removed (and are still in the package) are put in kept.
    qvr::Result RemoveSubtree(const QString& key, QSet<QString>* kept = nullptr);

    // Writes info as the package's details.
    qvr::Result UpdateDetails(const qvr::sgPlugInfo& info);

private:
    void Adopt(qvr::Archives& from);

    qvr::Archives& m_arc;
    bool m_open = false;
    bool m_readOnly = false;
};

} // namespace packager
