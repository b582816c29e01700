#pragma once
// Moving one member between a file and its compressed block; for the library's own sources.

#include "qvr/platform/detail/ArchiveError.h"
#include "qvr/platform/detail/RandomAccessFile.h"

#include <cstdint>
#include <optional>
#include <string>

namespace qvr::detail {

// A failure of compression or decompression, with the zlib code the public calls answer.
class ZlibError : public ArchiveError {
public:
    ZlibError(int code, const std::string& what) : ArchiveError(what), Code(code) {}
    int Code;
};

// Compresses source into destination (written beside it, then renamed into place) and
// answers the source length. Throws ZlibError or ArchiveError.
// threads: for a member deflated in pieces (0: one per core).
int64_t CompressFileChecked(const std::string& source, const std::string& destination, int level,
                            unsigned threads = 0);
// Inflates the block of `length` bytes at pos into a new file beside destination, checked
// against the expected size (the block's own prefix when expected is not above 0), and
// answers that file's path; the caller renames it into place. With crc, also answers the
// zlib crc32 of the bytes written. Throws ZlibError or ArchiveError.
std::string InflateBlockBeside(RandomAccessFile& source, int64_t pos, int64_t length,
                               int32_t expected, const std::string& destination,
                               uint32_t* crc = nullptr);
// How InflateBlockTo leaves the file it writes.
struct OutputFile {
    // Destination itself (a new file, which must not exist: the caller's record names it before
    // it is made), else a file beside it.
    bool InPlace = false;
    bool Flush = false;              // flushed to the disk before it is closed
    std::optional<int64_t> Modified; // its modification time, seconds since 1970 (UTC)
};
// Lets a thread that inflates blocks lying one after another read several in one piece: Pass
// names one reading of one file (NewReadPass), Until where the blocks that follow this one
// without a gap end (1-based, past the last byte), which the read may take in with it.
struct ReadAhead {
    uint64_t Pass = 0; // 0: this block alone
    int64_t Until = 0;
};
uint64_t NewReadPass();
// The same, written as `how` says. Answers the file written. A failure leaves no file behind.
std::string InflateBlockTo(RandomAccessFile& source, int64_t pos, int64_t length, int32_t expected,
                           const std::string& destination, uint32_t* crc, const OutputFile& how,
                           const ReadAhead& ahead = {});

} // namespace qvr::detail
