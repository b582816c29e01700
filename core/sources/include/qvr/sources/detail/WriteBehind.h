#pragma once
// Members' files made on a thread of their own while the caller decodes the next members:
// decoding a solid archive holds one core, and making thousands of small files would hold it
// about half as long again.

#include "qvr/sources/Source.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qvr::sources::detail {

class WriteBehind {
public:
    // At most maxBytes of members wait to be written; Put waits beyond that.
    explicit WriteBehind(size_t maxBytes);
    // Stops; files written but never taken are deleted, as not done.
    ~WriteBehind();
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // Job k: a member's whole bytes into a new file at the job's destination, with its time
    // (name: the member's, for messages).
    void Put(size_t k, const Job& job, std::string name, std::string bytes);
    // The jobs written since the last call, in the order put.
    std::vector<Done> Take();
    // Waits for every job put, and answers those not yet taken, in order.
    std::vector<Done> Drain();

private:
    struct Item {
        size_t Job;
        std::string Destination;
        std::optional<int64_t> Modified;
        std::string Name, Bytes;
    };
    struct Written {
        Done D;
        std::string Destination;
    };
    void Run();
    static Written Write(const Item& item);

    const size_t m_maxBytes;
    std::deque<Item> m_queue;
    size_t m_queued = 0; // bytes in m_queue and in the item being written
    bool m_busy = false, m_stop = false;
    std::vector<Written> m_written;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::thread m_thread;
};

} // namespace qvr::sources::detail
