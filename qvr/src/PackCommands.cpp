// create and add: packing files into a new or an open archive.

#include "Command.h"

#include "qvr/ArchiveError.h"
#include "qvr/BatchAdd.h"
#include "qvr/Encoding.h"
#include "qvr/FileUtils.h"
#include "qvr/Install.h"
#include "qvr/PathRules.h"
#include "qvr/RandomAccessFile.h"
#include "qvr/TempFile.h"
#include "qvr/Verify.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
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

struct Gathered {
    std::vector<qvr::BatchFile> Files;
    std::vector<std::string> Problems;
};

std::string JoinArchivePath(const std::string& folder, const std::string& level) {
    return folder.empty() ? level : folder + "\\" + level;
}

bool IsSameFile(const fs::path& a, const std::string& b) {
    std::error_code ec;
    return !b.empty() && fs::exists(Native(b), ec) && fs::equivalent(a, Native(b), ec);
}

// The files below folder, as entries below archiveFolder, sorted so that the archive's order
// does not depend on the order in which the file system lists them.
void GatherFolder(const fs::path& folder, const std::string& archiveFolder, const std::string& skip,
                  Gathered& out) {
    std::vector<qvr::BatchFile> found;
    std::error_code ec;
    // Asked once, not for every file: most often the archive is not there yet.
    const bool skipExists = !skip.empty() && fs::exists(Native(skip), ec);
    fs::recursive_directory_iterator it(folder, ec), end;
    if (ec) {
        out.Problems.push_back(Utf8(folder) + ": cannot be read: " + ec.message());
        return;
    }
    for (; it != end; it.increment(ec)) {
        if (ec) {
            out.Problems.push_back(Utf8(folder) + ": cannot be read completely: " + ec.message());
            break;
        }
        std::error_code sec;
        if (it->is_directory(sec)) {
            // Linked folders are not followed: a link back up the tree would never end.
            if (it->is_symlink(sec))
                out.Problems.push_back(Utf8(it->path()) + ": a linked folder; left out");
            continue;
        }
        if (!it->is_regular_file(sec)) {
            out.Problems.push_back(Utf8(it->path()) + ": not a regular file; left out");
            continue;
        }
        if (skipExists && IsSameFile(it->path(), skip))
            continue;
        fs::path rel = it->path().lexically_relative(folder);
        std::string path = archiveFolder;
        std::string name;
        for (auto part = rel.begin(); part != rel.end(); ++part) {
            if (std::next(part) == rel.end())
                name = Utf8(*part);
            else
                path = JoinArchivePath(path, Utf8(*part));
        }
        found.push_back({Utf8(it->path()), name, path});
    }
    // Each key made once: folding case for every comparison cost more than the sort itself.
    using Key = std::tuple<std::string, std::string, std::string, std::string>;
    std::vector<std::pair<Key, size_t>> order;
    order.reserve(found.size());
    for (size_t i = 0; i < found.size(); ++i) {
        const qvr::BatchFile& f = found[i];
        order.push_back({{Lower(f.FilePath), Lower(f.FileName), f.FilePath, f.FileName}, i});
    }
    std::sort(order.begin(), order.end());
    for (const auto& [key, i] : order)
        out.Files.push_back(std::move(found[i]));
}

std::vector<qvr::BatchFile> WithoutDuplicates(const std::vector<qvr::BatchFile>& files,
                                              std::set<std::string> taken,
                                              std::vector<std::string>& problems);

// Drops files whose entry would repeat one of existing or an earlier file, reporting each.
std::vector<qvr::BatchFile> WithoutDuplicates(const std::vector<qvr::BatchFile>& files,
                                              const std::vector<qvr::sgFileInfo>& existing,
                                              std::vector<std::string>& problems) {
    std::set<std::string> taken;
    for (const auto& e : existing)
        taken.insert(Lower(e.FilePath()) + "\\" + Lower(e.FileName()));
    return WithoutDuplicates(files, taken, problems);
}

