#pragma once
// One program at a time in a folder the programs install into: qvr and QVRInstaller hold this
// lock on a target for a whole install, removal or recovery, so that two of them never move
// the same files at once. Across processes and across threads (each lock is its own holder).

#include "qvr/platform/Result.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace qvr {

class FolderLock {
public:
    FolderLock() = default;
    ~FolderLock() { Release(); }
    FolderLock(FolderLock&& other) noexcept;
    FolderLock& operator=(FolderLock&& other) noexcept;
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Locks folder (which must exist), waiting a few seconds for another holder; answers why
    // it could not be taken ("… is in use by another program").
    [[nodiscard]] Result Take(const std::string& folder);
    void Release();
    bool Held() const { return m_handle != kNone; }

private:
    static constexpr intptr_t kNone = -1;
    intptr_t m_handle = kNone;
};

// Puts everything written so far to the file system holding folder on the disk: on Linux one
// syncfs, far cheaper than flushing each file; where the system has no such call, each file
// is flushed as it is written (FlushesEachFile) and this flushes nothing.
void SyncFileSystem(const std::string& folder);
bool FlushesEachFile();

// While it lives, a thread of its own flushes the file system holding folder every few tenths
// of a second, so that the SyncFileSystem that ends a long run of writes finds little left to
// wait for. Only ever early: nothing relies on these flushes, and none fails anything.
class BackgroundFlush {
public:
    explicit BackgroundFlush(const std::string& folder);
    ~BackgroundFlush();
    BackgroundFlush(const BackgroundFlush&) = delete;
    BackgroundFlush& operator=(const BackgroundFlush&) = delete;

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace qvr
