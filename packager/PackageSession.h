#pragma once
// The open package and the operations that change it, without any window: New, Open, adding
// a file, removing a subtree and writing the details. Each answers with a result whose message
// is ready for the user; the window only shows it.

#include "qvr/package/Archives.h"
#include "qvr/package/BatchAdd.h"
#include "qvr/package/Packing.h"
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

    // Makes a new package at path (".qvr" is added when it has no extension) and opens it,
    // with info as its details (by default, those of a new package). A failure leaves the open
    // package as it was and no half-made file behind.
    qvr::Result New(const QString& path, const qvr::sgPlugInfo* info = nullptr);

    // Opens path; only a file read to its end replaces the open package. On success, notice
    // tells why the details are shown empty ("" when they were read).
    qvr::Result Open(const QString& path, QString* notice = nullptr);

    // Whether name may be added to folder ("" for the top level): EntryFailed when the name is
    // the info entry's, the folder already holds a file of that name, or the folder lies below
    // a file (no player could install it there).
    qvr::Result CanAdd(const QString& name, const QString& folder) const;
    // The files of a batch that may go in, by the packing rules every program shares (see
    // qvr::CheckFiles): with allowReplace a place the package holds is taken and marked.
    // The files refused are named in problems.
    qvr::CheckedFiles CheckAdd(const std::vector<qvr::BatchFile>& files, bool allowReplace,
                               std::vector<qvr::PackProblem>& problems) const;
    // Compresses source into folder under name.
    qvr::Result Add(const QString& source, const QString& name, const QString& folder);
    // Adds files as CheckAdd answered them, on several threads; those marked in replaces take
    // the place of the entries they replace. progress is called on the calling thread after
    // each file. The window runs it on a thread of its own and leaves the session alone
    // meanwhile.
    std::vector<qvr::BatchResult> AddMany(const std::vector<qvr::BatchFile>& files,
                                          const std::vector<bool>& replaces,
                                          const qvr::BatchProgress& progress = {});
    // The open package's file is no longer there (moved or deleted since it was opened).
    bool Gone() const;
    // The message for a change refused because the file is gone.
    qvr::Result GoneResult() const;

    // Removes every file whose key is key or lies below it, in one rebuild of the package. The
    // keys of the files that could not be removed (and are still in the package) are put in
    // kept. progress is called before each step of the rebuild.
    qvr::Result RemoveSubtree(const QString& key, QSet<QString>* kept = nullptr,
                              const qvr::StepProgress& progress = {});

    // Writes info as the package's details.
    qvr::Result UpdateDetails(const qvr::sgPlugInfo& info);

private:
    void Adopt(qvr::Archives& from);

    qvr::Archives& m_arc;
    bool m_open = false;
    bool m_readOnly = false;
};

} // namespace packager
