#pragma once
// Which data folder a command works on when none is named, and the settings QVRInstaller
// keeps, so that the tool and the installer agree on the game's folder.

#include "Args.h"
#include "Command.h"

#include <string>
#include <vector>

namespace qvrtool {

// Where QVRInstaller's settings file is looked for: beside the program, then in the user's
// configuration folder.
std::vector<std::string> InstallerSettingsCandidates();
// A key of the [Settings] section of the first settings file found; "" when none holds it.
std::string InstallerSetting(const std::string& key);

// The operand when given; else the data folder QVRInstaller remembers; else the only game
// folder found. Ends the command with what to pass when there is no single answer.
std::string ChooseDataFolder(const std::string& operand, const Context& ctx,
                             const std::string& usage);

} // namespace qvrtool
