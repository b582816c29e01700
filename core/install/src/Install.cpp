#include "qvr/install/Install.h"

#include "qvr/format/PathRules.h"
#include "qvr/install/detail/InstallFiles.h"
#include "qvr/install/detail/InstallPaths.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/detail/platform.h"

#include <exception>
#include <filesystem>
#include <map>
#include <system_error>
#include <unordered_map>

namespace fs = std::filesystem;

namespace qvr {
namespace {

using detail::CaseResolver;
using detail::Resolve;
using detail::Resolved;

std::string Refused(const sgFileInfo& entry, const std::string& why, const char* what) {
    return EntryDisplayPath(entry) + ": refused: " + why + "; nothing was " + what;
}

EntryResult InstallOne(Archives& arc, const sgFileInfo& entry, const std::string& dataFolder,
                       const OverwriteQuestion& ask, CaseResolver& cases) {
    EntryResult result;
    result.Entry = entry;
    if (arc.IsInfoEntry(entry) || (!arc.ZipLoaded && Archives::LooksLikeInfoEntry(entry))) {
        result.Outcome = EntryOutcome::InfoEntry;
        return result;
    }
    try {
        if (arc.ZipLoaded) {
            result.Outcome = EntryOutcome::Failed;
            result.Message = EntryDisplayPath(entry) +
                             ": cannot be installed: files of a zip archive are only listed";
            return result;
        }
        Resolved where = Resolve(cases, dataFolder, entry, true);
        if (!where.Refusal.empty()) {
            result.Outcome = EntryOutcome::Refused;
            result.Message = Refused(entry, where.Refusal, "written");
            return result;
        }
        result.Target = where.Target;
        const fs::path native = platform::ToNative(where.Target);
        std::error_code ec;
        if (fs::is_directory(native, ec)) {
            result.Outcome = EntryOutcome::Failed;
            result.Message = EntryDisplayPath(entry) + ": cannot write " + result.Target +
                             ": a folder of that name is in the way";
            return result;
        }
        if (FileExists(result.Target) && !(ask && ask(entry, result.Target))) {
            result.Outcome = EntryOutcome::Skipped;
            result.Message =
                EntryDisplayPath(entry) + ": " + result.Target + " already exists and was kept";
            return result;
        }
        if (const Result extracted = arc.ExtractEntry(entry, result.Target, true); !extracted) {
            result.Outcome = EntryOutcome::Failed;
            result.Message = EntryDisplayPath(entry) + ": could not write " + result.Target +
                             (extracted.Message.empty() ? std::string() : ": " + extracted.Message);
            return result;
        }
        cases.Note(native.parent_path(), platform::FromNative(native.filename()));
        result.Outcome = EntryOutcome::Installed;
    } catch (const std::exception& e) {
        result.Outcome = EntryOutcome::Failed;
        result.Message = EntryDisplayPath(entry) + ": " + e.what();
    }
    return result;
}

EntryResult RemoveOne(Archives& arc, const sgFileInfo& entry, const std::string& dataFolder,
                      CaseResolver& cases, const std::map<std::string, std::string>& keptBy) {
    EntryResult result;
    result.Entry = entry;
    if (arc.IsInfoEntry(entry)) {
        result.Outcome = EntryOutcome::InfoEntry;
        return result;
    }
    try {
        Resolved where = Resolve(cases, dataFolder, entry, false);
        if (!where.Refusal.empty()) {
            result.Outcome = EntryOutcome::Refused;
            result.Message = Refused(entry, where.Refusal, "deleted");
            return result;
        }
        result.Target = where.Target;
        const fs::path native = platform::ToNative(where.Target);
        std::error_code ec;
        auto status = fs::symlink_status(native, ec);
        if (!fs::exists(status)) {
            result.Outcome = EntryOutcome::Skipped;
            result.Message =
                EntryDisplayPath(entry) + ": not installed (no file " + result.Target + ")";
            return result;
        }
        if (fs::is_directory(native, ec)) {
            result.Outcome = EntryOutcome::Skipped;
            result.Message = EntryDisplayPath(entry) + ": " + result.Target +
                             " is a folder; folders are never removed";
            return result;
        }
        if (!FileExists(result.Target)) {
            result.Outcome = EntryOutcome::Skipped;
            result.Message =
                EntryDisplayPath(entry) + ": " + result.Target + " is empty and was left in place";
            return result;
        }
        if (auto held = keptBy.find(detail::FoldCase(EntryDisplayPath(entry)));
            held != keptBy.end()) {
            result.Outcome = EntryOutcome::Skipped;
            result.Message = EntryDisplayPath(entry) + ": " + result.Target +
                             " was kept: the install of " + held->second +
                             " keeps the file it replaced; removing " + held->second +
                             " puts that back";
            return result;
        }
        std::string why;
        if (!detail::HoldsMember(arc, entry, result.Target, why)) {
            result.Outcome = EntryOutcome::Skipped;
            result.Message = EntryDisplayPath(entry) + ": " + result.Target + " was kept: " + why;
            return result;
        }
        if (!detail::RemoveFile(native, &why)) {
            result.Outcome = EntryOutcome::Failed;
            result.Message =
                EntryDisplayPath(entry) + ": could not delete " + result.Target + ": " + why;
            return result;
        }
        result.Outcome = EntryOutcome::Installed;
    } catch (const std::exception& e) {
        result.Outcome = EntryOutcome::Failed;
        result.Message = EntryDisplayPath(entry) + ": " + e.what();
    }
    return result;
}

} // namespace

std::string EntryDisplayPath(const sgFileInfo& entry) {
    if (entry.FilePath().empty() && entry.FileName().empty())
        return "(an entry without a name)";
    return entry.FilePath().empty() ? entry.FileName() : entry.FilePath() + "\\" + entry.FileName();
}

Result TargetPath(const std::string& dataFolder, const sgFileInfo& entry, std::string& target) {
    try {
        CaseResolver cases;
        Resolved r = Resolve(cases, dataFolder, entry, false);
        if (!r.Refusal.empty())
            return Result::EntryFailure(r.Refusal);
        target = r.Target;
        return Result::Success();
    } catch (const std::exception& e) {
        return Result::EntryFailure(e.what());
    }
}

std::string FindCaseInsensitive(const std::string& folder, const std::string& name) {
    CaseResolver cases;
    const fs::path dir = platform::ToNative(folder);
    std::string actual = cases.Find(dir, name);
    return actual.empty() ? std::string() : platform::FromNative(dir / platform::ToNative(actual));
}

bool HasMorrowindEsm(const std::string& dataFolder) {
    // Any file of that name, as a game folder is found (an empty one is a game's too).
    std::string path = FindCaseInsensitive(dataFolder, "Morrowind.esm");
    std::error_code ec;
    return !path.empty() && std::filesystem::is_regular_file(platform::ToNative(path), ec);
}

EntryResult InstallFile(Archives& arc, const sgFileInfo& entry, const std::string& dataFolder,
                        const OverwriteQuestion& ask) {
    CaseResolver cases;
    return InstallOne(arc, entry, dataFolder, ask, cases);
}

std::vector<EntryResult> InstallArchive(Archives& arc, const std::string& dataFolder,
                                        const OverwriteQuestion& ask,
                                        const EntryProgress& progress) {
    // A copy: a caller's window may open another archive while this one installs.
    const std::vector<sgFileInfo> entries = arc.ArchiveFiles;
    std::vector<EntryResult> results;
    results.reserve(entries.size());
    CaseResolver cases;
    // One handle for the whole install: a package another program rewrites meanwhile is
    // either read as it was when the install began, or not at all.
    ReadingScope reading(arc);
    for (const sgFileInfo& entry : entries) {
        if (!reading.Outcome()) {
            EntryResult failed;
            failed.Entry = entry;
            failed.Outcome = EntryOutcome::Failed;
            failed.Message = EntryDisplayPath(entry) + ": " + reading.Outcome().Message;
            results.push_back(failed);
        } else {
            results.push_back(InstallOne(arc, entry, dataFolder, ask, cases));
        }
        if (!progress(results.back(), results.size(), entries.size()))
            break;
    }
    return results;
}

EntryResult RemoveInstalledFile(const Archives& arc, const sgFileInfo& entry,
                                const std::string& dataFolder) {
    CaseResolver cases;
    Archives reader = arc; // the comparison inflates the member; the caller's object stays as it is
    return RemoveOne(reader, entry, dataFolder, cases, {});
}

std::vector<EntryResult> RemoveInstalledFiles(const Archives& arc, const std::string& dataFolder,
                                              const EntryProgress& progress) {
    return detail::RemoveByContent(arc, dataFolder, progress, {});
}

std::vector<EntryResult> detail::RemoveByContent(const Archives& arc, const std::string& dataFolder,
                                                 const EntryProgress& progress,
                                                 const std::map<std::string, std::string>& keptBy) {
    Archives reader = arc;
    const std::vector<sgFileInfo> entries = arc.ArchiveFiles;
    std::vector<EntryResult> results;
    results.reserve(entries.size());
    CaseResolver cases;
    for (const sgFileInfo& entry : entries) {
        results.push_back(RemoveOne(reader, entry, dataFolder, cases, keptBy));
        if (!progress(results.back(), results.size(), entries.size()))
            break;
    }
    return results;
}

} // namespace qvr
