#include "qvr/platform/FindData.h"

#include "qvr/platform/detail/platform.h"

namespace qvr {

FindData GetFindData(const std::string& path) {
    return platform::FindFile(path);
}

std::string FormatFileDate(const FindData& d) {
    return std::to_string(d.Month) + "/" + std::to_string(d.Day) + "/" + std::to_string(d.Year) +
           " " + std::to_string(d.Hour) + ":" + std::to_string(d.Minute) + ":" +
           std::to_string(d.Second);
}

std::string FormatArchiveDate() {
    return platform::LocalDateTimeText();
}

} // namespace qvr
