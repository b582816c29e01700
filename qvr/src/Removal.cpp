#include "Removal.h"

#include <iostream>

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
    if (!report.Outcome) {
        Warn(report.Outcome.Message);
        return report.Outcome.Code == qvr::Status::ArchiveUnusable ? kUsage : kSomeFailed;
    }
    return failed > 0 ? kSomeFailed : kOk;
}

} // namespace qvrtool
