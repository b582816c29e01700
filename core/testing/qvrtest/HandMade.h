#pragma once
// Packages written byte by byte, so that a test can hold what no writer of ours would produce:
// names as raw Windows-1252 bytes, hostile paths, blocks to spoil afterwards.

#include "qvr/format/detail/modCompression.h"
#include "qvrtest/Bytes.h"

#include <string>
#include <vector>

namespace qvrtest {

struct RawEntry {
    std::string Path, Name, Content;
};

// dates: each entry's file date, in order (as packing writes it); by default one for all.
inline std::string RawArchive(const std::vector<RawEntry>& entries, int level = 9,
                              const std::vector<std::string>& dates = {}) {
    std::string blocks, directory;
    int32_t offset = 11;
    for (size_t i = 0; i < entries.size(); ++i) {
        const RawEntry& e = entries[i];
        const std::string date = i < dates.size() ? dates[i] : "1/1/2000 0:0:0";
        std::vector<unsigned char> data(e.Content.begin(), e.Content.end());
        qvr::CompressBytes(data, level);
        std::string block =
            Le32(static_cast<int32_t>(e.Content.size())) + std::string(data.begin(), data.end());
        directory += Le32(offset) + Le32(static_cast<int32_t>(block.size())) + e.Name + '\0' +
                     e.Path + '\0' + date + '\0' + std::to_string(e.Content.size()) + '\0' +
                     "01/01/00 00:00:00" + '\0';
        blocks += block;
        offset += static_cast<int32_t>(block.size());
    }
    return "QVR1.0" + Le32(offset) + blocks + directory;
}

} // namespace qvrtest
