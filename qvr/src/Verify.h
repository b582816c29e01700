#pragma once
// A full check of one QVR archive, independent of the reader: every record, the layout of the
// blocks, and every block decompressed against its recorded size.

#include <cstdint>
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

VerifyReport VerifyArchive(const std::string& path);

} // namespace qvrtool
