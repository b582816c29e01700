// create from an archive: its data root (or the options chosen) unpacked into a work folder,
// which create then packs as any folder.

#include "CreateSteps.h"

#include "qvr/platform/FileUtils.h"
#include "qvr/platform/WorkFiles.h"
#include "qvr/sources/Source.h"
#include "qvr/sources/Unpack.h"

#include <iostream>

namespace qvrtool {

namespace {

// What to say when the archive's layout leaves the choice open.
std::string ChoiceHint(const qvr::sources::Layout& found) {
    if (!found.Options.empty())
        return "; name the options to pack with --options (e.g. --options " +
               found.Options.front().Label + "), or a folder with --root PATH";
    return "; name the one to pack with --root PATH (--root . for the top)";
}

// A package's own information comes along: converting it keeps its details and notes.
std::optional<qvr::sgPlugInfo> PackageInfo(const std::string& archive) {
    qvr::Archives arc;
    qvr::sgPlugInfo info;
    if (arc.Open(archive).Kind == qvr::OpenKind::Complete &&
        info.GetPluginData(arc, qvr::GetFileNameFromPath(archive)))
        return info;
    Warn(archive + ": its plug-in information cannot be read; the new package starts with the "
                   "usual details");
    return std::nullopt;
}

std::string JoinList(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& item : items)
        out += (out.empty() ? "" : ", ") + item;
    return out;
}

} // namespace

std::vector<std::string> OptionLabels(const ParsedArgs& a) {
    std::vector<std::string> labels;
    const auto given = a.Options.find("options");
    if (given == a.Options.end())
        return labels;
    for (const std::string& value : given->second) {
        std::string label;
        for (char c : value + ",") {
            if (c == ',' || c == ' ') {
                if (!label.empty())
                    labels.push_back(label);
                label.clear();
            } else {
                label += c;
            }
        }
    }
    if (labels.empty())
        throw UsageError("--options needs the numbers of the options, e.g. --options 00,02");
    return labels;
}

Unpacked::~Unpacked() {
    if (!Folder.empty())
        qvr::RemoveWorkFolder(Folder);
}

bool IsArchiveOperand(const std::string& from) {
    std::error_code ec;
    const fs::file_status status = fs::status(Native(from), ec);
    return !ec && fs::is_regular_file(status);
}

std::unique_ptr<Unpacked> UnpackArchive(const ParsedArgs& a, const Context& ctx,
                                        const std::string& archive, const std::string& target) {
    qvr::sources::Opened opened = qvr::sources::Open(archive);
    if (!opened.Outcome) {
        const std::string& why = opened.Outcome.Message;
        const bool other = qvr::sources::ReadsOtherArchives();
        if (why.find("not an archive qvr can read") != std::string::npos ||
            (!other && !qvr::Archives().IsQvrArchive(archive)))
            throw CommandError{kUsage, archive +
                                           ": is a file; create packs a folder laid out like "
                                           "the game's data folder, or converts an archive (" +
                                           (other ? std::string("QVR, zip, 7z, rar, tar")
                                                  : std::string("this build reads QVR packages "
                                                                "only")) +
                                           "), which it is not (add puts single files in an "
                                           "archive)"};
        throw CommandError{kUsage, why};
    }
    qvr::sources::Source& source = *opened.Archive;
    std::vector<std::string> paths;
    for (const qvr::sources::Member& m : source.Members())
        paths.push_back(m.Path);
    qvr::sources::Choice choice;
    choice.RootGiven = a.Has("root");
    choice.Root = a.Value("root");
    choice.Options = OptionLabels(a);
    qvr::sources::Selection selection;
    if (const qvr::Result chosen = qvr::sources::Select(paths, choice, selection); !chosen)
        throw CommandError{kUsage, archive + ": " + selection.Message +
                                       (selection.NeedsChoice ? ChoiceHint(selection.Found) : "")};

    auto out = std::make_unique<Unpacked>();
    out->Archive = archive;
    out->Taken = selection.Message;
    out->LeftOut = selection.LeftOut;
    for (const qvr::sources::Refusal& r : source.Refused())
        out->Problems.push_back({qvr::PackProblemKind::Refused, archive + ": " + r.Path,
                                 archive + ": " + r.Path + ": refused: " + r.Why});
    if (source.Kind() == "QVR")
        out->Info = PackageInfo(archive);
    std::error_code ec;
    const fs::path beside = fs::absolute(Native(target), ec).parent_path();
    const qvr::Result made = ec ? qvr::Result::EntryFailure(ec.message())
                                : qvr::MakeWorkFolder(Utf8(beside), "unpack", out->Folder);
    if (!made)
        throw CommandError{kUsage,
                           target + ": cannot make a work folder beside it: " + made.Message};
    qvr::Result unpacked;
    {
        ProgressBar bar(ctx.ProgressWanted(), "Extracting", selection.Placed.Files.size());
        unpacked = qvr::sources::Unpack(source, selection.Placed, out->Folder,
                                        [&](size_t done, size_t, const std::string& path) {
                                            bar.Update(done, path);
                                            return true;
                                        });
    }
    if (!unpacked)
        throw CommandError{kSomeFailed,
                           archive + ": " + unpacked.Message + "; " + target + " was not written"};
    return out;
}

std::string ByArchive(std::string text, const Unpacked& unpacked) {
    const std::string prefix = Utf8(Native(unpacked.Folder)) + Utf8(fs::path("/").make_preferred());
    for (size_t at; (at = text.find(prefix)) != std::string::npos;)
        text.replace(at, prefix.size(), unpacked.Archive + ": ");
    return text;
}

void NameByArchive(qvr::Gathered& gathered, const Unpacked& unpacked) {
    for (qvr::PackProblem& p : gathered.Problems) {
        p.Source = ByArchive(p.Source, unpacked);
        p.Message = ByArchive(p.Message, unpacked);
    }
}

void ReportTaken(const Unpacked& unpacked, const Context& ctx) {
    if (ctx.Quiet)
        return;
    std::cout << "From " << Printable(unpacked.Archive) << ": " << Printable(unpacked.Taken);
    if (!unpacked.LeftOut.empty())
        std::cout << "; left out: " << Printable(JoinList(unpacked.LeftOut));
    std::cout << "\n";
}

} // namespace qvrtool
