// install and uninstall: the archive's files in the game's data folder.

#include "ArchiveInstall.h"
#include "Command.h"
#include "DataFolderTarget.h"
#include "OpenMWTarget.h"
#include "Places.h"
#include "Removal.h"
#include "SourceCommands.h"

#include "qvr/format/PathRules.h"
#include "qvr/install/Install.h"
#include "qvr/install/RecordedInstall.h"
#include "qvr/install/SourceInstall.h"
#include "qvr/package/BatchAdd.h"
#include "qvr/package/Verify.h"
#include "qvr/platform/Encoding.h"
#include "qvr/platform/FileUtils.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>

namespace qvrtool {

int Tally(const std::vector<qvr::EntryResult>& results, qvr::EntryOutcome o) {
    return static_cast<int>(std::count_if(results.begin(), results.end(),
                                          [&](const auto& r) { return r.Outcome == o; }));
}

// The question for an existing file: on a terminal per file (y, n, A, N), else as the options
// say (keep, unless --overwrite).
qvr::OverwriteQuestion AskOverwrite(const ParsedArgs& a, bool interactive, ProgressBar& bar,
                                    const std::string& data) {
    if (a.Has("overwrite"))
        return [](const qvr::sgFileInfo&, const std::string&) { return true; };
    if (!interactive)
        return {};
    struct Remembered {
        bool All = false, Answer = false;
    };
    auto remembered = std::make_shared<Remembered>();
    return [remembered, &bar, data](const qvr::sgFileInfo& e, const std::string&) {
        if (remembered->All)
            return remembered->Answer;
        bar.Clear();
        for (;;) {
            std::cerr << Printable(DisplayPath(e)) << " already exists in " << Printable(data)
                      << ". Overwrite it? [y]es, [n]o, [A]ll, [N]one: " << std::flush;
            std::string line;
            if (!std::getline(std::cin, line)) {
                std::cerr << "\n";
                *remembered = {true, false};
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
                *remembered = {true, true};
                return true;
            case OverwriteAnswer::None:
                *remembered = {true, false};
                return false;
            }
        }
    };
}

// What became of earlier installs of the plug-in: taken back once this one was in, or kept
// beside this one.
void TellEarlier(const qvr::InstallReport& report, const std::vector<std::string>& keptBeside,
                 bool quiet) {
    if (report.Earlier) {
        const auto& e = *report.Earlier;
        const auto covered = static_cast<size_t>(std::count_if(
            e.Files.begin(), e.Files.end(), [](const qvr::FileResult& f) { return f.Covered; }));
        if (!e.Outcome)
            Warn(e.Outcome.Message);
        else if (!quiet)
            std::cout << "Took back the earlier install of " << Printable(e.Plugin) << " ("
                      << covered << " of its files under later installs', "
                      << e.Count(qvr::FileFate::Removed) << " removed, "
                      << e.Count(qvr::FileFate::Restored) << " restored, "
                      << e.Count(qvr::FileFate::Kept) - covered << " kept)\n";
        // As a removal names them: what the player has to look at.
        for (const qvr::FileResult& f : e.Files)
            if (!f.Covered && (f.Fate == qvr::FileFate::Kept || f.Fate == qvr::FileFate::Failed))
                Warn(std::string(FateWord(f.Fate)) + ": " + Printable(DisplayPath(f.Path)) +
                     (f.Message.empty() ? "" : " (" + Printable(f.Message) + ")"));
    }
    for (const std::string& other : keptBeside)
        Warn("note: the install of " + other +
             " stays; this archive is recorded on its own, and removing either takes back only "
             "its own files");
}

// Another archive's install of the plug-in is taken back only when the player says so on a
// terminal; those kept are added to keptBeside.
qvr::TakeBackQuestion AskTakeBack(bool interactive, ProgressBar& bar, const std::string& data,
                                  std::vector<std::string>& keptBeside) {
    return [interactive, &bar, data, &keptBeside](const qvr::InstallRecord& earlier) {
        const std::string what = Printable(earlier.Name.empty() ? earlier.Archive : earlier.Name) +
                                 " (from " + Printable(earlier.Archive) + ")";
        bool yes = false;
        if (interactive) {
            bar.Clear();
            std::cerr << what << " is installed in " << Printable(data)
                      << " from another archive. Take that install back first? [y/N] "
                      << std::flush;
            std::string line;
            yes = std::getline(std::cin, line) && (Lower(line) == "y" || Lower(line) == "yes");
        }
        if (!yes)
            keptBeside.push_back(what);
        return yes;
    };
}

// The folder the files go into, made ready: a typed folder that does not exist is made; a
// remembered or found one that is gone, or a file, ends the command.
void PrepareDataFolder(const std::string& data, bool typed, bool openmw, const Context& ctx) {
    std::error_code ec;
    if (fs::exists(Native(data), ec) && !fs::is_directory(Native(data), ec))
        throw CommandError{kUsage, data + ": is a file, not a folder"};
    if (openmw) {
        // The plug-in's folder is made by the install, which records it as its own.
    } else if (!fs::exists(Native(data), ec)) {
        // A remembered or found folder that is gone (a removed game, a card not mounted) is
        // never made anew: the files would go where the game does not look.
        if (!typed)
            throw CommandError{kUsage, data + ": the data folder chosen for you does not exist; "
                                              "nothing was installed (pass the folder to install "
                                              "into)"};
        // Once here rather than once for every entry of the archive.
        fs::create_directories(Native(data), ec);
        if (!fs::is_directory(Native(data)))
            throw CommandError{kUsage, data + ": cannot be created" +
                                           (ec ? ": " + ec.message() : std::string()) +
                                           "; nothing was installed"};
        if (!ctx.Quiet)
            Warn("note: " + data + " did not exist; it was created");
    } else if (!ctx.Quiet && !qvr::HasMorrowindEsm(data)) {
        Warn("note: " + data + " holds no Morrowind.esm; installing there all the same");
    }
}

int CmdInstall(const ParsedArgs& a, const Context& ctx) {
    NeedOperands(a, 1, 2, "qvr install ARCHIVE [DATA_FOLDER] [--overwrite | --skip-existing]");
    if (a.Has("overwrite") && a.Has("skip-existing"))
        throw UsageError("--overwrite and --skip-existing exclude each other");
    NeedOpenMWForModsFolder(a);
    if (a.Has("openmw") && a.Operands.size() > 1)
        throw UsageError("with --openmw the mods folder is given by --mods-folder");
    if (a.Has("openmw") && a.Has("no-activate"))
        throw UsageError("--no-activate goes with installs into a data folder");
    const std::string path = a.Operands[0];
    if (InstallsFromSource(a, path))
        return InstallArchive(a, ctx, path);
    qvr::Archives arc;
    if (Open(arc, path, false) == qvr::OpenKind::Empty) {
        if (!ctx.Quiet)
            std::cout << Printable(path) << " holds no files; nothing to install\n";
        return kOk;
    }
    if (path != "-") // as before: a package read from standard input is taken as it is
        RefuseWrapped(path, arc);
    // The plug-in's name, version and masters go into the install record.
    // Without them (no information entry) the install goes ahead all the same.
    (void)arc.PluginInfo.GetPluginData(arc, qvr::GetFileNameFromPath(path));
    OpenMWInstall openmw;
    if (a.Has("openmw"))
        openmw = PrepareOpenMWInstall(arc, a.Value("mods-folder"), ctx);
    const bool typed = a.Operands.size() > 1;
    const std::string data = a.Has("openmw") ? openmw.ModFolder
                                             : ChooseDataFolder(typed ? a.Operands[1] : "", ctx,
                                                                "qvr install ARCHIVE DATA_FOLDER");
    PrepareDataFolder(data, typed, a.Has("openmw"), ctx);
    if (!a.Has("openmw"))
        SweepWorkFiles(data, true); // left below it by an interrupted install

    ProgressBar bar(ctx.ProgressWanted(), "Installing", arc.ArchiveFiles.size());
    const bool interactive = !a.Has("overwrite") && !a.Has("skip-existing") && StdinIsTerminal();
    const qvr::OverwriteQuestion ask = AskOverwrite(a, interactive, bar, data);
    std::vector<std::string> keptBeside;
    const qvr::TakeBackQuestion takeBack = AskTakeBack(interactive, bar, data, keptBeside);
    const qvr::EntryProgress progress = [&](const qvr::EntryResult& r, size_t done, size_t) {
        return ShowInstalled(bar, ctx, r, done);
    };
    InstallReportAndLines done;
    qvr::Activation enabled;
    if (a.Has("openmw"))
        done = InstallOpenMW(arc, openmw, ask, progress, takeBack);
    else
        done.Files = qvr::InstallIntoDataFolder(arc, data, !a.Has("no-activate"), ask, progress,
                                                takeBack, enabled);
    const qvr::InstallReport& report = done.Files;
    bar.Clear();
    const auto& results = report.Entries;
    TellEarlier(report, keptBeside, ctx.Quiet);
    const int code = SummariseInstall(a, ctx, report, data);
    if (!report.Outcome)
        return code;
    const int installed = Tally(results, qvr::EntryOutcome::Installed);
    if (a.Has("openmw") && installed > 0 && !FinishOpenMWInstall(openmw, done.Lines, ctx))
        return kSomeFailed;
    if (!a.Has("openmw") && installed > 0 &&
        !FinishDataInstall(arc, data, !a.Has("no-activate"), enabled, ctx))
        return kSomeFailed;
    return code;
}

namespace {
// Two archives may install plug-ins of one name (a stranger's among them): a name that is no
// record's key or archive and names more than one install is not taken as either of them.
void RefuseSharedName(const std::string& data, const std::string& what) {
    const std::string wanted = Lower(what);
    std::vector<std::string> archives;
    const std::vector<qvr::InstallRecord> records = qvr::ListInstallRecords(data);
    for (const qvr::InstallRecord& r : records) {
        if (r.Key == what || Lower(r.Archive) == wanted)
            return;
        // An earlier version whose update was cut short after its commit is not another
        // install: the removal finishes the update first.
        const bool replaced = std::any_of(records.begin(), records.end(), [&](const auto& o) {
            return o.State == qvr::RecordState::Installed && o.Earlier == r.Sequence;
        });
        if (Lower(r.Name) == wanted && !replaced)
            archives.push_back(r.Archive);
    }
    if (archives.size() < 2)
        return;
    std::string named;
    for (const std::string& a : archives)
        named += (named.empty() ? "" : ", ") + a;
    throw CommandError{kUsage, what + ": " + std::to_string(archives.size()) +
                                   " installs of that name are recorded in " + data + " (" + named +
                                   "); name the archive to remove"};
}
} // namespace

// Several archives of one file name are recorded each on its own: the one whose files this
// archive holds.
static std::optional<qvr::InstallRecord> RecordOfSource(const std::string& archive,
                                                        const std::string& data) {
    qvr::sources::Opened opened = qvr::sources::Open(archive);
    if (!opened.Outcome)
        throw CommandError{kUsage, opened.Outcome.Message};
    const std::string name = qvr::GetFileNameFromPath(archive);
    qvr::SourceRecord found = qvr::FindSourceRecord(*opened.Archive, data);
    if (found.Record || found.Keys.empty())
        return found.Record ? found.Record : qvr::FindInstallRecord(data, name);
    std::string keys;
    for (const std::string& k : found.Keys)
        keys += (keys.empty() ? "\"" : ", \"") + k + "\"";
    throw CommandError{kUsage, archive + ": installs of " + std::to_string(found.Keys.size()) +
                                   " archives named " + name + " are recorded in " + data +
                                   ", and this archive holds the files of none of them; name "
                                   "the one to remove by its record: " +
                                   keys};
}

// A zip, 7z, rar or tar named here exists, only was never installed: it is not called missing.
static CommandError NotRecorded(const std::string& path, const std::string& data, bool exists) {
    return {kUsage, path + (exists ? ": no" : ": no such archive, and no") +
                        " install of it is recorded in " + data + " (see 'qvr installed')"};
}

// A line from standard input that says yes; anything else, or none, is No.
static bool AnsweredYes() {
    std::string line;
    if (!std::getline(std::cin, line))
        return false;
    std::string w = Lower(line);
    w.erase(std::remove_if(w.begin(), w.end(), [](unsigned char c) { return std::isspace(c); }),
            w.end());
    return w == "y" || w == "yes";
}

int CmdUninstall(const ParsedArgs& a, const Context& ctx) {
    NeedOperands(a, 1, 2, "qvr uninstall ARCHIVE|PLUGIN_NAME [DATA_FOLDER] [--yes] [--dry-run]");
    NeedOpenMWForModsFolder(a);
    std::error_code ec;
    // A zip, 7z, rar or tar archive is found by the file name its install recorded.
    const bool source =
        fs::is_regular_file(Native(a.Operands[0]), ec) && ReadAsSource(a.Operands[0]);
    const std::string path = source ? qvr::GetFileNameFromPath(a.Operands[0]) : a.Operands[0];
    const bool dryRun = a.Has("dry-run");
    if (a.Has("openmw")) {
        if (a.Operands.size() > 1)
            throw UsageError("with --openmw the mods folder is given by --mods-folder");
        return UninstallOpenMW(path, a.Value("mods-folder"), dryRun, a.Has("yes"), ctx);
    }
    // An archive, or the name of a recorded plug-in whose archive may be gone.
    const bool isArchive = !source && fs::is_regular_file(Native(path), ec);
    qvr::Archives arc;
    if (isArchive && Open(arc, path, false) == qvr::OpenKind::Empty) {
        if (!ctx.Quiet)
            std::cout << Printable(path) << " holds no files; nothing to remove\n";
        return kOk;
    }
    if (isArchive)
        // Without them (no information entry) the removal goes ahead all the same.
        (void)arc.PluginInfo.GetPluginData(arc, qvr::GetFileNameFromPath(path));
    const std::string data = ChooseDataFolder(a.Operands.size() > 1 ? a.Operands[1] : "", ctx,
                                              "qvr uninstall ARCHIVE DATA_FOLDER");
    if (!fs::is_directory(Native(data), ec))
        throw CommandError{kUsage, data + ": no such folder"};
    SweepWorkFiles(data, true); // left below it by an interrupted install
    // Records that break the rules are used for nothing; the player is told which.
    std::vector<std::string> problems;
    (void)qvr::ListInstallRecords(data, &problems);
    for (const std::string& p : problems)
        Warn(p);
    if (!isArchive)
        RefuseSharedName(data, path);
    // By the archive (or a renamed copy of it), else by a recorded plug-in's name.
    const auto record = isArchive ? qvr::FindRecordOf(arc, data)
                        : source  ? RecordOfSource(a.Operands[0], data)
                                  : qvr::FindInstallRecord(data, path);
    const bool recorded = record.has_value();
    const std::string key = recorded ? record->Key : std::string();
    if (!isArchive && !recorded)
        throw NotRecorded(path, data, source);
    if (dryRun) {
        if (recorded)
            return ReportRemoval(qvr::PlanRemoval(data, key), data, true, ctx);
        std::cout << "No install of " << Printable(path) << " is recorded in " << Printable(data)
                  << "; a removal deletes only the files that still hold exactly the archive's "
                     "content\n";
        return kOk;
    }
    if (!a.Has("yes")) {
        if (!StdinIsTerminal())
            throw CommandError{kUsage, path + ": uninstalling deletes its files from " + data +
                                           "; confirm on a terminal, or pass --yes"};
        // Deleting is asked about with what it will touch, and No is the default.
        // Without the archive (by name, or a zip, 7z, rar or tar): the files its record holds.
        const auto files = !isArchive && recorded
                               ? static_cast<std::ptrdiff_t>(record->Files.size())
                               : std::count_if(arc.ArchiveFiles.begin(), arc.ArchiveFiles.end(),
                                               [&](const auto& e) { return !arc.IsInfoEntry(e); });
        std::cerr << "This removes the files it installed that are still as installed, puts "
                     "back the files it replaced and removes the folders it made once empty.\n"
                     "Delete "
                  << Plural(static_cast<int>(files), "file", "files") << " of " << Printable(path)
                  << " from " << Printable(data) << "? [y/N] " << std::flush;
        if (!AnsweredYes()) {
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
    const qvr::RemovalReport report = recorded ? qvr::RemoveFromDataFolder(data, key, progress)
                                               : qvr::RemoveFromDataFolder(arc, data, progress);
    bar.Clear();
    int code = ReportRemoval(report, data, false, ctx);
    // Compared with the archive (no record): entries that would leave the data folder were never
    // installed; say so, as the install did. A record holds only what was installed.
    if (isArchive && !recorded) {
        for (const auto& e : arc.ArchiveFiles) {
            if (arc.IsInfoEntry(e))
                continue;
            if (const qvr::Result safe = qvr::IsSafeEntryPath(e.FilePath(), e.FileName()); !safe) {
                Warn(Printable(DisplayPath(e)) + ": refused: " + safe.Message +
                     "; nothing was touched");
                code = std::max(code, kSomeFailed);
            }
        }
    }
    return code;
}

} // namespace qvrtool
