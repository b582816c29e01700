#pragma once
// One work file the library or a front-end builds before it takes a file's place: deleted
// when its owner goes away, unless it was put in place or released first.

#include <string>

namespace qvr {

class TempFile {
public:
    // The file a rewrite of path changes: symbolic links are followed to the file they name.
    // Throws ArchiveError when that is anything but a regular file or nothing.
    static std::string RewriteTarget(const std::string& path);
    // A new, empty file beside the file a rewrite of target changes, whose name no other file
    // holds. Throws ArchiveError.
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
    // Puts the file in place of the file a rewrite of target changes, in one step: flushed to
    // the disk first, with the old file's permissions (and owner where allowed), the folder
    // flushed after. It is then no longer owned. Throws ArchiveError, and then the old file is
    // untouched and this one is still deleted with its owner.
    void ReplaceInto(const std::string& target);
    // Keeps the file: it is no longer deleted with its owner.
    void Release() { m_path.clear(); }

private:
    explicit TempFile(std::string path) : m_path(std::move(path)) {}
    std::string m_path;
};

} // namespace qvr
