#pragma once
// Telling what an install into the game's data folder enabled in the Morrowind.ini beside it
// (qvr::InstallIntoDataFolder does both in one transaction) and which masters are missing.

#include "Command.h"

#include "qvr/games/Activation.h"
#include "qvr/package/Archives.h"

#include <string>

namespace qvrtool {

// What an install enabled in Morrowind.ini, and what it could not (then false).
bool TellActivation(const std::string& data, bool activate, const qvr::Activation& enabled,
                    const Context& ctx);
// After a successful install: what was enabled, what could not be, and one warning naming
// every master that is missing. False when something could not be enabled.
bool FinishDataInstall(const qvr::Archives& arc, const std::string& data, bool activate,
                       const qvr::Activation& enabled, const Context& ctx);

} // namespace qvrtool
