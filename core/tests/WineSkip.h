#pragma once
// Skips a test when it runs under Wine, where the test needs something Wine does not do as
// Windows does. The reason is printed on a line of its own ("Skipped on Wine: ...") so that the
// test script can list it; on Windows itself and elsewhere the test runs.

#include "qvr/platform/HostEnvironment.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace qvrtest {

inline bool OnWine() {
    return qvr::RunningUnderWine();
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
