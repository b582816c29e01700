#include "platform.h"

namespace qvr::platform {

std::filesystem::path ToNative(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string FromNative(const std::filesystem::path& path) {
    std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

} // namespace qvr::platform
