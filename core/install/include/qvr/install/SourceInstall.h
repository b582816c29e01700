#pragma once
// Installing from the archives players download (zip, 7z, rar, tar, and packages whose files
// sit below a wrapper folder): what of the archive is taken, its data root or numbered options,
// and the engine's request that puts it in place and records the choice.

#include "qvr/install/Engine.h"
#include "qvr/install/InstallRecord.h"
#include "qvr/platform/Result.h"
#include "qvr/sources/Layout.h"
#include "qvr/sources/Source.h"
#include "qvr/sources/Unpack.h"

#include <optional>
#include <string>
#include <vector>

namespace qvr {

struct SourcePlan {
    sources::Selection Selection; // what is placed into one data folder, and why
    // The data root taken when no options are (levels joined by '/', "" for the top).
    std::optional<std::string> Root;
    std::vector<sources::Option> Options; // chosen, in number order
    // The plug-in's details where the archive has them (a package's information); else the
    // name comes from the archive's file name.
    std::string Name, Version;
};

// The plug-in's name an archive's file name gives when nothing else does: the file name
// without its extensions ("Better Rocks-1234-1-0.tar.gz" gives "Better Rocks-1234-1-0").
std::string NameFromArchive(const std::string& archivePath);

// Applies choice to source's members: the root given, the options named, or else what the
// layout finds. Numbered options: the lowest-numbered one and those named (lowestToo), or
// exactly those named (a player who saw them all and chose). Fails as Select does
// (Selection.NeedsChoice when the layout leaves a choice only the player can make).
[[nodiscard]] Result PlanSource(const sources::Source& source, const sources::Choice& choice,
                                SourcePlan& out, bool lowestToo = true);

// The engine's request for plan into one data folder: the placed members, the archive's file
// name, the plug-in's name (plan's, else from the file name) and the choice for the record. The
// caller adds the questions, progress and configuration edits.
InstallRequest SourceRequest(sources::Source& source, const SourcePlan& plan);

// The same members, each chosen option in a folder of its own named after it, in number
// order, and the data beside the options in "Base" ahead of them; without options one folder,
// "". Targets are below those folders; folders gets their names in that order.
std::vector<sources::Placed> PlaceInFolders(const sources::Source& source, const SourcePlan& plan,
                                            std::vector<std::string>& folders);

// The install of source recorded in dataFolder, found by the archive's file name. Installs of
// several archives of that name are recorded each on its own: then the one whose every file is
// a member of source (its path below a folder of the archive, its size and, where the archive
// keeps one, its checksum), the latest when several are; when none is, Keys names their
// records and Record is empty.
struct SourceRecord {
    std::optional<InstallRecord> Record;
    std::vector<std::string> Keys;
};
SourceRecord FindSourceRecord(const sources::Source& source, const std::string& dataFolder);

} // namespace qvr
