#include "qvr/format/detail/RecordIO.h"

#include "qvr/format/detail/Format.h"

#include "qvr/platform/Encoding.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/detail/ArchiveError.h"
#include "qvr/platform/detail/RandomAccessFile.h"

#include <cstring>
#include <limits>

namespace qvr::detail {

namespace {

void CheckPosition(int64_t pos, const RandomAccessFile& file) {
    if (pos < 1 || pos > std::numeric_limits<int32_t>::max())
        throw ArchiveError("Position " + std::to_string(pos) + " lies outside " + file.Path());
}

int32_t ReadLong(RandomAccessFile& file, int64_t& pos) {
    CheckPosition(pos, file);
    unsigned char b[4] = {0, 0, 0, 0};
    file.ReadAt(pos, b, 4); // past the end of the file the bytes read as 0
    pos += 4;
    return format::GetLong(b);
}

uint16_t ReadShort(RandomAccessFile& file, int64_t& pos) {
    CheckPosition(pos, file);
    unsigned char b[2] = {0, 0};
    file.ReadAt(pos, b, 2);
    pos += 2;
    return format::GetShort(b);
}

} // namespace

void WriteHeaderData(const sgFileInfo& entry, RandomAccessFile& vFileN, int32_t& vCurPos) {
    // Built whole first, so that a text that cannot be stored writes nothing.
    std::string record = format::EncodeRecord(entry);
    int64_t end = int64_t{vCurPos} + static_cast<int64_t>(record.size());
    CheckPosition(vCurPos, vFileN);
    if (end > std::numeric_limits<int32_t>::max())
        throw ArchiveError("The archive " + vFileN.Path() + " would grow past 2 GB");
    vFileN.WriteAt(vCurPos, record.data(), record.size());
    vCurPos = static_cast<int32_t>(end);
}

void ParseHeaderData(sgFileInfo& entry, RandomAccessFile& vFileN, int32_t& vCurPos) {
    CheckPosition(vCurPos, vFileN);
    // Past the end of the file the bytes read as 0, so a text there ends at the file's end.
    std::string bytes(static_cast<size_t>(format::kMaxRecordBytes), '\0');
    vFileN.ReadAt(vCurPos, bytes.data(), bytes.size());
    size_t used = 0;
    std::string why;
    if (!format::DecodeRecord(bytes, used, entry, why))
        throw ArchiveError("A record in " + vFileN.Path() + " cannot be read: " + why);
    const int64_t pos = int64_t{vCurPos} + static_cast<int64_t>(used);
    CheckPosition(pos, vFileN);
    vCurPos = static_cast<int32_t>(pos);
}

bool ParseZipHeader(sgFileInfo& entry, RandomAccessFile& vFileN, int32_t& vCurPos) {
    int64_t pos = vCurPos;
    pos += 2; // "PK", not compared
    int32_t signature = ReadLong(vFileN, pos);
    if (signature != 1311747) {
        vCurPos = static_cast<int32_t>(std::min<int64_t>(pos, std::numeric_limits<int32_t>::max()));
        return false;
    }
    uint16_t flags = ReadShort(vFileN, pos);
    pos += 10; // method, time, date, CRC-32
    int32_t compressed = ReadLong(vFileN, pos);
    int32_t size = ReadLong(vFileN, pos);
    uint16_t nameLength = ReadShort(vFileN, pos);
    uint16_t extraLength = ReadShort(vFileN, pos);
    std::string raw(nameLength, '\0');
    if (nameLength > 0) {
        CheckPosition(pos, vFileN);
        size_t got = vFileN.ReadAt(pos, raw.data(), nameLength);
        raw.resize(got);
    }
    pos += nameLength + extraLength;
    std::string name;
    const bool utf8Flag = (flags & 0x0800) != 0;
    if (utf8Flag && IsValidUtf8(raw))
        name = raw;
    else
        name = Cp1252ToUtf8(raw);
    for (char& c : name)
        if (c == '/')
            c = '\\';
    int64_t next = pos + compressed;
    CheckPosition(pos, vFileN);
    CheckPosition(next, vFileN);

    sgFileInfo e;
    e.FileCompressedSize(compressed);
    e.FileSize(size);
    e.FileName(GetFileNameFromPath(name));
    size_t cut = name.rfind('\\');
    e.FilePath(cut == std::string::npos ? std::string() : name.substr(0, cut));
    e.FileOffset(static_cast<int32_t>(pos));
    entry = e;
    vCurPos = static_cast<int32_t>(next);
    return true;
}

} // namespace qvr::detail
