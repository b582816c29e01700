#pragma once
// A file read and written at 1-based positions, closed when the object goes.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace qvr {

class RandomAccessFile {
public:
    enum class Mode {
        Read,
        ReadWrite,
        CreateReadWrite, // created or truncated
        CreateNew,       // created; fails when the file exists already
    };
    // path is UTF-8; throws ArchiveError naming the file when it cannot be opened.
    RandomAccessFile(const std::string& path, Mode mode);
    ~RandomAccessFile();
    RandomAccessFile(const RandomAccessFile&) = delete;
    RandomAccessFile& operator=(const RandomAccessFile&) = delete;

    int64_t Length() const;
    // Reads up to n bytes at 1-based position pos; answers how many were read (short at the end).
    size_t ReadAt(int64_t pos, void* buf, size_t n);
    // Writes all n bytes at 1-based position pos; throws ArchiveError on failure.
    void WriteAt(int64_t pos, const void* buf, size_t n);
    void Truncate(int64_t length);
    void Sync();
    // Gives the file this modification time (seconds since 1970, UTC) through the open handle,
    // without a second look-up of its name; best effort, like the time a copy keeps.
    void SetModified(int64_t seconds);
    void Close();

    enum class Lock { Shared, Exclusive };
    // An advisory lock held while the file stays open: shared for reading, exclusive for a
    // change. Waits a few seconds for another program's lock, then throws ArchiveError saying
    // the file is in use. When the path was replaced by another file meanwhile, that file is
    // opened and locked instead, so the lock always covers what the path names.
    void TakeLock(Lock kind);
    const std::string& Path() const { return m_path; }
    // The open file was renamed to path (in messages and when a lock is taken again).
    void Renamed(const std::string& path) { m_path = path; }

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    std::string m_path;
};

} // namespace qvr
