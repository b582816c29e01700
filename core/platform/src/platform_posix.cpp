#ifndef _WIN32

#include "qvr/platform/Encoding.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/detail/ArchiveError.h"
#include "qvr/platform/detail/RandomAccessFile.h"
#include "qvr/platform/detail/TestHooks.h"
#include "qvr/platform/detail/WorkRegistry.h"
#include "qvr/platform/detail/platform.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <locale.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace qvr {

namespace {

std::string ErrnoText(int err) {
    return std::strerror(err);
}

} // namespace

struct RandomAccessFile::Impl {
    int fd = -1;
    int reopenFlags = 0; // to open the same path again once it names another file
};

RandomAccessFile::RandomAccessFile(const std::string& path, Mode mode)
    : m_impl(std::make_unique<Impl>()), m_path(path) {
    int flags = O_CLOEXEC;
    switch (mode) {
    case Mode::Read:
        flags |= O_RDONLY;
        break;
    case Mode::ReadWrite:
        flags |= O_RDWR;
        break;
    case Mode::CreateReadWrite:
        flags |= O_RDWR | O_CREAT | O_TRUNC;
        break;
    case Mode::CreateNew:
        flags |= O_RDWR | O_CREAT | O_EXCL;
        break;
    }
    testhooks::Operation(testhooks::Op::Open, path.c_str());
    // A pipe, socket or device is never opened: opening a pipe waits for a writer (for ever),
    // and opening a device may do something. Looked at before, and once open (never waiting),
    // for one put there in between.
    const auto notRegular = [&] {
        return "Cannot open " + path + ": it is not a regular file (a device, pipe or socket)";
    };
    // Names are bytes here, as ToNative would give them: no path object per file opened.
    const char* name = path.c_str();
    struct stat st {};
    if (mode == Mode::CreateNew) {
        // O_EXCL opens nothing that exists, so what it opens is a new regular file: the checks
        // below would cost four calls per file of an install for nothing.
        const int fd = ::open(name, flags, 0666);
        if (fd < 0) {
            const int error = errno;
            if (error == EEXIST && ::lstat(name, &st) == 0 && !S_ISREG(st.st_mode) &&
                !S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode))
                throw ArchiveError(notRegular());
            throw ArchiveError("Cannot open " + path + ": " + ErrnoText(error));
        }
        m_impl->fd = fd;
        m_impl->reopenFlags = flags & ~(O_CREAT | O_TRUNC | O_EXCL);
        return;
    }
    if (::stat(name, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
        throw ArchiveError(notRegular());
    int fd = ::open(name, flags | O_NONBLOCK, 0666);
    if (fd < 0)
        throw ArchiveError("Cannot open " + path + ": " + ErrnoText(errno));
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        // Only a read-only open can succeed on a folder (the others fail with EISDIR).
        const bool folder = S_ISDIR(st.st_mode);
        ::close(fd);
        throw ArchiveError(folder ? "Cannot open " + path + ": it is a folder" : notRegular());
    }
    ::fcntl(fd, F_SETFL, flags); // the flags it was opened with, less O_NONBLOCK
    m_impl->fd = fd;
    m_impl->reopenFlags = flags & ~(O_CREAT | O_TRUNC | O_EXCL);
}

RandomAccessFile::~RandomAccessFile() {
    Close();
}

void RandomAccessFile::Close() {
    if (m_impl && m_impl->fd >= 0) {
        ::close(m_impl->fd);
        m_impl->fd = -1;
    }
}

static int CheckedFd(int fd, const std::string& path) {
    if (fd < 0)
        throw ArchiveError("File " + path + " is not open");
    return fd;
}

int64_t RandomAccessFile::Length() const {
    struct stat st {};
    if (::fstat(CheckedFd(m_impl->fd, m_path), &st) != 0)
        throw ArchiveError("Cannot take the length of " + m_path + ": " + ErrnoText(errno));
    return static_cast<int64_t>(st.st_size);
}

