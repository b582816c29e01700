#pragma once
// One work file the library or a front-end builds before it takes a file's place: deleted
// when its owner goes away, unless it was put in place or released first.

#include <string>

namespace qvr {

class TempFile {
public:
    // A new, empty file beside target whose name no other file holds. Throws ArchiveError.
    static TempFile Beside(const std::string& target);
    // The same in folder (ending in a separator, or "" for the current folder).
    static TempFile In(const std::string& folder, const std::string& hint);

    TempFile() = default;
    TempFile(TempFile&& other) noexcept;
    TempFile& operator=(TempFile&& other) noexcept;
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile();

    const std::string& Path() const { return m_path; }
    // Puts the file in target's place in one step; it is then no longer owned. Throws
    // ArchiveError, and the file is still deleted with its owner.
    void ReplaceInto(const std::string& target);
    // Keeps the file: it is no longer deleted with its owner.
    void Release() { m_path.clear(); }

private:
    explicit TempFile(std::string path) : m_path(std::move(path)) {}
    std::string m_path;
};

} // namespace qvr
