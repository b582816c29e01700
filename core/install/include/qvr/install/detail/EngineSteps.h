#pragma once
// The steps of the install engine, for its own sources.

#include "qvr/install/Engine.h"
#include "qvr/platform/FolderLock.h"

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace qvr::detail {

struct Planned {
    size_t Entry = 0;   // index into the entry list
    std::string Target; // as FromNative gives it
    std::string Path;   // as recorded
    bool Replaced = false;
    RecordedFile Backup; // BackupKnown, BackupSize, BackupCrc of the file it replaces
};

// Works out what the install will do, asking every question first; results gets one outcome
// per entry (Skipped, Refused or Failed for those not planned).
std::vector<Planned> MakePlan(const std::vector<sgFileInfo>& entries, const std::string& root,
                              const OverwriteQuestion& ask,
                              const std::set<std::string>& replaceUnasked, InstallRecord& record,
                              std::vector<EntryResult>& results);
// Moves each file the plan replaces to the backups of sequence.
void MoveOriginals(const std::string& root, int64_t sequence, const std::vector<Planned>& plan);
// Extracts the planned files into place, each under its own name (the intent names it); a
// file that fails gets back the one it was to replace. Answers the files written; cancelled
// is set when progress answered false (told: calls made to progress so far).
std::vector<RecordedFile> WriteMembers(sources::Source& source,
                                       const std::vector<sources::Placed>& files,
                                       const std::vector<Planned>& plan, const std::string& root,
                                       int64_t sequence, std::vector<EntryResult>& results,
                                       const PlacedProgress& progress, size_t told,
                                       bool& cancelled);

// Whether r was made from the archive archiveName holding plugin.
bool SameArchive(const InstallRecord& r, const std::string& archiveName, const std::string& plugin);
// The earlier install to take back first: that of the same archive without a question; one of
// another archive with the same plug-in (or archive) name only when takeBack answers yes.
const InstallRecord* EarlierInstall(const std::vector<InstallRecord>& records,
                                    const std::string& archiveName, const std::string& plugin,
                                    const TakeBackQuestion& takeBack, bool& same);
// The key of base, or base with " (2)", " (3)"... when another record holds it, or a record file
// of that name lies in root's record folder (one that cannot be read is never written over).
std::string FreeKey(const std::string& root, const std::string& base,
                    const std::vector<InstallRecord>& records);
// Every record of root, oldest first; throws when the record folder cannot be listed whole: the
// engine never takes part of the list for all of it.
std::vector<InstallRecord> ReadRecords(const std::string& root);

// The kind of an edit of r that editor does not make ("openmw.cfg"): r is the other game
// engine's, made in a folder given to both. "" when r is editor's (or edits nothing).
std::string ForeignKind(const InstallRecord& r, const ConfigEditor* editor);

// Locks target's folders (those that exist), Root first.
Result LockTarget(const InstallTarget& target, std::vector<FolderLock>& held);
// CompletePendingWork without taking the lock, except the run of ownKey.
Result Recover(const InstallTarget& target, const std::string& ownKey,
               std::vector<std::string>* takenBack = nullptr,
               std::vector<std::string>* updatesTakenBack = nullptr);
// Puts the files of record's install on the disk, the player's folders it wrote through on other
// disks included.
void FlushTarget(const std::string& root, const InstallRecord& record);
// Installs whose files were left for the kernel to write (WrittenInBoot): written in this run of
// the system, they are flushed and their records say so; in an earlier one, whose end may have
// lost what was not yet written, their files are checked, and an install that lost bytes of any
// is taken back as one cut short (named in takenBack). records: target's, as on the disk, oldest
// first.
Result ConfirmWritten(const InstallTarget& target, std::vector<InstallRecord> records,
                      std::vector<std::string>* takenBack);
// Removes the record folder when no record is left in it (empty backup folders included).
void SweepRecordFolder(const std::string& root);

} // namespace qvr::detail
