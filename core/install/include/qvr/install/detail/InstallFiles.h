#pragma once
// File operations of the reversible install and removal. Every change they make to the disk
// passes Step() first, so that a test can stop the process before any one of them.

#include "qvr/package/Archives.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

namespace qvr::detail {

void Step();

// crc32 and length of a file, read in pieces; false when it cannot be read.
bool FileCrc(const std::filesystem::path& file, int64_t& size, uint32_t& crc);
// Present as a regular file of exactly size bytes with this crc32.
bool FileMatches(const std::filesystem::path& file, int64_t size, uint32_t crc);
// FileMatches, but a file that is there and cannot be read throws std::runtime_error rather
// than counting as changed: a removal or check that went on would pass over a file it never
// looked at.
bool FileMatchesOrThrow(const std::filesystem::path& file, int64_t size, uint32_t crc);
// Whether file holds exactly the entry's content; why says what differs when it does not.
bool HoldsMember(Archives& arc, const sgFileInfo& entry, const std::string& file, std::string& why);

// Renames from to to (replacing it), creating to's folders; copies and deletes only where
// the two lie on different file systems. Throws std::runtime_error.
void MoveFile(const std::filesystem::path& from, const std::filesystem::path& to);
// Deletes a file; true when it is gone afterwards, else why says why when given.
bool RemoveFile(const std::filesystem::path& file, std::string* why = nullptr);
// Writes text beside file, flushes it to the disk and renames it into place.
void WriteFileAtomically(const std::filesystem::path& file, const std::string& text);
// Gives file the last-write time seconds (since 1970, UTC); quietly keeps the one it has when
// the file system refuses.
void SetFileTime(const std::filesystem::path& file, int64_t seconds);
// Removes folder when it is an empty folder (never a link, never its parents).
void RemoveEmptyFolder(const std::filesystem::path& folder);

} // namespace qvr::detail

namespace qvr {

struct InstallRecord;
// Written beside its final name, flushed, and renamed into place. Throws std::runtime_error:
// the engine's steps that write it answer a Result.
void WriteInstallRecord(const std::string& dataFolder, const InstallRecord& record);

} // namespace qvr
