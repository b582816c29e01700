// remove and set-info: changing an archive in place.

#include "Command.h"

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
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <sstream>

namespace qvrtool {

int CmdRemove(const ParsedArgs& a, const Context& ctx) {
    NeedOperands(a, 2, SIZE_MAX, "qvr remove ARCHIVE PATH...");
    const std::string path = a.Operands[0];
    qvr::Archives arc;
    OpenToChange(arc, path);
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
            const bool hit = SameText(qvr::EntryDisplayPath(e), wanted) ||
                             folder == Lower(wanted) || folder.starts_with(Lower(wanted) + "\\");
            if (!hit)
                continue;
            if (arc.IsInfoEntry(e)) {
                if (SameText(qvr::EntryDisplayPath(e), wanted)) {
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
            Warn(path + ": holds no file or folder " + DisplayPath(wanted));
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
                  << Printable(path) << "\n";
    return code;
}

int CmdSetInfo(const ParsedArgs& a, const Context& ctx) {
    NeedOperands(a, 1, 1, "qvr set-info ARCHIVE [--name N] [--version V] ...");
    const std::string path = a.Operands[0];
    constexpr const char* kFields[] = {"name",    "version", "last-updated",
                                       "authors", "depends", "notes-file"};
    size_t given = 0;
    for (const char* o : kFields)
        given += a.Has(o) ? 1 : 0;
    if (given == 0)
        throw UsageError("nothing to change: give at least one of --name, --version, "
                         "--last-updated, --authors, --depends, --notes-file");
    // A reproducible build that set SOURCE_DATE_EPOCH wrongly is told so by every writer.
    (void)PackingDates();
    qvr::Archives arc;
    OpenToChange(arc, path);
    const std::string name = qvr::GetFileNameFromPath(path);
    qvr::sgPlugInfo info;
    const qvr::Result read = info.GetPluginData(arc, name);
    const std::string why = read.Message;
    const bool hadEntry = HasInfoEntry(arc);
    // Information that is there but cannot be read would be lost with the fields not given.
    const bool heldSome = hadEntry || std::any_of(arc.ArchiveFiles.begin(), arc.ArchiveFiles.end(),
                                                  [](const qvr::sgFileInfo& e) {
                                                      return qvr::Archives::LooksLikeInfoEntry(e);
                                                  });
    if (!read && heldSome && given < std::size(kFields))
        throw CommandError{kSomeFailed,
                           path + ": its plug-in information cannot be read (" + why +
                               "); nothing was changed. Give every field (--name, --version, "
                               "--last-updated, --authors, --depends, --notes-file) to write "
                               "it anew"};
    const qvr::sgPlugInfo before = info;
    ApplyInfoOptions(a, info);
    if (read && info == before) {
        if (!ctx.Quiet)
            std::cout << "Nothing changed: the plug-in information of " << Printable(path)
                      << " already says that\n";
        return kOk;
    }
    if (const qvr::Result written = info.UpdatePluginData(arc, name); !written)
        throw CommandError{kSomeFailed,
                           path + ": the plug-in information could not be written" +
                               (written.Message.empty() ? "" : ": " + written.Message) +
                               "; the archive was left as it was"};
    // Told once it is done, so that nothing is announced that did not happen.
    if (!read && !ctx.Quiet) {
        if (heldSome)
            Warn(path + ": its plug-in information cannot be read (" + why +
                 "); it was written anew from the fields given");
        else
            Warn(path + ": had no plug-in information entry; a new one was written");
    }
    if (!ctx.Quiet)
        std::cout << "Updated the plug-in information of " << Printable(path) << "\n";
    return kOk;
}

} // namespace qvrtool