size_t RandomAccessFile::ReadAt(int64_t pos, void* buf, size_t n) {
    int fd = CheckedFd(m_impl->fd, m_path);
    testhooks::Operation(testhooks::Op::Read, m_path.c_str());
    if (pos < 1)
        throw ArchiveError("Cannot read " + m_path + " before its first byte");
    size_t done = 0;
    auto* out = static_cast<char*>(buf);
    while (done < n) {
        ssize_t got = ::pread(fd, out + done, n - done, static_cast<off_t>(pos - 1 + done));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw ArchiveError("Cannot read " + m_path + ": " + ErrnoText(errno));
        }
        if (got == 0)
            break;
        done += static_cast<size_t>(got);
    }
    return done;
}

void RandomAccessFile::WriteAt(int64_t pos, const void* buf, size_t n) {
    int fd = CheckedFd(m_impl->fd, m_path);
    testhooks::Operation(testhooks::Op::Write, m_path.c_str());
    if (pos < 1)
        throw ArchiveError("Cannot write " + m_path + " before its first byte");
    bool fail = false;
    size_t allowed = testhooks::AllowWrite(n, fail);
    size_t done = 0;
    auto* in = static_cast<const char*>(buf);
    while (done < allowed) {
        ssize_t put = ::pwrite(fd, in + done, allowed - done, static_cast<off_t>(pos - 1 + done));
        if (put < 0) {
            if (errno == EINTR)
                continue;
            throw ArchiveError("Cannot write " + m_path + ": " + ErrnoText(errno));
        }
        done += static_cast<size_t>(put);
    }
    if (fail)
        throw ArchiveError("Cannot write " + m_path + ": no space left on device");
}

void RandomAccessFile::Truncate(int64_t length) {
    testhooks::Operation(testhooks::Op::Write, m_path.c_str());
    if (::ftruncate(CheckedFd(m_impl->fd, m_path), static_cast<off_t>(length)) != 0)
        throw ArchiveError("Cannot shorten " + m_path + ": " + ErrnoText(errno));
}

void RandomAccessFile::Sync() {
    testhooks::Operation(testhooks::Op::Flush, m_path.c_str());
    if (::fsync(CheckedFd(m_impl->fd, m_path)) != 0)
        throw ArchiveError("Cannot flush " + m_path + ": " + ErrnoText(errno));
}

void RandomAccessFile::SetModified(int64_t seconds) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), 0}};
    (void)::futimens(CheckedFd(m_impl->fd, m_path), times);
}

