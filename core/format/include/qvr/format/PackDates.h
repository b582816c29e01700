#pragma once
// The dates a new package and its entries record.

#include <string>

namespace qvr {

// With SOURCE_DATE_EPOCH set (whole seconds, not negative) the dates are taken from it, in
// UTC, so that packing the same files twice gives the same bytes; otherwise from the clock.
struct PackDates {
    std::string Today;       // the date in the user's short form
    std::string ArchiveDate; // date and time of adding; "" for the moment of adding
    bool Pinned = false;     // taken from SOURCE_DATE_EPOCH
    long long Epoch = 0;     // its value, when pinned
};
PackDates CurrentPackDates();

} // namespace qvr
