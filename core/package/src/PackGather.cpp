// Gathering a folder on disk into the files of a package.

#include "qvr/format/PathRules.h"
#include "qvr/package/Packing.h"
#include "qvr/platform/Encoding.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/detail/TestHooks.h"
#include "qvr/platform/detail/platform.h"

#include <algorithm>
#include <filesystem>
#include <tuple>

namespace fs = std::filesystem;

namespace qvr {

namespace {

std::string Join(const std::string& folder, const std::string& level) {
    return folder.empty() ? level : folder + "\\" + level;
}

std::string Shown(const fs::path& path) {
    return platform::FromNative(path);
}

bool IsWithin(const fs::path& path, const fs::path& folder) {
    const fs::path rel = path.lexically_relative(folder);
    return !rel.empty() && *rel.begin() != "..";
}

// One walk of one folder given to GatherFolder.
struct Walk {
    fs::path Root; // the folder being packed, links resolved
    fs::path Skip; // the archive being written, links resolved ("" for none)
    PackOptions Options;
    std::vector<BatchFile> Found;
    std::vector<PackProblem>& Problems;
    std::vector<fs::path> Above; // the folders being walked, links resolved

    void Problem(PackProblemKind kind, const fs::path& at, const std::string& why) {
        Problems.push_back({kind, Shown(at), Shown(at) + ": " + why});
    }
    void Folder(const fs::path& shown, const fs::path& real, const std::string& packageFolder);
    void Entry(const fs::directory_entry& entry, const fs::path& real,
               const std::string& packageFolder);
};

void Walk::Folder(const fs::path& shown, const fs::path& real, const std::string& packageFolder) {
    std::error_code ec;
    fs::directory_iterator it;
    try {
        testhooks::Operation(testhooks::Op::Open, Shown(shown).c_str());
        it = fs::directory_iterator(shown, ec);
    } catch (const std::exception& e) {
        Problem(PackProblemKind::Unreadable, shown, std::string("cannot be read: ") + e.what());
        return;
    }
    if (ec) {
        Problem(PackProblemKind::Unreadable, shown, "cannot be read: " + ec.message());
        return;
    }
    std::vector<fs::directory_entry> entries;
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        entries.push_back(*it);
        if (ec)
            break;
    }
    if (ec)
        Problem(PackProblemKind::Unreadable, shown, "cannot be read completely: " + ec.message());
    Above.push_back(real);
    for (const fs::directory_entry& entry : entries)
        Entry(entry, real / entry.path().filename(), packageFolder);
    Above.pop_back();
}

void Walk::Entry(const fs::directory_entry& entry, const fs::path& real,
                 const std::string& packageFolder) {
    const fs::path& at = entry.path();
    const std::string name = Shown(at.filename());
    std::error_code ec;
    // The kinds the folder's listing gave, where it gave them: no call per file.
    const bool link = entry.is_symlink(ec);
    fs::path target = real;
    fs::file_status status;
    if (!ec && !link) {
        if (entry.is_directory(ec))
            status.type(fs::file_type::directory);
        else if (!ec && entry.is_regular_file(ec))
            status.type(fs::file_type::regular);
        else
            status.type(fs::file_type::unknown);
    }
    if (!ec && link) {
        target = fs::canonical(at, ec);
        if (ec) {
            Problem(PackProblemKind::Unreadable, at,
                    "a link whose target cannot be read: " + ec.message());
            return;
        }
        if (!Options.FollowLinks && !IsWithin(target, Root) && target != Root) {
            Problem(PackProblemKind::LinkOutside, at,
                    "a link to " + Shown(target) +
                        ", outside the folder being packed; not followed");
            return;
        }
        status = fs::status(target, ec);
    }
    if (ec) {
        Problem(PackProblemKind::Unreadable, at, "cannot be read: " + ec.message());
    } else if (fs::is_directory(status)) {
        if (IsOwnName(name)) {
            Problem(PackProblemKind::Refused, at,
                    "a folder named like the installer's own records or work files; left out");
        } else if (link && std::find(Above.begin(), Above.end(), target) != Above.end()) {
            Problem(PackProblemKind::LeftOut, at, "a link back to a folder above it; left out");
        } else {
            Folder(at, target, Join(packageFolder, name));
        }
    } else if (fs::is_regular_file(status)) {
        const bool leftOut = (!Skip.empty() && target == Skip) ||
                             (Options.LeaveOut && IdentityOf(Shown(target)) == Options.LeaveOut);
        if (!leftOut)
            Found.push_back({Shown(at), name, packageFolder});
    } else {
        Problem(PackProblemKind::LeftOut, at, "not a regular file; left out");
    }
}

} // namespace

bool Gathered::Has(PackProblemKind kind) const {
    return std::any_of(Problems.begin(), Problems.end(),
                       [kind](const PackProblem& p) { return p.Kind == kind; });
}

void GatherFolder(const std::string& folder, const std::string& packageFolder,
                  const PackOptions& options, const std::string& skip, Gathered& out) {
    const fs::path shown = platform::ToNative(folder);
    std::error_code ec;
    // The folder named is followed wherever it lies: only links below it are looked at.
    const fs::path root = fs::canonical(shown, ec);
    if (ec) {
        out.Problems.push_back(
            {PackProblemKind::Unreadable, folder, folder + ": cannot be read: " + ec.message()});
        return;
    }
    std::error_code sec;
    const fs::path skipped =
        skip.empty() ? fs::path() : fs::canonical(platform::ToNative(skip), sec);
    Walk walk{root, sec ? fs::path() : skipped, options, {}, out.Problems, {}};
    walk.Folder(shown, root, packageFolder);

    // Each key made once: folding case for every comparison cost more than the sort itself.
    using Key = std::tuple<std::string, std::string, std::string, std::string>;
    std::vector<std::pair<Key, size_t>> order;
    order.reserve(walk.Found.size());
    for (size_t i = 0; i < walk.Found.size(); ++i) {
        const BatchFile& f = walk.Found[i];
        order.push_back(
            {{LowerText(f.FilePath), LowerText(f.FileName), f.FilePath, f.FileName}, i});
    }
    std::sort(order.begin(), order.end());
    for (const auto& [key, i] : order)
        out.Files.push_back(std::move(walk.Found[i]));
}

} // namespace qvr
