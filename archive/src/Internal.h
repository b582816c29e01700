#pragma once
// Pieces shared by the library's own sources; not part of its interface.

#include "qvr/ArchiveError.h"
#include "qvr/Archives.h"
#include "qvr/RandomAccessFile.h"
#include "qvr/sgFileInfo.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qvr::detail {

// A failure of compression or decompression, with the zlib code the public calls answer.
class ZlibError : public ArchiveError {
public:
    ZlibError(int code, const std::string& what) : ArchiveError(what), Code(code) {}
    int Code;
};

// Whether the file ends in a zip's end record, whatever stands in front of the zip.
bool HasZipEndRecord(const std::string& path);

// Thrown inside the library when a progress callback answers that the work is to stop.
struct Stopped {};

// A block waiting to be appended: in a work file, or in memory when InMemory is set.
struct NewBlock {
    sgFileInfo Entry;
    std::string WorkFile;
    const std::string* InMemory = nullptr;
};

// A stored block to copy into a rebuilt archive: the entry's block, at its FileOffset in the
// file From.
struct StoredBlock {
    sgFileInfo Entry;
    std::string From;
};

// The library's own way into an Archives object's private operations.
struct ArchivesAccess {
    static void AppendBlocks(Archives& arc, std::vector<NewBlock>& blocks) {
        arc.AppendBlocks(blocks);
    }
    static void BeginAppends(Archives& arc) { arc.BeginAppends(); }
    // The handle a reading scope holds, shared with threads that read through it.
    static std::shared_ptr<RandomAccessFile> Reader(Archives& arc) { return arc.m_state.Reader; }
    static void CommitAppends(Archives& arc) { arc.CommitAppends(); }
    static void AbandonAppends(Archives& arc) { arc.AbandonAppends(); }
    static void AddToList(Archives& arc, const sgFileInfo& entry) {
        arc.m_state.Files.push_back(entry);
    }
    static std::unique_ptr<RandomAccessFile> LockForRebuild(Archives& arc, int64_t& length) {
        return arc.LockForRebuild(length);
    }
    // Rewrites the archive `old` (locked by LockForRebuild) with the kept entries and the
    // extra blocks behind them, and puts it in place in one step. Throws; then it is as it was.
    static void RebuildLocked(Archives& arc, RandomAccessFile& old, int64_t oldLength,
                              const std::vector<bool>& keep,
                              const std::vector<StoredBlock>& extras) {
        arc.RebuildLocked(old, oldLength, keep, extras, {});
    }
    // As ReplaceEntry, also dropping the top-level entry alsoDrop in the same rewrite.
    static Result ReplaceEntry(Archives& arc, const std::string& source, const std::string& name,
                               const std::string& folder, const std::string& alsoDrop) {
        return arc.ReplaceEntry(source, name, folder, alsoDrop);
    }
    // For tests that put an object into a state no operation leads to.
    static std::vector<sgFileInfo>& Files(Archives& arc) { return arc.m_state.Files; }
    static std::string& Current(Archives& arc) { return arc.m_state.Current; }
    static bool& Zip(Archives& arc) { return arc.m_state.Zip; }
};

// The folder part of a path with its trailing separator ("" for a bare name).
std::string FolderOf(const std::string& path);
// Creates a new, empty file in folder (which ends in a separator, or is "") whose name no
// other file holds, and answers its path. Throws ArchiveError.
// With target, a failure is told as a failure to write target, not as one of the work file.
// With opened, the file stays open for writing there, which spares opening it again.
std::string CreateUniqueFile(const std::string& folder, const std::string& hint,
                             const std::string& target = "",
                             std::unique_ptr<RandomAccessFile>* opened = nullptr);

// Compresses source into destination (written beside it, then renamed into place) and
// answers the source length. Throws ZlibError or ArchiveError.
// threads: for a member deflated in pieces (0: one per core).
int64_t CompressFileChecked(const std::string& source, const std::string& destination, int level,
                            unsigned threads = 0);
// Inflates the block of `length` bytes at pos into a new file beside destination, checked
// against the expected size (the block's own prefix when expected is not above 0), and
// answers that file's path; the caller renames it into place. With crc, also answers the
// zlib crc32 of the bytes written. Throws ZlibError or ArchiveError.
std::string InflateBlockBeside(RandomAccessFile& source, int64_t pos, int64_t length,
                               int32_t expected, const std::string& destination,
                               uint32_t* crc = nullptr);

} // namespace qvr::detail
