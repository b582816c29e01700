#include "qvr/package/detail/Journal.h"

#include "qvr/package/detail/Internal.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/WorkFiles.h"
#include "qvr/platform/detail/ArchiveError.h"
#include "qvr/platform/detail/RandomAccessFile.h"
#include "qvr/platform/detail/TestHooks.h"
#include "qvr/platform/detail/WorkFileNames.h"
#include "qvr/platform/detail/WorkRegistry.h"
#include "qvr/platform/detail/platform.h"

#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace qvr::journal {

namespace {

constexpr std::string_view kJournalMagic{"QVRJ0001", 8};
// The blocks just before the old directory (never the head) are not touched by an append: a
// checksum over them tells whether the journal was written for this very archive.
constexpr int64_t kTail = 4096;
constexpr int64_t kMaxJournal = format::kMaxDirectory + 4096;

uint32_t Crc(std::string_view bytes) {
    uLong crc = crc32(0L, Z_NULL, 0);
    size_t done = 0;
    while (done < bytes.size()) {
        const uInt n = static_cast<uInt>(std::min<size_t>(bytes.size() - done, 1u << 30));
        crc = crc32(crc, reinterpret_cast<const Bytef*>(bytes.data() + done), n);
        done += n;
    }
    return static_cast<uint32_t>(crc);
}

// A package reached through a link is the file the link names: its journal lies beside that
// file and is named after it, so that it is found whichever name opens the package next.
std::string NameOf(const std::string& archive) {
    return platform::FromNative(platform::ToNative(platform::FollowLinks(archive)).filename());
}

std::string ReadRange(RandomAccessFile& f, int64_t from, int64_t count) {
    std::string bytes(static_cast<size_t>(count), '\0');
    if (f.ReadAt(from, bytes.data(), bytes.size()) != bytes.size())
        throw ArchiveError("The file " + f.Path() + " is shorter than its journal says");
    return bytes;
}

struct Journal {
    std::string Name;
    int64_t OldLength = 0;
    int32_t OldDirectory = 0;
    int64_t TailLength = 0;
    uint32_t TailCrc = 0;
    std::string Directory;
    int64_t DataEnd() const { return OldDirectory == 0 ? OldLength + 1 : OldDirectory; }
};

std::string Encode(const Journal& j) {
    std::string out(kJournalMagic);
    format::AppendLong(out, static_cast<int32_t>(j.Name.size()));
    out += j.Name;
    format::AppendLong(out, static_cast<int32_t>(j.OldLength));
    format::AppendLong(out, j.OldDirectory);
    format::AppendLong(out, static_cast<int32_t>(j.TailLength));
    format::AppendLong(out, static_cast<int32_t>(j.TailCrc));
    format::AppendLong(out, static_cast<int32_t>(j.Directory.size()));
    out += j.Directory;
    format::AppendLong(out, static_cast<int32_t>(Crc(out)));
    return out;
}

// False when the bytes are not one whole journal.
bool Decode(std::string_view bytes, Journal& j) {
    if (bytes.size() < kJournalMagic.size() + 4 ||
        bytes.substr(0, kJournalMagic.size()) != kJournalMagic)
        return false;
    const std::string_view body = bytes.substr(0, bytes.size() - 4);
    if (static_cast<uint32_t>(format::GetLong(bytes.data() + body.size())) != Crc(body))
        return false;
    size_t at = kJournalMagic.size();
    auto number = [&](int64_t& value) {
        if (body.size() - at < 4)
            return false;
        value = format::GetLong(body.data() + at);
        at += 4;
        return true;
    };
    auto text = [&](std::string& value) {
        int64_t n = 0;
        if (!number(n) || n < 0 || static_cast<uint64_t>(n) > body.size() - at)
            return false;
        value.assign(body.substr(at, static_cast<size_t>(n)));
        at += static_cast<size_t>(n);
        return true;
    };
    int64_t directory = 0, crc = 0;
    if (!text(j.Name) || !number(j.OldLength) || !number(directory) || !number(j.TailLength) ||
        !number(crc) || !text(j.Directory) || at != body.size())
        return false;
    j.OldDirectory = static_cast<int32_t>(directory);
    j.TailCrc = static_cast<uint32_t>(crc);
    return true;
}

// Whether the journal describes a state this archive can go back to, without writing.
bool Fits(const Journal& j, RandomAccessFile& arc) {
    if (j.Name != NameOf(arc.Path()))
        return false;
    const int64_t length = arc.Length();
    if (j.OldLength < format::kHeadLength || j.OldLength > length)
        return false;
    if (j.OldDirectory != 0 &&
        (j.OldDirectory < format::kFirstBlock || j.OldDirectory > j.OldLength))
        return false;
    const int64_t d = j.DataEnd();
    if (static_cast<int64_t>(j.Directory.size()) != j.OldLength + 1 - d)
        return false;
    if (j.TailLength != std::min<int64_t>(kTail, d - format::kFirstBlock) ||
        Crc(ReadRange(arc, d - j.TailLength, j.TailLength)) != j.TailCrc)
        return false;
    // The directory position is not looked at: a change cut off while writing it may have
    // left any part of it written, and the journal puts all of it back.
    if (!format::HasMagic(arc))
        return false;
    const format::Decoded records = format::DecodeRecords(j.Directory, arc.Path());
    if (!records.Complete() || (j.OldDirectory != 0) != !records.Entries.empty())
        return false;
    for (const sgFileInfo& e : records.Entries)
        if (!format::BlockInside(e.FileOffset(), e.FileCompressedSize(), d))
            return false;
    return true;
}

void DeleteChecked(const std::string& path) {
    testhooks::Operation(testhooks::Op::Delete, path.c_str());
    std::error_code ec;
    std::filesystem::remove(platform::ToNative(path), ec);
    if (ec)
        throw ArchiveError("Cannot delete " + path + ": " + ec.message());
    platform::SyncFolderOf(path);
}

bool Exists(const std::string& path) {
    std::error_code ec;
    const auto native = platform::ToNative(path);
    return std::filesystem::exists(native, ec) || std::filesystem::is_symlink(native, ec);
}

// What lies under a journal's name: recognised by its content alone, since anyone may keep a
// file called NAME-journal (a database's rollback journal, say).
enum class Kind { None, Ours, Foreign };

// Ours is a whole journal of this program naming the archive `archive` belongs to.
Kind Classify(const std::string& journalPath, const std::string& archive, Journal& j) {
    if (!Exists(journalPath))
        return Kind::None;
    try {
        if (platform::KindOf(journalPath) != platform::PathKind::Regular)
            return Kind::Foreign;
        RandomAccessFile in(journalPath, RandomAccessFile::Mode::Read);
        const int64_t length = in.Length();
        if (length > kMaxJournal)
            return Kind::Foreign;
        std::string bytes(static_cast<size_t>(length), '\0');
        bytes.resize(in.ReadAt(1, bytes.data(), bytes.size()));
        return Decode(bytes, j) && j.Name == NameOf(archive) ? Kind::Ours : Kind::Foreign;
    } catch (const std::exception&) {
        return Kind::Foreign;
    }
}

} // namespace

