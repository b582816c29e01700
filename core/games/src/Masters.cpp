#include "qvr/games/Masters.h"

#include "qvr/games/PluginHeader.h"
#include "qvr/platform/Encoding.h"
#include "qvr/platform/detail/platform.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>

namespace qvr {

namespace {

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& n) { return SameTextIgnoreCase(n, name); });
}

// A listed item names a master when it is the master's name, or ends in it after a word
// ("Requires Tribunal.esm").
bool Names(const std::string& item, const std::string& master) {
    const std::string i = LowerText(item), m = LowerText(master);
    return i == m || (i.size() > m.size() && i.ends_with(m) && i[i.size() - m.size() - 1] == ' ');
}

std::string JoinNames(const std::vector<std::string>& names) {
    std::string out;
    for (size_t i = 0; i < names.size(); ++i)
        out += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    return out;
}

// The masters the package's plug-ins name that it does not hold, each once, in order.
std::vector<std::string> NeededMasters(const std::vector<PluginMasters>& plugins) {
    std::vector<std::string> held, needed;
    for (const PluginMasters& p : plugins)
        held.push_back(p.Name);
    for (const PluginMasters& p : plugins)
        for (const std::string& m : p.Masters)
            if (!Contains(held, m) && !Contains(needed, m))
                needed.push_back(m);
    return needed;
}

// The lower-case names of the files in the folders.
std::shared_ptr<std::set<std::string>> Listed(const std::vector<std::string>& folders) {
    auto names = std::make_shared<std::set<std::string>>();
    for (const std::string& folder : folders) {
        std::error_code ec;
        for (std::filesystem::directory_iterator d(platform::ToNative(folder), ec), end;
             !ec && d != end; d.increment(ec))
            names->insert(LowerText(platform::FromNative(d->path().filename())));
    }
    return names;
}

std::function<bool(const std::string&)> Holds(const std::vector<std::string>& folders) {
    return [names = Listed(folders)](const std::string& name) {
        return names->count(LowerText(name)) > 0;
    };
}

} // namespace

std::function<bool(const std::string&)> DataFolderHolds(const std::string& dataFolder) {
    return Holds({dataFolder});
}

std::function<bool(const std::string&)> OpenMWHolds(const openmw::Config& config) {
    return Holds(config.Values("data"));
}

std::vector<MissingMaster> MissingMasters(const std::vector<PluginMasters>& archivePlugins,
                                          const std::function<bool(const std::string&)>& inTarget) {
    std::vector<MissingMaster> missing;
    for (const std::string& master : NeededMasters(archivePlugins)) {
        if (inTarget && inTarget(master))
            continue;
        MissingMaster m{master, {}};
        for (const PluginMasters& p : archivePlugins)
            if (Contains(p.Masters, master))
                m.NeededBy.push_back(p.Name);
        missing.push_back(std::move(m));
    }
    return missing;
}

std::vector<MissingMaster>
MissingMastersOf(const Archives& arc, const std::function<bool(const std::string&)>& inTarget) {
    const std::vector<PluginMasters> plugins = MastersOf(ReadArchivePlugins(arc));
    std::vector<MissingMaster> missing = MissingMasters(plugins, inTarget);
    std::vector<std::string> held;
    for (const sgFileInfo& e : arc.ArchiveFiles)
        if (e.FilePath().empty())
            held.push_back(e.FileName());
    for (const std::string& listed : ListedModules(arc.PluginInfo.Depends()))
        if (!Contains(held, listed) && !(inTarget && inTarget(listed)) &&
            std::none_of(missing.begin(), missing.end(), [&](const MissingMaster& m) {
                return SameTextIgnoreCase(m.Name, listed);
            }))
            missing.push_back({listed, {}});
    return missing;
}

std::string MissingMastersNote(const Archives& arc, const std::string& dataFolder) {
    return MissingMastersMessage(MissingMastersOf(arc, DataFolderHolds(dataFolder)),
                                 "the data folder");
}

