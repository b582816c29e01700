#include "qvr/Archives.h"

#include "Internal.h"
#include "platform.h"
#include "qvr/ArchiveError.h"
#include "qvr/Encoding.h"
#include "qvr/FileUtils.h"
#include "qvr/RandomAccessFile.h"

#include <cstring>
#include <limits>
#include <vector>

namespace qvr {

namespace {

constexpr int64_t kFirstBlock = 11; // right behind the magic and the directory position

bool StartsWith(const std::string& path, const char* magic) {
    try {
        if (!FileExists(path))
            return false;
        RandomAccessFile file(path, RandomAccessFile::Mode::Read);
        size_t n = std::strlen(magic);
        std::string head(n, '\0');
        head.resize(file.ReadAt(1, head.data(), n));
        return head == magic;
    } catch (...) {
        return false;
    }
}

int32_t ReadDirectoryPosition(RandomAccessFile& file) {
    unsigned char b[4] = {0, 0, 0, 0};
    if (file.ReadAt(7, b, 4) != 4)
        throw ArchiveError("The archive " + file.Path() + " is cut short");
    return static_cast<int32_t>(static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
                                (static_cast<uint32_t>(b[2]) << 16) |
                                (static_cast<uint32_t>(b[3]) << 24));
}

} // namespace

FindData GetFindData(const std::string& path) {
    return platform::FindFile(path);
}

std::string FormatFileDate(const FindData& d) {
    return std::to_string(d.Month) + "/" + std::to_string(d.Day) + "/" + std::to_string(d.Year) +
           " " + std::to_string(d.Hour) + ":" + std::to_string(d.Minute) + ":" +
           std::to_string(d.Second);
}

std::string FormatArchiveDate() {
    return platform::LocalDateTimeText();
}

Archives::Archives() : TempFolder(GetTempFolder()) {}

bool Archives::Fail(const std::string& why) {
    LastError = why;
    return false;
}

bool Archives::IsQvrArchive(const std::string& path) const {
    return StartsWith(path, "QVR1.0");
}

bool Archives::IsZipArchive(const std::string& path) const {
    return StartsWith(path, "PK");
}

bool Archives::OpenArchive(const std::string& path) {
    ArchiveFiles.clear();
    ZipLoaded = false;
    return ReadArchiveDirectory(path);
}

bool Archives::ReadArchiveDirectory(const std::string& path) {
    LastError.clear();
    if (IsQvrArchive(path)) {
        try {
            RandomAccessFile file(path, RandomAccessFile::Mode::Read);
            const int64_t length = file.Length();
            const int32_t d = ReadDirectoryPosition(file);
            if (d == 0)
                return Fail("The archive " + path + " holds no files");
            CurrentArchive = path;
            if (d < kFirstBlock || d > length)
                throw ArchiveError("The archive " + path + " is damaged: its directory position " +
                                   std::to_string(d) + " lies outside the file");
            int32_t pos = d;
            while (pos <= length) {
                sgFileInfo e;
                e.ParseHeaderData(file, pos);
                if (e.FileName().empty() || e.FileOffset() == 0)
                    return Fail("The archive " + path +
                                " is damaged: its directory holds an "
                                "entry without a name or position");
                if (pos - 1 > length)
                    throw ArchiveError("The archive " + path +
                                       " is damaged: its last directory record is cut short");
                const int64_t end = int64_t{e.FileOffset()} + e.FileCompressedSize();
                if (e.FileOffset() < kFirstBlock || e.FileCompressedSize() < 4 || end > d)
                    throw ArchiveError("The archive " + path + " is damaged: the stored data of " +
                                       e.FileName() + " lies outside its data area");
                ArchiveFiles.push_back(e);
            }
            return true;
        } catch (const std::exception& e) {
            return Fail(e.what());
        }
    }
    if (IsZipArchive(path)) {
        ReadZipDirectory(path);
        return false;
    }
    return Fail("The file " + path + " is not a QVR archive");
}

bool Archives::ExtractEntry(const std::string& entryName, const std::string& destination,
                            bool overwrite) {
    LastError.clear();
    if (ZipLoaded || !IsQvrArchive(CurrentArchive))
        return Fail("Files cannot be extracted from " +
                    (CurrentArchive.empty() ? std::string("a closed archive") : CurrentArchive));
    for (const sgFileInfo& e : ArchiveFiles)
        if (SameTextIgnoreCase(e.FileName(), entryName))
            return ExtractEntry(e, destination, overwrite);
    return Fail("The archive " + CurrentArchive + " holds no file named " + entryName);
}

bool Archives::ExtractEntry(const sgFileInfo& entry, const std::string& destination, bool overwrite,
                            uint32_t* crc) {
    LastError.clear();
    if (ZipLoaded || !IsQvrArchive(CurrentArchive))
        return Fail("Files cannot be extracted from " +
                    (CurrentArchive.empty() ? std::string("a closed archive") : CurrentArchive));
    if (!overwrite && FileExists(destination))
        return Fail("The file " + destination + " exists already");
    try {
        RandomAccessFile file(CurrentArchive, RandomAccessFile::Mode::Read);
        const int64_t end = int64_t{entry.FileOffset()} + entry.FileCompressedSize();
        int64_t limit = ReadDirectoryPosition(file);
        if (limit == 0)
            limit = file.Length() + 1;
        if (entry.FileOffset() < kFirstBlock || entry.FileCompressedSize() < 4 || end > limit)
            throw ArchiveError("The stored data of " + entry.FileName() + " lies outside " +
                               CurrentArchive);
        std::string temp =
            detail::InflateBlockBeside(file, entry.FileOffset(), entry.FileCompressedSize(),
                                       entry.FileSize(), destination, crc);
        file.Close();
        try {
            platform::ReplaceFile(temp, destination);
        } catch (...) {
            DeleteFileQuiet(temp);
            throw;
        }
        return true;
    } catch (const std::exception& e) {
        return Fail(std::string(e.what()) + " (" + entry.FileName() + ")");
    }
}

void Archives::CopyFileBlock(RandomAccessFile& source, int64_t sourcePos,
                             RandomAccessFile& destination, int64_t destinationPos,
                             int64_t length) {
    constexpr int64_t kPiece = 1000000;
    if (length <= 0)
        return;
    std::vector<char> buffer(static_cast<size_t>(std::min(length, kPiece)));
    for (int64_t done = 0; done < length; done += kPiece) {
        size_t n = static_cast<size_t>(std::min(kPiece, length - done));
        if (source.ReadAt(sourcePos + done, buffer.data(), n) != n)
            throw ArchiveError("The file " + source.Path() + " ends before position " +
                               std::to_string(sourcePos + length - 1));
        destination.WriteAt(destinationPos + done, buffer.data(), n);
    }
}

std::string Archives::InfoEntryName() const {
    return platform::FileNamePart(CurrentArchive) + ".ifo";
}

bool Archives::IsInfoEntry(const sgFileInfo& entry) const {
    return entry.FilePath().empty() && SameTextIgnoreCase(entry.FileName(), InfoEntryName());
}

std::optional<sgFileInfo> Archives::FindEntry(const std::string& fileName,
                                              const std::string& filePath) const {
    for (const sgFileInfo& e : ArchiveFiles)
        if (SameTextIgnoreCase(e.FileName(), fileName) &&
            SameTextIgnoreCase(e.FilePath(), filePath))
            return e;
    return std::nullopt;
}

std::string Archives::NewWorkFile(const std::string& hint) {
    try {
        return detail::CreateUniqueFile(TempFolder, hint);
    } catch (const std::exception& e) {
        LastError = e.what();
        return "";
    }
}

} // namespace qvr
