#include "qvr/format/detail/WholeMember.h"

#include "qvr/platform/detail/LargeBuffer.h"
#include "qvr/platform/detail/ThreadSlot.h"

#include <algorithm>
#include <memory>
#include <new>
#include <zlib.h>

#ifndef QVR_HAVE_LIBDEFLATE
#define QVR_HAVE_LIBDEFLATE 0
#endif
#if QVR_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace qvr::detail {

namespace {

#if QVR_HAVE_LIBDEFLATE
struct CompressorFree {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
struct DecompressorFree {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};
#endif

// What each thread keeps between members: allocating a compressor costs more than compressing
// a small file, and a member's buffers are as large as the member.
struct PerThread {
#if QVR_HAVE_LIBDEFLATE
    std::unique_ptr<libdeflate_compressor, CompressorFree> Compressors[kBestLevel + 1];
    std::unique_ptr<libdeflate_decompressor, DecompressorFree> Decompressor;
#endif
    platform::LargeBuffer Buffers[4];
};

PerThread& Mine() {
    static platform::ThreadSlot slot([]() -> void* { return new PerThread; },
                                     [](void* p) { delete static_cast<PerThread*>(p); });
    void* mine = slot.Get();
    if (!mine)
        throw std::bad_alloc();
    return *static_cast<PerThread*>(mine);
}

#if QVR_HAVE_LIBDEFLATE
libdeflate_compressor* Compressor(int level) {
    auto& made = Mine().Compressors[level];
    if (!made)
        made.reset(libdeflate_alloc_compressor(level));
    return made.get();
}

libdeflate_decompressor* Decompressor() {
    auto& made = Mine().Decompressor;
    if (!made)
        made.reset(libdeflate_alloc_decompressor());
    return made.get();
}
#endif

} // namespace

bool UsesLibdeflate() {
    return QVR_HAVE_LIBDEFLATE != 0;
}

unsigned char* ThreadBuffer(int slot, size_t n) {
    platform::LargeBuffer& b = Mine().Buffers[slot];
    if (b.Size() < n) {
        b = platform::LargeBuffer(); // the old one goes first: two would raise the peak
        b = platform::LargeBuffer(n);
    }
    return b.Data();
}

int DeflateWhole(const unsigned char* in, size_t n, int level, std::vector<unsigned char>& out) {
    if (level == Z_DEFAULT_COMPRESSION)
        level = 6;
    if (level < 0 || level > kBestLevel)
        return Z_STREAM_ERROR;
#if QVR_HAVE_LIBDEFLATE
    if (UsesLibdeflate()) {
        libdeflate_compressor* c = Compressor(level);
        if (!c)
            return Z_MEM_ERROR;
        std::vector<unsigned char> result(libdeflate_zlib_compress_bound(c, n));
        size_t made = libdeflate_zlib_compress(c, in, n, result.data(), result.size());
        if (made == 0)
            return Z_BUF_ERROR;
        result.resize(made);
        out.swap(result);
        return Z_OK;
    }
#endif
    uLongf bound = compressBound(static_cast<uLong>(n));
    std::vector<unsigned char> result(bound);
    int rc = compress2(result.data(), &bound, in, static_cast<uLong>(n), std::min(level, 9));
    if (rc != Z_OK)
        return rc;
    result.resize(bound);
    out.swap(result);
    return Z_OK;
}

int InflateWhole(const unsigned char* in, size_t n, unsigned char* out, size_t expected,
                 size_t* used) {
#if QVR_HAVE_LIBDEFLATE
    libdeflate_decompressor* d = Decompressor();
    if (!d)
        return Z_MEM_ERROR;
    size_t took = 0, gave = 0;
    libdeflate_result rc = libdeflate_zlib_decompress_ex(d, in, n, out, expected, &took, &gave);
    if (rc != LIBDEFLATE_SUCCESS || gave != expected)
        return Z_DATA_ERROR;
    if (used)
        *used = took;
    return Z_OK;
#else
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return Z_MEM_ERROR;
    z.next_in = const_cast<unsigned char*>(in);
    z.avail_in = static_cast<uInt>(n);
    z.next_out = out;
    z.avail_out = static_cast<uInt>(expected);
    int rc = inflate(&z, Z_FINISH);
    const bool whole = rc == Z_STREAM_END && z.total_out == expected;
    if (used)
        *used = n - z.avail_in;
    inflateEnd(&z);
    return whole ? Z_OK : Z_DATA_ERROR;
#endif
}

int InflateRawWhole(const unsigned char* in, size_t n, unsigned char* out, size_t expected) {
#if QVR_HAVE_LIBDEFLATE
    libdeflate_decompressor* d = Decompressor();
    if (!d)
        return Z_MEM_ERROR;
    size_t took = 0, gave = 0;
    const libdeflate_result rc =
        libdeflate_deflate_decompress_ex(d, in, n, out, expected, &took, &gave);
    return rc == LIBDEFLATE_SUCCESS && gave == expected ? Z_OK : Z_DATA_ERROR;
#else
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK)
        return Z_MEM_ERROR;
    int rc = Z_OK;
    // zlib counts in 32 bits: larger members go in pieces.
    size_t inLeft = n, outLeft = expected;
    z.next_in = const_cast<unsigned char*>(in);
    z.next_out = out;
    while (rc == Z_OK) {
        const uInt inPiece = static_cast<uInt>(std::min<size_t>(inLeft, 1u << 30));
        const uInt outPiece = static_cast<uInt>(std::min<size_t>(outLeft, 1u << 30));
        z.avail_in = inPiece;
        z.avail_out = outPiece;
        rc = inflate(&z, Z_NO_FLUSH);
        inLeft -= inPiece - z.avail_in;
        outLeft -= outPiece - z.avail_out;
        if (rc == Z_BUF_ERROR || (rc == Z_OK && inPiece == z.avail_in && outPiece == z.avail_out))
            break;
    }
    inflateEnd(&z);
    return rc == Z_STREAM_END && outLeft == 0 ? Z_OK : Z_DATA_ERROR;
#endif
}

uint32_t Crc32(uint32_t crc, const unsigned char* data, size_t n) {
#if QVR_HAVE_LIBDEFLATE
    return libdeflate_crc32(crc, data, n);
#else
    while (n > 0) {
        const uInt piece = static_cast<uInt>(std::min<size_t>(n, 1u << 30));
        crc = static_cast<uint32_t>(crc32(crc, data, piece));
        data += piece;
        n -= piece;
    }
    return crc;
#endif
}

} // namespace qvr::detail
