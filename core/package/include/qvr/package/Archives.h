#pragma once
// The open archive of one program and the operations that read and change it.
// One Archives object per program (or per test): no state lives outside it.

#include "qvr/format/sgFileInfo.h"
#include "qvr/format/sgPlugInfo.h"
#include "qvr/platform/FindData.h"
#include "qvr/platform/Result.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qvr {

class RandomAccessFile;
namespace detail {
struct NewBlock;
struct StoredBlock;
struct ArchivesAccess;

// A list of entries folded into a number, in order: equal lists have equal prints, and lists
// that differ have different ones but by a chance of 2^-64.
struct ListPrint {
    size_t Count = 0;
    uint64_t Hash = 0;
    void Add(const sgFileInfo& entry);
    bool operator==(const ListPrint&) const = default;
};
ListPrint PrintOf(const std::vector<sgFileInfo>& list);
} // namespace detail
namespace format {
struct Head;
}

// What opening a file found, as data: the caller decides what each case means for it.
enum class OpenKind {
    Complete,   // a QVR archive, every entry read
    Empty,      // a QVR archive that holds no entries yet (one may be added)
    Partial,    // a damaged QVR archive: ArchiveFiles holds the entries read before the damage
    Zip,        // a zip file, listed in ArchiveFiles; it cannot be changed or installed
    NotArchive, // missing, unreadable, a folder, or neither a QVR archive nor a zip file
};

struct OpenStatus {
    OpenKind Kind = OpenKind::NotArchive;
    std::string Message; // "path: what is wrong" for Partial and NotArchive, else ""
    bool Usable() const { return Kind == OpenKind::Complete || Kind == OpenKind::Empty; }
};

// Called before each step of a long operation; answer false to stop it (nothing is changed).
using StepProgress = std::function<bool(size_t done, size_t count, const std::string& name)>;

class Archives {
public:
    Archives();
    Archives(const Archives& other);
    Archives(Archives&& other) noexcept;
    Archives& operator=(const Archives& other);
    Archives& operator=(Archives&& other) noexcept;

    // Program-wide state, read by the windows and tools, changed only by the operations below,
    // so that it always agrees with what the library checks before each write.
    const std::vector<sgFileInfo>& ArchiveFiles = m_state.Files;
    const std::string& CurrentArchive = m_state.Current;
    const bool& ZipLoaded = m_state.Zip;
    std::string TempFolder; // ends in one separator; set from GetTempFolder() on construction
    sgPlugInfo PluginInfo;

    // Reading.
    bool IsQvrArchive(const std::string& path) const;
    bool IsZipArchive(const std::string& path) const;
    // Opens path, whatever it holds, and says what it found (see OpenKind).
    OpenStatus Open(const std::string& path);
    // Opens path as Open does for a program that is going to change it: a QVR archive stays
    // locked for this object from the reading of its list until EndChanges (or until the
    // object goes), and its changes take that lock rather than one of their own. What the
    // caller decides from the list is then what its changes find: another program's change
    // waits for them, as they wait for one under way, instead of failing on a list that went
    // stale in between. When the archive stays in use for longer than the usual wait, it is
    // not opened (NotArchive, the message saying so).
    OpenStatus OpenForChanges(const std::string& path);
    void EndChanges();
    // Ok when a QVR directory was read to its end; a zip file is listed and answers
    // ArchiveUnusable (ZipLoaded tells it apart).
    Result OpenArchive(const std::string& path);
    Result ReadArchiveDirectory(const std::string& path);
    Result ReadZipDirectory(const std::string& path);
    // Names path as the open archive with no entries, without reading it: for an archive that
    // is read another way (a zip, 7z, rar or tar as a source) whose name is still shown.
    void NameOnly(const std::string& path);
    // By name: the first entry whose FileName matches, ignoring case (kept for its callers).
    Result ExtractEntry(const std::string& entryName, const std::string& destination,
                        bool overwrite);
    // As itself: the entry's own block, whatever other entries share its name. With crc, also
    // answers the zlib crc32 of the bytes written, taken while inflating.
    Result ExtractEntry(const sgFileInfo& entry, const std::string& destination, bool overwrite,
                        uint32_t* crc = nullptr);

    // Writing.
    // Each answers EntryFailed when the file or entry it was given could not be handled (the
    // archive is as it was) and ArchiveUnusable when the archive itself cannot be changed.
    Result CreateArchive(const std::string& path);
    Result AddFileToArchive(const std::string& source, const std::string& fileName,
                            const std::string& filePath);
    Result AppendEntryData(sgFileInfo& entry, const std::string& workFile);
    // Copies the entry's stored block, as it is, into workFile (created or truncated).
    [[nodiscard]] Result SaveEntryData(const sgFileInfo& entry, const std::string& workFile);
    Result RemoveEntry(const std::string& fileName, const std::string& filePath);
    // Rebuilds the archive once without the entries at these places in ArchiveFiles. On any
    // failure, or when progress answers false, the archive stays as it was.
    Result RemoveEntries(const std::vector<size_t>& indices, const StepProgress& progress = {});
    // Rebuilds the archive, in one step, without every entry of that name and folder
    // (ignoring case) and with source appended as a new last entry of that name.
    Result ReplaceEntry(const std::string& source, const std::string& fileName,
                        const std::string& filePath);
    // Keeps the open archive open, with a shared lock, until EndReading, so that a series of
    // extractions (an install) reads one and the same file whatever other programs do
    // meanwhile. Fails when the archive no longer holds what was read from it.
    Result BeginReading();
    void EndReading();

