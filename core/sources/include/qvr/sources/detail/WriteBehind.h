#pragma once
// Members' files made on a thread of their own while the caller decodes the next members:
// decoding a solid archive holds one core, and making thousands of small files would hold it
// about half as long again.

#include "qvr/sources/Source.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
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

class NewFile;

// One large member's pieces written into its file on a thread of their own while the caller
// decodes the next: decoding holds one core, and writing and summing hundreds of megabytes
// would hold it a tenth as long again.
class PiecesBehind {
public:
    PiecesBehind(NewFile& out, size_t pieceSize);
    // Stops, dropping pieces not yet written (the caller then throws the file away).
    ~PiecesBehind();
    PiecesBehind(const PiecesBehind&) = delete;
    PiecesBehind& operator=(const PiecesBehind&) = delete;

    // A buffer of pieceSize bytes to decode the next piece into; waits while all are queued.
    char* Next();
    // The first n bytes of the buffer Next gave are the next piece.
    void Put(size_t n);
    // Waits until every piece is written; throws what a write threw.
    void Finish();

private:
    void Run();

    NewFile& m_out;
    std::vector<std::vector<char>> m_buffers;
    std::deque<size_t> m_free;
    std::deque<std::pair<size_t, size_t>> m_queue; // buffer, bytes
    size_t m_current = 0;
    bool m_busy = false, m_stop = false;
    std::exception_ptr m_failed;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::thread m_thread;
};

} // namespace qvr::sources::detail
