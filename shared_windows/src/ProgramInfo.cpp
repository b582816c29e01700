#include "ProgramInfo.h"

namespace shared_windows {

std::optional<int> AnswerInfoOptions(const std::vector<std::string>& arguments,
                                     const ProgramInfo& info, std::ostream& out) {
    for (const std::string& a : arguments) {
        if (a == "--")
            break;
        if (a == "--help" || a == "-h") {
            out << "Usage: " << info.Name << " " << info.Usage;
            return 0;
        }
        if (a == "--version" || a == "-V") {
            out << info.Name << " " << info.Version << "\n";
            return 0;
        }
    }
    return std::nullopt;
}

std::vector<std::string> ArgumentsOf(int argc, char** argv) {
    std::vector<std::string> out;
    for (int i = 1; i < argc; ++i)
        out.emplace_back(argv[i]);
    return out;
}

} // namespace shared_windows