    std::optional<sgFileInfo> FindEntry(const std::string& fileName,
                                        const std::string& filePath) const;

    // The info entry's name for the open archive: its file name followed by ".ifo"; when no
    // top-level entry bears that name and exactly one top-level entry ends in ".qvr.ifo" (the
    // archive was renamed after packing), that entry's name.
    std::string InfoEntryName() const;
    bool IsInfoEntry(const sgFileInfo& entry) const;
    // Why no entry is taken as the info entry although several could be ("" otherwise).
    std::string InfoEntryProblem() const;
    // A top-level entry whose name ends in ".qvr.ifo": the info entry of this archive or of
    // the one it was packed as. Installs never write one into the data folder.
    static bool LooksLikeInfoEntry(const sgFileInfo& entry);

    // A fresh work-file path in TempFolder that no other file holds (the file is created
    // empty to reserve the name); Path is "" when none can be made.
    struct WorkFile {
        std::string Path;
        Result Outcome;
    };
    WorkFile NewWorkFile(const std::string& hint);

private:
    // The top-level ".qvr.ifo" entries when none is named after the archive (else none).
    std::vector<std::string> RenamedInfoEntries() const;
    // path open and locked (exclusively for a change): the lock held since OpenForChanges
    // when it is that archive's, else one of its own.
    std::shared_ptr<RandomAccessFile> Locked(const std::string& path, bool forChange) const;
    // Whether the directory's bytes hold the entries listed (decoded only when they are not
    // the bytes last read or written); CheckListMatches ends the change when they do not.
    bool ListMatches(const std::string& directory);
    void CheckListMatches(const std::string& directory);
    void RememberDirectory(const std::string& directory, const std::vector<sgFileInfo>& list);
    friend struct detail::ArchivesAccess;
    std::string DirectoryForWriting(RandomAccessFile& arc, format::Head& head);
    void AppendBlocks(std::vector<detail::NewBlock>& blocks);
    void AppendBlocksToChange(std::vector<detail::NewBlock>& blocks,
                              const std::vector<int64_t>& lengths);
    int64_t LayOut(const std::vector<detail::NewBlock>& blocks, const std::vector<int64_t>& lengths,
                   int64_t d, size_t directorySize, std::string& records,
                   std::vector<sgFileInfo>& entries) const;
    static void WriteBlocks(RandomAccessFile& arc, const std::vector<detail::NewBlock>& blocks,
                            const std::vector<int64_t>& lengths, int64_t d);
    void AppendBlock(sgFileInfo& entry, const std::string& workFile);
    Result DescribeNewEntry(const std::string& source, const std::string& fileName,
                            const std::string& filePath, sgFileInfo& entry);
    void CompressNewEntry(const std::string& source, sgFileInfo& entry, std::string& work);
    // Several appends as one change: one journal, one lock, all kept or none.
    void BeginAppends();
    void CommitAppends();
    void AbandonAppends();
    Result ReplaceEntry(const std::string& source, const std::string& fileName,
                        const std::string& filePath, const std::string& alsoDrop);
    // The archive locked for a change (rolled back first when a change was cut off) and
    // checked against the list; answers its handle and length.
    std::shared_ptr<RandomAccessFile> LockForRebuild(int64_t& length);
    void Rebuild(const std::vector<bool>& keep, const std::vector<detail::StoredBlock>& extras,
                 const StepProgress& progress = {});
    void RebuildLocked(RandomAccessFile& old, int64_t oldLength, const std::vector<bool>& keep,
                       const std::vector<detail::StoredBlock>& extras,
                       const StepProgress& progress);

    struct State {
        std::vector<sgFileInfo> Files;
        std::string Current;
        bool Zip = false;
        // The directory this object last wrote or read through, and a print of the list that
        // went with it, so that the check before each write is a comparison rather than a new
        // reading (a print, not a copy: a copy of 10,000 entries is 40,000 allocations at
        // every opening).
        std::string KnownArchive;
        std::string KnownDirectory;
        detail::ListPrint KnownList;
        sgFileInfo KnownLast; // the list's last entry
        // The archive, locked, while a change of several appends is under way; where its
        // blocks end so far, and whether it has appended any (its directory, in
        // KnownDirectory, is written when it ends).
        std::shared_ptr<RandomAccessFile> Change;
        int64_t ChangeDataEnd = 0;
        bool ChangeAppended = false;
        bool ChangeWritten = false; // blocks were written, if only in part
        // The archive, with a shared lock, while a series of extractions reads it.
        std::shared_ptr<RandomAccessFile> Reader;
        // The archive locked since OpenForChanges, and its name.
        std::shared_ptr<RandomAccessFile> Held;
        std::string HeldArchive;
    };
    State m_state;
};

// Holds an archive open for reading while it lives (see Archives::BeginReading).
class ReadingScope {
public:
    explicit ReadingScope(Archives& arc) : m_arc(arc), m_outcome(arc.BeginReading()) {}
    ~ReadingScope() { m_arc.EndReading(); }
    ReadingScope(const ReadingScope&) = delete;
    ReadingScope& operator=(const ReadingScope&) = delete;
    const Result& Outcome() const { return m_outcome; }

private:
    Archives& m_arc;
    Result m_outcome;
};

} // namespace qvr
