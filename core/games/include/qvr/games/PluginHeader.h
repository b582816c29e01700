#pragma once
// The header of a plug-in (.esp, .esm, .omwaddon): whether it is a master file, who made it,
// and the masters it needs, in the order it loads them. Read from the plug-in's first record
// alone, bounded, and safe on any bytes: a header that does not hold together is refused.

#include "qvr/games/LoadOrder.h"
#include "qvr/package/Archives.h"
#include "qvr/platform/Result.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qvr {

struct PluginMaster {
    std::string Name;  // UTF-8 (stored as Windows-1252)
    uint64_t Size = 0; // the master's size when the plug-in was saved
};

struct PluginHeader {
    float Version = 0;
    bool IsMaster = false;             // the master-file flag
    std::string Author, Description;   // UTF-8 (stored as Windows-1252)
    uint32_t Records = 0;              // as the header counts them
    std::vector<PluginMaster> Masters; // in load order
};

// The most bytes a header is read from: hundreds of times any real one (each master takes
// a few dozen bytes), and still small enough to hold.
inline constexpr size_t kMaxPluginHeader = size_t{1} << 20;
// The record header in front of the header's own data.
inline constexpr size_t kRecordHeader = 16;

// Whether a file name ends in .esp, .esm or .omwaddon (any letter case).
bool IsPluginFileName(const std::string& name);
// Whether a name a plug-in gives for its master names a file of a folder and can be shown:
// not empty, no folder separators or characters file names refuse, no control characters.
bool IsMasterName(const std::string& name);

// The header from a plug-in's first bytes (at least its whole first record). Fails, saying
// why, on anything that is not a whole, sound TES3 header.
[[nodiscard]] Result ParsePluginHeader(std::string_view bytes, PluginHeader& header);
// From a plug-in file (path UTF-8), reading no more than its header.
[[nodiscard]] Result ReadPluginHeader(const std::string& path, PluginHeader& header);
// From an entry of the open archive, inflating no more than its header.
[[nodiscard]] Result ReadPluginHeader(const Archives& arc, const sgFileInfo& entry,
                                      PluginHeader& header);

// A plug-in at an archive's top level (where the game loads it from) with its header.
struct ArchivePlugin {
    sgFileInfo Entry;
    PluginHeader Header;
    Result Read; // why the header could not be read (Header then names no masters)
};
std::vector<ArchivePlugin> ReadArchivePlugins(const Archives& arc);
// Their names and masters, for the load-order and master checks.
std::vector<PluginMasters> MastersOf(const std::vector<ArchivePlugin>& plugins);
// Their names, masters and the times the archive stores (0 where it holds no readable date),
// for PluginTimes.
std::vector<TimedPlugin> TimesOf(const std::vector<ArchivePlugin>& plugins);

} // namespace qvr
