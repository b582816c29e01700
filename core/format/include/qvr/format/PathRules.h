#pragma once
// Whether an entry's folder and name name a place below a folder.

#include <string>

namespace qvr {

// True when FilePath ("" or levels joined by "\") and FileName name a file strictly below
// a folder on every platform. On false, *why (when given) says what is wrong, in words.
bool IsSafeEntryPath(const std::string& FilePath, const std::string& FileName,
                     std::string* why = nullptr);
// The same rule for a folder path alone ("" is safe: the folder itself).
bool IsSafeFolderPath(const std::string& FilePath, std::string* why = nullptr);
// "Meshes/x" or "Meshes\\x" with any doubled or outer separators tidied to "Meshes\x".
std::string ToArchivePath(const std::string& anyPath);

} // namespace qvr
