// installed and where: what the install records hold, and which data folders were found.

#include "Command.h"
#include "Places.h"
#include "Removal.h"

#include "qvr/games/GameFolders.h"
#include "qvr/install/InstallRecord.h"
#include "qvr/platform/HostEnvironment.h"

#include <iostream>

namespace qvrtool {

int CmdInstalled(const ParsedArgs& a, const Context& ctx) {
    NeedOperands(a, 0, 1, "qvr installed [DATA_FOLDER]");
    const std::string data =
        ChooseDataFolder(a.Operands.empty() ? "" : a.Operands[0], ctx, "qvr installed DATA_FOLDER");
    std::vector<std::string> problems;
    const auto records = qvr::ListInstallRecords(data, &problems);
    for (const std::string& p : problems)
        Warn(p);
    if (records.empty()) {
        if (!ctx.Quiet)
            std::cout << "No installs are recorded in " << Printable(data) << "\n";
        return problems.empty() ? kOk : kSomeFailed;
    }
    size_t nameWidth = 4, versionWidth = 7;
    for (const auto& r : records) {
        nameWidth = std::max(nameWidth, Printable(r.Name.empty() ? r.Archive : r.Name).size());
        versionWidth = std::max(versionWidth, Printable(r.Version).size());
    }
    std::cout << PadRight("Name", nameWidth + 2) << PadRight("Version", versionWidth + 2)
              << PadLeft("Files", 5) << "  " << PadRight("Installed (UTC)", 21) << "Archive\n";
    for (const auto& r : records) {
        std::string state;
        if (r.State != qvr::RecordState::Installed)
            state = "  (interrupted; the next install or removal finishes it)";
        std::cout << PadRight(Printable(r.Name.empty() ? r.Archive : r.Name), nameWidth + 2)
                  << PadRight(Printable(r.Version), versionWidth + 2)
                  << PadLeft(std::to_string(r.Files.size()), 5) << "  "
                  << PadRight(Printable(r.Date), 21) << Printable(r.Archive) << state << "\n";
    }
    if (!ctx.Quiet)
        std::cout << Plural(static_cast<int>(records.size()), "plug-in", "plug-ins")
                  << " recorded in " << Printable(data) << "\n";
    return problems.empty() ? kOk : kSomeFailed;
}

int CmdWhere(const ParsedArgs& a, const Context& ctx) {
    NeedOperands(a, 0, 0, "qvr where");
    const std::string remembered = InstallerSetting("TESLocation");
    if (!remembered.empty())
        std::cout << Printable(remembered) << "\n    remembered by QVRInstaller\n";
    const auto found = qvr::FindGameFolders(qvr::CurrentHostEnvironment());
    for (const auto& f : found)
        std::cout << Printable(f.Folder) << "\n    " << qvr::SourceName(f.Source) << ": "
                  << Printable(f.Origin) << "\n";
    if (found.empty() && remembered.empty()) {
        if (!ctx.Quiet)
            Warn("No Morrowind data folder (one holding Morrowind.esm) was found; name it when "
                 "installing: qvr install ARCHIVE DATA_FOLDER");
        return kSomeFailed;
    }
    return kOk;
}

} // namespace qvrtool
