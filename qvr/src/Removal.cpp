#include "Removal.h"

#include "Terminal.h"

#include <algorithm>
#include <cctype>
#include <iostream>
#include <string>

namespace qvrtool {

const char* FateWord(qvr::FileFate fate) {
    switch (fate) {
    case qvr::FileFate::Removed:
        return "removed";
    case qvr::FileFate::Restored:
        return "restored";
    case qvr::FileFate::Kept:
        return "kept";
    case qvr::FileFate::Absent:
        return "not there";
    case qvr::FileFate::Failed:
        return "failed";
    }
    return "?";
}

int ReportRemoval(const qvr::RemovalReport& report, const std::string& where, bool dryRun,
                  const Context& ctx) {
    using qvr::FileFate;
    TellTakenBack(report.TakenBack, report.UpdatesTakenBack);
    // Refused before a file was looked at (the folder in use, an unreadable record): the reason.
    if (!report.Outcome && report.Files.empty())
        return TellFailure(report.Outcome);
    if (dryRun || ctx.Verbose)
        for (const auto& f : report.Files)
            std::cout << (dryRun ? "would be " : "") << FateWord(f.Fate) << ": "
                      << Printable(DisplayPath(f.Path)) << "\n";
    // Kept and failed files are always named: they are what the player has to look at.
    for (const auto& f : report.Files)
        if (!dryRun && (f.Fate == FileFate::Kept || f.Fate == FileFate::Failed))
            Warn(std::string(FateWord(f.Fate)) + ": " + Printable(DisplayPath(f.Path)) +
                 (f.Message.empty() ? "" : " (" + Printable(f.Message) + ")"));
    const int removed = static_cast<int>(report.Count(FileFate::Removed));
    const int restored = static_cast<int>(report.Count(FileFate::Restored));
    const int kept = static_cast<int>(report.Count(FileFate::Kept));
    const int absent = static_cast<int>(report.Count(FileFate::Absent));
    const int failed = static_cast<int>(report.Count(FileFate::Failed));
    if (!ctx.Quiet) {
        std::cout << (dryRun ? "Would remove " : "Removed ") << Plural(removed, "file", "files")
                  << " of " << Printable(report.Plugin) << " from " << Printable(where) << "; "
                  << restored << (dryRun ? " would be restored" : " restored") << "; " << kept
                  << (dryRun ? " would be kept" : " kept");
        if (absent)
            std::cout << "; " << absent << " not there";
        if (failed)
            std::cout << "; " << failed << " failed";
        std::cout << (report.ByRecord ? ""
                                      : " (no install record: files were compared with the "
                                        "archive)")
                  << "\n";
    }
    if (!report.Outcome)
        return TellFailure(report.Outcome);
    return failed > 0 ? kSomeFailed : kOk;
}

bool ConfirmRemoval(const std::string& what, const std::string& where, const Context& ctx) {
    if (!StdinIsTerminal())
        throw CommandError{kUsage, what + ": uninstalling deletes its files from " + where +
                                       "; confirm on a terminal, or pass --yes"};
    std::cerr << "Delete the files of " << Printable(what) << " from " << Printable(where)
              << "? [y/N] " << std::flush;
    std::string line;
    if (!std::getline(std::cin, line))
        line = "n";
    std::string w = Lower(line);
    w.erase(std::remove_if(w.begin(), w.end(), [](unsigned char c) { return std::isspace(c); }),
            w.end());
    if (w == "y" || w == "yes")
        return true;
    if (!ctx.Quiet)
        std::cout << "Nothing was removed.\n";
    return false;
}

} // namespace qvrtool
