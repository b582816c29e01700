#include "qvr/install/Engine.h"

#include "qvr/install/detail/Backups.h"
#include "qvr/install/detail/EngineSteps.h"
#include "qvr/install/detail/InstallFiles.h"
#include "qvr/install/detail/InstallPaths.h"
#include "qvr/platform/FolderLock.h"
#include "qvr/platform/detail/platform.h"

#include <algorithm>
#include <set>
#include <system_error>
#include <unordered_map>

namespace fs = std::filesystem;

namespace qvr {
namespace {

using detail::FoldCase;
using detail::Planned;

// The files as entries below Root: Below's levels, then the target's.
std::vector<sgFileInfo> EntriesOf(const InstallTarget& target, const InstallRequest& request) {
    std::vector<sgFileInfo> out;
    out.reserve(request.Files.size());
    const std::vector<sources::Member>& members = request.Source->Members();
    for (const sources::Placed& placed : request.Files) {
        std::string path = placed.Target;
        std::replace(path.begin(), path.end(), '/', '\\');
        if (!target.Below.empty())
            path = target.Below + "\\" + path;
        const size_t cut = path.rfind('\\');
        sgFileInfo e;
        e.FilePath(cut == std::string::npos ? std::string() : path.substr(0, cut));
        e.FileName(cut == std::string::npos ? path : path.substr(cut + 1));
        if (placed.Member < members.size())
            e.FileSize(
                static_cast<int32_t>(std::min<int64_t>(members[placed.Member].Size, INT32_MAX)));
        out.push_back(std::move(e));
    }
    return out;
}

// Whether an earlier install of a downloaded archive of this name holds another plug-in: fewer
// than half of its files are among this one's (two downloads called Patch.zip, which may share
// a file or two). A new version of a plug-in keeps most of its files' names; a package names
// its plug-in itself.
bool AnotherPlugin(const InstallRecord& earlier, const InstallTarget& target,
                   const InstallRequest& request) {
    if (earlier.Files.empty() || request.Files.empty() || !request.Source ||
        request.Source->Kind() == "QVR")
        return false;
    std::set<std::string> paths;
    for (const sources::Placed& placed : request.Files) {
        std::string path = placed.Target;
        std::replace(path.begin(), path.end(), '/', '\\');
        paths.insert(FoldCase(target.Below.empty() ? path : target.Below + "\\" + path));
    }
    const auto kept = static_cast<size_t>(
        std::count_if(earlier.Files.begin(), earlier.Files.end(),
                      [&](const RecordedFile& f) { return paths.count(FoldCase(f.Path)) > 0; }));
    return 2 * kept < earlier.Files.size();
}

// Whether an install's file is still as it wrote it.
bool AsWritten(const std::string& root, const RecordedFile& f) {
    try {
        return f.Known && detail::FileMatchesOrThrow(detail::DataPath(root, f.Path), f.Size, f.Crc);
    } catch (const std::exception&) {
        return false; // cannot be read: asked about
    }
}

// Finds the earlier install this one takes the place of, when the question allows it (the same
// archive always), after finishing what interrupted runs left; the record this install starts
// from. The earlier install stays until this one is committed: whatever stops this one leaves
// it as it was.
bool Begin(const InstallTarget& target, const InstallRequest& request, InstallReport& report,
           InstallRecord& record, std::set<std::string>& replaceUnasked,
           std::optional<InstallRecord>& taken) {
    const std::string& root = target.Root;
    if (std::string why; !detail::RecordFolderIsSound(root, why)) {
        report.Outcome = Result::EntryFailure(why + "; nothing was installed");
        return false;
    }
    std::vector<InstallRecord> records = detail::ReadRecords(root);
    for (const InstallRecord& r : records)
        if (const std::string kind = detail::ForeignKind(r, target.Editor); !kind.empty()) {
            report.Outcome = Result::EntryFailure(
                root + " holds installs made for the other game engine (with lines in " + kind +
                "): Morrowind's data folder and OpenMW's mods folder must be two different "
                "folders; nothing was installed");
            return false;
        }
    if (Result pending = detail::Recover(target, {}, &report.TakenBack, &report.UpdatesTakenBack);
        !pending) {
        report.Outcome = pending;
        return false;
    }
    records = detail::ReadRecords(root);
    record.Archive = request.Archive;
    record.Name = request.Name;
    record.Version = request.Version;
    record.Root = request.Root;
    record.Options = request.Options;
    record.Date = detail::NowUtc();
    record.State = RecordState::Installing;
    bool same = false;
    const InstallRecord* earlier =
        detail::EarlierInstall(records, request.Archive, request.Name, request.TakeBack, same);
    // Of the same name but of another plug-in: another install of that name that is this one's
    // earlier version is taken, else it is asked about as another archive is.
    if (earlier && same && earlier->State == RecordState::Installed &&
        AnotherPlugin(*earlier, target, request)) {
        const auto sharing = std::find_if(records.begin(), records.end(), [&](const auto& r) {
            return r.State == RecordState::Installed &&
                   detail::SameArchive(r, request.Archive, request.Name) &&
                   !AnotherPlugin(r, target, request);
        });
        if (sharing != records.end()) {
            earlier = &*sharing;
        } else {
            same = false;
            if (!request.TakeBack || !request.TakeBack(*earlier))
                earlier = nullptr;
        }
    }
    if (earlier) {
        // Its files as it wrote them are replaced without asking: they go to this install's
        // backups, so that a rollback puts them back. One the player changed since is asked
        // about as any other. The same archive's lines stay where they are (the load order),
        // this install's as well.
        for (const RecordedFile& f : earlier->Files)
            if (AsWritten(root, f))
                replaceUnasked.insert(FoldCase(f.Path));
        if (same && target.Editor)
            record.Edits = earlier->Edits;
        record.Earlier = earlier->Sequence;
        taken = *earlier;
    }
    record.Key = detail::FreeKey(root, RecordKey(request.Archive), records);
    record.Sequence = detail::NextSequence(root, records);
    return true;
}

void Apply(const InstallTarget& target, const ConfigEdit& edit) {
    detail::Step();
    if (!target.Editor)
        throw std::runtime_error("nothing can edit " + edit.File);
    if (Result applied = target.Editor->Apply(edit, false); !applied)
        throw std::runtime_error(applied.Message);
}

std::vector<std::string> PathsOf(const std::vector<RecordedFile>& files) {
    std::vector<std::string> out;
    for (const RecordedFile& f : files)
        out.push_back(f.Path);
    return out;
}

// Takes the install back whole; answers how it went, for the message.
Result RollBack(const InstallTarget& target, const InstallRecord& record) {
    InstallRecord undo = record;
    undo.State = RecordState::Installing;
    undo.Plan.clear();
    try {
        return detail::RunRemoval(target.Root, undo, detail::ReadRecords(target.Root), {}, false,
                                  target.Editor)
            .Outcome;
    } catch (const std::exception& e) {
        return Result::EntryFailure(e.what());
    }
}

// True when an install that wrote no file left nothing to put back: no file of its own on the
// disk, every file it was to replace in place again (its backups folder holds no file), no
// lines written. Then its folders and record are deleted without the removal plan a rollback
// writes first, for which a full disk has no room.
bool ForgetUnwritten(const InstallTarget& target, const InstallRecord& record, size_t planned) {
    if (record.Files.size() != planned)
        return false;
    std::error_code ec;
    for (const RecordedFile& f : record.Files)
        if (!f.Replaced &&
            fs::exists(fs::symlink_status(detail::DataPath(target.Root, f.Path), ec)))
            return false;
    const fs::path backups = detail::BackupsFolder(target.Root) / std::to_string(record.Sequence);
    if (fs::is_symlink(fs::symlink_status(backups, ec)))
        return false;
    for (fs::recursive_directory_iterator d(backups, ec), end; !ec && d != end; d.increment(ec))
        if (!fs::is_directory(d->symlink_status(ec)))
            return false;
    detail::RemoveFoldersMade(target.Root, record);
    detail::RemoveEmptyTree(backups);
    if (!detail::RemoveFile(platform::ToNative(RecordFile(target.Root, record.Key))))
        return false;
    detail::SweepRecordFolder(target.Root);
    return true;
}

// Written, then taken back: not installed, and not an existing file that was kept.
void TakenBack(InstallReport& report, const std::string& why) {
    for (EntryResult& r : report.Entries)
        if (r.Outcome == EntryOutcome::Installed) {
            r.Outcome = EntryOutcome::Failed;
            r.Message = EntryDisplayPath(r.Entry) + ": taken back: " + why;
            ++report.WrittenThenTakenBack;
        }
}

// The times the request asks for, given only to files this install wrote.
void SetTimes(const InstallTarget& target, const InstallRequest& request,
              const std::vector<RecordedFile>& written) {
    if (!request.Times)
        return;
    const std::vector<std::string> paths = PathsOf(written);
    for (const FileTime& t : request.Times(paths))
        if (std::find(paths.begin(), paths.end(), t.Path) != paths.end())
            detail::SetFileTime(detail::DataPath(target.Root, t.Path), t.Time);
}

// The files written, the configuration edited, the record committed.
void Commit(const InstallTarget& target, const InstallRequest& request, InstallRecord& record,
            std::vector<RecordedFile> written, const std::vector<ConfigEdit>& carried) {
    // The files reach the disk in the kernel's time where the record can say in which run of
    // the system they were written: the next command on this folder flushes them, or after a
    // restart checks them (detail::ConfirmWritten). Elsewhere they are flushed now, and so are
    // those of an install that takes an earlier one's place: a power cut must not leave the
    // earlier one removed and this one's files empty.
    record.WrittenInBoot = record.Earlier > 0 ? std::string() : BootId();
    record.WrittenAt = StatusClockNow(); // after the files' last change (SetTimes)
    if (record.WrittenInBoot.empty())
        detail::FlushTarget(target.Root, record);
    record.Files = std::move(written);
    std::error_code ec;
    std::erase_if(record.Folders, [&](const std::string& f) {
        return !fs::is_directory(detail::DataPath(target.Root, f), ec);
    });
    std::vector<ConfigEdit> edits;
    if (request.Edits) {
        edits = request.Edits(PathsOf(record.Files), carried);
        if (edits != record.Edits) {
            record.Edits = edits; // a file that failed is not listed
            WriteInstallRecord(target.Root, record);
        }
    }
    for (const ConfigEdit& edit : edits)
        Apply(target, edit);
    record.Edits = std::move(edits);
    record.State = RecordState::Installed;
    WriteInstallRecord(target.Root, record); // the commit
}

// Once this install is committed, the earlier one it takes the place of goes, its record's name
// to this one. Stopped here, the next command finishes it (detail::Recover).
RemovalReport TakeEarlierBack(const InstallTarget& target, const InstallRecord& earlier,
                              const InstallRecord& record) {
    RemovalReport done;
    try {
        done = detail::RunRemoval(target.Root, earlier, detail::ReadRecords(target.Root), {}, false,
                                  target.Editor, &record);
    } catch (const std::exception& e) {
        done.Plugin = earlier.Name.empty() ? earlier.Archive : earlier.Name;
        done.Outcome = Result::EntryFailure(e.what());
    }
    if (!done.Outcome) {
        std::string why = done.Outcome.Message;
        if (const std::string again = "; removing it again finishes it"; why.ends_with(again))
            why.erase(why.size() - again.size());
        done.Outcome = Result::EntryFailure(
            "The version of " + done.Plugin + " installed before is not taken back yet (" + why +
            "); the next install or removal in " + target.Root + " finishes it");
    }
    detail::SweepRecordFolder(target.Root);
    return done;
}

InstallReport Run(const InstallTarget& target, const InstallRequest& request) {
    InstallReport report;
    report.Entries.resize(request.Files.size());
    InstallRecord record;
    std::set<std::string> replaceUnasked;
    std::optional<InstallRecord> earlier;
    if (!Begin(target, request, report, record, replaceUnasked, earlier))
        return report;
    const std::vector<sgFileInfo> entries = EntriesOf(target, request);
    std::vector<Planned> plan =
        detail::MakePlan(entries, target.Root, request.Ask, replaceUnasked, record, report.Entries);
    record.Files.reserve(record.Files.size() + plan.size());
    for (const Planned& p : plan) {
        RecordedFile f = p.Backup;
        f.Path = p.Path;
        f.Known = false;
        f.Replaced = p.Replaced;
        record.Files.push_back(f);
    }
    // What is not written is told first; a cancel there changes nothing.
    size_t told = 0;
    std::vector<bool> planned(entries.size(), false);
    for (const Planned& p : plan)
        planned[p.Entry] = true;
    for (size_t i = 0; i < entries.size(); ++i)
        if (!planned[i] && request.Progress &&
            !request.Progress(i, report.Entries[i], ++told, entries.size())) {
            report.Outcome =
                Result::EntryFailure("The install was cancelled; nothing was installed");
            report.Cancelled = true;
            return report;
        }
    if (plan.empty())
        return report;
    const std::vector<ConfigEdit> carried = record.Edits; // from the earlier install
    if (request.Edits)
        record.Edits = request.Edits(PathsOf(record.Files), carried);
    try {
        WriteInstallRecord(target.Root, record); // the intent
    } catch (const std::exception&) {
        detail::SweepRecordFolder(target.Root); // made for it, and empty: nothing is left
        throw;
    }
    bool cancelled = false;
    std::vector<RecordedFile> written;
    try {
        detail::MoveOriginals(target.Root, record.Sequence, plan);
        written =
            detail::WriteMembers(*request.Source, request.Files, plan, target.Root, record.Sequence,
                                 report.Entries, request.Progress, told, cancelled);
        if (cancelled || written.empty()) {
            const Result undone = written.empty() && ForgetUnwritten(target, record, plan.size())
                                      ? Result::Success()
                                      : RollBack(target, record);
            report.Cancelled = cancelled && undone;
            if (cancelled) {
                report.Outcome = undone ? Result::EntryFailure("The install was cancelled; "
                                                               "nothing was installed")
                                        : undone;
                TakenBack(report, "the install was cancelled");
            }
            return report;
        }
        SetTimes(target, request, written);
        Commit(target, request, record, std::move(written), carried);
    } catch (const std::exception& e) {
        earlier.reset(); // still installed, as it was
        const Result undone = RollBack(target, record);
        report.Outcome = Result::EntryFailure(
            std::string("The install stopped: ") + e.what() +
            (undone ? "; nothing was installed"
                    : "; the next install or removal in " + target.Root + " takes it back"));
        TakenBack(report, "the install stopped");
    }
    if (earlier)
        report.Earlier = TakeEarlierBack(target, *earlier, record);
    return report;
}

} // namespace

namespace detail {

Result LockTarget(const InstallTarget& target, std::vector<FolderLock>& held) {
    std::vector<std::string> folders{target.Root};
    for (const std::string& f : target.AlsoLock)
        if (std::find(folders.begin(), folders.end(), f) == folders.end())
            folders.push_back(f);
    for (const std::string& f : folders) {
        std::error_code ec;
        if (!fs::is_directory(platform::ToNative(f), ec))
            continue; // nothing there to change
        held.emplace_back();
        if (Result taken = held.back().Take(f); !taken)
            return taken;
    }
    return Result::Success();
}

} // namespace detail

InstallReport InstallMembers(const InstallTarget& target, const InstallRequest& request) {
    // Made only for a failure here: Run makes its own, and an entry each for thousands of
    // files is megabytes.
    const auto failed = [&](Result outcome) {
        InstallReport report;
        report.Entries.resize(request.Files.size());
        report.Outcome = std::move(outcome);
        return report;
    };
    if (!request.Source)
        return failed(Result::Unusable("No archive to install from"));
    std::error_code ec;
    fs::create_directories(platform::ToNative(target.Root), ec);
    if (!fs::is_directory(platform::ToNative(target.Root), ec))
        return failed(Result::EntryFailure("cannot create the folder " + target.Root +
                                           "; nothing was installed"));
    std::vector<FolderLock> locks;
    if (Result locked = detail::LockTarget(target, locks); !locked)
        return failed(Result::EntryFailure(locked.Message + "; nothing was installed"));
    try {
        return Run(target, request);
    } catch (const std::exception& e) {
        return failed(Result::EntryFailure(std::string("The install stopped: ") + e.what() +
                                           "; nothing was installed"));
    }
}

RemovalReport RemoveInstall(const InstallTarget& target, const std::string& what,
                            const FileProgress& progress) {
    RemovalReport report;
    std::vector<FolderLock> locks;
    if (Result locked = detail::LockTarget(target, locks); !locked) {
        report.Outcome = Result::EntryFailure(locked.Message + "; nothing was removed");
        return report;
    }
    const auto own = [&](const InstallRecord& r) {
        return detail::ForeignKind(r, target.Editor).empty();
    };
    std::optional<InstallRecord> found = FindInstallRecord(target.Root, what, own);
    // An update cut short after its commit: the recovery finishes it, and what is removed is
    // the version that took its place, under its name now or its own.
    std::vector<std::string> keys;
    if (found) {
        keys.push_back(found->Key);
        for (const InstallRecord& r : ListInstallRecords(target.Root))
            if (r.State == RecordState::Installed && r.Earlier == found->Sequence)
                keys.push_back(r.Key);
    }
    std::vector<std::string> takenBack, updates;
    if (Result pending =
            detail::Recover(target, found ? found->Key : std::string(), &takenBack, &updates);
        !pending) {
        report.Outcome = pending;
        return report;
    }
    found.reset();
    for (const std::string& key : keys)
        if (!found)
            found = FindInstallRecord(target.Root, key, own);
    if (!found) {
        report.Outcome =
            Result::EntryFailure("No install of " + what + " is recorded in " + target.Root);
        report.TakenBack = std::move(takenBack);
        report.UpdatesTakenBack = std::move(updates);
        return report;
    }
    // Its own interrupted install or removal is finished (or undone) by this run.
    try {
        report = detail::RunRemoval(target.Root, *found, detail::ReadRecords(target.Root), progress,
                                    false, target.Editor);
    } catch (const std::exception& e) {
        report.Outcome = Result::EntryFailure(e.what() + std::string("; nothing was removed"));
    }
    if (found->State == RecordState::Installing && report.Outcome) // told as what it was
        takenBack.push_back(report.Plugin);
    report.TakenBack = std::move(takenBack);
    report.UpdatesTakenBack = std::move(updates);
    detail::SweepRecordFolder(target.Root);
    return report;
}

Result CompletePendingWork(const InstallTarget& target) {
    std::vector<FolderLock> locks;
    if (Result locked = detail::LockTarget(target, locks); !locked)
        return locked;
    return detail::Recover(target, {});
}

} // namespace qvr
