#pragma once
// What the system tells of one file: its size and last-write time, for an entry's dates.

#include <cstdint>
#include <string>

namespace qvr {

// The directory-search record of one file; only the last-write time is used.
struct FindData {
    bool Found = false; // when false, every other field is empty
    std::string Name;   // the file's name
    int64_t Size = 0;
    // Last-write time broken down in UTC.
    int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
};

FindData GetFindData(const std::string& path);
// "3/7/2003 14:5:9" from a FindData's last-write time.
std::string FormatFileDate(const FindData& data);
// The current local date in the locale's short date format, a blank, and the local time
// in its long time format.
std::string FormatArchiveDate();

} // namespace qvr
