#pragma once
// Turns a member file into a data block (int32 length + zlib stream at the given level) and
// back. Streams through zlib in pieces, so memory stays bounded whatever the file's size.

#include <cstdint>
#include <string>
#include <vector>

namespace qvr {

// zlib result codes (Z_OK is 0). Arrays are replaced by the result.
int32_t CompressBytes(std::vector<unsigned char>& bytes, int16_t level);
int32_t DecompressBytes(std::vector<unsigned char>& bytes, int32_t expectedSize);
// Source and destination may be the same file. A source of 0 bytes or one that cannot be
// read is an error (Z_ERRNO or another negative code); the destination is then not written.
int32_t CompressFile(const std::string& source, const std::string& destination, int16_t level);
// Checked: any zlib error, a bad Adler-32, or more or fewer bytes than expected is an
// error, and the destination is then left as it was (written beside it, renamed on success).
int32_t DecompressFile(const std::string& source, const std::string& destination,
                       int32_t expectedSize);

} // namespace qvr
