#pragma once
// How a removal's outcome is told on the command line, shared by the data folder and the
// OpenMW target.

#include "Command.h"

#include "qvr/install/RecordedInstall.h"

namespace qvrtool {

const char* FateWord(qvr::FileFate fate);
// Prints what was (or, for a dry run, would be) removed, restored and kept; returns the exit
// code the outcome calls for.
int ReportRemoval(const qvr::RemovalReport& report, const std::string& where, bool dryRun,
                  const Context& ctx);

// Asks on a terminal whether to delete what's files from where ([y/N]); without a terminal the
// command stops, asking for --yes. False (said unless quiet) when the answer is no.
bool ConfirmRemoval(const std::string& what, const std::string& where, const Context& ctx);

} // namespace qvrtool
