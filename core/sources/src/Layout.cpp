#include "qvr/sources/Layout.h"

#include "qvr/platform/Encoding.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string_view>

namespace qvr::sources {
namespace {

struct Node {
    bool DataFile = false;            // a plug-in or .bsa file directly in it
    std::vector<std::string> Folders; // names, each once
};
// By folder path, "" for the top; looked up by views of a member's path.
using Tree = std::map<std::string, Node, std::less<>>;

std::string Join(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

bool IsDataFile(std::string_view name) {
    // The extensions are ASCII, and folding never moves a letter into ASCII or out of it.
    const auto endsWith = [&](std::string_view ext) {
        return name.size() > ext.size() &&
               std::equal(ext.begin(), ext.end(), name.end() - static_cast<ptrdiff_t>(ext.size()),
                          [](char e, char c) {
                              return e == (c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c);
                          });
    };
    for (std::string_view ext : {".esp", ".esm", ".omwaddon", ".omwscripts", ".bsa"})
        if (endsWith(ext))
            return true;
    return false;
}

// A member's path is its folder's path, "/", its name: each folder is looked up by the prefix
// that names it, and made only once.
Tree Build(const std::vector<std::string>& paths) {
    Tree tree;
    tree[""];
    for (const std::string& p : paths) {
        const std::string_view path(p);
        Node* parent = &tree.find(std::string_view())->second;
        size_t start = 0;
        for (size_t cut = path.find('/'); cut != std::string_view::npos;
             cut = path.find('/', start)) {
            auto child = tree.find(path.substr(0, cut));
            if (child == tree.end()) {
                child = tree.emplace(std::string(path.substr(0, cut)), Node()).first;
                parent->Folders.emplace_back(path.substr(start, cut - start));
            }
            parent = &child->second;
            start = cut + 1;
        }
        parent->DataFile = parent->DataFile || IsDataFile(path.substr(start));
    }
    return tree;
}

// The folders the game and OpenMW read below the data folder.
bool IsDataFolder(const std::string& name) {
    static const std::set<std::string> kKnown = {
        "bookart", "distantland", "fonts",  "icons",    "meshes", "music", "mwse",
        "shaders", "sound",       "splash", "textures", "video",  "l10n",  "grass"};
    return kKnown.count(LowerText(name)) > 0;
}

bool HoldsData(const Node& n) {
    return n.DataFile || std::any_of(n.Folders.begin(), n.Folders.end(), IsDataFolder);
}

// "01 Bigger Rocks" or "01_Bigger_Rocks": two or more digits, a blank or underscore, a name.
std::optional<Option> Numbered(const std::string& name) {
    size_t digits = 0;
    while (digits < name.size() && name[digits] >= '0' && name[digits] <= '9')
        ++digits;
    if (digits < 2 || digits > 9 || digits + 1 >= name.size() ||
        (name[digits] != ' ' && name[digits] != '_'))
        return std::nullopt;
    Option o;
    o.Label = name.substr(0, digits);
    o.Number = std::stoi(o.Label);
    o.Name = name.substr(digits + 1);
    return o;
}

// The outermost folders at or below folder that hold data; and a "Data Files" or "Data" folder
// holding data beside data of its own, which would otherwise land as a folder inside the data
// folder.
void Candidates(const Tree& tree, const std::string& folder, std::vector<std::string>& out) {
    const Node& n = tree.at(folder);
    if (HoldsData(n)) {
        out.push_back(folder);
        for (const std::string& child : n.Folders) {
            const std::string lower = LowerText(child);
            if ((lower == "data files" || lower == "data") &&
                HoldsData(tree.at(Join(folder, child))))
                out.push_back(Join(folder, child));
        }
        return;
    }
    for (const std::string& child : n.Folders)
        Candidates(tree, Join(folder, child), out);
}

// The folder holding numbered options: the top, or a folder reached through wrappers (folders
// alone at their level, with no data of their own beside them).
std::optional<std::string> OptionsParent(const Tree& tree) {
    std::string folder;
    for (int depth = 0; depth < 8; ++depth) {
        const Node& n = tree.at(folder);
        if (std::any_of(n.Folders.begin(), n.Folders.end(),
                        [](const std::string& f) { return Numbered(f).has_value(); }))
            return folder;
        if (HoldsData(n) || n.Folders.size() != 1)
            return std::nullopt;
        folder = Join(folder, n.Folders.front());
    }
    return std::nullopt;
}

// The path below folder (its levels taken off), when it lies there; letter case ignored.
std::optional<std::string> Below(const std::string& path, const std::string& folder) {
    if (folder.empty())
        return path;
    if (path.size() <= folder.size() + 1 || path[folder.size()] != '/' ||
        LowerText(path.substr(0, folder.size())) != LowerText(folder))
        return std::nullopt;
    return path.substr(folder.size() + 1);
}

Layout WithOptions(const Tree& tree, const std::string& parent) {
    Layout layout;
    layout.Kind = LayoutKind::Options;
    layout.Root = parent;
    layout.RootHoldsData = HoldsData(tree.at(parent));
    layout.Base = parent;
    // The main plug-in in "Data Files" beside its numbered patches.
    for (const std::string& child : tree.at(parent).Folders) {
        const std::string lower = LowerText(child);
        if (!layout.RootHoldsData && (lower == "data files" || lower == "data") &&
            HoldsData(tree.at(Join(parent, child)))) {
            layout.RootHoldsData = true;
            layout.Base = Join(parent, child);
        }
    }
    for (const std::string& child : tree.at(parent).Folders) {
        std::optional<Option> o = Numbered(child);
        if (!o)
            continue;
        o->Folder = Join(parent, child);
        std::vector<std::string> found;
        Candidates(tree, o->Folder, found);
        o->Root = found.size() == 1 ? found.front() : o->Folder;
        if (found.size() > 1 && layout.Kind == LayoutKind::Options) {
            layout.Kind = LayoutKind::SeveralRoots;
            layout.Candidates = found;
        }
        layout.Options.push_back(*o);
    }
    std::sort(layout.Options.begin(), layout.Options.end(), [](const Option& a, const Option& b) {
        return a.Number != b.Number ? a.Number < b.Number : a.Name < b.Name;
    });
    return layout;
}

} // namespace

Layout FindLayout(const std::vector<std::string>& paths) {
    const Tree tree = Build(paths);
    if (std::optional<std::string> parent = OptionsParent(tree))
        return WithOptions(tree, *parent);
    Layout layout;
    Candidates(tree, "", layout.Candidates);
    if (layout.Candidates.size() == 1) {
        layout.Kind = LayoutKind::Root;
        layout.Root = layout.Candidates.front();
        layout.Candidates.clear();
    } else if (layout.Candidates.size() > 1) {
        layout.Kind = LayoutKind::SeveralRoots;
    } else {
        layout.Kind = LayoutKind::NoData;
        layout.Candidates.push_back("");
        for (const std::string& f : tree.at("").Folders)
            layout.Candidates.push_back(f);
    }
    return layout;
}

Placement PlaceFromRoot(const std::vector<std::string>& paths, const std::string& root) {
    Placement out;
    for (size_t i = 0; i < paths.size(); ++i) {
        if (std::optional<std::string> target = Below(paths[i], root))
            out.Files.push_back({i, *target});
        else
            out.LeftOut.push_back(i);
    }
    return out;
}

Placement PlaceOptions(const std::vector<std::string>& paths, const Layout& layout,
                       const std::vector<Option>& chosen) {
    std::map<std::string, Placed> byTarget; // folded target -> the member that lands there
    std::vector<bool> taken(paths.size());  // placed, or replaced by a later option's file
    auto place = [&](size_t i, const std::string& target) {
        byTarget.insert_or_assign(LowerText(target), Placed{i, target});
        taken[i] = true;
    };
    if (layout.RootHoldsData)
        for (size_t i = 0; i < paths.size(); ++i) {
            const bool inOption =
                std::any_of(layout.Options.begin(), layout.Options.end(),
                            [&](const Option& o) { return Below(paths[i], o.Folder).has_value(); });
            if (std::optional<std::string> target = Below(paths[i], layout.Base);
                target && !inOption)
                place(i, *target);
        }
    std::vector<Option> ordered = chosen;
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const Option& a, const Option& b) { return a.Number < b.Number; });
    for (const Option& o : ordered)
        for (size_t i = 0; i < paths.size(); ++i)
            if (std::optional<std::string> target = Below(paths[i], o.Root))
                place(i, *target);
    Placement out;
    for (const auto& [key, p] : byTarget)
        out.Files.push_back(p);
    std::sort(out.Files.begin(), out.Files.end(),
              [](const Placed& a, const Placed& b) { return a.Member < b.Member; });
    for (size_t i = 0; i < paths.size(); ++i)
        if (!taken[i])
            out.LeftOut.push_back(i);
    return out;
}

