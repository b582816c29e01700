// Replacing entries by files, as one change: the new blocks are packed into a work archive
// beside the package, then the package is rewritten once from the entries it keeps and those
// blocks, and put in place by one rename. Until then the package is as it was.

#include "qvr/format/PathRules.h"
#include "qvr/package/BatchAdd.h"
#include "qvr/package/detail/Internal.h"
#include "qvr/platform/Encoding.h"
#include "qvr/platform/TempFile.h"
#include "qvr/platform/detail/ArchiveError.h"

#include <set>

namespace qvr {

namespace {

std::string Key(const std::string& folder, const std::string& name) {
    return LowerText(folder) + "\\" + LowerText(name);
}

// Every file reported as not added, the package being as it was; told to progress as well
// when the files had not been reported yet.
Result Refuse(std::vector<BatchResult>& results, const std::string& archive, const std::string& why,
              const BatchProgress& progress, bool reported) {
    for (size_t i = 0; i < results.size(); ++i) {
        BatchResult& r = results[i];
        if (r.Added || r.Message.empty()) { // else refused for a reason of its own
            r.Added = false;
            r.ArchiveFailed = true;
            r.Bytes = 0;
            r.Message = ShownEntryPath(r.File.FilePath, r.File.FileName) +
                        ": could not be added to " + archive + ": " + why;
        }
        if (!reported && progress)
            progress(r, i + 1, results.size());
    }
    return Result::Unusable(why);
}

// Messages name the package, not the work archive the files went into first.
void NamePackage(std::string& message, const std::string& scratch, const std::string& archive) {
    for (size_t at = message.find(scratch); at != std::string::npos;
         at = message.find(scratch, at + archive.size()))
        message.replace(at, scratch.size(), archive);
}

} // namespace

Result ReplaceFilesInArchive(Archives& arc, const std::vector<BatchFile>& files,
                             std::vector<BatchResult>& results, const BatchOptions& options,
                             const BatchProgress& progress) {
    results.assign(files.size(), {});
    for (size_t i = 0; i < files.size(); ++i)
        results[i].File = files[i];
    if (files.empty())
        return Result::Success();
    const std::string archive = arc.CurrentArchive;
    if (arc.ZipLoaded || !arc.IsQvrArchive(archive))
        return Refuse(results, archive.empty() ? "a closed archive" : archive,
                      "files cannot be added to it", progress, false);
    bool reported = false;
    try {
        // Locked from here to the rename, so that no other change comes in between.
        int64_t length = 0;
        std::shared_ptr<RandomAccessFile> held =
            detail::ArchivesAccess::LockForRebuild(arc, length);
        TempFile scratchFile;
        ThrowOnFailure(TempFile::Beside(archive, scratchFile));
        Archives scratch;
        scratch.TempFolder = arc.TempFolder;
        if (const Result made = scratch.CreateArchive(scratchFile.Path()); !made)
            return Refuse(results, archive, made.Message, progress, false);
        reported = true;
        const std::string& work = scratchFile.Path();
        results = AddFilesToArchive(scratch, files, options,
                                    [&](const BatchResult& r, size_t done, size_t count) {
                                        if (!progress)
                                            return;
                                        BatchResult shown = r;
                                        NamePackage(shown.Message, work, archive);
                                        progress(shown, done, count);
                                    });
        for (BatchResult& r : results)
            NamePackage(r.Message, work, archive);

        std::set<std::string> replaced;
        std::vector<detail::StoredBlock> added;
        for (const sgFileInfo& e : scratch.ArchiveFiles) {
            replaced.insert(Key(e.FilePath(), e.FileName()));
            added.push_back({e, scratchFile.Path()});
        }
        if (added.empty())
            return Result::Success(); // nothing went in: the package stays untouched
        std::vector<bool> keep(arc.ArchiveFiles.size(), true);
        for (size_t i = 0; i < keep.size(); ++i)
            keep[i] = !replaced.count(
                Key(arc.ArchiveFiles[i].FilePath(), arc.ArchiveFiles[i].FileName()));
        detail::ArchivesAccess::RebuildLocked(arc, *held, length, keep, added);
        return Result::Success();
    } catch (const std::exception& e) {
        return Refuse(results, archive, e.what(), progress, reported);
    }
}

} // namespace qvr
