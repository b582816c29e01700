#include "qvr/games/SetupCheck.h"

#include "qvr/games/MorrowindIni.h"
#include "qvr/games/OpenMWConfig.h"
#include "qvr/games/PluginHeader.h"
#include "qvr/install/Install.h"
#include "qvr/install/InstallRecord.h"
#include "qvr/platform/Encoding.h"
#include "qvr/platform/detail/platform.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

namespace qvr {

namespace {

namespace fs = std::filesystem;

// The files of one folder, listed once.
struct Folder {
    fs::path Path;
    std::vector<std::string> Names;

    // The name on disk: the same name when there is one, else one differing in letter case
    // (exact false); "" when there is none.
    std::string Find(const std::string& name, bool* exact = nullptr) const {
        for (const std::string& n : Names)
            if (n == name) {
                if (exact)
                    *exact = true;
                return n;
            }
        if (exact)
            *exact = false;
        for (const std::string& n : Names)
            if (SameTextIgnoreCase(n, name))
                return n;
        return {};
    }
};

Folder ListFolder(const std::string& path) {
    Folder f{platform::ToNative(path), {}};
    std::error_code ec;
    for (fs::directory_iterator d(f.Path, ec), end; !ec && d != end; d.increment(ec))
        if (d->is_regular_file(ec))
            f.Names.push_back(platform::FromNative(d->path().filename()));
    std::sort(f.Names.begin(), f.Names.end());
    return f;
}

std::optional<std::string> ReadWhole(const fs::path& path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec))
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    if (!in && !in.eof())
        return std::nullopt;
    return s.str();
}

struct Sum {
    int64_t Size = 0;
    uint32_t Crc = 0;
};

std::optional<Sum> FileSum(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    Sum sum;
    uLong crc = crc32(0L, Z_NULL, 0);
    std::vector<char> buf(1 << 16);
    while (in) {
        in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
        const auto got = in.gcount();
        crc = crc32(crc, reinterpret_cast<const Bytef*>(buf.data()), static_cast<uInt>(got));
        sum.Size += got;
    }
    if (in.bad())
        return std::nullopt;
    sum.Crc = static_cast<uint32_t>(crc);
    return sum;
}

// A recorded path ("Meshes\x.nif", as on disk) below a folder.
fs::path Below(const fs::path& folder, const std::string& recorded) {
    fs::path p = folder;
    size_t start = 0;
    for (;;) {
        const size_t sep = recorded.find('\\', start);
        p /= platform::ToNative(recorded.substr(start, sep - start));
        if (sep == std::string::npos)
            return p;
        start = sep + 1;
    }
}

struct Copy {
    std::string Install;
    fs::path Disk;
    RecordedFile File;
};

struct Recorded {
    fs::path Folder;
    std::vector<InstallRecord> Records; // oldest first
};

// OpenMW's installs are recorded in the mods folder, their paths starting with the plug-in's
// own folder: only those below folder are kept, the folder's name taken off.
void KeepBelow(std::vector<InstallRecord>& records, const std::string& folder) {
    const std::string prefix = LowerText(folder) + "\\";
    for (InstallRecord& r : records) {
        std::vector<RecordedFile> kept;
        for (RecordedFile& f : r.Files)
            if (LowerText(f.Path).starts_with(prefix)) {
                f.Path = f.Path.substr(prefix.size());
                kept.push_back(std::move(f));
            }
        r.Files = std::move(kept);
    }
}

