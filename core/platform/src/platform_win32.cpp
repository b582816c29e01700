#ifdef _WIN32

#include "qvr/platform/Encoding.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/detail/ArchiveError.h"
#include "qvr/platform/detail/RandomAccessFile.h"
#include "qvr/platform/detail/TestHooks.h"
#include "qvr/platform/detail/WorkRegistry.h"
#include "qvr/platform/detail/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// <windows.h> maps ReplaceFile to ReplaceFileA/W, which would rename our own function here
// and leave the library's callers unresolved at link time.
#undef ReplaceFile

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwchar>

namespace qvr {

namespace {

std::string LastErrorText() {
    DWORD code = ::GetLastError();
    wchar_t* buffer = nullptr;
    DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                   FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text = "error " + std::to_string(code);
    if (n && buffer) {
        std::wstring w(buffer, n);
        while (!w.empty() && (w.back() == L'\r' || w.back() == L'\n' || w.back() == L'.'))
            w.pop_back();
        text = platform::FromNative(std::filesystem::path(w));
    }
    if (buffer)
        ::LocalFree(buffer);
    return text;
}

// Whether another handle keeps the file from being replaced: a refusal to share deletion
// (the system may report that as plain "access denied").
bool HeldOpen(const std::wstring& path) {
    HANDLE h =
        ::CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        ::CloseHandle(h);
        return false;
    }
    return ::GetLastError() == ERROR_SHARING_VIOLATION;
}

std::string FromWide(const wchar_t* text, int length) {
    return platform::FromNative(std::filesystem::path(std::wstring(text, length)));
}

} // namespace

struct RandomAccessFile::Impl {
    HANDLE handle = INVALID_HANDLE_VALUE;
};

static HANDLE CheckedHandle(HANDLE h, const std::string& path) {
    if (h == INVALID_HANDLE_VALUE)
        throw ArchiveError("File " + path + " is not open");
    return h;
}

RandomAccessFile::RandomAccessFile(const std::string& path, Mode mode)
    : m_impl(std::make_unique<Impl>()), m_path(path) {
    DWORD access = GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    switch (mode) {
    case Mode::Read:
        break;
    case Mode::ReadWrite:
        access |= GENERIC_WRITE;
        break;
    case Mode::CreateReadWrite:
        access |= GENERIC_WRITE;
        disposition = CREATE_ALWAYS;
        break;
    case Mode::CreateNew:
        access |= GENERIC_WRITE;
        disposition = CREATE_NEW;
        break;
    }
    testhooks::Operation(testhooks::Op::Open, path.c_str());
    HANDLE h = ::CreateFileW(platform::ToNative(path).c_str(), access,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        throw ArchiveError("Cannot open " + path + ": " + LastErrorText());
    // A pipe or a device (CON, a serial port) is no file to read at places.
    if (::GetFileType(h) != FILE_TYPE_DISK) {
        ::CloseHandle(h);
        throw ArchiveError("Cannot open " + path +
                           ": it is not a regular file (a device, pipe or socket)");
    }
    m_impl->handle = h;
}

RandomAccessFile::~RandomAccessFile() {
    Close();
}

void RandomAccessFile::Close() {
    if (m_impl && m_impl->handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(m_impl->handle);
        m_impl->handle = INVALID_HANDLE_VALUE;
    }
}

int64_t RandomAccessFile::Length() const {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(CheckedHandle(m_impl->handle, m_path), &size))
        throw ArchiveError("Cannot take the length of " + m_path + ": " + LastErrorText());
    return size.QuadPart;
}

