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
    : m_file(std::move(file)), m_dataEnd(dataEnd), m_jobs(std::move(jobs)), m_done(m_jobs.size()),
      m_window(2 * std::max(threads, 1u) + 2) {
    if (threads < 2)
        return;
    threads = static_cast<unsigned>(std::min<size_t>(threads, m_jobs.size()));
    for (unsigned t = 0; t < threads; ++t)
        m_threads.emplace_back([this] { Work(); });
}

InflateAhead::~InflateAhead() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    for (std::thread& t : m_threads)
        t.join();
    for (size_t k = m_taken; k < m_done.size(); ++k)
        if (m_done[k] && !m_done[k]->WorkFile.empty())
            DeleteFileQuiet(m_done[k]->WorkFile);
}

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

void InflateAhead::Work() {
    for (;;) {
        size_t k;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [&] {
                return m_stop || m_next >= m_jobs.size() || m_next < m_taken + m_window;
            });
            if (m_stop || m_next >= m_jobs.size())
                return;
            k = m_next++;
        }
        Done done = Run(m_jobs[k]);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done[k] = std::move(done);
        }
        m_changed.notify_all();
    }
}

InflateAhead::Done InflateAhead::Take(size_t k) {
    if (m_threads.empty()) {
        m_taken = k + 1;
        return Run(m_jobs[k]);
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] { return m_done[k].has_value(); });
    Done done = std::move(*m_done[k]);
    m_done[k].reset();
    m_taken = k + 1;
    lock.unlock();
    m_changed.notify_all();
    return done;
}

} // namespace qvr::detail
