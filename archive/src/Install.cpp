#include "qvr/Install.h"

#include "platform.h"
#include "qvr/FileUtils.h"
#include "qvr/PathRules.h"

#include <exception>
#include <filesystem>
#include <map>
#include <system_error>
#include <unordered_map>

namespace fs = std::filesystem;

namespace qvr {
namespace {

// Letter case folded the way the game's own file system sees names: ASCII and the accented
// letters that Windows-1252 can hold (all that an archive name can carry).
std::string FoldCase(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size(); ++i) {
        auto c = static_cast<unsigned char>(utf8[i]);
        if (c >= 'A' && c <= 'Z') {
            out += static_cast<char>(c + 32);
            continue;
        }
        if (i + 1 < utf8.size()) {
            auto d = static_cast<unsigned char>(utf8[i + 1]);
            if (c == 0xC3 && d >= 0x80 && d <= 0x9E && d != 0x97) { // À..Þ except ×
                out += static_cast<char>(c);
                out += static_cast<char>(d + 0x20);
                ++i;
                continue;
            }
            if (c == 0xC5 && (d == 0xA0 || d == 0x92 || d == 0xBD)) { // Š Œ Ž
                out += static_cast<char>(c);
                out += static_cast<char>(d + 1);
                ++i;
                continue;
            }
            if (c == 0xC5 && d == 0xB8) { // Ÿ
                out += "\xC3\xBF";
                ++i;
                continue;
            }
        }
        out += static_cast<char>(c);
    }
    return out;
}

// Finds existing names under another letter case. Each folder is listed at most once per
// object, so an install of many files into one folder stays cheap.
class CaseResolver {
public:
    // The name as it exists in folder (exact spelling first), or "" when nothing matches.
    std::string Find(const fs::path& folder, const std::string& name) {
        std::error_code ec;
        if (fs::exists(folder / platform::ToNative(name), ec))
            return name;
#ifdef _WIN32
        return {};
#else
        const auto& listing = Listing(folder);
        auto it = listing.find(FoldCase(name));
        return it == listing.end() ? std::string() : it->second;
#endif
    }

    // Tells the resolver that name now exists in folder.
    void Note(const fs::path& folder, const std::string& name) {
        auto it = m_listings.find(folder.native());
        if (it != m_listings.end())
            it->second.emplace(FoldCase(name), name);
    }

private:
    const std::map<std::string, std::string>& Listing(const fs::path& folder) {
        auto [it, fresh] = m_listings.try_emplace(folder.native());
        if (fresh) {
            std::error_code ec;
            for (fs::directory_iterator d(folder, ec), end; !ec && d != end; d.increment(ec)) {
                std::string actual = platform::FromNative(d->path().filename());
                auto [slot, added] = it->second.emplace(FoldCase(actual), actual);
                // Two spellings of one name (possible on Linux): take the same one every time.
                if (!added && actual < slot->second)
                    slot->second = actual;
            }
        }
        return it->second;
    }

