#pragma once
// Reversible installs: an install that records what it wrote and keeps the files it replaced,
// and removal that takes back only that. Removing plug-ins in any order leaves the data folder
// as if the others alone had been installed, in their order, onto the original folder.
// Interrupted work (a crash, a kill, a full disk) is finished by the next call on the same
// data folder: each operation writes its intent before it moves a file and commits last.

#include "qvr/install/Install.h"
#include "qvr/install/InstallRecord.h"
#include "qvr/platform/Result.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qvr {

enum class FileFate {
    Removed,  // deleted: it was the plug-in's own and nothing lay below it
    Restored, // the file it had replaced is back in place
    Kept,     // changed since, or covered by a plug-in installed later; Message says which
    Absent,   // gone already, nothing to put back
    Failed,   // could not be handled; Message says why
};

struct FileResult {
    std::string Path; // below the data folder, levels joined by "\"
    FileFate Fate = FileFate::Kept;
    std::string Message;  // for Kept and Failed, and where a kept copy stays behind
    bool Covered = false; // Kept: a plug-in installed later lies over it
};

// Called after each file of a removal; answers whether to go on.
using FileProgress = std::function<bool(const FileResult& result, size_t done, size_t count)>;

struct RemovalReport {
    Result Outcome;
    std::string Plugin; // the plug-in's name (its archive's name when it has none)
    bool ByRecord = false;
    std::vector<FileResult> Files;
    // Installs that had been cut short (a crash, a kill), taken back before this run began:
    // they are not installed any more, which their players should hear.
    std::vector<std::string> TakenBack;
    // Updates that had been cut short, taken back: the version installed before stays.
    std::vector<std::string> UpdatesTakenBack;
    size_t Count(FileFate fate) const;
};

struct InstallReport {
    Result Outcome;
    std::vector<EntryResult> Entries; // one per entry of ArchiveFiles, in order
    // The earlier install taken back first: of the same archive, or of another one with the
    // same plug-in name when the question allowed it.
    std::optional<RemovalReport> Earlier;
    bool Cancelled = false; // progress answered false: the install was rolled back whole
    std::vector<std::string> TakenBack, UpdatesTakenBack; // as in RemovalReport
    // Of the Failed entries, those written and then taken back with the whole install (a
    // configuration file that could not be written, a cancel): no fault of their own.
    size_t WrittenThenTakenBack = 0;
};

// Asked before the install of another archive that holds the same plug-in (or has the same
// file name) is taken back: true to take it back first, false to keep it and install this one
// beside it under a record of its own. An empty function keeps it.
using TakeBackQuestion = std::function<bool(const InstallRecord& earlier)>;

// Installs every entry of arc like InstallArchive and records it in dataFolder, through the
// install engine (Engine.h). The install of the same archive (its file name and plug-in name)
// is taken back first, without a question, and the files it had replaced are replaced again
// without asking. Every question is asked before the first file is moved. When progress answers
// false the install is cancelled and rolled back whole. threads: no longer used (the archive's
// source chooses its own). Archives whose names give one record key get records of their own.
InstallReport InstallRecorded(Archives& arc, const std::string& dataFolder,
                              const OverwriteQuestion& ask, const EntryProgress& progress = {},
                              unsigned threads = 0, const TakeBackQuestion& takeBack = {});

// What RemoveByRecord would do, without changing anything. what: the record key, the
// archive's file name or the plug-in's name.
RemovalReport PlanRemoval(const std::string& dataFolder, const std::string& what);
RemovalReport RemoveByRecord(const std::string& dataFolder, const std::string& what,
                             const FileProgress& progress = {});
// The record of arc's install in dataFolder: made from an archive of the same file name, else
// from a renamed copy of it (the same plug-in name, and every file it recorded an entry of arc).
std::optional<InstallRecord> FindRecordOf(const Archives& arc, const std::string& dataFolder);
// By record when the open archive (or a renamed copy of it) has one in dataFolder, otherwise by
// content: a file is deleted only when it holds exactly the archive's member and no record
// keeps a file it replaced there.
RemovalReport RemovePlugin(Archives& arc, const std::string& dataFolder,
                           const FileProgress& progress = {});

// Finishes interrupted removals and undoes interrupted installs, except those of ownKey (the
// record key of the operation about to run, which finishes its own), under the target's lock.
// Every operation above calls it first.
Result CompletePendingWork(const std::string& dataFolder, const std::string& ownKey = {});

} // namespace qvr
