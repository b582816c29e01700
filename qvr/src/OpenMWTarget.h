#pragma once
// Installing for OpenMW: each plug-in in a folder of its own below the mods folder, listed in
// openmw.cfg by a data= line and its plug-ins enabled by content= lines. The lines a plug-in
// added are remembered in the mods folder, so that removal takes out exactly those.

#include "Command.h"

#include "qvr/games/OpenMWInstall.h"
#include "qvr/install/Install.h"
#include "qvr/install/RecordedInstall.h"
#include "qvr/package/Archives.h"

#include <string>
#include <vector>

namespace qvrtool {

// --mods-folder is refused without --openmw.
void NeedOpenMWForModsFolder(const ParsedArgs& a);
// The mods folder given, else QVRInstaller's, else OpenMW's usual one; ends the command when
// none is known.
std::string ModsFolder(const std::string& given);

// Where the plug-in goes: its own folder below the mods folder, and the keys of its records.
using OpenMWInstall = qvr::openmw::Target;

// Works out where the archive goes; ends the command when there is nowhere to put it.
OpenMWInstall PrepareOpenMWInstall(const qvr::Archives& arc, const std::string& modsFolder,
                                   const Context& ctx);
// The same for any archive, by its path.
OpenMWInstall PrepareOpenMWInstallOf(const std::string& archivePath, const std::string& modsFolder);
struct InstallReportAndLines {
    qvr::InstallReport Files;
    qvr::openmw::ListReport Lines;
};
// The files and their lines in openmw.cfg, as one transaction.
InstallReportAndLines InstallOpenMW(qvr::Archives& arc, const OpenMWInstall& where,
                                    const qvr::OverwriteQuestion& ask,
                                    const qvr::EntryProgress& progress,
                                    const qvr::TakeBackQuestion& takeBack);
// After the install: what was listed in openmw.cfg, and a warning for each master no content=
// line enables and no data folder holds. False when something could not be listed (said on
// standard error).
bool FinishOpenMWInstall(const OpenMWInstall& where, const qvr::openmw::ListReport& report,
                         const Context& ctx);
// qvr uninstall --openmw: what is an archive or a recorded plug-in name; asks as uninstall
// does unless yes.
int UninstallOpenMW(const std::string& what, const std::string& modsFolder, bool dryRun, bool yes,
                    const Context& ctx);

} // namespace qvrtool
