#pragma once
// --help and --version of the two programs: answered on the terminal before any window is
// made, so that they work without a display (and help2man can read them).

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace shared_windows {

struct ProgramInfo {
    std::string Name;    // "QVRInstaller"
    std::string Version; // "1.11"
    std::string Usage;   // the help text after the "Usage:" line's program name
};

// When arguments (those after the program's name) ask for help or the version, prints it to out
// and answers the exit status; nullopt when they are for the program itself. Only options that
// stand before a "--" count.
std::optional<int> AnswerInfoOptions(const std::vector<std::string>& arguments,
                                     const ProgramInfo& info, std::ostream& out);

// The arguments of main, without the program's name.
std::vector<std::string> ArgumentsOf(int argc, char** argv);

} // namespace shared_windows
