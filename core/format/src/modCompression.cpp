#include "qvr/format/detail/modCompression.h"

#include "qvr/format/detail/BlockIO.h"
#include "qvr/format/detail/Format.h"
#include "qvr/format/detail/PieceDeflate.h"
#include "qvr/format/detail/WholeMember.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/WorkFiles.h"
#include "qvr/platform/detail/WorkFileNames.h"
#include "qvr/platform/detail/platform.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <zlib.h>

namespace qvr {

namespace {

// Pieces small enough to keep memory at a few hundred kilobytes whatever the member's size.
constexpr size_t kChunk = 256 * 1024;

class Inflater {
public:
    Inflater() { m_ok = inflateInit(&s) == Z_OK; }
    ~Inflater() {
        if (m_ok)
            inflateEnd(&s);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    bool Ok() const { return m_ok; }
    z_stream s{};

private:
    bool m_ok = false;
};

std::string ZlibText(const z_stream& s, int code) {
    if (s.msg)
        return s.msg;
    return zError(code);
}

// A work file beside destination, or (inPlace) destination itself, made new and open.
std::string OpenOutput(const std::string& destination, bool inPlace,
                       std::unique_ptr<RandomAccessFile>& out) {
    if (!inPlace)
        return detail::CreateUniqueFile(detail::FolderOf(destination),
                                        GetFileNameFromPath(destination), destination, &out);
    out = std::make_unique<RandomAccessFile>(destination, RandomAccessFile::Mode::CreateNew);
    return destination;
}

// Flushed before it is closed where the system offers no cheaper way to flush many files.
void Finish(RandomAccessFile& out, const detail::OutputFile& how) {
    if (how.Modified)
        out.SetModified(*how.Modified);
    if (how.Flush)
        out.Sync();
    out.Close();
}

// What one thread read ahead of the block it needed, for the blocks after it.
struct Window {
    uint64_t Pass = 0;
    int64_t Start = 0;
    size_t Size = 0;
    const unsigned char* Data = nullptr;
};
thread_local Window t_window;
constexpr int64_t kReadWindow = int64_t{256} << 10;
std::atomic<uint64_t> g_lastPass{0};

// The length bytes at pos, from this thread's window when it holds them; else read, with the
// blocks that follow up to a window's size. nullptr when the file ends before them.
const unsigned char* SmallBlock(RandomAccessFile& source, int64_t pos, int64_t length,
                                const detail::ReadAhead& ahead) {
    Window& w = t_window;
    if (ahead.Pass != 0 && w.Pass == ahead.Pass && pos >= w.Start &&
        pos + length <= w.Start + static_cast<int64_t>(w.Size))
        return w.Data + (pos - w.Start);
    w = {};
    int64_t want = length;
    if (ahead.Pass != 0 && ahead.Until > pos + length)
        want = std::max(length, std::min(ahead.Until - pos, kReadWindow));
    unsigned char* data = detail::ThreadBuffer(3, static_cast<size_t>(want));
    const size_t got = source.ReadAt(pos, data, static_cast<size_t>(want));
    if (got < static_cast<size_t>(length))
        return nullptr;
    if (ahead.Pass != 0)
        w = {ahead.Pass, pos, got, data};
    return data;
}

// in holds the block's stored bytes, read already.
std::string InflateWholeBeside(const unsigned char* in, int64_t stored, int64_t want,
                               const std::string& where, const std::string& destination,
                               uint32_t* crc, const detail::OutputFile& how) {
    using namespace detail;
    unsigned char* data = ThreadBuffer(2, static_cast<size_t>(std::max<int64_t>(want, 1)));
    if (InflateWhole(in, static_cast<size_t>(stored), data, static_cast<size_t>(want)) != Z_OK)
        throw ZlibError(Z_DATA_ERROR, where + " is damaged or does not hold the recorded " +
                                          std::to_string(want) + " bytes");
    std::unique_ptr<RandomAccessFile> out;
    std::string temp = OpenOutput(destination, how.InPlace, out);
    try {
        if (want > 0)
            out->WriteAt(1, data, static_cast<size_t>(want));
        Finish(*out, how);
    } catch (...) {
        out.reset();
        DeleteFileQuiet(temp);
        throw;
    }
    if (crc)
        *crc = Crc32(0, data, static_cast<size_t>(want));
    return temp;
}

} // namespace

int64_t detail::CompressFileChecked(const std::string& source, const std::string& destination,
                                    int level, unsigned threads) {
    RandomAccessFile src(source, RandomAccessFile::Mode::Read);
    const int64_t n = src.Length();
    if (n == 0)
        throw ZlibError(Z_ERRNO, "The file " + source + " is empty");
    if (n > std::numeric_limits<int32_t>::max())
        throw ZlibError(Z_ERRNO, "The file " + source + " is 2 GB or larger");
    if (level < Z_DEFAULT_COMPRESSION || level > kBestLevel)
        throw ZlibError(Z_STREAM_ERROR,
                        "Compression level " + std::to_string(level) + " is not valid");

    std::string temp =
        CreateUniqueFile(FolderOf(destination), GetFileNameFromPath(destination), destination);
    try {
        RandomAccessFile out(temp, RandomAccessFile::Mode::ReadWrite);
        unsigned char prefix[4];
        format::PutLong(prefix, static_cast<int32_t>(n));
        out.WriteAt(1, prefix, 4);
        if (n <= kWholeMemberLimit) {
            unsigned char* in = ThreadBuffer(0, static_cast<size_t>(n));
            if (src.ReadAt(1, in, static_cast<size_t>(n)) != static_cast<size_t>(n))
                throw ZlibError(Z_ERRNO, "The file " + source + " became shorter while read");
            std::vector<unsigned char> packed;
            int rc = DeflateWhole(in, static_cast<size_t>(n), level, packed);
            if (rc != Z_OK)
                throw ZlibError(rc, "Cannot compress " + source + ": " + zError(rc));
            out.WriteAt(5, packed.data(), packed.size());
            out.Close();
            src.Close();
            platform::ReplaceFile(temp, destination);
            return n;
        }
        DeflateInPieces(src, n, std::min(level, 9), out, 5, source, threads);
        out.Close();
        src.Close();
        platform::ReplaceFile(temp, destination);
    } catch (...) {
        DeleteFileQuiet(temp);
        throw;
    }
    return n;
}

std::string detail::InflateBlockBeside(RandomAccessFile& source, int64_t pos, int64_t length,
                                       int32_t expected, const std::string& destination,
                                       uint32_t* crc) {
    return InflateBlockTo(source, pos, length, expected, destination, crc, {});
}

uint64_t detail::NewReadPass() {
    return ++g_lastPass;
}

std::string detail::InflateBlockTo(RandomAccessFile& source, int64_t pos, int64_t length,
                                   int32_t expected, const std::string& destination, uint32_t* crc,
                                   const OutputFile& how, const ReadAhead& ahead) {
    const std::string where =
        "The stored data at position " + std::to_string(pos) + " of " + source.Path();
    if (length < 4)
        throw ZlibError(Z_DATA_ERROR, where + " is too short to hold a block");
    // A hostile block may claim any size; only plausible ones are read whole, prefix and
    // data in one read.
    const int64_t stored = length - 4;
    const bool small = stored <= kWholeMemberLimit + kWholeMemberLimit / 8 + 4096;
    const unsigned char* block = nullptr;
    unsigned char prefix[4];
    if (small) {
        block = SmallBlock(source, pos, length, ahead);
        if (!block)
            throw ZlibError(Z_DATA_ERROR, where + " lies past the end of the file");
        std::copy(block, block + 4, prefix);
    } else if (source.ReadAt(pos, prefix, 4) != 4) {
        throw ZlibError(Z_DATA_ERROR, where + " lies past the end of the file");
    }
    const int64_t want = expected > 0 ? expected : format::GetLong(prefix);
    if (want < 0)
        throw ZlibError(Z_DATA_ERROR, where + " records a negative size");
    if (small && want <= kWholeMemberLimit)
        return InflateWholeBeside(block + 4, stored, want, where, destination, crc, how);
    Inflater z;
    if (!z.Ok())
        throw ZlibError(Z_MEM_ERROR, "Cannot start decompression");

    std::unique_ptr<RandomAccessFile> opened;
    std::string temp = OpenOutput(destination, how.InPlace, opened);
    try {
        RandomAccessFile& out = *opened;
        std::vector<unsigned char> in(kChunk), buf(kChunk);
        int64_t inPos = pos + 4;
        int64_t inLeft = length - 4;
        int64_t total = 0;
        uint32_t sum = 0;
        int rc = Z_OK;
        while (rc != Z_STREAM_END) {
            if (z.s.avail_in == 0 && inLeft > 0) {
                size_t want = static_cast<size_t>(std::min<int64_t>(inLeft, kChunk));
                if (source.ReadAt(inPos, in.data(), want) != want)
                    throw ZlibError(Z_DATA_ERROR, where + " lies past the end of the file");
                inPos += static_cast<int64_t>(want);
                inLeft -= static_cast<int64_t>(want);
                z.s.next_in = in.data();
                z.s.avail_in = static_cast<uInt>(want);
            }
            z.s.next_out = buf.data();
            z.s.avail_out = static_cast<uInt>(kChunk);
            rc = inflate(&z.s, Z_NO_FLUSH);
            if (rc == Z_BUF_ERROR && z.s.avail_in == 0 && inLeft == 0)
                throw ZlibError(Z_BUF_ERROR, where + " ends before its data is complete");
            if (rc == Z_NEED_DICT || rc == Z_DATA_ERROR || rc == Z_STREAM_ERROR ||
                rc == Z_MEM_ERROR || (rc == Z_BUF_ERROR && z.s.avail_in != 0)) {
                int code = rc == Z_NEED_DICT || rc == Z_BUF_ERROR ? Z_DATA_ERROR : rc;
                throw ZlibError(code, where + " is damaged: " + ZlibText(z.s, rc));
            }
            size_t have = kChunk - z.s.avail_out;
            if (total + static_cast<int64_t>(have) > want)
                throw ZlibError(Z_DATA_ERROR, where + " holds more than the recorded " +
                                                  std::to_string(want) + " bytes");
            if (have > 0) {
                out.WriteAt(total + 1, buf.data(), have);
                if (crc)
                    sum = Crc32(sum, buf.data(), have);
            }
            total += static_cast<int64_t>(have);
        }
        if (total != want)
            throw ZlibError(Z_DATA_ERROR, where + " holds " + std::to_string(total) +
                                              " bytes instead of the recorded " +
                                              std::to_string(want));
        Finish(out, how);
        if (crc)
            *crc = static_cast<uint32_t>(sum);
    } catch (...) {
        opened.reset();
        DeleteFileQuiet(temp);
        throw;
    }
    return temp;
}

int32_t CompressBytes(std::vector<unsigned char>& bytes, int16_t level) {
    if (level > 9)
        return Z_STREAM_ERROR;
    std::vector<unsigned char> out;
    int rc = detail::DeflateWhole(bytes.data(), bytes.size(), level, out);
    if (rc == Z_OK)
        bytes.swap(out);
    return rc;
}

int32_t DecompressBytes(std::vector<unsigned char>& bytes, int32_t expectedSize) {
    if (expectedSize < 0)
        return Z_DATA_ERROR;
    if (expectedSize <= detail::kWholeMemberLimit) {
        std::vector<unsigned char> out(static_cast<size_t>(expectedSize));
        int rc = detail::InflateWhole(bytes.data(), bytes.size(), out.data(), out.size());
        if (rc == Z_OK)
            bytes.swap(out);
        return rc;
    }
    Inflater z;
    if (!z.Ok())
        return Z_MEM_ERROR;
    // Grows with what the stream really delivers, never with what the size claims.
    std::vector<unsigned char> out;
    std::vector<unsigned char> buf(kChunk);
    z.s.next_in = bytes.data();
    z.s.avail_in = static_cast<uInt>(bytes.size());
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        z.s.next_out = buf.data();
        z.s.avail_out = static_cast<uInt>(kChunk);
        rc = inflate(&z.s, Z_NO_FLUSH);
        if (rc == Z_NEED_DICT)
            return Z_DATA_ERROR;
        if (rc == Z_BUF_ERROR && z.s.avail_in == 0)
            return Z_BUF_ERROR; // the stream ends early
        if (rc != Z_OK && rc != Z_STREAM_END)
            return rc;
        size_t have = kChunk - z.s.avail_out;
        if (out.size() + have > static_cast<size_t>(expectedSize))
            return Z_DATA_ERROR;
        out.insert(out.end(), buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(have));
    }
    if (out.size() != static_cast<size_t>(expectedSize))
        return Z_DATA_ERROR;
    bytes.swap(out);
    return Z_OK;
}

int32_t CompressFile(const std::string& source, const std::string& destination, int16_t level) {
    return level > 9 ? Z_STREAM_ERROR : detail::CompressFileAt(source, destination, level);
}

int32_t detail::CompressFileAt(const std::string& source, const std::string& destination, int level,
                               unsigned threads) {
    try {
        detail::CompressFileChecked(source, destination, level, threads);
        return Z_OK;
    } catch (const detail::ZlibError& e) {
        return e.Code;
    } catch (...) {
        return Z_ERRNO;
    }
}

int32_t DecompressFile(const std::string& source, const std::string& destination,
                       int32_t expectedSize) {
    try {
        RandomAccessFile src(source, RandomAccessFile::Mode::Read);
        std::string temp =
            detail::InflateBlockBeside(src, 1, src.Length(), expectedSize, destination);
        src.Close();
        try {
            platform::ReplaceFile(temp, destination);
        } catch (...) {
            DeleteFileQuiet(temp);
            throw;
        }
        return Z_OK;
    } catch (const detail::ZlibError& e) {
        return e.Code;
    } catch (...) {
        return Z_ERRNO;
    }
}

} // namespace qvr
