#include "qvr/games/OpenMWInstall.h"

#include "qvr/platform/detail/platform.h"

#include "qvr/install/InstallRecord.h"
#include "qvr/platform/Encoding.h"
#include "qvr/platform/FileUtils.h"

#include <filesystem>
#include <fstream>

namespace qvr::openmw {

namespace fs = std::filesystem;

namespace {

fs::path Native(const std::string& utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8(const fs::path& p) {
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

bool SameText(const std::string& a, const std::string& b) {
    return LowerText(a) == LowerText(b);
}

// The lists of lines plug-ins added, beside the mods folder's plug-in folders.
fs::path LinesFolder(const std::string& modsFolder) {
    return Native(modsFolder) / ".qvr-openmw";
}

fs::path LinesFile(const std::string& modsFolder, const std::string& key) {
    return LinesFolder(modsFolder) / (key + ".txt");
}

AddedLines ReadLines(const fs::path& file) {
    AddedLines out;
    out.Key = Utf8(file.stem());
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

Result WriteLines(const fs::path& file, const AddedLines& lines) {
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
            return Result::EntryFailure("cannot write " + Utf8(temp));
    }
    fs::rename(temp, file, ec);
    if (ec)
        return Result::EntryFailure("cannot write " + Utf8(file) + ": " + ec.message());
    return Result::Success();
}

bool IsPluginName(const std::string& name) {
    const std::string l = LowerText(name);
    return l.ends_with(".esp") || l.ends_with(".esm") || l.ends_with(".omwaddon");
}

bool FolderHolds(const std::string& folder, const std::string& name) {
    std::error_code ec;
    for (fs::directory_iterator d(Native(folder), ec), end; !ec && d != end; d.increment(ec))
        if (SameText(Utf8(d->path().filename()), name))
            return true;
    return false;
}

} // namespace

Target TargetFor(const std::string& archivePath, const std::string& configPath,
                 const std::string& modsFolder) {
    Target where;
    where.ConfigPath = configPath;
    where.ModsFolder = modsFolder;
    std::string stem = platform::FileNamePart(archivePath);
    if (LowerText(stem).ends_with(".qvr"))
        stem.resize(stem.size() - 4);
    where.ModFolder = Utf8(Native(modsFolder) / Native(stem));
    return where;
}

std::vector<std::string> TopLevelPlugins(const Archives& arc) {
    std::vector<std::string> out;
    for (const auto& e : arc.ArchiveFiles)
        if (e.FilePath().empty() && !arc.IsInfoEntry(e) && IsPluginName(e.FileName()))
            out.push_back(e.FileName());
    return out;
}

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

ListReport ListInstall(const Archives& arc, const Target& where) {
    ListReport report;
    const std::string key = RecordKey(platform::FileNamePart(arc.CurrentArchive));
    const fs::path linesFile = LinesFile(where.ModsFolder, key);
    const AddedLines before = ReadLines(linesFile);
    AddedLines after;
    after.Key = key;
    after.Folder = where.ModFolder;
    const std::vector<std::string> plugins = TopLevelPlugins(arc);
    std::vector<std::string> enabled;
    std::vector<std::string> dataFolders;
    std::string error;
    const bool ok = Update(
        where.ConfigPath,
        [&](Config& cfg) {
            after.Lines = cfg.AddMod({where.ModFolder, plugins});
            // A re-install keeps the lines it added before; those of plug-ins the new
            // version no longer has go.
            if (!before.Lines.DataFolder.empty())
                after.Lines.DataFolder = before.Lines.DataFolder;
            ModLines gone;
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
        report.Outcome =
            Result::EntryFailure("could not update " + where.ConfigPath + ": " + error +
                                 "; the files are installed in " + where.ModFolder);
        return report;
    }
    report.Outcome = WriteLines(linesFile, after);
    report.Plugins = plugins.size();
    for (const std::string& master : Masters(arc.PluginInfo.Depends())) {
        bool found = false;
        for (const std::string& c : enabled)
            found = found || SameText(c, master);
        for (const std::string& d : dataFolders)
            found = found || FolderHolds(d, master);
        if (!found)
            report.MissingMasters.push_back(master);
    }
    return report;
}

std::optional<AddedLines> FindInstall(const std::string& modsFolder, const std::string& what) {
    std::error_code ec;
    // By the archive's name, else by the name its record holds.
    std::string key;
    if (fs::is_regular_file(Native(what), ec)) {
        key = RecordKey(platform::FileNamePart(what));
    } else {
        for (fs::directory_iterator d(LinesFolder(modsFolder), ec), end; !ec && d != end;
             d.increment(ec)) {
            if (d->path().extension() != ".txt")
                continue;
            const AddedLines lines = ReadLines(d->path());
            if (!lines.Folder.empty() && FindInstallRecord(lines.Folder, what)) {
                key = Utf8(d->path().stem());
                break;
            }
        }
    }
    const fs::path linesFile = LinesFile(modsFolder, key);
    if (key.empty() || !fs::exists(linesFile, ec))
        return std::nullopt;
    return ReadLines(linesFile);
}

UninstallReport Uninstall(const std::string& configPath, const std::string& modsFolder,
                          const AddedLines& install, const FileProgress& progress) {
    UninstallReport report;
    report.Files = RemoveByRecord(install.Folder, install.Key, progress);
    if (!report.Files.Outcome) {
        report.Outcome = report.Files.Outcome;
        return report;
    }
    std::string error;
    if (!Update(
            configPath, [&](Config& cfg) { cfg.RemoveMod(install.Lines); }, &error)) {
        report.Outcome = Result::EntryFailure("could not update " + configPath + ": " + error);
        return report;
    }
    std::error_code ec;
    fs::remove(LinesFile(modsFolder, install.Key), ec);
    fs::remove(LinesFolder(modsFolder), ec); // only when empty
    // The folder goes when nothing is left in it; kept files keep it.
    fs::remove(Native(install.Folder), ec);
    report.FolderKept = fs::exists(Native(install.Folder), ec);
    return report;
}

} // namespace qvr::openmw
