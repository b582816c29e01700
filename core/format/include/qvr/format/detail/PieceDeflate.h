#pragma once
// A member too large to hold whole is compressed in fixed pieces on every core. Each piece is
// primed with the 32 KiB before it and ends on a sync flush (the last one finishes), so the
// pieces join into one zlib stream that any zlib reader reads, with the same bytes for any
// number of threads.
#include "qvr/platform/detail/RandomAccessFile.h"

#include <cstdint>
#include <string>

namespace qvr::detail {

constexpr int64_t kPieceSize = int64_t{1} << 20;

// Writes the zlib stream of source's n bytes at outPos of out; answers the position after it.
// threads deflate pieces at once (0: one per core); the bytes never depend on it.
// Throws ZlibError.
int64_t DeflateInPieces(RandomAccessFile& src, int64_t n, int level, RandomAccessFile& out,
                        int64_t outPos, const std::string& source, unsigned threads = 0);

} // namespace qvr::detail
