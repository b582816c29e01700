#include "qvr/format/InfoEntry.h"

#include "qvr/platform/Encoding.h"

#include <string_view>

namespace qvr {

bool LooksLikeInfoEntryName(const std::string& name) {
    constexpr std::string_view kEnd = ".qvr.ifo";
    return name.size() > kEnd.size() && LowerText(name.substr(name.size() - kEnd.size())) == kEnd;
}

InfoEntryChoice ChooseInfoEntry(const std::string& packageFileName,
                                const std::vector<std::string>& topLevel) {
    InfoEntryChoice choice;
    choice.Name = packageFileName + ".ifo";
    const std::string own = LowerText(choice.Name);
    for (const std::string& name : topLevel) {
        if (LowerText(name) == own) {
            choice.Renamed.clear();
            return choice;
        }
        if (LooksLikeInfoEntryName(name))
            choice.Renamed.push_back(name);
    }
    if (choice.Renamed.size() == 1)
        choice.Name = choice.Renamed.front();
    return choice;
}

} // namespace qvr
