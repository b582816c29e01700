#include "qvr/platform/FileUtils.h"

#include "qvr/platform/detail/TestHooks.h"
#include "qvr/platform/detail/WorkRegistry.h"
#include "qvr/platform/detail/platform.h"

#include <filesystem>
#include <system_error>

namespace qvr {

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == NativeSeparator()[0];
}

} // namespace

const char* NativeSeparator() {
#ifdef _WIN32
    return "\\";
#else
    return "/";
#endif
}

std::optional<int64_t> FileLength(const std::string& path) {
    if (path.empty())
        return std::nullopt;
    try {
        const int64_t size = platform::RegularFileSize(platform::ToNative(path));
        return size < 0 ? std::nullopt : std::optional<int64_t>(size);
    } catch (...) {
        return std::nullopt; // a name the file system cannot take
    }
}

bool FileExists(const std::string& path) {
    return FileLength(path) > 0;
}

bool IsReadOnlyFile(const std::string& path) {
    std::error_code ec;
    const std::filesystem::perms p =
        std::filesystem::status(platform::ToNative(path), ec).permissions();
    using std::filesystem::perms;
    return !ec &&
           (p & (perms::owner_write | perms::group_write | perms::others_write)) == perms::none;
}

void DeleteFileQuiet(const std::string& path) {
    if (path.empty())
        return;
    try {
        testhooks::Operation(testhooks::Op::Delete, path.c_str());
        std::error_code ec;
        auto native = platform::ToNative(path);
        // Only files: a folder of the same name is left alone.
        if (std::filesystem::is_directory(native, ec))
            return;
        std::filesystem::remove(native, ec);
        if (ec && std::filesystem::exists(native, ec)) {
            detail::AbandonWorkFile(path);
            return;
        }
        detail::ForgetWorkFile(path);
    } catch (...) {
        detail::AbandonWorkFile(path);
    }
}

std::string QueryTempPath() {
    std::string folder = platform::TempPathRaw();
    while (folder.size() > 1 && IsSeparator(folder.back()))
        folder.pop_back();
    if (!folder.empty() && !IsSeparator(folder.back()))
        folder += NativeSeparator();
    // The system's buffer holds 254 characters with its terminating NUL.
    if (folder.size() > 253)
        folder.clear();
    folder.resize(255, '\0');
    return folder;
}

std::string GetTempFolder() {
    std::string raw = QueryTempPath();
    for (size_t i = raw.size(); i > 0; --i)
        if (IsSeparator(raw[i - 1]))
            return raw.substr(0, i);
    return "";
}

std::string GetFileNameFromPath(const std::string& path) {
    for (size_t i = path.size(); i > 0; --i)
        if (IsSeparator(path[i - 1]))
            return path.substr(i);
    return path;
}

} // namespace qvr
