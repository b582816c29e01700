#pragma once
// One program at a time in a folder the programs install into: qvr and QVRInstaller hold this
// lock on a target for a whole install, removal or recovery, so that two of them never move
// the same files at once. Across processes and across threads (each lock is its own holder).

#include "qvr/platform/Result.h"

#include <cstdint>
#include <string>

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

// Which run of the system this is: what was written in it and never flushed may have been
// lost when it ended. Empty where the system cannot tell its runs apart.
std::string BootId();
// Whether file's status (its bytes, times or name) last changed after than's did: a change shows
// even when the file's times were set back. False when either cannot be looked at.
bool ChangedAfter(const std::string& file, const std::string& than);
// The clock ChangedAfterTime reads files' status changes by (nanoseconds since 1970), and
// whether file's status last changed after time on it. 0 and false where BootId is empty.
int64_t StatusClockNow();
bool ChangedAfterTime(const std::string& file, int64_t time);

} // namespace qvr
