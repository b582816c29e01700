#include "qvr/package/Archives.h"

#include "qvr/package/detail/ZipDirectory.h"

#include "qvr/format/detail/Format.h"

#include "qvr/format/detail/RecordIO.h"
#include "qvr/platform/Encoding.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/detail/ArchiveError.h"
#include "qvr/platform/detail/RandomAccessFile.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <vector>

namespace qvr {

using detail::ZipRecord;

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

// The central directory, or the local headers in file order, read in large pieces rather
// than record by record: a zip of ten thousand members would otherwise cost tens of
// thousands of reads.
class DirectoryBytes {
public:
    DirectoryBytes(RandomAccessFile& file, uint64_t end, size_t piece = kPiece)
        : m_file(file), m_end(end), m_piece(piece) {}

    // The n bytes at pos, or nullptr when they run past the directory's end.
    const unsigned char* At(uint64_t pos, size_t n) {
        if (pos > m_end || n > m_end - pos)
            return nullptr;
        if (pos < m_start || pos + n > m_start + m_bytes.size()) {
            const size_t want =
                static_cast<size_t>(std::min<uint64_t>(std::max<size_t>(n, m_piece), m_end - pos));
            m_bytes.resize(want);
            if (!ReadExact(m_file, pos, m_bytes.data(), want))
                return nullptr;
            m_start = pos;
        }
        return m_bytes.data() + (pos - m_start);
    }

private:
    static constexpr size_t kPiece = 1 << 20;
    RandomAccessFile& m_file;
    uint64_t m_end;
    size_t m_piece;
    uint64_t m_start = 0;
    std::vector<unsigned char> m_bytes;
};

// zip64: the 64-bit values stand in the central record's extra field, in this order, for each
// field whose 32-bit form is all ones. Info-ZIP's Unicode path field names the member once more;
// its "UT" and "UX" fields in the local header carry the time. libarchive's experimental "xl"
// field sets the member's kind, and a field running past the end makes libarchive give up.
void ReadExtraField(const unsigned char* extra, size_t length, ZipRecord& r, bool central) {
    size_t x = 0;
    for (; x + 4 <= length;) {
        const uint64_t id = Le(extra + x, 2);
        const size_t len = Le(extra + x + 2, 2);
        if (x + 4 + len > length)
            break;
        const unsigned char* field = extra + x + 4;
        if (id == 0x0001 && central) {
            size_t at = 0;
            auto take = [&](uint64_t& value) {
                if (value == 0xFFFFFFFF && at + 8 <= len) {
                    value = Le(field + at, 8);
                    at += 8;
                }
            };
            take(r.Size);
            take(r.Compressed);
            take(r.Local);
        } else if (id == 0x7075 && len >= 5) {
            r.OtherNames.emplace_back(reinterpret_cast<const char*>(field + 5), len - 5);
        } else if (id == 0x5455 && !central) {
            if (len == 0)
                r.OddExtra = true;
            else if ((field[0] & 1) && len >= 5)
                r.LocalUnixTime = static_cast<uint32_t>(Le(field + 1, 4));
        } else if (id == 0x5855 && !central && len >= 8) {
            r.LocalUnixTime = static_cast<uint32_t>(Le(field + 4, 4));
        } else if (id == 0x6c78) {
            r.OddExtra = true;
        }
        x += 4 + len;
    }
    if (x != length)
        r.OddExtra = true;
}

// The local header at r.Local, if one is there: where the data starts, and what it says of
// the member.
void ReadLocalHeader(DirectoryBytes& bytes, ZipRecord& r) {
    const unsigned char* head = bytes.At(r.Local, 30);
    if (!head || Le(head, 4) != 0x04034b50)
        return;
    r.HasLocal = true;
    r.LocalFlags = static_cast<uint16_t>(Le(head + 6, 2));
    r.LocalMethod = static_cast<uint16_t>(Le(head + 8, 2));
    r.LocalDosTime = static_cast<uint32_t>(Le(head + 10, 4));
    const size_t nameLength = Le(head + 26, 2), extraLength = Le(head + 28, 2);
    r.Data = r.Local + 30 + nameLength + extraLength;
    const unsigned char* rest = bytes.At(r.Local + 30, nameLength + extraLength);
    if (!rest)
        return;
    r.LocalName.assign(reinterpret_cast<const char*>(rest), nameLength);
    ReadExtraField(rest + nameLength, extraLength, r, false);
}

std::vector<ZipRecord> ReadRecords(RandomAccessFile& file, const CentralDirectory& cd) {
    const uint64_t length = static_cast<uint64_t>(file.Length());
    const std::string damaged = "The zip file " + file.Path() + " is damaged: ";
    if (cd.Offset > length || cd.Size > length - cd.Offset)
        throw ArchiveError(damaged + "its central directory lies outside the file");
    DirectoryBytes bytes(file, cd.Offset + cd.Size);
    std::vector<ZipRecord> out;
    out.reserve(std::min<uint64_t>(cd.Count, cd.Size / 46)); // a record takes 46 bytes at least
    uint64_t pos = cd.Offset;
    for (uint64_t k = 0; k < cd.Count; ++k) {
        const unsigned char* h = bytes.At(pos, 46);
        if (!h || Le(h, 4) != 0x02014b50)
            throw ArchiveError(damaged + "its central directory is cut short");
        ZipRecord r;
        r.MadeBy = static_cast<uint16_t>(Le(h + 4, 2));
        r.Flags = static_cast<uint16_t>(Le(h + 8, 2));
        r.Method = static_cast<uint16_t>(Le(h + 10, 2));
        r.Crc = static_cast<uint32_t>(Le(h + 16, 4));
        r.Compressed = Le(h + 20, 4);
        r.Size = Le(h + 24, 4);
        const size_t nameLength = Le(h + 28, 2);
        const size_t extraLength = Le(h + 30, 2);
        const size_t commentLength = Le(h + 32, 2);
        r.Attributes = static_cast<uint32_t>(Le(h + 38, 4));
        r.Local = Le(h + 42, 4);
        const unsigned char* rest = bytes.At(pos + 46, nameLength + extraLength);
        if (!rest || !bytes.At(pos + 46 + nameLength + extraLength, commentLength))
            throw ArchiveError(damaged + "its central directory is cut short");
        r.Name.assign(reinterpret_cast<const char*>(rest), nameLength);
        ReadExtraField(rest + nameLength, extraLength, r, true);
        r.Local += cd.Prefix;
        out.push_back(std::move(r));
        pos += 46 + nameLength + extraLength + commentLength;
    }
    // In the order they stand in the file, so that each piece read holds the next few.
    std::vector<size_t> byPlace(out.size());
    for (size_t k = 0; k < out.size(); ++k)
        byPlace[k] = k;
    std::sort(byPlace.begin(), byPlace.end(),
              [&](size_t a, size_t b) { return out[a].Local < out[b].Local; });
    DirectoryBytes headers(file, length, 256 * 1024);
    for (size_t k : byPlace)
        ReadLocalHeader(headers, out[k]);
    return out;
}

// Every file member of the directory (folders left out), as the listing shows them.
void ReadCentralDirectory(RandomAccessFile& file, const CentralDirectory& cd,
                          std::vector<sgFileInfo>& out) {
    for (const ZipRecord& r : ReadRecords(file, cd)) {
        // As an install from the zip names its members.
        std::string name = IsValidUtf8(r.Name) ? r.Name : Cp437ToUtf8(r.Name);
        const bool folder = !name.empty() && (name.back() == '/' || name.back() == '\\');
        if (folder)
            continue;
        if (!r.HasLocal)
            throw ArchiveError("The zip file " + file.Path() + " is damaged: the local header of " +
                               name + " is missing");
        sgFileInfo e;
        SplitName(name, e);
        e.FileOffset(Clamp(r.Data + 1));
        e.FileCompressedSize(Clamp(r.Compressed));
        e.FileSize(Clamp(r.Size));
        out.push_back(e);
    }
}

} // namespace

namespace detail {
std::optional<std::vector<ZipRecord>> ReadZipRecords(RandomAccessFile& file) {
    const auto cd = FindCentralDirectory(file);
    if (!cd)
        return std::nullopt;
    return ReadRecords(file, *cd);
}

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
