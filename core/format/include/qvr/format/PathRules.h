#pragma once
// Whether an entry's folder and name name a place below a folder, and the other rules for
// names and texts that come from a stranger (a package, its file name, a record beside it).

#include "qvr/platform/Result.h"
#include <cstddef>

#include <string>
#include <string_view>

namespace qvr {

// The hidden folder of the install records, directly inside a data folder.
inline constexpr const char* kRecordFolderName = ".qvr-installed";
// The folder of the OpenMW target's records, directly inside its mods folder.
inline constexpr const char* kOpenMWRecordFolderName = ".qvr-openmw";
// The lock file a target holds during an install or removal on Windows, inside the target.
inline constexpr const char* kLockFileName = ".qvr-lock";

// Success when FilePath ("" or levels joined by "\") and FileName name a file strictly below
// a folder on every platform; otherwise the failure says what is wrong, in words.
Result IsSafeEntryPath(const std::string& FilePath, const std::string& FileName);
// The same rule for a folder path alone ("" is safe: the folder itself).
Result IsSafeFolderPath(const std::string& FilePath);
// The one rule for a path below a target, whoever names it (an archive's entry, an install
// record, a removal): levels joined by "\", none empty, "." or "..", no drive, UNC, device,
// separator or control character, nothing a file name cannot hold, and none of the programs'
// own names (IsOwnName) in any letter case. "" is refused.
Result IsSafeRelativePath(const std::string& path);
// Whether one level is a name the programs keep for themselves inside a target: the record
// folders, their work files and journals (in any letter case).
bool IsOwnName(std::string_view level);
// "Meshes/x" or "Meshes\\x" with any doubled or outer separators tidied to "Meshes\x".
std::string ToArchivePath(const std::string& anyPath);
// A stored path ("Meshes\x.nif") as a person sees it on this system, with the native
// separator ("Meshes/x.nif" except on Windows), so that it can be pasted back into a command.
// The one form every message and listing for people uses; comparisons use the stored form.
std::string ShownEntryPath(const std::string& storedPath);
std::string ShownEntryPath(const std::string& folder, const std::string& name);

// A plain, portable file name made from a stranger's text: control characters, separators and
// what file names cannot hold become "_", outer blanks and dots go, cut to at most maxBytes
// on a character boundary; never empty, ".", "..", a device name or one of the programs' own.
std::string MakePlainName(const std::string& text, size_t maxBytes);

// Whether value can stand as the value of one key=value line of a settings file (openmw.cfg,
// Morrowind.ini) and be read back as exactly this one value: not empty, no control character
// or line break, no blank at either end, and not starting with what the file could read as
// more than a value (a quote, "=", a comment or a section). A failure says what is wrong.
Result IsSafeSettingValue(const std::string& value);

} // namespace qvr
