#pragma once
// A fresh folder per test, an Archives object working in it, and small file helpers.

#include "TestHooks.h"
#include "qvr/Archives.h"
#include "qvr/FileUtils.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace qvrtest {

namespace fs = std::filesystem;

// A library result as an assertion, so that a failure shows the library's message.
inline ::testing::AssertionResult Ok(const qvr::Result& r) {
    if (r)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << r.Message;
}

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string Le32(int32_t v) {
    std::string s(4, '\0');
    for (int k = 0; k < 4; ++k)
        s[k] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * k)) & 0xFF);
    return s;
}

inline int32_t GetLe32(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (int k = 3; k >= 0; --k)
        v = (v << 8) | static_cast<unsigned char>(s[at + k]);
    return static_cast<int32_t>(v);
}

// Bytes that compress a little, different for each seed.
inline std::string MixedBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] =
            (i % 7 == 0) ? static_cast<char>(rng() & 0xFF) : static_cast<char>('a' + (i / 13) % 26);
    return s;
}

inline std::string RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(rng() & 0xFF);
    return s;
}

class ArchiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        dir = (fs::temp_directory_path() /
               ("qvr-test-" +
                std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() %
                               1000000007) +
                "-" + std::to_string(counter++)))
                  .string();
        fs::remove_all(dir);
        fs::create_directories(dir + "/tmp");
        arc.TempFolder = dir + "/tmp/";
        qvr::testhooks::WriteBudget = -1;
        qvr::testhooks::FailNextReplace = false;
    }
    void TearDown() override {
        qvr::testhooks::WriteBudget = -1;
        qvr::testhooks::FailNextReplace = false;
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    std::string Path(const std::string& name) const { return dir + "/" + name; }
    // A source file with the given content, in the test's folder.
    std::string Source(const std::string& name, const std::string& bytes) {
        WriteAll(Path("src/" + name), bytes);
        return Path("src/" + name);
    }
    // Files left in the work folder.
    size_t WorkFilesLeft() const {
        size_t n = 0;
        for (auto& e : fs::directory_iterator(dir + "/tmp"))
            (void)e, ++n;
        return n;
    }
    // The entries the file on disk holds, read by a fresh object.
    std::vector<qvr::sgFileInfo> OnDisk(const std::string& path) const {
        qvr::Archives other;
        other.TempFolder = arc.TempFolder;
        other.OpenArchive(path);
        return other.ArchiveFiles;
    }

    std::string dir;
    qvr::Archives arc;
};

} // namespace qvrtest
