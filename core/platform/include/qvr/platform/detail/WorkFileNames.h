#pragma once
// Where the library's own work files go and how they are made.

#include <memory>
#include <string>

namespace qvr {
class RandomAccessFile;
}

namespace qvr::detail {

// The folder part of a path with its trailing separator ("" for a bare name).
std::string FolderOf(const std::string& path);
// Creates a new, empty file in folder (which ends in a separator, or is "") whose name no
// other file holds, and answers its path. Throws ArchiveError.
// With target, a failure is told as a failure to write target, not as one of the work file.
// With opened, the file stays open for writing there, which spares opening it again.
std::string CreateUniqueFile(const std::string& folder, const std::string& hint,
                             const std::string& target = "",
                             std::unique_ptr<RandomAccessFile>* opened = nullptr);
// The journal a change of path keeps beside it while it runs.
std::string JournalPathFor(const std::string& path);

} // namespace qvr::detail
