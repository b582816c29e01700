// Storing and fetching the information entry of the open archive: the record's own layout is
// in sgPlugInfo.cpp, below the archive operations this needs.
#include "qvr/format/sgPlugInfo.h"

#include "qvr/format/detail/Format.h"
#include "qvr/package/Archives.h"
#include "qvr/package/detail/Internal.h"
#include "qvr/platform/Encoding.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/detail/ArchiveError.h"
#include "qvr/platform/detail/RandomAccessFile.h"
#include "qvr/platform/detail/platform.h"

namespace qvr {

namespace {

Result WriteWorkFile(const std::string& path, const std::string& bytes) {
    try {
        RandomAccessFile file(path, RandomAccessFile::Mode::CreateReadWrite);
        file.WriteAt(1, bytes.data(), bytes.size());
        return Result::Success();
    } catch (const std::exception& e) {
        return Result::Unusable(e.what());
    }
}

} // namespace

// Writes the record to a work file and hands it to the archive, appended or in place of
// the old info entry; the work file goes in every case.
static Result StoreRecord(const sgPlugInfo& info, Archives& arc, const std::string& arcName,
                          bool replace) {
    std::string record;
    if (Result stored = info.ToRecord(record); !stored)
        return stored;
    const Archives::WorkFile work = arc.NewWorkFile(arcName + ".ifo");
    if (!work.Outcome)
        return work.Outcome;
    // A package renamed after packing holds its details under its old name: that entry goes
    // in the same rewrite that writes the new one, so the package always holds one of them.
    const std::string oldName = replace ? arc.InfoEntryName() : std::string();
    Result outcome = WriteWorkFile(work.Path, record);
    if (outcome)
        outcome = replace ? detail::ArchivesAccess::ReplaceEntry(arc, work.Path, arcName + ".ifo",
                                                                 "", oldName)
                          : arc.AddFileToArchive(work.Path, arcName + ".ifo", "");
    DeleteFileQuiet(work.Path);
    return outcome;
}

Result sgPlugInfo::SavePluginData(Archives& arc, const std::string& arcName) const {
    return StoreRecord(*this, arc, arcName, false);
}

Result sgPlugInfo::UpdatePluginData(Archives& arc, const std::string& arcName) const {
    return StoreRecord(*this, arc, arcName, true);
}

Result sgPlugInfo::GetPluginData(Archives& arc, const std::string& vFile) {
#ifdef _WIN32
    // A caller may hand over the archive's path as typed, "/" included, which no Windows file
    // name can hold: only its last part names the entry.
    const std::string name = platform::FileNamePart(vFile) + ".ifo";
#else
    const std::string name = vFile + ".ifo";
#endif
    const auto find = [&arc](const std::string& wanted) -> const sgFileInfo* {
        for (const sgFileInfo& e : arc.ArchiveFiles)
            if (e.FilePath().empty() && SameTextIgnoreCase(e.FileName(), wanted))
                return &e;
        return nullptr;
    };
    const sgFileInfo* entry = find(name);
    // Asked for the open archive's own details: a renamed package's entry counts as well.
    if (!entry && SameTextIgnoreCase(name, platform::FileNamePart(arc.CurrentArchive) + ".ifo"))
        entry = find(arc.InfoEntryName());
    if (!entry) {
        const std::string problem = arc.InfoEntryProblem();
        return Result::EntryFailure(!problem.empty() ? problem
                                                     : "The archive " + arc.CurrentArchive +
                                                           " holds no information entry " + name);
    }
    if (entry->FileSize() > format::kMaxInfoEntry)
        return Result::EntryFailure("The information entry " + name + " is too large");
    const Archives::WorkFile work = arc.NewWorkFile(name);
    if (!work.Outcome)
        return work.Outcome;
    Result outcome = arc.ExtractEntry(*entry, work.Path, true);
    if (outcome) {
        try {
            RandomAccessFile file(work.Path, RandomAccessFile::Mode::Read);
            const int64_t length = file.Length();
            if (length > format::kMaxInfoEntry)
                throw ArchiveError("The information entry " + name + " is too large");
            std::string buffer(static_cast<size_t>(length), '\0');
            buffer.resize(file.ReadAt(1, buffer.data(), buffer.size()));
            sgPlugInfo read;
            read.FromRecord(buffer);
            *this = read;
        } catch (const std::exception& e) {
            outcome = Result::EntryFailure(e.what());
        }
    }
    DeleteFileQuiet(work.Path);
    return outcome;
}

} // namespace qvr
