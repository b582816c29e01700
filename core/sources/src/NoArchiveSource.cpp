// Builds without libarchive (Windows, for now) read QVR packages only.

#include "qvr/sources/detail/Sources.h"

namespace qvr::sources::detail {

Opened OpenOther(const std::string& path, const std::string&, bool) {
    return {nullptr,
            Result::Unusable(path + ": not a QVR package; this build of qvr reads only "
                                    "QVR packages (zip, 7z and rar need its Linux build)")};
}

} // namespace qvr::sources::detail

namespace qvr::sources {
bool ReadsOtherArchives() {
    return false;
}
} // namespace qvr::sources
