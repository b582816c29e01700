#include "qvr/package/Archives.h"

#include "qvr/format/detail/Format.h"

#include "qvr/format/detail/RecordIO.h"
#include "qvr/platform/Encoding.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/detail/ArchiveError.h"
#include "qvr/platform/detail/RandomAccessFile.h"

#include <limits>
#include <optional>
#include <vector>

namespace qvr {

namespace {

struct CentralDirectory {
    uint64_t Offset = 0; // 0-based
    uint64_t Size = 0;
    uint64_t Count = 0;
    // Bytes in front of the zip (a self-extractor's program, or a file it was appended to):
    // the offsets the zip records count from its own start, not from the file's.
    uint64_t Prefix = 0;
};

uint64_t Le(const unsigned char* b, int n) {
    return format::GetLittleEndian(b, n);
}

// Reads exactly n bytes at the 0-based offset, or fails.
bool ReadExact(RandomAccessFile& file, uint64_t offset, void* buf, size_t n) {
    if (offset > static_cast<uint64_t>(std::numeric_limits<int64_t>::max() - 1))
        return false;
    return file.ReadAt(static_cast<int64_t>(offset) + 1, buf, n) == n;
}

bool HasZip64Locator(RandomAccessFile& file, uint64_t eocd) {
    unsigned char loc[20];
    return eocd >= 20 && ReadExact(file, eocd - 20, loc, sizeof loc) && Le(loc, 4) == 0x07064b50;
}

struct Zip64End {
    CentralDirectory Directory; // its values, Prefix not yet known
    uint64_t At = 0;            // 0-based start of the record itself
};

// The zip64 end record whose locator stands just before the end record at eocd; none when
// there is no such pair.
std::optional<Zip64End> FindZip64Record(RandomAccessFile& file, uint64_t eocd) {
    unsigned char loc[20];
    if (eocd < 20 || !ReadExact(file, eocd - 20, loc, sizeof loc) || Le(loc, 4) != 0x07064b50)
        return std::nullopt;
    unsigned char z64[56];
    // Where the locator says, or, with data in front of the zip, just before the locator.
    for (uint64_t at : {Le(loc + 8, 8), eocd >= 76 ? eocd - 76 : eocd}) {
        if (at > eocd - 20 || eocd - 20 - at < sizeof z64 ||
            !ReadExact(file, at, z64, sizeof z64) || Le(z64, 4) != 0x06064b50)
            continue;
        Zip64End found;
        found.Directory.Count = Le(z64 + 32, 8);
        found.Directory.Size = Le(z64 + 40, 8);
        found.Directory.Offset = Le(z64 + 48, 8);
        found.At = at;
        return found;
    }
    return std::nullopt;
}

// The end-of-central-directory record (and its zip64 form), searched for from the end of the
// file; none when the file carries no well-formed one.
std::optional<CentralDirectory> FindCentralDirectory(RandomAccessFile& file) {
    const int64_t length = file.Length();
    const int64_t tailLength = std::min<int64_t>(length, 22 + 65535);
    if (tailLength < 22)
        return std::nullopt;
    std::vector<unsigned char> tail(static_cast<size_t>(tailLength));
    const uint64_t tailStart = static_cast<uint64_t>(length - tailLength);
    if (!ReadExact(file, tailStart, tail.data(), tail.size()))
        return std::nullopt;
    for (int64_t i = tailLength - 22; i >= 0; --i) {
        const unsigned char* r = tail.data() + i;
        if (Le(r, 4) != 0x06054b50)
            continue;
        // The comment must run exactly to the end of the file, or this is not the record.
        if (i + 22 + static_cast<int64_t>(Le(r + 20, 2)) != tailLength)
            continue;
        CentralDirectory cd;
        cd.Count = Le(r + 10, 2);
        cd.Size = Le(r + 12, 4);
        cd.Offset = Le(r + 16, 4);
        const uint64_t eocd = tailStart + static_cast<uint64_t>(i);
        // The central directory ends where the end record (or its zip64 form) begins. A zip64
        // record may stand there with ordinary values too (Info-ZIP writes one when it packs
        // from a pipe): its length is then no data in front of the zip.
        uint64_t directoryEnd = eocd;
        const bool saturated =
            cd.Count == 0xFFFF || cd.Size == 0xFFFFFFFF || cd.Offset == 0xFFFFFFFF;
        if (const auto z64 = FindZip64Record(file, eocd)) {
            cd = z64->Directory;
            directoryEnd = z64->At;
        } else if (saturated && HasZip64Locator(file, eocd)) {
            throw ArchiveError("The zip file " + file.Path() +
                               " is damaged: its zip64 directory record is missing");
        }
        if (cd.Offset <= directoryEnd && cd.Size <= directoryEnd - cd.Offset)
            cd.Prefix = directoryEnd - cd.Offset - cd.Size;
        cd.Offset += cd.Prefix;
        return cd;
    }
    return std::nullopt;
}

int32_t Clamp(uint64_t v) {
    return static_cast<int32_t>(std::min<uint64_t>(v, std::numeric_limits<int32_t>::max()));
}

void SplitName(std::string name, sgFileInfo& e) {
    for (char& c : name)
        if (c == '/')
            c = '\\';
    size_t cut = name.rfind('\\');
    e.FileName(cut == std::string::npos ? name : name.substr(cut + 1));
    e.FilePath(cut == std::string::npos ? std::string() : name.substr(0, cut));
}

// Walks the central directory, appending every file member (folders left out).
void ReadCentralDirectory(RandomAccessFile& file, const CentralDirectory& cd,
                          std::vector<sgFileInfo>& out) {
    const uint64_t length = static_cast<uint64_t>(file.Length());
    const std::string damaged = "The zip file " + file.Path() + " is damaged: ";
    if (cd.Offset > length || cd.Size > length - cd.Offset)
        throw ArchiveError(damaged + "its central directory lies outside the file");
    uint64_t pos = cd.Offset;
    const uint64_t end = cd.Offset + cd.Size;
    for (uint64_t k = 0; k < cd.Count; ++k) {
        unsigned char h[46];
        if (pos + 46 > end || !ReadExact(file, pos, h, sizeof h) || Le(h, 4) != 0x02014b50)
            throw ArchiveError(damaged + "its central directory is cut short");
        const uint16_t flags = static_cast<uint16_t>(Le(h + 8, 2));
        uint64_t compressed = Le(h + 20, 4);
        uint64_t size = Le(h + 24, 4);
        const size_t nameLength = Le(h + 28, 2);
        const size_t extraLength = Le(h + 30, 2);
        const size_t commentLength = Le(h + 32, 2);
        uint64_t local = Le(h + 42, 4);
        const uint64_t next = pos + 46 + nameLength + extraLength + commentLength;
        if (next > end)
            throw ArchiveError(damaged + "its central directory is cut short");
        std::string raw(nameLength, '\0');
        std::vector<unsigned char> extra(extraLength);
        if (!ReadExact(file, pos + 46, raw.data(), nameLength) ||
            !ReadExact(file, pos + 46 + nameLength, extra.data(), extraLength))
            throw ArchiveError(damaged + "its central directory is cut short");
        // zip64: the 64-bit values stand in the extra field, in this order, for each field
        // whose 32-bit form is all ones.
        for (size_t x = 0; x + 4 <= extra.size();) {
            const uint64_t id = Le(&extra[x], 2);
            const size_t len = Le(&extra[x + 2], 2);
            if (x + 4 + len > extra.size())
                break;
            if (id == 0x0001) {
                size_t at = x + 4;
                auto take = [&](uint64_t& field) {
                    if (field == 0xFFFFFFFF && at + 8 <= x + 4 + len) {
                        field = Le(&extra[at], 8);
                        at += 8;
                    }
                };
                take(size);
                take(compressed);
                take(local);
            }
            x += 4 + len;
        }
        local += cd.Prefix;
        std::string name = (flags & 0x0800) && IsValidUtf8(raw) ? raw : Cp1252ToUtf8(raw);
        const bool folder = !name.empty() && (name.back() == '/' || name.back() == '\\');
        if (!folder) {
            unsigned char lh[30];
            if (!ReadExact(file, local, lh, sizeof lh) || Le(lh, 4) != 0x04034b50)
                throw ArchiveError(damaged + "the local header of " + name + " is missing");
            const uint64_t data = local + 30 + Le(lh + 26, 2) + Le(lh + 28, 2);
            sgFileInfo e;
            SplitName(name, e);
            e.FileOffset(Clamp(data + 1));
            e.FileCompressedSize(Clamp(compressed));
            e.FileSize(Clamp(size));
            out.push_back(e);
        }
        pos = next;
    }
}

} // namespace

namespace detail {
bool HasZipEndRecord(const std::string& path) {
    try {
        RandomAccessFile file(path, RandomAccessFile::Mode::Read);
        return FindCentralDirectory(file).has_value();
    } catch (const std::exception&) {
        return false;
    }
}
} // namespace detail

Result Archives::ReadZipDirectory(const std::string& path) {
    try {
        RandomAccessFile file(path, RandomAccessFile::Mode::Read);
        m_state.Current = path;
        m_state.Zip = true;
        if (auto cd = FindCentralDirectory(file)) {
            ReadCentralDirectory(file, *cd, m_state.Files);
            return Result::Success();
        }
        // No central directory: walk the local headers from the start.
        const int64_t length = file.Length();
        int32_t p = 1;
        while (true) {
            sgFileInfo e;
            const int32_t before = p;
            if (!detail::ParseZipHeader(e, file, p) || e.FileOffset() == 0)
                break;
            m_state.Files.push_back(e);
            if (p > length || p <= before)
                break;
        }
        return Result::Success();
    } catch (const std::exception& e) {
        return Result::Unusable(e.what());
    }
}

} // namespace qvr
