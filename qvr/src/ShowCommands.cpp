// list, info and verify: what an archive holds, and whether it is sound.

#include "Command.h"
#include "ListFormat.h"
#include "SourceCommands.h"

#include "qvr/format/PathRules.h"
#include "qvr/install/Install.h"
#include "qvr/package/BatchAdd.h"
#include "qvr/package/Verify.h"
#include "qvr/platform/Encoding.h"
#include "qvr/platform/FileUtils.h"

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

namespace {

// Packages record when each file was added as the packer's clock showed it, with no zone.
const char* kAddedHeading = "Added (packer's clock)";

} // namespace

int CmdList(const ParsedArgs& a, const Context& ctx) {
    NeedOperands(a, 1, 1, "qvr list ARCHIVE");
    const std::string path = a.Operands[0];
    if (ReadAsSource(path))
        return ListSource(a, ctx, path);
    qvr::Archives arc;
    const qvr::OpenKind state = Open(arc, path, true, true);
    const bool damaged = state == qvr::OpenKind::Partial;
    const bool zip = state == qvr::OpenKind::Zip;
    const bool json = a.Has("json");
    const bool frame = !json && !ctx.Quiet; // header and totals, for people
    if (json)
        std::cout << "[";
    else if (frame)
        std::cout << PadLeft("Size", 10) << "  " << PadLeft("Compressed", 10) << "  "
                  << PadRight("Modified", 25) << "  " << PadRight(kAddedHeading, 22) << "  Name\n";
    int64_t total = 0, packed = 0;
    size_t files = 0;
    for (const auto& e : arc.ArchiveFiles) {
        if (json) {
            std::cout << (files ? ",\n " : "\n ") << EntryJson(e, !zip && arc.IsInfoEntry(e));
        } else {
            const std::string added = zip ? "-" : IsoAddedDate(e.FileArchiveDate());
            std::cout << PadLeft(std::to_string(e.FileSize()), 10) << "  "
                      << PadLeft(std::to_string(e.FileCompressedSize()), 10) << "  "
                      << PadRight(Printable(IsoFileDate(e.FileDate())), 25) << "  "
                      << PadRight(Printable(added), 22) << "  " << Printable(DisplayPath(e))
                      << "\n";
        }
        total += e.FileSize();
        packed += e.FileCompressedSize();
        ++files;
    }
    if (json)
        std::cout << (files ? "\n]\n" : "]\n");
    else if (frame)
        std::cout << PadLeft(std::to_string(total), 10) << "  "
                  << PadLeft(std::to_string(packed), 10) << "  " << files
                  << (files == 1 ? " entry" : " entries") << (zip ? " (zip file: listed only)" : "")
                  << "\n";
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

namespace {

// Stored texts keep CR LF line breaks; JSON gives them as "\n", and a CR alone as "\r".
std::string JsonText(const std::string& text) {
    std::string lines;
    lines.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] != '\r' || i + 1 == text.size() || text[i + 1] != '\n')
            lines += text[i];
    return JsonString(lines);
}

void PrintInfoJson(const qvr::Archives& arc, const std::string& path, const qvr::sgPlugInfo& info) {
    size_t files = 0;
    for (const auto& e : arc.ArchiveFiles)
        files += arc.IsInfoEntry(e) ? 0 : 1;
    std::cout << "{\n  \"archive\": " << JsonString(path) << ",\n  \"kind\": \"qvr\""
              << ",\n  \"name\": " << JsonText(info.PluginName())
              << ",\n  \"version\": " << JsonText(info.Version())
              << ",\n  \"last_updated\": " << JsonText(info.LastUpdated())
              << ",\n  \"authors\": " << JsonText(info.Authors())
              << ",\n  \"depends\": " << JsonText(info.Depends()) << ",\n  \"files\": " << files
              << ",\n  \"layout\": " << PackageLayoutJson(path)
              << ",\n  \"plugins\": " << PluginHeadersJson(arc)
              << ",\n  \"notes\": " << JsonText(info.Notes()) << "\n}\n";
}

} // namespace

int CmdInfo(const ParsedArgs& a, const Context& ctx) {
    NeedOperands(a, 1, 1, "qvr info ARCHIVE");
    const std::string path = a.Operands[0];
    if (ReadAsSource(path))
        return InfoSource(a, ctx, path);
    qvr::Archives arc;
    Open(arc, path, false);
    const std::string name = qvr::GetFileNameFromPath(path);
    qvr::sgPlugInfo info;
    if (const qvr::Result read = info.GetPluginData(arc, name); !read) {
        if (HasInfoEntry(arc))
            throw CommandError{kSomeFailed,
                               path + ": its plug-in information cannot be read: " + read.Message};
        if (const std::string problem = arc.InfoEntryProblem(); !problem.empty())
            throw CommandError{kSomeFailed, path + ": " + problem};
        std::string hint;
        for (const auto& e : arc.ArchiveFiles)
            if (e.FilePath().empty() && Lower(e.FileName()).ends_with(".ifo"))
                hint = " (it holds " + e.FileName() + ": was the archive renamed from " +
                       e.FileName().substr(0, e.FileName().size() - 4) + "?)";
        throw CommandError{kSomeFailed,
                           path + ": holds no plug-in information entry " + name + ".ifo" + hint};
    }
    if (a.Has("json")) {
        PrintInfoJson(arc, path, info);
        return kOk;
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
    PrintPackageLayout(path);
    PrintPluginHeaders(arc);
    if (!info.Notes().empty()) {
        std::cout << "Notes:\n";
        std::string notes = info.Notes();
        notes.erase(std::remove(notes.begin(), notes.end(), '\r'), notes.end());
        std::cout << Printable(notes, true) << (notes.ends_with('\n') ? "" : "\n");
    }
    return kOk;
}

int CmdVerify(const ParsedArgs& a, const Context& ctx) {
    NeedOperands(a, 1, 1, "qvr verify ARCHIVE");
    const std::string path = a.Operands[0];
    if (ReadAsSource(path))
        return VerifySource(a, ctx, path);
    {
        // A folder, a device or a missing file is told about as every other command tells it.
        qvr::Archives probe;
        const qvr::OpenStatus status = probe.Open(path);
        if (status.Kind == qvr::OpenKind::NotArchive && !probe.IsQvrArchive(path))
            throw CommandError{kUsage, status.Message};
    }
    // Left by a command that was killed or lost its power: not part of the package, but said.
    for (const std::string& stale : SweepWorkFiles(path))
        std::cout << Printable(path) << ": removed " << Printable(stale)
                  << ", a work file left by an interrupted command\n";
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
        std::cout << Printable(path) << ": " << Printable(p) << "\n";
    if (!report.Problems.empty()) {
        std::cout << Printable(path) << ": "
                  << Plural(static_cast<int>(report.Problems.size()), "problem", "problems")
                  << " found\n";
        return kSomeFailed;
    }
    if (!ctx.Quiet)
        std::cout << Printable(path) << ": OK, "
                  << Plural(static_cast<int>(report.Entries), "entry", "entries") << ", "
                  << report.UncompressedBytes << " bytes\n";
    return kOk;
}

} // namespace qvrtool
