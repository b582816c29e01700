// list, info and verify of the archives players download (zip, 7z, rar, tar), read through the
// core's sources; and the data layout that info shows for every archive, packages included.

#include "SourceCommands.h"
#include "Command.h"
#include "ListFormat.h"
#include "StdStreams.h"

#include "qvr/sources/Layout.h"
#include "qvr/sources/Source.h"

#include <ctime>
#include <iostream>

namespace qvrtool {
namespace {

std::unique_ptr<qvr::sources::Source> OpenSource(const std::string& path) {
    qvr::sources::Opened opened = qvr::sources::Open(path);
    if (!opened.Outcome)
        throw CommandError{kUsage, opened.Outcome.Message};
    return std::move(opened.Archive);
}

std::string IsoUtc(const std::optional<int64_t>& seconds) {
    if (!seconds)
        return "-";
    const std::time_t t = static_cast<std::time_t>(*seconds);
    std::tm tm{};
#ifdef _WIN32
    if (gmtime_s(&tm, &t) != 0)
        return "-";
#else
    if (!gmtime_r(&t, &tm))
        return "-";
#endif
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &tm);
    return text;
}

// Each refused member on standard error; answers how many there were.
size_t SayRefused(const qvr::sources::Source& source, const std::string& path) {
    for (const qvr::sources::Refusal& r : source.Refused())
        Warn(path + ": " + r.Path + ": refused: " + r.Why);
    return source.Refused().size();
}

std::string Folder(const std::string& path) {
    return path.empty() ? "the top of the archive" : path + "/";
}

} // namespace

bool ReadAsSource(const std::string& path) {
    return qvr::sources::ReadsOtherArchives() && !qvr::Archives().IsQvrArchive(path);
}

void RefuseNotYetInstallable(const std::string& path) {
    if (!ReadAsSource(path))
        return;
    qvr::sources::Opened opened = qvr::sources::Open(path);
    if (!opened.Outcome)
        throw CommandError{kUsage, opened.Outcome.Message};
    throw CommandError{kUsage, path + ": is a " + opened.Archive->Kind() +
                                   " archive; qvr cannot install zip, 7z, rar or tar "
                                   "archives yet ('qvr list', 'qvr info' and 'qvr verify' "
                                   "read them)"};
}

int ListSource(const ParsedArgs& a, const Context& ctx, const std::string& path) {
    const auto source = OpenSource(path);
    const bool json = a.Has("json");
    const bool frame = !json && !ctx.Quiet;
    if (json)
        std::cout << "[";
    else if (frame)
        std::cout << PadLeft("Size", 10) << "  " << PadRight("Modified", 25) << "  Name\n";
    int64_t total = 0;
    size_t n = 0;
    for (const qvr::sources::Member& m : source->Members()) {
        if (json)
            std::cout << (n ? ",\n " : "\n ") << "{\"path\": " << JsonString(m.Path)
                      << ", \"size\": " << m.Size << ", \"modified\": "
                      << (m.Modified ? JsonString(IsoUtc(m.Modified)) : "null") << "}";
        else
            std::cout << PadLeft(std::to_string(m.Size), 10) << "  "
                      << PadRight(IsoUtc(m.Modified), 25) << "  " << Printable(m.Path) << "\n";
        total += m.Size;
        ++n;
    }
    if (json)
        std::cout << (n ? "\n]\n" : "]\n");
    else if (frame)
        std::cout << PadLeft(std::to_string(total), 10) << "  " << PadRight("", 25) << "  "
                  << Plural(static_cast<int>(n), "file", "files") << " (" << source->Kind()
                  << ")\n";
    return SayRefused(*source, path) ? kSomeFailed : kOk;
}

