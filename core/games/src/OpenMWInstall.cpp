#include "qvr/games/OpenMWInstall.h"

#include "qvr/games/Masters.h"

#include "qvr/platform/detail/platform.h"

#include "qvr/install/detail/EngineSteps.h"

#include "qvr/format/PathRules.h"
#include "qvr/install/InstallRecord.h"
#include "qvr/install/SourceInstall.h"
#include "qvr/platform/Encoding.h"
#include "qvr/platform/FileUtils.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

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

// Room for " (2)" and the work files made beside the folder, within the 255 bytes of a name.
constexpr size_t kFolderBytes = 120;

// The lists of lines plug-ins added, beside the mods folder's plug-in folders.
fs::path LinesFolder(const std::string& modsFolder) {
    return Native(modsFolder) / kOpenMWRecordFolderName;
}

fs::path LinesFile(const std::string& modsFolder, const std::string& key) {
    return LinesFolder(modsFolder) / Native(key + ".txt");
}

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The list in file when it keeps the rules; problems names it otherwise.
std::optional<AddedLines> ReadLines(const fs::path& file, const std::string& modsFolder,
                                    std::vector<std::string>* problems) {
    AddedLines out;
    out.Key = Utf8(file.stem());
    const Result read = ParseAddedLines(ReadText(file), modsFolder, out);
    if (read)
        return out;
    if (problems)
        problems->push_back("the list of lines " + Utf8(file) + " is not used: " + read.Message +
                            "; nothing is removed by it");
    return std::nullopt;
}

bool IsPluginName(const std::string& name) {
    const std::string l = LowerText(name);
    return l.ends_with(".esp") || l.ends_with(".esm") || l.ends_with(".omwaddon");
}

// The record of the install in a plug-in's folder (which holds that one), when there is one.
std::optional<InstallRecord> RecordIn(const std::string& folder, const std::string& key) {
    std::vector<InstallRecord> records = ListInstallRecords(folder);
    if (records.size() == 1)
        return std::move(records[0]);
    for (InstallRecord& r : records)
        if (r.Key == key)
            return std::move(r);
    return std::nullopt;
}

// Whether the archive archiveName may go into folder under key: nothing of another archive's
// install holds either, and the folder is absent, empty, or holds this archive's install.
bool Usable(const std::string& modsFolder, const std::string& key, const fs::path& folder,
            const std::string& archiveName) {
    std::error_code ec;
    bool owned = false;
    const std::string owner = FolderOwnedBy(modsFolder, Utf8(folder.filename()), owned);
    if (owned)
        return owner == archiveName;
    const fs::path lines = LinesFile(modsFolder, key);
    if (fs::exists(fs::symlink_status(lines, ec))) {
        const std::optional<AddedLines> added = ReadLines(lines, modsFolder, nullptr);
        if (!added)
            return false;
        const std::optional<InstallRecord> r = RecordIn(added->Folder, key);
        if (!r || !IsRecordOf(*r, archiveName))
            return false;
    }
    const fs::file_status status = fs::symlink_status(folder, ec);
    if (!fs::exists(status) || (fs::is_directory(status) && fs::is_empty(folder, ec)))
        return true;
    if (!fs::is_directory(status))
        return false;
    for (const InstallRecord& r : ListInstallRecords(Utf8(folder)))
        if (IsRecordOf(r, archiveName))
            return true;
    return false;
}

} // namespace

Target TargetFor(const std::string& archivePath, const std::string& configPath,
                 const std::string& given) {
    // OpenMW reads a relative data= line from the folder of openmw.cfg, not from where qvr ran.
    std::string modsFolder = given;
    if (std::error_code ec; Native(given).is_relative()) {
        fs::path absolute = fs::absolute(Native(given), ec).lexically_normal();
        if (!absolute.has_filename() && absolute.has_relative_path())
            absolute = absolute.parent_path(); // "mods/" as "mods"
        if (!ec)
            modsFolder = Utf8(absolute);
    }
    Target where;
    where.ConfigPath = configPath;
    where.ModsFolder = modsFolder;
    const std::string archiveName = platform::FileNamePart(archivePath);
    const std::string stem = NameFromArchive(archiveName);
    const std::string name = MakePlainName(stem, kFolderBytes);
    const std::string key = RecordKey(archiveName);
    for (int n = 1;; ++n) {
        const std::string suffix = n == 1 ? std::string() : " (" + std::to_string(n) + ")";
        const fs::path folder = Native(modsFolder) / Native(name + suffix);
        if (!Usable(modsFolder, key + suffix, folder, archiveName))
            continue;
        std::error_code ec;
        where.ModFolder = Utf8(folder);
        where.Key = key + suffix;
        where.FolderExisted = fs::exists(fs::symlink_status(folder, ec));
        return where;
    }
}

