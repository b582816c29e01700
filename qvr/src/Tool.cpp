#include "Tool.h"

#include "Args.h"
#include "Terminal.h"

#include "qvr/ArchiveError.h"
#include "qvr/Archives.h"
#include "qvr/BatchAdd.h"
#include "qvr/Encoding.h"
#include "qvr/FileUtils.h"
#include "qvr/Install.h"
#include "qvr/PathRules.h"
#include "qvr/RandomAccessFile.h"
#include "qvr/Verify.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iostream>
#include <locale>
#include <map>
#include <random>
#include <set>
#include <sstream>

#ifndef QVR_VERSION
#define QVR_VERSION "dev"
#endif

namespace fs = std::filesystem;

namespace qvrtool {
namespace {

// Ends a command with an exit code and a message for standard error.
struct CommandError {
    int Code;
    std::string Message;
};

fs::path Native(const std::string& utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8(const fs::path& p) {
    std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

// Letter case folded as the game's Windows edition folds names, accented letters included,
// so that the tool and the library agree on which names are one.
std::string Lower(const std::string& s) {
    return qvr::LowerText(s);
}

bool SameText(const std::string& a, const std::string& b) {
    return Lower(a) == Lower(b);
}

std::string DisplayPath(const qvr::sgFileInfo& e) {
    return qvr::EntryDisplayPath(e);
}

struct Context {
    bool Quiet = false;
    bool Verbose = false;
    unsigned Jobs = 0;
    bool ProgressWanted() const { return !Quiet && StderrIsTerminal(); }
};

void Warn(const std::string& text) {
    std::cerr << "qvr: " << Printable(text) << "\n";
}

// ---------------------------------------------------------------------------- opening

// Opens path into arc, or ends the command with a message that says what is wrong.
qvr::OpenKind Open(qvr::Archives& arc, const std::string& path, bool allowZip,
                   bool allowPartial = false) {
    const qvr::OpenStatus status = arc.Open(path);
    switch (status.Kind) {
    case qvr::OpenKind::Complete:
    case qvr::OpenKind::Empty:
        return status.Kind;
    case qvr::OpenKind::Zip:
        if (!allowZip)
            throw CommandError{kUsage, path + ": is a zip file; zip files can only be listed"};
        return status.Kind;
    case qvr::OpenKind::Partial:
        if (allowPartial)
            return status.Kind;
        throw CommandError{kUsage, status.Message + "; 'qvr verify " + path + "' tells more"};
    case qvr::OpenKind::NotArchive:
        break;
    }
    throw CommandError{kUsage, status.Message};
}

// A fresh name beside target, for building a file that then takes target's place in one step.
std::string SiblingTemp(const std::string& target) {
    fs::path t = Native(target);
    std::random_device rd;
    for (int i = 0; i < 100; ++i) {
        fs::path candidate =
            t.parent_path() / ("." + Utf8(t.filename()) + ".part" + std::to_string(rd() % 1000000));
        std::error_code ec;
        if (!fs::exists(candidate, ec))
            return Utf8(candidate);
    }
    throw CommandError{kUsage, target + ": cannot find a free name for a work file beside it"};
}

void ReplaceWith(const std::string& from, const std::string& to) {
    std::error_code ec;
    fs::rename(Native(from), Native(to), ec);
    if (ec) {
        fs::remove(Native(from), ec);
        throw CommandError{kSomeFailed, to + ": could not be replaced: " + ec.message() +
                                            "; it was left as it was"};
    }
}

// ---------------------------------------------------------------------------- dates, texts

} // namespace

std::optional<OverwriteAnswer> ParseOverwriteAnswer(const std::string& line) {
    std::string s = line;
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.pop_back();
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.erase(s.begin());
    // Single letters as unzip has them: the capitals apply to every remaining file.
    if (s == "y" || s == "Y" || s == "o" || s == "O")
        return OverwriteAnswer::Overwrite;
    if (s == "n" || s == "s" || s == "S")
        return OverwriteAnswer::Skip;
    if (s == "A")
        return OverwriteAnswer::All;
    if (s == "N")
        return OverwriteAnswer::None;
    std::string w = Lower(s);
    if (w == "yes" || w == "overwrite")
        return OverwriteAnswer::Overwrite;
    if (w == "no" || w == "skip")
        return OverwriteAnswer::Skip;
    if (w == "all")
        return OverwriteAnswer::All;
    if (w == "none")
        return OverwriteAnswer::None;
    return std::nullopt;
}

namespace {

std::string ReadNotesFile(const std::string& path) {
    std::ifstream in(Native(path), std::ios::binary);
    if (!in)
        throw CommandError{kUsage, path + ": cannot be read"};
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.rfind("\xEF\xBB\xBF", 0) == 0)
        text.erase(0, 3);
    if (text.find('\0') != std::string::npos)
        throw CommandError{kUsage, path + ": holds NUL bytes; notes must be text"};
    if (!qvr::Utf8ToCp1252(text))
        throw CommandError{kUsage, path + ": is not UTF-8 text, or holds characters that an "
                                          "archive cannot store (Windows-1252 only)"};
    return ToCrLf(text);
}

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
        if (IsSameFile(it->path(), skip))
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
    std::sort(found.begin(), found.end(), [](const qvr::BatchFile& a, const qvr::BatchFile& b) {
        auto ka = std::make_tuple(Lower(a.FilePath), Lower(a.FileName), a.FilePath, a.FileName);
        auto kb = std::make_tuple(Lower(b.FilePath), Lower(b.FileName), b.FilePath, b.FileName);
        return ka < kb;
    });
    out.Files.insert(out.Files.end(), found.begin(), found.end());
}

// Drops files whose entry would repeat one of existing or an earlier file, reporting each.
std::vector<qvr::BatchFile> WithoutDuplicates(const std::vector<qvr::BatchFile>& files,
                                              const std::vector<qvr::sgFileInfo>& existing,
                                              std::vector<std::string>& problems) {
    std::set<std::string> taken;
    for (const auto& e : existing)
        taken.insert(Lower(e.FilePath()) + "\\" + Lower(e.FileName()));
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

struct AddOutcome {
    size_t Added = 0;
    int64_t Bytes = 0;
    size_t Failed = 0;
};

AddOutcome AddWithProgress(qvr::Archives& arc, const std::vector<qvr::BatchFile>& files,
                           const Context& ctx, const std::string& archiveDate) {
    ProgressBar bar(ctx.ProgressWanted(), "Packing", files.size());
    qvr::BatchOptions options;
    options.Jobs = ctx.Jobs;
    options.ArchiveDate = archiveDate;
    AddOutcome outcome;
    qvr::AddFilesToArchive(
        arc, files, options, [&](const qvr::BatchResult& r, size_t done, size_t) {
            if (r.Added) {
                ++outcome.Added;
                outcome.Bytes += qvr::FileLength(r.File.Source);
                if (ctx.Verbose) {
                    bar.Clear();
                    std::cout << "added: "
                              << Printable(JoinArchivePath(r.File.FilePath, r.File.FileName))
                              << "\n";
                }
            } else {
                ++outcome.Failed;
                bar.Clear();
                Warn(r.Message);
            }
            bar.Update(done, r.File.FileName);
        });
    return outcome;
}

// ---------------------------------------------------------------------------- commands

struct Command {
    std::string Name;
    std::string Summary;
    std::string Usage; // the full --help text
    std::vector<OptionSpec> Options;
    std::function<int(const ParsedArgs&, const Context&)> Run;
};

void NeedOperands(const ParsedArgs& a, size_t min, size_t max, const std::string& usage) {
    if (a.Operands.size() < min || a.Operands.size() > max)
        throw UsageError(a.Operands.size() < min ? "missing operand\nusage: " + usage
                                                 : "too many operands\nusage: " + usage);
}

std::string PadLeft(const std::string& s, size_t width) {
    return s.size() >= width ? s : std::string(width - s.size(), ' ') + s;
}

std::string PadRight(const std::string& s, size_t width) {
    return s.size() >= width ? s : s + std::string(width - s.size(), ' ');
}

int CmdList(const ParsedArgs& a, const Context&) {
    NeedOperands(a, 1, 1, "qvr list ARCHIVE");
    const std::string path = a.Operands[0];
    qvr::Archives arc;
    const qvr::OpenKind state = Open(arc, path, true, true);
    const bool damaged = state == qvr::OpenKind::Partial;
    const bool zip = state == qvr::OpenKind::Zip;
    std::cout << PadLeft("Size", 10) << "  " << PadLeft("Compressed", 10) << "  "
              << (zip ? "" : PadRight("Modified (UTC)", 20) + "  " + PadRight("Added", 20) + "  ")
              << "Name\n";
    int64_t total = 0, packed = 0;
    size_t files = 0;
    for (const auto& e : arc.ArchiveFiles) {
        std::cout << PadLeft(std::to_string(e.FileSize()), 10) << "  "
                  << PadLeft(std::to_string(e.FileCompressedSize()), 10) << "  ";
        if (!zip)
            std::cout << PadRight(Printable(e.FileDate()), 20) << "  "
                      << PadRight(Printable(e.FileArchiveDate()), 20) << "  ";
        std::cout << Printable(DisplayPath(e)) << "\n";
        total += e.FileSize();
        packed += e.FileCompressedSize();
        ++files;
    }
    std::cout << PadLeft(std::to_string(total), 10) << "  " << PadLeft(std::to_string(packed), 10)
              << "  " << files << (files == 1 ? " entry" : " entries")
              << (zip ? " (zip file: listed only)" : "") << "\n";
    if (damaged)
        throw CommandError{kUsage, path +
                                       ": the archive is damaged; only the entries above "
                                       "could be read ('qvr verify " +
                                       path + "' tells more)"};
    return kOk;
}

void PrintField(const std::string& label, const std::string& value) {
    std::string text = value;
    // Multi-line fields (authors, requirements) continue under their first line.
    std::string out;
    for (char c : ToCrLf(text)) {
        if (c == '\r')
            continue;
        out += c;
        if (c == '\n')
            out += std::string(15, ' ');
    }
    std::cout << (out.empty() ? label : PadRight(label, 15) + Printable(out, true)) << "\n";
}

bool HasInfoEntry(const qvr::Archives& arc) {
    return std::any_of(arc.ArchiveFiles.begin(), arc.ArchiveFiles.end(),
                       [&](const qvr::sgFileInfo& e) { return arc.IsInfoEntry(e); });
}

int CmdInfo(const ParsedArgs& a, const Context&) {
    NeedOperands(a, 1, 1, "qvr info ARCHIVE");
    const std::string path = a.Operands[0];
    qvr::Archives arc;
    Open(arc, path, false);
    const std::string name = qvr::GetFileNameFromPath(path);
    qvr::sgPlugInfo info;
    if (!info.GetPluginData(arc, name)) {
        if (HasInfoEntry(arc))
            throw CommandError{kSomeFailed,
                               path + ": its plug-in information cannot be read: " + arc.LastError};
        std::string hint;
        for (const auto& e : arc.ArchiveFiles)
            if (e.FilePath().empty() && Lower(e.FileName()).ends_with(".ifo"))
                hint = " (it holds " + e.FileName() + ": was the archive renamed from " +
                       e.FileName().substr(0, e.FileName().size() - 4) + "?)";
        throw CommandError{kSomeFailed,
                           path + ": holds no plug-in information entry " + name + ".ifo" + hint};
    }
    PrintField("Name:", info.PluginName());
    PrintField("Version:", info.Version());
    PrintField("Last updated:", info.LastUpdated());
    PrintField("Authors:", info.Authors());
    PrintField("Depends on:", info.Depends());
    size_t files = 0;
    for (const auto& e : arc.ArchiveFiles)
        files += arc.IsInfoEntry(e) ? 0 : 1;
    PrintField("Files:", std::to_string(files));
    if (!info.Notes().empty()) {
        std::cout << "Notes:\n";
        std::string notes = info.Notes();
        notes.erase(std::remove(notes.begin(), notes.end(), '\r'), notes.end());
        std::cout << Printable(notes, true) << (notes.ends_with('\n') ? "" : "\n");
    }
    return kOk;
}

void ApplyInfoOptions(const ParsedArgs& a, qvr::sgPlugInfo& info) {
    if (a.Has("name"))
        info.PluginName(a.Value("name"));
    if (a.Has("version"))
        info.Version(a.Value("version"));
    if (a.Has("last-updated"))
        info.LastUpdated(a.Value("last-updated"));
    if (a.Has("authors"))
        info.Authors(a.Value("authors"));
    if (a.Has("depends"))
        info.Depends(a.Value("depends"));
    if (a.Has("notes-file"))
        info.Notes(ReadNotesFile(a.Value("notes-file")));
    for (const std::string* text : {&info.PluginName(), &info.Version(), &info.LastUpdated(),
                                    &info.Authors(), &info.Depends()}) {
        if (!qvr::Utf8ToCp1252(*text))
            throw CommandError{kUsage, "\"" + *text +
                                           "\" holds characters that an archive cannot store "
                                           "(Windows-1252 only)"};
        if (text->find('\0') != std::string::npos)
            throw CommandError{kUsage, "plug-in information cannot hold NUL characters"};
    }
}

int CmdCreate(const ParsedArgs& a, const Context& ctx) {
    NeedOperands(a, 2, 2, "qvr create ARCHIVE [OPTIONS] FOLDER");
    const std::string path = a.Operands[0];
    const std::string folder = a.Operands[1];
    if (const fs::path file = Native(path).filename(); file.empty() || file == "." || file == "..")
        throw UsageError("ARCHIVE must name a file, not \"" + path + "\"");
    std::error_code ec;
    if (!fs::is_directory(Native(folder), ec))
        throw CommandError{kUsage, folder + ": no such folder"};
    if (fs::is_directory(Native(path), ec))
        throw CommandError{kUsage, path + ": is a folder"};
    if (qvr::FileExists(path) && !a.Has("force"))
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
    const std::string work = SiblingTemp(path);
    qvr::Archives arc;
    struct Cleanup {
        std::string file, record;
        ~Cleanup() {
            if (!file.empty())
                qvr::DeleteFileQuiet(file);
            if (!record.empty())
                qvr::DeleteFileQuiet(record);
        }
    } cleanup{work, ""};
    if (!arc.CreateArchive(work))
        throw CommandError{kUsage, path + ": cannot be written" +
                                       (arc.LastError.empty() ? "" : ": " + arc.LastError)};
    // The info entry goes first, as a new package in the packager starts with it. It is packed
    // from a record file of its own so that a pinned date covers its file date as well.
    std::string record;
    try {
        record = info.ToRecord();
    } catch (const std::exception& e) {
        throw CommandError{kUsage, path + ": cannot store the plug-in information: " + e.what()};
    }
    const std::string recordFile = arc.NewWorkFile(archiveName + ".ifo");
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
    AddOutcome outcome = AddWithProgress(arc, files, ctx, dates.ArchiveDate);
    if (arc.ArchiveFiles.empty() || arc.ArchiveFiles[0].FileName() != archiveName + ".ifo")
        throw CommandError{kUsage, path + ": the plug-in information could not be stored"};
    --outcome.Added;
    outcome.Bytes -= static_cast<int64_t>(record.size());
    ReplaceWith(work, path);
    cleanup.file.clear();
    if (!ctx.Quiet)
        std::cout << "Created " << path << ": " << outcome.Added
                  << (outcome.Added == 1 ? " file, " : " files, ") << outcome.Bytes
                  << " bytes packed into " << qvr::FileLength(path) << "\n";
    const bool failed = outcome.Failed > 0 || !gathered.Problems.empty();
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
    std::vector<qvr::BatchFile> files =
        WithoutDuplicates(gathered.Files, arc.ArchiveFiles, gathered.Problems);
    if (arc.ArchiveFiles.empty()) {
        // An empty archive still gets its info entry's name reserved.
        std::vector<qvr::sgFileInfo> none(1);
        none[0].FileName(qvr::GetFileNameFromPath(path) + ".ifo");
        files = WithoutDuplicates(files, none, gathered.Problems);
    }
    for (const auto& p : gathered.Problems)
        Warn(p);
    AddOutcome outcome = AddWithProgress(arc, files, ctx, CurrentPackDates().ArchiveDate);
    if (!ctx.Quiet)
        std::cout << "Added " << outcome.Added << (outcome.Added == 1 ? " file" : " files")
                  << " to " << path << "\n";
    return outcome.Failed > 0 || !gathered.Problems.empty() ? kSomeFailed : kOk;
}

int CmdRemove(const ParsedArgs& a, const Context& ctx) {
    NeedOperands(a, 2, SIZE_MAX, "qvr remove ARCHIVE PATH...");
    const std::string path = a.Operands[0];
    qvr::Archives arc;
    Open(arc, path, false);
    std::vector<bool> drop(arc.ArchiveFiles.size(), false);
    int code = kOk;
    for (size_t k = 1; k < a.Operands.size(); ++k) {
        const std::string wanted = qvr::ToArchivePath(a.Operands[k]);
        if (wanted.empty()) {
            Warn(a.Operands[k] + ": name a file or folder inside the archive");
            code = kSomeFailed;
            continue;
        }
        size_t matched = 0;
        for (size_t i = 0; i < arc.ArchiveFiles.size(); ++i) {
            const auto& e = arc.ArchiveFiles[i];
            const std::string folder = Lower(e.FilePath());
            const bool hit = SameText(DisplayPath(e), wanted) || folder == Lower(wanted) ||
                             folder.starts_with(Lower(wanted) + "\\");
            if (!hit)
                continue;
            if (arc.IsInfoEntry(e)) {
                if (SameText(DisplayPath(e), wanted)) {
                    Warn(a.Operands[k] + ": is the plug-in information; 'qvr set-info' changes it");
                    code = kSomeFailed;
                    ++matched;
                }
                continue;
            }
            drop[i] = true;
            ++matched;
        }
        if (matched == 0) {
            Warn(path + ": holds no file or folder " + wanted);
            code = kSomeFailed;
        }
    }
    const size_t removing = static_cast<size_t>(std::count(drop.begin(), drop.end(), true));
    if (removing > 0) {
        if (ctx.Verbose)
            for (size_t i = 0; i < drop.size(); ++i)
                if (drop[i])
                    std::cout << "removed: " << Printable(DisplayPath(arc.ArchiveFiles[i])) << "\n";
        std::vector<size_t> indices;
        for (size_t i = 0; i < drop.size(); ++i)
            if (drop[i])
                indices.push_back(i);
        qvr::Result removed;
        {
            // One pass: the kept blocks back to back, then their records once.
            ProgressBar bar(ctx.ProgressWanted(), "Rewriting", arc.ArchiveFiles.size());
            removed = arc.RemoveEntries(indices, [&](size_t done, size_t, const std::string& name) {
                bar.Update(done, name);
                return true;
            });
        }
        if (!removed)
            throw CommandError{kSomeFailed, path + ": " + removed.Message};
    }
    if (!ctx.Quiet)
        std::cout << "Removed " << removing << (removing == 1 ? " entry" : " entries") << " from "
                  << path << "\n";
    return code;
}

int CmdSetInfo(const ParsedArgs& a, const Context& ctx) {
    NeedOperands(a, 1, 1, "qvr set-info ARCHIVE [--name N] [--version V] ...");
    const std::string path = a.Operands[0];
    bool any = false;
    for (const char* o : {"name", "version", "last-updated", "authors", "depends", "notes-file"})
        any = any || a.Has(o);
    if (!any)
        throw UsageError("nothing to change: give at least one of --name, --version, "
                         "--last-updated, --authors, --depends, --notes-file");
    qvr::Archives arc;
    Open(arc, path, false);
    const std::string name = qvr::GetFileNameFromPath(path);
    qvr::sgPlugInfo info;
    if (!info.GetPluginData(arc, name) && !ctx.Quiet) {
        if (HasInfoEntry(arc))
            Warn(path + ": its plug-in information cannot be read (" + arc.LastError +
                 "); it is written anew from the fields given");
        else
            Warn(path + ": had no plug-in information entry; a new one is written");
    }
    ApplyInfoOptions(a, info);
    if (!info.UpdatePluginData(arc, name))
        throw CommandError{kSomeFailed, path + ": the plug-in information could not be written" +
                                            (arc.LastError.empty() ? "" : ": " + arc.LastError)};
    if (!ctx.Quiet)
        std::cout << "Updated the plug-in information of " << path << "\n";
    return kOk;
}

int Tally(const std::vector<qvr::EntryResult>& results, qvr::EntryOutcome o) {
    return static_cast<int>(std::count_if(results.begin(), results.end(),
                                          [&](const auto& r) { return r.Outcome == o; }));
}

std::string Plural(int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

int CmdInstall(const ParsedArgs& a, const Context& ctx) {
    NeedOperands(a, 2, 2, "qvr install ARCHIVE DATA_FOLDER [--overwrite | --skip-existing]");
    if (a.Has("overwrite") && a.Has("skip-existing"))
        throw UsageError("--overwrite and --skip-existing exclude each other");
    const std::string path = a.Operands[0];
    const std::string data = a.Operands[1];
    qvr::Archives arc;
    if (Open(arc, path, false) == qvr::OpenKind::Empty) {
        if (!ctx.Quiet)
            std::cout << path << " holds no files; nothing to install\n";
        return kOk;
    }
    std::error_code ec;
    if (fs::exists(Native(data), ec) && !fs::is_directory(Native(data), ec))
        throw CommandError{kUsage, data + ": is a file, not a folder"};
    if (!fs::exists(Native(data), ec)) {
        if (!ctx.Quiet)
            Warn("note: " + data + " does not exist yet; it is created");
        // Once here rather than once for every entry of the archive.
        fs::create_directories(Native(data), ec);
        if (!fs::is_directory(Native(data)))
            throw CommandError{kUsage, data + ": cannot be created" +
                                           (ec ? ": " + ec.message() : std::string()) +
                                           "; nothing was installed"};
    } else if (!ctx.Quiet && !qvr::HasMorrowindEsm(data)) {
        Warn("note: " + data + " holds no Morrowind.esm; installing there all the same");
    }

    ProgressBar bar(ctx.ProgressWanted(), "Installing", arc.ArchiveFiles.size());
    const bool interactive = !a.Has("overwrite") && !a.Has("skip-existing") && StdinIsTerminal();
    bool all = false, allAnswer = false;
    qvr::OverwriteQuestion ask;
    if (a.Has("overwrite")) {
        ask = [](const qvr::sgFileInfo&, const std::string&) { return true; };
    } else if (interactive) {
        ask = [&](const qvr::sgFileInfo& e, const std::string&) {
            if (all)
                return allAnswer;
            bar.Clear();
            for (;;) {
                std::cerr << Printable(DisplayPath(e)) << " already exists in " << data
                          << ". Overwrite it? [y]es, [n]o, [A]ll, [N]one: " << std::flush;
                std::string line;
                if (!std::getline(std::cin, line)) {
                    std::cerr << "\n";
                    all = true;
                    allAnswer = false;
                    return false;
                }
                auto answer = ParseOverwriteAnswer(line);
                if (!answer)
                    continue;
                switch (*answer) {
                case OverwriteAnswer::Overwrite:
                    return true;
                case OverwriteAnswer::Skip:
                    return false;
                case OverwriteAnswer::All:
                    all = allAnswer = true;
                    return true;
                case OverwriteAnswer::None:
                    all = true;
                    allAnswer = false;
                    return false;
                }
            }
        };
    }
    auto results =
        qvr::InstallArchive(arc, data, ask, [&](const qvr::EntryResult& r, size_t done, size_t) {
            if (r.Outcome == qvr::EntryOutcome::Refused || r.Outcome == qvr::EntryOutcome::Failed) {
                bar.Clear();
                Warn(r.Message);
            } else if (ctx.Verbose && r.Outcome == qvr::EntryOutcome::Installed) {
                bar.Clear();
                std::cout << "installed: " << Printable(DisplayPath(r.Entry)) << "\n";
            }
            bar.Update(done, r.Entry.FileName());
        });
    bar.Clear();
    const int installed = Tally(results, qvr::EntryOutcome::Installed);
    const int kept = Tally(results, qvr::EntryOutcome::Skipped);
    const int refused = Tally(results, qvr::EntryOutcome::Refused);
    const int failed = Tally(results, qvr::EntryOutcome::Failed);
    // Nobody could be asked: say which files were kept, so nothing is skipped unseen.
    if (kept > 0 && !a.Has("skip-existing") && !interactive) {
        Warn("kept " + Plural(kept, "existing file", "existing files") +
             " (no terminal to ask; --overwrite replaces them):");
        for (const auto& r : results)
            if (r.Outcome == qvr::EntryOutcome::Skipped)
                std::cerr << "  " << Printable(r.Target) << "\n";
    }
    if (!ctx.Quiet) {
        std::cout << "Installed " << installed << " of "
                  << Plural(installed + kept + refused + failed, "file", "files") << " into "
                  << data;
        if (kept)
            std::cout << "; " << Plural(kept, "existing file", "existing files") << " kept";
        if (refused)
            std::cout << "; " << refused << " refused";
        if (failed)
            std::cout << "; " << failed << " failed";
        std::cout << "\n";
    }
    return refused + failed > 0 ? kSomeFailed : kOk;
}

int CmdUninstall(const ParsedArgs& a, const Context& ctx) {
    NeedOperands(a, 2, 2, "qvr uninstall ARCHIVE DATA_FOLDER [--yes]");
    const std::string path = a.Operands[0];
    const std::string data = a.Operands[1];
    qvr::Archives arc;
    if (Open(arc, path, false) == qvr::OpenKind::Empty) {
        if (!ctx.Quiet)
            std::cout << path << " holds no files; nothing to remove\n";
        return kOk;
    }
    std::error_code ec;
    if (!fs::is_directory(Native(data), ec))
        throw CommandError{kUsage, data + ": no such folder"};
    if (!a.Has("yes")) {
        if (!StdinIsTerminal())
            throw CommandError{kUsage, path + ": uninstalling deletes its files from " + data +
                                           "; confirm on a terminal, or pass --yes"};
        std::cerr << "This will attempt to remove all files listed for the current QVR file. It "
                     "will not remove folders. Continue? [Y/n] "
                  << std::flush;
        std::string line;
        if (!std::getline(std::cin, line))
            line = "n";
        std::string w = Lower(line);
        w.erase(std::remove_if(w.begin(), w.end(), [](unsigned char c) { return std::isspace(c); }),
                w.end());
        if (!(w.empty() || w == "y" || w == "yes")) {
            if (!ctx.Quiet)
                std::cout << "Nothing was removed.\n";
            return kOk;
        }
    }
    ProgressBar bar(ctx.ProgressWanted(), "Removing", arc.ArchiveFiles.size());
    auto results =
        qvr::RemoveInstalledFiles(arc, data, [&](const qvr::EntryResult& r, size_t done, size_t) {
            if (r.Outcome == qvr::EntryOutcome::Refused || r.Outcome == qvr::EntryOutcome::Failed) {
                bar.Clear();
                Warn(r.Message);
            } else if (ctx.Verbose && r.Outcome == qvr::EntryOutcome::Installed) {
                bar.Clear();
                std::cout << "removed: " << Printable(r.Target) << "\n";
            } else if (ctx.Verbose && r.Outcome == qvr::EntryOutcome::Skipped) {
                bar.Clear();
                std::cout << "left: " << Printable(r.Message) << "\n";
            }
            bar.Update(done, r.Entry.FileName());
        });
    bar.Clear();
    const int removed = Tally(results, qvr::EntryOutcome::Installed);
    const int absent = Tally(results, qvr::EntryOutcome::Skipped);
    const int refused = Tally(results, qvr::EntryOutcome::Refused);
    const int failed = Tally(results, qvr::EntryOutcome::Failed);
    if (!ctx.Quiet) {
        std::cout << "Removed " << Plural(removed, "file", "files") << " from " << data;
        if (absent)
            std::cout << "; " << absent << " not there (or empty)";
        if (refused)
            std::cout << "; " << refused << " refused";
        if (failed)
            std::cout << "; " << failed << " failed";
        std::cout << "; folders are kept\n";
    }
    return refused + failed > 0 ? kSomeFailed : kOk;
}

int CmdVerify(const ParsedArgs& a, const Context& ctx) {
    NeedOperands(a, 1, 1, "qvr verify ARCHIVE");
    const std::string path = a.Operands[0];
    qvr::VerifyReport report;
    {
        ProgressBar bar(ctx.ProgressWanted(), "Checking", 0);
        report = qvr::VerifyArchive(path, [&](size_t done, size_t count, const std::string& name) {
            bar.SetTotal(count);
            bar.Update(done, name);
            return true;
        });
    }
    if (!report.Readable)
        throw CommandError{kUsage, path + ": " + report.Fatal};
    for (const auto& p : report.Problems)
        std::cout << path << ": " << Printable(p) << "\n";
    if (!report.Problems.empty()) {
        std::cout << path << ": "
                  << Plural(static_cast<int>(report.Problems.size()), "problem", "problems")
                  << " found\n";
        return kSomeFailed;
    }
    if (!ctx.Quiet)
        std::cout << path << ": OK, "
                  << Plural(static_cast<int>(report.Entries), "entry", "entries") << ", "
                  << report.UncompressedBytes << " bytes\n";
    return kOk;
}

const std::vector<OptionSpec> kCommon = {
    {"help", 'h', false}, {"quiet", 'q', false}, {"verbose", 'v', false}};

std::vector<OptionSpec> With(std::vector<OptionSpec> extra) {
    extra.insert(extra.end(), kCommon.begin(), kCommon.end());
    return extra;
}

const std::vector<OptionSpec> kInfoOptions = {{"name", 0, true},         {"version", 0, true},
                                              {"last-updated", 0, true}, {"authors", 0, true},
                                              {"depends", 0, true},      {"notes-file", 0, true}};

std::vector<OptionSpec> InfoOptions(std::vector<OptionSpec> extra) {
    extra.insert(extra.end(), kInfoOptions.begin(), kInfoOptions.end());
    return With(extra);
}

const char* kInfoHelp =
    "  --name TEXT          the plug-in's name\n"
    "  --version TEXT       its version\n"
    "  --last-updated TEXT  the date of its last update (free text)\n"
    "  --authors TEXT       its author or authors\n"
    "  --depends TEXT       the plug-ins or master files it needs\n"
    "  --notes-file FILE    notes from a UTF-8 text file (line breaks are kept)\n";

const char* kCommonHelp = "  -q, --quiet          no progress bar and no summary\n"
                          "  -v, --verbose        name every file handled\n"
                          "  -h, --help           this help\n";

std::vector<Command> Commands() {
    return {
        {"list", "list the entries of a QVR archive or zip file",
         std::string("usage: qvr list ARCHIVE\n\n"
                     "Lists every entry with its size, compressed size, dates and path.\n"
                     "Plain zip files are listed too.\n\n") +
             kCommonHelp,
         With({}), CmdList},
        {"info", "show the plug-in information and notes",
         std::string(
             "usage: qvr info ARCHIVE\n\n"
             "Shows the plug-in's name, version, date, authors, requirements and notes.\n\n") +
             kCommonHelp,
         With({}), CmdInfo},
        {"create", "pack a folder into a new archive",
         std::string("usage: qvr create ARCHIVE [OPTIONS] FOLDER\n\n"
                     "Packs FOLDER, laid out like the game's data folder, into a new archive:\n"
                     "its files and sub-folders become entries with their relative paths.\n"
                     "The name defaults to the archive's file name, the version to 1.0 and\n"
                     "the date of the last update to today.\n\n") +
             kInfoHelp +
             "  -f, --force          replace ARCHIVE when it exists\n"
             "  -j, --jobs N         compress on N threads (default: one per core)\n" +
             kCommonHelp +
             "\nWith SOURCE_DATE_EPOCH set, its time (UTC) is used for every date the archive\n"
             "records apart from the files' own, so the same files give the same bytes.\n",
         InfoOptions({{"force", 'f', false}, {"jobs", 'j', true}}), CmdCreate},
        {"add", "add files or folders to an archive",
         std::string("usage: qvr add ARCHIVE [--folder PATH] FILE...\n\n"
                     "Adds each FILE below PATH in the archive (the top level by default);\n"
                     "a folder is added with everything in it, below its own name.\n"
                     "PATH is written Meshes\\x or Meshes/x.\n\n"
                     "  --folder PATH        the folder inside the archive\n"
                     "  -j, --jobs N         compress on N threads (default: one per core)\n") +
             kCommonHelp,
         With({{"folder", 0, true}, {"jobs", 'j', true}}), CmdAdd},
        {"remove", "remove files or folders from an archive",
         std::string("usage: qvr remove ARCHIVE PATH...\n\n"
                     "Removes the entry PATH (Meshes\\x.nif or Meshes/x.nif); a folder removes\n"
                     "everything below it. The archive is rewritten once.\n\n") +
             kCommonHelp,
         With({}), CmdRemove},
        {"set-info", "change the plug-in information",
         std::string("usage: qvr set-info ARCHIVE [OPTIONS]\n\n"
                     "Changes the given fields of the plug-in information; the others stay.\n\n") +
             kInfoHelp + kCommonHelp,
         InfoOptions({}), CmdSetInfo},
        {"install", "install an archive's files into the game's data folder",
         std::string(
             "usage: qvr install ARCHIVE DATA_FOLDER [--overwrite | --skip-existing]\n\n"
             "Writes every file of ARCHIVE below DATA_FOLDER, creating folders as needed.\n"
             "For a file that already exists it asks on a terminal; with no terminal it\n"
             "keeps existing files and lists them. An existing file of 0 bytes is replaced.\n"
             "Answers to the question: y (overwrite), n (keep), A (overwrite this and every\n"
             "later file), N (keep this and every later file).\n\n"
             "  --overwrite          replace existing files without asking\n"
             "  --skip-existing      keep existing files without asking\n") +
             kCommonHelp,
         With({{"overwrite", 0, false}, {"skip-existing", 0, false}}), CmdInstall},
        {"uninstall", "remove an archive's files from the game's data folder",
         std::string("usage: qvr uninstall ARCHIVE DATA_FOLDER [--yes]\n\n"
                     "Deletes every file below DATA_FOLDER that an entry of ARCHIVE names\n"
                     "(files of 0 bytes stay; folders are never removed). Asks first on a\n"
                     "terminal; without one, --yes is needed.\n\n"
                     "  -y, --yes            do not ask\n") +
             kCommonHelp,
         With({{"yes", 'y', false}}), CmdUninstall},
        {"verify", "check an archive thoroughly",
         std::string("usage: qvr verify ARCHIVE\n\n"
                     "Checks the archive's layout and directory and decompresses every entry\n"
                     "against its recorded size. Reports every problem; exits with 1 when\n"
                     "there is one.\n\n") +
             kCommonHelp,
         With({}), CmdVerify},
    };
}

std::string MainHelp() {
    std::string text = "usage: qvr [-q] [-v] [-j N] COMMAND [ARGS]\n\n"
                       "Packs, lists, installs and removes Morrowind plug-in archives (.qvr).\n\n"
                       "Commands:\n";
    for (const auto& c : Commands())
        text += "  " + PadRight(c.Name, 11) + c.Summary + "\n";
    text += "\n'qvr COMMAND --help' describes a command.\n"
            "Exit status: 0 all done, 1 some entries failed or were refused, 2 usage error or\n"
            "unreadable archive.\n";
    return text;
}

} // namespace

int Run(const std::vector<std::string>& args) {
    std::vector<std::string> rest = args;
    Context ctx;
    // Options before the command apply to it as well.
    while (!rest.empty() && rest[0].size() > 1 && rest[0][0] == '-') {
        const std::string opt = rest[0];
        if (opt.size() > 2 && opt[1] != '-' && opt[1] != 'j') {
            // Grouped flags (-qv, -qj4), as after the command.
            rest[0] = opt.substr(0, 2);
            rest.insert(rest.begin() + 1, "-" + opt.substr(2));
            continue;
        }
        if (opt == "-h" || opt == "--help") {
            std::cout << MainHelp();
            return kOk;
        }
        if (opt == "--version") {
            std::cout << "qvr " << QVR_VERSION << "\n";
            return kOk;
        }
        if (opt == "-j" || opt == "--jobs" || opt.starts_with("-j") || opt.starts_with("--jobs=")) {
            std::string value = opt.starts_with("--jobs=")        ? opt.substr(7)
                                : opt.size() > 2 && opt[1] == 'j' ? opt.substr(2)
                                                                  : "";
            if (value.empty()) {
                if (rest.size() < 2) {
                    std::cerr << "qvr: option " << opt << " needs a value\n";
                    return kUsage;
                }
                value = rest[1];
                rest.erase(rest.begin());
            }
            try {
                ctx.Jobs = ParseJobs(value);
            } catch (const UsageError& e) {
                std::cerr << "qvr: " << e.what() << "\n";
                return kUsage;
            }
        } else if (opt == "-q" || opt == "--quiet")
            ctx.Quiet = true;
        else if (opt == "-v" || opt == "--verbose")
            ctx.Verbose = true;
        else {
            std::cerr << "qvr: unknown option " << opt << "\n" << MainHelp();
            return kUsage;
        }
        rest.erase(rest.begin());
    }
    if (rest.empty()) {
        std::cerr << MainHelp();
        return kUsage;
    }
    std::string name = rest[0];
    rest.erase(rest.begin());
    if (name == "help") {
        if (rest.empty()) {
            std::cout << MainHelp();
            return kOk;
        }
        name = rest[0];
        rest = {"--help"};
    }
    const auto commands = Commands();
    auto it = std::find_if(commands.begin(), commands.end(),
                           [&](const Command& c) { return c.Name == name; });
    if (it == commands.end()) {
        std::cerr << "qvr: unknown command '" << name << "'\n\n" << MainHelp();
        return kUsage;
    }
    try {
        ParsedArgs parsed = ParseArgs(rest, it->Options);
        if (parsed.Has("help")) {
            std::cout << it->Usage;
            return kOk;
        }
        ctx.Quiet = ctx.Quiet || parsed.Has("quiet");
        ctx.Verbose = ctx.Verbose || parsed.Has("verbose");
        if (parsed.Has("jobs"))
            ctx.Jobs = ParseJobs(parsed.Value("jobs"));
        return it->Run(parsed, ctx);
    } catch (const UsageError& e) {
        std::cerr << "qvr " << name << ": " << e.what() << "\n(see 'qvr " << name << " --help')\n";
        return kUsage;
    } catch (const CommandError& e) {
        std::cerr << "qvr: " << Printable(e.Message) << "\n";
        return e.Code;
    } catch (const std::exception& e) {
        std::cerr << "qvr " << name << ": " << e.what() << "\n";
        return kUsage;
    }
}

} // namespace qvrtool
