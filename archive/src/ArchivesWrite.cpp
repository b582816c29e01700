#include "qvr/Archives.h"

#include "Internal.h"
#include "platform.h"
#include "qvr/ArchiveError.h"
#include "qvr/Encoding.h"
#include "qvr/FileUtils.h"
#include "qvr/PathRules.h"
#include "qvr/RandomAccessFile.h"

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <optional>

namespace qvr {

namespace {

constexpr int64_t kMaxArchive = std::numeric_limits<int32_t>::max();
// A directory is a few hundred bytes per entry; more than this is not a directory.
constexpr int64_t kMaxDirectory = 64 * 1024 * 1024;
const char kEmptyArchive[10] = {'Q', 'V', 'R', '1', '.', '0', 0, 0, 0, 0};

void PutLong(char* b, int32_t value) {
    auto u = static_cast<uint32_t>(value);
    for (int k = 0; k < 4; ++k)
        b[k] = static_cast<char>((u >> (8 * k)) & 0xFF);
}

int32_t GetLong(const char* b) {
    auto u = [&](int k) { return static_cast<uint32_t>(static_cast<unsigned char>(b[k])); };
    return static_cast<int32_t>(u(0) | (u(1) << 8) | (u(2) << 16) | (u(3) << 24));
}

// The records in a directory's bytes, read as the reader reads them; nullopt when they cannot
// be read to their end.
std::optional<std::vector<sgFileInfo>> ParseDirectory(const std::string& bytes) {
    std::vector<sgFileInfo> entries;
    size_t p = 0;
    auto text = [&](std::string& out) {
        const size_t window = std::min<size_t>(255, bytes.size() - p);
        const size_t nul = bytes.find('\0', p);
        if (nul == std::string::npos || nul >= p + window)
            return false;
        out = Cp1252ToUtf8(bytes.substr(p, nul - p));
        p = nul + 1;
        return true;
    };
    while (p < bytes.size()) {
        if (bytes.size() - p < 8)
            return std::nullopt;
        sgFileInfo e;
        e.FileOffset(GetLong(bytes.data() + p));
        e.FileCompressedSize(GetLong(bytes.data() + p + 4));
        p += 8;
        std::string name, path, date, size, archiveDate;
        if (!text(name) || !text(path) || !text(date) || !text(size) || !text(archiveDate))
            return std::nullopt;
        char* end = nullptr;
        errno = 0;
        const long long value = std::strtoll(size.c_str(), &end, 10);
        if (size.empty() || *end != '\0' || errno != 0 || size[0] == ' ' || size[0] == '+' ||
            value < std::numeric_limits<int32_t>::min() ||
            value > std::numeric_limits<int32_t>::max())
            return std::nullopt;
        e.FileName(name);
        e.FilePath(path);
        e.FileDate(date);
        e.FileSize(static_cast<int32_t>(value));
        e.FileArchiveDate(archiveDate);
        entries.push_back(e);
    }
    return entries;
}

} // namespace

// Another program may have changed the file, or the list may hold only what a damaged
// directory gave up; writing on from such a list would lose entries.
void Archives::CheckListMatches(const std::string& directory) {
    if (m_knownArchive == CurrentArchive && m_knownDirectory == directory &&
        m_knownList == ArchiveFiles)
        return;
    auto onDisk = ParseDirectory(directory);
    if (!onDisk || *onDisk != ArchiveFiles)
        throw ArchiveError("The archive " + CurrentArchive +
                           " no longer holds the files listed for it; open it again");
    RememberDirectory(directory, std::move(*onDisk));
}

void Archives::RememberDirectory(const std::string& directory, std::vector<sgFileInfo> list) {
    m_knownArchive = CurrentArchive;
    m_knownDirectory = directory;
    m_knownList = std::move(list);
}

bool Archives::CreateArchive(const std::string& path) {
    LastError.clear();
    if (FileExists(path))
        return Fail("The file " + path + " exists already");
    try {
        RandomAccessFile file(path, RandomAccessFile::Mode::CreateReadWrite);
        try {
            file.WriteAt(1, kEmptyArchive, sizeof kEmptyArchive);
            file.Close();
        } catch (...) {
            file.Close();
            DeleteFileQuiet(path);
            throw;
        }
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
    CurrentArchive = path;
    return true;
}

// Writes the work file as entry's block where the directory began, then the old directory and
// entry's record behind it. On any failure the archive is put back exactly as it was.
void Archives::AppendBlock(sgFileInfo& entry, const std::string& workFile) {
    if (ZipLoaded || !IsQvrArchive(CurrentArchive))
        throw ArchiveError("Files cannot be added to " + (CurrentArchive.empty()
                                                              ? std::string("a closed archive")
                                                              : CurrentArchive));
    RandomAccessFile block(workFile, RandomAccessFile::Mode::Read);
    const int64_t blockLength = block.Length();
    if (blockLength < 4)
        throw ArchiveError("The work file " + workFile + " holds no stored data");

    RandomAccessFile arc(CurrentArchive, RandomAccessFile::Mode::ReadWrite);
    const int64_t oldLength = arc.Length();
    char oldHead[4];
    if (arc.ReadAt(7, oldHead, 4) != 4)
        throw ArchiveError("The archive " + CurrentArchive + " is cut short");
    int64_t d = GetLong(oldHead);
    if (d == 0)
        d = oldLength + 1;
    else if (d < 11 || d > oldLength)
        throw ArchiveError("The archive " + CurrentArchive +
                           " is damaged: its directory position lies outside the file");
    const int64_t directoryLength = oldLength + 1 - d;
    if (directoryLength > kMaxDirectory)
        throw ArchiveError("The archive " + CurrentArchive + " is damaged: its directory is " +
                           std::to_string(directoryLength) + " bytes long");
    std::string directory(static_cast<size_t>(directoryLength), '\0');
    if (arc.ReadAt(d, directory.data(), directory.size()) != directory.size())
        throw ArchiveError("The archive " + CurrentArchive + " changed while it was read");
    CheckListMatches(directory);

    sgFileInfo e = entry;
    e.FileOffset(static_cast<int32_t>(std::min(d, kMaxArchive)));
    e.FileCompressedSize(static_cast<int32_t>(std::min(blockLength, kMaxArchive)));
    const std::string record = detail::RecordBytes(e);
    const int64_t newD = d + blockLength;
    const int64_t newLength = newD - 1 + directoryLength + static_cast<int64_t>(record.size());
    if (newLength > kMaxArchive)
        throw ArchiveError("The archive " + CurrentArchive + " would grow past 2 GB");

    try {
        CopyFileBlock(block, 1, arc, d, blockLength);
        arc.WriteAt(newD, directory.data(), directory.size());
        arc.WriteAt(newD + directoryLength, record.data(), record.size());
        char head[4];
        PutLong(head, static_cast<int32_t>(newD));
        arc.WriteAt(7, head, 4);
    } catch (...) {
        // Undo: the old directory back in its place, the old position, the old length.
        try {
            arc.WriteAt(d, directory.data(), directory.size());
            arc.WriteAt(7, oldHead, 4);
            arc.Truncate(oldLength);
        } catch (...) {
        }
        throw;
    }
    arc.Close();
    entry = e;
    // The list the caller is to have once it has taken the new entry.
    std::vector<sgFileInfo> list = std::move(m_knownList);
    list.push_back(e);
    RememberDirectory(directory + record, std::move(list));
}

bool Archives::AppendEntryData(sgFileInfo& entry, const std::string& workFile) {
    LastError.clear();
    std::string why;
    if (!IsSafeEntryPath(entry.FilePath(), entry.FileName(), &why))
        return Fail("Cannot add " + workFile + ": " + why);
    if (!FileExists(workFile))
        return Fail("The work file " + workFile + " is missing or empty");
    try {
        AppendBlock(entry, workFile);
        return true;
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
}

void Archives::SaveEntryData(const sgFileInfo& entry, const std::string& workFile) {
    RandomAccessFile arc(CurrentArchive, RandomAccessFile::Mode::Read);
    const int64_t end = int64_t{entry.FileOffset()} + entry.FileCompressedSize() - 1;
    if (entry.FileOffset() < 11 || entry.FileCompressedSize() < 0 || end > arc.Length())
        throw ArchiveError("The stored data of " + entry.FileName() + " lies outside " +
                           CurrentArchive);
    RandomAccessFile out(workFile, RandomAccessFile::Mode::CreateReadWrite);
    CopyFileBlock(arc, entry.FileOffset(), out, 1, entry.FileCompressedSize());
}

// The checks and values every new entry starts from, before any work is done.
bool Archives::DescribeNewEntry(const std::string& source, const std::string& fileName,
                                const std::string& filePath, sgFileInfo& e) {
    LastError.clear();
    std::string why;
    if (!IsSafeEntryPath(filePath, fileName, &why))
        return Fail("Cannot add " + source + ": " + why);
    if (ZipLoaded || !IsQvrArchive(CurrentArchive))
        return Fail("Files cannot be added to " +
                    (CurrentArchive.empty() ? std::string("a closed archive") : CurrentArchive));
    const FindData found = GetFindData(source);
    if (!found.Found)
        return Fail("The file " + source + " cannot be found");
    e.FileName(fileName);
    e.FilePath(filePath);
    e.FileDate(FormatFileDate(found));
    e.FileArchiveDate(FormatArchiveDate());
    return true;
}

// Compresses source into a fresh work file (named in work, so the caller can delete it).
void Archives::CompressNewEntry(const std::string& source, sgFileInfo& e, std::string& work) {
    detail::RecordBytes(e); // refuse names the archive cannot hold before any work
    work = detail::CreateUniqueFile(TempFolder, e.FileName());
    e.FileSize(static_cast<int32_t>(detail::CompressFileChecked(source, work, 9)));
}

bool Archives::AddFileToArchive(const std::string& source, const std::string& fileName,
                                const std::string& filePath) {
    sgFileInfo e;
    if (!DescribeNewEntry(source, fileName, filePath, e))
        return false;
    std::string work;
    try {
        CompressNewEntry(source, e, work);
        AppendBlock(e, work);
    } catch (const std::exception& x) {
        DeleteFileQuiet(work);
        return Fail(x.what());
    }
    DeleteFileQuiet(work);
    ArchiveFiles.push_back(e);
    return true;
}

// Writes the kept entries (and extra, from its work file) into a new file beside the archive,
// block after block, and puts it in the archive's place only once it is complete.
void Archives::Rebuild(const std::vector<bool>& keep, const sgFileInfo* extra,
                       const std::string& extraWorkFile) {
    // Opened for writing, though only read, so that a package the user may not change is
    // refused here rather than replaced by the rename.
    RandomAccessFile old(CurrentArchive, RandomAccessFile::Mode::ReadWrite);
    const int64_t oldLength = old.Length();
    {
        char head[4] = {0, 0, 0, 0};
        if (old.ReadAt(7, head, 4) != 4)
            throw ArchiveError("The archive " + CurrentArchive + " is cut short");
        const int64_t d = GetLong(head);
        if (d != 0 && (d < 11 || d > oldLength || oldLength + 1 - d > kMaxDirectory))
            throw ArchiveError("The archive " + CurrentArchive +
                               " is damaged: its directory "
                               "position lies outside the file");
        std::string directory(d == 0 ? 0 : static_cast<size_t>(oldLength + 1 - d), '\0');
        if (!directory.empty() &&
            old.ReadAt(d, directory.data(), directory.size()) != directory.size())
            throw ArchiveError("The archive " + CurrentArchive + " changed while it was read");
        CheckListMatches(directory);
    }
    std::vector<sgFileInfo> entries;
    std::string temp = detail::CreateUniqueFile(detail::FolderOf(CurrentArchive),
                                                GetFileNameFromPath(CurrentArchive));
    try {
        RandomAccessFile out(temp, RandomAccessFile::Mode::ReadWrite);
        out.WriteAt(1, kEmptyArchive, sizeof kEmptyArchive);
        int64_t pos = 11;
        auto place = [&](sgFileInfo e, RandomAccessFile& from, int64_t at) {
            const int64_t size = e.FileCompressedSize();
            if (pos + size - 1 > kMaxArchive)
                throw ArchiveError("The archive " + CurrentArchive + " would grow past 2 GB");
            CopyFileBlock(from, at, out, pos, size);
            e.FileOffset(static_cast<int32_t>(pos));
            pos += size;
            entries.push_back(e);
        };
        for (size_t k = 0; k < ArchiveFiles.size(); ++k) {
            if (!keep[k])
                continue;
            const sgFileInfo& e = ArchiveFiles[k];
            const int64_t end = int64_t{e.FileOffset()} + e.FileCompressedSize() - 1;
            if (e.FileOffset() < 11 || e.FileCompressedSize() < 0 || end > oldLength)
                throw ArchiveError("The stored data of " + e.FileName() + " lies outside " +
                                   CurrentArchive);
            place(e, old, e.FileOffset());
        }
        if (extra) {
            RandomAccessFile block(extraWorkFile, RandomAccessFile::Mode::Read);
            sgFileInfo e = *extra;
            const int64_t size = block.Length();
            if (size < 4 || size > kMaxArchive)
                throw ArchiveError("The work file " + extraWorkFile + " holds no stored data");
            e.FileCompressedSize(static_cast<int32_t>(size));
            place(e, block, 1);
        }
        if (!entries.empty()) {
            std::string directory;
            for (const sgFileInfo& e : entries)
                directory += detail::RecordBytes(e);
            if (pos - 1 + static_cast<int64_t>(directory.size()) > kMaxArchive)
                throw ArchiveError("The archive " + CurrentArchive + " would grow past 2 GB");
            out.WriteAt(pos, directory.data(), directory.size());
            char head[4];
            PutLong(head, static_cast<int32_t>(pos));
            out.WriteAt(7, head, 4);
        }
        out.Sync();
        out.Close();
        old.Close();
        platform::ReplaceFile(temp, CurrentArchive);
    } catch (...) {
        DeleteFileQuiet(temp);
        throw;
    }
    ArchiveFiles = std::move(entries);
    m_knownArchive.clear(); // the next write reads the new directory afresh
}

bool Archives::RemoveEntry(const std::string& fileName, const std::string& filePath) {
    LastError.clear();
    if (ZipLoaded || !IsQvrArchive(CurrentArchive))
        return Fail("Files cannot be removed from " +
                    (CurrentArchive.empty() ? std::string("a closed archive") : CurrentArchive));
    std::vector<bool> keep(ArchiveFiles.size(), true);
    bool found = false;
    for (size_t k = ArchiveFiles.size(); k > 0 && !found; --k) {
        const sgFileInfo& e = ArchiveFiles[k - 1];
        if (SameTextIgnoreCase(e.FileName(), fileName) &&
            SameTextIgnoreCase(e.FilePath(), filePath)) {
            keep[k - 1] = false;
            found = true;
        }
    }
    if (!found)
        return Fail("The archive " + CurrentArchive + " holds no file " +
                    (filePath.empty() ? fileName : filePath + "\\" + fileName));
    try {
        Rebuild(keep, nullptr, "");
        return true;
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
}

bool Archives::ReplaceEntry(const std::string& source, const std::string& fileName,
                            const std::string& filePath) {
    sgFileInfo e;
    if (!DescribeNewEntry(source, fileName, filePath, e))
        return false;
    std::vector<bool> keep(ArchiveFiles.size(), true);
    for (size_t k = 0; k < ArchiveFiles.size(); ++k)
        keep[k] = !(SameTextIgnoreCase(ArchiveFiles[k].FileName(), fileName) &&
                    SameTextIgnoreCase(ArchiveFiles[k].FilePath(), filePath));
    std::string work;
    try {
        CompressNewEntry(source, e, work);
        Rebuild(keep, &e, work);
    } catch (const std::exception& x) {
        DeleteFileQuiet(work);
        return Fail(x.what());
    }
    DeleteFileQuiet(work);
    return true;
}

} // namespace qvr
