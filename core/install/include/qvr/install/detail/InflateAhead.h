#pragma once
// Inflates the members an install will write on worker threads, each into a work file beside
// its destination, while the caller puts the finished ones in place one by one, in order.

#include "qvr/platform/OrderedPool.h"
#include "qvr/platform/detail/RandomAccessFile.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

namespace qvr::detail {

class InflateAhead {
public:
    struct Job {
        int64_t Offset = 0;
        int64_t Length = 0;
        int32_t Size = 0;
        std::string Destination;
        std::string Name; // the entry's name, for messages
    };
    struct Done {
        std::string WorkFile; // "" when Error is set
        uint32_t Crc = 0;
        std::string Error;
    };

    // threads 0 or 1: each job is done when it is taken, on the caller's thread.
    InflateAhead(std::shared_ptr<RandomAccessFile> file, int64_t dataEnd, std::vector<Job> jobs,
                 unsigned threads);
    ~InflateAhead(); // work files not taken are deleted
    InflateAhead(const InflateAhead&) = delete;
    InflateAhead& operator=(const InflateAhead&) = delete;

    // Job k's outcome, waiting for it; jobs are taken in order, each once.
    Done Take(size_t k) { return m_pool.Take(k); }

    // As many workers as the machine has cores, at most 3: each holds a whole member's buffers,
    // and an install stays within 64 MB.
    static unsigned DefaultThreads();

private:
    Done Run(const Job& job);

    std::shared_ptr<RandomAccessFile> m_file;
    int64_t m_dataEnd;
    std::vector<Job> m_jobs;
    std::mutex m_foldersMutex;
    std::unordered_set<std::filesystem::path::string_type> m_folders; // made or found already
    OrderedPool<Done> m_pool; // last: its threads go before what they use
};

} // namespace qvr::detail
