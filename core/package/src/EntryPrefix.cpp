#include "qvr/package/EntryPrefix.h"

#include "qvr/format/detail/Format.h"
#include "qvr/package/detail/Journal.h"
#include "qvr/platform/detail/ArchiveError.h"
#include "qvr/platform/detail/RandomAccessFile.h"

#include <zlib.h>

#include <algorithm>
#include <vector>

namespace qvr {

namespace {

constexpr size_t kChunk = 16 * 1024;

struct Inflater {
    z_stream s{};
    bool ok = inflateInit(&s) == Z_OK;
    ~Inflater() {
        if (ok)
            inflateEnd(&s);
    }
};

// Inflates from the block's stream until out is full or the stream ends.
void InflatePrefix(RandomAccessFile& file, int64_t pos, int64_t left, std::string& out) {
    Inflater z;
    if (!z.ok)
        throw ArchiveError("Cannot start decompression");
    std::vector<unsigned char> in(kChunk);
    z.s.next_out = reinterpret_cast<Bytef*>(out.data());
    z.s.avail_out = static_cast<uInt>(out.size());
    int rc = Z_OK;
    while (z.s.avail_out > 0 && rc != Z_STREAM_END) {
        if (z.s.avail_in == 0) {
            if (left <= 0)
                break; // the stream is cut short: what came out is all there is
            const size_t want = static_cast<size_t>(std::min<int64_t>(left, kChunk));
            const size_t got = file.ReadAt(pos, in.data(), want);
            if (got == 0)
                break;
            pos += static_cast<int64_t>(got);
            left -= static_cast<int64_t>(got);
            z.s.next_in = in.data();
            z.s.avail_in = static_cast<uInt>(got);
        }
        rc = inflate(&z.s, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
            throw ArchiveError("its stored data is damaged");
    }
    out.resize(out.size() - z.s.avail_out);
}

} // namespace

Result ReadEntryPrefix(const Archives& arc, const sgFileInfo& entry, size_t maxBytes,
                       std::string& out) {
    out.clear();
    if (arc.ZipLoaded || arc.CurrentArchive.empty())
        return Result::Unusable("Only the files of an open QVR archive can be read");
    try {
        std::shared_ptr<RandomAccessFile> file =
            detail::ArchivesAccess::Locked(arc, arc.CurrentArchive, false);
        const format::Head head = format::ReadHead(*file);
        if (!format::BlockInside(entry.FileOffset(), entry.FileCompressedSize(), head.DataEnd()))
            throw ArchiveError("its stored data lies outside the archive");
        out.resize(std::min<size_t>(maxBytes, static_cast<size_t>(std::max(0, entry.FileSize()))));
        InflatePrefix(*file, entry.FileOffset() + format::kBlockPrefix,
                      entry.FileCompressedSize() - format::kBlockPrefix, out);
        return Result::Success();
    } catch (const std::exception& e) {
        out.clear();
        return Result::EntryFailure(entry.FileName() + ": " + e.what());
    }
}

} // namespace qvr
