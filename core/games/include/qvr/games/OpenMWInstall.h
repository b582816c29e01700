#pragma once
// Installing a plug-in for OpenMW: its files in a folder of its own below a mods folder, the
// folder listed in openmw.cfg by a data= line and its plug-ins enabled by content= lines. The
// lines an install added are remembered in the mods folder, so that removal takes out exactly
// those. One routine for qvr and QVRInstaller; printing is the caller's.

#include "qvr/games/OpenMWConfig.h"
#include "qvr/install/Engine.h"
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
    std::string ModFolder;      // the plug-in's own folder, below ModsFolder
    std::string Key;            // of its install record and of the lines it added
    bool FolderExisted = false; // the folder was there before the install
};

// Where the archive at archivePath goes: a folder directly in the mods folder whose plain name
// is made from the archive's name without ".qvr" (MakePlainName: never one of the programs'
// own names, never empty, "." or ".."). An archive whose name gives the name or key of another
// archive's install gets " (2)", " (3)"... of its own; the same archive gets its folder again.
// A relative modsFolder is taken from the working folder and written out in full.
Target TargetFor(const std::string& archivePath, const std::string& configPath,
                 const std::string& modsFolder);

// The plug-ins (.esp, .esm, .omwaddon) at the archive's top level, in the archive's order.
std::vector<std::string> TopLevelPlugins(const Archives& arc);
// Those of them the install put in place (its entries' results), the only ones to list.
std::vector<std::string> InstalledPlugins(const std::vector<EntryResult>& entries);
// The masters named in a free-text Depends field: every item ending in a plug-in extension.
std::vector<std::string> Masters(const std::string& depends);

// What listing an install in openmw.cfg gave.
struct ListReport {
    Result Outcome;
    size_t Plugins = 0;                      // content= lines the plug-in has now
    std::vector<std::string> MissingMasters; // no content= line enables them, no folder holds them
    std::string MastersNote;                 // the same as one message ("" for none)
    std::vector<std::string> Unlisted;       // plug-ins whose names openmw.cfg cannot hold: why
};

// What an install added: from its record in the mods folder, or as the previous version
// remembered it (a list of lines in the mods folder and a record in the plug-in's folder).
struct AddedLines {
    std::string Key;         // the install record's key
    std::string Folder;      // the plug-in's folder, also when its data= line was there already
    bool MadeFolder = false; // made by the install: removal takes it out once empty
    ModLines Lines;
    std::string RecordKey;    // of the install record (set by FindInstall)
    std::string RecordFolder; // where that record is: the mods folder, or Folder (before)
    bool Engine = false;      // one record of files and lines, in the mods folder
    std::string ConfigPath;   // the openmw.cfg its lines went into (Engine)
};

// The text of a list of lines, read as a stranger's: refused whole (Result says why) unless
// its folder lies directly in modsFolder under a plain name, its data= line names that folder
// and every content= line a plain plug-in name a settings line can hold.
Result ParseAddedLines(const std::string& text, const std::string& modsFolder, AddedLines& lines);

// The install of an archive (by its path) or of a recorded plug-in (by its name) below
// modsFolder; nothing when none is remembered. Lists that break the rules of ParseAddedLines
// are named in problems (when given) and never used.
std::optional<AddedLines> FindInstall(const std::string& modsFolder, const std::string& what,
                                      std::vector<std::string>* problems = nullptr);
// The install of arc: made from an archive of its file name, else from a renamed copy of it
// (see FindRecordOf).
std::optional<AddedLines> FindInstall(const std::string& modsFolder, const Archives& arc,
                                      std::vector<std::string>* problems = nullptr);

struct UninstallReport {
    RemovalReport Files;     // the plug-in's files, taken out by its install record
    Result Outcome;          // of the whole removal; openmw.cfg is untouched when the files failed
    bool FolderKept = false; // the folder stays: it holds files kept, or the install found it
};

// Takes out the plug-in's files, then exactly its lines from openmw.cfg, then its folder when
// the install made it and nothing is left in it (a link is never followed or removed).
UninstallReport Uninstall(const std::string& configPath, const std::string& modsFolder,
                          const AddedLines& install, const FileProgress& progress = {});

// openmw.cfg's data= and content= lines as the install engine's configuration edits. A
// recorded edit is a stranger's text: any other file, key or unsafe value is refused whole.
class ConfigLines final : public ConfigEditor {
public:
    [[nodiscard]] Result Apply(const ConfigEdit& edit, bool undo) const override;
    bool Owns(const std::string& kind) const override;
    [[nodiscard]] Result Writable(const ConfigEdit& edit) const override;
    // content= and fallback-archive= lines enable the file of that name in a mod's folder.
    bool Enables(const std::string& line, const std::string& recordedPath) const override;
};

// Whether an install may edit where.ConfigPath, asked before any file is written: a file named
// openmw.cfg (OpenMW reads no other; a record names no other), and not read-only.
[[nodiscard]] Result ConfigUsable(const Target& where);

// The engine's target for where: the mods folder (holding the record and locked), the
// plug-in's folder below it, and openmw.cfg's folder locked too.
InstallTarget EngineTarget(const Target& where, const ConfigEditor& editor);

// Installs arc for OpenMW as one transaction: its files in where.ModFolder and its lines in
// where.ConfigPath (those of the plug-ins put in place; a name openmw.cfg cannot hold is left
// out and named in listed.Unlisted), recorded together in the mods folder.
InstallReport Install(Archives& arc, const Target& where, const OverwriteQuestion& ask,
                      const EntryProgress& progress, const TakeBackQuestion& takeBack,
                      ListReport& listed);
// The masters arc's Depends names that no content= line of configPath enables and no data
// folder holds.
std::vector<std::string> MissingMasters(const Archives& arc, const std::string& configPath);
// The same as one message naming each once, with the plug-ins that need it ("" for none).
std::string MissingMastersNote(const Archives& arc, const std::string& configPath);

// Installs recorded by the engine in modsFolder: of arc (or a renamed copy), or by name.
std::optional<AddedLines> FindEngineInstall(const std::string& modsFolder, const Archives& arc);
std::optional<AddedLines> FindEngineInstall(const std::string& modsFolder, const std::string& what);
// Removes such an install: its lines from the openmw.cfg it recorded, then its files.
UninstallReport UninstallRecorded(const std::string& modsFolder, const AddedLines& install,
                                  const FileProgress& progress = {});
// The archive whose engine install owns the folder folderName of modsFolder; owned tells
// whether one does.
std::string FolderOwnedBy(const std::string& modsFolder, const std::string& folderName,
                          bool& owned);

} // namespace qvr::openmw