std::vector<std::string> InstalledPlugins(const std::vector<EntryResult>& entries) {
    std::vector<std::string> out;
    for (const EntryResult& r : entries)
        if (r.Outcome == EntryOutcome::Installed && r.Entry.FilePath().empty() &&
            IsPluginName(r.Entry.FileName()))
            out.push_back(r.Entry.FileName());
    return out;
}

Result ParseAddedLines(const std::string& text, const std::string& modsFolder, AddedLines& out) {
    std::istringstream in(text);
    std::string line;
    int number = 0;
    auto refuse = [&](const std::string& what) {
        return Result::EntryFailure("line " + std::to_string(number) + " is refused: " + what);
    };
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t eq = line.find('=');
        const std::string key = line.substr(0, eq),
                          value = eq == line.npos ? "" : line.substr(eq + 1);
        if (key == "folder") {
            const fs::path folder = Native(value);
            if (const Result safe = FirstFailure(IsSafeSettingValue(value),
                                                 IsSafeRelativePath(Utf8(folder.filename())));
                !safe)
                return refuse(safe.Message);
            if (folder.parent_path().lexically_normal() != Native(modsFolder).lexically_normal())
                return refuse("\"" + value + "\" is no folder of " + modsFolder);
            out.Folder = value;
        } else if (key == "made") {
            out.MadeFolder = value == "1";
        } else if (key == "data") {
            out.Lines.DataFolder = value;
        } else if (key == "content") {
            if (const Result safe =
                    FirstFailure(IsSafeSettingValue(value), IsSafeRelativePath(value));
                !safe)
                return refuse(safe.Message);
            if (!IsPluginName(value))
                return refuse("\"" + value + "\" is not a plug-in's name");
            out.Lines.Content.push_back(value);
        }
    }
    if (out.Folder.empty())
        return Result::EntryFailure("it names no folder");
    if (!out.Lines.DataFolder.empty() && out.Lines.DataFolder != out.Folder)
        return Result::EntryFailure("its data= line names another folder than its own");
    return Result::Success();
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

namespace {

std::vector<MissingMaster> MissingFor(const Archives& arc, const std::string& configPath) {
    const Config cfg = Config::Parse(ReadText(Native(configPath)));
    const std::vector<std::string> enabled = cfg.Values("content");
    const auto inData = OpenMWHolds(cfg);
    return MissingMastersOf(arc, [&](const std::string& name) {
        return inData(name) || std::any_of(enabled.begin(), enabled.end(),
                                           [&](const std::string& c) { return SameText(c, name); });
    });
}

} // namespace

std::vector<std::string> MissingMasters(const Archives& arc, const std::string& configPath) {
    std::vector<std::string> missing;
    for (const MissingMaster& m : MissingFor(arc, configPath))
        missing.push_back(m.Name);
    return missing;
}

std::string MissingMastersNote(const Archives& arc, const std::string& configPath) {
    return MissingMastersMessage(MissingFor(arc, configPath),
                                 "OpenMW's data folders and content= lines");
}

