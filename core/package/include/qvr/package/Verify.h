#pragma once
// A full check of one QVR archive, entry by entry and stricter than the reader: every record, the
// layout of the blocks, and every block decompressed against its recorded size.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qvr {

struct VerifyReport {
    bool Readable = true; // false: not opened at all (Fatal says why)
    std::string Fatal;
    std::vector<std::string> Problems;
    size_t Entries = 0;
    int64_t UncompressedBytes = 0;
};

// progress, when given, is called before each entry's data is checked; when it answers false
// the check stops there with a problem saying so.
using VerifyProgress = std::function<bool(size_t done, size_t count, const std::string& name)>;
VerifyReport VerifyArchive(const std::string& path, const VerifyProgress& progress = {});

} // namespace qvr
