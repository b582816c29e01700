#include "qvr/package/Archives.h"

#include "qvr/format/PathRules.h"
#include "qvr/format/detail/Format.h"
#include "qvr/package/detail/Internal.h"
#include "qvr/package/detail/Journal.h"
#include "qvr/platform/Encoding.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/TempFile.h"
#include "qvr/platform/detail/ArchiveError.h"
#include "qvr/platform/detail/RandomAccessFile.h"
#include "qvr/platform/detail/WorkFileNames.h"
#include "qvr/platform/detail/platform.h"

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string_view>

namespace qvr {

using format::kMaxArchive;

namespace detail {
namespace {

// Folds v into h so that every bit of either reaches every bit of the result (splitmix64's
// finaliser), and the order of the values counts.
uint64_t Fold(uint64_t h, uint64_t v) {
    h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
    h = (h ^ (h >> 30)) * 0xbf58476d1ce4e5b9ULL;
    h = (h ^ (h >> 27)) * 0x94d049bb133111ebULL;
    return h ^ (h >> 31);
}

} // namespace

void ListPrint::Add(const sgFileInfo& e) {
    ++Count;
    for (const std::string* text :
         {&e.FileName(), &e.FilePath(), &e.FileDate(), &e.FileArchiveDate()})
        Hash = Fold(Fold(Hash, text->size()), std::hash<std::string_view>{}(*text));
    Hash = Fold(Hash, uint64_t{static_cast<uint32_t>(e.FileOffset())} << 32 |
                          static_cast<uint32_t>(e.FileSize()));
    Hash = Fold(Hash, static_cast<uint32_t>(e.FileCompressedSize()));
}

ListPrint PrintOf(const std::vector<sgFileInfo>& list) {
    ListPrint print;
    for (const sgFileInfo& e : list)
        print.Add(e);
    return print;
}

} // namespace detail

// Another program may have changed the file, or the list may hold only what a damaged
// directory gave up; writing on from such a list would lose entries.
bool Archives::ListMatches(const std::string& directory) {
    if (m_state.KnownArchive == CurrentArchive && m_state.KnownDirectory == directory &&
        m_state.KnownList == detail::PrintOf(ArchiveFiles))
        return true;
    format::Decoded onDisk = format::DecodeRecords(directory, CurrentArchive);
    if (!onDisk.Complete() || onDisk.Entries != ArchiveFiles)
        return false;
    RememberDirectory(directory, onDisk.Entries);
    return true;
}

void Archives::CheckListMatches(const std::string& directory) {
    if (!ListMatches(directory))
        throw ArchiveError("The archive " + CurrentArchive +
                           " no longer holds the files listed for it; open it again");
}

void Archives::RememberDirectory(const std::string& directory,
                                 const std::vector<sgFileInfo>& list) {
    m_state.KnownArchive = CurrentArchive;
    m_state.KnownDirectory = directory;
    m_state.KnownList = detail::PrintOf(list);
    m_state.KnownLast = list.empty() ? sgFileInfo() : list.back();
}

Result Archives::CreateArchive(const std::string& path) {
    if (FileExists(path))
        return Result::Unusable("The file " + path + " exists already");
    try {
        RandomAccessFile file(path, RandomAccessFile::Mode::CreateReadWrite);
        try {
            const std::string head = format::EmptyHead();
            file.WriteAt(format::kMagicPosition, head.data(), head.size());
            file.Close();
        } catch (...) {
            file.Close();
            DeleteFileQuiet(path);
            throw;
        }
    } catch (const std::exception& e) {
        return Result::Unusable(e.what());
    }
    // A new, empty archive: nothing of the one open before stays.
    m_state = State{};
    m_state.Current = path;
    return Result::Success();
}

// The records of blocks laid one after another from d, in front of a directory of
// directorySize bytes; answers where the blocks end. Throws when the archive would pass 2 GB
// or its directory what readers accept.
int64_t Archives::LayOut(const std::vector<detail::NewBlock>& blocks,
                         const std::vector<int64_t>& lengths, int64_t d, size_t directorySize,
                         std::string& records, std::vector<sgFileInfo>& entries) const {
    int64_t pos = d;
    for (size_t n = 0; n < blocks.size(); ++n) {
        if (pos + lengths[n] > kMaxArchive)
            throw ArchiveError("The archive " + CurrentArchive + " would grow past 2 GB");
        sgFileInfo e = blocks[n].Entry;
        e.FileOffset(static_cast<int32_t>(pos));
        e.FileCompressedSize(static_cast<int32_t>(lengths[n]));
        records += format::EncodeRecord(e);
        entries.push_back(e);
        pos += lengths[n];
    }
    format::CheckDirectoryLength(
        static_cast<int64_t>(directorySize) + static_cast<int64_t>(records.size()), CurrentArchive);
    const int64_t newLength =
        pos - 1 + static_cast<int64_t>(directorySize) + static_cast<int64_t>(records.size());
    if (newLength > kMaxArchive)
        throw ArchiveError("The archive " + CurrentArchive + " would grow past 2 GB");
    return pos;
}

void Archives::WriteBlocks(RandomAccessFile& arc, const std::vector<detail::NewBlock>& blocks,
                           const std::vector<int64_t>& lengths, int64_t d) {
    int64_t at = d;
    for (size_t n = 0; n < blocks.size(); ++n) {
        if (blocks[n].InMemory) {
            arc.WriteAt(at, blocks[n].InMemory->data(), blocks[n].InMemory->size());
        } else {
            RandomAccessFile block(blocks[n].WorkFile, RandomAccessFile::Mode::Read);
            CopyFileBlock(block, 1, arc, at, lengths[n]);
        }
        at += lengths[n];
    }
}

// Reads and checks the head and directory of the open archive for a change, and that the list
// in memory is still the one on disk.
std::string Archives::DirectoryForWriting(RandomAccessFile& arc, format::Head& head) {
    head = format::ReadHead(arc);
    std::string directory = format::ReadDirectory(arc, head);
    CheckListMatches(directory);
    return directory;
}

// Writes the blocks where the directory began, one after another, then the old directory and
// their records behind them: the same bytes as appending them one at a time. On any failure
// the archive is put back exactly as it was.
void Archives::AppendBlocks(std::vector<detail::NewBlock>& blocks) {
    // A change looked at the archive when it began and holds it locked since.
    if (ZipLoaded || (!m_state.Change && !IsQvrArchive(CurrentArchive)))
        throw ArchiveError("Files cannot be added to " + (CurrentArchive.empty()
                                                              ? std::string("a closed archive")
                                                              : CurrentArchive));
    std::vector<int64_t> lengths;
    for (const detail::NewBlock& b : blocks) {
        const int64_t length = b.InMemory ? static_cast<int64_t>(b.InMemory->size())
                                          : FileLength(b.WorkFile).value_or(0);
        if (length < format::kBlockPrefix)
            throw ArchiveError("The work file " + b.WorkFile + " holds no stored data");
        lengths.push_back(length);
    }

    // Inside a change of several appends, the journal written at its start undoes them all,
    // and the directory is written once, when the change ends: rewriting it behind every
    // group made adding many files cost the square of their number.
    const bool alone = !m_state.Change;
    if (!alone)
        return AppendBlocksToChange(blocks, lengths);
    std::shared_ptr<RandomAccessFile> held = Locked(CurrentArchive, true);
    RandomAccessFile& arc = *held;
    format::Head head;
    const std::string directory = DirectoryForWriting(arc, head);
    const int64_t oldLength = head.Length;
    const int64_t d = head.DataEnd();

    std::string records;
    std::vector<sgFileInfo> entries;
    const int64_t pos = LayOut(blocks, lengths, d, directory.size(), records, entries);

    journal::Begin(arc, head, directory);
    try {
        WriteBlocks(arc, blocks, lengths, d);
        arc.WriteAt(pos, directory.data(), directory.size());
        arc.WriteAt(pos + static_cast<int64_t>(directory.size()), records.data(), records.size());
        format::WriteDirectoryPosition(arc, pos);
        arc.Sync();
        journal::End(CurrentArchive);
    } catch (...) {
        // Undo: the old directory back in its place, the old position, the old length. When
        // that fails too, the journal stays and the next opening undoes the change.
        try {
            arc.WriteAt(d, directory.data(), directory.size());
            format::WriteDirectoryPosition(arc, head.Directory);
            arc.Truncate(oldLength);
            arc.Sync();
            journal::End(CurrentArchive);
        } catch (...) {
        }
        throw;
    }
    held.reset(); // unlocked, unless the lock is held for a series of changes
    // The list the caller is to have once it has taken the new entries.
    m_state.KnownDirectory = directory + records;
    for (size_t n = 0; n < blocks.size(); ++n) {
        blocks[n].Entry = entries[n];
        m_state.KnownList.Add(entries[n]);
        m_state.KnownLast = entries[n];
    }
}

// Writes the blocks where the change's data ends and adds their records to the directory
// held in memory; CommitAppends writes it. The file's head still points at the directory the
// change began with, so until then readers, who wait for the lock, and the journal see the
// archive as it was.
void Archives::AppendBlocksToChange(std::vector<detail::NewBlock>& blocks,
                                    const std::vector<int64_t>& lengths) {
    // The change holds the archive locked and checked the whole list when it began; since
    // then only appends of its own have changed the list, each taking it with it.
    if (m_state.KnownArchive != CurrentArchive || m_state.KnownList.Count != ArchiveFiles.size() ||
        (!ArchiveFiles.empty() && !(m_state.KnownLast == ArchiveFiles.back())))
        throw ArchiveError("The archive " + CurrentArchive +
                           " no longer holds the files listed for it; open it again");
    const int64_t d = m_state.ChangeDataEnd;
    std::string records;
    std::vector<sgFileInfo> entries;
    const int64_t pos = LayOut(blocks, lengths, d, m_state.KnownDirectory.size(), records, entries);
    // What lies behind the change's data end is not part of the archive until the commit;
    // but it is where the old directory lies, which the journal keeps.
    m_state.ChangeWritten = true;
    WriteBlocks(*m_state.Change, blocks, lengths, d);
    m_state.ChangeDataEnd = pos;
    m_state.ChangeAppended = true;
    m_state.KnownDirectory += records;
    for (size_t n = 0; n < blocks.size(); ++n) {
        blocks[n].Entry = entries[n];
        m_state.KnownList.Add(entries[n]);
        m_state.KnownLast = entries[n];
    }
}

void Archives::BeginAppends() {
    if (ZipLoaded || !IsQvrArchive(CurrentArchive))
        throw ArchiveError("Files cannot be added to " + (CurrentArchive.empty()
                                                              ? std::string("a closed archive")
                                                              : CurrentArchive));
    std::shared_ptr<RandomAccessFile> arc = Locked(CurrentArchive, true);
    format::Head head;
    const std::string directory = DirectoryForWriting(*arc, head);
    journal::Begin(*arc, head, directory);
    m_state.Change = std::move(arc);
    m_state.ChangeDataEnd = head.DataEnd();
    m_state.ChangeAppended = false;
    m_state.ChangeWritten = false;
}

void Archives::CommitAppends() {
    std::shared_ptr<RandomAccessFile> arc = std::move(m_state.Change);
    if (!arc)
        return;
    try {
        if (m_state.ChangeAppended) {
            const std::string& directory = m_state.KnownDirectory;
            const int64_t at = m_state.ChangeDataEnd;
            arc->WriteAt(at, directory.data(), directory.size());
            format::WriteDirectoryPosition(*arc, at);
            arc->Truncate(at - 1 + static_cast<int64_t>(directory.size()));
        } else if (m_state.ChangeWritten) {
            // Every append failed, some after writing over the old directory: the journal
            // puts it back.
            if (!journal::RollBack(*arc))
                throw ArchiveError("The archive " + CurrentArchive +
                                   " could not be put back as it was");
            return;
        }
        arc->Sync();
        journal::End(CurrentArchive);
    } catch (...) {
        m_state.Change = std::move(arc);
        throw;
    }
}

// Puts the archive back as it was before BeginAppends. When even that fails, the journal
// stays and the next opening does it.
void Archives::AbandonAppends() {
    std::shared_ptr<RandomAccessFile> arc = std::move(m_state.Change);
    m_state.KnownArchive.clear();
    if (!arc)
        return;
    try {
        journal::RollBack(*arc);
    } catch (...) {
    }
}

void Archives::AppendBlock(sgFileInfo& entry, const std::string& workFile) {
    std::vector<detail::NewBlock> one{{entry, workFile, nullptr}};
    AppendBlocks(one);
    entry = one[0].Entry;
}

Result Archives::AppendEntryData(sgFileInfo& entry, const std::string& workFile) {
    if (const Result safe = IsSafeEntryPath(entry.FilePath(), entry.FileName()); !safe)
        return Result::EntryFailure("Cannot add " + workFile + ": " + safe.Message);
    if (!FileExists(workFile))
        return Result::EntryFailure("The work file " + workFile + " is missing or empty");
    try {
        AppendBlock(entry, workFile);
        return Result::Success();
    } catch (const std::exception& e) {
        return Result::Unusable(e.what());
    }
}

Result Archives::SaveEntryData(const sgFileInfo& entry, const std::string& workFile) {
    try {
        RandomAccessFile arc(CurrentArchive, RandomAccessFile::Mode::Read);
        const int64_t end = int64_t{entry.FileOffset()} + entry.FileCompressedSize() - 1;
        if (entry.FileOffset() < format::kFirstBlock || entry.FileCompressedSize() < 0 ||
            end > arc.Length())
            return Result::EntryFailure("The stored data of " + entry.FileName() +
                                        " lies outside " + CurrentArchive);
        RandomAccessFile out(workFile, RandomAccessFile::Mode::CreateReadWrite);
        CopyFileBlock(arc, entry.FileOffset(), out, 1, entry.FileCompressedSize());
        return Result::Success();
    } catch (const std::exception& e) {
        return Result::EntryFailure(e.what());
    }
}

// The checks and values every new entry starts from, before any work is done.
Result Archives::DescribeNewEntry(const std::string& source, const std::string& fileName,
                                  const std::string& filePath, sgFileInfo& e) {
    if (const Result safe = IsSafeEntryPath(filePath, fileName); !safe)
        return Result::EntryFailure("Cannot add " + source + ": " + safe.Message);
    if (ZipLoaded || !IsQvrArchive(CurrentArchive))
        return Result::Unusable("Files cannot be added to " + (CurrentArchive.empty()
                                                                   ? std::string("a closed archive")
                                                                   : CurrentArchive));
    const FindData found = GetFindData(source);
    if (!found.Found)
        return Result::EntryFailure("The file " + source + " cannot be found");
    e.FileName(fileName);
    e.FilePath(filePath);
    e.FileDate(FormatFileDate(found));
    e.FileArchiveDate(FormatArchiveDate());
    return Result::Success();
}

// Compresses source into a fresh work file (named in work, so the caller can delete it).
void Archives::CompressNewEntry(const std::string& source, sgFileInfo& e, std::string& work) {
    format::EncodeRecord(e); // refuse names the archive cannot hold before any work
    work = detail::CreateUniqueFile(TempFolder, e.FileName());
    e.FileSize(static_cast<int32_t>(detail::CompressFileChecked(source, work, 9)));
}

Result Archives::AddFileToArchive(const std::string& source, const std::string& fileName,
                                  const std::string& filePath) {
    sgFileInfo e;
    if (Result described = DescribeNewEntry(source, fileName, filePath, e); !described)
        return described;
    std::string work;
    // A source that cannot be packed is this entry's failure; an archive that cannot take
    // the block is the archive's.
    Result outcome;
    try {
        CompressNewEntry(source, e, work);
    } catch (const std::exception& x) {
        outcome = Result::EntryFailure(x.what());
    }
    if (outcome) {
        try {
            AppendBlock(e, work);
        } catch (const std::exception& x) {
            outcome = Result::Unusable(x.what());
        }
    }
    DeleteFileQuiet(work);
    if (outcome)
        m_state.Files.push_back(e);
    return outcome;
}

std::shared_ptr<RandomAccessFile> Archives::LockForRebuild(int64_t& length) {
    // Opened for writing, though only read, so that a package the user may not change is
    // refused here rather than replaced by the rename.
    std::shared_ptr<RandomAccessFile> held = Locked(CurrentArchive, true);
    format::Head head;
    DirectoryForWriting(*held, head);
    length = head.Length;
    return held;
}

// Writes the kept entries (and the extra blocks behind them) into a new file beside the
// archive, block after block, and puts it in the archive's place only once it is complete.
void Archives::Rebuild(const std::vector<bool>& keep,
                       const std::vector<detail::StoredBlock>& extras,
                       const StepProgress& progress) {
    // Locked until the new file has taken its place, so no other change is lost in between.
    int64_t oldLength = 0;
    std::shared_ptr<RandomAccessFile> held = LockForRebuild(oldLength);
    RebuildLocked(*held, oldLength, keep, extras, progress);
}

void Archives::RebuildLocked(RandomAccessFile& old, int64_t oldLength,
                             const std::vector<bool>& keep,
                             const std::vector<detail::StoredBlock>& extras,
                             const StepProgress& progress) {
    std::vector<sgFileInfo> entries;
    TempFile temp; // deleted unless it takes the place
    ThrowOnFailure(TempFile::Beside(CurrentArchive, temp));
    {
        RandomAccessFile out(temp.Path(), RandomAccessFile::Mode::ReadWrite);
        const std::string emptyHead = format::EmptyHead();
        out.WriteAt(format::kMagicPosition, emptyHead.data(), emptyHead.size());
        int64_t pos = format::kFirstBlock;
        // e's block lies at its FileOffset in `from`, which holds blocks from `first` to `end`.
        auto place = [&](sgFileInfo e, RandomAccessFile& from, int64_t first, int64_t end) {
            const int64_t at = e.FileOffset();
            const int64_t size = e.FileCompressedSize();
            if (at < first || size < format::kBlockPrefix || at + size - 1 > end)
                throw ArchiveError("The stored data of " + e.FileName() + " lies outside " +
                                   from.Path());
            if (pos + size - 1 > kMaxArchive)
                throw ArchiveError("The archive " + CurrentArchive + " would grow past 2 GB");
            CopyFileBlock(from, at, out, pos, size);
            e.FileOffset(static_cast<int32_t>(pos));
            pos += size;
            entries.push_back(e);
        };
        for (size_t k = 0; k < ArchiveFiles.size(); ++k) {
            if (progress && !progress(k, ArchiveFiles.size(), ArchiveFiles[k].FileName()))
                throw detail::Stopped();
            if (keep[k])
                place(ArchiveFiles[k], old, format::kFirstBlock, oldLength);
        }
        std::unique_ptr<RandomAccessFile> from;
        for (const detail::StoredBlock& x : extras) {
            if (!from || from->Path() != x.From)
                from = std::make_unique<RandomAccessFile>(x.From, RandomAccessFile::Mode::Read);
            place(x.Entry, *from, 1, from->Length());
        }
        from.reset();
        if (!entries.empty()) {
            std::string directory;
            for (const sgFileInfo& e : entries)
                directory += format::EncodeRecord(e);
            // Refused before the copy takes the package's place, which stays as it was.
            format::CheckDirectoryLength(static_cast<int64_t>(directory.size()), CurrentArchive);
            if (pos - 1 + static_cast<int64_t>(directory.size()) > kMaxArchive)
                throw ArchiveError("The archive " + CurrentArchive + " would grow past 2 GB");
            out.WriteAt(pos, directory.data(), directory.size());
            format::WriteDirectoryPosition(out, pos);
        }
        out.Sync();
        out.Close();
        // A lock held for a series of changes passes to the new file before it takes the
        // archive's name, so that no other program's change comes in between.
        const bool held = m_state.Held.get() == &old;
        std::shared_ptr<RandomAccessFile> next;
        if (held && !platform::kReplaceNeedsTargetClosed) {
            next =
                std::make_shared<RandomAccessFile>(temp.Path(), RandomAccessFile::Mode::ReadWrite);
            next->TakeLock(RandomAccessFile::Lock::Exclusive);
        }
        // Where our own lock would keep the rename from happening, it goes just before it
        // (a held one is taken again after it); another program that opens the package in
        // between makes the rename fail, and the old package stays, whole.
        if (platform::kReplaceNeedsTargetClosed) {
            if (held)
                m_state.Held.reset();
            old.Close();
        }
        ThrowOnFailure(temp.ReplaceInto(CurrentArchive));
        platform::SyncFolderOf(CurrentArchive);
        old.Close();
        if (next) {
            next->Renamed(CurrentArchive);
            m_state.Held = std::move(next);
        } else if (held) {
            try {
                m_state.Held = journal::OpenLocked(CurrentArchive, true);
            } catch (const std::exception&) {
                // The change is made; the next one takes a lock of its own.
            }
        }
    }
    m_state.Files = std::move(entries);
    m_state.KnownArchive.clear(); // the next write reads the new directory afresh
}

Result Archives::RemoveEntry(const std::string& fileName, const std::string& filePath) {
    if (ZipLoaded || !IsQvrArchive(CurrentArchive))
        return Result::Unusable(
            "Files cannot be removed from " +
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
        return Result::EntryFailure("The archive " + CurrentArchive + " holds no file " +
                                    ShownEntryPath(filePath, fileName));
    // A rebuild that fails leaves the archive as it was.
    try {
        Rebuild(keep, {});
        return Result::Success();
    } catch (const std::exception& e) {
        return Result::EntryFailure(e.what());
    }
}

Result Archives::RemoveEntries(const std::vector<size_t>& indices, const StepProgress& progress) {
    if (ZipLoaded || !IsQvrArchive(CurrentArchive))
        return Result::Unusable(
            "Files cannot be removed from " +
            (CurrentArchive.empty() ? std::string("a closed archive") : CurrentArchive));
    std::vector<bool> keep(ArchiveFiles.size(), true);
    for (size_t k : indices) {
        if (k >= keep.size())
            return Result::EntryFailure("The archive " + CurrentArchive + " holds no entry " +
                                        std::to_string(k + 1));
        keep[k] = false;
    }
    try {
        Rebuild(keep, {}, progress);
        return Result::Success();
    } catch (const detail::Stopped&) {
        return Result::EntryFailure("Stopped; the archive " + CurrentArchive +
                                    " was left as it was");
    } catch (const std::exception& e) {
        return Result::EntryFailure(std::string(e.what()) + "; the archive was left as it was");
    }
}

Result Archives::ReplaceEntry(const std::string& source, const std::string& fileName,
                              const std::string& filePath) {
    return ReplaceEntry(source, fileName, filePath, "");
}

Result Archives::ReplaceEntry(const std::string& source, const std::string& fileName,
                              const std::string& filePath, const std::string& alsoDrop) {
    sgFileInfo e;
    if (Result described = DescribeNewEntry(source, fileName, filePath, e); !described)
        return described;
    std::vector<bool> keep(ArchiveFiles.size(), true);
    for (size_t k = 0; k < ArchiveFiles.size(); ++k) {
        const sgFileInfo& old = ArchiveFiles[k];
        const bool same = SameTextIgnoreCase(old.FileName(), fileName) &&
                          SameTextIgnoreCase(old.FilePath(), filePath);
        const bool dropped = !alsoDrop.empty() && old.FilePath().empty() &&
                             SameTextIgnoreCase(old.FileName(), alsoDrop);
        keep[k] = !same && !dropped;
    }
    std::string work;
    try {
        CompressNewEntry(source, e, work);
        const int64_t size = FileLength(work).value_or(0);
        if (size < format::kBlockPrefix || size > kMaxArchive)
            throw ArchiveError("The work file " + work + " holds no stored data");
        e.FileCompressedSize(static_cast<int32_t>(size));
        e.FileOffset(1);
        Rebuild(keep, {{e, work}});
    } catch (const std::exception& x) {
        DeleteFileQuiet(work);
        return Result::EntryFailure(x.what());
    }
    DeleteFileQuiet(work);
    return Result::Success();
}

} // namespace qvr
