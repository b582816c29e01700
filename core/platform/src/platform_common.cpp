#include "qvr/platform/detail/platform.h"

#include "qvr/platform/detail/TestHooks.h"

#include "qvr/platform/Encoding.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/detail/ArchiveError.h"
#include "qvr/platform/detail/RandomAccessFile.h"

namespace qvr::platform {

#ifdef _WIN32
namespace {

// Paths of MAX_PATH characters or more reach the system only with the "\\?\" prefix, which
// also turns off the system's own tidying: so the path is made whole, absolute and "\"-only.
// The folder functions stop 12 characters short of MAX_PATH, hence the margin.
std::filesystem::path Lengthened(std::filesystem::path path) {
    const std::wstring& text = path.native();
    if (text.size() < 248 || text.starts_with(L"\\\\?\\"))
        return path;
    std::error_code ec;
    std::filesystem::path whole = std::filesystem::absolute(path, ec);
    if (ec)
        return path;
    std::wstring full = whole.lexically_normal().make_preferred().native();
    if (full.starts_with(L"\\\\"))
        return L"\\\\?\\UNC\\" + full.substr(2);
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\')
        return L"\\\\?\\" + full;
    return path;
}

} // namespace
#endif

std::filesystem::path ToNative(const std::string& utf8) {
#ifdef _WIN32
    // Windows names are UTF-16; bytes that are not UTF-8 have no form there.
    if (!IsValidUtf8(utf8))
        throw ArchiveError("The name " + utf8 + " is not valid text");
    return Lengthened(std::filesystem::path(std::u8string(utf8.begin(), utf8.end())));
#else
    return std::filesystem::path(utf8); // names are bytes here, taken as they are
#endif
}

std::string FromNative(const std::filesystem::path& path) {
#ifndef _WIN32
    return path.native();
#else
    std::u8string text = path.u8string();
    // People read paths without the long-path prefix ToNative may have put in front.
    if (text.starts_with(u8"\\\\?\\UNC\\"))
        text = u8"\\\\" + text.substr(8);
    else if (text.starts_with(u8"\\\\?\\"))
        text = text.substr(4);
    return std::string(text.begin(), text.end());
#endif
}

std::filesystem::path WithoutLongPathPrefix(const std::filesystem::path& path) {
#ifdef _WIN32
    std::string text = FromNative(path);
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
#else
    return path;
#endif
}

std::string FileNamePart(const std::string& path) {
#ifdef _WIN32
    size_t at = path.find_last_of("\\/");
    return at == std::string::npos ? path : path.substr(at + 1);
#else
    return GetFileNameFromPath(path);
#endif
}

std::string_view FolderPart(std::string_view path) {
#ifdef _WIN32
    const size_t at = path.find_last_of("\\/");
#else
    const size_t at = path.rfind('/');
#endif
    return at == std::string_view::npos ? std::string_view() : path.substr(0, at);
}

PathKind KindOf(const std::string& path) {
    std::error_code ec;
    const auto status = std::filesystem::status(ToNative(path), ec);
    if (status.type() == std::filesystem::file_type::not_found)
        return PathKind::Missing;
    if (status.type() == std::filesystem::file_type::regular)
        return PathKind::Regular;
    if (status.type() == std::filesystem::file_type::directory)
        return PathKind::Folder;
    // A link pointing nowhere is followed to where its file is to be made.
    if (ec && std::filesystem::is_symlink(std::filesystem::symlink_status(ToNative(path), ec)))
        return PathKind::Missing;
    return PathKind::Other;
}

std::string FollowLinks(const std::string& path) {
    std::filesystem::path at = ToNative(path);
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(at, ec)))
            return hops == 0 ? path : FromNative(at);
        std::filesystem::path next = std::filesystem::read_symlink(at, ec);
        if (ec)
            throw ArchiveError("Cannot follow the link " + FromNative(at) + ": " + ec.message());
        at = next.is_absolute() ? next : at.parent_path() / next;
    }
    throw ArchiveError("The links from " + path + " go round in a circle");
}

void SyncFile(const std::string& path) {
    RandomAccessFile file(path, RandomAccessFile::Mode::ReadWrite);
    file.Sync();
    file.Close();
}

std::chrono::milliseconds LockWait() {
    return testhooks::LockWait();
}

} // namespace qvr::platform
