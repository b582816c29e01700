#pragma once
// The qvr command line: one entry point, with the pieces that are tested on their own.

#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace qvrtool {

// Exit codes.
constexpr int kOk = 0;
constexpr int kSomeFailed = 1; // some entries failed or were refused, each reported
constexpr int kUsage = 2;      // a usage error, or an archive that cannot be read

// args without the program name; output goes to standard output and error.
int Run(const std::vector<std::string>& args);

// The answers to "overwrite this file?" on a terminal.
enum class OverwriteAnswer { Overwrite, Skip, All, None };
// y/o/yes/overwrite, n/s/no/skip, A/all, N/none (words in any letter case); nullopt otherwise.
std::optional<OverwriteAnswer> ParseOverwriteAnswer(const std::string& line);

// Line breaks of any kind (LF, CR LF, CR) as CR LF, the form notes are stored in.
std::string ToCrLf(const std::string& text);

// Dates for new packages and entries. With SOURCE_DATE_EPOCH set they are taken from it (in
// UTC), so that packing the same files twice gives the same bytes.
struct PackDates {
    std::string Today;       // the date in the user's short form
    std::string ArchiveDate; // date and time of adding; "" for the moment of adding
    bool Pinned = false;     // taken from SOURCE_DATE_EPOCH
    long long Epoch = 0;     // its value, when pinned
};
PackDates CurrentPackDates();

} // namespace qvrtool
