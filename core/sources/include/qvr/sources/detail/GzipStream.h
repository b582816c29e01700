#pragma once
// A gzip file decoded by zlib, which checks each member's CRC and length: libarchive's own
// gzip reader checks neither, so a damaged .tar.gz would install damaged files as sound.

#include "qvr/platform/detail/RandomAccessFile.h"

#include <zlib.h>

#include <memory>
#include <string>
#include <vector>

namespace qvr::sources::detail {

class GzipStream {
public:
    // The file's stream when it begins as gzip does; nothing otherwise, or when it cannot be
    // read (the reader that opens it then says why). Throws when zlib cannot start.
    static std::unique_ptr<GzipStream> IfGzip(const std::string& path);
    explicit GzipStream(std::unique_ptr<RandomAccessFile> file);
    ~GzipStream();
    GzipStream(const GzipStream&) = delete;
    GzipStream& operator=(const GzipStream&) = delete;

    // The next decoded bytes: their count (at data), 0 at the end, -1 when the file is damaged
    // or cut short (Problem() says which).
    long Next(const void** data);
    // Decodes what is left, so that the last member's check is made; true when sound.
    bool Finish();
    const std::string& Problem() const { return m_problem; }

private:
    bool Fill();
    long Fail(const std::string& why);

    std::unique_ptr<RandomAccessFile> m_file;
    int64_t m_at = 1;
    z_stream m_z{};
    std::vector<unsigned char> m_in, m_out;
    bool m_ended = false;
    std::string m_problem;
};

} // namespace qvr::sources::detail
