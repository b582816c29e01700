#pragma once
// A zip's central directory, record by record with each member's local header: what `qvr list`
// shows of a zip, and what the sources read members straight from.

#include "qvr/platform/detail/RandomAccessFile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qvr::detail {

struct ZipRecord {
    std::string Name; // as stored, not yet decoded
    uint16_t Flags = 0;
    uint16_t Method = 0;
    uint32_t Crc = 0;
    uint64_t Compressed = 0, Size = 0;
    uint64_t Local = 0; // 0-based offset of the local header in the file
    // Info-ZIP Unicode path fields (here and in the local header): other names the member goes by.
    std::vector<std::string> OtherNames;
    // The local header, when one stands where the record says.
    bool HasLocal = false;
    std::string LocalName;
    uint16_t LocalFlags = 0;
    uint16_t LocalMethod = 0;
    uint64_t Data = 0; // 0-based offset of the member's stored bytes
};

// The records of the zip in file, in directory order; none when the file ends in no end record.
// Throws ArchiveError when the directory is damaged.
std::optional<std::vector<ZipRecord>> ReadZipRecords(RandomAccessFile& file);

} // namespace qvr::detail
