#include "qvr/package/BatchAdd.h"

#include "qvr/format/PathRules.h"
#include "qvr/format/detail/Format.h"
#include "qvr/format/detail/WholeMember.h"
#include "qvr/format/modCompression.h"
#include "qvr/package/detail/Internal.h"
#include "qvr/platform/ArchiveError.h"
#include "qvr/platform/Encoding.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/RandomAccessFile.h"
#include "qvr/platform/WorkFiles.h"
#include "qvr/platform/detail/WorkRegistry.h"
#include "qvr/platform/detail/platform.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <exception>
#include <filesystem>
#include <limits>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

namespace fs = std::filesystem;

namespace qvr {
namespace {

using format::kMaxArchive;
using format::kMaxRecordBytes;
// Blocks appended in one step at most.
constexpr size_t kMaxGroup = 256;

std::string Describe(const BatchFile& f) {
    return ShownEntryPath(f.FilePath, f.FileName);
}

// A folder of our own in the temporary folder, so work files never meet anyone's files.
class WorkFolder {
public:
    explicit WorkFolder(const std::string& tempFolder)
        : m_path(platform::ToNative(MakeWorkFolder(tempFolder, "batch"))) {}
    ~WorkFolder() { RemoveWorkFolder(platform::FromNative(m_path)); }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    std::string File(size_t index) const {
        return platform::FromNative(m_path / ("block-" + std::to_string(index)));
    }

private:
    fs::path m_path;
};

struct Slot {
    bool Ready = false;
    bool Ok = false;
    std::string Work;  // the block in a work file, or
    std::string Block; // the block in memory (small files)
    sgFileInfo Entry;
    std::string Message;
};

// Everything AddFileToArchive does before the append: checks, dates, sizes, the block.
// threads: how many a large member's pieces may use; the batch's own job count.
void Prepare(const BatchFile& f, const std::string& work, int64_t inMemory, int level,
             unsigned threads, Slot& slot) {
    std::string why;
    if (f.FileName.empty() || f.FileName.find_first_of("\\/") != std::string::npos ||
        !IsSafeEntryPath(f.FilePath, f.FileName, &why)) {
        slot.Message = f.Source + ": cannot be packed as " + Describe(f) +
                       (why.empty() ? std::string() : ": " + why);
        return;
    }
    for (const std::string* text : {&f.FileName, &f.FilePath}) {
        auto stored = Utf8ToCp1252(*text);
        if (!stored) {
            slot.Message = f.Source + ": cannot be packed as " + Describe(f) +
                           (IsValidUtf8(*text) ? ": the name holds characters outside "
                                                 "Windows-1252, which an archive cannot store"
                                               : ": the name is not valid UTF-8");
            return;
        }
        if (stored->size() > 254) {
            slot.Message = f.Source + ": cannot be packed as " + Describe(f) +
                           ": a name or folder longer than 254 bytes cannot be stored";
            return;
        }
    }
    const int64_t length = FileLength(f.Source);
    if (length < 0) {
        slot.Message = f.Source + ": not a readable file";
        return;
    }
    if (length == 0) {
        slot.Message = f.Source + ": is empty; files of 0 bytes cannot be packed";
        return;
    }
    if (length >= kMaxArchive) {
        slot.Message = f.Source + ": is 2 GiB or larger; the archive cannot hold it";
        return;
    }
    FindData found = GetFindData(f.Source);
    int64_t block = 0;
    if (length <= inMemory) {
        // Small files never touch the disk in between: thousands of work files created and
        // deleted in one folder cost more than compressing them.
        std::vector<unsigned char> data(static_cast<size_t>(length));
        size_t got = 0;
        try {
            RandomAccessFile in(f.Source, RandomAccessFile::Mode::Read);
            got = in.ReadAt(1, data.data(), data.size());
        } catch (const std::exception& e) {
            slot.Message = f.Source + ": cannot be read: " + e.what();
            return;
        }
        if (got != data.size()) {
            slot.Message = f.Source + ": changed while it was read";
            return;
        }
        std::vector<unsigned char> packed;
        int32_t code = detail::DeflateWhole(data.data(), data.size(), level, packed);
        data.swap(packed);
        if (code != 0) {
            slot.Message =
                f.Source + ": could not be compressed (zlib code " + std::to_string(code) + ")";
            return;
        }
        slot.Block.reserve(4 + data.size());
        format::AppendLong(slot.Block, static_cast<int32_t>(length));
        slot.Block.append(data.begin(), data.end());
        block = static_cast<int64_t>(slot.Block.size());
    } else {
        int32_t code = detail::CompressFileAt(f.Source, work, level, threads);
        if (code != 0 || !FileExists(work)) {
            DeleteFileQuiet(work);
            slot.Message = f.Source + ": could not be compressed (read error or zlib code " +
                           std::to_string(code) + ")";
            return;
        }
        block = FileLength(work);
        slot.Work = work;
    }
    slot.Entry.FileName(f.FileName);
    slot.Entry.FilePath(f.FilePath);
    slot.Entry.FileCompressedSize(static_cast<int32_t>(std::min(block, kMaxArchive)));
    slot.Entry.FileDate(FormatFileDate(found));
    slot.Entry.FileSize(static_cast<int32_t>(length));
    slot.Ok = block < kMaxArchive;
    if (!slot.Ok) {
        DeleteFileQuiet(slot.Work);
        slot.Message = f.Source + ": its compressed form is 2 GiB or larger";
    }
}

// Appends several blocks in one step, through the same checks as a single append; their
// records join the directory the change writes when it ends.
void AppendGroup(Archives& arc, const std::vector<Slot*>& slots) {
    std::vector<detail::NewBlock> blocks;
    for (Slot* slot : slots)
        blocks.push_back({slot->Entry, slot->Work, slot->Work.empty() ? &slot->Block : nullptr});
    detail::ArchivesAccess::AppendBlocks(arc, blocks);
    for (size_t n = 0; n < slots.size(); ++n)
        slots[n]->Entry = blocks[n].Entry;
}

// The whole call as one change of the archive: locked throughout, and undone by the journal
// written at its start unless every append was flushed. Entries reported added before a
// failed end are reported not added after all.
struct OneChange {
    Archives& arc;
    std::vector<sgFileInfo> before = arc.ArchiveFiles;
    bool open = false;
    ~OneChange() {
        if (open)
            detail::ArchivesAccess::AbandonAppends(arc);
    }
    void End(std::vector<BatchResult>& results) {
        if (!open)
            return;
        try {
            detail::ArchivesAccess::CommitAppends(arc);
            open = false;
            return;
        } catch (const std::exception& e) {
            detail::ArchivesAccess::AbandonAppends(arc);
            open = false;
            detail::ArchivesAccess::Files(arc) = before;
            for (BatchResult& r : results)
                if (r.Added) {
                    r.Added = false;
                    r.ArchiveFailed = true;
                    r.Bytes = 0;
                    r.Message = Describe(r.File) + ": could not be added to " + arc.CurrentArchive +
                                ": " + e.what();
                }
        }
    }
};

} // namespace

unsigned DefaultJobs() {
    return std::max(1u, std::thread::hardware_concurrency());
}

std::vector<BatchResult> AddFilesToArchive(Archives& arc, const std::vector<BatchFile>& files,
                                           const BatchOptions& options,
                                           const BatchProgress& progress) {
    std::vector<BatchResult> results(files.size());
    for (size_t i = 0; i < files.size(); ++i)
        results[i].File = files[i];
    if (files.empty())
        return results;

    std::unique_ptr<WorkFolder> folder;
    try {
        folder = std::make_unique<WorkFolder>(arc.TempFolder);
    } catch (const std::exception& e) {
        for (size_t i = 0; i < files.size(); ++i) {
            results[i].Message = Describe(files[i]) + ": " + e.what();
            if (progress)
                progress(results[i], i + 1, files.size());
        }
        return results;
    }

    OneChange change{arc};
    try {
        detail::ArchivesAccess::BeginAppends(arc);
        change.open = true;
    } catch (const std::exception& e) {
        for (size_t i = 0; i < files.size(); ++i) {
            results[i].Message = Describe(files[i]) + ": " + e.what();
            if (progress)
                progress(results[i], i + 1, files.size());
        }
        return results;
    }

    // A large member's pieces may use as many threads as the batch, even for one file.
    const unsigned pieceThreads = options.Jobs ? options.Jobs : DefaultJobs();
    const unsigned jobs = static_cast<unsigned>(std::min<size_t>(pieceThreads, files.size()));
    // Bounded look-ahead: compressed blocks wait on disk for their turn, but only so many and
    // only so large. Too short a look-ahead idles a thread behind every large file.
    const size_t window = options.MaxPendingFiles ? options.MaxPendingFiles : 16 * size_t{jobs};
    const int64_t byteLimit = options.MaxPendingBytes;
    // Each file's size is looked up when it is next to be taken (under the lock), so that the
    // threads start at once rather than after a look at every file.
    std::vector<int64_t> sizes(files.size(), -1);
    auto sizeOf = [&](size_t i) {
        if (sizes[i] < 0)
            sizes[i] = std::max<int64_t>(0, FileLength(files[i].Source));
        return sizes[i];
    };
    int64_t pendingBytes = 0;

    std::vector<Slot> slots(files.size());
    std::mutex mutex;
    std::condition_variable changed;
    size_t nextToClaim = 0;
    size_t appended = 0;
    bool stop = false;

    auto worker = [&] {
        for (;;) {
            size_t i;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] {
                    if (stop || nextToClaim >= files.size())
                        return true;
                    if (nextToClaim == appended) // the next to append may always go
                        return true;
                    return nextToClaim < appended + window &&
                           pendingBytes + sizeOf(nextToClaim) <= byteLimit;
                });
                if (stop || nextToClaim >= files.size())
                    return;
                i = nextToClaim++;
                pendingBytes += sizeOf(i);
            }
            Slot slot;
            try {
                Prepare(files[i], folder->File(i), options.InMemoryLimit, options.Level,
                        pieceThreads, slot);
            } catch (const std::exception& e) {
                slot.Ok = false;
                slot.Message = files[i].Source + ": " + e.what();
            }
            {
                std::lock_guard lock(mutex);
                slot.Ready = true;
                slots[i] = std::move(slot);
            }
            changed.notify_all();
        }
    };

    std::vector<std::thread> threads;
    // Whatever happens below (a throwing progress callback included), the threads end.
    struct Joiner {
        std::vector<std::thread>& threads;
        std::mutex& mutex;
        std::condition_variable& changed;
        bool& stop;
        ~Joiner() {
            {
                std::lock_guard lock(mutex);
                stop = true;
            }
            changed.notify_all();
            for (auto& t : threads)
                t.join();
        }
    } joiner{threads, mutex, changed, stop};
    threads.reserve(jobs);
    for (unsigned t = 0; t < jobs; ++t)
        threads.emplace_back(worker);

    std::string date = options.ArchiveDate;
    std::time_t dateMadeAt = -1;
    // The most the archive can come to, kept up as files go in: inside the change its file's
    // length says nothing until the directory is written at the end.
    int64_t projected = std::max<int64_t>(0, FileLength(arc.CurrentArchive));
    auto room = [](const Slot& slot) {
        return int64_t{slot.Entry.FileCompressedSize()} + kMaxRecordBytes;
    };
    for (size_t i = 0; i < files.size();) {
        // Whatever is ready in a row goes in as one group.
        std::vector<Slot> group;
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return slots[i].Ready; });
            for (size_t k = i; k < files.size() && slots[k].Ready && group.size() < kMaxGroup; ++k)
                group.push_back(std::move(slots[k]));
        }
        // The text changes once a second; making it loads the user's locale, which for
        // groups of a few small files cost more than appending them.
        if (options.ArchiveDate.empty()) {
            if (const std::time_t now = std::time(nullptr); now != dateMadeAt) {
                date = FormatArchiveDate();
                dateMadeAt = now;
            }
        }
        std::vector<size_t> ready;
        for (size_t g = 0; g < group.size(); ++g) {
            Slot& slot = group[g];
            BatchResult& result = results[i + g];
            if (!slot.Ok) {
                result.Message = slot.Message;
                continue;
            }
            slot.Entry.FileArchiveDate(date);
            if (projected + room(slot) > kMaxArchive) {
                result.Message = Describe(files[i + g]) + ": the archive would reach 2 GiB";
                DeleteFileQuiet(slot.Work);
                slot.Ok = false;
                continue;
            }
            projected += room(slot);
            ready.push_back(g);
        }
        bool together = false;
        std::vector<Slot*> batch;
        for (size_t g : ready)
            batch.push_back(&group[g]);
        if (batch.size() > 1) {
            try {
                AppendGroup(arc, batch);
                together = true;
            } catch (const std::exception&) {
                // Put back as it was: one at a time tells which file is at fault.
            }
        }
        for (size_t g : ready) {
            Slot& slot = group[g];
            BatchResult& result = results[i + g];
            std::string why;
            if (!together) {
                try {
                    AppendGroup(arc, {&slot});
                } catch (const std::exception& e) {
                    why = e.what();
                }
            }
            if (why.empty()) {
                detail::ArchivesAccess::AddToList(arc, slot.Entry);
                result.Added = true;
                result.Bytes = slot.Entry.FileSize();
            } else {
                result.Message = Describe(files[i + g]) + ": could not be added to " +
                                 arc.CurrentArchive + ": " + why;
                result.ArchiveFailed = true;
                projected -= room(slot);
            }
            DeleteFileQuiet(slot.Work);
        }
        {
            std::lock_guard lock(mutex);
            for (size_t g = 0; g < group.size(); ++g)
                pendingBytes -= sizes[i + g];
            appended = i + group.size();
        }
        changed.notify_all();
        for (size_t g = 0; g < group.size(); ++g)
            if (progress)
                progress(results[i + g], i + g + 1, files.size());
        i += group.size();
    }
    change.End(results);
    return results;
}

} // namespace qvr
