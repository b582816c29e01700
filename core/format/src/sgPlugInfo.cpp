#include "qvr/format/sgPlugInfo.h"

#include "qvr/format/detail/Format.h"
#include "qvr/platform/Encoding.h"
#include "qvr/platform/FileUtils.h"
#include "qvr/platform/detail/ArchiveError.h"

namespace qvr {

namespace {

std::string Stored(const std::string& text, const char* field) {
    auto bytes = Utf8ToCp1252(text);
    if (!bytes)
        throw ArchiveError("The " + std::string(field) +
                           " field holds a character that cannot be stored in an archive");
    if (bytes->find('\0') != std::string::npos)
        throw ArchiveError("The " + std::string(field) + " field holds a NUL character");
    return *bytes;
}

} // namespace

std::string sgPlugInfo::NullTerminate(const std::string& vText) {
    return vText + '\0';
}

Result sgPlugInfo::ToRecord(std::string& record) const {
    try {
        std::string made = NullTerminate(Stored(m_PluginName, "plug-in name")) +
                           NullTerminate(Stored(m_Version, "version")) +
                           NullTerminate(Stored(m_Depends, "required modules")) +
                           NullTerminate(Stored(m_Authors, "authors")) +
                           NullTerminate(Stored(m_LastUpdated, "last-updated date")) +
                           NullTerminate(Stored(m_Notes, "notes"));
        // Stored, it would make the package's details unreadable.
        if (static_cast<int64_t>(made.size()) > format::kMaxInfoEntry)
            return Result::EntryFailure("The plug-in information would be " +
                                        std::to_string(made.size()) + " bytes, more than the " +
                                        std::to_string(format::kMaxInfoEntry / (1024 * 1024)) +
                                        " MiB readers take; shorten the notes");
        record = std::move(made);
        return Result::Success();
    } catch (const std::exception& e) {
        return Result::EntryFailure(e.what());
    }
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

} // namespace qvr
