#pragma once
// install of the archives players download (zip, 7z, rar, tar), and of packages whose files
// sit below a wrapper folder: the data root or the numbered options chosen, through the same
// engine, records and targets as any package.

#include "Command.h"
#include "Terminal.h"

#include "qvr/install/Install.h"
#include "qvr/install/RecordedInstall.h"

#include <string>
#include <vector>

namespace qvrtool {

// Whether install takes path through the archive sources: any archive but a package, or a
// package with --root, --options or --list-options.
bool InstallsFromSource(const ParsedArgs& a, const std::string& path);
// Ends the command when a package's files sit below a wrapper folder and nothing says where its
// data is.
void RefuseWrapped(const std::string& path, const qvr::Archives& arc);
int InstallArchive(const ParsedArgs& a, const Context& ctx, const std::string& path);

// Shared with the install of packages (InstallCommands.cpp).
int Tally(const std::vector<qvr::EntryResult>& results, qvr::EntryOutcome o);
qvr::OverwriteQuestion AskOverwrite(const ParsedArgs& a, bool interactive, ProgressBar& bar,
                                    const std::string& data);
void TellEarlier(const qvr::InstallReport& report, const std::vector<std::string>& keptBeside,
                 bool quiet);
qvr::TakeBackQuestion AskTakeBack(bool interactive, ProgressBar& bar, const std::string& data,
                                  std::vector<std::string>& keptBeside);
// Checks the data folder an install goes into; one typed (typed) is made when missing.
void PrepareDataFolder(const std::string& data, bool typed, bool openmw, const Context& ctx);
// One file of an install handled: a failure or refusal said, with -v what was installed, the
// bar moved on. Always goes on.
bool ShowInstalled(ProgressBar& bar, const Context& ctx, const qvr::EntryResult& r, size_t done);
// The summary line of an install, the kept files named when nobody could be asked; the exit
// status.
int SummariseInstall(const ParsedArgs& a, const Context& ctx, const qvr::InstallReport& report,
                     const std::string& data);
// The numbers --options names, split at commas and blanks.
std::vector<std::string> OptionLabels(const ParsedArgs& a);

} // namespace qvrtool
