#pragma once
// What every qvr command shares: its context, how it ends with an error, opening an archive,
// and the small helpers of the command line.

#include "Args.h"
#include "Terminal.h"
#include "Tool.h"

#include "qvr/format/sgFileInfo.h"
#include "qvr/format/sgPlugInfo.h"
#include "qvr/package/Archives.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/TempFile.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qvrtool {

namespace fs = std::filesystem;

// Ends a command with an exit code and a message for standard error.
struct CommandError {
    int Code;
    std::string Message;
};

struct Context {
    bool Quiet = false;
    bool Verbose = false;
    unsigned Jobs = 0;
    // create -: the file standard output goes to, which a folder packed must not take.
    std::optional<qvr::FileIdentity> Output;
    bool ProgressWanted() const { return !Quiet && StderrIsTerminal(); }
};

fs::path Native(const std::string& utf8);
std::string Utf8(const fs::path& p);
// Letter case folded as the game's Windows edition folds names, accented letters included,
// so that the tool and the library agree on which names are one.
std::string Lower(const std::string& s);
bool SameText(const std::string& a, const std::string& b);
// An entry's path, or a stored path ("Meshes\\x.nif"), as people see paths on this system
// ("Meshes/x.nif" except on Windows); compare entries by their stored form, never by this.
std::string DisplayPath(const qvr::sgFileInfo& e);
std::string DisplayPath(const std::string& storedPath);
void Warn(const std::string& text);
// Says why a whole install or removal failed; its exit status.
int TellFailure(const qvr::Result& outcome);
// Names the installs that had been cut short and were taken back before this command's work.
void TellTakenBack(const std::vector<std::string>& plugins,
                   const std::vector<std::string>& updates);

// Opens path into arc, or ends the command with a message that says what is wrong.
qvr::OpenKind Open(qvr::Archives& arc, const std::string& path, bool allowZip,
                   bool allowPartial = false);
// As Open, for a command that changes the archive: it stays locked for arc until the command
// ends, so that another program's change waits for it rather than spoiling its list.
void OpenToChange(qvr::Archives& arc, const std::string& path);
// The dates to pack with, or the command ends (before anything is written) saying why
// SOURCE_DATE_EPOCH cannot be used.
PackDates PackingDates();
// Puts the finished work file in to's place, or ends the command saying that to was kept.
void ReplaceWith(qvr::TempFile& from, const std::string& to);
// Removes work files left by ended processes beside the file path names (with below: in the
// folder path and its sub-folders); answers those removed.
std::vector<std::string> SweepWorkFiles(const std::string& path, bool below = false);

std::string ReadNotesFile(const std::string& path);
void ApplyInfoOptions(const ParsedArgs& a, qvr::sgPlugInfo& info);
bool HasInfoEntry(const qvr::Archives& arc);
void NeedOperands(const ParsedArgs& a, size_t min, size_t max, const std::string& usage);
std::string PadLeft(const std::string& s, size_t width);
std::string PadRight(const std::string& s, size_t width);
std::string Plural(int n, const char* one, const char* many);
// "Label:" padded to a column and the value, continued lines under its first (info).
void PrintField(const std::string& label, const std::string& value);
// For each plug-in of the archive: its master flag, author, description and masters.
void PrintPluginHeaders(const qvr::Archives& arc);
// The same as a JSON array, one object a line.
std::string PluginHeadersJson(const qvr::Archives& arc);

struct Command {
    std::string Name;
    std::string Summary;
    std::string Usage; // the full --help text
    std::vector<OptionSpec> Options;
    std::function<int(const ParsedArgs&, const Context&)> Run;
};

// The commands, by group.
int CmdList(const ParsedArgs& a, const Context& ctx);      // show
int CmdInfo(const ParsedArgs& a, const Context& ctx);      // show
int CmdVerify(const ParsedArgs& a, const Context& ctx);    // show
int CmdCreate(const ParsedArgs& a, const Context& ctx);    // pack
int CmdAdd(const ParsedArgs& a, const Context& ctx);       // pack
int CmdRemove(const ParsedArgs& a, const Context& ctx);    // edit
int CmdSetInfo(const ParsedArgs& a, const Context& ctx);   // edit
int CmdInstall(const ParsedArgs& a, const Context& ctx);   // install
int CmdUninstall(const ParsedArgs& a, const Context& ctx); // install
int CmdInstalled(const ParsedArgs& a, const Context& ctx); // records
int CmdWhere(const ParsedArgs& a, const Context& ctx);     // records
int CmdCheck(const ParsedArgs& a, const Context& ctx);     // check

} // namespace qvrtool
