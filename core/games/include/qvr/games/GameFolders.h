#pragma once
// Finding Morrowind's data folder where players keep it: Steam and its other libraries,
// Flatpak Steam, GOG or Steam installs in Heroic's and Lutris's Wine prefixes, the Windows
// registry, and the data= lines of OpenMW's settings.

#include "qvr/platform/HostEnvironment.h"

#include <string>
#include <vector>

namespace qvr {

enum class GameFolderSource {
    WindowsRegistry,
    Steam,        // Steam's own folder
    SteamLibrary, // another library listed in libraryfolders.vdf
    FlatpakSteam,
    Heroic,
    Lutris,
    Wine,   // the default Wine prefix, ~/.wine
    OpenMW, // a data= line of openmw.cfg
};

struct GameFolder {
    std::string Folder; // the data folder, UTF-8, as found on disk
    GameFolderSource Source;
    std::string Origin; // the file, prefix or key it was found through
};

// A short name for a source, e.g. "Flatpak Steam".
const char* SourceName(GameFolderSource source);

// Every folder holding Morrowind.esm (in any letter case) found through the sources above,
// each once (the first source that names it wins), in the order of GameFolderSource.
std::vector<GameFolder> FindGameFolders(const HostEnvironment& env);

// True when the folder holds a file named Morrowind.esm in any letter case.
bool HoldsMorrowindEsm(const std::string& folder);

// The steam library folders a libraryfolders.vdf lists (its "path" values, or the numbered
// entries of the older layout), in file order.
std::vector<std::string> ParseLibraryFolders(const std::string& vdfText);

} // namespace qvr
