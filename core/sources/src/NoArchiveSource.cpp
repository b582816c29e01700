// Builds without libarchive (Windows, for now) read QVR packages only.

#include "qvr/sources/detail/Sources.h"
#include "qvr/sources/detail/ZipMembers.h"

namespace qvr::sources::detail {

Opened OpenOther(const std::string& path, const std::string&, bool) {
    return {nullptr,
            Result::Unusable(path + ": not a QVR package; this build of qvr reads only "
                                    "QVR packages (zip, 7z and rar need its Linux build)")};
}

// This build reads no zip: there is nothing to list.
std::optional<ZipListing> ListZipDirectly(const std::string&) {
    return std::nullopt;
}

} // namespace qvr::sources::detail

namespace qvr::sources {
bool ReadsOtherArchives() {
    return false;
}
} // namespace qvr::sources
