#include "qvr/BatchAdd.h"

#include "platform.h"
#include "qvr/Encoding.h"
#include "qvr/FileUtils.h"
#include "qvr/PathRules.h"
#include "qvr/modCompression.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
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

constexpr int64_t kMaxArchiveBytes = std::numeric_limits<int32_t>::max();
// A record holds two numbers and five texts of at most 254 bytes each.
constexpr int64_t kMaxRecordBytes = 8 + 5 * 255;

std::string Describe(const BatchFile& f) {
    return f.FilePath.empty() ? f.FileName : f.FilePath + "\\" + f.FileName;
}

// A folder of our own in the temporary folder, so work files never meet anyone's files.
class WorkFolder {
public:
    explicit WorkFolder(const std::string& tempFolder) {
        fs::path base =
            tempFolder.empty() ? fs::temp_directory_path() : platform::ToNative(tempFolder);
        std::random_device rd;
        for (int attempt = 0; attempt < 100; ++attempt) {
            fs::path candidate = base / ("qvr-batch-" + std::to_string(platform::ProcessId()) +
                                         "-" + std::to_string(rd() % 1000000));
            std::error_code ec;
            if (fs::create_directory(candidate, ec) && !ec) {
                m_path = candidate;
                return;
            }
        }
        throw std::runtime_error("cannot create a work folder in " + platform::FromNative(base));
    }
    ~WorkFolder() {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
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
    std::string Work;
    sgFileInfo Entry;
    std::string Message;
};

// Everything AddFileToArchive does before the append: checks, dates, sizes, the block.
void Prepare(const BatchFile& f, const std::string& work, Slot& slot) {
    std::string why;
    if (f.FileName.empty() || f.FileName.find_first_of("\\/") != std::string::npos ||
        !IsSafeEntryPath(f.FilePath, f.FileName, &why)) {
        slot.Message = Describe(f) + ": not a valid entry name" + (why.empty() ? "" : ": " + why);
        return;
    }
    for (const std::string* text : {&f.FileName, &f.FilePath}) {
        auto stored = Utf8ToCp1252(*text);
        if (!stored) {
            slot.Message = Describe(f) + ": the name has characters an archive cannot hold";
            return;
        }
        if (stored->size() > 254) {
            slot.Message = Describe(f) + ": the name is longer than 254 bytes";
            return;
        }
    }
    std::error_code ec;
    if (!fs::is_regular_file(platform::ToNative(f.Source), ec)) {
        slot.Message = f.Source + ": not a readable file";
        return;
    }
    int64_t length = FileLength(f.Source);
    if (length < 0) {
        slot.Message = f.Source + ": cannot be read";
        return;
    }
    if (length == 0) {
        slot.Message = f.Source + ": is empty; files of 0 bytes cannot be packed";
        return;
    }
    if (length >= kMaxArchiveBytes) {
        slot.Message = f.Source + ": is 2 GiB or larger; the archive cannot hold it";
        return;
    }
    FindData found = GetFindData(f.Source);
    int32_t code = CompressFile(f.Source, work, 9);
    if (code != 0 || !FileExists(work)) {
        DeleteFileQuiet(work);
        slot.Message = f.Source + ": could not be compressed (read error or zlib code " +
                       std::to_string(code) + ")";
        return;
    }
    int64_t block = FileLength(work);
    slot.Entry.FileName(f.FileName);
    slot.Entry.FilePath(f.FilePath);
    slot.Entry.FileCompressedSize(static_cast<int32_t>(std::min(block, kMaxArchiveBytes)));
    slot.Entry.FileDate(FormatFileDate(found));
    slot.Entry.FileSize(static_cast<int32_t>(length));
    slot.Work = work;
    slot.Ok = block < kMaxArchiveBytes;
    if (!slot.Ok) {
        DeleteFileQuiet(work);
        slot.Message = f.Source + ": its compressed form is 2 GiB or larger";
    }
}

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

    const unsigned jobs = static_cast<unsigned>(
        std::min<size_t>(options.Jobs ? options.Jobs : DefaultJobs(), files.size()));
    // Bounded look-ahead: compressed blocks wait on disk for their turn, but only so many and
    // only so large. Too short a look-ahead idles a thread behind every large file.
    const size_t window = options.MaxPendingFiles ? options.MaxPendingFiles : 16 * size_t{jobs};
    const int64_t byteLimit = options.MaxPendingBytes;
    std::vector<int64_t> sizes(files.size());
    for (size_t i = 0; i < files.size(); ++i)
        sizes[i] = std::max<int64_t>(0, FileLength(files[i].Source));
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
                           pendingBytes + sizes[nextToClaim] <= byteLimit;
                });
                if (stop || nextToClaim >= files.size())
                    return;
                i = nextToClaim++;
                pendingBytes += sizes[i];
            }
            Slot slot;
            try {
                Prepare(files[i], folder->File(i), slot);
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

    for (size_t i = 0; i < files.size(); ++i) {
        Slot slot;
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return slots[i].Ready; });
            slot = std::move(slots[i]);
        }
        BatchResult& result = results[i];
        if (slot.Ok) {
            slot.Entry.FileArchiveDate(options.ArchiveDate.empty() ? FormatArchiveDate()
                                                                   : options.ArchiveDate);
            int64_t now = FileLength(arc.CurrentArchive);
            if (now >= 0 &&
                now + slot.Entry.FileCompressedSize() + kMaxRecordBytes > kMaxArchiveBytes) {
                result.Message = Describe(files[i]) + ": the archive would reach 2 GiB";
            } else if (arc.AppendEntryData(slot.Entry, slot.Work)) {
                arc.ArchiveFiles.push_back(slot.Entry);
                result.Added = true;
            } else {
                result.Message = Describe(files[i]) + ": could not be added to " +
                                 arc.CurrentArchive +
                                 (arc.LastError.empty() ? std::string() : ": " + arc.LastError);
            }
            DeleteFileQuiet(slot.Work);
        } else {
            result.Message = slot.Message;
        }
        {
            std::lock_guard lock(mutex);
            appended = i + 1;
            pendingBytes -= sizes[i];
        }
        changed.notify_all();
        if (progress)
            progress(result, i + 1, files.size());
    }
    return results;
}

} // namespace qvr
