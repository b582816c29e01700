// Replacing entries by files: appending, then dropping what was replaced in one rebuild.

#include "qvr/package/BatchAdd.h"
#include "qvr/platform/Encoding.h"

#include <set>

namespace qvr {

namespace {

std::string Key(const std::string& folder, const std::string& name) {
    return LowerText(folder) + "\\" + LowerText(name);
}

} // namespace

Result ReplaceFilesInArchive(Archives& arc, const std::vector<BatchFile>& files,
                             std::vector<BatchResult>& results, const BatchOptions& options,
                             const BatchProgress& progress) {
    const size_t before = arc.ArchiveFiles.size();
    results = AddFilesToArchive(arc, files, options, progress);
    std::set<std::string> replaced;
    for (const BatchResult& r : results)
        if (r.Added)
            replaced.insert(Key(r.File.FilePath, r.File.FileName));
    std::vector<size_t> drop;
    for (size_t i = 0; i < before && i < arc.ArchiveFiles.size(); ++i) {
        const sgFileInfo& e = arc.ArchiveFiles[i];
        if (replaced.count(Key(e.FilePath(), e.FileName())))
            drop.push_back(i);
    }
    if (drop.empty())
        return Result::Success();
    return arc.RemoveEntries(drop);
}

} // namespace qvr
