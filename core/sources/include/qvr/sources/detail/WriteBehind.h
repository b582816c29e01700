#pragma once
// Members' files made on a thread of their own while the caller decodes the next members:
// decoding a solid archive holds one core, and making thousands of small files would hold it
// about half as long again.

#include "qvr/sources/Source.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qvr::sources::detail {

// One thread of its own that handles queued items in the order put, while the owner goes on.
// The owner's state that both sides touch lives under Lock(); every change to it is followed by
// a wake-up, so waits re-check their condition.
template <class Item> class Behind {
public:
    // handle runs on the thread, outside the lock; settle runs under it after each item.
    template <class Handle, class Settle>
    Behind(Handle handle, Settle settle)
        : m_handle(std::move(handle)), m_settle(std::move(settle)), m_thread([this] { Run(); }) {}
    ~Behind() { Stop(); }
    // Waits for the item under way; items not begun are dropped.
    void Stop() {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }
    Behind(const Behind&) = delete;
    Behind& operator=(const Behind&) = delete;

    std::unique_lock<std::mutex> Lock() { return std::unique_lock(m_mutex); }
    // Waits, under lock, until ready() holds (re-checked after each item).
    template <class Ready> void Wait(std::unique_lock<std::mutex>& lock, Ready ready) {
        m_changed.wait(lock, ready);
    }
    // Every item put is handled and settled.
    bool Idle() const { return m_queue.empty() && !m_busy; }
    // Queues item and lets go of the lock, so the thread can take it at once.
    void Put(std::unique_lock<std::mutex>& lock, Item item) {
        m_queue.push_back(std::move(item));
        lock.unlock();
        m_changed.notify_all();
    }

private:
    void Run() {
        for (;;) {
            Item item;
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [&] { return m_stop || !m_queue.empty(); });
                if (m_stop)
                    return;
                item = std::move(m_queue.front());
                m_queue.pop_front();
                m_busy = true;
            }
            m_handle(item);
            {
                std::lock_guard lock(m_mutex);
                m_settle(item);
                m_busy = false;
            }
            m_changed.notify_all();
        }
    }

    std::function<void(Item&)> m_handle, m_settle;
    std::deque<Item> m_queue;
    bool m_busy = false, m_stop = false;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::thread m_thread; // last: it starts once the rest is made
};

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
        size_t Job = 0;
        std::string Destination;
        std::optional<int64_t> Modified;
        std::string Name, Bytes;
        Done D;
    };
    static void Write(Item& item);

    const size_t m_maxBytes;
    size_t m_queued = 0; // bytes put and not yet written
    std::vector<Item> m_written;
    Behind<Item> m_behind; // last: its thread settles into the members above
};

class NewFile;

// One large member's pieces written into its file on a thread of their own while the caller
// decodes the next: decoding holds one core, and writing and summing hundreds of megabytes
// would hold it a tenth as long again.
class PiecesBehind {
public:
    PiecesBehind(NewFile& out, size_t pieceSize);
    // Stops, dropping pieces not yet written (the caller then throws the file away).
    ~PiecesBehind() = default;
    PiecesBehind(const PiecesBehind&) = delete;
    PiecesBehind& operator=(const PiecesBehind&) = delete;

    // A buffer of pieceSize bytes to decode the next piece into; waits while all are queued.
    char* Next();
    // The first n bytes of the buffer Next gave are the next piece.
    void Put(size_t n);
    // Waits until every piece is written; throws what a write threw.
    void Finish();

private:
    struct Piece {
        size_t Buffer = 0, Bytes = 0;
        std::exception_ptr Failed;
    };
    void Write(Piece& piece);

    NewFile& m_out;
    std::vector<std::vector<char>> m_buffers;
    std::deque<size_t> m_free;
    size_t m_current = 0;
    bool m_writing = true; // the thread's own: no write after a failed one
    std::exception_ptr m_failed;
    Behind<Piece> m_behind;
};

} // namespace qvr::sources::detail
