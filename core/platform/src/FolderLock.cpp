#include "qvr/platform/FolderLock.h"

#include "qvr/platform/detail/ArchiveError.h"
#include "qvr/platform/detail/TestHooks.h"
#include "qvr/platform/detail/platform.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <utility>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qvr {

namespace {

Result InUse(const std::string& folder) {
    return Result::EntryFailure(folder +
                                " is in use by another program (an install or a removal); try "
                                "again when it has finished");
}

#ifdef _WIN32
// A folder handle cannot carry a byte-range lock: a file beside the data carries it, made
// deleted when its last handle closes, so a lock never leaves anything behind. Its name is
// one no package entry may have.
intptr_t OpenLockable(const std::string& folder, std::string& why) {
    const std::filesystem::path file = platform::ToNative(folder) / L".qvr-lock";
    HANDLE h =
        ::CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        why = "error " + std::to_string(::GetLastError());
        return -1;
    }
    return reinterpret_cast<intptr_t>(h);
}

// 1: taken, 0: held by another, -1: failed.
int TryLock(intptr_t handle) {
    OVERLAPPED at{};
    if (::LockFileEx(reinterpret_cast<HANDLE>(handle),
                     LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
        return 1;
    const DWORD code = ::GetLastError();
    return code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING ? 0 : -1;
}

void CloseLockable(intptr_t handle) {
    ::CloseHandle(reinterpret_cast<HANDLE>(handle));
}
#else
intptr_t OpenLockable(const std::string& folder, std::string& why) {
    const int fd = ::open(platform::ToNative(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        why = std::strerror(errno);
    return fd;
}

int TryLock(intptr_t handle) {
    if (::flock(static_cast<int>(handle), LOCK_EX | LOCK_NB) == 0)
        return 1;
    return errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
}

void CloseLockable(intptr_t handle) {
    ::close(static_cast<int>(handle));
}
#endif

} // namespace

FolderLock::FolderLock(FolderLock&& other) noexcept
    : m_handle(std::exchange(other.m_handle, kNone)) {}

FolderLock& FolderLock::operator=(FolderLock&& other) noexcept {
    if (this != &other) {
        Release();
        m_handle = std::exchange(other.m_handle, kNone);
    }
    return *this;
}

Result FolderLock::Take(const std::string& folder) {
    Release();
    try {
        testhooks::Operation(testhooks::Op::Lock, folder.c_str());
    } catch (const ArchiveError& e) {
        return Result::EntryFailure(e.what());
    }
    std::string why;
    const intptr_t handle = OpenLockable(folder, why);
    if (handle == kNone)
        return Result::EntryFailure("Cannot lock " + folder + ": " + why);
    const auto deadline = std::chrono::steady_clock::now() + platform::LockWait();
    for (;;) {
        const int taken = TryLock(handle);
        if (taken == 1) {
            m_handle = handle;
            return Result::Success();
        }
        if (taken < 0 || std::chrono::steady_clock::now() >= deadline) {
            CloseLockable(handle);
            return taken < 0 ? Result::EntryFailure("Cannot lock " + folder) : InUse(folder);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void FolderLock::Release() {
    if (m_handle != kNone)
        CloseLockable(std::exchange(m_handle, kNone));
}

#ifdef _WIN32
void SyncFileSystem(const std::string&) {}
bool FlushesEachFile() {
    return true;
}
#else
void SyncFileSystem(const std::string& folder) {
    testhooks::Operation(testhooks::Op::Flush, folder.c_str());
    const int fd = ::open(platform::ToNative(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
#ifdef __linux__
    (void)::syncfs(fd);
#else
    ::sync();
#endif
    ::close(fd);
}
bool FlushesEachFile() {
    return false;
}
#endif

std::string BootId() {
    static const std::string id = [] {
        std::string text;
#ifdef __linux__
        std::ifstream in("/proc/sys/kernel/random/boot_id");
        std::getline(in, text);
#endif
        return text;
    }();
    return testhooks::Reboots() == 0 || id.empty()
               ? id
               : id + "+" + std::to_string(testhooks::Reboots());
}

#ifdef _WIN32
bool ChangedAfter(const std::string& file, const std::string& than) {
    std::error_code ec, ec2;
    const auto a = std::filesystem::last_write_time(platform::ToNative(file), ec);
    const auto b = std::filesystem::last_write_time(platform::ToNative(than), ec2);
    return !ec && !ec2 && a > b;
}
#else
bool ChangedAfter(const std::string& file, const std::string& than) {
    struct stat a {
    }, b{};
    if (::lstat(platform::ToNative(file).c_str(), &a) != 0 ||
        ::lstat(platform::ToNative(than).c_str(), &b) != 0)
        return false;
    return a.st_ctim.tv_sec != b.st_ctim.tv_sec ? a.st_ctim.tv_sec > b.st_ctim.tv_sec
                                                : a.st_ctim.tv_nsec > b.st_ctim.tv_nsec;
}
#endif

#ifdef __linux__
int64_t StatusClockNow() {
    timespec now{};
    if (::clock_gettime(CLOCK_REALTIME, &now) != 0)
        return 0;
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

bool ChangedAfterTime(const std::string& file, int64_t time) {
    struct stat a {};
    if (::lstat(platform::ToNative(file).c_str(), &a) != 0)
        return false;
    return static_cast<int64_t>(a.st_ctim.tv_sec) * 1000000000 + a.st_ctim.tv_nsec > time;
}
#else
// Only needed beside BootId, which such systems do not have.
int64_t StatusClockNow() {
    return 0;
}

bool ChangedAfterTime(const std::string&, int64_t) {
    return false;
}
#endif

} // namespace qvr