std::vector<qvr::BatchFile> WithoutDuplicates(const std::vector<qvr::BatchFile>& files,
                                              std::set<std::string> taken,
                                              std::vector<std::string>& problems) {
    std::vector<qvr::BatchFile> kept;
    for (const auto& f : files) {
        std::string key = Lower(f.FilePath) + "\\" + Lower(f.FileName);
        std::string shown = JoinArchivePath(f.FilePath, f.FileName);
        if (!taken.insert(key).second) {
            problems.push_back(f.Source + ": not added: the archive already holds " + shown +
                               " (names are compared without regard to letter case)");
            continue;
        }
        kept.push_back(f);
    }
    return kept;
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

// The files named at the start of each problem ("path: why"), and the failed ones, in one line.
std::string Join(const std::vector<std::string>& failed, const std::vector<std::string>& problems) {
    std::string text;
    auto add = [&](const std::string& name) { text += (text.empty() ? "" : ", ") + name; };
    for (const auto& p : problems)
        add(p.substr(0, p.find(": ")));
    for (const auto& f : failed)
        add(f);
    return text;
}

AddOutcome AddWithProgress(qvr::Archives& arc, const std::vector<qvr::BatchFile>& files,
                           const Context& ctx, const std::string& archiveDate, bool best,
                           bool replace = false) {
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
                          << Printable(JoinArchivePath(r.File.FilePath, r.File.FileName)) << "\n";
            }
        } else {
            ++outcome.Failed;
            outcome.ArchiveFailed += r.ArchiveFailed ? 1 : 0;
            outcome.Refused.push_back(r.File.Source);
            bar.Clear();
            Warn(r.Message);
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
            outcome.Refused.push_back(r.File.Source);
            bar.Clear();
            Warn(r.Message);
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

int CmdCreate(const ParsedArgs& a, const Context& ctx) {
    NeedOperands(a, 2, 2, "qvr create ARCHIVE [OPTIONS] FOLDER");
    const std::string path = a.Operands[0];
    const std::string folder = a.Operands[1];
    if (const fs::path file = Native(path).filename(); file.empty() || file == "." || file == "..")
        throw UsageError("ARCHIVE must name a file, not \"" + path + "\"");
    std::error_code ec;
    if (fs::exists(Native(folder), ec) && !fs::is_directory(Native(folder), ec))
        throw CommandError{kUsage, folder +
                                       ": is a file; create packs a folder laid out like the "
                                       "game's data folder (add puts single files in an archive)"};
    if (!fs::is_directory(Native(folder), ec))
        throw CommandError{kUsage, folder + ": no such folder"};
    if (fs::is_directory(Native(path), ec))
        throw CommandError{kUsage, path + ": is a folder"};
    // Only a regular file (or a link to one) may be replaced; a device or a pipe never is,
    // however empty it reads.
    try {
        qvr::TempFile::RewriteTarget(path);
    } catch (const std::exception& e) {
        throw CommandError{kUsage, e.what()};
    }
    const bool replacing = fs::symlink_status(Native(path), ec).type() != fs::file_type::not_found;
    if (replacing && !a.Has("force"))
        throw CommandError{kUsage, path + ": already exists (--force replaces it)"};
    const fs::path parent = Native(path).parent_path();
    if (!parent.empty() && !fs::is_directory(parent, ec))
        throw CommandError{kUsage,
                           path + ": cannot be written: there is no folder " + Utf8(parent)};

    const std::string archiveName = qvr::GetFileNameFromPath(Utf8(Native(path).filename()));
    // The information entry is named after the archive: find out now, before packing anything.
    if (auto stored = qvr::Utf8ToCp1252(archiveName + ".ifo"); !stored || stored->size() > 254) {
        const std::string entry = "its information entry " + archiveName + ".ifo";
        const std::string why = stored ? entry + " would be longer than 254 bytes"
                                : qvr::IsValidUtf8(archiveName)
                                    ? entry + " would hold characters outside Windows-1252"
                                    : "the name is not valid UTF-8";
        throw CommandError{kUsage, path + ": cannot be an archive's name: " + why};
    }
    const PackDates dates = CurrentPackDates();
    qvr::sgPlugInfo info;
    info.PluginName(archiveName);
    info.Version("1.0");
    info.LastUpdated(dates.Today);
    ApplyInfoOptions(a, info);

    Gathered gathered;
    GatherFolder(Native(folder), "", path, gathered);
    std::vector<qvr::sgFileInfo> infoEntry(1);
    infoEntry[0].FileName(archiveName + ".ifo");
    std::vector<qvr::BatchFile> files =
        WithoutDuplicates(gathered.Files, infoEntry, gathered.Problems);
    for (const auto& p : gathered.Problems)
        Warn(p);

    // Built beside the target and put in its place at the end: never a half-written package.
    SweepWorkFiles(path);
    qvr::TempFile work;
    try {
        work = qvr::TempFile::Beside(path);
    } catch (const std::exception& e) {
        throw CommandError{kUsage, path + ": cannot make a work file beside it: " + e.what()};
    }
    qvr::Archives arc;
    struct Cleanup {
        std::string record;
        ~Cleanup() {
            if (!record.empty())
                qvr::DeleteFileQuiet(record);
        }
    } cleanup{""};
    if (const qvr::Result made = arc.CreateArchive(work.Path()); !made)
        throw CommandError{kUsage, path + ": cannot be written" +
                                       (made.Message.empty() ? "" : ": " + made.Message)};
    // The info entry goes first, as a new package in the packager starts with it. It is packed
    // from a record file of its own so that a pinned date covers its file date as well.
    std::string record;
    try {
        record = info.ToRecord();
    } catch (const std::exception& e) {
        throw CommandError{kUsage, path + ": cannot store the plug-in information: " + e.what()};
    }
    const std::string recordFile = arc.NewWorkFile(archiveName + ".ifo").Path;
    cleanup.record = recordFile;
    {
        std::ofstream out(Native(recordFile), std::ios::binary | std::ios::trunc);
        out.write(record.data(), static_cast<std::streamsize>(record.size()));
        if (recordFile.empty() || !out.flush())
            throw CommandError{kUsage, "cannot write a work file in " + arc.TempFolder};
    }
    if (dates.Pinned) {
        std::error_code tec;
        fs::last_write_time(
            Native(recordFile),
            std::chrono::file_clock::from_sys(
                std::chrono::system_clock::from_time_t(static_cast<std::time_t>(dates.Epoch))),
            tec);
    }
    files.insert(files.begin(), qvr::BatchFile{recordFile, archiveName + ".ifo", ""});
    AddOutcome outcome = AddWithProgress(arc, files, ctx, dates.ArchiveDate, a.Has("best"));
    const bool infoStored =
        !arc.ArchiveFiles.empty() && arc.ArchiveFiles[0].FileName() == archiveName + ".ifo";
    // A package missing files because it could not be written is never put in place, and an
    // old one is only replaced by a package holding every file.
    if (outcome.ArchiveFailed > 0 || (replacing && outcome.Failed > 0)) {
        const size_t failed = outcome.Failed - (infoStored ? 0 : 1);
        throw CommandError{kSomeFailed,
                           path + (replacing ? ": was left as it was: " : ": was not created: ") +
                               Plural(static_cast<int>(failed), "file", "files") +
                               " could not be packed"};
    }
    if (!infoStored)
        throw CommandError{kUsage, path + ": the plug-in information could not be stored"};
    --outcome.Added;
    outcome.Bytes -= static_cast<int64_t>(record.size());
    ReplaceWith(work, path);
    const size_t refused = outcome.Failed + gathered.Problems.size();
    if (!ctx.Quiet) {
        std::cout << "Created " << path << ": ";
        if (refused)
            std::cout << "packed " << outcome.Added << " of "
                      << Plural(static_cast<int>(outcome.Added + refused), "file", "files") << " ("
                      << outcome.Bytes << " bytes into " << qvr::FileLength(path)
                      << "); refused: " << Printable(Join(outcome.Refused, gathered.Problems))
                      << "\n";
        else
            std::cout << outcome.Added << (outcome.Added == 1 ? " file, " : " files, ")
                      << outcome.Bytes << " bytes packed into " << qvr::FileLength(path) << "\n";
    }
    const bool failed = refused > 0;
    return failed ? kSomeFailed : kOk;
}

int CmdAdd(const ParsedArgs& a, const Context& ctx) {
    NeedOperands(a, 2, SIZE_MAX, "qvr add ARCHIVE [--folder PATH] FILE...");
    const std::string path = a.Operands[0];
    const std::string folder = qvr::ToArchivePath(a.Value("folder"));
    std::string why;
    if (!qvr::IsSafeFolderPath(folder, &why))
        throw CommandError{kUsage, "--folder " + a.Value("folder") + ": " + why};
    qvr::Archives arc;
    Open(arc, path, false);
    Gathered gathered;
    for (size_t i = 1; i < a.Operands.size(); ++i) {
        const fs::path source = Native(a.Operands[i]);
        std::error_code ec;
        if (fs::is_directory(source, ec)) {
            // The folder's own name, also when it is given as ".", ".." or with a trailing "/".
            fs::path whole = fs::absolute(source, ec).lexically_normal();
            fs::path name =
                whole.has_filename() ? whole.filename() : whole.parent_path().filename();
            if (ec || name.empty() || name == "." || name == "..") {
                gathered.Problems.push_back(a.Operands[i] + ": a folder without a name of its "
                                                            "own; add what is in it instead");
                continue;
            }
            GatherFolder(source, JoinArchivePath(folder, Utf8(name)), path, gathered);
        } else if (fs::exists(source, ec)) {
            if (IsSameFile(source, path)) {
                gathered.Problems.push_back(a.Operands[i] + ": is the archive itself");
                continue;
            }
            gathered.Files.push_back({a.Operands[i], Utf8(source.filename()), folder});
        } else {
            gathered.Problems.push_back(a.Operands[i] + ": no such file");
        }
    }
    // Files the archive holds already, under the same name with the same bytes, are left as
    // they are and are no errors: running an interrupted add again completes it.
    std::vector<qvr::BatchFile> fresh;
    size_t already = 0;
    for (const auto& f : gathered.Files) {
        // Only under the very same name: a name given in another letter case asks for
        // something else, and is refused below as before.
        const auto entry = arc.FindEntry(f.FileName, f.FilePath);
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
    std::vector<qvr::sgFileInfo> reserved;
    for (const auto& e : arc.ArchiveFiles)
        if (!replace || arc.IsInfoEntry(e))
            reserved.push_back(e);
    std::vector<qvr::BatchFile> files = WithoutDuplicates(fresh, reserved, gathered.Problems);
    if (arc.ArchiveFiles.empty()) {
        // An empty archive still gets its info entry's name reserved.
        std::vector<qvr::sgFileInfo> none(1);
        none[0].FileName(qvr::GetFileNameFromPath(path) + ".ifo");
        files = WithoutDuplicates(files, none, gathered.Problems);
    }
    for (const auto& p : gathered.Problems)
        Warn(p);
    AddOutcome outcome =
        AddWithProgress(arc, files, ctx, CurrentPackDates().ArchiveDate, a.Has("best"), replace);
    if (!ctx.Quiet)
        std::cout << "Added " << outcome.Added << (outcome.Added == 1 ? " file" : " files")
                  << " to " << path
                  << (already ? " (" + Plural(static_cast<int>(already), "file was", "files were") +
                                    " there already with the same content)"
                              : std::string())
                  << "\n";
    return outcome.Failed > 0 || !gathered.Problems.empty() ? kSomeFailed : kOk;
}

} // namespace qvrtool
