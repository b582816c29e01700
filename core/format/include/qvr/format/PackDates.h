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
// Whether SOURCE_DATE_EPOCH holds a valid value: the packager then wants the same bytes
// wherever the package is made, so members are compressed with zlib alone, whose output is
// the same on every platform and every build of this program.
bool ReproduciblePackages();

} // namespace qvr
