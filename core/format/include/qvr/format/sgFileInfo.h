#pragma once
// One member of an archive, and the bytes of its directory record.

#include <cstdint>
#include <string>
#include <utility>

namespace qvr {

class sgFileInfo {
public:
    // Property accessors in the record's own vocabulary: assign with vData, read without.
    void FileArchiveDate(const std::string& vData) { m_FileArchiveDate = vData; }
    void FileArchiveDate(std::string&& vData) { m_FileArchiveDate = std::move(vData); }
    const std::string& FileArchiveDate() const { return m_FileArchiveDate; }
    void FileDate(const std::string& vData) { m_FileDate = vData; }
    void FileDate(std::string&& vData) { m_FileDate = std::move(vData); }
    const std::string& FileDate() const { return m_FileDate; }
    void FileCompressedSize(int32_t vData) { m_FileCompressedSize = vData; }
    int32_t FileCompressedSize() const { return m_FileCompressedSize; }
    void FilePath(const std::string& vData) { m_FilePath = vData; }
    void FilePath(std::string&& vData) { m_FilePath = std::move(vData); }
    const std::string& FilePath() const { return m_FilePath; }
    void FileName(const std::string& vData) { m_FileName = vData; }
    void FileName(std::string&& vData) { m_FileName = std::move(vData); }
    const std::string& FileName() const { return m_FileName; }
    void FileOffset(int32_t vData) { m_FileOffset = vData; }
    int32_t FileOffset() const { return m_FileOffset; }
    void FileSize(int32_t vData) { m_FileSize = vData; }
    int32_t FileSize() const { return m_FileSize; }

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
