// create and add: packing files into a new or an open archive.

#include "Command.h"
#include "CreateSteps.h"

#include "qvr/format/PathRules.h"
#include "qvr/games/Masters.h"
#include "qvr/install/Install.h"
#include "qvr/package/BatchAdd.h"
#include "qvr/package/EntryIndex.h"
#include "qvr/package/Packing.h"
#include "qvr/package/Verify.h"
#include "qvr/platform/Encoding.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/TempFile.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <tuple>
#include <utility>

namespace qvrtool {

namespace {

// --------------------------------------------------------------------------- gathering files

std::string JoinArchivePath(const std::string& folder, const std::string& level) {
    return folder.empty() ? level : folder + "\\" + level;
}

bool IsSameFile(const fs::path& a, const std::string& b) {
    std::error_code ec;
    return !b.empty() && fs::exists(Native(b), ec) && fs::equivalent(a, Native(b), ec);
}

qvr::PackOptions PackOptionsOf(const ParsedArgs& a) {
    qvr::PackOptions options;
    options.FollowLinks = a.Has("follow-links");
    return options;
}

// Each problem, and once how links left out could be followed.
void WarnAll(const qvr::Gathered& gathered) {
    for (const auto& p : gathered.Problems)
        Warn(p.Message);
    if (gathered.Has(qvr::PackProblemKind::LinkOutside))
        Warn("--follow-links packs what links to places outside the folder point at");
}

void Problem(qvr::Gathered& gathered, const std::string& source, const std::string& why) {
    gathered.Problems.push_back({qvr::PackProblemKind::Refused, source, source + ": " + why});
}

bool SameBytes(const std::string& a, const std::string& b) {
    std::ifstream x(Native(a), std::ios::binary), y(Native(b), std::ios::binary);
    if (!x || !y)
        return false;
    std::vector<char> bx(1 << 16), by(1 << 16);
    for (;;) {
        x.read(bx.data(), static_cast<std::streamsize>(bx.size()));
        y.read(by.data(), static_cast<std::streamsize>(by.size()));
        if (x.gcount() != y.gcount() ||
            !std::equal(bx.begin(), bx.begin() + x.gcount(), by.begin()))
            return false;
        if (x.gcount() == 0 || !x || !y)
            return !x.bad() && !y.bad() && x.eof() == y.eof();
    }
}

// Whether the archive's entry holds exactly the file's bytes: such a file is already there,
// as after an add that was interrupted and is run again.
bool AlreadyHolds(qvr::Archives& arc, const qvr::sgFileInfo& entry, const std::string& source) {
    if (qvr::FileLength(source) != entry.FileSize())
        return false;
    const std::string work = arc.NewWorkFile("compare").Path;
    if (work.empty())
        return false;
    const bool same = arc.ExtractEntry(entry, work, true) && SameBytes(work, source);
    qvr::DeleteFileQuiet(work);
    return same;
}

struct AddOutcome {
    size_t Added = 0;
    int64_t Bytes = 0;
    size_t Failed = 0;
    size_t ArchiveFailed = 0;         // of those, because the archive could not be written
    std::vector<std::string> Refused; // the sources that failed
};

// The files of each problem, and the failed ones, in one line.
std::string Join(const std::vector<std::string>& failed,
                 const std::vector<qvr::PackProblem>& problems) {
    std::string text;
    auto add = [&](const std::string& name) { text += (text.empty() ? "" : ", ") + name; };
    for (const auto& p : problems)
        add(p.Source);
    for (const auto& f : failed)
        add(f);
    return text;
}

// shown names a file in messages (a converted archive's member by its place in the archive).
using Shown = std::function<std::string(const std::string&)>;

AddOutcome AddWithProgress(qvr::Archives& arc, const std::vector<qvr::BatchFile>& files,
                           const Context& ctx, const std::string& archiveDate, bool best,
                           bool replace = false, const Shown& shown = {}) {
    const auto named = [&](const std::string& text) { return shown ? shown(text) : text; };
    ProgressBar bar(ctx.ProgressWanted(), "Packing", files.size());
    qvr::BatchOptions options;
    options.Jobs = ctx.Jobs;
    options.Level = best ? 12 : 9;
    options.ArchiveDate = archiveDate;
    AddOutcome outcome;
    // The bytes of each file reported added as it went in; -1 for the others.
    std::vector<int64_t> reportedBytes(files.size(), -1);
    auto report = [&](const qvr::BatchResult& r, size_t done, size_t) {
        if (r.Added) {
            if (done >= 1 && done <= reportedBytes.size())
                reportedBytes[done - 1] = r.Bytes;
            ++outcome.Added;
            outcome.Bytes += r.Bytes;
            if (ctx.Verbose) {
                bar.Clear();
                std::cout << "added: "
                          << Printable(qvr::ShownEntryPath(r.File.FilePath, r.File.FileName))
                          << "\n";
            }
        } else {
            ++outcome.Failed;
            outcome.ArchiveFailed += r.ArchiveFailed ? 1 : 0;
            outcome.Refused.push_back(named(r.File.Source));
            bar.Clear();
            Warn(named(r.Message));
        }
        bar.Update(done, r.File.FileName);
    };
    // Files reported added as they went in are taken back when the add could not be
    // finished (the archive is then as it was before it).
    auto takeBack = [&](const std::vector<qvr::BatchResult>& results) {
        for (size_t k = 0; k < results.size() && k < reportedBytes.size(); ++k) {
            const qvr::BatchResult& r = results[k];
            if (reportedBytes[k] < 0 || r.Added)
                continue;
            --outcome.Added;
            outcome.Bytes -= reportedBytes[k];
            ++outcome.Failed;
            outcome.ArchiveFailed += r.ArchiveFailed ? 1 : 0;
            outcome.Refused.push_back(named(r.File.Source));
            bar.Clear();
            Warn(named(r.Message));
        }
    };
    if (!replace) {
        takeBack(qvr::AddFilesToArchive(arc, files, options, report));
        return outcome;
    }
    std::vector<qvr::BatchResult> results;
    const qvr::Result dropped = qvr::ReplaceFilesInArchive(arc, files, results, options, report);
    takeBack(results);
    if (!dropped)
        throw CommandError{kSomeFailed, arc.CurrentArchive + ": nothing was added or replaced: " +
                                            dropped.Message + "; the archive was left as it was"};
    return outcome;
}

} // namespace

namespace {

// Checks what create was given; answers whether it replaces an existing file.
bool CheckCreateOperands(const ParsedArgs& a, const std::string& path, const std::string& folder,
                         bool fromArchive) {
    if (const fs::path file = Native(path).filename(); file.empty() || file == "." || file == "..")
        throw UsageError("ARCHIVE must name a file, not \"" + path + "\"");
    if (!fromArchive && (a.Has("root") || a.Has("options")))
        throw UsageError("--root and --options choose what of an archive is packed; " + folder +
                         " is not a file");
    std::error_code ec;
    if (!fromArchive && fs::exists(Native(folder), ec) && !fs::is_directory(Native(folder), ec))
        throw CommandError{kUsage, folder +
                                       ": is a file; create packs a folder laid out like the "
                                       "game's data folder (add puts single files in an archive)"};
    if (!fromArchive && !fs::is_directory(Native(folder), ec))
        throw CommandError{kUsage, folder + ": no such folder"};
    if (fs::is_directory(Native(path), ec))
        throw CommandError{kUsage, path + ": is a folder"};
    // Only a regular file (or a link to one) may be replaced; a device or a pipe never is,
    // however empty it reads.
    std::string target;
    if (const qvr::Result rewritable = qvr::TempFile::RewriteTarget(path, target); !rewritable)
        throw CommandError{kUsage, rewritable.Message};
    const bool replacing = fs::symlink_status(Native(path), ec).type() != fs::file_type::not_found;
    if (replacing && !a.Has("force"))
        throw CommandError{kUsage, path + ": already exists (--force replaces it)"};
    const fs::path parent = Native(path).parent_path();
    if (!parent.empty() && !fs::is_directory(parent, ec))
        throw CommandError{kUsage,
                           path + ": cannot be written: there is no folder " + Utf8(parent)};
    return replacing;
}

void ReportCreated(const std::string& path, const AddOutcome& outcome,
                   const qvr::Gathered& gathered, size_t refused) {
    std::cout << "Created " << Printable(path) << ": ";
    // A folder that could not be read holds an unknown number of files: no total is given then.
    std::error_code ec;
    const bool folderRefused =
        std::any_of(gathered.Problems.begin(), gathered.Problems.end(),
                    [&](const auto& p) { return fs::is_directory(Native(p.Source), ec); });
    const int added = static_cast<int>(outcome.Added);
    if (refused)
        std::cout << "packed "
                  << (folderRefused
                          ? Plural(added, "file", "files")
                          : std::to_string(added) + " of " +
                                Plural(added + static_cast<int>(refused), "file", "files"))
                  << " (" << outcome.Bytes << " bytes into " << qvr::FileLength(path).value_or(0)
                  << "); refused: " << Printable(Join(outcome.Refused, gathered.Problems)) << "\n";
    else
        std::cout << outcome.Added << (outcome.Added == 1 ? " file, " : " files, ") << outcome.Bytes
                  << " bytes packed into " << qvr::FileLength(path).value_or(0) << "\n";
}

// The package built beside path from files, its information entry first; put in path's place
// only when nothing was lost on the way.
AddOutcome BuildPackage(const ParsedArgs& a, const Context& ctx, const std::string& path,
                        bool replacing, const std::vector<qvr::BatchFile>& files,
                        const qvr::sgPlugInfo& info, const PackDates& dates, bool unread,
                        const Shown& shown) {
    const std::string archiveName = qvr::GetFileNameFromPath(Utf8(Native(path).filename()));
    // Built beside the target and put in its place at the end: never a half-written package.
    SweepWorkFiles(path);
    qvr::TempFile work;
    if (const qvr::Result made = qvr::TempFile::Beside(path, work); !made)
        throw CommandError{kUsage, path + ": cannot make a work file beside it: " + made.Message};
    qvr::Archives arc;
    if (const qvr::Result made = arc.CreateArchive(work.Path()); !made)
        throw CommandError{kUsage, path + ": cannot be written" +
                                       (made.Message.empty() ? "" : ": " + made.Message)};
    // The info entry goes first, as a new package in the packager starts with it.
    qvr::BatchOptions options;
    options.Level = a.Has("best") ? 12 : 9;
    if (const qvr::Result started = qvr::StartPackage(arc, archiveName, info, dates, options);
        !started)
        throw CommandError{
            kUsage, path + ": the plug-in information could not be stored: " + started.Message};
    const AddOutcome outcome =
        AddWithProgress(arc, files, ctx, dates.ArchiveDate, a.Has("best"), false, shown);
    // A package missing files because it could not be written is never put in place, and an
    // old one is only replaced by a package holding every file it was given.
    if (outcome.ArchiveFailed > 0 || (replacing && (outcome.Failed > 0 || unread))) {
        const std::string what =
            outcome.Failed > 0
                ? Plural(static_cast<int>(outcome.Failed), "file", "files") + " could not be packed"
                : "not every file or folder given could be read";
        throw CommandError{kSomeFailed,
                           path + (replacing ? ": was left as it was: " : ": was not created: ") +
                               what};
    }
    ReplaceWith(work, path);
    return outcome;
}

} // namespace

int CmdCreate(const ParsedArgs& a, const Context& ctx) {
    NeedOperands(a, 2, 2, "qvr create ARCHIVE [OPTIONS] FOLDER|FROM_ARCHIVE");
    const std::string path = a.Operands[0];
    const std::string from = a.Operands[1];
    const bool fromArchive = IsArchiveOperand(from);
    const bool replacing = CheckCreateOperands(a, path, from, fromArchive);
    const std::string archiveName = qvr::GetFileNameFromPath(Utf8(Native(path).filename()));
    // The information entry is named after the archive: find out now, before packing anything.
    if (const std::string why = qvr::InfoEntryNameProblem(archiveName); !why.empty())
        throw CommandError{kUsage, path + ": cannot be an archive's name: " + why};
    const PackDates dates = PackingDates();
    qvr::sgPlugInfo info = qvr::NewPackageInfo(archiveName, dates);
    std::unique_ptr<Unpacked> unpacked;
    if (fromArchive) {
        unpacked = UnpackArchive(a, ctx, from, path);
        if (unpacked->Info)
            info = *unpacked->Info;
    }
    ApplyInfoOptions(a, info);

    qvr::Gathered gathered;
    qvr::PackOptions options = PackOptionsOf(a);
    options.LeaveOut = ctx.Output;
    qvr::GatherFolder(unpacked ? unpacked->Folder : from, "", options, path, gathered);
    qvr::Archives none;
    const std::vector<qvr::BatchFile> files =
        qvr::CheckFiles(none, archiveName + ".ifo", gathered.Files, false, gathered.Problems).Files;
    if (unpacked) {
        NameByArchive(gathered, *unpacked);
        gathered.Problems.insert(gathered.Problems.begin(), unpacked->Problems.begin(),
                                 unpacked->Problems.end());
    }
    WarnAll(gathered);
    size_t unreadable = 0;
    const std::vector<qvr::PluginMasters> plugins = qvr::MastersOfFiles(files, &unreadable);
    const bool filled =
        ReviewDepends(plugins, unreadable, info, path, [](const std::string& offer) {
            return "--depends \"" + offer + "\" lists what they need";
        });

    Shown shown;
    if (unpacked)
        shown = [&](const std::string& text) { return ByArchive(text, *unpacked); };
    const AddOutcome outcome = BuildPackage(a, ctx, path, replacing, files, info, dates,
                                            gathered.Has(qvr::PackProblemKind::Unreadable), shown);
    const qvr::sources::WrappedData wrapped = qvr::sources::FindWrappedData(PathsOf(files));
    WarnWrapped(path, wrapped,
                unpacked ? ConvertFix(wrapped, a, from) : PackFolderFix(wrapped, path, from));
    const size_t refused = outcome.Failed + gathered.Problems.size();
    if (!ctx.Quiet) {
        if (unpacked)
            ReportTaken(*unpacked, ctx);
        if (filled)
            std::cout << "Depends on: " << Printable(info.Depends())
                      << " (the masters its plug-ins name)\n";
        ReportCreated(path, outcome, gathered, refused);
    }
    return refused > 0 ? kSomeFailed : kOk;
}

int CmdAdd(const ParsedArgs& a, const Context& ctx) {
    NeedOperands(a, 2, SIZE_MAX, "qvr add ARCHIVE [--folder PATH] FILE...");
    const std::string path = a.Operands[0];
    const std::string folder = qvr::ToArchivePath(a.Value("folder"));
    if (const qvr::Result safe = qvr::IsSafeFolderPath(folder); !safe)
        throw CommandError{kUsage, "--folder " + a.Value("folder") + ": " + safe.Message};
    const PackDates dates = PackingDates();
    qvr::Archives arc;
    OpenToChange(arc, path);
    qvr::Gathered gathered;
    const qvr::PackOptions options = PackOptionsOf(a);
    for (size_t i = 1; i < a.Operands.size(); ++i) {
        const fs::path source = Native(a.Operands[i]);
        std::error_code ec;
        if (fs::is_directory(source, ec)) {
            // The folder's own name, also when it is given as ".", ".." or with a trailing "/".
            fs::path whole = fs::absolute(source, ec).lexically_normal();
            fs::path name =
                whole.has_filename() ? whole.filename() : whole.parent_path().filename();
            if (ec || name.empty() || name == "." || name == "..") {
                Problem(gathered, a.Operands[i],
                        "a folder without a name of its own; add what is in it instead");
                continue;
            }
            qvr::GatherFolder(a.Operands[i], JoinArchivePath(folder, Utf8(name)), options, path,
                              gathered);
        } else if (fs::exists(source, ec)) {
            if (IsSameFile(source, path)) {
                Problem(gathered, a.Operands[i], "is the archive itself");
                continue;
            }
            gathered.Files.push_back({a.Operands[i], Utf8(source.filename()), folder});
        } else {
            gathered.Problems.push_back({qvr::PackProblemKind::Unreadable, a.Operands[i],
                                         a.Operands[i] + ": no such file"});
        }
    }
    // Files the archive holds already, under the same name with the same bytes, are left as
    // they are and are no errors: running an interrupted add again completes it.
    std::vector<qvr::BatchFile> fresh;
    size_t already = 0;
    const qvr::EntryIndex held(arc.ArchiveFiles);
    for (const auto& f : gathered.Files) {
        // Only under the very same name: a name given in another letter case asks for
        // something else, and is refused below as before.
        const qvr::sgFileInfo* entry = held.Find(f.FileName, f.FilePath);
        if (entry && entry->FileName() == f.FileName && entry->FilePath() == f.FilePath &&
            AlreadyHolds(arc, *entry, f.Source)) {
            ++already;
            if (ctx.Verbose)
                std::cout << "already there: " << Printable(DisplayPath(*entry)) << "\n";
            continue;
        }
        fresh.push_back(f);
    }
    // With --replace, only the information entry (set-info changes it) and repeats among the
    // files given are refused; other names the archive holds are replaced.
    const bool replace = a.Has("replace");
    const std::string infoEntry =
        arc.ArchiveFiles.empty() ? qvr::GetFileNameFromPath(path) + ".ifo" : arc.InfoEntryName();
    const std::vector<qvr::BatchFile> files =
        qvr::CheckFiles(arc, infoEntry, fresh, replace, gathered.Problems).Files;
    WarnAll(gathered);
    const qvr::sources::WrappedData before =
        qvr::sources::FindWrappedData(qvr::sources::PackagePaths(arc));
    AddOutcome outcome =
        AddWithProgress(arc, files, ctx, dates.ArchiveDate, a.Has("best"), replace);
    if (!ctx.Quiet)
        std::cout << "Added " << outcome.Added << (outcome.Added == 1 ? " file" : " files")
                  << " to " << Printable(path)
                  << (already ? " (" + Plural(static_cast<int>(already), "file was", "files were") +
                                    " there already with the same content)"
                              : std::string())
                  << "\n";
    if (outcome.Added > 0)
        ReviewAdded(arc, path, files, before, ctx);
    return outcome.Failed > 0 || !gathered.Problems.empty() ? kSomeFailed : kOk;
}

} // namespace qvrtool
