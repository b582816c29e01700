#pragma once
// The qvr command line: one entry point, with the pieces that are tested on their own.

#include "qvr/format/PackDates.h"
#include "qvr/platform/Encoding.h"

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
// Run's answer, having said nothing, when output went to a pipe whose reader has gone (as
// `| head` does): the program then ends as SIGPIPE ends one, or, where it cannot, reports it.
constexpr int kBrokenPipe = 141;

// args without the program name; output goes to standard output and error.
int Run(const std::vector<std::string>& args);
// Says that standard output is a pipe no one reads and answers kUsage.
int ReportBrokenPipe();

// The command name closest to a mistyped one (a slip of one or two letters), or "".
std::string NearestCommand(const std::string& typed, const std::vector<std::string>& names);

// The answers to "overwrite this file?" on a terminal.
enum class OverwriteAnswer { Overwrite, Skip, All, None };
// y/o/yes/overwrite, n/s/no/skip, A/all, N/none (words in any letter case); nullopt otherwise.
std::optional<OverwriteAnswer> ParseOverwriteAnswer(const std::string& line);

// The library's rules, under the names the tool's tests know.
using qvr::CurrentPackDates;
using qvr::PackDates;
using qvr::ToCrLf;

} // namespace qvrtool
