#include "qvr/sources/Source.h"

#include "qvr/package/Archives.h"
#include "qvr/platform/detail/RandomAccessFile.h"
#include "qvr/platform/detail/platform.h"
#include "qvr/sources/detail/Sources.h"

#include <filesystem>
#include <string_view>

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

namespace {
// How the archives the library decodes begin: 7z, rar, and tar's compressed forms (gzip,
// bzip2, xz, zstd); a plain tar says "ustar" at 257.
bool LibraryArchiveStart(std::string_view head) {
    static constexpr std::string_view kStarts[] = {
        {"7z\xBC\xAF\x27\x1C", 6},       {"Rar!\x1A\x07", 6},    {"\x1F\x8B", 2}, {"BZh", 3},
        {"\xFD\x37\x7A\x58\x5A\x00", 6}, {"\x28\xB5\x2F\xFD", 4}};
    for (std::string_view start : kStarts)
        if (head.starts_with(start))
            return true;
    return head.size() >= 262 && head.substr(257, 5) == "ustar";
}
} // namespace

bool DecodedByArchiveLibrary(const std::string& path) {
    if (!ReadsOtherArchives())
        return false;
    try {
        // Not a stream: a pipe or device named here is refused, not waited on.
        RandomAccessFile file(path, RandomAccessFile::Mode::Read);
        char head[262] = {};
        const size_t got = file.ReadAt(1, head, sizeof head);
        return LibraryArchiveStart(std::string_view(head, got));
    } catch (const std::exception&) {
        return false; // the command that opens it says why
    }
}

} // namespace qvr::sources
