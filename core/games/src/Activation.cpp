#include "qvr/games/Activation.h"

#include "qvr/games/LoadOrder.h"
#include "qvr/games/MorrowindIni.h"
#include "qvr/games/PluginHeader.h"
#include "qvr/install/Install.h"
#include "qvr/install/detail/InstallFiles.h"
#include "qvr/platform/Encoding.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/detail/platform.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace qvr {

namespace {

const char* const kGameFile = "GameFile=";
const char* const kArchive = "Archive=";
const char* const kGameFilesSection = "[Game Files]";
const char* const kArchivesSection = "[Archives]";

bool EndsWith(const std::string& name, const char* ext) {
    return LowerText(name).ends_with(ext);
}

bool IsGameFile(const std::string& name) {
    return EndsWith(name, ".esp") || EndsWith(name, ".esm");
}

bool Read(const std::string& path, std::string& bytes) {
    std::ifstream in(platform::ToNative(path), std::ios::binary);
    if (!in)
        return false;
    std::ostringstream s;
    s << in.rdbuf();
    bytes = s.str();
    return !in.bad();
}

// The lines of a recorded edit, each checked as a stranger's text.
Result ParseLines(const std::vector<std::string>& lines, mwini::IniLines& out) {
    for (const std::string& line : lines) {
        const auto value = [&](const char* key) { return line.substr(std::string(key).size()); };
        std::string name, why;
        if (line == kGameFilesSection) {
            out.NewGameFilesSection = true;
        } else if (line == kArchivesSection) {
            out.NewArchivesSection = true;
        } else if (line.starts_with(kGameFile) && IsGameFile(name = value(kGameFile)) &&
                   (why = mwini::IniValueProblem(name)).empty()) {
            out.GameFiles.push_back(name);
        } else if (line.starts_with(kArchive) && EndsWith(name = value(kArchive), ".bsa") &&
                   (why = mwini::IniValueProblem(name)).empty()) {
            out.Archives.push_back(name);
        } else {
            return Result::EntryFailure("\"" + line + "\" is no line an install adds to " +
                                        std::string(kMorrowindIniKind) +
                                        (why.empty() ? "" : ": " + why));
        }
    }
    return Result::Success();
}

// The names of files written directly in the data folder, in order, with these extensions.
std::vector<std::string> TopLevel(const std::vector<std::string>& files,
                                  bool (*wanted)(const std::string&)) {
    std::vector<std::string> out;
    for (const std::string& f : files)
        if (f.find('\\') == std::string::npos && wanted(f))
            out.push_back(f);
    return out;
}

// The engine loads every master file (.esm) before the other plug-ins, whatever their times:
// only a master of the same kind is a reason to date a plug-in after it.
bool IsMasterFile(const std::string& name) {
    return EndsWith(name, ".esm");
}

bool IsBsa(const std::string& name) {
    return EndsWith(name, ".bsa");
}

// Whether an earlier install of the same archive recorded line as its own.
bool Carried(const std::vector<ConfigEdit>& carried, const std::string& line) {
    return std::any_of(carried.begin(), carried.end(), [&](const ConfigEdit& c) {
        return c.Kind == kMorrowindIniKind &&
               std::find(c.Add.begin(), c.Add.end(), line) != c.Add.end();
    });
}

bool ListedIn(const std::string& bytes, mwini::List list, const std::string& name) {
    const std::vector<std::string> listed = mwini::ReadList(bytes, list);
    return std::any_of(listed.begin(), listed.end(),
                       [&](const std::string& v) { return SameTextIgnoreCase(v, name); });
}

// The lines of one list this install may call its own: names it would add, and names the
// same archive's earlier install had added. When the list may not grow, the earlier install's
// lines still listed stay, as this one's.
void ListEdit(const std::string& bytes, mwini::List list, const std::vector<std::string>& names,
              const std::vector<ConfigEdit>& carried, ConfigEdit& edit, Activation& told) {
    if (names.empty())
        return;
    const bool games = list == mwini::List::GameFiles;
    std::string copy = bytes;
    mwini::IniLines added;
    Result fits = mwini::AddToLists(copy, games ? names : std::vector<std::string>{},
                                    games ? std::vector<std::string>{} : names, added);
    std::vector<std::string> fresh = games ? added.GameFiles : added.Archives;
    if (fits && !fresh.empty() && IsReadOnlyFile(told.Ini))
        fits = Result::EntryFailure(told.Ini + " is read-only");
    if (!fits) {
        told.Problems.push_back(fits.Message + "; " +
                                (games ? "the plug-ins were" : "the .bsa files were") +
                                " not enabled");
        fresh.clear();
        added = {};
    }
    const char* key = games ? kGameFile : kArchive;
    const char* section = games ? kGameFilesSection : kArchivesSection;
    std::vector<std::string> ours;
    for (const std::string& name : names)
        if (std::find(fresh.begin(), fresh.end(), name) != fresh.end() ||
            (Carried(carried, key + name) && (fits || ListedIn(bytes, list, name))))
            ours.push_back(name);
    if (ours.empty())
        return;
    if ((games ? added.NewGameFilesSection : added.NewArchivesSection) || Carried(carried, section))
        edit.Add.push_back(section);
    for (const std::string& name : ours)
        edit.Add.push_back(key + name);
    (games ? told.Plugins : told.Archives) = ours;
}

std::optional<int64_t> TimeOf(const fs::path& file) {
    std::error_code ec;
    const auto t = fs::last_write_time(file, ec);
    if (ec)
        return std::nullopt;
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::file_clock::to_sys(t).time_since_epoch())
        .count();
}

} // namespace

