#include "OpenMWTarget.h"

#include "Places.h"
#include "Removal.h"

#include "qvr/games/OpenMWConfig.h"
#include "qvr/games/OpenMWInstall.h"
#include "qvr/install/InstallRecord.h"
#include "qvr/install/RecordedInstall.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/HostEnvironment.h"

#include <iostream>
#include <optional>

namespace qvrtool {

namespace {

std::string ConfigPath() {
    return Utf8(Native(qvr::openmw::UserConfigFolder(qvr::CurrentHostEnvironment())) /
                "openmw.cfg");
}

std::string ModsFolder(const std::string& given) {
    if (!given.empty())
        return given;
    const std::string setting = InstallerSetting("OpenMWModsFolder");
    if (!setting.empty())
        return setting;
    return qvr::openmw::DefaultModsFolder(qvr::CurrentHostEnvironment());
}

} // namespace

OpenMWInstall PrepareOpenMWInstall(const qvr::Archives& arc, const std::string& modsFolder,
                                   const Context&) {
    const std::string mods = ModsFolder(modsFolder);
    if (mods.empty())
        throw CommandError{kUsage, "no mods folder is known; pass --mods-folder FOLDER"};
    return qvr::openmw::TargetFor(arc.CurrentArchive, ConfigPath(), mods);
}

bool FinishOpenMWInstall(const qvr::Archives& arc, const OpenMWInstall& where,
                         const std::vector<qvr::EntryResult>& entries, const Context& ctx) {
    const qvr::openmw::ListReport report =
        qvr::openmw::ListInstall(arc, where, qvr::openmw::InstalledPlugins(entries));
    for (const std::string& why : report.Unlisted)
        Warn("not listed in " + where.ConfigPath + ": " + why);
    if (!report.Outcome) {
        Warn(report.Outcome.Message);
        return false;
    }
    if (!ctx.Quiet)
        std::cout << "Listed " << Printable(where.ModFolder) << " in "
                  << Printable(where.ConfigPath) << " with "
                  << Plural(static_cast<int>(report.Plugins), "plug-in", "plug-ins") << "\n";
    if (!report.Unlisted.empty())
        return false;
    for (const std::string& master : report.MissingMasters)
        Warn("warning: " + Printable(master) +
             " is needed but no content= line enables it and no data folder holds it");
    return true;
}

int UninstallOpenMW(const std::string& what, const std::string& modsFolder, bool dryRun,
                    const Context& ctx) {
    const std::string mods = ModsFolder(modsFolder);
    const std::string cfgPath = ConfigPath();
    std::vector<std::string> problems;
    const std::optional<qvr::openmw::AddedLines> found =
        qvr::openmw::FindInstall(mods, what, &problems);
    for (const std::string& p : problems)
        Warn(p);
    if (!found)
        throw CommandError{kUsage, what + ": no OpenMW install of it is recorded in " + mods};
    const qvr::openmw::AddedLines& lines = *found;
    if (dryRun) {
        int code =
            ReportRemoval(qvr::PlanRemoval(lines.Folder, lines.RecordKey), lines.Folder, true, ctx);
        if (!lines.Lines.DataFolder.empty())
            std::cout << "would take out of " << Printable(cfgPath)
                      << ": data=" << Printable(qvr::openmw::Quote(lines.Lines.DataFolder)) << "\n";
        for (const auto& c : lines.Lines.Content)
            std::cout << "would take out of " << Printable(cfgPath) << ": content=" << Printable(c)
                      << "\n";
        return code;
    }
    const qvr::openmw::UninstallReport report = qvr::openmw::Uninstall(cfgPath, mods, lines);
    const int code = ReportRemoval(report.Files, lines.Folder, false, ctx);
    if (!report.Files.Outcome)
        return code;
    if (!report.Outcome) {
        Warn(report.Outcome.Message);
        return kSomeFailed;
    }
    if (!ctx.Quiet) {
        std::cout << "Took " << Printable(lines.Folder) << " and its plug-ins out of "
                  << Printable(cfgPath) << "\n";
        if (report.FolderKept)
            std::cout << "The folder " << Printable(lines.Folder)
                      << " stays: it holds files kept, or was there before the install\n";
    }
    return code;
}

} // namespace qvrtool
