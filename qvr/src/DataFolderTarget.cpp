#include "DataFolderTarget.h"

#include "Terminal.h"

#include "qvr/games/Masters.h"

#include <iostream>

namespace qvrtool {

bool TellActivation(const std::string& data, bool activate, const qvr::Activation& enabled,
                    const Context& ctx) {
    for (const std::string& why : enabled.Problems)
        Warn("not enabled: " + Printable(why));
    if (!ctx.Quiet && !enabled.Ini.empty()) {
        if (!enabled.Plugins.empty())
            std::cout << "Enabled " << PrintableList(enabled.Plugins) << " in "
                      << Printable(enabled.Ini) << "\n";
        if (!enabled.Archives.empty())
            std::cout << "Registered " << PrintableList(enabled.Archives) << " in "
                      << Printable(enabled.Ini) << "\n";
    } else if (!ctx.Quiet && activate && qvr::MorrowindIniBeside(data)) {
        // Listed already (by the player or the launcher): nothing to say.
    } else if (!ctx.Quiet && activate) {
        std::cout << "No Morrowind.ini beside " << Printable(data)
                  << "; enable the plug-ins in the game's launcher (Data Files)\n";
    }
    return enabled.Problems.empty();
}

bool FinishDataInstall(const qvr::Archives& arc, const std::string& data, bool activate,
                       const qvr::Activation& enabled, const Context& ctx) {
    const bool told = TellActivation(data, activate, enabled, ctx);
    if (const std::string note = qvr::MissingMastersNote(arc, data); !note.empty())
        Warn("warning: " + Printable(note));
    return told;
}

} // namespace qvrtool
