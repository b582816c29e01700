#pragma once
// Installing a plug-in for OpenMW: its files in a folder of its own below a mods folder, the
// folder listed in openmw.cfg by a data= line and its plug-ins enabled by content= lines. The
// lines an install added are remembered in the mods folder, so that removal takes out exactly
// those. One routine for qvr and QVRInstaller; printing is the caller's.

#include "qvr/games/OpenMWConfig.h"
#include "qvr/install/RecordedInstall.h"
#include "qvr/package/Archives.h"
#include "qvr/platform/Result.h"

#include <optional>
#include <string>
#include <vector>

namespace qvr::openmw {

struct Target {
    std::string ConfigPath; // openmw.cfg
    std::string ModsFolder;
    std::string ModFolder; // the plug-in's own folder, below ModsFolder
};

// Where the archive at archivePath goes: a folder named after the archive, without ".qvr".
Target TargetFor(const std::string& archivePath, const std::string& configPath,
                 const std::string& modsFolder);

// The plug-ins (.esp, .esm, .omwaddon) at the archive's top level, in the archive's order.
std::vector<std::string> TopLevelPlugins(const Archives& arc);
// The masters named in a free-text Depends field: every item ending in a plug-in extension.
std::vector<std::string> Masters(const std::string& depends);

struct ListReport {
    Result Outcome;
    size_t Plugins = 0;                      // content= lines the plug-in has now
    std::vector<std::string> MissingMasters; // no content= line enables them, no folder holds them
};

// After the files are in where.ModFolder: adds the plug-in's lines to openmw.cfg (a re-install
// keeps the lines it added before and drops those of plug-ins it no longer has) and remembers
// them. On failure openmw.cfg is as it was.
ListReport ListInstall(const Archives& arc, const Target& where);

// What an install added, as remembered in the mods folder.
struct AddedLines {
    std::string Key;    // the install record's key
    std::string Folder; // the plug-in's folder, also when its data= line was there already
    ModLines Lines;
};

// The install of an archive (by its path) or of a recorded plug-in (by its name) below
// modsFolder; nothing when none is remembered.
std::optional<AddedLines> FindInstall(const std::string& modsFolder, const std::string& what);

struct UninstallReport {
    RemovalReport Files;     // the plug-in's files, taken out by its install record
    Result Outcome;          // of the whole removal; openmw.cfg is untouched when the files failed
    bool FolderKept = false; // the folder stays: it holds files kept
};

// Takes out the plug-in's files, then exactly its lines from openmw.cfg, then its folder when
// nothing is left in it.
UninstallReport Uninstall(const std::string& configPath, const std::string& modsFolder,
                          const AddedLines& install, const FileProgress& progress = {});

} // namespace qvr::openmw