std::optional<std::string> MorrowindIniBeside(const std::string& dataFolder) {
    // "Data Files" typed in the game's folder has its parent in the current folder.
    std::error_code made;
    fs::path folder = fs::absolute(platform::ToNative(dataFolder), made).lexically_normal();
    if (folder.filename().empty()) // "Data Files/"
        folder = folder.parent_path();
    const fs::path parent = folder.parent_path();
    if (parent.empty())
        return std::nullopt;
    const std::string found = FindCaseInsensitive(platform::FromNative(parent), "Morrowind.ini");
    std::error_code ec;
    if (found.empty() || !fs::is_regular_file(platform::ToNative(found), ec))
        return std::nullopt;
    return found;
}

Result MorrowindIniEditor::Apply(const ConfigEdit& edit, bool undo) const {
    if (edit.Kind != kMorrowindIniKind ||
        LowerText(platform::FileNamePart(edit.File)) != "morrowind.ini")
        return Result::EntryFailure(edit.File + " is not a Morrowind.ini; it was left alone");
    mwini::IniLines add, remove;
    // No install keeps a line it took out, so taking one back puts none in: remove= lines in a
    // record are a stranger's.
    if (Result read = ParseLines(edit.Add, undo ? remove : add); !read)
        return read;
    if (Result read = undo ? Result::Success() : ParseLines(edit.Remove, remove); !read)
        return read;
    const std::string ini = MorrowindIniBeside(m_dataFolder).value_or("");
    const bool adding = !add.GameFiles.empty() || !add.Archives.empty();
    if (ini.empty())
        return adding ? Result::EntryFailure("the Morrowind.ini beside " + m_dataFolder +
                                             " is gone; the plug-ins cannot be enabled")
                      : Result::Success();
    std::string before;
    if (!Read(ini, before))
        return Result::EntryFailure("cannot read " + ini);
    std::string after = before;
    (void)mwini::RemoveFromLists(after, remove);
    mwini::IniLines added;
    if (Result listed = mwini::AddToLists(after, add.GameFiles, add.Archives, added); !listed)
        return listed;
    if (after == before)
        return Result::Success();
    if (Result writable = Writable(edit); !writable)
        return writable;
    try {
        // The launcher or an editor may have written it meanwhile: their change is kept.
        if (std::string now; !Read(ini, now) || now != before)
            return Result::EntryFailure(ini + " changed while it was being edited; try again");
        detail::WriteFileAtomically(platform::ToNative(ini), after);
    } catch (const std::exception& e) {
        return Result::EntryFailure("could not update " + ini + ": " + e.what());
    }
    return Result::Success();
}

bool MorrowindIniEditor::Owns(const std::string& kind) const {
    return kind == kMorrowindIniKind;
}

Result MorrowindIniEditor::Writable(const ConfigEdit& edit) const {
    const std::string ini = MorrowindIniBeside(m_dataFolder).value_or("");
    if (edit.Kind == kMorrowindIniKind && !ini.empty() && IsReadOnlyFile(ini))
        return Result::EntryFailure(ini + " is read-only; make it writable, then try again");
    return Result::Success();
}

bool MorrowindIniEditor::Enables(const std::string& line, const std::string& recordedPath) const {
    for (const char* key : {kGameFile, kArchive})
        if (line.starts_with(key))
            return LowerText(line.substr(std::string(key).size())) == LowerText(recordedPath);
    return false;
}

InstallTarget DataFolderTarget(const std::string& dataFolder, const ConfigEditor& editor) {
    InstallTarget t;
    t.Root = dataFolder;
    t.Editor = &editor;
    if (const std::optional<std::string> ini = MorrowindIniBeside(dataFolder))
        t.AlsoLock.push_back(platform::FromNative(platform::ToNative(*ini).parent_path()));
    return t;
}

