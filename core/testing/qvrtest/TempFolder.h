#pragma once
// A folder of the test's own below the system's temporary folder, gone with the object, so
// tests never see each other's files, in one process or in parallel ones.

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>

#ifdef _WIN32
#include <process.h>
#define QVRTEST_PID _getpid()
#else
#include <unistd.h>
#define QVRTEST_PID ::getpid()
#endif

namespace qvrtest {

class TempFolder {
public:
    explicit TempFolder(const std::string& prefix = "qvr-test") {
        static std::atomic<int> counter{0};
        const auto tick = std::chrono::steady_clock::now().time_since_epoch().count() % 1000000007;
        m_path = std::filesystem::temp_directory_path() /
                 (prefix + "-" + std::to_string(QVRTEST_PID) + "-" + std::to_string(tick) + "-" +
                  std::to_string(counter++));
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

} // namespace qvrtest

#undef QVRTEST_PID
