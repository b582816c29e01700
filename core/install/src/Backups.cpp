#include "qvr/install/detail/Backups.h"

#include "qvr/install/Engine.h"
#include "qvr/install/detail/InstallFiles.h"
#include "qvr/install/detail/InstallPaths.h"
#include "qvr/install/detail/RemovalLookup.h"
#include "qvr/install/detail/SafeReach.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/detail/platform.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <map>
#include <set>
#include <system_error>
#include <unordered_map>

namespace fs = std::filesystem;

namespace qvr::detail {
namespace {

using Action = RemovalStep::Action;

RemovalStep PlanFile(const std::string& dataFolder, const InstallRecord& record,
                     const RecordedFile& file, const RemovalLookup& lookup) {
    RemovalStep step;
    step.Path = file.Path;
    std::error_code ec;
    const bool haveBackup = fs::exists(BackupPath(dataFolder, record.Sequence, file.Path), ec);
    if (record.State == RecordState::Installing) {
        // Undoing an install that never committed: what was moved goes back, what was
        // planned as new is ours.
        step.What = file.Replaced ? Action::Restore : Action::Delete;
        return step;
    }
    int64_t laterSequence = 0;
    std::string laterName;
    if (lookup.LaterOwner(file.Path, laterSequence, laterName)) {
        // The later plug-in's backup holds this plug-in's file: it becomes what lies below.
        step.LaterCopy = BackupName(laterSequence, file.Path);
        fs::path later = Below(BackupsFolder(dataFolder), step.LaterCopy);
        if (file.Known && FileMatchesOrThrow(later, file.Size, file.Crc))
            step.What = haveBackup ? Action::PassOn : Action::Drop;
        else
            step.What = Action::Keep, step.LaterCopy.clear();
        return step;
    }
    const fs::path target = DataPath(dataFolder, file.Path);
    if (!fs::exists(fs::symlink_status(target, ec)))
        step.What = haveBackup ? Action::Restore : Action::Missing;
    else if (file.Known && FileMatchesOrThrow(target, file.Size, file.Crc))
        step.What = haveBackup ? Action::Restore : Action::Delete;
    else
        step.What = Action::Keep;
    return step;
}

// A kept copy (name: "<sequence>\<path>") may be touched: no link on its way from the data
// folder, the record folder included.
bool BackupReach(const std::string& dataFolder, const std::string& name, std::string& why) {
    return CheckReach(platform::ToNative(RecordFolder(dataFolder)), "backups\\" + name, {}, why);
}

// The kept copy is the file the install moved there, as far as its record knows.
bool BackupIsAsKept(const fs::path& backup, const RecordedFile* f) {
    return !f || !f->BackupKnown || FileMatchesOrThrow(backup, f->BackupSize, f->BackupCrc);
}

FileResult Kept(FileResult result, std::string why) {
    result.Fate = FileFate::Kept;
    result.Message = std::move(why);
    return result;
}

FileResult Delete(const std::string& dataFolder, const InstallRecord& record, const RecordedFile* f,
                  const RemovalStep& step, bool dryRun, FileResult result,
                  const std::string& keptCopy) {
    const fs::path target = DataPath(dataFolder, step.Path);
    std::error_code ec;
    const bool present = fs::exists(fs::symlink_status(target, ec));
    std::string why;
    // Checked again: the file may have changed since the plan was made.
    if (present && f && f->Known && !FileMatchesOrThrow(target, f->Size, f->Crc))
        return Kept(result, "changed since it was installed" + keptCopy);
    if (present && !CheckReach(platform::ToNative(dataFolder), step.Path, record.Links, why))
        return Kept(result, "not deleted: " + why + keptCopy);
    // Never written (an install cut short), or deleted by an earlier run of this removal.
    result.Fate = present ? FileFate::Removed : FileFate::Absent;
    if (present && !dryRun && !RemoveFile(target))
        result.Fate = FileFate::Failed, result.Message = "cannot be deleted";
    return result;
}

FileResult Restore(const std::string& dataFolder, const InstallRecord& record,
                   const RecordedFile* f, const RemovalStep& step, bool dryRun, FileResult result) {
    const fs::path target = DataPath(dataFolder, step.Path);
    const fs::path backup = BackupPath(dataFolder, record.Sequence, step.Path);
    std::error_code ec;
    result.Fate = FileFate::Restored;
    if (!fs::exists(fs::symlink_status(backup, ec)))
        return result; // never moved: the original is still in place
    const std::string kept =
        "; the file it had replaced is kept at " + platform::FromNative(backup);
    std::string why;
    if (!BackupReach(dataFolder, BackupName(record.Sequence, step.Path), why) ||
        !CheckReach(platform::ToNative(dataFolder), step.Path, record.Links, why))
        return Kept(result, "not restored: " + why + kept);
    if (!BackupIsAsKept(backup, f))
        return Kept(result, "not restored: the kept copy is not the file this install "
                            "replaced" +
                                kept);
    if (!dryRun)
        MoveFile(backup, target);
    return result;
}

// This plug-in's kept copy becomes the later plug-in's, whose record is told what it now keeps.
FileResult PassOn(const std::string& dataFolder, const InstallRecord& record, RemovalLookup& lookup,
                  const RemovalStep& step, bool dryRun, FileResult result) {
    const fs::path backup = BackupPath(dataFolder, record.Sequence, step.Path);
    std::error_code ec;
    const bool backupThere = fs::exists(fs::symlink_status(backup, ec));
    const RecordedFile* mine = lookup.Mine(step.Path);
    std::string why;
    if (backupThere &&
        (!BackupReach(dataFolder, BackupName(record.Sequence, step.Path), why) ||
         !BackupReach(dataFolder, step.LaterCopy, why) || !BackupIsAsKept(backup, mine)))
        return Kept(result, "replaced by a plug-in installed later; the file this one had "
                            "replaced stays at " +
                                platform::FromNative(backup) +
                                (why.empty() ? std::string(": it is not the file it replaced")
                                             : ": " + why));
    result = Kept(result, "replaced by a plug-in installed later, which now keeps the file "
                          "this one had replaced");
    result.Covered = true;
    if (dryRun)
        return result;
    if (backupThere)
        MoveFile(backup, Below(BackupsFolder(dataFolder), step.LaterCopy));
    // The later records are written once, after the last step (a run after a crash does
    // these steps again).
    const int64_t laterSequence = std::stoll(step.LaterCopy.substr(0, step.LaterCopy.find('\\')));
    for (RecordedFile* f : lookup.LaterFiles(step.Path, laterSequence)) {
        f->BackupKnown = mine && mine->BackupKnown;
        f->BackupSize = mine ? mine->BackupSize : 0;
        f->BackupCrc = mine ? mine->BackupCrc : 0;
    }
    return result;
}

// Nothing lay below this plug-in's file: the later plug-in's copy of it goes, and the later
// record no longer says it replaced a file.
FileResult Drop(const std::string& dataFolder, RemovalLookup& lookup, const RemovalStep& step,
                bool dryRun, FileResult result) {
    result = Kept(result, "replaced by a plug-in installed later");
    result.Covered = true;
    const fs::path later = Below(BackupsFolder(dataFolder), step.LaterCopy);
    std::error_code ec;
    std::string why;
    if (dryRun)
        return result;
    if (fs::exists(fs::symlink_status(later, ec))) {
        if (!BackupReach(dataFolder, step.LaterCopy, why)) {
            result.Message += "; " + platform::FromNative(later) + " stays: " + why;
            return result;
        }
        if (!RemoveFile(later)) {
            result.Fate = FileFate::Failed;
            result.Message = "cannot delete " + platform::FromNative(later);
            return result;
        }
    }
    const int64_t laterSequence = std::stoll(step.LaterCopy.substr(0, step.LaterCopy.find('\\')));
    for (RecordedFile* f : lookup.LaterFiles(step.Path, laterSequence))
        f->Replaced = f->BackupKnown = false, f->BackupSize = 0, f->BackupCrc = 0;
    return result;
}

FileResult Execute(const std::string& dataFolder, const InstallRecord& record,
                   RemovalLookup& lookup, const RemovalStep& step, bool dryRun) {
    FileResult result;
    result.Path = step.Path;
    const fs::path backup = BackupPath(dataFolder, record.Sequence, step.Path);
    std::error_code ec;
    const std::string keptCopy = fs::exists(backup, ec) ? "; the file it had replaced is kept at " +
                                                              platform::FromNative(backup)
                                                        : std::string();
    try {
        switch (step.What) {
        case Action::Delete:
            return Delete(dataFolder, record, lookup.Mine(step.Path), step, dryRun, result,
                          keptCopy);
        case Action::Restore:
            return Restore(dataFolder, record, lookup.Mine(step.Path), step, dryRun, result);
        case Action::PassOn:
            return PassOn(dataFolder, record, lookup, step, dryRun, result);
        case Action::Drop:
            return Drop(dataFolder, lookup, step, dryRun, result);
        case Action::Keep:
            return Kept(result, "changed since it was installed" + keptCopy);
        case Action::Missing:
            result.Fate = FileFate::Absent;
            result.Message = "no longer there";
            break;
        }
    } catch (const std::exception& e) {
        result.Fate = FileFate::Failed;
        result.Message = e.what();
    }
    return result;
}

// A folder this install made that still holds another plug-in's files becomes that plug-in's
// to remove (the first such plug-in's). Losing this in a crash costs at most an empty folder
// left behind.
void HandOverFolders(const std::string& dataFolder, const InstallRecord& record,
                     const std::vector<std::string>& folders, std::vector<InstallRecord>& others) {
    std::error_code ec;
    std::unordered_map<std::string, const std::string*> left; // by folded name
    for (const std::string& folder : folders)
        if (fs::is_directory(DataPath(dataFolder, folder), ec))
            left.emplace(FoldCase(folder), &folder);
    for (InstallRecord& r : others) {
        if (left.empty())
            return;
        if (r.Sequence == record.Sequence || r.State != RecordState::Installed)
            continue;
        bool changed = false;
        for (const RecordedFile& f : r.Files) {
            const std::string path = FoldCase(f.Path);
            for (size_t cut = path.find('\\'); cut != std::string::npos;
                 cut = path.find('\\', cut + 1)) {
                const auto it = left.find(path.substr(0, cut));
                if (it == left.end())
                    continue;
                if (std::find(r.Folders.begin(), r.Folders.end(), *it->second) == r.Folders.end())
                    r.Folders.push_back(*it->second), changed = true;
                left.erase(it);
            }
        }
        if (changed)
            WriteInstallRecord(dataFolder, r);
    }
}

} // namespace

// Every empty folder inside root, deepest first, then root itself.
// A link is never followed nor removed: the programs make none.
void RemoveEmptyTree(const fs::path& root) {
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(root, ec)))
        return;
    std::vector<fs::path> folders;
    for (fs::recursive_directory_iterator d(root, ec), end; !ec && d != end; d.increment(ec))
        if (fs::is_directory(d->symlink_status(ec)))
            folders.push_back(d->path());
    std::sort(folders.begin(), folders.end(), [](const fs::path& a, const fs::path& b) {
        return a.native().size() > b.native().size();
    });
    folders.push_back(root);
    for (const fs::path& f : folders)
        if (fs::is_empty(f, ec)) {
            Step();
            fs::remove(f, ec);
        }
}

