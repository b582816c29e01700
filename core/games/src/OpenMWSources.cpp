#include "qvr/games/OpenMWSources.h"

#include "qvr/games/OpenMWLoadOrder.h"

#include "qvr/format/PathRules.h"
#include "qvr/platform/Encoding.h"
#include "qvr/platform/WorkFiles.h"
#include "qvr/platform/detail/platform.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace qvr::openmw {

namespace {

constexpr const char* kKind = "openmw.cfg";

std::string DataFolderOf(const Target& where, const std::string& folder) {
    if (folder.empty())
        return where.ModFolder;
    return platform::FromNative(platform::ToNative(where.ModFolder) / platform::ToNative(folder));
}

// The lines wanted for the files written (recorded paths: the plug-in's folder, then one of
// folders, then the file): every folder's data= line, and the plug-ins, .omwscripts and .bsa
// files at a folder's top, as an install of a package lists them.
std::vector<std::string> WantedLines(const Target& where, const std::vector<std::string>& folders,
                                     const std::vector<std::string>& files, ListReport& listed) {
    std::vector<std::string> lines;
    std::vector<std::string> content; // "key=name"
    listed.Unlisted.clear();
    for (const std::string& folder : folders) {
        lines.push_back("data=" + DataFolderOf(where, folder));
        const std::string prefix = folder.empty() ? std::string() : LowerText(folder) + "\\";
        for (const std::string& f : files) {
            std::string below = f.substr(f.find('\\') + 1);
            if (!LowerText(below).starts_with(prefix))
                continue;
            below = below.substr(prefix.size());
            const std::string key = ListingKey(below);
            if (below.find('\\') != std::string::npos || key.empty())
                continue;
            const Result safe = FirstFailure(IsSafeSettingValue(below), IsSafeRelativePath(below));
            const std::string line = key + "=" + below;
            if (const std::string why = safe ? ValueProblem(below) : safe.Message; !why.empty())
                listed.Unlisted.push_back(below + ": " + why);
            else if (std::none_of(content.begin(), content.end(), [&](const std::string& c) {
                         return LowerText(c) == LowerText(line);
                     }))
                content.push_back(line);
        }
    }
    listed.Plugins = static_cast<size_t>(
        std::count_if(content.begin(), content.end(), [](const std::string& line) {
            return line.starts_with("content=") && !LowerText(line).ends_with(".omwscripts");
        }));
    lines.insert(lines.end(), content.begin(), content.end());
    return lines;
}

// Of the lines wanted, those this install adds: the absent ones, and those the same
// archive's earlier install had added (handed over, so they keep their place).
EditsFor EditsOf(const Target& where, const std::vector<std::string>& folders, ListReport& listed) {
    return [&where, folders, &listed](const std::vector<std::string>& files,
                                      const std::vector<ConfigEdit>& carried) {
        std::ifstream in(platform::ToNative(where.ConfigPath), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        const Config cfg = Config::Parse(text.str());
        const std::vector<std::string> data = cfg.Values("data");
        const std::vector<std::string> content = cfg.Values("content");
        const std::vector<std::string> archives = cfg.Values("fallback-archive");
        ConfigEdit e{kKind, where.ConfigPath, {}, {}};
        for (const std::string& line : WantedLines(where, folders, files, listed)) {
            const std::string key = line.substr(0, line.find('='));
            const std::string value = line.substr(line.find('=') + 1);
            const std::vector<std::string>& present = key == "data"      ? data
                                                      : key == "content" ? content
                                                                         : archives;
            const bool absent = std::none_of(present.begin(), present.end(), [&](const auto& p) {
                return key == "data" ? p == value : LowerText(p) == LowerText(value);
            });
            const bool carriedOver =
                std::any_of(carried.begin(), carried.end(), [&](const ConfigEdit& c) {
                    return c.Kind == kKind && c.File == where.ConfigPath &&
                           std::find(c.Add.begin(), c.Add.end(), line) != c.Add.end();
                });
            if (absent || carriedOver)
                e.Add.push_back(line);
        }
        return e.Add.empty() ? std::vector<ConfigEdit>{} : std::vector<ConfigEdit>{e};
    };
}

} // namespace

InstallReport InstallSource(sources::Source& source, const SourcePlan& plan, const Target& where,
                            const OverwriteQuestion& ask, const PlacedProgress& progress,
                            const TakeBackQuestion& takeBack, ListReport& listed) {
    const ConfigLines editor;
    const InstallTarget target = EngineTarget(where, editor);
    InstallReport report;
    if (report.Outcome = ConfigUsable(where); !report.Outcome)
        return report;
    RemoveStaleWorkFiles(EditFolderOf(where.ConfigPath)); // a killed edit's work file
    std::vector<std::string> folders;
    InstallRequest request = SourceRequest(source, plan);
    request.Files = PlaceInFolders(source, plan, folders);
    for (const std::string& folder : folders)
        if (const Result safe = IsSafeSettingValue(DataFolderOf(where, folder)); !safe) {
            report.Outcome = Result::EntryFailure("cannot list the folder in " + where.ConfigPath +
                                                  ": " + safe.Message + "; nothing was installed");
            return report;
        }
    request.Ask = ask;
    request.Progress = progress;
    request.TakeBack = takeBack;
    request.Edits = EditsOf(where, folders, listed);
    return InstallMembers(target, request);
}

} // namespace qvr::openmw
