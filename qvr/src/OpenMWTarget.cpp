#include "OpenMWTarget.h"

#include "Places.h"
#include "Removal.h"

#include "qvr/FileUtils.h"
#include "qvr/HostEnvironment.h"
#include "qvr/InstallRecord.h"
#include "qvr/OpenMWConfig.h"
#include "qvr/RecordedInstall.h"

#include <fstream>
#include <iostream>
#include <set>

namespace qvrtool {

namespace {

// The list of lines a plug-in added, beside the mods folder's plug-in folders.
fs::path LinesFolder(const std::string& modsFolder) {
    return Native(modsFolder) / ".qvr-openmw";
}

fs::path LinesFile(const std::string& modsFolder, const std::string& key) {
    return LinesFolder(modsFolder) / (key + ".txt");
}

struct AddedLines {
    std::string Folder; // the plug-in's folder, also when its data= line was there already
    qvr::openmw::ModLines Lines;
};

AddedLines ReadLines(const fs::path& file) {
    AddedLines out;
    std::ifstream in(file, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.starts_with("folder="))
            out.Folder = line.substr(7);
        else if (line.starts_with("data="))
            out.Lines.DataFolder = line.substr(5);
        else if (line.starts_with("content="))
            out.Lines.Content.push_back(line.substr(8));
    }
    return out;
}

void WriteLines(const fs::path& file, const AddedLines& lines) {
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    std::string text = "folder=" + lines.Folder + "\n";
    if (!lines.Lines.DataFolder.empty())
        text += "data=" + lines.Lines.DataFolder + "\n";
    for (const auto& c : lines.Lines.Content)
        text += "content=" + c + "\n";
    fs::path temp = file;
    temp += ".new";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out)
            throw CommandError{kSomeFailed, "cannot write " + Utf8(temp)};
    }
    fs::rename(temp, file, ec);
    if (ec)
        throw CommandError{kSomeFailed, "cannot write " + Utf8(file) + ": " + ec.message()};
}

bool IsPluginName(const std::string& name) {
    const std::string l = Lower(name);
    return l.ends_with(".esp") || l.ends_with(".esm") || l.ends_with(".omwaddon");
}

// The plug-ins at the archive's top level, in the archive's order.
std::vector<std::string> TopLevelPlugins(const qvr::Archives& arc) {
    std::vector<std::string> out;
    for (const auto& e : arc.ArchiveFiles)
        if (e.FilePath().empty() && !arc.IsInfoEntry(e) && IsPluginName(e.FileName()))
            out.push_back(e.FileName());
    return out;
}

// Names of masters in a free-text Depends field: every word ending in a plug-in extension.
std::vector<std::string> Masters(const std::string& depends) {
    std::vector<std::string> out;
    std::string word;
    auto flush = [&] {
        size_t b = word.find_first_not_of(" \t\"'");
        size_t e = word.find_last_not_of(" \t\"'.");
        if (b != std::string::npos) {
            std::string w = word.substr(b, e - b + 1);
            if (IsPluginName(w))
                out.push_back(w);
        }
        word.clear();
    };
    for (char c : depends) {
        if (c == ',' || c == ';' || c == '\n' || c == '\r' || c == '\0')
            flush();
        else
            word += c;
    }
    flush();
    return out;
}

bool FolderHolds(const std::string& folder, const std::string& name) {
    std::error_code ec;
    for (fs::directory_iterator d(Native(folder), ec), end; !ec && d != end; d.increment(ec))
        if (SameText(Utf8(d->path().filename()), name))
            return true;
    return false;
}

std::string ConfigPath() {
    return Utf8(Native(qvr::openmw::UserConfigFolder(qvr::CurrentHostEnvironment())) /
                "openmw.cfg");
}

std::string ModsFolder(const std::string& given) {
    if (!given.empty())
        return given;
    const std::string setting = InstallerSetting("OpenMWModsFolder");
    if (!setting.empty())
        return setting;
    return qvr::openmw::DefaultModsFolder(qvr::CurrentHostEnvironment());
}

} // namespace

OpenMWInstall PrepareOpenMWInstall(const qvr::Archives& arc, const std::string& modsFolder,
                                   const Context&) {
    OpenMWInstall where;
    where.ConfigPath = ConfigPath();
    where.ModsFolder = ModsFolder(modsFolder);
    if (where.ModsFolder.empty())
        throw CommandError{kUsage, "no mods folder is known; pass --mods-folder FOLDER"};
    std::string stem = qvr::GetFileNameFromPath(arc.CurrentArchive);
    if (Lower(stem).ends_with(".qvr"))
        stem.resize(stem.size() - 4);
    where.ModFolder = Utf8(Native(where.ModsFolder) / Native(stem));
    return where;
}

