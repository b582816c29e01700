// Which files a package may take, and how a new package starts.

#include "qvr/format/InfoEntry.h"
#include "qvr/format/PathRules.h"
#include "qvr/package/Packing.h"
#include "qvr/platform/Encoding.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/detail/RandomAccessFile.h"
#include "qvr/platform/detail/platform.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <set>

namespace fs = std::filesystem;

namespace qvr {

namespace {

constexpr size_t kMaxNameBytes = 254;

std::string Shown(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "\\" + name;
}

// Why a package cannot store the name or folder, or "".
std::string NameProblem(const BatchFile& f) {
    if (const Result safe = IsSafeEntryPath(f.FilePath, f.FileName); !safe)
        return safe.Message.empty() ? "a name no file may have" : safe.Message;
    for (const std::string* text : {&f.FileName, &f.FilePath}) {
        const auto stored = Utf8ToCp1252(*text);
        if (!stored)
            return IsValidUtf8(*text) ? "the name holds characters outside Windows-1252, which "
                                        "a package cannot store"
                                      : "the name is not valid UTF-8";
        if (stored->size() > kMaxNameBytes)
            return "a name or folder longer than 254 bytes cannot be stored";
    }
    return {};
}

// The places a package holds: its files, and every folder on their paths, case folded.
struct Places {
    std::set<std::string> Files;
    std::set<std::string> Folders;

    void Add(const std::string& folder, const std::string& name) {
        const std::string path = LowerText(folder);
        Files.insert(Shown(path, LowerText(name)));
        for (size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1))
            Folders.insert(path.substr(0, at));
        if (!path.empty())
            Folders.insert(path);
    }
    // The first folder on the path that is a file ("" when none is).
    std::string FileAbove(const std::string& folder) const {
        const std::string path = LowerText(folder);
        for (size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1))
            if (Files.count(path.substr(0, at)))
                return folder.substr(0, at);
        return !path.empty() && Files.count(path) ? folder : std::string();
    }
};

} // namespace

CheckedFiles CheckFiles(const Archives& arc, const std::string& infoEntry,
                        const std::vector<BatchFile>& files, bool allowReplace,
                        std::vector<PackProblem>& problems) {
    Places held;
    for (const sgFileInfo& e : arc.ArchiveFiles)
        if (!e.FileName().empty())
            held.Add(e.FilePath(), e.FileName());
    // Named after the package's file, it is read as the information whatever infoEntry says.
    const std::string ownInfo = arc.CurrentArchive.empty()
                                    ? std::string()
                                    : platform::FileNamePart(arc.CurrentArchive) + ".ifo";
    Places given;
    CheckedFiles out;
    for (const BatchFile& f : files) {
        const std::string shown = ShownEntryPath(f.FilePath, f.FileName);
        const std::string key = LowerText(Shown(f.FilePath, f.FileName));
        std::string why = NameProblem(f);
        bool replaces = false;
        if (!why.empty()) {
            why = "cannot be packed as " + shown + ": " + why;
        } else if (f.FilePath.empty() && (SameTextIgnoreCase(f.FileName, infoEntry) ||
                                          SameTextIgnoreCase(f.FileName, ownInfo))) {
            why = "not added: " + shown + " is the name of the package's own information entry";
        } else if (f.FilePath.empty() && LooksLikeInfoEntryName(f.FileName)) {
            // Readers take such an entry for the information when none is named after the
            // package, as after a rename: it could take the package's details over.
            why = "not added: " + shown +
                  " at the top would be read as a package's information entry";
        } else if (given.Files.count(key)) {
            why = "not added: another file given goes to " + shown;
        } else if (std::string above = given.FileAbove(f.FilePath); !above.empty()) {
            why = "not added: " + ShownEntryPath(above) + " is a file, not a folder";
        } else if (above = held.FileAbove(f.FilePath); !above.empty()) {
            why = "not added: " + ShownEntryPath(above) + " is a file, not a folder";
        } else if (given.Folders.count(key) || held.Folders.count(key)) {
            why = "not added: the package holds a folder " + shown;
        } else if (held.Files.count(key)) {
            replaces = allowReplace;
            if (!replaces)
                why = "not added: the package already holds " + shown +
                      " (names are compared without regard to letter case)";
        }
        if (!why.empty()) {
            problems.push_back({PackProblemKind::Refused, f.Source, f.Source + ": " + why});
            continue;
        }
        given.Add(f.FilePath, f.FileName);
        out.Files.push_back(f);
        out.Replaces.push_back(replaces);
    }
    return out;
}

std::string InfoEntryNameProblem(const std::string& archiveFileName) {
    const std::string entry = archiveFileName + ".ifo";
    const auto stored = Utf8ToCp1252(entry);
    if (!stored)
        return IsValidUtf8(archiveFileName) ? "its information entry " + entry +
                                                  " would hold characters outside "
                                                  "Windows-1252"
                                            : "the name is not valid UTF-8";
    if (stored->size() > kMaxNameBytes)
        return "its information entry " + entry + " would be longer than 254 bytes";
    return {};
}

sgPlugInfo NewPackageInfo(const std::string& archiveFileName, const PackDates& dates) {
    sgPlugInfo info;
    info.PluginName(archiveFileName);
    info.Version("1.0");
    info.LastUpdated(dates.Today);
    return info;
}

Result StartPackage(Archives& arc, const std::string& archiveFileName, const sgPlugInfo& info,
                    const PackDates& dates, const BatchOptions& options) {
    std::string record;
    if (Result stored = info.ToRecord(record); !stored)
        return stored;
    const std::string entry = archiveFileName + ".ifo";
    const Archives::WorkFile work = arc.NewWorkFile(entry);
    if (!work.Outcome)
        return work.Outcome;
    Result outcome = Result::Success();
    try {
        RandomAccessFile file(work.Path, RandomAccessFile::Mode::CreateReadWrite);
        file.WriteAt(1, record.data(), record.size());
    } catch (const std::exception& e) {
        outcome = Result::Unusable(e.what());
    }
    if (outcome && dates.Pinned) {
        // The record's file date is the pinned one too, so that nothing in the package
        // depends on when it was made.
        std::error_code ec;
        const auto when = std::chrono::system_clock::from_time_t(static_cast<time_t>(dates.Epoch));
        fs::last_write_time(platform::ToNative(work.Path), std::chrono::file_clock::from_sys(when),
                            ec);
    }
    if (outcome) {
        BatchOptions one = options;
        one.ArchiveDate = dates.ArchiveDate;
        const std::vector<BatchResult> added =
            AddFilesToArchive(arc, {BatchFile{work.Path, entry, ""}}, one);
        if (added.empty() || !added[0].Added)
            outcome = added.empty() || added[0].ArchiveFailed
                          ? Result::Unusable(added.empty() ? "" : added[0].Message)
                          : Result::EntryFailure(added[0].Message);
    }
    DeleteFileQuiet(work.Path);
    if (outcome)
        arc.PluginInfo = info;
    return outcome;
}

} // namespace qvr