EditsFor ActivationEdits(const std::string& dataFolder, Activation& told) {
    return [dataFolder, &told](const std::vector<std::string>& files,
                               const std::vector<ConfigEdit>& carried) {
        told = {};
        told.Ini = MorrowindIniBeside(dataFolder).value_or("");
        std::string bytes;
        if (told.Ini.empty())
            return std::vector<ConfigEdit>{};
        if (!Read(told.Ini, bytes)) {
            told.Problems.push_back("cannot read " + told.Ini + "; nothing was enabled");
            return std::vector<ConfigEdit>{};
        }
        ConfigEdit edit{kMorrowindIniKind, told.Ini, {}, {}};
        for (mwini::List list : {mwini::List::GameFiles, mwini::List::Archives}) {
            std::vector<std::string> names;
            for (const std::string& name :
                 TopLevel(files, list == mwini::List::GameFiles ? IsGameFile : IsBsa)) {
                if (const std::string why = mwini::IniValueProblem(name); why.empty())
                    names.push_back(name);
                else
                    told.Problems.push_back(name + " cannot be listed in Morrowind.ini: " + why);
            }
            ListEdit(bytes, list, names, carried, edit, told);
        }
        return edit.Add.empty() ? std::vector<ConfigEdit>{} : std::vector<ConfigEdit>{edit};
    };
}

TimesFor MastersFirstTimes(const std::string& root, const std::string& below,
                           std::vector<std::string> lookIn) {
    return [root, below, lookIn = std::move(lookIn)](const std::vector<std::string>& files) {
        const fs::path folder =
            below.empty() ? fs::path(platform::ToNative(root))
                          : fs::path(platform::ToNative(root)) / platform::ToNative(below);
        const std::string prefix = below.empty() ? std::string() : below + "\\";
        std::vector<TimedPlugin> plugins;
        std::vector<std::string> paths;
        for (const std::string& f : files) {
            if (!f.starts_with(prefix))
                continue;
            const std::string name = f.substr(prefix.size());
            if (name.find('\\') != std::string::npos || !IsPluginFileName(name))
                continue;
            const fs::path file = folder / platform::ToNative(name);
            TimedPlugin p{name, TimeOf(file).value_or(0), {}};
            PluginHeader header;
            if (ReadPluginHeader(platform::FromNative(file), header))
                for (const PluginMaster& m : header.Masters)
                    if (!IsMasterFile(m.Name) || IsMasterFile(name))
                        p.Masters.push_back(m.Name);
            plugins.push_back(std::move(p));
            paths.push_back(f);
        }
        std::vector<std::string> folders{platform::FromNative(folder)};
        folders.insert(folders.end(), lookIn.begin(), lookIn.end());
        const auto installed = [&](const std::string& master) -> std::optional<int64_t> {
            for (const std::string& in : folders)
                if (const std::string found = FindCaseInsensitive(in, master); !found.empty())
                    return TimeOf(platform::ToNative(found));
            return std::nullopt;
        };
        const std::vector<int64_t> times = PluginTimes(plugins, installed);
        std::vector<FileTime> out;
        for (size_t i = 0; i < plugins.size(); ++i)
            if (times[i] != plugins[i].Time)
                out.push_back({paths[i], times[i]});
        return out;
    };
}

InstallReport InstallIntoDataFolder(Archives& arc, const std::string& dataFolder, bool activate,
                                    const OverwriteQuestion& ask, const EntryProgress& progress,
                                    const TakeBackQuestion& takeBack, Activation& told,
                                    PreparedPackage prepared) {
    told = {};
    const MorrowindIniEditor editor(dataFolder);
    const InstallTarget target = DataFolderTarget(dataFolder, editor);
    return InstallRecorded(arc, target, ask, progress, takeBack,
                           activate ? ActivationEdits(dataFolder, told) : EditsFor{},
                           MastersFirstTimes(dataFolder, {}, {}), std::move(prepared));
}

InstallReport InstallIntoDataFolder(InstallRequest request, const std::string& dataFolder,
                                    bool activate, Activation& told) {
    told = {};
    const MorrowindIniEditor editor(dataFolder);
    if (activate)
        request.Edits = ActivationEdits(dataFolder, told);
    request.Times = MastersFirstTimes(dataFolder, {}, {});
    return InstallMembers(DataFolderTarget(dataFolder, editor), request);
}

RemovalReport RemoveFromDataFolder(Archives& arc, const std::string& dataFolder,
                                   const FileProgress& progress) {
    const MorrowindIniEditor editor(dataFolder);
    return RemovePlugin(arc, DataFolderTarget(dataFolder, editor), progress);
}

RemovalReport RemoveFromDataFolder(const std::string& dataFolder, const std::string& what,
                                   const FileProgress& progress) {
    const MorrowindIniEditor editor(dataFolder);
    return RemoveInstall(DataFolderTarget(dataFolder, editor), what, progress);
}

} // namespace qvr
