#pragma once
// Adding many files to the open archive, compressing on several threads. The archive's bytes
// are exactly those that AddFileToArchive would give, one file after another in list order.

#include "qvr/package/Archives.h"
#include "qvr/platform/Result.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qvr {

struct BatchFile {
    std::string Source;   // file on disk (UTF-8 path)
    std::string FileName; // entry name, no folder
    std::string FilePath; // entry folder, levels joined by "\", "" for the top level
};

struct BatchResult {
    BatchFile File;
    bool Added = false;
    std::string Message;        // why not, naming the file, when Added is false
    bool ArchiveFailed = false; // not added because the archive could not be written
    int64_t Bytes = 0;          // the file's size as packed, when Added
};

struct BatchOptions {
    unsigned Jobs = 0;       // compressing threads; 0: one per core
    std::string ArchiveDate; // FileArchiveDate of every new entry; "": the time of adding
    // How far compression may run ahead of the appending: files taken but not yet appended,
    // by count (0: 16 per thread) and by their total size (the next file to append is always
    // allowed, whatever its size).
    size_t MaxPendingFiles = 0;
    int64_t MaxPendingBytes = int64_t{64} << 20;
    // Files up to this size are compressed in memory; larger ones through a work file.
    int64_t InMemoryLimit = int64_t{1} << 20;
    // Compression level: 9, or 12 for the smallest packages (several times slower; members
    // held whole only, larger ones stay at 9). Either way any zlib reader reads the result.
    int Level = 9;
};

// Called in list order once a file was appended (or failed), from the calling thread.
using BatchProgress = std::function<void(const BatchResult& result, size_t done, size_t count)>;

// The number of cores, at least 1.
unsigned DefaultJobs();

// Appends every file that can be packed to CurrentArchive and ArchiveFiles, in list order;
// a file that cannot be (empty, unreadable, a name the archive cannot hold) is reported and
// the others go on. Work files waiting for their turn stay within the options' bounds.
std::vector<BatchResult> AddFilesToArchive(Archives& arc, const std::vector<BatchFile>& files,
                                           const BatchOptions& options = {},
                                           const BatchProgress& progress = {});

// As AddFilesToArchive, but a file whose entry name (folder and name, ignoring case) the
// archive already holds replaces every such entry, all in one change: the files are packed
// first, then the archive is rewritten once, without the entries they replace and with the new
// ones last, and put in place by one rename. An entry whose file failed stays. When the archive
// cannot be rewritten, the answer says why, the archive is as it was, and every file is
// reported not added (ArchiveFailed), also to progress when it was reported added before.
Result ReplaceFilesInArchive(Archives& arc, const std::vector<BatchFile>& files,
                             std::vector<BatchResult>& results, const BatchOptions& options = {},
                             const BatchProgress& progress = {});

} // namespace qvr
