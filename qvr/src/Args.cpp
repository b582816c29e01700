#include "Args.h"

#include <algorithm>

namespace qvrtool {

std::string ParsedArgs::Value(const std::string& name, const std::string& fallback) const {
    auto it = Options.find(name);
    return it == Options.end() || it->second.empty() ? fallback : it->second.back();
}

ParsedArgs ParseArgs(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
                     bool untilOperand) {
    ParsedArgs parsed;
    auto byLong = [&](const std::string& name) -> const OptionSpec* {
        for (const auto& s : specs)
            if (s.Long == name)
                return &s;
        return nullptr;
    };
    auto byShort = [&](char c) -> const OptionSpec* {
        for (const auto& s : specs)
            if (s.Short && s.Short == c)
                return &s;
        return nullptr;
    };
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            parsed.Operands.push_back(arg);
            if (untilOperand)
                optionsEnded = true;
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg[1] == '-') {
            std::string name = arg.substr(2);
            std::string value;
            bool hasValue = false;
            if (auto eq = name.find('='); eq != std::string::npos) {
                value = name.substr(eq + 1);
                name.resize(eq);
                hasValue = true;
            }
            const OptionSpec* opt = byLong(name);
            if (!opt)
                throw UsageError("unknown option --" + name);
            if (opt->TakesValue) {
                if (!hasValue) {
                    if (i + 1 >= args.size())
                        throw UsageError("option --" + name + " needs a value");
                    value = args[++i];
                }
                parsed.Options[opt->Long].push_back(value);
            } else {
                if (hasValue)
                    throw UsageError("option --" + name + " takes no value");
                parsed.Options[opt->Long].push_back("");
            }
            continue;
        }
        for (size_t k = 1; k < arg.size(); ++k) {
            const OptionSpec* opt = byShort(arg[k]);
            if (!opt)
                throw UsageError(std::string("unknown option -") + arg[k]);
            if (!opt->TakesValue) {
                parsed.Options[opt->Long].push_back("");
                continue;
            }
            std::string value = arg.substr(k + 1);
            if (value.empty()) {
                if (i + 1 >= args.size())
                    throw UsageError(std::string("option -") + arg[k] + " needs a value");
                value = args[++i];
            }
            parsed.Options[opt->Long].push_back(value);
            break;
        }
    }
    return parsed;
}

unsigned ParseJobs(const std::string& text) {
    if (text.empty() ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        throw UsageError("-j needs a whole number of threads, not \"" + text + "\"");
    // A whole number, if too large to read, is still one outside the range.
    const unsigned long n = text.size() > 9 ? 0 : std::stoul(text);
    if (n < 1 || n > 1024)
        throw UsageError("-j needs a number of threads from 1 to 1024, not " + text);
    return static_cast<unsigned>(n);
}

} // namespace qvrtool
