#pragma once
// Whether a package's files would land where the game looks: a package is installed as it is,
// so its top must be what a player's data folder holds. Files packed below a wrapper folder
// ("MyMod/Data Files/Mod.esp"), numbered options or several folders that each look like the
// data folder would be installed one level too deep.

#include "qvr/package/Archives.h"
#include "qvr/sources/Layout.h"

#include <string>
#include <vector>

namespace qvr::sources {

struct WrappedData {
    LayoutKind Kind = LayoutKind::NoData;
    // Root: the folder a player's data folder should match ("MyMod/Data Files"), "" when the
    // package's top is right (nothing to say).
    std::string Inner;
    // Options: each option's data root; SeveralRoots: the folders that could each be it.
    std::vector<std::string> Folders;
    // What is wrong, in one sentence without a subject ("its files sit below ..."); "" when
    // nothing is.
    std::string Problem;
    bool Found() const { return !Problem.empty(); }
};

// Over a package's entry paths (levels joined by '/'). A package without plug-ins, .bsa files
// or known data folders is taken as it is: nothing tells where its data folder would be.
WrappedData FindWrappedData(const std::vector<std::string>& paths);

// The entry paths of an open package, its information entry (and any other package's) left out.
std::vector<std::string> PackagePaths(const Archives& arc);

} // namespace qvr::sources
