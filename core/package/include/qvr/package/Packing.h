#pragma once
// Packing files and folders: what a folder on disk becomes in a package, which files a package
// may take, and how a new package starts. `qvr create`/`add` and QVRPackager all pack through
// these, so one folder gives one package whichever program packs it.

#include "qvr/format/PackDates.h"
#include "qvr/package/Archives.h"
#include "qvr/package/BatchAdd.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/Result.h"

#include <optional>

#include <string>
#include <vector>

namespace qvr {

struct PackOptions {
    // Follow links whose target lies outside the folder being packed (else they are refused).
    // Links to places inside it are always followed; a link back to a folder above itself is not.
    bool FollowLinks = false;
    // A file written while the folder is packed (standard output sent into it): left out
    // silently, as the archive being written is.
    std::optional<FileIdentity> LeaveOut;
};

enum class PackProblemKind {
    Unreadable,  // a file or folder that could not be read: the package would lack it
    LinkOutside, // a link to a place outside the folder being packed, not followed
    LeftOut,     // not a regular file, or a link back to a folder above it
    Refused,     // a name or place the package may not take
};

struct PackProblem {
    PackProblemKind Kind = PackProblemKind::Refused;
    std::string Source;  // the file or folder on disk it is about
    std::string Message; // one line: the source, then why
};

struct Gathered {
    std::vector<BatchFile> Files; // in the package's order
    std::vector<PackProblem> Problems;
    bool Has(PackProblemKind kind) const;
};

// Gathers every file below folder as an entry below packageFolder ("" for the top level),
// appending to out. Within one call the files are sorted by folder, then by name (ignoring
// letter case first), so the package does not depend on how the disk lists them. Folders with
// one of the programs' own names are refused whole; skip (the archive being written, if any)
// is left out silently.
void GatherFolder(const std::string& folder, const std::string& packageFolder,
                  const PackOptions& options, const std::string& skip, Gathered& out);

struct CheckedFiles {
    std::vector<BatchFile> Files; // the files that may go in, in the order given
    std::vector<bool> Replaces;   // for each of Files: the package holds its place already
};

// Which of files may go into the package arc holds (its information entry named infoEntry):
// names a package can store and a player's disk can hold (see IsSafeEntryPath; Windows-1252,
// at most 254 bytes), none of the programs' own names, not the information entry (nor, at the
// top, any name readers could take for it: "*.qvr.ifo", or the package's file name + ".ifo"),
// one file per place (letter case ignored), never a file below a file nor where a folder is. A
// place the package already holds is refused, or with allowReplace taken and marked in Replaces.
// Each file refused is named in problems.
CheckedFiles CheckFiles(const Archives& arc, const std::string& infoEntry,
                        const std::vector<BatchFile>& files, bool allowReplace,
                        std::vector<PackProblem>& problems);

// Why archiveFileName cannot name a package ("" when it can): its information entry is that
// name followed by ".ifo", which must be Windows-1252 of at most 254 bytes.
std::string InfoEntryNameProblem(const std::string& archiveFileName);

// The details of a new package saved as archiveFileName.
sgPlugInfo NewPackageInfo(const std::string& archiveFileName, const PackDates& dates);

// Stores info as the information entry of arc, a package just created and still empty, named
// archiveFileName; with pinned dates its file date and date archived are theirs.
Result StartPackage(Archives& arc, const std::string& archiveFileName, const sgPlugInfo& info,
                    const PackDates& dates, const BatchOptions& options = {});

} // namespace qvr
