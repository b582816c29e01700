#include "qvr/sources/Unpack.h"

#include "qvr/platform/Encoding.h"
#include "qvr/platform/detail/platform.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>

namespace qvr::sources {

namespace {

std::string Join(const std::vector<std::string>& items, const std::string& last) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i)
        out += (i == 0 ? "" : i + 1 == items.size() ? last : ", ") + items[i];
    return out;
}

std::string JoinAnd(const std::vector<std::string>& items) {
    return Join(items, " and ");
}

// A root as given: either separator, no separator at either end, "." for the top.
std::string NormalRoot(std::string root) {
    std::replace(root.begin(), root.end(), '\\', '/');
    while (!root.empty() && root.front() == '/')
        root.erase(root.begin());
    while (!root.empty() && root.back() == '/')
        root.pop_back();
    return root == "." ? std::string() : root;
}

bool SameNumber(const std::string& label, int number) {
    if (label.empty() || label.size() > 9 ||
        !std::all_of(label.begin(), label.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    return std::stoi(label) == number;
}

std::string OptionsList(const Layout& layout) {
    std::vector<std::string> items;
    for (const Option& o : layout.Options)
        items.push_back(o.Label + " " + o.Name + " (" + ShownFolder(o.Folder) + ")");
    return JoinAnd(items);
}

Result NeedsChoice(Selection& out, const std::string& why) {
    out.NeedsChoice = true;
    out.Message = why;
    return Result::EntryFailure(why);
}

// The options named, exactly those, in number order.
Result TakeOptions(const std::vector<std::string>& paths, const std::vector<std::string>& labels,
                   Selection& out) {
    const Layout& layout = out.Found;
    if (layout.Options.empty())
        return Result::EntryFailure(out.Message = "it holds no numbered options");
    std::vector<Option> chosen;
    for (const std::string& label : labels) {
        const auto it = std::find_if(layout.Options.begin(), layout.Options.end(),
                                     [&](const Option& o) { return SameNumber(label, o.Number); });
        if (it == layout.Options.end())
            return Result::EntryFailure(out.Message = "no option is numbered \"" + label +
                                                      "\"; the options are " + OptionsList(layout));
        if (std::none_of(chosen.begin(), chosen.end(),
                         [&](const Option& o) { return o.Folder == it->Folder; }))
            chosen.push_back(*it);
    }
    std::sort(chosen.begin(), chosen.end(),
              [](const Option& a, const Option& b) { return a.Number < b.Number; });
    std::vector<std::string> names;
    for (const Option& o : chosen)
        names.push_back(o.Label + " " + o.Name);
    out.Placed = PlaceOptions(paths, layout, chosen);
    out.Message = (chosen.size() == 1 ? "the option " : "the options ") + JoinAnd(names);
    if (layout.RootHoldsData)
        out.Message += " with the data beside them in " + ShownFolder(layout.Base);
    return Result::Success();
}

std::string DataRootPhrase(const std::string& root) {
    return "the data root " + (root.empty() ? std::string("at the top") : ShownFolder(root));
}

Result TakeLayout(const std::vector<std::string>& paths, Selection& out) {
    const Layout& layout = out.Found;
    switch (layout.Kind) {
    case LayoutKind::Root:
        out.Placed = PlaceFromRoot(paths, layout.Root);
        out.Message = DataRootPhrase(layout.Root);
        return Result::Success();
    case LayoutKind::Options:
        return NeedsChoice(out, "it holds numbered options: " + OptionsList(layout));
    case LayoutKind::SeveralRoots: {
        std::vector<std::string> shown;
        for (const std::string& c : layout.Candidates)
            shown.push_back(ShownFolder(c));
        return NeedsChoice(out, "more than one folder could be its data root: " + JoinAnd(shown));
    }
    case LayoutKind::NoData:
        break;
    }
    std::vector<std::string> shown;
    for (const std::string& c : layout.Candidates)
        shown.push_back(ShownFolder(c));
    return NeedsChoice(out, "no plug-in, .bsa file or data folder (Meshes, Textures and the "
                            "like) shows where its data root is; it could be " +
                                Join(shown, " or "));
}

} // namespace

Result Select(const std::vector<std::string>& paths, const Choice& choice, Selection& out) {
    out = Selection();
    out.Found = FindLayout(paths);
    Result taken = Result::Success();
    if (paths.empty()) {
        taken = Result::EntryFailure(out.Message = "it holds no file to install");
    } else if (choice.RootGiven && !choice.Options.empty()) {
        taken = Result::EntryFailure(out.Message =
                                         "a data root and numbered options cannot both be chosen");
    } else if (choice.RootGiven) {
        const std::string root = NormalRoot(choice.Root);
        out.Placed = PlaceFromRoot(paths, root);
        out.Message = DataRootPhrase(root);
        if (out.Placed.Files.empty())
            taken = Result::EntryFailure(
                out.Message =
                    root.empty() ? std::string("it holds no file to install")
                                 : "it holds no folder " + ShownFolder(root) + " with files in it");
    } else if (!choice.Options.empty()) {
        taken = TakeOptions(paths, choice.Options, out);
    } else {
        taken = TakeLayout(paths, out);
    }
    if (!taken) {
        out.Placed = Placement();
        return taken;
    }
    if (out.Placed.Files.empty())
        return Result::EntryFailure(out.Message = "it holds no file to pack");
    for (size_t i : out.Placed.LeftOut)
        out.LeftOut.push_back(paths[i]);
    return Result::Success();
}

Result Unpack(Source& source, const Placement& placed, const std::string& folder,
              const UnpackProgress& progress) {
    const std::vector<Member>& members = source.Members();
    std::vector<Job> jobs;
    // The file's own time goes into the package, as when its folder is packed.
    for (const Placed& p : placed.Files)
        jobs.push_back({p.Member, folder + "/" + p.Target, false,
                        p.Member < members.size() ? members[p.Member].Modified : std::nullopt});
    Result failed = Result::Success();
    size_t done = 0;
    const Result extracted = source.Extract(jobs, [&](const Done& d) {
        const Job& job = jobs[d.Job];
        const Member& m = members[job.Member];
        if (!d.Outcome) {
            // A source's failures mostly name the member already.
            const std::string& why = d.Outcome.Message;
            failed =
                Result::EntryFailure(why.starts_with(m.Path + ": ") ? why : m.Path + ": " + why);
            return false;
        }
        ++done;
        if (progress && !progress(done, jobs.size(), m.Path)) {
            failed = Result::EntryFailure("stopped");
            return false;
        }
        return true;
    });
    if (!failed)
        return failed;
    if (!extracted)
        return extracted;
    if (done < jobs.size())
        return Result::Unusable("not every file could be read from " + source.Name());
    return Result::Success();
}

} // namespace qvr::sources
