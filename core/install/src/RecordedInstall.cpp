#include "qvr/install/RecordedInstall.h"
#include "qvr/platform/WorkFiles.h"

#include "qvr/install/Engine.h"
#include "qvr/install/detail/Backups.h"
#include "qvr/install/detail/EngineSteps.h"
#include "qvr/install/detail/InstallFiles.h"
#include "qvr/install/detail/InstallPaths.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/detail/platform.h"
#include "qvr/sources/Source.h"

#include <algorithm>
#include <map>
#include <set>
#include <system_error>
#include <unordered_map>
#include <utility>

namespace fs = std::filesystem;

namespace qvr {

using detail::FoldCase;

size_t RemovalReport::Count(FileFate fate) const {
    size_t n = 0;
    for (const FileResult& f : Files)
        n += f.Fate == fate;
    return n;
}

namespace {

std::string MemberPathOf(const sgFileInfo& e) {
    std::string path = e.FilePath().empty() ? e.FileName() : e.FilePath() + "\\" + e.FileName();
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

// Every entry but the information entry, placed as itself; entryOf maps each placed file back.
std::vector<sources::Placed> PlaceEntries(const Archives& arc,
                                          const std::vector<sources::Member>& listed,
                                          std::vector<size_t>& entryOf) {
    std::unordered_map<std::string, size_t> members;
    for (size_t i = 0; i < listed.size(); ++i)
        members.emplace(listed[i].Path, i);
    std::vector<sources::Placed> placed;
    for (size_t i = 0; i < arc.ArchiveFiles.size(); ++i) {
        const sgFileInfo& e = arc.ArchiveFiles[i];
        if (arc.IsInfoEntry(e) || Archives::LooksLikeInfoEntry(e))
            continue;
        const std::string path = MemberPathOf(e);
        auto it = members.find(path);
        // One the source refused is refused again, and told why, when its place is resolved.
        placed.push_back({it == members.end() ? SIZE_MAX : it->second, path});
        entryOf.push_back(i);
    }
    return placed;
}

// The files whose entries the package's source refused (a name given twice, a size below zero):
// taken out of the install, each entry's result made with the source's reason.
std::map<size_t, EntryResult> TakeOutRefused(const sources::Source& source,
                                             const std::vector<sgFileInfo>& entries,
                                             std::vector<sources::Placed>& files,
                                             std::vector<size_t>& entryOf) {
    std::map<std::string, std::string> why; // member path -> reason
    for (const sources::Refusal& r : source.Refused()) {
        std::string path = r.Path;
        std::replace(path.begin(), path.end(), '\\', '/');
        why.emplace(std::move(path), r.Why);
    }
    std::map<size_t, EntryResult> out;
    size_t kept = 0;
    for (size_t k = 0; k < files.size(); ++k) {
        if (files[k].Member != SIZE_MAX) {
            if (kept != k) {
                files[kept] = std::move(files[k]);
                entryOf[kept] = entryOf[k];
            }
            ++kept;
            continue;
        }
        const sgFileInfo& e = entries[entryOf[k]];
        const auto it = why.find(files[k].Target);
        out[entryOf[k]] = {e,
                           EntryOutcome::Refused,
                           {},
                           EntryDisplayPath(e) + ": refused: " +
                               (it != why.end() ? it->second : "the package cannot give it") +
                               "; nothing was written"};
    }
    files.resize(kept);
    entryOf.resize(kept);
    return out;
}

} // namespace

PreparedPackage PreparePackage(const Archives& arc) {
    PreparedPackage prepared;
    prepared.Listing = sources::ListPackage(arc);
    if (prepared.Listing)
        prepared.Files =
            PlaceEntries(arc, sources::ListedMembers(prepared.Listing), prepared.EntryOf);
    return prepared;
}

InstallReport InstallRecorded(Archives& arc, const std::string& dataFolder,
                              const OverwriteQuestion& ask, const EntryProgress& progress, unsigned,
                              const TakeBackQuestion& takeBack) {
    return InstallRecorded(arc, InstallTarget{dataFolder, {}, nullptr, {}}, ask, progress, takeBack,
                           {});
}

InstallReport InstallRecorded(Archives& arc, const InstallTarget& target,
                              const OverwriteQuestion& ask, const EntryProgress& progress,
                              const TakeBackQuestion& takeBack, const EditsFor& edits,
                              const TimesFor& times, PreparedPackage prepared) {
    InstallReport report;
    if (arc.ZipLoaded) {
        report.Entries = InstallArchive(arc, target.Root, ask, progress);
        report.Outcome = Result::Unusable("Files of a zip archive are only listed");
        return report;
    }
    const std::vector<sgFileInfo> entries = arc.ArchiveFiles; // see InstallArchive
    // A listing made from other entries (or none) is made anew as the package is opened, and
    // its entries placed after.
    bool placed = false;
    sources::Opened opened = sources::OpenPackage(arc, std::move(prepared.Listing), &placed);
    if (!opened.Outcome) {
        report.Entries.resize(entries.size());
        report.Outcome = opened.Outcome;
        return report;
    }
    std::vector<size_t> entryOf = placed ? std::move(prepared.EntryOf) : std::vector<size_t>{};
    InstallRequest request;
    request.Source = opened.Archive.get();
    request.Files =
        placed ? std::move(prepared.Files) : PlaceEntries(arc, opened.Archive->Members(), entryOf);
    const std::map<size_t, EntryResult> refused =
        TakeOutRefused(*opened.Archive, entries, request.Files, entryOf);
    request.Archive = platform::FileNamePart(arc.CurrentArchive);
    request.Name = arc.PluginInfo.PluginName();
    request.Version = arc.PluginInfo.Version();
    request.TakeBack = takeBack;
    request.Edits = edits;
    request.Times = times;
    // Made at the first question: an install over ten thousand files asks ten thousand times.
    std::unordered_map<std::string, size_t> fileOf;
    request.Ask = [&](const sgFileInfo& placed, const std::string& target) {
        if (fileOf.empty())
            for (size_t k = 0; k < request.Files.size(); ++k)
                fileOf.emplace(request.Files[k].Target, k);
        if (const auto it = fileOf.find(MemberPathOf(placed)); it != fileOf.end())
            return ask && ask(entries[entryOf[it->second]], target);
        return ask && ask(placed, target);
    };
    // The information entries and the refused files are told first, then the files as the
    // engine handles them.
    std::vector<bool> isFile(entries.size(), false);
    for (size_t i : entryOf)
        isFile[i] = true;
    auto toldFirst = [&](size_t i) {
        const auto it = refused.find(i);
        return it != refused.end() ? it->second
                                   : EntryResult{entries[i], EntryOutcome::InfoEntry, {}, {}};
    };
    size_t told = 0;
    auto tellInfo = [&] {
        bool goOn = true;
        for (size_t i = 0; i < entries.size(); ++i)
            if (!isFile[i])
                goOn = progress(toldFirst(i), ++told, entries.size()) && goOn;
        return goOn;
    };
    bool infoTold = false;
    request.Progress = [&](size_t file, const EntryResult& r, size_t, size_t) {
        if (!std::exchange(infoTold, true) && !tellInfo())
            return false;
        return progress({entries[entryOf[file]], r.Outcome, r.Target, r.Message}, ++told,
                        entries.size());
    };
    InstallReport done = InstallMembers(target, request);
    report.Outcome = done.Outcome;
    report.Cancelled = done.Cancelled;
    report.Earlier = std::move(done.Earlier);
    report.TakenBack = std::move(done.TakenBack);
    report.UpdatesTakenBack = std::move(done.UpdatesTakenBack);
    report.WrittenThenTakenBack = done.WrittenThenTakenBack;
    if (!infoTold && report.Outcome)
        tellInfo();
    // Made only now, in memory the install has given back: an entry each is megabytes.
    report.Entries.resize(entries.size());
    for (size_t k = 0; k < done.Entries.size(); ++k) {
        report.Entries[entryOf[k]] = std::move(done.Entries[k]);
        report.Entries[entryOf[k]].Entry = entries[entryOf[k]];
    }
    for (size_t i = 0; i < entries.size(); ++i)
        if (!isFile[i])
            report.Entries[i] = toldFirst(i);
    return report;
}

RemovalReport PlanRemoval(const std::string& dataFolder, const std::string& what) {
    if (std::optional<InstallRecord> found = FindInstallRecord(dataFolder, what))
        return detail::RunRemoval(dataFolder, *found, ListInstallRecords(dataFolder), {}, true);
    RemovalReport report;
    report.Outcome =
        Result::EntryFailure("No install of " + what + " is recorded in " + dataFolder);
    return report;
}

RemovalReport RemoveByRecord(const std::string& dataFolder, const std::string& what,
                             const FileProgress& progress) {
    return RemoveInstall(InstallTarget{dataFolder, {}, nullptr, {}}, what, progress);
}

std::optional<InstallRecord> FindRecordOf(const Archives& arc, const std::string& dataFolder) {
    const std::string archiveName = platform::FileNamePart(arc.CurrentArchive);
    std::vector<InstallRecord> records = ListInstallRecords(dataFolder);
    for (InstallRecord& r : records)
        if (IsRecordOf(r, archiveName))
            return std::move(r);
    // A copy saved under another name (a second download, "Mod (1).qvr"): the same plug-in,
    // and nothing recorded that the archive does not hold.
    const std::string plugin = FoldCase(arc.PluginInfo.PluginName());
    std::set<std::string> entries;
    for (const sgFileInfo& e : arc.ArchiveFiles)
        if (!arc.IsInfoEntry(e))
            entries.insert(FoldCase(EntryDisplayPath(e)));
    for (InstallRecord& r : records)
        if (!plugin.empty() && FoldCase(r.Name) == plugin && !r.Files.empty() &&
            std::all_of(r.Files.begin(), r.Files.end(),
                        [&](const RecordedFile& f) { return entries.count(FoldCase(f.Path)) > 0; }))
            return std::move(r);
    return std::nullopt;
}

RemovalReport RemovePlugin(Archives& arc, const std::string& dataFolder,
                           const FileProgress& progress) {
    return RemovePlugin(arc, InstallTarget{dataFolder, {}, nullptr, {}}, progress);
}

RemovalReport RemovePlugin(Archives& arc, const InstallTarget& target,
                           const FileProgress& progress) {
    const std::string& dataFolder = target.Root;
    if (std::optional<InstallRecord> found = FindRecordOf(arc, dataFolder))
        return RemoveInstall(target, found->Key, progress);
    RemovalReport report;
    std::vector<FolderLock> locks;
    if (Result locked = detail::LockTarget(target, locks); !locked) {
        report.Outcome = Result::EntryFailure(locked.Message + "; nothing was removed");
        return report;
    }
    if (Result pending = detail::Recover(target, {}, &report.TakenBack, &report.UpdatesTakenBack);
        !pending) {
        report.Outcome = pending;
        return report;
    }
    report.Plugin = arc.PluginInfo.PluginName().empty() ? platform::FileNamePart(arc.CurrentArchive)
                                                        : arc.PluginInfo.PluginName();
    // A file another install replaced waits in the backups: deleting it by content would leave
    // the original hidden there.
    std::vector<std::string> unread;
    const std::vector<InstallRecord> records = ListInstallRecords(dataFolder, &unread);
    // A record that cannot be read may be this plug-in's own, with originals in the backups
    // that only it can put back: nothing is removed by content until it is mended.
    if (!unread.empty()) {
        report.Outcome = Result::EntryFailure(
            unread.front() + "; no file was removed by content either: mend or delete it first");
        return report;
    }
    std::map<std::string, std::string> keptBy;
    for (const InstallRecord& r : records)
        for (const RecordedFile& f : r.Files)
            if (f.Replaced)
                keptBy.emplace(FoldCase(f.Path), r.Name.empty() ? r.Archive : r.Name);
    EntryProgress each = [&](const EntryResult& r, size_t done, size_t count) {
        if (r.Outcome == EntryOutcome::InfoEntry)
            return true;
        FileResult f;
        f.Path = EntryDisplayPath(r.Entry);
        f.Message = r.Message;
        f.Fate = r.Outcome == EntryOutcome::Installed               ? FileFate::Removed
                 : r.Outcome == EntryOutcome::Failed                ? FileFate::Failed
                 : r.Message.find(" was kept") != std::string::npos ? FileFate::Kept
                                                                    : FileFate::Absent;
        report.Files.push_back(f);
        return !progress || progress(f, done, count);
    };
    detail::RemoveByContent(arc, dataFolder, each, keptBy);
    if (size_t failed = report.Count(FileFate::Failed); failed > 0)
        report.Outcome = Result::EntryFailure(std::to_string(failed) + " file(s) of " +
                                              report.Plugin + " could not be deleted");
    return report;
}

Result CompletePendingWork(const std::string& dataFolder, const std::string& ownKey) {
    const InstallTarget target{dataFolder, {}, nullptr, {}};
    std::vector<FolderLock> locks;
    if (Result locked = detail::LockTarget(target, locks); !locked)
        return locked;
    return detail::Recover(target, ownKey);
}

} // namespace qvr
