#include "qvr/install/detail/SafeReach.h"

#include "qvr/format/PathRules.h"
#include "qvr/install/detail/InstallPaths.h"
#include "qvr/platform/detail/platform.h"

#include <algorithm>
#include <system_error>

namespace fs = std::filesystem;

namespace qvr::detail {
namespace {

bool Listed(const std::vector<std::string>& links, const std::string& path) {
    const std::string key = FoldCase(path);
    return std::any_of(links.begin(), links.end(),
                       [&](const std::string& l) { return FoldCase(l) == key; });
}

// Whether inner lies in outer (both resolved), outer itself excluded.
bool Inside(const fs::path& inner, const fs::path& outer) {
    const fs::path rel = platform::WithoutLongPathPrefix(inner).lexically_relative(
        platform::WithoutLongPathPrefix(outer));
    return !rel.empty() && *rel.begin() != ".." && !rel.is_absolute() && rel != ".";
}

} // namespace

bool CheckReach(const fs::path& root, const std::string& recorded,
                const std::vector<std::string>& links, std::string& why) {
    if (const Result safe = IsSafeRelativePath(recorded); !safe) {
        why = safe.Message;
        return false;
    }
    const std::vector<std::string> levels = SplitLevels(recorded);
    std::error_code ec;
    fs::path at = root;
    std::string sofar;
    bool throughLink = false;
    for (size_t i = 0; i < levels.size(); ++i) {
        at /= platform::ToNative(levels[i]);
        sofar += (sofar.empty() ? "" : "\\") + levels[i];
        const fs::file_status status = fs::symlink_status(at, ec);
        if (!fs::exists(status))
            break; // nothing further on exists, and nothing that does not exist is a link
        if (!fs::is_symlink(status))
            continue;
        if (i + 1 == levels.size()) {
            why = platform::FromNative(at) + " is a link, which no install made";
            return false;
        }
        if (!Listed(links, sofar)) {
            why = platform::FromNative(at) + " is a link its install did not go through";
            return false;
        }
        throughLink = true;
    }
    if (throughLink)
        return true;
    // Whatever else a file system does with names (a junction, a mount), the place resolves
    // inside root.
    const fs::path real = fs::weakly_canonical(at, ec);
    std::error_code rootEc;
    const fs::path realRoot = fs::weakly_canonical(root, rootEc);
    if (ec || rootEc || !Inside(real, realRoot)) {
        why = platform::FromNative(at) + " lies outside " + platform::FromNative(root);
        return false;
    }
    return true;
}

} // namespace qvr::detail
