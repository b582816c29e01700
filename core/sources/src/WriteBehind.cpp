#include "qvr/sources/detail/WriteBehind.h"

#include "qvr/platform/FileUtils.h"
#include "qvr/sources/detail/Members.h"

#include <exception>
#include <utility>

namespace qvr::sources::detail {

WriteBehind::WriteBehind(size_t maxBytes)
    : m_maxBytes(maxBytes), m_behind(&WriteBehind::Write, [this](Item& item) {
          m_queued -= item.Bytes.size();
          item.Bytes = {};
          m_written.push_back(std::move(item));
      }) {}

WriteBehind::~WriteBehind() {
    m_behind.Stop();
    for (const Item& w : m_written)
        if (w.D.Outcome)
            DeleteFileQuiet(w.Destination);
}

void WriteBehind::Put(size_t k, const Job& job, std::string name, std::string bytes) {
    std::unique_lock lock = m_behind.Lock();
    // One member larger than the bound still goes, alone.
    m_behind.Wait(lock, [&] { return m_queued == 0 || m_queued + bytes.size() <= m_maxBytes; });
    m_queued += bytes.size();
    m_behind.Put(lock, {k, job.Destination, job.Modified, std::move(name), std::move(bytes),
                        Done{k, {}, 0, 0}});
}

std::vector<Done> WriteBehind::Take() {
    std::vector<Item> written;
    {
        std::unique_lock lock = m_behind.Lock();
        written.swap(m_written);
    }
    std::vector<Done> out;
    out.reserve(written.size());
    for (Item& w : written)
        out.push_back(std::move(w.D));
    return out;
}

std::vector<Done> WriteBehind::Drain() {
    {
        std::unique_lock lock = m_behind.Lock();
        m_behind.Wait(lock, [&] { return m_behind.Idle(); });
    }
    return Take();
}

void WriteBehind::Write(Item& item) {
    try {
        NewFile out(item.Destination);
        out.Write(item.Bytes.data(), item.Bytes.size());
        out.Keep(item.Modified);
        item.D.Crc = out.Crc();
        item.D.Size = out.Size();
    } catch (const std::exception& x) {
        item.D.Outcome = Result::EntryFailure(item.Name + ": " + x.what());
    }
}

// Three buffers: one being decoded into, one being written, one waiting.
PiecesBehind::PiecesBehind(NewFile& out, size_t pieceSize)
    : m_out(out), m_buffers(3, std::vector<char>(pieceSize)), m_free{0, 1, 2},
      m_behind([this](Piece& piece) { Write(piece); },
               [this](Piece& piece) {
                   m_free.push_back(piece.Buffer);
                   if (piece.Failed && !m_failed)
                       m_failed = piece.Failed;
               }) {}

char* PiecesBehind::Next() {
    std::unique_lock lock = m_behind.Lock();
    m_behind.Wait(lock, [&] { return !m_free.empty() || m_failed; });
    if (m_failed)
        std::rethrow_exception(m_failed);
    m_current = m_free.front();
    m_free.pop_front();
    return m_buffers[m_current].data();
}

void PiecesBehind::Put(size_t n) {
    std::unique_lock lock = m_behind.Lock();
    m_behind.Put(lock, {m_current, n, {}});
}

void PiecesBehind::Finish() {
    std::unique_lock lock = m_behind.Lock();
    m_behind.Wait(lock, [&] { return m_behind.Idle() || m_failed; });
    if (m_failed)
        std::rethrow_exception(m_failed);
}

void PiecesBehind::Write(Piece& piece) {
    if (!m_writing)
        return;
    try {
        m_out.Write(m_buffers[piece.Buffer].data(), piece.Bytes);
    } catch (...) {
        piece.Failed = std::current_exception();
        m_writing = false;
    }
}

} // namespace qvr::sources::detail
