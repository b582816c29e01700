#include "qvr/platform/HostEnvironment.h"

#include "qvr/platform/detail/platform.h"

#include <cstdint>
#include <cstdlib>

#ifdef __GLIBC__
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

#ifdef _WIN32
#include <windows.h>

#include <shlobj.h>
#endif

namespace qvr {

namespace {

// Only what discovery and OpenMW's folders read; the rest of the environment stays out.
const char* const kNames[] = {"HOME",          "XDG_CONFIG_HOME",   "XDG_DATA_HOME",
                              "OPENMW_CONFIG", "OPENMW_CONFIG_DIR", "USERPROFILE"};

std::string Variable(const char* name) {
#ifdef _WIN32
    std::wstring wide(name, name + std::char_traits<char>::length(name));
    const wchar_t* value = _wgetenv(wide.c_str());
    return value ? platform::FromNative(std::filesystem::path(value)) : std::string();
#else
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
#endif
}

} // namespace

std::string HostEnvironment::Get(const std::string& name) const {
    auto it = Variables.find(name);
    return it == Variables.end() ? std::string() : it->second;
}

HostEnvironment CurrentHostEnvironment() {
    HostEnvironment env;
    for (const char* name : kNames) {
        std::string value = Variable(name);
        if (!value.empty())
            env.Variables[name] = value;
    }
#ifdef _WIN32
    env.Home = env.Get("USERPROFILE");
    PWSTR documents = nullptr;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &documents)))
        env.Documents = platform::FromNative(std::filesystem::path(documents));
    ::CoTaskMemFree(documents);
#else
    env.Home = env.Get("HOME");
#endif
    return env;
}

bool RunningUnderWine() {
#ifdef _WIN32
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

void PreferLargePages(size_t megabytes) {
#ifdef __GLIBC__
    // A program that lists ten thousand files touches thousands of new pages of memory, and
    // on a virtual machine each first touch of a 4 kB page can cost several microseconds:
    // more than the rest of the listing. The heap grows here in one step whose pages the
    // system may make 2 MB large, and keeps what it is given back. Only that first step: a
    // 2 MB page is resident whole, and with 64 MB so advised a 7z install of 10,000 files
    // rose from 59 to 65 MB (16 MB: 62.6 MB).
    const size_t step = megabytes << 20;
    constexpr uintptr_t kLarge = uintptr_t{2} << 20;
    if (mallopt(M_TOP_PAD, static_cast<int>(step)) != 1)
        return;
    (void)mallopt(M_TRIM_THRESHOLD, static_cast<int>(2 * step));
    // Two blocks below the size malloc maps on its own: the second one makes the heap grow.
    void* a = std::malloc(size_t{64} << 10);
    void* b = std::malloc(size_t{96} << 10);
    const auto end = reinterpret_cast<uintptr_t>(::sbrk(0));
    std::free(b);
    std::free(a);
    const uintptr_t top = end & ~(kLarge - 1);
    const uintptr_t bottom = (end - step + kLarge - 1) & ~(kLarge - 1);
    if (a && b && end > step && top > bottom)
        (void)::madvise(reinterpret_cast<void*>(bottom), top - bottom, MADV_HUGEPAGE);
#else
    (void)megabytes; // elsewhere the system decides
#endif
}

void PreferLargePagesOnThisThread() {
#if defined(__GLIBC__) && UINTPTR_MAX > 0xFFFFFFFFu
    // A thread's heap lies alone in a block of 64 MB aligned to its size (the C library's
    // HEAP_MAX_SIZE on 64-bit systems), made readable in whole when PreferLargePages set a
    // top pad as large. Memory from the main heap lies below the program break and was
    // advised already.
    constexpr uintptr_t kThreadHeap = uintptr_t{64} << 20;
    void* probe = std::malloc(64);
    const auto at = reinterpret_cast<uintptr_t>(probe);
    std::free(probe);
    if (!probe || at < reinterpret_cast<uintptr_t>(::sbrk(0)))
        return;
    void* heap = reinterpret_cast<void*>(at & ~(kThreadHeap - 1));
    if (::madvise(heap, kThreadHeap, MADV_HUGEPAGE) != 0)
        return;
    // The heap's first page is written already, and a 2 MB range with a small page in it
    // goes on in small pages: make that range one large page now. MADV_COLLAPSE (Linux 6.1
    // and later; older systems refuse it) is not in this C library's headers.
    constexpr int kCollapse = 25;
    (void)::madvise(heap, size_t{2} << 20, kCollapse);
#endif
}

void ReadTimeZoneOnce() {
#ifndef _WIN32
    (void)::setenv("TZ", ":/etc/localtime", 0); // kept when the user set one
#endif
}

} // namespace qvr