size_t RandomAccessFile::ReadAt(int64_t pos, void* buf, size_t n) {
    HANDLE h = CheckedHandle(m_impl->handle, m_path);
    testhooks::Operation(testhooks::Op::Read, m_path.c_str());
    if (pos < 1)
        throw ArchiveError("Cannot read " + m_path + " before its first byte");
    size_t done = 0;
    auto* out = static_cast<char*>(buf);
    while (done < n) {
        OVERLAPPED at{};
        uint64_t offset = static_cast<uint64_t>(pos - 1) + done;
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD want = static_cast<DWORD>(std::min<size_t>(n - done, 1u << 30));
        DWORD got = 0;
        if (!::ReadFile(h, out + done, want, &got, &at)) {
            if (::GetLastError() == ERROR_HANDLE_EOF)
                break;
            throw ArchiveError("Cannot read " + m_path + ": " + LastErrorText());
        }
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

void RandomAccessFile::WriteAt(int64_t pos, const void* buf, size_t n) {
    HANDLE h = CheckedHandle(m_impl->handle, m_path);
    testhooks::Operation(testhooks::Op::Write, m_path.c_str());
    if (pos < 1)
        throw ArchiveError("Cannot write " + m_path + " before its first byte");
    bool fail = false;
    size_t allowed = testhooks::AllowWrite(n, fail);
    size_t done = 0;
    auto* in = static_cast<const char*>(buf);
    while (done < allowed) {
        OVERLAPPED at{};
        uint64_t offset = static_cast<uint64_t>(pos - 1) + done;
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD want = static_cast<DWORD>(std::min<size_t>(allowed - done, 1u << 30));
        DWORD put = 0;
        if (!::WriteFile(h, in + done, want, &put, &at))
            throw ArchiveError("Cannot write " + m_path + ": " + LastErrorText());
        done += put;
    }
    if (fail)
        throw ArchiveError("Cannot write " + m_path + ": no space left on device");
}

void RandomAccessFile::Truncate(int64_t length) {
    testhooks::Operation(testhooks::Op::Write, m_path.c_str());
    HANDLE h = CheckedHandle(m_impl->handle, m_path);
    FILE_END_OF_FILE_INFO info{};
    info.EndOfFile.QuadPart = length;
    if (!::SetFileInformationByHandle(h, FileEndOfFileInfo, &info, sizeof info))
        throw ArchiveError("Cannot shorten " + m_path + ": " + LastErrorText());
}

void RandomAccessFile::Sync() {
    testhooks::Operation(testhooks::Op::Flush, m_path.c_str());
    if (!::FlushFileBuffers(CheckedHandle(m_impl->handle, m_path)))
        throw ArchiveError("Cannot flush " + m_path + ": " + LastErrorText());
}

void RandomAccessFile::SetModified(int64_t seconds) {
    // 100-nanosecond steps since 1601.
    const uint64_t ticks = static_cast<uint64_t>(seconds + 11644473600LL) * 10000000ULL;
    FILETIME when{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    (void)::SetFileTime(CheckedHandle(m_impl->handle, m_path), nullptr, nullptr, &when);
}

// The lock covers one byte far past any archive's end, so that it only keeps other lockers
// out and never gets in the way of reading or writing the data itself.
void RandomAccessFile::TakeLock(Lock kind) {
    const auto deadline = std::chrono::steady_clock::now() + platform::LockWait();
    const DWORD how =
        LOCKFILE_FAIL_IMMEDIATELY | (kind == Lock::Exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    for (;;) {
        testhooks::Operation(testhooks::Op::Lock, m_path.c_str());
        OVERLAPPED at{};
        at.OffsetHigh = 0x40000000;
        if (::LockFileEx(CheckedHandle(m_impl->handle, m_path), how, 0, 1, 0, &at))
            return;
        if (::GetLastError() != ERROR_LOCK_VIOLATION && ::GetLastError() != ERROR_IO_PENDING)
            throw ArchiveError("Cannot lock " + m_path + ": " + LastErrorText());
        if (std::chrono::steady_clock::now() >= deadline)
            throw ArchiveError("The archive " + m_path +
                               " is in use by another program; try again when it has finished");
        ::Sleep(5);
    }
}

namespace platform {

std::string TempPathRaw() {
    wchar_t buffer[MAX_PATH + 2] = {};
    DWORD n = ::GetTempPathW(MAX_PATH + 1, buffer);
    if (n == 0 || n > MAX_PATH + 1)
        return "";
    return FromWide(buffer, static_cast<int>(n));
}

int64_t RegularFileSize(const std::filesystem::path& native) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(native, ec) || ec)
        return -1;
    const auto size = std::filesystem::file_size(native, ec);
    return ec ? -1 : static_cast<int64_t>(size);
}

FindData FindFile(const std::string& path) {
    FindData data;
    if (path.empty())
        return data;
    WIN32_FIND_DATAW find{};
    HANDLE h = ::FindFirstFileW(ToNative(path).c_str(), &find);
    if (h == INVALID_HANDLE_VALUE)
        return data;
    ::FindClose(h);
    SYSTEMTIME st{};
    if (!::FileTimeToSystemTime(&find.ftLastWriteTime, &st))
        return data;
    data.Found = true;
    data.Name = FromWide(find.cFileName, static_cast<int>(wcslen(find.cFileName)));
    data.Size = (static_cast<int64_t>(find.nFileSizeHigh) << 32) | find.nFileSizeLow;
    data.Year = st.wYear;
    data.Month = st.wMonth;
    data.Day = st.wDay;
    data.Hour = st.wHour;
    data.Minute = st.wMinute;
    data.Second = st.wSecond;
    return data;
}

std::string NameOnDisk(const std::string& path) {
    WIN32_FIND_DATAW find{};
    HANDLE h =
        path.empty() ? INVALID_HANDLE_VALUE : ::FindFirstFileW(ToNative(path).c_str(), &find);
    if (h == INVALID_HANDLE_VALUE)
        return {};
    ::FindClose(h);
    return FromWide(find.cFileName, static_cast<int>(wcslen(find.cFileName)));
}

std::string LocalDateTimeText() {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    wchar_t date[128] = {};
    wchar_t time[128] = {};
    int nd = ::GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &now, nullptr, date, 128);
    int nt = ::GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &now, nullptr, time, 128);
    std::string result =
        FromWide(date, nd > 0 ? nd - 1 : 0) + " " + FromWide(time, nt > 0 ? nt - 1 : 0);
    if (!Utf8ToCp1252(result)) {
        char text[64];
        std::snprintf(text, sizeof text, "%u/%u/%u %02u:%02u:%02u", now.wMonth, now.wDay, now.wYear,
                      now.wHour, now.wMinute, now.wSecond);
        result = text;
    }
    return result;
}

void ReplaceFile(const std::string& from, const std::string& to) {
    testhooks::Operation(testhooks::Op::Rename, to.c_str());
    if (testhooks::ReplaceMustFail())
        throw ArchiveError("Cannot replace " + to + ": the file is in use");
    const std::wstring target = ToNative(to).wstring();
    // Windows itself refuses to replace a read-only file; say so before trying, whatever
    // the file system underneath would allow.
    DWORD before = ::GetFileAttributesW(target.c_str());
    if (before != INVALID_FILE_ATTRIBUTES && (before & FILE_ATTRIBUTE_READONLY))
        throw ArchiveError("Cannot replace " + to +
                           ": the file is read-only; the old file was kept");
    if (::MoveFileExW(ToNative(from).c_str(), target.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        detail::ForgetWorkFile(from);
        return;
    }
    // The two usual reasons in words a player can act on; the old file is still whole.
    DWORD code = ::GetLastError();
    DWORD attributes = ::GetFileAttributesW(target.c_str());
    std::string why;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        why = "the file is read-only";
    else if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION || HeldOpen(target))
        why = "the file is in use by another program";
    else {
        ::SetLastError(code);
        why = LastErrorText();
    }
    throw ArchiveError("Cannot replace " + to + ": " + why + "; the old file was kept");
}

uint32_t ProcessId() {
    return static_cast<uint32_t>(::GetCurrentProcessId());
}

bool ProcessAlive(uint32_t pid) {
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return ::GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    const bool running = ::GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    ::CloseHandle(process);
    return running;
}

// MoveFileEx with MOVEFILE_WRITE_THROUGH already makes the rename durable.
void SyncFolder(const std::string&) {}

// A new file takes the folder's inherited permissions, as the old one did; only the
// read-only mark is the old file's own, and ReplaceFile refuses such a file anyway.
void CopyAccess(const std::string&, const std::string&) {}

void SyncFolderOf(const std::string&) {
    // MoveFileEx with MOVEFILE_WRITE_THROUGH already waits for the rename to reach the disk.
}

} // namespace platform

namespace {

std::optional<FileIdentity> IdentityOfHandle(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h, &info))
        return std::nullopt;
    return FileIdentity{info.dwVolumeSerialNumber,
                        uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow};
}

} // namespace

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    // Opened for no access at all: a file another program holds open is still reached.
    HANDLE h = ::CreateFileW(platform::ToNative(path).c_str(), 0,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return std::nullopt;
    const std::optional<FileIdentity> identity = IdentityOfHandle(h);
    ::CloseHandle(h);
    return identity;
}

std::optional<FileIdentity> StandardOutputFile() {
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == INVALID_HANDLE_VALUE || out == nullptr || ::GetFileType(out) != FILE_TYPE_DISK)
        return std::nullopt;
    return IdentityOfHandle(out);
}

} // namespace qvr

#endif
