// install and uninstall: the archive's files in the game's data folder.

#include "Command.h"

#include "qvr/ArchiveError.h"
#include "qvr/BatchAdd.h"
#include "qvr/Encoding.h"
#include "qvr/FileUtils.h"
#include "qvr/Install.h"
#include "qvr/PathRules.h"
#include "qvr/RandomAccessFile.h"
#include "qvr/Verify.h"

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
    NeedOperands(a, 2, 2, "qvr install ARCHIVE DATA_FOLDER [--overwrite | --skip-existing]");
    if (a.Has("overwrite") && a.Has("skip-existing"))
        throw UsageError("--overwrite and --skip-existing exclude each other");
    const std::string path = a.Operands[0];
    const std::string data = a.Operands[1];
    qvr::Archives arc;
    if (Open(arc, path, false) == qvr::OpenKind::Empty) {
        if (!ctx.Quiet)
            std::cout << path << " holds no files; nothing to install\n";
        return kOk;
    }
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
    } else if (!ctx.Quiet && !qvr::HasMorrowindEsm(data)) {
        Warn("note: " + data + " holds no Morrowind.esm; installing there all the same");
    }

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
    auto results =
        qvr::InstallArchive(arc, data, ask, [&](const qvr::EntryResult& r, size_t done, size_t) {
            if (r.Outcome == qvr::EntryOutcome::Refused || r.Outcome == qvr::EntryOutcome::Failed) {
                bar.Clear();
                Warn(r.Message);
            } else if (ctx.Verbose && r.Outcome == qvr::EntryOutcome::Installed) {
                bar.Clear();
                std::cout << "installed: " << Printable(DisplayPath(r.Entry)) << "\n";
            }
            bar.Update(done, r.Entry.FileName());
        });
    bar.Clear();
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
    return refused + failed > 0 ? kSomeFailed : kOk;
}

int CmdUninstall(const ParsedArgs& a, const Context& ctx) {
    NeedOperands(a, 2, 2, "qvr uninstall ARCHIVE DATA_FOLDER [--yes]");
    const std::string path = a.Operands[0];
    const std::string data = a.Operands[1];
    qvr::Archives arc;
    if (Open(arc, path, false) == qvr::OpenKind::Empty) {
        if (!ctx.Quiet)
            std::cout << path << " holds no files; nothing to remove\n";
        return kOk;
    }
    std::error_code ec;
    if (!fs::is_directory(Native(data), ec))
        throw CommandError{kUsage, data + ": no such folder"};
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
    ProgressBar bar(ctx.ProgressWanted(), "Removing", arc.ArchiveFiles.size());
    auto results =
        qvr::RemoveInstalledFiles(arc, data, [&](const qvr::EntryResult& r, size_t done, size_t) {
            if (r.Outcome == qvr::EntryOutcome::Refused || r.Outcome == qvr::EntryOutcome::Failed) {
                bar.Clear();
                Warn(r.Message);
            } else if (ctx.Verbose && r.Outcome == qvr::EntryOutcome::Installed) {
                bar.Clear();
                std::cout << "removed: " << Printable(r.Target) << "\n";
            } else if (ctx.Verbose && r.Outcome == qvr::EntryOutcome::Skipped) {
                bar.Clear();
                std::cout << "left: " << Printable(r.Message) << "\n";
            }
            bar.Update(done, r.Entry.FileName());
        });
    bar.Clear();
    const int removed = Tally(results, qvr::EntryOutcome::Installed);
    const int absent = Tally(results, qvr::EntryOutcome::Skipped);
    const int refused = Tally(results, qvr::EntryOutcome::Refused);
    const int failed = Tally(results, qvr::EntryOutcome::Failed);
    if (!ctx.Quiet) {
        std::cout << "Removed " << Plural(removed, "file", "files") << " from " << data;
        if (absent)
            std::cout << "; " << absent << " not there (or empty)";
        if (refused)
            std::cout << "; " << refused << " refused";
        if (failed)
            std::cout << "; " << failed << " failed";
        std::cout << "; folders are kept\n";
    }
    return refused + failed > 0 ? kSomeFailed : kOk;
}

} // namespace qvrtool
