#pragma once
// Command-line parsing in the usual style: long options with "=" or a separate value, short
// options that may be grouped (-qv) or carry their value (-j4), "--" ending the options, and
// options anywhere among the operands.

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace qvrtool {

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct OptionSpec {
    std::string Long; // without the dashes, e.g. "jobs"
    char Short = 0;   // 0 when there is none
    bool TakesValue = false;
};

struct ParsedArgs {
    std::map<std::string, std::vector<std::string>> Options; // by long name; flags hold ""
    std::vector<std::string> Operands;

    bool Has(const std::string& name) const { return Options.count(name) != 0; }
    // The last value given, or fallback.
    std::string Value(const std::string& name, const std::string& fallback = "") const;
};

// Throws UsageError naming the offending argument. With untilOperand, the first operand and
// everything after it are left as operands (options before a command name).
ParsedArgs ParseArgs(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
                     bool untilOperand = false);

// "-j" values: a whole number from 1 to 1024.
unsigned ParseJobs(const std::string& text);

} // namespace qvrtool
