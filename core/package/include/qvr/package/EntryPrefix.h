#pragma once
// The first bytes of a member, inflated no further than asked: enough to read a plug-in's
// header without unpacking the whole plug-in.

#include "qvr/package/Archives.h"
#include "qvr/platform/Result.h"

#include <cstddef>
#include <string>

namespace qvr {

// Fills out with the first min(maxBytes, the member's size) bytes of the entry of the open
// archive; fewer when its data ends sooner. Reads only as much of the block as that takes.
[[nodiscard]] Result ReadEntryPrefix(const Archives& arc, const sgFileInfo& entry, size_t maxBytes,
                                     std::string& out);

} // namespace qvr
