#include "ArchiveInstall.h"
#include "DataFolderTarget.h"

#include "OpenMWTarget.h"
#include "Places.h"
#include "SourceCommands.h"

#include "qvr/games/OpenMWSources.h"
#include "qvr/install/Engine.h"
#include "qvr/install/SourceInstall.h"
#include "qvr/package/Archives.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/sources/PackageLayout.h"
#include "qvr/sources/Source.h"

#include <iostream>

namespace qvrtool {

namespace {

std::string Shown(const std::string& folder) {
    return folder.empty() ? std::string(".") : folder;
}

// The folders to choose from, one a line on standard error, and how to choose.
std::string ChoiceNeeded(const qvr::SourcePlan& plan) {
    const qvr::sources::Layout& found = plan.Selection.Found;
    if (found.Kind == qvr::sources::LayoutKind::Options)
        return "; nothing was installed (choose with --options, see --list-options)";
    std::cerr << "The folders that could hold the game's data:\n";
    for (const std::string& c : found.Candidates)
        std::cerr << "  " << Printable(Shown(c)) << "\n";
    return "; nothing was installed. Choose one with --root PATH";
}

// A package's own details name the plug-in; other archives' names come from the file name.
void TakePackageInfo(const std::string& path, const qvr::sources::Source& source,
                     qvr::SourcePlan& plan) {
    if (source.Kind() != "QVR")
        return;
    qvr::Archives arc;
    if (arc.Open(path).Usable() &&
        arc.PluginInfo.GetPluginData(arc, qvr::GetFileNameFromPath(path))) {
        plan.Name = arc.PluginInfo.PluginName();
        plan.Version = arc.PluginInfo.Version();
    }
}

int ListOptions(const qvr::sources::Source& source) {
    std::vector<std::string> paths;
    for (const qvr::sources::Member& m : source.Members())
        paths.push_back(m.Path);
    PrintField("Archive:", source.Kind());
    PrintLayout(paths);
    return kOk;
}

struct Outcome {
    qvr::InstallReport Report;
    qvr::openmw::ListReport Lines;
    qvr::Activation Enabled; // what an install into a data folder listed in Morrowind.ini
};

Outcome Run(const ParsedArgs& a, const Context& ctx, qvr::sources::Source& source,
            const qvr::SourcePlan& plan, const std::string& data,
            const std::optional<OpenMWInstall>& openmw, std::vector<std::string>& keptBeside) {
    ProgressBar bar(ctx.ProgressWanted(), "Installing", plan.Selection.Placed.Files.size());
    const bool interactive = !a.Has("overwrite") && !a.Has("skip-existing") && StdinIsTerminal();
    const qvr::OverwriteQuestion ask = AskOverwrite(a, interactive, bar, data);
    const qvr::TakeBackQuestion takeBack = AskTakeBack(interactive, bar, data, keptBeside);
    const qvr::PlacedProgress progress = [&](size_t, const qvr::EntryResult& r, size_t done,
                                             size_t) { return ShowInstalled(bar, ctx, r, done); };
    Outcome out;
    if (openmw) {
        out.Report =
            qvr::openmw::InstallSource(source, plan, *openmw, ask, progress, takeBack, out.Lines);
    } else {
        qvr::InstallRequest request = qvr::SourceRequest(source, plan);
        request.Ask = ask;
        request.TakeBack = takeBack;
        request.Progress = progress;
        out.Report = qvr::InstallIntoDataFolder(std::move(request), data, !a.Has("no-activate"),
                                                out.Enabled);
    }
    bar.Clear();
    return out;
}

} // namespace

bool ShowInstalled(ProgressBar& bar, const Context& ctx, const qvr::EntryResult& r, size_t done) {
    if (r.Outcome == qvr::EntryOutcome::Refused || r.Outcome == qvr::EntryOutcome::Failed) {
        bar.Clear();
        Warn(r.Message);
    } else if (ctx.Verbose && r.Outcome == qvr::EntryOutcome::Installed) {
        bar.Clear();
        std::cout << "installed: " << Printable(DisplayPath(r.Entry)) << "\n";
    }
    bar.Update(done, r.Entry.FileName());
    return true;
}

int SummariseInstall(const ParsedArgs& a, const Context& ctx, const qvr::InstallReport& report,
                     const std::string& data) {
    const auto& results = report.Entries;
    const int installed = Tally(results, qvr::EntryOutcome::Installed);
    const int kept = Tally(results, qvr::EntryOutcome::Skipped);
    const int refused = Tally(results, qvr::EntryOutcome::Refused);
    const int takenBack = static_cast<int>(report.WrittenThenTakenBack);
    const int failed = Tally(results, qvr::EntryOutcome::Failed) - takenBack;
    TellTakenBack(report.TakenBack, report.UpdatesTakenBack);
    // Refused whole before a file was looked at (the folder in use, say): only the reason.
    if (!report.Outcome && installed + refused + failed + takenBack == 0 &&
        std::none_of(results.begin(), results.end(),
                     [](const auto& r) { return !r.Target.empty(); }))
        return TellFailure(report.Outcome);
    if (kept > 0 && !a.Has("skip-existing") && !a.Has("overwrite") && !StdinIsTerminal()) {
        Warn("kept " + Plural(kept, "existing file", "existing files") +
             " (no terminal to ask; --overwrite replaces them):");
        for (const auto& r : results)
            if (r.Outcome == qvr::EntryOutcome::Skipped)
                std::cerr << "  " << Printable(r.Target) << "\n";
    }
    if (!ctx.Quiet) {
        std::cout << "Installed " << installed << " of "
                  << Plural(installed + kept + refused + failed + takenBack, "file", "files")
                  << " into " << Printable(data);
        if (kept)
            std::cout << "; " << Plural(kept, "existing file", "existing files") << " kept";
        if (refused)
            std::cout << "; " << refused << " refused";
        if (failed)
            std::cout << "; " << failed << " failed";
        if (takenBack)
            std::cout << "; " << takenBack << " written, then taken back";
        std::cout << "\n";
    }
    if (!report.Outcome)
        return TellFailure(report.Outcome);
    const bool earlierLeft = report.Earlier && !report.Earlier->Outcome; // told by TellEarlier
    return refused + failed > 0 || earlierLeft ? kSomeFailed : kOk;
}

bool InstallsFromSource(const ParsedArgs& a, const std::string& path) {
    return a.Has("root") || a.Has("options") || a.Has("list-options") || ReadAsSource(path);
}

void RefuseWrapped(const std::string& path, const qvr::Archives& arc) {
    const qvr::sources::WrappedData wrapped =
        qvr::sources::FindWrappedData(qvr::sources::PackagePaths(arc));
    if (!wrapped.Found())
        return;
    std::string hint;
    if (wrapped.Kind == qvr::sources::LayoutKind::Root)
        hint = "install from the inner folder with --root \"" + Printable(wrapped.Inner) + "\"";
    else if (wrapped.Kind == qvr::sources::LayoutKind::Options)
        hint = "choose options with --options (see --list-options)";
    else
        hint = "choose the folder to install from with --root PATH (see --list-options)";
    throw CommandError{kUsage, path + ": " + wrapped.Problem + "; nothing was installed. " + hint +
                                   ", or install it as it is with --root ."};
}

int InstallArchive(const ParsedArgs& a, const Context& ctx, const std::string& path) {
    qvr::sources::Opened opened = qvr::sources::Open(path);
    if (!opened.Outcome)
        throw CommandError{kUsage, opened.Outcome.Message};
    qvr::sources::Source& source = *opened.Archive;
    for (const qvr::sources::Refusal& r : source.Refused())
        Warn(path + ": " + Printable(r.Path) + ": refused: " + r.Why);
    if (a.Has("list-options")) // refused members are left out of any install: said in the status
        return std::max(ListOptions(source), source.Refused().empty() ? kOk : kSomeFailed);
    qvr::sources::Choice choice;
    choice.RootGiven = a.Has("root");
    choice.Root = a.Value("root");
    choice.Options = OptionLabels(a);
    qvr::SourcePlan plan;
    if (!qvr::PlanSource(source, choice, plan)) {
        const std::string how =
            plan.Selection.NeedsChoice ? ChoiceNeeded(plan) : "; nothing was installed";
        throw CommandError{kUsage, path + ": " + plan.Selection.Message + how};
    }
    TakePackageInfo(path, source, plan);
    std::optional<OpenMWInstall> openmw;
    if (a.Has("openmw"))
        openmw = PrepareOpenMWInstallOf(path, a.Value("mods-folder"));
    const bool typed = a.Operands.size() > 1;
    const std::string data = openmw ? openmw->ModFolder
                                    : ChooseDataFolder(typed ? a.Operands[1] : "", ctx,
                                                       "qvr install ARCHIVE DATA_FOLDER");
    PrepareDataFolder(data, typed, openmw.has_value(), ctx);
    if (!openmw)
        SweepWorkFiles(data, true); // left below it by an interrupted install
    if (!ctx.Quiet) {
        std::cout << "Installing " << Printable(plan.Selection.Message) << " of "
                  << Printable(qvr::GetFileNameFromPath(path)) << "\n";
        if (!plan.Selection.LeftOut.empty())
            std::cout << "Left out: "
                      << Plural(static_cast<int>(plan.Selection.LeftOut.size()), "file", "files")
                      << " outside it (see 'qvr info')\n";
    }
    std::vector<std::string> keptBeside;
    const Outcome done = Run(a, ctx, source, plan, data, openmw, keptBeside);
    TellEarlier(done.Report, keptBeside, ctx.Quiet);
    int code = SummariseInstall(a, ctx, done.Report, data);
    // Members refused when the archive was opened were named then and never installed.
    if (code == kOk && !source.Refused().empty())
        code = kSomeFailed;
    if (done.Report.Outcome && openmw &&
        Tally(done.Report.Entries, qvr::EntryOutcome::Installed) > 0 &&
        !FinishOpenMWInstall(*openmw, done.Lines, ctx))
        return kSomeFailed;
    if (done.Report.Outcome && !openmw &&
        Tally(done.Report.Entries, qvr::EntryOutcome::Installed) > 0 &&
        !TellActivation(data, !a.Has("no-activate"), done.Enabled, ctx))
        return kSomeFailed;
    return code;
}

} // namespace qvrtool