void RandomAccessFile::TakeLock(Lock kind) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + platform::LockWait();
    const int how = kind == Lock::Exclusive ? LOCK_EX : LOCK_SH;
    for (;;) {
        testhooks::Operation(testhooks::Op::Lock, m_path.c_str());
        int fd = CheckedFd(m_impl->fd, m_path);
        if (::flock(fd, how | LOCK_NB) == 0) {
            // A writer that replaced the file while we waited leaves us holding the old one.
            struct stat held {
            }, named{};
            if (::fstat(fd, &held) == 0 &&
                ::stat(platform::ToNative(m_path).c_str(), &named) == 0 &&
                (held.st_dev != named.st_dev || held.st_ino != named.st_ino)) {
                int again = ::open(platform::ToNative(m_path).c_str(), m_impl->reopenFlags);
                if (again < 0)
                    throw ArchiveError("Cannot open " + m_path + ": " + ErrnoText(errno));
                ::close(fd);
                m_impl->fd = again;
                continue;
            }
            return;
        }
        if (errno != EWOULDBLOCK && errno != EINTR)
            throw ArchiveError("Cannot lock " + m_path + ": " + ErrnoText(errno));
        if (Clock::now() >= deadline)
            throw ArchiveError("The archive " + m_path +
                               " is in use by another program; try again when it has finished");
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

namespace platform {

std::string TempPathRaw() {
    for (const char* name : {"TMPDIR", "TMP", "TEMP"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return value;
    }
    return "/tmp/";
}

int64_t RegularFileSize(const std::filesystem::path& native) {
    struct stat st {};
    if (::stat(native.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return static_cast<int64_t>(st.st_size);
}

FindData FindFile(const std::string& path) {
    FindData data;
    struct stat st {};
    if (path.empty() || ::stat(ToNative(path).c_str(), &st) != 0)
        return data;
    data.Found = true;
    data.Name = FromNative(ToNative(path).filename());
    data.Size = static_cast<int64_t>(st.st_size);
    std::tm tm{};
    time_t t = st.st_mtime;
    if (::gmtime_r(&t, &tm)) {
        data.Year = tm.tm_year + 1900;
        data.Month = tm.tm_mon + 1;
        data.Day = tm.tm_mday;
        data.Hour = tm.tm_hour;
        data.Minute = tm.tm_min;
        data.Second = tm.tm_sec;
    }
    return data;
}

std::string NameOnDisk(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::lstat(ToNative(path).c_str(), &st) != 0)
        return {};
    return FromNative(ToNative(path).filename());
}

std::string LocalDateTimeText() {
    time_t now = ::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    char text[256];
    size_t n = 0;
    // The user's LC_TIME, without touching the process-wide locale.
    locale_t loc = ::newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
    if (loc) {
        n = ::strftime_l(text, sizeof text, "%x %X", &tm, loc);
        ::freelocale(loc);
    }
    std::string result(text, n);
    // A locale whose texts are not UTF-8 would give bytes the archive cannot store.
    if (n == 0 || !Utf8ToCp1252(result)) {
        n = ::strftime(text, sizeof text, "%m/%d/%y %H:%M:%S", &tm);
        result.assign(text, n);
    }
    return result;
}

void ReplaceFile(const std::string& from, const std::string& to) {
    testhooks::Operation(testhooks::Op::Rename, to.c_str());
    if (testhooks::ReplaceMustFail())
        throw ArchiveError("Cannot replace " + to + ": the file is in use");
    if (::rename(ToNative(from).c_str(), ToNative(to).c_str()) != 0)
        throw ArchiveError("Cannot replace " + to + ": " + ErrnoText(errno));
    detail::ForgetWorkFile(from);
}

uint32_t ProcessId() {
    return static_cast<uint32_t>(::getpid());
}

bool ProcessAlive(uint32_t pid) {
    if (pid == 0 || pid > static_cast<uint32_t>(std::numeric_limits<pid_t>::max()))
        return true;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

void SyncFolder(const std::string& folder) {
    int fd =
        ::open(ToNative(folder.empty() ? "." : folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    // Some file systems cannot flush a folder (EINVAL); their renames are as durable as they get.
    (void)::fsync(fd);
    ::close(fd);
}

void CopyAccess(const std::string& from, const std::string& to) {
    struct stat st {};
    if (::stat(ToNative(from).c_str(), &st) != 0)
        throw ArchiveError("Cannot read the permissions of " + from + ": " + ErrnoText(errno));
    // The owner only where allowed (root, or the group of a member); the permissions always.
    (void)::chown(ToNative(to).c_str(), st.st_uid, st.st_gid);
    if (::chmod(ToNative(to).c_str(), st.st_mode & 07777) != 0)
        throw ArchiveError("Cannot set the permissions of " + to + ": " + ErrnoText(errno));
}

void SyncFolderOf(const std::string& path) {
    const std::filesystem::path folder = ToNative(path).parent_path();
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace platform

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    struct stat st {};
    if (::stat(platform::ToNative(path).c_str(), &st) != 0)
        return std::nullopt;
    return FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

std::optional<FileIdentity> StandardOutputFile() {
    struct stat st {};
    if (::fstat(STDOUT_FILENO, &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

} // namespace qvr

#endif
