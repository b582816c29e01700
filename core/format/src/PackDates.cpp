#include "qvr/format/PackDates.h"

#include "qvr/platform/Encoding.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iomanip>
#include <locale>
#include <sstream>

namespace qvr {
namespace {

// The archive dates hold two-digit years, which readers take as 1970 to 2069: a later moment
// would be read back a century early. 2070-01-01 00:00:00 UTC, less a second.
constexpr long long kLastPinnedEpoch = 3155759999;

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

// The C locale's short date ("11/14/23") and, with time, its date and time: what readers of
// packages fall back on, written without asking any locale so that no machine's settings
// show in a reproducible package.
std::string NeutralDate(const std::tm& tm, bool withTime) {
    char text[64];
    if (withTime)
        std::snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d", tm.tm_mon + 1, tm.tm_mday,
                      tm.tm_year % 100, tm.tm_hour, tm.tm_min, tm.tm_sec);
    else
        std::snprintf(text, sizeof text, "%02d/%02d/%02d", tm.tm_mon + 1, tm.tm_mday,
                      tm.tm_year % 100);
    return text;
}

// Whether SOURCE_DATE_EPOCH is set; value holds it. As reproducible builds ask, a value that
// is not a plain count of seconds is an error rather than quietly the current time.
Result PinnedEpoch(bool& pinned, long long& value) {
    pinned = false;
    const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
    if (!epoch || !*epoch)
        return Result::Success();
    value = 0;
    bool fits = true;
    for (const char* c = epoch; *c; ++c) {
        if (*c < '0' || *c > '9')
            return Result::Unusable(std::string("SOURCE_DATE_EPOCH is \"") + epoch +
                                    "\": it must be a whole number of seconds since 1970, in "
                                    "decimal digits only");
        fits = fits && value <= kLastPinnedEpoch;
        if (fits)
            value = value * 10 + (*c - '0');
    }
    if (!fits || value > kLastPinnedEpoch)
        return Result::Unusable(std::string("SOURCE_DATE_EPOCH is ") + epoch +
                                ": a package's dates cannot go past the end of 2069 (" +
                                std::to_string(kLastPinnedEpoch) + ")");
    pinned = true;
    return Result::Success();
}

} // namespace

Result CurrentPackDates(PackDates& dates) {
    bool pinned = false;
    long long value = 0;
    if (Result epoch = PinnedEpoch(pinned, value); !epoch)
        return epoch;
    PackDates made;
    std::tm tm{};
    if (pinned) {
        if (!LocalTime(static_cast<std::time_t>(value), tm, true))
            return Result::Unusable("SOURCE_DATE_EPOCH is " + std::to_string(value) +
                                    ": this system cannot tell its date");
        made.Today = NeutralDate(tm, false);
        made.ArchiveDate = NeutralDate(tm, true);
        made.Pinned = true;
        made.Epoch = value;
    } else if (LocalTime(std::time(nullptr), tm, false)) {
        made.Today = FormatTm(tm, "%x");
    }
    dates = std::move(made);
    return Result::Success();
}

} // namespace qvr
