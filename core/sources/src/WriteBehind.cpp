#include "qvr/sources/detail/WriteBehind.h"

#include "qvr/platform/FileUtils.h"
#include "qvr/sources/detail/Members.h"

#include <exception>
#include <utility>

namespace qvr::sources::detail {

WriteBehind::WriteBehind(size_t maxBytes) : m_maxBytes(maxBytes), m_thread([this] { Run(); }) {}

WriteBehind::~WriteBehind() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
    for (const Written& w : m_written)
        if (w.D.Outcome)
            DeleteFileQuiet(w.Destination);
}

void WriteBehind::Put(size_t k, const Job& job, std::string name, std::string bytes) {
    std::unique_lock lock(m_mutex);
    // One member larger than the bound still goes, alone.
    m_changed.wait(lock, [&] { return m_queued == 0 || m_queued + bytes.size() <= m_maxBytes; });
    m_queued += bytes.size();
    m_queue.push_back({k, job.Destination, job.Modified, std::move(name), std::move(bytes)});
    lock.unlock();
    m_changed.notify_all();
}

std::vector<Done> WriteBehind::Take() {
    std::vector<Written> written;
    {
        std::lock_guard lock(m_mutex);
        written.swap(m_written);
    }
    std::vector<Done> out;
    out.reserve(written.size());
    for (Written& w : written)
        out.push_back(std::move(w.D));
    return out;
}

std::vector<Done> WriteBehind::Drain() {
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_queue.empty() && !m_busy; });
    }
    return Take();
}

WriteBehind::Written WriteBehind::Write(const Item& item) {
    Written w{Done{item.Job, {}, 0, 0}, item.Destination};
    try {
        NewFile out(item.Destination);
        out.Write(item.Bytes.data(), item.Bytes.size());
        out.Keep(item.Modified);
        w.D.Crc = out.Crc();
        w.D.Size = out.Size();
    } catch (const std::exception& x) {
        w.D.Outcome = Result::EntryFailure(item.Name + ": " + x.what());
    }
    return w;
}

void WriteBehind::Run() {
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
        Written w = Write(item);
        {
            std::lock_guard lock(m_mutex);
            m_written.push_back(std::move(w));
            m_queued -= item.Bytes.size();
            m_busy = false;
        }
        m_changed.notify_all();
    }
}

// Three buffers: one being decoded into, one being written, one waiting.
PiecesBehind::PiecesBehind(NewFile& out, size_t pieceSize)
    : m_out(out), m_buffers(3, std::vector<char>(pieceSize)), m_free{0, 1, 2},
      m_thread([this] { Run(); }) {}

PiecesBehind::~PiecesBehind() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

char* PiecesBehind::Next() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return !m_free.empty() || m_failed; });
    if (m_failed)
        std::rethrow_exception(m_failed);
    m_current = m_free.front();
    m_free.pop_front();
    return m_buffers[m_current].data();
}

void PiecesBehind::Put(size_t n) {
    {
        std::lock_guard lock(m_mutex);
        m_queue.emplace_back(m_current, n);
    }
    m_changed.notify_all();
}

void PiecesBehind::Finish() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return (m_queue.empty() && !m_busy) || m_failed; });
    if (m_failed)
        std::rethrow_exception(m_failed);
}

void PiecesBehind::Run() {
    for (;;) {
        std::pair<size_t, size_t> piece;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return m_stop || (!m_queue.empty() && !m_failed); });
            if (m_stop)
                return;
            piece = m_queue.front();
            m_queue.pop_front();
            m_busy = true;
        }
        std::exception_ptr failed;
        try {
            m_out.Write(m_buffers[piece.first].data(), piece.second);
        } catch (...) {
            failed = std::current_exception();
        }
        {
            std::lock_guard lock(m_mutex);
            m_free.push_back(piece.first);
            m_busy = false;
            if (failed)
                m_failed = failed;
        }
        m_changed.notify_all();
    }
}

} // namespace qvr::sources::detail
