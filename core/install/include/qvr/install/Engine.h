#pragma once
// The one install engine: every install and removal, on every target (the game's data folder,
// OpenMW's mods folder with openmw.cfg), runs here as a transaction. The target is locked for
// the whole of it (one program at a time); the intent (files to write and replace, folders to
// make, configuration lines to add or take out) is on the disk before the first change; the
// files are flushed before the record says installed; and whatever a kill, a failure or a
// cancel leaves is completed or rolled back by the next command of either program on that
// target, configuration lines included.

#include "qvr/install/Install.h"
#include "qvr/install/InstallRecord.h"
#include "qvr/install/RecordedInstall.h"
#include "qvr/platform/Result.h"
#include "qvr/sources/Layout.h"
#include "qvr/sources/Source.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qvr {

// A target's configuration edits (ConfigEdit, in InstallRecord.h) are made by the layer that
// knows the file. Both directions must be safe to repeat: after a crash the next run applies
// or undoes again whatever was done already.
class ConfigEditor {
public:
    virtual ~ConfigEditor() = default;
    // Adds edit.Add and takes out edit.Remove; with undo, takes out edit.Add (no install keeps
    // a line it took out, so none is put back).
    [[nodiscard]] virtual Result Apply(const ConfigEdit& edit, bool undo) const = 0;
    // Whether edit's file may be written at all (the player may have made it read-only): asked
    // before a removal starts, so that it stops before anything is changed.
    [[nodiscard]] virtual Result Writable(const ConfigEdit& edit) const {
        (void)edit;
        return Result::Success();
    }
    // Whether edits of this kind ("openmw.cfg") are this editor's to make. A record holding an
    // edit of another kind belongs to the other game engine's installs in the same folder.
    virtual bool Owns(const std::string& kind) const {
        (void)kind;
        return true;
    }
    // Whether a line of an edit enables the file recordedPath ("GameFile=X.esp" enables X.esp).
    // A removal leaves such a line to a later install holding that file, so it stays enabled.
    virtual bool Enables(const std::string& line, const std::string& recordedPath) const {
        (void)line;
        (void)recordedPath;
        return false;
    }
};

struct InstallTarget {
    // The folder that holds the install records and is locked: the data folder, or OpenMW's
    // mods folder.
    std::string Root;
    // The folder below Root the files go into, levels joined by "\" ("" for Root itself): the
    // plug-in's own folder for OpenMW.
    std::string Below;
    // Whoever makes configuration edits; a record with edits and no editor is left alone.
    const ConfigEditor* Editor = nullptr;
    // Other folders locked too, after Root (the folder of openmw.cfg).
    std::vector<std::string> AlsoLock;
};

// Told after each file of a request is handled (file: its index in Files); false cancels.
using PlacedProgress =
    std::function<bool(size_t file, const EntryResult& result, size_t done, size_t count)>;

// The configuration edits of an install that puts these files in place (recorded paths below
// Root); asked once the plan is made and again with the files written. carried: the lines the
// same archive's earlier install had added, which stay where they are (the load order) and
// are this install's own when it still wants them; those it does not want are taken out.
using EditsFor = std::function<std::vector<ConfigEdit>(const std::vector<std::string>& files,
                                                       const std::vector<ConfigEdit>& carried)>;

// A time to give a written file (a recorded path below Root), in seconds since 1970, UTC.
struct FileTime {
    std::string Path;
    int64_t Time = 0;
};
// The times some written files get instead of the archive's (recorded paths below Root): asked
// once every file is written, so that plug-ins can be dated after their masters.
using TimesFor = std::function<std::vector<FileTime>(const std::vector<std::string>& files)>;

struct InstallRequest {
    sources::Source* Source = nullptr;
    // What goes where: Target below the target's Below, levels joined by '/'.
    std::vector<sources::Placed> Files;
    std::string Archive; // the archive's file name, as records keep it
    std::string Name, Version;
    // Kept in the record: the data root taken and the options chosen (SourceInstall.h).
    std::optional<std::string> Root;
    std::vector<std::string> Options;
    OverwriteQuestion Ask;
    TakeBackQuestion TakeBack;
    // One call per file of Files (entries told by their path below Below); false cancels the
    // install, which is then rolled back whole.
    PlacedProgress Progress;
    EditsFor Edits;
    TimesFor Times;
};

// Installs request's files into target. Report.Entries holds one result per file of
// request.Files, in order.
InstallReport InstallMembers(const InstallTarget& target, const InstallRequest& request);

// What installing arc needs of its entries alone (its members, and the entry each placed file
// comes from), made ahead on any thread from arc as read: a window can be made meanwhile.
struct PreparedPackage {
    std::shared_ptr<sources::PackageListing> Listing;
    std::vector<sources::Placed> Files;
    std::vector<size_t> EntryOf;
};
[[nodiscard]] PreparedPackage PreparePackage(const Archives& arc);

// InstallRecorded (RecordedInstall.h) into any target: every entry of arc but its information
// entry, placed as itself below target.Below, with the configuration edits of edits and the
// file times of times. prepared is used when it was made from the entries arc holds; else
// arc's entries are listed and placed anew.
InstallReport InstallRecorded(Archives& arc, const InstallTarget& target,
                              const OverwriteQuestion& ask, const EntryProgress& progress,
                              const TakeBackQuestion& takeBack, const EditsFor& edits,
                              const TimesFor& times = {}, PreparedPackage prepared = {});
// RemovePlugin (RecordedInstall.h) on any target: by record, with its configuration edits taken
// back by target.Editor, else by content.
RemovalReport RemovePlugin(Archives& arc, const InstallTarget& target,
                           const FileProgress& progress = {});

// Removal of a recorded install (what: the record key, the archive's file name or the plug-in's
// name), its configuration edits taken back first.
RemovalReport RemoveInstall(const InstallTarget& target, const std::string& what,
                            const FileProgress& progress = {});
// Finishes interrupted removals and undoes interrupted installs on target, and sweeps what
// killed runs left (work files, an empty record folder).
Result CompletePendingWork(const InstallTarget& target);

} // namespace qvr
