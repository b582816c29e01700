#pragma once
// Why libarchive cannot read an archive, in a player's words where libarchive's are not.

#include <string>

namespace qvr::sources::detail {

inline constexpr const char* kEncrypted = "is encrypted (protected by a password); qvr cannot "
                                          "read encrypted archives: unpack it with the password "
                                          "first";

// Why the archive as a whole cannot be read, from libarchive's (or the gzip stream's) words.
std::string ArchiveProblem(const std::string& why);
// Why the archive at path could not be opened at all: for a file libarchive finds no format in,
// whether it is no archive or a compressed stream damaged at its start.
std::string UnopenedProblem(const std::string& path, const std::string& why);

} // namespace qvr::sources::detail
