#pragma once
// Plug-in files written byte by byte: a TES3 header with or without FORM, any masters, and
// room to spoil it afterwards.

#include "qvrtest/Bytes.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace qvrtest {

struct PluginShape {
    bool Form = false;   // a FORM subrecord before HEDR, as OpenMW writes
    bool Master = false; // the master-file flag
    std::string Author = "Anne";
    std::string Description = "A test plug-in";
    std::vector<std::pair<std::string, uint64_t>> Masters; // raw names (Windows-1252), sizes
};

inline std::string Subrecord(const std::string& name, const std::string& data) {
    return name + Le32(static_cast<int32_t>(data.size())) + data;
}

inline std::string Hedr(const PluginShape& s) {
    std::string h(300, '\0');
    const float version = 1.3f;
    std::memcpy(h.data(), &version, 4);
    h.replace(4, 4, Le32(s.Master ? 1 : 0));
    h.replace(8, std::min<size_t>(s.Author.size(), 32), s.Author.substr(0, 32));
    h.replace(40, std::min<size_t>(s.Description.size(), 256), s.Description.substr(0, 256));
    h.replace(296, 4, Le32(7));
    return h;
}

// The TES3 record alone; a plug-in's records would follow it.
inline std::string PluginBytes(const PluginShape& s) {
    std::string body = s.Form ? Subrecord("FORM", Le32(1)) : "";
    body += Subrecord("HEDR", Hedr(s));
    for (const auto& [name, size] : s.Masters)
        body += Subrecord("MAST", name + '\0') + Subrecord("DATA", Le64(size));
    return "TES3" + Le32(static_cast<int32_t>(body.size())) + Le32(0) + Le32(0) + body;
}

// A plug-in needing masters, sizes made up, with a record after the header as a file has.
inline std::string PluginNeeding(const std::vector<std::string>& masters, bool isMaster = false) {
    PluginShape s;
    s.Master = isMaster;
    for (const std::string& m : masters)
        s.Masters.push_back({m, 1000 + m.size()});
    return PluginBytes(s) + "GMST" + Le32(4) + Le32(0) + Le32(0) + "abcd";
}

} // namespace qvrtest
