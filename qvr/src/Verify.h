#pragma once
// A full check of one QVR archive, independent of the reader: every record, the layout of the
// blocks, and every block decompressed against its recorded size.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qvrtool {

struct VerifyReport {
    bool Readable = true; // false: not opened at all (Fatal says why)
    std::string Fatal;
    std::vector<std::string> Problems;
    size_t Entries = 0;
    int64_t UncompressedBytes = 0;
};

// progress, when given, is called before each entry's data is checked.
using VerifyProgress = std::function<void(size_t done, size_t count, const std::string& name)>;
VerifyReport VerifyArchive(const std::string& path, const VerifyProgress& progress = {});

} // namespace qvrtool