namespace {

// The first valid list of lines for which match answers the record in its folder.
std::optional<AddedLines>
FindListed(const std::string& modsFolder,
           const std::function<std::optional<InstallRecord>(const AddedLines&)>& match,
           std::vector<std::string>* problems) {
    std::error_code ec;
    for (fs::directory_iterator d(LinesFolder(modsFolder), ec), end; !ec && d != end;
         d.increment(ec)) {
        if (d->path().extension() != ".txt" || !d->is_regular_file(ec))
            continue;
        std::optional<AddedLines> lines = ReadLines(d->path(), modsFolder, problems);
        if (!lines)
            continue;
        if (const std::optional<InstallRecord> r = match(*lines)) {
            lines->RecordKey = r->Key;
            lines->RecordFolder = lines->Folder;
            return lines;
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<AddedLines> FindInstall(const std::string& modsFolder, const Archives& arc,
                                      std::vector<std::string>* problems) {
    if (std::optional<AddedLines> recorded = FindEngineInstall(modsFolder, arc))
        return recorded;
    const std::string archiveName = platform::FileNamePart(arc.CurrentArchive);
    std::optional<AddedLines> found = FindListed(
        modsFolder,
        [&](const AddedLines& l) {
            std::optional<InstallRecord> r = RecordIn(l.Folder, l.Key);
            return r && IsRecordOf(*r, archiveName) ? r : std::nullopt;
        },
        problems);
    if (found)
        return found;
    return FindListed(
        modsFolder, [&](const AddedLines& l) { return FindRecordOf(arc, l.Folder); }, nullptr);
}

std::optional<AddedLines> FindInstall(const std::string& modsFolder, const std::string& what,
                                      std::vector<std::string>* problems) {
    std::error_code ec;
    if (fs::is_regular_file(Native(what), ec)) {
        Archives arc;
        if (!arc.Open(what).Usable()) // a zip, 7z, rar or tar: by the name it was recorded under
            return FindEngineInstall(modsFolder, platform::FileNamePart(what));
        (void)arc.PluginInfo.GetPluginData(arc, platform::FileNamePart(what));
        return FindInstall(modsFolder, arc, problems);
    }
    // By the name its record holds (or its archive's, or its key).
    if (std::optional<AddedLines> recorded = FindEngineInstall(modsFolder, what))
        return recorded;
    return FindListed(
        modsFolder, [&](const AddedLines& l) { return FindInstallRecord(l.Folder, what); },
        problems);
}

UninstallReport Uninstall(const std::string& configPath, const std::string& modsFolder,
                          const AddedLines& install, const FileProgress& progress) {
    if (install.Engine)
        return UninstallRecorded(modsFolder, install, progress);
    // An install of the previous version: its lines first, so that openmw.cfg never names a
    // folder whose files are gone, and its list last, so that a run cut short is finished by
    // the next one.
    UninstallReport report;
    const ConfigLines editor;
    Target where{configPath, modsFolder, install.Folder, install.Key, true};
    InstallTarget target = EngineTarget(where, editor);
    target.Below.clear();
    std::vector<FolderLock> locks;
    if (Result locked = detail::LockTarget(target, locks); !locked) {
        report.Outcome = Result::EntryFailure(locked.Message + "; nothing was removed");
        report.Files.Outcome = report.Outcome;
        return report;
    }
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(Native(install.Folder), ec))) {
        report.Outcome =
            Result::EntryFailure(install.Folder + " is a link, not the folder the install made; "
                                                  "nothing was removed");
        report.Files.Outcome = report.Outcome;
        return report;
    }
    if (const Result updated =
            Update(configPath, [&](Config& cfg) { cfg.RemoveMod(install.Lines); });
        !updated) {
        report.Outcome = Result::EntryFailure("could not update " + configPath + ": " +
                                              updated.Message + "; nothing was removed");
        report.Files.Outcome = report.Outcome;
        return report;
    }
    report.Files = RemoveByRecord(
        install.Folder, install.RecordKey.empty() ? install.Key : install.RecordKey, progress);
    if (!report.Files.Outcome) {
        report.Outcome = report.Files.Outcome;
        return report;
    }
    fs::remove(LinesFile(modsFolder, install.Key), ec);
    fs::remove(LinesFolder(modsFolder), ec); // only when empty
    // The folder goes when the install made it and nothing is left in it.
    const fs::path folder = Native(install.Folder);
    if (install.MadeFolder && fs::is_directory(fs::symlink_status(folder, ec)))
        fs::remove(folder, ec);
    report.FolderKept = fs::exists(fs::symlink_status(folder, ec));
    return report;
}

} // namespace qvr::openmw
