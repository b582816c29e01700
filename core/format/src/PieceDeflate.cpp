#include "qvr/format/detail/PieceDeflate.h"

#include "qvr/format/detail/BlockIO.h"

#include <algorithm>
#include <limits>
#include <thread>
#include <vector>
#include <zlib.h>

namespace qvr::detail {

namespace {

constexpr int64_t kWindow = 32 * 1024;

struct Piece {
    std::vector<unsigned char> In; // the window before the piece, then the piece
    size_t Primer = 0;             // how much of In is window
    bool Last = false;
    std::vector<unsigned char> Out;
    int Code = Z_OK;
};

void Deflate(Piece& p, int level) {
    z_stream z{};
    // Raw deflate: the one zlib header and the Adler-32 of the whole are written around it.
    p.Code = deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    if (p.Code != Z_OK)
        return;
    if (p.Primer > 0)
        p.Code = deflateSetDictionary(&z, p.In.data(), static_cast<uInt>(p.Primer));
    const size_t n = p.In.size() - p.Primer;
    p.Out.resize(deflateBound(&z, static_cast<uLong>(n)) + 16);
    if (p.Code == Z_OK) {
        z.next_in = p.In.data() + p.Primer;
        z.avail_in = static_cast<uInt>(n);
        z.next_out = p.Out.data();
        z.avail_out = static_cast<uInt>(p.Out.size());
        int rc = deflate(&z, p.Last ? Z_FINISH : Z_SYNC_FLUSH);
        const bool done = p.Last ? rc == Z_STREAM_END : rc == Z_OK && z.avail_in == 0;
        p.Code = done && z.avail_out > 0 ? Z_OK : Z_BUF_ERROR;
        p.Out.resize(p.Out.size() - z.avail_out);
    }
    deflateEnd(&z);
}

unsigned char HeaderLevelByte(int level) {
    // FLEVEL as zlib sets it, with the check bits that make the header a multiple of 31.
    if (level >= 7 || level < 0)
        return level < 0 ? 0x9C : 0xDA;
    if (level >= 6)
        return 0x9C;
    return level >= 2 ? 0x5E : 0x01;
}

} // namespace

int64_t DeflateInPieces(RandomAccessFile& src, int64_t n, int level, RandomAccessFile& out,
                        int64_t outPos, const std::string& source, unsigned threads) {
    const unsigned cores = threads ? threads : std::max(1u, std::thread::hardware_concurrency());
    const unsigned char header[2] = {0x78, HeaderLevelByte(level)};
    out.WriteAt(outPos, header, 2);
    int64_t pos = outPos + 2;
    uLong adler = adler32(0L, Z_NULL, 0);
    std::vector<Piece> round(cores);
    for (int64_t start = 0; start < n;) {
        size_t used = 0;
        for (; used < round.size() && start < n; ++used) {
            Piece& p = round[used];
            const int64_t from = std::max<int64_t>(0, start - kWindow);
            const int64_t end = std::min(n, start + kPieceSize);
            p.In.resize(static_cast<size_t>(end - from));
            p.Primer = static_cast<size_t>(start - from);
            p.Last = end == n;
            if (src.ReadAt(from + 1, p.In.data(), p.In.size()) != p.In.size())
                throw ZlibError(Z_ERRNO, "The file " + source + " became shorter while read");
            start = end;
        }
        std::vector<std::thread> helpers;
        for (size_t k = 1; k < used; ++k)
            helpers.emplace_back([&round, k, level] { Deflate(round[k], level); });
        Deflate(round[0], level);
        for (auto& t : helpers)
            t.join();
        for (size_t k = 0; k < used; ++k) {
            Piece& p = round[k];
            if (p.Code != Z_OK)
                throw ZlibError(p.Code, "Cannot compress " + source);
            adler =
                adler32(adler, p.In.data() + p.Primer, static_cast<uInt>(p.In.size() - p.Primer));
            if (pos - outPos + static_cast<int64_t>(p.Out.size()) + 8 >
                std::numeric_limits<int32_t>::max())
                throw ZlibError(Z_ERRNO,
                                "The compressed form of " + source + " would be 2 GB or larger");
            out.WriteAt(pos, p.Out.data(), p.Out.size());
            pos += static_cast<int64_t>(p.Out.size());
        }
    }
    const unsigned char check[4] = {
        static_cast<unsigned char>(adler >> 24), static_cast<unsigned char>(adler >> 16),
        static_cast<unsigned char>(adler >> 8), static_cast<unsigned char>(adler)};
    out.WriteAt(pos, check, 4);
    return pos + 4;
}

} // namespace qvr::detail
