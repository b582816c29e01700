#pragma once
// Where the game's data lies inside an archive: the data root (the folder whose top level holds
// plug-ins, .bsa files or the game's data folders), numbered options ("00 Core", "01 Bigger
// Rocks"), or the reason no root can be taken without asking. Pure functions over member paths
// (levels joined by '/'), so what is found can be shown before anything is written.

#include <string>
#include <vector>

namespace qvr::sources {

struct Option {
    int Number = 0;
    std::string Label;  // the number as written: "01"
    std::string Name;   // what follows it: "Bigger Rocks"
    std::string Folder; // the option's folder: "MyMod/01 Bigger Rocks"
    std::string Root;   // its data root: Folder, or a folder inside it ("…/Data Files")
};

enum class LayoutKind {
    Root,         // one data root
    Options,      // numbered options (and maybe data beside them)
    SeveralRoots, // more than one folder could be the root: the player must choose
    NoData,       // no plug-in, .bsa or known data folder anywhere: the player must choose
};

struct Layout {
    LayoutKind Kind = LayoutKind::NoData;
    // Root: the data root ("" for the archive's top). Options: the folder holding them.
    std::string Root;
    // Options: whether the folder holding them has data of its own, installed whatever is
    // chosen (its files and folders other than the options).
    bool RootHoldsData = false;
    // Options, when RootHoldsData: the folder of that data, Root or a "Data Files" or "Data"
    // folder in it.
    std::string Base;
    std::vector<Option> Options;         // Options: in number order
    std::vector<std::string> Candidates; // SeveralRoots: the roots; NoData: the top and its folders
};

Layout FindLayout(const std::vector<std::string>& paths);

// A folder of an archive as messages name it: "the top", or "Folder/".
std::string ShownFolder(const std::string& folder);

// One member's place below the data folder.
struct Placed {
    size_t Member = 0;  // index into the paths given
    std::string Target; // below the data folder, levels joined by '/'
};
struct Placement {
    std::vector<Placed> Files;   // in member order
    std::vector<size_t> LeftOut; // members outside the root and the chosen options
};

// Every member below root ("" for the top), the root's own levels taken off.
Placement PlaceFromRoot(const std::vector<std::string>& paths, const std::string& root);
// For an Options layout: the data beside the options (when RootHoldsData) and the chosen
// options in number order, a later one's file replacing an earlier one's of the same target
// (compared ignoring letter case). A replaced member is neither placed nor left out: it lies
// inside what was chosen.
Placement PlaceOptions(const std::vector<std::string>& paths, const Layout& layout,
                       const std::vector<Option>& chosen);

// The lowest-numbered option and those named by their labels ("2" and "02" alike), in number
// order; why is set (and nothing answered) when a label names none.
std::vector<Option> ChooseOptions(const Layout& layout, const std::vector<std::string>& labels,
                                  std::string& why);

} // namespace qvr::sources
