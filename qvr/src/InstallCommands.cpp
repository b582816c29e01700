// install and uninstall: the archive's files in the game's data folder.

#include "Command.h"
#include "OpenMWTarget.h"
#include "Places.h"
#include "Removal.h"
#include "SourceCommands.h"

#include "qvr/format/PathRules.h"
#include "qvr/install/Install.h"
#include "qvr/install/RecordedInstall.h"
#include "qvr/package/BatchAdd.h"
#include "qvr/package/Verify.h"
#include "qvr/platform/ArchiveError.h"
#include "qvr/platform/Encoding.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/RandomAccessFile.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>

namespace qvrtool {

namespace {

int Tally(const std::vector<qvr::EntryResult>& results, qvr::EntryOutcome o) {
    return static_cast<int>(std::count_if(results.begin(), results.end(),
                                          [&](const auto& r) { return r.Outcome == o; }));
}

} // namespace

int CmdInstall(const ParsedArgs& a, const Context& ctx) {
    NeedOperands(a, 1, 2, "qvr install ARCHIVE [DATA_FOLDER] [--overwrite | --skip-existing]");
    if (a.Has("overwrite") && a.Has("skip-existing"))
        throw UsageError("--overwrite and --skip-existing exclude each other");
    if (a.Has("mods-folder") && !a.Has("openmw"))
        throw UsageError("--mods-folder goes with --openmw");
    if (a.Has("openmw") && a.Operands.size() > 1)
        throw UsageError("with --openmw the mods folder is given by --mods-folder");
    const std::string path = a.Operands[0];
    RefuseNotYetInstallable(path);
    qvr::Archives arc;
    if (Open(arc, path, false) == qvr::OpenKind::Empty) {
        if (!ctx.Quiet)
            std::cout << path << " holds no files; nothing to install\n";
        return kOk;
    }
    // The plug-in's name, version and masters go into the install record.
    arc.PluginInfo.GetPluginData(arc, qvr::GetFileNameFromPath(path));
    OpenMWInstall openmw;
    if (a.Has("openmw"))
        openmw = PrepareOpenMWInstall(arc, a.Value("mods-folder"), ctx);
    const std::string data = a.Has("openmw")
                                 ? openmw.ModFolder
                                 : ChooseDataFolder(a.Operands.size() > 1 ? a.Operands[1] : "", ctx,
                                                    "qvr install ARCHIVE DATA_FOLDER");
    std::error_code ec;
    if (fs::exists(Native(data), ec) && !fs::is_directory(Native(data), ec))
        throw CommandError{kUsage, data + ": is a file, not a folder"};
    if (!fs::exists(Native(data), ec)) {
        if (!ctx.Quiet)
            Warn("note: " + data + " does not exist yet; it is created");
        // Once here rather than once for every entry of the archive.
        fs::create_directories(Native(data), ec);
        if (!fs::is_directory(Native(data)))
            throw CommandError{kUsage, data + ": cannot be created" +
                                           (ec ? ": " + ec.message() : std::string()) +
                                           "; nothing was installed"};
    } else if (!ctx.Quiet && !a.Has("openmw") && !qvr::HasMorrowindEsm(data)) {
        Warn("note: " + data + " holds no Morrowind.esm; installing there all the same");
    }
    SweepWorkFiles(data, true); // left below it by an interrupted install

    ProgressBar bar(ctx.ProgressWanted(), "Installing", arc.ArchiveFiles.size());
    const bool interactive = !a.Has("overwrite") && !a.Has("skip-existing") && StdinIsTerminal();
    bool all = false, allAnswer = false;
    qvr::OverwriteQuestion ask;
    if (a.Has("overwrite")) {
        ask = [](const qvr::sgFileInfo&, const std::string&) { return true; };
    } else if (interactive) {
        ask = [&](const qvr::sgFileInfo& e, const std::string&) {
            if (all)
                return allAnswer;
            bar.Clear();
            for (;;) {
                std::cerr << Printable(DisplayPath(e)) << " already exists in " << data
                          << ". Overwrite it? [y]es, [n]o, [A]ll, [N]one: " << std::flush;
                std::string line;
                if (!std::getline(std::cin, line)) {
                    std::cerr << "\n";
                    all = true;
                    allAnswer = false;
                    return false;
                }
                auto answer = ParseOverwriteAnswer(line);
                if (!answer)
                    continue;
                switch (*answer) {
                case OverwriteAnswer::Overwrite:
                    return true;
                case OverwriteAnswer::Skip:
                    return false;
                case OverwriteAnswer::All:
                    all = allAnswer = true;
                    return true;
                case OverwriteAnswer::None:
                    all = true;
                    allAnswer = false;
                    return false;
                }
            }
        };
    }
    qvr::InstallReport report = qvr::InstallRecorded(
        arc, data, ask,
        [&](const qvr::EntryResult& r, size_t done, size_t) {
            if (r.Outcome == qvr::EntryOutcome::Refused || r.Outcome == qvr::EntryOutcome::Failed) {
                bar.Clear();
                Warn(r.Message);
            } else if (ctx.Verbose && r.Outcome == qvr::EntryOutcome::Installed) {
                bar.Clear();
                std::cout << "installed: " << Printable(DisplayPath(r.Entry)) << "\n";
            }
            bar.Update(done, r.Entry.FileName());
            return true;
        },
        ctx.Jobs);
    bar.Clear();
    const auto& results = report.Entries;
    if (report.Earlier && !ctx.Quiet) {
        const auto& e = *report.Earlier;
        std::cout << "Took back the earlier install of " << Printable(e.Plugin) << " first ("
                  << e.Count(qvr::FileFate::Removed) << " removed, "
                  << e.Count(qvr::FileFate::Restored) << " restored, "
                  << e.Count(qvr::FileFate::Kept) << " kept)\n";
    }
    const int installed = Tally(results, qvr::EntryOutcome::Installed);
    const int kept = Tally(results, qvr::EntryOutcome::Skipped);
    const int refused = Tally(results, qvr::EntryOutcome::Refused);
    const int failed = Tally(results, qvr::EntryOutcome::Failed);
    // Nobody could be asked: say which files were kept, so nothing is skipped unseen.
    if (kept > 0 && !a.Has("skip-existing") && !interactive) {
        Warn("kept " + Plural(kept, "existing file", "existing files") +
             " (no terminal to ask; --overwrite replaces them):");
        for (const auto& r : results)
            if (r.Outcome == qvr::EntryOutcome::Skipped)
                std::cerr << "  " << Printable(r.Target) << "\n";
    }
    if (!ctx.Quiet) {
        std::cout << "Installed " << installed << " of "
                  << Plural(installed + kept + refused + failed, "file", "files") << " into "
                  << data;
        if (kept)
            std::cout << "; " << Plural(kept, "existing file", "existing files") << " kept";
        if (refused)
            std::cout << "; " << refused << " refused";
        if (failed)
            std::cout << "; " << failed << " failed";
        std::cout << "\n";
    }
    if (!report.Outcome) {
        Warn(report.Outcome.Message);
        return report.Outcome.Code == qvr::Status::ArchiveUnusable ? kUsage : kSomeFailed;
    }
    if (a.Has("openmw") && installed > 0 && !FinishOpenMWInstall(arc, openmw, ctx))
        return kSomeFailed;
    return refused + failed > 0 ? kSomeFailed : kOk;
}

int CmdUninstall(const ParsedArgs& a, const Context& ctx) {
    NeedOperands(a, 1, 2, "qvr uninstall ARCHIVE|PLUGIN_NAME [DATA_FOLDER] [--yes] [--dry-run]");
    if (a.Has("mods-folder") && !a.Has("openmw"))
        throw UsageError("--mods-folder goes with --openmw");
    const std::string path = a.Operands[0];
    const bool dryRun = a.Has("dry-run");
    if (a.Has("openmw")) {
        if (a.Operands.size() > 1)
            throw UsageError("with --openmw the mods folder is given by --mods-folder");
        return UninstallOpenMW(path, a.Value("mods-folder"), dryRun, ctx);
    }
    std::error_code ec;
    // An archive, or the name of a recorded plug-in whose archive may be gone.
    const bool isArchive = fs::is_regular_file(Native(path), ec);
    qvr::Archives arc;
    if (isArchive && Open(arc, path, false) == qvr::OpenKind::Empty) {
        if (!ctx.Quiet)
            std::cout << path << " holds no files; nothing to remove\n";
        return kOk;
    }
    if (isArchive)
        arc.PluginInfo.GetPluginData(arc, qvr::GetFileNameFromPath(path));
    const std::string data = ChooseDataFolder(a.Operands.size() > 1 ? a.Operands[1] : "", ctx,
                                              "qvr uninstall ARCHIVE DATA_FOLDER");
    if (!fs::is_directory(Native(data), ec))
        throw CommandError{kUsage, data + ": no such folder"};
    SweepWorkFiles(data, true); // left below it by an interrupted install
    const std::string key =
        isArchive ? qvr::RecordKey(qvr::GetFileNameFromPath(path)) : std::string(path);
    const auto record = qvr::FindInstallRecord(data, key);
    const bool recorded = record.has_value();
    if (!isArchive && !recorded)
        throw CommandError{kUsage, path +
                                       ": no such archive, and no install of it is recorded in " +
                                       data + " (see 'qvr installed')"};
    if (dryRun) {
        if (recorded)
            return ReportRemoval(qvr::PlanRemoval(data, key), data, true, ctx);
        std::cout << "No install of " << path << " is recorded in " << data
                  << "; a removal deletes only the files that still hold exactly the archive's "
                     "content\n";
        return kOk;
    }
    if (!a.Has("yes")) {
        if (!StdinIsTerminal())
            throw CommandError{kUsage, path + ": uninstalling deletes its files from " + data +
                                           "; confirm on a terminal, or pass --yes"};
        // Deleting is asked about with what it will touch, and No is the default.
        const auto files = std::count_if(arc.ArchiveFiles.begin(), arc.ArchiveFiles.end(),
                                         [&](const auto& e) { return !arc.IsInfoEntry(e); });
        std::cerr << "This will attempt to remove all files listed for the current QVR file. It "
                     "will not remove folders.\nDelete "
                  << Plural(static_cast<int>(files), "file", "files") << " of " << Printable(path)
                  << " from " << Printable(data) << "? [y/N] " << std::flush;
        std::string line;
        if (!std::getline(std::cin, line))
            line = "n";
        std::string w = Lower(line);
        w.erase(std::remove_if(w.begin(), w.end(), [](unsigned char c) { return std::isspace(c); }),
                w.end());
        if (!(w == "y" || w == "yes")) {
            if (!ctx.Quiet)
                std::cout << "Nothing was removed.\n";
            return kOk;
        }
    }
    ProgressBar bar(ctx.ProgressWanted(), "Removing",
                    recorded ? record->Files.size() : arc.ArchiveFiles.size());
    auto progress = [&](const qvr::FileResult& f, size_t done, size_t) {
        bar.Update(done, f.Path);
        return true;
    };
    const qvr::RemovalReport report = recorded ? qvr::RemoveByRecord(data, key, progress)
                                               : qvr::RemovePlugin(arc, data, progress);
    bar.Clear();
    int code = ReportRemoval(report, data, false, ctx);
    // Entries that would leave the data folder were never installed; say so, as the install did.
    if (isArchive) {
        for (const auto& e : arc.ArchiveFiles) {
            std::string why;
            if (!arc.IsInfoEntry(e) && !qvr::IsSafeEntryPath(e.FilePath(), e.FileName(), &why)) {
                Warn(Printable(DisplayPath(e)) + ": refused: " + why + "; nothing was touched");
                code = std::max(code, kSomeFailed);
            }
        }
    }
    return code;
}

} // namespace qvrtool
