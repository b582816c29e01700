#pragma once
// Skips a test when it runs under Wine, where the test needs something Wine does not do as
// Windows does. The reason is printed on a line of its own ("Skipped on Wine: ...") so that the
// test script can list it; on Windows itself and elsewhere the test runs.

#include <gtest/gtest.h>

#include <cstdio>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace qvrtest {

inline bool OnWine() {
#ifdef _WIN32
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

} // namespace qvrtest

#define QVR_SKIP_ON_WINE(reason)                                                                   \
    do {                                                                                           \
        if (qvrtest::OnWine()) {                                                                   \
            const auto* info_ = ::testing::UnitTest::GetInstance()->current_test_info();           \
            std::printf("Skipped on Wine: %s.%s: %s\n", info_->test_suite_name(), info_->name(),   \
                        reason);                                                                   \
            GTEST_SKIP() << "Wine: " << reason;                                                    \
        }                                                                                          \
    } while (false)
