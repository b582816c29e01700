#pragma once
// Pieces the package operations share with the install engine; not part of the interface.

#include "qvr/format/detail/BlockIO.h"
#include "qvr/format/sgFileInfo.h"
#include "qvr/package/Archives.h"
#include "qvr/platform/WorkFiles.h"
#include "qvr/platform/detail/RandomAccessFile.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qvr {

// Copies length bytes between two open files, in pieces; throws ArchiveError when the source
// ends early or a write fails.
void CopyFileBlock(RandomAccessFile& source, int64_t sourcePos, RandomAccessFile& destination,
                   int64_t destinationPos, int64_t length);

} // namespace qvr

namespace qvr::detail {

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
    static std::shared_ptr<RandomAccessFile> Locked(const Archives& arc, const std::string& path,
                                                    bool forChange) {
        return arc.Locked(path, forChange);
    }
    static std::shared_ptr<RandomAccessFile> LockForRebuild(Archives& arc, int64_t& length) {
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

} // namespace qvr::detail
