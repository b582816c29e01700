#pragma once
// A check of a whole setup, for the original engine's data folder or for OpenMW: files that
// more than one recorded install wrote, masters missing or loading after the plug-ins that
// need them, list entries whose file is missing or differs in letter case, and recorded files
// changed since their install. Reads only; changes nothing.

#include "qvr/games/LoadOrder.h"
#include "qvr/games/Masters.h"
#include "qvr/package/Archives.h"

#include <string>
#include <vector>

namespace qvr {

struct FileConflict {
    std::string Path;                  // below the data folder, levels joined by "\"
    std::vector<std::string> Installs; // the plug-ins that wrote it, in the order they load
    std::string InPlace;               // whose copy is there: "" when none is (changed since)
};

struct ListProblem {
    enum class Kind {
        Missing,    // no file of that name
        LetterCase, // only a file whose name differs in letter case
        Gap,        // the number is missing: the game reads nothing after it
    };
    std::string Entry; // "GameFile3", "content"
    std::string File;  // the name the entry gives ("" for a gap)
    Kind What = Kind::Missing;
    std::string OnDisk; // for LetterCase: the name on disk
};

struct ChangedFile {
    std::string Install; // the plug-in whose copy should be there
    std::string Path;
    bool Missing = false; // gone, rather than changed
};

struct SetupReport {
    std::string Target;   // the data folder, or openmw.cfg
    std::string ListFile; // Morrowind.ini or openmw.cfg; "" when there is none
    std::vector<std::string> LoadOrder;
    std::vector<FileConflict> Conflicts;
    std::vector<MasterProblem> Masters;
    std::vector<ListProblem> Lists;
    std::vector<ChangedFile> Changed;
    std::vector<std::string> Unreadable;  // records, plug-in headers, Morrowind.ini: unreadable
    std::vector<std::string> Interrupted; // installs and removals cut short, by name
    size_t Problems() const {
        return Conflicts.size() + Masters.size() + Lists.size() + Changed.size() +
               Unreadable.size() + Interrupted.size();
    }
};

// The original engine: the data folder, with Morrowind.ini beside it (in the folder above).
// Without Morrowind.ini every plug-in in the data folder counts as enabled.
SetupReport CheckDataFolder(const std::string& dataFolder);
// OpenMW: the data= folders and content= lines of the file at configPath.
SetupReport CheckOpenMW(const std::string& configPath);

// What installing an archive would do to a setup, shown before the install.
struct InstallPreview {
    struct Replaced {
        std::string Install;            // the installed plug-in (its archive's name without one)
        std::vector<std::string> Files; // its files the archive would replace
    };
    std::vector<Replaced> Replaces;
    std::vector<MissingMaster> Missing; // masters neither in the archive nor in the target
};
// For arc installed into dataFolder: the recorded installs (but arc's own earlier one) whose
// files it would replace, and the masters missing there.
InstallPreview PreviewInstall(const Archives& arc, const std::string& dataFolder);
// The preview in a few lines for a window ("" for nothing to say).
std::string DescribePreview(const InstallPreview& preview);

} // namespace qvr
