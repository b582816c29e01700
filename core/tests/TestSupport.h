#pragma once
// A fresh folder per test and an Archives object working in it; the folder and the byte
// helpers come from the shared test support (qvrtest/).

#include "qvr/package/Archives.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/detail/TestHooks.h"
#include "qvrtest/Bytes.h"
#include "qvrtest/TempFolder.h"

#include <gtest/gtest.h>

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

class ArchiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = folder.Path().string();
        fs::create_directories(dir + "/tmp");
        arc.TempFolder = dir + "/tmp/";
        qvr::testhooks::WriteBudget = -1;
        qvr::testhooks::FailNextReplace = false;
    }
    void TearDown() override {
        qvr::testhooks::WriteBudget = -1;
        qvr::testhooks::FailNextReplace = false;
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
        (void)other.OpenArchive(path); // a partial directory lists what it holds
        return other.ArchiveFiles;
    }

    TempFolder folder; // first in, last out: removed after everything that works in it
    std::string dir;
    qvr::Archives arc;
};

} // namespace qvrtest
