#pragma once
// What an install wrote into a data folder, kept beside it so that removal can take back
// exactly that. One plain-text file per plug-in in the hidden folder ".qvr-installed" of the
// data folder; the files an install replaced wait in ".qvr-installed/backups/<sequence>/".

#include "qvr/format/PathRules.h"
#include "qvr/platform/Result.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qvr {

struct RecordedFile {
    std::string Path;      // below the data folder as on disk, levels joined by "\"
    int64_t Size = 0;      // bytes written
    uint32_t Crc = 0;      // zlib crc32 of the bytes written
    bool Known = false;    // Size and Crc taken (false while the install is under way)
    bool Replaced = false; // an existing file was moved to the backups before this one
    // The replaced file as it was moved to the backups, so that a restore puts back only
    // that (records of older versions do not have it).
    bool BackupKnown = false;
    int64_t BackupSize = 0;
    uint32_t BackupCrc = 0;
};

// One step of a removal, written before any file is touched so that a run after a crash
// does the same.
struct RemovalStep {
    enum class Action {
        Delete,  // the file is the plug-in's own and nothing lies below it: delete it
        Restore, // put the kept file back in place of the plug-in's own (or where it was)
        PassOn,  // a later plug-in covers the file: its backup becomes the kept file below
        Drop,    // a later plug-in covers the file and nothing lay below: delete its backup
        Keep,    // changed since: stays, and so does the kept file below it (reported)
        Missing, // gone already, with nothing to put back
    };
    Action What = Action::Keep;
    std::string Path;      // as in RecordedFile
    std::string LaterCopy; // PassOn and Drop: the later plug-in's backup, below the backups
};

enum class RecordState { Installing, Installed, Removing };

// Lines an install adds to (or takes out of) a configuration file, recorded with its files so
// that an interrupted install or removal takes them back too.
struct ConfigEdit {
    std::string Kind;                // which file it is, for its editor: "openmw.cfg"
    std::string File;                // native path as UTF-8 text
    std::vector<std::string> Add;    // "key=value" lines the install added
    std::vector<std::string> Remove; // lines it took out
    bool operator==(const ConfigEdit&) const = default;
};

struct InstallRecord {
    std::string Key;     // the record file's name without ".ini", from the archive's name
    std::string Archive; // the archive's file name
    std::string Name, Version;
    std::string Date; // when, UTC, "2026-12-07 13:50:00"
    int64_t Sequence = 0;
    RecordState State = RecordState::Installed;
    // While its files may still be only in the system's memory: the run of the system
    // (BootId) that wrote them. Empty once they are known to be on the disk.
    std::string WrittenInBoot;
    // With it, when its record was committed (StatusClockNow): a file whose status has not
    // changed since is as the install left it. Kept in the record, not taken from the record
    // file's own times, which a copy of the folder renews in no particular order.
    int64_t WrittenAt = 0;
    // The install this one takes the place of (its sequence): the same archive's earlier
    // version stays installed below this one until this one is committed, then is removed.
    int64_t Earlier = 0;
    std::vector<std::string> Folders; // created by the install, as Paths
    // Links to folders (the player's own, e.g. Textures on another disk) the install wrote
    // through, as Paths; removal goes through no other link.
    std::vector<std::string> Links;
    std::vector<RecordedFile> Files;
    std::vector<ConfigEdit> Edits; // applied after the files, taken back before them
    std::vector<RemovalStep> Plan; // while Removing
    // What of an archive was installed, for people: the folder taken as the data root (levels
    // joined by '/', "" for the top), and the numbered options chosen ("00 Core").
    std::optional<std::string> Root;
    std::vector<std::string> Options;
};

// dataFolder's record folder, native path as UTF-8 text.
std::string RecordFolder(const std::string& dataFolder);
// The file that holds the record of this key in dataFolder, native path as UTF-8 text.
std::string RecordFile(const std::string& dataFolder, const std::string& key);
// The record key of an archive file name: lower case, made a plain file name (MakePlainName)
// of bounded length. Two names can give one key; InstallRecorded tells such installs apart.
std::string RecordKey(const std::string& archiveFileName);

// Every readable record of dataFolder, oldest install first. Records that cannot be read are
// named in problems (when given) and left alone. complete (when given) is false when the record
// folder could not be listed whole or a record file could not be read from the disk.
std::vector<InstallRecord> ListInstallRecords(const std::string& dataFolder,
                                              std::vector<std::string>* problems = nullptr,
                                              bool* complete = nullptr);
// Whether record was made from an archive of this file name, exactly (as a record holds a
// name: line breaks as blanks).
bool IsRecordOf(const InstallRecord& record, const std::string& archiveFileName);
// The record whose key, archive name or plug-in name equals what (ignoring letter case), of
// those keep takes (every one without it).
std::optional<InstallRecord>
FindInstallRecord(const std::string& dataFolder, const std::string& what,
                  const std::function<bool(const InstallRecord&)>& keep = {});

// The text form and back; ParseInstallRecord answers why in Result when it fails. A record is
// read as a stranger's text: one whose paths break the rules an archive's entries keep
// (IsSafeRelativePath) is refused whole.
std::string FormatInstallRecord(const InstallRecord& record);
Result ParseInstallRecord(const std::string& text, InstallRecord& record);

} // namespace qvr
