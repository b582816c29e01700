#include "FuzzInput.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fuzz {

namespace {

std::string MakeFolder() {
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec)
        base = "/tmp";
    std::string pattern = (base / "qvr-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    static const std::string folder = pattern;
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    });
    return pattern + "/";
}

} // namespace

const std::string& WorkFolder() {
    static const std::string folder = MakeFolder();
    return folder;
}

std::string WriteInput(const std::string& name, const uint8_t* data, size_t size) {
    const std::string path = WorkFolder() + name;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || (size && std::fwrite(data, 1, size, file) != size) || std::fclose(file) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
    return path;
}

void ClearWorkFolder() {
    std::error_code ec;
    for (const auto& item : std::filesystem::directory_iterator(WorkFolder(), ec))
        std::filesystem::remove_all(item.path(), ec);
}

} // namespace fuzz
