#pragma once
// One work file the library or a front-end builds before it takes a file's place: deleted
// when its owner goes away, unless it was put in place or released first.

#include "qvr/platform/Result.h"

#include <string>

namespace qvr {

class TempFile {
public:
    // The file a rewrite of path changes: symbolic links are followed to the file they name.
    // Fails when that is anything but a regular file or nothing.
    [[nodiscard]] static Result RewriteTarget(const std::string& path, std::string& target);
    // A new, empty file beside the file a rewrite of target changes, whose name no other file
    // holds, in made.
    [[nodiscard]] static Result Beside(const std::string& target, TempFile& made);

    TempFile() = default;
    TempFile(TempFile&& other) noexcept;
    TempFile& operator=(TempFile&& other) noexcept;
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile();

    const std::string& Path() const { return m_path; }
    // Puts the file in place of the file a rewrite of target changes, in one step: flushed to
    // the disk first, with the old file's permissions (and owner where allowed), the folder
    // flushed after. It is then no longer owned. On failure the old file is untouched and this
    // one is still deleted with its owner.
    [[nodiscard]] Result ReplaceInto(const std::string& target);
    // Keeps the file: it is no longer deleted with its owner.
    void Release() { m_path.clear(); }

private:
    explicit TempFile(std::string path) : m_path(std::move(path)) {}
    std::string m_path;
};

// The bytes become the whole content of the file a rewrite of path changes, in one step: through
// a work file beside it, put in its place as ReplaceInto does. On failure the file is as it was.
[[nodiscard]] Result ReplaceFileContent(const std::string& path, const std::string& bytes);

} // namespace qvr