std::string MissingMastersMessage(const std::vector<MissingMaster>& missing,
                                  const std::string& where) {
    if (missing.empty())
        return {};
    std::string text =
        missing.size() == 1 ? "A master is missing from " : "Masters are missing from ";
    text += where + " and from the archive: ";
    for (size_t i = 0; i < missing.size(); ++i)
        text +=
            (i ? "; " : "") + missing[i].Name +
            (missing[i].NeededBy.empty() ? " (listed as required)"
                                         : " (needed by " + JoinNames(missing[i].NeededBy) + ")");
    return text + ". The game cannot load these plug-ins until " +
           (missing.size() == 1 ? "it is" : "they are") + " installed.";
}

std::vector<std::string> ListedModules(const std::string& depends) {
    std::vector<std::string> items;
    std::string current;
    const auto word = [&](std::string w) {
        // Quotes and brackets around a name, and a full stop or comma after it, are not part of it.
        const size_t b = w.find_first_not_of("\"'([*-");
        const size_t e = w.find_last_not_of("\"').,:!]");
        w = b == std::string::npos || e < b ? "" : w.substr(b, e - b + 1);
        if (w.empty())
            return;
        const std::string l = LowerText(w);
        if (current.empty() && (l == "and" || l == "or" || l == "&" || l == "+"))
            return;
        current += (current.empty() ? "" : " ") + w;
        if (IsPluginFileName(current)) {
            items.push_back(current);
            current.clear();
        }
    };
    std::string w;
    for (char c : depends + "\n") {
        if (c == ' ' || c == '\t') {
            word(w);
            w.clear();
        } else if (c == ',' || c == ';' || c == '\n' || c == '\r') {
            word(w);
            w.clear();
            current.clear();
        } else {
            w += c;
        }
    }
    return items;
}

RequiredModules CheckRequiredModules(const std::vector<PluginMasters>& packagePlugins,
                                     const std::string& depends) {
    RequiredModules r;
    const std::vector<std::string> needed = NeededMasters(packagePlugins);
    const std::vector<std::string> listed = ListedModules(depends);
    for (const std::string& m : needed)
        if (std::none_of(listed.begin(), listed.end(),
                         [&](const std::string& item) { return Names(item, m); }))
            r.Missing.push_back(m);
    for (const std::string& item : listed) {
        const auto namesIt = [&](const std::string& m) { return Names(item, m); };
        const bool held = std::any_of(packagePlugins.begin(), packagePlugins.end(),
                                      [&](const PluginMasters& p) { return Names(item, p.Name); });
        if (!held && std::none_of(needed.begin(), needed.end(), namesIt))
            r.NotNeeded.push_back(item);
    }
    for (size_t i = 0; i < needed.size(); ++i)
        r.Offer += (i ? ", " : "") + needed[i];
    return r;
}

std::string RequiredModulesProblem(const RequiredModules& r,
                                   const std::vector<PluginMasters>& packagePlugins) {
    std::vector<std::string> missing;
    for (const std::string& m : r.Missing) {
        std::vector<std::string> by;
        for (const PluginMasters& p : packagePlugins)
            if (Contains(p.Masters, m))
                by.push_back(p.Name);
        missing.push_back(m + " (" + JoinNames(by) + ")");
    }
    std::string text;
    if (!missing.empty())
        text = "the plug-ins need " + JoinNames(missing) + ", which it does not list";
    if (!r.NotNeeded.empty())
        text += (text.empty() ? "" : "; ") + std::string("it lists ") + JoinNames(r.NotNeeded) +
                ", which no plug-in of the package names as a master";
    return text;
}

std::vector<PluginMasters> MastersOfFiles(const std::vector<BatchFile>& files, size_t* unreadable) {
    std::vector<PluginMasters> out;
    if (unreadable)
        *unreadable = 0;
    for (const BatchFile& f : files) {
        if (!f.FilePath.empty() || !IsPluginFileName(f.FileName))
            continue;
        PluginMasters p{f.FileName, {}};
        PluginHeader header;
        if (ReadPluginHeader(f.Source, header)) {
            for (const PluginMaster& m : header.Masters)
                p.Masters.push_back(m.Name);
        } else if (unreadable) {
            ++*unreadable;
        }
        out.push_back(std::move(p));
    }
    return out;
}

} // namespace qvr
