#include "Tool.h"

#include "Command.h"
#include "StdStreams.h"

#include "qvr/Version.h"
#include "qvr/format/PathRules.h"
#include "qvr/install/Install.h"
#include "qvr/package/Archives.h"
#include "qvr/package/BatchAdd.h"
#include "qvr/package/Verify.h"
#include "qvr/platform/Encoding.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/sources/Source.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

namespace fs = std::filesystem;

namespace qvrtool {
namespace {

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

// A pipe, socket or device named as the archive is refused before anything opens it: opening
// a pipe waits for a writer, for ever.
void RefuseSpecialFile(const std::string& operand) {
    std::error_code ec;
    const fs::file_status status = fs::status(Native(operand), ec);
    if (ec || status.type() == fs::file_type::not_found || fs::is_regular_file(status) ||
        fs::is_directory(status))
        return;
    throw CommandError{kUsage, operand + ": is not a regular file (a device, pipe or socket); "
                                         "it is left alone"};
}

// Reading an archive.
std::vector<Command> ReadingCommands() {
    return {
        {"list", "list the entries of an archive (.qvr, .zip, .7z, .rar, .tar)",
         std::string("usage: qvr list ARCHIVE [--json]\n\n"
                     "Lists every entry with its size, compressed size, dates and path.\n"
                     "Dates are in ISO 8601: the file's time in UTC (+0000), and the time it\n"
                     "was added as the packer's clock showed it (packages record no zone, so\n"
                     "none is shown). Zip, 7z, rar and tar archives are listed with size, time\n"
                     "and path; members refused (links, devices, paths that would leave the\n"
                     "data folder) are named on standard error (exit 1).\n"
                     "With -q, only the entries' lines (no header and no totals).\n\n"
                     "  --json               a JSON array, one object per entry with every\n"
                     "                       field (paths with \"/\" on every system)\n") +
             kCommonHelp,
         With({{"json", 0, false}}), CmdList},
        {"info", "show the plug-in information and notes",
         std::string(
             "usage: qvr info ARCHIVE [--json]\n\n"
             "Shows the plug-in's name, version, date, authors, requirements and notes,\n"
             "and where the game's data lies inside: the data root (below wrapper folders\n"
             "and Data Files), numbered options (\"00 Core\", \"01 Extra\"), or the folders\n"
             "that could each be the root when that is not clear. For a zip, 7z, rar or\n"
             "tar archive: its kind, its number of files and that layout.\n\n"
             "  --json               all of it as one JSON object, for scripts\n") +
             kCommonHelp,
         With({{"json", 0, false}}), CmdInfo},
    };
}

// Making and changing an archive.
std::vector<Command> PackingCommands() {
    return {
        {"create", "pack a folder, or convert an archive, into a new archive",
         std::string("usage: qvr create ARCHIVE [OPTIONS] FOLDER\n"
                     "       qvr create ARCHIVE [OPTIONS] [--root PATH | --options N,N] FROM\n\n"
                     "Packs FOLDER, laid out like the game's data folder, into a new archive:\n"
                     "its files and sub-folders become entries with their relative paths.\n"
                     "FROM, an archive (.zip, .7z, .rar, .tar, or a .qvr to repack), is\n"
                     "converted: the data root inside it (below wrapper folders and Data\n"
                     "Files) is packed, the rest left out and named; numbered options and\n"
                     "unclear layouts are named, to be chosen with --options or --root.\n"
                     "The name defaults to the archive's file name, the version to 1.0 and\n"
                     "the date of the last update to today (a .qvr keeps its own details).\n"
                     "An empty --depends is filled with the masters the plug-ins name, and a\n"
                     "list naming fewer or others is warned about; so are files packed below\n"
                     "a folder around the data, which no game would find.\n\n") +
             kInfoHelp +
             "  -f, --force          replace ARCHIVE when it exists\n"
             "  --best               smallest package: slower compression, same format\n"
             "  -j, --jobs N         compress on N threads (default: one per core)\n"
             "  --follow-links       also pack what links to places outside FOLDER point at\n"
             "                       (refused and named otherwise)\n"
             "  --root PATH          the folder of FROM to pack (. for its top)\n"
             "  --options N,N        the numbered options of FROM to pack (\"00 Core\": 00),\n"
             "                       exactly these, a later one's files over an earlier's\n" +
             kCommonHelp +
             "\nWith SOURCE_DATE_EPOCH set, its time (UTC) is used for every date the archive\n"
             "records apart from the files' own, so the same files give the same bytes.\n",
         InfoOptions({{"force", 'f', false},
                      {"jobs", 'j', true},
                      {"best", 0, false},
                      {"follow-links", 0, false},
                      {"root", 0, true},
                      {"options", 0, true}}),
         CmdCreate},
        {"add", "add files or folders to an archive",
         std::string("usage: qvr add ARCHIVE [--folder PATH] [--replace] FILE...\n\n"
                     "Adds each FILE below PATH in the archive (the top level by default);\n"
                     "a folder is added with everything in it, below its own name.\n"
                     "PATH is written Meshes\\x or Meshes/x.\n\n"
                     "  --folder PATH        the folder inside the archive\n"
                     "  -r, --replace        replace entries of the same name (in one rewrite)\n"
                     "  -j, --jobs N         compress on N threads (default: one per core)\n"
                     "  --best               smallest package: slower compression, same format\n"
                     "  --follow-links       also pack what links in a folder to places outside\n"
                     "                       it point at (refused and named otherwise)\n") +
             kCommonHelp,
         With({{"folder", 0, true},
               {"replace", 'r', false},
               {"jobs", 'j', true},
               {"best", 0, false},
               {"follow-links", 0, false}}),
         CmdAdd},
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
    };
}

// Installing into a data folder and taking it back.
std::vector<Command> InstallingCommands() {
    return {
        {"install", "install an archive's files into the game's data folder",
         std::string(
             "usage: qvr install ARCHIVE [DATA_FOLDER] [--overwrite | --skip-existing]\n"
             "       qvr install --openmw [--mods-folder FOLDER] ARCHIVE\n"
             "       qvr install ARCHIVE [--root PATH | --options N,N | --list-options] ...\n\n"
             "Writes every file of ARCHIVE below DATA_FOLDER, creating folders as needed.\n"
             "ARCHIVE is a .qvr package or an archive as downloaded (.zip, .7z, .rar,\n"
             ".tar.*); of the latter, the data root inside (below a wrapper folder or\n"
             "Data Files) is installed and the plug-in is named after the file. Numbered\n"
             "options (\"00 Core\", \"01 Extra\"): the lowest-numbered one and those\n"
             "--options names, a later one's files over an earlier's; for OpenMW each\n"
             "in a folder of its own with its own data= line, in number order. Where\n"
             "the data root is not clear, the folders that could be it are listed and\n"
             "--root chooses; so for a package whose files sit below a wrapper folder.\n"
             "Encrypted and multi-volume archives are refused.\n"
             "Without DATA_FOLDER, the folder QVRInstaller remembers is used, else the only\n"
             "one 'qvr where' finds. The install is recorded in DATA_FOLDER/.qvr-installed\n"
             "and every file it replaces is kept there, so that 'qvr uninstall' can put the\n"
             "folder back as it was. Installing the same archive again replaces its\n"
             "earlier install; an install of the same plug-in from another archive is\n"
             "taken back first only when you say so on a terminal (without one it stays).\n"
             "Entries that would leave the folder or name the programs' own files\n"
             "(.qvr-installed) are refused and named.\n"
             "For a file that already exists it asks on a terminal; with no terminal it\n"
             "keeps existing files and lists them. An existing file of 0 bytes is replaced.\n"
             "Answers to the question: y (overwrite), n (keep), A (overwrite this and every\n"
             "later file), N (keep this and every later file).\n\n"
             "  --overwrite          replace existing files without asking\n"
             "  --skip-existing      keep existing files without asking\n"
             "  --no-activate        leave Morrowind.ini alone (by default the plug-ins and\n"
             "                       .bsa files are listed in the one beside DATA_FOLDER)\n"
             "  --openmw             install for OpenMW: into a folder of its own below the\n"
             "                       mods folder, listed in openmw.cfg with its plug-ins\n"
             "  --mods-folder DIR    OpenMW's mods folder (default ~/.local/share/openmw/mods)\n"
             "  -j, --jobs N         inflate on N threads (default: one per core, at most 3)\n"
             "  --root PATH          the folder of ARCHIVE that holds the data (. for its top)\n"
             "  --options N,N        the numbered options to install besides the lowest\n"
             "  --list-options       show the data root and the options; install nothing\n") +
             kCommonHelp,
         With({{"root", 0, true},
               {"options", 0, true},
               {"list-options", 0, false},
               {"overwrite", 0, false},
               {"skip-existing", 0, false},
               {"no-activate", 0, false},
               {"openmw", 0, false},
               {"mods-folder", 0, true},
               {"jobs", 'j', true}}),
         CmdInstall},
        {"uninstall", "remove an archive's files from the game's data folder",
         std::string("usage: qvr uninstall ARCHIVE|PLUGIN_NAME [DATA_FOLDER] [--yes] [--dry-run]\n"
                     "       qvr uninstall --openmw [--mods-folder FOLDER] ARCHIVE|PLUGIN_NAME\n\n"
                     "Removes an installed plug-in, named by its archive or by the name its\n"
                     "install record holds (see 'qvr installed'); a renamed copy of the archive\n"
                     "finds the install of the same plug-in. A recorded install is taken\n"
                     "back: files still as it wrote them are deleted, files it replaced are\n"
                     "restored, files changed since are kept and named, and folders it created\n"
                     "go when empty. Without a record, a file is deleted only when it holds\n"
                     "exactly the archive's content. Asks first on a terminal; without one,\n"
                     "--yes is needed.\n\n"
                     "  -y, --yes            do not ask\n"
                     "  -n, --dry-run        show what would be removed, restored and kept\n"
                     "  --openmw             remove an OpenMW install: its folder and its lines\n"
                     "                       in openmw.cfg\n"
                     "  --mods-folder DIR    OpenMW's mods folder\n") +
             kCommonHelp,
         With({{"yes", 'y', false},
               {"dry-run", 'n', false},
               {"openmw", 0, false},
               {"mods-folder", 0, true}}),
         CmdUninstall},
        {"installed", "list the plug-ins installed into a data folder",
         std::string("usage: qvr installed [DATA_FOLDER] [--json]\n"
                     "       qvr installed --openmw [--mods-folder FOLDER] [--json]\n\n"
                     "Lists the plug-ins whose installs are recorded in DATA_FOLDER, or in\n"
                     "OpenMW's mods folder: name, version, number of files, date of the install\n"
                     "(UTC) and archive.\n\n"
                     "  --openmw             the installs for OpenMW\n"
                     "  --mods-folder DIR    OpenMW's mods folder\n"
                     "  --json               the installs as one JSON object, for scripts\n") +
             kCommonHelp,
         With({{"json", 0, false}, {"openmw", 0, false}, {"mods-folder", 0, true}}), CmdInstalled},
    };
}

// Finding and checking a setup, and checking an archive.
std::vector<Command> CheckingCommands() {
    return {
        {"where", "list the game's data folders found on this computer",
         std::string("usage: qvr where [--json]\n\n"
                     "Prints each Morrowind data folder found (one holding Morrowind.esm) once,\n"
                     "with every place it was found through: QVRInstaller's settings, Steam and\n"
                     "its libraries, Flatpak Steam, Heroic, Lutris and Wine prefixes, OpenMW's\n"
                     "openmw.cfg.\n\n"
                     "  --json               the folders as a JSON array, for scripts\n") +
             kCommonHelp,
         With({{"json", 0, false}}), CmdWhere},
        {"check", "check the installed plug-ins: conflicts, masters, load order",
         std::string(
             "usage: qvr check [DATA_FOLDER] [--json]\n"
             "       qvr check --openmw [OPENMW_CFG] [--json]\n\n"
             "Checks a setup as the game will load it and names every problem:\n"
             "  files written by more than one recorded install, and whose copy is in place;\n"
             "  masters missing, not enabled, or loading after a plug-in that needs them\n"
             "  (by Morrowind.ini's [Game Files] and the files' times, or by openmw.cfg's\n"
             "  content= lines with --openmw);\n"
             "  GameFileN=, \"Archive N=\" or content= entries whose file is missing or\n"
             "  differs in letter case, and gaps in the numbering;\n"
             "  recorded files changed or deleted since their install.\n"
             "Without DATA_FOLDER, the folder QVRInstaller remembers is used, else the only\n"
             "one 'qvr where' finds; Morrowind.ini is looked for in the folder above it.\n"
             "Exits with 1 when there is a problem.\n\n"
             "  --openmw             check OpenMW's openmw.cfg (default: the user's own)\n"
             "  --json               the findings as one JSON object, for scripts\n") +
             kCommonHelp,
         With({{"openmw", 0, false}, {"json", 0, false}}), CmdCheck},
        {"verify", "check an archive thoroughly",
         std::string("usage: qvr verify ARCHIVE\n\n"
                     "Checks the archive's layout and directory and decompresses every entry\n"
                     "against its recorded size. A zip, 7z, rar or tar archive has every member\n"
                     "read and checked against its size and the archive's own checksum.\n"
                     "Reports every problem; exits with 1 when there is one.\n\n") +
             kCommonHelp,
         With({}), CmdVerify},
    };
}

// In the order the help lists them.
std::vector<Command> Commands() {
    std::vector<Command> all;
    for (std::vector<Command> group :
         {ReadingCommands(), PackingCommands(), InstallingCommands(), CheckingCommands()})
        for (Command& c : group)
            all.push_back(std::move(c));
    return all;
}

std::string MainHelp() {
    std::string text = "usage: qvr [-q] [-v] [-j N] COMMAND [ARGS]\n\n"
                       "Packs, lists, installs and removes Morrowind plug-in archives (.qvr).\n"
                       "list, info, verify and install also read .zip, .7z, .rar and .tar\n";
    text += qvr::sources::ReadsOtherArchives()
                ? "archives.\n\nCommands:\n"
                : "in the Linux build; this Windows build reads .qvr packages and lists zip\n"
                  "files only.\n\nCommands:\n";
    for (const auto& c : Commands())
        text += "  " + PadRight(c.Name, 11) + c.Summary + "\n";
    text += "  " + PadRight("help", 11) + "describe qvr, or one command: qvr help COMMAND\n";
    text += "\n'qvr COMMAND --help' describes a command.\n"
            "ARCHIVE may be - : list, info, verify and install read the package from\n"
            "standard input, and create writes it to standard output.\n"
            "Exit status: 0 all done, 1 some entries failed or were refused, 2 usage error or\n"
            "unreadable archive.\n";
    return text;
}

// The file name of a package create writes to standard output, which also names its
// information entry (NAME.ifo) and by default the plug-in: the file standard output goes to,
// else the folder's name.
std::string PipedPackageName(const ParsedArgs& parsed, const Context& ctx) {
    if (std::string name = StdoutFileName(); !name.empty())
        return name;
    std::string name = "package.qvr";
    if (parsed.Operands.size() > 1) {
        std::error_code ec;
        const fs::path folder = fs::absolute(Native(parsed.Operands[1]), ec).lexically_normal();
        const fs::path last =
            folder.has_filename() ? folder.filename() : folder.parent_path().filename();
        if (!ec && !last.empty() && last != "." && last != "..")
            name = Utf8(last) + ".qvr";
    }
    if (!ctx.Quiet)
        Warn("note: standard output is not a file, so the package is named " + name +
             " after its folder; save it under that name, which its information entry carries");
    return name;
}

} // namespace

std::string NearestCommand(const std::string& typed, const std::vector<std::string>& names) {
    const std::string word = Lower(typed);
    std::string best;
    size_t bestDistance = 3; // a slip of at most two letters
    for (const std::string& name : names) {
        // Levenshtein distance, with a swap of two neighbours counted as one step.
        const size_t n = word.size(), m = name.size();
        std::vector<std::vector<size_t>> d(n + 1, std::vector<size_t>(m + 1));
        for (size_t i = 0; i <= n; ++i)
            d[i][0] = i;
        for (size_t j = 0; j <= m; ++j)
            d[0][j] = j;
        for (size_t i = 1; i <= n; ++i)
            for (size_t j = 1; j <= m; ++j) {
                d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                    d[i - 1][j - 1] + (word[i - 1] == name[j - 1] ? 0 : 1)});
                if (i > 1 && j > 1 && word[i - 1] == name[j - 2] && word[i - 2] == name[j - 1])
                    d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        // A short word is far from everything after two slips ("ls" is not "list").
        if (d[n][m] < bestDistance && d[n][m] * 3 <= std::max(n, m)) {
            bestDistance = d[n][m];
            best = name;
        }
    }
    return best;
}

