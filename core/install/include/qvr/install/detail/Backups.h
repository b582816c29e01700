#pragma once
// Where the reversible install keeps things below the record folder, and the removal engine
// the install shares with the removal commands.

#include "qvr/install/InstallRecord.h"
#include "qvr/install/RecordedInstall.h"

#include <filesystem>
#include <string>
#include <vector>

namespace qvr {
class ConfigEditor;
}

namespace qvr::detail {

// False, saying why, when the record folder or its backups are anything but plain folders
// (a link, a file): nothing is then written or removed through them.
bool RecordFolderIsSound(const std::string& dataFolder, std::string& why);
// A recorded path ("Meshes\x.nif") below base, as a native path.
std::filesystem::path Below(const std::filesystem::path& base, const std::string& recorded);
std::filesystem::path DataPath(const std::string& dataFolder, const std::string& recorded);
std::filesystem::path BackupsFolder(const std::string& dataFolder);
// "<sequence>\<path>": a backup's name below the backups folder, as LaterCopy holds it.
std::string BackupName(int64_t sequence, const std::string& recorded);
std::filesystem::path BackupPath(const std::string& dataFolder, int64_t sequence,
                                 const std::string& recorded);
// Higher than every sequence in use by a record or a backup folder.
int64_t NextSequence(const std::string& dataFolder, const std::vector<InstallRecord>& records);
std::string NowUtc();
// Deletes work files that an interrupted extraction left in folder.
void DeleteStrayWorkFiles(const std::filesystem::path& folder);
// Every empty folder inside root, deepest first, then root itself; a link is never followed
// nor removed.
void RemoveEmptyTree(const std::filesystem::path& root);
// Removes the folders record's install made, deepest first, each only while empty; answers
// them in that order.
std::vector<std::string> RemoveFoldersMade(const std::string& dataFolder,
                                           const InstallRecord& record);

// Removes record from dataFolder (its plan written first unless it has one), others being
// every record of dataFolder; its configuration edits are taken back (by editor) before any
// file, but for lines another install holds too. With dryRun, only plans and describes. With
// successor (the committed install that takes this one's place: its Earlier), a successor of
// the same archive gets the record's name in the rename that commits the removal.
RemovalReport RunRemoval(const std::string& dataFolder, InstallRecord record,
                         const std::vector<InstallRecord>& others, const FileProgress& progress,
                         bool dryRun, const ConfigEditor* editor = nullptr,
                         const InstallRecord* successor = nullptr);
// Removes the empty folders of the backups, and the backups folder when it is empty.
void RemoveEmptyBackups(const std::string& dataFolder);

} // namespace qvr::detail
