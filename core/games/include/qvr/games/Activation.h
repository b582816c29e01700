#pragma once
// Making the game load what an install put in place, as part of the install transaction: for
// the original engine, the plug-ins in Morrowind.ini's [Game Files] and the .bsa files in its
// [Archives] (the Morrowind.ini in the folder above the data folder), recorded with the install
// so that its removal takes out exactly those lines; and, for both engines, plug-ins dated just
// after their masters, since the original engine loads by file time.

#include "qvr/install/Engine.h"
#include "qvr/platform/Result.h"

#include <optional>
#include <string>
#include <vector>

namespace qvr {

// The Kind of the engine's configuration edits of Morrowind.ini.
inline constexpr const char* kMorrowindIniKind = "Morrowind.ini";

// The Morrowind.ini in the folder above dataFolder (any letter case), when there is one.
std::optional<std::string> MorrowindIniBeside(const std::string& dataFolder);

// Morrowind.ini's lists as the engine's configuration edits. An edit's lines are
// "GameFile=<plug-in>", "Archive=<.bsa>" (numbered as the file's list goes when written) and
// "[Game Files]" or "[Archives]" for a section the install brought. It always edits the
// Morrowind.ini beside the data folder it was made for, wherever the record says the file was
// (a game folder may have moved); a recorded edit is a stranger's text, and any other kind,
// file name or value is refused whole. Taking lines out of a Morrowind.ini that is gone
// succeeds: there is nothing left to take out.
class MorrowindIniEditor final : public ConfigEditor {
public:
    explicit MorrowindIniEditor(std::string dataFolder) : m_dataFolder(std::move(dataFolder)) {}
    [[nodiscard]] Result Apply(const ConfigEdit& edit, bool undo) const override;
    [[nodiscard]] Result Writable(const ConfigEdit& edit) const override;
    bool Owns(const std::string& kind) const override;
    bool Enables(const std::string& line, const std::string& recordedPath) const override;

private:
    std::string m_dataFolder;
};

// The engine's target for a data folder: its records and lock in it, Morrowind.ini's folder
// locked too when there is one, and editor (a MorrowindIniEditor of the same folder) to take
// back the lines of any install recorded there. Every install, removal and recovery in a data
// folder goes through such a target.
InstallTarget DataFolderTarget(const std::string& dataFolder, const ConfigEditor& editor);

// What activation did, or why it left something out, for the caller to tell.
struct Activation {
    std::string Ini;                   // the Morrowind.ini edited; "" when none is there
    std::vector<std::string> Plugins;  // listed by this install in [Game Files]
    std::vector<std::string> Archives; // listed by this install in [Archives]
    std::vector<std::string> Problems; // what was not listed, and why
};

// The builder every install into a data folder uses: the edits that list the install's
// plug-ins (.esp, .esm) and .bsa files written at the data folder's top level. A name the
// player listed already stays the player's; one the same archive's earlier install listed
// stays this install's. A name Morrowind.ini cannot hold, or a list with a gap (the game reads
// nothing after it), is left out and told in told.Problems; the files are installed all the
// same. No Morrowind.ini beside the folder: no edits.
EditsFor ActivationEdits(const std::string& dataFolder, Activation& told);

// The times for plug-ins written directly in below (a level of root, "" for root itself): each
// whose master is not older than it gets a time just after its newest master (of its own kind:
// master files load before the other plug-ins whatever their times). Masters are
// looked for among the install's own plug-ins, then in below and in lookIn (any letter case);
// headers are read from the written files.
TimesFor MastersFirstTimes(const std::string& root, const std::string& below,
                           std::vector<std::string> lookIn);

// The one install into a data folder for qvr and QVRInstaller: arc's files through the engine,
// dated master-first, and with activate its plug-ins and archives listed in Morrowind.ini in
// the same transaction (told says what was listed, or why not).
// prepared: arc's entries prepared ahead (see PreparePackage).
InstallReport InstallIntoDataFolder(Archives& arc, const std::string& dataFolder, bool activate,
                                    const OverwriteQuestion& ask, const EntryProgress& progress,
                                    const TakeBackQuestion& takeBack, Activation& told,
                                    PreparedPackage prepared = {});
// The same for any request of the engine (an archive's members placed by SourceRequest, in
// SourceInstall.h): its edits and times are this builder's.
InstallReport InstallIntoDataFolder(InstallRequest request, const std::string& dataFolder,
                                    bool activate, Activation& told);

// Removal from a data folder, the recorded Morrowind.ini lines taken out first: of arc (by
// record, else by content, as RemovePlugin), or of a recorded install (as RemoveByRecord).
RemovalReport RemoveFromDataFolder(Archives& arc, const std::string& dataFolder,
                                   const FileProgress& progress = {});
RemovalReport RemoveFromDataFolder(const std::string& dataFolder, const std::string& what,
                                   const FileProgress& progress = {});

} // namespace qvr