namespace {

// What lies outside the data (a readme beside Data Files) is not installed: said, not hidden.
void PrintLeftOut(const std::vector<std::string>& paths, const std::vector<size_t>& out) {
    std::string shown;
    for (size_t k = 0; k < out.size() && k < 10; ++k)
        shown += (shown.empty() ? "" : "\n") + paths[out[k]];
    if (out.size() > 10)
        shown += "\nand " + std::to_string(out.size() - 10) + " more";
    if (!out.empty())
        PrintField("Left out:", shown);
}

// Outside every option (and the data beside them): left out whichever are chosen.
std::vector<size_t> LeftOutOfEveryOption(const std::vector<std::string>& paths,
                                         const qvr::sources::Layout& layout) {
    return qvr::sources::PlaceOptions(paths, layout, layout.Options).LeftOut;
}

} // namespace

void PrintLayout(const std::vector<std::string>& paths) {
    using qvr::sources::LayoutKind;
    const qvr::sources::Layout layout = qvr::sources::FindLayout(paths);
    std::string list;
    for (const std::string& c : layout.Candidates)
        list += (list.empty() ? "" : "\n") + Folder(c);
    switch (layout.Kind) {
    case LayoutKind::Root:
        PrintField("Data root:", Folder(layout.Root));
        PrintLeftOut(paths, qvr::sources::PlaceFromRoot(paths, layout.Root).LeftOut);
        break;
    case LayoutKind::Options: {
        if (layout.RootHoldsData)
            PrintField("Data root:", Folder(layout.Base) + " (installed with any option)");
        std::string options;
        for (const qvr::sources::Option& o : layout.Options)
            options += (options.empty() ? "" : "\n") + o.Label + " " + o.Name + "  (" +
                       Folder(o.Root) + ")";
        PrintField("Options:", options);
        // What an install without --options takes, or why it takes nothing.
        std::string why;
        const std::vector<qvr::sources::Option> taken =
            qvr::sources::ChooseOptions(layout, {}, why);
        PrintField("Default:",
                   taken.empty() ? "none: " + why : taken.front().Label + " " + taken.front().Name);
        PrintLeftOut(paths, LeftOutOfEveryOption(paths, layout));
        break;
    }
    case LayoutKind::SeveralRoots:
        PrintField("Data root:", "not clear: each of these could be it, one must be chosen");
        PrintField("Candidates:", list);
        break;
    case LayoutKind::NoData:
        PrintField("Data root:", "not found: no plug-in, .bsa file or data folder (Meshes, "
                                 "Textures, ...) in the archive; one must be chosen");
        PrintField("Candidates:", list);
        break;
    }
}

std::string LayoutJson(const std::vector<std::string>& paths) {
    using qvr::sources::LayoutKind;
    const qvr::sources::Layout layout = qvr::sources::FindLayout(paths);
    switch (layout.Kind) {
    case LayoutKind::Root: {
        std::vector<std::string> leftOut;
        for (size_t k : qvr::sources::PlaceFromRoot(paths, layout.Root).LeftOut)
            leftOut.push_back(paths[k]);
        return "{\"kind\": \"root\", \"root\": " + JsonString(layout.Root) +
               ", \"left_out\": " + JsonList(leftOut) + "}";
    }
    case LayoutKind::Options: {
        std::string options;
        for (const qvr::sources::Option& o : layout.Options)
            options += (options.empty() ? "" : ", ") + std::string("{\"label\": ") +
                       JsonString(o.Label) + ", \"name\": " + JsonString(o.Name) +
                       ", \"root\": " + JsonString(o.Root) + "}";
        std::vector<std::string> leftOut;
        for (size_t k : LeftOutOfEveryOption(paths, layout))
            leftOut.push_back(paths[k]);
        // The first option is the default.
        return "{\"kind\": \"options\", \"root\": " + JsonString(layout.Root) +
               ", \"root_holds_data\": " + (layout.RootHoldsData ? "true" : "false") +
               ", \"options\": [" + options + "], \"left_out\": " + JsonList(leftOut) + "}";
    }
    case LayoutKind::SeveralRoots:
        return "{\"kind\": \"several_roots\", \"candidates\": " + JsonList(layout.Candidates) + "}";
    case LayoutKind::NoData:
        break;
    }
    return "{\"kind\": \"no_data\", \"candidates\": " + JsonList(layout.Candidates) + "}";
}

