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
    const qvr::openmw::Target where =
        qvr::openmw::TargetFor(arc.CurrentArchive, ConfigPath(), mods);
    return {where.ConfigPath, where.ModsFolder, where.ModFolder};
}

bool FinishOpenMWInstall(const qvr::Archives& arc, const OpenMWInstall& where, const Context& ctx) {
    const qvr::openmw::ListReport report =
        qvr::openmw::ListInstall(arc, {where.ConfigPath, where.ModsFolder, where.ModFolder});
    if (!report.Outcome) {
        Warn(report.Outcome.Message);
        return false;
    }
    if (!ctx.Quiet)
        std::cout << "Listed " << where.ModFolder << " in " << where.ConfigPath << " with "
                  << Plural(static_cast<int>(report.Plugins), "plug-in", "plug-ins") << "\n";
    for (const std::string& master : report.MissingMasters)
        Warn("warning: " + Printable(master) +
             " is needed but no content= line enables it and no data folder holds it");
    return true;
}

int UninstallOpenMW(const std::string& what, const std::string& modsFolder, bool dryRun,
                    const Context& ctx) {
    const std::string mods = ModsFolder(modsFolder);
    const std::string cfgPath = ConfigPath();
    const std::optional<qvr::openmw::AddedLines> found = qvr::openmw::FindInstall(mods, what);
    if (!found)
        throw CommandError{kUsage, what + ": no OpenMW install of it is recorded in " + mods};
    const qvr::openmw::AddedLines& lines = *found;
    if (dryRun) {
        int code =
            ReportRemoval(qvr::PlanRemoval(lines.Folder, lines.Key), lines.Folder, true, ctx);
        if (!lines.Lines.DataFolder.empty())
            std::cout << "would take out of " << cfgPath
                      << ": data=" << qvr::openmw::Quote(lines.Lines.DataFolder) << "\n";
        for (const auto& c : lines.Lines.Content)
            std::cout << "would take out of " << cfgPath << ": content=" << c << "\n";
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
        std::cout << "Took " << lines.Folder << " and its plug-ins out of " << cfgPath << "\n";
        if (report.FolderKept)
            std::cout << "The folder " << lines.Folder << " stays: it holds files kept\n";
    }
    return code;
}

} // namespace qvrtool
