#include "qvr/package/Archives.h"

#include "qvr/format/InfoEntry.h"

#include "qvr/format/detail/Format.h"
#include "qvr/package/detail/Internal.h"
#include "qvr/package/detail/Journal.h"
#include "qvr/platform/Encoding.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/detail/ArchiveError.h"
#include "qvr/platform/detail/RandomAccessFile.h"
#include "qvr/platform/detail/WorkFileNames.h"
#include "qvr/platform/detail/platform.h"

#include <cstring>
#include <filesystem>
#include <limits>
#include <vector>

namespace qvr {

namespace {

constexpr const char* kNotRegular = "is not a regular file (a device, pipe or socket)";

bool StartsWith(const std::string& path, std::string_view magic) {
    try {
        if (!FileExists(path))
            return false;
        RandomAccessFile file(path, RandomAccessFile::Mode::Read);
        std::string head(magic.size(), '\0');
        head.resize(file.ReadAt(format::kMagicPosition, head.data(), head.size()));
        return head == magic;
    } catch (...) {
        return false;
    }
}

} // namespace

Archives::Archives() : TempFolder(GetTempFolder()) {}

// The state's public names are references to this object's own fields, so copies copy the
// fields and leave the references where they are.
Archives::Archives(const Archives& o)
    : TempFolder(o.TempFolder), PluginInfo(o.PluginInfo), m_state(o.m_state) {}

Archives::Archives(Archives&& o) noexcept
    : TempFolder(std::move(o.TempFolder)), PluginInfo(std::move(o.PluginInfo)),
      m_state(std::move(o.m_state)) {}

Archives& Archives::operator=(const Archives& o) {
    if (this != &o) {
        TempFolder = o.TempFolder;
        PluginInfo = o.PluginInfo;
        m_state = o.m_state;
    }
    return *this;
}

Archives& Archives::operator=(Archives&& o) noexcept {
    TempFolder = std::move(o.TempFolder);
    PluginInfo = std::move(o.PluginInfo);
    m_state = std::move(o.m_state);
    return *this;
}

bool Archives::IsQvrArchive(const std::string& path) const {
    return StartsWith(path, format::kMagic);
}

bool Archives::IsZipArchive(const std::string& path) const {
    return StartsWith(path, "PK") || detail::HasZipEndRecord(path);
}

OpenStatus Archives::Open(const std::string& path) {
    auto notArchive = [&](const std::string& why) {
        return OpenStatus{OpenKind::NotArchive, path + ": " + why};
    };
    std::error_code ec;
    const auto native = platform::ToNative(path);
    if (!std::filesystem::exists(native, ec))
        return notArchive("no such file");
    if (std::filesystem::is_directory(native, ec))
        return notArchive("is a folder, not an archive");
    if (platform::KindOf(path) == platform::PathKind::Other)
        return notArchive(kNotRegular);
    const std::optional<int64_t> length = FileLength(path);
    if (length == 0)
        return notArchive("is empty, not an archive");
    const Result opened = OpenArchive(path);
    if (opened)
        return {OpenKind::Complete, ""};
    if (ZipLoaded)
        return {OpenKind::Zip, ""};
    if (!IsQvrArchive(path))
        return notArchive(!length ? "cannot be read" : "not a QVR archive or zip file");
    // Measured again: opening may have undone an interrupted change.
    if (FileLength(path) == format::kHeadLength) {
        try {
            std::shared_ptr<RandomAccessFile> held = Locked(path, false);
            if (format::ReadHead(*held).Empty()) {
                m_state.Current = path;
                m_state.Files.clear();
                m_state.KnownArchive.clear();
                return {OpenKind::Empty, ""};
            }
        } catch (const std::exception&) {
            // Read as damaged below.
        }
    }
    return {OpenKind::Partial, path + ": the archive is damaged" +
                                   (opened.Message.empty() ? "" : " (" + opened.Message + ")")};
}

OpenStatus Archives::OpenForChanges(const std::string& path) {
    EndChanges();
    // Anything but a QVR archive, or one this user may not write, is opened as it is, to be
    // refused as Open and the changes refuse it.
    if (IsQvrArchive(path) && platform::KindOf(path) != platform::PathKind::Other) {
        bool writable = false;
        try {
            RandomAccessFile probe(path, RandomAccessFile::Mode::ReadWrite);
            writable = true;
        } catch (const std::exception&) {
        }
        try {
            if (writable) {
                m_state.Held = journal::OpenLocked(path, true);
                m_state.HeldArchive = path;
            }
        } catch (const std::exception& e) {
            return {OpenKind::NotArchive, e.what()};
        }
    }
    const OpenStatus status = Open(path);
    if (!status.Usable())
        EndChanges();
    return status;
}

void Archives::EndChanges() {
    m_state.Held.reset();
    m_state.HeldArchive.clear();
}

std::shared_ptr<RandomAccessFile> Archives::Locked(const std::string& path, bool forChange) const {
    if (m_state.Held && path == m_state.HeldArchive)
        return m_state.Held;
    return journal::OpenLocked(path, forChange);
}

void Archives::NameOnly(const std::string& path) {
    m_state.Files.clear();
    m_state.Zip = false;
    m_state.KnownArchive.clear();
    m_state.KnownDirectory.clear();
    m_state.KnownList = {};
    m_state.KnownLast = {};
    m_state.Current = path;
}

Result Archives::OpenArchive(const std::string& path) {
    m_state.Files.clear();
    m_state.Zip = false;
    return ReadArchiveDirectory(path);
}

Result Archives::ReadArchiveDirectory(const std::string& path) {
    if (IsQvrArchive(path)) {
        try {
            std::shared_ptr<RandomAccessFile> held = Locked(path, false);
            RandomAccessFile& file = *held;
            const format::Head head = format::ReadHead(file);
            if (head.Empty())
                return Result::Unusable("The archive " + path + " holds no files");
            m_state.Current = path;
            std::string directory = format::ReadDirectory(file, head);
            format::Decoded read = format::DecodeRecords(directory, path);
            m_state.Files.reserve(read.Entries.size());
            for (sgFileInfo& e : read.Entries) {
                if (e.FileName().empty() || e.FileOffset() == 0)
                    return Result::Unusable("The archive " + path +
                                            " is damaged: its directory holds an "
                                            "entry without a name or position");
                if (!format::BlockInside(e.FileOffset(), e.FileCompressedSize(), head.Directory))
                    throw ArchiveError("The archive " + path + " is damaged: the stored data of " +
                                       e.FileName() + " lies outside its data area");
                m_state.Files.push_back(std::move(e));
            }
            if (!read.Complete())
                return Result::Unusable(read.Problem);
            // Kept, so that the next read or write of the same bytes need not decode them.
            RememberDirectory(directory, m_state.Files);
            return Result::Success();
        } catch (const std::exception& e) {
            return Result::Unusable(e.what());
        }
    }
    if (IsZipArchive(path)) {
        const Result listed = ReadZipDirectory(path);
        return Result::Unusable(listed ? "The file " + path +
                                             " is a zip file: it can be listed, not changed"
                                       : listed.Message);
    }
    return Result::Unusable("The file " + path + " is not a QVR archive");
}

Result Archives::ExtractEntry(const std::string& entryName, const std::string& destination,
                              bool overwrite) {
    if (ZipLoaded || !IsQvrArchive(CurrentArchive))
        return Result::Unusable(
            "Files cannot be extracted from " +
            (CurrentArchive.empty() ? std::string("a closed archive") : CurrentArchive));
    for (const sgFileInfo& e : ArchiveFiles)
        if (SameTextIgnoreCase(e.FileName(), entryName))
            return ExtractEntry(e, destination, overwrite);
    return Result::EntryFailure("The archive " + CurrentArchive + " holds no file named " +
                                entryName);
}

Result Archives::ExtractEntry(const sgFileInfo& entry, const std::string& destination,
                              bool overwrite, uint32_t* crc) {
    if (ZipLoaded || !IsQvrArchive(CurrentArchive))
        return Result::Unusable(
            "Files cannot be extracted from " +
            (CurrentArchive.empty() ? std::string("a closed archive") : CurrentArchive));
    if (!overwrite && FileExists(destination))
        return Result::EntryFailure("The file " + destination + " exists already");
    try {
        // The handle of a series of extractions, or one of our own for this one.
        std::shared_ptr<RandomAccessFile> held = m_state.Reader;
        if (!held || held->Path() != CurrentArchive)
            held = Locked(CurrentArchive, false);
        RandomAccessFile& file = *held;
        const format::Head head = format::ReadHead(file);
        if (!format::BlockInside(entry.FileOffset(), entry.FileCompressedSize(), head.DataEnd()))
            throw ArchiveError("The stored data of " + entry.FileName() + " lies outside " +
                               CurrentArchive);
        std::string temp =
            detail::InflateBlockBeside(file, entry.FileOffset(), entry.FileCompressedSize(),
                                       entry.FileSize(), destination, crc);
        held.reset();
        try {
            platform::ReplaceFile(temp, destination);
        } catch (...) {
            DeleteFileQuiet(temp);
            throw;
        }
        return Result::Success();
    } catch (const std::exception& e) {
        return Result::EntryFailure(std::string(e.what()) + " (" + entry.FileName() + ")");
    }
}

Result Archives::BeginReading() {
    m_state.Reader.reset();
    if (ZipLoaded || !IsQvrArchive(CurrentArchive))
        return Result::Success(); // nothing of ours to hold: a zip is not extracted from
    try {
        std::shared_ptr<RandomAccessFile> file = Locked(CurrentArchive, false);
        const format::Head head = format::ReadHead(*file);
        if (!ListMatches(format::ReadDirectory(*file, head)))
            throw ArchiveError("The archive " + CurrentArchive +
                               " was changed by another program since it was opened; open it "
                               "again");
        m_state.Reader = std::move(file);
        return Result::Success();
    } catch (const std::exception& e) {
        return Result::Unusable(e.what());
    }
}

void Archives::EndReading() {
    m_state.Reader.reset();
}

void CopyFileBlock(RandomAccessFile& source, int64_t sourcePos, RandomAccessFile& destination,
                   int64_t destinationPos, int64_t length) {
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

bool Archives::LooksLikeInfoEntry(const sgFileInfo& entry) {
    return entry.FilePath().empty() && LooksLikeInfoEntryName(entry.FileName());
}

namespace {

InfoEntryChoice ChooseIn(const std::vector<sgFileInfo>& files, const std::string& archive) {
    std::vector<std::string> topLevel;
    for (const sgFileInfo& e : files)
        if (e.FilePath().empty())
            topLevel.push_back(e.FileName());
    return ChooseInfoEntry(platform::FileNamePart(archive), topLevel);
}

} // namespace

std::vector<std::string> Archives::RenamedInfoEntries() const {
    return ChooseIn(ArchiveFiles, CurrentArchive).Renamed;
}

std::string Archives::InfoEntryName() const {
    if (ZipLoaded)
        return platform::FileNamePart(CurrentArchive) + ".ifo";
    return ChooseIn(ArchiveFiles, CurrentArchive).Name;
}

std::string Archives::InfoEntryProblem() const {
    if (ZipLoaded)
        return "";
    const std::vector<std::string> renamed = RenamedInfoEntries();
    if (renamed.size() < 2)
        return "";
    std::string names;
    for (const std::string& n : renamed)
        names += (names.empty() ? "" : ", ") + n;
    return "The archive " + CurrentArchive + " holds " + std::to_string(renamed.size()) +
           " information entries named after other archives (" + names +
           ") and none named after itself, so none of them is taken as its information";
}

bool Archives::IsInfoEntry(const sgFileInfo& entry) const {
    if (!entry.FilePath().empty())
        return false;
    // Only a name that looks like an info entry needs the walk over the whole list.
    if (SameTextIgnoreCase(entry.FileName(), platform::FileNamePart(CurrentArchive) + ".ifo"))
        return true;
    return !ZipLoaded && LooksLikeInfoEntryName(entry.FileName()) &&
           SameTextIgnoreCase(entry.FileName(), InfoEntryName());
}

std::optional<sgFileInfo> Archives::FindEntry(const std::string& fileName,
                                              const std::string& filePath) const {
    for (const sgFileInfo& e : ArchiveFiles)
        if (SameTextIgnoreCase(e.FileName(), fileName) &&
            SameTextIgnoreCase(e.FilePath(), filePath))
            return e;
    return std::nullopt;
}

Archives::WorkFile Archives::NewWorkFile(const std::string& hint) {
    try {
        return {detail::CreateUniqueFile(TempFolder, hint), {}};
    } catch (const std::exception& e) {
        return {"", Result::Unusable(e.what())};
    }
}

} // namespace qvr
