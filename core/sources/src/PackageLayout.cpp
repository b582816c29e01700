#include "qvr/sources/PackageLayout.h"

#include "qvr/format/sgFileInfo.h"

namespace qvr::sources {

namespace {

std::string List(const std::vector<std::string>& items) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i)
        out += (i == 0 ? "" : ", ") + items[i];
    return out;
}

} // namespace

WrappedData FindWrappedData(const std::vector<std::string>& paths) {
    const Layout layout = FindLayout(paths);
    WrappedData w;
    w.Kind = layout.Kind;
    switch (layout.Kind) {
    case LayoutKind::Root:
        if (layout.Root.empty())
            break;
        w.Inner = layout.Root;
        w.Problem = "its files sit below the folder " + ShownFolder(layout.Root) +
                    ", which installing it would put inside a player's data folder, where the "
                    "game never looks: the package's top should hold what " +
                    ShownFolder(layout.Root) + " holds";
        break;
    case LayoutKind::Options: {
        std::vector<std::string> names;
        for (const Option& o : layout.Options) {
            names.push_back(o.Label + " " + o.Name);
            w.Folders.push_back(o.Root);
        }
        w.Problem = "its files are numbered options (" + List(names) + ")" +
                    (layout.Root.empty() ? "" : " below " + ShownFolder(layout.Root)) +
                    ", which installing it would put as folders inside a player's data folder: "
                    "a package holds the files of the options wanted at its top";
        break;
    }
    case LayoutKind::SeveralRoots: {
        std::vector<std::string> shown;
        for (const std::string& c : layout.Candidates)
            shown.push_back(ShownFolder(c));
        w.Folders = layout.Candidates;
        w.Problem = "more than one of its folders holds the game's data (" + List(shown) +
                    "), and installing it would put the inner ones inside a player's data "
                    "folder: the package's top should hold what one of them holds";
        break;
    }
    case LayoutKind::NoData:
        break;
    }
    return w;
}

std::vector<std::string> PackagePaths(const Archives& arc) {
    std::vector<std::string> paths;
    for (const sgFileInfo& e : arc.ArchiveFiles) {
        if (e.FileName().empty() || arc.IsInfoEntry(e) || Archives::LooksLikeInfoEntry(e))
            continue;
        std::string folder = e.FilePath();
        for (char& c : folder)
            if (c == '\\')
                c = '/';
        paths.push_back(folder.empty() ? e.FileName() : folder + "/" + e.FileName());
    }
    return paths;
}

} // namespace qvr::sources
