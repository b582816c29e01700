#include "Internal.h"
#include "platform.h"
#include "qvr/FileUtils.h"
#include "qvr/TempFile.h"

#include <atomic>
#include <cerrno>

namespace qvr::detail {

std::string FolderOf(const std::string& path) {
    std::string name = platform::FileNamePart(path);
    return path.substr(0, path.size() - name.size());
}

std::string CreateUniqueFile(const std::string& folder, const std::string& hint,
                             const std::string& target) {
    static std::atomic<uint64_t> counter{0};
    // Only plain characters from the hint, so the name is valid on every file system.
    std::string stem;
    for (char c : hint) {
        if (stem.size() >= 40)
            break;
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '.' || c == '_' || c == '-')
            stem += c;
    }
    std::string last, reason;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string path = folder + "~qvr-" + stem + "-" + std::to_string(platform::ProcessId()) +
                           "-" + std::to_string(counter.fetch_add(1)) + ".tmp";
        try {
            RandomAccessFile file(path, RandomAccessFile::Mode::CreateNew);
            return path;
        } catch (const ArchiveError& e) {
            last = e.what();
            const std::string prefix = "Cannot open " + path + ": ";
            reason = last.rfind(prefix, 0) == 0 ? last.substr(prefix.size()) : last;
            std::error_code ec;
            if (!std::filesystem::exists(platform::ToNative(path), ec))
                break; // not a name clash: the folder itself is the problem
        }
    }
    // The user knows the file they asked for, not our work file's name.
    if (!target.empty()) {
        if (reason.size() > 1 && reason[0] >= 'A' && reason[0] <= 'Z' && reason[1] >= 'a' &&
            reason[1] <= 'z')
            reason[0] = static_cast<char>(reason[0] - 'A' + 'a');
        throw ArchiveError("Cannot write " + target + (reason.empty() ? "" : ": " + reason));
    }
    throw ArchiveError("Cannot create a file in " + (folder.empty() ? "." : folder) +
                       (last.empty() ? "" : " (" + last + ")"));
}

} // namespace qvr::detail

namespace qvr {

TempFile TempFile::Beside(const std::string& target) {
    return TempFile(
        detail::CreateUniqueFile(detail::FolderOf(target), GetFileNameFromPath(target), target));
}

TempFile TempFile::In(const std::string& folder, const std::string& hint) {
    return TempFile(detail::CreateUniqueFile(folder, hint));
}

TempFile::TempFile(TempFile&& other) noexcept : m_path(std::move(other.m_path)) {
    other.m_path.clear();
}

TempFile& TempFile::operator=(TempFile&& other) noexcept {
    if (this != &other) {
        if (!m_path.empty())
            DeleteFileQuiet(m_path);
        m_path = std::move(other.m_path);
        other.m_path.clear();
    }
    return *this;
}

TempFile::~TempFile() {
    if (!m_path.empty())
        DeleteFileQuiet(m_path);
}

void TempFile::ReplaceInto(const std::string& target) {
    platform::ReplaceFile(m_path, target);
    m_path.clear();
}

} // namespace qvr
