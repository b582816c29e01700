#pragma once
// Which entry holds a package's information. It travels as the top-level entry named after the
// package file with ".ifo"; authors rename packages by version, and the entry keeps the name it
// was packed under, so when no entry is named after the file, the one top-level entry ending in
// ".qvr.ifo" holds it. With two such entries none does.

#include <string>
#include <vector>

namespace qvr {

// "*.qvr.ifo" in any letter case: the information entry of some package, whatever it is called now.
bool LooksLikeInfoEntryName(const std::string& name);

struct InfoEntryChoice {
    std::string Name; // the entry to read the information from (named after the file when none is)
    // When no entry is named after the file: the entries named after other packages.
    std::vector<std::string> Renamed;
};
// topLevel: the names of the entries without a folder.
InfoEntryChoice ChooseInfoEntry(const std::string& packageFileName,
                                const std::vector<std::string>& topLevel);

} // namespace qvr
