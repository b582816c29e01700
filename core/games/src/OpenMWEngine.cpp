// The OpenMW target as a target of the install engine: the plug-in's files in a folder of its
// own below the mods folder and its lines in openmw.cfg, one transaction under one record kept
// in the mods folder.
#include "qvr/games/OpenMWInstall.h"

#include "qvr/games/Activation.h"
#include "qvr/games/OpenMWLoadOrder.h"
#include "qvr/games/PluginHeader.h"

#include "qvr/format/PathRules.h"
#include "qvr/install/Engine.h"
#include "qvr/install/InstallRecord.h"
#include "qvr/platform/Encoding.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/WorkFiles.h"
#include "qvr/platform/detail/platform.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

namespace qvr::openmw {

namespace fs = std::filesystem;

namespace {

constexpr const char* kKind = "openmw.cfg";

bool IsPlugin(const std::string& name) {
    const std::string l = LowerText(name);
    return l.ends_with(".esp") || l.ends_with(".esm") || l.ends_with(".omwaddon");
}

// The file's bytes, "" when there is none; nothing when it is there but cannot be read.
std::optional<std::string> ReadConfig(const std::string& path) {
    std::error_code ec;
    if (!fs::exists(platform::ToNative(path), ec))
        return std::string();
    std::ifstream in(platform::ToNative(path), std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool IsScripts(const std::string& name) {
    return LowerText(name).ends_with(".omwscripts");
}

bool IsBsa(const std::string& name) {
    return LowerText(name).ends_with(".bsa");
}

// The lines of a recorded edit, each checked as a stranger's text; archives (when given)
// takes fallback-archive= lines. An install of numbered options lists a folder for each: the
// data= lines after the first go to moreData.
Result ReadLines(const std::vector<std::string>& lines, ModLines& out,
                 std::vector<std::string>* archives = nullptr,
                 std::vector<std::string>* moreData = nullptr) {
    for (const std::string& line : lines) {
        const size_t eq = line.find('=');
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (const Result safe = IsSafeSettingValue(value); !safe)
            return Result::EntryFailure("\"" + line + "\" is refused: " + safe.Message);
        if (key == "data" && out.DataFolder.empty())
            out.DataFolder = value;
        else if (key == "data" && moreData)
            moreData->push_back(value);
        else if (key == "content" && (IsPlugin(value) || IsScripts(value)) &&
                 IsSafeRelativePath(value))
            out.Content.push_back(value);
        else if (key == "fallback-archive" && IsBsa(value) && ValueProblem(value).empty())
            archives ? archives->push_back(value) : void();
        else
            return Result::EntryFailure("\"" + line + "\" is no line an install adds");
    }
    return Result::Success();
}

// The masters of the plug-ins content= lines name and of names, read from the files in the
// data= folders (a later folder's file wins, as in OpenMW).
std::vector<PluginMasters> HeadersFor(const Config& cfg, const std::vector<std::string>& names) {
    std::map<std::string, std::string> files; // lower-case name -> path
    for (const std::string& folder : cfg.Values("data")) {
        std::error_code ec;
        for (fs::directory_iterator d(platform::ToNative(folder), ec), end; !ec && d != end;
             d.increment(ec))
            files[LowerText(platform::FromNative(d->path().filename()))] =
                platform::FromNative(d->path());
    }
    std::vector<std::string> wanted = cfg.Values("content");
    wanted.insert(wanted.end(), names.begin(), names.end());
    std::vector<PluginMasters> out;
    for (const std::string& name : wanted) {
        auto it = files.find(LowerText(name));
        PluginHeader header;
        if (!IsPlugin(name) || it == files.end() || !ReadPluginHeader(it->second, header))
            continue;
        PluginMasters p{name, {}};
        for (const PluginMaster& m : header.Masters)
            p.Masters.push_back(m.Name);
        out.push_back(std::move(p));
    }
    return out;
}

// The install's lines into cfg: its folder, its content= lines each after its masters, its
// archives. Where no place keeps the order valid (a plug-in already listed needs the new one
// yet loads before the new one's masters) the lines go last all the same, and qvr check says
// what is wrong: the player's order is theirs to mend.
void AddOwnLines(Config& cfg, const ModLines& add, const std::vector<std::string>& archives) {
    cfg.AddMod({add.DataFolder, {}});
    OrderLines made;
    if (AddToLoadOrder(cfg, add.Content, archives, HeadersFor(cfg, add.Content), made))
        return;
    cfg.AddMod({{}, add.Content});
    (void)AddToLoadOrder(cfg, {}, archives, {}, made);
}

// The files of a record lie in one folder directly below the mods folder: its name.
std::string FolderOfRecord(const InstallRecord& r) {
    for (const RecordedFile& f : r.Files)
        return f.Path.substr(0, f.Path.find('\\'));
    for (const std::string& f : r.Folders)
        if (f.find('\\') == std::string::npos)
            return f;
    return {};
}

// Whether record holds only files of arc (below its folder), the test a renamed copy passes.
bool HoldsOnlyFilesOf(const InstallRecord& r, const Archives& arc) {
    std::vector<std::string> entries;
    for (const sgFileInfo& e : arc.ArchiveFiles)
        if (!arc.IsInfoEntry(e))
            entries.push_back(LowerText(EntryDisplayPath(e)));
    return !r.Files.empty() && std::all_of(r.Files.begin(), r.Files.end(), [&](const auto& f) {
        const size_t cut = f.Path.find('\\');
        return cut != std::string::npos &&
               std::find(entries.begin(), entries.end(), LowerText(f.Path.substr(cut + 1))) !=
                   entries.end();
    });
}

AddedLines AsAddedLines(const std::string& modsFolder, const InstallRecord& r) {
    AddedLines out;
    out.Key = r.Key;
    out.RecordKey = r.Key;
    out.RecordFolder = modsFolder;
    out.Engine = true;
    out.Folder = platform::FromNative(platform::ToNative(modsFolder) /
                                      platform::ToNative(FolderOfRecord(r)));
    out.MadeFolder =
        std::find(r.Folders.begin(), r.Folders.end(), FolderOfRecord(r)) != r.Folders.end();
    for (const ConfigEdit& e : r.Edits) {
        (void)ReadLines(e.Add, out.Lines);
        out.ConfigPath = e.File;
    }
    return out;
}

} // namespace

bool ConfigLines::Owns(const std::string& kind) const {
    return kind == kKind;
}

Result ConfigLines::Apply(const ConfigEdit& edit, bool undo) const {
    if (edit.Kind != kKind || LowerText(platform::FileNamePart(edit.File)) != kKind)
        return Result::EntryFailure(edit.File + " is not an openmw.cfg; it was left alone");
    ModLines add, remove;
    std::vector<std::string> addArchives, removeArchives, addMore, removeMore;
    // No install keeps a line it took out, so taking one back puts none in: remove= lines in a
    // record are a stranger's.
    if (Result read = undo ? ReadLines(edit.Add, remove, &removeArchives, &removeMore)
                           : ReadLines(edit.Add, add, &addArchives, &addMore);
        !read)
        return read;
    if (Result read =
            undo ? Result::Success() : ReadLines(edit.Remove, remove, &removeArchives, &removeMore);
        !read)
        return read;
    const Result updated = Update(edit.File, [&](Config& cfg) {
        cfg.RemoveMod(remove);
        for (const std::string& folder : removeMore)
            cfg.RemoveMod({folder, {}});
        RemoveFromLoadOrder(cfg, OrderLines{{}, removeArchives});
        AddOwnLines(cfg, add, addArchives);
        for (const std::string& folder : addMore) // each after the last, in order
            cfg.AddMod({folder, {}});
    });
    if (!updated)
        return Result::EntryFailure("could not update " + edit.File + ": " + updated.Message);
    return Result::Success();
}

Result ConfigLines::Writable(const ConfigEdit& edit) const {
    if (edit.Kind == kKind && IsReadOnlyFile(edit.File))
        return Result::EntryFailure(edit.File + " is read-only; make it writable, then try again");
    return Result::Success();
}

Result ConfigUsable(const Target& where) {
    if (LowerText(platform::FileNamePart(where.ConfigPath)) != kKind)
        return Result::EntryFailure(where.ConfigPath +
                                    " is not named openmw.cfg, the only file OpenMW reads its "
                                    "settings from; nothing was installed");
    if (IsReadOnlyFile(where.ConfigPath))
        return Result::EntryFailure(where.ConfigPath +
                                    " is read-only; make it writable, then try again; nothing "
                                    "was installed");
    return Result::Success();
}

bool ConfigLines::Enables(const std::string& line, const std::string& recordedPath) const {
    const size_t cut = recordedPath.find('\\');
    if (cut == std::string::npos || recordedPath.find('\\', cut + 1) != std::string::npos)
        return false;
    for (const std::string key : {"content=", "fallback-archive="})
        if (line.starts_with(key))
            return LowerText(line.substr(key.size())) == LowerText(recordedPath.substr(cut + 1));
    return false;
}

InstallTarget EngineTarget(const Target& where, const ConfigEditor& editor) {
    InstallTarget t;
    t.Root = where.ModsFolder;
    t.Below = platform::FromNative(platform::ToNative(where.ModFolder).filename());
    t.Editor = &editor;
    if (!where.ConfigPath.empty())
        t.AlsoLock.push_back(EditFolderOf(where.ConfigPath));
    return t;
}

InstallReport Install(Archives& arc, const Target& where, const OverwriteQuestion& ask,
                      const EntryProgress& progress, const TakeBackQuestion& takeBack,
                      ListReport& listed) {
    const ConfigLines editor;
    const InstallTarget target = EngineTarget(where, editor);
    if (Result usable = ConfigUsable(where); !usable) {
        InstallReport report;
        report.Outcome = usable;
        return report;
    }
    RemoveStaleWorkFiles(EditFolderOf(where.ConfigPath)); // a killed edit's work file
    if (const Result safe = IsSafeSettingValue(where.ModFolder); !safe) {
        InstallReport report;
        report.Outcome = Result::EntryFailure("cannot list the folder in " + where.ConfigPath +
                                              ": " + safe.Message + "; nothing was installed");
        return report;
    }
    // The lines are chosen from what openmw.cfg holds: one that cannot be read is found out
    // before any file is written, not at the commit.
    const std::optional<std::string> before = ReadConfig(where.ConfigPath);
    if (!before) {
        InstallReport report;
        report.Outcome =
            Result::EntryFailure("cannot read " + where.ConfigPath + "; nothing was installed");
        return report;
    }
    EditsFor edits = [&](const std::vector<std::string>& files,
                         const std::vector<ConfigEdit>& carried) {
        ModLines want{where.ModFolder, {}};
        std::vector<std::string> archives;
        listed.Unlisted.clear();
        for (const std::string& f : files) {
            const std::string name = f.substr(f.find('\\') + 1);
            const bool bsa = IsBsa(name);
            if (name.find('\\') != std::string::npos || !(IsPlugin(name) || IsScripts(name) || bsa))
                continue;
            const Result safe = FirstFailure(IsSafeSettingValue(name), IsSafeRelativePath(name));
            if (const std::string why = safe ? ValueProblem(name) : safe.Message; !why.empty())
                listed.Unlisted.push_back(name + ": " + why);
            else
                (bsa ? archives : want.Content).push_back(name);
        }
        listed.Plugins =
            static_cast<size_t>(std::count_if(want.Content.begin(), want.Content.end(), IsPlugin));
        Config cfg = Config::Parse(ReadConfig(where.ConfigPath).value_or(""));
        const ModLines added = cfg.AddMod(want);
        const std::vector<std::string> present = cfg.Values("fallback-archive");
        // Lines already there are this install's only when its earlier install added them.
        auto ours = [&](const std::string& line, bool absent) {
            return absent || std::any_of(carried.begin(), carried.end(), [&](const ConfigEdit& c) {
                       return c.Kind == kKind && c.File == where.ConfigPath &&
                              std::find(c.Add.begin(), c.Add.end(), line) != c.Add.end();
                   });
        };
        ConfigEdit e{kKind, where.ConfigPath, {}, {}};
        if (const std::string line = "data=" + want.DataFolder;
            ours(line, !added.DataFolder.empty()))
            e.Add.push_back(line);
        for (const std::string& c : want.Content)
            if (const std::string line = "content=" + c;
                ours(line, std::find(added.Content.begin(), added.Content.end(), c) !=
                               added.Content.end()))
                e.Add.push_back(line);
        for (const std::string& a : archives)
            if (const std::string line = "fallback-archive=" + a;
                ours(line, std::none_of(present.begin(), present.end(), [&](const std::string& p) {
                         return SameTextIgnoreCase(p, a);
                     })))
                e.Add.push_back(line);
        return e.Add.empty() ? std::vector<ConfigEdit>{} : std::vector<ConfigEdit>{e};
    };
    const Config cfg = Config::Parse(*before);
    const TimesFor times = MastersFirstTimes(target.Root, target.Below, cfg.Values("data"));
    InstallReport report = InstallRecorded(arc, target, ask, progress, takeBack, edits, times);
    if (report.Outcome) {
        listed.MissingMasters = MissingMasters(arc, where.ConfigPath);
        listed.MastersNote = MissingMastersNote(arc, where.ConfigPath);
    }
    return report;
}

std::optional<AddedLines> FindEngineInstall(const std::string& modsFolder, const Archives& arc) {
    const std::string archiveName = platform::FileNamePart(arc.CurrentArchive);
    const std::vector<InstallRecord> records = ListInstallRecords(modsFolder);
    for (const InstallRecord& r : records)
        if (IsRecordOf(r, archiveName))
            return AsAddedLines(modsFolder, r);
    const std::string plugin = LowerText(arc.PluginInfo.PluginName());
    for (const InstallRecord& r : records)
        if (!plugin.empty() && LowerText(r.Name) == plugin && HoldsOnlyFilesOf(r, arc))
            return AsAddedLines(modsFolder, r);
    return std::nullopt;
}

std::optional<AddedLines> FindEngineInstall(const std::string& modsFolder,
                                            const std::string& what) {
    if (std::optional<InstallRecord> r = FindInstallRecord(modsFolder, what))
        return AsAddedLines(modsFolder, *r);
    return std::nullopt;
}

UninstallReport UninstallRecorded(const std::string& modsFolder, const AddedLines& install,
                                  const FileProgress& progress) {
    UninstallReport report;
    const ConfigLines editor;
    InstallTarget target;
    target.Root = modsFolder;
    target.Editor = &editor;
    if (!install.ConfigPath.empty()) {
        target.AlsoLock.push_back(EditFolderOf(install.ConfigPath));
        RemoveStaleWorkFiles(EditFolderOf(install.ConfigPath));
    }
    report.Files = RemoveInstall(target, install.RecordKey, progress);
    report.Outcome = report.Files.Outcome;
    std::error_code ec;
    report.FolderKept = fs::exists(fs::symlink_status(platform::ToNative(install.Folder), ec));
    return report;
}

std::string FolderOwnedBy(const std::string& modsFolder, const std::string& folderName,
                          bool& owned) {
    owned = false;
    for (const InstallRecord& r : ListInstallRecords(modsFolder))
        if (LowerText(FolderOfRecord(r)) == LowerText(folderName)) {
            owned = true;
            return r.Archive;
        }
    return {};
}

} // namespace qvr::openmw
