// installed and where: what the install records hold, and which data folders were found.

#include "Command.h"
#include "ListFormat.h"
#include "OpenMWTarget.h"
#include "Places.h"
#include "Removal.h"

#include "qvr/games/GameFolders.h"
#include "qvr/install/InstallRecord.h"
#include "qvr/platform/HostEnvironment.h"

#include <iostream>

namespace qvrtool {

namespace {

void PrintInstalledJson(const std::vector<qvr::InstallRecord>& records, const std::string& data) {
    std::cout << "{\n  \"data_folder\": " << JsonString(data) << ",\n  \"installs\": [";
    for (size_t k = 0; k < records.size(); ++k) {
        const qvr::InstallRecord& r = records[k];
        std::cout << (k ? ",\n    " : "\n    ") << "{\"name\": " << JsonString(r.Name)
                  << ", \"version\": " << JsonString(r.Version) << ", \"files\": " << r.Files.size()
                  << ", \"installed_utc\": " << JsonString(r.Date)
                  << ", \"archive\": " << JsonString(r.Archive) << ", \"interrupted\": "
                  << (r.State == qvr::RecordState::Installed ? "false" : "true") << "}";
    }
    std::cout << (records.empty() ? "]\n}\n" : "\n  ]\n}\n");
}

struct FoundFolder {
    std::string Folder;
    std::vector<std::pair<std::string, std::string>> Through; // source, origin
};

// Whether two names of folders name one folder: the same folder on disk, or the same text.
bool SameFolder(const std::string& a, const std::string& b) {
    std::error_code ec;
    if (fs::equivalent(Native(a), Native(b), ec))
        return true;
    const fs::path x = fs::weakly_canonical(Native(a), ec);
    const fs::path y = ec ? fs::path() : fs::weakly_canonical(Native(b), ec);
    return !ec && x == y;
}

// The folder QVRInstaller remembers and those found, each folder once with every place it was
// found through.
std::vector<FoundFolder> FoldersFound() {
    std::vector<FoundFolder> folders;
    auto add = [&](const std::string& folder, const std::string& source,
                   const std::string& origin) {
        for (FoundFolder& known : folders)
            if (SameFolder(known.Folder, folder)) {
                known.Through.emplace_back(source, origin);
                return;
            }
        folders.push_back({folder, {{source, origin}}});
    };
    if (const std::string remembered = InstallerSetting("TESLocation"); !remembered.empty())
        add(remembered, "remembered by QVRInstaller", "");
    for (const qvr::GameFolder& f : qvr::FindGameFolders(qvr::CurrentHostEnvironment()))
        add(f.Folder, qvr::SourceName(f.Source), f.Origin);
    return folders;
}

} // namespace

int CmdInstalled(const ParsedArgs& a, const Context& ctx) {
    NeedOpenMWForModsFolder(a);
    NeedOperands(a, 0, a.Has("openmw") ? 0 : 1, "qvr installed [DATA_FOLDER]");
    const std::string data = a.Has("openmw")
                                 ? ModsFolder(a.Value("mods-folder"))
                                 : ChooseDataFolder(a.Operands.empty() ? "" : a.Operands[0], ctx,
                                                    "qvr installed DATA_FOLDER");
    std::vector<std::string> problems;
    const auto records = qvr::ListInstallRecords(data, &problems);
    for (const std::string& p : problems)
        Warn(p);
    if (a.Has("json")) {
        PrintInstalledJson(records, data);
        return problems.empty() ? kOk : kSomeFailed;
    }
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
    const std::vector<FoundFolder> folders = FoldersFound();
    if (a.Has("json")) {
        std::cout << "[";
        for (size_t k = 0; k < folders.size(); ++k) {
            std::string through;
            for (const auto& [source, origin] : folders[k].Through)
                through += (through.empty() ? "" : ", ") + std::string("{\"source\": ") +
                           JsonString(source) + ", \"origin\": " + JsonString(origin) + "}";
            std::cout << (k ? ",\n " : "\n ") << "{\"folder\": " << JsonString(folders[k].Folder)
                      << ", \"found_through\": [" << through << "]}";
        }
        std::cout << (folders.empty() ? "]\n" : "\n]\n");
    } else {
        for (const FoundFolder& f : folders) {
            std::cout << Printable(f.Folder) << "\n";
            for (const auto& [source, origin] : f.Through)
                std::cout << "    " << Printable(source)
                          << (origin.empty() ? "" : ": " + Printable(origin)) << "\n";
        }
    }
    if (folders.empty()) {
        if (!ctx.Quiet)
            Warn("No Morrowind data folder (one holding Morrowind.esm) was found; name it when "
                 "installing: qvr install ARCHIVE DATA_FOLDER");
        return kSomeFailed;
    }
    return kOk;
}

} // namespace qvrtool
