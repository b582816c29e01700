#pragma once
// Members small enough to hold in memory are compressed and inflated in one call: with
// libdeflate where the build has it (about twice zlib's speed, same stream format), else zlib.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qvr::detail {

// Members up to this size are handled whole; larger ones stream through zlib in pieces. Fixed,
// so the bytes of a package never depend on the number of threads.
constexpr int64_t kWholeMemberLimit = int64_t{8} << 20;

// Levels above 9 exist only with libdeflate; zlib then uses 9.
constexpr int kBestLevel = 12;

// Whether members held whole go through libdeflate (else zlib's compress2 and inflate).
bool UsesLibdeflate();

// CompressFile at any level up to kBestLevel (the public call keeps to zlib's 0 to 9).
// threads: for a member deflated in pieces (0: one per core).
int32_t CompressFileAt(const std::string& source, const std::string& destination, int level,
                       unsigned threads = 0);

// Replaces out with the zlib stream of in[0..n) at level. Answers a zlib code (Z_OK is 0).
int DeflateWhole(const unsigned char* in, size_t n, int level, std::vector<unsigned char>& out);

// Inflates the zlib stream in[0..n) into out, which holds exactly `expected` bytes. Z_OK only
// when the stream is sound (Adler-32 included) and gives exactly `expected` bytes; *used, when
// given, receives how many input bytes the stream took.
int InflateWhole(const unsigned char* in, size_t n, unsigned char* out, size_t expected,
                 size_t* used = nullptr);

// The same for a raw deflate stream (a zip member's data): exactly `expected` bytes, or a
// failure. No checksum is in the stream; the caller checks the crc32.
int InflateRawWhole(const unsigned char* in, size_t n, unsigned char* out, size_t expected);

// zlib's crc32 of data[0..n), continuing from crc (0 to start); libdeflate's where the build has
// it, which is several times faster.
uint32_t Crc32(uint32_t crc, const unsigned char* data, size_t n);

// A buffer of at least n bytes kept per thread and slot, so that entries after the first cost
// no allocation and no zero-filling. Valid until the same thread asks for the same slot again.
unsigned char* ThreadBuffer(int slot, size_t n);

} // namespace qvr::detail
