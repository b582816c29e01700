#include "qvr/sgPlugInfo.h"

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

bool WriteWorkFile(Archives& arc, const std::string& path, const std::string& bytes) {
    try {
        RandomAccessFile file(path, RandomAccessFile::Mode::CreateReadWrite);
        file.WriteAt(1, bytes.data(), bytes.size());
        return true;
    } catch (const std::exception& e) {
        arc.LastError = e.what();
        return false;
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
static bool StoreRecord(const sgPlugInfo& info, Archives& arc, const std::string& arcName,
                        bool replace) {
    std::string record;
    try {
        record = info.ToRecord();
    } catch (const std::exception& e) {
        arc.LastError = e.what();
        return false;
    }
    const std::string work = arc.NewWorkFile(arcName + ".ifo");
    if (work.empty())
        return false;
    // A package renamed after packing holds its details under its old name: the new entry is
    // written first, so that a failure on the way never leaves it without details.
    const std::string oldName = replace ? arc.InfoEntryName() : std::string();
    bool ok = WriteWorkFile(arc, work, record) &&
              (replace ? arc.ReplaceEntry(work, arcName + ".ifo", "")
                       : arc.AddFileToArchive(work, arcName + ".ifo", ""));
    DeleteFileQuiet(work);
    if (ok && replace && !SameTextIgnoreCase(oldName, arcName + ".ifo") &&
        arc.FindEntry(oldName, "") && !arc.RemoveEntry(oldName, "")) {
        arc.LastError = "The details were written as " + arcName + ".ifo, but the old entry " +
                        oldName + " could not be removed: " + arc.LastError;
        return false;
    }
    return ok;
}

bool sgPlugInfo::SavePluginData(Archives& arc, const std::string& arcName) const {
    return StoreRecord(*this, arc, arcName, false);
}

bool sgPlugInfo::UpdatePluginData(Archives& arc, const std::string& arcName) const {
    return StoreRecord(*this, arc, arcName, true);
}

bool sgPlugInfo::GetPluginData(Archives& arc, const std::string& vFile) {
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
        arc.LastError = !problem.empty() ? problem
                                         : "The archive " + arc.CurrentArchive +
                                               " holds no information entry " + name;
        return false;
    }
    if (entry->FileSize() > kMaxRecord) {
        arc.LastError = "The information entry " + name + " is too large";
        return false;
    }
    const std::string work = arc.NewWorkFile(name);
    if (work.empty())
        return false;
    bool ok = false;
    if (arc.ExtractEntry(*entry, work, true)) {
        try {
            RandomAccessFile file(work, RandomAccessFile::Mode::Read);
            const int64_t length = file.Length();
            if (length > kMaxRecord)
                throw ArchiveError("The information entry " + name + " is too large");
            std::string buffer(static_cast<size_t>(length), '\0');
            buffer.resize(file.ReadAt(1, buffer.data(), buffer.size()));
            sgPlugInfo read;
            read.FromRecord(buffer);
            *this = read;
            ok = true;
        } catch (const std::exception& e) {
            arc.LastError = e.what();
        }
    }
    DeleteFileQuiet(work);
    return ok;
}

} // namespace qvr
