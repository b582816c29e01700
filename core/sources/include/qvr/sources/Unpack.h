#pragma once
// What of an archive a package is made from: its data root, one named, or numbered options
// chosen, unpacked into a folder with the times the archive records, ready for the packing
// every program shares. Nothing is guessed: where the layout leaves a choice, it is asked for.

#include "qvr/platform/Result.h"
#include "qvr/sources/Layout.h"
#include "qvr/sources/Source.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace qvr::sources {

struct Choice {
    // A folder of the archive to take as the data root ('/' or '\' between levels; "", "." or
    // "/" for the top), overriding what the layout finds. Empty with RootGiven false: none.
    std::string Root;
    bool RootGiven = false;
    // The numbered options to take, by their numbers ("2" and "02" alike); exactly these.
    std::vector<std::string> Options;
};

struct Selection {
    Layout Found;
    Placement Placed;
    // The choice was the layout's to leave open: Message names what to choose from.
    bool NeedsChoice = false;
    // What was taken, for people: "the data root MyMod/Data Files/", "options 00 Core and
    // 02 Patch"; on failure, why nothing was.
    std::string Message;
    // The members outside what was taken, as the archive names them.
    std::vector<std::string> LeftOut;
};

// Applies choice to the members' paths. Fails (EntryFailed) when the layout needs a choice that
// was not given (NeedsChoice), when the root named holds nothing, when options are given for
// an archive without them or name none of them, and when nothing at all would be taken.
[[nodiscard]] Result Select(const std::vector<std::string>& paths, const Choice& choice,
                            Selection& out);

// Called after each member written (done of total, its path in the archive); false stops.
using UnpackProgress = std::function<bool(size_t done, size_t total, const std::string& path)>;

// Extracts the members placed into folder (which exists), each below its target, with the time
// the archive records for it. Fails, naming the member, at the first one that cannot be
// written; what was written stays for the caller's work folder to take away.
[[nodiscard]] Result Unpack(Source& source, const Placement& placed, const std::string& folder,
                            const UnpackProgress& progress = {});

} // namespace qvr::sources
