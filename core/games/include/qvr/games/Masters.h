#pragma once
// Masters an archive's plug-ins need: those missing from a target before installing, and the
// "Required modules" text of a package against what its plug-ins name.

#include "qvr/games/LoadOrder.h"
#include "qvr/games/OpenMWConfig.h"
#include "qvr/package/Archives.h"
#include "qvr/package/BatchAdd.h"

#include <functional>
#include <string>
#include <vector>

namespace qvr {

struct MissingMaster {
    std::string Name;
    std::vector<std::string> NeededBy; // the archive's plug-ins that name it, in order
};
// The masters of the archive's plug-ins that are neither plug-ins of the archive nor in the
// target (inTarget: any letter case), each once, in the order the plug-ins name them.
std::vector<MissingMaster> MissingMasters(const std::vector<PluginMasters>& archivePlugins,
                                          const std::function<bool(const std::string&)>& inTarget);
// The same for an open archive: the masters its top-level plug-ins' headers name, then those its
// "Required modules" lists besides (NeededBy empty), that are neither in it nor inTarget.
std::vector<MissingMaster>
MissingMastersOf(const Archives& arc, const std::function<bool(const std::string&)>& inTarget);
// One message naming each missing master once, with the plug-ins that need it; "" for none.
// where names the target ("the data folder", "OpenMW's data folders").
std::string MissingMastersMessage(const std::vector<MissingMaster>& missing,
                                  const std::string& where);

// MissingMastersMessage for arc installed into dataFolder.
std::string MissingMastersNote(const Archives& arc, const std::string& dataFolder);

// The targets, for inTarget: a file of the data folder, or of one of the data= folders of
// openmw.cfg (any letter case). Each folder is listed once, when the function is made.
std::function<bool(const std::string&)> DataFolderHolds(const std::string& dataFolder);
std::function<bool(const std::string&)> OpenMWHolds(const openmw::Config& config);

// The plug-in names a free "Required modules" text lists: items separated by commas,
// semicolons, line breaks or "and", each ending in .esm, .esp or .omwaddon.
std::vector<std::string> ListedModules(const std::string& depends);

struct RequiredModules {
    std::vector<std::string> Missing;   // masters the plug-ins need that the text does not list
    std::vector<std::string> NotNeeded; // listed, but no plug-in needs them
    std::string Offer;                  // the masters, as the text to offer when it is empty
};
// A package's plug-ins (masters it holds itself are not required modules) against its text.
RequiredModules CheckRequiredModules(const std::vector<PluginMasters>& packagePlugins,
                                     const std::string& depends);
// What r found against the text, in one sentence whose subject is the text ("the plug-ins need
// Bloodmoon.esm (Tower.esp), which it does not list; it lists Foo.esm, which no plug-in
// names"); "" when it lists exactly the masters needed.
std::string RequiredModulesProblem(const RequiredModules& r,
                                   const std::vector<PluginMasters>& packagePlugins);

// The plug-ins among files about to be packed at a package's top level (where the game loads
// them from), with the masters their headers name: none for a header that cannot be read, whose
// plug-in is then counted in unreadable.
std::vector<PluginMasters> MastersOfFiles(const std::vector<BatchFile>& files,
                                          size_t* unreadable = nullptr);

} // namespace qvr
