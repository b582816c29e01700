#include "qvr/format/PackDates.h"

#include "qvr/platform/Encoding.h"

#include <cstdlib>
#include <ctime>
#include <iomanip>
#include <locale>
#include <sstream>

namespace qvr {
namespace {

bool LocalTime(std::time_t t, std::tm& out, bool utc) {
#ifdef _WIN32
    return (utc ? gmtime_s(&out, &t) : localtime_s(&out, &t)) == 0;
#else
    return (utc ? gmtime_r(&t, &out) : localtime_r(&t, &out)) != nullptr;
#endif
}

std::string FormatTm(const std::tm& tm, const char* format) {
    std::ostringstream out;
    try {
        out.imbue(std::locale(""));
    } catch (const std::exception&) {
        // An unknown locale in the environment: the neutral one will do.
    }
    out << std::put_time(&tm, format);
    std::string text = out.str();
    if (text.empty() || !qvr::Utf8ToCp1252(text)) {
        std::ostringstream plain;
        plain << std::put_time(&tm, std::string(format) == "%x" ? "%m/%d/%y" : "%m/%d/%y %H:%M:%S");
        text = plain.str();
    }
    return text;
}

bool PinnedEpoch(long long& value) {
    const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
    if (!epoch || !*epoch)
        return false;
    char* end = nullptr;
    value = std::strtoll(epoch, &end, 10);
    return end && *end == '\0' && value >= 0;
}

} // namespace

PackDates CurrentPackDates() {
    PackDates dates;
    std::tm tm{};
    long long value = 0;
    if (PinnedEpoch(value)) {
        if (LocalTime(static_cast<std::time_t>(value), tm, true)) {
            dates.Today = FormatTm(tm, "%x");
            dates.ArchiveDate = FormatTm(tm, "%x %X");
            dates.Pinned = true;
            dates.Epoch = value;
            return dates;
        }
    }
    if (LocalTime(std::time(nullptr), tm, false))
        dates.Today = FormatTm(tm, "%x");
    return dates;
}

} // namespace qvr
