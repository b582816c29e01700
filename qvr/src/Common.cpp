// Helpers every command uses: opening, work files beside a target, names, notes.

#include "Command.h"

#include "qvr/format/PathRules.h"
#include "qvr/install/Install.h"
#include "qvr/package/BatchAdd.h"
#include "qvr/package/Verify.h"
#include "qvr/platform/Encoding.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/TempFile.h"
#include "qvr/platform/WorkFiles.h"

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

namespace qvrtool {

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
    return qvr::ShownEntryPath(e.FilePath(), e.FileName());
}

std::string DisplayPath(const std::string& storedPath) {
    return qvr::ShownEntryPath(storedPath);
}

void Warn(const std::string& text) {
    std::cerr << "qvr: " << Printable(text) << "\n";
}

int TellFailure(const qvr::Result& outcome) {
    Warn(outcome.Message);
    return outcome.Code == qvr::Status::ArchiveUnusable ? kUsage : kSomeFailed;
}

void TellTakenBack(const std::vector<std::string>& plugins,
                   const std::vector<std::string>& updates) {
    for (const std::string& p : plugins)
        Warn("note: an install of " + p +
             " had been cut short; it was taken back, so it is not installed now");
    for (const std::string& p : updates)
        Warn("note: an update of " + p +
             " had been cut short; it was taken back, and the version installed before it stays");
}

// ---------------------------------------------------------------------------- opening

std::vector<std::string> SweepWorkFiles(const std::string& path, bool below) {
    if (below)
        return qvr::RemoveStaleWorkFiles(path, true);
    // Work files for a package behind a link are made beside the file it names.
    std::string real;
    if (!qvr::TempFile::RewriteTarget(path, real))
        real = path;
    std::vector<std::string> removed = qvr::RemoveStaleWorkFiles(Utf8(Native(real).parent_path()));
    for (const std::string& more : qvr::RemoveStaleWorkFiles(qvr::GetTempFolder()))
        removed.push_back(more);
    return removed;
}

// Opens path into arc, or ends the command with a message that says what is wrong.
namespace {

qvr::OpenKind KindOrStop(const qvr::OpenStatus& status, const std::string& path, bool allowZip,
                         bool allowPartial) {
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

} // namespace

qvr::OpenKind Open(qvr::Archives& arc, const std::string& path, bool allowZip, bool allowPartial) {
    SweepWorkFiles(path);
    return KindOrStop(arc.Open(path), path, allowZip, allowPartial);
}

void OpenToChange(qvr::Archives& arc, const std::string& path) {
    SweepWorkFiles(path);
    KindOrStop(arc.OpenForChanges(path), path, false, false);
}

PackDates PackingDates() {
    PackDates dates;
    if (const qvr::Result taken = CurrentPackDates(dates); !taken)
        throw CommandError{kUsage, taken.Message};
    return dates;
}

void ReplaceWith(qvr::TempFile& from, const std::string& to) {
    if (const qvr::Result replaced = from.ReplaceInto(to); !replaced)
        throw CommandError{kSomeFailed, to + ": could not be replaced: " + replaced.Message +
                                            "; it was left as it was"};
}

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

// ---------------------------------------------------------------------------- commands

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

std::string Plural(int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace qvrtool