std::vector<Option> ChooseOptions(const Layout& layout, const std::vector<std::string>& labels,
                                  std::string& why) {
    why.clear();
    std::set<size_t> picked;
    if (!layout.Options.empty())
        picked.insert(0);
    for (const std::string& label : labels) {
        const bool digits =
            !label.empty() && label.size() <= 9 &&
            std::all_of(label.begin(), label.end(), [](char c) { return c >= '0' && c <= '9'; });
        bool found = false;
        for (size_t k = 0; digits && k < layout.Options.size(); ++k)
            if (layout.Options[k].Number == std::stoi(label)) {
                picked.insert(k);
                found = true;
            }
        if (!found) {
            why = "no option is numbered \"" + label + "\" (the options are";
            for (const Option& o : layout.Options)
                why += " " + o.Label;
            why += ")";
            return {};
        }
    }
    std::vector<Option> out;
    for (size_t k : picked) {
        // Two options of one number: which goes over which is the archive's secret.
        std::string same;
        int count = 0;
        for (const Option& o : layout.Options)
            if (o.Number == layout.Options[k].Number) {
                same += (count++ ? ", " : "") + o.Label + " " + o.Name;
            }
        if (count > 1) {
            why = "more than one option is numbered " + layout.Options[k].Label + " (" + same +
                  "), so which goes over the other is not known; install from one option's "
                  "folder instead (qvr: --root)";
            return {};
        }
        out.push_back(layout.Options[k]);
    }
    return out;
}

std::string ShownFolder(const std::string& folder) {
    return folder.empty() ? std::string("the top") : folder + "/";
}

} // namespace qvr::sources
