#pragma once
// Which plug-ins load before which, for both engines, and whether every plug-in's masters load
// before it. The original engine loads the enabled master files (.esm) first and then the
// other plug-ins, each group by file time, oldest first; OpenMW loads its content= lines in
// order. Pure functions: the caller reads the headers, times and lists.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qvr {

// A plug-in and the masters its header names, in order.
struct PluginMasters {
    std::string Name;
    std::vector<std::string> Masters;
};

// The masters of name among headers (any letter case); empty when it has no header there.
const std::vector<std::string>& MastersOf(const std::vector<PluginMasters>& headers,
                                          const std::string& name);

// The time an entry's FileDate records ("3/7/2003 14:5:9", UTC) as seconds since 1970;
// nullopt when the text is not such a date.
std::optional<int64_t> ArchiveFileTime(const std::string& fileDate);

// How far after its newest master a plug-in is put: a minute, well beyond the two seconds
// FAT drives keep file times in.
inline constexpr int64_t kAfterMaster = 60;

struct TimedPlugin {
    std::string Name;
    int64_t Time = 0; // as the archive stores it
    std::vector<std::string> Masters;
};
// The time each plug-in gets, in the order given: its own, or kAfterMaster after its newest
// master when that master is not older. A master among plugins counts with the time it gets
// here; the others are asked of installedTime (nullopt: not there).
std::vector<int64_t>
PluginTimes(const std::vector<TimedPlugin>& plugins,
            const std::function<std::optional<int64_t>(const std::string&)>& installedTime);

struct DatedPlugin {
    std::string Name;
    int64_t Time = 0; // the file's last-write time
};
// The original engine's order: master files (.esm) first, then the rest, each by time (names
// break ties).
std::vector<std::string> MorrowindLoadOrder(std::vector<DatedPlugin> enabled);

struct MasterProblem {
    enum class Kind {
        Missing,    // in no data folder
        NotEnabled, // there, but not in the load order
        LoadsAfter, // in the load order after the plug-in that needs it
        Itself,     // the plug-in names itself: no load order can satisfy it
    };
    std::string Plugin, Master;
    Kind What = Kind::Missing;
};
// Each master of each plug-in of order that does not load before it. present answers whether
// a file of that name is there to load (any letter case).
std::vector<MasterProblem> CheckLoadOrder(const std::vector<std::string>& order,
                                          const std::vector<PluginMasters>& headers,
                                          const std::function<bool(const std::string&)>& present);

} // namespace qvr
