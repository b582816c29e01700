#pragma once
// OpenMW's load order in openmw.cfg: content= lines for plug-ins (each after the lines of its
// masters and before any plug-in that names it as a master) and for .omwscripts files, and
// fallback-archive= lines for .bsa files. Every other line stays byte for byte; taking out
// what was added gives the file back.

#include "qvr/games/LoadOrder.h"
#include "qvr/games/OpenMWConfig.h"
#include "qvr/platform/Result.h"

#include <string>
#include <vector>

namespace qvr::openmw {

// Why a file name cannot be the value of a content= or fallback-archive= line ("" when it
// can): it must be one file name that OpenMW reads back as written.
std::string ValueProblem(const std::string& name);
// The key of the line that lists a file at the top of a data= folder: "content" for plug-ins
// and .omwscripts files, "fallback-archive" for .bsa files, "" for any other file.
std::string ListingKey(const std::string& fileName);

// The lines one install added: what its removal takes out again.
struct OrderLines {
    std::vector<std::string> Content;  // plug-ins and .omwscripts files
    std::vector<std::string> Archives; // .bsa files
};

// Adds content= lines for contentFiles (in that order, each placed by its masters) and
// fallback-archive= lines for archives after the last of theirs. headers holds the masters of
// the plug-ins being added and of those content= lines name already (a plug-in without one is
// taken to need nothing). A name listed already (any letter case) is not added twice. Fails,
// leaving config as it was, when a name cannot be written or no place keeps the order valid
// (a plug-in that needs the new one loads before one of the new one's masters).
[[nodiscard]] Result AddToLoadOrder(Config& config, const std::vector<std::string>& contentFiles,
                                    const std::vector<std::string>& archives,
                                    const std::vector<PluginMasters>& headers, OrderLines& added);
// Takes out exactly the lines of added (by name, any letter case). Answers how many.
size_t RemoveFromLoadOrder(Config& config, const OrderLines& added);

} // namespace qvr::openmw
