#include "qvr/install/detail/Backups.h"

#include "qvr/install/detail/InstallFiles.h"
#include "qvr/install/detail/InstallPaths.h"
#include "qvr/platform/detail/platform.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <system_error>

namespace fs = std::filesystem;

namespace qvr::detail {
namespace {

using Action = RemovalStep::Action;

// The record of the first plug-in installed after `record` that wrote the same path.
const RecordedFile* LaterOwner(const InstallRecord& record, const std::string& path,
                               const std::vector<InstallRecord>& others, int64_t& sequence,
                               std::string& name) {
    const std::string key = FoldCase(path);
    for (const InstallRecord& r : others) { // oldest first
        if (r.Sequence <= record.Sequence || r.State != RecordState::Installed)
            continue;
        for (const RecordedFile& f : r.Files)
            if (FoldCase(f.Path) == key) {
                sequence = r.Sequence;
                name = r.Name.empty() ? r.Archive : r.Name;
                return &f;
            }
    }
    return nullptr;
}

RemovalStep PlanFile(const std::string& dataFolder, const InstallRecord& record,
                     const RecordedFile& file, const std::vector<InstallRecord>& others) {
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
    if (LaterOwner(record, file.Path, others, laterSequence, laterName)) {
        // The later plug-in's backup holds this plug-in's file: it becomes what lies below.
        step.LaterCopy = BackupName(laterSequence, file.Path);
        fs::path later = Below(BackupsFolder(dataFolder), step.LaterCopy);
        if (file.Known && FileMatches(later, file.Size, file.Crc))
            step.What = haveBackup ? Action::PassOn : Action::Drop;
        else
            step.What = Action::Keep, step.LaterCopy.clear();
        return step;
    }
    const fs::path target = DataPath(dataFolder, file.Path);
    if (!fs::exists(fs::symlink_status(target, ec)))
        step.What = haveBackup ? Action::Restore : Action::Missing;
    else if (file.Known && FileMatches(target, file.Size, file.Crc))
        step.What = haveBackup ? Action::Restore : Action::Delete;
    else
        step.What = Action::Keep;
    return step;
}

const RecordedFile* FileOf(const InstallRecord& record, const std::string& path) {
    for (const RecordedFile& f : record.Files)
        if (f.Path == path)
            return &f;
    return nullptr;
}

FileResult Execute(const std::string& dataFolder, const InstallRecord& record,
                   const RemovalStep& step, bool dryRun) {
    FileResult result;
    result.Path = step.Path;
    const fs::path target = DataPath(dataFolder, step.Path);
    const fs::path backup = BackupPath(dataFolder, record.Sequence, step.Path);
    std::error_code ec;
    const bool backupThere = fs::exists(backup, ec);
    const std::string keptCopy =
        backupThere ? "; the file it had replaced is kept at " + platform::FromNative(backup)
                    : std::string();
    try {
        switch (step.What) {
        case Action::Delete: {
            const RecordedFile* f = FileOf(record, step.Path);
            const bool present = fs::exists(fs::symlink_status(target, ec));
            // Checked again: the file may have changed since the plan was made.
            if (present && f && f->Known && !FileMatches(target, f->Size, f->Crc)) {
                result.Fate = FileFate::Kept;
                result.Message = "changed since it was installed" + keptCopy;
            } else {
                result.Fate = FileFate::Removed;
                if (present && !dryRun && !RemoveFile(target))
                    result.Fate = FileFate::Failed, result.Message = "cannot be deleted";
            }
            break;
        }
        case Action::Restore:
            result.Fate = FileFate::Restored;
            if (backupThere && !dryRun)
                MoveFile(backup, target);
            break;
        case Action::PassOn:
            result.Fate = FileFate::Kept;
            result.Message = "replaced by a plug-in installed later, which now keeps the file "
                             "this one had replaced";
            if (backupThere && !dryRun)
                MoveFile(backup, Below(BackupsFolder(dataFolder), step.LaterCopy));
            break;
        case Action::Drop: {
            result.Fate = FileFate::Kept;
            result.Message = "replaced by a plug-in installed later";
            fs::path later = Below(BackupsFolder(dataFolder), step.LaterCopy);
            if (!dryRun && fs::exists(later, ec) && !RemoveFile(later))
                result.Fate = FileFate::Failed,
                result.Message = "cannot delete " + platform::FromNative(later);
            break;
        }
        case Action::Keep:
            result.Fate = FileFate::Kept;
            result.Message = "changed since it was installed" + keptCopy;
            break;
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

// Every empty folder inside root, deepest first, then root itself.
void RemoveEmptyTree(const fs::path& root) {
    std::error_code ec;
    if (!fs::is_directory(root, ec))
        return;
    std::vector<fs::path> folders;
    for (fs::recursive_directory_iterator d(root, ec), end; !ec && d != end; d.increment(ec))
        if (d->is_directory(ec))
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

// A folder this install made that still holds another plug-in's files becomes that plug-in's
// to remove. Losing this in a crash costs at most an empty folder left behind.
void HandOverFolders(const std::string& dataFolder, const InstallRecord& record,
                     const std::vector<std::string>& folders, std::vector<InstallRecord> others) {
    std::error_code ec;
    for (const std::string& folder : folders) {
        if (!fs::is_directory(DataPath(dataFolder, folder), ec))
            continue;
        const std::string prefix = FoldCase(folder) + "\\";
        for (InstallRecord& r : others) {
            if (r.Sequence == record.Sequence || r.State != RecordState::Installed)
                continue;
            bool inside = std::any_of(r.Files.begin(), r.Files.end(), [&](const RecordedFile& f) {
                return FoldCase(f.Path).rfind(prefix, 0) == 0;
            });
            if (!inside)
                continue;
            if (std::find(r.Folders.begin(), r.Folders.end(), folder) == r.Folders.end()) {
                r.Folders.push_back(folder);
                WriteInstallRecord(dataFolder, r);
            }
            break;
        }
    }
}

} // namespace

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

RemovalReport RunRemoval(const std::string& dataFolder, InstallRecord record,
                         const std::vector<InstallRecord>& others, const FileProgress& progress,
                         bool dryRun) {
    RemovalReport report;
    report.ByRecord = true;
    report.Plugin = record.Name.empty() ? record.Archive : record.Name;
    try {
        if (record.State != RecordState::Removing) {
            if (record.State == RecordState::Installing && !dryRun)
                for (const RecordedFile& f : record.Files)
                    DeleteStrayWorkFiles(DataPath(dataFolder, f.Path).parent_path());
            record.Plan.clear();
            for (const RecordedFile& f : record.Files)
                record.Plan.push_back(PlanFile(dataFolder, record, f, others));
            record.State = RecordState::Removing;
            if (!dryRun)
                WriteInstallRecord(dataFolder, record); // the intent
        }
        size_t done = 0;
        for (const RemovalStep& step : record.Plan) {
            report.Files.push_back(Execute(dataFolder, record, step, dryRun));
            if (progress && !progress(report.Files.back(), ++done, record.Plan.size())) {
                report.Outcome =
                    Result::EntryFailure("The removal of " + report.Plugin +
                                         " was stopped; removing it again finishes it");
                return report;
            }
        }
        if (dryRun)
            return report;
        // A file not handled keeps the plan open: nothing is committed, so no kept copy is lost.
        if (size_t failed = report.Count(FileFate::Failed); failed > 0) {
            report.Outcome =
                Result::EntryFailure(std::to_string(failed) + " file(s) of " + report.Plugin +
                                     " could not be handled; removing it again tries them again");
            return report;
        }
        std::vector<std::string> folders = record.Folders;
        std::sort(folders.begin(), folders.end(),
                  [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
        for (const std::string& folder : folders)
            RemoveEmptyFolders(DataPath(dataFolder, folder), platform::ToNative(dataFolder));
        HandOverFolders(dataFolder, record, folders, others);
        RemoveEmptyTree(BackupsFolder(dataFolder) / std::to_string(record.Sequence));
        // The commit: once the record is gone, the removal is complete.
        const fs::path recordFolder = platform::ToNative(RecordFolder(dataFolder));
        if (!RemoveFile(recordFolder / platform::ToNative(record.Key + ".ini")))
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
