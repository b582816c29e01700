// The OpenMW target as a target of the install engine: the plug-in's files in a folder of its
// own below the mods folder and its lines in openmw.cfg, one transaction under one record kept
// in the mods folder.
#include "qvr/games/OpenMWInstall.h"

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
#include <sstream>

namespace qvr::openmw {

namespace fs = std::filesystem;

namespace {

constexpr const char* kKind = "openmw.cfg";

bool IsPlugin(const std::string& name) {
    const std::string l = LowerText(name);
    return l.ends_with(".esp") || l.ends_with(".esm") || l.ends_with(".omwaddon");
}

// The lines of a recorded edit, each checked as a stranger's text. An install of numbered
// options lists a folder for each: the data= lines after the first go to moreData.
Result ReadLines(const std::vector<std::string>& lines, ModLines& out,
                 std::vector<std::string>* moreData = nullptr) {
    for (const std::string& line : lines) {
        const size_t eq = line.find('=');
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        std::string why;
        if (!IsSafeSettingValue(value, &why))
            return Result::EntryFailure("\"" + line + "\" is refused: " + why);
        if (key == "data" && out.DataFolder.empty())
            out.DataFolder = value;
        else if (key == "data" && moreData)
            moreData->push_back(value);
        else if (key == "content" && IsPlugin(value) && IsSafeRelativePath(value, &why))
            out.Content.push_back(value);
        else
            return Result::EntryFailure("\"" + line + "\" is no line an install adds");
    }
    return Result::Success();
}

std::string FolderOfFile(const std::string& file) {
    return platform::FromNative(platform::ToNative(file).parent_path());
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

Result ConfigLines::Apply(const ConfigEdit& edit, bool undo) const {
    if (edit.Kind != kKind || LowerText(platform::FileNamePart(edit.File)) != kKind)
        return Result::EntryFailure(edit.File + " is not an openmw.cfg; it was left alone");
    ModLines add, remove;
    std::vector<std::string> addMore, removeMore;
    if (Result read = ReadLines(edit.Add, add, &addMore); !read)
        return read;
    if (Result read = ReadLines(edit.Remove, remove, &removeMore); !read)
        return read;
    if (undo) {
        std::swap(add, remove);
        std::swap(addMore, removeMore);
    }
    std::string error;
    const bool ok = Update(
        edit.File,
        [&](Config& cfg) {
            cfg.RemoveMod(remove);
            for (const std::string& folder : removeMore)
                cfg.RemoveMod({folder, {}});
            cfg.AddMod(add);
            for (const std::string& folder : addMore) // each after the last, in order
                cfg.AddMod({folder, {}});
        },
        &error);
    if (!ok)
        return Result::EntryFailure("could not update " + edit.File + ": " + error);
    return Result::Success();
}

InstallTarget EngineTarget(const Target& where, const ConfigEditor& editor) {
    InstallTarget t;
    t.Root = where.ModsFolder;
    t.Below = platform::FromNative(platform::ToNative(where.ModFolder).filename());
    t.Editor = &editor;
    if (!where.ConfigPath.empty())
        t.AlsoLock.push_back(FolderOfFile(where.ConfigPath));
    return t;
}

InstallReport Install(Archives& arc, const Target& where, const OverwriteQuestion& ask,
                      const EntryProgress& progress, const TakeBackQuestion& takeBack,
                      ListReport& listed) {
    const ConfigLines editor;
    const InstallTarget target = EngineTarget(where, editor);
    RemoveStaleWorkFiles(FolderOfFile(where.ConfigPath)); // a killed edit's work file
    std::string why;
    if (!IsSafeSettingValue(where.ModFolder, &why)) {
        InstallReport report;
        report.Outcome = Result::EntryFailure("cannot list the folder in " + where.ConfigPath +
                                              ": " + why + "; nothing was installed");
        return report;
    }
    EditsFor edits = [&](const std::vector<std::string>& files,
                         const std::vector<ConfigEdit>& carried) {
        ModLines want{where.ModFolder, {}};
        listed.Unlisted.clear();
        for (const std::string& f : files) {
            const std::string name = f.substr(f.find('\\') + 1);
            if (name.find('\\') != std::string::npos || !IsPlugin(name))
                continue;
            if (IsSafeSettingValue(name, &why) && IsSafeRelativePath(name, &why))
                want.Content.push_back(name);
            else
                listed.Unlisted.push_back(why);
        }
        listed.Plugins = want.Content.size();
        std::ifstream in(platform::ToNative(where.ConfigPath), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        Config cfg = Config::Parse(text.str());
        const ModLines added = cfg.AddMod(want);
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
        return e.Add.empty() ? std::vector<ConfigEdit>{} : std::vector<ConfigEdit>{e};
    };
    InstallReport report = InstallRecorded(arc, target, ask, progress, takeBack, edits);
    if (report.Outcome)
        listed.MissingMasters = MissingMasters(arc, where.ConfigPath);
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
        target.AlsoLock.push_back(FolderOfFile(install.ConfigPath));
        RemoveStaleWorkFiles(FolderOfFile(install.ConfigPath));
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
