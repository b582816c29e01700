#pragma once
// The few places where POSIX and Win32 differ, kept behind one small interface.

#include "qvr/platform/FindData.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace qvr::platform {

// UTF-8 text to the file system's own path form and back.
std::filesystem::path ToNative(const std::string& utf8);
std::string FromNative(const std::filesystem::path& path);
// The path without the long-path prefix ToNative may add on Windows, for path arithmetic:
// the standard library's lexical operations do not know that prefix.
std::filesystem::path WithoutLongPathPrefix(const std::filesystem::path& path);
// The file name at the end of a path as the system reads it: after the last "\" or, on
// Windows also "/", which file dialogs there hand out.
std::string FileNamePart(const std::string& path);
// The path before its last separator as the system reads it ("/", and on Windows "\\"); empty
// when it has none. Text only: for code that runs once per file.
std::string_view FolderPart(std::string_view path);

// The user's temporary folder as the system reports it (any trailing separators included),
// or "" when there is none.
std::string TempPathRaw();
// The directory-search record of one file, last-write time in UTC.
FindData FindFile(const std::string& path);
// The name of the file path reaches as the folder spells it, "" when there is none. Windows
// also reaches a file by its short name or in another letter case: this is its own name.
std::string NameOnDisk(const std::string& path);
// The current local date in the locale's short form, a blank, the local time in its long form.
std::string LocalDateTimeText();
// Puts `from` in place of `to` in one step, replacing `to` when it exists. Throws ArchiveError.
void ReplaceFile(const std::string& from, const std::string& to);
// Windows refuses to replace a file that any handle holds open, our own locked one included;
// POSIX replaces it and lets the holder keep the old file.
#ifdef _WIN32
inline constexpr bool kReplaceNeedsTargetClosed = true;
#else
inline constexpr bool kReplaceNeedsTargetClosed = false;
#endif
// Makes a rename or deletion beside path last through a power cut (nothing to do on Windows).
void SyncFolderOf(const std::string& path);
// How long a program waits for another one's lock on an archive.
std::chrono::milliseconds LockWait();
// A small number that differs between processes running at the same time.
uint32_t ProcessId();
// Whether a process of that number may still be running (true when that cannot be told).
bool ProcessAlive(uint32_t pid);

// The size of the regular file at native, links followed; -1 when it names none or cannot be
// reached. One look at the file: packing asks it of every file several times.
int64_t RegularFileSize(const std::filesystem::path& native);
// What a path names once symbolic links are followed.
enum class PathKind { Missing, Regular, Folder, Other };
PathKind KindOf(const std::string& path);
// The path with every symbolic link at its end followed to what it names (the path itself
// when it is no link). Throws ArchiveError on a loop of links.
std::string FollowLinks(const std::string& path);
// Flushes the file's bytes to the disk. Throws ArchiveError.
void SyncFile(const std::string& path);
// Makes the renames in folder survive a power loss, where the system needs to be told.
void SyncFolder(const std::string& folder);
// Gives `to` the permissions and, where allowed, the owner of `from`. Throws ArchiveError.
void CopyAccess(const std::string& from, const std::string& to);

} // namespace qvr::platform
