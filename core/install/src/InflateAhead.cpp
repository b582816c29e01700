#include "qvr/install/detail/InflateAhead.h"

#include "qvr/format/detail/Format.h"
#include "qvr/package/detail/Internal.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/detail/platform.h"

#include <algorithm>
#include <filesystem>

namespace qvr::detail {

InflateAhead::InflateAhead(std::shared_ptr<RandomAccessFile> file, int64_t dataEnd,
                           std::vector<Job> jobs, unsigned threads)
    : m_file(std::move(file)), m_dataEnd(dataEnd), m_jobs(std::move(jobs)),
      m_pool(
          m_jobs.size(), threads, {.Window = 2 * size_t{std::max(threads, 1u)} + 2},
          [this](size_t k) { return Run(m_jobs[k]); },
          [](Done& d) {
              if (!d.WorkFile.empty())
                  DeleteFileQuiet(d.WorkFile);
          }) {}

InflateAhead::~InflateAhead() = default;

unsigned InflateAhead::DefaultThreads() {
    return std::clamp(std::thread::hardware_concurrency(), 1u, 3u);
}

InflateAhead::Done InflateAhead::Run(const Job& job) {
    Done done;
    try {
        if (!format::BlockInside(job.Offset, job.Length, m_dataEnd))
            throw ArchiveError("The stored data of " + job.Name + " lies outside " +
                               m_file->Path());
        // The work file goes beside the destination, so its folder must be there. Each folder
        // is made once per install, under the lock, so no other job writes into it before.
        const std::filesystem::path folder = platform::ToNative(job.Destination).parent_path();
        {
            std::lock_guard<std::mutex> lock(m_foldersMutex);
            if (m_folders.insert(folder.native()).second) {
                std::error_code ec;
                std::filesystem::create_directories(folder, ec);
            }
        }
        done.WorkFile = InflateBlockBeside(*m_file, job.Offset, job.Length, job.Size,
                                           job.Destination, &done.Crc);
    } catch (const std::exception& e) {
        done.WorkFile.clear();
        done.Error = std::string(e.what()) + " (" + job.Name + ")";
    }
    return done;
}

} // namespace qvr::detail
