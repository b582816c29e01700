#include "qvr/platform/HostEnvironment.h"

#include "qvr/platform/detail/platform.h"

#include <cstdlib>

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

void ReadTimeZoneOnce() {
#ifndef _WIN32
    (void)::setenv("TZ", ":/etc/localtime", 0); // kept when the user set one
#endif
}

} // namespace qvr
