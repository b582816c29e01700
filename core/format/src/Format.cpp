#include "qvr/format/detail/Format.h"

#include "qvr/platform/Encoding.h"
#include "qvr/platform/detail/ArchiveError.h"
#include "qvr/platform/detail/RandomAccessFile.h"

namespace qvr::format {

int32_t GetLong(const void* bytes) {
    auto b = static_cast<const unsigned char*>(bytes);
    return static_cast<int32_t>(static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
                                (static_cast<uint32_t>(b[2]) << 16) |
                                (static_cast<uint32_t>(b[3]) << 24));
}

void PutLong(void* bytes, int32_t value) {
    auto b = static_cast<unsigned char*>(bytes);
    auto u = static_cast<uint32_t>(value);
    for (int k = 0; k < 4; ++k)
        b[k] = static_cast<unsigned char>((u >> (8 * k)) & 0xFF);
}

void AppendLong(std::string& out, int32_t value) {
    char b[4];
    PutLong(b, value);
    out.append(b, 4);
}

uint16_t GetShort(const void* bytes) {
    auto b = static_cast<const unsigned char*>(bytes);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

uint64_t GetLittleEndian(const void* bytes, int width) {
    auto b = static_cast<const unsigned char*>(bytes);
    uint64_t v = 0;
    for (int k = width - 1; k >= 0; --k)
        v = (v << 8) | b[k];
    return v;
}

std::string EmptyHead() {
    std::string head(kMagic);
    head.append(static_cast<size_t>(kHeadLength) - kMagic.size(), '\0');
    return head;
}

bool HasMagic(RandomAccessFile& file) {
    std::string head(kMagic.size(), '\0');
    head.resize(file.ReadAt(kMagicPosition, head.data(), head.size()));
    return head == kMagic;
}

Head ReadHead(RandomAccessFile& file) {
    Head head;
    head.Length = file.Length();
    if (!HasMagic(file))
        throw ArchiveError("The file " + file.Path() + " is not a QVR archive");
    unsigned char b[4];
    if (head.Length < kHeadLength || file.ReadAt(kDirectoryPositionAt, b, 4) != 4)
        throw ArchiveError("The archive " + file.Path() + " is cut short");
    head.Directory = GetLong(b);
    if (head.Directory != 0 && (head.Directory < kFirstBlock || head.Directory > head.Length))
        throw ArchiveError("The archive " + file.Path() + " is damaged: its directory position " +
                           std::to_string(head.Directory) + " lies outside the file");
    return head;
}

std::string ReadDirectory(RandomAccessFile& file, const Head& head) {
    if (head.Empty())
        return "";
    const int64_t length = head.Length + 1 - head.Directory;
    if (length > kMaxDirectory)
        throw ArchiveError("The archive " + file.Path() + " is damaged: its directory is " +
                           std::to_string(length) + " bytes long");
    std::string directory(static_cast<size_t>(length), '\0');
    if (file.ReadAt(head.Directory, directory.data(), directory.size()) != directory.size())
        throw ArchiveError("The archive " + file.Path() + " changed while it was read");
    return directory;
}

void CheckDirectoryLength(int64_t length, const std::string& archive) {
    if (length > kMaxDirectory)
        throw ArchiveError(
            "The archive " + archive + " cannot take so many entries: its directory " +
            "would be " + std::to_string(length) + " bytes, more than the " +
            std::to_string(kMaxDirectory / (1024 * 1024)) + " MiB its readers accept");
}

void WriteDirectoryPosition(RandomAccessFile& file, int64_t position) {
    char b[4];
    PutLong(b, static_cast<int32_t>(position));
    file.WriteAt(kDirectoryPositionAt, b, 4);
}

namespace {

void AppendText(std::string& out, const std::string& utf8, const char* field) {
    auto bytes = Utf8ToCp1252(utf8);
    if (!bytes)
        throw ArchiveError("The " + std::string(field) + " \"" + utf8 +
                           "\" holds a character that cannot be stored in an archive");
    if (bytes->find('\0') != std::string::npos)
        throw ArchiveError("The " + std::string(field) + " holds a NUL character");
    if (bytes->size() > kMaxTextBytes)
        throw ArchiveError("The " + std::string(field) + " \"" + utf8 +
                           "\" is longer than 254 bytes");
    out += *bytes;
    out += '\0';
}

} // namespace

std::string EncodeRecord(const sgFileInfo& e) {
    std::string record;
    AppendLong(record, e.FileOffset());
    AppendLong(record, e.FileCompressedSize());
    AppendText(record, e.FileName(), "file name");
    AppendText(record, e.FilePath(), "folder");
    AppendText(record, e.FileDate(), "file date");
    AppendText(record, std::to_string(e.FileSize()), "file size");
    AppendText(record, e.FileArchiveDate(), "archive date");
    return record;
}

bool ParseSizeText(const std::string& text, int32_t& out) {
    size_t i = !text.empty() && text[0] == '-' ? 1 : 0;
    if (i == text.size())
        return false;
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
        if (value > int64_t{std::numeric_limits<int32_t>::max()} + 1)
            return false;
    }
    value = text[0] == '-' ? -value : value;
    if (value > std::numeric_limits<int32_t>::max())
        return false;
    out = static_cast<int32_t>(value);
    return true;
}

StoredRecord ScanRecord(std::string_view bytes, size_t& at) {
    StoredRecord r;
    size_t p = at;
    if (bytes.size() - p < 8) {
        r.How = StoredRecord::End::CutShort;
        return r;
    }
    r.Offset = GetLong(bytes.data() + p);
    r.Compressed = GetLong(bytes.data() + p + 4);
    p += 8;
    for (int k = 0; k < 5; ++k) {
        // The text up to its NUL in the window at p.
        const size_t window = std::min(kTextWindow, bytes.size() - p);
        const size_t nul = bytes.substr(p, window).find('\0');
        if (nul == std::string_view::npos) {
            r.How = window == kTextWindow ? StoredRecord::End::TextWithoutEnd
                                          : StoredRecord::End::CutShort;
            r.Field = k;
            return r;
        }
        r.Texts[k].assign(bytes.substr(p, nul));
        p += nul + 1;
    }
    at = p;
    return r;
}

bool DecodeRecord(std::string_view bytes, size_t& at, sgFileInfo& entry, std::string& why) {
    size_t p = at;
    const StoredRecord r = ScanRecord(bytes, p);
    if (r.How == StoredRecord::End::CutShort) {
        why = "its last directory record is cut short";
        return false;
    }
    if (r.How == StoredRecord::End::TextWithoutEnd) {
        const char* fields[5] = {"a file name", "a folder", "a file date", "a file size",
                                 "an archive date"};
        why = std::string(fields[r.Field]) + " is longer than 254 bytes";
        return false;
    }
    int32_t size = 0;
    if (!ParseSizeText(r.SizeText(), size)) {
        why = "a file size is not a number: \"" + Cp1252ToUtf8(r.SizeText()) + "\"";
        return false;
    }
    sgFileInfo e;
    e.FileOffset(r.Offset);
    e.FileCompressedSize(r.Compressed);
    e.FileName(Cp1252ToUtf8(r.Texts[0]));
    e.FilePath(Cp1252ToUtf8(r.Texts[1]));
    e.FileDate(Cp1252ToUtf8(r.Texts[2]));
    e.FileSize(size);
    e.FileArchiveDate(Cp1252ToUtf8(r.Texts[4]));
    entry = std::move(e);
    at = p;
    return true;
}

Decoded DecodeRecords(std::string_view bytes, const std::string& where) {
    Decoded out;
    out.Entries.reserve(bytes.size() / 48); // about what a record of a short path takes
    size_t p = 0;
    while (p < bytes.size()) {
        sgFileInfo e;
        std::string why;
        if (!DecodeRecord(bytes, p, e, why)) {
            out.Problem = "The archive " + where + " is damaged: " + why;
            break;
        }
        out.Entries.push_back(std::move(e));
    }
    return out;
}

bool BlockInside(int64_t offset, int64_t size, int64_t dataEnd) {
    return offset >= kFirstBlock && size >= kBlockPrefix && offset + size <= dataEnd;
}

} // namespace qvr::format
