// check, the whole setup of a data folder or of OpenMW as the game will load it; and the
// headers of a package's plug-ins, for info.

#include "Command.h"
#include "ListFormat.h"
#include "Places.h"

#include "qvr/games/OpenMWConfig.h"
#include "qvr/games/PluginHeader.h"
#include "qvr/games/SetupCheck.h"
#include "qvr/platform/HostEnvironment.h"

#include <iostream>

namespace qvrtool {

namespace {

const char* ProblemName(qvr::MasterProblem::Kind k) {
    switch (k) {
    case qvr::MasterProblem::Kind::Missing:
        return "missing";
    case qvr::MasterProblem::Kind::NotEnabled:
        return "not-enabled";
    case qvr::MasterProblem::Kind::LoadsAfter:
        return "loads-after";
    case qvr::MasterProblem::Kind::Itself:
        return "itself";
    }
    return "";
}

const char* ProblemName(qvr::ListProblem::Kind k) {
    switch (k) {
    case qvr::ListProblem::Kind::Missing:
        return "missing";
    case qvr::ListProblem::Kind::LetterCase:
        return "letter-case";
    case qvr::ListProblem::Kind::Gap:
        return "gap";
    }
    return "";
}

// Each finding one object on a line of its own, so that scripts can also read it line by line.
template <class T, class F>
void JsonSection(const char* name, const std::vector<T>& items, F object) {
    std::cout << "  \"" << name << "\": [";
    for (size_t i = 0; i < items.size(); ++i)
        std::cout << (i ? ",\n    " : "\n    ") << object(items[i]);
    std::cout << (items.empty() ? "],\n" : "\n  ],\n");
}

void PrintJson(const qvr::SetupReport& r, const std::string& engine) {
    std::cout << "{\n  \"target\": " << JsonString(r.Target) << ",\n  \"engine\": \"" << engine
              << "\",\n  \"list_file\": " << JsonString(r.ListFile)
              << ",\n  \"load_order\": " << JsonList(r.LoadOrder) << ",\n";
    JsonSection("conflicts", r.Conflicts, [](const qvr::FileConflict& c) {
        return "{\"path\": " + JsonString(c.Path) + ", \"installs\": " + JsonList(c.Installs) +
               ", \"in_place\": " + JsonString(c.InPlace) + "}";
    });
    JsonSection("masters", r.Masters, [](const qvr::MasterProblem& p) {
        return "{\"plugin\": " + JsonString(p.Plugin) + ", \"master\": " + JsonString(p.Master) +
               ", \"problem\": \"" + ProblemName(p.What) + "\"}";
    });
    JsonSection("lists", r.Lists, [](const qvr::ListProblem& p) {
        return "{\"entry\": " + JsonString(p.Entry) + ", \"file\": " + JsonString(p.File) +
               ", \"problem\": \"" + ProblemName(p.What) +
               "\", \"on_disk\": " + JsonString(p.OnDisk) + "}";
    });
    JsonSection("changed", r.Changed, [](const qvr::ChangedFile& c) {
        return "{\"install\": " + JsonString(c.Install) + ", \"path\": " + JsonString(c.Path) +
               ", \"problem\": \"" + (c.Missing ? "deleted" : "changed") + "\"}";
    });
    JsonSection("unreadable", r.Unreadable, [](const std::string& s) { return JsonString(s); });
    JsonSection("interrupted", r.Interrupted, [](const std::string& s) { return JsonString(s); });
    std::cout << "  \"problems\": " << r.Problems() << "\n}\n";
}

void PrintMasters(const qvr::SetupReport& r) {
    if (!r.Masters.empty())
        std::cout << "Masters:\n";
    for (const qvr::MasterProblem& p : r.Masters) {
        std::cout << "  " << Printable(p.Plugin) << " needs " << Printable(p.Master);
        switch (p.What) {
        case qvr::MasterProblem::Kind::Missing:
            std::cout << ", which is not there\n";
            break;
        case qvr::MasterProblem::Kind::NotEnabled:
            std::cout << ", which is there but not enabled\n";
            break;
        case qvr::MasterProblem::Kind::LoadsAfter:
            std::cout << ", which loads after it\n";
            break;
        case qvr::MasterProblem::Kind::Itself:
            std::cout << ": it names itself as its master, which no load order satisfies\n";
            break;
        }
    }
}

void PrintText(const qvr::SetupReport& r, const Context& ctx) {
    if (ctx.Verbose && !r.LoadOrder.empty())
        std::cout << "Load order: " << PrintableList(r.LoadOrder) << "\n";
    if (!r.Conflicts.empty())
        std::cout << "Files written by more than one install:\n";
    for (const qvr::FileConflict& c : r.Conflicts)
        std::cout << "  " << Printable(DisplayPath(c.Path)) << ": " << PrintableList(c.Installs)
                  << "; "
                  << (c.InPlace.empty() ? "none of their copies is in place"
                                        : Printable(c.InPlace) + "'s copy is in place")
                  << "\n";
    PrintMasters(r);
    if (!r.Lists.empty())
        std::cout << "In " << Printable(r.ListFile) << ":\n";
    for (const qvr::ListProblem& p : r.Lists) {
        if (p.What == qvr::ListProblem::Kind::Gap)
            std::cout << "  " << p.Entry << " is missing: the game reads nothing after it\n";
        else
            std::cout << "  " << Printable(p.Entry) << "=" << Printable(p.File)
                      << (p.What == qvr::ListProblem::Kind::Missing
                              ? ": no such file"
                              : ": the file is " + Printable(p.OnDisk) + " (letter case differs)")
                      << "\n";
    }
    if (!r.Changed.empty())
        std::cout << "Changed since installed:\n";
    for (const qvr::ChangedFile& c : r.Changed)
        std::cout << "  " << Printable(DisplayPath(c.Path)) << " (" << Printable(c.Install)
                  << (c.Missing ? "): deleted\n" : "): changed\n");
    if (!r.Unreadable.empty())
        std::cout << "Cannot be read:\n";
    for (const std::string& u : r.Unreadable)
        std::cout << "  " << Printable(u) << "\n";
    if (!r.Interrupted.empty())
        std::cout << "Cut short (the next install or removal here takes it back or ends it):\n";
    for (const std::string& i : r.Interrupted)
        std::cout << "  " << Printable(i) << "\n";
    if (r.Problems())
        std::cout << Plural(static_cast<int>(r.Problems()), "problem", "problems") << " found in "
                  << Printable(r.Target) << "\n";
    else if (!ctx.Quiet)
        std::cout << "No problems found in " << Printable(r.Target)
                  << (r.ListFile.empty() ? " (no Morrowind.ini beside it: every plug-in counted)"
                                         : "")
                  << "\n";
}

} // namespace

void PrintPluginHeaders(const qvr::Archives& arc) {
    for (const qvr::sgFileInfo& e : arc.ArchiveFiles) {
        if (arc.IsInfoEntry(e) || !qvr::IsPluginFileName(e.FileName()))
            continue;
        PrintField("Plug-in:", DisplayPath(e));
        qvr::PluginHeader h;
        if (const qvr::Result read = qvr::ReadPluginHeader(arc, e, h); !read) {
            PrintField("  Header:", "cannot be read: " + read.Message);
            continue;
        }
        PrintField("  Master file:", h.IsMaster ? "yes" : "no");
        PrintField("  Author:", h.Author);
        PrintField("  Description:", h.Description);
        std::string masters;
        for (const qvr::PluginMaster& m : h.Masters)
            masters += (masters.empty() ? "" : "\n") + m.Name;
        PrintField("  Masters:", masters.empty() ? "none" : masters);
    }
}

std::string PluginHeadersJson(const qvr::Archives& arc) {
    std::string out;
    for (const qvr::sgFileInfo& e : arc.ArchiveFiles) {
        if (arc.IsInfoEntry(e) || !qvr::IsPluginFileName(e.FileName()))
            continue;
        out +=
            (out.empty() ? "[\n    {\"path\": " : ",\n    {\"path\": ") + JsonString(SlashPath(e));
        qvr::PluginHeader h;
        if (const qvr::Result read = qvr::ReadPluginHeader(arc, e, h); !read) {
            out += ", \"error\": " + JsonString(read.Message) + "}";
            continue;
        }
        std::vector<std::string> masters;
        for (const qvr::PluginMaster& m : h.Masters)
            masters.push_back(m.Name);
        out += std::string(", \"master_file\": ") + (h.IsMaster ? "true" : "false") +
               ", \"author\": " + JsonString(h.Author) +
               ", \"description\": " + JsonString(h.Description) +
               ", \"masters\": " + JsonList(masters) + "}";
    }
    return out.empty() ? "[]" : out + "\n  ]";
}

int CmdCheck(const ParsedArgs& a, const Context& ctx) {
    NeedOperands(a, 0, 1, "qvr check [DATA_FOLDER] [--openmw] [--json]");
    const bool openmw = a.Has("openmw");
    const std::string operand = a.Operands.empty() ? "" : a.Operands[0];
    qvr::SetupReport report;
    if (openmw) {
        const std::string cfg =
            !operand.empty()
                ? operand
                : Utf8(Native(qvr::openmw::UserConfigFolder(qvr::CurrentHostEnvironment())) /
                       "openmw.cfg");
        report = qvr::CheckOpenMW(cfg);
        if (report.ListFile.empty())
            throw CommandError{kUsage, cfg + ": cannot be read; name OpenMW's openmw.cfg"};
    } else {
        report = qvr::CheckDataFolder(ChooseDataFolder(operand, ctx, "qvr check DATA_FOLDER"));
    }
    if (a.Has("json"))
        PrintJson(report, openmw ? "openmw" : "morrowind");
    else
        PrintText(report, ctx);
    return report.Problems() ? kSomeFailed : kOk;
}

} // namespace qvrtool