bool FinishOpenMWInstall(const qvr::Archives& arc, const OpenMWInstall& where, const Context& ctx) {
    const std::string key = qvr::RecordKey(qvr::GetFileNameFromPath(arc.CurrentArchive));
    const fs::path linesFile = LinesFile(where.ModsFolder, key);
    AddedLines before = ReadLines(linesFile);
    AddedLines after;
    after.Folder = where.ModFolder;
    const std::vector<std::string> plugins = TopLevelPlugins(arc);
    std::vector<std::string> enabled;
    std::vector<std::string> dataFolders;
    std::string error;
    const bool ok = qvr::openmw::Update(
        where.ConfigPath,
        [&](qvr::openmw::Config& cfg) {
            qvr::openmw::ModLines added = cfg.AddMod({where.ModFolder, plugins});
            after.Lines = added;
            // A re-install keeps the lines it added before; those of plug-ins the new
            // version no longer has go.
            if (!before.Lines.DataFolder.empty())
                after.Lines.DataFolder = before.Lines.DataFolder;
            qvr::openmw::ModLines gone;
            for (const std::string& c : before.Lines.Content) {
                bool still = false;
                for (const std::string& p : plugins)
                    still = still || SameText(p, c);
                if (still)
                    after.Lines.Content.push_back(c);
                else
                    gone.Content.push_back(c);
            }
            if (!gone.Content.empty())
                cfg.RemoveMod(gone);
            enabled = cfg.Values("content");
            dataFolders = cfg.Values("data");
        },
        &error);
    if (!ok) {
        Warn("could not update " + where.ConfigPath + ": " + error +
             "; the files are installed in " + where.ModFolder);
        return false;
    }
    WriteLines(linesFile, after);
    if (!ctx.Quiet)
        std::cout << "Listed " << where.ModFolder << " in " << where.ConfigPath << " with "
                  << Plural(static_cast<int>(plugins.size()), "plug-in", "plug-ins") << "\n";
    for (const std::string& master : Masters(arc.PluginInfo.Depends())) {
        bool found = false;
        for (const std::string& c : enabled)
            found = found || SameText(c, master);
        for (const std::string& d : dataFolders)
            found = found || FolderHolds(d, master);
        if (!found)
            Warn("warning: " + Printable(master) +
                 " is needed but no content= line enables it and no data folder holds it");
    }
    return true;
}

int UninstallOpenMW(const std::string& what, const std::string& modsFolder, bool dryRun,
                    const Context& ctx) {
    const std::string mods = ModsFolder(modsFolder);
    const std::string cfgPath = ConfigPath();
    std::error_code ec;
    // The plug-in's folder: by the archive's name, else by the name its record holds.
    std::string key;
    if (fs::is_regular_file(Native(what), ec))
        key = qvr::RecordKey(qvr::GetFileNameFromPath(what));
    else
        for (fs::directory_iterator d(LinesFolder(mods), ec), end; !ec && d != end;
             d.increment(ec)) {
            if (d->path().extension() != ".txt")
                continue;
            const AddedLines lines = ReadLines(d->path());
            if (!lines.Folder.empty() && qvr::FindInstallRecord(lines.Folder, what)) {
                key = Utf8(d->path().stem());
                break;
            }
        }
    const fs::path linesFile = LinesFile(mods, key);
    if (key.empty() || !fs::exists(linesFile, ec))
        throw CommandError{kUsage, what + ": no OpenMW install of it is recorded in " + mods};
    const AddedLines lines = ReadLines(linesFile);
    if (dryRun) {
        int code = ReportRemoval(qvr::PlanRemoval(lines.Folder, key), lines.Folder, true, ctx);
        if (!lines.Lines.DataFolder.empty())
            std::cout << "would take out of " << cfgPath
                      << ": data=" << qvr::openmw::Quote(lines.Lines.DataFolder) << "\n";
        for (const auto& c : lines.Lines.Content)
            std::cout << "would take out of " << cfgPath << ": content=" << c << "\n";
        return code;
    }
    const qvr::RemovalReport report = qvr::RemoveByRecord(lines.Folder, key);
    const int code = ReportRemoval(report, lines.Folder, false, ctx);
    if (!report.Outcome)
        return code;
    std::string error;
    if (!qvr::openmw::Update(
            cfgPath, [&](qvr::openmw::Config& cfg) { cfg.RemoveMod(lines.Lines); }, &error)) {
        Warn("could not update " + cfgPath + ": " + error);
        return kSomeFailed;
    }
    fs::remove(linesFile, ec);
    fs::remove(LinesFolder(mods), ec); // only when empty
    // The folder goes when nothing is left in it; kept files keep it.
    fs::remove(Native(lines.Folder), ec);
    if (!ctx.Quiet) {
        std::cout << "Took " << lines.Folder << " and its plug-ins out of " << cfgPath << "\n";
        if (fs::exists(Native(lines.Folder), ec))
            std::cout << "The folder " << lines.Folder << " stays: it holds files kept\n";
    }
    return code;
}

} // namespace qvrtool