std::string Utf8Of(const fs::path& p) {
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

// Conflicts and changed files: each recorded file's copies in the order they load (folders in
// order, installs oldest first); the last copy of a place on disk is the one meant to be there.
void CheckRecords(const std::vector<Recorded>& folders, SetupReport& report) {
    std::vector<std::string> order;
    std::map<std::string, std::vector<Copy>> groups;
    for (const Recorded& f : folders)
        for (const InstallRecord& r : f.Records) {
            // Half its files may be written: the next install or removal takes it back or ends it.
            if (r.State != RecordState::Installed)
                report.Interrupted.push_back(r.Name.empty() ? r.Archive : r.Name);
            for (const RecordedFile& file : r.Files) {
                const std::string key = LowerText(file.Path);
                if (!groups.count(key))
                    order.push_back(key);
                groups[key].push_back(
                    {r.Name.empty() ? r.Archive : r.Name, Below(f.Folder, file.Path), file});
            }
        }
    std::map<fs::path, std::optional<Sum>> sums;
    const auto sumOf = [&](const fs::path& p) -> const std::optional<Sum>& {
        auto it = sums.find(p);
        return it != sums.end() ? it->second : sums.emplace(p, FileSum(p)).first->second;
    };
    const auto intact = [&](const Copy& c) {
        const std::optional<Sum>& s = sumOf(c.Disk);
        return c.File.Known && s && s->Size == c.File.Size && s->Crc == c.File.Crc;
    };
    for (const std::string& key : order) {
        const std::vector<Copy>& copies = groups[key];
        for (size_t k = 0; k < copies.size(); ++k) {
            const bool covered =
                std::any_of(copies.begin() + static_cast<std::ptrdiff_t>(k) + 1, copies.end(),
                            [&](const Copy& c) { return c.Disk == copies[k].Disk; });
            if (covered || !copies[k].File.Known || intact(copies[k]))
                continue;
            report.Changed.push_back(
                {copies[k].Install, copies[k].File.Path, !sumOf(copies[k].Disk).has_value()});
        }
        if (copies.size() < 2)
            continue;
        FileConflict c{copies.back().File.Path, {}, {}};
        for (const Copy& copy : copies)
            c.Installs.push_back(copy.Install);
        for (auto it = copies.rbegin(); it != copies.rend() && c.InPlace.empty(); ++it)
            if (intact(*it))
                c.InPlace = it->Install;
        report.Conflicts.push_back(std::move(c));
    }
}

// The masters of the plug-ins in order, read from their headers where locate finds them.
void CheckPlugins(const std::function<fs::path(const std::string&)>& locate, SetupReport& report) {
    std::vector<PluginMasters> headers;
    for (const std::string& name : report.LoadOrder) {
        const fs::path disk = locate(name);
        if (disk.empty() || !IsPluginFileName(name))
            continue;
        PluginHeader h;
        if (const Result read = ReadPluginHeader(platform::FromNative(disk), h); !read) {
            report.Unreadable.push_back(name + ": " + read.Message);
            continue;
        }
        PluginMasters p{name, {}};
        for (const PluginMaster& m : h.Masters)
            p.Masters.push_back(m.Name);
        headers.push_back(std::move(p));
    }
    report.Masters = CheckLoadOrder(report.LoadOrder, headers,
                                    [&](const std::string& name) { return !locate(name).empty(); });
}

void AddListProblem(SetupReport& report, const std::string& entry, const std::string& name,
                    const std::string& onDisk, bool exact) {
    if (onDisk.empty())
        report.Lists.push_back({entry, name, ListProblem::Kind::Missing, {}});
    else if (!exact)
        report.Lists.push_back({entry, name, ListProblem::Kind::LetterCase, onDisk});
}

void CheckIniList(const std::string& ini, mwini::List list, const Folder& folder,
                  SetupReport& report) {
    const std::vector<mwini::ListLine> lines = mwini::ListLines(ini, list);
    if (const std::optional<int> gap = mwini::FirstGap(lines))
        report.Lists.push_back(
            {(list == mwini::List::GameFiles ? "GameFile" : "Archive ") + std::to_string(*gap),
             {},
             ListProblem::Kind::Gap,
             {}});
    for (const mwini::ListLine& l : lines) {
        bool exact = false;
        const std::string onDisk = folder.Find(l.Value, &exact);
        AddListProblem(report, l.Key, l.Value, onDisk, exact);
    }
}

int64_t ModifiedTime(const fs::path& p) {
    std::error_code ec;
    const auto t = fs::last_write_time(p, ec);
    if (ec)
        return 0;
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::file_clock::to_sys(t).time_since_epoch())
        .count();
}

} // namespace

SetupReport CheckDataFolder(const std::string& dataFolder) {
    SetupReport report;
    report.Target = dataFolder;
    const Folder folder = ListFolder(dataFolder);
    std::vector<std::string> problems;
    CheckRecords({{folder.Path, ListInstallRecords(dataFolder, &problems)}}, report);
    report.Unreadable = problems;

    const std::string iniPath =
        FindCaseInsensitive(platform::FromNative(folder.Path.parent_path()), "Morrowind.ini");
    const std::optional<std::string> ini =
        iniPath.empty() ? std::nullopt : ReadWhole(platform::ToNative(iniPath));
    std::vector<std::string> enabled;
    if (!iniPath.empty() && !ini)
        report.Unreadable.push_back(iniPath + ": cannot be read; which plug-ins it enables is "
                                              "not known, so every plug-in is counted");
    if (ini) {
        report.ListFile = iniPath;
        CheckIniList(*ini, mwini::List::GameFiles, folder, report);
        CheckIniList(*ini, mwini::List::Archives, folder, report);
        enabled = mwini::ReadList(*ini, mwini::List::GameFiles);
    } else {
        for (const std::string& n : folder.Names)
            if (IsPluginFileName(n))
                enabled.push_back(n);
    }
    std::vector<DatedPlugin> dated;
    for (const std::string& name : enabled)
        if (const std::string disk = folder.Find(name); !disk.empty())
            dated.push_back({disk, ModifiedTime(folder.Path / platform::ToNative(disk))});
    report.LoadOrder = MorrowindLoadOrder(dated);
    CheckPlugins(
        [&](const std::string& name) {
            const std::string disk = folder.Find(name);
            return disk.empty() ? fs::path() : folder.Path / platform::ToNative(disk);
        },
        report);
    return report;
}

