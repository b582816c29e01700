#pragma once
// One member of an archive, and the bytes of its directory record.

#include <cstdint>
#include <string>

namespace qvr {

class RandomAccessFile;

class sgFileInfo {
public:
    // Property accessors in the record's own vocabulary: assign with vData, read without.
    void FileArchiveDate(const std::string& vData) { m_FileArchiveDate = vData; }
    const std::string& FileArchiveDate() const { return m_FileArchiveDate; }
    void FileDate(const std::string& vData) { m_FileDate = vData; }
    const std::string& FileDate() const { return m_FileDate; }
    void FileCompressedSize(int32_t vData) { m_FileCompressedSize = vData; }
    int32_t FileCompressedSize() const { return m_FileCompressedSize; }
    void FilePath(const std::string& vData) { m_FilePath = vData; }
    const std::string& FilePath() const { return m_FilePath; }
    void FileName(const std::string& vData) { m_FileName = vData; }
    const std::string& FileName() const { return m_FileName; }
    void FileOffset(int32_t vData) { m_FileOffset = vData; }
    int32_t FileOffset() const { return m_FileOffset; }
    void FileSize(int32_t vData) { m_FileSize = vData; }
    int32_t FileSize() const { return m_FileSize; }

    // Writes one directory record at vCurPos (1-based) and leaves vCurPos behind it.
    // Texts are held as UTF-8 and stored as Windows-1252; throws ArchiveError when a
    // text cannot be stored (not representable, or longer than 254 bytes).
    void WriteHeaderData(RandomAccessFile& vFileN, int32_t& vCurPos) const;
    // Reads one zip local file header; false when the bytes are not a version-20 local header.
    bool ParseZipHeader(RandomAccessFile& vFileN, int32_t& vCurPos);
    // Reads one directory record; throws ArchiveError when FileSize is not a number.
    void ParseHeaderData(RandomAccessFile& vFileN, int32_t& vCurPos);

    bool operator==(const sgFileInfo&) const = default;

private:
    int32_t m_FileOffset = 0;
    int32_t m_FileSize = 0;
    std::string m_FileName;
    std::string m_FilePath;
    int32_t m_FileCompressedSize = 0;
    std::string m_FileDate;
    std::string m_FileArchiveDate;
};

} // namespace qvr
