#pragma once
// Small file and path utilities. Paths are UTF-8 text; on disk they are native.

#include <cstdint>
#include <optional>
#include <string>

namespace qvr {

// Present and longer than 0 bytes; every failure is false.
bool FileExists(const std::string& path);
// Present, and nobody may write it by its permissions (a player's guard against programs that
// rewrite it); every failure is false.
bool IsReadOnlyFile(const std::string& path);
// Deletes a file, ignoring every failure.
void DeleteFileQuiet(const std::string& path);
// The user's temporary folder, padded with NUL characters to exactly 255 characters
// (all NUL when it does not fit in 254).
std::string QueryTempPath();
// The user's temporary folder with exactly one trailing separator, or "" when none.
std::string GetTempFolder();
// The text after the last separator: "\" everywhere, and "/" where it is the native one.
std::string GetFileNameFromPath(const std::string& path);
// Length of a regular file; nothing when there is none or it cannot be measured.
[[nodiscard]] std::optional<int64_t> FileLength(const std::string& path);
// The native separator as text ("/" or "\").
const char* NativeSeparator();

// Which file a name reaches: two names of one file (links, hard links) give equal identities.
struct FileIdentity {
    uint64_t Device = 0;
    uint64_t Index = 0;
    bool operator==(const FileIdentity&) const = default;
};
// The identity of the file path names, links followed; nothing when it cannot be reached.
[[nodiscard]] std::optional<FileIdentity> IdentityOf(const std::string& path);
// The regular file standard output writes to; nothing for a pipe, a terminal or a device.
[[nodiscard]] std::optional<FileIdentity> StandardOutputFile();

} // namespace qvr