std::vector<std::string> RemoveFoldersMade(const std::string& dataFolder,
                                           const InstallRecord& record) {
    std::vector<std::string> folders = record.Folders;
    std::sort(folders.begin(), folders.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    // Only the folders the install made, each while empty: never one the player had
    // before, never a link.
    for (const std::string& folder : folders) {
        std::string why;
        if (CheckReach(platform::ToNative(dataFolder), folder, record.Links, why))
            RemoveEmptyFolder(DataPath(dataFolder, folder));
    }
    return folders;
}

bool RecordFolderIsSound(const std::string& dataFolder, std::string& why) {
    std::error_code ec;
    for (const fs::path& folder :
         {fs::path(platform::ToNative(RecordFolder(dataFolder))), BackupsFolder(dataFolder)}) {
        const fs::file_status status = fs::symlink_status(folder, ec);
        if (fs::exists(status) && !fs::is_directory(status)) {
            why = platform::FromNative(folder) + " is not a folder the programs made (" +
                  (fs::is_symlink(status) ? "a link" : "a file") + ")";
            return false;
        }
    }
    return true;
}

fs::path Below(const fs::path& base, const std::string& recorded) {
    fs::path p = base;
    for (const std::string& level : SplitLevels(recorded))
        p /= platform::ToNative(level);
    return p;
}

fs::path DataPath(const std::string& dataFolder, const std::string& recorded) {
    return Below(platform::ToNative(dataFolder), recorded);
}

fs::path BackupsFolder(const std::string& dataFolder) {
    return platform::ToNative(RecordFolder(dataFolder)) / "backups";
}

std::string BackupName(int64_t sequence, const std::string& recorded) {
    return std::to_string(sequence) + "\\" + recorded;
}

fs::path BackupPath(const std::string& dataFolder, int64_t sequence, const std::string& recorded) {
    return Below(BackupsFolder(dataFolder), BackupName(sequence, recorded));
}

int64_t NextSequence(const std::string& dataFolder, const std::vector<InstallRecord>& records) {
    int64_t top = 0;
    for (const InstallRecord& r : records)
        top = std::max(top, r.Sequence);
    std::error_code ec;
    for (fs::directory_iterator d(BackupsFolder(dataFolder), ec), end; !ec && d != end;
         d.increment(ec)) {
        try {
            top = std::max<int64_t>(top, std::stoll(platform::FromNative(d->path().filename())));
        } catch (...) {
        }
    }
    return top + 1;
}

std::string NowUtc() {
    std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm tm{};
#ifdef _WIN32
    gmtime_s(&tm, &now);
#else
    gmtime_r(&now, &tm);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}

void DeleteStrayWorkFiles(const fs::path& folder) {
    std::error_code ec;
    for (fs::directory_iterator d(folder, ec), end; !ec && d != end; d.increment(ec)) {
        std::string name = platform::FromNative(d->path().filename());
        if (name.rfind("~qvr-", 0) == 0 && name.size() > 4 &&
            name.compare(name.size() - 4, 4, ".tmp") == 0)
            RemoveFile(d->path());
    }
}

namespace {
// A move into the backups from another disk that a kill cut short leaves its copy under the
// work name MoveFile gives it.
void RemoveHalfCopies(const std::string& dataFolder, const InstallRecord& record) {
    std::error_code ec;
    for (const RecordedFile& f : record.Files)
        if (f.Replaced)
            fs::remove(BackupPath(dataFolder, record.Sequence, f.Path) += ".part", ec);
}
} // namespace

void RemoveEmptyBackups(const std::string& dataFolder) {
    RemoveEmptyTree(BackupsFolder(dataFolder));
}

namespace {

// A line that enables a file a later install's copy stays as (a plug-in of the same name) is
// that install's now: it stays in the file, and goes with that install, as do the headers of
// sections the edit brought. Answers record's edits less the lines handed on.
std::vector<ConfigEdit> HandOverLines(const InstallRecord& record, RemovalLookup& lookup,
                                      const ConfigEditor& editor) {
    std::vector<ConfigEdit> kept;
    for (const ConfigEdit& e : record.Edits) {
        ConfigEdit left = e;
        left.Add.clear();
        std::map<InstallRecord*, std::vector<std::string>> handed; // by the install taking them
        for (const std::string& line : e.Add) {
            if (lookup.OtherHoldsLine(e, line))
                continue; // that install's too: it stays in the file
            InstallRecord* later = lookup.LaterHolder(
                [&](const std::string& path) { return editor.Enables(line, path); });
            (later ? handed[later] : left.Add).push_back(line);
        }
        if (!handed.empty()) {
            auto header = std::stable_partition(left.Add.begin(), left.Add.end(),
                                                [](const auto& l) { return !l.starts_with("["); });
            handed.begin()->second.insert(handed.begin()->second.end(), header, left.Add.end());
            left.Add.erase(header, left.Add.end());
        }
        for (auto& [later, lines] : handed) {
            auto same = std::find_if(later->Edits.begin(), later->Edits.end(), [&](const auto& o) {
                return o.Kind == e.Kind && o.File == e.File;
            });
            if (same == later->Edits.end())
                same = later->Edits.insert(later->Edits.end(), {e.Kind, e.File, {}, {}});
            // A run after a crash hands the same lines on again.
            for (const std::string& line : lines)
                if (std::find(same->Add.begin(), same->Add.end(), line) == same->Add.end())
                    same->Add.push_back(line);
        }
        kept.push_back(std::move(left));
    }
    return kept;
}

// Those that have lines to take out: lines another install holds too stay.
Result EditsWritable(const InstallRecord& record, const RemovalLookup& lookup,
                     const ConfigEditor& editor) {
    for (const ConfigEdit& e : record.Edits)
        if (std::any_of(e.Add.begin(), e.Add.end(),
                        [&](const std::string& line) { return !lookup.OtherHoldsLine(e, line); }))
            if (Result writable = editor.Writable(e); !writable)
                return writable;
    return Result::Success();
}

// The configuration lines go first, so that no setting names a file that is gone.
Result TakeBackEdits(const InstallRecord& record, RemovalLookup& lookup,
                     const ConfigEditor* editor) {
    const std::vector<ConfigEdit> edits =
        editor ? HandOverLines(record, lookup, *editor) : record.Edits;
    for (auto e = edits.rbegin(); e != edits.rend(); ++e) {
        if (!editor)
            return Result::EntryFailure("its lines in " + e->File +
                                        " are taken out only by the command for that target");
        Step();
        if (Result undone = editor->Apply(*e, true); !undone)
            return undone;
    }
    return Result::Success();
}

} // namespace

namespace {

// The removal's plan, written before any file is touched. An install stopped by a full disk can
// leave no room for it, and every later run would stop there too: the files that install made
// new are deleted first (the plan deletes them; nothing lies below them, and a run after a
// crash plans them again, as missing), then the plan is written.
void WriteRemovalIntent(const std::string& dataFolder, const InstallRecord& record,
                        const RemovalLookup& lookup, bool neverCommitted) {
    try {
        WriteInstallRecord(dataFolder, record);
        return;
    } catch (const std::exception&) {
        if (!neverCommitted)
            throw;
    }
    for (const RemovalStep& step : record.Plan)
        try {
            if (step.What == Action::Delete)
                (void)Delete(dataFolder, record, lookup.Mine(step.Path), step, false, {}, {});
        } catch (const std::exception&) {
            // left for the removal itself, which says why
        }
    WriteInstallRecord(dataFolder, record);
}

} // namespace

RemovalReport RunRemoval(const std::string& dataFolder, InstallRecord record,
                         const std::vector<InstallRecord>& others, const FileProgress& progress,
                         bool dryRun, const ConfigEditor* editor, const InstallRecord* successor) {
    RemovalReport report;
    report.ByRecord = true;
    report.Plugin = record.Name.empty() ? record.Archive : record.Name;
    std::vector<InstallRecord> all = others; // kept as written when a step changes another
    RemovalLookup lookup(record, all);
    // The later installs' records that steps changed, written once; a run after a crash makes
    // the same changes again.
    auto writeChanged = [&] {
        for (const InstallRecord* later : lookup.Changed())
            WriteInstallRecord(dataFolder, *later);
    };
    try {
        if (std::string why; !RecordFolderIsSound(dataFolder, why)) {
            report.Outcome = Result::EntryFailure(why + "; nothing was removed");
            return report;
        }
        if (record.State != RecordState::Removing) {
            if (Result writable =
                    dryRun || !editor ? Result::Success() : EditsWritable(record, lookup, *editor);
                !writable) {
                report.Outcome = Result::EntryFailure(writable.Message + "; nothing was removed");
                return report;
            }
            const bool neverCommitted = record.State == RecordState::Installing;
            if (neverCommitted && !dryRun) {
                std::set<fs::path> folders; // each listed once, however many files it holds
                for (const RecordedFile& f : record.Files)
                    folders.insert(DataPath(dataFolder, f.Path).parent_path());
                for (const fs::path& folder : folders)
                    DeleteStrayWorkFiles(folder);
            }
            record.Plan.clear();
            for (const RecordedFile& f : record.Files)
                record.Plan.push_back(PlanFile(dataFolder, record, f, lookup));
            record.State = RecordState::Removing;
            if (!dryRun)
                WriteRemovalIntent(dataFolder, record, lookup, neverCommitted);
        }
        if (Result edits = dryRun ? Result::Success() : TakeBackEdits(record, lookup, editor);
            !edits) {
            report.Outcome = Result::EntryFailure("The removal of " + report.Plugin +
                                                  " stopped: " + edits.Message +
                                                  "; removing it again finishes it");
            return report;
        }
        size_t done = 0;
        for (const RemovalStep& step : record.Plan) {
            report.Files.push_back(Execute(dataFolder, record, lookup, step, dryRun));
            if (progress && !progress(report.Files.back(), ++done, record.Plan.size())) {
                writeChanged();
                report.Outcome =
                    Result::EntryFailure("The removal of " + report.Plugin +
                                         " was stopped; removing it again finishes it");
                return report;
            }
        }
        if (dryRun)
            return report;
        writeChanged();
        // A file not handled keeps the plan open: nothing is committed, so no kept copy is lost.
        if (size_t failed = report.Count(FileFate::Failed); failed > 0) {
            report.Outcome =
                Result::EntryFailure(std::to_string(failed) + " file(s) of " + report.Plugin +
                                     " could not be handled; removing it again tries them again");
            return report;
        }
        const std::vector<std::string> folders = RemoveFoldersMade(dataFolder, record);
        HandOverFolders(dataFolder, record, folders, all);
        RemoveHalfCopies(dataFolder, record);
        RemoveEmptyTree(BackupsFolder(dataFolder) / std::to_string(record.Sequence));
        // The commit: once the record is gone (or its successor's has its name), the removal is
        // complete.
        const fs::path recordFolder = platform::ToNative(RecordFolder(dataFolder));
        if (successor && successor->Key != record.Key &&
            RecordKey(successor->Archive) == RecordKey(record.Archive)) {
            MoveFile(platform::ToNative(RecordFile(dataFolder, successor->Key)),
                     platform::ToNative(RecordFile(dataFolder, record.Key)));
            return report;
        }
        if (!RemoveFile(platform::ToNative(RecordFile(dataFolder, record.Key))))
            throw std::runtime_error("cannot delete the record of " + report.Plugin);
        // Nothing left behind once the last plug-in is gone.
        std::error_code ec;
        if (fs::is_directory(BackupsFolder(dataFolder), ec) &&
            fs::is_empty(BackupsFolder(dataFolder), ec))
            fs::remove(BackupsFolder(dataFolder), ec);
        if (fs::is_directory(recordFolder, ec) && fs::is_empty(recordFolder, ec))
            fs::remove(recordFolder, ec);
    } catch (const std::exception& e) {
        report.Outcome =
            Result::EntryFailure(std::string("The removal of ") + report.Plugin +
                                 " stopped: " + e.what() + "; removing it again finishes it");
    }
    return report;
}

} // namespace qvr::detail
