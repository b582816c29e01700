#include "OpenMWTarget.h"

#include "Places.h"
#include "Removal.h"

#include "qvr/games/OpenMWConfig.h"
#include "qvr/games/OpenMWInstall.h"
#include "qvr/install/InstallRecord.h"
#include "qvr/install/RecordedInstall.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/HostEnvironment.h"

#include <filesystem>
#include <iostream>
#include <optional>

namespace qvrtool {

namespace {

// The openmw.cfg OpenMW reads (Flatpak's included); one named by OPENMW_CONFIG or
// OPENMW_CONFIG_DIR is made when missing. None: the command stops.
std::string ConfigPath() {
    const std::optional<std::string> cfg = qvr::openmw::ConfigToEdit(qvr::CurrentHostEnvironment());
    if (!cfg)
        throw CommandError{kUsage, "no openmw.cfg was found (is OpenMW set up? run it once); name "
                                   "one with OPENMW_CONFIG=FILE; nothing was installed"};
    return *cfg;
}

} // namespace

void NeedOpenMWForModsFolder(const ParsedArgs& a) {
    if (a.Has("mods-folder") && !a.Has("openmw"))
        throw UsageError("--mods-folder goes with --openmw");
}

std::string ModsFolder(const std::string& given) {
    if (!given.empty())
        return given;
    std::string known = InstallerSetting("OpenMWModsFolder");
    if (known.empty())
        known = qvr::openmw::DefaultModsFolder(qvr::CurrentHostEnvironment());
    if (known.empty())
        throw CommandError{kUsage, "no mods folder is known; pass --mods-folder FOLDER"};
    return known;
}

OpenMWInstall PrepareOpenMWInstall(const qvr::Archives& arc, const std::string& modsFolder,
                                   const Context&) {
    return PrepareOpenMWInstallOf(arc.CurrentArchive, modsFolder);
}

OpenMWInstall PrepareOpenMWInstallOf(const std::string& archivePath,
                                     const std::string& modsFolder) {
    const std::string mods = ModsFolder(modsFolder);
    return qvr::openmw::TargetFor(archivePath, ConfigPath(), mods);
}

bool FinishOpenMWInstall(const OpenMWInstall& where, const qvr::openmw::ListReport& report,
                         const Context& ctx) {
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
    if (!report.MastersNote.empty())
        Warn("warning: " + Printable(report.MastersNote));
    return true;
}

int UninstallOpenMW(const std::string& what, const std::string& modsFolder, bool dryRun, bool yes,
                    const Context& ctx) {
    const std::string mods = ModsFolder(modsFolder);
    std::vector<std::string> problems;
    const std::optional<qvr::openmw::AddedLines> found =
        qvr::openmw::FindInstall(mods, what, &problems);
    for (const std::string& p : problems)
        Warn(p);
    if (!found)
        throw CommandError{kUsage, what + ": no OpenMW install of it is recorded in " + mods};
    const qvr::openmw::AddedLines& lines = *found;
    // The openmw.cfg the install recorded; the one found now for an install of before.
    const std::string cfgPath = lines.Engine ? lines.ConfigPath : ConfigPath();
    if (dryRun) {
        int code = ReportRemoval(qvr::PlanRemoval(lines.RecordFolder, lines.RecordKey),
                                 lines.Folder, true, ctx);
        if (!lines.Lines.DataFolder.empty())
            std::cout << "would take out of " << Printable(cfgPath)
                      << ": data=" << Printable(qvr::openmw::Quote(lines.Lines.DataFolder)) << "\n";
        for (const auto& c : lines.Lines.Content)
            std::cout << "would take out of " << Printable(cfgPath) << ": content=" << Printable(c)
                      << "\n";
        return code;
    }
    if (!yes && !ConfirmRemoval(what, lines.Folder, ctx))
        return kOk;
    const qvr::openmw::UninstallReport report = qvr::openmw::Uninstall(cfgPath, mods, lines);
    const int code = ReportRemoval(report.Files, lines.Folder, false, ctx);
    if (!report.Files.Outcome)
        return code;
    if (!report.Outcome) {
        Warn(report.Outcome.Message);
        return kSomeFailed;
    }
    if (!ctx.Quiet) {
        std::error_code ec;
        if (std::filesystem::exists(Native(cfgPath), ec))
            std::cout << "Took " << Printable(lines.Folder) << " and its plug-ins out of "
                      << Printable(cfgPath) << "\n";
        else // gone (the player's, or another program's doing): nothing was there to take out
            std::cout << "No line was taken out: " << Printable(cfgPath) << " is gone\n";
        if (report.FolderKept)
            std::cout << "The folder " << Printable(lines.Folder)
                      << " stays: it holds files kept, or was there before the install\n";
    }
    return code;
}

InstallReportAndLines InstallOpenMW(qvr::Archives& arc, const OpenMWInstall& where,
                                    const qvr::OverwriteQuestion& ask,
                                    const qvr::EntryProgress& progress,
                                    const qvr::TakeBackQuestion& takeBack) {
    InstallReportAndLines out;
    out.Files = qvr::openmw::Install(arc, where, ask, progress, takeBack, out.Lines);
    return out;
}

} // namespace qvrtool
