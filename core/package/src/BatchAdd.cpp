#include "qvr/package/BatchAdd.h"

#include "qvr/format/PathRules.h"
#include "qvr/format/detail/Format.h"
#include "qvr/format/detail/WholeMember.h"
#include "qvr/format/detail/modCompression.h"
#include "qvr/package/detail/Internal.h"
#include "qvr/platform/Encoding.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/OrderedPool.h"
#include "qvr/platform/WorkFiles.h"
#include "qvr/platform/detail/ArchiveError.h"
#include "qvr/platform/detail/RandomAccessFile.h"
#include "qvr/platform/detail/WorkRegistry.h"
#include "qvr/platform/detail/platform.h"

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <limits>
#include <memory>
#include <random>
#include <thread>

namespace fs = std::filesystem;

namespace qvr {
namespace {

using format::kMaxArchive;
using format::kMaxRecordBytes;

std::string Describe(const BatchFile& f) {
    return ShownEntryPath(f.FilePath, f.FileName);
}

// A folder of our own in the temporary folder, so work files never meet anyone's files.
class WorkFolder {
public:
    explicit WorkFolder(const std::string& tempFolder) {
        std::string made;
        ThrowOnFailure(MakeWorkFolder(tempFolder, "batch", made));
        m_path = platform::ToNative(made);
    }
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
    const Result safe = IsSafeEntryPath(f.FilePath, f.FileName);
    if (f.FileName.empty() || f.FileName.find_first_of("\\/") != std::string::npos || !safe) {
        slot.Message = f.Source + ": cannot be packed as " + Describe(f) +
                       (safe.Message.empty() ? std::string() : ": " + safe.Message);
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
    const std::optional<int64_t> measured = FileLength(f.Source);
    if (!measured) {
        slot.Message = f.Source + ": not a readable file";
        return;
    }
    const int64_t length = *measured;
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
        const std::optional<int64_t> packed = FileLength(work);
        if (!packed) {
            DeleteFileQuiet(work);
            slot.Message = f.Source + ": its compressed form cannot be read back";
            return;
        }
        block = *packed;
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
void AppendBlocks(Archives& arc, const std::vector<Slot*>& slots) {
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

// One call of AddFilesToArchive: the files are compressed on the pool's threads, a bounded
// way ahead, while this thread appends whatever is ready in a row as one group.
class Batch {
public:
    Batch(Archives& arc, const std::vector<BatchFile>& files, const BatchOptions& options,
          const BatchProgress& progress)
        : m_arc(arc), m_files(files), m_options(options), m_progress(progress),
          m_results(files.size()) {
        for (size_t i = 0; i < files.size(); ++i)
            m_results[i].File = files[i];
    }

    std::vector<BatchResult> Run() {
        if (m_files.empty() || !Begin())
            return std::move(m_results);
        // A large member's pieces may use as many threads as the batch, even for one file.
        const unsigned pieceThreads = m_options.Jobs ? m_options.Jobs : DefaultJobs();
        // Ends its threads, and deletes the blocks never taken, before the change and the
        // work folder go, whatever happens below (a throwing progress callback included).
        OrderedPool<Slot> pool(
            m_files.size(), pieceThreads, Limits(pieceThreads),
            [&](size_t i) { return Prepared(i, pieceThreads); },
            [](Slot& slot) { DeleteFileQuiet(slot.Work); });
        m_projected = FileLength(m_arc.CurrentArchive).value_or(0);
        for (size_t i = 0; i < m_files.size();) {
            // File i and whatever is ready behind it in a row.
            std::vector<Slot> group = pool.TakeRun(i, kMaxGroup);
            AppendGroup(group, i);
            pool.Release(i + group.size());
            for (size_t g = 0; g < group.size(); ++g)
                if (m_progress)
                    m_progress(m_results[i + g], i + g + 1, m_files.size());
            i += group.size();
        }
        m_change.End(m_results);
        return std::move(m_results);
    }

private:
    // Blocks appended in one step at most.
    static constexpr size_t kMaxGroup = 256;

    // The work folder and the change; when either cannot be had, every file fails with why.
    bool Begin() {
        try {
            m_folder = std::make_unique<WorkFolder>(m_arc.TempFolder);
            detail::ArchivesAccess::BeginAppends(m_arc);
            m_change.open = true;
            return true;
        } catch (const std::exception& e) {
            for (size_t i = 0; i < m_files.size(); ++i) {
                m_results[i].Message = Describe(m_files[i]) + ": " + e.what();
                if (m_progress)
                    m_progress(m_results[i], i + 1, m_files.size());
            }
            return false;
        }
    }

    // Bounded look-ahead: compressed blocks wait for their turn, but only so many and only so
    // large, counted until they are appended. Too short a look-ahead idles a thread behind
    // every large file. Each file's size is looked up when it is next to start, so that the
    // threads start at once rather than after a look at every file.
    OrderedPool<Slot>::Limits Limits(unsigned pieceThreads) const {
        const unsigned jobs = static_cast<unsigned>(std::min<size_t>(pieceThreads, m_files.size()));
        OrderedPool<Slot>::Limits limits;
        limits.Window = m_options.MaxPendingFiles ? m_options.MaxPendingFiles : 16 * size_t{jobs};
        limits.MaxWeight = m_options.MaxPendingBytes;
        limits.Weight = [this](size_t i) { return FileLength(m_files[i].Source).value_or(0); };
        limits.HeldAfterTake = true;
        return limits;
    }

    // Runs on the pool's threads: never throws.
    Slot Prepared(size_t i, unsigned pieceThreads) const {
        Slot slot;
        try {
            Prepare(m_files[i], m_folder->File(i), m_options.InMemoryLimit, m_options.Level,
                    pieceThreads, slot);
        } catch (const std::exception& e) {
            DeleteFileQuiet(slot.Work);
            slot = Slot{};
            slot.Message = m_files[i].Source + ": " + e.what();
        }
        return slot;
    }

    // The text changes once a second; making it loads the user's locale, which for groups
    // of a few small files cost more than appending them.
    const std::string& ArchiveDate() {
        if (m_options.ArchiveDate.empty()) {
            if (const std::time_t now = std::time(nullptr); now != m_dateMadeAt) {
                m_date = FormatArchiveDate();
                m_dateMadeAt = now;
            }
        }
        return m_date;
    }

    static int64_t Room(const Slot& slot) {
        return int64_t{slot.Entry.FileCompressedSize()} + kMaxRecordBytes;
    }

    // Whether the file's block may go in: it was made, and the archive has room for it.
    // The most the archive can come to is kept up as files go in: inside the change its
    // file's length says nothing until the directory is written at the end.
    bool Admit(Slot& slot, size_t i, const std::string& date) {
        if (!slot.Ok) {
            m_results[i].Message = slot.Message;
            return false;
        }
        slot.Entry.FileArchiveDate(date);
        if (m_projected + Room(slot) > kMaxArchive) {
            m_results[i].Message = Describe(m_files[i]) + ": the archive would reach 2 GiB";
            DeleteFileQuiet(slot.Work);
            slot.Ok = false;
            return false;
        }
        m_projected += Room(slot);
        return true;
    }

    // The group's blocks in one append; when that fails, one at a time tells which file is
    // at fault (a failed append puts the archive back as it was).
    void AppendGroup(std::vector<Slot>& group, size_t first) {
        const std::string& date = ArchiveDate();
        std::vector<size_t> ready;
        for (size_t g = 0; g < group.size(); ++g)
            if (Admit(group[g], first + g, date))
                ready.push_back(g);
        bool together = false;
        if (ready.size() > 1) {
            std::vector<Slot*> batch;
            for (size_t g : ready)
                batch.push_back(&group[g]);
            try {
                AppendBlocks(m_arc, batch);
                together = true;
            } catch (const std::exception&) {
            }
        }
        for (size_t g : ready) {
            std::string why;
            if (!together) {
                try {
                    AppendBlocks(m_arc, {&group[g]});
                } catch (const std::exception& e) {
                    why = e.what();
                }
            }
            Settle(group[g], first + g, why);
        }
    }

    // The result of file i, whose block went in unless why says otherwise.
    void Settle(Slot& slot, size_t i, const std::string& why) {
        BatchResult& result = m_results[i];
        if (why.empty()) {
            detail::ArchivesAccess::AddToList(m_arc, slot.Entry);
            result.Added = true;
            result.Bytes = slot.Entry.FileSize();
        } else {
            result.Message = Describe(m_files[i]) + ": could not be added to " +
                             m_arc.CurrentArchive + ": " + why;
            result.ArchiveFailed = true;
            m_projected -= Room(slot);
        }
        DeleteFileQuiet(slot.Work);
    }

    Archives& m_arc;
    const std::vector<BatchFile>& m_files;
    const BatchOptions& m_options;
    const BatchProgress& m_progress;
    std::vector<BatchResult> m_results;
    std::unique_ptr<WorkFolder> m_folder;
    OneChange m_change{m_arc};
    std::string m_date = m_options.ArchiveDate;
    std::time_t m_dateMadeAt = -1;
    int64_t m_projected = 0;
};

} // namespace

unsigned DefaultJobs() {
    return std::max(1u, std::thread::hardware_concurrency());
}

std::vector<BatchResult> AddFilesToArchive(Archives& arc, const std::vector<BatchFile>& files,
                                           const BatchOptions& options,
                                           const BatchProgress& progress) {
    return Batch(arc, files, options, progress).Run();
}

} // namespace qvr
