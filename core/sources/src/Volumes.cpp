// Multi-volume and unfinished archives are told apart before they are read: libarchive would
// read the first volume as far as it goes and call the rest damaged, and an unfinished 7z empty.

#include "qvr/platform/detail/RandomAccessFile.h"
#include "qvr/sources/detail/Sources.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace qvr::sources::detail {
namespace {

const char* const kVolume = "is one volume of a multi-volume archive, which qvr cannot read: "
                            "unpack all its volumes with the program that made them";

uint64_t Le(const unsigned char* b, int n) {
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = v << 8 | b[i];
    return v;
}

// RAR5's variable-length numbers: seven bits a byte, low bits first.
bool Vint(const unsigned char* b, size_t n, size_t& at, uint64_t& value) {
    value = 0;
    for (int shift = 0; at < n && shift < 64; shift += 7) {
        const unsigned char c = b[at++];
        value |= uint64_t{c & 0x7Fu} << shift;
        if (!(c & 0x80))
            return true;
    }
    return false;
}

bool Rar5Volume(const unsigned char* b, size_t n) {
    size_t at = 8 + 4; // signature, header crc
    uint64_t size, type, flags, archiveFlags, skip;
    if (!Vint(b, n, at, size) || !Vint(b, n, at, type) || type != 1 || !Vint(b, n, at, flags))
        return false;
    if ((flags & 1) && !Vint(b, n, at, skip)) // extra area size
        return false;
    if ((flags & 2) && !Vint(b, n, at, skip)) // data size
        return false;
    return Vint(b, n, at, archiveFlags) && (archiveFlags & 1);
}

enum class ZipEnd { Missing, OnThisDisk, OnAnotherDisk };

// Where the zip's end record says its directory lies.
ZipEnd FindZipEnd(RandomAccessFile& f) {
    const int64_t length = f.Length();
    const int64_t tail = std::min<int64_t>(length, 22 + 65535);
    std::vector<unsigned char> b(static_cast<size_t>(tail));
    if (tail < 22 || f.ReadAt(length - tail + 1, b.data(), b.size()) != b.size())
        return ZipEnd::Missing;
    ZipEnd found = ZipEnd::Missing;
    for (int64_t i = tail - 22; i >= 0; --i) {
        const unsigned char* r = b.data() + i;
        if (Le(r, 4) != 0x06054b50)
            continue;
        // Bytes after the record's comment: some other reader may still take it.
        found = ZipEnd::OnThisDisk;
        if (i + 22 + static_cast<int64_t>(Le(r + 20, 2)) != tail)
            continue;
        const uint64_t disk = Le(r + 4, 2), first = Le(r + 6, 2);
        return (disk != 0 && disk != 0xFFFF) || (first != 0 && first != 0xFFFF)
                   ? ZipEnd::OnAnotherDisk
                   : ZipEnd::OnThisDisk;
    }
    return found;
}

bool EndsIn(const std::string& name, const std::string& tail) {
    return name.size() > tail.size() &&
           name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

std::string VolumeProblem(const std::string& path) {
    RandomAccessFile f(path, RandomAccessFile::Mode::Read);
    unsigned char b[64] = {};
    const size_t n = f.ReadAt(1, b, sizeof b);
    if (n >= 12 && std::memcmp(b, "Rar!\x1A\x07\x00", 7) == 0)
        return b[9] == 0x73 && (Le(b + 10, 2) & 1) ? kVolume : "";
    if (n >= 12 && std::memcmp(b, "Rar!\x1A\x07\x01\x00", 8) == 0)
        return Rar5Volume(b, n) ? kVolume : "";
    if (n >= 32 && std::memcmp(b, "7z\xBC\xAF\x27\x1C", 6) == 0) {
        const uint64_t offset = Le(b + 12, 8), size = Le(b + 20, 8);
        const auto length = static_cast<uint64_t>(f.Length());
        // 7z writes its start header last: until then it reads as an empty archive.
        if (offset == 0 && size == 0 && length > 32)
            return "is incomplete: its start header names no directory (was it still being "
                   "written, or cut short?)";
        if (offset > length || size > length || 32 + offset + size > length)
            return EndsIn(path, ".001") ? kVolume
                                        : "is cut short: its directory lies past the end of the "
                                          "file (is it the first volume of a split archive?)";
        return "";
    }
    // A spanned zip's first volume begins with the spanning mark, not a member.
    if (n >= 4 && std::memcmp(b, "PK\x07\x08", 4) == 0)
        return kVolume;
    // A tar ends in blocks of zeros: one that ends in a member's bytes stopped between two
    // members, where a reader would take it for whole.
    unsigned char block[512] = {};
    const int64_t length = f.Length();
    if (length >= 1024 && length % 512 == 0 && f.ReadAt(1, block, sizeof block) == sizeof block &&
        std::memcmp(block + 257, "ustar", 5) == 0) {
        if (f.ReadAt(length - 512 + 1, block, sizeof block) != sizeof block ||
            std::any_of(block, block + sizeof block, [](unsigned char c) { return c != 0; }))
            return kCutShort;
        return "";
    }
    // A spanned zip's last volume (Mod.zip beside Mod.z01) begins inside a member: its end
    // record, which names the disk the directory starts on, tells.
    const bool zipStart = n >= 4 && std::memcmp(b, "PK", 2) == 0;
    const ZipEnd end = FindZipEnd(f);
    if (end == ZipEnd::OnAnotherDisk)
        return kVolume;
    // A zip is read from its directory, at its end: a download stopped early has none, and
    // neither has the first piece of one cut into pieces (Mod.zip.001).
    if (zipStart && end == ZipEnd::Missing && std::memcmp(b, "PK\x03\x04", 4) == 0)
        return EndsIn(path, ".001") ? kVolume : kCutShort;
    return "";
}

} // namespace qvr::sources::detail
