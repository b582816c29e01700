#pragma once
// Builds small zip files byte by byte, so the listing tests need no zip tool or sample file.

#include "qvrtest/Bytes.h"

#include <cstdint>
#include <zlib.h>

#include <string>
#include <vector>

namespace qvrtest {

struct ZipMember {
    std::string name;
    std::string data;
    bool descriptor = false; // sizes follow the data; the local header says 0
    uint16_t version = 20;
    bool deflate = false;    // raw deflate (method 8); else stored
    bool checksum = false;   // the data's crc32 recorded (always when deflated); else 0
    int64_t claimed = -1;    // the size the headers give, when not the data's own
    uint16_t moreFlags = 0;  // in both headers: 0x0800 says the name is UTF-8
    uint16_t madeBy = 45;    // the system in the high byte: 0 MS-DOS, 3 Unix
    uint32_t attributes = 0; // external: the MS-DOS bits, or a Unix mode in the high half
    uint32_t dosTime = 0;    // date << 16 | time, in the local header (the directory says 0)
    std::string localExtra = {}, centralExtra = {};
};

// The raw deflate stream of data, as zip members hold it.
inline std::string RawDeflate(const std::string& data) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

inline std::string Le16(uint16_t v) {
    return std::string{char(v & 0xFF), char(v >> 8)};
}

struct BuiltZip {
    std::string bytes;
    std::vector<size_t> dataOffsets; // 0-based start of each member's data
};

// centralDirectory: write one; zip64: describe it through the zip64 records; reversed: the
// directory lists the members last first.
inline BuiltZip BuildZip(const std::vector<ZipMember>& members, bool centralDirectory = true,
                         bool zip64 = false, const std::string& comment = "",
                         bool reversed = false) {
    BuiltZip z;
    std::string cd;
    for (const ZipMember& m : members) {
        const size_t local = z.bytes.size();
        const uint16_t flags = (m.descriptor ? 0x0008 : 0) | m.moreFlags;
        const uint16_t method = m.deflate ? 8 : 0;
        const std::string stored = m.deflate ? RawDeflate(m.data) : m.data;
        const int32_t crc =
            m.deflate || m.checksum
                ? static_cast<int32_t>(crc32(0, reinterpret_cast<const Bytef*>(m.data.data()),
                                             static_cast<uInt>(m.data.size())))
                : 0;
        const int32_t packed = static_cast<int32_t>(stored.size());
        const int32_t size = static_cast<int32_t>(m.claimed >= 0 ? m.claimed : m.data.size());
        z.bytes += "PK\x03\x04" + Le16(m.version) + Le16(flags) + Le16(method) +
                   Le32(static_cast<int32_t>(m.dosTime)) + Le32(m.descriptor ? 0 : crc) +
                   Le32(m.descriptor ? 0 : packed) + Le32(m.descriptor ? 0 : size) +
                   Le16(static_cast<uint16_t>(m.name.size())) +
                   Le16(static_cast<uint16_t>(m.localExtra.size())) + m.name + m.localExtra;
        z.dataOffsets.push_back(z.bytes.size());
        z.bytes += stored;
        if (m.descriptor)
            z.bytes += "PK\x07\x08" + Le32(crc) + Le32(packed) + Le32(size);
        std::string extra = m.centralExtra;
        if (zip64)
            extra += Le16(1) + Le16(24) + Le64(static_cast<uint32_t>(size)) + Le64(stored.size()) +
                     Le64(local);
        const std::string record =
            "PK\x01\x02" + Le16(m.madeBy) + Le16(m.version) + Le16(flags) + Le16(method) + Le16(0) +
            Le16(0) + Le32(crc) + Le32(zip64 ? -1 : packed) + Le32(zip64 ? -1 : size) +
            Le16(static_cast<uint16_t>(m.name.size())) + Le16(static_cast<uint16_t>(extra.size())) +
            Le16(0) + Le16(0) + Le16(0) + Le32(static_cast<int32_t>(m.attributes)) +
            Le32(zip64 ? -1 : static_cast<int32_t>(local)) + m.name + extra;
        cd = reversed ? record + cd : cd + record;
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