// A few lines rather than the whole help: the command meant, when a slip away.
static int SayUnknown(const std::string& name, const std::vector<Command>& commands) {
    std::cerr << "qvr: unknown command '" << Printable(name) << "'\n";
    std::vector<std::string> names = {"help"};
    for (const Command& c : commands)
        names.push_back(c.Name);
    if (const std::string near = NearestCommand(name, names); !near.empty())
        std::cerr << "Did you mean 'qvr " << near << "'?\n";
    std::cerr << "'qvr --help' lists the commands.\n";
    return kUsage;
}

// The options that may stand before the command; they apply to it as well.
const std::vector<OptionSpec> kGlobal = {{"help", 'h', false},
                                         {"version", 0, false},
                                         {"quiet", 'q', false},
                                         {"verbose", 'v', false},
                                         {"jobs", 'j', true}};

// Runs the command on a work copy of the package (the spool's), its failure naming what the
// player gave: the copy is gone when the command ends.
static int RunShownAs(const Command& command, ParsedArgs& parsed, Context& ctx,
                      const std::string& shown) {
    try {
        return command.Run(parsed, ctx);
    } catch (CommandError& e) {
        for (size_t at; (at = e.Message.find(parsed.Operands[0])) != std::string::npos;)
            e.Message.replace(at, parsed.Operands[0].size(), shown);
        throw;
    }
}