SetupReport CheckOpenMW(const std::string& configPath) {
    SetupReport report;
    report.Target = configPath;
    const std::optional<std::string> bytes = ReadWhole(platform::ToNative(configPath));
    if (!bytes) {
        report.Unreadable.push_back(configPath + ": cannot be read");
        return report;
    }
    report.ListFile = configPath;
    const openmw::Config config = openmw::Config::Parse(*bytes);
    std::vector<Folder> folders;
    std::vector<Recorded> recorded;
    for (const std::string& d : config.Values("data")) {
        folders.push_back(ListFolder(d));
        Recorded here{folders.back().Path, {}};
        for (const std::string& root : {d, Utf8Of(folders.back().Path.parent_path())}) {
            std::error_code ec;
            if (!fs::is_directory(platform::ToNative(RecordFolder(root)), ec))
                continue;
            std::vector<std::string> problems;
            std::vector<InstallRecord> records = ListInstallRecords(root, &problems);
            report.Unreadable.insert(report.Unreadable.end(), problems.begin(), problems.end());
            if (root != d) // a mods folder's records: the files below this plug-in's folder
                KeepBelow(records, Utf8Of(folders.back().Path.filename()));
            here.Records.insert(here.Records.end(), records.begin(), records.end());
        }
        if (!here.Records.empty())
            recorded.push_back(std::move(here));
    }
    CheckRecords(recorded, report);
    // The last data= folder holding a file wins; a name as written before one in another case.
    const auto find = [&](const std::string& name, bool& exact) -> fs::path {
        for (bool wantExact : {true, false})
            for (auto f = folders.rbegin(); f != folders.rend(); ++f)
                if (const std::string n = f->Find(name, &exact); !n.empty() && exact == wantExact)
                    return f->Path / platform::ToNative(n);
        return {};
    };
    for (const std::string& name : config.Values("content")) {
        // OpenMW's own scripts come from its resources, not from a data= folder.
        if (SameTextIgnoreCase(name, "builtin.omwscripts"))
            continue;
        bool exact = false;
        const fs::path disk = find(name, exact);
        AddListProblem(report, "content", name,
                       disk.empty() ? std::string() : platform::FromNative(disk.filename()), exact);
        report.LoadOrder.push_back(name);
    }
    CheckPlugins(
        [&](const std::string& name) {
            bool exact = false;
            return find(name, exact);
        },
        report);
    return report;
}

InstallPreview PreviewInstall(const Archives& arc, const std::string& dataFolder) {
    InstallPreview preview;
    std::map<std::string, std::string> entries; // lower-case path -> as the archive has it
    for (const sgFileInfo& e : arc.ArchiveFiles)
        if (!arc.IsInfoEntry(e))
            entries.emplace(LowerText(EntryDisplayPath(e)), EntryDisplayPath(e));
    const std::string archiveName = platform::FileNamePart(arc.CurrentArchive);
    for (const InstallRecord& r : ListInstallRecords(dataFolder)) {
        if (r.State != RecordState::Installed || IsRecordOf(r, archiveName))
            continue;
        InstallPreview::Replaced hit{r.Name.empty() ? r.Archive : r.Name, {}};
        for (const RecordedFile& f : r.Files)
            if (auto it = entries.find(LowerText(f.Path)); it != entries.end())
                hit.Files.push_back(it->second);
        if (!hit.Files.empty())
            preview.Replaces.push_back(std::move(hit));
    }
    preview.Missing = MissingMastersOf(arc, DataFolderHolds(dataFolder));
    return preview;
}

std::string DescribePreview(const InstallPreview& preview) {
    std::string text;
    for (const InstallPreview::Replaced& r : preview.Replaces) {
        text += "Replaces " + std::to_string(r.Files.size()) +
                (r.Files.size() == 1 ? " file of " : " files of ") + r.Install + ":";
        for (size_t i = 0; i < r.Files.size() && i < 5; ++i)
            text += (i ? ", " : " ") + r.Files[i];
        text += r.Files.size() > 5 ? ", ...\n" : "\n";
    }
    if (const std::string missing = MissingMastersMessage(preview.Missing, "the data folder");
        !missing.empty())
        text += missing + "\n";
    if (!text.empty())
        text.pop_back();
    return text;
}

} // namespace qvr
