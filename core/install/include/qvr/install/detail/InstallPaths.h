#pragma once
// How an entry's path becomes a file below the data folder: letter case as the game sees it,
// names that exist under another spelling, and refusal of paths that would leave the folder.
// Private to the install and removal sources.

#include "qvr/format/sgFileInfo.h"
#include "qvr/install/Install.h"
#include "qvr/platform/detail/platform.h"

#include <filesystem>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace qvr::detail {

// Letter case folded the way the game's own file system sees names: ASCII and the accented
// letters that Windows-1252 can hold (all that an archive name can carry).
std::string FoldCase(const std::string& utf8);
// "Meshes\\a" -> {"Meshes", "a"}; "" -> {}.
std::vector<std::string> SplitLevels(const std::string& filePath);

// Finds existing names under another letter case. Each folder is listed at most once per
// object, so an install of many files into one folder stays cheap.
class CaseResolver {
public:
    // The name as it exists in folder (exact spelling first), or "" when nothing matches.
    std::string Find(const std::filesystem::path& folder, const std::string& name) {
        std::error_code ec;
#ifdef _WIN32
        (void)ec;
        return platform::NameOnDisk(platform::FromNative(folder / platform::ToNative(name)));
#else
        // A folder listed whole answers without a look at the disk: an install of thousands
        // of new files would otherwise ask once for each.
        const Listing& listing = ListingOf(folder);
        auto it = listing.Names.find(FoldCase(name));
        if (listing.Whole && (it == listing.Names.end() || it->second == name))
            return it == listing.Names.end() ? std::string() : name;
        if (std::filesystem::exists(folder / platform::ToNative(name), ec))
            return name;
        return it == listing.Names.end() ? std::string() : it->second;
#endif
    }

    // Tells the resolver that name now exists in folder.
    void Note(const std::filesystem::path& folder, const std::string& name) {
        auto it = m_listings.find(folder.native());
        if (it != m_listings.end())
            it->second.Names.emplace(FoldCase(name), name);
    }

private:
    struct Listing {
        std::map<std::string, std::string> Names; // folded -> as spelt in the folder
        bool Whole = false;                       // read to the end, or the folder does not exist
    };

    const Listing& ListingOf(const std::filesystem::path& folder) {
        auto [it, fresh] = m_listings.try_emplace(folder.native());
        if (fresh) {
            std::error_code ec;
            std::filesystem::directory_iterator d(folder, ec), end;
            for (; !ec && d != end; d.increment(ec)) {
                std::string actual = platform::FromNative(d->path().filename());
                auto [slot, added] = it->second.Names.emplace(FoldCase(actual), actual);
                // Two spellings of one name (possible on Linux): take the same one every time.
                if (!added && actual < slot->second)
                    slot->second = actual;
            }
            it->second.Whole = !ec || ec == std::errc::no_such_file_or_directory;
        }
        return it->second;
    }

    std::unordered_map<std::filesystem::path::string_type, Listing> m_listings;

public:
    // A folder below the data folder, resolved: as the system names it, as text (what
    // FromNative gives), and its levels as they are spelt, "\\" between them.
    struct Folder {
        std::filesystem::path Native;
        std::string Text;
        std::string Relative;
    };
    // Folders already resolved when nothing is created on the way, by data folder and folded
    // entry path: an install of many files looks each folder up once, not once per file.
    std::unordered_map<std::string, Folder> Folders;
    // The last of them looked up, by its entry path as spelt (elements of Folders stay put).
    const Folder* Last = nullptr;
    std::string LastRoot, LastFolder;
    void Remember(const std::string& root, const std::string& folder, const Folder& resolved) {
        Last = &resolved;
        LastRoot = root;
        LastFolder = folder;
    }
};

struct Resolved {
    std::string Target;   // as FromNative gives it
    std::string Relative; // Target's levels below the data folder, "\\" between them
    std::string Refusal;  // not empty when the entry must not be touched
    // Nothing of the target's name, in any letter case, was there when it was resolved.
    bool Absent = false;
};

// Removal by content (RemoveInstalledFiles): keptBy maps a folded path below the data folder
// to the plug-in whose install keeps the file it replaced there; such a file is kept.
std::vector<EntryResult> RemoveByContent(const Archives& arc, const std::string& dataFolder,
                                         const EntryProgress& progress,
                                         const std::map<std::string, std::string>& keptBy);

// The target of an entry below dataFolder; with create, missing folders are made on the way.
// Throws std::runtime_error with a message for the user when a folder cannot be made.
Resolved Resolve(CaseResolver& cases, const std::string& dataFolder, const sgFileInfo& entry,
                 bool create);

} // namespace qvr::detail
