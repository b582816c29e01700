#include "qvr/install/detail/InstallPaths.h"

#include "qvr/format/PathRules.h"

#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace qvr::detail {

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

namespace {

// A name that adds exactly one level below a folder. The entry's names passed the path rules
// and listed names come from the folder itself; checked all the same, so that no spelling of
// either can make the target leave the data folder.
bool OneLevel(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        return false;
#ifdef _WIN32
    return name.find_first_of("\\:") == std::string::npos;
#else
    return true;
#endif
}

// Windows reaches a file by its short name as well ("QVR-IN~1"): an entry may name a file only
// by its own name, or a record folder could be reached through another.
std::string ShortNameRefusal(const std::string& level, const std::string& actual) {
    return "\"" + level + "\" is another name of " + actual +
           " (its short name), which an install never reaches by another name";
}

// The entry's file in its resolved folder. Its target is made as text: a path object per file
// costs more than the rest of the planning together.
Resolved Finish(CaseResolver& cases, const CaseResolver::Folder& folder, const sgFileInfo& entry) {
    Resolved r;
    std::string name = cases.Find(folder.Native, entry.FileName());
    r.Absent = name.empty();
    if (r.Absent)
        name = entry.FileName();
    else if (FoldCase(name) != FoldCase(entry.FileName()))
        r.Refusal = ShortNameRefusal(entry.FileName(), name);
    if (!OneLevel(name))
        r.Refusal = "its path leaves the data folder";
    constexpr auto kSeparator = static_cast<char>(std::filesystem::path::preferred_separator);
    const bool separated =
        !folder.Text.empty() && (folder.Text.back() == '/' || folder.Text.back() == kSeparator);
    r.Target.reserve(folder.Text.size() + 1 + name.size());
    r.Target = folder.Text;
    if (!separated)
        r.Target += kSeparator;
    r.Target += name;
    r.Relative = folder.Relative.empty() ? std::move(name) : folder.Relative + "\\" + name;
    return r;
}

} // namespace

Resolved Resolve(CaseResolver& cases, const std::string& dataFolder, const sgFileInfo& entry,
                 bool create) {
    Resolved r;
    if (const Result safe = IsSafeEntryPath(entry.FilePath(), entry.FileName()); !safe) {
        r.Refusal =
            safe.Message.empty() ? std::string("its path leaves the data folder") : safe.Message;
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
    std::string folderKey;
    if (!create) {
        // Entries come folder by folder: the one before most often names the same.
        if (cases.Last && cases.LastFolder == entry.FilePath() && cases.LastRoot == dataFolder)
            return Finish(cases, *cases.Last, entry);
        folderKey = dataFolder + '\0' + FoldCase(entry.FilePath());
        if (auto known = cases.Folders.find(folderKey); known != cases.Folders.end()) {
            cases.Remember(dataFolder, entry.FilePath(), known->second);
            return Finish(cases, known->second, entry);
        }
    }
    fs::path current = root;
    std::string relative;
    for (const std::string& level : SplitLevels(entry.FilePath())) {
        std::string actual = cases.Find(current, level);
        if (actual.empty()) {
            actual = level;
        } else if (FoldCase(actual) != FoldCase(level)) {
            r.Refusal = ShortNameRefusal(level, actual);
            return r;
        }
        if (!OneLevel(actual)) {
            r.Refusal = "its path leaves the data folder";
            return r;
        }
        relative += (relative.empty() ? "" : "\\") + actual;
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
    CaseResolver::Folder folder{current, platform::FromNative(current), std::move(relative)};
    if (create)
        return Finish(cases, folder, entry);
    const auto placed = cases.Folders.emplace(std::move(folderKey), std::move(folder)).first;
    cases.Remember(dataFolder, entry.FilePath(), placed->second);
    return Finish(cases, placed->second, entry);
}

} // namespace qvr::detail
