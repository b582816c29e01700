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
    std::string Name;    // as stored, not yet decoded
    uint16_t MadeBy = 0; // the system in the high byte
    uint16_t Flags = 0;
    uint16_t Method = 0;
    uint32_t Attributes = 0; // external: the system's own file attributes
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
    uint32_t LocalDosTime = 0; // date << 16 | time
    // The modification time the local header's Info-ZIP "UT" or "UX" field gives, the last one.
    std::optional<uint32_t> LocalUnixTime;
    // An extra field (here or in the local header) that is malformed, or that says more of the
    // member's kind or name than the fields above.
    bool OddExtra = false;
    uint64_t Data = 0; // 0-based offset of the member's stored bytes
};

// The records of the zip in file, in directory order; none when the file ends in no end record.
// Throws ArchiveError when the directory is damaged.
std::optional<std::vector<ZipRecord>> ReadZipRecords(RandomAccessFile& file);

} // namespace qvr::detail
