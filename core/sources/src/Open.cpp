#include "qvr/sources/Source.h"

#include "qvr/package/Archives.h"
#include "qvr/platform/detail/platform.h"
#include "qvr/sources/detail/Sources.h"

#include <filesystem>

namespace qvr::sources {

Opened Open(const std::string& path) {
    try {
        const std::string name = platform::FileNamePart(path);
        std::error_code ec;
        const auto native = platform::ToNative(path);
        if (!std::filesystem::exists(native, ec))
            return {nullptr, Result::Unusable(path + ": no such file")};
        if (std::filesystem::is_directory(native, ec))
            return {nullptr, Result::Unusable(path + ": is a folder, not an archive")};
        if (Archives().IsQvrArchive(path))
            return detail::OpenQvr(path, name);
        if (const std::string volume = detail::VolumeProblem(path); !volume.empty())
            return {nullptr, Result::Unusable(path + ": " + volume)};
        return detail::OpenOther(path, name);
    } catch (const std::exception& e) {
        return {nullptr, Result::Unusable(path + ": " + e.what())};
    }
}

bool DecodedByArchiveLibrary(const std::string& path) {
    std::error_code ec;
    if (!ReadsOtherArchives() || !std::filesystem::is_regular_file(platform::ToNative(path), ec))
        return false;
    try {
        const Archives arc;
        return !arc.IsQvrArchive(path) && !arc.IsZipArchive(path);
    } catch (const std::exception&) {
        return false; // unreadable: the command that opens it says why
    }
}

} // namespace qvr::sources
