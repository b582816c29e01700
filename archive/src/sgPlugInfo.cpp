#include "qvr/sgPlugInfo.h"

#include "Internal.h"
#include "platform.h"
#include "qvr/ArchiveError.h"
#include "qvr/Archives.h"
#include "qvr/Encoding.h"
#include "qvr/FileUtils.h"
#include "qvr/RandomAccessFile.h"

namespace qvr {

namespace {

// The information is a handful of texts; anything larger is not an info entry.
constexpr int64_t kMaxRecord = 16 * 1024 * 1024;

std::string Stored(const std::string& text, const char* field) {
    auto bytes = Utf8ToCp1252(text);
    if (!bytes)
        throw ArchiveError("The " + std::string(field) +
                           " field holds a character that cannot be stored in an archive");
    if (bytes->find('\0') != std::string::npos)
        throw ArchiveError("The " + std::string(field) + " field holds a NUL character");
    return *bytes;
}

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

std::string sgPlugInfo::NullTerminate(const std::string& vText) {
    return vText + '\0';
}

std::string sgPlugInfo::ToRecord() const {
    return NullTerminate(Stored(m_PluginName, "plug-in name")) +
           NullTerminate(Stored(m_Version, "version")) +
           NullTerminate(Stored(m_Depends, "required modules")) +
           NullTerminate(Stored(m_Authors, "authors")) +
           NullTerminate(Stored(m_LastUpdated, "last-updated date")) +
           NullTerminate(Stored(m_Notes, "notes"));
}

void sgPlugInfo::FromRecord(std::string vBuffer) {
    m_PluginName = Cp1252ToUtf8(GetToNull(vBuffer));
    m_Version = Cp1252ToUtf8(GetToNull(vBuffer));
    m_Depends = Cp1252ToUtf8(GetToNull(vBuffer));
    m_Authors = Cp1252ToUtf8(GetToNull(vBuffer));
    m_LastUpdated = Cp1252ToUtf8(GetToNull(vBuffer));
    m_Notes = Cp1252ToUtf8(GetToNull(vBuffer));
}

std::string sgPlugInfo::GetToNull(std::string& vString) {
    size_t i = vString.find('\0');
    if (i == std::string::npos)
        return "";
    std::string text = vString.substr(0, i);
    vString.erase(0, i + 1);
    return text;
}

// Writes the record to a work file and hands it to the archive, appended or in place of
// the old info entry; the work file goes in every case.
static Result StoreRecord(const sgPlugInfo& info, Archives& arc, const std::string& arcName,
                          bool replace) {
    std::string record;
    try {
        record = info.ToRecord();
    } catch (const std::exception& e) {
        return Result::EntryFailure(e.what());
    }
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
    if (entry->FileSize() > kMaxRecord)
        return Result::EntryFailure("The information entry " + name + " is too large");
    const Archives::WorkFile work = arc.NewWorkFile(name);
    if (!work.Outcome)
        return work.Outcome;
    Result outcome = arc.ExtractEntry(*entry, work.Path, true);
    if (outcome) {
        try {
            RandomAccessFile file(work.Path, RandomAccessFile::Mode::Read);
            const int64_t length = file.Length();
            if (length > kMaxRecord)
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
