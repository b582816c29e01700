#include "qvr/format/OwnNames.h"

namespace qvr {

namespace {

// The patterns are plain ASCII, so folding ASCII letters is enough to match any letter case.
std::string FoldAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

} // namespace

bool IsProgramOwnName(const std::string& level) {
    const std::string name = FoldAscii(level);
    return name == ".qvr-installed" || name == ".qvr-openmw" ||
           (name.starts_with("~qvr-") && name.ends_with(".tmp")) || name.ends_with("-journal");
}

std::string ProgramOwnLevel(const std::string& FilePath, const std::string& FileName) {
    size_t start = 0;
    while (!FilePath.empty()) {
        const size_t end = FilePath.find('\\', start);
        const std::string level = FilePath.substr(start, end - start);
        if (IsProgramOwnName(level))
            return level;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return IsProgramOwnName(FileName) ? FileName : std::string();
}

} // namespace qvr