    std::unordered_map<fs::path::string_type, std::map<std::string, std::string>> m_listings;
};

std::vector<std::string> SplitLevels(const std::string& filePath) {
    std::vector<std::string> levels;
    size_t start = 0;
    while (start <= filePath.size() && !filePath.empty()) {
        size_t end = filePath.find('\\', start);
        if (end == std::string::npos)
            end = filePath.size();
        levels.push_back(filePath.substr(start, end - start));
        start = end + 1;
    }
    return levels;
}

struct Resolved {
    fs::path Target;
    std::string Refusal; // not empty when the entry must not be touched
};

// The target of an entry below dataFolder; with create, missing folders are made on the way.
// Throws std::runtime_error with a message for the user when a folder cannot be made.
Resolved Resolve(CaseResolver& cases, const std::string& dataFolder, const sgFileInfo& entry,
                 bool create) {
    Resolved r;
    std::string why;
    if (!IsSafeEntryPath(entry.FilePath(), entry.FileName(), &why)) {
        r.Refusal = why.empty() ? std::string("its path leaves the data folder") : why;
        return r;
    }
    const fs::path root = platform::ToNative(dataFolder);
    if (create) {
        std::error_code ec;
        fs::create_directories(root, ec);
        if (!fs::is_directory(root))
            throw std::runtime_error("cannot create the data folder " + dataFolder +
                                     (ec ? ": " + ec.message() : std::string()));
    }
    fs::path current = root;
    for (const std::string& level : SplitLevels(entry.FilePath())) {
        std::string actual = cases.Find(current, level);
        if (actual.empty())
            actual = level;
        fs::path next = current / platform::ToNative(actual);
        if (create) {
            std::error_code ec;
            if (!fs::is_directory(next, ec)) {
                if (fs::exists(fs::symlink_status(next, ec)))
                    throw std::runtime_error("cannot create the folder " +
                                             platform::FromNative(next) +
                                             ": a file of that name is in the way");
                fs::create_directory(next, ec);
                if (ec)
                    throw std::runtime_error("cannot create the folder " +
                                             platform::FromNative(next) + ": " + ec.message());
                cases.Note(current, actual);
            }
        }
        current = next;
    }
    std::string name = cases.Find(current, entry.FileName());
    r.Target = current / platform::ToNative(name.empty() ? entry.FileName() : name);
    // Whatever the name rules let through, the result must still lie below the data folder.
    fs::path rel = platform::WithoutLongPathPrefix(r.Target).lexically_normal().lexically_relative(
        platform::WithoutLongPathPrefix(root).lexically_normal());
    if (rel.empty() || *rel.begin() == ".." || rel.is_absolute())
        r.Refusal = "its path leaves the data folder";
    return r;
}

std::string Refused(const sgFileInfo& entry, const std::string& why, const char* what) {
    return EntryDisplayPath(entry) + ": refused: " + why + "; nothing was " + what;
}

EntryResult InstallOne(Archives& arc, const sgFileInfo& entry, const std::string& dataFolder,
                       const OverwriteQuestion& ask, CaseResolver& cases) {
    EntryResult result;
    result.Entry = entry;
    if (arc.IsInfoEntry(entry)) {
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
        result.Target = platform::FromNative(where.Target);
        std::error_code ec;
        if (fs::is_directory(where.Target, ec)) {
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
        if (!arc.ExtractEntry(entry, result.Target, true)) {
            result.Outcome = EntryOutcome::Failed;
            result.Message = EntryDisplayPath(entry) + ": could not write " + result.Target +
                             (arc.LastError.empty() ? std::string() : ": " + arc.LastError);
            return result;
        }
        cases.Note(where.Target.parent_path(), platform::FromNative(where.Target.filename()));
        result.Outcome = EntryOutcome::Installed;
    } catch (const std::exception& e) {
        result.Outcome = EntryOutcome::Failed;
        result.Message = EntryDisplayPath(entry) + ": " + e.what();
    }
    return result;
}

EntryResult RemoveOne(const Archives& arc, const sgFileInfo& entry, const std::string& dataFolder,
                      CaseResolver& cases) {
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
        result.Target = platform::FromNative(where.Target);
        std::error_code ec;
        auto status = fs::symlink_status(where.Target, ec);
        if (!fs::exists(status)) {
            result.Outcome = EntryOutcome::Skipped;
            result.Message =
                EntryDisplayPath(entry) + ": not installed (no file " + result.Target + ")";
            return result;
        }
        if (fs::is_directory(where.Target, ec)) {
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
        if (!fs::remove(where.Target, ec) || ec) {
            result.Outcome = EntryOutcome::Failed;
            result.Message = EntryDisplayPath(entry) + ": could not delete " + result.Target +
                             (ec ? ": " + ec.message() : std::string());
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
    return entry.FilePath().empty() ? entry.FileName() : entry.FilePath() + "\\" + entry.FileName();
}

std::string TargetPath(const std::string& dataFolder, const sgFileInfo& entry, std::string* why) {
    CaseResolver cases;
    Resolved r = Resolve(cases, dataFolder, entry, false);
    if (!r.Refusal.empty()) {
        if (why)
            *why = r.Refusal;
        return {};
    }
    return platform::FromNative(r.Target);
}

std::string FindCaseInsensitive(const std::string& folder, const std::string& name) {
    CaseResolver cases;
    const fs::path dir = platform::ToNative(folder);
    std::string actual = cases.Find(dir, name);
    return actual.empty() ? std::string() : platform::FromNative(dir / platform::ToNative(actual));
}

bool HasMorrowindEsm(const std::string& dataFolder) {
    std::string path = FindCaseInsensitive(dataFolder, "Morrowind.esm");
    return !path.empty() && FileExists(path);
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
    for (const sgFileInfo& entry : entries) {
        results.push_back(InstallOne(arc, entry, dataFolder, ask, cases));
        if (progress)
            progress(results.back(), results.size(), entries.size());
    }
    return results;
}

EntryResult RemoveInstalledFile(const Archives& arc, const sgFileInfo& entry,
                                const std::string& dataFolder) {
    CaseResolver cases;
    return RemoveOne(arc, entry, dataFolder, cases);
}

std::vector<EntryResult> RemoveInstalledFiles(const Archives& arc, const std::string& dataFolder,
                                              const EntryProgress& progress) {
    const std::vector<sgFileInfo> entries = arc.ArchiveFiles;
    std::vector<EntryResult> results;
    results.reserve(entries.size());
    CaseResolver cases;
    for (const sgFileInfo& entry : entries) {
        results.push_back(RemoveOne(arc, entry, dataFolder, cases));
        if (progress)
            progress(results.back(), results.size(), entries.size());
    }
    return results;
}

} // namespace qvr
