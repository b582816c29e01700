#include "platform.h"

#include "qvr/ArchiveError.h"
#include "qvr/Encoding.h"
#include "qvr/FileUtils.h"

namespace qvr::platform {

std::filesystem::path ToNative(const std::string& utf8) {
#ifdef _WIN32
    // Windows names are UTF-16; bytes that are not UTF-8 have no form there.
    if (!IsValidUtf8(utf8))
        throw ArchiveError("The name " + utf8 + " is not valid text");
#endif
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string FromNative(const std::filesystem::path& path) {
    std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string FileNamePart(const std::string& path) {
#ifdef _WIN32
    size_t at = path.find_last_of("\\/");
    return at == std::string::npos ? path : path.substr(at + 1);
#else
    return GetFileNameFromPath(path);
#endif
}

} // namespace qvr::platform
