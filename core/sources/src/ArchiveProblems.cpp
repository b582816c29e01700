#include "qvr/sources/detail/ArchiveProblems.h"

#include "qvr/platform/detail/platform.h"
#include "qvr/sources/detail/Sources.h"

#include <fstream>
#include <string_view>

namespace qvr::sources::detail {
namespace {

bool SaysEncrypted(const std::string& text) {
    return text.find("ncrypt") != std::string::npos || text.find("assphrase") != std::string::npos;
}

// libarchive's "Truncated input file (needed 200192 bytes, only 0 available)" and the like. A 7z
// keeps its directory at its end: one whose directory was read is damaged, not cut short.
bool SaysCutShort(const std::string& text) {
    return text.find("runcated") != std::string::npos && text.find("7-Zip") == std::string::npos;
}

// Whether the file starts as a bzip2, xz or zstd stream does: libarchive reads the archive
// format from the decompressed bytes, and calls a stream damaged at its start no archive.
bool IsCompressed(const std::string& path) {
    std::ifstream in(platform::ToNative(path), std::ios::binary);
    char head[6] = {};
    in.read(head, sizeof head);
    const std::string_view h(head, static_cast<size_t>(in.gcount()));
    return (h.size() >= 4 && h.starts_with("BZh") && h[3] >= '1' && h[3] <= '9') ||
           h.starts_with(std::string_view("\xFD"
                                          "7zXZ\0",
                                          6)) ||
           h.starts_with("\x28\xB5\x2F\xFD");
}

} // namespace

std::string ArchiveProblem(const std::string& why) {
    if (SaysEncrypted(why))
        return kEncrypted;
    if (SaysCutShort(why))
        return kCutShort;
    if (why.find("decompression failed") != std::string::npos)
        return "its compressed data are damaged (" + why + ")";
    return why;
}

std::string UnopenedProblem(const std::string& path, const std::string& why) {
    if (why.find("Unrecognized archive format") == std::string::npos)
        return ArchiveProblem(why);
    return IsCompressed(path) ? "its compressed data are damaged, or hold no tar archive"
                              : "not an archive qvr can read (QVR, zip, 7z, rar, tar)";
}

} // namespace qvr::sources::detail
