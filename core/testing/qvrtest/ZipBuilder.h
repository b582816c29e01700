#pragma once
// Builds small zip files byte by byte, so the listing tests need no zip tool or sample file.

#include "qvrtest/Bytes.h"

#include <cstdint>

#include <string>
#include <vector>

namespace qvrtest {

struct ZipMember {
    std::string name;
    std::string data;
    bool descriptor = false; // sizes follow the data; the local header says 0
    uint16_t version = 20;
};

inline std::string Le16(uint16_t v) {
    return std::string{char(v & 0xFF), char(v >> 8)};
}

struct BuiltZip {
    std::string bytes;
    std::vector<size_t> dataOffsets; // 0-based start of each member's data
};

// centralDirectory: write one; zip64: describe it through the zip64 records.
inline BuiltZip BuildZip(const std::vector<ZipMember>& members, bool centralDirectory = true,
                         bool zip64 = false, const std::string& comment = "") {
    BuiltZip z;
    std::string cd;
    for (const ZipMember& m : members) {
        const size_t local = z.bytes.size();
        const uint16_t flags = m.descriptor ? 0x0008 : 0;
        const int32_t size = static_cast<int32_t>(m.data.size());
        z.bytes += "PK\x03\x04" + Le16(m.version) + Le16(flags) + Le16(0) + Le16(0) + Le16(0) +
                   Le32(0) + Le32(m.descriptor ? 0 : size) + Le32(m.descriptor ? 0 : size) +
                   Le16(static_cast<uint16_t>(m.name.size())) + Le16(0) + m.name;
        z.dataOffsets.push_back(z.bytes.size());
        z.bytes += m.data;
        if (m.descriptor)
            z.bytes += "PK\x07\x08" + Le32(0) + Le32(size) + Le32(size);
        std::string extra;
        if (zip64)
            extra = Le16(1) + Le16(24) + Le64(m.data.size()) + Le64(m.data.size()) + Le64(local);
        cd += "PK\x01\x02" + Le16(45) + Le16(m.version) + Le16(flags) + Le16(0) + Le16(0) +
              Le16(0) + Le32(0) + Le32(zip64 ? -1 : size) + Le32(zip64 ? -1 : size) +
              Le16(static_cast<uint16_t>(m.name.size())) +
              Le16(static_cast<uint16_t>(extra.size())) + Le16(0) + Le16(0) + Le16(0) + Le32(0) +
              Le32(zip64 ? -1 : static_cast<int32_t>(local)) + m.name + extra;
    }
    if (!centralDirectory)
        return z;
    const size_t cdOffset = z.bytes.size();
    z.bytes += cd;
    const uint16_t count = static_cast<uint16_t>(members.size());
    if (zip64) {
        const size_t eocd64 = z.bytes.size();
        z.bytes += "PK\x06\x06" + Le64(44) + Le16(45) + Le16(45) + Le32(0) + Le32(0) + Le64(count) +
                   Le64(count) + Le64(cd.size()) + Le64(cdOffset);
        z.bytes += "PK\x06\x07" + Le32(0) + Le64(eocd64) + Le32(1);
        z.bytes += "PK\x05\x06" + Le16(0) + Le16(0) + Le16(0xFFFF) + Le16(0xFFFF) + Le32(-1) +
                   Le32(-1) + Le16(static_cast<uint16_t>(comment.size())) + comment;
    } else {
        z.bytes += "PK\x05\x06" + Le16(0) + Le16(0) + Le16(count) + Le16(count) +
                   Le32(static_cast<int32_t>(cd.size())) + Le32(static_cast<int32_t>(cdOffset)) +
                   Le16(static_cast<uint16_t>(comment.size())) + comment;
    }
    return z;
}

} // namespace qvrtest
