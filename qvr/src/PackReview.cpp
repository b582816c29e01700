// What create and add check in the package they write: that "Depends on" names the masters its
// plug-ins need, and that its files would land where the game looks.

#include "CreateSteps.h"

#include "qvr/games/Masters.h"
#include "qvr/games/PluginHeader.h"
#include "qvr/platform/FileUtils.h"

#include <iostream>

#include <algorithm>
#include <cstring>

namespace qvrtool {

namespace {

// s as one word for the shell the user typed the command into.
std::string ShellWord(const std::string& s) {
#ifdef _WIN32
    const char* plain = "_./:@%+=,-\\";
#else
    const char* plain = "_./:@%+=,-";
#endif
    if (!s.empty() && std::all_of(s.begin(), s.end(), [&](char c) {
            const auto u = static_cast<unsigned char>(c);
            return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') ||
                   u >= 0x80 || std::strchr(plain, c) != nullptr;
        }))
        return s;
#ifdef _WIN32
    return "\"" + s + "\"";
#else
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
#endif
}

bool IsBlank(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
}

} // namespace

bool ReviewDepends(const std::vector<qvr::PluginMasters>& plugins, size_t unreadable,
                   qvr::sgPlugInfo& info, const std::string& path,
                   const std::function<std::string(const std::string&)>& fix) {
    if (plugins.empty())
        return false;
    qvr::RequiredModules r = qvr::CheckRequiredModules(plugins, info.Depends());
    if (IsBlank(info.Depends())) {
        if (r.Offer.empty())
            return false;
        info.Depends(r.Offer);
        return true;
    }
    // A plug-in whose header cannot be read may need what the text lists.
    if (unreadable > 0)
        r.NotNeeded.clear();
    const std::string problem = qvr::RequiredModulesProblem(r, plugins);
    if (!problem.empty())
        Warn(path + ": Depends on: " + problem + (r.Offer.empty() ? "" : "; " + fix(r.Offer)));
    return false;
}

std::vector<std::string> PathsOf(const std::vector<qvr::BatchFile>& files) {
    std::vector<std::string> paths;
    for (const qvr::BatchFile& f : files) {
        std::string folder = f.FilePath;
        std::replace(folder.begin(), folder.end(), '\\', '/');
        paths.push_back(folder.empty() ? f.FileName : folder + "/" + f.FileName);
    }
    return paths;
}

void WarnWrapped(const std::string& path, const qvr::sources::WrappedData& wrapped,
                 const std::string& fix) {
    if (wrapped.Found())
        Warn(path + ": " + wrapped.Problem + ". " + fix);
}

std::string PackFolderFix(const qvr::sources::WrappedData& wrapped, const std::string& path,
                          const std::string& folder) {
    using qvr::sources::LayoutKind;
    std::string inner = wrapped.Inner;
    if (inner.empty())
        for (const std::string& f : wrapped.Folders)
            if (!f.empty()) {
                inner = f;
                break;
            }
    if (inner.empty())
        return "Pack the folder meant instead";
    const std::string command = "qvr create -f " + ShellWord(path) + " " +
                                ShellWord(Utf8((Native(folder) / Native(inner)).make_preferred()));
    switch (wrapped.Kind) {
    case LayoutKind::Root:
        return "Pack that folder instead: " + command;
    case LayoutKind::Options:
        return "Pack the folder of the option wanted instead, e.g. " + command;
    default:
        return "Pack the folder meant instead, e.g. " + command;
    }
}

std::string ConvertFix(const qvr::sources::WrappedData& wrapped, const ParsedArgs& a,
                       const std::string& from) {
    if (wrapped.Kind != qvr::sources::LayoutKind::Root || !a.Has("root"))
        return "--root or --options choose what of " + from + " is packed";
    std::string root = a.Value("root");
    std::replace(root.begin(), root.end(), '\\', '/');
    while (!root.empty() && root.back() == '/')
        root.pop_back();
    root = root.empty() || root == "." ? wrapped.Inner : root + "/" + wrapped.Inner;
    return "Take that folder as the data root instead: --root " + ShellWord(root);
}

void ReviewAdded(qvr::Archives& arc, const std::string& path,
                 const std::vector<qvr::BatchFile>& added, const qvr::sources::WrappedData& before,
                 const Context& ctx) {
    const qvr::sources::WrappedData after =
        qvr::sources::FindWrappedData(qvr::sources::PackagePaths(arc));
    if (after.Problem != before.Problem)
        WarnWrapped(path, after,
                    "Take out what is around the data with qvr remove, and add what the game's "
                    "data folder should hold: the plug-ins, and folders such as Meshes");
    const bool plugin = std::any_of(added.begin(), added.end(), [](const qvr::BatchFile& f) {
        return f.FilePath.empty() && qvr::IsPluginFileName(f.FileName);
    });
    const std::string name = qvr::GetFileNameFromPath(path);
    qvr::sgPlugInfo info;
    if (!plugin || !HasInfoEntry(arc) || !info.GetPluginData(arc, name))
        return;
    const std::vector<qvr::ArchivePlugin> plugins = qvr::ReadArchivePlugins(arc);
    const auto unreadable = static_cast<size_t>(std::count_if(
        plugins.begin(), plugins.end(), [](const qvr::ArchivePlugin& p) { return !p.Read; }));
    const bool filled = ReviewDepends(qvr::MastersOf(plugins), unreadable, info, path,
                                      [&](const std::string& offer) {
                                          return "qvr set-info " + ShellWord(path) + " --depends " +
                                                 ShellWord(offer) + " sets what they need";
                                      });
    if (!filled)
        return;
    if (const qvr::Result written = info.UpdatePluginData(arc, name); !written)
        Warn(path + ": Depends on could not be filled in with the masters its plug-ins name: " +
             written.Message);
    else if (!ctx.Quiet)
        std::cout << "Depends on: " << Printable(info.Depends())
                  << " (the masters its plug-ins name)\n";
}

} // namespace qvrtool