bool IsJournalOf(const std::string& journalPath, const std::string& archive) {
    Journal j;
    return Classify(journalPath, archive, j) == Kind::Ours;
}

std::string PathFor(const std::string& archive) {
    return detail::JournalPathFor(platform::FollowLinks(archive));
}

void Begin(RandomAccessFile& arc, const format::Head& head, const std::string& directory) {
    Journal j;
    j.Name = NameOf(arc.Path());
    j.OldLength = head.Length;
    j.OldDirectory = head.Directory;
    j.TailLength = std::min<int64_t>(kTail, j.DataEnd() - format::kFirstBlock);
    j.TailCrc = Crc(ReadRange(arc, j.DataEnd() - j.TailLength, j.TailLength));
    j.Directory = directory;
    const std::string bytes = Encode(j);
    const std::string path = PathFor(arc.Path());
    Journal found;
    if (Classify(path, arc.Path(), found) == Kind::Foreign)
        throw ArchiveError("The archive " + arc.Path() + " cannot be changed: the file " + path +
                           " beside it is not this program's journal of it, and is left alone "
                           "(move it elsewhere to change the archive)");
    // The journal of a work file is a work file too: an interrupt removes both.
    uint32_t pid = 0;
    if (IsWorkFileName(platform::FileNamePart(path), pid))
        detail::RememberWorkFile(path);
    // Written whole under a work file's name and only then given its own, so that a file of
    // that name is never a journal cut short (a power cut included).
    std::unique_ptr<RandomAccessFile> out;
    const std::string work =
        detail::CreateUniqueFile(detail::FolderOf(path), "journal", path, &out);
    try {
        out->WriteAt(1, bytes.data(), bytes.size());
        out->Sync();
        out->Close();
        platform::ReplaceFile(work, path);
        platform::SyncFolderOf(path);
    } catch (...) {
        out.reset();
        DeleteFileQuiet(work);
        throw;
    }
}

void End(const std::string& archive) {
    try {
        DeleteChecked(PathFor(archive));
    } catch (...) {
        detail::AbandonWorkFile(PathFor(archive));
        throw;
    }
    detail::ForgetWorkFile(PathFor(archive));
}

bool RollBack(RandomAccessFile& arc) {
    const std::string path = PathFor(arc.Path());
    Journal j;
    if (Classify(path, arc.Path(), j) != Kind::Ours || !Fits(j, arc))
        return false;
    if (!j.Directory.empty())
        arc.WriteAt(j.DataEnd(), j.Directory.data(), j.Directory.size());
    format::WriteDirectoryPosition(arc, j.OldDirectory);
    arc.Truncate(j.OldLength);
    arc.Sync();
    DeleteChecked(path);
    return true;
}

std::unique_ptr<RandomAccessFile> OpenLocked(const std::string& archive, bool forChange) {
    using Mode = RandomAccessFile::Mode;
    using Lock = RandomAccessFile::Lock;
    for (int round = 0;; ++round) {
        auto file =
            std::make_unique<RandomAccessFile>(archive, forChange ? Mode::ReadWrite : Mode::Read);
        file->TakeLock(forChange ? Lock::Exclusive : Lock::Shared);
        if (!Exists(PathFor(archive)))
            return file;
        if (forChange) {
            RollBack(*file);
            return file;
        }
        // Someone else's file of that name, or a journal that belongs elsewhere: the archive
        // is read as it is.
        Journal j;
        if (round > 0 || Classify(PathFor(archive), archive, j) != Kind::Ours)
            return file;
        file.reset();
        try {
            RandomAccessFile writer(archive, Mode::ReadWrite);
            writer.TakeLock(Lock::Exclusive);
            RollBack(writer);
        } catch (const std::exception& e) {
            throw ArchiveError("The archive " + archive +
                               " was left half-changed by a program that stopped, and cannot "
                               "be put back: " +
                               e.what());
        }
    }
}

} // namespace qvr::journal
