#include "qvr/install/SourceInstall.h"

#include "qvr/format/PathRules.h"
#include "qvr/install/detail/InstallPaths.h"
#include "qvr/platform/Encoding.h"
#include "qvr/platform/detail/platform.h"

#include <algorithm>
#include <unordered_map>

namespace qvr {

namespace {

constexpr size_t kFolderBytes = 100;

std::vector<std::string> PathsOf(const sources::Source& source) {
    std::vector<std::string> paths;
    for (const sources::Member& m : source.Members())
        paths.push_back(m.Path);
    return paths;
}

std::string LastLevel(const std::string& folder) {
    const size_t cut = folder.rfind('/');
    return cut == std::string::npos ? folder : folder.substr(cut + 1);
}

// A folder name not yet taken (ignoring letter case): " (2)", " (3)"... when it is.
std::string FreeFolder(const std::string& wanted, const std::vector<std::string>& taken) {
    for (int n = 1;; ++n) {
        const std::string name = n == 1 ? wanted : wanted + " (" + std::to_string(n) + ")";
        if (std::none_of(taken.begin(), taken.end(),
                         [&](const std::string& t) { return LowerText(t) == LowerText(name); }))
            return name;
    }
}

void AddBelow(std::vector<sources::Placed>& out, const sources::Placement& placed,
              const std::string& folder) {
    for (const sources::Placed& p : placed.Files)
        out.push_back({p.Member, folder.empty() ? p.Target : folder + "/" + p.Target});
}

// A root as the player gives it: either separator, none at either end, "." for the top.
std::string NormalRoot(std::string root) {
    std::replace(root.begin(), root.end(), '\\', '/');
    while (!root.empty() && root.front() == '/')
        root.erase(root.begin());
    while (!root.empty() && root.back() == '/')
        root.pop_back();
    return root == "." ? std::string() : root;
}

// Whether a label the player gave ("2" or "02") is o's number.
bool Names(const std::string& label, const sources::Option& o) {
    if (label.empty() || label.size() > 9 ||
        !std::all_of(label.begin(), label.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    return std::stoi(label) == o.Number;
}

} // namespace

std::string NameFromArchive(const std::string& archivePath) {
    std::string name = platform::FileNamePart(archivePath);
    const std::string lower = LowerText(name);
    // The longest known ending first, so that "x.tar.gz" loses both.
    for (const char* ending : {".tar.gz", ".tar.bz2", ".tar.xz", ".tar.zst", ".tgz", ".tbz2",
                               ".txz", ".tar", ".zip", ".7z", ".rar", ".qvr"})
        if (lower.ends_with(ending)) {
            name.resize(name.size() - std::char_traits<char>::length(ending));
            break;
        }
    return name;
}

Result PlanSource(const sources::Source& source, const sources::Choice& choice, SourcePlan& out,
                  bool lowestToo) {
    out = SourcePlan();
    const std::vector<std::string> paths = PathsOf(source);
    const sources::Layout layout = sources::FindLayout(paths);
    sources::Choice taken = choice;
    std::vector<sources::Option> chosen;
    if (!choice.RootGiven && !layout.Options.empty() && (lowestToo || choice.Options.empty())) {
        std::string why;
        chosen = sources::ChooseOptions(layout, choice.Options, why);
        if (!why.empty())
            return Result::EntryFailure(out.Selection.Message = why);
        taken.Options.clear();
        for (const sources::Option& o : chosen)
            taken.Options.push_back(o.Label);
    }
    if (Result selected = sources::Select(paths, taken, out.Selection); !selected)
        return selected;
    if (!taken.Options.empty()) {
        for (const sources::Option& o : layout.Options)
            if (std::any_of(taken.Options.begin(), taken.Options.end(),
                            [&](const std::string& l) { return Names(l, o); }))
                out.Options.push_back(o);
        return Result::Success();
    }
    out.Root = choice.RootGiven ? NormalRoot(choice.Root) : layout.Root;
    return Result::Success();
}

InstallRequest SourceRequest(sources::Source& source, const SourcePlan& plan) {
    InstallRequest request;
    request.Source = &source;
    request.Files = plan.Selection.Placed.Files;
    request.Archive = platform::FileNamePart(source.Name());
    request.Name = plan.Name.empty() ? NameFromArchive(source.Name()) : plan.Name;
    request.Version = plan.Version;
    request.Root = plan.Root;
    for (const sources::Option& o : plan.Options)
        request.Options.push_back(o.Label + " " + o.Name);
    return request;
}

std::vector<sources::Placed> PlaceInFolders(const sources::Source& source, const SourcePlan& plan,
                                            std::vector<std::string>& folders) {
    folders.clear();
    std::vector<sources::Placed> out;
    if (plan.Options.empty()) {
        folders.push_back("");
        return plan.Selection.Placed.Files;
    }
    const std::vector<std::string> paths = PathsOf(source);
    const sources::Layout& layout = plan.Selection.Found;
    if (layout.RootHoldsData) {
        const sources::Placement beside = sources::PlaceOptions(paths, layout, {});
        if (!beside.Files.empty()) {
            folders.push_back("Base");
            AddBelow(out, beside, folders.back());
        }
    }
    for (const sources::Option& o : plan.Options) {
        folders.push_back(FreeFolder(MakePlainName(LastLevel(o.Folder), kFolderBytes), folders));
        AddBelow(out, sources::PlaceFromRoot(paths, o.Root), folders.back());
    }
    return out;
}

namespace {

// Whether every file of r holds a member of source as the install wrote it: a member whose
// path ends in the file's, by its size and, where the archive keeps one, its checksum.
bool HoldsOnlyMembersOf(const InstallRecord& r, const sources::Source& source) {
    std::unordered_multimap<std::string, std::pair<std::string, const sources::Member*>> byName;
    for (const sources::Member& m : source.Members()) {
        std::string path = detail::FoldCase(m.Path);
        std::string name = path.substr(path.rfind('/') + 1);
        byName.emplace(std::move(name), std::make_pair(std::move(path), &m));
    }
    return !r.Files.empty() && std::all_of(r.Files.begin(), r.Files.end(), [&](const auto& f) {
        std::string path = detail::FoldCase(f.Path);
        std::replace(path.begin(), path.end(), '\\', '/');
        const auto [from, to] = byName.equal_range(path.substr(path.rfind('/') + 1));
        return std::any_of(from, to, [&](const auto& named) {
            const auto& [p, m] = named.second;
            const bool below = p == path || (p.size() > path.size() && p.ends_with(path) &&
                                             p[p.size() - path.size() - 1] == '/');
            return below && (!f.Known || (f.Size == m->Size && (!m->Crc || *m->Crc == f.Crc)));
        });
    });
}

} // namespace

SourceRecord FindSourceRecord(const sources::Source& source, const std::string& dataFolder) {
    std::vector<InstallRecord> named = ListInstallRecords(dataFolder);
    std::erase_if(named, [&](const InstallRecord& r) {
        return detail::FoldCase(r.Archive) != detail::FoldCase(source.Name());
    });
    SourceRecord out;
    if (named.size() == 1)
        out.Record = std::move(named.front());
    if (named.size() <= 1)
        return out;
    for (InstallRecord& r : named)
        if (HoldsOnlyMembersOf(r, source) && (!out.Record || r.Sequence > out.Record->Sequence))
            out.Record = r;
    if (!out.Record)
        for (const InstallRecord& r : named)
            out.Keys.push_back(r.Key);
    return out;
}

} // namespace qvr
