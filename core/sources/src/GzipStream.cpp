#include "qvr/sources/detail/GzipStream.h"

#include "qvr/platform/detail/ArchiveError.h"
#include "qvr/sources/detail/Sources.h"

#include <cstring>

namespace qvr::sources::detail {
namespace {
constexpr size_t kInput = size_t{1} << 16;
constexpr size_t kOutput = size_t{1} << 18;
} // namespace

std::unique_ptr<GzipStream> GzipStream::IfGzip(const std::string& path) {
    std::unique_ptr<RandomAccessFile> f;
    try {
        f = std::make_unique<RandomAccessFile>(path, RandomAccessFile::Mode::Read);
        unsigned char b[2] = {};
        if (f->ReadAt(1, b, 2) != 2 || b[0] != 0x1F || b[1] != 0x8B)
            return nullptr;
    } catch (const ArchiveError&) {
        return nullptr;
    }
    return std::make_unique<GzipStream>(std::move(f));
}

GzipStream::GzipStream(std::unique_ptr<RandomAccessFile> file)
    : m_file(std::move(file)), m_in(kInput), m_out(kOutput) {
    // 16 + 15: gzip's header and trailer, the largest window.
    if (inflateInit2(&m_z, 16 + MAX_WBITS) != Z_OK)
        throw ArchiveError("out of memory");
    m_z.avail_in = 0;
}

GzipStream::~GzipStream() {
    inflateEnd(&m_z);
}

// Keeps the input not yet taken and reads more behind it; false at the file's end.
bool GzipStream::Fill() {
    if (m_z.avail_in > 0 && m_z.next_in != m_in.data())
        std::memmove(m_in.data(), m_z.next_in, m_z.avail_in);
    const size_t got = m_file->ReadAt(m_at, m_in.data() + m_z.avail_in, m_in.size() - m_z.avail_in);
    m_at += static_cast<int64_t>(got);
    m_z.next_in = m_in.data();
    m_z.avail_in += static_cast<uInt>(got);
    return got > 0;
}

long GzipStream::Fail(const std::string& why) {
    m_problem = why;
    return -1;
}

long GzipStream::Next(const void** data) {
    if (!m_problem.empty())
        return -1;
    m_z.next_out = m_out.data();
    m_z.avail_out = static_cast<uInt>(m_out.size());
    try {
        while (!m_ended && m_z.avail_out == m_out.size()) {
            if (m_z.avail_in == 0 && !Fill())
                return Fail(kCutShort);
            const int r = inflate(&m_z, Z_NO_FLUSH);
            if (r == Z_STREAM_END) {
                // Another member may follow (gzip files may be joined); anything else after
                // the last is ignored, as gzip does.
                if (m_z.avail_in < 2)
                    Fill();
                m_ended = m_z.avail_in < 2 || m_z.next_in[0] != 0x1F || m_z.next_in[1] != 0x8B;
                if (!m_ended)
                    inflateReset(&m_z);
            } else if (r == Z_DATA_ERROR) {
                // zlib's words: "incorrect data check", "invalid distance too far back", ...
                return Fail(std::string("its compressed data are damaged (") +
                            (m_z.msg ? m_z.msg : "not deflate") + ")");
            } else if (r == Z_MEM_ERROR) {
                return Fail("out of memory");
            } else if (r != Z_OK && (r != Z_BUF_ERROR || m_z.avail_in > 0)) {
                // Input left and no progress: never wait on it.
                return Fail("its compressed data cannot be decoded");
            }
        }
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
    *data = m_out.data();
    return static_cast<long>(m_out.size() - m_z.avail_out);
}

bool GzipStream::Finish() {
    const void* ignored = nullptr;
    long n;
    while ((n = Next(&ignored)) > 0) {
    }
    return n == 0;
}

} // namespace qvr::sources::detail