std::string PackageLayoutJson(const std::string& path) {
    qvr::sources::Opened opened = qvr::sources::Open(path);
    if (!opened.Outcome)
        return "null";
    std::vector<std::string> paths;
    for (const qvr::sources::Member& m : opened.Archive->Members())
        paths.push_back(m.Path);
    return LayoutJson(paths);
}

namespace {

void PrintSourceInfoJson(const qvr::sources::Source& source, const std::string& path) {
    std::vector<std::string> paths;
    for (const qvr::sources::Member& m : source.Members())
        paths.push_back(m.Path);
    std::string refused;
    for (const qvr::sources::Refusal& r : source.Refused())
        refused += (refused.empty() ? "" : ", ") + std::string("{\"path\": ") + JsonString(r.Path) +
                   ", \"why\": " + JsonString(r.Why) + "}";
    std::cout << "{\n  \"archive\": " << JsonString(path)
              << ",\n  \"kind\": " << JsonString(source.Kind())
              << ",\n  \"files\": " << paths.size() << ",\n  \"refused\": [" << refused
              << "],\n  \"layout\": " << LayoutJson(paths) << "\n}\n";
}

} // namespace

int InfoSource(const ParsedArgs& a, const Context&, const std::string& path) {
    const auto source = OpenSource(path);
    if (a.Has("json")) {
        PrintSourceInfoJson(*source, path);
        return source->Refused().empty() ? kOk : kSomeFailed;
    }
    PrintField("Archive:", source->Kind());
    PrintField("Files:", std::to_string(source->Members().size()));
    if (!source->Refused().empty())
        PrintField("Refused:", std::to_string(source->Refused().size()) + " (see below)");
    std::vector<std::string> paths;
    for (const qvr::sources::Member& m : source->Members())
        paths.push_back(m.Path);
    PrintLayout(paths);
    return SayRefused(*source, path) ? kSomeFailed : kOk;
}

void PrintPackageLayout(const std::string& path) {
    qvr::sources::Opened opened = qvr::sources::Open(path);
    if (!opened.Outcome)
        return;
    std::vector<std::string> paths;
    for (const qvr::sources::Member& m : opened.Archive->Members())
        paths.push_back(m.Path);
    PrintLayout(paths);
}

int VerifySource(const ParsedArgs&, const Context& ctx, const std::string& path) {
    const auto source = OpenSource(path);
    std::vector<std::string> problems;
    for (const qvr::sources::Refusal& r : source->Refused())
        problems.push_back(r.Path + ": refused: " + r.Why);
    // Every member is written out, checked and deleted again at once.
    SpoolFolder spool;
    std::vector<qvr::sources::Job> jobs;
    for (size_t k = 0; k < source->Members().size(); ++k)
        jobs.push_back({k, spool.PathOf("member-" + std::to_string(k)), false, {}});
    int64_t bytes = 0;
    qvr::Result outcome;
    {
        ProgressBar bar(ctx.ProgressWanted(), "Checking", jobs.size());
        size_t done = 0;
        outcome = source->Extract(jobs, [&](const qvr::sources::Done& d) {
            bar.Update(++done, source->Members()[jobs[d.Job].Member].Path);
            if (d.Outcome) {
                bytes += d.Size;
                std::error_code ec;
                fs::remove(Native(jobs[d.Job].Destination), ec);
            } else {
                problems.push_back(d.Outcome.Message);
            }
            return true;
        });
    }
    if (!outcome)
        problems.push_back(outcome.Message);
    for (const std::string& p : problems)
        std::cout << Printable(path) << ": " << Printable(p) << "\n";
    if (!problems.empty()) {
        std::cout << Printable(path) << ": "
                  << Plural(static_cast<int>(problems.size()), "problem", "problems") << " found\n";
        return kSomeFailed;
    }
    if (!ctx.Quiet)
        std::cout << Printable(path) << ": OK, "
                  << Plural(static_cast<int>(jobs.size()), "file", "files") << ", " << bytes
                  << " bytes (" << source->Kind() << ")\n";
    return kOk;
}

} // namespace qvrtool
