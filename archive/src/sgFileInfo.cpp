#include "qvr/sgFileInfo.h"

#include "Internal.h"

#include "qvr/ArchiveError.h"
#include "qvr/Encoding.h"
#include "qvr/FileUtils.h"
#include "qvr/RandomAccessFile.h"

#include <cstring>
#include <limits>

namespace qvr {

namespace {

constexpr size_t kTextWindow = 255;

void CheckPosition(int64_t pos, const RandomAccessFile& file) {
    if (pos < 1 || pos > std::numeric_limits<int32_t>::max())
        throw ArchiveError("Position " + std::to_string(pos) + " lies outside " + file.Path());
}

void WriteLong(std::string& out, int32_t value) {
    auto u = static_cast<uint32_t>(value);
    for (int k = 0; k < 4; ++k)
        out += static_cast<char>((u >> (8 * k)) & 0xFF);
}

void WriteString(std::string& out, const std::string& utf8, const char* field) {
    auto bytes = Utf8ToCp1252(utf8);
    if (!bytes)
        throw ArchiveError("The " + std::string(field) + " \"" + utf8 +
                           "\" holds a character that cannot be stored in an archive");
    if (bytes->find('\0') != std::string::npos)
        throw ArchiveError("The " + std::string(field) + " holds a NUL character");
    if (bytes->size() >= kTextWindow)
        throw ArchiveError("The " + std::string(field) + " \"" + utf8 +
                           "\" is longer than 254 bytes");
    out += *bytes;
    out += '\0';
}

int32_t ReadLong(RandomAccessFile& file, int64_t& pos) {
    CheckPosition(pos, file);
    unsigned char b[4] = {0, 0, 0, 0};
    file.ReadAt(pos, b, 4); // past the end of the file the bytes read as 0
    pos += 4;
    return static_cast<int32_t>(static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
                                (static_cast<uint32_t>(b[2]) << 16) |
                                (static_cast<uint32_t>(b[3]) << 24));
}

uint16_t ReadShort(RandomAccessFile& file, int64_t& pos) {
    CheckPosition(pos, file);
    unsigned char b[2] = {0, 0};
    file.ReadAt(pos, b, 2);
    pos += 2;
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

// The text up to the first NUL in the 255 bytes at pos (the end of the file counts as NUL).
std::string ReadString(RandomAccessFile& file, int64_t& pos, const char* field) {
    CheckPosition(pos, file);
    char window[kTextWindow];
    size_t got = file.ReadAt(pos, window, kTextWindow);
    const void* nul = std::memchr(window, '\0', got);
    size_t length = nul ? static_cast<size_t>(static_cast<const char*>(nul) - window) : got;
    if (!nul && got == kTextWindow)
        // Nothing after a text without its end can be trusted.
        throw ArchiveError("A " + std::string(field) + " in " + file.Path() +
                           " is longer than 254 bytes");
    pos += static_cast<int64_t>(length) + 1;
    return Cp1252ToUtf8(std::string(window, length));
}

int32_t ParseSize(const std::string& text, const std::string& path) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && text[i] == '-') {
        negative = true;
        ++i;
    }
    if (i == text.size())
        throw ArchiveError("A file size in " + path + " is not a number: \"" + text + "\"");
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c < '0' || c > '9')
            throw ArchiveError("A file size in " + path + " is not a number: \"" + text + "\"");
        value = value * 10 + (c - '0');
        if (value > int64_t{std::numeric_limits<int32_t>::max()} + 1)
            throw ArchiveError("A file size in " + path + " is too large: \"" + text + "\"");
    }
    value = negative ? -value : value;
    if (value > std::numeric_limits<int32_t>::max())
        throw ArchiveError("A file size in " + path + " is too large: \"" + text + "\"");
    return static_cast<int32_t>(value);
}

} // namespace

std::string detail::RecordBytes(const sgFileInfo& e) {
    std::string record;
    WriteLong(record, e.FileOffset());
    WriteLong(record, e.FileCompressedSize());
    WriteString(record, e.FileName(), "file name");
    WriteString(record, e.FilePath(), "folder");
    WriteString(record, e.FileDate(), "file date");
    WriteString(record, std::to_string(e.FileSize()), "file size");
    WriteString(record, e.FileArchiveDate(), "archive date");
    return record;
}

void sgFileInfo::WriteHeaderData(RandomAccessFile& vFileN, int32_t& vCurPos) const {
    // Built whole first, so that a text that cannot be stored writes nothing.
    std::string record = detail::RecordBytes(*this);
    int64_t end = int64_t{vCurPos} + static_cast<int64_t>(record.size());
    CheckPosition(vCurPos, vFileN);
    if (end > std::numeric_limits<int32_t>::max())
        throw ArchiveError("The archive " + vFileN.Path() + " would grow past 2 GB");
    vFileN.WriteAt(vCurPos, record.data(), record.size());
    vCurPos = static_cast<int32_t>(end);
}

void sgFileInfo::ParseHeaderData(RandomAccessFile& vFileN, int32_t& vCurPos) {
    int64_t pos = vCurPos;
    sgFileInfo e;
    e.m_FileOffset = ReadLong(vFileN, pos);
    e.m_FileCompressedSize = ReadLong(vFileN, pos);
    e.m_FileName = ReadString(vFileN, pos, "file name");
    e.m_FilePath = ReadString(vFileN, pos, "folder");
    e.m_FileDate = ReadString(vFileN, pos, "file date");
    e.m_FileSize = ParseSize(ReadString(vFileN, pos, "file size"), vFileN.Path());
    e.m_FileArchiveDate = ReadString(vFileN, pos, "archive date");
    CheckPosition(pos, vFileN);
    *this = e;
    vCurPos = static_cast<int32_t>(pos);
}

bool sgFileInfo::ParseZipHeader(RandomAccessFile& vFileN, int32_t& vCurPos) {
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
    e.m_FileCompressedSize = compressed;
    e.m_FileSize = size;
    e.m_FileName = GetFileNameFromPath(name);
    size_t cut = name.rfind('\\');
    e.m_FilePath = cut == std::string::npos ? std::string() : name.substr(0, cut);
    e.m_FileOffset = static_cast<int32_t>(pos);
    *this = e;
    vCurPos = static_cast<int32_t>(next);
    return true;
}

} // namespace qvr
