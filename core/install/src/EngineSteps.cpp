#include "qvr/install/detail/EngineSteps.h"

#include "qvr/format/PathRules.h"
#include "qvr/install/detail/Backups.h"
#include "qvr/install/detail/InstallFiles.h"
#include "qvr/install/detail/InstallPaths.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/FolderLock.h"
#include "qvr/platform/WorkFiles.h"
#include "qvr/platform/detail/platform.h"

#include <algorithm>
#include <string_view>
#include <system_error>
#include <unordered_map>

namespace fs = std::filesystem;

namespace qvr::detail {
namespace {

EntryResult Outcome(const sgFileInfo& entry, EntryOutcome outcome, std::string message = {}) {
    EntryResult r;
    r.Entry = entry;
    r.Outcome = outcome;
    r.Message = std::move(message);
    return r;
}

// Folders below root that the file at `recorded` needs and that do not exist yet, and the links
// to folders (the player's own) it is written through; each folder is looked at once.
void NoteFolders(const std::string& recorded, const std::string& root,
                 std::set<std::string, std::less<>>& checked, InstallRecord& record) {
    std::error_code ec;
    for (size_t cut = recorded.rfind('\\'); cut != std::string::npos && cut > 0;
         cut = recorded.rfind('\\', cut - 1)) {
        if (checked.contains(std::string_view(recorded).substr(0, cut)))
            return;
        std::string folder = recorded.substr(0, cut);
        checked.insert(folder);
        const fs::file_status status = fs::symlink_status(DataPath(root, folder), ec);
        if (!fs::exists(status))
            record.Folders.push_back(std::move(folder));
        else if (fs::is_symlink(status))
            record.Links.push_back(std::move(folder));
    }
}

// One entry's place in the plan; false (with result set) when it is not written.
bool PlanOne(CaseResolver& cases, const sgFileInfo& entry, const std::string& root,
             const OverwriteQuestion& ask, const std::set<std::string>& replaceUnasked,
             const std::unordered_map<std::string, size_t>& taken, EntryResult& result, Planned& p,
             std::string& key) {
    Resolved where = Resolve(cases, root, entry, false);
    if (!where.Refusal.empty()) {
        result = Outcome(entry, EntryOutcome::Refused,
                         EntryDisplayPath(entry) + ": refused: " + where.Refusal +
                             "; nothing was written");
        return false;
    }
    result.Target = where.Target;
    std::error_code ec;
    if (!where.Absent && fs::is_directory(platform::ToNative(where.Target), ec)) {
        result.Outcome = EntryOutcome::Failed;
        result.Message = EntryDisplayPath(entry) + ": cannot write " + result.Target +
                         ": a folder of that name is in the way";
        return false;
    }
    p.Target = std::move(where.Target);
    p.Path = std::move(where.Relative);
    key = FoldCase(p.Path);
    if (taken.count(key)) {
        result.Message =
            EntryDisplayPath(entry) + ": another entry of the archive writes " + result.Target;
        return false;
    }
    const fs::file_status status = where.Absent
                                       ? fs::file_status(fs::file_type::not_found)
                                       : fs::symlink_status(platform::ToNative(p.Target), ec);
    // A link is the player's own setup (a plug-in kept on another disk): moved aside it would
    // dangle and could not be put back as it was, and written through it would reach outside.
    if (fs::is_symlink(status)) {
        result.Outcome = EntryOutcome::Refused;
        result.Message = EntryDisplayPath(entry) + ": " + result.Target +
                         " is a link, which an install never replaces; it was left as it is";
        return false;
    }
    if (fs::exists(status)) {
        // An empty file is no one's work: it is replaced without a question.
        if (FileExists(result.Target) && !replaceUnasked.count(key) &&
            !(ask && ask(entry, result.Target))) {
            result.Message =
                EntryDisplayPath(entry) + ": " + result.Target + " already exists and was kept";
            return false;
        }
        p.Replaced = true;
        p.Backup.BackupKnown =
            FileCrc(platform::ToNative(p.Target), p.Backup.BackupSize, p.Backup.BackupCrc);
    }
    return true;
}

} // namespace

std::vector<Planned> MakePlan(const std::vector<sgFileInfo>& entries, const std::string& root,
                              const OverwriteQuestion& ask,
                              const std::set<std::string>& replaceUnasked, InstallRecord& record,
                              std::vector<EntryResult>& results) {
    std::vector<Planned> plan;
    plan.reserve(entries.size());
    std::unordered_map<std::string, size_t> taken;
    taken.reserve(entries.size());
    std::set<std::string, std::less<>> checked;
    CaseResolver cases;
    std::string key;
    for (size_t i = 0; i < entries.size(); ++i) {
        const sgFileInfo& entry = entries[i];
        EntryResult& result = results[i];
        result = Outcome(entry, EntryOutcome::Skipped);
        try {
            Planned p;
            p.Entry = i;
            if (!PlanOne(cases, entry, root, ask, replaceUnasked, taken, result, p, key))
                continue;
            NoteFolders(p.Path, root, checked, record);
            taken.emplace(std::move(key), plan.size());
            plan.push_back(std::move(p));
        } catch (const std::exception& e) {
            result =
                Outcome(entry, EntryOutcome::Failed, EntryDisplayPath(entry) + ": " + e.what());
        }
    }
    return plan;
}

void MoveOriginals(const std::string& root, int64_t sequence, const std::vector<Planned>& plan) {
    std::error_code ec;
    for (const Planned& p : plan)
        if (p.Replaced && fs::exists(fs::symlink_status(platform::ToNative(p.Target), ec))) {
            Step();
            MoveFile(platform::ToNative(p.Target), BackupPath(root, sequence, p.Path));
        }
}

namespace {

// Why a file was not written, naming it once: the reader may name the member in front of its
// reason, and the writer the target, which the line names already.
std::string FailedWrite(const EntryResult& result, const std::string& member, std::string why) {
    for (const std::string& named : {member + ": ", "Cannot write " + result.Target + ": "})
        if (named.size() > 2 && why.starts_with(named))
            why.erase(0, named.size());
    return ShownEntryPath(result.Entry.FilePath(), result.Entry.FileName()) + ": could not write " +
           result.Target + ": " + why;
}

// The file p was to replace goes back in place of one that could not be written.
void PutBack(const std::string& root, int64_t sequence, const Planned& p, EntryResult& result) {
    const fs::path backup = BackupPath(root, sequence, p.Path);
    std::error_code ec;
    try {
        if (p.Replaced && fs::exists(fs::symlink_status(backup, ec)))
            MoveFile(backup, platform::ToNative(p.Target));
    } catch (const std::exception&) {
        result.Message += "; the file it was to replace is kept at " + platform::FromNative(backup);
    }
}

} // namespace

std::vector<RecordedFile> WriteMembers(sources::Source& source,
                                       const std::vector<sources::Placed>& files,
                                       const std::vector<Planned>& plan, const std::string& root,
                                       int64_t sequence, std::vector<EntryResult>& results,
                                       const PlacedProgress& progress, size_t told,
                                       bool& cancelled) {
    std::vector<sources::Job> jobs;
    jobs.reserve(plan.size());
    // The time the archive keeps, not the install's: the original engine orders plug-ins by it.
    for (const Planned& p : plan) {
        const size_t m = files[p.Entry].Member;
        jobs.push_back({m, p.Target, true,
                        m < source.Members().size() ? source.Members()[m].Modified : std::nullopt});
    }
    std::vector<RecordedFile> written;
    written.reserve(plan.size());
    cancelled = false;
    const Result extracted = source.Extract(jobs, [&](const sources::Done& d) {
        Step();
        const Planned& p = plan[d.Job];
        EntryResult& result = results[p.Entry];
        if (d.Outcome) {
            RecordedFile file = p.Backup;
            file.Path = p.Path;
            file.Size = d.Size;
            file.Crc = d.Crc;
            file.Known = true;
            file.Replaced = p.Replaced;
            written.push_back(file);
            result.Outcome = EntryOutcome::Installed;
        } else {
            result.Outcome = EntryOutcome::Failed;
            const size_t m = files[p.Entry].Member;
            result.Message = FailedWrite(
                result, m < source.Members().size() ? source.Members()[m].Path : std::string(),
                d.Outcome.Message);
            PutBack(root, sequence, p, result);
        }
        ++told;
        cancelled = progress && !progress(p.Entry, result, told, results.size());
        return !cancelled;
    });
    if (!extracted && !cancelled)
        throw std::runtime_error(extracted.Message);
    return written;
}

bool SameArchive(const InstallRecord& r, const std::string& archiveName,
                 const std::string& plugin) {
    return IsRecordOf(r, archiveName) && FoldCase(r.Name) == FoldCase(plugin);
}

std::string FreeKey(const std::string& root, const std::string& base,
                    const std::vector<InstallRecord>& records) {
    auto taken = [&](const std::string& key) {
        std::error_code ec;
        const fs::file_status file =
            fs::symlink_status(platform::ToNative(RecordFile(root, key)), ec);
        return std::any_of(records.begin(), records.end(),
                           [&](const InstallRecord& r) { return r.Key == key; }) ||
               fs::exists(file) || (ec && file.type() != fs::file_type::not_found);
    };
    std::string key = base;
    for (int n = 2; taken(key); ++n)
        key = base + " (" + std::to_string(n) + ")";
    return key;
}

const InstallRecord* EarlierInstall(const std::vector<InstallRecord>& records,
                                    const std::string& archiveName, const std::string& plugin,
                                    const TakeBackQuestion& takeBack, bool& same) {
    same = true;
    for (const InstallRecord& r : records) // its removal may have been under way
        if (r.State != RecordState::Installing && SameArchive(r, archiveName, plugin))
            return &r;
    same = false;
    for (const InstallRecord& r : records)
        if (r.State == RecordState::Installed &&
            (IsRecordOf(r, archiveName) ||
             (!plugin.empty() && FoldCase(r.Name) == FoldCase(plugin))))
            if (takeBack && takeBack(r))
                return &r;
    return nullptr;
}

std::string ForeignKind(const InstallRecord& r, const ConfigEditor* editor) {
    for (const ConfigEdit& e : r.Edits)
        if (editor && !editor->Owns(e.Kind))
            return e.Kind;
    return {};
}

std::vector<InstallRecord> ReadRecords(const std::string& root) {
    bool complete = true;
    std::vector<InstallRecord> records = ListInstallRecords(root, nullptr, &complete);
    if (!complete)
        throw std::runtime_error("the install records in " + RecordFolder(root) +
                                 " cannot all be read");
    return records;
}

namespace {

// The committed install that takes r's place, when one does.
const InstallRecord* SuccessorOf(const std::vector<InstallRecord>& records,
                                 const InstallRecord& r) {
    for (const InstallRecord& s : records)
        if (s.State == RecordState::Installed && s.Earlier == r.Sequence && s.Sequence > r.Sequence)
            return &s;
    return nullptr;
}

Result RecoverOrThrow(const InstallTarget& target, const std::string& ownKey,
                      std::vector<std::string>* takenBack,
                      std::vector<std::string>* updatesTakenBack) {
    const std::string& root = target.Root;
    // Record texts whose rename never happened.
    std::error_code ec;
    for (fs::directory_iterator d(platform::ToNative(RecordFolder(root)), ec), end; !ec && d != end;
         d.increment(ec))
        if (d->path().extension() == ".new")
            RemoveFile(d->path());
    RemoveStaleWorkFiles(RecordFolder(root));
    for (const std::string& folder : target.AlsoLock) // a killed edit of a configuration file
        RemoveStaleWorkFiles(folder);
    // The other engine's records are its commands' to finish and check.
    auto list = [&] {
        std::vector<InstallRecord> out = ReadRecords(root);
        std::erase_if(
            out, [&](const InstallRecord& r) { return !ForeignKind(r, target.Editor).empty(); });
        return out;
    };
    // One at a time, each from the list as the one before left it (records renamed or changed).
    std::vector<InstallRecord> records = list();
    const size_t most = records.size(); // each run takes its record away
    for (size_t done = 0; done < most; ++done) {
        // An earlier install whose successor was committed goes as it would have then, the
        // caller's own too: what it names now is the successor.
        const auto pending = std::find_if(records.begin(), records.end(), [&](const auto& r) {
            return SuccessorOf(records, r) ||
                   (r.State != RecordState::Installed && r.Key != ownKey);
        });
        if (pending == records.end())
            break;
        const InstallRecord r = *pending;
        const RemovalReport removal =
            RunRemoval(root, r, records, {}, false, target.Editor, SuccessorOf(records, r));
        if (!removal.Outcome)
            return removal.Outcome;
        // An update taken back leaves the version before it installed.
        const bool update = std::any_of(records.begin(), records.end(), [&](const auto& e) {
            return r.Earlier > 0 && e.Sequence == r.Earlier && e.State == RecordState::Installed;
        });
        if (std::vector<std::string>* told = update ? updatesTakenBack : takenBack;
            told && r.State == RecordState::Installing)
            told->push_back(removal.Plugin);
        records = list();
    }
    std::erase_if(records, [&](const InstallRecord& r) {
        return r.State != RecordState::Installed && r.Key != ownKey;
    });
    if (std::any_of(records.begin(), records.end(),
                    [](const InstallRecord& r) { return !r.WrittenInBoot.empty(); }))
        if (Result confirmed = ConfirmWritten(target, std::move(records), takenBack); !confirmed)
            return confirmed;
    SweepRecordFolder(root);
    return Result::Success();
}

} // namespace

Result Recover(const InstallTarget& target, const std::string& ownKey,
               std::vector<std::string>* takenBack, std::vector<std::string>* updatesTakenBack) {
    try {
        return RecoverOrThrow(target, ownKey, takenBack, updatesTakenBack);
    } catch (const std::exception& e) {
        return Result::EntryFailure(std::string("The unfinished work in ") + target.Root +
                                    " cannot be finished: " + e.what());
    }
}

void SweepRecordFolder(const std::string& root) {
    const fs::path folder = platform::ToNative(RecordFolder(root));
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(folder, ec)))
        return;
    for (fs::directory_iterator d(folder, ec), end; !ec && d != end; d.increment(ec))
        if (d->path().filename() != "backups")
            return; // a record, readable or not, or something of the player's
    RemoveEmptyBackups(root);
    fs::remove(folder, ec); // only when empty
}

} // namespace qvr::detail