static int RunCommand(const std::vector<std::string>& args) {
    Context ctx;
    std::vector<std::string> rest;
    try {
        const ParsedArgs global = ParseArgs(args, kGlobal, true);
        if (global.Has("help")) {
            std::cout << MainHelp();
            return kOk;
        }
        if (global.Has("version")) {
            std::cout << "qvr " << qvr::kVersion << "\n";
            return kOk;
        }
        ctx.Quiet = global.Has("quiet");
        ctx.Verbose = global.Has("verbose");
        if (global.Has("jobs"))
            ctx.Jobs = ParseJobs(global.Value("jobs"));
        rest = global.Operands;
    } catch (const UsageError& e) {
        std::cerr << "qvr: " << e.what() << "\n\n" << MainHelp();
        return kUsage;
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
        if (rest[0] == "--help" || rest[0] == "-h") {
            std::cout << "usage: qvr help [COMMAND]\n\nDescribes qvr, or one command as 'qvr "
                         "COMMAND --help' does.\n";
            return kOk;
        }
        name = rest[0];
        rest = {"--help"};
    }
    const auto commands = Commands();
    auto it = std::find_if(commands.begin(), commands.end(),
                           [&](const Command& c) { return c.Name == name; });
    if (it == commands.end())
        return SayUnknown(name, commands);
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
        // "-" as the archive: read from standard input, or for create written to standard
        // output (which then holds the package alone; what create says goes to standard error).
        SpoolFolder spool;
        const bool piped = !parsed.Operands.empty() && parsed.Operands[0] == "-";
        if (piped && name == "create") {
            const std::string archiveName = PipedPackageName(parsed, ctx);
            ctx.Output = qvr::StandardOutputFile();
            parsed.Operands[0] = spool.PathOf(archiveName);
            const std::string shown = archiveName + " (standard output)";
            RenamedOnStderr toStderr(parsed.Operands[0], shown);
            const int code = RunShownAs(*it, parsed, ctx, shown);
            CopyToStdout(parsed.Operands[0]);
            toStderr.Release();
            return code;
        }
        if (piped && (name == "list" || name == "info" || name == "verify" || name == "install")) {
            // The spool's copy is gone when the command ends: messages name what was read.
            parsed.Operands[0] = ArchiveOperand("-", spool);
            return RunShownAs(*it, parsed, ctx,
                              qvr::GetFileNameFromPath(parsed.Operands[0]) + " (standard input)");
        } else if (!piped && !parsed.Operands.empty() && name != "installed" && name != "where")
            RefuseSpecialFile(parsed.Operands[0]);
        return it->Run(parsed, ctx);
    } catch (const UsageError& e) {
        std::cerr << "qvr " << Printable(name) << ": " << Printable(e.what()) << "\n(see 'qvr "
                  << Printable(name) << " --help')\n";
        return kUsage;
    } catch (const CommandError& e) {
        if (!e.Message.empty())
            std::cerr << "qvr: " << Printable(e.Message) << "\n";
        return e.Code;
    } catch (const std::exception& e) {
        std::cerr << "qvr " << Printable(name) << ": " << Printable(e.what()) << "\n";
        return kUsage;
    }
}

int Run(const std::vector<std::string>& args) {
    const int code = RunCommand(args);
    // Output lost on a full disk or a closed pipe is a failure, not a listing that looked fine.
    errno = 0;
    std::cout.flush();
    const bool lost = !std::cout || std::fflush(stdout) != 0 || std::ferror(stdout);
    if (lost) {
        const int err = errno;
        if (err == EPIPE || code == kBrokenPipe)
            return kBrokenPipe;
        std::cerr << "qvr: cannot write to standard output"
                  << (err ? ": " + std::string(std::strerror(err)) : std::string()) << "\n";
        return kUsage;
    }
    return code;
}

int ReportBrokenPipe() {
    std::cerr << "qvr: cannot write to standard output: " << std::strerror(EPIPE) << "\n";
    return kUsage;
}

} // namespace qvrtool
