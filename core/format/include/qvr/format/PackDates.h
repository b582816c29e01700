#pragma once
// The dates a new package and its entries record.

#include "qvr/platform/Result.h"

#include <string>

namespace qvr {

// With SOURCE_DATE_EPOCH set (whole seconds since 1970) the dates are taken from it, in UTC
// and in the C locale's form whatever the user's locale, so that packing the same files twice,
// on any machine, gives the same bytes; otherwise from the clock, in the user's form.
struct PackDates {
    std::string Today;       // the date in the short form
    std::string ArchiveDate; // date and time of adding; "" for the moment of adding
    bool Pinned = false;     // taken from SOURCE_DATE_EPOCH
    long long Epoch = 0;     // its value, when pinned
};
// Fills dates. A SOURCE_DATE_EPOCH that is not a plain number of seconds, or lies past what
// a package's dates can hold (the end of 2069), answers ArchiveUnusable saying so.
[[nodiscard]] Result CurrentPackDates(PackDates& dates);

} // namespace qvr
